#include "swsim/config_msg.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>

#include "switch/switch_comm_util.hpp"
#include "switch/switch_msg.hpp"
#include "swsim/client_msg.hpp"
#include "wire/map_text.hpp"
#include "wire/wire.hpp"

namespace {

constexpr size_t kRadioLen = 146;
constexpr size_t kVapLen = 279;
constexpr size_t kQosLen = 129;
constexpr size_t kVapQosLen = 139;

// Rate bits: 1, 2, 5.5, 6, 9, 11, 12, 18, 24, 36, 48, 54, 72, 96, 108 Mbit/s.
constexpr const char* kRates[] = {"1", "2", "5.5", "6", "9", "11", "12", "18",
                                  "24", "36", "48", "54", "72", "96", "108"};

void put16(std::vector<uint8_t>& v, size_t at, uint16_t x) { wire_store_be16(v.data() + at, x); }
void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) { wire_store_be32(v.data() + at, x); }

bool key_value(const std::string& w, std::string& k, std::string& val) {
    size_t eq = w.find('=');
    if (eq == std::string::npos) return false;
    k = w.substr(0, eq);
    val = w.substr(eq + 1);
    return true;
}

bool rate_mask(const std::string& list, uint32_t& mask) {
    mask = 0;
    std::stringstream in(list);
    for (std::string r; std::getline(in, r, ',');) {
        bool found = false;
        for (size_t b = 0; b < std::size(kRates); ++b) {
            if (r == kRates[b]) {
                mask |= 1u << b;
                found = true;
            }
        }
        if (!found) return false;
    }
    return true;
}

bool to_uint(const std::string& t, uint32_t& v) {
    char* end = nullptr;
    unsigned long x = strtoul(t.c_str(), &end, 10);
    if (t.empty() || *end != '\0' || x > 0xFFFFFFFFul) return false;
    v = static_cast<uint32_t>(x);
    return true;
}

void put_text(std::vector<uint8_t>& v, size_t at, size_t width, const std::string& t) {
    memcpy(v.data() + at, t.data(), t.size() < width ? t.size() : width);
}

// A dotted IPv4 address in host order.
bool ipv4(const std::string& t, uint32_t& ip) {
    in_addr a{};
    if (inet_pton(AF_INET, t.c_str(), &a) != 1) return false;
    ip = ntohl(a.s_addr);
    return true;
}

bool to_byte(const std::string& t, uint8_t& b) {
    uint32_t v = 0;
    if (!to_uint(t, v) || v > 255) return false;
    b = static_cast<uint8_t>(v);
    return true;
}

// Radio id and VAP id, the first two bytes of every VAP portal element.
bool radio_vap(const std::vector<std::string>& w, size_t at, std::vector<uint8_t>& v) {
    return w.size() > at + 1 && to_byte(w[at], v[0]) && to_byte(w[at + 1], v[1]);
}

// The captive-portal lines: 0 with the element's code and value, 1 when the
// line is none of them, -1 with `error` set.
int portal_element(const std::vector<std::string>& w, uint16_t& code, std::vector<uint8_t>& v,
                   std::string& error) {
    const std::string& k = w[0];
    uint32_t n = 0;
    bool ok = true;
    if (k == "portal") {
        // radio, VAP, address type, 16 address bytes (the IPv4 form in the
        // last 4), interface MAC, prefix length
        code = 0x1100;
        v.assign(26, 0);
        v[2] = 1;
        ok = radio_vap(w, 1, v);
        for (size_t i = 3; ok && i < w.size(); ++i) {
            std::string key, val;
            uint32_t ip = 0;
            ok = key_value(w[i], key, val);
            if (ok && key == "ip") {
                ok = ipv4(val, ip);
                put32(v, 15, ip);
            } else if (ok && key == "mac") {
                ok = swsim_mac_parse(val, v.data() + 19);
            } else if (ok && key == "prefix") {
                ok = to_byte(val, v[25]);
            } else if (ok && key == "type") {
                ok = to_byte(val, v[2]);
            } else {
                ok = false;
            }
        }
    } else if (k == "portal-off" || k == "portal-block" || k == "portal-unblock") {
        code = k == "portal-off" ? 0x1101 : k == "portal-block" ? 0x1104 : 0x1105;
        v.assign(2, 0);
        ok = w.size() == 3 && radio_vap(w, 1, v);
    } else if (k == "portal-auth-port" || k == "portal-secure-port") {
        // radio, VAP, 16-bit port; the secure ports say first or second first
        const size_t at = k == "portal-auth-port" ? 1 : 2;
        code = 0x1107;
        if (at == 2) {
            code = w.size() > 1 && w[1] == "1" ? 0x1109 : 0x110a;
            ok = w.size() > 1 && (w[1] == "1" || w[1] == "2");
        }
        v.assign(4, 0);
        ok = ok && w.size() == at + 3 && radio_vap(w, at, v) && to_uint(w[at + 2], n) &&
             n <= 0xFFFF;
        if (ok) put16(v, 2, static_cast<uint16_t>(n));
    } else if (k == "portal-client") {
        // client MAC; authentication adds the up and down rates
        const std::string what = w.size() > 1 ? w[1] : "";
        code = what == "auth" ? 0x1103 : what == "unauth" ? 0x1102 : 0x1108;
        v.assign(what == "auth" ? 14 : 6, 0);
        ok = (what == "auth" || what == "unauth" || what == "deauth") &&
             w.size() == (what == "auth" ? 5u : 3u) && swsim_mac_parse(w[2], v.data());
        for (size_t i = 0; ok && what == "auth" && i < 2; ++i) {
            ok = to_uint(w[3 + i], n);
            put32(v, 6 + 4 * i, n);
        }
    } else {
        return 1;
    }
    if (!ok) {
        error = "bad " + k + " line";
        return -1;
    }
    return 0;
}

}  // namespace

std::vector<uint8_t> swsim_radio_value(const std::vector<std::string>& w, std::string& error) {
    std::vector<uint8_t> v(kRadioLen, 0);
    uint32_t id = 0;
    if (w.size() < 2 || !to_uint(w[1], id) || id > 255) {
        error = "radio needs an id";
        return {};
    }
    v[0] = static_cast<uint8_t>(id);
    v[1] = 1;                           // admin mode
    put32(v, 2, id == 1 ? 3 : 4);       // a-n on radio 1, bg-n on radio 2
    put32(v, 27, 100);                  // beacon interval
    put16(v, 31, 1);                    // DTIM period
    put32(v, 33, 2346);                 // fragmentation threshold
    put32(v, 37, 2347);                 // RTS threshold
    put32(v, 53, 64);                   // maximum stations
    put16(v, 121, 20);                  // transmit power
    v[123] = 1;                         // 20 MHz
    v[125] = 1;                         // protection auto
    put16(v, 127, 60);                  // fixed multicast rate 6 Mbit/s
    uint32_t supported = 0, basic = 0;
    rate_mask(id == 1 ? "6,9,12,18,24,36,48,54" : "1,2,5.5,6,9,11,12,18,24,36,48,54", supported);
    rate_mask(id == 1 ? "6,12,24" : "1,2,5.5,11", basic);
    put32(v, 131, supported);
    put32(v, 135, basic);
    v[139] = 1;                         // WME
    for (size_t i = 2; i < w.size(); ++i) {
        std::string k, val;
        uint32_t n = 0;
        if (!key_value(w[i], k, val)) {
            error = "not key=value: " + w[i];
            return {};
        }
        if (k == "supported" || k == "basic") {
            uint32_t mask = 0;
            if (!rate_mask(val, mask)) {
                error = "unknown rate in " + val;
                return {};
            }
            put32(v, k == "supported" ? 131 : 135, mask);
            continue;
        }
        if (!to_uint(val, n)) {
            error = "not a number: " + w[i];
            return {};
        }
        if (k == "admin") v[1] = static_cast<uint8_t>(n);
        else if (k == "mode") put32(v, 2, n);
        else if (k == "channel") v[6] = static_cast<uint8_t>(n);
        else if (k == "power") put16(v, 121, static_cast<uint16_t>(n));
        else if (k == "max-stations") put32(v, 53, n);
        else if (k == "beacon") put32(v, 27, n);
        else if (k == "wme") v[139] = static_cast<uint8_t>(n);
        else {
            error = "unknown radio value " + k;
            return {};
        }
    }
    return v;
}

std::vector<uint8_t> swsim_vap_value(const std::vector<std::string>& w, std::string& error) {
    std::vector<uint8_t> v(kVapLen, 0);
    uint32_t radio = 0, vap = 0;
    if (w.size() < 3 || !to_uint(w[1], radio) || !to_uint(w[2], vap) || radio > 255 || vap > 255) {
        error = "vap needs a radio id and a VAP id";
        return {};
    }
    v[0] = static_cast<uint8_t>(radio);
    v[1] = static_cast<uint8_t>(vap);
    v[2] = 1;            // admin mode
    put32(v, 50, 1);     // plain-text
    put32(v, 54, 1);     // open
    for (size_t i = 3; i < w.size(); ++i) {
        std::string k, val;
        if (!key_value(w[i], k, val)) {
            error = "not key=value: " + w[i];
            return {};
        }
        uint32_t n = 0;
        if (k == "ssid") {
            put_text(v, 3, 32, val);
        } else if (k == "key") {
            put_text(v, 201, 64, val);
        } else if (k == "security") {
            static constexpr const char* kModes[] = {"plain-text", "static-wep", "dot1x",
                                                     "wpa-personal", "wpa-enterprise"};
            uint32_t mode = 0;
            for (uint32_t m = 0; m < 5; ++m) {
                if (val == kModes[m]) mode = m + 1;
            }
            if (mode == 0) {
                error = "unknown security mode " + val;
                return {};
            }
            put32(v, 50, mode);
            if (mode >= 4) {
                put32(v, 58, 3);  // WPA and WPA2
                put32(v, 62, 3);  // TKIP and CCMP
            }
        } else if (k == "subnet" || k == "mask") {
            uint32_t ip = 0;
            if (!ipv4(val, ip)) {
                error = "not an IPv4 address: " + w[i];
                return {};
            }
            put32(v, k == "subnet" ? 42 : 46, ip);
        } else if (k == "auth") {
            uint32_t a = val == "open" ? 1 : val == "shared" ? 2 : val == "both" ? 3 : 0;
            if (a == 0) {
                error = "unknown authentication " + val;
                return {};
            }
            put32(v, 54, a);
        } else if (to_uint(val, n)) {
            if (k == "admin") v[2] = static_cast<uint8_t>(n);
            else if (k == "vlan") put32(v, 35, n);
            else if (k == "hide") v[39] = static_cast<uint8_t>(n);
            else if (k == "tunnel") v[41] = static_cast<uint8_t>(n);
            else {
                error = "unknown VAP value " + k;
                return {};
            }
        } else {
            error = "not a number: " + w[i];
            return {};
        }
    }
    return v;
}

std::vector<uint8_t> swsim_vap_qos_value(const std::vector<std::string>& w, std::string& error) {
    std::vector<uint8_t> v(kVapQosLen, 0);
    uint32_t radio = 0, vap = 0;
    if (w.size() < 3 || !to_uint(w[1], radio) || !to_uint(w[2], vap) || radio > 255 || vap > 255) {
        error = "vapqos needs a radio id and a VAP id";
        return {};
    }
    v[0] = static_cast<uint8_t>(radio);
    v[1] = static_cast<uint8_t>(vap);
    // The four references, each a type byte and a 31-byte name from byte 11.
    static const struct {
        const char* key;
        size_t at;
        const char* types[4];  // by type number
    } kRefs[] = {{"acl-down", 11, {"none", "ipv4", "mac", "ipv6"}},
                 {"acl-up", 43, {"none", "ipv4", "mac", "ipv6"}},
                 {"policy-down", 75, {"none", "in", "out", nullptr}},
                 {"policy-up", 107, {"none", "in", "out", nullptr}}};
    for (size_t i = 3; i < w.size(); ++i) {
        std::string k, val;
        uint32_t n = 0;
        if (!key_value(w[i], k, val)) {
            error = "not key=value: " + w[i];
            return {};
        }
        const auto ref = std::find_if(std::begin(kRefs), std::end(kRefs),
                                      [&](const auto& r) { return k == r.key; });
        if (ref != std::end(kRefs)) {
            const size_t colon = val.find(':');
            const std::string type = val.substr(0, colon);
            const auto t = std::find_if(std::begin(ref->types), std::end(ref->types),
                                        [&](const char* x) { return x != nullptr && type == x; });
            if (colon == std::string::npos || t == std::end(ref->types)) {
                error = "not TYPE:NAME: " + w[i];
                return {};
            }
            v[ref->at] = static_cast<uint8_t>(t - std::begin(ref->types));
            const std::string name = val.substr(colon + 1, 31);
            std::copy(name.begin(), name.end(), v.begin() + static_cast<long>(ref->at) + 1);
        } else if (!to_uint(val, n)) {
            error = "not a number: " + w[i];
            return {};
        } else if (k == "mode") {
            v[2] = static_cast<uint8_t>(n);
        } else if (k == "bw-down" || k == "bw-up") {
            put32(v, k == "bw-down" ? 3 : 7, n);
        } else {
            error = "unknown vapqos value " + k;
            return {};
        }
    }
    return v;
}

int swsim_config_build(const std::vector<std::string>& lines, std::vector<uint8_t>& msg,
                       std::string& error) {
    std::vector<std::vector<std::string>> words;
    bool portal_only = true;
    for (const auto& line : lines) {
        std::istringstream in(line);
        std::vector<std::string> w;
        for (std::string x; in >> x;) w.push_back(x);
        if (w.empty()) continue;
        portal_only = portal_only && w[0].starts_with("portal");
        words.push_back(std::move(w));
    }
    // Portal elements need no open sequence, and a start would clear the
    // portal state: a block of portal lines alone goes without start and stop.
    const bool sequence = words.empty() || !portal_only;
    std::vector<uint8_t> buf(8192, 0);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWITCH_CONFIG);
    if (sequence) wire_msg_add(m, 0x2001, nullptr, 0);
    for (const auto& w : words) {
        std::vector<uint8_t> v;
        uint16_t code = 0;
        int portal = portal_element(w, code, v, error);
        if (portal < 0) return -1;
        if (portal == 0) {
            // a captive-portal element, built above
        } else if (w[0] == "radio") {
            v = swsim_radio_value(w, error);
            code = 0x2004;
        } else if (w[0] == "vap") {
            v = swsim_vap_value(w, error);
            code = 0x2005;
        } else if (w[0] == "vapqos") {
            v = swsim_vap_qos_value(w, error);
            code = 0x2015;
        } else if (w[0] == "qos" && w.size() == 2) {
            uint32_t id = 0;
            to_uint(w[1], id);
            v.assign(kQosLen, 0);
            v[0] = static_cast<uint8_t>(id);
            static const uint32_t kQueues[4][8] = {{1, 3, 7, 0, 2, 3, 7, 1504},
                                                   {1, 7, 15, 3000, 2, 7, 15, 3008},
                                                   {3, 15, 63, 0, 3, 15, 1023, 0},
                                                   {7, 15, 1023, 0, 7, 15, 1023, 0}};
            for (int q = 0; q < 4; ++q) {
                for (int f = 0; f < 8; ++f) put32(v, 1 + q * 32 + f * 4, kQueues[q][f]);
            }
            code = 0x2006;
        } else if (w[0] == "country" && w.size() == 2 && w[1].size() == 2) {
            v.assign(w[1].begin(), w[1].end());
            code = 0x2009;
        } else if (w[0] == "mtu" && w.size() == 2) {
            uint32_t mtu = 0;
            if (!to_uint(w[1], mtu) || mtu > 0xFFFF) {
                error = "bad MTU " + w[1];
                return -1;
            }
            v.assign(2, 0);
            put16(v, 0, static_cast<uint16_t>(mtu));
            code = 0x200a;
        } else {
            std::string line;
            for (const auto& x : w) line += (line.empty() ? "" : " ") + x;
            error = "unknown configuration line: " + line;
            return -1;
        }
        if (v.empty()) return -1;
        wire_msg_add(m, code, v.data(), static_cast<uint16_t>(v.size()));
    }
    if (sequence) wire_msg_add(m, 0x2002, nullptr, 0);
    size_t len = wire_msg_finish(m);
    if (len == 0) {
        error = "the configuration does not fit one message";
        return -1;
    }
    msg.assign(buf.begin(), buf.begin() + static_cast<long>(len));
    return 0;
}

// ---- tunnel messages ----------------------------------------------------------------

namespace {

std::vector<uint8_t> finished(std::vector<uint8_t>& buf, wire_msg& m) {
    size_t len = wire_msg_finish(m);
    buf.resize(len);
    return buf;
}

// 16 address bytes: 12 zero bytes, then the IPv4 address in network order.
std::vector<uint8_t> addr16(uint32_t ip) {
    std::vector<uint8_t> a(16, 0);
    put32(a, 12, ip);
    return a;
}

}  // namespace

std::vector<uint8_t> swsim_msg_dl2_config(uint32_t max_clients, uint32_t idle, uint32_t age,
                                          uint32_t mcast) {
    std::vector<uint8_t> v(16, 0), buf(64, 0);
    const uint32_t limits[] = {max_clients, idle, age, mcast};
    for (size_t i = 0; i < 4; ++i) put32(v, 4 * i, limits[i]);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), MAP_SWITCH_DL2TUNNEL_CONFIG_MSG_ID);
    wire_msg_add(m, 0x5040, v.data(), 16);
    return finished(buf, m);
}

std::vector<uint8_t> swsim_msg_dl2_setup(const uint8_t home[6], const uint8_t client[6],
                                         const uint8_t assoc[6], uint32_t assoc_ip, uint16_t vlan) {
    std::vector<uint8_t> buf(128, 0);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), MAP_SWITCH_DL2TUNNEL_SETUP_MSG_ID);
    wire_msg_add(m, 0x5041, home, 6);
    wire_msg_add(m, 19, client, 6);
    wire_msg_add(m, 33, assoc, 6);
    wire_msg_add(m, 257, addr16(assoc_ip).data(), 16);
    wire_msg_add_be16(m, 0x500C, vlan);
    return finished(buf, m);
}

std::vector<uint8_t> swsim_msg_dl2_term(const uint8_t home[6], const uint8_t client[6]) {
    std::vector<uint8_t> buf(64, 0);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID);
    wire_msg_add(m, 0x5041, home, 6);
    wire_msg_add(m, 19, client, 6);
    return finished(buf, m);
}

std::vector<uint8_t> swsim_msg_cl2_vlans(const std::vector<uint16_t>& vlans) {
    std::vector<uint8_t> v(2 * vlans.size(), 0), buf(16 + v.size(), 0);
    for (size_t i = 0; i < vlans.size(); ++i) put16(v, 2 * i, vlans[i]);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), MAP_SWITCH_CL2TUNNEL_CONFIG_MSG_ID);
    if (!vlans.empty()) wire_msg_add(m, 0x2020, v.data(), static_cast<uint16_t>(v.size()));
    return finished(buf, m);
}

int swsim_tunnel_step_build(const std::string& verb, const std::vector<std::string>& a,
                            std::vector<uint8_t>& msg, std::string& error) {
    uint32_t n[4] = {};
    uint8_t mac[3][6] = {};
    bool ok = true;
    if (verb == "dl2-config") {
        ok = a.size() == 4;
        for (size_t i = 0; ok && i < 4; ++i) ok = to_uint(a[i], n[i]);
        if (ok) msg = swsim_msg_dl2_config(n[0], n[1], n[2], n[3]);
    } else if (verb == "dl2-setup") {
        ok = a.size() == 5 && swsim_mac_parse(a[0], mac[0]) && swsim_mac_parse(a[1], mac[1]) &&
             swsim_mac_parse(a[2], mac[2]) && ipv4(a[3], n[0]) && to_uint(a[4], n[1]) &&
             n[1] <= 0xFFFF;
        if (ok) {
            msg = swsim_msg_dl2_setup(mac[0], mac[1], mac[2], n[0], static_cast<uint16_t>(n[1]));
        }
    } else if (verb == "dl2-term") {
        ok = a.size() == 2 && swsim_mac_parse(a[0], mac[0]) && swsim_mac_parse(a[1], mac[1]);
        if (ok) msg = swsim_msg_dl2_term(mac[0], mac[1]);
    } else if (verb == "cl2-vlans") {
        // More than the AP takes may be given, to try its refusal.
        std::vector<uint16_t> vlans;
        ok = a.size() == 1;
        std::stringstream in(ok && a[0] != "-" ? a[0] : "");
        for (std::string id; ok && std::getline(in, id, ',');) {
            ok = to_uint(id, n[0]) && n[0] <= 0xFFFF && vlans.size() < 512;
            vlans.push_back(static_cast<uint16_t>(n[0]));
        }
        if (ok) msg = swsim_msg_cl2_vlans(vlans);
    } else {
        return 1;
    }
    if (!ok) {
        error = "bad values for " + verb;
        return -1;
    }
    return 0;
}

std::string swsim_tunnel_decode(const std::vector<uint8_t>& msg) {
    if (msg.size() < 4) return "";
    const uint16_t type = wire_load_be16(msg.data());
    if (type != MAP_SWITCH_DL2TUNNEL_CONFIG_MSG_ID && type != MAP_SWITCH_DL2TUNNEL_SETUP_MSG_ID &&
        type != MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID && type != MAP_SWITCH_CL2TUNNEL_CONFIG_MSG_ID) {
        return "";
    }
    std::string out = std::string(map_pkt_type_name(type)) + " (" + std::to_string(type) + "), " +
                      std::to_string(msg.size()) + " bytes:";
    std::string vlans;
    wire_reader r = wire_reader_make(msg.data() + 4, msg.size() - 4);
    wire_elem e;
    while (wire_elem_next(r, e)) {
        const uint8_t* p = e.value.data();
        const size_t n = e.value.size();
        char b[96];
        if (e.type == 0x5040 && n == 16) {
            snprintf(b, sizeof b,
                     " max-clients %u idle-timeout %u age-timeout %u mc-replication %u",
                     wire_load_be32(p), wire_load_be32(p + 4), wire_load_be32(p + 8),
                     wire_load_be32(p + 12));
        } else if ((e.type == 0x5041 || e.type == 19 || e.type == 33) && n == 6) {
            const char* what = e.type == 0x5041 ? "home-ap" : e.type == 19 ? "client" : "assoc-ap";
            snprintf(b, sizeof b, " %s %s", what, mac_to_string(p));
        } else if (e.type == 257 && n == 16) {
            snprintf(b, sizeof b, " assoc-ap-ip %s", ip_addr_to_string(wire_load_be32(p + 12)));
        } else if (e.type == 0x500C && n == 2) {
            snprintf(b, sizeof b, " vlan %u", wire_load_be16(p));
        } else if (e.type == 0x2020 && n % 2 == 0) {
            for (size_t i = 0; i < n; i += 2) {
                vlans += (vlans.empty() ? "" : ",") + std::to_string(wire_load_be16(p + i));
            }
            continue;
        } else {
            snprintf(b, sizeof b, " element 0x%04x (%zu bytes)", e.type, n);
        }
        out += b;
    }
    if (type == MAP_SWITCH_CL2TUNNEL_CONFIG_MSG_ID) {
        out += " vlans " + (vlans.empty() ? "none" : vlans);
    }
    return out;
}
