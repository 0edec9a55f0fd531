#include "swsim/config_msg.hpp"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

namespace {

constexpr size_t kRadioLen = 146;
constexpr size_t kVapLen = 279;
constexpr size_t kQosLen = 129;

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

int swsim_config_build(const std::vector<std::string>& lines, std::vector<uint8_t>& msg,
                       std::string& error) {
    std::vector<uint8_t> buf(8192, 0);
    wire_msg m;
    wire_msg_begin(m, buf.data(), buf.size(), SWITCH_CONFIG);
    wire_msg_add(m, 0x2001, nullptr, 0);
    for (const auto& line : lines) {
        std::istringstream in(line);
        std::vector<std::string> w;
        for (std::string x; in >> x;) w.push_back(x);
        if (w.empty()) continue;
        std::vector<uint8_t> v;
        uint16_t code = 0;
        if (w[0] == "radio") {
            v = swsim_radio_value(w, error);
            code = 0x2004;
        } else if (w[0] == "vap") {
            v = swsim_vap_value(w, error);
            code = 0x2005;
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
            error = "unknown configuration line: " + line;
            return -1;
        }
        if (v.empty()) return -1;
        wire_msg_add(m, code, v.data(), static_cast<uint16_t>(v.size()));
    }
    wire_msg_add(m, 0x2002, nullptr, 0);
    size_t len = wire_msg_finish(m);
    if (len == 0) {
        error = "the configuration does not fit one message";
        return -1;
    }
    msg.assign(buf.begin(), buf.begin() + static_cast<long>(len));
    return 0;
}
