// The three dispatchers on a record without sockets: what they refuse, with
// which message, and what reaches a handler.
#include "core/map_handler.hpp"

#include <gtest/gtest.h>

#include "stats/map_proc.hpp"
#include "store/map_dman_lsql.hpp"
#include "dman/lsqlquery.hpp"
#include "support/bytes.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

using namespace mapd_test;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

struct Handler : testing::Test {
    mapd_test::sandbox sb;
    map_control_block cb{};
    map_switch_comm rec{};
    int rc = 0;  // the last call's result
    void SetUp() override {
        rec.tcp_fd = rec.udp_fd = rec.l2_fd = rec.ssl_rfd = rec.mapd_fd = rec.mapqosd_fd = -1;
        rec.cb = &cb;
        cb.switch_comm = &rec;
        sb.write("/proc/uptime", "1000.0 1.0\n");
    }
    void TearDown() override {
        lsqlquery_close();
        map_global_debug_trace = 0;
    }
    using handler = int (*)(map_control_block*, const uint8_t*, int);
    // Runs a dispatcher on `m` and returns what it printed.
    std::string call(handler fn, const bytes& m) {
        CaptureStdout();
        rc = fn(&cb, m.data(), static_cast<int>(m.size()));
        return GetCapturedStdout();
    }
    bool says(handler fn, const bytes& m, const char* text) { return contains(call(fn, m), text); }
};

}  // namespace

// Messages over TLS need an open connection, a whole header and a known
// type; row 70 needs the established state: elsewhere it is refused with its
// text and the dispatcher's result 0.
TEST_F(Handler, TlsMessagesNeedTheirState) {
    const bytes keepalive = {0, 2, 0, 12, 0x30, 0x01, 0, 4, 0, 0, 0, 20};
    for (int state : {MAP_SWITCH_COMM_INIT_MODE, MAP_SWITCH_COMM_LISTEN_MODE}) {
        rec.state = state;
        EXPECT_TRUE(
            says(map_ssl_pkt_handler, keepalive,
                 ("AP is in " + std::to_string(state) + " state to accept messages from Switch")
                     .c_str()));
        EXPECT_EQ(rc, -1);
    }
    rec.state = MAP_SWITCH_COMM_SSL_ESTABLISH_MODE;
    EXPECT_TRUE(says(map_ssl_pkt_handler, {0, 2, 0}, "Corrupt SSL Packet of len - 3"));
    EXPECT_EQ(rc, -1);
    call(map_ssl_pkt_handler, {0x7f, 0x7f, 0, 4});
    EXPECT_EQ(rc, -1) << "unknown types are dropped";

    const bytes wids = {0x00, 0x46, 0x00, 0x08, 0, 0, 0, 0};
    for (int state : {MAP_SWITCH_COMM_SSL_ESTABLISH_MODE, MAP_SWITCH_COMM_SWITCH_AUTH_MODE}) {
        rec.state = state;
        EXPECT_TRUE(says(map_ssl_pkt_handler, wids, "Invalid mapd mode."));
        EXPECT_EQ(rc, 0);
    }
    rec.state = MAP_SWITCH_COMM_ESTABLISHED;
    EXPECT_FALSE(says(map_ssl_pkt_handler, wids, "Invalid mapd mode."));
}

TEST_F(Handler, UdpDispatch) {
    EXPECT_TRUE(says(map_udp_pkt_handler, {0, 1, 0}, "Corrupt UDP Packet- Length -3"));
    EXPECT_EQ(rc, -1);

    // A discover with a 42-byte body is corrupt; with 43 it is accepted, and in
    // a state other than listening it is not processed.
    bytes d(4 + 42, 0);
    d[1] = 1;
    d[3] = 46;
    EXPECT_TRUE(says(map_udp_pkt_handler, d, "Corrupt Discovery Packet"));
    EXPECT_EQ(rc, -1);
    d.push_back(0);
    d[3] = 47;
    rec.state = MAP_SWITCH_COMM_ESTABLISHED;
    EXPECT_FALSE(says(map_udp_pkt_handler, d, "device type")) << "not processed while established";
    EXPECT_EQ(rc, 0);
    d[3] = 42;  // the header's length field below 43
    EXPECT_TRUE(says(map_udp_pkt_handler, d, "Corrupt Discovery Packet"));

    // DEBUG_SET_TRACE takes the first four data bytes of the cleared buffer:
    // what a short datagram lacks counts as zero.
    const std::pair<bytes, uint32_t> traces[] = {
        {{0x01, 0x04, 0x00, 0x08, 0x00, 0x00, 0x00, 0x03}, 3},
        {{0x01, 0x04, 0x00, 0x06, 0x00, 0x05}, 0x00050000},
        {{0x01, 0x04, 0x00, 0x04}, 0},
    };
    for (const auto& [msg, mask] : traces) {
        map_global_debug_trace = 0xFFFFFFFF;
        call(map_udp_pkt_handler, msg);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(map_global_debug_trace, mask) << msg.size() << " bytes";
    }
    map_global_dont_disable_ssh_session = 0;
    call(map_udp_pkt_handler, {0x01, 0x07, 0x00, 0x04});
    EXPECT_EQ(map_global_dont_disable_ssh_session, 1);
    map_global_dont_disable_ssh_session = 0;
    call(map_udp_pkt_handler, {0x7f, 0x00, 0x00, 0x04});
    EXPECT_EQ(rc, -1);
}

// The debug login reads its three elements at their fixed sizes out of the
// cleared receive buffer: bytes past the message are zeros.
TEST_F(Handler, DebugLogin) {
    ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50"));
    ASSERT_TRUE(db_set("system", nullptr, "password", "before"));
    ASSERT_TRUE(db_set("telnet", nullptr, "status", "down"));
    ASSERT_TRUE(db_set("ssh", nullptr, "status", "down"));
    map_proc_mac_cache_clear();
    rec.state = MAP_SWITCH_COMM_ESTABLISHED;
    const bytes own = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
    const bytes on = elem(0x4001, {1}), xs = elem(0x4002, bytes(32, 'x'));
    bytes pw = {'l', 'e', 't', 'm', 'e', 'i', 'n'};
    pw.resize(32, 0);
    const struct {
        const char* what;
        bytes body;
        int rc;
        const char* telnet;
        std::string password;
    } rows[] = {
        {"a foreign MAC stores nothing", on + xs + elem(33, {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x51}),
         -1, "down", "before"},
        {"a MAC cut short reads zeros: not the AP's, nothing stored",
         on + xs + elem(33, {0x00, 0x1a, 0x2b}, 6), -1, "down", "before"},
        {"a password cut short is stored as read",
         on + elem(33, own) + elem(0x4002, bytes(22, 'A'), 32), 0, "up", std::string(22, 'A')},
        {"status 0 and an unknown element: 41 bytes, an empty password",
         elem(0x4001, {0}) + elem(0x4003, bytes(32, 0x41)), 0, "down", ""},
        {"the known elements take their sizes whatever their lengths say",
         elem(33, own, 2) + elem(0x4001, {1}, 9) + elem(0x4002, pw, 1), 0, "up", "letmein"},
    };
    for (const auto& r : rows) {
        ASSERT_GE(r.body.size(), 41u) << r.what;
        EXPECT_EQ(map_process_debug_login_pkt(&cb, r.body.data(), static_cast<int>(r.body.size())),
                  r.rc)
            << r.what;
        EXPECT_EQ(db_get("telnet", nullptr, "status"), r.telnet) << r.what;
        EXPECT_EQ(db_get("system", nullptr, "password"), r.password) << r.what;
    }
    EXPECT_TRUE(
        says(map_process_debug_login_pkt, bytes(40, 0), "Corrupt Debug Packet of len - 40"));
    EXPECT_EQ(rc, -1);
    rec.state = MAP_SWITCH_COMM_SWITCH_AUTH_MODE;
    EXPECT_TRUE(says(map_process_debug_login_pkt, bytes(41, 0),
                     "AP is in 3 state to accept messages from Switch"));
}

TEST_F(Handler, LayerTwoDispatch) {
    EXPECT_TRUE(
        says(map_l2_pkt_handler, {0, 1}, "Corrupt L2 discovery pkt:  length = 2, expected 4"));
    bytes d(4 + 42, 0);
    d[1] = 1;
    d[3] = 46;
    EXPECT_TRUE(says(map_l2_pkt_handler, d, "Corrupt L2 discovery pkt:  len = 42 (< 43)"));
    d.push_back(0);
    d[3] = 10;
    EXPECT_TRUE(says(map_l2_pkt_handler, d, "Corrupt L2 discovery pkt:  elem len = 10 (< 43)"));
    d[1] = 2;
    EXPECT_EQ(call(map_l2_pkt_handler, d), "");
    EXPECT_EQ(rc, -1) << "only discover messages come by layer 2";
}

TEST_F(Handler, AdminModeAndManagedModeTransitions) {
    map_adminmode_set(&cb, 1);
    EXPECT_EQ(cb.admin_mode, 1u);
    EXPECT_EQ(rec.state, MAP_SWITCH_COMM_LISTEN_MODE);
    int l2 = rec.l2_fd;
    map_adminmode_set(&cb, 1);
    EXPECT_EQ(rec.l2_fd, l2) << "the same mode again opens nothing";
    map_adminmode_set(&cb, 7);
    EXPECT_EQ(cb.admin_mode, 1u);
    CaptureStdout();
    map_adminmode_set(&cb, 0);
    EXPECT_NE(GetCapturedStdout().find("Admin mode of the AP is down"), std::string::npos);
    EXPECT_EQ(rec.state, MAP_SWITCH_COMM_INIT_MODE);
    EXPECT_EQ(rec.l2_fd, -1);

    rec.state = MAP_SWITCH_COMM_SSL_ESTABLISH_MODE;
    EXPECT_EQ(map_handler_is_connection_established(&cb), -1);
    map_global_dont_disable_ssh_session = 1;  // no dropbear command needed here
    CaptureStdout();
    EXPECT_EQ(map_switch_comm_process_auth_succeed_pkt(&rec), 0);
    EXPECT_EQ(map_switch_comm_process_auth_succeed_pkt(&rec), 0);
    GetCapturedStdout();
    map_global_dont_disable_ssh_session = 0;
    EXPECT_EQ(rec.state, MAP_SWITCH_COMM_ESTABLISHED);
    EXPECT_EQ(cb.managed_mode, 1u) << "two successes in a row leave it managed";
    EXPECT_EQ(map_handler_is_connection_established(&cb), 0);
    EXPECT_EQ(db_get("managed-ap", nullptr, "ap-state"), "up");
}
