// The radio and VAP apply: elements taken by the handlers, written to a real
// database in a sandbox root, and read back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/map_config_apply.hpp"
#include "cs_test_util.hpp"

using namespace cs_test;

namespace {

// An error slot that frees what it holds.
struct error_slot {
    char* text = nullptr;
    ~error_slot() { free(text); }
    std::string str() const { return text != nullptr ? text : "<none>"; }
};

// The "%s = %s" lines traced between `heading` and the next line that is not
// one of them, names only.
std::vector<std::string> traced_names(const std::string& out, const std::string& heading,
                                      const std::string& prefix = "") {
    std::vector<std::string> names;
    size_t at = out.find(heading + "\n");
    if (at == std::string::npos)
        return names;
    at += heading.size() + 1;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        std::string line = out.substr(at, end - at);
        size_t eq = line.find(" = ");
        if (eq == std::string::npos || line.compare(0, prefix.size(), prefix) != 0)
            break;
        names.push_back(line.substr(prefix.size(), eq - prefix.size()));
        at = end + 1;
    }
    return names;
}

struct prop_value {
    const char* property;
    std::string value;
};

// Every property of (cls, instance) holds its value, and the apply traced
// them under `heading` in this order.
void expect_written(const char* cls, const char* instance, const std::vector<prop_value>& rows,
                    const std::string& out, const std::string& heading,
                    const std::string& note = "") {
    std::vector<std::string> order;
    for (const auto& row : rows) {
        EXPECT_EQ(db_get(cls, instance, row.property), row.value) << row.property << note;
        order.emplace_back(row.property);
    }
    EXPECT_EQ(traced_names(out, heading), order) << note;
}

class ConfigApply : public cs_fixture {
protected:
    void SetUp() override {
        cs_fixture::SetUp();
        ASSERT_TRUE(db_set("radio", "wlan0", "status", "down"));
        ASSERT_TRUE(db_set("radio", "wlan1", "status", "down"));
    }

    void take(map_cs_elem_handler handler, const bytes& value) {
        ASSERT_EQ(run(handler, cs, value).rc, 0);
    }

    int apply_radios(error_slot& err) { return map_config_radio_apply(cs, &err.text); }
    int apply_vaps(error_slot& err) { return map_config_vap_apply(cs, &err.text); }
};

}  // namespace

TEST_F(ConfigApply, RadioPropertiesInOrder) {
    radio_elem e;
    e.max_stations = 500;
    e.mcast = 55;
    e.sgi = 1;
    e.band_selector = 1;  // mode 2: band 1
    take(map_cs_handler_process_radio_config, e.encode());
    take(map_cs_handler_process_radio_stbc_config, {1, 1});
    error_slot err;
    std::string out = captured(MAP_TRACE_CONFIG, [&] { EXPECT_EQ(apply_radios(err), 0); });
    EXPECT_EQ(err.str(), "<none>");
    const std::vector<prop_value> rows = {
        {"mode", "bg"},
        {"channel-policy", "static"},
        {"sentry-mode", "off"},
        {"channel-hopping", "on"},
        {"scan-leave-time", "100"},
        {"scan-duration", "20"},
        {"passive-scan-band", "1"},
        {"rate-limit-enable", "on"},
        {"rate-limit", "50"},
        {"rate-limit-burst", "75"},
        {"beacon-interval", "100"},
        {"fragmentation-threshold", "2346"},
        {"rts-threshold", "2347"},
        {"limit-channels", "1 6 11 "},
        {"tx-power", "100"},
        {"wme", "on"},
        {"load-balance-no-association-utilization", "0"},
        {"data-snooping", "off"},
        {"n-bandwidth", "20"},
        {"n-primary-channel", "lower"},
        {"protection", "auto"},
        {"short-guard-interval-supported", "yes"},
        {"stbc-mode", "on"},
        {"rrm-mode", "off"},
        {"wme-apsd", "on"},
        {"wme-noack", "off"},
        {"fixed-multicast-rate", "5.5"},
        {"station-isolation", "off"},
        {"dtim-period", "2"},
        {"max-stations", "200"},
        {"static-channel", "6"},
    };
    expect_written("radio", "wlan0", rows, out,
                   "Applying Radio Configuration with the following values");
    EXPECT_TRUE(contains(out, "Successful in applying the radio config\n")) << out;
    EXPECT_TRUE(contains(out, "Successful in applying the radio TSPEC ACM config\n"));
    EXPECT_EQ(db_get("tspec-acm", "wlan0", "voice-acm-limit"), "0");
    EXPECT_EQ(db_get("radio", "wlan1", "mode"), "<absent>") << "radio 2 was never configured";
    EXPECT_TRUE(
        contains(out, "Radio config is not applied as the radio instance does not exist for \n"))
        << "an unnamed record has no instance";
    EXPECT_EQ(cs->radio[0].radio_changed, 0u);
    EXPECT_EQ(cs->radio[0].service_set_changed, 0u);
    EXPECT_EQ(cs->radio[0].rates_changed, 0u);
}

TEST_F(ConfigApply, BestPolicyLeavesTheStaticChannelAlone) {
    ASSERT_TRUE(db_set("radio", "wlan0", "static-channel", "36"));
    radio_elem e;
    e.channel = 6;
    take(map_cs_handler_process_radio_config, e.encode());
    e.channel = 0;
    take(map_cs_handler_process_radio_config, e.encode());
    error_slot err;
    std::string out = captured(MAP_TRACE_CONFIG, [&] { EXPECT_EQ(apply_radios(err), 0); });
    EXPECT_EQ(db_get("radio", "wlan0", "channel-policy"), "best");
    EXPECT_EQ(db_get("radio", "wlan0", "static-channel"), "36");
    std::vector<std::string> names =
        traced_names(out, "Applying Radio Configuration with the following values");
    ASSERT_EQ(names.size(), 30u);
    EXPECT_EQ(names.back(), "max-stations");
}

TEST_F(ConfigApply, TspecValuesAreWritten) {
    take(map_cs_handler_process_radio_config, radio_elem{}.encode());
    take(map_cs_handler_process_radio_tspec_acm_config,
         {1, 1, 0, 1, 0x00, 0x14, 0x00, 0x0F, 0x00, 0x0A, 0x01, 0x2C, 0x00, 0x3C, 1});
    error_slot err;
    std::string out = captured(MAP_TRACE_CONFIG, [&] { EXPECT_EQ(apply_radios(err), 0); });
    const std::vector<prop_value> rows = {
        {"tspec-mode", "on"},
        {"voice-acm-mode", "off"},
        {"video-acm-mode", "on"},
        {"voice-acm-limit", "20"},
        {"video-acm-limit", "15"},
        {"roam-reserve-limit", "10"},
        {"ap-inactivity-timeout", "300"},
        {"sta-inactivity-timeout", "60"},
        {"legacy-wmm-queue-map-mode", "on"},
    };
    expect_written("tspec-acm", "wlan0", rows, out,
                   "Applying Radio TSPEC ACM Configuration with the following values");
}

TEST_F(ConfigApply, RatesAreRowsInBitOrder) {
    pv* old = lsqlquery_new_pv_with_peer("rate", "54", nullptr, nullptr);
    lsqlquery_new_pv_with_peer("rate", "1", nullptr, old);
    ASSERT_EQ(lsqlquery_insert_pv("supported-rate", "wlan1", old), 0);
    lsqlquery_destroy_pv(old);

    radio_elem e;
    e.radio_id = 2;
    e.supported = 0x0F04;
    e.basic = 0x8000 | 0x0103;  // bit 15 is no rate
    take(map_cs_handler_process_radio_config, e.encode());
    error_slot err;
    ASSERT_EQ(apply_radios(err), 0) << err.str();
    EXPECT_EQ(db_column("supported-rate", "wlan1", "rate"),
              (std::vector<std::string>{"5.5", "24", "36", "48", "54"}));
    EXPECT_EQ(db_column("basic-rate", "wlan1", "rate"), (std::vector<std::string>{"1", "2", "24"}));
    EXPECT_EQ(db_column("supported-rate", "wlan0", "rate"), std::vector<std::string>{});

    // All fifteen rates.
    e.supported = 0x7FFF;
    take(map_cs_handler_process_radio_config, e.encode());
    ASSERT_EQ(apply_radios(err), 0);
    std::vector<std::string> all(map_radio_rate_text, map_radio_rate_text + MAP_RADIO_RATE_BITS);
    EXPECT_EQ(db_column("supported-rate", "wlan1", "rate"), all);
    EXPECT_EQ(all.back(), "108");
}

TEST_F(ConfigApply, EmptyRateSetsAreRefused) {
    const struct {
        uint32_t supported;
        uint32_t basic;
        const char* error;
        std::vector<std::string> supported_rows;
    } rows[] = {
        {0x0003, 0, "Error in the applying advertised rate", {"1", "2"}},
        {0, 0x0003, "Error in the applying supported rate", {"6"}},
        {0x8000, 0x0003, "Error in the applying supported rate", {"6"}},
    };
    for (const auto& row : rows) {
        pv* keep = lsqlquery_new_pv_with_peer("rate", "6", nullptr, nullptr);
        ASSERT_EQ(lsqlquery_delete_pv("supported-rate", "wlan0", nullptr), 0);
        ASSERT_EQ(lsqlquery_delete_pv("basic-rate", "wlan0", nullptr), 0);
        ASSERT_EQ(lsqlquery_insert_pv("supported-rate", "wlan0", keep), 0);
        ASSERT_EQ(lsqlquery_insert_pv("basic-rate", "wlan0", keep), 0);
        lsqlquery_destroy_pv(keep);
        radio_elem e;
        e.supported = row.supported;
        e.basic = row.basic;
        take(map_cs_handler_process_radio_config, e.encode());
        cs->radio[0].rates_changed = 1;
        error_slot err;
        std::string out = captured(0, [&] { EXPECT_EQ(apply_radios(err), -1); });
        EXPECT_EQ(err.str(), row.error);
        EXPECT_TRUE(contains(out, " - Error in applying the rate configuration\n")) << out;
        EXPECT_EQ(db_column("supported-rate", "wlan0", "rate"), row.supported_rows);
        EXPECT_EQ(db_column("basic-rate", "wlan0", "rate"), std::vector<std::string>{"6"})
            << "a refused set keeps the rows it had";
        EXPECT_EQ(cs->radio[0].rates_changed, 0u) << "the failed group's flag stays cleared";
    }
}

TEST_F(ConfigApply, QosQueuesOnlyWhenChanged) {
    bytes qos(MAP_CS_QOS_CONFIG_LEN, 0);
    qos[0] = 1;
    for (size_t q = 0; q < 4; ++q) {
        for (size_t i = 0; i < 8; ++i)
            put_be32(qos, 1 + 32 * q + 4 * i, 10 * q + i + 1);
    }
    put_be32(qos, 1 + 32 + 12, 1500);  // queue 1 burst
    take(map_cs_handler_process_radio_config, radio_elem{}.encode());
    take(map_cs_handler_process_qos_config, qos);
    error_slot err;
    std::string out = captured(MAP_TRACE_CONFIG, [&] { ASSERT_EQ(apply_radios(err), 0); });
    EXPECT_EQ(db_get_q("tx-queue", "wlan0", "queue", "data0", "aifs"), "1");
    EXPECT_EQ(db_get_q("tx-queue", "wlan0", "queue", "data1", "burst"), "1.5");
    EXPECT_EQ(db_get_q("tx-queue", "wlan0", "queue", "data3", "cwmax"), "33");
    EXPECT_EQ(db_get_q("wme-queue", "wlan0", "queue", "vo", "aifs"), "5");
    EXPECT_EQ(db_get_q("wme-queue", "wlan0", "queue", "vi", "txop-limit"), "18");
    EXPECT_EQ(db_get_q("wme-queue", "wlan0", "queue", "bk", "cwmin"), "36");
    EXPECT_EQ(traced_names(out, "Applying AP QOS Configuration with the following values"),
              (std::vector<std::string>{"aifs", "cwmin", "cwmax", "burst"}));
    EXPECT_EQ(traced_names(out, "Applying Station QOS Configuration with the following values"),
              (std::vector<std::string>{"aifs", "cwmin", "cwmax", "txop-limit"}));
    EXPECT_TRUE(contains(out, "Successful in applying the AP QOS config for Queue 3\n"));
    EXPECT_TRUE(contains(out, "Successful in applying the Station QOS config for Queue 3\n"));

    // Only queue 2 differs: queue 0, changed behind our back, is not rewritten.
    pv* q = lsqlquery_new_pv_solo("queue", "data0");
    pv* v = lsqlquery_new_pv_solo("aifs", "99");
    ASSERT_EQ(lsqlquery_set_pv("tx-queue", "wlan0", v, q), 0);
    lsqlquery_destroy_pv(q);
    lsqlquery_destroy_pv(v);
    put_be32(qos, 1 + 64, 77);
    take(map_cs_handler_process_qos_config, qos);
    out = captured(MAP_TRACE_CONFIG, [&] { ASSERT_EQ(apply_radios(err), 0); });
    EXPECT_EQ(db_get_q("tx-queue", "wlan0", "queue", "data0", "aifs"), "99");
    EXPECT_EQ(db_get_q("tx-queue", "wlan0", "queue", "data2", "aifs"), "77");
    EXPECT_FALSE(contains(out, "for Queue 0")) << out;
    EXPECT_TRUE(contains(out, "Successful in applying the AP QOS config for Queue 2\n"));
}

TEST_F(ConfigApply, AdminDownRadioIsSkippedWithItsVaps) {
    radio_elem e;
    e.radio_id = 2;
    e.admin_mode = 0;
    take(map_cs_handler_process_radio_config, e.encode());
    bytes qos(MAP_CS_QOS_CONFIG_LEN, 1);
    qos[0] = 2;
    take(map_cs_handler_process_qos_config, qos);
    vap_elem v;
    v.radio_id = 2;
    take(map_cs_handler_process_vap_config, v.encode());
    take(map_cs_handler_process_radio_config, radio_elem{}.encode());  // radio 1 is up
    v.radio_id = 1;
    take(map_cs_handler_process_vap_config, v.encode());

    error_slot err;
    std::string out = captured(MAP_TRACE_CONFIG, [&] {
        EXPECT_EQ(apply_radios(err), 0);
        EXPECT_EQ(apply_vaps(err), 0);
    });
    EXPECT_TRUE(contains(
        out, "Radio config is not applied as the radio admin mode is disabled for wlan1\n"));
    EXPECT_TRUE(
        contains(out, "Vap config is not applied as the radio admin mode is disabled for wlan1\n"));
    EXPECT_EQ(db_get("radio", "wlan1", "mode"), "<absent>");
    EXPECT_EQ(db_get_q("tx-queue", "wlan1", "queue", "data0", "aifs"), "<absent>");
    EXPECT_EQ(db_get("interface", "wlan1", "ssid"), "<absent>");
    EXPECT_EQ(db_get_q("vap", "vap0", "radio", "wlan1", "status"), "<absent>");
    EXPECT_EQ(cs->vaps[1].vap_config[0].vap_changed, 1u) << "kept for a later apply";
    // Radio 1 in the same pass is written.
    EXPECT_EQ(db_get("radio", "wlan0", "mode"), "bg");
    EXPECT_EQ(db_get("interface", "wlan0", "ssid"), "corp");
    EXPECT_EQ(db_get_q("vap", "vap0", "radio", "wlan0", "status"), "up");
}

TEST_F(ConfigApply, MissingRadioInstanceIsSkipped) {
    radio_elem e;
    e.radio_id = 2;
    take(map_cs_handler_process_radio_config, e.encode());
    ASSERT_EQ(lsqlquery_delete_pv("radio", "wlan1", nullptr), 0);
    error_slot err;
    std::string out = captured(MAP_TRACE_CONFIG, [&] {
        EXPECT_EQ(apply_radios(err), 0);
        EXPECT_EQ(apply_vaps(err), 0);
    });
    EXPECT_TRUE(contains(
        out, "Radio config is not applied as the radio instance does not exist for wlan1\n"));
    EXPECT_TRUE(contains(
        out, "Vap config is not applied as the radio instance does not exist for wlan1\n"));
    EXPECT_EQ(db_get("radio", "wlan1", "mode"), "<absent>");
}

TEST_F(ConfigApply, ServiceSetOnlyChangeWritesNothing) {
    radio_elem e;
    take(map_cs_handler_process_radio_config, e.encode());
    error_slot err;
    ASSERT_EQ(apply_radios(err), 0);
    ASSERT_TRUE(db_set("radio", "wlan0", "mode", "marker"));
    e.ss_long[1] = 99;
    take(map_cs_handler_process_radio_config, e.encode());
    ASSERT_EQ(cs->radio[0].service_set_changed, 1u);
    ASSERT_EQ(cs->radio[0].radio_changed, 0u);
    ASSERT_EQ(apply_radios(err), 0);
    EXPECT_EQ(db_get("radio", "wlan0", "mode"), "marker");
    EXPECT_EQ(cs->radio[0].service_set_changed, 0u);
}

TEST_F(ConfigApply, ModeChangeFallsBackToChannelOne) {
    // No regulatory table in this root: the default channel is unknown.
    take(map_cs_handler_process_radio_config, radio_elem{}.encode());
    cs->radio[0].radio_changed = 0;
    cs->radio[0].mode_changed = 1;
    error_slot err;
    std::string out = captured(MAP_TRACE_CONFIG, [&] { ASSERT_EQ(apply_radios(err), 0); });
    EXPECT_TRUE(
        contains(out, "For radio - wlan0 the reg domain is invalid so channel set to 1 \n"));
    EXPECT_TRUE(contains(
        out, "Radio Mode for wlan0 is changed so changing policy to best with static as 1\n"));
    EXPECT_EQ(db_get("radio", "wlan0", "channel-policy"), "best");
    EXPECT_EQ(db_get("radio", "wlan0", "static-channel"), "1");
    EXPECT_EQ(cs->radio[0].mode_changed, 0u);
}

TEST_F(ConfigApply, DatabaseFailuresStopTheApply) {
    const struct {
        const char* what;
        unsigned nth;  // which write fails
        const char* log;
        const char* trace;
    } rows[] = {
        {"radio", 1, "Error in applying the radio configuration",
         "Failed to apply the radio config"},
        {"tspec", 2, "Error in applying the radio configuration",
         "Failed to apply the radio TSPEC ACM config"},
        {"supported rates", 4, "Error in applying the rate configuration", nullptr},
        {"AP queue", 7, "Error in applying the QOS configuration",
         "Failed in applying the AP QOS config for Queue 0"},
        {"station queue", 8, "Error in applying the QOS configuration",
         "Failed in applying the Station QOS config for Queue 0"},
    };
    bytes qos(MAP_CS_QOS_CONFIG_LEN, 0);
    qos[0] = 1;
    for (const auto& row : rows) {
        map_cs_config_data_clear(cs);
        take(map_cs_handler_process_radio_config, radio_elem{}.encode());
        qos[5] = static_cast<uint8_t>(qos[5] + 1);  // queue 0 changes every time
        take(map_cs_handler_process_qos_config, qos);
        lsqlquery_fail_nth_write(row.nth);
        error_slot err;
        std::string out = captured(MAP_TRACE_CONFIG, [&] { EXPECT_EQ(apply_radios(err), -1); });
        lsqlquery_fail_nth_write(0);
        ASSERT_NE(err.text, nullptr) << row.what;
        EXPECT_GT(strlen(err.text), 0u) << row.what;
        EXPECT_LE(strlen(err.text), MAP_CONFIG_ERROR_LEN) << row.what;
        EXPECT_TRUE(contains(out, std::string(" - ") + row.log + "\n")) << row.what << out;
        if (row.trace != nullptr) {
            EXPECT_TRUE(contains(out, std::string(row.trace) + "\n")) << row.what << out;
        }
        EXPECT_EQ(cs->radio[0].radio_changed, 0u) << row.what;
    }
}

// ---- VAPs -------------------------------------------------------------------------

TEST_F(ConfigApply, VapInstanceNames) {
    take(map_cs_handler_process_radio_config, radio_elem{}.encode());
    radio_elem r2;
    r2.radio_id = 2;
    take(map_cs_handler_process_radio_config, r2.encode());
    const struct {
        uint8_t radio_id, vap_id;
        const char* interface;
        const char* bss;
        const char* vap_radio;
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
        v.ssid = std::string("net-") + row.interface;
        v.vlan = 100u + row.vap_id;
        take(map_cs_handler_process_vap_config, v.encode());
    }
    error_slot err;
    std::string out =
        captured(MAP_TRACE_CONFIG, [&] { ASSERT_EQ(apply_vaps(err), 0) << err.str(); });
    for (const auto& row : rows) {
        EXPECT_EQ(db_get("interface", row.interface, "ssid"), std::string("net-") + row.interface);
        EXPECT_EQ(db_get("bss", row.bss, "wpa2-allowed"), "on") << row.bss;
        std::string vap = "vap" + std::to_string(row.vap_id);
        EXPECT_EQ(db_get_q("vap", vap.c_str(), "radio", row.vap_radio, "vlan-id"),
                  std::to_string(100 + row.vap_id));
        EXPECT_TRUE(contains(
            out, std::string("Successful in applying the vap BSS config - ") + row.bss + "\n"));
        EXPECT_TRUE(contains(out, "Applying VAP Configuration -- instance - " + vap +
                                      " for radio - " + row.vap_radio + "\n"));
    }
    EXPECT_EQ(db_get("interface", "wlan1vap0", "ssid"), "<absent>");
    // VAPs never sent are not written.
    EXPECT_EQ(db_get("interface", "wlan0", "ssid"), "<absent>");
    EXPECT_EQ(db_get_q("vap", "vap0", "radio", "wlan0", "status"), "<absent>");
}

TEST_F(ConfigApply, InterfaceProperties) {
    take(map_cs_handler_process_radio_config, radio_elem{}.encode());
    const struct {
        std::string key;
        bool written;
    } keys[] = {{"1234567", false}, {"12345678", true}, {std::string(64, 'k'), true}};
    for (const auto& k : keys) {
        ASSERT_EQ(lsqlquery_delete_pv("interface", "wlan0vap1", nullptr), 0);
        vap_elem v;
        v.vap_id = 1;
        v.wpa_key = k.key;
        v.security = 2;
        v.wep_ascii = 1;
        v.wep_default = 3;
        v.wep[1] = "secret";
        take(map_cs_handler_process_vap_config, v.encode());
        cs->vaps[0].vap_config[1].vap_changed = 1;
        error_slot err;
        std::string out = captured(MAP_TRACE_CONFIG, [&] { ASSERT_EQ(apply_vaps(err), 0); });
        EXPECT_EQ(db_get("interface", "wlan0vap1", "wpa-personal-key"),
                  k.written ? k.key : "<absent>");
        EXPECT_EQ(db_get("interface", "wlan0vap1", "security"), "static-wep");
        EXPECT_EQ(db_get("interface", "wlan0vap1", "wep-key-length"), "64");
        EXPECT_EQ(db_get("interface", "wlan0vap1", "wep-key-ascii"), "yes");
        EXPECT_EQ(db_get("interface", "wlan0vap1", "wep-default-key"), "3");
        EXPECT_EQ(db_get("interface", "wlan0vap1", "wep-key-1"), "");
        EXPECT_EQ(db_get("interface", "wlan0vap1", "wep-key-2"), "secret");
        std::vector<std::string> names = {"ssid",          "security",        "wep-key-length",
                                          "wep-key-ascii", "wep-default-key", "wep-key-1",
                                          "wep-key-2",     "wep-key-3",       "wep-key-4"};
        if (k.written)
            names.emplace_back("wpa-personal-key");
        EXPECT_EQ(
            traced_names(out, "Applying VAP Interface Configuration with the following values"),
            names);
        EXPECT_TRUE(contains(out, "Successful in applying the vap Interface config - wlan0vap1\n"));
    }
}

TEST_F(ConfigApply, SecurityAndAuthenticationMapping) {
    take(map_cs_handler_process_radio_config, radio_elem{}.encode());
    const struct {
        uint32_t security, auth;
        const char* text;
        const char* open;
        const char* shared;
    } rows[] = {
        {1, 2, "plain-text", "on", "off"},
        {2, 1, "static-wep", "on", "off"},
        {2, 2, "static-wep", "off", "on"},
        {2, 3, "static-wep", "on", "on"},
        {2, 0, "static-wep", "off", "off"},
        {3, 3, "dot1x", "on", "off"},
        {4, 2, "wpa-personal", "on", "off"},
        {5, 0, "wpa-enterprise", "on", "off"},
        {0, 3, "", "off", "off"},
        {6, 1, "", "off", "off"},
    };
    for (const auto& row : rows) {
        vap_elem v;
        v.security = row.security;
        v.auth = row.auth;
        take(map_cs_handler_process_vap_config, v.encode());
        cs->vaps[0].vap_config[0].vap_changed = 1;
        error_slot err;
        ASSERT_EQ(apply_vaps(err), 0);
        EXPECT_EQ(db_get("interface", "wlan0", "security"), row.text) << row.security;
        EXPECT_EQ(db_get("bss", "wlan0bssvap0", "open-system-authentication"), row.open)
            << row.security << "/" << row.auth;
        EXPECT_EQ(db_get("bss", "wlan0bssvap0", "shared-key-authentication"), row.shared)
            << row.security << "/" << row.auth;
    }
}

TEST_F(ConfigApply, BssProperties) {
    take(map_cs_handler_process_radio_config, radio_elem{}.encode());
    const struct {
        uint32_t versions, ciphers;
        uint8_t mac_acl, hide;
        const char *wpa, *wpa2, *tkip, *ccmp, *acl, *ignore;
    } rows[] = {
        {1, 2, 0, 0, "on", "off", "off", "on", "", "off"},
        {2, 1, 1, 1, "off", "on", "on", "off", "local", "on"},
        {3, 3, 2, 2, "on", "on", "on", "on", "radius", "on"},
        {0, 4, 3, 0, "off", "off", "off", "off", "disable", "off"},
        {7, 0, 4, 0, "off", "off", "off", "off", "", "off"},
    };
    for (const auto& row : rows) {
        vap_elem v;
        v.wpa_versions = row.versions;
        v.wpa_ciphers = row.ciphers;
        v.mac_acl = row.mac_acl;
        v.hide = row.hide;
        v.radius_acct = 1;
        v.preauth = 0;
        v.preauth_limit = 7;
        v.key_fwd = 1;
        v.key_hold = 600;
        v.bcast_refresh = 4000000000u;
        v.session_refresh = 30;
        take(map_cs_handler_process_vap_config, v.encode());
        take(map_cs_handler_process_vap_config_2, {1, 0, 1, 0});
        cs->vaps[0].vap_config[0].vap_changed = 1;
        error_slot err;
        std::string out = captured(MAP_TRACE_CONFIG, [&] { ASSERT_EQ(apply_vaps(err), 0); });
        const std::vector<prop_value> props = {
            {"ignore-broadcast-ssid", row.ignore},
            {"wpa-allowed", row.wpa},
            {"wpa2-allowed", row.wpa2},
            {"wpa-cipher-tkip", row.tkip},
            {"wpa-cipher-ccmp", row.ccmp},
            {"mac-acl-auth-type", row.acl},
            {"radius-accounting", "on"},
            {"rsn-preauthentication", "off"},
            {"open-system-authentication", "on"},
            {"shared-key-authentication", "off"},
            {"rsn-preauthentication-limit", "7"},
            {"dynamic-key-forwarding-mode", "on"},
            {"key-cache-hold-time", "600"},
            {"broadcast-key-refresh-rate", "4000000000"},
            {"session-key-refresh-rate", "30"},
            {"arp-supp-mode", "on"},
        };
        expect_written("bss", "wlan0bssvap0", props, out,
                       "Applying VAP BSS Configuration with the following values - wlan0bssvap0",
                       " versions " + std::to_string(row.versions));
        EXPECT_TRUE(contains(out, "Wireless ARP Suppression Mode : 1\n\n")) << out;
    }
}

TEST_F(ConfigApply, VapAndClientQosPropertiesReadBack) {
    radio_elem r2;
    r2.radio_id = 2;
    take(map_cs_handler_process_radio_config, r2.encode());
    vap_elem v;
    v.radio_id = 2;
    v.vap_id = 1;
    v.admin_mode = 1;
    v.vlan = 42;
    take(map_cs_handler_process_vap_config, v.encode());
    take(map_cs_handler_process_vap_redirect_config,
         redirect_elem(2, 1, 2, 0, "http://portal.example/login"));
    cltqos_elem q;
    q.radio_id = 2;
    q.vap_id = 1;
    q.type[0] = 3;
    q.type[1] = 9;
    q.name[1] = std::string(31, 'x');
    take(map_cs_handler_process_vap_client_qos_config, q.encode());

    error_slot err;
    std::string out = captured(MAP_TRACE_CONFIG, [&] { ASSERT_EQ(apply_vaps(err), 0); });
    const struct {
        const char* property;
        std::string value;
    } props[] = {
        {"status", "up"},
        {"vlan-id", "42"},
        {"redirect-mode", "http"},
        {"redirect-url", "http://portal.example/login"},
        {"qos-mode", "up"},
        {"def-bwmax-down", "128000"},
        {"def-bwmax-up", "64000"},
        {"def-acltype-down", "ipv6"},
        {"def-acltype-up", "none"},
        {"def-acl-down", "acl-in"},
        {"def-acl-up", std::string(31, 'x')},
        {"def-policy-down", "pol-in"},
        {"def-policy-up", "pol-out"},
    };
    for (const auto& p : props) {
        EXPECT_EQ(db_get_q("vap", "vap1", "radio", "wlan1", p.property), p.value) << p.property;
    }
    EXPECT_EQ(traced_names(out,
                           "Applying VAP Client QoS Configuration -- instance - vap1 for "
                           "radio - wlan1",
                           "prop: "),
              (std::vector<std::string>{"qos-mode", "def-bwmax-down", "def-bwmax-up",
                                        "def-acltype-down", "def-acltype-up", "def-acl-down",
                                        "def-acl-up", "def-policy-down", "def-policy-up"}));
    EXPECT_TRUE(contains(out, "Successful in applying the VAP client QoS config - vap1\n"));
    EXPECT_EQ(cs->vaps[1].vap_config[1].vap_changed, 0u);

    map_vap_config back{};
    back.ssid[0] = 'Z';  // fields the read does not cover are left alone
    ASSERT_EQ(map_dman_lsql_get_vap_configuration(1, 1, &back), 0);
    EXPECT_EQ(back.admin_mode, 1);
    EXPECT_EQ(back.vlan_id, 42u);
    EXPECT_EQ(back.redirect_mode, MAP_VAP_REDIRECT_HTTP);
    EXPECT_STREQ(back.redirect_url, "http://portal.example/login");
    EXPECT_EQ(back.cltqos_mode, 1);
    EXPECT_EQ(back.def_bwmax_down, 128000u);
    EXPECT_EQ(back.def_bwmax_up, 64000u);
    EXPECT_EQ(back.def_acl_down.type, MAP_VAP_ACL_IPV6);
    EXPECT_EQ(back.def_acl_up.type, 0);
    EXPECT_STREQ(back.def_acl_down.name, "acl-in");
    EXPECT_EQ(std::string(back.def_acl_up.name), std::string(31, 'x'));
    EXPECT_STREQ(back.def_policy_down.name, "pol-in");
    EXPECT_STREQ(back.def_policy_up.name, "pol-out");
    EXPECT_EQ(back.ssid[0], 'Z');

    EXPECT_EQ(map_dman_lsql_get_vap_configuration(1, 1, nullptr), -1);
    map_vap_config none{};
    EXPECT_EQ(map_dman_lsql_get_vap_configuration(3, 0, &none), -1) << "nothing stored there";
}

TEST_F(ConfigApply, ReadBackMapsTextsToNumbers) {
    const struct {
        const char* mode;
        uint8_t number;
        const char* acltype;
        uint8_t acl;
    } rows[] = {
        {"http", 2, "ipv4", 1},
        {"ip", 3, "mac", 2},
        {"none", 1, "ipv6", 3},
        {"bogus", 1, "x", 0},
    };
    for (const auto& row : rows) {
        pv* q = lsqlquery_new_pv_solo("radio", "wlan0");
        pv* list = lsqlquery_new_pv("redirect-mode", row.mode, nullptr);
        lsqlquery_new_pv("def-acltype-up", row.acltype, list);
        ASSERT_EQ(lsqlquery_set_pv("vap", "vap2", list, q), 0);
        lsqlquery_destroy_pv(list);
        lsqlquery_destroy_pv(q);
        map_vap_config back{};
        ASSERT_EQ(map_dman_lsql_get_vap_configuration(2, 0, &back), 0);
        EXPECT_EQ(back.redirect_mode, row.number) << row.mode;
        EXPECT_EQ(back.def_acl_up.type, row.acl) << row.acltype;
    }
}

TEST_F(ConfigApply, UnchangedVapIsNotWritten) {
    take(map_cs_handler_process_radio_config, radio_elem{}.encode());
    vap_elem v;
    take(map_cs_handler_process_vap_config, v.encode());
    error_slot err;
    ASSERT_EQ(apply_vaps(err), 0);
    ASSERT_TRUE(db_set("interface", "wlan0", "ssid", "marker"));
    take(map_cs_handler_process_vap_config, v.encode());
    ASSERT_EQ(cs->vaps[0].vap_config[0].vap_changed, 0u);
    ASSERT_EQ(apply_vaps(err), 0);
    EXPECT_EQ(db_get("interface", "wlan0", "ssid"), "marker");
}

TEST_F(ConfigApply, VapWriteFailureStopsTheApply) {
    take(map_cs_handler_process_radio_config, radio_elem{}.encode());
    const struct {
        unsigned nth;
        const char* log;
        const char* trace;
    } rows[] = {
        {1, "Error in applying the VAP configuration", "Failed to apply the VAP config - vap0"},
        {2, "Error in applying the VAP client QoS configuration",
         "Failed to apply the VAP client QoS config - vap0"},
        {3, "Error in applying the vap configuration",
         "Failed to apply the Vap Interface config - wlan0"},
        {4, "Error in applying the vap configuration",
         "Failed to apply the Vap BSS config - wlan0bssvap0"},
    };
    for (const auto& row : rows) {
        for (uint8_t id : {0, 1}) {
            vap_elem v;
            v.vap_id = id;
            take(map_cs_handler_process_vap_config, v.encode());
            cs->vaps[0].vap_config[id].vap_changed = 1;
        }
        ASSERT_EQ(lsqlquery_delete_pv("interface", "wlan0vap1", nullptr), 0);
        lsqlquery_fail_nth_write(row.nth);
        error_slot err;
        std::string out = captured(MAP_TRACE_CONFIG, [&] { EXPECT_EQ(apply_vaps(err), -1); });
        lsqlquery_fail_nth_write(0);
        EXPECT_EQ(err.str(), "database write failed");
        EXPECT_TRUE(contains(out, std::string(" - ") + row.log + "\n")) << out;
        EXPECT_TRUE(contains(out, std::string(row.trace) + "\n")) << out;
        EXPECT_EQ(cs->vaps[0].vap_config[0].vap_changed, 0u) << "the mark stays cleared";
        EXPECT_EQ(cs->vaps[0].vap_config[1].vap_changed, 1u) << "the next VAP is not reached";
        EXPECT_EQ(db_get("interface", "wlan0vap1", "ssid"), "<absent>");
    }
}

TEST_F(ConfigApply, ErrorSlotTextsAreCut) {
    char* slot = static_cast<char*>(malloc(8));
    strcpy(slot, "old");
    map_config_error_set(&slot, std::string(100, 'e').c_str());
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(std::string(slot), std::string(MAP_CONFIG_ERROR_LEN, 'e'));
    free(slot);
    map_config_error_set(nullptr, "ignored");

    // A value the database refuses: its own text comes back, cut to fit.
    pv* list = lsqlquery_new_pv_solo("ssid", std::string(2000, 's').c_str());
    char* err = nullptr;
    EXPECT_EQ(map_config_write_row("interface", "wlan0", list, nullptr, &err, "fallback"), -1);
    ASSERT_NE(err, nullptr);
    EXPECT_GT(strlen(err), 0u);
    EXPECT_LE(strlen(err), MAP_CONFIG_ERROR_LEN);
    EXPECT_STRNE(err, "fallback");
    free(err);
    lsqlquery_destroy_pv(list);
    err = nullptr;
    EXPECT_EQ(map_config_write_row("interface", "wlan0", nullptr, nullptr, &err, "fallback"), -1);
    EXPECT_STREQ(err, "fallback");
    free(err);
}

TEST_F(ConfigApply, ServiceSetApplyWritesNothing) {
    error_slot err;
    EXPECT_EQ(map_dman_lsql_apply_radio_service_set_configuration(&cs->radio[0], &err.text), 0);
    EXPECT_EQ(err.str(), "<none>");
    EXPECT_EQ(map_config_radio_apply(nullptr, &err.text), -1);
    EXPECT_EQ(map_config_vap_apply(nullptr, &err.text), -1);
}
