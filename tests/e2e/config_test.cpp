// The configuration road on the twin: the switch sends a configuration
// sequence, the AP applies it to its database, the post-configuration child
// reports, the switch gets the configuration status and hostapd hears of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "e2e/twin_fixture.hpp"
#include "swsim/config_msg.hpp"
#include "swsim/swsim.hpp"
#include "twin/standins.hpp"
#include "wire/wire.hpp"

using namespace mapd_e2e;

namespace {

// What the sqlite3 shell prints for `query` on the twin's database.
std::string sqlite(const std::string& root, const std::string& query) {
    std::string out;
    FILE* p = popen(("sqlite3 " + root + "/etc/dman/dman.db \"" + query + "\" 2>&1").c_str(), "r");
    char buf[1024];
    for (size_t n; p != nullptr && (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    if (p != nullptr)
        pclose(p);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

}  // namespace

// A failed apply is reported with 83 bytes and leaves no sequence open; the
// full sequence behind it reaches the database (read by the sqlite3 shell),
// the switch gets the 9-byte status, and hostapd, only after the success,
// the supported-channels request and later the detection VLAN.
TEST(Config, FailedApplyThenFullSequenceReachTheSwitchTheDatabaseAndHostapd) {
    if (system("sqlite3 -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no sqlite3 shell";
    twin t;
    swsim sw;
    standins st;
    ASSERT_EQ(managed_twin_up(t, sw, st), "");
    std::string error;
    t.set_trace(0x2);
    auto configure = [&](const std::vector<std::string>& lines) {
        auto status = config_status(sw, lines, error);
        EXPECT_EQ(error, "");
        return status;
    };

    auto status = configure({"country ZZ", "radio 1 channel=36"});
    ASSERT_EQ(status.size(), 83u) << t.log_text();
    const std::vector<uint8_t> head = {0x00, 0x05, 0x00, 0x53, 0x20, 0x10, 0x00, 0x01, 0x03, 0x20,
                                       0x11, 0x00, 0x02, 0x00, 0x00, 0x20, 0x12, 0x00, 0x40};
    EXPECT_EQ(std::vector<uint8_t>(status.begin(), status.begin() + 19), head);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(status.data() + 19)),
              "Invalid country code");
    EXPECT_TRUE(t.wait_log("Sent Config Status.-FAILED", 2000));

    status = configure({
        "country US",
        "radio 1 mode=3 channel=36 power=17 max-stations=64",
        "radio 2 mode=4 channel=0 power=20 max-stations=300",
        "vap 1 0 ssid=corp security=wpa-personal key=correct-horse-battery vlan=10",
        "vap 1 1 ssid=guest security=plain-text vlan=20",
        "vap 2 0 ssid=legacy security=static-wep auth=shared",
    });
    ASSERT_EQ(status, (std::vector<uint8_t>{0x00, 0x05, 0x00, 0x09, 0x20, 0x10, 0x00, 0x01, 0x01}))
        << t.log_text();
    EXPECT_TRUE(t.wait_log("rx'ed notification from child process status - SUCCESS", 1000));
    EXPECT_TRUE(t.wait_log("hostapd PING succeeded", 2000));
    ASSERT_EQ(swsim_send(sw, {0x00, 0x04, 0x00, 0x0a, 0x21, 0x08, 0x00, 0x02, 0x00, 0x2a}), 0);
    std::vector<std::vector<uint8_t>> to_hostapd;
    eventually(
        [&] {
            standins_poll(st, 100);
            to_hostapd.clear();
            for (auto& [who, m] : st.received) {
                if (who == standin_kind::hostapd)
                    to_hostapd.push_back(m);
            }
            return to_hostapd.size() >= 2;
        },
        3000);
    standins_close(st);
    ASSERT_EQ(to_hostapd.size(), 2u);
    EXPECT_EQ(to_hostapd[0], std::vector<uint8_t>{7}) << "the supported-channels request";
    ASSERT_EQ(to_hostapd[1].size(), 4u);
    EXPECT_EQ(to_hostapd[1][0], 23) << "the detection VLAN";
    uint16_t vlan = 0;
    memcpy(&vlan, to_hostapd[1].data() + 2, 2);
    EXPECT_EQ(vlan, 42) << "host order between the two daemons";

    swsim_close(sw);
    t.stop();
    const struct {
        const char *cls, *instance, *property, *value;
    } rows[] = {
        {"radio", "wlan0", "mode", "a-n"},           {"radio", "wlan0", "channel-policy", "static"},
        {"radio", "wlan0", "static-channel", "36"},  {"radio", "wlan1", "channel-policy", "best"},
        {"radio", "wlan1", "max-stations", "200"},  // capped at 200
        {"radio", "wlan0", "status", "up"},         // the child brought it up
        {"interface", "wlan0", "ssid", "corp"},     // VAP 0 of radio 1
        {"interface", "wlan0vap1", "ssid", "guest"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(sqlite(t.root, std::string("SELECT value FROM running WHERE class='") + r.cls +
                                     "' AND instance='" + r.instance + "' AND property='" +
                                     r.property + "'"),
                  r.value)
            << r.cls << " " << r.instance << " " << r.property;
    }
    EXPECT_EQ(sqlite(t.root,
                     "SELECT value FROM running WHERE class='vap' AND instance='vap0' AND "
                     "property='status' AND row IN (SELECT row FROM running WHERE "
                     "class='vap' AND instance='vap0' AND property='radio' AND "
                     "value='wlan1')"),
              "up")
        << "VAP 0 of radio 2, qualified by its radio";
}
