// Inbound dispatch of switch and local control messages, admin mode and the
// stand-alone/managed mode switch, and the timer pass.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/managed_ap.hpp"

struct sockaddr_in;

int map_l2_pkt_handler(map_control_block* cb, const uint8_t* data, int length);
int map_udp_pkt_handler(map_control_block* cb, const uint8_t* data, int length);
// With the datagram's source (some types are taken only from this AP itself);
// the form above knows no source.
int map_udp_pkt_handler_from(map_control_block* cb, const uint8_t* data, int length,
                             const sockaddr_in* from);
int map_ssl_pkt_handler(map_control_block* cb, const uint8_t* data, int length);
int map_timeout_handler(map_control_block* cb, uint32_t elapsed, uint32_t now);

void map_adminmode_set(map_control_block* cb, uint32_t mode);
void map_standalonemode_to_managedmode(map_control_block* cb);
void map_managedmode_to_standalonemode(map_control_block* cb);
void map_initialize_connection(map_control_block* cb);
void map_clear_connection(map_control_block* cb);
int map_handler_is_connection_established(map_control_block* cb);
int map_process_debug_login_pkt(map_control_block* cb, const uint8_t* data, int length);
