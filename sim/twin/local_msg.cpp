#include "twin/local_msg.hpp"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

namespace {

// How a field is shown.
enum class lk : uint8_t {
    u8,      // decimal
    h16,     // host order, decimal
    h32,     // host order, decimal
    x32,     // host order, hex
    mac,
    text,    // NUL-padded text bounded by the field
    hex,     // bytes in hex
    ip16,    // 16 address bytes, an IPv4 address (host order) in the last 4
    ip4,     // an IPv4 address, host order
    auth,    // authentication status with its name
    bw,      // two bandwidth entries of 8 bytes: flag, 3 zero, rate (host order)
    names,   // two entries of 33 bytes: type, name (32)
    ids,     // the same with client QoS id types, each shown with its name
};

struct lf {
    uint16_t off;
    uint16_t width;
    lk kind;
    const char* label;
};

using extra_fn = void (*)(const uint8_t* msg, size_t len, std::string& out);
// The length a variable record should have, from its fixed part; 0 when the
// datagram is too short to say.
using size_fn = size_t (*)(const uint8_t* msg, size_t len);

struct record {
    uint8_t type;
    const char* name;
    size_t size;  // fixed length; 0 when size_of says
    std::span<const lf> fields;
    extra_fn extra = nullptr;
    size_fn size_of = nullptr;
};

uint16_t h16(const uint8_t* p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}
uint32_t h32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}
uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

std::string mac_str(const uint8_t* m) {
    char b[20];
    snprintf(b, sizeof b, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return b;
}
std::string hex_str(const uint8_t* p, size_t n) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(b, sizeof b, "%02x", p[i]);
        out += b;
    }
    return out;
}
std::string text_str(const uint8_t* p, size_t width) {
    return "\"" + std::string(reinterpret_cast<const char*>(p),
                              strnlen(reinterpret_cast<const char*>(p), width)) + "\"";
}
std::string ipv4_str(uint32_t ip) {
    char b[20];
    snprintf(b, sizeof b, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF);
    return b;
}

// A client QoS id type with its name: "2 (ACL ipv4)".
std::string id_type_str(uint8_t t) {
    static const char* const kNames[] = {"none",    "ACL ip4-num", "ACL ipv4", "ACL ipv6", "ACL mac",
                                         "<rsvd5>", "<rsvd6>",     "<rsvd7>",  "Policy in"};
    return std::to_string(t) + " (" + (t < 9 ? kNames[t] : "unknown") + ")";
}

std::string value_str(lk kind, const uint8_t* p, size_t width) {
    char b[64];
    switch (kind) {
        case lk::u8: return std::to_string(p[0]);
        case lk::h16: return std::to_string(h16(p));
        case lk::h32: return std::to_string(h32(p));
        case lk::x32:
            snprintf(b, sizeof b, "0x%x", h32(p));
            return b;
        case lk::mac: return mac_str(p);
        case lk::text: return text_str(p, width);
        case lk::hex: return hex_str(p, width);
        case lk::ip16: {
            bool v4 = true;
            for (int i = 0; i < 12; ++i) v4 = v4 && p[i] == 0;
            return v4 ? ipv4_str(h32(p + 12)) : hex_str(p, 16);
        }
        case lk::ip4: return ipv4_str(h32(p));
        case lk::auth:
            return std::to_string(p[0]) + (p[0] == 1   ? " (AUTHENTICATED)"
                                           : p[0] == 2 ? " (NOT AUTHENTICATED)"
                                                       : " (UNKNOWN)");
        case lk::bw:
            snprintf(b, sizeof b, "down %u/%u up %u/%u", p[0], h32(p + 4), p[8], h32(p + 12));
            return b;
        case lk::names:
            return "down " + std::to_string(p[0]) + ":" + text_str(p + 1, 32) + " up " +
                   std::to_string(p[33]) + ":" + text_str(p + 34, 32);
        case lk::ids:
            return "down " + id_type_str(p[0]) + " " + text_str(p + 1, 32) + " up " +
                   id_type_str(p[33]) + " " + text_str(p + 34, 32);
    }
    return "?";
}

// ---- records to and from hostapd -------------------------------------------------

constexpr lf kProbeReq[] = {{1, 6, lk::mac, "vap"},   {7, 6, lk::mac, "client"},
                            {13, 1, lk::u8, "radio"}, {14, 32, lk::text, "ssid"},
                            {46, 1, lk::u8, "rssi"},  {47, 1, lk::u8, "channel"}};
constexpr lf kDisassocReq[] = {{1, 6, lk::mac, "vap"}, {7, 6, lk::mac, "client"},
                               {13, 1, lk::u8, "radio"}};
constexpr lf kAuthenFail[] = {{1, 6, lk::mac, "vap"}, {7, 6, lk::mac, "client"},
                              {13, 32, lk::text, "ssid"}, {45, 1, lk::auth, "status"}};
constexpr lf kClientOnly[] = {{1, 6, lk::mac, "client"}};
constexpr lf kRfScan[] = {{4, 4, lk::h32, "interval"}};
constexpr lf kPower[] = {{1, 1, lk::u8, "power"}, {2, 6, lk::mac, "radio-mac"}};
constexpr lf kPreAuth[] = {{1, 6, lk::mac, "client"}, {7, 32, lk::text, "ssid"},
                           {39, 6, lk::mac, "bssid"}, {46, 2, lk::h16, "datalen"}};
constexpr lf kPmk[] = {{1, 6, lk::mac, "client"}, {7, 32, lk::text, "ssid"},
                       {39, 32, lk::hex, "pmk"}};
constexpr lf kAssocReq[] = {{1, 6, lk::mac, "ap"},      {7, 6, lk::mac, "vap"},
                            {13, 6, lk::mac, "client"}, {19, 1, lk::u8, "radio"},
                            {20, 33, lk::text, "ssid"}};
constexpr lf kAssocReply[] = {
    {1, 6, lk::mac, "ap"},          {7, 6, lk::mac, "vap"},          {13, 6, lk::mac, "client"},
    {19, 1, lk::u8, "radio"},       {20, 36, lk::text, "ssid"},      {56, 4, lk::x32, "status"},
    {60, 32, lk::hex, "pmk"},       {92, 4, lk::h32, "reauth"},      {96, 4, lk::h32, "age"},
    {100, 2, lk::h16, "vlan"},      {102, 1, lk::u8, "home-ap"},     {103, 6, lk::mac, "home-mac"},
    {109, 16, lk::ip16, "home-ip"}, {128, 16, lk::bw, "bw"},         {144, 66, lk::names, "acl"},
    {210, 66, lk::names, "policy"}};
constexpr lf kWids[] = {{1, 6, lk::mac, "ap"},
                        {7, 1, lk::u8, "wired-detect"},
                        {8, 2, lk::h16, "wired-interval"},
                        {10, 2, lk::h16, "attack-interval"},
                        {12, 2, lk::h16, "attack-count"}};
constexpr lf kTunnelConfig[] = {{4, 4, lk::h32, "max-clients"},
                                {8, 4, lk::h32, "idle-timeout"},
                                {12, 4, lk::h32, "age-timeout"},
                                {16, 4, lk::h32, "mc-replication"}};
constexpr lf kTunnelSetup[] = {{2, 6, lk::mac, "home-ap"},     {8, 6, lk::mac, "client"},
                               {14, 6, lk::mac, "assoc-ap"},   {20, 16, lk::ip16, "assoc-ap-ip"},
                               {36, 2, lk::h16, "vlan"}};
constexpr lf kTunnelTerm[] = {{2, 6, lk::mac, "home-ap"}, {8, 6, lk::mac, "client"}};
constexpr lf kWiredVlan[] = {{2, 2, lk::h16, "vlan"}};
constexpr lf kRadius[] = {{1, 6, lk::mac, "ap"},       {7, 6, lk::mac, "vap"},
                          {13, 6, lk::mac, "client"},  {19, 1, lk::u8, "radio"},
                          {20, 32, lk::text, "ssid"},  {3052, 4, lk::h32, "radius-length"}};
constexpr lf kDeauth[] = {{1, 1, lk::u8, "radio"}, {2, 1, lk::u8, "channel"},
                          {3, 6, lk::mac, "client"}, {9, 6, lk::mac, "fake-bssid"}};
constexpr lf kCl2Tunnel[] = {{1, 2, lk::h16, "vlan-count"}};
constexpr lf kNeighbours[] = {{1502, 2, lk::h16, "list-length"}};
// What hostapd and the TSPEC application send, for the stand-ins' own lines.
constexpr lf kClientAuth[] = {
    {1, 6, lk::mac, "vap"},          {7, 6, lk::mac, "client"},       {13, 1, lk::u8, "radio"},
    {14, 32, lk::text, "ssid"},      {46, 32, lk::text, "user"},      {78, 2, lk::h16, "vlan"},
    {80, 1, lk::u8, "vap-index"},    {82, 2, lk::h16, "tx-rate"},     {84, 1, lk::u8, "channel"},
    {85, 1, lk::u8, "11n"},          {86, 1, lk::u8, "stbc"},         {88, 4, lk::x32, "flags"},
    {92, 32, lk::hex, "pmk"},        {124, 4, lk::h32, "reauth"},     {128, 1, lk::u8, "home-ap"},
    {129, 6, lk::mac, "home-mac"},   {135, 16, lk::ip16, "home-ip"},  {152, 16, lk::bw, "bw"},
    {168, 66, lk::names, "acl"},     {234, 66, lk::names, "policy"},  {300, 5, lk::hex, "rrm"}};
constexpr lf kClientConn[] = {{1, 6, lk::mac, "client"}, {8, 4, lk::ip4, "ip"},
                              {12, 1, lk::u8, "radio"},  {13, 1, lk::u8, "vap-id"}};
constexpr lf kPreAuthNotify[] = {{1, 6, lk::mac, "ap"},     {7, 6, lk::mac, "vap"},
                                 {13, 6, lk::mac, "client"}, {19, 1, lk::u8, "radio"},
                                 {20, 32, lk::text, "ssid"}, {52, 32, lk::text, "user"},
                                 {84, 1, lk::u8, "status"}};
constexpr lf kQosDefReq[] = {{1, 66, lk::names, "acl"}, {67, 66, lk::names, "policy"}};
constexpr lf kChanLoadRep[] = {{1, 6, lk::mac, "ap"},       {7, 6, lk::mac, "client"},
                               {13, 1, lk::u8, "channel"},  {14, 2, lk::h16, "duration"},
                               {16, 1, lk::u8, "mode"},     {17, 1, lk::u8, "load"}};
constexpr lf kTspecStatus[] = {
    {1, 1, lk::u8, "cmd"},            {2, 1, lk::u8, "ac"},             {4, 4, lk::h32, "active-ts"},
    {8, 4, lk::h32, "ts-clients"},    {12, 4, lk::h32, "roam-ts-clients"},
    {16, 4, lk::h32, "accepted"},     {20, 4, lk::h32, "rejected"},
    {24, 4, lk::h32, "roam-accepted"}, {28, 4, lk::h32, "roam-rejected"}};
constexpr lf kChanLoadReq[] = {{1, 6, lk::mac, "ap"}, {7, 6, lk::mac, "client"},
                               {13, 1, lk::u8, "channel"}, {14, 2, lk::h16, "duration"}};

size_t pre_auth_size(const uint8_t* m, size_t len) { return len >= 48 ? 48u + h16(m + 46) : 0; }

void pre_auth_data(const uint8_t* m, size_t len, std::string& out) {
    if (len <= 48) return;
    size_t n = len - 48 < 16 ? len - 48 : 16;
    out += " data " + hex_str(m + 48, n) + (len - 48 > 16 ? "..." : "");
    if (h16(m + 46) > 1600) out += " DATALEN ABOVE 1600";
}

void wids_list(const uint8_t* m, size_t len, std::string& out) {
    if (len < 126) return;
    unsigned n = h16(m + 12) < 16 ? h16(m + 12) : 16;
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t* e = m + 14 + 7 * i;
        out += " " + mac_str(e) + "/" + std::to_string(e[6]);
    }
}

void radius_head(const uint8_t* m, size_t len, std::string& out) {
    if (len < 56) return;
    out += " radius code " + std::to_string(m[52]) + " id " + std::to_string(m[53]) + " length " +
           std::to_string(be16(m + 54));
    if (len >= 3056 && h32(m + 3052) > 3000) out += " RADIUS LENGTH ABOVE 3000";
}

// The two radio entries of the TSPEC status: seven counters each.
void tspec_radios(const uint8_t* m, size_t len, std::string& out) {
    if (len < 88) return;
    for (int r = 0; r < 2; ++r) {
        out += " radio" + std::to_string(r);
        for (int i = 0; i < 7; ++i) out += (i ? "/" : " ") + std::to_string(h32(m + 32 + 28 * r + 4 * i));
    }
}

void vlan_list(const uint8_t* m, size_t len, std::string& out) {
    if (len < 131) return;
    unsigned n = h16(m + 1) < 64 ? h16(m + 1) : 64;
    out += " vlans";
    for (unsigned i = 0; i < n; ++i) out += " " + std::to_string(h16(m + 3 + 2 * i));
}

// The neighbour list: the AP's MAC, then per VAP its MAC and three neighbour
// slots of 13 bytes; an all-zero MAC ends the list.
void neighbour_list(const uint8_t* m, size_t len, std::string& out) {
    if (len < 1504) return;
    const size_t used = h16(m + 1502) < 1500 ? h16(m + 1502) : 1500;
    const uint8_t* list = m + 1;
    const uint8_t zero[6] = {};
    if (used < 6) return;
    out += " ap " + mac_str(list);
    for (size_t at = 6; at + 45 <= used && memcmp(list + at, zero, 6) != 0; at += 45) {
        out += " vap " + mac_str(list + at) + " [";
        int shown = 0;
        for (int s = 0; s < 3; ++s) {
            const uint8_t* n = list + at + 6 + 13 * s;
            if (memcmp(n, zero, 6) == 0) continue;
            out += (shown++ ? " " : "") + mac_str(n) + " ch " + std::to_string(n[6]);
        }
        out += "]";
    }
}

const record kHostapd[] = {
    {1, "probe_reqmsg_s", 48, kProbeReq},
    {3, "disassoc_reqmsg_s", 14, kDisassocReq},
    {4, "authen_failmsg_s", 46, kAuthenFail},
    {5, "disassoc_cmdmsg_s", 7, kClientOnly},
    {6, "rfscanreport_cmdmsg_s", 8, kRfScan},
    {7, "channelsupported_cmdmsg_s", 1, {}},
    {8, "power_change_info_cmdmsg_s", 8, kPower},
    {10, "mpre_auth_cmdmsg_s", 0, kPreAuth, pre_auth_data, pre_auth_size},
    {12, "mpmk_cmdmsg_s", 71, kPmk},
    {13, "mpre_auth_ansmsg_s", 0, kPreAuth, pre_auth_data, pre_auth_size},
    {14, "mclient_auth_msg_s", 308, kClientAuth},
    {15, "resend_client_info_cmdmsg_s", 7, kClientOnly},
    {16, "mclient_conn_msg_s", 16, kClientConn},
    {17, "assoc_req_msg_s", 53, kAssocReq},
    {18, "assoc_reply_cmdmsg_s", 276, kAssocReply},
    {19, "wids_config_cmdmsg_t", 126, kWids, wids_list},
    {20, "dl2tunnel_config_msg_s", 20, kTunnelConfig},
    {21, "dl2tunnel_setup_msg_s", 38, kTunnelSetup},
    {22, "dl2tunnel_term_msg_s", 14, kTunnelTerm},
    {23, "wired_nw_det_vlan_cmdmsg_s", 4, kWiredVlan},
    {24, "client_preauth_notification_msg_s", 85, kPreAuthNotify},
    {25, "radius_proxy_cmdmsg_s", 3056, kRadius, radius_head},
    {32, "client_deauth_msg_s", 15, kDeauth},
    {33, "cl2tunnel_config_msg_s", 131, kCl2Tunnel, vlan_list},
    {37, "rrm_nbr_ap_list", 1504, kNeighbours, neighbour_list},
    {34, "cltqos_auth_def_req_msg_s", 133, kQosDefReq},
    {38, "rrm_chan_load_req", 16, kChanLoadReq},
    {39, "rrm_chan_load_rep_msg_s", 18, kChanLoadRep},
};

// ---- records to and from the TSPEC application ------------------------------------

constexpr lf kTspec[] = {
    {1, 1, lk::u8, "cmd"},           {2, 6, lk::mac, "ap"},          {8, 6, lk::mac, "vap"},
    {14, 6, lk::mac, "client"},      {20, 1, lk::u8, "radio"},       {21, 32, lk::text, "ssid"},
    {53, 1, lk::u8, "ac"},           {56, 1, lk::u8, "rsvd1"},       {57, 3, lk::hex, "ts-info"},
    {60, 2, lk::h16, "nom-msdu"},    {62, 2, lk::h16, "max-msdu"},   {64, 4, lk::h32, "min-srv"},
    {68, 4, lk::h32, "max-srv"},     {72, 4, lk::h32, "inactivity"}, {76, 4, lk::h32, "suspension"},
    {80, 4, lk::h32, "srv-start"},   {84, 4, lk::h32, "min-rate"},   {88, 4, lk::h32, "mean-rate"},
    {92, 4, lk::h32, "peak-rate"},   {96, 4, lk::h32, "max-burst"},  {100, 4, lk::h32, "delay-bound"},
    {104, 4, lk::h32, "min-phy"},    {108, 2, lk::h16, "surplus-bw"}, {110, 2, lk::h16, "medium-time"},
    {112, 4, lk::h32, "wlan-util"},  {116, 2, lk::h16, "prev-medium-time"},
    {118, 1, lk::u8, "prev-ac"},     {119, 1, lk::u8, "admitted"}};
constexpr lf kTspecDirect[] = {{1, 1, lk::u8, "cmd"}, {2, 1, lk::u8, "managed"}};

const record kTspecRecords[] = {
    {4, "tspec_msg_s", 120, kTspec},
    {6, "tspec_direct_msg_s", 3, kTspecDirect},
    {35, "tspec_msg_s", 120, kTspec},
    {40, "tspec_status_msg_s", 984, kTspecStatus, tspec_radios},
};

// ---- mapqosd: switch-message framing ------------------------------------------------

// Radio from 1, VAP from 0, the down and up ACL, the down and up policy.
constexpr lf kQosVap[] = {{4, 1, lk::u8, "radio"}, {5, 1, lk::u8, "vap"},
                          {6, 66, lk::ids, "acl"}, {72, 66, lk::ids, "policy"}};

// The definition replies as the switch sent them and mapd forwards them: the
// entry count, then the entries (id type, name 31).  mapqosd's reading of
// them is its own; the stand-in shows what arrived.
void qos_defs(const uint8_t* m, size_t len, std::string& out) {
    size_t at = 4;
    while (len - at >= 4) {
        const uint16_t code = be16(m + at), n = be16(m + at + 2);
        at += 4;
        if (n > len - at) {
            out += " elem-" + std::to_string(code) + " cut short";
            return;
        }
        const uint8_t* v = m + at;
        if (code == 0x0111 && n == 2) {
            out += " count " + std::to_string(be16(v));
        } else if ((code == 0x0112 || code == 0x0113) && n == 32) {
            out += std::string(code == 0x0112 ? " acl " : " policy ") + id_type_str(v[0]) +
                   " " + text_str(v + 1, 31);
        } else {
            char b[32];
            snprintf(b, sizeof b, " elem-0x%04x(%u)", code, n);
            out += b;
        }
        at += n;
    }
}

void trace_mask(const uint8_t* m, size_t len, std::string& out) {
    if (len < 8) return;
    char b[32];
    snprintf(b, sizeof b, " mask 0x%x", be32(m + 4));
    out += b;
}

const record kQosRecords[] = {
    {0, "VAP client QoS settings (304)", 138, kQosVap},
    {1, "CLTQOS_ACL_DEF_REPLY (148)", 0, {}, qos_defs},
    {2, "CLTQOS_POLICY_DEF_REPLY (149)", 0, {}, qos_defs},
    {3, "DEBUG_SET_TRACE (260)", 0, {}, trace_mask},
};

std::string fields(const record& r, const uint8_t* msg, size_t len) {
    std::string out;
    for (const lf& f : r.fields) {
        if (size_t{f.off} + f.width > len) break;
        out += std::string(" ") + f.label + " " + value_str(f.kind, msg + f.off, f.width);
    }
    if (r.extra) r.extra(msg, len, out);
    return out;
}

std::string with_length(const char* name, size_t len, size_t want, bool at_least = false) {
    std::string head = std::string(name) + " (" + std::to_string(len) + " bytes";
    if (want != 0 && (at_least ? len < want : len != want)) {
        head += ", WRONG LENGTH: expected " + std::string(at_least ? "at least " : "") +
                std::to_string(want);
    }
    return head + "):";
}

std::string unknown(const char* what, const uint8_t* msg, size_t len) {
    std::string out = std::string(what) + " (" + std::to_string(len) + " bytes):";
    out += " " + hex_str(msg, len < 48 ? len : 48) + (len > 48 ? "..." : "");
    return out;
}

std::string decode_mapqosd(const uint8_t* msg, size_t len) {
    if (len < 4) return unknown("short message", msg, len);
    const uint16_t type = be16(msg), length = be16(msg + 2);
    int row = type == 304 ? 0 : type == 148 ? 1 : type == 149 ? 2 : type == 260 ? 3 : -1;
    if (row < 0) return unknown(("message type " + std::to_string(type)).c_str(), msg, len);
    const record& r = kQosRecords[row];
    std::string out = with_length(r.name, len, r.size ? r.size : length);
    if (r.size != 0 && length != len) out += " length-field " + std::to_string(length);
    return out + fields(r, msg, len);
}

const record* record_of(standin_kind peer, const uint8_t* msg) {
    const std::span<const record> table =
        peer == standin_kind::tspec ? std::span<const record>(kTspecRecords)
                                    : std::span<const record>(kHostapd);
    const record* r = nullptr;
    for (const auto& row : table) {
        if (row.type == msg[0]) r = &row;
    }
    return r;
}

}  // namespace

std::string twin_local_field(standin_kind peer, const uint8_t* msg, size_t len,
                             const std::string& label) {
    if (msg == nullptr || len == 0 || peer == standin_kind::mapqosd) return "";
    const record* r = record_of(peer, msg);
    if (r == nullptr) return "";
    for (const lf& f : r->fields) {
        if (label == f.label && size_t{f.off} + f.width <= len) return value_str(f.kind, msg + f.off, f.width);
    }
    return "";
}

std::string twin_local_decode(standin_kind peer, bool from_peer, const uint8_t* msg, size_t len) {
    if (msg == nullptr || len == 0) return "empty datagram";
    if (peer == standin_kind::mapqosd) return decode_mapqosd(msg, len);
    const record* r = record_of(peer, msg);
    if (r == nullptr) return unknown(("type " + std::to_string(msg[0]) + " unknown record").c_str(), msg, len);
    if (from_peer && peer == standin_kind::hostapd && (msg[0] == 6 || msg[0] == 7)) {
        // hostapd's own report: a switch message after the type byte.
        std::string out = std::string(r->name) + " (" + std::to_string(len) + " bytes):";
        if (len >= 5) {
            out += " switch message type " + std::to_string(be16(msg + 1)) + " length " +
                   std::to_string(be16(msg + 3));
        }
        return out;
    }
    if (r->size_of) {
        size_t want = r->size_of(msg, len);
        return with_length(r->name, len, want ? want : 48, want == 0) + fields(*r, msg, len);
    }
    return with_length(r->name, len, r->size) + fields(*r, msg, len);
}

// ---- hostapd's events ---------------------------------------------------------------

namespace {

void put_text(std::vector<uint8_t>& m, size_t off, const std::string& s, size_t width) {
    memcpy(m.data() + off, s.data(), s.size() < width ? s.size() : width);
}

}  // namespace

std::vector<uint8_t> twin_msg_probe_req(const uint8_t vap[6], const uint8_t client[6], uint8_t radio,
                                        const std::string& ssid, uint8_t rssi, uint8_t channel) {
    std::vector<uint8_t> m(48, 0);
    m[0] = 1;
    memcpy(&m[1], vap, 6);
    memcpy(&m[7], client, 6);
    m[13] = radio;
    put_text(m, 14, ssid, 32);
    m[46] = rssi;
    m[47] = channel;
    return m;
}

std::vector<uint8_t> twin_msg_assoc_req(const uint8_t ap[6], const uint8_t vap[6],
                                        const uint8_t client[6], uint8_t radio,
                                        const std::string& ssid) {
    std::vector<uint8_t> m(53, 0);
    m[0] = 17;
    memcpy(&m[1], ap, 6);
    memcpy(&m[7], vap, 6);
    memcpy(&m[13], client, 6);
    m[19] = radio;
    put_text(m, 20, ssid, 33);
    return m;
}

std::vector<uint8_t> twin_msg_disassoc_req(const uint8_t vap[6], const uint8_t client[6],
                                           uint8_t radio) {
    std::vector<uint8_t> m(14, 0);
    m[0] = 3;
    memcpy(&m[1], vap, 6);
    memcpy(&m[7], client, 6);
    m[13] = radio;
    return m;
}

std::vector<uint8_t> twin_msg_authen_fail(const uint8_t vap[6], const uint8_t client[6],
                                          const std::string& ssid, uint8_t status) {
    std::vector<uint8_t> m(46, 0);
    m[0] = 4;
    memcpy(&m[1], vap, 6);
    memcpy(&m[7], client, 6);
    put_text(m, 13, ssid, 32);
    m[45] = status;
    return m;
}

// ---- roaming events and the TSPEC application ------------------------------------------

namespace {

void put16(std::vector<uint8_t>& m, size_t off, uint16_t v) { memcpy(m.data() + off, &v, 2); }
void put32(std::vector<uint8_t>& m, size_t off, uint32_t v) { memcpy(m.data() + off, &v, 4); }

}  // namespace

std::vector<uint8_t> twin_msg_client_auth(const twin_client_auth& a) {
    std::vector<uint8_t> m(308, 0);
    m[0] = 14;
    memcpy(&m[1], a.vap, 6);
    memcpy(&m[7], a.client, 6);
    m[13] = a.radio;
    put_text(m, 14, a.ssid, 32);
    put_text(m, 46, a.user, 32);
    put16(m, 78, a.vlan);
    m[80] = a.vap_index;
    put16(m, 82, a.tx_rate);
    m[84] = a.channel;
    m[85] = a.dot11n;
    m[86] = a.stbc;
    put32(m, 88, a.flags);
    memcpy(&m[92], a.pmk, 32);
    put32(m, 124, a.reauth);
    m[128] = a.home_flag;
    memcpy(&m[129], a.home_mac, 6);
    put32(m, 147, a.home_ip);
    for (int d = 0; d < 2; ++d) {
        m[152 + 8 * d] = a.bw_flag[d];
        put32(m, 156 + 8 * d, a.bw_rate[d]);
        m[168 + 33 * d] = a.acl_type[d];
        put_text(m, 169 + 33 * d, a.acl[d], 32);
        m[234 + 33 * d] = a.policy_type[d];
        put_text(m, 235 + 33 * d, a.policy[d], 32);
    }
    memcpy(&m[300], a.rrm, 5);
    return m;
}

std::vector<uint8_t> twin_msg_pmk(const uint8_t client[6], const std::string& ssid,
                                  const uint8_t pmk[32]) {
    std::vector<uint8_t> m(71, 0);
    m[0] = 12;
    memcpy(&m[1], client, 6);
    put_text(m, 7, ssid, 32);
    memcpy(&m[39], pmk, 32);
    return m;
}

std::vector<uint8_t> twin_msg_pre_auth(uint8_t type, const uint8_t client[6],
                                       const std::string& ssid, const uint8_t bssid[6],
                                       const std::vector<uint8_t>& data) {
    const size_t n = data.size() < 1600 ? data.size() : 1600;
    std::vector<uint8_t> m(48 + n, 0);
    m[0] = type;
    memcpy(&m[1], client, 6);
    put_text(m, 7, ssid, 32);
    memcpy(&m[39], bssid, 6);
    put16(m, 46, static_cast<uint16_t>(n));
    if (n) memcpy(&m[48], data.data(), n);
    return m;
}

std::vector<uint8_t> twin_msg_preauth_notify(const uint8_t ap[6], const uint8_t vap[6],
                                             const uint8_t client[6], uint8_t radio,
                                             const std::string& ssid, const std::string& user,
                                             uint8_t status) {
    std::vector<uint8_t> m(85, 0);
    m[0] = 24;
    memcpy(&m[1], ap, 6);
    memcpy(&m[7], vap, 6);
    memcpy(&m[13], client, 6);
    m[19] = radio;
    put_text(m, 20, ssid, 32);
    put_text(m, 52, user, 32);
    m[84] = status;
    return m;
}

std::vector<uint8_t> twin_msg_radius(const uint8_t ap[6], const uint8_t vap[6],
                                     const uint8_t client[6], uint8_t radio,
                                     const std::string& ssid, const std::vector<uint8_t>& packet) {
    const size_t n = packet.size() < 3000 ? packet.size() : 3000;
    std::vector<uint8_t> m(3056, 0);
    m[0] = 25;
    memcpy(&m[1], ap, 6);
    memcpy(&m[7], vap, 6);
    memcpy(&m[13], client, 6);
    m[19] = radio;
    put_text(m, 20, ssid, 32);
    if (n) memcpy(&m[52], packet.data(), n);
    put32(m, 3052, static_cast<uint32_t>(n));
    return m;
}

std::vector<uint8_t> twin_msg_chan_load_rep(const uint8_t ap[6], const uint8_t client[6],
                                            uint8_t channel, uint16_t duration, uint8_t mode,
                                            uint8_t load) {
    std::vector<uint8_t> m(18, 0);
    m[0] = 39;
    memcpy(&m[1], ap, 6);
    memcpy(&m[7], client, 6);
    m[13] = channel;
    put16(m, 14, duration);
    m[16] = mode;
    m[17] = load;
    return m;
}

std::vector<uint8_t> twin_msg_tspec(const twin_tspec& t) {
    std::vector<uint8_t> m(120, 0);
    m[0] = 35;
    m[1] = t.cmd;
    memcpy(&m[2], t.ap, 6);
    memcpy(&m[8], t.vap, 6);
    memcpy(&m[14], t.client, 6);
    m[20] = t.radio;
    put_text(m, 21, t.ssid, 32);
    m[53] = t.ac;
    m[56] = t.rsvd1;
    memcpy(&m[57], t.ts_info, 3);
    put16(m, 60, t.nom_msdu);
    put16(m, 62, t.max_msdu);
    for (int i = 0; i < 11; ++i) put32(m, 64 + 4 * static_cast<size_t>(i), t.f[i]);
    put16(m, 108, t.surplus_bw);
    put16(m, 110, t.medium_time);
    put32(m, 112, t.wlan_util);
    put16(m, 116, t.prev_medium_time);
    m[118] = t.prev_ac;
    m[119] = t.admitted;
    return m;
}

std::vector<uint8_t> twin_msg_tspec_status(uint8_t cmd, uint8_t ac) {
    std::vector<uint8_t> m(984, 0);
    m[0] = 40;
    m[1] = cmd;
    m[2] = ac;
    for (size_t off = 4; off < 984; off += 4) put32(m, off, 1000u * ac + static_cast<uint32_t>(off / 4));
    return m;
}

void twin_client_pmk(const uint8_t client[6], uint8_t pmk[32]) {
    for (int i = 0; i < 32; ++i) pmk[i] = static_cast<uint8_t>(client[5] + i);
}

std::vector<uint8_t> twin_pattern(size_t n, uint8_t first) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
    return v;
}

std::vector<uint8_t> twin_radius_packet(size_t n, uint8_t code, uint8_t id) {
    std::vector<uint8_t> p = twin_pattern(n, 0x40);
    if (n >= 4) {
        p[0] = code;
        p[1] = id;
        p[2] = static_cast<uint8_t>(n >> 8);
        p[3] = static_cast<uint8_t>(n);
    }
    return p;
}

// ---- the client command of apsim ------------------------------------------------------

std::vector<uint8_t> twin_client_event(const twin_client_cmd& c, const uint8_t vap_mac[6],
                                       const uint8_t ap_mac[6]) {
    const int r = twin_vap_radio(c.vap);
    const auto radio = static_cast<uint8_t>(r < 0 ? 0 : r);
    const uint8_t channel = c.channel ? c.channel : radio == 0 ? 36 : 6;
    if (c.action == "auth") {
        twin_client_auth a;
        memcpy(a.vap, vap_mac, 6);
        memcpy(a.client, c.mac, 6);
        a.radio = radio;
        a.vap_index = static_cast<uint8_t>(twin_vap_index(c.vap) < 0 ? 0 : twin_vap_index(c.vap));
        a.ssid = c.ssid;
        a.user = c.user;
        a.vlan = c.vlan;
        a.channel = channel;
        if (c.rrm) {
            a.flags |= 0x80;
            const uint8_t rrm[5] = {0x02, 0x02, 0x00, 0x40, 0x01};
            memcpy(a.rrm, rrm, 5);
        }
        twin_client_pmk(c.mac, a.pmk);
        memcpy(a.home_mac, ap_mac, 6);
        a.home_ip = 0x7F000001;
        for (int d = 0; d < 2 && c.bw; ++d) {
            a.bw_flag[d] = 1;
            a.bw_rate[d] = c.bw;
        }
        return twin_msg_client_auth(a);
    }
    if (c.action == "pmk") {
        uint8_t pmk[32];
        twin_client_pmk(c.mac, pmk);
        return twin_msg_pmk(c.mac, c.ssid, pmk);
    }
    if (c.action == "preauth" || c.action == "preauth-ans") {
        return twin_msg_pre_auth(c.action == "preauth" ? 10 : 13, c.mac, c.ssid, vap_mac,
                                 twin_pattern(c.bytes, 0x40));
    }
    if (c.action == "preauth-notify") {
        return twin_msg_preauth_notify(ap_mac, vap_mac, c.mac, radio, c.ssid, c.user, c.status);
    }
    if (c.action == "radius") {
        return twin_msg_radius(ap_mac, vap_mac, c.mac, radio, c.ssid,
                               twin_radius_packet(c.bytes, 1, c.mac[5]));
    }
    if (c.action == "chanload") return twin_msg_chan_load_rep(ap_mac, c.mac, c.channel, 50, 0, c.load);
    if (c.action == "assoc") return twin_msg_assoc_req(ap_mac, vap_mac, c.mac, radio, c.ssid);
    if (c.action == "disassoc") return twin_msg_disassoc_req(vap_mac, c.mac, radio);
    if (c.action == "authfail") return twin_msg_authen_fail(vap_mac, c.mac, c.ssid, c.status);
    if (c.action == "probe") return twin_msg_probe_req(vap_mac, c.mac, radio, c.ssid, c.rssi, channel);
    return {};
}

std::vector<uint8_t> twin_tspec_event(const twin_client_cmd& c, const uint8_t vap_mac[6],
                                      const uint8_t ap_mac[6]) {
    if (c.action == "status") return twin_msg_tspec_status(c.cmd, c.ac);
    twin_tspec t;
    t.cmd = c.cmd;
    memcpy(t.ap, ap_mac, 6);
    memcpy(t.vap, vap_mac, 6);
    memcpy(t.client, c.mac, 6);
    const int r = twin_vap_radio(c.vap);
    t.radio = static_cast<uint8_t>(r < 0 ? 0 : r);
    t.ssid = c.ssid;
    t.ac = c.ac;
    return twin_msg_tspec(t);
}


int twin_vap_radio(const std::string& n) {
    if (n.size() < 5 || n.compare(0, 4, "wlan") != 0 || (n[4] != '0' && n[4] != '1')) return -1;
    if (n.size() == 5) return n[4] - '0';
    if (n.size() < 9 || n.size() > 10 || n.compare(5, 3, "vap") != 0 || n[8] == '0') return -1;
    int v = 0;
    for (size_t i = 8; i < n.size(); ++i) {
        if (!isdigit(static_cast<unsigned char>(n[i]))) return -1;
        v = v * 10 + (n[i] - '0');
    }
    return v >= 1 && v <= 15 ? n[4] - '0' : -1;
}

int twin_vap_index(const std::string& n) {
    if (twin_vap_radio(n) < 0) return -1;
    return n.size() == 5 ? 0 : atoi(n.c_str() + 8);
}

namespace {

// Per action: the options it takes, and which of them it needs.
struct shape {
    const char* group;  // "client" or "tspec"
    const char* action;
    bool mac;           // a MAC address follows the action
    const char* takes;  // option letters (kOptions)
    const char* needs;
};
constexpr shape kShapes[] = {
    {"client", "add", true, "v", "v"},
    {"client", "remove", true, "", ""},
    {"client", "assoc", true, "vs", "v"},
    {"client", "disassoc", true, "v", ""},
    {"client", "authfail", true, "vst", "vt"},
    {"client", "probe", true, "vsrc", "v"},
    {"client", "auth", true, "vsulRwc", "v"},
    {"client", "pmk", true, "vs", "v"},
    {"client", "preauth", true, "vsb", "vb"},
    {"client", "preauth-ans", true, "vsb", "vb"},
    {"client", "preauth-notify", true, "vstu", "vt"},
    {"client", "radius", true, "vsb", "vb"},
    {"client", "chanload", true, "cL", "cL"},
    {"tspec", "request", true, "vsam", "v"},
    {"tspec", "status", false, "am", ""},
};

struct option {
    char letter;
    const char* name;
    unsigned long max;  // numbers: the largest value; 0: a text value
    bool flag;          // takes no value
};
constexpr option kOptions[] = {
    {'v', "--vap", 0, false},    {'s', "--ssid", 0, false},    {'t', "--status", 255, false},
    {'r', "--rssi", 255, false}, {'c', "--channel", 255, false}, {'u', "--user", 0, false},
    {'l', "--vlan", 4095, false}, {'R', "--rrm", 0, true},     {'b', "--bytes", 3000, false},
    {'w', "--bw", 0xFFFFFFFFul, false}, {'L', "--load", 255, false}, {'a', "--ac", 255, false},
    {'m', "--cmd", 255, false},
};

int cmd_parse(const char* group, const std::vector<std::string>& args, twin_client_cmd& out,
              std::string& error) {
    const shape* sh = nullptr;
    for (const auto& s : kShapes) {
        if (!args.empty() && args[0] == s.action && strcmp(group, s.group) == 0) sh = &s;
    }
    if (sh == nullptr) {
        error = args.empty() ? std::string("a ") + group + " command needs an action"
                             : "unknown " + std::string(group) + " action \"" + args[0] + "\"";
        return -1;
    }
    twin_client_cmd c;
    c.action = args[0];
    size_t i = 1;
    if (sh->mac) {
        if (args.size() < 2) {
            error = std::string("a ") + group + " command needs an action and a MAC address";
            return -1;
        }
        c.mac_text = args[1];
        const std::string& t = args[1];
        bool mac_ok = t.size() == 17;
        for (size_t k = 0; mac_ok && k < 17; ++k) {
            mac_ok = k % 3 == 2 ? t[k] == ':' : isxdigit(static_cast<unsigned char>(t[k])) != 0;
        }
        if (!mac_ok) {
            error = "not a MAC address: " + t;
            return -1;
        }
        for (int k = 0; k < 6; ++k) {
            c.mac[k] = static_cast<uint8_t>(strtoul(t.substr(3 * k, 2).c_str(), nullptr, 16));
        }
        i = 2;
    }
    std::string seen;
    for (; i < args.size(); ++i) {
        const option* o = nullptr;
        for (const auto& x : kOptions) {
            if (args[i] == x.name) o = &x;
        }
        if (o == nullptr || strchr(sh->takes, o->letter) == nullptr) {
            error = "\"" + args[i] + "\" is not an option of " + group + " " + c.action;
            return -1;
        }
        seen += o->letter;
        if (o->flag) {
            c.rrm = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = args[i] + " needs a value";
            return -1;
        }
        const std::string& v = args[++i];
        const char letter = o->letter;
        if (letter == 'v') {
            if (twin_vap_radio(v) < 0) {
                error = "not a VAP interface (wlan0, wlan1vap3, ...): " + v;
                return -1;
            }
            c.vap = v;
        } else if (letter == 's') {
            c.ssid = v;
            c.ssid_given = true;
        } else if (letter == 'u') {
            c.user = v;
        } else {
            // --bytes of a pre-authentication: the record holds 1600.
            const unsigned long max = letter == 'b' && c.action != "radius" ? 1600 : o->max;
            char* end = nullptr;
            errno = 0;
            unsigned long n = strtoul(v.c_str(), &end, 0);
            if (v.empty() || !isdigit(static_cast<unsigned char>(v[0])) || *end != '\0' ||
                errno != 0 || n > max) {
                error = std::string(args[i - 1]) + " takes a number from 0 to " + std::to_string(max) + ": " + v;
                return -1;
            }
            switch (letter) {
                case 't': c.status = static_cast<uint8_t>(n); break;
                case 'r': c.rssi = static_cast<uint8_t>(n); break;
                case 'c': c.channel = static_cast<uint8_t>(n); break;
                case 'l': c.vlan = static_cast<uint16_t>(n); break;
                case 'b': c.bytes = static_cast<uint16_t>(n); break;
                case 'w': c.bw = static_cast<uint32_t>(n); break;
                case 'L': c.load = static_cast<uint8_t>(n); break;
                case 'a': c.ac = static_cast<uint8_t>(n); break;
                default: c.cmd = static_cast<uint8_t>(n); break;
            }
        }
    }
    for (const char* n = sh->needs; *n; ++n) {
        if (seen.find(*n) == std::string::npos) {
            for (const auto& o : kOptions) {
                if (o.letter == *n) error = std::string(group) + " " + c.action + " needs " + o.name;
            }
            return -1;
        }
    }
    out = c;
    return 0;
}

}  // namespace

int twin_client_cmd_parse(const std::vector<std::string>& args, twin_client_cmd& out,
                          std::string& error) {
    return cmd_parse("client", args, out, error);
}

int twin_tspec_cmd_parse(const std::vector<std::string>& args, twin_client_cmd& out,
                         std::string& error) {
    return cmd_parse("tspec", args, out, error);
}
