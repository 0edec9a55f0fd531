// The three dispatchers on a record without sockets: what they refuse, with
// which message, and what reaches a handler.
#include "core/map_handler.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/map_dman_lsql.hpp"
#include "log/map_log.hpp"
#include "dman/lsqlquery.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

struct Handler : testing::Test {
    mapd_test::sandbox sb;
    map_control_block cb{};
    map_switch_comm rec{};
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
    std::string call(int (*fn)(map_control_block*, const uint8_t*, int), std::vector<uint8_t> m,
                     int* rc = nullptr) {
        CaptureStdout();
        int r = fn(&cb, m.data(), static_cast<int>(m.size()));
        if (rc) *rc = r;
        return GetCapturedStdout();
    }
};

}  // namespace

TEST_F(Handler, TlsMessagesNeedAnOpenConnection) {
    const std::vector<uint8_t> keepalive = {0, 2, 0, 12, 0x30, 0x01, 0, 4, 0, 0, 0, 20};
    for (int state : {MAP_SWITCH_COMM_INIT_MODE, MAP_SWITCH_COMM_LISTEN_MODE}) {
        rec.state = state;
        int rc = 0;
        std::string out = call(map_ssl_pkt_handler, keepalive, &rc);
        EXPECT_EQ(rc, -1);
        EXPECT_NE(out.find("AP is in " + std::to_string(state) + " state to accept messages from Switch"),
                  std::string::npos)
            << out;
    }
    rec.state = MAP_SWITCH_COMM_SSL_ESTABLISH_MODE;
    int rc = 0;
    EXPECT_NE(call(map_ssl_pkt_handler, {0, 2, 0}, &rc).find("Corrupt SSL Packet of len - 3"),
              std::string::npos);
    EXPECT_EQ(rc, -1);
    call(map_ssl_pkt_handler, {0x7f, 0x7f, 0, 4}, &rc);
    EXPECT_EQ(rc, -1) << "unknown types are dropped";
}

TEST_F(Handler, UdpDispatch) {
    int rc = 0;
    EXPECT_NE(call(map_udp_pkt_handler, {0, 1, 0}, &rc).find("Corrupt UDP Packet- Length -3"),
              std::string::npos);
    EXPECT_EQ(rc, -1);

    // A discover with a 42-byte body is corrupt; with 43 it is accepted, and in
    // a state other than listening it is not processed.
    std::vector<uint8_t> d(4 + 42, 0);
    d[1] = 1;
    d[3] = 46;
    EXPECT_NE(call(map_udp_pkt_handler, d, &rc).find("Corrupt Discovery Packet"), std::string::npos);
    EXPECT_EQ(rc, -1);
    d.push_back(0);
    d[3] = 47;
    rec.state = MAP_SWITCH_COMM_ESTABLISHED;
    std::string out = call(map_udp_pkt_handler, d, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out.find("device type"), std::string::npos) << "not processed while established";
    d[3] = 42;  // the header's length field below 43
    EXPECT_NE(call(map_udp_pkt_handler, d, &rc).find("Corrupt Discovery Packet"), std::string::npos);

    // DEBUG_SET_TRACE takes the first four bytes; DEBUG_DONT_DISABLE_SSH_SESSION sets its flag.
    call(map_udp_pkt_handler, {0x01, 0x04, 0x00, 0x08, 0x00, 0x00, 0x00, 0x03}, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(map_global_debug_trace, 3u);
    map_global_dont_disable_ssh_session = 0;
    call(map_udp_pkt_handler, {0x01, 0x07, 0x00, 0x04}, &rc);
    EXPECT_EQ(map_global_dont_disable_ssh_session, 1);
    map_global_dont_disable_ssh_session = 0;
    call(map_udp_pkt_handler, {0x7f, 0x00, 0x00, 0x04}, &rc);
    EXPECT_EQ(rc, -1);
}

TEST_F(Handler, LayerTwoDispatch) {
    int rc = 0;
    EXPECT_NE(call(map_l2_pkt_handler, {0, 1}, &rc).find("Corrupt L2 discovery pkt:  length = 2, expected 4"),
              std::string::npos);
    std::vector<uint8_t> d(4 + 42, 0);
    d[1] = 1;
    d[3] = 46;
    EXPECT_NE(call(map_l2_pkt_handler, d, &rc).find("Corrupt L2 discovery pkt:  len = 42 (< 43)"),
              std::string::npos);
    d.push_back(0);
    d[3] = 10;
    EXPECT_NE(call(map_l2_pkt_handler, d, &rc).find("Corrupt L2 discovery pkt:  elem len = 10 (< 43)"),
              std::string::npos);
    d[1] = 2;
    std::string out = call(map_l2_pkt_handler, d, &rc);
    EXPECT_EQ(rc, -1) << "only discover messages come by layer 2";
    EXPECT_TRUE(out.empty()) << out;
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
    pv* v = lsqlquery_get_pv("managed-ap", nullptr, "ap-state");
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v->value, "up");
    lsqlquery_destroy_pv(v);
}
