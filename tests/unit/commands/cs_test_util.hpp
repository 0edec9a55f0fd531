// Shared pieces of the radio and VAP tests: a fixture with its own sandbox
// root (and database), an established link and an open configuration
// sequence; element builders; messages walked by map_cs_process_config_pkt.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "commands/map_cs.hpp"
#include "commands/map_cs_config.hpp"
#include "core/managed_ap.hpp"
#include "dman/lsqlquery.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "support/bytes.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

namespace cs_test {

using mapd_test::db_column;
using mapd_test::db_get;
using mapd_test::db_set;
using mapd_test::bytes;
using mapd_test::captured;
using mapd_test::contains;
using mapd_test::elem;
using mapd_test::wr;
using mapd_test::operator+;

// A record field as text, so that table rows can name numbers and texts alike.
inline std::string str(const char* s) {
    return s;
}
template <typename T>
requires std::is_arithmetic_v<T> std::string str(T v) {
    return std::to_string(+v);
}

// The radio configuration element (146 bytes).
struct radio_elem {
    uint8_t radio_id = 1, admin_mode = 1;
    uint32_t mode = 2;
    uint8_t channel = 6, sentry = 0, hopping = 1;
    uint32_t scan_leave = 100, scan_duration = 20;
    uint8_t band_selector = 0, rate_limit_enable = 1;
    uint32_t rate_limit = 50, rate_limit_burst = 75, beacon = 100;
    uint16_t dtim = 2;
    uint32_t frag = 2346, rts = 2347, max_stations = 64;
    uint16_t tx_power = 100;
    uint8_t bw20 = 1, upper = 0, protection_auto = 1, sgi = 1;
    uint16_t mcast = 110;
    uint8_t apsd = 1, noack = 0;
    uint32_t supported = 0x0FFF, basic = 0x0003;
    uint8_t wme = 1, lb_on = 0;
    uint16_t lb_util = 60;
    uint8_t snooping = 0;

    bytes encode() const {
        wr w;
        w.u8(radio_id).u8(admin_mode).be32(mode).u8(channel).u8(sentry).u8(hopping);
        w.be32(scan_leave).be32(scan_duration).u8(band_selector).u8(rate_limit_enable);
        w.be32(rate_limit).be32(rate_limit_burst).be32(beacon).be16(dtim).be32(frag).be32(rts);
        w.be16(3).be16(4).be32(5).be32(6);  // the service-set values
        w.be32(max_stations).text("\x01\x06\x0b", 64).be16(tx_power);
        w.u8(bw20).u8(upper).u8(protection_auto).u8(sgi).be16(mcast).u8(apsd).u8(noack);
        w.be32(supported).be32(basic).u8(wme).u8(lb_on).be16(lb_util).u8(snooping).be16(0);
        return w.b;
    }
};

// The VAP configuration element (279 bytes); the further flag and byte and
// the tunnel fields are zero.
struct vap_elem {
    uint8_t radio_id = 1, vap_id = 0, admin_mode = 1;
    std::string ssid = "corp";
    uint32_t vlan = 10;
    uint8_t hide = 0;
    uint32_t security = 4, auth = 1, wpa_versions = 3, wpa_ciphers = 2;
    uint8_t mac_acl = 3, radius_acct = 1;
    uint8_t wep_ascii = 0, wep_default = 1;
    std::string wep[4] = {"", "", "", ""};
    std::string wpa_key = "passphrase1";

    bytes encode() const {
        wr w;
        w.u8(radio_id).u8(vap_id).u8(admin_mode).text(ssid, 32).be32(vlan).u8(hide).u8(0).u8(0);
        w.be32(0).be32(0).be32(security).be32(auth).be32(wpa_versions).be32(wpa_ciphers);
        w.u8(mac_acl).u8(radius_acct).be16(64).u8(wep_ascii).u8(wep_default);
        for (const auto& key : wep)
            w.text(key, 32);
        w.u8(0).text(wpa_key, 64).u8(0).be16(7).u8(1).be16(600);  // pre-authentication, keys
        w.be32(4000000000u).be32(30);                             // key refresh rates
        return w.b;
    }
};

// The VAP redirect element (135 bytes).
inline bytes redirect_elem(uint8_t radio_id, uint8_t vap_id, uint8_t mode, uint32_t value,
                           const std::string& url) {
    return wr().u8(radio_id).u8(vap_id).u8(mode).be32(value).text(url, 128).b;
}

// The VAP client QoS element (139 bytes): mode 1, bandwidth 128000 down and
// 64000 up, then ACL down, ACL up, policy down, policy up.
inline bytes cltqos_elem(uint8_t radio_id, uint8_t vap_id, const uint8_t (&type)[4],
                         const std::string (&name)[4]) {
    wr w;
    w.u8(radio_id).u8(vap_id).u8(1).be32(128000).be32(64000);
    for (size_t i = 0; i < 4; ++i)
        w.u8(type[i]).text(name[i], 31);
    return w.b;
}

// Walks `msg` as one configuration message from a buffer of exactly its size
// (an over-read shows under the sanitizers); true unless an element failed.
inline bool walk(map_cs* cs, const bytes& msg) {
    cs->status_code = 0;
    auto buffer = std::make_unique<uint8_t[]>(msg.size());
    std::copy(msg.begin(), msg.end(), buffer.get());
    EXPECT_EQ(map_cs_process_config_pkt(cs, buffer.get(), static_cast<int>(msg.size())), 0);
    return cs->status_code != MAP_CS_STATUS_UNRECOGNIZED;
}

// A property of the row selected by one qualifier ("radio" = "wlan0",
// "queue" = "data1"), or "<absent>".
inline std::string db_get_q(const char* cls, const char* instance, const char* qname,
                            const char* qvalue, const char* property) {
    pv* list = lsqlquery_get_pv_q1(cls, instance, property, qname, qvalue);
    std::string value = list != nullptr && list->value != nullptr ? list->value : "<absent>";
    lsqlquery_destroy_pv(list);
    return value;
}

// Every test gets a fresh root, an established link and a component with
// `kVaps` VAPs per radio, its configuration sequence open.
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
        sc->state = MAP_SWITCH_COMM_ESTABLISHED;
        sc->tcp_fd = sc->udp_fd = sc->l2_fd = sc->ssl_rfd = sc->mapd_fd = sc->mapqosd_fd = -1;
        sc->cb = &cb;
        cb.switch_comm = sc.get();
        ASSERT_EQ(map_cs_init(&cb), 0);
        cs = cb.cs;
        cs->config_state = MAP_CS_STATE_OPEN;
    }
    void TearDown() override {
        map_cs_deinit(cs);
        cb.cs = nullptr;
        lsqlquery_fail_nth_write(0);
        map_platform_fail_clear();
        lsqlquery_close();
        map_global_debug_trace = 0;
    }

    // Walks a message of the one element; true when it was taken.
    bool take(uint16_t code, const bytes& value) { return walk(cs, elem(code, value)); }

    // An element to put after another: a country code, taken only when the
    // walk goes on.  follower_taken() tells and forgets.
    static bytes follower() { return elem(0x2009, {'G', 'B'}); }
    bool follower_taken() {
        const bool taken = cs->country_changed != 0;
        cs->country_changed = 0;
        cs->country[0] = '\0';
        return taken;
    }

    // Whether any radio was named or any radio, queue or VAP marked changed.
    bool anything_taken() const {
        bool any = false;
        for (int r = 0; r < MAP_CS_NUM_RADIOS; ++r) {
            const map_radio_config& radio = cs->radio[r];
            any |= radio.radio_name[0] != '\0' || radio.radio_changed != 0 ||
                   radio.service_set_changed != 0 || radio.rates_changed != 0;
            for (const auto& q : radio.qos_queue)
                any |= q.changed != 0;
            for (int v = 0; v < cs->vaps[r].num_vaps; ++v) {
                any |= cs->vaps[r].vap_config[v].vap_changed != 0;
            }
        }
        return any;
    }

    // Clears every changed flag of both radios and their VAPs.
    void clear_flags() {
        for (int r = 0; r < MAP_CS_NUM_RADIOS; ++r) {
            map_radio_config& radio = cs->radio[r];
            radio.radio_changed = radio.service_set_changed = radio.rates_changed = 0;
            for (auto& q : radio.qos_queue)
                q.changed = 0;
            for (int v = 0; v < cs->vaps[r].num_vaps; ++v) {
                cs->vaps[r].vap_config[v].vap_changed = 0;
            }
        }
    }
};

}  // namespace cs_test
