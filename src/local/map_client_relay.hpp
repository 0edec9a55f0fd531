// The client association relay between hostapd and the switch: each hostapd
// event becomes a switch message at once, and each switch command about a
// client becomes a local message to hostapd.  No client list is kept here;
// the statistics client table and the distributed tunnel are told of events.
#pragma once

#include <cstddef>
#include <cstdint>

#include "local/mmsg_records.hpp"

struct map_switch_comm;

// ---- hostapd to the switch: 0 or -1 -------------------------------------------
int map_send_probe_req_pkt(map_switch_comm* rec, const probe_reqmsg_s* msg);
int map_send_assoc_req_pkt(map_switch_comm* rec, const assoc_req_msg_s* msg);
int map_send_disassoc_req_pkt(map_switch_comm* rec, const disassoc_reqmsg_s* msg);
int map_send_authen_fail_pkt(map_switch_comm* rec, const authen_failmsg_s* msg);
int map_send_client_conn_pkt(map_switch_comm* rec, const mclient_conn_msg_s* msg);
int map_send_dl2tunnel_term_pkt(map_switch_comm* rec, const dl2tunnel_term_msg_s* msg);

// The local handlers of the rows above: the whole datagram, type byte
// included.  0 or -1.
int process_probe_req_msg(const uint8_t* msg, size_t length);
int process_disassoc_req_msg(const uint8_t* msg, size_t length);
int process_authen_fail_msg(const uint8_t* msg, size_t length);
int process_client_conn_msg(const uint8_t* msg, size_t length);
int process_assoc_req_msg(const uint8_t* msg, size_t length);
int process_dl2tunnel_term_msg(const uint8_t* msg, size_t length);

// ---- the switch to hostapd: the bytes after the message header; 0 or -1 -------
int map_process_disassoc_cmd_pkt(map_switch_comm* rec, const uint8_t* data, int length);
int map_process_resend_client_info_cmd_pkt(map_switch_comm* rec, const uint8_t* data, int length);
int map_process_client_assoc_reply_pkt(map_switch_comm* rec, const uint8_t* data, int length);
int map_process_new_arp_pkt(map_switch_comm* rec, const uint8_t* data, int length);
int map_process_client_deauth_pkt(map_switch_comm* rec, const uint8_t* data, int length);
