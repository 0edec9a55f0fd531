// AP reset: the switch's reset command, the pending reset moved on by the
// timer pass, the flash of "/tmp/upgrade.tar" and the reboot through init.
#include "update/map_reset.hpp"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/managed_ap.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "stats/map_proc.hpp"
#include "switch/switch_comm_util.hpp"
#include "switch/switch_msg.hpp"

namespace {

static constexpr char map_log_module[] = "map_reset";

constexpr const char* kUpgradeImage = "/tmp/upgrade.tar";
constexpr const char* kFlashCommand = "/usr/sbin/flash-upgrade /tmp/upgrade.tar >/dev/console 2>&1";

// What the timer pass does next for a pending reset.
enum class reset_step : uint8_t {
    none,    // nothing pending
    flash,   // the pause before the flash (reset with upgrade)
    reboot,  // the pause before the reboot
};

struct reset_state {
    reset_step step = reset_step::none;
    bool flash_failed = false;  // reported after the pause that follows the flash
    uint32_t due = 0;           // uptime at which `step` runs
};

reset_state g_reset;

// The console texts of the reset go to standard output as they are (no
// newline after them), flushed so that they keep their place among the log
// lines.
void say(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
}

// The uptime a pause starts from: the clock as read now, or the timer pass's
// own time when that is later (or the clock cannot be read).
uint32_t clock_now(uint32_t at_least) {
    const uint32_t up = map_get_uptime();
    return up > at_least ? up : at_least;
}

void reboot_now() {
    if (g_reset.flash_failed) {
        MAP_INFO("Firmware file not found. Rebooting without upgrade");
    }
    say("\nRebooting...");
    (void)reboot();  // ends the pending reset; the outcome is logged there
}

}  // namespace

int map_process_ap_reset_pkt(map_switch_comm* rec, const uint8_t* data, int length) {
    if (rec == nullptr) {
        MAP_ERROR("Error: Incorrect input parameter");
        return -1;
    }
    // A message without a reset-type element reboots without upgrade: the
    // request starts cleared, and type 0 only reboots.
    map_reset_request req{};
    if (data == nullptr) {
        length = 0;
    }
    // The known elements take their fixed sizes whatever their length fields
    // say; bytes they lack past the end of the message read as zeros.
    auto take = [&](int pos, uint8_t* out, int n) {
        memset(out, 0, static_cast<size_t>(n));
        if (pos < length) {
            memcpy(out, data + pos, static_cast<size_t>(n < length - pos ? n : length - pos));
        }
    };
    int pos = 0;
    while (length - pos >= static_cast<int>(MAP_ELEM_HDR_LEN)) {
        map_switch_elem_hdr e{};
        map_switch_comm_util_extract_element(data + pos, &e);
        pos += MAP_ELEM_HDR_LEN;
        if (e.type == MAP_RESET_ELEM_TYPE) {
            take(pos, &req.reset_type, 1);
            pos += 1;
        } else if (e.type == MAP_RESET_ELEM_VALUE) {
            uint8_t v[2];
            take(pos, v, 2);
            req.value = static_cast<uint16_t>(v[0] << 8 | v[1]);
            pos += 2;
        } else if (e.type == MAP_RESET_ELEM_AP_MAC) {
            uint8_t mac[6], own[6] = {};
            take(pos, mac, 6);
            pos += 6;
            map_proc_get_mac_addr(own, nullptr);
            if (memcmp(mac, own, sizeof mac) != 0) {
                return -1;  // meant for another AP: no reset, nothing said
            }
        } else {
            // An element this message does not know is skipped with its value,
            // so that bytes inside the value are never read as elements.
            pos += e.length;
        }
    }
    say("\nResetting the MAP");
    (void)mapAPReset(&req);
    return 0;
}

int mapAPReset(const map_reset_request* req) {
    if (req == nullptr) {
        MAP_ERROR("Error: Incorrect input parameter");
        return -1;
    }
    // A request while another is pending is ignored: the first one's pauses
    // stand, so a switch that repeats its command cannot put the reboot off.
    if (g_reset.step != reset_step::none) {
        MAP_INFO("AP reset already pending; request ignored");
        return 0;
    }
    g_reset = reset_state{};
    g_reset.step =
        req->reset_type == MAP_RESET_TYPE_UPGRADE ? reset_step::flash : reset_step::reboot;
    g_reset.due = map_get_uptime() + MAP_RESET_PAUSE_SECONDS;
    return 0;
}

void map_reset_timer_pass(uint32_t now) {
    if (g_reset.step == reset_step::none || now < g_reset.due) {
        return;
    }
    if (g_reset.step == reset_step::flash) {
        say("\nUpgrading the firmware");
        g_reset.flash_failed = firmware_upgrade() == -1;
        // The pause before the reboot counts from the end of the flash.
        g_reset.step = reset_step::reboot;
        g_reset.due = clock_now(now) + MAP_RESET_UPGRADE_PAUSE_SECONDS;
        return;
    }
    reboot_now();
}

int firmware_upgrade() {
    // -1 only when the image was not there or the flash tool failed, so that
    // "Firmware file not found" is reported only when nothing was installed.
    // The tool runs in every case; a missing image makes it fail on its own.
    const bool present = map_platform_access(kUpgradeImage, F_OK) == 0;
    const int status = map_platform_system(kFlashCommand);
    return present && status == 0 ? 0 : -1;
}

int reboot() {
    g_reset = reset_state{};  // the AP goes down: nothing stays pending
    const int rc = map_platform_signal_init(SIGTERM);
    MAP_ERROR("Error: Attempted to kill init process");
    if (rc != 0) {
        MAP_ERROR("Error: Failed to kill init process");
    } else {
        MAP_ERROR("Error: Kill successful");
    }
    return rc;
}

bool map_reset_pending(uint32_t* due) {
    if (due != nullptr) {
        *due = g_reset.due;
    }
    return g_reset.step != reset_step::none;
}

void map_reset_dump(uint32_t now) {
    if (g_reset.step == reset_step::none) {
        return;
    }
    MAP_TRACE(MAP_TRACE_ALWAYS, " reset pending: %s, due in %u s",
              g_reset.step == reset_step::flash ? "flash" : "reboot",
              g_reset.due > now ? g_reset.due - now : 0);
}

void map_reset_clear() { g_reset = reset_state{}; }
