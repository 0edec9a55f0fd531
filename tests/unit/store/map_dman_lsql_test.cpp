// The accessors of the AP's own settings, radios and features, against a
// real database in a sandbox root.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store/map_dman_lsql.hpp"
#include "store_test_util.hpp"

using config_test::captured;
using config_test::db_column;
using config_test::db_get;
using config_test::db_set;
using config_test::make_radios;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

using ConfigAccessors = config_test::db_test;

TEST_F(ConfigAccessors, MapdStateAcceptsUpOrDownInAnyCase) {
    struct row {
        const char* state;
        int result;
        const char* stored;
        const char* message;
    };
    const row rows[] = {
        {"on", -1, "<absent>", "mapd state invalid value."},  // refused: nothing written
        {"up", 0, "up", nullptr},
        {"UP", 0, "UP", nullptr},
        {"Down", 0, "Down", nullptr},
        {"upx", -1, "Down", "mapd state invalid value."},
        {nullptr, -1, "Down", "Invalid mapd state."},
    };
    for (const auto& r : rows) {
        int rc = 0;
        std::string out = captured(0, [&] { rc = map_lsql_mapd_state_set(r.state); });
        EXPECT_EQ(rc, r.result) << (r.state ? r.state : "(null)");
        EXPECT_EQ(db_get("managed-ap", nullptr, "ap-state"), r.stored);
        if (r.message != nullptr) {
            EXPECT_TRUE(contains(out, r.message)) << out;
        }
    }
}

TEST_F(ConfigAccessors, ClusteringStatusTakesOnlyZeroOrOne) {
    EXPECT_EQ(map_lsql_clustering_status_set("1"), 0);
    EXPECT_EQ(db_get("cluster", nullptr, "clustered"), "1");
    std::string out = captured(0, [] { EXPECT_EQ(map_lsql_clustering_status_set("2"), -1); });
    EXPECT_TRUE(contains(out, "mapd state invalid value.")) << out;
    EXPECT_EQ(map_lsql_clustering_status_set(nullptr), -1);
    EXPECT_EQ(db_get("cluster", nullptr, "clustered"), "1");
}

TEST_F(ConfigAccessors, CountryCodeAndItsConfigurableFlag) {
    char code[4] = "XYZ";
    EXPECT_EQ(map_lsql_country_code_get(code), -1);
    EXPECT_STREQ(code, "XYZ") << "untouched when absent";

    std::string out =
        captured(MAP_TRACE_CONFIG, [] { EXPECT_EQ(map_lsql_country_code_set("USA"), 0); });
    EXPECT_TRUE(contains(out, "Success in setting country code - USA")) << out;
    ASSERT_TRUE(db_set("system", nullptr, "country", "GBRX"));
    EXPECT_EQ(map_lsql_country_code_get(code), 0);
    EXPECT_STREQ(code, "GBR");

    int flag = 7;
    EXPECT_EQ(map_lsql_country_code_is_configurable_get(&flag), 0);
    EXPECT_EQ(flag, 0) << "absent means not configurable";
    const struct {
        int set;
        const char* stored;
        int read;
    } rows[] = {{1, "on", 1}, {0, "off", 0}, {2, "off", 0}};
    for (const auto& r : rows) {
        EXPECT_EQ(map_lsql_country_code_is_configurable_set(r.set), 0);
        EXPECT_EQ(db_get("system", nullptr, "country-code-is-configurable"), r.stored);
        EXPECT_EQ(map_lsql_country_code_is_configurable_get(&flag), 0);
        EXPECT_EQ(flag, r.read) << r.set;
    }
}

TEST_F(ConfigAccessors, TextSettersWriteTheirProperty) {
    struct row {
        int (*set)(const char*);
        const char* cls;
        const char* property;
    };
    const row rows[] = {
        {map_lsql_serial_number_set, "system", "serial-number"},
        {map_lsql_band_plan_set, "system", "band-plan"},
        {map_lsql_last_boot_set, "system", "lastboot"},
        {map_lsql_hardware_version_set, "device-info", "version-id"},
        {map_lsql_product_id_set, "device-info", "product-id"},
        {map_lsql_ap_version_set, "system", "version"},
        {map_lsql_ap_alt_version_set, "system", "altversion"},
        {map_dman_lsql_set_admin_passwd, "system", "password"},
        {map_lsql_country_code_set, "system", "country"},
    };
    for (const auto& r : rows) {
        std::string value = std::string("v-") + r.property;
        EXPECT_EQ(r.set(value.c_str()), 0) << r.property;
        EXPECT_EQ(db_get(r.cls, nullptr, r.property), value);
        EXPECT_EQ(r.set(nullptr), -1) << r.property;
        EXPECT_EQ(db_get(r.cls, nullptr, r.property), value);
    }
}

TEST_F(ConfigAccessors, SetterFailuresAreTraced) {
    struct row {
        int (*set)(const char*);
        const char* message;
    };
    const row rows[] = {
        {map_lsql_serial_number_set, "Error setting serial number.\n\r"},
        {map_lsql_band_plan_set, "Error setting Band Plan .\n\r"},
        {map_lsql_ap_version_set, "Error setting version number."},
        {map_lsql_country_code_set, "Error setting country code."},
        {map_dman_lsql_set_admin_passwd, "Error in setting the admin password"},
    };
    for (const auto& r : rows) {
        lsqlquery_fail_nth_write(1);
        int rc = 0;
        std::string out = captured(0, [&] { rc = r.set("x"); });
        EXPECT_EQ(rc, -1) << r.message;
        EXPECT_TRUE(contains(out, r.message)) << out;
    }
}

TEST_F(ConfigAccessors, BoundedTextGetters) {
    char buf[16] = "untouched";
    EXPECT_EQ(map_lsql_serial_number_get(buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "untouched");
    ASSERT_TRUE(db_set("system", nullptr, "serial-number", "SN123456789"));
    ASSERT_TRUE(db_set("system", nullptr, "platform", "QX_WAP_2"));
    ASSERT_TRUE(db_set("system", nullptr, "version", "4.1.0.12"));

    char small[5];
    memset(small, 'z', sizeof small);
    EXPECT_EQ(map_lsql_serial_number_get(small, sizeof small), 0);
    EXPECT_EQ(std::string(small, 5), std::string("SN12\0", 5));
    EXPECT_EQ(map_lsql_serial_number_get(small, 0), -1);
    EXPECT_EQ(map_lsql_part_number_get(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "QX_WAP_2");
    EXPECT_EQ(map_lsql_get_firmware_version(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "4.1.0.12");
}

TEST_F(ConfigAccessors, LastBootIsSuccessOnlyWhenTheTextSaysSo) {
    EXPECT_EQ(map_lsql_last_boot_get(), -1);
    const struct {
        const char* stored;
        int result;
    } rows[] = {{"success", 0}, {"successful", 0}, {"failed", -1}, {"", -1}, {"Success", -1}};
    for (const auto& r : rows) {
        ASSERT_TRUE(db_set("system", nullptr, "lastboot", r.stored));
        EXPECT_EQ(map_lsql_last_boot_get(), r.result) << r.stored;
    }
}

TEST_F(ConfigAccessors, BaseMacRoundTripAndBadValues) {
    uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    const uint8_t before[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(map_lsql_base_ap_mac_get(mac), -1);
    map_dman_lsql_get_ap_macaddr(mac);
    EXPECT_EQ(memcmp(mac, before, 6), 0);

    const uint8_t base[6] = {0x00, 0x1b, 0x2c, 0xaa, 0xbb, 0xfe};
    map_lsql_base_ap_mac_set(base);
    EXPECT_EQ(db_get("system", nullptr, "base-mac"), "00:1b:2c:aa:bb:fe");
    EXPECT_EQ(db_get("system", nullptr, "base-mac-status"), "on");
    EXPECT_EQ(map_lsql_base_ap_mac_get(mac), 0);
    EXPECT_EQ(memcmp(mac, base, 6), 0);

    ASSERT_TRUE(db_set("system", nullptr, "base-mac", "not a mac"));
    uint8_t other[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(map_lsql_base_ap_mac_get(other), -1);
    map_dman_lsql_get_ap_macaddr(other);
    EXPECT_EQ(other[0], 9);

    lsqlquery_fail_nth_write(1);
    std::string out = captured(0, [&] { map_lsql_base_ap_mac_set(before); });
    EXPECT_TRUE(contains(out, "Error setting base MAC Address.")) << out;
    EXPECT_EQ(db_get("system", nullptr, "base-mac"), "not a mac");
}

TEST_F(ConfigAccessors, ManagementAddressesAreHostOrder) {
    EXPECT_EQ(map_dman_lsql_get_ap_ipaddr(), 0u);
    const struct {
        const char* ip;
        const char* mask;
        uint32_t ip_value;
        uint32_t mask_value;
    } rows[] = {
        {"192.168.1.10", "255.255.255.0", 0xC0A8010Au, 0xFFFFFF00u},
        {"", "", 0, 0},
        {"bogus", "255.255", 0, 0},
    };
    for (const auto& r : rows) {
        ASSERT_TRUE(db_set("management", nullptr, "ip", r.ip));
        ASSERT_TRUE(db_set("management", nullptr, "mask", r.mask));
        EXPECT_EQ(map_dman_lsql_get_ap_ipaddr(), r.ip_value) << r.ip;
        EXPECT_EQ(map_dman_lsql_get_ap_ipmask(), r.mask_value) << r.mask;
    }
}

TEST_F(ConfigAccessors, ConfigSave) {
    // The library takes "startup" = "running" as the request to save; it is
    // not kept as a property.
    EXPECT_EQ(map_lsql_ap_config_save(), 0);
    lsqlquery_fail_nth_write(1);
    std::string out = captured(0, [] { EXPECT_EQ(map_lsql_ap_config_save(), -1); });
    size_t at = out.find("Error saving configuration. ");
    ASSERT_NE(at, std::string::npos) << out;
    std::string reason = out.substr(at + 28, out.find('\n', at) - at - 28);
    EXPECT_FALSE(reason.empty()) << "the library's text follows: " << out;
}

// ---- managed-ap ports --------------------------------------------------------------

TEST_F(ConfigAccessors, AllPortsAreWrittenInOneTransaction) {
    ASSERT_EQ(map_dman_int_set_ip_all_ports(57775, 57778, 57776, 57777, 5246, 5247), 0);
    map_managed_ap_params p{};
    ASSERT_EQ(map_dman_lsql_get_managed_ap_params(&p), 0);
    EXPECT_EQ(p.ip_base_port, 57775);
    EXPECT_EQ(p.ip_tnl_udp_port, 57778);
    EXPECT_EQ(p.ip_udp_port, 57776);
    EXPECT_EQ(p.ip_ssl_port, 57777);
    EXPECT_EQ(p.ip_capwap_src_port, 5246);
    EXPECT_EQ(p.ip_capwap_dst_port, 5247);
    EXPECT_EQ(db_get("managed-ap", nullptr, "ip-udp-port"), "57776");
}

TEST_F(ConfigAccessors, AFailedPortTransactionWritesNothing) {
    ASSERT_EQ(map_dman_int_set_ip_all_ports(1000, 1001, 1002, 1003, 1004, 1005), 0);
    lsqlquery_fail_nth_write(1);
    EXPECT_EQ(map_dman_int_set_ip_all_ports(2000, 2001, 2002, 2003, 2004, 2005), -1);
    const char* props[] = {"ip-base-port", "ip-tnl-udp-port",    "ip-udp-port",
                           "ip-ssl-port",  "ip-capwap-src-port", "ip-capwap-dst-port"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(db_get("managed-ap", nullptr, props[i]), std::to_string(1000 + i)) << props[i];
    }
}

TEST_F(ConfigAccessors, DhcpBasePort) {
    EXPECT_EQ(map_dman_int_set_dhcp_ip_base_port(60000), 0);
    EXPECT_EQ(db_get("managed-ap", nullptr, "dhcp-ip-base-port"), "60000");
    lsqlquery_fail_nth_write(1);
    EXPECT_NE(map_dman_int_set_dhcp_ip_base_port(1), 0);
    EXPECT_EQ(db_get("managed-ap", nullptr, "dhcp-ip-base-port"), "60000");
}

// ---- radios ---------------------------------------------------------------------------

TEST_F(ConfigAccessors, RadioInstancesAreCountedAndMatchedExactly) {
    EXPECT_EQ(map_dman_lsql_get_num_radios(), 0);
    EXPECT_EQ(map_dman_lsql_is_radio_instance_exist("wlan0"), -1);
    make_radios(2);
    EXPECT_EQ(map_dman_lsql_get_num_radios(), 2);
    const struct {
        const char* name;
        int result;
    } rows[] = {{"wlan0", 0},   {"wlan1", 0},  {"wlan", -1},
                {"wlan01", -1}, {"wlan2", -1}, {nullptr, -1}};
    for (const auto& r : rows) {
        EXPECT_EQ(map_dman_lsql_is_radio_instance_exist(r.name), r.result)
            << (r.name ? r.name : "(null)");
    }
}

TEST_F(ConfigAccessors, RadioReadBacks) {
    make_radios(2);
    ASSERT_TRUE(db_set("radio", "wlan0", "status", "up"));
    ASSERT_TRUE(db_set("radio", "wlan0", "sentry-mode", "on"));
    ASSERT_TRUE(db_set("radio", "wlan1", "sentry-mode", "off"));
    EXPECT_EQ(map_dman_lsql_get_radio_status("wlan0"), 0);
    EXPECT_EQ(map_dman_lsql_get_radio_status("wlan1"), -1);
    EXPECT_EQ(map_dman_lsql_get_radio_status("wlan7"), -1);
    EXPECT_EQ(map_dman_lsql_get_sentry_mode(1), 1);
    EXPECT_EQ(map_dman_lsql_get_sentry_mode(2), 2);
    EXPECT_EQ(map_dman_lsql_get_sentry_mode(3), 2);
    EXPECT_EQ(map_dman_lsql_get_sentry_mode(0), 2);

    EXPECT_EQ(map_dman_lsql_get_global_cltqos_mode(), 0);
    ASSERT_TRUE(db_set("client-qos", nullptr, "mode", "up"));
    EXPECT_EQ(map_dman_lsql_get_global_cltqos_mode(), 1);
    ASSERT_TRUE(db_set("client-qos", nullptr, "mode", "upx"));
    EXPECT_EQ(map_dman_lsql_get_global_cltqos_mode(), 0) << "exactly \"up\"";
}

TEST_F(ConfigAccessors, VapClientQosModeIsReadUnderItsRadio) {
    pv* radio0 = lsqlquery_new_pv_solo("radio", "wlan0");
    pv* radio1 = lsqlquery_new_pv_solo("radio", "wlan1");
    pv* up = lsqlquery_new_pv_solo("qos-mode", "up");
    pv* down = lsqlquery_new_pv_solo("qos-mode", "down");
    ASSERT_EQ(lsqlquery_set_pv("vap", "vap2", up, radio0), 0);
    ASSERT_EQ(lsqlquery_set_pv("vap", "vap2", down, radio1), 0);
    lsqlquery_destroy_pv(radio0);
    lsqlquery_destroy_pv(radio1);
    lsqlquery_destroy_pv(up);
    lsqlquery_destroy_pv(down);
    EXPECT_EQ(map_dman_lsql_get_vap_client_qos_mode(2, 0), 1);
    EXPECT_EQ(map_dman_lsql_get_vap_client_qos_mode(2, 1), 0);
    EXPECT_EQ(map_dman_lsql_get_vap_client_qos_mode(3, 0), 0);
}

TEST_F(ConfigAccessors, PowerAndChannel) {
    make_radios(2);
    std::string out = captured(MAP_TRACE_CONFIG, [] {
        EXPECT_EQ(map_lsql_pwr_lvl_set("wlan1", 200), 0);
        EXPECT_EQ(map_lsql_new_channel_set("wlan0", 149), 0);
    });
    EXPECT_EQ(db_get("radio", "wlan1", "tx-power"), "200");
    EXPECT_EQ(db_get("radio", "wlan0", "channel-policy"), "static");
    EXPECT_EQ(db_get("radio", "wlan0", "static-channel"), "149");
    EXPECT_TRUE(contains(out, "Success in applying power level = 200.")) << out;
    EXPECT_TRUE(contains(out, "Success in setting new channel 149")) << out;

    // The policy write fails: the channel is not tried.
    lsqlquery_fail_nth_write(1);
    out = captured(0, [] { EXPECT_EQ(map_lsql_new_channel_set("wlan0", 36), -1); });
    EXPECT_TRUE(contains(out, "Error in changing channel policy to static")) << out;
    EXPECT_EQ(db_get("radio", "wlan0", "static-channel"), "149");
    // The channel write fails after the policy went through.
    lsqlquery_fail_nth_write(2);
    out = captured(0, [] { EXPECT_EQ(map_lsql_new_channel_set("wlan0", 36), -1); });
    EXPECT_TRUE(contains(out, "Error in setting new channel = 36")) << out;
    lsqlquery_fail_nth_write(1);
    out = captured(0, [] { EXPECT_EQ(map_lsql_pwr_lvl_set("wlan0", 5), -1); });
    EXPECT_TRUE(contains(out, "Error in applying power level = 5.")) << out;
}

TEST_F(ConfigAccessors, ApDetectionModeCoversEveryRadio) {
    make_radios(2);
    std::string out =
        captured(MAP_TRACE_CONFIG, [] { EXPECT_EQ(map_dman_lsql_ap_detection_mode_set("on"), 0); });
    EXPECT_TRUE(contains(out, "Setting the AP detection mode - on")) << out;
    EXPECT_EQ(db_get("radio", "wlan0", "ap-detection"), "on");
    EXPECT_EQ(db_get("radio", "wlan1", "ap-detection"), "on");
    lsqlquery_fail_nth_write(1);
    out = captured(0, [] { EXPECT_EQ(map_dman_lsql_ap_detection_mode_set("off"), -1); });
    EXPECT_TRUE(contains(out, "Error in setting the AP detection mode - ")) << out;
    EXPECT_EQ(db_get("radio", "wlan1", "ap-detection"), "on");
}

namespace {

void name_radio(map_radio_config& r, const char* name, uint8_t admin) {
    snprintf(r.radio_name, sizeof r.radio_name, "%s", name);
    r.admin_mode = admin;
}

}  // namespace

TEST_F(ConfigAccessors, RadioStatusWalksBothRecords) {
    make_radios(2);
    map_radio_config radios[MAP_MAX_RADIOS] = {};
    name_radio(radios[1], "wlan1", 1);  // the first record has no name
    char* error = nullptr;
    std::string out = captured(
        MAP_TRACE_CONFIG, [&] { EXPECT_EQ(map_dman_lsql_radio_status_set(radios, 1, &error), 0); });
    EXPECT_EQ(error, nullptr);
    EXPECT_TRUE(contains(out, "Radio - Index 0 doesn't exist. Skipping...")) << out;
    EXPECT_TRUE(contains(out, "success in Setting the radio status - wlan1")) << out;
    EXPECT_EQ(db_get("radio", "wlan0", "status"), "down");
    EXPECT_EQ(db_get("radio", "wlan1", "status"), "up");

    name_radio(radios[0], "wlan0", 1);
    name_radio(radios[1], "wlan1", 0);
    out = captured(MAP_TRACE_CONFIG,
                   [&] { EXPECT_EQ(map_dman_lsql_radio_status_set(radios, 1, &error), 0); });
    EXPECT_TRUE(contains(out, "success in Reseting the radio status- wlan1")) << out;
    EXPECT_EQ(db_get("radio", "wlan0", "status"), "up");
    EXPECT_EQ(db_get("radio", "wlan1", "status"), "down");

    // up == 0 takes every radio down at once, whatever the records say.
    out = captured(MAP_TRACE_CONFIG,
                   [&] { EXPECT_EQ(map_dman_lsql_radio_status_set(nullptr, 0, &error), 0); });
    EXPECT_TRUE(contains(out, "Successful in Reseting the radio status")) << out;
    EXPECT_EQ(db_column("radio", nullptr, "status"), (std::vector<std::string>{"down", "down"}));
}

TEST_F(ConfigAccessors, RadioStatusStopsAtTheFirstFailure) {
    make_radios(2);
    map_radio_config radios[MAP_MAX_RADIOS] = {};
    name_radio(radios[0], "wlan0", 1);
    name_radio(radios[1], "wlan1", 1);
    char* error = nullptr;
    lsqlquery_fail_nth_write(1);
    std::string out =
        captured(0, [&] { EXPECT_EQ(map_dman_lsql_radio_status_set(radios, 1, &error), -1); });
    free(error);  // whatever text the library handed up is the caller's
    EXPECT_TRUE(contains(out, "Failed in setting the radio status- wlan0")) << out;
    EXPECT_EQ(db_get("radio", "wlan1", "status"), "down") << "the second radio is not tried";
}

TEST_F(ConfigAccessors, RrmModeWalksBothRecords) {
    make_radios(2);
    map_radio_config radios[MAP_MAX_RADIOS] = {};
    name_radio(radios[1], "wlan1", 0);
    char* error = nullptr;
    std::string out = captured(
        MAP_TRACE_CONFIG, [&] { EXPECT_EQ(map_lsql_radio_rrm_mode_set(radios, 1, &error), 0); });
    EXPECT_TRUE(contains(out, "Radio - Index 0 doesn't exist. Skipping...")) << out;
    EXPECT_TRUE(contains(out, "success in Setting the radio rrm mode - wlan1")) << out;
    EXPECT_EQ(db_get("radio", "wlan0", "rrm-mode"), "<absent>");
    EXPECT_EQ(db_get("radio", "wlan1", "rrm-mode"), "on");

    name_radio(radios[0], "wlan0", 1);
    out = captured(MAP_TRACE_CONFIG,
                   [&] { EXPECT_EQ(map_lsql_radio_rrm_mode_set(radios, 0, &error), 0); });
    EXPECT_TRUE(contains(out, "success in Reseting the radio rrm mode - wlan0")) << out;
    EXPECT_EQ(db_column("radio", nullptr, "rrm-mode"), (std::vector<std::string>{"off", "off"}));

    lsqlquery_fail_nth_write(2);
    out = captured(0, [&] { EXPECT_EQ(map_lsql_radio_rrm_mode_set(radios, 0, &error), -1); });
    free(error);
    EXPECT_TRUE(contains(out, "Failed in Resetting the radio rrm mode - wlan1")) << out;
}

// ---- features --------------------------------------------------------------------------

TEST_F(ConfigAccessors, DebugLoginNtpAndWds) {
    EXPECT_EQ(map_dman_lsql_debug_login_status(1), 0);
    EXPECT_EQ(db_get("telnet", nullptr, "status"), "up");
    EXPECT_EQ(db_get("ssh", nullptr, "status"), "up");
    EXPECT_EQ(map_dman_lsql_debug_login_status(0), 0);
    EXPECT_EQ(db_get("ssh", nullptr, "status"), "down");

    EXPECT_EQ(map_dman_lsql_disable_ntp_feature(), 0);
    EXPECT_EQ(db_get("ntp", nullptr, "status"), "down");

    ASSERT_TRUE(db_set("wds", nullptr, "remote-mac", "00:11:22:33:44:55"));
    EXPECT_EQ(map_dman_lsql_wds_feature("down"), 0);
    for (int i = 0; i < 4; ++i) {
        std::string inst = "wlan0wds" + std::to_string(i);
        EXPECT_EQ(db_get("interface", inst.c_str(), "status"), "down") << inst;
    }
    EXPECT_EQ(db_get("wds", nullptr, "remote-mac"), "");

    // The third link fails: the fourth and the remote MAC are not touched.
    ASSERT_TRUE(db_set("wds", nullptr, "remote-mac", "00:11:22:33:44:55"));
    lsqlquery_fail_nth_write(3);
    std::string out = captured(0, [] { EXPECT_EQ(map_dman_lsql_wds_feature("up"), -1); });
    EXPECT_TRUE(contains(out, "Error in setting the wds interface down - wlan0wds2")) << out;
    EXPECT_EQ(db_get("interface", "wlan0wds1", "status"), "up");
    EXPECT_EQ(db_get("interface", "wlan0wds3", "status"), "down");
    EXPECT_EQ(db_get("wds", nullptr, "remote-mac"), "00:11:22:33:44:55");
}

TEST_F(ConfigAccessors, StpIsTurnedOffOnlyWhenOn) {
    EXPECT_EQ(map_dman_lsql_disable_stp_feature(), -1) << "unreadable";
    ASSERT_TRUE(db_set("interface", "brtrunk", "stp", "on"));
    EXPECT_EQ(map_dman_lsql_disable_stp_feature(), 0);
    EXPECT_EQ(db_get("interface", "brtrunk", "stp"), "off");
    // Already off: nothing is written, so a failing write cannot matter.
    lsqlquery_fail_nth_write(1);
    EXPECT_EQ(map_dman_lsql_disable_stp_feature(), 0);
    lsqlquery_fail_nth_write(0);
    ASSERT_TRUE(db_set("interface", "brtrunk", "stp", "on"));
    lsqlquery_fail_nth_write(1);
    std::string out = captured(0, [] { EXPECT_EQ(map_dman_lsql_disable_stp_feature(), -1); });
    EXPECT_TRUE(contains(out, "Error in setting  STP feature down")) << out;
}
