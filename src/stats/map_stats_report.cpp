// Statistics reports to the switch: the interval from SWITCH_STATUS_INT, the
// countdown of the timer pass, and the SWITCH_STATS datagrams built from the
// statistics records (each element written by map_stats_write.cpp).  A report
// is built in fixed buffers on the stack: nothing on this path allocates.
#include "stats/map_stats.hpp"

#include <cstring>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "log/map_log.hpp"
#include "stats/map_proc.hpp"
#include "stats/map_stats_elems.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

using namespace map_stats_elems;

namespace {

static constexpr char map_log_module[] = "map_stats";

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
