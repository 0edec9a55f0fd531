#include "wire/map_text.hpp"

#include <gtest/gtest.h>

TEST(MapText, PrefixAndMask) {
    const struct {
        uint32_t prefix;
        uint32_t mask;
    } rows[] = {{0, 0},           {1, 0x80000000},  {8, 0xFF000000}, {24, 0xFFFFFF00},
                {31, 0xFFFFFFFE}, {32, 0xFFFFFFFF}, {33, 0},         {255, 0}};
    for (const auto& r : rows) {
        EXPECT_EQ(map_ipv4_prefix_to_mask_convert(r.prefix), r.mask) << r.prefix;
        EXPECT_EQ(map_ipv4_mask_to_prefix_convert(r.mask), r.prefix > 32 ? 0 : r.prefix);
    }
    EXPECT_EQ(map_ipv4_mask_to_prefix_convert(0xFF00FF00), 16u) << "non-contiguous: bits counted";
}

TEST(MapText, AddressTexts) {
    const uint8_t mac[6] = {0x00, 0x0A, 0xbc, 0xDE, 0xf0, 0x01};
    EXPECT_STREQ(mac_to_string(mac), "00:0a:bc:de:f0:01");
    EXPECT_STREQ(ip_addr_to_string(0xC0A8010A), "192.168.1.10");
    const uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_STREQ(ipv6_addr_to_string(v6), "2001:db8::1");
    for (auto [text, hex] : {std::pair{"2001:db8::1", "2001:0db8:0000:0000:0000:0000:0000:0001"},
                             {"::ffff:10.0.0.1", "0000:0000:0000:0000:0000:ffff:0a00:0001"},
                             {"fe80::1:2:3:4", "fe80:0000:0000:0000:0001:0002:0003:0004"}}) {
        uint16_t groups[8];
        ASSERT_EQ(ipv6_hexstring_to_bytes(text, groups), 0) << text;
        EXPECT_STREQ(ipv6_addr_to_hex_string(groups), hex);
    }
    uint16_t untouched[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    for (const char* bad : {"", "10.0.0.1", "2001:db8::1::2", "gggg::1", "1:2:3:4:5:6:7:8:9"}) {
        EXPECT_EQ(ipv6_hexstring_to_bytes(bad, untouched), -1) << bad;
    }
    EXPECT_EQ(untouched[0], 7);
}
