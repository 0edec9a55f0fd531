// The switch's commands for running radios: the RF-scan interval, a new
// channel and a new power level; and the power change command to hostapd.
#pragma once

#include <cstdint>

#include "wire/wire.hpp"

struct map_control_block;

// Element codes of the radio commands.  0x3101 carries the radio id, and in
// the RF-scan interval message the interval.
inline constexpr uint16_t MAP_RADIO_ELEM_RADIO_ID = 0x3101;
inline constexpr uint16_t MAP_RADIO_ELEM_CHANNEL = 0x3104;
inline constexpr uint16_t MAP_RADIO_ELEM_POWER = 0x3105;

// Exit statuses of the channel set child.
inline constexpr int MAP_CHANNEL_SET_DONE = 0;
inline constexpr int MAP_CHANNEL_SET_REFUSED = 1;  // bad radio id, another AP's MAC
inline constexpr int MAP_CHANNEL_SET_ZERO = 2;     // channel 0

// Takes the RF-scan interval into the switch connection record (interval and
// countdown).  0 once the interval element was read (even a malformed one,
// which is logged and changes nothing), else -1.
int map_cs_process_rf_scan_intvl_pkt(map_control_block* cb, const uint8_t* data, int length);
// Starts a child process that writes the new channel to the configuration
// database.  0 once the child runs, -1 on refusal or a failed fork.
int map_cs_process_channel_set_pkt(map_control_block* cb, const uint8_t* data, int length);
// The child's work: walks the elements and writes the database; returns the
// child's exit status (MAP_CHANNEL_SET_*).
int map_cs_channel_set_child(map_control_block* cb, const uint8_t* data, int length);
// Tells hostapd the new power level of a radio and keeps it in the radio
// record; the database is not written.  0 or -1.
int map_cs_process_power_lvl_set_pkt(map_control_block* cb, const uint8_t* data, int length);
// The 8-byte power change command: type 8, the level, the radio's MAC.
void mapd_send_power_change_cmd_msg_to_hostapd(uint8_t level, const uint8_t mac[6]);

// True when an AP MAC element carries the AP's own MAC; otherwise traces the
// mismatch at `trace_mask` (a value shorter than a MAC is a mismatch).
bool map_cs_elem_is_own_mac(const wire_elem& e, uint32_t trace_mask);
