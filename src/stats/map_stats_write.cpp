// The element writers of the statistics messages: each statistics record
// as one element, big-endian whatever the host's byte order (64-bit counters
// as two 32-bit words, high word first).  They only write bytes, so they
// build without the rest of the daemon.
#include <cstring>

#include "stats/map_stats.hpp"
#include "stats/map_stats_elems.hpp"
#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

using namespace map_stats_elems;

namespace {

// A writer over exactly one element, its header written.
wire_writer elem_begin(uint8_t* out, uint16_t type, uint16_t len) {
    wire_writer w = wire_writer_make(out, kHdr + len);
    wire_put_be16(w, type);
    wire_put_be16(w, len);
    return w;
}

void put64(wire_writer& w, uint64_t v) {
    wire_put_be32(w, static_cast<uint32_t>(v >> 32));
    wire_put_be32(w, static_cast<uint32_t>(v));
}

void put_tunnel(wire_writer& w, const map_tunnel_traffic& t) {
    for (uint64_t v :
         {t.tx_bytes, t.tx_packets, t.tx_mcast, t.rx_bytes, t.rx_packets, t.rx_mcast}) {
        put64(w, v);
    }
}

}  // namespace

// ---- element writers -----------------------------------------------------------------

size_t map_cs_built_stats_header(uint8_t* out, const uint8_t* ap_mac, size_t elements_len) {
    wire_writer w = wire_writer_make(out, MAP_STATS_HDR_LEN);
    wire_put_be16(w, SWITCH_STATS);
    wire_put_be16(w, static_cast<uint16_t>(MAP_STATS_HDR_LEN + elements_len));
    wire_put_be16(w, kElemApMac);
    wire_put_be16(w, 6);
    wire_put_bytes(w, ap_mac, 6);
    return w.pos;
}

size_t map_cs_global_stats_to_buffer(const map_global_stats& g, uint8_t* out) {
    wire_writer w = elem_begin(out, kElemGlobal, kGlobalLen);
    wire_put_be32(w, g.uptime);
    for (uint64_t v : {g.wl_rx_packets, g.wl_rx_bytes, g.wl_tx_packets, g.wl_tx_bytes,
                       g.eth_rx_packets, g.eth_rx_bytes, g.eth_rx_mcast, g.eth_tx_packets,
                       g.eth_tx_bytes, g.eth_tx_errors, g.eth_rx_errors, g.wl_drop_tx_bytes,
                       g.wl_drop_rx_bytes, g.wl_drop_tx_packets, g.wl_drop_rx_packets}) {
        put64(w, v);
    }
    put_tunnel(w, g.cl2);
    wire_put_be32(w, g.l2_max_tunnels);
    wire_put_be32(w, g.l2_vlan_max_tunnels);
    put_tunnel(w, g.dl2);
    for (uint32_t v :
         {g.dl2_num_tunnels, g.dl2_clients_home, g.dl2_clients_assoc, g.dl2_total_roamed_clients,
          g.dl2_roamed_clients_idle, g.dl2_roamed_clients_age, g.dl2_setup_denies_max_cli,
          g.dl2_setup_denies_max_rep}) {
        wire_put_be32(w, v);
    }
    return w.pos;
}

size_t map_cs_global_stats_2_to_buffer(const map_global_stats& g, uint8_t* out) {
    wire_writer w = elem_begin(out, kElemGlobal2, kGlobal2Len);
    wire_put_be32(w, g.arp_bc_2_uc);
    wire_put_be32(w, g.arp_req_filtered);
    wire_put_be32(w, g.arp_bc);
    return w.pos;
}

size_t map_cs_global_ts_sum_stats_to_buffer(const map_global_stats& g, uint8_t* out) {
    wire_writer w = elem_begin(out, kElemTsSummary, kTsSummaryLen);
    for (const auto& ac : g.ts_summary) {
        for (uint32_t v : ac)
            wire_put_be32(w, v);
    }
    return w.pos;
}

size_t map_cs_ap_ts_stats_to_buffer(const map_ts_counters* ts, uint16_t type, uint8_t radio,
                                    uint8_t vap, uint8_t* out) {
    wire_writer w = elem_begin(out, type, kTsCountersLen);
    wire_put_u8(w, radio);
    wire_put_u8(w, vap);
    for (int ac = 0; ac < MAP_STATS_ACS; ++ac) {
        put64(w, ts[ac].rx_packets);
        put64(w, ts[ac].rx_bytes);
        put64(w, ts[ac].tx_packets);
        put64(w, ts[ac].tx_bytes);
    }
    return w.pos;
}

size_t map_cs_global_ts_status_to_buffer(const map_global_stats& g, uint8_t* out) {
    wire_writer w = elem_begin(out, kElemGlobalTsStatus, kGlobalTsStatusLen);
    for (const auto& ac : g.ts_status) {
        for (uint32_t v : ac)
            wire_put_be32(w, v);
    }
    return w.pos;
}

size_t map_cs_radio_stats_to_buffer(const map_radio_stats& r, uint8_t radio, uint8_t* out) {
    wire_writer w = elem_begin(out, kElemRadio, kRadioLen);
    wire_put_u8(w, radio);
    wire_put_bytes(w, r.mac, sizeof r.mac);
    wire_put_be32(w, r.channel);
    wire_put_be32(w, r.tx_power);
    wire_put_be32(w, r.channel_util);
    for (uint64_t v : {r.rx_packets, r.rx_bytes, r.tx_packets, r.tx_bytes})
        put64(w, v);
    for (uint32_t v : r.dot11)
        wire_put_be32(w, v);
    for (uint64_t v : {r.drop_tx_bytes, r.drop_rx_bytes, r.drop_tx_packets, r.drop_rx_packets}) {
        put64(w, v);
    }
    return w.pos;
}

size_t map_cs_ts_status_to_buffer(const map_ts_status* st, uint16_t type, uint8_t radio,
                                  uint8_t vap, uint8_t* out) {
    wire_writer w = elem_begin(out, type, kTsStatusLen);
    wire_put_u8(w, radio);
    wire_put_u8(w, vap);
    for (int ac = 0; ac < MAP_STATS_ACS; ++ac) {
        wire_put_u8(w, st[ac].lead);
        wire_put_u8(w, 0);
        for (uint32_t v : st[ac].word)
            wire_put_be32(w, v);
    }
    return w.pos;
}

size_t map_cs_vap_stats_to_buffer(const map_vap_stats& v, uint8_t radio, uint8_t vap,
                                  uint8_t* out) {
    wire_writer w = elem_begin(out, kElemVap, kVapLen);
    wire_put_u8(w, radio);
    wire_put_u8(w, vap);
    wire_put_be32(w, v.auth_fail[0]);
    wire_put_be32(w, v.auth_fail[1]);
    for (uint64_t x : {v.rx_packets, v.rx_bytes, v.tx_packets, v.tx_bytes, v.drop_tx_bytes,
                       v.drop_rx_bytes, v.drop_tx_packets, v.drop_rx_packets}) {
        put64(w, x);
    }
    return w.pos;
}

size_t map_cs_client_association_to_buffer(const map_client_stats& c, uint8_t* out) {
    wire_writer w = elem_begin(out, kElemClient, kClientLen);
    wire_put_bytes(w, c.mac, sizeof c.mac);
    wire_put_be32(w, c.txrate);
    for (uint64_t v : {c.rx_packets, c.rx_bytes, c.tx_packets, c.tx_bytes})
        put64(w, v);
    for (uint32_t v : {c.last_rssi, c.rx_duplicates, c.rx_fragments, c.tx_fragments,
                       c.tx_retry_count, c.tx_retry_failed, c.inactive_msec}) {
        wire_put_be32(w, v);
    }
    for (uint64_t v : {c.drop_tx_bytes, c.drop_rx_bytes, c.drop_tx_packets, c.drop_rx_packets}) {
        put64(w, v);
    }
    wire_put_zeros(w, 2);  // reserved
    wire_put_be32(w, c.ip_addr);
    return w.pos;
}

size_t map_cs_client_name_to_buffer(const map_client_stats& c, uint8_t* out) {
    wire_writer w = elem_begin(out, kElemClientName, kClientNameLen);
    wire_put_bytes(w, c.mac, sizeof c.mac);
    wire_put_bytes(w, c.nb_name, kClientNameBytes);
    return w.pos;
}

size_t map_cs_client_association_stats_2_to_buffer(const map_client_stats& c, uint8_t* out) {
    wire_writer w = elem_begin(out, kElemClient2, kClient2Len);
    wire_put_bytes(w, c.mac, sizeof c.mac);
    wire_put_be32(w, c.ts_violate_rx_packets);
    wire_put_be32(w, c.ts_violate_tx_packets);
    return w.pos;
}

size_t map_cs_client_association_tspec_to_buffer(const map_client_stats& c, int slot,
                                                 uint8_t* out) {
    if (slot < 0 || slot >= MAP_STATS_CLIENT_TS_SLOTS) {
        return 0;
    }
    const map_client_ts& t = c.ts[slot];
    wire_writer w = elem_begin(out, kElemClientTs, kClientTsLen);
    wire_put_bytes(w, c.mac, sizeof c.mac);
    wire_put_u8(w, 0);
    wire_put_u8(w, t.tid);
    wire_put_u8(w, t.ac);
    wire_put_u8(w, t.direction);
    for (uint64_t v : {t.rx_packets, t.rx_bytes, t.tx_packets, t.tx_bytes})
        put64(w, v);
    wire_put_be32(w, t.excess_usage_events);
    return w.pos;
}
