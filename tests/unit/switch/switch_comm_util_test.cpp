#include "switch/switch_comm_util.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "log/map_log.hpp"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::string hex_text(const std::vector<uint8_t>& msg, int direction, int transport) {
    static char buf[MAP_TRACE_BUF_SIZE];
    map_pkt_hex_format(buf, sizeof buf, msg.data(), static_cast<int>(msg.size()), direction,
                       transport);
    return buf;
}

std::string type_name(std::vector<uint8_t> msg) {
    char* t = pkt_type_to_string(msg.data(), static_cast<int>(msg.size()));
    if (t == nullptr) return "<null>";
    std::string s = t;
    free(t);
    return s;
}

}  // namespace

TEST(SwitchUtil, HeadersBothWays) {
    uint8_t buf[4];
    map_switch_util_buffer_fill_elem(buf, htons(0xF003), htons(64));
    EXPECT_EQ(std::vector<uint8_t>({0xF0, 0x03, 0x00, 0x40}), std::vector<uint8_t>(buf, buf + 4));
    map_switch_elem_hdr h{};
    map_switch_comm_util_extract_element(buf, &h);
    EXPECT_EQ(h.type, 0xF003);
    EXPECT_EQ(h.length, 64);

    const uint8_t odd[] = {0xFF, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(map_extract_short(odd + 1), 0x1234) << "unaligned";
    EXPECT_EQ(map_extract_integer(odd + 1), 0x12345678u);
}

TEST(SwitchUtil, TraceNames) {
    struct row {
        std::vector<uint8_t> msg;
        const char* name;
    };
    const row rows[] = {
        {{0x00, 0x01, 0x00, 0x69}, "SWITCH_DISCOVER"},
        {{0x00, 0x19, 0x00, 0x04}, "SWITCH_KEEPALIVE_ACK"},
        {{0x00, 0x0B}, "SWITCH_AP_PROBE_REQ"},
        {{0x01, 0x0A}, "MAP_CS_POST_CONF_STATUS_NOTIFY_MSG_ID"},
        {{0x02, 0x03}, "AP_PROVISION_REPLY_MSG"},
        {{0x11, 0x06}, "MAP_CONFIG_STATS_IE_CP_CLIENT_AUTH_REQ"},
        {{0x00, 0x00, 0x00, 0x04}, "UNKNOWN"},
        {{0x00, 0x1D}, "UNKNOWN"},  // 29 is dispatched but has no trace name
        {{0x00, 0x61}, "UNKNOWN"},  // 97 neither
        {{0x02, 0x02}, "UNKNOWN"},  // 514 neither
        {{0xFF, 0xFF}, "UNKNOWN"},
        {{0x00}, "UNKNOWN"},  // too short to hold a type
    };
    for (const auto& r : rows) {
        EXPECT_EQ(type_name(r.msg), r.name);
    }
    const uint8_t one[] = {0, 1};
    EXPECT_EQ(pkt_type_to_string(nullptr, 4), nullptr);
    EXPECT_EQ(pkt_type_to_string(one, 0), nullptr);
    EXPECT_EQ(pkt_type_to_string(one, -3), nullptr);
}

TEST(SwitchUtil, HexTraceLayout) {
    EXPECT_EQ(hex_text({0x00, 0x19, 0x00, 0x04}, 1, 2), "TXED TCP SWITCH_KEEPALIVE_ACK:\n00 19 00 04 \n");

    std::vector<uint8_t> thirteen(13, 0xAB);
    thirteen[0] = 0x00;
    thirteen[1] = 0x02;
    EXPECT_EQ(hex_text(thirteen, 2, 1),
              "RXED UDP SWITCH_KEEPALIVE:\n00 02 ab ab ab ab ab ab ab ab ab ab ab \n");

    std::vector<uint8_t> fourteen = thirteen;
    fourteen.push_back(0x0F);
    EXPECT_EQ(hex_text(fourteen, 2, 3),
              "RXED L2 SWITCH_KEEPALIVE:\n00 02 ab ab ab ab ab ab ab ab ab ab ab \n0f \n");

    std::vector<uint8_t> twenty_seven(27, 0x03);
    std::string t = hex_text(twenty_seven, 7, 9);
    EXPECT_EQ(t.substr(0, 26), "UNKNOWN UNKNOWN UNKNOWN:\n0");
    EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 4) << t;  // heading, 13, 13, 1

    std::vector<uint8_t> one_byte = {0x7f};
    EXPECT_EQ(hex_text(one_byte, 1, 1), "TXED UDP UNKNOWN:\n7f \n");
}

TEST(SwitchUtil, HexTraceIsCutNeverOverflowed) {
    std::vector<uint8_t> big(20000, 0x55);
    for (size_t cap : {size_t{1}, size_t{10}, size_t{40}, size_t{41}, size_t{MAP_TRACE_BUF_SIZE}}) {
        std::vector<char> out(cap + 8, '#');
        size_t n = map_pkt_hex_format(out.data(), cap, big.data(), static_cast<int>(big.size()),
                                      1, 1);
        EXPECT_LT(n, cap);
        EXPECT_EQ(out[n], '\0');
        for (size_t i = cap; i < out.size(); ++i) {
            ASSERT_EQ(out[i], '#') << "byte " << i << " written past a buffer of " << cap;
        }
    }
}

TEST(SwitchUtil, HexTracePrintsOnlyAtItsLevel) {
    const uint8_t ka[] = {0x00, 0x19, 0x00, 0x04};
    map_global_debug_trace = 0;
    CaptureStdout();
    map_pkt_hex_print(0x10, ka, 4, 1, 2);
    EXPECT_EQ(GetCapturedStdout(), "");

    map_global_debug_trace = 0x10;
    CaptureStdout();
    map_pkt_hex_print(0x10, ka, 4, 1, 2);
    map_pkt_hex_print(0x10, nullptr, 4, 1, 2);
    map_pkt_hex_print(0x10, ka, 0, 1, 2);
    EXPECT_EQ(GetCapturedStdout(), "TXED TCP SWITCH_KEEPALIVE_ACK:\n00 19 00 04 \n\n");
    map_global_debug_trace = 0;
}
