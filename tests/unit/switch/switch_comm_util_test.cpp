#include "switch/switch_comm_util.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "log/map_log.hpp"

using bytes = std::vector<uint8_t>;

TEST(SwitchUtil, HeadersBothWays) {
    uint8_t buf[4];
    map_switch_util_buffer_fill_elem(buf, htons(0xF003), htons(64));
    EXPECT_EQ(bytes({0xF0, 0x03, 0x00, 0x40}), bytes(buf, buf + 4));
    map_switch_elem_hdr h{};
    map_switch_comm_util_extract_element(buf, &h);
    EXPECT_EQ(h.type, 0xF003);
    EXPECT_EQ(h.length, 64);
    const uint8_t odd[] = {0xFF, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(map_extract_short(odd + 1), 0x1234) << "unaligned";
    EXPECT_EQ(map_extract_integer(odd + 1), 0x12345678u);
}

TEST(SwitchUtil, TraceNames) {
    std::string names;
    for (uint16_t type : {1, 25, 266, 4358, 0, 29}) {  // 29 is dispatched, but has no name
        const uint8_t msg[2] = {uint8_t(type >> 8), uint8_t(type)};
        char* t = pkt_type_to_string(msg, 2);
        names += std::string(t ? t : "<null>") + " ";
        free(t);
    }
    EXPECT_EQ(names,
              "SWITCH_DISCOVER SWITCH_KEEPALIVE_ACK MAP_CS_POST_CONF_STATUS_NOTIFY_MSG_ID "
              "MAP_CONFIG_STATS_IE_CP_CLIENT_AUTH_REQ UNKNOWN UNKNOWN ");
    const uint8_t ack[] = {0x00, 0x19};
    char* t = pkt_type_to_string(ack, 1);
    EXPECT_STREQ(t, "UNKNOWN") << "one byte holds no type";
    free(t);
    EXPECT_EQ(pkt_type_to_string(ack, 0), nullptr);
    EXPECT_EQ(pkt_type_to_string(nullptr, 4), nullptr);
}

TEST(SwitchUtil, HexTraceHasThirteenBytesALine) {
    const bytes thirteen = {0x00, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xa, 0xb};
    bytes fourteen = thirteen;
    fourteen.push_back(0xcd);
    bytes twenty_seven = fourteen;
    twenty_seven.insert(twenty_seven.end(), thirteen.begin(), thirteen.end());
    const std::string line = "00 02 01 02 03 04 05 06 07 08 09 0a 0b \n";
    const struct {
        bytes msg;
        int direction, transport;
        std::string text;
    } rows[] = {
        {{0x00, 0x19, 0x00, 0x04}, 1, 2, "TXED TCP SWITCH_KEEPALIVE_ACK:\n00 19 00 04 \n"},
        {thirteen, 2, 1, "RXED UDP SWITCH_KEEPALIVE:\n" + line},
        {fourteen, 2, 3, "RXED L2 SWITCH_KEEPALIVE:\n" + line + "cd \n"},
        {twenty_seven, 7, 9,
         "UNKNOWN UNKNOWN SWITCH_KEEPALIVE:\n" + line +
             "cd 00 02 01 02 03 04 05 06 07 08 09 0a \n0b \n"},
        {{0x7f}, 1, 1, "TXED UDP UNKNOWN:\n7f \n"},
    };
    for (const auto& r : rows) {
        static char buf[MAP_TRACE_BUF_SIZE];
        map_pkt_hex_format(buf, sizeof buf, r.msg.data(), static_cast<int>(r.msg.size()),
                           r.direction, r.transport);
        EXPECT_EQ(buf, r.text);
    }
    // Printed as one trace at its level, when every bit of the level is on.
    const uint8_t ka[] = {0x00, 0x19, 0x00, 0x04};
    map_global_debug_trace = 0x10;
    testing::internal::CaptureStdout();
    map_pkt_hex_print(0x10, ka, 4, 1, 2);
    map_pkt_hex_print(0x10, nullptr, 4, 1, 2);
    map_pkt_hex_print(0x10, ka, 0, 1, 2);
    map_pkt_hex_print(0x30, ka, 4, 1, 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), rows[0].text + "\n");
    map_global_debug_trace = 0;
}

TEST(SwitchUtil, HexTraceIsCutNeverOverflowed) {
    // "TXED UDP UNKNOWN:\n" is 18 characters: 19 bytes hold it and nothing more.
    bytes big(20000, 0x55);
    for (size_t cap : {1, 10, 18, 19, 20, 21, 22, 40, 41, int{MAP_TRACE_BUF_SIZE}}) {
        std::vector<char> out(cap + 8, '#');
        size_t n = map_pkt_hex_format(out.data(), cap, big.data(), 20000, 1, 1);
        EXPECT_LT(n, cap);
        EXPECT_EQ(out[n], '\0');
        EXPECT_EQ(std::string(out.data() + cap, 8), "########") << "written past " << cap;
    }
}
