#include "wire/wire.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

using bytes = std::vector<uint8_t>;

TEST(WireReader, ReadsNeverPassTheEndAndNeverMoveOnFailure) {
    const uint8_t data[] = {0x12, 0x34, 0x56, 0x78, 0x9a};
    enum op { U8, BE16, BE32, COPY, SKIP };
    const struct {
        size_t start;
        op what;
        size_t n;  // bytes taken
        bool ok;
        uint32_t value;  // read (the first byte of a copy)
    } rows[] = {
        {0, U8, 1, true, 0x12},         {4, U8, 1, true, 0x9a},   {5, U8, 1, false, 0},
        {3, BE16, 2, true, 0x789a},     {4, BE16, 2, false, 0},   {2, BE32, 4, false, 0},
        {1, BE32, 4, true, 0x3456789a}, {0, COPY, 5, true, 0x12}, {1, COPY, 5, false, 0},
        {5, COPY, 0, true, 0},          {2, SKIP, 3, true, 0},    {1, SKIP, SIZE_MAX, false, 0},
    };
    for (const auto& r : rows) {
        wire_reader rd = wire_reader_make(data, sizeof data);
        rd.pos = r.start;
        uint8_t u8 = 0, copy[8] = {};
        uint16_t u16 = 0;
        uint32_t u32 = 0;
        const bool ok = r.what == U8     ? wire_read_u8(rd, u8)
                        : r.what == BE16 ? wire_read_be16(rd, u16)
                        : r.what == BE32 ? wire_read_be32(rd, u32)
                        : r.what == COPY ? wire_read_bytes(rd, copy, r.n)
                                         : wire_skip(rd, r.n);
        const uint32_t value = u8 | u16 | u32 | copy[0];
        SCOPED_TRACE(testing::Message() << "op " << r.what << " at " << r.start);
        EXPECT_EQ(std::tuple(ok, rd.pos, value),
                  std::tuple(r.ok, r.ok ? r.start + r.n : r.start, r.value));
    }
    EXPECT_EQ(wire_remaining(wire_reader_make(nullptr, 100)), 0u) << "a null buffer has nothing";
}

TEST(WireWriter, NoRoomWritesNothing) {
    uint8_t buf[6] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    wire_writer w = wire_writer_make(buf, 5);
    EXPECT_TRUE(wire_put_be32(w, 0x01020304));
    EXPECT_FALSE(wire_put_be16(w, 0x0506));
    EXPECT_TRUE(w.overflow);
    EXPECT_TRUE(wire_put_u8(w, 0x07));
    EXPECT_FALSE(wire_put_u8(w, 0x08));
    EXPECT_EQ(bytes({1, 2, 3, 4, 7, 0xAA}), bytes(buf, buf + 6)) << "never past the capacity";
}

// The walk reads a header while 4 bytes remain and never reads a value past
// the end; a value shorter than its header claims is reported as incomplete.
TEST(WireElements, WalkReportsShortValues) {
    using elem = std::tuple<uint16_t, uint16_t, size_t, bool>;  // type, len, have, complete
    const struct {
        bytes body;
        std::vector<elem> elems;
    } rows[] = {
        {{}, {}},
        {{0, 1, 0, 1, 1, 0, 3, 0}, {{1, 1, 1, true}}},
        {{0, 1, 0, 1, 1, 0, 3, 0, 2, 0, 1}, {{1, 1, 1, true}, {3, 2, 2, true}}},
        {{1, 0, 0, 18, 0, 0, 0}, {{256, 18, 3, false}}},
        {{0, 0, 0, 0, 0, 5, 0, 0}, {{0, 0, 0, true}, {5, 0, 0, true}}},
        {{0xff, 0xff, 0xff, 0xff}, {{0xffff, 0xffff, 0, false}}},
    };
    for (const auto& r : rows) {
        wire_reader rd = wire_reader_make(r.body.data(), r.body.size());
        std::vector<elem> seen;
        for (wire_elem e; wire_elem_next(rd, e);) {
            seen.emplace_back(e.type, e.len, e.value.size(), e.complete);
        }
        EXPECT_EQ(seen, r.elems);
    }
}

// A value read at a fixed size is taken only when that many of its bytes were
// received, whatever the element's header claims (6 bytes, 3 in the first 7).
TEST(WireElements, FixedSizeTakesOnlyWhatIsPresent) {
    const uint8_t buf[16] = {0, 33, 0, 6, 1, 2, 3, 9, 9, 9};
    for (auto [received, n, ok] :
         {std::tuple{7, 3, true}, {7, 4, false}, {7, 6, false}, {10, 6, true}}) {
        wire_reader rd = wire_reader_make(buf, static_cast<size_t>(received));
        wire_elem e;
        uint8_t out[6] = {};
        ASSERT_TRUE(wire_elem_next(rd, e));
        EXPECT_EQ(wire_elem_fixed(e, out, static_cast<size_t>(n)), ok) << received << " " << n;
        EXPECT_EQ(out[2], ok ? 3 : 0);
    }
}

TEST(WireMessage, LengthIsPatchedAndOverflowReportsZero) {
    uint8_t buf[32];
    wire_msg m;
    ASSERT_TRUE(wire_msg_begin(m, buf, sizeof buf, 25));
    ASSERT_EQ(wire_msg_finish(m), 4u);
    EXPECT_EQ(bytes({0x00, 0x19, 0x00, 0x04}), bytes(buf, buf + 4)) << "a keepalive ack";

    memset(buf, 0xEE, sizeof buf);
    ASSERT_TRUE(wire_msg_begin(m, buf, sizeof buf, 1));
    ASSERT_TRUE(wire_msg_add_u8(m, 1, 2));
    ASSERT_TRUE(wire_msg_add_be16(m, 3, 1));
    ASSERT_TRUE(wire_msg_add_be32(m, 0x3001, 20));
    ASSERT_TRUE(wire_msg_add(m, 33, nullptr, 2));
    ASSERT_EQ(wire_msg_finish(m), 29u);
    EXPECT_EQ(bytes({0,    1, 0, 29, 0, 1, 0,  1, 2,  0, 3, 0, 2, 0, 1, 0x30,
                     0x01, 0, 4, 0,  0, 0, 20, 0, 33, 0, 2, 0, 0, 0, 0, 0}),
              bytes(buf, buf + 32))
        << "zeroed buffer, elements, patched length";

    ASSERT_TRUE(wire_msg_begin(m, buf, 10, 2));
    EXPECT_FALSE(wire_msg_add(m, 1, nullptr, 3)) << "4 + 3 bytes do not fit in 6";
    EXPECT_EQ(wire_msg_finish(m), 0u);
}

TEST(WireValueForms, IpElementAndSwitchAddress) {
    uint8_t v[MAP_IP_ELEM_LEN];
    map_ip_elem_encode(0xC0A8010A, 0xFFFFFF00, v);  // 192.168.1.10/24
    EXPECT_EQ(bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xA8, 0x01, 0x0A, 24}),
              bytes(v, v + 18));
    uint8_t family = 9;
    uint32_t ip = 0, mask = 0;
    map_ip_elem_decode(v, &family, &ip, &mask);
    EXPECT_EQ(std::tuple(family, ip, mask), std::tuple(uint8_t{0}, 0xC0A8010Au, 0xFFFFFF00u));

    uint8_t s[MAP_SWITCH_ADDR_LEN];
    map_switch_addr_encode(map_switch_addr_from_ipv4(0x0A010203), s);
    EXPECT_EQ(bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 1, 2, 3}), bytes(s, s + 17));
}
