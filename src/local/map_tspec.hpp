// Admission control and radio reports: TSPEC requests from the TSPEC
// application to the switch and its replies back, the AP's mode changes told
// to the application, its status counters kept for the statistics, and the
// RRM channel load, RF-scan and supported-channels reports of hostapd.
#pragma once

#include <cstddef>
#include <cstdint>

#include "local/mmsg_records.hpp"

struct map_switch_comm;
struct map_cs;

// Command types of a TSPEC record: requests from the application, and the
// replies mapd hands it for the switch's admission reply and deletion.
inline constexpr uint8_t MAP_TSPEC_CMD_ADMISSION_REQ = 1;
inline constexpr uint8_t MAP_TSPEC_CMD_ADMISSION_REPLY = 2;
inline constexpr uint8_t MAP_TSPEC_CMD_DELETION_REQ = 3;
inline constexpr uint8_t MAP_TSPEC_CMD_DELETION_REPLY = 5;
inline constexpr uint8_t MAP_TSPEC_CMD_NO_BODY_REQ = 7;

int map_send_tspec_msg_pkt(map_switch_comm* rec, const tspec_msg_s* msg);
// SWITCH_TSPEC_ADMISSION_REPLY (command type 2) and SWITCH_TSPEC_DELETION (5).
int map_process_tspec_msg_reply_pkt(map_switch_comm* rec, const uint8_t* data, int length,
                                    uint8_t cmd_type);
// 1 when the AP turns managed, 0 when it returns to stand-alone.
int map_send_tspec_ap_state_change(map_switch_comm* rec, int managed_mode);
int map_cs_process_tspec_status_update(map_cs* cs, const tspec_status_msg_s* msg);
int map_send_rrm_channel_load_report_pkt(map_switch_comm* rec, const rrm_chan_load_rep_msg_s* msg);
int map_send_rfscan_report_pkt(map_switch_comm* rec, const uint8_t* msg, int length);
int map_send_supported_channels_pkt(map_switch_comm* rec, const uint8_t* msg, int length);

// Local handlers (rows 6, 7, 35, 39, 40 of the receive table); 0 or -1.
int process_cmd_msg(const uint8_t* msg, size_t length);
int process_tspec_msg(const uint8_t* msg, size_t length);
int process_rrm_chan_load_rep_msg(const uint8_t* msg, size_t length);
int process_tspec_status_msg(const uint8_t* msg, size_t length);
