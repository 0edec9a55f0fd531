// Collection of the statistics records and the client statistics table.
#include <cstdio>
#include <cstring>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "log/map_log.hpp"
#include "stats/map_proc.hpp"
#include "stats/map_stats.hpp"
#include "tunnel/map_cl2tunnel.hpp"

namespace {

static constexpr char map_log_module[] = "map_stats";

// The central layer-2 tunnel's index as its module reports it (host order);
// 0, "no tunnel", when it cannot be read.
uint32_t central_tunnel_index() {
    uint8_t buf[4] = {};
    uint32_t index = 0;
    if (map_cl2tunnel_get_tunnel_index(buf) == 1) {
        memcpy(&index, buf, sizeof index);
    }
    return index;
}

// A radio is present when a configuration element of the switch named it
// (every radio element stores the radio's name; clearing the configuration
// empties it).
bool radio_present(const map_cs* cs, int index) {
    return index >= 0 && index < MAP_CS_NUM_RADIOS && cs->radio[index].radio_name[0] != '\0';
}

void ts_add(map_ts_counters* sum, const map_ts_counters* add) {
    for (int ac = 0; ac < MAP_STATS_ACS; ++ac) {
        sum[ac].rx_packets += add[ac].rx_packets;
        sum[ac].rx_bytes += add[ac].rx_bytes;
        sum[ac].tx_packets += add[ac].tx_packets;
        sum[ac].tx_bytes += add[ac].tx_bytes;
    }
}

// The eight traffic counters shared by the radio and VAP records.
template <typename R>
void copy_traffic(R& to, const map_if_stats& from) {
    to.rx_packets = from.rx_packets;
    to.rx_bytes = from.rx_bytes;
    to.tx_packets = from.tx_packets;
    to.tx_bytes = from.tx_bytes;
    to.drop_tx_bytes = from.drop_tx_bytes;
    to.drop_rx_bytes = from.drop_rx_bytes;
    to.drop_tx_packets = from.drop_tx_packets;
    to.drop_rx_packets = from.drop_rx_packets;
    memcpy(to.ts, from.ts, sizeof to.ts);
}

const map_client_entry* find_client(const map_client_table& t, const uint8_t* mac, int* index) {
    for (int i = 0; i <= t.last && i < MAP_STATS_MAX_CLIENTS; ++i) {
        if (memcmp(t.entry[i].mac, mac, 6) == 0) {
            *index = i;
            return &t.entry[i];
        }
    }
    return nullptr;
}

}  // namespace

// ---- records ----------------------------------------------------------------------

void map_cs_stats_global_db_update(map_cs* cs) {
    if (cs == nullptr)
        return;
    map_global_stats& g = cs->stats.global;
    // The traffic-stream status and summary are the TSPEC application's, kept
    // in the record between reports; everything else is rebuilt.
    uint32_t ts_summary[MAP_STATS_ACS][4];
    uint32_t ts_status[MAP_STATS_ACS][3];
    memcpy(ts_summary, g.ts_summary, sizeof ts_summary);
    memcpy(ts_status, g.ts_status, sizeof ts_status);
    g = map_global_stats{};
    memcpy(g.ts_summary, ts_summary, sizeof ts_summary);
    memcpy(g.ts_status, ts_status, sizeof ts_status);

    for (const char* radio : {"wlan0", "wlan1"}) {
        map_if_stats s{};
        if (map_proc_get_interface_stats(&s, radio) != 0)
            continue;
        g.wl_rx_packets += s.rx_packets;
        g.wl_rx_bytes += s.rx_bytes;
        g.wl_tx_packets += s.tx_packets;
        g.wl_tx_bytes += s.tx_bytes;
        g.wl_drop_rx_bytes += s.drop_rx_bytes;
        g.wl_drop_tx_bytes += s.drop_tx_bytes;
        g.wl_drop_tx_packets += s.drop_tx_packets;
        g.wl_drop_rx_packets += s.drop_rx_packets;
        g.arp_bc_2_uc += s.arp_bc_2_uc;
        g.arp_req_filtered += s.arp_req_filtered;
        g.arp_bc += s.arp_bc;
        ts_add(g.ts, s.ts);
    }
    map_if_stats eth{};
    if (map_proc_get_interface_stats(&eth, "eth0") == 0) {
        g.eth_rx_packets = eth.rx_packets;
        g.eth_rx_bytes = eth.rx_bytes;
        g.eth_rx_mcast = eth.rx_mcast;
        g.eth_tx_packets = eth.tx_packets;
        g.eth_tx_bytes = eth.tx_bytes;
        g.eth_tx_errors = eth.tx_errors;
        g.eth_rx_errors = eth.rx_errors;
    }
    map_proc_get_cl2tunnel_stats(&g, central_tunnel_index());
    map_proc_get_l2tunnel_stats(&g);
    map_proc_get_dl2tunnel_stats(&g);
    g.uptime = map_get_uptime();
    map_proc_get_mac_addr(g.ap_mac, nullptr);
}

int map_cs_stats_radio_db_update(map_cs* cs, int index) {
    if (cs == nullptr || !radio_present(cs, index)) {
        return -1;
    }
    map_radio_stats& r = cs->stats.radio[index];
    // The traffic-stream status is the TSPEC application's and stays.
    map_ts_status ts_status[MAP_STATS_ACS];
    memcpy(ts_status, r.ts_status, sizeof ts_status);
    r = map_radio_stats{};
    memcpy(r.ts_status, ts_status, sizeof ts_status);

    char name[8];
    snprintf(name, sizeof name, "wlan%d", index);
    if (map_proc_get_radio_stats(&r, name) != 0) {
        return -1;
    }
    r.tx_power = cs->radio[index].tx_power;
    MAP_TRACE(MAP_TRACE_CONFIG, "tx-Power = %d.", static_cast<int>(r.tx_power));
    map_if_stats s{};
    if (map_proc_get_interface_stats(&s, name) != 0 ||
        map_proc_get_radio_counter_stats(&r, name) != 0) {
        return -1;
    }
    copy_traffic(r, s);
    return 0;
}

void map_cs_stats_vap_db_update(map_cs* cs) {
    if (cs == nullptr)
        return;
    for (int ri = 0; ri < MAP_CS_NUM_RADIOS; ++ri) {
        map_cs_radio_vaps& vaps = cs->vaps[ri];
        if (!radio_present(cs, ri) || !vaps.vap_stats)
            continue;
        for (int v = 0; v < vaps.num_vaps; ++v) {
            const map_vap_config* cfg = map_cs_get_vap_config(cs, ri + 1, v);
            if (cfg == nullptr) {
                MAP_ERROR("Can't update vap DB");
                continue;
            }
            // An enabled VAP is one whose status the switch set up.
            if (cfg->admin_mode == 0)
                continue;
            char ifname[24];
            if (v == 0) {
                snprintf(ifname, sizeof ifname, "wlan%d", ri);
            } else {
                snprintf(ifname, sizeof ifname, "wlan%dvap%d", ri, v);
            }
            map_if_stats s{};
            if (map_proc_get_vap_stats_64bits(&s, ifname) == 0) {
                copy_traffic(vaps.vap_stats[v], s);
            }
        }
    }
}

// ---- clients ----------------------------------------------------------------------

// One slice of the table per report: about a fifth of the entries and at
// least 16, so every client is reported about every five periods.
int map_proc_collect_client_association_stats(map_cs* cs) {
    if (cs == nullptr)
        return 0;
    map_stats_db& db = cs->stats;
    memset(db.client, 0, sizeof db.client);
    db.client_count = 0;

    map_client_table& t = db.table;
    const int n = t.last + 1;
    const int start = t.next_start >= 1 ? static_cast<int>(t.next_start) : 1;
    int end = start + (2 * n) / 10;
    if (end < start + 15)
        end = start + 15;
    if (end < n) {
        t.next_start = static_cast<uint32_t>(end + 1);
    } else {
        end = n;
        t.next_start = 1;
    }
    for (int i = start - 1; i <= end - 1 && i < MAP_STATS_MAX_CLIENTS; ++i) {
        const map_client_entry& e = t.entry[i];
        if (e.auth != 1 || e.assoc != 1 || (e.radio != 1 && e.radio != 2))
            continue;
        const char* radio = e.radio == 1 ? "wlan0" : "wlan1";
        if (map_proc_get_client_stats(&db.client[db.client_count], radio, e.mac) == 0) {
            ++db.client_count;
        }
    }
    return 0;
}

void map_cs_process_assoc_cmd(map_cs* cs, int radio, const uint8_t* client_mac,
                              const uint8_t* vap_mac, int authenticated) {
    if (cs == nullptr || client_mac == nullptr) {
        MAP_ERROR("MAC address is null");
        return;
    }
    map_client_table& t = cs->stats.table;
    int i = 0;
    if (find_client(t, client_mac, &i) == nullptr) {
        if (t.last + 1 >= MAP_STATS_MAX_CLIENTS) {
            MAP_ERROR("Exceeded the max client limit for client stats");
            return;
        }
        i = ++t.last;
        t.entry[i] = map_client_entry{};
        memcpy(t.entry[i].mac, client_mac, 6);
    }
    map_client_entry& e = t.entry[i];
    e.radio = static_cast<uint8_t>(radio);
    int vap_radio = 0;
    int vap = 0;
    if (vap_mac != nullptr &&
        map_cs_get_vap_info_vap_mac_list(cs, vap_mac, &vap_radio, &vap) == 0) {
        e.vap = static_cast<uint8_t>(vap);
    }
    if (authenticated == 1) {
        e.auth = 1;
        e.assoc = 1;
    }
}

void map_cs_process_disassoc_cmd(map_cs* cs, const uint8_t* client_mac) {
    if (cs == nullptr || client_mac == nullptr) {
        MAP_ERROR("MAC address is null");
        return;
    }
    map_client_table& t = cs->stats.table;
    int i = 0;
    if (find_client(t, client_mac, &i) == nullptr)
        return;
    t.entry[i] = t.entry[t.last];
    t.entry[t.last] = map_client_entry{};
    --t.last;
}

void map_cs_process_authen_fail_cmd(map_cs* cs, const uint8_t* client_mac, const uint8_t* vap_mac,
                                    int kind) {
    if (client_mac == nullptr || vap_mac == nullptr) {
        MAP_ERROR("MAC address is null");
        return;
    }
    int radio = 0;
    int vap = 0;
    if (cs == nullptr || map_cs_get_vap_info_vap_mac_list(cs, vap_mac, &radio, &vap) != 0 ||
        !cs->vaps[radio].vap_stats) {
        return;
    }
    ++cs->vaps[radio].vap_stats[vap].auth_fail[kind == 1 ? 1 : 0];
}

void map_cs_stats_client_table_clear(map_cs* cs) {
    if (cs == nullptr)
        return;
    cs->stats.table.last = -1;
    cs->stats.table.next_start = 1;
    memset(cs->stats.table.entry, 0, sizeof cs->stats.table.entry);
    memset(cs->stats.client, 0, sizeof cs->stats.client);
    cs->stats.client_count = 0;
}

int map_cs_process_debug_dump_client_assoc_db(map_cs* cs) {
    if (cs == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    static constexpr char kStars[] = "*****************************************************";
    const map_client_table& t = cs->stats.table;
    MAP_TRACE(MAP_TRACE_ALWAYS, "****************** Client Association *****************");
    for (int i = 0; i <= t.last && i < MAP_STATS_MAX_CLIENTS; ++i) {
        const map_client_entry& e = t.entry[i];
        MAP_TRACE(MAP_TRACE_ALWAYS, "%02x:%02x:%02x:%02x:%02x:%02x - auth -%d and assoc - %d",
                  e.mac[0], e.mac[1], e.mac[2], e.mac[3], e.mac[4], e.mac[5],
                  static_cast<int>(e.auth), static_cast<int>(e.assoc));
    }
    MAP_TRACE(MAP_TRACE_ALWAYS, "%s", kStars);
    MAP_TRACE(MAP_TRACE_ALWAYS, "**** Total =  %d**********", t.last + 1);
    MAP_TRACE(MAP_TRACE_ALWAYS, "\n\n****************** Client Database ***************** %d",
              cs->stats.client_count);
    for (int i = 0; i < cs->stats.client_count && i < MAP_STATS_MAX_CLIENTS; ++i) {
        const map_client_stats& c = cs->stats.client[i];
        // The tx bytes go out as the low 32 bits in a signed decimal.
        MAP_TRACE(MAP_TRACE_ALWAYS,
                  "%02x:%02x:%02x:%02x:%02x:%02x - auth -%d and assoc - %d and bytes tx - %d",
                  c.mac[0], c.mac[1], c.mac[2], c.mac[3], c.mac[4], c.mac[5],
                  static_cast<int>(c.auth), static_cast<int>(c.assoc),
                  static_cast<int>(static_cast<uint32_t>(c.tx_bytes)));
    }
    MAP_TRACE(MAP_TRACE_ALWAYS, "%s", kStars);
    return 0;
}
