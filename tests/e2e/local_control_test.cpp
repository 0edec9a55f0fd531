// Local control and debug commands on the twin: mapctl, DEBUG_SET_TRACE
// passed on to mapqosd, the debug login from the switch, and the demo.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "dman/lsqlquery.hpp"
#include "e2e/twin_fixture.hpp"
#include "platform/platform.hpp"
#include "swsim/swsim.hpp"
#include "twin/standins.hpp"
#include "wire/wire.hpp"

using namespace mapd_e2e;

namespace {

std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (p == nullptr) return "<failed>";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    return out + "[exit " + std::to_string(WEXITSTATUS(status)) + "]";
}

std::string mapctl(const std::string& args) { return run(std::string(MAPD_BIN_DIR) + "/mapctl " + args); }

std::string db_value(const std::string& root, const char* cls, const char* prop) {
    map_platform_set_root(root.c_str());
    lsqlquery_close();
    pv* v = lsqlquery_get_pv(cls, nullptr, prop);
    std::string out = v && v->value ? v->value : "<absent>";
    lsqlquery_destroy_pv(v);
    lsqlquery_close();
    map_platform_set_root(nullptr);
    return out;
}

// A debug login message: elements in the order given.
std::vector<uint8_t> debug_login(std::initializer_list<std::vector<uint8_t>> elems) {
    std::vector<uint8_t> m = {0x00, 0x1b, 0x00, 0x00};
    for (const auto& e : elems) {
        for (uint8_t b : e) m.push_back(b);
    }
    wire_store_be16(m.data() + 2, static_cast<uint16_t>(m.size()));
    return m;
}

std::vector<uint8_t> elem(uint16_t type, std::vector<uint8_t> v) {
    std::vector<uint8_t> e = {static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type),
                              static_cast<uint8_t>(v.size() >> 8), static_cast<uint8_t>(v.size())};
    for (uint8_t b : v) e.push_back(b);
    return e;
}

std::vector<uint8_t> password(const char* text) {
    std::vector<uint8_t> p(32, 0);
    for (size_t i = 0; text[i] && i < 32; ++i) p[i] = static_cast<uint8_t>(text[i]);
    return p;
}

}  // namespace

TEST(LocalControl, MapctlCommandsReachTheirHandlers) {
    twin t;
    ASSERT_TRUE(t.start()) << t.log_text();
    struct row {
        const char* args;
        const char* log_text;
    };
    const row rows[] = {
        {"debug-dump", " Status        : MAP_SWITCH_COMM_LISTEN_MODE"},
        {"discovery-dump", " /**** Discover IP Addresses Dump Start ****/"},
        {"trace 0x1", nullptr},  // takes effect from the next message on
        {"reload-dhcp", "Received UDP Message"},
        {"reload-static", "Base port 57775 to 57775 did NOT change."},
    };
    for (const auto& r : rows) {
        size_t mark = t.log_text().size();
        std::string out = mapctl(r.args);
        EXPECT_NE(out.find("[exit 0]"), std::string::npos) << r.args << ": " << out;
        if (r.log_text != nullptr) {
            EXPECT_TRUE(t.wait_log(r.log_text, 3000, mark)) << r.args << "\n" << t.log_text().substr(mark);
        }
    }
    EXPECT_NE(mapctl("frobnicate").find("[exit 2]"), std::string::npos);
    EXPECT_NE(mapctl("trace").find("takes one value"), std::string::npos);
    EXPECT_NE(mapctl("trace 0x1ffffffff").find("not a 32-bit number"), std::string::npos);
    EXPECT_NE(mapctl("--help").find("discovery-dump"), std::string::npos);
}

// What mapqosd must hear unchanged, header included: the trace command from
// a local tool, and the client-QoS definition replies from the switch.
TEST(LocalControl, MapqosdHearsTraceCommandsAndDefinitionRepliesUnchanged) {
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
    udp_peer tool("127.0.0.1", 0);
    const std::vector<uint8_t> trace = {0x01, 0x04, 0x00, 0x08, 0x00, 0x00, 0x00, 0x03};
    const std::vector<uint8_t> acl_reply = {0x00, 0x94, 0x00, 0x0a, 0x00, 0x01, 0x00, 0x02, 0xab, 0xcd};
    const std::vector<uint8_t> policy_reply = {0x00, 0x95, 0x00, 0x05, 0x7f};
    ASSERT_TRUE(tool.send_to(trace));
    ASSERT_EQ(swsim_send(sw, acl_reply), 0);
    ASSERT_EQ(swsim_send(sw, policy_reply), 0);
    ASSERT_TRUE(eventually([&] { standins_poll(st, 100); return st.received.size() >= 3; }, 3000));
    std::vector<std::vector<uint8_t>> to_mapqosd;
    for (const auto& [kind, msg] : st.received) {
        if (kind == standin_kind::mapqosd) to_mapqosd.push_back(msg);
    }
    ASSERT_EQ(to_mapqosd.size(), 3u);
    EXPECT_EQ(to_mapqosd[0], trace);
    EXPECT_EQ(to_mapqosd[1], acl_reply);
    EXPECT_EQ(to_mapqosd[2], policy_reply);
    // Mask 3 now lets switch-link traces through.
    const size_t mark = t.log_text().size();
    tool.send_to({0x01, 0x03, 0x00, 0x04});
    EXPECT_TRUE(t.wait_log("Received UDP Message", 3000, mark));
    swsim_close(sw);
    standins_close(st);
}

// The debug login's rules are checked in the dispatcher's tests; here the
// whole road: the switch's login reaches the database of the running AP.
TEST(LocalControl, DebugLoginFromTheSwitch) {
    twin t;
    swsim sw;
    sw.print = [](const std::string&) {};
    std::string error;
    ASSERT_EQ(swsim_open(sw, swsim_options{}, error), 0) << error;
    ASSERT_TRUE(t.start()) << t.log_text();
    ASSERT_EQ(swsim_establish(sw, 12000, error), 0) << error;
    const std::vector<uint8_t> own_mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
    ASSERT_EQ(swsim_send(sw, debug_login({elem(33, own_mac), elem(0x4001, {1}),
                                          elem(0x4002, password("letmein"))})), 0);
    ASSERT_TRUE(eventually([&] { return db_value(t.root, "system", "password") == "letmein"; }, 3000));
    EXPECT_EQ(db_value(t.root, "telnet", "status"), "up");
    EXPECT_EQ(db_value(t.root, "ssh", "status"), "up");
    swsim_close(sw);
}

TEST(LocalControl, DemoScenarioRunsStartToEnd) {
    std::string out = run("cd " + std::string(MAPD_SOURCE_DIR) + " && BIN=" + MAPD_BIN_DIR +
                          " DURATION=16 WORK=" + MAPD_BIN_DIR + "/../demo-test bash scripts/demo");
    EXPECT_NE(out.find("[exit 0]"), std::string::npos) << out;
    const char* in_order[] = {"step 1/8: print the switch polls the AP", "sent SWITCH_DISCOVER",
                              "TLS up:", "SWITCH_AP_IDENTIFICATION (21)", "SWITCH_AP_AUTH_SUCCEED",
                              "step 3/8: keepalive 5", "SWITCH_KEEPALIVE_ACK",
                              "step 5/8: config (8 lines)", "SWITCH_CONFIG_STATUS (5), 9 bytes: success",
                              "8 of 8 steps ok", "demo:   managed mode reached: yes",
                              "demo:   configuration status: success"};
    size_t at = 0;
    for (const char* s : in_order) {
        size_t p = out.find(s, at);
        ASSERT_NE(p, std::string::npos) << "missing or out of order: " << s << "\n" << out;
        at = p;
    }
}
