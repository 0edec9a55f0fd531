// AP reset on command of the switch (SWITCH_AP_RESET), optionally installing
// the downloaded image first; also the end of a streamed image upgrade.
//
// The pauses before the flash and the reboot are kept on the daemon's uptime
// clock by the timer pass instead of sleeping in the loop: local commands are
// still answered while a reset is pending, and the twin's manual clock can
// run them in virtual time.
#pragma once

#include <cstdint>

struct map_switch_comm;
struct map_control_block;

inline constexpr uint16_t MAP_RESET_ELEM_TYPE = 0x4110;   // 1: reset type
inline constexpr uint16_t MAP_RESET_ELEM_VALUE = 0x4111;  // 2: accepted, not used
inline constexpr uint16_t MAP_RESET_ELEM_AP_MAC = 33;     // 6: must be the AP's own
inline constexpr uint8_t MAP_RESET_TYPE_UPGRADE = 1;      // install the image, then reboot
inline constexpr uint32_t MAP_RESET_PAUSE_SECONDS = 3;
inline constexpr uint32_t MAP_RESET_UPGRADE_PAUSE_SECONDS = 60;

struct map_reset_request {
    uint8_t reset_type;  // 1: upgrade first; any other value: reboot only
    uint16_t value;      // accepted, not used
};

// SWITCH_AP_RESET (30): `data` is the message after its header.  0 or -1.
int map_process_ap_reset_pkt(map_switch_comm* rec, const uint8_t* data, int length);
// Starts the reset: "\nRebooting..." and the reboot follow on the timer pass
// (3 s, with an upgrade the flash after 3 s and 60 s more).  A request while
// one is pending is ignored.  0 (-1 without a request).
int mapAPReset(const map_reset_request* req);
// Runs "/usr/sbin/flash-upgrade /tmp/upgrade.tar"; 0, or -1 when the tool
// failed (see the source for the rule).
int firmware_upgrade();
// Asks init to reboot the AP (through the platform door) and ends a pending
// reset.  What kill() gave.
int reboot();
// The timer pass's part: moves a pending reset on when its time has come.
void map_reset_timer_pass(uint32_t now);
// Whether a reset is pending, and the uptime at which its next step is due.
bool map_reset_pending(uint32_t* due = nullptr);
// The debug dump's line for a pending reset (its next step and the seconds
// until it is due at uptime `now`); nothing when none is pending.
void map_reset_dump(uint32_t now);
// Forgets a pending reset (tests).
void map_reset_clear();
