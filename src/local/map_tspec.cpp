// TSPEC admission and the radio reports of hostapd.  The TSPEC application's
// requests go to the switch at once and the switch's replies back to it; its
// status counters land in the statistics records; hostapd's channel load,
// RF-scan and supported-channels reports go on to the switch.  Every message
// is built in a zeroed buffer on the stack.
#include "local/map_tspec.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <span>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "local/mmsg_handler.hpp"
#include "local/mmsg_print.hpp"
#include "local/relay_common.hpp"
#include "log/map_log.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

using namespace mmsg_relay;

namespace {

// The switch-side operations report as switch_module, the status update as
// map_cs_util and the local command handler as mmsg_handler.
static constexpr char map_log_module[] = "switch_module";
static constexpr char kCsUtilModule[] = "map_cs_util";
static constexpr char kMmsgModule[] = "mmsg_handler";

// Element codes of the TSPEC messages.
constexpr uint16_t kElemApMac = 0x0021;
constexpr uint16_t kElemVapMac = 0x5001;
constexpr uint16_t kElemClientMac = 0x5002;
constexpr uint16_t kElemRadio = 0x5003;
constexpr uint16_t kElemSsid = 0x5004;
constexpr uint16_t kElemAcIndex = 0x5074;
constexpr uint16_t kElemBody = 0x5071;
constexpr uint16_t kElemWlanUtil = 0x005A;
constexpr uint16_t kElemPrevious = 0x5075;
constexpr uint16_t kElemAdmitted = 0x5072;
// Element codes of the channel load report.
constexpr uint16_t kElemRrmClientMac = 0x0013;
constexpr uint16_t kElemRrmChannel = 0x0043;
constexpr uint16_t kElemRrmReportMode = 0x504D;
constexpr uint16_t kElemRrmChannelLoad = 0x504E;
constexpr uint16_t kElemRrmDuration = 0x504F;

constexpr size_t kMac = MMSG_MAC_LEN;
constexpr size_t kBodyLen = 56;     // the TSPEC body element's value
constexpr size_t kPreviousLen = 3;  // previous medium time and access category
constexpr size_t elem_size(size_t value_len) {
    return MAP_ELEM_HDR_LEN + value_len;
}
// A request without body (command 7), with body and utilisation (3), and with
// the previous admission too (1).
constexpr size_t kTspecNoBodyLen =
    MAP_MSG_HDR_LEN + elem_size(kMac) * 3 + elem_size(1) + elem_size(MMSG_SSID_LEN) + elem_size(1);
constexpr size_t kTspecBodyLen = kTspecNoBodyLen + elem_size(kBodyLen) + elem_size(4);
constexpr size_t kTspecFullLen = kTspecBodyLen + elem_size(kPreviousLen);
constexpr size_t kRrmReportLen =
    MAP_MSG_HDR_LEN + elem_size(kMac) * 2 + elem_size(1) + elem_size(2) + elem_size(1) * 2;
static_assert(kTspecNoBodyLen == 80 && kTspecBodyLen == 148 && kTspecFullLen == 155);
static_assert(kRrmReportLen == 45);

// The eleven 32-bit fields of the TSPEC body, in their order on the wire.
constexpr uint32_t tspec_msg_s::*kBodyWords[] = {
    &tspec_msg_s::min_srv_interval,    &tspec_msg_s::max_srv_interval,
    &tspec_msg_s::inactivity_interval, &tspec_msg_s::suspension_interval,
    &tspec_msg_s::srve_start_time,     &tspec_msg_s::min_data_rate,
    &tspec_msg_s::mean_data_rate,      &tspec_msg_s::peak_data_rate,
    &tspec_msg_s::max_burst_size,      &tspec_msg_s::delay_bound,
    &tspec_msg_s::min_phy_rate,
};
static_assert(1 + 3 + 2 + 2 + std::size(kBodyWords) * 4 + 2 + 2 == kBodyLen);

// The TSPEC body in network order: the record's fields from rsvd1 to medium_time.
void body_encode(const tspec_msg_s& msg, uint8_t (&out)[kBodyLen]) {
    wire_writer w = wire_writer_make(out, sizeof out);
    wire_put_u8(w, msg.rsvd1);
    wire_put_bytes(w, msg.ts_info, sizeof msg.ts_info);
    wire_put_be16(w, msg.nom_msdu_size);
    wire_put_be16(w, msg.max_msdu_size);
    for (auto word : kBodyWords) {
        wire_put_be32(w, msg.*word);
    }
    wire_put_be16(w, msg.surplus_bw);
    wire_put_be16(w, msg.medium_time);
}

// The record's fields from rsvd1 to medium_time in host order; false unless
// the value is exactly one body long.
bool body_decode(std::span<const uint8_t> v, tspec_msg_s& msg) {
    if (v.size() != kBodyLen) {
        return false;
    }
    wire_reader r = wire_reader_make(v.data(), v.size());
    bool ok = wire_read_u8(r, msg.rsvd1) && wire_read_bytes(r, msg.ts_info, sizeof msg.ts_info) &&
              wire_read_be16(r, msg.nom_msdu_size) && wire_read_be16(r, msg.max_msdu_size);
    for (auto word : kBodyWords) {
        ok = ok && wire_read_be32(r, msg.*word);
    }
    return ok && wire_read_be16(r, msg.surplus_bw) && wire_read_be16(r, msg.medium_time);
}

// Takes one element of a TSPEC reply into the record; false refuses the reply.
// Fixed-size values are taken only at their exact size: a shorter one is not
// the field and a longer one cannot be read without guessing which bytes
// count.  The radio is the value's first byte.
bool reply_elem(const wire_elem& e, tspec_msg_s& msg) {
    const std::span<const uint8_t> v = e.value;
    auto take = [&](void* out, size_t size) {
        if (v.size() != size) {
            return false;
        }
        memcpy(out, v.data(), size);
        return true;
    };
    switch (e.type) {
        case kElemApMac:
            return take(msg.ap_macaddr, kMac);
        case kElemVapMac:
            return take(msg.vap_macaddr, kMac);
        case kElemClientMac:
            return take(msg.client_macaddr, kMac);
        case kElemRadio:
            if (v.empty()) {
                return false;
            }
            msg.radio_if = v[0];
            return true;
        case kElemSsid:
            // An SSID longer than the 32-byte field is cut to it; a shorter one
            // leaves the rest of the field zero.
            memcpy(msg.ssid, v.data(), std::min(v.size(), MMSG_SSID_LEN));
            return true;
        case kElemAcIndex:
            return take(&msg.ac_index, 1);
        case kElemBody:
            return body_decode(v, msg);
        case kElemAdmitted:
            return take(&msg.bAdmitted, 1);
        case kElemWlanUtil:
            // The application is not given the switch's utilisation, whatever
            // the element carries.
            msg.wlan_util = 0;
            return true;
        default:
            return true;
    }
}


// hostapd's own switch message, forwarded as it came.
int forward_report(map_switch_comm* rec, const uint8_t* msg, int length, int over_tls,
                   const char* trace, const char* fn) {
    if (const char* why = refusal(rec, msg, true, "Incorrect input parameter")) {
        map_print_error(map_log_module, __LINE__, fn, "%s", why);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_RADIO, trace, fn);
    return map_switch_comm_data_send(rec, msg, length, over_tls) == 0 ? 0 : -1;
}

// A status entry as the statistics keep it: the operational status (a small
// code) in its low byte, then the six counters.
void status_copy(map_ts_status& to, const mmsg_ts_status& from) {
    to.lead = static_cast<uint8_t>(from.ts_oper_status);
    const uint32_t words[] = {from.num_active_ts,           from.num_ts_clients,
                              from.num_roam_ts_clients,     from.medium_time_admitted,
                              from.medium_time_unallocated, from.medium_time_roaming_unallocated};
    static_assert(sizeof words == sizeof to.word);
    memcpy(to.word, words, sizeof words);
}

}  // namespace

// ---- the TSPEC application and the switch --------------------------------------------

int map_send_tspec_msg_pkt(map_switch_comm* rec, const tspec_msg_s* msg) {
    if (const char* why = refusal(rec, msg, true, "Invalid tspec message.")) {
        MAP_ERROR("%s", why);
        return -1;
    }
    uint16_t type = 0;
    switch (msg->cmd_type) {
        case MAP_TSPEC_CMD_ADMISSION_REQ:
            type = SWITCH_TSPEC_ADMISSION_REQ;
            break;
        case MAP_TSPEC_CMD_DELETION_REQ:
            type = SWITCH_TSPEC_DELETION;
            break;
        case MAP_TSPEC_CMD_NO_BODY_REQ:
            type = SWITCH_TSPEC_REQ_NO_BODY;
            break;
        default:
            MAP_ERROR("Unexpected command type (%d) from hostapd.", msg->cmd_type);
            return -1;
    }
    uint8_t buf[kTspecFullLen];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, type);
    wire_msg_add(m, kElemApMac, msg->ap_macaddr, kMac);
    wire_msg_add(m, kElemVapMac, msg->vap_macaddr, kMac);
    wire_msg_add(m, kElemClientMac, msg->client_macaddr, kMac);
    wire_msg_add_u8(m, kElemRadio, msg->radio_if);
    wire_msg_add(m, kElemSsid, msg->ssid, MMSG_SSID_LEN);  // the whole field
    wire_msg_add_u8(m, kElemAcIndex, msg->ac_index);
    if (msg->cmd_type != MAP_TSPEC_CMD_NO_BODY_REQ) {
        uint8_t body[kBodyLen];
        body_encode(*msg, body);
        wire_msg_add(m, kElemBody, body, kBodyLen);
        wire_msg_add_be32(m, kElemWlanUtil, msg->wlan_util);
    }
    if (msg->cmd_type == MAP_TSPEC_CMD_ADMISSION_REQ) {
        uint8_t previous[kPreviousLen];
        wire_store_be16(previous, msg->prev_medium_time);
        previous[2] = msg->prev_ac_index;
        wire_msg_add(m, kElemPrevious, previous, kPreviousLen);
    }
    if (send_built(rec, m, 1) != 0) {
        MAP_ERROR("Error sending tspec packet to switch.");
        return -1;
    }
    return 0;
}

int map_process_tspec_msg_reply_pkt(map_switch_comm* rec, const uint8_t* data, int length,
                                    uint8_t cmd_type) {
    static constexpr char rx_error[] = "Error receiving TSPEC admission reply message.";
    if (const char* why = refusal(rec, length > 0 ? data : nullptr, true, rx_error)) {
        MAP_ERROR("%s", why);
        return -1;
    }
    if (cmd_type != MAP_TSPEC_CMD_ADMISSION_REPLY && cmd_type != MAP_TSPEC_CMD_DELETION_REPLY) {
        MAP_ERROR("Unexpected message command type received: %d.", cmd_type);
        return -1;
    }
    tspec_msg_s msg{};
    // An element whose value runs past the message ends the walk unread.
    wire_reader r = wire_reader_make(data, static_cast<size_t>(length));
    wire_elem e;
    while (wire_elem_next(r, e) && e.complete) {
        if (!reply_elem(e, msg)) {
            MAP_ERROR("%s", rx_error);
            return -1;
        }
    }
    msg.type = MMSG_TSPEC_REPLY;
    msg.cmd_type = cmd_type;
    if (mmsg_handler_tspec_send(reinterpret_cast<const uint8_t*>(&msg), sizeof msg) !=
        static_cast<int>(sizeof msg)) {
        MAP_ERROR("Error sending TSPEC admission reply msg to tspec application.");
        return -1;
    }
    return 0;
}

int map_send_tspec_ap_state_change(map_switch_comm* rec, int managed_mode) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect context parameter.");
        return -1;
    }
    const tspec_direct_msg_s msg{MMSG_TSPEC_DIRECT, 1, static_cast<uint8_t>(managed_mode)};
    if (mmsg_handler_tspec_send(reinterpret_cast<const uint8_t*>(&msg), sizeof msg) !=
        static_cast<int>(sizeof msg)) {
        MAP_ERROR("Error sending mapd direct AP state change msg to tspec application.");
        return -1;
    }
    return 0;
}

// Slot 0 of each table holds access category 3 (voice), slot 1 category 2
// (video).  Each radio's VAP entries are taken up to its number of VAPs.
int map_cs_process_tspec_status_update(map_cs* cs, const tspec_status_msg_s* msg) {
    if (cs == nullptr || msg == nullptr) {
        map_print_error(kCsUtilModule, __LINE__, __func__, "Incorrect input parameter");
        return -1;
    }
    if (msg->cmd_type != 1) {
        map_print_error(kCsUtilModule, __LINE__, __func__,
                        "Invalid command type (%u) in TSPEC Status message.", msg->cmd_type);
        return -1;
    }
    int slot = 0;
    if (msg->ac_index == 3) {
        slot = MAP_STATS_AC_VOICE;
    } else if (msg->ac_index == 2) {
        slot = MAP_STATS_AC_VIDEO;
    } else {
        map_print_error(kCsUtilModule, __LINE__, __func__,
                        "Invalid AC index (%u) in TSPEC Status message.", msg->ac_index);
        return -1;
    }
    map_global_stats& g = cs->stats.global;
    const uint32_t status[] = {msg->num_active_ts, msg->num_ts_clients, msg->num_roam_ts_clients};
    const uint32_t summary[] = {msg->tspecs_accepted, msg->tspecs_rejected,
                                msg->roam_tspecs_accepted, msg->roam_tspecs_rejected};
    static_assert(sizeof status == sizeof g.ts_status[0]);
    static_assert(sizeof summary == sizeof g.ts_summary[0]);
    memcpy(g.ts_status[slot], status, sizeof status);
    memcpy(g.ts_summary[slot], summary, sizeof summary);
    for (int radio = 0; radio < MAP_CS_NUM_RADIOS; ++radio) {
        status_copy(cs->stats.radio[radio].ts_status[slot], msg->radio_status[radio]);
        map_cs_radio_vaps& vaps = cs->vaps[radio];
        if (!vaps.vap_stats) {
            continue;
        }
        const int n = std::min(vaps.num_vaps, static_cast<int>(std::size(msg->vap_status[radio])));
        for (int v = 0; v < n; ++v) {
            status_copy(vaps.vap_stats[v].ts_status[slot], msg->vap_status[radio][v]);
        }
    }
    return 0;
}

// ---- hostapd's radio reports ---------------------------------------------------------

int map_send_rrm_channel_load_report_pkt(map_switch_comm* rec, const rrm_chan_load_rep_msg_s* msg) {
    if (const char* why = refusal(rec, msg, true, "Invalid rrm channel load report message.")) {
        MAP_ERROR("%s", why);
        return -1;
    }
    uint8_t buf[kRrmReportLen];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, RRM_CHANNEL_LOAD_REPORT);
    wire_msg_add(m, kElemApMac, msg->ap_macaddr, kMac);
    wire_msg_add(m, kElemRrmClientMac, msg->client_macaddr, kMac);
    wire_msg_add_u8(m, kElemRrmChannel, msg->channel);
    wire_msg_add_be16(m, kElemRrmDuration, msg->duration);
    wire_msg_add_u8(m, kElemRrmReportMode, msg->report_mode);
    wire_msg_add_u8(m, kElemRrmChannelLoad, msg->channel_load);
    if (send_built(rec, m, 1) != 0) {
        MAP_ERROR("Error sending rrm channel load report packet to switch.");
        return -1;
    }
    return 0;
}

// The RF-scan report goes as a datagram, the supported channels over TLS.
int map_send_rfscan_report_pkt(map_switch_comm* rec, const uint8_t* msg, int length) {
    return forward_report(rec, msg, length, 0, "%s: RF Scan Report pkt to Switch:\n", __func__);
}

int map_send_supported_channels_pkt(map_switch_comm* rec, const uint8_t* msg, int length) {
    return forward_report(rec, msg, length, 1, "%s: Supported Channels pkt to Switch:\n", __func__);
}

// ---- local handlers ------------------------------------------------------------------

int process_tspec_msg(const uint8_t* msg, size_t length) {
    return relay<tspec_msg_s, map_send_tspec_msg_pkt>(msg, length);
}

int process_rrm_chan_load_rep_msg(const uint8_t* msg, size_t length) {
    return relay<rrm_chan_load_rep_msg_s, map_send_rrm_channel_load_report_pkt>(msg, length);
}

int process_tspec_status_msg(const uint8_t* msg, size_t length) {
    const auto rec = record_of<tspec_status_msg_s>(msg, length);
    map_switch_comm* sc = get_switch_context();
    if (sc == nullptr) {
        return -1;
    }
    return map_cs_process_tspec_status_update(sc->cb != nullptr ? sc->cb->cs : nullptr, &rec);
}

// Types 6 and 7 carry a whole switch message after the type byte; they are
// forwarded only while the AP's admin mode is up.
int process_cmd_msg(const uint8_t* msg, size_t length) {
    if (msg == nullptr || length == 0) {
        return -1;
    }
    hex_ver_pkt_print(msg, length);
    map_switch_comm* sc = get_switch_context();
    if (sc == nullptr) {
        return -1;
    }
    const uint32_t admin_mode = sc->cb != nullptr ? sc->cb->admin_mode : 0;
    MAP_TRACE(MAP_TRACE_RADIO, "mapd mode %d\n", static_cast<int>(admin_mode));
    if (admin_mode != 1) {
        MAP_TRACE(MAP_TRACE_RADIO, "Invalid mapd state\n");
        return -1;
    }
    const uint8_t* carried = msg + 1;
    const int carried_len = static_cast<int>(std::min<size_t>(length - 1, MMSG_RX_BUF_SIZE));
    if (msg[0] == MMSG_RFSCAN_REPORT) {
        if (map_send_rfscan_report_pkt(sc, carried, carried_len) != 0) {
            map_print_error(kMmsgModule, __LINE__, __func__,
                            "Error sending rfscan report packet to switch");
            return -1;
        }
        return 0;
    }
    if (msg[0] == MMSG_CHANNEL_SUPPORTED) {
        if (map_send_supported_channels_pkt(sc, carried, carried_len) != 0) {
            map_print_error(kMmsgModule, __LINE__, __func__,
                            "Error sending supported channels packet to switch.");
            return -1;
        }
        return 0;
    }
    return -1;
}
