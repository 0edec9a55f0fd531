// The statistics road on the twin: the switch sets an interval, the AP sends
// a report at that interval with the counters of its drivers' files, and a
// new link starts without reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <tuple>

#include "e2e/twin_fixture.hpp"
#include "swsim/config_msg.hpp"
#include "swsim/stats_msg.hpp"
#include "swsim/swsim.hpp"
#include "wire/wire.hpp"

using namespace mapd_e2e;

namespace {

constexpr const char* kCountdown = " Keepalive Timeout Interval: ";

// The number after "<k>=" (or "<k>:", the first of a /proc/net/dev line) at
// the start of a line of one of the twin's driver files.
uint64_t key(const twin& t, const std::string& file, const std::string& k, char sep = '=') {
    std::istringstream in(t.read("/proc/net/" + file));
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of(' '));
        if (line.rfind(k + sep, 0) == 0)
            return std::stoull(line.substr(k.size() + 1));
    }
    return ~0ull;
}

// `width` bytes big-endian at `off` in the value of the `nth` element `type`.
uint64_t field(const std::vector<uint8_t>& m, uint16_t type, int nth, size_t off, int width) {
    for (size_t p = 4; p + 4 <= m.size(); p += 4 + wire_load_be16(&m[p + 2])) {
        if (wire_load_be16(&m[p]) == type && nth-- == 0 && p + 4 + off + width <= m.size()) {
            uint64_t v = 0;
            for (int i = 0; i < width; ++i)
                v = v << 8 | m[p + 4 + off + i];
            return v;
        }
    }
    return ~0ull;
}

}  // namespace

TEST(Stats, ReportsComeAtTheIntervalWithTheDriversCountersAndNotOnANewLink) {
    twin t;
    swsim sw;
    struct closer {
        swsim& s;
        ~closer() { swsim_close(s); }
    } close_switch{sw};  // also when an assertion ends the test early
    sw.print = [](const std::string&) {};
    std::string error;
    ASSERT_EQ(swsim_open(sw, swsim_options{}, error), 0) << error;
    t.write("/var/run/hostapd.pid", std::to_string(getpid()) + "\n");
    ASSERT_TRUE(t.start()) << t.log_text();
    long ka = 900;  // the keepalive countdown the dump shows: 1.5 x 600
    std::vector<uint8_t> m;
    auto keepalive = [&] {
        ASSERT_EQ(swsim_send(sw, swsim_msg_keepalive(600)), 0);
        ASSERT_TRUE(t.dump_shows(kCountdown, ka = 900));
    };
    ASSERT_EQ(swsim_establish(sw, 12000, error), 0) << error;
    keepalive();
    t.set_trace(0x1);
    ASSERT_EQ(
        swsim_config_build(
            {"radio 1 power=14", "radio 2 power=11", "vap 1 0", "vap 1 1", "vap 2 12"}, m, error),
        0)
        << error;
    ASSERT_EQ(swsim_send(sw, m), 0);
    auto status = [&] { return swsim_recv(sw, m, 100) == 0 && wire_load_be16(m.data()) == 5; };
    ASSERT_TRUE(eventually(status, 20000)) << "the configuration status";
    auto interval = [&](uint16_t s, size_t times) {
        ASSERT_EQ(swsim_send(sw, swsim_msg_stats_interval(sw.ident.mac, s)), 0);
        const std::string set = "Successfully set the Stats interval at " + std::to_string(s);
        ASSERT_TRUE(eventually([&] { return t.log_count(set) == times; }, 3000));
    };
    // Moves the clock; true when a datagram came from the AP within the pass.
    auto advance = [&](long s) {
        t.advance(static_cast<double>(s));
        EXPECT_TRUE(t.dump_shows(kCountdown, ka -= s)) << "the timer pass saw the clock";
        return swsim_udp_recv(sw, m, 0) == 0;
    };
    // Values at their offsets in the report, against the twin's files.
    auto check = [&] {
        ASSERT_EQ(m.size(), wire_load_be16(&m[2]));
        EXPECT_EQ(wire_load_be16(&m[0]), 7);
        auto iface = [&](char r, const char* k) {
            return key(t, std::string("ieee80211/wlan") + r + "/iface/wlan" + r, k);
        };
        // What, the element type, which one of them, offset, width, value.
        const std::tuple<const char*, uint16_t, int, size_t, int, uint64_t> rows[] = {
            {"AP MAC, low bytes", 0x2102, 0, 2, 4, 0x2b3c4d50},
            {"uptime", 0x2103, 0, 0, 4, static_cast<uint64_t>(t.clock)},
            {"both radios' rx bytes", 0x2103, 0, 12, 8,
             iface('0', "rx_bytes") + iface('1', "rx_bytes")},
            {"eth0 rx bytes", 0x2103, 0, 44, 8, key(t, "dev", "eth0", ':')},
            {"VLAN tunnels", 0x2103, 0, 176, 4, key(t, "l2tunnel/counters", "vlan_max_tunnels")},
            {"distributed tunnel tx bytes", 0x2103, 0, 180, 8,
             key(t, "dl2tunnel/counters", "tx_bytes")},
            {"radio 1 channel", 0x2104, 0, 7, 4, iface('0', "channel_running")},
            {"radio 1 power, as configured", 0x2104, 0, 11, 4, 14},
            {"radio 1 tx bytes", 0x2104, 0, 43, 8, iface('0', "tx_bytes")},
            {"radio 2 frames", 0x2104, 1, 99, 4,
             key(t, "ieee80211/wlan1/counters", "TransmittedFrameCount")},
            {"VAP 1.1 rx bytes", 0x2105, 1, 18, 8,
             key(t, "ieee80211/wlan0/vap/wlan0vap1", "rx_bytes")},
            {"VAP 2.12 is the third", 0x2105, 2, 0, 2, 0x020c},
            {"VAP 2.12 tx bytes", 0x2105, 2, 34, 8,
             key(t, "ieee80211/wlan1/vap/wlan1vap12", "tx_bytes")},
            {"no fourth VAP", 0x2105, 3, 0, 1, ~0ull},
        };
        for (const auto& [what, type, nth, off, width, want] : rows)
            EXPECT_EQ(field(m, type, nth, off, width), want) << what;
    };

    interval(10, 1);
    EXPECT_FALSE(advance(9)) << "nothing before the interval";
    ASSERT_TRUE(advance(1)) << t.log_text();
    check();
    ap_root_write_counters(t.root, 7, 16);  // the drivers count on
    keepalive();                            // and the link goes on
    EXPECT_FALSE(advance(4));
    interval(10, 2);  // the same interval again leaves the countdown running
    ASSERT_TRUE(advance(6));
    check();

    swsim_drop(sw);
    ASSERT_TRUE(t.wait_log("AP is transistioned to standalone mode", 5000));
    ASSERT_EQ(swsim_establish(sw, 12000, error), 0) << error;
    keepalive();
    EXPECT_FALSE(advance(10)) << "a new link has no interval";
    EXPECT_FALSE(advance(30));
}
