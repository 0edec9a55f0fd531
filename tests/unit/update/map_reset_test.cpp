// The AP reset: the command's element walk, the pauses on the uptime clock,
// the flash tool and the reboot as the sandbox records them.
#include "update/map_reset.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "core/map_handler.hpp"
#include "platform/platform.hpp"
#include "support/bytes.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

using namespace mapd_test;

// Which of the reset's lines `out` holds in their order: Resetting, Upgrading,
// File not found, reBooting, Kill successful.  One out of order is missing.
static std::string lines(const std::string& out) {
    std::string s;
    size_t at = 0;
    for (auto [c, text] : {std::pair{'R', "\nResetting the MAP"}, {'U', "\nUpgrading the firmware"},
                           {'F', "Firmware file not found. Rebooting without upgrade"},
                           {'B', "\nRebooting..."}, {'K', "Kill successful"}})
        if (size_t p = out.find(text, at); p != std::string::npos) s += c, at = p;
    return s;
}

// Each message at uptime 1000, then the daemon's timer pass once a second:
// when the flash tool ran (0: never), when the reboot was recorded, and the
// lines.  A flash tool that moves the clock on took that long: the 60 s count
// from its end.  The first row comes through the link's dispatcher, followed
// by a request with upgrade that is ignored while the first is pending.
TEST(Reset, Sequence) {
    sandbox sb;
    sb.write("/sys/class/net/eth0/address", "00:1a:2b:3c:4d:50\n");  // the AP's own MAC
    make_dirs(sb.path("/dev"));  // the flash tool writes to /dev/console
    map_control_block cb{};
    map_switch_comm rec{};
    cb.switch_comm = &rec;
    rec.state = MAP_SWITCH_COMM_ESTABLISHED;
    const bytes t0 = elem(0x4110, {0}), t1 = elem(0x4110, {1});
    const bytes own = elem(33, {0, 26, 43, 60, 77, 80}), other = elem(33, {0, 26, 43, 60, 77, 81});
    const struct {
        bytes body;
        const char* tool;  // after recording its arguments
        bool image;
        int rc;
        uint32_t flash_at, reboot_at;
        const char* lines;
    } rows[] = {
        {t0 + elem(0x4111, {0, 7}) + own, "", true, 0, 0, 1003, "RBK"},
        {t1 + own, "echo 1043.5 1 > \"$MAPD_ROOT/proc/uptime\"", true, 0, 1003, 1103, "RUBK"},
        {t1 + own, "exit 0", false, 0, 1003, 1063, "RUFBK"},  // no image
        {t1 + own, "exit 3", true, 0, 1003, 1063, "RUFBK"},   // the tool fails
        {t0 + elem(0x4111, {0, 0}) + other, "", true, -1, 0, 0, ""},
        {t1 + elem(33, {0, 26, 43}, 6), "", true, -1, 0, 0, ""},  // a MAC cut short
        {elem(0x7777, other) + elem(0x4110, {2}) + own, "", true, 0, 0, 1003, "RBK"},
        {own, "", true, 0, 0, 1003, "RBK"},  // no reset type: no upgrade
    };
    for (const auto& r : rows) {
        std::filesystem::remove(sb.path("/args"));
        std::filesystem::remove(sb.path("/tmp/upgrade.tar"));
        if (r.image) sb.write("/tmp/upgrade.tar", "image");
        sb.tool("/usr/sbin/flash-upgrade", "echo \"$@\" >>$MAPD_ROOT/args\n" + std::string(r.tool));
        sb.write("/proc/uptime", "1000.0 1.0\n");
        const int reboots = map_platform_reboot_count(), n = static_cast<int>(r.body.size());
        const bytes msg = wr().be16(30).be16(4 + n).b + r.body;
        const map_reset_request up{1, 0};  // with upgrade, while one is pending
        uint32_t flash_at = 0, reboot_at = 0;
        const std::string out = captured(0, [&] {
            EXPECT_EQ(&r != rows ? map_process_ap_reset_pkt(&rec, r.body.data(), n)
                                 : map_ssl_pkt_handler(&cb, msg.data(), 4 + n) + mapAPReset(&up),
                      r.rc);
            map_reset_dump(1001);
            for (uint32_t now = 1000; now <= 1120; ++now) {
                map_timeout_handler(&cb, 1, now);
                if (flash_at == 0 && sb.exists("/args")) flash_at = now;
                if (reboot_at == 0 && map_platform_reboot_count() > reboots) reboot_at = now;
            }
        });
        EXPECT_EQ(std::tuple(flash_at, reboot_at, map_platform_reboot_count() - reboots),
                  std::tuple(r.flash_at, r.reboot_at, r.reboot_at != 0 ? 1 : 0)) << out;
        EXPECT_EQ(sb.read("/args"), r.flash_at ? sb.path("/tmp/upgrade.tar\n") : "<missing>");
        EXPECT_EQ(lines(out), r.lines) << out;
        EXPECT_EQ(contains(out, "reset pending: flash, due in 2 s"), r.flash_at != 0) << out;
    }
    std::filesystem::remove_all(sb.path("/sandbox"));
    sb.write("/sandbox", "a file where the reboot log's folder should be");
    const std::string out = captured(0, [] { EXPECT_EQ(reboot(), -1); });
    EXPECT_TRUE(contains(out, "Attempted to kill init process") &&
                contains(out, "Failed to kill init process")) << out;
}
