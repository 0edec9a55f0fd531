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
constexpr lf kClientAuth[] = {{1, 6, lk::mac, "vap"},      {7, 6, lk::mac, "client"},
                              {13, 1, lk::u8, "radio"},    {14, 32, lk::text, "ssid"},
                              {46, 32, lk::text, "user"},  {78, 2, lk::h16, "vlan"}};
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
constexpr lf kTspecStatus[] = {{1, 1, lk::u8, "cmd"}, {2, 1, lk::u8, "ac"}};
constexpr lf kChanLoadReq[] = {{1, 6, lk::mac, "ap"}, {7, 6, lk::mac, "client"},
                               {13, 1, lk::u8, "channel"}, {14, 2, lk::h16, "duration"}};

size_t pre_auth_size(const uint8_t* m, size_t len) { return len >= 48 ? 48u + h16(m + 46) : 0; }

void pre_auth_data(const uint8_t* m, size_t len, std::string& out) {
    if (len <= 48) return;
    size_t n = len - 48 < 16 ? len - 48 : 16;
    out += " data " + hex_str(m + 48, n) + (len - 48 > 16 ? "..." : "");
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
    {40, "tspec_status_msg_s", 984, kTspecStatus},
};

// ---- mapqosd: switch-message framing ------------------------------------------------

constexpr lf kQosVap[] = {{4, 1, lk::u8, "radio"}, {5, 1, lk::u8, "vap"},
                          {6, 66, lk::names, "acl"}, {72, 66, lk::names, "policy"}};

// The definition replies: the entry count, then the entries (type, name 31).
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
            out += std::string(code == 0x0112 ? " acl " : " policy ") + std::to_string(v[0]) +
                   ":" + text_str(v + 1, 31);
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

}  // namespace

std::string twin_local_decode(standin_kind peer, bool from_peer, const uint8_t* msg, size_t len) {
    if (msg == nullptr || len == 0) return "empty datagram";
    if (peer == standin_kind::mapqosd) return decode_mapqosd(msg, len);
    const std::span<const record> table =
        peer == standin_kind::tspec ? std::span<const record>(kTspecRecords)
                                    : std::span<const record>(kHostapd);
    const record* r = nullptr;
    for (const auto& row : table) {
        if (row.type == msg[0]) r = &row;
    }
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

// ---- the client command of apsim ------------------------------------------------------

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

int twin_client_cmd_parse(const std::vector<std::string>& args, twin_client_cmd& out,
                          std::string& error) {
    // Per action: the options it takes, and which of them it needs.
    struct shape {
        const char* action;
        const char* takes;  // option letters: v vap, s ssid, t status, r rssi, c channel
        const char* needs;
    };
    static constexpr shape kShapes[] = {
        {"add", "v", "v"},          {"remove", "", ""},   {"assoc", "vs", "v"},
        {"disassoc", "v", ""},      {"authfail", "vst", "vt"}, {"probe", "vsrc", "v"},
    };
    static constexpr struct {
        char letter;
        const char* name;
    } kOptions[] = {{'v', "--vap"}, {'s', "--ssid"}, {'t', "--status"}, {'r', "--rssi"},
                    {'c', "--channel"}};
    if (args.size() < 2) {
        error = "a client command needs an action and a MAC address";
        return -1;
    }
    const shape* sh = nullptr;
    for (const auto& s : kShapes) {
        if (args[0] == s.action) sh = &s;
    }
    if (sh == nullptr) {
        error = "unknown client action \"" + args[0] + "\"";
        return -1;
    }
    twin_client_cmd c;
    c.action = args[0];
    c.mac_text = args[1];
    const std::string& t = args[1];
    bool mac_ok = t.size() == 17;
    for (size_t i = 0; mac_ok && i < 17; ++i) {
        mac_ok = i % 3 == 2 ? t[i] == ':' : isxdigit(static_cast<unsigned char>(t[i])) != 0;
    }
    if (!mac_ok) {
        error = "not a MAC address: " + t;
        return -1;
    }
    for (int i = 0; i < 6; ++i) c.mac[i] = static_cast<uint8_t>(strtoul(t.substr(3 * i, 2).c_str(), nullptr, 16));
    std::string seen;
    for (size_t i = 2; i < args.size(); i += 2) {
        char letter = 0;
        for (const auto& o : kOptions) {
            if (args[i] == o.name) letter = o.letter;
        }
        if (letter == 0 || strchr(sh->takes, letter) == nullptr) {
            error = "\"" + args[i] + "\" is not an option of client " + c.action;
            return -1;
        }
        if (i + 1 >= args.size()) {
            error = args[i] + " needs a value";
            return -1;
        }
        const std::string& v = args[i + 1];
        seen += letter;
        if (letter == 'v') {
            if (twin_vap_radio(v) < 0) {
                error = "not a VAP interface (wlan0, wlan1vap3, ...): " + v;
                return -1;
            }
            c.vap = v;
        } else if (letter == 's') {
            c.ssid = v;
            c.ssid_given = true;
        } else {
            char* end = nullptr;
            errno = 0;
            unsigned long n = strtoul(v.c_str(), &end, 0);
            if (v.empty() || !isdigit(static_cast<unsigned char>(v[0])) || *end != '\0' ||
                errno != 0 || n > 255) {
                error = std::string(args[i]) + " takes a number from 0 to 255: " + v;
                return -1;
            }
            (letter == 't' ? c.status : letter == 'r' ? c.rssi : c.channel) = static_cast<uint8_t>(n);
        }
    }
    for (const char* n = sh->needs; *n; ++n) {
        if (seen.find(*n) == std::string::npos) {
            for (const auto& o : kOptions) {
                if (o.letter == *n) error = "client " + c.action + " needs " + o.name;
            }
            return -1;
        }
    }
    out = c;
    return 0;
}
