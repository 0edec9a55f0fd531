// Local control and debug commands on the twin: mapctl, DEBUG_SET_TRACE
// passed on to mapqosd, the debug login from the switch, and the demo.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "e2e/twin_fixture.hpp"
#include "swsim/swsim.hpp"
#include "twin/standins.hpp"

using namespace mapd_e2e;

namespace {

// What `cmd` printed, then "[exit N]".
std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (p == nullptr)
        return "<failed>";
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    return out + "[exit " + std::to_string(WEXITSTATUS(pclose(p))) + "]";
}

std::string mapctl(const std::string& args) {
    return run(std::string(MAPD_BIN_DIR) + "/mapctl " + args);
}

}  // namespace

TEST(LocalControl, MapctlCommandsReachTheirHandlers) {
    twin t;
    ASSERT_TRUE(t.start()) << t.log_text();
    const std::pair<const char*, const char*> rows[] = {
        {"debug-dump", " Status        : MAP_SWITCH_COMM_LISTEN_MODE"},
        {"discovery-dump", " /**** Discover IP Addresses Dump Start ****/"},
        {"trace 0x1", nullptr},  // takes effect from the next message on
        {"reload-dhcp", "Received UDP Message"},
        {"reload-static", "Base port 57775 to 57775 did NOT change."},
    };
    for (const auto& [args, log_text] : rows) {
        size_t mark = t.log_text().size();
        std::string out = mapctl(args);
        EXPECT_NE(out.find("[exit 0]"), std::string::npos) << args << ": " << out;
        if (log_text != nullptr) {
            EXPECT_TRUE(t.wait_log(log_text, 3000, mark)) << args << "\n"
                                                          << t.log_text().substr(mark);
        }
    }
    EXPECT_NE(mapctl("frobnicate").find("[exit 2]"), std::string::npos);
    EXPECT_NE(mapctl("trace").find("takes one value"), std::string::npos);
    EXPECT_NE(mapctl("trace 0x1ffffffff").find("not a 32-bit number"), std::string::npos);
    EXPECT_NE(mapctl("--help").find("discovery-dump"), std::string::npos);
}

// What mapqosd must hear unchanged, header included: the trace command from a
// local tool, and the client-QoS definition replies from the switch.  Then the
// switch's debug login reaches the database of the running AP (its rules are
// checked in the dispatcher's tests).
TEST(LocalControl, MapqosdHearsItsMessagesUnchangedAndTheDebugLoginReachesTheDatabase) {
    twin t;
    standins st;
    st.keep = true;
    swsim sw;
    sw.print = [](const std::string&) {};
    std::string error;
    ASSERT_EQ(standins_open(st, error), 0) << error;
    ASSERT_EQ(swsim_open(sw, swsim_options{}, error), 0) << error;
    ASSERT_TRUE(t.start()) << t.log_text();
    ASSERT_EQ(swsim_establish(sw, 12000, error), 0) << error;
    const std::vector<uint8_t> to_mapqosd[] = {
        {0x01, 0x04, 0x00, 0x08, 0x00, 0x00, 0x00, 0x03},  // trace mask 3
        {0x00, 0x94, 0x00, 0x0a, 0x00, 0x01, 0x00, 0x02, 0xab, 0xcd},
        {0x00, 0x95, 0x00, 0x05, 0x7f}};
    ASSERT_TRUE(udp_peer("127.0.0.1", 0).send_to(to_mapqosd[0]));
    ASSERT_EQ(swsim_send(sw, to_mapqosd[1]), 0);
    ASSERT_EQ(swsim_send(sw, to_mapqosd[2]), 0);
    // The other stand-ins hear the AP too (the TSPEC application its mode).
    std::vector<std::vector<uint8_t>> heard;
    ASSERT_TRUE(eventually([&] {
        standins_poll(st, 100);
        heard.clear();
        for (const auto& [kind, msg] : st.received) {
            if (kind == standin_kind::mapqosd)
                heard.push_back(msg);
        }
        return heard.size() >= 3;
    }, 3000));
    EXPECT_EQ(heard,
              std::vector<std::vector<uint8_t>>(std::begin(to_mapqosd), std::end(to_mapqosd)));
    // Mask 3 now lets switch-link traces through.
    EXPECT_FALSE(t.dump("Received UDP Message", 3000).empty());

    // The AP's own MAC, status 1 and a password in its 32-byte field.
    std::vector<uint8_t> login = {0x00, 0x1b, 0x00, 0x37, 0x00, 0x21, 0x00, 0x06, 0x00, 0x1a,
                                  0x2b, 0x3c, 0x4d, 0x50, 0x40, 0x01, 0x00, 0x01, 0x01, 0x40,
                                  0x02, 0x00, 0x20, 'l',  'e',  't',  'm',  'e',  'i',  'n'};
    login.resize(55, 0);
    ASSERT_EQ(swsim_send(sw, login), 0);
    EXPECT_TRUE(
        eventually([&] { return t.get("system", nullptr, "password") == "letmein"; }, 3000));
    EXPECT_EQ(t.get("telnet", nullptr, "status"), "up");
    EXPECT_EQ(t.get("ssh", nullptr, "status"), "up");
    swsim_close(sw);
    standins_close(st);
}

TEST(LocalControl, DemoScenarioRunsStartToEnd) {
    std::string out = run("cd " + std::string(MAPD_SOURCE_DIR) + " && BIN=" + MAPD_BIN_DIR +
                          " DURATION=16 WORK=" + MAPD_BIN_DIR + "/../demo-test bash scripts/demo");
    EXPECT_NE(out.find("[exit 0]"), std::string::npos) << out;
    size_t at = 0;
    for (const char* s :
         {"step 1/10: print the switch polls the AP", "sent SWITCH_DISCOVER",
          "TLS up:", "SWITCH_AP_IDENTIFICATION (21)", "SWITCH_AP_AUTH_SUCCEED",
          "step 3/10: keepalive 5", "SWITCH_KEEPALIVE_ACK", "step 5/10: config (8 lines)",
          "SWITCH_CONFIG_STATUS (5), 9 bytes: success",
          "MAP_SWITCH_CL2TUNNEL_CONFIG_MSG_ID (128), 12 bytes", "10 of 10 steps ok",
          "demo:   managed mode reached: yes", "demo:   configuration status: success",
          "demo:   AP tunnel created: yes"}) {
        at = out.find(s, at);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << s << "\n" << out;
    }
}
