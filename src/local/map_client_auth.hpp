// Roaming clients: the authentication report, pairwise master keys,
// pre-authentication frames, pre-authentication results and RADIUS packets
// relayed between hostapd and the switch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "local/mmsg_records.hpp"

struct map_switch_comm;

// hostapd to the switch; 0 or -1.
int map_send_client_auth_pkt(map_switch_comm* rec, const mclient_auth_msg_s* msg);
int map_send_pmk_pkt(map_switch_comm* rec, const mpmk_cmdmsg_s* msg);
int map_send_pre_auth_pkt(map_switch_comm* rec, const mpre_auth_cmdmsg_s* msg);
int map_send_client_preauth_notify_pkt(map_switch_comm* rec,
                                       const client_preauth_notification_msg_s* msg);
int map_send_radius_proxy_cmd_pkt(map_switch_comm* rec, const radius_proxy_cmdmsg_s* msg);

// Local handlers (rows 10, 12, 13, 14, 24, 25 of the receive table): the
// whole datagram, type byte included; 0 or -1.
int process_pre_auth_msg(const uint8_t* msg, size_t length);
int process_pmk_msg(const uint8_t* msg, size_t length);
int process_client_auth_msg(const uint8_t* msg, size_t length);
int process_client_preauth_notify_msg(const uint8_t* msg, size_t length);
int process_radius_proxy_cmd_msg(const uint8_t* msg, size_t length);

// The switch to hostapd: the bytes after the message header; 0 or -1.  A
// pre-authentication goes to hostapd as `local_type` (MMSG_PRE_AUTH_CMD or
// MMSG_PRE_AUTH_ANS).
int map_process_pmk_pkt(map_switch_comm* rec, const uint8_t* data, int length);
int map_process_pre_auth_pkt(map_switch_comm* rec, const uint8_t* data, int length,
                             uint8_t local_type);
int map_process_radius_proxy_cmd_pkt(map_switch_comm* rec, const uint8_t* data, int length);
