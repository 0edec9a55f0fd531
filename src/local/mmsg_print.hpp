// Traces of local messages: the hex form (every message sent to hostapd and
// the TSPEC application, and handlers' incoming ones) and the field-by-field
// text form.  All printers share one 20,480-byte text buffer and hand it to the
// trace output with the category of the message; they never fail the caller.
#pragma once

#include <cstddef>
#include <cstdint>

// "<record name>:\n" and the record's bytes in hex, 16 to a line.
void hex_ver_pkt_print(const uint8_t* msg, size_t length);
// Any buffer: "Type = 0x%x, msg_size = %d\n" and its bytes in hex.
void hex_any_pkt_print(const uint8_t* msg, size_t length);
// One line per field of the record, chosen by its type byte.
void text_ver_pkt_print(const uint8_t* msg, size_t length);

// The per-record printers; each takes the record's bytes and their count (a
// shorter datagram is read as if zero-filled up to the record's size).
void probe_req_msg_print(const uint8_t* msg, size_t length);
void disassoc_req_msg_print(const uint8_t* msg, size_t length);
void authen_fail_msg_print(const uint8_t* msg, size_t length);
void pmk_msg_print(const uint8_t* msg, size_t length);
void pre_auth_msg_print(const uint8_t* msg, size_t length);
void disassoc_cmd_msg_print(const uint8_t* msg, size_t length);
void rfscanreport_cmd_msg_print(const uint8_t* msg, size_t length);
void channelsupported_cmd_msg_print(const uint8_t* msg, size_t length);
void client_auth_msg_print(const uint8_t* msg, size_t length);
void client_conn_msg_print(const uint8_t* msg, size_t length);
void resend_client_info_cmd_msg_print(const uint8_t* msg, size_t length);
void client_assoc_req_msg_print(const uint8_t* msg, size_t length);
void client_assoc_reply_msg_print(const uint8_t* msg, size_t length);
void wids_config_msg_print(const uint8_t* msg, size_t length);
void dl2tunnel_config_msg_print(const uint8_t* msg, size_t length);
void dl2tunnel_setup_msg_print(const uint8_t* msg, size_t length);
void dl2tunnel_term_msg_print(const uint8_t* msg, size_t length);
void wired_nw_det_vlan_config_msg_print(const uint8_t* msg, size_t length);
void client_preauth_notify_msg_print(const uint8_t* msg, size_t length);
void radius_proxy_cmd_msg_print(const uint8_t* msg, size_t length);
void client_deauth_msg_print(const uint8_t* msg, size_t length);
void cl2tunnel_config_msg_print(const uint8_t* msg, size_t length);
void cltqos_auth_def_req_msg_print(const uint8_t* msg, size_t length);
void tspec_msg_print(const uint8_t* msg, size_t length);
void tspec_status_msg_print(const uint8_t* msg, size_t length);
void tspec_direct_msg_print(const uint8_t* msg, size_t length);
void rrm_nbr_ap_list_print(const uint8_t* msg, size_t length);
void rrm_chan_load_req_print(const uint8_t* msg, size_t length);
void rrm_chan_load_rep_msg_print(const uint8_t* msg, size_t length);
