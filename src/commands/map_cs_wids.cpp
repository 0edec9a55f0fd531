#include "commands/map_cs_wids.hpp"

#include <algorithm>
#include <cstring>

#include "commands/map_cs_radio_cmds.hpp"
#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "local/mmsg_handler.hpp"
#include "local/mmsg_print.hpp"
#include "local/mmsg_records.hpp"
#include "log/map_log.hpp"
#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "map_cs_wids";

constexpr size_t kBssidListMax = sizeof(wids_config_cmdmsg_t::bssid_attack_list);  // 112
constexpr uint16_t kBssidCountMax = 16;
constexpr size_t kMac = 6;
constexpr size_t kNbrInfo = 7;
constexpr size_t kNbrSlot = kMac + kNbrInfo;
constexpr int kNbrsPerVap = 3;
constexpr size_t kNbrListMax = sizeof(rrm_nbr_list_msg_s::list);  // 1500
// A debug command sends the WIDS record at most this many times.
constexpr int kWidsSendMax = 16;

wire_reader reader_of(const uint8_t* data, int length) {
    return wire_reader_make(data, length > 0 ? static_cast<size_t>(length) : 0);
}

template <typename T>
const uint8_t* bytes_of(const T& rec) {
    return reinterpret_cast<const uint8_t*>(&rec);
}

// A 16-bit value, kept in host order as the local records hold it.
bool fixed_be16(const wire_elem& e, uint16_t& out) {
    uint8_t v[2];
    if (!wire_elem_fixed(e, v, sizeof v)) {
        return false;
    }
    out = wire_load_be16(v);
    return true;
}

// The RRM requests need an established link and a message.
bool rrm_accepts(map_control_block* cb, const uint8_t* data, const char* missing_text) {
    if (map_handler_is_connection_established(cb) != 0) {
        MAP_ERROR("AP is in invalid state to accept msgs from Switch");
        return false;
    }
    if (data == nullptr) {
        MAP_ERROR("%s", missing_text);
        return false;
    }
    return true;
}

// Takes one element into the WIDS record; false refuses the message.  A known
// element whose value is too short for its field is a broken message.
bool wids_take(wids_config_cmdmsg_t& w, const wire_elem& e) {
    uint16_t v = 0;
    bool whole = true;
    switch (e.type) {
        case MAP_ELEM_MAC:
            if (!map_cs_elem_is_own_mac(e, MAP_TRACE_LOCAL)) {
                return false;
            }
            memcpy(w.ap_macaddr, e.value.data(), kMac);
            break;
        case MAP_WIDS_ELEM_WIRED_DET:
            whole = wire_elem_fixed(e, &w.wired_nw_det, 1);
            break;
        case MAP_WIDS_ELEM_WIRED_DET_INTERVAL:
            if ((whole = fixed_be16(e, v))) w.wired_nw_det_interval = v;
            break;
        case MAP_WIDS_ELEM_AP_ATTACK_INTERVAL:
            if ((whole = fixed_be16(e, v))) w.ap_attack_interval = v;
            break;
        case MAP_WIDS_ELEM_BSSID_COUNT:
            if ((whole = fixed_be16(e, v)) && v > kBssidCountMax) {
                MAP_ERROR("Error Too many bssid attack list count.");
                return false;
            }
            if (whole) w.bssid_attack_list_count = v;
            break;
        case MAP_WIDS_ELEM_BSSID_LIST:
            if (e.len > kBssidListMax) {
                MAP_ERROR("Error Too long bssid attack list.");
                return false;
            }
            if ((whole = e.complete)) {
                memset(w.bssid_attack_list, 0, kBssidListMax);
                memcpy(w.bssid_attack_list, e.value.data(), e.value.size());
            }
            break;
        default:
            break;  // not a WIDS element: skipped by its length
    }
    if (!whole) {
        MAP_ERROR("Error receiving wids config message.");
    }
    return whole;
}

int wids_send(const wids_config_cmdmsg_t& w) {
    if (mmsg_handler_send(bytes_of(w), sizeof w) != static_cast<int>(sizeof w)) {
        MAP_ERROR("Error sending wids config cmd msg to hostapd.");
        return -1;
    }
    return 0;
}

// The neighbour list as it is built: the AP MAC, then per VAP its MAC and
// three neighbour slots.  `used` is the end of what was filled; a slot is
// taken whole when its neighbour MAC comes, so its information (or zeros)
// always sits right behind that MAC.
struct nbr_list {
    uint8_t list[kNbrListMax] = {};
    size_t used = 0;
    bool have_ap = false;
    bool have_vap = false;
    int nbrs = 0;  // neighbours of the current VAP
    size_t slot = 0;  // where the last neighbour's slot begins
    uint16_t prev = 0;  // the type of the element before

    // Room for `skip` more bytes and then `n` written; the field's end is
    // never passed.
    bool room(size_t skip, size_t n) {
        if (skip + n > kNbrListMax - used) {
            MAP_ERROR("RRM neighbor list longer than %zu bytes", kNbrListMax);
            return false;
        }
        return true;
    }
    void append(const uint8_t* v, size_t n) {
        memcpy(list + used, v, n);
        used += n;
    }
};

// Takes one neighbour list element; false refuses the message.
bool nbr_take(nbr_list& l, const wire_elem& e) {
    uint8_t v[kNbrInfo];
    const bool is_known = e.type == MAP_ELEM_MAC || e.type == MAP_RRM_ELEM_VAP_MAC ||
                          e.type == MAP_RRM_ELEM_NBR_MAC || e.type == MAP_RRM_ELEM_NBR_INFO;
    if (is_known && !wire_elem_fixed(e, v, e.type == MAP_RRM_ELEM_NBR_INFO ? kNbrInfo : kMac)) {
        MAP_ERROR("Error receiving RRM Neighbor List message.");
        return false;
    }
    switch (e.type) {
        case MAP_ELEM_MAC:
            if (!map_cs_elem_is_own_mac(e, MAP_TRACE_RRM) || !l.room(0, kMac)) {
                return false;
            }
            l.append(v, kMac);
            l.have_ap = true;
            return true;
        case MAP_RRM_ELEM_VAP_MAC: {
            if (!l.have_ap) {
                MAP_ERROR("VAP MAC rcvd with out AP MAC address");
                return false;
            }
            // The previous VAP's unfilled slots stay zero.
            const size_t skip = l.have_vap ? (kNbrsPerVap - l.nbrs) * kNbrSlot : 0;
            if (!l.room(skip, kMac)) {
                return false;
            }
            l.used += skip;
            l.append(v, kMac);
            l.have_vap = true;
            l.nbrs = 0;
            return true;
        }
        case MAP_RRM_ELEM_NBR_MAC:
            if (!l.have_vap) {
                MAP_ERROR("NBR MAC rcvd with out AP/VAP MAC address");
                return false;
            }
            // A fourth neighbour is refused as it comes, also for the last
            // VAP of the message, where no next VAP would show it.
            if (l.nbrs == kNbrsPerVap) {
                MAP_ERROR("More than 3 neighbor MACs rcvd for a single VAP");
                return false;
            }
            if (!l.room(0, kNbrSlot)) {
                return false;
            }
            l.slot = l.used;
            l.append(v, kMac);
            l.used += kNbrInfo;  // the information's place, zero until it comes
            ++l.nbrs;
            return true;
        case MAP_RRM_ELEM_NBR_INFO:
            if (l.prev != MAP_RRM_ELEM_NBR_MAC) {
                MAP_ERROR("NBR MAC info rcvd with out AP/VAP/NBR MAC address");
                return false;
            }
            memcpy(l.list + l.slot + kMac, v, kNbrInfo);
            return true;
        default:
            MAP_ERROR("AP received RRM Neighbor List msg with invalid IE");
            return true;
    }
}

}  // namespace

int map_process_wids_config_msg_pkt(map_control_block* cb, const uint8_t* data, int length) {
    MAP_TRACE(MAP_TRACE_LOCAL, "%s Begin", __func__);
    if (cb == nullptr) {
        MAP_ERROR("Incorrect MAPD control block parameter.");
        return -1;
    }
    if (data == nullptr) {
        MAP_ERROR("Error receiving wids config message.");
        return -1;
    }
    wids_config_cmdmsg_t& w = cb->wids;
    wire_reader r = reader_of(data, length);
    wire_elem e;
    while (wire_elem_next(r, e)) {  // while a 4-byte header remains
        if (!wids_take(w, e)) {
            return -1;
        }
    }
    w.type = MMSG_WIDS_CONFIG;
    wids_config_msg_print(bytes_of(w), sizeof w);
    MAP_TRACE(MAP_TRACE_LOCAL, "sending wids config messg [len = %d]", static_cast<int>(sizeof w));
    if (wids_send(w) != 0) {
        return -1;
    }
    MAP_TRACE(MAP_TRACE_LOCAL, "%s End", __func__);
    return 0;
}

int map_process_rrm_neighbor_list_msg_pkt(map_control_block* cb, const uint8_t* data, int length) {
    MAP_TRACE(MAP_TRACE_RRM, "%s Begin", __func__);
    if (!rrm_accepts(cb, data, "Error receiving RRM Neighbor List message.")) {
        return -1;
    }
    nbr_list l;
    wire_reader r = reader_of(data, length);
    wire_elem e;
    while (wire_remaining(r) >= 5 && wire_elem_next(r, e)) {
        if (!nbr_take(l, e)) {
            return -1;
        }
        l.prev = e.type;
    }
    mapd_send_rrm_nbr_list_msg_to_hostapd(l.list, l.used);
    MAP_TRACE(MAP_TRACE_RRM, "%s End", __func__);
    return 0;
}

int map_process_rrm_chan_load_req_msg_pkt(map_control_block* cb, const uint8_t* data, int length) {
    MAP_TRACE(MAP_TRACE_RRM, "%s Begin", __func__);
    if (!rrm_accepts(cb, data, "Error receiving Channel Load Request message.")) {
        return -1;
    }
    rrm_chan_load_req_msg_s req{};
    wire_reader r = reader_of(data, length);
    wire_elem e;
    while (wire_remaining(r) >= 5 && wire_elem_next(r, e)) {
        bool whole = true;
        switch (e.type) {
            case MAP_ELEM_MAC:
                if (!map_cs_elem_is_own_mac(e, MAP_TRACE_RRM)) {
                    return -1;
                }
                memcpy(req.ap_macaddr, e.value.data(), kMac);
                break;
            case MAP_RRM_ELEM_CLIENT_MAC:
                whole = wire_elem_fixed(e, req.client_macaddr, kMac);
                break;
            case MAP_RRM_ELEM_CHANNEL:
                whole = wire_elem_fixed(e, &req.channel, 1);
                break;
            case MAP_RRM_ELEM_DURATION:
                whole = fixed_be16(e, req.duration);
                break;
            default:
                MAP_ERROR("AP received RRM Channel Load Request msg with invalid IE");
                break;
        }
        // A known element too short for its field is a broken message.
        if (!whole) {
            MAP_ERROR("Error receiving Channel Load Request message.");
            return -1;
        }
    }
    mapd_send_chan_load_req_msg_to_hostapd(req);
    MAP_TRACE(MAP_TRACE_RRM, "%s End", __func__);
    return 0;
}

void mapd_send_rrm_nbr_list_msg_to_hostapd(const uint8_t* list, size_t length) {
    rrm_nbr_list_msg_s msg{};
    msg.type = MMSG_RRM_NBR_LIST;
    length = std::min(length, sizeof msg.list);
    if (list != nullptr) {
        memcpy(msg.list, list, length);
        msg.used = static_cast<uint16_t>(length);
    }
    rrm_nbr_ap_list_print(bytes_of(msg), sizeof msg);
    MAP_TRACE(MAP_TRACE_RRM, "Sending RRM neighbor list (type == %d) msg to hostapd\n", msg.type);
    if (mmsg_handler_send(bytes_of(msg), sizeof msg) == static_cast<int>(sizeof msg)) {
        MAP_TRACE(MAP_TRACE_RRM, "Sending RRM neighbor list Cmd Msg to hostapd success\n");
    } else {
        MAP_TRACE(MAP_TRACE_RRM, "Sending RRM neighbor list Cmd Msg to hostapd failed !!! \n");
    }
}

void mapd_send_chan_load_req_msg_to_hostapd(const rrm_chan_load_req_msg_s& req) {
    rrm_chan_load_req_msg_s msg = req;
    msg.type = MMSG_RRM_CHAN_LOAD_REQ;
    rrm_chan_load_req_print(bytes_of(msg), sizeof msg);
    MAP_TRACE(MAP_TRACE_RRM, "Sending Chan Load Req (type == %d) msg to hostapd\n", msg.type);
    if (mmsg_handler_send(bytes_of(msg), sizeof msg) == static_cast<int>(sizeof msg)) {
        MAP_TRACE(MAP_TRACE_RRM, "Sending Channel Load Req List Cmd Msg to hostapd success\n");
    } else {
        MAP_TRACE(MAP_TRACE_RRM, "Sending Channel Load Req list Cmd Msg to hostapd failed !!! \n");
    }
}

// Printed whatever the trace mask: the operator asked for it.
void map_cs_dump_wids_config_params(const map_control_block* cb) {
    if (cb == nullptr) {
        return;
    }
    const wids_config_cmdmsg_t& w = cb->wids;
    const uint8_t* m = w.ap_macaddr;
    MAP_TRACE(MAP_TRACE_ALWAYS, "AP MAC : %02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3],
              m[4], m[5]);
    MAP_TRACE(MAP_TRACE_ALWAYS, "wired_nw_detection : %d", w.wired_nw_det);
    MAP_TRACE(MAP_TRACE_ALWAYS, "wired_nw_detection_interval : %d", w.wired_nw_det_interval);
    MAP_TRACE(MAP_TRACE_ALWAYS, "ap_attack_interval : %d", w.ap_attack_interval);
    MAP_TRACE(MAP_TRACE_ALWAYS, "BSSID Attack List Count : %d", w.bssid_attack_list_count);
    const int n = std::min<int>(w.bssid_attack_list_count, kBssidCountMax);
    for (int i = 0; i < n; ++i) {
        const uint8_t* b = w.bssid_attack_list[i].bssid;
        MAP_TRACE(MAP_TRACE_ALWAYS, "BSSID : %02x:%02x:%02x:%02x:%02x:%02x Channel : %d", b[0],
                  b[1], b[2], b[3], b[4], b[5], w.bssid_attack_list[i].channel);
    }
}

// Sends the stored WIDS record to hostapd again, `count` times (1 to 16; the
// command's argument): hostapd that was restarted has lost the switch's WIDS
// settings until the switch sends them anew.  Nothing is sent before a WIDS
// message from the switch was taken whole (the record has no type yet).
int map_cs_send_wids_config_params(map_control_block* cb, int count) {
    if (cb == nullptr || cb->wids.type != MMSG_WIDS_CONFIG) {
        MAP_ERROR("No WIDS configuration from the switch to send.");
        return -1;
    }
    if (count < 1 || count > kWidsSendMax) {
        MAP_ERROR("WIDS send count %d out of range (1 to %d).", count, kWidsSendMax);
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        if (wids_send(cb->wids) != 0) {
            return -1;
        }
    }
    MAP_TRACE(MAP_TRACE_LOCAL, "Sent the WIDS configuration to hostapd %d time(s)", count);
    return 0;
}
