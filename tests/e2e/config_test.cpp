// The configuration road on the twin: the switch sends a configuration
// sequence, the AP applies it to its database, the post-configuration child
// reports, and the switch gets the configuration status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdio>
#include <string>
#include <thread>

#include "e2e/twin_fixture.hpp"
#include "swsim/config_msg.hpp"
#include "swsim/swsim.hpp"
#include "twin/standins.hpp"
#include "wire/wire.hpp"

using namespace mapd_e2e;

namespace {

std::string sqlite(const std::string& root, const std::string& query) {
    std::string cmd = "sqlite3 " + root + "/etc/dman/dman.db \"" + query + "\" 2>&1";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return "<failed>";
    char buf[1024];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::string prop(const std::string& root, const char* cls, const char* instance, const char* property) {
    return sqlite(root, std::string("SELECT value FROM running WHERE class='") + cls +
                            "' AND instance='" + instance + "' AND property='" + property + "'");
}

struct Config : testing::Test {
    twin t;
    swsim sw;
    void SetUp() override {
        if (system("sqlite3 -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sqlite3 shell";
        sw.print = [](const std::string&) {};
        std::string error;
        ASSERT_EQ(swsim_open(sw, swsim_options{}, error), 0) << error;
        ASSERT_TRUE(t.start()) << t.log_text();
        ASSERT_EQ(swsim_establish(sw, 12000, error), 0) << error;
        t.set_trace(0x2);
    }
    void TearDown() override { swsim_close(sw); }

    // Sends one configuration message and returns the status message, if any.
    std::vector<uint8_t> configure(const std::vector<std::string>& lines, int ms = 20000) {
        std::vector<uint8_t> msg;
        std::string error;
        EXPECT_EQ(swsim_config_build(lines, msg, error), 0) << error;
        EXPECT_EQ(swsim_send(sw, msg), 0);
        return await_status(ms);
    }
    std::vector<uint8_t> await_status(int ms) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            std::vector<uint8_t> m;
            if (swsim_recv(sw, m, 200) == 0 && m.size() >= 2 && wire_load_be16(m.data()) == 5) {
                return m;
            }
        }
        return {};
    }
};

}  // namespace

TEST_F(Config, FullSequenceIsAppliedAndReportedWithNineBytes) {
    auto status = configure({
        "country US",
        "radio 1 mode=3 channel=36 power=17 max-stations=64",
        "radio 2 mode=4 channel=0 power=20 max-stations=300",
        "vap 1 0 ssid=corp security=wpa-personal key=correct-horse-battery vlan=10",
        "vap 1 1 ssid=guest security=plain-text vlan=20",
        "vap 2 0 ssid=legacy security=static-wep auth=shared",
    });
    ASSERT_EQ(status, (std::vector<uint8_t>{0x00, 0x05, 0x00, 0x09, 0x20, 0x10, 0x00, 0x01, 0x01}))
        << t.log_text();
    t.stop();
    // What the database holds now, read by the sqlite3 shell.
    EXPECT_EQ(prop(t.root, "radio", "wlan0", "mode"), "a-n");
    EXPECT_EQ(prop(t.root, "radio", "wlan0", "channel-policy"), "static");
    EXPECT_EQ(prop(t.root, "radio", "wlan0", "static-channel"), "36");
    EXPECT_EQ(prop(t.root, "radio", "wlan1", "channel-policy"), "best");
    EXPECT_EQ(prop(t.root, "radio", "wlan1", "max-stations"), "200") << "capped at 200";
    EXPECT_EQ(prop(t.root, "radio", "wlan0", "status"), "up") << "the child brought it up";
    EXPECT_EQ(prop(t.root, "interface", "wlan0", "ssid"), "corp") << "VAP 0 of radio 1";
    EXPECT_EQ(prop(t.root, "interface", "wlan0vap1", "ssid"), "guest");
    EXPECT_EQ(sqlite(t.root, "SELECT value FROM running WHERE class='vap' AND instance='vap0' AND "
                             "property='status' AND row IN (SELECT row FROM running WHERE class='vap' "
                             "AND instance='vap0' AND property='radio' AND value='wlan1')"),
              "up") << "VAP 0 of radio 2, qualified by its radio";
    EXPECT_NE(t.log_text().find("rx'ed notification from child process status - SUCCESS"), std::string::npos);
}

// Elements the AP does not take (a captive-portal element, a radio element
// for radio 0) are stepped over: the stop element behind them still applies
// the sequence, the status comes, and the next sequence is taken.
TEST_F(Config, UnknownAndFailedElementsDoNotLeaveTheSequenceOpen) {
    std::vector<uint8_t> msg;
    std::string error;
    ASSERT_EQ(swsim_config_build({"radio 1 channel=36"}, msg, error), 0) << error;
    ASSERT_EQ(wire_load_be16(msg.data() + 4), 0x2001) << "the start element comes first";
    std::vector<uint8_t> extra = {0x11, 0x00, 0x00, 0x1a};
    extra.resize(extra.size() + 26, 1);
    const std::vector<uint8_t> radio0_head = {0x20, 0x04, 0x00, 0x92, 0x00};
    for (uint8_t b : radio0_head) extra.push_back(b);
    extra.resize(extra.size() + 145, 0);
    msg.insert(msg.begin() + 8, extra.begin(), extra.end());
    wire_store_be16(msg.data() + 2, static_cast<uint16_t>(msg.size()));
    ASSERT_EQ(swsim_send(sw, msg), 0);
    auto status = await_status(20000);
    EXPECT_EQ(status.size(), 9u) << t.log_text();
    EXPECT_TRUE(t.wait_log("ERROR: Unrecognized element 0x1100", 1000));
    EXPECT_TRUE(t.wait_log("ERROR: Received incorrect radio id", 1000));
    EXPECT_EQ(configure({"radio 1 channel=40"}).size(), 9u) << "a new sequence is taken";
}

TEST_F(Config, FailedApplyIsReportedWithEightyThreeBytes) {
    auto status = configure({"country ZZ", "radio 1 channel=36"});
    ASSERT_EQ(status.size(), 83u) << t.log_text();
    EXPECT_EQ(wire_load_be16(status.data() + 2), 83);
    const std::vector<uint8_t> head = {0x00, 0x05, 0x00, 0x53, 0x20, 0x10, 0x00, 0x01, 0x03,
                                       0x20, 0x11, 0x00, 0x02, 0x00, 0x00, 0x20, 0x12, 0x00, 0x40};
    EXPECT_EQ(std::vector<uint8_t>(status.begin(), status.begin() + 19), head);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(status.data() + 19)), "Invalid country code");
    EXPECT_TRUE(t.wait_log("Sent Config Status.-FAILED", 2000));
    // The sequence is idle again: a new one is taken.
    auto again = configure({"radio 1 channel=40"});
    EXPECT_EQ(again.size(), 9u);
}

TEST_F(Config, HostapdHearsTheSupportedChannelsAndTheDetectionVlan) {
    standins st;
    st.keep = true;
    std::string error;
    ASSERT_EQ(standins_open(st, error), 0) << error;
    // hostapd "runs": ps lists it and apicli answers while this pid lives.
    t.write("/var/run/hostapd.pid", std::to_string(getpid()) + "\n");
    auto status = configure({"radio 1 channel=36"});
    ASSERT_EQ(status.size(), 9u) << t.log_text();
    EXPECT_TRUE(t.wait_log("hostapd PING succeeded", 2000));
    std::vector<uint8_t> vlan = {0x00, 0x04, 0x00, 0x0a, 0x21, 0x08, 0x00, 0x02, 0x00, 0x2a};
    ASSERT_EQ(swsim_send(sw, vlan), 0);
    std::vector<std::vector<uint8_t>> to_hostapd;
    eventually([&] {
        standins_poll(st, 100);
        to_hostapd.clear();
        for (auto& [who, m] : st.received) {
            if (who == standin_kind::hostapd) to_hostapd.push_back(m);
        }
        return to_hostapd.size() >= 2;
    }, 3000);
    ASSERT_EQ(to_hostapd.size(), 2u);
    EXPECT_EQ(to_hostapd[0], std::vector<uint8_t>{7}) << "the supported-channels request";
    ASSERT_EQ(to_hostapd[1].size(), 4u);
    EXPECT_EQ(to_hostapd[1][0], 23);
    uint16_t v = 0;
    memcpy(&v, to_hostapd[1].data() + 2, 2);
    EXPECT_EQ(v, 42) << "host order between the two daemons";
    standins_close(st);
}
