// The radio and VAP apply: elements taken by the walk, written to a real
// database in a sandbox root, and read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "config/map_config_apply.hpp"
#include "cs_test_util.hpp"

using namespace cs_test;

namespace {

using strings = std::vector<std::string>;

// An error slot that frees what it holds.
struct error_slot {
    char* text = nullptr;
    ~error_slot() { free(text); }
    std::string str() const { return text != nullptr ? text : "<none>"; }
};

// Every "name=value" of `props` (';'-separated) is stored in (cls,
// instance), of radio `radio` when given, and the apply traced them in this
// order right after `heading`.
void expect_written(const std::string& out, const std::string& heading, const char* cls,
                    const char* instance, const std::string& props, const char* radio = nullptr,
                    const std::string& prefix = "") {
    std::string traced = heading + "\n";
    for (size_t at = 0; at < props.size();) {
        const size_t end = std::min(props.find(';', at), props.size());
        const size_t eq = props.find('=', at);
        const std::string name = props.substr(at, eq - at);
        const std::string value = props.substr(eq + 1, end - eq - 1);
        EXPECT_EQ(radio != nullptr ? db_get_q(cls, instance, "radio", radio, name.c_str())
                                   : db_get(cls, instance, name.c_str()),
                  value)
            << cls << " " << instance << " " << name;
        traced += prefix + name + " = " + value + "\n";
        at = end + 1;
    }
    EXPECT_TRUE(contains(out, traced)) << traced << "---\n" << out;
}

class ConfigApply : public cs_fixture {
protected:
    void SetUp() override {
        cs_fixture::SetUp();
        ASSERT_TRUE(db_set("radio", "wlan0", "status", "down"));
        ASSERT_TRUE(db_set("radio", "wlan1", "status", "down"));
    }
    void radio(uint8_t id, radio_elem e = {}) {
        e.radio_id = id;
        ASSERT_TRUE(take(0x2004, e.encode()));
    }
    // Takes a VAP element; `mark` marks the VAP changed even if nothing differed.
    void vap(const vap_elem& v, bool mark = false) {
        ASSERT_TRUE(take(0x2005, v.encode()));
        cs->vaps[v.radio_id - 1].vap_config[v.vap_id].vap_changed |= mark ? 1 : 0;
    }
    // Runs the radio (or VAP) apply, expecting `rc`; its configuration trace.
    error_slot err;
    std::string apply(int (*run)(map_cs*, char**), int rc = 0) {
        free(std::exchange(err.text, nullptr));
        return captured(MAP_TRACE_CONFIG, [&] { EXPECT_EQ(run(cs, &err.text), rc); });
    }
    std::string radios(int rc = 0) { return apply(map_config_radio_apply, rc); }
    std::string vaps(int rc = 0) { return apply(map_config_vap_apply, rc); }
};

}  // namespace

// The radio, TSPEC and QoS properties; a second apply writes only what changed.
TEST_F(ConfigApply, RadioTspecAndQosProperties) {
    // Queue q holds 10 q + 1 to 10 q + 8; queue 1's AP burst is 1500 microseconds.
    wr w;
    w.u8(1);
    for (uint32_t q = 0; q < 4; ++q) {
        for (uint32_t i = 1; i <= 8; ++i)
            w.be32(q == 1 && i == 4 ? 1500 : 10 * q + i);
    }
    radio_elem e;
    e.max_stations = 500;
    e.mcast = 55;
    e.band_selector = 1;  // mode 2: band 1
    radio(1, e);
    ASSERT_TRUE(take(0x2016, {1, 1}));  // STBC
    ASSERT_TRUE(take(0x2013, {1, 1}));  // station isolation
    ASSERT_TRUE(take(0x2040, {1, 0}));  // RRM
    ASSERT_TRUE(take(0x2017, {1, 1, 0, 1, 0, 20, 0, 15, 0, 10, 1, 44, 0, 60, 1}));
    ASSERT_TRUE(take(0x2006, w.b));
    std::string out = radios();
    EXPECT_EQ(err.str(), "<none>");
    expect_written(out, "Applying Radio Configuration with the following values", "radio", "wlan0",
                   "mode=bg;channel-policy=static;sentry-mode=off;channel-hopping=on;"
                   "scan-leave-time=100;scan-duration=20;passive-scan-band=1;rate-limit-enable=on;"
                   "rate-limit=50;rate-limit-burst=75;beacon-interval=100;"
                   "fragmentation-threshold=2346;rts-threshold=2347;limit-channels=1 6 11 ;"
                   "tx-power=100;wme=on;load-balance-no-association-utilization=0;"
                   "data-snooping=off;n-bandwidth=20;n-primary-channel=lower;protection=auto;"
                   "short-guard-interval-supported=yes;stbc-mode=on;rrm-mode=off;wme-apsd=on;"
                   "wme-noack=off;fixed-multicast-rate=5.5;station-isolation=on;dtim-period=2;"
                   "max-stations=200;static-channel=6");
    expect_written(out, "Applying Radio TSPEC ACM Configuration with the following values",
                   "tspec-acm", "wlan0",
                   "tspec-mode=on;voice-acm-mode=off;video-acm-mode=on;voice-acm-limit=20;"
                   "video-acm-limit=15;roam-reserve-limit=10;ap-inactivity-timeout=300;"
                   "sta-inactivity-timeout=60;legacy-wmm-queue-map-mode=on");
    EXPECT_TRUE(contains(out,
                         "Radio config is not applied as the radio instance does not exist"
                         " for \n"))
        << "radio 2 was never configured";
    EXPECT_EQ(db_get("radio", "wlan1", "mode"), "<absent>");
    const struct {
        const char *cls, *queue, *property, *value;
    } queues[] = {
        {"tx-queue", "data0", "aifs", "1"},   {"tx-queue", "data1", "burst", "1.5"},
        {"tx-queue", "data2", "cwmin", "22"}, {"tx-queue", "data3", "cwmax", "33"},
        {"wme-queue", "vo", "aifs", "5"},     {"wme-queue", "vi", "txop-limit", "18"},
        {"wme-queue", "be", "cwmin", "26"},   {"wme-queue", "bk", "cwmax", "37"},
    };
    for (const auto& q : queues)
        EXPECT_EQ(db_get_q(q.cls, "wlan0", "queue", q.queue, q.property), q.value) << q.queue;
    map_radio_config& r = cs->radio[0];
    EXPECT_EQ(r.radio_changed + r.service_set_changed + r.rates_changed, 0u);
    // The TSPEC values are cleared before the comparison: the same values
    // again still mark the radio, an all-zero element does not.
    ASSERT_TRUE(take(0x2017, {1, 1, 0, 1, 0, 20, 0, 15, 0, 10, 1, 44, 0, 60, 1}));
    EXPECT_EQ(r.radio_changed, 1u);
    r.radio_changed = 0;
    ASSERT_TRUE(take(0x2017, bytes{1} + bytes(14, 0)));
    EXPECT_EQ(r.radio_changed, 0u);

    // Channel 0 after channel 6: policy "best" and no "static-channel" at all;
    // only queue 2 differs, so only queue 2 is written.
    e.channel = 0;
    radio(1, e);
    w.b[4 + 64] = 77;  // queue 2 AP AIFS
    ASSERT_TRUE(take(0x2006, w.b));
    out = radios();
    EXPECT_EQ(db_get_q("tx-queue", "wlan0", "queue", "data2", "aifs"), "77");
    EXPECT_FALSE(contains(out, "for Queue 0")) << out;
    EXPECT_EQ(db_get("radio", "wlan0", "channel-policy"), "best");
    EXPECT_TRUE(contains(out, "max-stations = 200\nSuccessful in applying the radio config\n"));
    EXPECT_EQ(db_get("radio", "wlan0", "static-channel"), "6");
}

// Each set replaces the rows of its class; an empty set fails after the old
// rows went, and a failed supported set never reaches the basic rows.
TEST_F(ConfigApply, RateRowsInBitOrder) {
    const strings all = {"1",  "2",  "5.5", "6",  "9",  "11", "12", "18",
                         "24", "36", "48",  "54", "72", "96", "108"};
    const struct {
        uint32_t supported, basic;
        const char* error;
        strings supported_rows, basic_rows;
    } rows[] = {
        {0x0F04, 0x8103, "<none>", {"5.5", "24", "36", "48", "54"}, {"1", "2", "24"}},
        {0x7FFF, 0x0008, "<none>", all, {"6"}},  // bit 15 above is no rate
        {0, 0x0003, "Error in the applying supported rate", {}, {"6"}},
        {0x8000, 0x0003, "Error in the applying supported rate", {}, {"6"}},
        {0x0003, 0, "Error in the applying advertised rate", {"1", "2"}, {}},
    };
    for (const auto& row : rows) {
        radio_elem e;
        e.supported = row.supported;
        e.basic = row.basic;
        radio(2, e);
        const bool fails = row.error[0] != '<';
        std::string out = radios(fails ? -1 : 0);
        EXPECT_EQ(err.str(), row.error);
        EXPECT_EQ(contains(out, " - Error in applying the rate configuration\n"), fails);
        EXPECT_EQ(db_column("supported-rate", "wlan1", "rate"), row.supported_rows) << row.error;
        EXPECT_EQ(db_column("basic-rate", "wlan1", "rate"), row.basic_rows) << row.error;
        EXPECT_EQ(cs->radio[1].rates_changed, 0u) << "a failed group's flag stays cleared too";
    }
    EXPECT_EQ(db_column("supported-rate", "wlan0", "rate"), strings{});
}

// A radio whose admin mode is 0 is skipped entirely, its QoS and VAPs
// included; so is a radio without a "radio" instance.
TEST_F(ConfigApply, SkippedRadios) {
    radio_elem down;
    down.admin_mode = 0;
    radio(2, down);
    ASSERT_TRUE(take(0x2006, bytes{2} + bytes(128, 1)));
    vap_elem v;
    v.radio_id = 2;
    vap(v);
    radio(1);
    v.radio_id = 1;
    vap(v);
    radios();
    vaps();
    EXPECT_EQ(db_get("radio", "wlan1", "mode"), "<absent>");
    EXPECT_EQ(db_get_q("tx-queue", "wlan1", "queue", "data0", "aifs"), "<absent>");
    EXPECT_EQ(db_get("interface", "wlan1", "ssid"), "<absent>");
    EXPECT_EQ(cs->vaps[1].vap_config[0].vap_changed, 1u) << "kept for a later apply";
    EXPECT_EQ(db_get("radio", "wlan0", "mode"), "bg") << "radio 1 in the same pass is written";
    EXPECT_EQ(db_get("interface", "wlan0", "ssid"), "corp");

    ASSERT_EQ(lsqlquery_delete_pv("radio", "wlan0", nullptr), 0);
    radio_elem other;
    other.beacon = 200;
    radio(1, other);
    v.ssid = "other";
    vap(v);
    radios();
    vaps();
    EXPECT_EQ(db_get("radio", "wlan0", "mode"), "<absent>") << "no instance: skipped";
    EXPECT_EQ(db_get("interface", "wlan0", "ssid"), "corp");
}

// The N-th database write fails: the apply stops there with the error text
// (the database's own, or the rate text), the failed group's mark stays
// cleared and nothing after it is written.
TEST_F(ConfigApply, DatabaseFailuresStopTheApply) {
    constexpr const char* db = "database write failed";
    const struct {
        unsigned nth;
        const char *error, *logged;
    } rows[] = {
        {1, db, "Failed to apply the radio config"},
        {2, db, "Failed to apply the radio TSPEC ACM config"},
        {4, "Error in the applying supported rate", "Error in applying the rate configuration"},
        {6, "Error in the applying advertised rate", "Error in applying the rate configuration"},
        {7, db, "Failed in applying the AP QOS config for Queue 0"},
        {8, db, "Failed in applying the Station QOS config for Queue 0"},
        {9, db, "Failed to apply the VAP config - vap0"},
        {10, db, "Failed to apply the VAP client QoS config - vap0"},
        {11, db, "Failed to apply the Vap Interface config - wlan0"},
        {12, db, "Failed to apply the Vap BSS config - wlan0bssvap0"},
    };
    bytes qos(129, 0);
    qos[0] = 1;
    for (const auto& row : rows) {
        map_cs_config_data_clear(cs);
        radio(1);
        qos[5] = static_cast<uint8_t>(qos[5] + 1);  // queue 0 changes every time
        ASSERT_TRUE(take(0x2006, qos));
        vap_elem v;
        vap(v, true);
        v.vap_id = 1;
        vap(v, true);
        ASSERT_EQ(lsqlquery_delete_pv("interface", "wlan0vap1", nullptr), 0);
        lsqlquery_fail_nth_write(row.nth);
        // Writes 1 to 8 are the radio apply's, the others the VAP apply's.
        std::string out = radios(row.nth < 9 ? -1 : 0);
        out += row.nth < 9 ? "" : vaps(-1);
        lsqlquery_fail_nth_write(0);
        EXPECT_EQ(err.str(), row.error) << row.nth;
        EXPECT_TRUE(contains(out, std::string(row.logged) + "\n")) << row.nth << out;
        EXPECT_EQ(cs->radio[0].radio_changed, 0u) << row.nth;
        EXPECT_EQ(cs->vaps[0].vap_config[0].vap_changed, row.nth < 9 ? 1u : 0u) << row.nth;
        EXPECT_EQ(cs->vaps[0].vap_config[1].vap_changed, 1u) << "the next VAP is not reached";
        EXPECT_EQ(db_get("interface", "wlan0vap1", "ssid"), "<absent>") << row.nth;
    }
}

// The stop element runs the apply: all radios down first, the country written
// with "country-code-is-configurable" on for the change and off again, then
// radios and VAPs.  No post-configuration child can be made here, so the apply
// fails at its end and the configuration data is cleared.
TEST_F(ConfigApply, StopElementAppliesCountryWithRadiosDown) {
    sb.write("/etc/reg_domains.conf",
             "[country codes]\nGB\tDG\tDG DG\t#\tx\n[regulatory domains]\nDG 11G x 6 0 0 0\n");
    ASSERT_TRUE(db_set("system", nullptr, "country", "US"));
    ASSERT_TRUE(db_set("system", nullptr, "country-code-is-configurable", "off"));
    ASSERT_TRUE(db_set("radio", "wlan0", "status", "up"));
    ASSERT_TRUE(db_set("radio", "wlan1", "status", "up"));
    cs->config_state = MAP_CS_STATE_IDLE;
    map_platform_fail_nth(map_platform_op::fork, 1);
    captured(0, [&] {
        walk(cs, elem(0x2001, {}) + elem(0x2009, {'G', 'B'}) + elem(0x2004, radio_elem{}.encode()) +
                     elem(0x2005, vap_elem{}.encode()) + elem(0x2002, {}));
    });
    EXPECT_EQ(db_get("system", nullptr, "country"), "GB");
    EXPECT_EQ(db_get("system", nullptr, "country-code-is-configurable"), "off");
    EXPECT_EQ(db_get("radio", "wlan0", "status"), "down");
    EXPECT_EQ(db_get("radio", "wlan1", "status"), "down");
    EXPECT_EQ(db_get("interface", "wlan0", "ssid"), "corp") << "radios and VAPs were applied";
    EXPECT_EQ(cs->status_code, MAP_CS_STATUS_APPLY_FAILED);
    EXPECT_STREQ(cs->radio[0].radio_name, "") << "the configuration data is cleared";
}

// ---- VAPs -------------------------------------------------------------------------

TEST_F(ConfigApply, VapInstanceNamesAndOnlyChangedVaps) {
    radio(1);
    radio(2);
    const struct {
        uint8_t radio_id, vap_id;
        const char *interface, *bss, *radio;
    } rows[] = {
        {2, 0, "wlan1", "wlan1bssvap0", "wlan1"},
        {2, 2, "wlan1vap2", "wlan1bssvap2", "wlan1"},
        {1, 1, "wlan0vap1", "wlan0bssvap1", "wlan0"},
        {1, 3, "wlan0vap3", "wlan0bssvap3", "wlan0"},
    };
    for (const auto& row : rows) {
        vap_elem v;
        v.radio_id = row.radio_id;
        v.vap_id = row.vap_id;
        v.ssid = row.vap_id == 3 ? "" : row.interface;  // all zero: named after the VAP
        v.vlan = 100u + row.vap_id;
        vap(v);
    }
    vaps();
    for (const auto& row : rows) {
        const std::string vap = "vap" + str(row.vap_id);
        EXPECT_EQ(db_get("interface", row.interface, "ssid"),
                  row.vap_id == 3 ? "Broadcom VAP3" : row.interface);
        EXPECT_EQ(db_get("bss", row.bss, "wpa2-allowed"), "on") << row.bss;
        EXPECT_EQ(db_get_q("vap", vap.c_str(), "radio", row.radio, "vlan-id"),
                  str(100 + row.vap_id));
    }
    EXPECT_EQ(db_get("interface", "wlan0", "ssid"), "<absent>") << "VAP 0 of radio 1 was not sent";

    // The same element again changes nothing, so nothing is written.
    ASSERT_TRUE(db_set("interface", "wlan1", "ssid", "marker"));
    vap_elem same;
    same.radio_id = 2;
    same.ssid = "wlan1";
    same.vlan = 100;
    vap(same);
    vaps();
    EXPECT_EQ(db_get("interface", "wlan1", "ssid"), "marker");
}

// The interface and BSS properties.  Security mode and authentication type
// give the security text and the open-system and shared-key authentication;
// the WPA personal key is written only when it has 8 characters or more.
TEST_F(ConfigApply, InterfaceSecurityAndBssProperties) {
    radio(1);
    const std::string k64(64, 'k');
    const struct {
        uint32_t security, auth, versions, ciphers;
        uint8_t mac_acl, hide;
        const char *text, *acl;
        // 1 = "on": ignore-broadcast-ssid, wpa-allowed, wpa2-allowed, wpa-cipher-tkip,
        // wpa-cipher-ccmp, open-system-authentication, shared-key-authentication
        const char *flags, *key;
    } rows[] = {
        {1, 2, 1, 2, 0, 0, "plain-text", "", "0100110", "1234567"},
        {2, 1, 2, 1, 1, 1, "static-wep", "local", "1011010", "12345678"},
        {2, 2, 3, 3, 2, 2, "static-wep", "radius", "1111101", k64.c_str()},
        {2, 3, 0, 4, 3, 0, "static-wep", "disable", "0000011", "1234567"},
        {2, 0, 7, 0, 4, 0, "static-wep", "", "0000000", "passphrase"},
        {3, 3, 3, 2, 1, 0, "dot1x", "local", "0110110", "passphrase"},
        {4, 2, 3, 2, 1, 0, "wpa-personal", "local", "0110110", "passphrase"},
        {5, 0, 3, 2, 1, 0, "wpa-enterprise", "local", "0110110", "passphrase"},
        {0, 3, 3, 2, 1, 0, "", "local", "0110100", "passphrase"},
        {6, 1, 3, 2, 1, 0, "", "local", "0110100", "passphrase"},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(lsqlquery_delete_pv("interface", "wlan0", nullptr), 0);
        vap_elem v;
        v.security = row.security;
        v.auth = row.auth;
        v.wpa_versions = row.versions;
        v.wpa_ciphers = row.ciphers;
        v.mac_acl = row.mac_acl;
        v.hide = row.hide;
        v.wpa_key = row.key;
        v.wep_ascii = 1;
        v.wep_default = 3;
        v.wep[1] = "secret";
        vap(v, true);
        ASSERT_TRUE(take(0x2008, {1, 0, 1, 0}));  // ARP suppression on
        std::string out = vaps();
        const std::string key = row.key;
        expect_written(out, "Applying VAP Interface Configuration with the following values",
                       "interface", "wlan0",
                       "ssid=corp;security=" + std::string(row.text) +
                           ";wep-key-length=64;wep-key-ascii=yes;wep-default-key=3;wep-key-1=;"
                           "wep-key-2=secret;wep-key-3=;wep-key-4=" +
                           (key.size() >= 8 ? ";wpa-personal-key=" + key : ""));
        EXPECT_EQ(db_get("interface", "wlan0", "wpa-personal-key"),
                  key.size() >= 8 ? key : "<absent>");
        const auto f = [&](int i) { return std::string(row.flags[i] == '1' ? "on" : "off"); };
        expect_written(
            out, "Applying VAP BSS Configuration with the following values - wlan0bssvap0", "bss",
            "wlan0bssvap0",
            "ignore-broadcast-ssid=" + f(0) + ";wpa-allowed=" + f(1) + ";wpa2-allowed=" + f(2) +
                ";wpa-cipher-tkip=" + f(3) + ";wpa-cipher-ccmp=" + f(4) +
                ";mac-acl-auth-type=" + row.acl +
                ";radius-accounting=on;rsn-preauthentication=off;open-system-authentication=" +
                f(5) + ";shared-key-authentication=" + f(6) +
                ";rsn-preauthentication-limit=7;dynamic-key-forwarding-mode=on;"
                "key-cache-hold-time=600;broadcast-key-refresh-rate=4000000000;"
                "session-key-refresh-rate=30;arp-supp-mode=on");
        EXPECT_TRUE(contains(out, "Wireless ARP Suppression Mode : 1\n\n")) << out;
    }
}

TEST_F(ConfigApply, VapAndClientQosPropertiesReadBack) {
    radio(2);
    vap_elem v;
    v.radio_id = 2;
    v.vap_id = 1;
    v.vlan = 42;
    vap(v);
    const std::string url = "http://portal.example/" + std::string(106, 'u');  // all 128 kept
    const std::string x31(31, 'x');
    ASSERT_TRUE(take(0x2014, redirect_elem(2, 1, 2, 0, url)));
    ASSERT_TRUE(
        take(0x2015, cltqos_elem(2, 1, {3, 9, 0, 0}, {"acl-in", x31, "pol-in", "pol-out"})));
    std::string out = vaps();
    expect_written(out, "Applying VAP Configuration -- instance - vap1 for radio - wlan1", "vap",
                   "vap1", "status=up;vlan-id=42;redirect-mode=http;redirect-url=" + url, "wlan1");
    expect_written(out,
                   "Applying VAP Client QoS Configuration -- instance - vap1 for radio - wlan1",
                   "vap", "vap1",
                   "qos-mode=up;def-bwmax-down=128000;def-bwmax-up=64000;def-acltype-down=ipv6;"
                   "def-acltype-up=none;def-acl-down=acl-in;def-acl-up=" +
                       x31 + ";def-policy-down=pol-in;def-policy-up=pol-out",
                   "wlan1", "prop: ");

    map_vap_config back{};
    back.ssid[0] = 'Z';  // fields the read does not cover are left alone
    ASSERT_EQ(map_dman_lsql_get_vap_configuration(1, 1, &back), 0);
    // admin mode, VLAN, redirect mode, client QoS mode, bandwidths, ACL types
    EXPECT_EQ(str(back.admin_mode) + " " + str(back.vlan_id) + " " + str(back.redirect_mode) + " " +
                  str(back.cltqos_mode) + " " + str(back.def_bwmax_down) + " " +
                  str(back.def_bwmax_up) + " " + str(back.def_acl_down.type) + " " +
                  str(back.def_acl_up.type),
              "1 42 2 1 128000 64000 3 0");
    EXPECT_EQ(back.redirect_url, url);
    EXPECT_EQ(std::string(back.def_acl_down.name) + "|" + back.def_acl_up.name + "|" +
                  back.def_policy_down.name + "|" + back.def_policy_up.name,
              "acl-in|" + x31 + "|pol-in|pol-out");
    EXPECT_EQ(back.ssid[0], 'Z');
}
