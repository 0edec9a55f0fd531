// Byte order on every target the daemon is built for (`make test-cross` runs
// the unit tests under qemu on ARM and big-endian MIPS).  Switch messages are
// big-endian whatever the CPU: the same value gives the same bytes everywhere
// (as the literals of wire_test and switch_comm_util_test say).  Local records
// carry their integers in host order, both ends sharing the host: the same
// record has other bytes on a big-endian AP.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

#include "wire/wire.hpp"

using bytes = std::vector<uint8_t>;

namespace {

constexpr bool kLittle = std::endian::native == std::endian::little;

// The bytes of `v` at `width` bytes in this CPU's order, built by shifting:
// what a local record holds on this host.
bytes host_order(uint64_t v, size_t width) {
    bytes b(width);
    for (size_t i = 0; i < width; ++i)
        b[i] = static_cast<uint8_t>(v >> 8 * (kLittle ? i : width - 1 - i));
    return b;
}

// Values whose bytes all differ, at 16 and 32 bits, with their big-endian bytes.
const struct {
    uint32_t value;
    size_t width;
    bytes be;
} kValues[] = {
    {0x0102, 2, {0x01, 0x02}},
    {0xA1B2, 2, {0xA1, 0xB2}},
    {0x01020304, 4, {0x01, 0x02, 0x03, 0x04}},
    {0xF1E2D3C4, 4, {0xF1, 0xE2, 0xD3, 0xC4}},
};

}  // namespace

// The helper itself, against literals of both orders (the one of this CPU
// chosen) and against what the CPU stores.
TEST(ByteOrder, HostOrderOfThisCpu) {
    EXPECT_EQ(host_order(0x01020304, 4),
              kLittle ? bytes({0x04, 0x03, 0x02, 0x01}) : bytes({0x01, 0x02, 0x03, 0x04}));
    const uint32_t v = 0xF1E2D3C4;
    EXPECT_EQ(bytes(reinterpret_cast<const uint8_t*>(&v), reinterpret_cast<const uint8_t*>(&v) + 4),
              host_order(v, 4));
}

// Every value: the switch message writers give its big-endian bytes and the
// local record writers its host-order bytes; the readers of each take them back.
TEST(ByteOrder, SwitchMessagesBigEndianLocalRecordsHostOrder) {
    for (const auto& r : kValues) {
        SCOPED_TRACE(testing::Message() << std::hex << r.value);
        const bool w16 = r.width == 2;
        const auto v16 = static_cast<uint16_t>(r.value);
        for (const bool host : {false, true}) {
            const bytes want = host ? host_order(r.value, r.width) : r.be;
            uint8_t out[4] = {};
            wire_writer w = wire_writer_make(out, sizeof out);
            EXPECT_TRUE(host ? (w16 ? wire_put_host16(w, v16) : wire_put_host32(w, r.value))
                             : (w16 ? wire_put_be16(w, v16) : wire_put_be32(w, r.value)));
            EXPECT_EQ(bytes(out, out + w.pos), want) << (host ? "host order" : "big-endian");
            wire_reader rd = wire_reader_make(want.data(), want.size());
            uint16_t got16 = 0;
            uint32_t got32 = 0;
            EXPECT_TRUE(host ? (w16 ? wire_read_host16(rd, got16) : wire_read_host32(rd, got32))
                             : (w16 ? wire_read_be16(rd, got16) : wire_read_be32(rd, got32)));
            EXPECT_EQ(got16 | got32, r.value) << (host ? "host order" : "big-endian");
        }
    }
}
