// Statistics reports to the switch: the interval from SWITCH_STATUS_INT, the
// countdown of the timer pass, and the SWITCH_STATS datagrams built from the
// statistics records (big-endian; 64-bit counters as two 32-bit words, high
// word first).  A report is built in fixed buffers on the stack: nothing on
// this path allocates.
#include "stats/map_stats.hpp"

#include <cstring>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "log/map_log.hpp"
#include "stats/map_proc.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "map_stats";

// Element types of the statistics messages.
constexpr uint16_t kElemInterval = 0x2101;
constexpr uint16_t kElemApMac = 0x2102;
constexpr uint16_t kElemGlobal = 0x2103;
constexpr uint16_t kElemRadio = 0x2104;
constexpr uint16_t kElemVap = 0x2105;
constexpr uint16_t kElemClient = 0x2106;
constexpr uint16_t kElemGlobal2 = 0x2107;
constexpr uint16_t kElemClientName = 0x210B;
constexpr uint16_t kElemClient2 = 0x2110;
constexpr uint16_t kElemClientTs = 0x2111;
constexpr uint16_t kElemTsSummary = 0x2113;
constexpr uint16_t kElemApTs = 0x2114;
constexpr uint16_t kElemRadioTs = 0x2115;
constexpr uint16_t kElemVapTs = 0x2116;
constexpr uint16_t kElemGlobalTsStatus = 0x2117;
constexpr uint16_t kElemRadioTsStatus = 0x2118;
constexpr uint16_t kElemVapTsStatus = 0x2119;

// Value lengths of the elements.
constexpr uint16_t kGlobalLen = 260;
constexpr uint16_t kGlobal2Len = 12;
constexpr uint16_t kTsSummaryLen = 32;
constexpr uint16_t kTsCountersLen = 66;
constexpr uint16_t kGlobalTsStatusLen = 24;
constexpr uint16_t kRadioLen = 139;
constexpr uint16_t kTsStatusLen = 54;
constexpr uint16_t kVapLen = 74;
constexpr uint16_t kClientLen = 108;
constexpr uint16_t kClientNameLen = 21;
constexpr uint16_t kClientNameBytes = 15;
constexpr uint16_t kClient2Len = 14;
constexpr uint16_t kClientTsLen = 46;

constexpr size_t kHdr = MAP_ELEM_HDR_LEN;
// What the global elements take together, and the three elements of a radio
// and of a VAP.
constexpr size_t kGlobalAll =
    5 * kHdr + kGlobalLen + kGlobal2Len + kTsSummaryLen + kTsCountersLen + kGlobalTsStatusLen;
constexpr size_t kRadioAll = 3 * kHdr + kRadioLen + kTsCountersLen + kTsStatusLen;
constexpr size_t kVapAll = 3 * kHdr + kVapLen + kTsCountersLen + kTsStatusLen;
// One client's elements at most: its record, its name, the second record
// and all four traffic streams.
constexpr size_t kClientMax = 4 * kHdr + kClientLen + kClientNameLen + kClient2Len +
                              MAP_STATS_CLIENT_TS_SLOTS * (kHdr + kClientTsLen);
static_assert(MAP_STATS_HDR_LEN + kGlobalAll + 2 * kRadioAll <= MAP_STATS_MSG_MAX);
static_assert(MAP_STATS_HDR_LEN + MAP_STATS_CLIENT_MSG_CLOSE + kClientMax <= MAP_STATS_MSG_MAX,
              "a client message that passes the threshold by one client still fits");

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

map_switch_comm* switch_record(map_cs* cs) {
    return cs != nullptr && cs->cb != nullptr ? cs->cb->switch_comm : nullptr;
}

bool established(map_cs* cs) {
    return cs != nullptr && map_handler_is_connection_established(cs->cb) == 0;
}

bool radio_present(const map_cs* cs, int index) {
    return cs->radio[index].radio_name[0] != '\0';
}

// Sends one statistics message whose elements (of `elements_len` bytes)
// follow the start at byte 14 of `buf`; 0 or -1.
int send_message(map_cs* cs, uint8_t* buf, size_t elements_len, const uint8_t* ap_mac) {
    map_cs_built_stats_header(buf, ap_mac, elements_len);
    return map_switch_comm_data_send(switch_record(cs), buf,
                                     static_cast<int>(MAP_STATS_HDR_LEN + elements_len), 0);
}

// The global elements at `out`; the bytes written.
size_t global_db_send(map_cs* cs, uint8_t* out) {
    const map_global_stats& g = cs->stats.global;
    size_t n = map_cs_global_stats_to_buffer(g, out);
    n += map_cs_global_stats_2_to_buffer(g, out + n);
    n += map_cs_global_ts_sum_stats_to_buffer(g, out + n);
    n += map_cs_ap_ts_stats_to_buffer(g.ts, kElemApTs, 0, 0, out + n);
    n += map_cs_global_ts_status_to_buffer(g, out + n);
    MAP_TRACE(MAP_TRACE_CONFIG, "Built the Global Stats (%zu bytes)", n);
    return n;
}

// The elements of each radio whose record could be built.
size_t radio_db_send(map_cs* cs, uint8_t* out) {
    size_t n = 0;
    for (int i = 0; i < MAP_CS_NUM_RADIOS; ++i) {
        if (map_cs_stats_radio_db_update(cs, i) != 0) {
            continue;
        }
        const map_radio_stats& r = cs->stats.radio[i];
        const auto radio = static_cast<uint8_t>(i + 1);
        n += map_cs_radio_stats_to_buffer(r, radio, out + n);
        n += map_cs_ap_ts_stats_to_buffer(r.ts, kElemRadioTs, radio, 0, out + n);
        n += map_cs_ts_status_to_buffer(r.ts_status, kElemRadioTsStatus, radio, 0, out + n);
        MAP_TRACE(MAP_TRACE_CONFIG, "Built the Radio Stats of radio %d", radio);
    }
    return n;
}

// The elements of each enabled VAP of the present radios, as long as they fit
// in `room` bytes.
size_t vap_db_send(map_cs* cs, uint8_t* out, size_t room) {
    map_cs_stats_vap_db_update(cs);
    size_t n = 0;
    for (int i = 0; i < MAP_CS_NUM_RADIOS; ++i) {
        if (!radio_present(cs, i) || !cs->vaps[i].vap_stats) {
            continue;
        }
        const auto radio = static_cast<uint8_t>(i + 1);
        for (int v = 0; v < cs->vaps[i].num_vaps; ++v) {
            const map_vap_config* vap = map_cs_get_vap_config(cs, radio, v);
            if (vap == nullptr) {
                MAP_ERROR("Can't update vap DB");
                continue;
            }
            if (vap->admin_mode == 0) {
                continue;
            }
            if (room - n < kVapAll) {
                MAP_ERROR("No room for the stats of radio %d vap %d", radio, v);
                return n;
            }
            const map_vap_stats& s = cs->vaps[i].vap_stats[v];
            const auto id = static_cast<uint8_t>(v);
            n += map_cs_vap_stats_to_buffer(s, radio, id, out + n);
            n += map_cs_ap_ts_stats_to_buffer(s.ts, kElemVapTs, radio, id, out + n);
            n += map_cs_ts_status_to_buffer(s.ts_status, kElemVapTsStatus, radio, id, out + n);
            MAP_TRACE(MAP_TRACE_CONFIG, "Built the VAP Stats of radio %d vap %d", radio, v);
        }
    }
    return n;
}

// One client's elements at `out`: the record, its name when it has one, the
// second record and every traffic stream in use.
size_t client_send(const map_client_stats& c, uint8_t* out) {
    size_t n = map_cs_client_association_to_buffer(c, out);
    if (c.nb_name[0] != '\0') {
        n += map_cs_client_name_to_buffer(c, out + n);
    }
    n += map_cs_client_association_stats_2_to_buffer(c, out + n);
    for (int slot = 0; slot < MAP_STATS_CLIENT_TS_SLOTS; ++slot) {
        if (c.ts[slot].in_use == 1) {
            n += map_cs_client_association_tspec_to_buffer(c, slot, out + n);
        }
    }
    return n;
}

}  // namespace

// ---- interval and timer -------------------------------------------------------------

int map_cs_process_stat_int_pkt(map_cs* cs, const uint8_t* data, int length) {
    if (!established(cs)) {
        MAP_ERROR("Invalid stats intvl pkt");
        MAP_TRACE(MAP_TRACE_CONFIG, "Invalid stats intvl pkt");
        return -1;
    }
    wire_reader r = wire_reader_make(data, length > 0 ? static_cast<size_t>(length) : 0);
    bool found = false;
    uint16_t interval = 0;
    while (!found && wire_remaining(r) >= 5) {
        wire_elem e;
        if (!wire_elem_next(r, e)) {
            return -1;
        }
        if (e.type == MAP_ELEM_MAC && e.len == 6) {
            uint8_t mac[6], own[6] = {};
            if (!wire_elem_fixed(e, mac, sizeof mac)) {
                return -1;
            }
            map_proc_get_mac_addr(own, nullptr);
            if (memcmp(mac, own, sizeof mac) != 0) {
                MAP_TRACE(MAP_TRACE_CONFIG,
                          "AP MAC Address received is not same as self MAC Address\n");
                return -1;
            }
        } else if (e.type == kElemInterval && e.len == 2) {
            uint8_t value[2];
            if (!wire_elem_fixed(e, value, sizeof value)) {
                return -1;
            }
            interval = wire_load_be16(value);
            found = true;
        } else {
            MAP_ERROR("Invalid stats intvl pkt");
        }
    }
    if (!found) {
        return -1;
    }
    // A repeated interval leaves the running countdown alone.
    if (interval != cs->stats_interval) {
        cs->stats_countdown = interval;
    }
    cs->stats_interval = interval;
    MAP_TRACE(MAP_TRACE_SWITCH, "Successfully set the Stats interval at %d\n", interval);
    return 0;
}

void map_cs_stats_check_timeout(map_cs* cs, uint32_t elapsed) {
    if (!established(cs) || cs->stats_countdown <= 0) {
        return;
    }
    const int64_t left = int64_t{cs->stats_countdown} - int64_t{elapsed};
    cs->stats_countdown = static_cast<int32_t>(left < 0 ? 0 : left);
    if (cs->stats_countdown < 1) {
        map_cs_stats_send_ap_stats(cs);  // a failure is logged; the next report comes anyway
        cs->stats_countdown = static_cast<int32_t>(cs->stats_interval);
    }
}

// ---- reports --------------------------------------------------------------------------

int map_cs_stats_send_ap_stats(map_cs* cs) {
    if (switch_record(cs) == nullptr) {
        return -1;
    }
    uint8_t buf[MAP_STATS_MSG_MAX] = {};
    uint8_t* elements = buf + MAP_STATS_HDR_LEN;
    map_cs_stats_global_db_update(cs);
    size_t n = global_db_send(cs, elements);
    n += radio_db_send(cs, elements + n);
    cs->stats.client_count = 0;
    map_proc_collect_client_association_stats(cs);
    n += vap_db_send(cs, elements + n, sizeof buf - MAP_STATS_HDR_LEN - n);
    if (send_message(cs, buf, n, cs->stats.global.ap_mac) != 0) {
        MAP_ERROR("Error in sending the Stats packet");
        return -1;
    }
    map_cs_stats_client_association_db_send(cs, cs->stats.global.ap_mac);
    return 0;
}

int map_cs_stats_client_association_db_send(map_cs* cs, const uint8_t* ap_mac) {
    if (cs == nullptr || ap_mac == nullptr) {
        return -1;
    }
    const int count = cs->stats.client_count < MAP_STATS_MAX_CLIENTS ? cs->stats.client_count
                                                                     : MAP_STATS_MAX_CLIENTS;
    if (count <= 0) {
        return 0;  // nothing collected, nothing sent
    }
    uint8_t buf[MAP_STATS_MSG_MAX];
    int next = 0;
    do {
        memset(buf, 0, sizeof buf);
        size_t n = 0;
        // Checked after each client: a message may pass the threshold by one
        // client's elements.
        while (next < count && n < MAP_STATS_CLIENT_MSG_CLOSE) {
            const map_client_stats& c = cs->stats.client[next++];
            if (c.auth == 1 && c.assoc == 1) {
                n += client_send(c, buf + MAP_STATS_HDR_LEN + n);
            }
        }
        if (send_message(cs, buf, n, ap_mac) != 0) {
            MAP_ERROR("Error in sending the client association packet");
            return -1;
        }
    } while (next < count);
    return 0;
}

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
