// The element writers of the statistics messages: every element's bytes,
// big-endian whatever the host's byte order (the expected bytes are built
// from the record's values, so the same test holds on every target).
#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

#include "stats/map_stats.hpp"
#include "support/bytes.hpp"

using namespace mapd_test;

namespace {

const bytes kOwnMac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};

// Expected bytes: each value big-endian at its own width (a 64-bit counter
// thus high word first), arrays element by element.
struct ex {
    bytes b;
    template <typename... T>
    ex& be(const T&... v) {
        (put(v), ...);
        return *this;
    }
    template <typename T>
    void put(const T& v) {
        if constexpr (std::is_array_v<T>) {
            for (const auto& x : v)
                put(x);
        } else {
            for (int i = sizeof v - 1; i >= 0; --i)
                b.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> 8 * i));
        }
    }
};
ex h(uint16_t type, uint16_t len) {
    return ex().be(type, len);
}

// A record whose bytes all differ from their neighbours, so that a field
// written in the place of another shows.
template <typename T>
T patterned() {
    T t;
    auto* p = reinterpret_cast<uint8_t*>(&t);
    for (size_t i = 0; i < sizeof t; ++i)
        p[i] = static_cast<uint8_t>(i * 7 + (i >> 8) * 3 + 1);
    return t;
}

}  // namespace

TEST(StatsElements, EachElementByteByByte) {
    const auto g = patterned<map_global_stats>();
    const auto r = patterned<map_radio_stats>();
    const auto v = patterned<map_vap_stats>();
    const auto c = patterned<map_client_stats>();
    const auto& s = v.ts_status;
    uint8_t o[512];
    auto got = [&](size_t n) { return bytes(o, o + n); };
    EXPECT_EQ(got(map_cs_built_stats_header(o, kOwnMac.data(), 300)),
              (bytes{0, 7, 0x01, 0x3A, 0x21, 0x02, 0, 6} + kOwnMac));
    EXPECT_EQ(
        got(map_cs_global_stats_to_buffer(g, o)),
        h(0x2103, 260)
            .be(g.uptime, g.wl_rx_packets, g.wl_rx_bytes, g.wl_tx_packets, g.wl_tx_bytes,
                g.eth_rx_packets, g.eth_rx_bytes, g.eth_rx_mcast, g.eth_tx_packets, g.eth_tx_bytes,
                g.eth_tx_errors, g.eth_rx_errors, g.wl_drop_tx_bytes, g.wl_drop_rx_bytes,
                g.wl_drop_tx_packets, g.wl_drop_rx_packets)
            .be(g.cl2.tx_bytes, g.cl2.tx_packets, g.cl2.tx_mcast, g.cl2.rx_bytes, g.cl2.rx_packets,
                g.cl2.rx_mcast, g.l2_max_tunnels, g.l2_vlan_max_tunnels, g.dl2.tx_bytes,
                g.dl2.tx_packets, g.dl2.tx_mcast, g.dl2.rx_bytes, g.dl2.rx_packets, g.dl2.rx_mcast,
                g.dl2_num_tunnels, g.dl2_clients_home, g.dl2_clients_assoc,
                g.dl2_total_roamed_clients, g.dl2_roamed_clients_idle, g.dl2_roamed_clients_age,
                g.dl2_setup_denies_max_cli, g.dl2_setup_denies_max_rep)
            .b);
    EXPECT_EQ(got(map_cs_global_stats_2_to_buffer(g, o)),
              h(0x2107, 12).be(g.arp_bc_2_uc, g.arp_req_filtered, g.arp_bc).b);
    EXPECT_EQ(got(map_cs_global_ts_sum_stats_to_buffer(g, o)), h(0x2113, 32).be(g.ts_summary).b);
    EXPECT_EQ(got(map_cs_global_ts_status_to_buffer(g, o)), h(0x2117, 24).be(g.ts_status).b);
    EXPECT_EQ(got(map_cs_ap_ts_stats_to_buffer(g.ts, 0x2116, 2, 3, o)),
              h(0x2116, 66)
                  .be(uint8_t{2}, uint8_t{3}, g.ts[0].rx_packets, g.ts[0].rx_bytes,
                      g.ts[0].tx_packets, g.ts[0].tx_bytes, g.ts[1].rx_packets, g.ts[1].rx_bytes,
                      g.ts[1].tx_packets, g.ts[1].tx_bytes)
                  .b);
    EXPECT_EQ(got(map_cs_ts_status_to_buffer(s, 0x2119, 1, 5, o)),
              h(0x2119, 54)
                  .be(uint8_t{1}, uint8_t{5}, s[0].lead, uint8_t{0}, s[0].word, s[1].lead,
                      uint8_t{0}, s[1].word)
                  .b);
    EXPECT_EQ(got(map_cs_radio_stats_to_buffer(r, 2, o)),
              h(0x2104, 139)
                  .be(uint8_t{2}, r.mac, r.channel, r.tx_power, r.channel_util, r.rx_packets,
                      r.rx_bytes, r.tx_packets, r.tx_bytes, r.dot11, r.drop_tx_bytes,
                      r.drop_rx_bytes, r.drop_tx_packets, r.drop_rx_packets)
                  .b);
    EXPECT_EQ(
        got(map_cs_vap_stats_to_buffer(v, 2, 3, o)),
        h(0x2105, 74)
            .be(uint8_t{2}, uint8_t{3}, v.auth_fail, v.rx_packets, v.rx_bytes, v.tx_packets,
                v.tx_bytes, v.drop_tx_bytes, v.drop_rx_bytes, v.drop_tx_packets, v.drop_rx_packets)
            .b);
    EXPECT_EQ(got(map_cs_client_association_to_buffer(c, o)),
              h(0x2106, 108)
                  .be(c.mac, c.txrate, c.rx_packets, c.rx_bytes, c.tx_packets, c.tx_bytes,
                      c.last_rssi, c.rx_duplicates, c.rx_fragments, c.tx_fragments,
                      c.tx_retry_count, c.tx_retry_failed, c.inactive_msec, c.drop_tx_bytes,
                      c.drop_rx_bytes, c.drop_tx_packets, c.drop_rx_packets, uint16_t{0}, c.ip_addr)
                  .b);
    EXPECT_EQ(got(map_cs_client_name_to_buffer(c, o)),
              h(0x210B, 21).be(c.mac).b + bytes(c.nb_name, c.nb_name + 15));
    EXPECT_EQ(got(map_cs_client_association_stats_2_to_buffer(c, o)),
              h(0x2110, 14).be(c.mac, c.ts_violate_rx_packets, c.ts_violate_tx_packets).b);
    map_client_stats k{};
    memcpy(k.mac, "\1\2\3\4\5\6", 6);
    k.ts[2] = {0x0102030405060708, 9, 0x1000000000, 11, 1, 6, 3, 1, 0xA0B0C0D0};
    EXPECT_EQ(got(map_cs_client_association_tspec_to_buffer(k, 2, o)),
              (bytes{0x21, 0x11, 0, 46, 1, 2, 3, 4, 5, 6, 0, 6,  3,    1,    1,    2,   3,
                     4,    5,    6, 7,  8, 0, 0, 0, 0, 0, 0, 0,  9,    0,    0,    0,   0x10,
                     0,    0,    0, 0,  0, 0, 0, 0, 0, 0, 0, 11, 0xA0, 0xB0, 0xC0, 0xD0}));
}
