// Start-up, the MAP control block, the main loop and shutdown.
#pragma once

#include <cstdint>

#include "local/mmsg_records.hpp"
#include "store/map_ap_provision_params.hpp"

struct map_switch_comm;
struct map_cs;

// The daemon's top-level record; one per process.
struct map_control_block {
    map_switch_comm* switch_comm;  // owned
    uint32_t admin_mode;           // 1 up (looking for a switch), 0 down
    map_cs* cs;                    // owned: the config/status component
    uint32_t managed_mode;         // 1 managed, 0 stand-alone
    uint32_t watchdog_minutes;     // 0: no watchdog
    uint32_t debug_login;
    map_ap_provision_params provision;
    int32_t provision_reply_status;
    int32_t mutual_auth_countdown;
    wids_config_cmdmsg_t wids;     // the switch's WIDS settings, the record hostapd gets
};

int map_daemon_init();
// Seeds rand() from the time and the process id; start-up does it once.
void map_seed_random();
[[nodiscard]] int map_init_component(map_control_block** out);
int map_deinit_component(map_control_block* cb);
[[nodiscard]] int map_init_sub_components(map_control_block* cb);
int map_deinit_sub_components(map_control_block* cb);
int map_init_watchdog_timer(map_control_block* cb);
void map_watchdog_pop(int sig);
// SIGCHLD: reaps the daemon's children.
void mapd_service_sig_child(int sig);
int map_main_loop(map_control_block* cb);
// Whole seconds since boot from "/proc/uptime"; 0 when unreadable.
uint32_t map_get_uptime();

// Runs the daemon's main loop for at most `passes` passes (0: until select()
// fails).  The loop is the same; tests and tools use the bound.
int map_main_loop_passes(map_control_block* cb, unsigned passes);
