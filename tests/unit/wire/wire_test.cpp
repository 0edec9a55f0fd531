#include "wire/wire.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int b : v) out.push_back(static_cast<uint8_t>(b));
    return out;
}

}  // namespace

TEST(WireReader, ReadsNeverPassTheEndAndNeverMoveOnFailure) {
    const auto data = bytes({0x12, 0x34, 0x56, 0x78, 0x9a});
    struct row {
        size_t start;
        int width;  // 1, 2, 4 or -n for a copy of n bytes
        bool ok;
    };
    const row rows[] = {
        {0, 1, true}, {4, 1, true},  {5, 1, false}, {3, 2, true},  {4, 2, false},
        {1, 4, true}, {2, 4, false}, {0, -5, true}, {1, -5, false}, {5, -0, true},
    };
    for (const auto& r : rows) {
        wire_reader rd = wire_reader_make(data.data(), data.size());
        rd.pos = r.start;
        bool ok = false;
        uint8_t u8;
        uint16_t u16;
        uint32_t u32;
        uint8_t copy[8];
        switch (r.width) {
            case 1: ok = wire_read_u8(rd, u8); break;
            case 2: ok = wire_read_be16(rd, u16); break;
            case 4: ok = wire_read_be32(rd, u32); break;
            default: ok = wire_read_bytes(rd, copy, static_cast<size_t>(-r.width)); break;
        }
        EXPECT_EQ(ok, r.ok) << "start " << r.start << " width " << r.width;
        size_t moved = r.width > 0 ? static_cast<size_t>(r.width) : static_cast<size_t>(-r.width);
        EXPECT_EQ(rd.pos, r.ok ? r.start + moved : r.start);
    }
}

TEST(WireReader, ByteOrders) {
    const auto data = bytes({0x00, 0x19, 0x00, 0x04, 0xde, 0xad, 0xbe, 0xef});
    wire_reader rd = wire_reader_make(data.data(), data.size());
    uint16_t t = 0, l = 0;
    uint32_t v = 0;
    ASSERT_TRUE(wire_read_be16(rd, t) && wire_read_be16(rd, l) && wire_read_be32(rd, v));
    EXPECT_EQ(t, 25);
    EXPECT_EQ(l, 4);
    EXPECT_EQ(v, 0xdeadbeefu);
    rd.pos = 4;
    uint32_t h = 0;
    ASSERT_TRUE(wire_read_host32(rd, h));
    uint32_t expect;
    memcpy(&expect, data.data() + 4, 4);
    EXPECT_EQ(h, expect);
    wire_reader empty = wire_reader_make(nullptr, 100);
    EXPECT_EQ(wire_remaining(empty), 0u) << "a null buffer has nothing to read";
}

TEST(WireWriter, NoRoomWritesNothing) {
    uint8_t buf[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    wire_writer w = wire_writer_make(buf, 5);
    EXPECT_TRUE(wire_put_be32(w, 0x01020304));
    EXPECT_FALSE(wire_put_be16(w, 0x0506));
    EXPECT_TRUE(w.overflow);
    EXPECT_EQ(buf[4], 0xAA) << "a refused write leaves the buffer alone";
    EXPECT_TRUE(wire_put_u8(w, 0x07));
    EXPECT_FALSE(wire_put_u8(w, 0x08));
    EXPECT_EQ(buf[5], 0xAA) << "never past the capacity";
    EXPECT_EQ(bytes({1, 2, 3, 4, 7}), std::vector<uint8_t>(buf, buf + 5));
}

TEST(WireWriter, TextFieldsArePaddedOrCut) {
    uint8_t buf[12];
    wire_writer w = wire_writer_make(buf, sizeof buf);
    ASSERT_TRUE(wire_put_text_field(w, "ab", 4));
    ASSERT_TRUE(wire_put_text_field(w, "abcdefgh", 4));
    ASSERT_TRUE(wire_put_text_field(w, nullptr, 4));
    EXPECT_EQ(bytes({'a', 'b', 0, 0, 'a', 'b', 'c', 'd', 0, 0, 0, 0}),
              std::vector<uint8_t>(buf, buf + 12));
    EXPECT_FALSE(wire_put_text_field(w, "x", 1));
}

TEST(WireElements, WalkStopsWithFewerThanFourBytesAndReportsShortValues) {
    struct row {
        std::vector<uint8_t> body;
        std::vector<std::tuple<uint16_t, uint16_t, size_t, bool>> elems;  // type, len, have, complete
    };
    const row rows[] = {
        {bytes({}), {}},
        {bytes({0, 1, 0}), {}},
        {bytes({0, 1, 0, 1, 1}), {{1, 1, 1, true}}},
        {bytes({0, 1, 0, 1, 1, 0, 3, 0}), {{1, 1, 1, true}}},
        {bytes({0, 1, 0, 1, 1, 0, 3, 0, 2, 0, 1}), {{1, 1, 1, true}, {3, 2, 2, true}}},
        {bytes({1, 0, 0, 18, 0, 0, 0}), {{256, 18, 3, false}}},
        {bytes({0, 0, 0, 0, 0, 5, 0, 0}), {{0, 0, 0, true}, {5, 0, 0, true}}},
        {bytes({0xff, 0xff, 0xff, 0xff}), {{0xffff, 0xffff, 0, false}}},
    };
    for (const auto& r : rows) {
        wire_reader rd = wire_reader_make(r.body.data(), r.body.size());
        wire_elem e;
        size_t i = 0;
        while (wire_elem_next(rd, e)) {
            ASSERT_LT(i, r.elems.size());
            auto [type, len, have, complete] = r.elems[i];
            EXPECT_EQ(e.type, type);
            EXPECT_EQ(e.len, len);
            EXPECT_EQ(e.value.size(), have);
            EXPECT_EQ(e.complete, complete);
            ++i;
        }
        EXPECT_EQ(i, r.elems.size());
    }
}

TEST(WireElements, FixedSizeTakesOnlyWhatIsPresent) {
    const auto body = bytes({0, 33, 0, 2, 1, 2, 3, 4, 5, 6});
    wire_reader rd = wire_reader_make(body.data(), body.size());
    wire_elem e;
    ASSERT_TRUE(wire_elem_next(rd, e));
    EXPECT_EQ(e.len, 2);
    uint8_t mac[6] = {};
    EXPECT_FALSE(wire_elem_fixed(e, mac, 6)) << "only 2 value bytes belong to the element";
    uint8_t two[2] = {};
    EXPECT_TRUE(wire_elem_fixed(e, two, 2));
    EXPECT_EQ(two[1], 2);
}

TEST(WireMessage, KeepaliveAckIsHeaderOnly) {
    uint8_t buf[16];
    wire_msg m;
    ASSERT_TRUE(wire_msg_begin(m, buf, sizeof buf, 25));
    ASSERT_EQ(wire_msg_finish(m), 4u);
    EXPECT_EQ(bytes({0x00, 0x19, 0x00, 0x04}), std::vector<uint8_t>(buf, buf + 4));
}

TEST(WireMessage, LengthIsPatchedAndOverflowReportsZero) {
    uint8_t buf[32];
    wire_msg m;
    ASSERT_TRUE(wire_msg_begin(m, buf, sizeof buf, 1));
    ASSERT_TRUE(wire_msg_add_u8(m, 1, 2));
    ASSERT_TRUE(wire_msg_add_be16(m, 3, 1));
    ASSERT_TRUE(wire_msg_add_be32(m, 0x3001, 20));
    ASSERT_EQ(wire_msg_finish(m), 4u + 5 + 6 + 8);
    EXPECT_EQ(bytes({0, 1, 0, 23, 0, 1, 0, 1, 2, 0, 3, 0, 2, 0, 1, 0x30, 0x01, 0, 4, 0, 0, 0, 20}),
              std::vector<uint8_t>(buf, buf + 23));

    wire_msg small;
    ASSERT_TRUE(wire_msg_begin(small, buf, 10, 2));
    EXPECT_FALSE(wire_msg_add(small, 1, nullptr, 3)) << "4 + 3 bytes do not fit in 6";
    EXPECT_EQ(wire_msg_finish(small), 0u);
}

TEST(WireValueForms, IpElementOf192_168_1_10Slash24) {
    uint8_t v[MAP_IP_ELEM_LEN];
    map_ip_elem_encode(0xC0A8010A, 0xFFFFFF00, v);
    EXPECT_EQ(bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xA8, 0x01, 0x0A, 24}),
              std::vector<uint8_t>(v, v + 18));
    uint8_t family = 9;
    uint32_t ip = 0, mask = 0;
    map_ip_elem_decode(v, &family, &ip, &mask);
    EXPECT_EQ(family, 0);
    EXPECT_EQ(ip, 0xC0A8010Au);
    EXPECT_EQ(mask, 0xFFFFFF00u);
    v[17] = 40;  // a prefix beyond 32 reads as no mask
    map_ip_elem_decode(v, nullptr, nullptr, &mask);
    EXPECT_EQ(mask, 0u);
}

TEST(WireValueForms, SwitchAddressBothFamilies) {
    uint8_t v[MAP_SWITCH_ADDR_LEN];
    map_switch_addr_encode(map_switch_addr_from_ipv4(0x0A010203), v);
    EXPECT_EQ(bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 1, 2, 3}),
              std::vector<uint8_t>(v, v + 17));
    map_switch_addr a;
    map_switch_addr_decode(v, a);
    EXPECT_EQ(map_switch_addr_ipv4(a), 0x0A010203u);

    uint8_t v6[MAP_SWITCH_ADDR_LEN] = {1, 0x20, 0x01, 0x0d, 0xb8};
    v6[16] = 1;
    map_switch_addr_decode(v6, a);
    EXPECT_EQ(a.is_ipv6, 1);
    EXPECT_EQ(map_switch_addr_ipv4(a), 0u) << "an IPv6 address has no IPv4 form";
    uint8_t back[MAP_SWITCH_ADDR_LEN];
    map_switch_addr_encode(a, back);
    EXPECT_EQ(0, memcmp(back, v6, sizeof v6));
}
