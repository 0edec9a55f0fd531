// The switch's commands about a client, relayed to hostapd: disassociate,
// resend the client's information, the association reply, the threat
// deauthentication, and the new-ARP notice that goes to the layer-2 tunnel.
#include <algorithm>
#include <cstring>
#include <span>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "local/map_client_relay.hpp"
#include "local/mmsg_handler.hpp"
#include "log/map_log.hpp"
#include "stats/map_proc.hpp"
#include "store/map_dman_lsql.hpp"
#include "switch/switch_comm.hpp"
#include "tunnel/map_dl2tunnel.hpp"
#include "tunnel/map_tunnel.hpp"
#include "wire/map_text.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "switch_module";

// Errors are reported under the name of the handler that met them.
#define CMD_ERROR(fn, ...) map_print_error(map_log_module, __LINE__, (fn), __VA_ARGS__)

constexpr uint16_t kElemApMac = 0x0021;
constexpr uint16_t kElemFakeBssid = 0x0065;
constexpr uint16_t kElemRadio = 0x0067;
constexpr uint16_t kElemChannel = 0x0068;
constexpr uint16_t kElemArpClientMac = 0x1003;
constexpr uint16_t kElemArpClientIp = 0x1004;
constexpr uint16_t kElemArpVapMac = 0x1005;
constexpr uint16_t kElemVapMac = 0x5001;
constexpr uint16_t kElemClientMac = 0x5002;
constexpr uint16_t kElemRadioIf = 0x5003;
constexpr uint16_t kElemSsid = 0x5004;
constexpr uint16_t kElemVlan = 0x500C;
constexpr uint16_t kElemHomeAp = 0x5042;
constexpr uint16_t kElemClientStatus = 0x5044;
constexpr uint16_t kElemPmk = 0x5058;
constexpr uint16_t kElemQosBandwidth = 0x5062;
constexpr uint16_t kElemQosAcl = 0x5063;
constexpr uint16_t kElemQosPolicy = 0x5064;

// Element bytes of a disassociate or resend command (AP MAC and client MAC)
// and of a new-ARP notice (client MAC, address, VAP MAC).
constexpr int kClientCmdLen = 20;
constexpr int kNewArpLen = 28;

constexpr size_t kMacLen = 6;
constexpr size_t kHomeApLen = 23;  // flag, MAC, 16 address bytes
constexpr size_t kPmkLen = 40;     // PMK, re-authentication interval, authentication age
constexpr size_t kQosBandwidthLen = 10;
constexpr size_t kQosNamesLen = 64;
constexpr size_t kQosNameLen = 31;  // on the wire; a NUL follows it in the record

using value_t = std::span<const uint8_t>;

// What a walk's visitor asks for after one element.
enum class step { next, stop, drop };

// The checks every command starts with; false once one has been reported.
bool cmd_checks(const map_switch_comm* rec, const uint8_t* data, int length, const char* rx_error,
                const char* fn) {
    if (rec == nullptr) {
        CMD_ERROR(fn, "Incorrect context parameter.");
        return false;
    }
    if (rec->state != MAP_SWITCH_COMM_ESTABLISHED) {
        CMD_ERROR(fn, "Invalid mapd mode.");
        return false;
    }
    if (data == nullptr || length <= 0) {
        CMD_ERROR(fn, "%s", rx_error);
        return false;
    }
    return true;
}

// Visits the elements while a header's worth of bytes remains.  An element
// whose value runs past the message ends the walk unvisited.  Returns `stop`
// or `drop` when the visitor said so, `next` when the elements ran out.
template <typename Fn>
step walk(const uint8_t* data, int length, Fn&& visit) {
    wire_reader r = wire_reader_make(data, static_cast<size_t>(length));
    wire_elem e;
    while (wire_elem_next(r, e) && e.complete) {
        step s = visit(e.type, e.value);
        if (s != step::next) {
            return s;
        }
    }
    return step::next;
}

// Fixed-size values are taken only at their exact size: a shorter value is
// not the field (a partial MAC would name another station) and a longer one
// cannot be read without guessing which bytes count, so either refuses the
// message.
bool take(value_t v, void* out, size_t size) {
    if (v.size() != size) {
        return false;
    }
    memcpy(out, v.data(), size);
    return true;
}
bool take_be16(value_t v, uint16_t& out) {
    if (v.size() != 2) {
        return false;
    }
    out = wire_load_be16(v.data());
    return true;
}
bool take_be32(value_t v, uint32_t& out) {
    if (v.size() != 4) {
        return false;
    }
    out = wire_load_be32(v.data());
    return true;
}
bool take_u8(value_t v, uint8_t& out) {
    return take(v, &out, 1);
}

bool is_own_mac(const uint8_t* mac) {
    uint8_t own[kMacLen] = {};
    map_proc_get_mac_addr(own, nullptr);
    return memcmp(own, mac, kMacLen) == 0;
}

template <typename T>
int send_to_hostapd(const T& msg, const char* error_text, const char* fn) {
    if (mmsg_handler_send(reinterpret_cast<const uint8_t*>(&msg), sizeof msg) !=
        static_cast<int>(sizeof msg)) {
        CMD_ERROR(fn, "%s", error_text);
        return -1;
    }
    return 0;
}

// The client of a disassociate or resend command.
enum class client_cmd { found, other_ap, missing, malformed };

client_cmd client_cmd_mac(const uint8_t* data, int length, uint8_t* client_mac) {
    client_cmd result = client_cmd::missing;
    walk(data, length, [&](uint16_t type, value_t v) {
        uint8_t mac[kMacLen];
        if (type == kElemApMac) {
            if (!take(v, mac, kMacLen)) {
                result = client_cmd::malformed;
                return step::drop;
            }
            if (!is_own_mac(mac)) {
                result = client_cmd::other_ap;
                return step::drop;
            }
        } else if (type == kElemClientMac) {
            if (!take(v, client_mac, kMacLen)) {
                result = client_cmd::malformed;
                return step::drop;
            }
            result = client_cmd::found;
            return step::stop;
        }
        return step::next;
    });
    return result;
}

// The checks and the walk shared by disassociate and resend: 0 with the
// client MAC, -1 when the command is refused or not for this AP.
int client_cmd_prepare(const map_switch_comm* rec, const uint8_t* data, int length,
                       const char* rx_error, const char* invalid_text, uint8_t* client_mac,
                       const char* fn) {
    if (!cmd_checks(rec, data, length, rx_error, fn)) {
        return -1;
    }
    if (length != kClientCmdLen) {
        CMD_ERROR(fn, "%s", invalid_text);
        return -1;
    }
    switch (client_cmd_mac(data, length, client_mac)) {
        case client_cmd::found:
            return 0;
        case client_cmd::malformed:
            CMD_ERROR(fn, "%s", invalid_text);
            return -1;
        case client_cmd::other_ap:  // another AP's client: nothing to do here
        case client_cmd::missing:
            return -1;
    }
    return -1;
}

// Takes one element of an association reply into the local record and the
// tunnel's association record.
step assoc_reply_elem(uint16_t type, value_t v, assoc_reply_cmdmsg_s& msg,
                      map_dl2tunnel_assoc_record& assoc) {
    bool ok = true;
    switch (type) {
        case kElemApMac:
            ok = take(v, msg.ap_macaddr, kMacLen);
            memcpy(assoc.assoc_ap_mac, msg.ap_macaddr, kMacLen);
            break;
        case kElemVapMac:
            ok = take(v, msg.vap_macaddr, kMacLen);
            break;
        case kElemClientMac:
            ok = take(v, msg.client_macaddr, kMacLen);
            memcpy(assoc.client_mac, msg.client_macaddr, kMacLen);
            break;
        case kElemRadioIf:
            // The radio is the value's first byte; an empty value refuses the reply.
            ok = !v.empty();
            if (ok) {
                msg.radio_if = v[0];
            }
            break;
        case kElemSsid:
            // An SSID has at most 32 bytes: a longer value is cut to them (the
            // record keeps its terminating NULs after the 32nd byte).
            memcpy(msg.ssid, v.data(), std::min(v.size(), MMSG_SSID_LEN));
            break;
        case kElemVlan:
            ok = take_be16(v, msg.vlan_id);
            memcpy(assoc.vlan_id, &msg.vlan_id, sizeof msg.vlan_id);
            break;
        case kElemHomeAp: {
            ok = v.size() == kHomeApLen;
            if (!ok) {
                break;
            }
            msg.home_ap = v[0];
            memcpy(msg.home_apmac, v.data() + 1, kMacLen);
            memcpy(msg.home_apip, v.data() + 7, 12);
            const uint32_t ip = wire_load_be32(v.data() + 19);
            memcpy(msg.home_apip + 12, &ip, sizeof ip);
            assoc.home_flag = msg.home_ap;
            memcpy(assoc.home_ap_mac, msg.home_apmac, kMacLen);
            memcpy(assoc.home_ap_ip, msg.home_apip, sizeof assoc.home_ap_ip);
            break;
        }
        case kElemClientStatus:
            ok = take_be32(v, msg.client_status);
            break;
        case kElemPmk:
            ok = v.size() == kPmkLen;
            if (!ok) {
                break;
            }
            memcpy(msg.pmk, v.data(), sizeof msg.pmk);
            msg.reaut_interval = wire_load_be32(v.data() + 32);
            msg.auth_age = wire_load_be32(v.data() + 36);
            break;
        case kElemQosBandwidth:
            if (v.size() != kQosBandwidthLen) {
                break;  // other lengths are skipped
            }
            for (size_t i = 0; i < 2; ++i) {
                msg.bw[i].dot1xValid = v[i * 5];
                msg.bw[i].maxRate = wire_load_be32(v.data() + i * 5 + 1);
            }
            break;
        case kElemQosAcl:
        case kElemQosPolicy: {
            if (v.size() != kQosNamesLen) {
                break;  // other lengths are skipped
            }
            mmsg_cltqos_name* names = type == kElemQosAcl ? msg.acl : msg.policy;
            for (size_t i = 0; i < 2; ++i) {
                names[i].type = v[i * 32];
                memcpy(names[i].name, v.data() + i * 32 + 1, kQosNameLen);
                names[i].name[kQosNameLen] = '\0';
            }
            break;
        }
        default:
            break;
    }
    return ok ? step::next : step::drop;
}

// The VAP configuration of the VAP with this MAC; null, reported, when there
// is none.
const map_vap_config* assoc_vap_config(const map_switch_comm* rec, const uint8_t* vap_mac,
                                       const char* function) {
    map_cs* cs = rec->cb != nullptr ? rec->cb->cs : nullptr;
    int radio = 0;
    int vap = 0;
    const map_vap_config* cfg = nullptr;
    if (map_cs_get_vap_info_vap_mac_list(cs, vap_mac, &radio, &vap) == 0) {
        cfg = map_cs_get_vap_config(cs, radio + 1, vap);
    }
    if (cfg == nullptr) {
        CMD_ERROR(function, "%s: No VAP config info, radio %d vap %d", function, radio + 1, vap);
        MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: No VAP config info, radio %d vap %d", function,
                  radio + 1, vap);
    }
    return cfg;
}

// A client that comes through a distributed tunnel: the VAP must take such
// clients, and the tunnel module learns of the client.  0 or -1 (drop).
int assoc_reply_dl2tunnel(const map_switch_comm* rec, const assoc_reply_cmdmsg_s& msg,
                          map_dl2tunnel_assoc_record& assoc, const char* function) {
    const map_vap_config* cfg = assoc_vap_config(rec, msg.vap_macaddr, function);
    if (cfg == nullptr) {
        return -1;
    }
    if (cfg->dl2tunnel == 0) {
        CMD_ERROR(function, "%s: DL2 tunneling disabled, drop DL2 tunneled assoc reply", function);
        MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: DL2 tunneling disabled, drop DL2 tunneled assoc reply",
                  function);
        return -1;
    }
    uint16_t vlan = 0;
    memcpy(&vlan, assoc.vlan_id, sizeof vlan);
    if (vlan == 0) {
        // The tunnel needs a VLAN: the VAP's own.  hostapd's record keeps 0.
        vlan = static_cast<uint16_t>(cfg->vlan_id & 0xFFFF);
        memcpy(assoc.vlan_id, &vlan, sizeof vlan);
    }
    map_dl2tunnel_assoc_reply(&assoc);
    return 0;
}

}  // namespace

int map_process_disassoc_cmd_pkt(map_switch_comm* rec, const uint8_t* data, int length) {
    disassoc_cmdmsg_s msg{};
    msg.type = MMSG_DISASSOC_CMD;
    if (client_cmd_prepare(rec, data, length, "Error receiving disassoc_cmd packet.",
                           "Received invalid disassoc_cmd packet.", msg.client_macaddr,
                           __func__) != 0) {
        return -1;
    }
    map_dl2tunnel_term_record term{};
    memcpy(term.client_mac, msg.client_macaddr, kMacLen);
    map_dl2tunnel_terminate(&term);
    return send_to_hostapd(msg, "Error sending disassoc_cmd msg to hostapd.", __func__);
}

int map_process_resend_client_info_cmd_pkt(map_switch_comm* rec, const uint8_t* data, int length) {
    resend_client_info_cmdmsg_s msg{};
    msg.type = MMSG_RESEND_CLIENT_INFO;
    if (client_cmd_prepare(rec, data, length, "Error receiving associated clients req packet.",
                           "Received invalid associated clients req packet.", msg.client_macaddr,
                           __func__) != 0) {
        return -1;
    }
    return send_to_hostapd(msg, "Error sending resend_client_info_cmd msg to hostapd.", __func__);
}

int map_process_new_arp_pkt(map_switch_comm* rec, const uint8_t* data, int length) {
    static constexpr char invalid_text[] = "Received invalid new arp packet.";
    if (!cmd_checks(rec, data, length, "Error receiving new arp packet.", __func__)) {
        return -1;
    }
    if (length != kNewArpLen) {
        MAP_ERROR("%s", invalid_text);
        return -1;
    }
    map_arp_record arp{};
    step s = walk(data, length, [&](uint16_t type, value_t v) {
        bool ok = true;
        if (type == kElemArpClientIp) {
            // An IPv4 address of any other length than 4 refuses the notice.
            ok = take_be32(v, arp.client_ip);
        } else if (type == kElemArpClientMac) {
            ok = take(v, arp.client_mac, kMacLen);
        } else if (type == kElemArpVapMac) {
            ok = take(v, arp.vap_mac, kMacLen);
        }
        return ok ? step::next : step::drop;
    });
    if (s == step::drop) {
        MAP_ERROR("%s", invalid_text);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "%s: client IP %s", __func__, ip_addr_to_string(arp.client_ip));
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "%s: VAP MAC %s", __func__, mac_to_string(arp.vap_mac));
    return map_new_arp(&arp) ? 0 : -1;
}

int map_process_client_deauth_pkt(map_switch_comm* rec, const uint8_t* data, int length) {
    static constexpr char rx_error[] = "Error receiving Client De-Auth message.";
    if (!cmd_checks(rec, data, length, rx_error, __func__)) {
        return -1;
    }
    client_deauth_msg_s msg{};
    msg.type = MMSG_CLIENT_DEAUTH;
    bool other_ap = false;
    step s = walk(data, length, [&](uint16_t type, value_t v) {
        bool ok = true;
        uint8_t mac[kMacLen];
        switch (type) {
            case kElemRadio:
                ok = take_u8(v, msg.radio);
                break;
            case kElemApMac:
                ok = take(v, mac, kMacLen);
                other_ap = ok && !is_own_mac(mac);
                break;
            case kElemFakeBssid:
                ok = take(v, msg.fake_bssid, kMacLen);
                break;
            case kElemChannel:
                ok = take_u8(v, msg.channel);
                break;
            case kElemClientMac:
                ok = take(v, msg.client_mac, kMacLen);
                break;
            default:
                break;
        }
        return ok && !other_ap ? step::next : step::drop;
    });
    if (other_ap) {
        return -1;  // another AP's client: nothing to do here
    }
    if (s == step::drop) {
        MAP_ERROR("%s", rx_error);
        return -1;
    }
    if (map_dman_lsql_get_sentry_mode(msg.radio) == 2) {
        MAP_TRACE(MAP_TRACE_LOCAL,
                  "%s: sentry mode disabled on wlan%d. Don't send deauth to Hostapd\n", __func__,
                  msg.radio - 1);
        return -1;
    }
    return send_to_hostapd(msg, "Error: sending client deauth msg to hostapd.", __func__);
}

int map_process_client_assoc_reply_pkt(map_switch_comm* rec, const uint8_t* data, int length) {
    static constexpr char rx_error[] = "Error receiving client assoc reply message.";
    if (!cmd_checks(rec, data, length, rx_error, __func__)) {
        return -1;
    }
    assoc_reply_cmdmsg_s msg{};
    map_dl2tunnel_assoc_record assoc{};
    step s = walk(data, length,
                  [&](uint16_t type, value_t v) { return assoc_reply_elem(type, v, msg, assoc); });
    if (s == step::drop) {
        MAP_ERROR("%s", rx_error);
        return -1;
    }
    msg.type = MMSG_ASSOC_REPLY;
    if ((msg.client_status & MMSG_CLIENT_STATUS_DL2TUNNEL) != 0 &&
        assoc_reply_dl2tunnel(rec, msg, assoc, __func__) != 0) {
        return -1;
    }
    return send_to_hostapd(msg, "Error sending assoc reply cmd msg to hostapd.", __func__);
}
