// Roaming clients between hostapd and the switch: the authentication report
// (with the client's effective QoS), pairwise master keys, pre-authentication
// frames, pre-authentication results and RADIUS packets.  Nothing is kept:
// each message is copied from one buffer on the stack into another and sent.
#include "local/map_client_auth.hpp"

#include <algorithm>
#include <cstring>
#include <span>

#include "cltqos/map_cltqos_bw.hpp"
#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "local/mmsg_handler.hpp"
#include "local/mmsg_print.hpp"
#include "local/relay_common.hpp"
#include "log/map_log.hpp"
#include "stats/map_stats.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

using namespace mmsg_relay;

namespace {

static constexpr char map_log_module[] = "switch_module";

// Errors are reported under the name of the operation that met them.
#define AUTH_ERROR(fn, ...) map_print_error(map_log_module, __LINE__, (fn), __VA_ARGS__)

// Element codes of the client authentication, notification and RADIUS messages.
constexpr uint16_t kElemApMac = 0x0021;
constexpr uint16_t kElemVapMac = 0x5001;
constexpr uint16_t kElemStaMac = 0x5002;
constexpr uint16_t kElemRadio = 0x5003;
constexpr uint16_t kElemSsid = 0x5004;
constexpr uint16_t kElemChannel = 0x5006;
constexpr uint16_t kElemUserName = 0x500A;
constexpr uint16_t kElemTxRate = 0x500B;
constexpr uint16_t kElemVlan = 0x500C;
constexpr uint16_t kElemPreauthStatus = 0x500D;
constexpr uint16_t kElemDot11n = 0x500E;
constexpr uint16_t kElemStbc = 0x8079;
constexpr uint16_t kElemRadiusPkt = 0x5020;
constexpr uint16_t kElemHomeAp = 0x5042;
constexpr uint16_t kElemClientFlags = 0x5044;
constexpr uint16_t kElemRrm = 0x5050;
constexpr uint16_t kElemPmk = 0x5055;
constexpr uint16_t kElemReauth = 0x5056;
constexpr uint16_t kElemEffBw = 0x5059;
constexpr uint16_t kElemEffAcl = 0x5060;
constexpr uint16_t kElemEffPolicy = 0x5061;
constexpr uint16_t kElemOwnBw = 0x5062;
constexpr uint16_t kElemOwnAcl = 0x5063;
constexpr uint16_t kElemOwnPolicy = 0x5064;
// Element codes of the PMK and pre-authentication messages.
constexpr uint16_t kElemKeyStaMac = 0xF100;
constexpr uint16_t kElemKeySsid = 0xF101;
constexpr uint16_t kElemKeyBssid = 0xF102;
constexpr uint16_t kElemKeyPreauthData = 0xF103;
constexpr uint16_t kElemKeyPmk = 0xF104;

// Client flags of the authentication record.
constexpr uint32_t kFlagVlanFromVap = 0x4;
constexpr uint32_t kFlagRrmValid = 0x80;

constexpr size_t kMac = MMSG_MAC_LEN;
constexpr size_t kSsid = MMSG_SSID_LEN;
constexpr size_t kName = 32;      // user name field of the switch message
constexpr size_t kKey = 32;       // PMK
constexpr size_t kHomeAp = 23;    // flag, MAC, 16 address bytes
constexpr size_t kBwPair = 10;    // two of flag (1) and rate (4)
constexpr size_t kNamePair = 64;  // two of type (1) and name (31)
constexpr size_t kQosName = 31;   // a list or policy name on the wire
constexpr size_t kRrm = 5;

constexpr size_t kHdr = 4;
constexpr size_t elem_size(size_t value_len) {
    return 4 + value_len;
}
constexpr size_t kClientAuthLen =
    kHdr + elem_size(kMac) * 2 + elem_size(1) + elem_size(kName) + elem_size(2) + elem_size(kSsid) +
    elem_size(2) + elem_size(1) * 3 + elem_size(4) + elem_size(kKey) + elem_size(4) +
    elem_size(kHomeAp) + (elem_size(kBwPair) + elem_size(kNamePair) * 2) * 2;
constexpr size_t kClientAuthRrmLen = kClientAuthLen + elem_size(kRrm);
constexpr size_t kPmkLen = kHdr + elem_size(kMac) + elem_size(kSsid) + elem_size(kKey);
constexpr size_t kPreAuthHdrLen = kHdr + elem_size(kMac) * 2 + elem_size(kSsid) + elem_size(0);
constexpr size_t kNotifyLen =
    kHdr + elem_size(kMac) * 3 + elem_size(1) + elem_size(kSsid) + elem_size(kName) + elem_size(1);
constexpr size_t kRadiusHdrLen =
    kHdr + elem_size(kMac) * 3 + elem_size(1) + elem_size(kSsid) + elem_size(0);
static_assert(kClientAuthLen == 507 && kClientAuthRrmLen == 516 && kPmkLen == 86);
static_assert(kPreAuthHdrLen == 64 && kNotifyLen == 116 && kRadiusHdrLen == 79);

using value_t = std::span<const uint8_t>;

// The checks every operation starts with; false once one has been reported.
// `p` is the local record or the element bytes; `has_bytes` is false for
// element bytes of no length.
bool checks(const map_switch_comm* rec, const void* p, bool has_bytes, const char* invalid_text,
            const char* fn) {
    if (rec == nullptr) {
        AUTH_ERROR(fn, "Incorrect context parameter.");
        return false;
    }
    if (rec->state != MAP_SWITCH_COMM_ESTABLISHED) {
        AUTH_ERROR(fn, "Invalid mapd mode.");
        return false;
    }
    if (p == nullptr || !has_bytes) {
        AUTH_ERROR(fn, "%s", invalid_text);
        return false;
    }
    return true;
}

// One direction's QoS list or policy as it goes out: type and a 32-byte name
// field of which the first 31 bytes are sent.
struct qos_entry {
    uint8_t type;
    const char* name;
};

// Two (down, up) flag-and-rate entries, rates in network order.
void bw_value(uint8_t out[kBwPair], const uint8_t flag[2], const uint32_t rate[2]) {
    for (size_t i = 0; i < 2; ++i) {
        out[i * 5] = flag[i];
        wire_store_be32(out + i * 5 + 1, rate[i]);
    }
}

// Two (down, up) type-and-name entries.
void names_value(uint8_t out[kNamePair], const qos_entry e[2]) {
    for (size_t i = 0; i < 2; ++i) {
        out[i * 32] = e[i].type;
        memcpy(out + i * 32 + 1, e[i].name, kQosName);
    }
}

// The client's own list or policy when it has one, else the VAP's default.
qos_entry choose(const mmsg_cltqos_name& own, const map_vap_qos_ref& def) {
    return own.type != 0 ? qos_entry{own.type, own.name} : qos_entry{def.type, def.name};
}

// Appends the six client QoS elements: the effective values (the VAP's
// defaults where the client has none, rates rounded to the limiter's step)
// and the client's own values as they came.
void add_client_qos(wire_msg& m, const mclient_auth_msg_s& msg, const map_vap_client_qos_cfg& def) {
    uint8_t flag[2];
    uint32_t eff_rate[2];
    uint32_t own_rate[2];
    qos_entry eff_acl[2], eff_policy[2], own_acl[2], own_policy[2];
    for (size_t i = 0; i < 2; ++i) {
        flag[i] = msg.bw[i].dot1xValid;
        own_rate[i] = msg.bw[i].maxRate;
        eff_rate[i] = map_cltqos_bw_round_down(flag[i] == 1 ? own_rate[i] : def.bw[i]);
        eff_acl[i] = choose(msg.acl[i], def.acl[i]);
        eff_policy[i] = choose(msg.policy[i], def.policy[i]);
        own_acl[i] = {msg.acl[i].type, msg.acl[i].name};
        own_policy[i] = {msg.policy[i].type, msg.policy[i].name};
    }
    uint8_t bw[kBwPair];
    uint8_t names[kNamePair];
    bw_value(bw, flag, eff_rate);
    wire_msg_add(m, kElemEffBw, bw, kBwPair);
    names_value(names, eff_acl);
    wire_msg_add(m, kElemEffAcl, names, kNamePair);
    names_value(names, eff_policy);
    wire_msg_add(m, kElemEffPolicy, names, kNamePair);
    bw_value(bw, flag, own_rate);
    wire_msg_add(m, kElemOwnBw, bw, kBwPair);
    names_value(names, own_acl);
    wire_msg_add(m, kElemOwnAcl, names, kNamePair);
    names_value(names, own_policy);
    wire_msg_add(m, kElemOwnPolicy, names, kNamePair);
}

// ---- the switch to hostapd ---------------------------------------------------------

// Visits the elements while a header's worth of bytes remains; false as soon
// as the visitor refuses one.  An element whose value runs past the message
// refuses the message too: its value is not all there, and what follows it
// cannot be told apart.
template <typename Fn>
bool walk(const uint8_t* data, int length, Fn&& visit) {
    wire_reader r = wire_reader_make(data, static_cast<size_t>(length));
    wire_elem e;
    while (wire_elem_next(r, e)) {
        if (!e.complete || !visit(e.type, e.value)) {
            return false;
        }
    }
    return true;
}

// MACs and keys are taken at their exact size only: a shorter value would
// leave part of the field from nowhere, a longer one has no right bytes to
// pick, so either refuses the message.
bool take(value_t v, void* out, size_t size) {
    if (v.size() != size) {
        return false;
    }
    memcpy(out, v.data(), size);
    return true;
}

// An SSID has at most 32 bytes: the field is cleared and a longer value is
// cut to the field.
void take_ssid(value_t v, char (&field)[kSsid]) {
    memset(field, 0, sizeof field);
    memcpy(field, v.data(), std::min(v.size(), sizeof field));
}

// Sends a record of `n` bytes to hostapd; the count sent.
int to_hostapd(const void* rec, size_t n) {
    return mmsg_handler_send(static_cast<const uint8_t*>(rec), n);
}

// The RADIUS packet of the switch into hostapd's record; 0 or -1.
int radius_to_hostapd(const uint8_t* data, int length, const char* rx_error, const char* fn) {
    radius_proxy_cmdmsg_s msg{};
    msg.type = MMSG_RADIUS_PROXY;
    const bool ok = walk(data, length, [&](uint16_t type, value_t v) {
        switch (type) {
            case kElemApMac:
                return take(v, msg.ap_macaddr, kMac);
            case kElemVapMac:
                return take(v, msg.vap_macaddr, kMac);
            case kElemStaMac:
                return take(v, msg.client_macaddr, kMac);
            case kElemRadio:
                // The value's first byte; an empty value refuses the message.
                if (v.empty()) {
                    return false;
                }
                msg.radio_if = v[0];
                return true;
            case kElemSsid:
                take_ssid(v, msg.ssid);
                return true;
            case kElemRadiusPkt:
                // A packet longer than hostapd's field is refused: a cut
                // RADIUS packet is no packet at all.
                if (v.size() > sizeof msg.radius_pkt) {
                    return false;
                }
                memcpy(msg.radius_pkt, v.data(), v.size());
                msg.radius_pkt_len = static_cast<uint32_t>(v.size());
                return true;
            default:
                return true;
        }
    });
    if (!ok) {
        AUTH_ERROR(fn, "%s", rx_error);
        return -1;
    }
    if (to_hostapd(&msg, sizeof msg) != static_cast<int>(sizeof msg)) {
        AUTH_ERROR(fn, "Error sending radius proxy command msg to hostapd.");
        return -1;
    }
    return 0;
}

}  // namespace

// ---- hostapd to the switch ----------------------------------------------------------

int map_send_client_auth_pkt(map_switch_comm* rec, const mclient_auth_msg_s* msg) {
    if (!checks(rec, msg, true, "Invalid client auth message.", __func__)) {
        return -1;
    }
    map_cs* cs = component(rec);
    // hostapd numbers radios from 0, the VAP records from 1.
    const int radio_id = msg->radio_if + 1;
    map_vap_client_qos_cfg def{};
    (void)map_cs_get_vap_client_qos_cfg(cs, radio_id, msg->vap_id, &def);  // zeros when none
    uint16_t vlan = msg->vlan_id;
    uint32_t flags = msg->flags;
    if (vlan == 0) {
        // No VLAN from the authentication: the VAP's own.
        const map_vap_config* vap = map_cs_get_vap_config(cs, radio_id, msg->vap_id);
        if (vap == nullptr) {
            MAP_ERROR("VAP config data not present.");
            return -1;
        }
        vlan = static_cast<uint16_t>(vap->vlan_id);
        flags &= ~kFlagVlanFromVap;
    }
    // The home AP's IPv4 address stands in the last 4 bytes, in host order.
    uint8_t home[kHomeAp];
    home[0] = msg->homeap_flag;
    memcpy(home + 1, msg->homeap_mac, kMac);
    memcpy(home + 1 + kMac, msg->home_apip, 12);
    uint32_t home_ip = 0;
    memcpy(&home_ip, msg->home_apip + 12, sizeof home_ip);
    wire_store_be32(home + 19, home_ip);

    uint8_t buf[kClientAuthRrmLen];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, MAP_SWITCH_CLIENT_AUTH);
    wire_msg_add(m, kElemVapMac, msg->vap_macaddr, kMac);
    wire_msg_add(m, kElemStaMac, msg->client_macaddr, kMac);
    wire_msg_add_u8(m, kElemRadio, msg->radio_if);
    wire_msg_add(m, kElemUserName, msg->user_name, kName);
    wire_msg_add_be16(m, kElemVlan, vlan);
    wire_msg_add(m, kElemSsid, msg->ssid, kSsid);
    wire_msg_add_be16(m, kElemTxRate, msg->tx_rate);
    wire_msg_add_u8(m, kElemChannel, msg->channel);
    wire_msg_add_u8(m, kElemDot11n, msg->dot11n_capable);
    wire_msg_add_u8(m, kElemStbc, msg->stbc_capable);
    wire_msg_add_be32(m, kElemClientFlags, flags);
    wire_msg_add(m, kElemPmk, msg->pmk, kKey);
    wire_msg_add_be32(m, kElemReauth, msg->reauth_intvl);
    wire_msg_add(m, kElemHomeAp, home, kHomeAp);
    add_client_qos(m, *msg, def);
    if ((flags & kFlagRrmValid) != 0) {
        wire_msg_add(m, kElemRrm, msg->rrm_capability, kRrm);
    }
    if (send_built(rec, m, 1) != 0) {
        MAP_ERROR("Error sending client_auth_data packet to switch.");
        return -1;
    }
    return 0;
}

int map_send_pmk_pkt(map_switch_comm* rec, const mpmk_cmdmsg_s* msg) {
    if (!checks(rec, msg, true, "Invalid pmk message.", __func__)) {
        return -1;
    }
    uint8_t buf[kPmkLen];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_CLIENT_PMK);
    wire_msg_add(m, kElemKeyStaMac, msg->client_macaddr, kMac);
    wire_msg_add(m, kElemKeySsid, msg->ss_id, kSsid);
    wire_msg_add(m, kElemKeyPmk, msg->pmk, kKey);
    if (send_built(rec, m, 1) != 0) {
        MAP_ERROR("Error sending pmk_data packet to switch.");
        return -1;
    }
    return 0;
}

int map_send_pre_auth_pkt(map_switch_comm* rec, const mpre_auth_cmdmsg_s* msg) {
    static constexpr char invalid_text[] = "Invalid pre-auth message.";
    if (!checks(rec, msg, true, invalid_text, __func__)) {
        return -1;
    }
    // The record holds at most 1600 data bytes: a record announcing more is
    // refused rather than read past its end.
    if (msg->datalen > MMSG_PRE_AUTH_DATA_MAX) {
        MAP_ERROR("%s", invalid_text);
        return -1;
    }
    const uint16_t type =
        msg->type == MMSG_PRE_AUTH_CMD ? SWITCH_CLIENT_PRE_AUTH : MAP_SWITCH_CLIENT_PRE_AUTH_ANS;
    uint8_t buf[kPreAuthHdrLen + MMSG_PRE_AUTH_DATA_MAX];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, type);
    wire_msg_add(m, kElemKeyStaMac, msg->client_macaddr, kMac);
    wire_msg_add(m, kElemKeySsid, msg->ss_id, kSsid);
    wire_msg_add(m, kElemKeyBssid, msg->BSSID, kMac);
    wire_msg_add(m, kElemKeyPreauthData, msg->pre_auth_data, msg->datalen);
    if (send_built(rec, m, 1) != 0) {
        MAP_ERROR("Error sending pre_auth_data packet to switch.");
        return -1;
    }
    return 0;
}

int map_send_client_preauth_notify_pkt(map_switch_comm* rec,
                                       const client_preauth_notification_msg_s* msg) {
    if (!checks(rec, msg, true, "Invalid client pre-auth notification message.", __func__)) {
        return -1;
    }
    uint8_t buf[kNotifyLen];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_CLIENT_PRE_AUTH_NOTIFY);
    wire_msg_add(m, kElemApMac, msg->ap_macaddr, kMac);
    wire_msg_add(m, kElemVapMac, msg->vap_macaddr, kMac);
    wire_msg_add(m, kElemStaMac, msg->client_macaddr, kMac);
    wire_msg_add_u8(m, kElemRadio, msg->radio_if);
    wire_msg_add(m, kElemSsid, msg->ssid, kSsid);
    wire_msg_add(m, kElemUserName, msg->user_name, kName);
    wire_msg_add_u8(m, kElemPreauthStatus, msg->status);
    if (send_built(rec, m, 1) != 0) {
        MAP_TRACE(MAP_TRACE_PREAUTH,
                  "%s: Error in sending client preauth notify packet to switch.\n", __func__);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_PREAUTH, "%s: sucessfully sent client preauth notify packet to switch.\n",
              __func__);
    return 0;
}

int map_send_radius_proxy_cmd_pkt(map_switch_comm* rec, const radius_proxy_cmdmsg_s* msg) {
    static constexpr char invalid_text[] = "Invalid radius proxy command message.";
    if (!checks(rec, msg, true, invalid_text, __func__)) {
        return -1;
    }
    // The record holds at most 3000 packet bytes: a length field above that
    // is refused rather than read past the record.
    if (msg->radius_pkt_len > MMSG_RADIUS_PKT_MAX) {
        MAP_ERROR("%s", invalid_text);
        return -1;
    }
    uint8_t buf[kRadiusHdrLen + MMSG_RADIUS_PKT_MAX];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, MAP_SWITCH_RADIUS_PROXY_CMD);
    wire_msg_add(m, kElemApMac, msg->ap_macaddr, kMac);
    wire_msg_add(m, kElemVapMac, msg->vap_macaddr, kMac);
    wire_msg_add(m, kElemStaMac, msg->client_macaddr, kMac);
    wire_msg_add_u8(m, kElemRadio, msg->radio_if);
    wire_msg_add(m, kElemSsid, msg->ssid, kSsid);
    wire_msg_add(m, kElemRadiusPkt, msg->radius_pkt, static_cast<uint16_t>(msg->radius_pkt_len));
    if (send_built(rec, m, 1) != 0) {
        MAP_ERROR("Error sending radius proxy command packet to switch.");
        return -1;
    }
    return 0;
}

// ---- local handlers -----------------------------------------------------------------

int process_pre_auth_msg(const uint8_t* msg, size_t length) {
    // The datagram must hold the header and exactly the data it announces, at
    // most 1600 bytes; the dispatcher refuses anything else, and a direct
    // call is held to the same rule.
    if (!mmsg_length_accepted(msg, length)) {
        return -1;
    }
    return relay<mpre_auth_cmdmsg_s, map_send_pre_auth_pkt>(msg, length);
}

int process_pmk_msg(const uint8_t* msg, size_t length) {
    return relay<mpmk_cmdmsg_s, map_send_pmk_pkt>(msg, length);
}

// The client table counts the client as authenticated whether or not the
// switch was told.  The table numbers radios from 1, hostapd from 0.
int process_client_auth_msg(const uint8_t* msg, size_t length) {
    const auto rec = record_of<mclient_auth_msg_s>(msg, length);
    map_switch_comm* sc = get_switch_context();
    if (sc == nullptr) {
        return -1;
    }
    const int result = map_send_client_auth_pkt(sc, &rec);
    if (map_cs* cs = component(sc)) {
        map_cs_process_assoc_cmd(cs, rec.radio_if + 1, rec.client_macaddr, rec.vap_macaddr, 1);
    }
    return result;
}

int process_client_preauth_notify_msg(const uint8_t* msg, size_t length) {
    return relay<client_preauth_notification_msg_s, map_send_client_preauth_notify_pkt>(msg,
                                                                                        length);
}

int process_radius_proxy_cmd_msg(const uint8_t* msg, size_t length) {
    MAP_TRACE(MAP_TRACE_PKT, "%s Begin Recevied proxy command from hostapd", __func__);
    const int result = relay<radius_proxy_cmdmsg_s, map_send_radius_proxy_cmd_pkt>(msg, length);
    MAP_TRACE(MAP_TRACE_PKT, "%s End Recevied proxy command from hostapd", __func__);
    return result;
}

// ---- the switch to hostapd ----------------------------------------------------------

int map_process_pmk_pkt(map_switch_comm* rec, const uint8_t* data, int length) {
    static constexpr char rx_error[] = "Error receiving pmk packet.";
    if (!checks(rec, data, length > 0, rx_error, __func__)) {
        return -1;
    }
    mpmk_cmdmsg_s msg{};
    msg.type = MMSG_PMK;
    const bool ok = walk(data, length, [&](uint16_t type, value_t v) {
        switch (type) {
            case kElemKeyStaMac:
                return take(v, msg.client_macaddr, kMac);
            case kElemKeySsid:
                take_ssid(v, msg.ss_id);
                return true;
            case kElemKeyPmk:
                return take(v, msg.pmk, kKey);
            default:
                return true;
        }
    });
    if (!ok) {
        MAP_ERROR("%s", rx_error);
        return -1;
    }
    const int n = to_hostapd(&msg, sizeof msg);
    if (n != static_cast<int>(sizeof msg)) {
        MAP_ERROR("Error sending pmk_cmd msg to hostapd.");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_PMK, "%s: Success sending pmk_cmd msg to hostapd, num_bytes = %d", __func__,
              n);
    return 0;
}

int map_process_pre_auth_pkt(map_switch_comm* rec, const uint8_t* data, int length,
                             uint8_t local_type) {
    static constexpr char rx_error[] = "Error receiving pre-auth packet.";
    if (!checks(rec, data, length > 0, rx_error, __func__)) {
        return -1;
    }
    mpre_auth_cmdmsg_s msg{};
    msg.type = local_type;
    const bool ok = walk(data, length, [&](uint16_t type, value_t v) {
        switch (type) {
            case kElemKeyStaMac:
                return take(v, msg.client_macaddr, kMac);
            case kElemKeySsid:
                take_ssid(v, msg.ss_id);
                return true;
            case kElemKeyBssid:
                return take(v, msg.BSSID, kMac);
            case kElemKeyPreauthData:
                // Data longer than hostapd's field is refused: a cut frame
                // would fail the client's authentication anyway.
                if (v.size() > sizeof msg.pre_auth_data) {
                    return false;
                }
                memcpy(msg.pre_auth_data, v.data(), v.size());
                msg.datalen = static_cast<uint16_t>(v.size());
                return true;
            default:
                return true;
        }
    });
    if (!ok) {
        MAP_ERROR("%s", rx_error);
        return -1;
    }
    const bool cmd = local_type == MMSG_PRE_AUTH_CMD;
    const size_t len = MMSG_PRE_AUTH_HDR_LEN + msg.datalen;
    const int n = to_hostapd(&msg, len);
    if (n != static_cast<int>(len)) {
        if (cmd) {
            MAP_ERROR("Error sending pre_auth_cmd msg to hostapd.");
            MAP_TRACE(MAP_TRACE_PREAUTH,
                      "%s: Error sending pre_auth_cmd msg to hostapd, num_bytes = %d", __func__, n);
        } else {
            MAP_ERROR("Error sending pre_auth_ans msg to hostapd.");
            MAP_TRACE(MAP_TRACE_PREAUTH,
                      "%s: Error sending pre_auth_ans msg to hostapd, num_bytes = %d", __func__, n);
        }
        return -1;
    }
    if (cmd) {
        MAP_TRACE(MAP_TRACE_PREAUTH,
                  "%s: Success sending pre_auth_cmd msg to hostapd, num_bytes = %d", __func__, n);
    } else {
        MAP_TRACE(MAP_TRACE_PREAUTH,
                  "%s: Success sending pre_auth_ans msg to hostapd, num_bytes = %d", __func__, n);
    }
    return 0;
}

int map_process_radius_proxy_cmd_pkt(map_switch_comm* rec, const uint8_t* data, int length) {
    static constexpr char rx_error[] = "Error received radius proxy command message.";
    if (!checks(rec, data, length > 0, rx_error, __func__)) {
        return -1;
    }
    MAP_TRACE(MAP_TRACE_PKT, "%s Begin send proxy command from switch to hostapd.\n", __func__);
    const int result = radius_to_hostapd(data, length, rx_error, __func__);
    MAP_TRACE(MAP_TRACE_PKT, "%s End send proxy command from switch to hostapd.\n", __func__);
    return result;
}
