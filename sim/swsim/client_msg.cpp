#include "swsim/client_msg.hpp"

#include <arpa/inet.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

namespace {

// What an element of a client message holds.
enum class fld : uint8_t {
    ap, vap, client, radio, ssid, rssi, channel, auth, addr_type, addr, vap_id, home_mac,
    vlan, home, status, pmk, bw, acl, policy, ip, bssid,
    // roaming
    ssid32, user, tx_rate, dot11n, stbc, flags, pmk32, reauth32, bw_eff, acl_eff, policy_eff,
    rrm, pa_bssid, pa_status, data, radius, ac, tspec, wlan, prev, admitted, duration, mode, load
};

struct elem_rule {
    uint16_t code;
    uint16_t min, max;  // value length
    fld f;
    bool optional;
};

struct msg_rule {
    uint16_t type;
    const char* name;
    std::span<const elem_rule> elems;  // in the order they come
};

constexpr elem_rule kProbe[] = {
    {0x5001, 6, 6, fld::vap, false},   {0x5002, 6, 6, fld::client, false},
    {0x5003, 1, 1, fld::radio, false}, {0x5004, 0, 32, fld::ssid, false},
    {0x5005, 1, 1, fld::rssi, false},  {0x5006, 1, 1, fld::channel, false},
};
constexpr elem_rule kAssocReq[] = {
    {0x0021, 6, 6, fld::ap, false},    {0x5001, 6, 6, fld::vap, false},
    {0x5002, 6, 6, fld::client, false}, {0x5003, 1, 1, fld::radio, false},
    {0x5004, 0, 33, fld::ssid, false},
};
constexpr elem_rule kDisassocReq[] = {
    {0x5001, 6, 6, fld::vap, false}, {0x5002, 6, 6, fld::client, false},
    {0x5003, 1, 1, fld::radio, false},
};
constexpr elem_rule kAuthenFail[] = {
    {0x5001, 6, 6, fld::vap, false},  {0x5002, 6, 6, fld::client, false},
    {0x5004, 0, 32, fld::ssid, false}, {0x5010, 1, 1, fld::auth, false},
};
constexpr elem_rule kClientConn[] = {
    {0x5001, 6, 6, fld::client, false},   {0x5002, 1, 1, fld::addr_type, false},
    {0x5003, 16, 16, fld::addr, false},   {0x5004, 1, 1, fld::radio, false},
    {0x5005, 1, 1, fld::vap_id, false},
};
constexpr elem_rule kTunnelTerm[] = {
    {0x5041, 6, 6, fld::home_mac, false}, {0x0013, 6, 6, fld::client, false},
};
constexpr elem_rule kAssocReply[] = {
    {0x0021, 6, 6, fld::ap, false},     {0x5001, 6, 6, fld::vap, false},
    {0x5002, 6, 6, fld::client, false}, {0x5003, 1, 1, fld::radio, false},
    {0x5004, 0, 32, fld::ssid, false},  {0x500C, 2, 2, fld::vlan, true},
    {0x5042, 23, 23, fld::home, true},  {0x5044, 4, 4, fld::status, false},
    {0x5058, 40, 40, fld::pmk, false},  {0x5062, 10, 10, fld::bw, true},
    {0x5063, 64, 64, fld::acl, true},   {0x5064, 64, 64, fld::policy, true},
};
constexpr elem_rule kClientCmd[] = {
    {0x0021, 6, 6, fld::ap, false}, {0x5002, 6, 6, fld::client, false},
};
constexpr elem_rule kNewArp[] = {
    {0x1003, 6, 6, fld::client, false}, {0x1004, 4, 4, fld::ip, false},
    {0x1005, 6, 6, fld::vap, false},
};
constexpr elem_rule kThreatDeauth[] = {
    {0x0067, 1, 1, fld::radio, false}, {0x0021, 6, 6, fld::ap, false},
    {0x0065, 6, 6, fld::bssid, false}, {0x0068, 1, 1, fld::channel, false},
    {0x5002, 6, 6, fld::client, false},
};

constexpr elem_rule kClientAuth[] = {
    {0x5001, 6, 6, fld::vap, false},       {0x5002, 6, 6, fld::client, false},
    {0x5003, 1, 1, fld::radio, false},     {0x500A, 32, 32, fld::user, false},
    {0x500C, 2, 2, fld::vlan, false},      {0x5004, 32, 32, fld::ssid32, false},
    {0x500B, 2, 2, fld::tx_rate, false},   {0x5006, 1, 1, fld::channel, false},
    {0x500E, 1, 1, fld::dot11n, false},    {0x8079, 1, 1, fld::stbc, false},
    {0x5044, 4, 4, fld::flags, false},     {0x5055, 32, 32, fld::pmk32, false},
    {0x5056, 4, 4, fld::reauth32, false},  {0x5042, 23, 23, fld::home, false},
    {0x5059, 10, 10, fld::bw_eff, false},  {0x5060, 64, 64, fld::acl_eff, false},
    {0x5061, 64, 64, fld::policy_eff, false}, {0x5062, 10, 10, fld::bw, false},
    {0x5063, 64, 64, fld::acl, false},     {0x5064, 64, 64, fld::policy, false},
    {0x5050, 5, 5, fld::rrm, true},
};
constexpr elem_rule kPmk[] = {
    {0xF100, 6, 6, fld::client, false}, {0xF101, 32, 32, fld::ssid32, false},
    {0xF104, 32, 32, fld::pmk32, false},
};
constexpr elem_rule kPreAuth[] = {
    {0xF100, 6, 6, fld::client, false},   {0xF101, 32, 32, fld::ssid32, false},
    {0xF102, 6, 6, fld::pa_bssid, false}, {0xF103, 0, 1600, fld::data, false},
};
constexpr elem_rule kPreAuthNotify[] = {
    {0x0021, 6, 6, fld::ap, false},       {0x5001, 6, 6, fld::vap, false},
    {0x5002, 6, 6, fld::client, false},   {0x5003, 1, 1, fld::radio, false},
    {0x5004, 32, 32, fld::ssid32, false}, {0x500A, 32, 32, fld::user, false},
    {0x500D, 1, 1, fld::pa_status, false},
};
constexpr elem_rule kRadius[] = {
    {0x0021, 6, 6, fld::ap, false},       {0x5001, 6, 6, fld::vap, false},
    {0x5002, 6, 6, fld::client, false},   {0x5003, 1, 1, fld::radio, false},
    {0x5004, 32, 32, fld::ssid32, false}, {0x5020, 0, 3000, fld::radius, false},
};
// TSPEC messages: the stream's place, then (but for 107) its body and the
// WLAN use; a request adds the previous medium time, a reply the verdict.
constexpr elem_rule kTspecReq[] = {
    {0x0021, 6, 6, fld::ap, false},       {0x5001, 6, 6, fld::vap, false},
    {0x5002, 6, 6, fld::client, false},   {0x5003, 1, 1, fld::radio, false},
    {0x5004, 32, 32, fld::ssid32, false}, {0x5074, 1, 1, fld::ac, false},
    {0x5071, 56, 56, fld::tspec, false},  {0x005A, 4, 4, fld::wlan, false},
    {0x5075, 3, 3, fld::prev, false},
};
constexpr elem_rule kTspecReply[] = {
    {0x0021, 6, 6, fld::ap, false},       {0x5001, 6, 6, fld::vap, false},
    {0x5002, 6, 6, fld::client, false},   {0x5003, 1, 1, fld::radio, false},
    {0x5004, 32, 32, fld::ssid32, false}, {0x5074, 1, 1, fld::ac, false},
    {0x5071, 56, 56, fld::tspec, false},  {0x005A, 4, 4, fld::wlan, false},
    {0x5072, 1, 1, fld::admitted, false},
};
constexpr elem_rule kTspecDel[] = {
    {0x0021, 6, 6, fld::ap, false},       {0x5001, 6, 6, fld::vap, false},
    {0x5002, 6, 6, fld::client, false},   {0x5003, 1, 1, fld::radio, false},
    {0x5004, 32, 32, fld::ssid32, false}, {0x5074, 1, 1, fld::ac, false},
    {0x5071, 56, 56, fld::tspec, false},  {0x005A, 4, 4, fld::wlan, false},
};
constexpr elem_rule kTspecNoBody[] = {
    {0x0021, 6, 6, fld::ap, false},       {0x5001, 6, 6, fld::vap, false},
    {0x5002, 6, 6, fld::client, false},   {0x5003, 1, 1, fld::radio, false},
    {0x5004, 32, 32, fld::ssid32, false}, {0x5074, 1, 1, fld::ac, false},
};
constexpr elem_rule kChanLoad[] = {
    {0x0021, 6, 6, fld::ap, false},       {0x0013, 6, 6, fld::client, false},
    {0x0043, 1, 1, fld::channel, false},  {0x504F, 2, 2, fld::duration, false},
    {0x504D, 1, 1, fld::mode, false},     {0x504E, 1, 1, fld::load, false},
};

const msg_rule kRules[] = {
    {SWITCH_AP_PROBE_REQ, "SWITCH_AP_PROBE_REQ", kProbe},
    {SWSIM_CLIENT_ASSOC_REQ, "CLIENT_ASSOC_REQ", kAssocReq},
    {SWITCH_AP_DISASSOC_REQ, "SWITCH_AP_DISASSOC_REQ", kDisassocReq},
    {SWITCH_AP_AUTHEN_FAIL, "SWITCH_AP_AUTHEN_FAIL", kAuthenFail},
    {SWSIM_CLIENT_CONN, "MAP_CONFIG_STATS_IE_CP_CLIENT_AUTH_REQ", kClientConn},
    {SWSIM_DL2TUNNEL_TERM, "MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID", kTunnelTerm},
    {SWSIM_CLIENT_ASSOC_REPLY, "CLIENT_ASSOC_REPLY", kAssocReply},
    {SWITCH_DISASSOCIATE_CLIENT, "SWITCH_DISASSOCIATE_CLIENT", kClientCmd},
    {SWSIM_RESEND_CLIENT_INFO, "RESEND_CLIENT_INFO", kClientCmd},
    {SWITCH_NEW_ARP, "SWITCH_NEW_ARP", kNewArp},
    {SWSIM_THREAT_DEAUTH, "MAP_SWITCH_CLIENT_THREAT_DEAUTH_MSG", kThreatDeauth},
    {MAP_SWITCH_CLIENT_AUTH, "MAP_SWITCH_CLIENT_AUTH", kClientAuth},
    {SWITCH_CLIENT_PMK, "SWITCH_CLIENT_PMK", kPmk},
    {SWITCH_CLIENT_PRE_AUTH, "SWITCH_CLIENT_PRE_AUTH", kPreAuth},
    {MAP_SWITCH_CLIENT_PRE_AUTH_ANS, "MAP_SWITCH_CLIENT_PRE_AUTH_ANS", kPreAuth},
    {SWITCH_CLIENT_PRE_AUTH_NOTIFY, "CLIENT_PRE_AUTH_NOTIFY", kPreAuthNotify},
    {MAP_SWITCH_RADIUS_PROXY_CMD, "MAP_SWITCH_RADIUS_PROXY_CMD", kRadius},
    {SWITCH_TSPEC_ADMISSION_REQ, "SWITCH_TSPEC_ADMISSION_REQ", kTspecReq},
    {SWITCH_TSPEC_ADMISSION_REPLY, "SWITCH_TSPEC_ADMISSION_REPLY", kTspecReply},
    {SWITCH_TSPEC_DELETION, "SWITCH_TSPEC_DELETION", kTspecDel},
    {SWITCH_TSPEC_REQ_NO_BODY, "TSPEC_REQ_NO_BODY", kTspecNoBody},
    {RRM_CHANNEL_LOAD_REPORT, "RRM_CHANNEL_LOAD_REPORT", kChanLoad},
};

const msg_rule* rule_of(const std::vector<uint8_t>& msg) {
    if (msg.size() < 4) return nullptr;
    const uint16_t type = wire_load_be16(msg.data());
    // Code 11 is also the TLS failure notification: the probe request is the
    // one that starts with the VAP MAC.
    if (type == SWITCH_AP_PROBE_REQ && (msg.size() < 6 || wire_load_be16(msg.data() + 4) != 0x5001)) {
        return nullptr;
    }
    for (const auto& r : kRules) {
        if (r.type == type) return &r;
    }
    return nullptr;
}

std::string hex4(uint16_t v) {
    char b[8];
    snprintf(b, sizeof b, "0x%04x", v);
    return b;
}

std::string hex_bytes(std::span<const uint8_t> v) {
    std::string out;
    char b[4];
    for (uint8_t x : v) {
        snprintf(b, sizeof b, "%02x", x);
        out += b;
    }
    return out;
}

std::string ipv4_text(uint32_t ip) {
    char b[20];
    snprintf(b, sizeof b, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF);
    return b;
}

// A NUL-padded name of `n` bytes at `p` as text.
std::string name_text(const uint8_t* p, size_t n) {
    size_t len = strnlen(reinterpret_cast<const char*>(p), n);
    return std::string(reinterpret_cast<const char*>(p), len);
}

void store(swsim_client_msg& m, fld f, std::span<const uint8_t> v) {
    const uint8_t* p = v.data();
    switch (f) {
        case fld::ap: memcpy(m.ap_mac, p, 6); break;
        case fld::vap: memcpy(m.vap_mac, p, 6); break;
        case fld::client: memcpy(m.client_mac, p, 6); break;
        case fld::home_mac: memcpy(m.home_ap_mac, p, 6); break;
        case fld::bssid: memcpy(m.fake_bssid, p, 6); break;
        case fld::radio: m.radio = p[0]; break;
        case fld::rssi: m.rssi = p[0]; break;
        case fld::channel: m.channel = p[0]; break;
        case fld::auth: m.auth_status = p[0]; break;
        case fld::addr_type: m.addr_type = p[0]; break;
        case fld::vap_id: m.vap_id = p[0]; break;
        case fld::ssid: m.ssid.assign(reinterpret_cast<const char*>(p), v.size()); break;
        case fld::addr:
            memcpy(m.client_addr, p, 16);
            m.ipv4 = wire_load_be32(p + 12);
            break;
        case fld::ip: m.ipv4 = wire_load_be32(p); break;
        case fld::vlan: m.vlan = wire_load_be16(p); break;
        case fld::status: m.status = wire_load_be32(p); break;
        case fld::home:
            m.home_ap = p[0];
            memcpy(m.home_ap_mac, p + 1, 6);
            m.home_ip = wire_load_be32(p + 19);
            break;
        case fld::pmk:
            memcpy(m.pmk, p, 32);
            m.reauth = wire_load_be32(p + 32);
            m.age = wire_load_be32(p + 36);
            break;
        case fld::ssid32: m.ssid = name_text(p, 32); break;
        case fld::user: m.user = name_text(p, 32); break;
        case fld::tx_rate: m.tx_rate = wire_load_be16(p); break;
        case fld::dot11n: m.dot11n = p[0]; break;
        case fld::stbc: m.stbc = p[0]; break;
        case fld::flags: m.flags = wire_load_be32(p); break;
        case fld::pmk32: memcpy(m.pmk, p, 32); break;
        case fld::reauth32: m.reauth = wire_load_be32(p); break;
        case fld::bw: case fld::bw_eff: {
            swsim_client_qos& q = f == fld::bw ? m.qos_auth : m.qos_eff;
            for (int d = 0; d < 2; ++d) {
                q.bw_flag[d] = p[5 * d];
                q.bw_rate[d] = wire_load_be32(p + 5 * d + 1);
            }
            break;
        }
        case fld::acl: case fld::acl_eff: case fld::policy: case fld::policy_eff: {
            swsim_client_qos& q = f == fld::acl || f == fld::policy ? m.qos_auth : m.qos_eff;
            const bool acl = f == fld::acl || f == fld::acl_eff;
            for (int d = 0; d < 2; ++d) {
                (acl ? q.acl_type : q.policy_type)[d] = p[32 * d];
                (acl ? q.acl : q.policy)[d] = name_text(p + 32 * d + 1, 31);
            }
            break;
        }
        case fld::rrm: memcpy(m.rrm, p, 5); break;
        case fld::pa_bssid: memcpy(m.bssid, p, 6); break;
        case fld::pa_status: m.preauth_status = p[0]; break;
        case fld::data: case fld::radius: m.data.assign(v.begin(), v.end()); break;
        case fld::ac: m.ac = p[0]; break;
        case fld::tspec: {
            swsim_tspec_body& t = m.tspec;
            t.rsvd1 = p[0];
            memcpy(t.ts_info, p + 1, 3);
            t.nom_msdu = wire_load_be16(p + 4);
            t.max_msdu = wire_load_be16(p + 6);
            for (int i = 0; i < 11; ++i) t.f[i] = wire_load_be32(p + 8 + 4 * i);
            t.surplus_bw = wire_load_be16(p + 52);
            t.medium_time = wire_load_be16(p + 54);
            break;
        }
        case fld::wlan: m.wlan_util = wire_load_be32(p); break;
        case fld::prev:
            m.prev_medium_time = wire_load_be16(p);
            m.prev_ac = p[2];
            break;
        case fld::admitted: m.admitted = p[0]; break;
        case fld::duration: m.duration = wire_load_be16(p); break;
        case fld::mode: m.report_mode = p[0]; break;
        case fld::load: m.load = p[0]; break;
    }
}

const char* const kTspecFields[11] = {"min-srv",   "max-srv",   "inactivity", "suspension",
                                      "srv-start", "min-rate",  "mean-rate",  "peak-rate",
                                      "max-burst", "delay-bound", "min-phy"};

void print(std::string& out, fld f, std::span<const uint8_t> v) {
    const uint8_t* p = v.data();
    char b[96];
    switch (f) {
        case fld::ap: out += " ap " + swsim_mac_text(p); break;
        case fld::vap: out += " vap " + swsim_mac_text(p); break;
        case fld::client: out += " client " + swsim_mac_text(p); break;
        case fld::home_mac: out += " home-ap " + swsim_mac_text(p); break;
        case fld::bssid: out += " fake-bssid " + swsim_mac_text(p); break;
        case fld::radio: out += " radio " + std::to_string(p[0]); break;
        case fld::rssi: out += " rssi " + std::to_string(p[0]); break;
        case fld::channel: out += " channel " + std::to_string(p[0]); break;
        case fld::auth: out += " auth-status " + std::to_string(p[0]); break;
        case fld::addr_type: out += " addr-type " + std::to_string(p[0]); break;
        case fld::vap_id: out += " vap-id " + std::to_string(p[0]); break;
        case fld::ssid:
            out += " ssid \"" + std::string(reinterpret_cast<const char*>(p), v.size()) + "\"";
            break;
        case fld::addr:
            out += " addr " + hex_bytes(v.first(12)) + "/" + ipv4_text(wire_load_be32(p + 12));
            break;
        case fld::ip: out += " ip " + ipv4_text(wire_load_be32(p)); break;
        case fld::vlan: out += " vlan " + std::to_string(wire_load_be16(p)); break;
        case fld::status:
            snprintf(b, sizeof b, " status 0x%x", wire_load_be32(p));
            out += b;
            break;
        case fld::home:
            out += " home " + std::to_string(p[0]) + " " + swsim_mac_text(p + 1) + " " +
                   ipv4_text(wire_load_be32(p + 19));
            break;
        case fld::pmk:
            out += " pmk " + hex_bytes(v.first(32)) + " reauth " +
                   std::to_string(wire_load_be32(p + 32)) + " age " +
                   std::to_string(wire_load_be32(p + 36));
            break;
        case fld::bw:
        case fld::bw_eff:
            snprintf(b, sizeof b, " %s down %u/%u up %u/%u", f == fld::bw ? "bw" : "eff-bw", p[0],
                     wire_load_be32(p + 1), p[5], wire_load_be32(p + 6));
            out += b;
            break;
        case fld::acl:
        case fld::policy:
        case fld::acl_eff:
        case fld::policy_eff:
            out += std::string(f == fld::acl        ? " acl"
                               : f == fld::policy   ? " policy"
                               : f == fld::acl_eff  ? " eff-acl"
                                                    : " eff-policy") +
                   " down " + std::to_string(p[0]) + ":\"" + name_text(p + 1, 31) + "\" up " +
                   std::to_string(p[32]) + ":\"" + name_text(p + 33, 31) + "\"";
            break;
        case fld::ssid32: out += " ssid \"" + name_text(p, 32) + "\""; break;
        case fld::user: out += " user \"" + name_text(p, 32) + "\""; break;
        case fld::tx_rate: out += " tx-rate " + std::to_string(wire_load_be16(p)); break;
        case fld::dot11n: out += " 11n " + std::to_string(p[0]); break;
        case fld::stbc: out += " stbc " + std::to_string(p[0]); break;
        case fld::flags:
            snprintf(b, sizeof b, " flags 0x%x", wire_load_be32(p));
            out += b;
            break;
        case fld::pmk32: out += " pmk " + hex_bytes(v); break;
        case fld::reauth32: out += " reauth " + std::to_string(wire_load_be32(p)); break;
        case fld::rrm: out += " rrm " + hex_bytes(v); break;
        case fld::pa_bssid: out += " bssid " + swsim_mac_text(p); break;
        case fld::pa_status: out += " preauth-status " + std::to_string(p[0]); break;
        case fld::data:
            out += " data " + std::to_string(v.size()) + " bytes";
            if (!v.empty()) out += " " + hex_bytes(v.first(v.size() < 16 ? v.size() : 16)) + (v.size() > 16 ? "..." : "");
            break;
        case fld::radius:
            out += " radius " + std::to_string(v.size()) + " bytes";
            if (v.size() >= 4) {
                out += " code " + std::to_string(p[0]) + " id " + std::to_string(p[1]) + " length " +
                       std::to_string(wire_load_be16(p + 2));
            }
            break;
        case fld::ac: out += " ac " + std::to_string(p[0]); break;
        case fld::tspec:
            out += " rsvd1 " + std::to_string(p[0]) + " ts-info " + hex_bytes(v.subspan(1, 3)) +
                   " nom-msdu " + std::to_string(wire_load_be16(p + 4)) + " max-msdu " +
                   std::to_string(wire_load_be16(p + 6));
            for (int i = 0; i < 11; ++i) {
                out += std::string(" ") + kTspecFields[i] + " " + std::to_string(wire_load_be32(p + 8 + 4 * i));
            }
            out += " surplus-bw " + std::to_string(wire_load_be16(p + 52)) + " medium-time " +
                   std::to_string(wire_load_be16(p + 54));
            break;
        case fld::wlan: out += " wlan-util " + std::to_string(wire_load_be32(p)); break;
        case fld::prev:
            out += " prev-medium-time " + std::to_string(wire_load_be16(p)) + " prev-ac " +
                   std::to_string(p[2]);
            break;
        case fld::admitted: out += " admitted " + std::to_string(p[0]); break;
        case fld::duration: out += " duration " + std::to_string(wire_load_be16(p)); break;
        case fld::mode: out += " mode " + std::to_string(p[0]); break;
        case fld::load: out += " load " + std::to_string(p[0]); break;
    }
}

// What a message asks beyond its elements: a client authentication carries
// the RRM capabilities exactly when its client flags say they are valid.
void check_message(swsim_client_msg& m) {
    if (m.type == MAP_SWITCH_CLIENT_AUTH && ((m.flags & 0x80) != 0) != m.has(0x5050)) {
        char b[96];
        snprintf(b, sizeof b, "element 0x5050 %s with client flags 0x%x",
                 m.has(0x5050) ? "present" : "missing", m.flags);
        m.problems += (m.problems.empty() ? "" : ", ") + std::string(b);
    }
}

// Walks the elements of `msg` against its rule: stores and prints each one
// that has its length, and notes what is out of place.
void walk(const msg_rule& rule, const std::vector<uint8_t>& msg, swsim_client_msg& m,
          std::string* text) {
    auto note = [&](const std::string& what) {
        m.problems += (m.problems.empty() ? "" : ", ") + what;
    };
    if (m.length != msg.size()) {
        note("length field " + std::to_string(m.length) + " in " + std::to_string(msg.size()) +
             " bytes");
    }
    size_t next = 0;  // index of the next expected element
    wire_reader r = wire_reader_make(msg.data() + 4, msg.size() - 4);
    wire_elem e;
    while (wire_elem_next(r, e)) {
        m.elems.push_back(e.type);
        size_t at = next;
        while (at < rule.elems.size() && rule.elems[at].code != e.type) ++at;
        if (at == rule.elems.size()) {
            bool earlier = false;
            for (size_t i = 0; i < next; ++i) earlier = earlier || rule.elems[i].code == e.type;
            note((earlier ? "element " : "unexpected element ") + hex4(e.type) +
                 (earlier ? " out of order" : ""));
            if (text) *text += " elem-" + hex4(e.type) + "(" + std::to_string(e.len) + ")";
            continue;
        }
        for (size_t i = next; i < at; ++i) {
            if (!rule.elems[i].optional) note("element " + hex4(rule.elems[i].code) + " missing");
        }
        next = at + 1;
        const elem_rule& er = rule.elems[at];
        if (!e.complete) {
            note("element " + hex4(e.type) + " cut short");
        } else if (e.len < er.min || e.len > er.max) {
            note("element " + hex4(e.type) + " length " + std::to_string(e.len) + " (expected " +
                 (er.min == er.max ? "" : std::to_string(er.min) + "..") + std::to_string(er.max) +
                 ")");
            if (text) *text += " elem-" + hex4(e.type) + "(" + std::to_string(e.len) + ")";
        } else {
            store(m, er.f, e.value);
            if (text) print(*text, er.f, e.value);
        }
    }
    if (wire_remaining(r) > 0) note(std::to_string(wire_remaining(r)) + " stray bytes at the end");
    for (size_t i = next; i < rule.elems.size(); ++i) {
        if (!rule.elems[i].optional) note("element " + hex4(rule.elems[i].code) + " missing");
    }
}

bool number(const std::string& t, unsigned long max, unsigned long& v) {
    if (t.empty() || t[0] == '-' || t[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    v = strtoul(t.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && v <= max;
}

bool ipv4_parse(const std::string& t, uint32_t& ip) {
    in_addr a{};
    if (inet_pton(AF_INET, t.c_str(), &a) != 1) return false;
    ip = ntohl(a.s_addr);
    return true;
}

std::vector<uint8_t> finish(wire_msg& m) {
    size_t len = wire_msg_finish(m);
    return std::vector<uint8_t>(m.w.data, m.w.data + len);
}

std::vector<uint8_t> two_macs(uint16_t type, const uint8_t ap_mac[6], const uint8_t client_mac[6]) {
    std::array<uint8_t, 24> buf;
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), type);
    wire_msg_add(m, MAP_ELEM_MAC, ap_mac, 6);
    wire_msg_add(m, 0x5002, client_mac, 6);
    return finish(m);
}

}  // namespace

bool swsim_client_msg::has(uint16_t code) const {
    for (uint16_t c : elems) {
        if (c == code) return true;
    }
    return false;
}

int swsim_client_parse(const std::vector<uint8_t>& msg, swsim_client_msg& out) {
    out = swsim_client_msg{};
    const msg_rule* rule = rule_of(msg);
    if (rule == nullptr) return -1;
    out.type = rule->type;
    out.length = wire_load_be16(msg.data() + 2);
    walk(*rule, msg, out, nullptr);
    check_message(out);
    return 0;
}

std::string swsim_client_decode(const std::vector<uint8_t>& msg) {
    const msg_rule* rule = rule_of(msg);
    if (rule == nullptr) return "";
    swsim_client_msg m;
    m.type = rule->type;
    m.length = wire_load_be16(msg.data() + 2);
    std::string text = std::string(rule->name) + " (" + std::to_string(rule->type) + "), " +
                       std::to_string(msg.size()) + " bytes:";
    walk(*rule, msg, m, &text);
    check_message(m);
    if (!m.problems.empty()) text += "; MALFORMED: " + m.problems;
    return text;
}

swsim_assoc_policy::swsim_assoc_policy() {
    for (int i = 0; i < 32; ++i) pmk[i] = static_cast<uint8_t>(i + 1);
}

int swsim_assoc_policy_parse(const std::vector<std::string>& words, swsim_assoc_policy& p,
                             std::string& error) {
    if (words.empty()) {
        error = "an association policy: accept, tunnel, refuse or none";
        return -1;
    }
    swsim_assoc_policy n;
    const std::string& mode = words[0];
    if (mode == "accept" || mode == "tunnel") {
        n.mode = swsim_assoc_mode::accept;
        n.tunnel = mode == "tunnel";
    } else if (mode == "refuse") {
        n.mode = swsim_assoc_mode::refuse;
    } else if (mode == "none") {
        n.mode = swsim_assoc_mode::none;
    } else {
        error = "unknown association policy \"" + mode + "\" (accept, tunnel, refuse, none)";
        return -1;
    }
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        size_t eq = w.find('=');
        std::string key = w.substr(0, eq), val = eq == std::string::npos ? "" : w.substr(eq + 1);
        unsigned long v = 0;
        bool ok = eq != std::string::npos;
        if (key == "vlan") {
            ok = ok && number(val, 4095, v);
            n.vlan = static_cast<uint16_t>(v);
        } else if (key == "status") {
            ok = ok && number(val, 0xFFFFFFFFul, v);
            n.status = static_cast<uint32_t>(v);
        } else if (key == "reauth" || key == "age") {
            ok = ok && number(val, 0xFFFFFFFFul, v);
            (key == "reauth" ? n.reauth : n.age) = static_cast<uint32_t>(v);
        } else if (key == "home") {
            ok = ok && swsim_mac_parse(val, n.home_mac);
        } else if (key == "home-ip") {
            ok = ok && ipv4_parse(val, n.home_ip);
        } else {
            error = "unknown association policy setting \"" + w + "\"";
            return -1;
        }
        if (!ok) {
            error = "bad value in \"" + w + "\"";
            return -1;
        }
    }
    p = n;
    return 0;
}

std::vector<std::string> swsim_split_commas(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        out.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

std::string swsim_assoc_policy_text(const swsim_assoc_policy& p) {
    if (p.mode == swsim_assoc_mode::none) return "none";
    if (p.mode == swsim_assoc_mode::refuse) return "refuse";
    std::string t = p.tunnel ? "tunnel" : "accept";
    if (p.vlan) t += " vlan " + std::to_string(p.vlan);
    return t;
}

std::vector<uint8_t> swsim_msg_assoc_reply(const uint8_t ap_mac[6], const uint8_t vap_mac[6],
                                           const uint8_t client_mac[6], uint8_t radio,
                                           const std::string& ssid, const swsim_assoc_policy& p) {
    std::array<uint8_t, 256> buf;
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWSIM_CLIENT_ASSOC_REPLY);
    wire_msg_add(m, MAP_ELEM_MAC, ap_mac, 6);
    wire_msg_add(m, 0x5001, vap_mac, 6);
    wire_msg_add(m, 0x5002, client_mac, 6);
    wire_msg_add_u8(m, 0x5003, radio);
    // A reply's SSID holds at most 32 bytes.
    wire_msg_add(m, 0x5004, ssid.data(), static_cast<uint16_t>(ssid.size() < 32 ? ssid.size() : 32));
    if (p.vlan) wire_msg_add_be16(m, 0x500C, p.vlan);
    if (p.tunnel) {
        uint8_t home[23] = {};
        memcpy(home + 1, p.home_mac, 6);  // flag 0: another AP is the client's home
        wire_store_be32(home + 19, p.home_ip);
        wire_msg_add(m, 0x5042, home, sizeof home);
    }
    wire_msg_add_be32(m, 0x5044, p.status | (p.tunnel ? 0x20u : 0u));
    uint8_t pmk[40];
    memcpy(pmk, p.pmk, 32);
    wire_store_be32(pmk + 32, p.reauth);
    wire_store_be32(pmk + 36, p.age);
    wire_msg_add(m, 0x5058, pmk, sizeof pmk);
    return finish(m);
}

std::vector<uint8_t> swsim_assoc_answer(const swsim_assoc_policy& p, const swsim_client_msg& req,
                                        const uint8_t ap_mac[6]) {
    switch (p.mode) {
        case swsim_assoc_mode::accept:
            return swsim_msg_assoc_reply(ap_mac, req.vap_mac, req.client_mac, req.radio, req.ssid, p);
        case swsim_assoc_mode::refuse: return swsim_msg_disassociate(ap_mac, req.client_mac);
        case swsim_assoc_mode::none: break;
    }
    return {};
}

std::vector<uint8_t> swsim_msg_disassociate(const uint8_t ap_mac[6], const uint8_t client_mac[6]) {
    return two_macs(SWITCH_DISASSOCIATE_CLIENT, ap_mac, client_mac);
}

std::vector<uint8_t> swsim_msg_resend_client(const uint8_t ap_mac[6], const uint8_t client_mac[6]) {
    return two_macs(SWSIM_RESEND_CLIENT_INFO, ap_mac, client_mac);
}

std::vector<uint8_t> swsim_msg_new_arp(const uint8_t client_mac[6], uint32_t ip,
                                       const uint8_t vap_mac[6]) {
    std::array<uint8_t, 32> buf;
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWITCH_NEW_ARP);
    wire_msg_add(m, 0x1003, client_mac, 6);
    wire_msg_add_be32(m, 0x1004, ip);
    wire_msg_add(m, 0x1005, vap_mac, 6);
    return finish(m);
}

std::vector<uint8_t> swsim_msg_threat_deauth(const uint8_t ap_mac[6], uint8_t radio,
                                             uint8_t channel, const uint8_t client_mac[6],
                                             const uint8_t bssid[6]) {
    std::array<uint8_t, 48> buf;
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWSIM_THREAT_DEAUTH);
    wire_msg_add_u8(m, 0x0067, radio);
    wire_msg_add(m, MAP_ELEM_MAC, ap_mac, 6);
    wire_msg_add(m, 0x0065, bssid, 6);
    wire_msg_add_u8(m, 0x0068, channel);
    wire_msg_add(m, 0x5002, client_mac, 6);
    return finish(m);
}

int swsim_client_cmd_parse(const std::string& verb, const std::vector<std::string>& a,
                           swsim_client_cmd& cmd, std::string& error) {
    struct shape {
        const char* verb;
        uint16_t type;
        size_t min, max;
    };
    static constexpr shape kShapes[] = {
        {"disassociate", SWITCH_DISASSOCIATE_CLIENT, 1, 2},
        {"resend", SWSIM_RESEND_CLIENT_INFO, 1, 2},
        {"new-arp", SWITCH_NEW_ARP, 3, 3},
        {"threat-deauth", SWSIM_THREAT_DEAUTH, 4, 5},
    };
    const shape* s = nullptr;
    for (const auto& x : kShapes) {
        if (verb == x.verb) s = &x;
    }
    if (s == nullptr) return 1;
    if (a.size() < s->min || a.size() > s->max) {
        error = "wrong number of values for " + verb;
        return -1;
    }
    swsim_client_cmd c;
    c.type = s->type;
    bool ok = true;
    if (c.type == SWSIM_THREAT_DEAUTH) {
        unsigned long radio = 0, channel = 0;
        ok = number(a[0], 255, radio) && number(a[1], 255, channel) &&
             swsim_mac_parse(a[2], c.client) && swsim_mac_parse(a[3], c.bssid);
        c.radio = static_cast<uint8_t>(radio);
        c.channel = static_cast<uint8_t>(channel);
        c.ap_given = a.size() == 5;
        ok = ok && (!c.ap_given || swsim_mac_parse(a[4], c.ap));
    } else if (c.type == SWITCH_NEW_ARP) {
        ok = swsim_mac_parse(a[0], c.client) && ipv4_parse(a[1], c.ip) &&
             swsim_mac_parse(a[2], c.vap);
    } else {
        c.ap_given = a.size() == 2;
        ok = swsim_mac_parse(a[0], c.client) && (!c.ap_given || swsim_mac_parse(a[1], c.ap));
    }
    if (!ok) {
        error = "bad MAC address, IPv4 address or number for " + verb;
        return -1;
    }
    cmd = c;
    return 0;
}

std::vector<uint8_t> swsim_client_cmd_build(const swsim_client_cmd& c, const uint8_t own_ap[6]) {
    const uint8_t* ap = c.ap_given ? c.ap : own_ap;
    switch (c.type) {
        case SWITCH_DISASSOCIATE_CLIENT: return swsim_msg_disassociate(ap, c.client);
        case SWSIM_RESEND_CLIENT_INFO: return swsim_msg_resend_client(ap, c.client);
        case SWITCH_NEW_ARP: return swsim_msg_new_arp(c.client, c.ip, c.vap);
        case SWSIM_THREAT_DEAUTH:
            return swsim_msg_threat_deauth(ap, c.radio, c.channel, c.client, c.bssid);
        default: return {};
    }
}

bool swsim_mac_parse(const std::string& text, uint8_t mac[6]) {
    if (text.size() != 17) return false;
    for (size_t i = 0; i < 17; ++i) {
        bool colon = i % 3 == 2;
        if (colon ? text[i] != ':' : !isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    for (int i = 0; i < 6; ++i) {
        mac[i] = static_cast<uint8_t>(strtoul(text.substr(3 * i, 2).c_str(), nullptr, 16));
    }
    return true;
}

std::string swsim_mac_text(const uint8_t mac[6]) {
    char b[20];
    snprintf(b, sizeof b, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
             mac[5]);
    return b;
}
