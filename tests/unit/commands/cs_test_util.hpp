// Shared pieces of the config/status tests: a fixture with its own sandbox
// root (and so its own database) and a config/status component made by
// map_cs_init, byte-exact builders of the radio and VAP elements, and direct
// database reads.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands/map_cs.hpp"
#include "commands/map_cs_elems.hpp"
#include "store/map_dman_lsql.hpp"
#include "core/managed_ap.hpp"
#include "log/map_log.hpp"
#include "dman/lsqlquery.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

namespace cs_test {

using mapd_test::db_column;
using mapd_test::db_get;
using mapd_test::db_set;

using bytes = std::vector<uint8_t>;

inline void put_be16(bytes& b, size_t at, uint16_t v) {
    b.at(at) = static_cast<uint8_t>(v >> 8);
    b.at(at + 1) = static_cast<uint8_t>(v);
}
inline void put_be32(bytes& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        b.at(at + i) = static_cast<uint8_t>(v >> (24 - 8 * i));
}
inline void put_text(bytes& b, size_t at, size_t width, const std::string& text) {
    ASSERT_LE(text.size(), width);
    for (size_t i = 0; i < width; ++i)
        b.at(at + i) = i < text.size() ? text[i] : 0;
}

// The radio configuration element (146 bytes) at its byte positions.
struct radio_elem {
    uint8_t radio_id = 1;
    uint8_t admin_mode = 1;
    uint32_t mode = 2;
    uint8_t channel = 6;
    uint8_t sentry = 0;
    uint8_t hopping = 1;
    uint32_t scan_leave = 100;
    uint32_t scan_duration = 20;
    uint8_t band_selector = 0;
    uint8_t rate_limit_enable = 1;
    uint32_t rate_limit = 50;
    uint32_t rate_limit_burst = 75;
    uint32_t beacon = 100;
    uint16_t dtim = 2;
    uint32_t frag = 2346;
    uint32_t rts = 2347;
    uint16_t ss_short[2] = {3, 4};
    uint32_t ss_long[2] = {5, 6};
    uint32_t max_stations = 64;
    std::vector<uint8_t> limit_channels = {1, 6, 11};
    uint16_t tx_power = 100;
    uint8_t bw20 = 1;
    uint8_t upper = 0;
    uint8_t protection_auto = 1;
    uint8_t sgi = 1;
    uint16_t mcast = 110;
    uint8_t apsd = 1;
    uint8_t noack = 0;
    uint32_t supported = 0x0FFF;
    uint32_t basic = 0x0003;
    uint8_t wme = 1;
    uint8_t lb_on = 0;
    uint16_t lb_util = 60;
    uint8_t snooping = 0;

    bytes encode() const {
        bytes b(MAP_CS_RADIO_CONFIG_LEN, 0);
        b[0] = radio_id;
        b[1] = admin_mode;
        put_be32(b, 2, mode);
        b[6] = channel;
        b[7] = sentry;
        b[8] = hopping;
        put_be32(b, 9, scan_leave);
        put_be32(b, 13, scan_duration);
        b[17] = band_selector;
        b[18] = rate_limit_enable;
        put_be32(b, 19, rate_limit);
        put_be32(b, 23, rate_limit_burst);
        put_be32(b, 27, beacon);
        put_be16(b, 31, dtim);
        put_be32(b, 33, frag);
        put_be32(b, 37, rts);
        put_be16(b, 41, ss_short[0]);
        put_be16(b, 43, ss_short[1]);
        put_be32(b, 45, ss_long[0]);
        put_be32(b, 49, ss_long[1]);
        put_be32(b, 53, max_stations);
        for (size_t i = 0; i < limit_channels.size() && i < 64; ++i)
            b[57 + i] = limit_channels[i];
        put_be16(b, 121, tx_power);
        b[123] = bw20;
        b[124] = upper;
        b[125] = protection_auto;
        b[126] = sgi;
        put_be16(b, 127, mcast);
        b[129] = apsd;
        b[130] = noack;
        put_be32(b, 131, supported);
        put_be32(b, 135, basic);
        b[139] = wme;
        b[140] = lb_on;
        put_be16(b, 141, lb_util);
        b[143] = snooping;
        return b;
    }
};

// The VAP configuration element (279 bytes) at its byte positions.
struct vap_elem {
    uint8_t radio_id = 1;
    uint8_t vap_id = 0;
    uint8_t admin_mode = 1;
    std::string ssid = "corp";
    uint32_t vlan = 10;
    uint8_t hide = 0;
    uint8_t extra_flag = 0;
    uint8_t tunnel = 0;
    uint32_t subnet = 0x0A000000;
    uint32_t mask = 0xFF000000;
    uint32_t security = 4;
    uint32_t auth = 1;
    uint32_t wpa_versions = 3;
    uint32_t wpa_ciphers = 2;
    uint8_t mac_acl = 3;
    uint8_t radius_acct = 0;
    uint16_t wep_len = 64;
    uint8_t wep_ascii = 0;
    uint8_t wep_default = 1;
    std::string wep[4] = {"", "", "", ""};
    uint8_t extra_byte = 0;
    std::string wpa_key = "passphrase1";
    uint8_t preauth = 1;
    uint16_t preauth_limit = 5;
    uint8_t key_fwd = 0;
    uint16_t key_hold = 10;
    uint32_t bcast_refresh = 300;
    uint32_t session_refresh = 0;

    bytes encode() const {
        bytes b(MAP_CS_VAP_CONFIG_LEN, 0);
        b[0] = radio_id;
        b[1] = vap_id;
        b[2] = admin_mode;
        put_text(b, 3, 32, ssid);
        put_be32(b, 35, vlan);
        b[39] = hide;
        b[40] = extra_flag;
        b[41] = tunnel;
        put_be32(b, 42, subnet);
        put_be32(b, 46, mask);
        put_be32(b, 50, security);
        put_be32(b, 54, auth);
        put_be32(b, 58, wpa_versions);
        put_be32(b, 62, wpa_ciphers);
        b[66] = mac_acl;
        b[67] = radius_acct;
        put_be16(b, 68, wep_len);
        b[70] = wep_ascii;
        b[71] = wep_default;
        for (size_t i = 0; i < 4; ++i)
            put_text(b, 72 + 32 * i, 32, wep[i]);
        b[200] = extra_byte;
        put_text(b, 201, 64, wpa_key);
        b[265] = preauth;
        put_be16(b, 266, preauth_limit);
        b[268] = key_fwd;
        put_be16(b, 269, key_hold);
        put_be32(b, 271, bcast_refresh);
        put_be32(b, 275, session_refresh);
        return b;
    }
};

// The VAP redirect element (135 bytes).
inline bytes redirect_elem(uint8_t radio_id, uint8_t vap_id, uint8_t mode, uint32_t value,
                           const std::string& url) {
    bytes b(MAP_CS_VAP_REDIRECT_LEN, 0);
    b[0] = radio_id;
    b[1] = vap_id;
    b[2] = mode;
    put_be32(b, 3, value);
    put_text(b, 7, 128, url);
    return b;
}

// The VAP client QoS element (139 bytes).
struct cltqos_elem {
    uint8_t radio_id = 1;
    uint8_t vap_id = 0;
    uint8_t mode = 1;
    uint32_t bw_down = 128000;
    uint32_t bw_up = 64000;
    uint8_t type[4] = {1, 2, 0, 0};  // ACL down, ACL up, policy down, policy up
    std::string name[4] = {"acl-in", "acl-out", "pol-in", "pol-out"};

    bytes encode() const {
        bytes b(MAP_CS_VAP_CLIENT_QOS_LEN, 0);
        b[0] = radio_id;
        b[1] = vap_id;
        b[2] = mode;
        put_be32(b, 3, bw_down);
        put_be32(b, 7, bw_up);
        for (size_t i = 0; i < 4; ++i) {
            b[11 + 32 * i] = type[i];
            put_text(b, 12 + 32 * i, 31, name[i]);
        }
        return b;
    }
};

// Runs a handler on `value` as an element whose header says `elem_len` and
// after which `remaining` bytes of the message are left.  The value lives in
// a buffer of exactly its own size, so an over-read shows under the
// sanitizers.
struct elem_result {
    int rc;
    int remaining;
};
inline elem_result run(map_cs_elem_handler handler, map_cs* cs, const bytes& value,
                       int remaining = -1, int elem_len = -1) {
    auto buffer = std::make_unique<uint8_t[]>(value.size() ? value.size() : 1);
    if (!value.empty())
        memcpy(buffer.get(), value.data(), value.size());
    int rem = remaining >= 0 ? remaining : static_cast<int>(value.size());
    int rc = handler(cs, buffer.get(), &rem,
                     static_cast<uint16_t>(elem_len >= 0 ? elem_len : value.size()));
    return {rc, rem};
}

// Runs `fn` with the given trace mask and returns what reached standard output.
template <typename Fn>
std::string captured(uint32_t mask, Fn fn) {
    map_global_debug_trace = mask;
    testing::internal::CaptureStdout();
    fn();
    std::string out = testing::internal::GetCapturedStdout();
    map_global_debug_trace = 0;
    return out;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}


// A property of a row selected by one qualifier pair ("radio" = "wlan0",
// "queue" = "data1"), or "<absent>".
inline std::string db_get_q(const char* cls, const char* instance, const char* qname,
                            const char* qvalue, const char* property) {
    pv* qualifier = lsqlquery_new_pv_solo(qname, qvalue);
    pv* grid = lsqlquery_get_grid(cls, instance, nullptr, qualifier, 0);
    std::string value = "<absent>";
    for (const pv* row = grid; row != nullptr; row = row->peer) {
        for (const pv* node = row; node != nullptr; node = node->next) {
            if (node->name != nullptr && std::string(node->name) == property) {
                value = node->value != nullptr ? node->value : "";
            }
        }
    }
    lsqlquery_destroy_pv(grid);
    lsqlquery_destroy_pv(qualifier);
    return value;
}



// Every test gets a fresh root and a component with `kVaps` VAPs per radio,
// its configuration sequence open.
class cs_fixture : public ::testing::Test {
protected:
    static constexpr int kVaps = 4;
    mapd_test::sandbox sb;
    std::unique_ptr<map_switch_comm> sc = std::make_unique<map_switch_comm>();
    map_control_block cb{};
    map_cs* cs = nullptr;

    void SetUp() override {
        map_global_debug_trace = 0;
        sc->ap.max_bss = kVaps;
        cb.switch_comm = sc.get();
        ASSERT_EQ(map_cs_init(&cb), 0);
        cs = cb.cs;
        ASSERT_NE(cs, nullptr);
        cs->config_state = MAP_CS_STATE_OPEN;
    }
    void TearDown() override {
        map_cs_deinit(cs);
        cb.cs = nullptr;
        lsqlquery_fail_nth_write(0);
        lsqlquery_close();
        map_global_debug_trace = 0;
    }

    // Clears every changed flag of both radios and their VAPs.
    void clear_flags() {
        for (int r = 0; r < MAP_CS_NUM_RADIOS; ++r) {
            map_radio_config& radio = cs->radio[r];
            radio.radio_changed = radio.service_set_changed = radio.rates_changed = 0;
            radio.mode_changed = 0;
            for (auto& q : radio.qos_queue)
                q.changed = 0;
            for (int v = 0; v < cs->vaps[r].num_vaps; ++v)
                cs->vaps[r].vap_config[v].vap_changed = 0;
        }
    }
};

}  // namespace cs_test
