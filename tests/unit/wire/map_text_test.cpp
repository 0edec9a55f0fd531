#include "wire/map_text.hpp"

#include <gtest/gtest.h>

#include <string>

TEST(MapText, PrefixAndMask) {
    struct row {
        uint32_t prefix;
        uint32_t mask;
    };
    const row rows[] = {{0, 0},           {1, 0x80000000}, {8, 0xFF000000}, {24, 0xFFFFFF00},
                        {31, 0xFFFFFFFE}, {32, 0xFFFFFFFF}, {33, 0},         {255, 0}};
    for (const auto& r : rows) {
        EXPECT_EQ(map_ipv4_prefix_to_mask_convert(r.prefix), r.mask) << r.prefix;
        if (r.prefix <= 32) {
            EXPECT_EQ(map_ipv4_mask_to_prefix_convert(r.mask), r.prefix) << r.prefix;
        }
    }
    EXPECT_EQ(map_ipv4_mask_to_prefix_convert(0xFF00FF00), 16u) << "non-contiguous: bits counted";
    EXPECT_EQ(map_ipv4_mask_to_prefix_convert(0x00000001), 1u);
}

TEST(MapText, AddressTexts) {
    const uint8_t mac[6] = {0x00, 0x0A, 0xbc, 0xDE, 0xf0, 0x01};
    EXPECT_STREQ(mac_to_string(mac), "00:0a:bc:de:f0:01");
    EXPECT_STREQ(ip_addr_to_string(0xC0A8010A), "192.168.1.10");
    EXPECT_STREQ(ip_addr_to_string(0), "0.0.0.0");
    EXPECT_STREQ(ip_addr_to_string(0xFFFFFFFF), "255.255.255.255");

    // One shared buffer: a second call replaces the first result.
    const char* first = mac_to_string(mac);
    std::string copy = first;
    ip_addr_to_string(0x7F000001);
    EXPECT_STREQ(first, "127.0.0.1");
    EXPECT_EQ(copy, "00:0a:bc:de:f0:01");
}

TEST(MapText, Ipv6BothDirectionsAgree) {
    uint8_t addr[16] = {0x20, 0x01, 0x0d, 0xb8};
    addr[15] = 1;
    EXPECT_STREQ(ipv6_addr_to_string(addr), "2001:db8::1");

    const char* inputs[] = {"2001:db8::1", "::", "fe80::1:2:3:4", "::ffff:10.0.0.1",
                            "2001:0db8:0000:0000:0000:0000:0000:0001"};
    for (const char* in : inputs) {
        uint16_t groups[8];
        ASSERT_EQ(ipv6_hexstring_to_bytes(in, groups), 0) << in;
        std::string hex = ipv6_addr_to_hex_string(groups);
        EXPECT_EQ(hex.size(), 39u) << hex;
        uint16_t again[8];
        ASSERT_EQ(ipv6_hexstring_to_bytes(hex.c_str(), again), 0) << hex;
        EXPECT_EQ(0, memcmp(groups, again, sizeof groups)) << in;
    }
    uint16_t g[8];
    ASSERT_EQ(ipv6_hexstring_to_bytes("2001:db8::1", g), 0);
    EXPECT_EQ(g[0], 0x2001);
    EXPECT_EQ(g[1], 0x0db8);
    EXPECT_EQ(g[7], 0x0001);
    EXPECT_STREQ(ipv6_addr_to_hex_string(g), "2001:0db8:0000:0000:0000:0000:0000:0001");

    uint16_t untouched[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    for (const char* bad : {"", "10.0.0.1", "2001:db8::1::2", "gggg::1", "1:2:3:4:5:6:7:8:9"}) {
        EXPECT_EQ(ipv6_hexstring_to_bytes(bad, untouched), -1) << bad;
    }
    EXPECT_EQ(untouched[0], 7);
    EXPECT_EQ(ipv6_hexstring_to_bytes(nullptr, untouched), -1);
}

TEST(MapText, StatusAndRateTexts) {
    EXPECT_STREQ(auth_status_to_string(1), "AUTHENTICATED");
    EXPECT_STREQ(auth_status_to_string(2), "NOT AUTHENTICATED");
    EXPECT_STREQ(auth_status_to_string(0), "UNKNOWN");
    EXPECT_STREQ(assoc_status_to_string(2), "NOT ASSOCIATED");
    EXPECT_STREQ(assoc_status_to_string(3), "UNKNOWN");
    EXPECT_STREQ(rate_to_string(55), "5.5 MBS");
    EXPECT_STREQ(rate_to_string(540), "54 MBS");
    EXPECT_STREQ(rate_to_string(54), "UNKNOWN");
}
