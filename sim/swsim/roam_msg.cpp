#include "swsim/roam_msg.hpp"

#include <arpa/inet.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "switch/switch_msg.hpp"
#include "switch/switch_comm_util.hpp"
#include "wire/wire.hpp"

namespace {

// Texts go into their 32-byte fields NUL-padded, cut to the field.
void ssid_field(const std::string& ssid, uint8_t out[32]) {
    memset(out, 0, 32);
    memcpy(out, ssid.data(), ssid.size() < 32 ? ssid.size() : 32);
}

std::vector<uint8_t> finish(wire_msg& m, std::vector<uint8_t>& buf) {
    buf.resize(wire_msg_finish(m));
    return buf;
}

// The stream's place: AP, VAP and client MAC, radio, SSID, access category.
void tspec_head(wire_msg& m, const swsim_client_msg& req) {
    uint8_t ssid[32];
    ssid_field(req.ssid, ssid);
    wire_msg_add(m, 0x0021, req.ap_mac, 6);
    wire_msg_add(m, 0x5001, req.vap_mac, 6);
    wire_msg_add(m, 0x5002, req.client_mac, 6);
    wire_msg_add_u8(m, 0x5003, req.radio);
    wire_msg_add(m, 0x5004, ssid, 32);
    wire_msg_add_u8(m, 0x5074, req.ac);
}

void tspec_body(wire_msg& m, const swsim_tspec_body& t) {
    uint8_t b[56] = {};
    b[0] = t.rsvd1;
    memcpy(b + 1, t.ts_info, 3);
    wire_store_be16(b + 4, t.nom_msdu);
    wire_store_be16(b + 6, t.max_msdu);
    for (int i = 0; i < 11; ++i) wire_store_be32(b + 8 + 4 * i, t.f[i]);
    wire_store_be16(b + 52, t.surplus_bw);
    wire_store_be16(b + 54, t.medium_time);
    wire_msg_add(m, 0x5071, b, sizeof b);
}

bool number(const std::string& t, unsigned long max, unsigned long& v) {
    if (t.empty() || t[0] == '-' || t[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    v = strtoul(t.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && v <= max;
}

swsim_roam_client& client_of(swsim_roam& r, const uint8_t mac[6]) {
    for (auto& c : r.clients) {
        if (memcmp(c.mac, mac, 6) == 0) return c;
    }
    r.clients.emplace_back();
    memcpy(r.clients.back().mac, mac, 6);
    return r.clients.back();
}

}  // namespace

std::vector<uint8_t> swsim_msg_pmk(const uint8_t client[6], const std::string& ssid,
                                   const uint8_t pmk[32], bool with_ssid) {
    std::vector<uint8_t> buf(96);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWITCH_CLIENT_PMK);
    uint8_t s[32];
    ssid_field(ssid, s);
    wire_msg_add(m, 0xF100, client, 6);
    if (with_ssid) wire_msg_add(m, 0xF101, s, 32);
    wire_msg_add(m, 0xF104, pmk, 32);
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_pre_auth(uint16_t type, const uint8_t client[6],
                                        const std::string& ssid, const uint8_t bssid[6],
                                        std::span<const uint8_t> data) {
    std::vector<uint8_t> buf(64 + data.size());
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), type);
    uint8_t s[32];
    ssid_field(ssid, s);
    wire_msg_add(m, 0xF100, client, 6);
    wire_msg_add(m, 0xF101, s, 32);
    wire_msg_add(m, 0xF102, bssid, 6);
    wire_msg_add(m, 0xF103, data.data(), static_cast<uint16_t>(data.size()));
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_radius(const uint8_t ap[6], const uint8_t vap[6],
                                      const uint8_t client[6], uint8_t radio,
                                      const std::string& ssid, std::span<const uint8_t> packet) {
    std::vector<uint8_t> buf(79 + packet.size());
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), MAP_SWITCH_RADIUS_PROXY_CMD);
    uint8_t s[32];
    ssid_field(ssid, s);
    wire_msg_add(m, 0x0021, ap, 6);
    wire_msg_add(m, 0x5001, vap, 6);
    wire_msg_add(m, 0x5002, client, 6);
    wire_msg_add_u8(m, 0x5003, radio);
    wire_msg_add(m, 0x5004, s, 32);
    wire_msg_add(m, 0x5020, packet.data(), static_cast<uint16_t>(packet.size()));
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_tspec_reply(const swsim_client_msg& req, bool admitted) {
    std::vector<uint8_t> buf(160);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWITCH_TSPEC_ADMISSION_REPLY);
    tspec_head(m, req);
    tspec_body(m, req.tspec);
    wire_msg_add_be32(m, 0x005A, req.wlan_util);
    wire_msg_add_u8(m, 0x5072, admitted ? 1 : 0);
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_tspec_delete(const swsim_client_msg& req) {
    std::vector<uint8_t> buf(160);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWITCH_TSPEC_DELETION);
    tspec_head(m, req);
    tspec_body(m, req.tspec);
    wire_msg_add_be32(m, 0x005A, 0);
    return finish(m, buf);
}

std::vector<uint8_t> swsim_pattern(size_t n, uint8_t first) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
    return v;
}

std::vector<uint8_t> swsim_radius_packet(size_t n, uint8_t code, uint8_t id) {
    std::vector<uint8_t> p = swsim_pattern(n, 0x80);
    if (n >= 4) {
        p[0] = code;
        p[1] = id;
        wire_store_be16(p.data() + 2, static_cast<uint16_t>(n));
    }
    return p;
}

int swsim_tspec_mode_parse(const std::string& word, swsim_tspec_mode& mode, std::string& error) {
    if (word == "admit") mode = swsim_tspec_mode::admit;
    else if (word == "refuse") mode = swsim_tspec_mode::refuse;
    else if (word == "none") mode = swsim_tspec_mode::none;
    else {
        error = "unknown TSPEC policy \"" + word + "\" (admit, refuse, none)";
        return -1;
    }
    return 0;
}

const char* swsim_tspec_mode_text(swsim_tspec_mode mode) {
    switch (mode) {
        case swsim_tspec_mode::admit: return "admit";
        case swsim_tspec_mode::refuse: return "refuse";
        case swsim_tspec_mode::none: break;
    }
    return "none";
}

std::vector<uint8_t> swsim_tspec_answer(swsim_tspec_mode mode, const swsim_client_msg& req) {
    if (req.type != SWITCH_TSPEC_ADMISSION_REQ || mode == swsim_tspec_mode::none) return {};
    return swsim_msg_tspec_reply(req, mode == swsim_tspec_mode::admit);
}

void swsim_roam_note(swsim_roam& r, const swsim_client_msg& m) {
    const uint16_t t = m.type;
    const bool pre_auth = t == SWITCH_CLIENT_PRE_AUTH || t == MAP_SWITCH_CLIENT_PRE_AUTH_ANS;
    const bool tspec = t == SWITCH_TSPEC_ADMISSION_REQ || t == SWITCH_TSPEC_DELETION ||
                       t == SWITCH_TSPEC_REQ_NO_BODY;
    const bool placed = t == SWSIM_CLIENT_ASSOC_REQ || t == MAP_SWITCH_CLIENT_AUTH ||
                        t == SWITCH_CLIENT_PRE_AUTH_NOTIFY || t == MAP_SWITCH_RADIUS_PROXY_CMD || tspec;
    if (!placed && !pre_auth && t != SWITCH_CLIENT_PMK) return;
    swsim_roam_client& c = client_of(r, m.client_mac);
    if (placed) {
        memcpy(c.vap, m.vap_mac, 6);
        c.radio = m.radio;
    }
    c.ssid = m.ssid;
    if (t == MAP_SWITCH_CLIENT_AUTH || t == SWITCH_CLIENT_PMK) {
        memcpy(c.pmk, m.pmk, 32);
        c.has_pmk = true;
    }
    if (pre_auth) {
        memcpy(c.bssid, m.bssid, 6);
        c.has_bssid = true;
    }
    if (t == MAP_SWITCH_RADIUS_PROXY_CMD && m.data.size() >= 2) c.radius_id = m.data[1];
    if (tspec) {
        std::erase_if(c.tspecs, [&](const swsim_client_msg& x) { return x.ac == m.ac; });
        if (t != SWITCH_TSPEC_DELETION) c.tspecs.push_back(m);
    }
}

const swsim_roam_client* swsim_roam_find(const swsim_roam& r, const uint8_t mac[6]) {
    for (const auto& c : r.clients) {
        if (memcmp(c.mac, mac, 6) == 0) return &c;
    }
    return nullptr;
}

int swsim_roam_cmd_parse(const std::string& verb, const std::vector<std::string>& a,
                         swsim_roam_cmd& cmd, std::string& error) {
    struct shape {
        const char* verb;
        uint16_t type;
        size_t min, max;
    };
    static constexpr shape kShapes[] = {
        {"pmk", SWITCH_CLIENT_PMK, 1, 2},
        {"preauth", SWITCH_CLIENT_PRE_AUTH, 2, 2},
        {"preauth-ans", MAP_SWITCH_CLIENT_PRE_AUTH_ANS, 2, 2},
        {"radius", MAP_SWITCH_RADIUS_PROXY_CMD, 2, 2},
        {"tspec-delete", SWITCH_TSPEC_DELETION, 1, 2},
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
    swsim_roam_cmd c;
    c.type = s->type;
    if (!swsim_mac_parse(a[0], c.client)) {
        error = "bad MAC address for " + verb + ": " + a[0];
        return -1;
    }
    unsigned long v = 0;
    if (c.type == SWITCH_CLIENT_PMK && a.size() == 2) {
        c.no_ssid = a[1] == "-";
        c.ssid_given = !c.no_ssid;
        c.ssid = c.no_ssid ? "" : a[1];
    } else if (c.type == SWITCH_TSPEC_DELETION && a.size() == 2) {
        if (!number(a[1], 255, v)) {
            error = "bad access category for " + verb + ": " + a[1];
            return -1;
        }
        c.ac = static_cast<int>(v);
    } else if (a.size() == 2) {
        if (!number(a[1], 8000, v)) {
            error = "bad number of bytes for " + verb + " (0 to 8000): " + a[1];
            return -1;
        }
        c.bytes = v;
    }
    cmd = c;
    return 0;
}

std::vector<uint8_t> swsim_roam_cmd_build(const swsim_roam_cmd& c, const swsim_roam& r,
                                          const uint8_t own_ap[6], std::string& error) {
    static const swsim_roam_client kNone{};
    const swsim_roam_client* known = swsim_roam_find(r, c.client);
    const swsim_roam_client& k = known ? *known : kNone;
    switch (c.type) {
        case SWITCH_CLIENT_PMK: {
            uint8_t pmk[32];
            for (int i = 0; i < 32; ++i) pmk[i] = k.has_pmk ? k.pmk[i] : static_cast<uint8_t>(i + 1);
            return swsim_msg_pmk(c.client, c.ssid_given ? c.ssid : k.ssid, pmk, !c.no_ssid);
        }
        case SWITCH_CLIENT_PRE_AUTH:
        case MAP_SWITCH_CLIENT_PRE_AUTH_ANS:
            return swsim_msg_pre_auth(c.type, c.client, k.ssid, k.has_bssid ? k.bssid : k.vap,
                                      swsim_pattern(c.bytes, 0x80));
        case MAP_SWITCH_RADIUS_PROXY_CMD:
            return swsim_msg_radius(own_ap, k.vap, c.client, k.radio, k.ssid,
                                    swsim_radius_packet(c.bytes, 2, k.radius_id));
        case SWITCH_TSPEC_DELETION: {
            const swsim_client_msg* req = nullptr;
            for (const auto& t : k.tspecs) {
                if (c.ac < 0 || t.ac == c.ac) req = &t;
            }
            if (req == nullptr) {
                error = "no TSPEC request of " + swsim_mac_text(c.client) +
                        (c.ac < 0 ? "" : " for access category " + std::to_string(c.ac)) + " heard";
                return {};
            }
            return swsim_msg_tspec_delete(*req);
        }
        default: break;
    }
    error = "not a roaming step";
    return {};
}

std::string swsim_radio_report_decode(const std::vector<uint8_t>& msg) {
    if (msg.size() < 4) return "";
    const uint16_t type = wire_load_be16(msg.data());
    if (type != SWITCH_AP_RFSCAN_REPORT && type != SWITCH_AP_SUPPORTED_CHANNELS) return "";
    std::string out = std::string(map_pkt_type_name(type)) + " (" + std::to_string(type) + "), " +
                      std::to_string(msg.size()) + " bytes: elements";
    std::string problems;
    const uint16_t length = wire_load_be16(msg.data() + 2);
    if (length != msg.size()) {
        problems = "length field " + std::to_string(length) + " in " + std::to_string(msg.size()) + " bytes";
    }
    wire_reader r = wire_reader_make(msg.data() + 4, msg.size() - 4);
    wire_elem e;
    char b[32];
    while (wire_elem_next(r, e)) {
        snprintf(b, sizeof b, " 0x%04x(%u)", e.type, e.len);
        out += b;
        if (!e.complete) {
            snprintf(b, sizeof b, "element 0x%04x cut short", e.type);
            problems += (problems.empty() ? "" : ", ") + std::string(b);
        }
    }
    if (wire_remaining(r) > 0) {
        problems += (problems.empty() ? "" : ", ") + std::to_string(wire_remaining(r)) + " stray bytes at the end";
    }
    return out + (problems.empty() ? "" : "; MALFORMED: " + problems);
}

// ---- radio, WIDS, RRM and provisioning commands ---------------------------------

namespace {

// Begins message `type` in `buf` with the AP MAC.
void with_ap(wire_msg& m, std::vector<uint8_t>& buf, uint16_t type, const uint8_t ap[6]) {
    wire_msg_begin(m, buf.data(), buf.size(), type);
    wire_msg_add(m, 0x0021, ap, 6);
}

bool hex_bytes(const std::string& t, uint8_t* out, size_t n) {
    if (t.size() != 2 * n) return false;
    for (char c : t) {
        if (!isxdigit(static_cast<unsigned char>(c))) return false;
    }
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>(strtoul(t.substr(2 * i, 2).c_str(), nullptr, 16));
    }
    return true;
}

// "A/B" split at its first '/'; false without one.
bool halves(const std::string& t, char sep, std::string& a, std::string& b) {
    size_t at = t.find(sep);
    if (at == std::string::npos) return false;
    a = t.substr(0, at);
    b = t.substr(at + 1);
    return true;
}

bool wids_entry(const std::string& t, swsim_wids_entry& e) {
    std::string mac, ch;
    unsigned long v = 0;
    if (!halves(t, '/', mac, ch) || !swsim_mac_parse(mac, e.bssid) || !number(ch, 255, v)) {
        return false;
    }
    e.channel = static_cast<uint8_t>(v);
    return true;
}

bool rrm_vap(const std::string& t, swsim_rrm_vap& vap) {
    std::string mac, list;
    if (!halves(t, '=', mac, list) || !swsim_mac_parse(mac, vap.mac)) return false;
    for (const auto& n : list.empty() ? std::vector<std::string>{} : swsim_split_commas(list)) {
        swsim_rrm_nbr nbr;
        std::string nmac, info;
        if (vap.nbrs.size() == 8 || !halves(n, '/', nmac, info) ||
            !swsim_mac_parse(nmac, nbr.mac) || !hex_bytes(info, nbr.info, 7)) {
            return false;
        }
        vap.nbrs.push_back(nbr);
    }
    return true;
}

bool switch_addr(const std::string& t, map_switch_addr& a) {
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, t.c_str(), &v4) == 1) {
        a = map_switch_addr_from_ipv4(ntohl(v4.s_addr));
        return true;
    }
    if (inet_pton(AF_INET6, t.c_str(), &v6) != 1) return false;
    a = map_switch_addr{};
    a.is_ipv6 = 1;
    memcpy(a.addr, &v6, 16);
    return true;
}

bool read_file(const std::string& path, std::string& text) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::stringstream all;
    all << f.rdbuf();
    text = all.str();
    return true;
}

}  // namespace

std::vector<uint8_t> swsim_msg_rf_scan(const uint8_t ap[6], uint16_t seconds) {
    wire_msg m;
    std::vector<uint8_t> buf(20);
    with_ap(m, buf, SWITCH_SCAN_REPORT_INT, ap);
    wire_msg_add_be16(m, 0x3101, seconds);
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_channel(const uint8_t ap[6], uint8_t radio, uint32_t channel) {
    wire_msg m;
    std::vector<uint8_t> buf(27);
    with_ap(m, buf, SWITCH_CHANGE_CHANNEL, ap);
    wire_msg_add_u8(m, 0x3101, radio);
    wire_msg_add_be32(m, 0x3104, channel);
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_power(const uint8_t ap[6], uint8_t radio, uint8_t level) {
    wire_msg m;
    std::vector<uint8_t> buf(24);
    with_ap(m, buf, SWITCH_CHANGE_POWER, ap);
    wire_msg_add_u8(m, 0x3101, radio);
    wire_msg_add_u8(m, 0x3105, level);
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_wids(const uint8_t ap[6], bool on, uint16_t interval,
                                    uint16_t attack_interval,
                                    const std::vector<swsim_wids_entry>& list) {
    std::vector<uint8_t> entries;
    for (const auto& e : list) {
        entries.insert(entries.end(), e.bssid, e.bssid + 6);
        entries.push_back(e.channel);
    }
    wire_msg m;
    std::vector<uint8_t> buf(41 + entries.size());
    with_ap(m, buf, MAP_SWITCH_AP_WIDS_CONFIG_MSG_ID, ap);
    wire_msg_add_u8(m, 0x7001, on ? 1 : 0);
    wire_msg_add_be16(m, 0x7002, interval);
    wire_msg_add_be16(m, 0x7003, attack_interval);
    wire_msg_add_be16(m, 0x7004, static_cast<uint16_t>(list.size()));
    wire_msg_add(m, 0x7005, entries.data(), static_cast<uint16_t>(entries.size()));
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_rrm_neighbors(const uint8_t ap[6],
                                             const std::vector<swsim_rrm_vap>& vaps) {
    size_t room = 14;
    for (const auto& v : vaps) room += 10 + 21 * v.nbrs.size();
    wire_msg m;
    std::vector<uint8_t> buf(room);
    with_ap(m, buf, RRM_NEIGHBOR_LIST, ap);
    for (const auto& v : vaps) {
        wire_msg_add(m, 0x5001, v.mac, 6);
        for (const auto& n : v.nbrs) {
            wire_msg_add(m, 0x3022, n.mac, 6);
            wire_msg_add(m, 0x5053, n.info, 7);
        }
    }
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_chan_load_req(const uint8_t ap[6], const uint8_t client[6],
                                             uint8_t channel, uint16_t duration) {
    wire_msg m;
    std::vector<uint8_t> buf(35);
    with_ap(m, buf, RRM_CHANNEL_LOAD_REQ, ap);
    wire_msg_add(m, 0x0013, client, 6);
    wire_msg_add_u8(m, 0x0043, channel);
    wire_msg_add_be16(m, 0x504F, duration);
    return finish(m, buf);
}

int swsim_radio_cmd_parse(const std::string& verb, const std::vector<std::string>& a,
                          swsim_radio_cmd& cmd, std::string& error) {
    // The values before the list with their largest values (0: a word or a
    // MAC, read below), and the most entries of the list.
    struct shape {
        const char* verb;
        uint16_t type;
        size_t fixed, list;
        unsigned long limit[3];
    };
    static constexpr shape kShapes[] = {
        {"rf-scan", SWITCH_SCAN_REPORT_INT, 1, 0, {65535}},
        {"channel", SWITCH_CHANGE_CHANNEL, 2, 0, {255, 0xFFFFFFFF}},
        {"power", SWITCH_CHANGE_POWER, 2, 0, {255, 255}},
        {"wids", MAP_SWITCH_AP_WIDS_CONFIG_MSG_ID, 3, 32, {0, 65535, 65535}},
        {"rrm-neighbors", RRM_NEIGHBOR_LIST, 0, 64, {}},
        {"chan-load", RRM_CHANNEL_LOAD_REQ, 3, 0, {0, 255, 65535}},
    };
    const shape* s = nullptr;
    for (const auto& x : kShapes) {
        if (verb == x.verb) s = &x;
    }
    if (s == nullptr) return 1;
    if (a.size() < s->fixed || a.size() > s->fixed + s->list + 1) {
        error = "wrong number of values for " + verb;
        return -1;
    }
    swsim_radio_cmd c;
    c.type = s->type;
    // A last value that is a plain MAC (no '/' or '=') names the AP.
    size_t n = a.size();
    if (n > s->fixed && a[n - 1].find_first_of("/=") == std::string::npos) {
        if (!swsim_mac_parse(a[n - 1], c.ap)) {
            error = "bad AP MAC address for " + verb + ": " + a[n - 1];
            return -1;
        }
        c.ap_given = true;
        --n;
    }
    if (n - s->fixed > s->list) {
        error = "more than " + std::to_string(s->list) + " entries for " + verb;
        return -1;
    }
    unsigned long v[3] = {};
    for (size_t i = 0; i < s->fixed; ++i) {
        if (s->limit[i] > 0 && !number(a[i], s->limit[i], v[i])) {
            error = "bad value for " + verb + " (0 to " + std::to_string(s->limit[i]) +
                    "): " + a[i];
            return -1;
        }
    }
    if (c.type == MAP_SWITCH_AP_WIDS_CONFIG_MSG_ID && a[0] != "on" && a[0] != "off") {
        error = "wids takes on or off, not " + a[0];
        return -1;
    }
    if (c.type == RRM_CHANNEL_LOAD_REQ && !swsim_mac_parse(a[0], c.client)) {
        error = "bad client MAC address for " + verb + ": " + a[0];
        return -1;
    }
    for (size_t i = s->fixed; i < n; ++i) {
        bool ok = false;
        if (c.type == MAP_SWITCH_AP_WIDS_CONFIG_MSG_ID) {
            c.bssids.emplace_back();
            ok = wids_entry(a[i], c.bssids.back());
        } else if (c.type == RRM_NEIGHBOR_LIST) {
            c.vaps.emplace_back();
            ok = rrm_vap(a[i], c.vaps.back());
        }
        if (!ok) {
            error = "bad entry for " + verb + ": " + a[i];
            return -1;
        }
    }
    if (c.type == RRM_NEIGHBOR_LIST && c.vaps.empty()) {
        error = "rrm-neighbors needs a VAP";
        return -1;
    }
    switch (c.type) {
        case SWITCH_SCAN_REPORT_INT: c.seconds = static_cast<uint16_t>(v[0]); break;
        case SWITCH_CHANGE_CHANNEL:
        case SWITCH_CHANGE_POWER:
            c.radio = static_cast<uint8_t>(v[0]);
            c.channel = static_cast<uint32_t>(v[1]);
            c.level = static_cast<uint8_t>(v[1]);
            break;
        case MAP_SWITCH_AP_WIDS_CONFIG_MSG_ID:
            c.wids_on = a[0] == "on";
            c.seconds = static_cast<uint16_t>(v[1]);
            c.attack_interval = static_cast<uint16_t>(v[2]);
            break;
        case RRM_CHANNEL_LOAD_REQ:
            c.channel = static_cast<uint32_t>(v[1]);
            c.duration = static_cast<uint16_t>(v[2]);
            break;
        default: break;
    }
    cmd = c;
    return 0;
}

std::vector<uint8_t> swsim_radio_cmd_build(const swsim_radio_cmd& c, const uint8_t own_ap[6]) {
    const uint8_t* ap = c.ap_given ? c.ap : own_ap;
    switch (c.type) {
        case SWITCH_SCAN_REPORT_INT: return swsim_msg_rf_scan(ap, c.seconds);
        case SWITCH_CHANGE_CHANNEL: return swsim_msg_channel(ap, c.radio, c.channel);
        case SWITCH_CHANGE_POWER: return swsim_msg_power(ap, c.radio, c.level);
        case MAP_SWITCH_AP_WIDS_CONFIG_MSG_ID:
            return swsim_msg_wids(ap, c.wids_on, c.seconds, c.attack_interval, c.bssids);
        case RRM_NEIGHBOR_LIST: return swsim_msg_rrm_neighbors(ap, c.vaps);
        case RRM_CHANNEL_LOAD_REQ:
            return swsim_msg_chan_load_req(ap, c.client, static_cast<uint8_t>(c.channel),
                                           c.duration);
        default: break;
    }
    return {};
}

int swsim_provision_parse(const std::vector<std::string>& words, swsim_provision& p,
                          std::string& error) {
    swsim_provision out;
    map_provision_cmd& c = out.cmd;
    for (const auto& w : words) {
        std::string key, value;
        if (!halves(w, '=', key, value)) key.clear();
        unsigned long flag = 0;
        bool ok = false;
        if (key == "switch") {
            ok = out.switch_given = switch_addr(value, c.switch_addr);
        } else if (key == "primary") {
            ok = out.primary_given = switch_addr(value, c.primary);
        } else if (key == "backup") {
            ok = switch_addr(value, c.backup);
        } else if (key == "mutual" || key == "reprovision") {
            ok = number(value, 1, flag);
            (key == "mutual" ? c.mutual_auth : c.reprovision_unmanaged) =
                static_cast<uint8_t>(flag);
        } else if (key == "cert" || key == "backup-cert") {
            ok = read_file(value, key == "cert" ? c.primary_cert : c.backup_cert);
        } else if (key == "ap-mac") {
            ok = out.ap_given = swsim_mac_parse(value, c.ap_mac);
        }
        if (!ok) {
            error = "bad provisioning value (switch=, primary=, backup=, mutual=0|1, "
                    "reprovision=0|1, cert=, backup-cert=, ap-mac=): " + w;
            return -1;
        }
    }
    p = out;
    return 0;
}

std::vector<uint8_t> swsim_provision_build(const swsim_provision& p, uint32_t own_ip,
                                           const uint8_t* own_ap, std::string& error) {
    map_provision_cmd c = p.cmd;
    if (!p.switch_given) c.switch_addr = map_switch_addr_from_ipv4(own_ip);
    if (!p.primary_given) c.primary = c.switch_addr;
    if (!p.ap_given && own_ap != nullptr) memcpy(c.ap_mac, own_ap, 6);
    c.with_ap_mac = p.ap_given || own_ap != nullptr;
    auto msg = map_provision_cmd_build(c);
    if (msg.empty()) error = "the certificates do not fit one message";
    return msg;
}

// ---- client QoS: list changes, modes and definition replies ------------------------

namespace {

constexpr uint16_t kQosCount = 0x0111, kQosAcl = 0x0112, kQosPolicy = 0x0113,
                   kQosRenameAcl = 0x0114, kQosRenamePolicy = 0x0115, kQosMode = 0x0120,
                   kQosModeOld = 0x0122, kQosApMac = 0x0021;
constexpr uint8_t kPolicyIn = 8;

// The element of an entry: a reply's own, else by id type (8 a policy).
uint16_t entry_code(uint16_t type, uint8_t id_type) {
    const bool policy = id_type == kPolicyIn;
    if (type == CLTQOS_ACL_DEF_REPLY) return kQosAcl;
    if (type == CLTQOS_POLICY_DEF_REPLY) return kQosPolicy;
    if (type == CLTQOS_LIST_RENAME) return policy ? kQosRenamePolicy : kQosRenameAcl;
    return policy ? kQosPolicy : kQosAcl;
}

// The length of element `code` in a message of `type`; -1 when that message
// has no such element.
int qos_elem_len(uint16_t type, uint16_t code) {
    if (type == CLTQOS_MODE_UPDATE) {
        return code == kQosMode ? 18 : code == kQosModeOld ? 1 : code == kQosApMac ? 6 : -1;
    }
    if (code == kQosCount) return 2;
    if (type == CLTQOS_LIST_RENAME) return code == kQosRenameAcl || code == kQosRenamePolicy ? 63 : -1;
    return code == kQosAcl || code == kQosPolicy ? 32 : -1;
}

void name31(const std::string& s, uint8_t* out) {
    memset(out, 0, 31);
    memcpy(out, s.data(), s.size() < 31 ? s.size() : 31);
}

std::string text31(const uint8_t* p) {
    return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), 31));
}

bool qos_id_type(const std::string& t, uint8_t& id) {
    static constexpr struct {
        const char* word;
        uint8_t id;
    } kWords[] = {{"ip4num", 1}, {"ipv4", 2}, {"ipv6", 3}, {"mac", 4}, {"policy", 8}};
    for (const auto& w : kWords) {
        if (t == w.word) {
            id = w.id;
            return true;
        }
    }
    unsigned long v = 0;
    if (!number(t, 255, v)) return false;
    id = static_cast<uint8_t>(v);
    return true;
}

// "TYPE:NAME", or for a rename "TYPE:OLD>NEW".
bool qos_entry(const std::string& t, bool rename, swsim_qos_entry& e) {
    std::string type, rest;
    if (!halves(t, ':', type, rest) || !qos_id_type(type, e.id_type)) return false;
    if (!rename) {
        e.name = rest;
        return true;
    }
    return halves(rest, '>', e.old_name, e.name);
}

// "RADIO:MODES", 16 hex digits.
bool qos_radio(const std::string& t, swsim_qos_radio& r) {
    std::string radio, modes;
    unsigned long v = 0;
    if (!halves(t, ':', radio, modes) || !number(radio, 255, v) || modes.size() != 16) return false;
    r.radio = static_cast<uint8_t>(v);
    for (size_t i = 0; i < 16; ++i) {
        if (!isxdigit(static_cast<unsigned char>(modes[i]))) return false;
        r.vap_modes[i] = static_cast<uint8_t>(strtoul(modes.substr(i, 1).c_str(), nullptr, 16));
    }
    return true;
}

}  // namespace

std::string swsim_qos_id_type_name(uint8_t id_type) {
    static const char* const kNames[] = {"none",    "ACL ip4-num", "ACL ipv4", "ACL ipv6", "ACL mac",
                                         "<rsvd5>", "<rsvd6>",     "<rsvd7>",  "Policy in"};
    return id_type <= kPolicyIn ? kNames[id_type] : "<unknown " + std::to_string(id_type) + ">";
}

std::vector<uint8_t> swsim_msg_qos_list(uint16_t type, const std::vector<swsim_qos_entry>& entries,
                                        int count) {
    const bool rename = type == CLTQOS_LIST_RENAME;
    std::vector<uint8_t> buf(10 + entries.size() * (rename ? 67 : 36));
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), type);
    wire_msg_add_be16(m, kQosCount, static_cast<uint16_t>(count < 0 ? entries.size() : count));
    for (const auto& e : entries) {
        uint8_t v[63];
        v[0] = e.id_type;
        name31(e.name, v + 1);
        name31(e.old_name, v + 32);
        wire_msg_add(m, entry_code(type, e.id_type), v, rename ? 63 : 32);
    }
    return finish(m, buf);
}

std::vector<uint8_t> swsim_msg_qos_mode(const uint8_t ap[6], const std::vector<swsim_qos_radio>& radios,
                                        int old_global) {
    std::vector<uint8_t> buf(19 + 22 * radios.size());
    wire_msg m;
    with_ap(m, buf, CLTQOS_MODE_UPDATE, ap);
    for (const auto& r : radios) {
        uint8_t v[18];
        v[0] = r.global;
        v[1] = r.radio;
        memcpy(v + 2, r.vap_modes, 16);
        wire_msg_add(m, kQosMode, v, 18);
    }
    if (old_global >= 0) wire_msg_add_u8(m, kQosModeOld, static_cast<uint8_t>(old_global));
    return finish(m, buf);
}

int swsim_qos_parse(const std::vector<uint8_t>& msg, swsim_qos_msg& out) {
    if (msg.size() < 4) return -1;
    swsim_qos_msg m;
    m.type = wire_load_be16(msg.data());
    if (m.type < CLTQOS_LIST_UPDATE || m.type > CLTQOS_MODE_UPDATE) return -1;
    char b[96];
    auto problem = [&](const char* p) { m.problems += (m.problems.empty() ? "" : ", ") + std::string(p); };
    const uint16_t length = wire_load_be16(msg.data() + 2);
    if (msg.size() != length) {
        snprintf(b, sizeof b, "length field %u in %zu bytes", length, msg.size());
        problem(b);
    }
    const bool list = m.type != CLTQOS_MODE_UPDATE;
    wire_reader r = wire_reader_make(msg.data() + 4, msg.size() - 4);
    wire_elem e;
    for (int at = 0; wire_elem_next(r, e); ++at) {
        const int want = qos_elem_len(m.type, e.type);
        if (want < 0 || !e.complete || e.len != want) {
            if (want < 0) snprintf(b, sizeof b, "element 0x%04x unknown", e.type);
            else if (!e.complete) snprintf(b, sizeof b, "element 0x%04x cut short", e.type);
            else snprintf(b, sizeof b, "element 0x%04x length %u (expected %d)", e.type, e.len, want);
            problem(b);
            continue;
        }
        const uint8_t* v = e.value.data();
        switch (e.type) {
            case kQosCount:
                if (at != 0) problem("element 0x0111 not first");
                m.count = wire_load_be16(v);
                break;
            case kQosMode: {
                swsim_qos_radio radio;
                radio.global = v[0];
                radio.radio = v[1];
                memcpy(radio.vap_modes, v + 2, 16);
                m.radios.push_back(radio);
                break;
            }
            case kQosModeOld: m.old_global = v[0]; break;
            case kQosApMac:
                m.has_ap = true;
                memcpy(m.ap, v, 6);
                break;
            default: {
                swsim_qos_entry en;
                en.code = e.type;
                en.id_type = v[0];
                en.name = text31(v + 1);
                if (e.len == 63) {
                    en.old_name = en.name;
                    en.name = text31(v + 32);
                }
                const bool acl_type = en.id_type >= 1 && en.id_type <= 4;
                if (m.type == CLTQOS_DEF_REQ &&
                    (e.type == kQosAcl ? !acl_type : en.id_type != kPolicyIn)) {
                    snprintf(b, sizeof b, "element 0x%04x with id type %u", e.type, en.id_type);
                    problem(b);
                }
                m.entries.push_back(en);
            }
        }
    }
    if (list && m.count < 0) problem("element 0x0111 missing");
    if (list && m.count >= 0 && static_cast<size_t>(m.count) != m.entries.size()) {
        snprintf(b, sizeof b, "count %d with %zu entries", m.count, m.entries.size());
        problem(b);
    }
    if (m.type == CLTQOS_DEF_REQ && m.entries.size() > 8) problem("more than 8 entries");
    if (wire_remaining(r) > 0) {
        snprintf(b, sizeof b, "%zu stray bytes at the end", wire_remaining(r));
        problem(b);
    }
    out = m;
    return 0;
}

std::string swsim_qos_decode(const std::vector<uint8_t>& msg) {
    swsim_qos_msg m;
    if (swsim_qos_parse(msg, m) != 0) return "";
    std::string out = std::string(map_pkt_type_name(m.type)) + " (" + std::to_string(m.type) +
                      "), " + std::to_string(msg.size()) + " bytes:";
    if (m.count >= 0) out += " count " + std::to_string(m.count);
    for (const auto& e : m.entries) {
        const bool acl = e.code == kQosAcl || e.code == kQosRenameAcl;
        out += std::string(acl ? " acl " : " policy ") + std::to_string(e.id_type) + " (" +
               swsim_qos_id_type_name(e.id_type) + ") \"" +
               (e.code == kQosRenameAcl || e.code == kQosRenamePolicy ? e.old_name + "\" > \"" : "") +
               e.name + "\"";
    }
    if (m.has_ap) out += " ap " + swsim_mac_text(m.ap);
    for (const auto& r : m.radios) {
        out += " radio " + std::to_string(r.radio) + " global " + std::to_string(r.global) + " vaps ";
        char b[8];
        for (uint8_t mode : r.vap_modes) {
            snprintf(b, sizeof b, mode < 16 ? "%x" : "[%u]", mode);
            out += b;
        }
    }
    if (m.old_global >= 0) out += " global " + std::to_string(m.old_global) + " (older form)";
    return out + (m.problems.empty() ? "" : "; MALFORMED: " + m.problems);
}

std::vector<std::vector<uint8_t>> swsim_qos_answer(bool on, const std::vector<uint8_t>& msg) {
    swsim_qos_msg m;
    if (!on || swsim_qos_parse(msg, m) != 0 || m.type != CLTQOS_DEF_REQ) return {};
    std::vector<swsim_qos_entry> acls, policies;
    for (const auto& e : m.entries) (e.code == kQosPolicy ? policies : acls).push_back(e);
    std::vector<std::vector<uint8_t>> out;
    if (!acls.empty()) out.push_back(swsim_msg_qos_list(CLTQOS_ACL_DEF_REPLY, acls));
    if (!policies.empty()) out.push_back(swsim_msg_qos_list(CLTQOS_POLICY_DEF_REPLY, policies));
    return out;
}

int swsim_qos_answer_parse(const std::string& word, bool& on, std::string& error) {
    if (word != "on" && word != "off") {
        error = "cltqos-answer takes on or off, not " + word;
        return -1;
    }
    on = word == "on";
    return 0;
}

int swsim_qos_cmd_parse(const std::string& verb, const std::vector<std::string>& a,
                        swsim_qos_cmd& cmd, std::string& error) {
    static constexpr struct {
        const char* verb;
        uint16_t type;
    } kVerbs[] = {{"acl-update", CLTQOS_LIST_UPDATE},  {"acl-rename", CLTQOS_LIST_RENAME},
                  {"acl-delete", CLTQOS_LIST_DELETE},  {"qos-mode", CLTQOS_MODE_UPDATE},
                  {"qos-mode-old", CLTQOS_MODE_UPDATE}};
    swsim_qos_cmd c;
    for (const auto& v : kVerbs) {
        if (verb == v.verb) c.type = v.type;
    }
    if (c.type == 0) return 1;
    unsigned long v = 0;
    if (c.type == CLTQOS_MODE_UPDATE) {
        if (a.empty() || !number(a[0], 255, v)) {
            error = verb + " needs a global mode (0 to 255)";
            return -1;
        }
        if (verb == "qos-mode-old") c.old_global = static_cast<int>(v);
        for (size_t i = 1; i < a.size(); ++i) {
            swsim_qos_radio r;
            r.global = static_cast<uint8_t>(v);
            if (!qos_radio(a[i], r)) {
                error = "bad radio for " + verb + " (RADIO:16 hex digits): " + a[i];
                return -1;
            }
            c.radios.push_back(r);
        }
        cmd = c;
        return 0;
    }
    for (const auto& w : a) {
        if (w.starts_with("count=")) {
            if (!number(w.substr(6), 65535, v)) {
                error = "bad count for " + verb + " (0 to 65535): " + w;
                return -1;
            }
            c.count = static_cast<int>(v);
            continue;
        }
        for (const auto& t : swsim_split_commas(w)) {
            swsim_qos_entry e;
            if (!qos_entry(t, c.type == CLTQOS_LIST_RENAME, e)) {
                error = "bad entry for " + verb +
                        (c.type == CLTQOS_LIST_RENAME ? " (TYPE:OLD>NEW): " : " (TYPE:NAME): ") + t;
                return -1;
            }
            c.entries.push_back(e);
        }
    }
    if (c.entries.empty() || c.entries.size() > 100) {
        error = verb + " takes 1 to 100 entries";
        return -1;
    }
    cmd = c;
    return 0;
}

std::vector<uint8_t> swsim_qos_cmd_build(const swsim_qos_cmd& c, const uint8_t own_ap[6]) {
    if (c.type == CLTQOS_MODE_UPDATE) return swsim_msg_qos_mode(own_ap, c.radios, c.old_global);
    return swsim_msg_qos_list(c.type, c.entries, c.count);
}
