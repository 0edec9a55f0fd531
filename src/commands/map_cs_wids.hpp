// The switch's WIDS configuration and 802.11k radio resource measurement
// requests, checked and repacked as fixed-size local messages for hostapd; the
// WIDS record kept in the control block and its two debug commands.
#pragma once

#include <cstddef>
#include <cstdint>

struct map_control_block;
struct rrm_chan_load_req_msg_s;

// WIDS configuration elements.
inline constexpr uint16_t MAP_WIDS_ELEM_WIRED_DET = 0x7001;           // 1 byte
inline constexpr uint16_t MAP_WIDS_ELEM_WIRED_DET_INTERVAL = 0x7002;  // 16-bit
inline constexpr uint16_t MAP_WIDS_ELEM_AP_ATTACK_INTERVAL = 0x7003;  // 16-bit
inline constexpr uint16_t MAP_WIDS_ELEM_BSSID_COUNT = 0x7004;         // 16-bit, at most 16
inline constexpr uint16_t MAP_WIDS_ELEM_BSSID_LIST = 0x7005;          // at most 112 bytes
// RRM elements.
inline constexpr uint16_t MAP_RRM_ELEM_VAP_MAC = 0x5001;
inline constexpr uint16_t MAP_RRM_ELEM_NBR_MAC = 0x3022;
inline constexpr uint16_t MAP_RRM_ELEM_NBR_INFO = 0x5053;  // 7 bytes
inline constexpr uint16_t MAP_RRM_ELEM_CLIENT_MAC = 0x0013;
inline constexpr uint16_t MAP_RRM_ELEM_CHANNEL = 0x0043;   // 1 byte
inline constexpr uint16_t MAP_RRM_ELEM_DURATION = 0x504F;  // 16-bit, in TUs

// Updates the control block's WIDS record element by element and sends it to
// hostapd (126 bytes, type 19).  0 or -1; a refused message sends nothing and
// leaves what was stored before the failing element.
int map_process_wids_config_msg_pkt(map_control_block* cb, const uint8_t* data, int length);
// Builds the neighbour list (the AP MAC, then per VAP its MAC and three
// 13-byte neighbour slots) and sends it to hostapd.  0 or -1.
int map_process_rrm_neighbor_list_msg_pkt(map_control_block* cb, const uint8_t* data, int length);
// Fills a channel load request and sends it to hostapd.  0 or -1.
int map_process_rrm_chan_load_req_msg_pkt(map_control_block* cb, const uint8_t* data, int length);

// The 1504-byte neighbour list message (type 37) of `length` list bytes (at
// most 1500 are taken).
void mapd_send_rrm_nbr_list_msg_to_hostapd(const uint8_t* list, size_t length);
// The 16-byte channel load request (type 38).
void mapd_send_chan_load_req_msg_to_hostapd(const rrm_chan_load_req_msg_s& req);

// Debug commands: print the stored WIDS record; send it to hostapd again.
void map_cs_dump_wids_config_params(const map_control_block* cb);
int map_cs_send_wids_config_params(map_control_block* cb, int count);
