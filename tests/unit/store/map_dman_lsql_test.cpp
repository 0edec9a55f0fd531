// The accessors of the AP's own settings, radios and features, against a
// real database in a sandbox root.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store_test_util.hpp"

using namespace config_test;
using strings = std::vector<std::string>;
using ConfigAccessors = db_test;

constexpr uint8_t kBaseMac[6] = {0x00, 0x1b, 0x2c, 0xaa, 0xbb, 0xfe};

// Each setter writes its property; the write made to fail (the nth of the
// call) gives the prescribed message and result (the MAC setter has none).
TEST_F(ConfigAccessors, SettersWriteTheirPropertyOrReportTheFailure) {
    make_radios(2);
    ASSERT_TRUE(db_set("wds", nullptr, "remote-mac", "00:11:22:33:44:55"));
    // clang-format off
    const struct {
        int (*set)(); const char* cls; const char* instance; const char* property;
        const char* stored; unsigned nth; int failed; const char* message;
    } rows[] = {
        {[] { return map_lsql_serial_number_set("SN1"); }, "system", nullptr, "serial-number", "SN1", 1, -1, "Error setting serial number.\n\r"},
        {[] { return map_lsql_band_plan_set("ETSI"); }, "system", nullptr, "band-plan", "ETSI", 1, -1, "Error setting Band Plan .\n\r"},
        {[] { return map_lsql_last_boot_set("success"); }, "system", nullptr, "lastboot", "success", 1, -1, "Error setting Last boot parameter.\n\r"},
        {[] { return map_lsql_hardware_version_set("2"); }, "device-info", nullptr, "version-id", "2", 1, -1, "Error setting hardware version .\n\r"},
        {[] { return map_lsql_product_id_set("P1"); }, "device-info", nullptr, "product-id", "P1", 1, -1, "Error setting product id .\n\r"},
        {[] { return map_lsql_ap_version_set("4.1"); }, "system", nullptr, "version", "4.1", 1, -1, "Error setting version number."},
        {[] { return map_lsql_ap_alt_version_set("4.0"); }, "system", nullptr, "altversion", "4.0", 1, -1, "Error setting version number."},
        {[] { return map_dman_lsql_set_admin_passwd("pw"); }, "system", nullptr, "password", "pw", 1, -1, "Error in setting the admin password"},
        {[] { return map_lsql_country_code_set("GB"); }, "system", nullptr, "country", "GB", 1, -1, "Error setting country code."},
        {[] { return map_lsql_country_code_is_configurable_set(1); }, "system", nullptr, "country-code-is-configurable", "on", 1, -1, "Error setting country-code-is-configurable."},
        {[] { return map_lsql_country_code_is_configurable_set(2); }, "system", nullptr, "country-code-is-configurable", "off", 0, 0, nullptr},
        {[] { return map_lsql_mapd_state_set("UP"); }, "managed-ap", nullptr, "ap-state", "UP", 1, -1, "Error setting ap-state property."},
        {[] { return map_lsql_clustering_status_set("1"); }, "cluster", nullptr, "clustered", "1", 1, -1, "Error setting Cluster property."},
        {[] { return map_lsql_pwr_lvl_set("wlan1", 200); }, "radio", "wlan1", "tx-power", "200", 1, -1, "Error in applying power level = 200."},
        {[] { return map_lsql_new_channel_set("wlan0", 149); }, "radio", "wlan0", "channel-policy", "static", 1, -1, "Error in changing channel policy to static"},
        {[] { return map_lsql_new_channel_set("wlan0", 149); }, "radio", "wlan0", "static-channel", "149", 2, -1, "Error in setting new channel = 149"},
        {[] { return map_dman_lsql_ap_detection_mode_set("on"); }, "radio", "wlan1", "ap-detection", "on", 1, -1, "Error in setting the AP detection mode - "},
        {[] { return map_dman_lsql_debug_login_status(1); }, "telnet", nullptr, "status", "up", 1, -1, "Error in setting the telnet session"},
        {[] { return map_dman_lsql_debug_login_status(0); }, "ssh", nullptr, "status", "down", 2, -1, "Error in setting the SSH session"},
        {[] { return map_dman_lsql_disable_ntp_feature(); }, "ntp", nullptr, "status", "down", 1, -1, "Error in setting  NTP feature down"},
        {[] { return map_dman_int_set_dhcp_ip_base_port(60000); }, "managed-ap", nullptr, "dhcp-ip-base-port", "60000", 1, -1, nullptr},
        {[] { return map_dman_lsql_wds_feature("down"); }, "interface", "wlan0wds3", "status", "down", 3, -1, "Error in setting the wds interface down - wlan0wds2"},
        {[] { return map_dman_lsql_wds_feature("down"); }, "wds", nullptr, "remote-mac", "", 5, -1, "Error is reseting remote mac addr"},
        {[] { map_lsql_base_ap_mac_set(kBaseMac); return 0; }, "system", nullptr, "base-mac", "00:1b:2c:aa:bb:fe", 1, 0, "Error setting base MAC Address."},
        {[] { map_lsql_base_ap_mac_set(kBaseMac); return 0; }, "system", nullptr, "base-mac-status", "on", 2, 0, "Error setting base MAC Status."},
        // Saving is a request to the library, not a property that stays.
        {map_lsql_ap_config_save, "config", nullptr, "startup", "<absent>", 1, -1, "Error saving configuration. "},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.set(), 0) << r.property;
        EXPECT_EQ(db_get(r.cls, r.instance, r.property), r.stored);
        if (r.nth != 0) {
            lsqlquery_fail_nth_write(r.nth);
            std::string out = captured(0, [&] { EXPECT_EQ(r.set(), r.failed) << r.message; });
            EXPECT_TRUE(r.message == nullptr || contains(out, r.message)) << out;
        }
    }
    EXPECT_EQ(db_get("radio", "wlan0", "ap-detection"), "on") << "every radio";
    for (auto* set : {map_lsql_serial_number_set, map_lsql_country_code_set}) {
        EXPECT_EQ(set(nullptr), -1);
    }
}

TEST_F(ConfigAccessors, StatesTakeOnlyTheirValues) {
    auto* const mapd = map_lsql_mapd_state_set;
    auto* const cluster = map_lsql_clustering_status_set;
    const struct { int (*set)(const char*); const char* value; const char* message; } rows[] = {
        {mapd, "on", "mapd state invalid value."}, {mapd, "upx", "mapd state invalid value."},
        {mapd, nullptr, "Invalid mapd state."}, {cluster, "2", "mapd state invalid value."},
        {cluster, nullptr, "Invalid mapd state."}};
    for (const auto& r : rows) {
        EXPECT_TRUE(contains(captured(0, [&] { EXPECT_EQ(r.set(r.value), -1); }), r.message));
    }
    EXPECT_EQ(db_get("managed-ap", nullptr, "ap-state") + db_get("cluster", nullptr, "clustered"),
              "<absent><absent>");
    EXPECT_EQ(map_lsql_mapd_state_set("Down"), 0);
}

// Rows of one property read back; an absent value comes first.
TEST_F(ConfigAccessors, ReadersOfOneProperty) {
    make_radios(2);
    auto* const configurable = +[] {  // the flag, with the result (always 0) in the tens
        int f = 7;
        return map_lsql_country_code_is_configurable_get(&f) * 10 + f;
    };
    const struct {
        int (*get)(); const char* cls; const char* instance; const char* property;
        const char* stored; int result;  // stored null: absent
    } rows[] = {
        {[] { return map_dman_lsql_get_radio_status("wlan0"); }, "radio", "wlan0", "status", "upper", 0},
        {[] { return map_dman_lsql_get_radio_status("wlan0"); }, "radio", "wlan0", "status", "Up", -1},
        {[] { return map_dman_lsql_get_sentry_mode(1); }, "radio", "wlan0", "sentry-mode", "on", 1},
        {[] { return map_dman_lsql_get_sentry_mode(2); }, "radio", "wlan1", "sentry-mode", "off", 2},
        {[] { return map_dman_lsql_get_sentry_mode(3); }, "radio", "wlan0", "sentry-mode", "on", 2},
        {map_dman_lsql_get_global_cltqos_mode, "client-qos", nullptr, "mode", nullptr, 0},
        {map_dman_lsql_get_global_cltqos_mode, "client-qos", nullptr, "mode", "upx", 0},
        {map_dman_lsql_get_global_cltqos_mode, "client-qos", nullptr, "mode", "up", 1},
        {map_lsql_last_boot_get, "system", nullptr, "lastboot", nullptr, -1},
        {map_lsql_last_boot_get, "system", nullptr, "lastboot", "successful", 0},
        {map_lsql_last_boot_get, "system", nullptr, "lastboot", "failed", -1},
        {map_lsql_last_boot_get, "system", nullptr, "lastboot", "Success", -1},
        {configurable, "system", nullptr, "country-code-is-configurable", nullptr, 0},
        {configurable, "system", nullptr, "country-code-is-configurable", "on", 1},
        {configurable, "system", nullptr, "country-code-is-configurable", "On", 0},
        {[] { return static_cast<int>(map_dman_lsql_get_ap_ipaddr()); }, "management", nullptr, "ip", nullptr, 0},
        {[] { return static_cast<int>(map_dman_lsql_get_ap_ipaddr()); }, "management", nullptr, "ip", "10.1.2.3", 0x0A010203},
        {[] { return static_cast<int>(map_dman_lsql_get_ap_ipaddr()); }, "management", nullptr, "ip", "", 0},
        {[] { return static_cast<int>(map_dman_lsql_get_ap_ipmask()); }, "management", nullptr, "mask", "255.255.255.0", -256},
        {[] { return static_cast<int>(map_dman_lsql_get_ap_ipmask()); }, "management", nullptr, "mask", "255.255", 0},
    };
    for (const auto& r : rows) {
        ASSERT_TRUE(r.stored == nullptr || db_set(r.cls, r.instance, r.property, r.stored));
        EXPECT_EQ(r.get(), r.result) << r.property << " = " << (r.stored ? r.stored : "(absent)");
    }
}

TEST_F(ConfigAccessors, TextAndMacGettersAreBounded) {
    char small[5] = "zzzz";
    uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(map_lsql_serial_number_get(small, sizeof small) + map_lsql_base_ap_mac_get(mac), -2);
    const struct { int (*get)(char*, size_t); const char* property; } rows[] = {
        {map_lsql_serial_number_get, "serial-number"}, {map_lsql_part_number_get, "platform"},
        {map_lsql_get_firmware_version, "version"},
        {[](char* out, size_t) { return map_lsql_country_code_get(out); }, "country"}};
    // clang-format on
    for (const auto& r : rows) {
        ASSERT_TRUE(db_set("system", nullptr, r.property, "ABCD5678"));
        memset(small, 'z', sizeof small);
        EXPECT_EQ(r.get(small, 4), 0) << r.property;  // at most 3 characters and the NUL
        EXPECT_EQ(std::string(small, 5), std::string("ABC\0z", 5)) << r.property;
    }
    EXPECT_EQ(map_lsql_serial_number_get(small, 0), -1);

    ASSERT_TRUE(db_set("system", nullptr, "base-mac", "not a mac"));
    EXPECT_EQ(map_lsql_base_ap_mac_get(mac), -1);
    map_dman_lsql_get_ap_macaddr(mac);
    EXPECT_EQ(mac[5], 6) << "untouched by a bad value";
    ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1B:2c:0:bb:fe"));
    map_dman_lsql_get_ap_macaddr(mac);
    EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6),
              (std::vector<uint8_t>{0x00, 0x1b, 0x2c, 0x00, 0xbb, 0xfe}));
}

TEST_F(ConfigAccessors, PortsGoInOneTransactionAndComeBackThroughTheRecord) {
    const auto stored = [] {
        std::string out;
        for (const char* p : {"ip-base-port", "ip-tnl-udp-port", "ip-udp-port", "ip-ssl-port",
                              "ip-capwap-src-port", "ip-capwap-dst-port"}) {
            out += db_get("managed-ap", nullptr, p) + " ";
        }
        return out;
    };
    ASSERT_EQ(map_dman_int_set_ip_all_ports(57775, 57778, 57776, 57777, 5246, 5247), 0);
    EXPECT_EQ(stored(), "57775 57778 57776 57777 5246 5247 ");
    map_managed_ap_params p{};
    ASSERT_EQ(map_dman_lsql_get_managed_ap_params(&p), 0);
    EXPECT_EQ((std::vector<uint16_t>{p.ip_base_port, p.ip_tnl_udp_port, p.ip_udp_port,
                                     p.ip_ssl_port, p.ip_capwap_src_port, p.ip_capwap_dst_port}),
              (std::vector<uint16_t>{57775, 57778, 57776, 57777, 5246, 5247}));
    lsqlquery_fail_nth_write(1);  // a failed transaction writes none of the six
    EXPECT_EQ(map_dman_int_set_ip_all_ports(2000, 2001, 2002, 2003, 2004, 2005), -1);
    EXPECT_EQ(stored(), "57775 57778 57776 57777 5246 5247 ");
}

TEST_F(ConfigAccessors, RadioInstancesAndVapQosMode) {
    EXPECT_EQ(map_dman_lsql_get_num_radios(), 0);
    make_radios(2);
    EXPECT_EQ(map_dman_lsql_get_num_radios(), 2);
    for (const char* name : {"wlan", "wlan01", "wlan2", (const char*)nullptr}) {
        EXPECT_EQ(map_dman_lsql_is_radio_instance_exist(name), -1) << (name ? name : "(null)");
    }
    EXPECT_EQ(map_dman_lsql_is_radio_instance_exist("wlan1"), 0);
    // The VAP client QoS mode is read under its radio.
    for (const char* radio : {"wlan0", "wlan1"}) {
        pv qualifier{const_cast<char*>("radio"), const_cast<char*>(radio), nullptr, nullptr};
        pv mode{const_cast<char*>("qos-mode"), const_cast<char*>(radio[4] == '0' ? "up" : "down"),
                nullptr, nullptr};
        ASSERT_EQ(lsqlquery_set_pv("vap", "vap2", &mode, &qualifier), 0);
    }
    EXPECT_EQ(map_dman_lsql_get_vap_client_qos_mode(2, 0), 1);
    EXPECT_EQ(map_dman_lsql_get_vap_client_qos_mode(2, 1), 0);
    EXPECT_EQ(map_dman_lsql_get_vap_client_qos_mode(3, 0), 0);
}

// Both walks over the two radio records: a record without a name is skipped,
// the first failure ends the walk with its message.
TEST_F(ConfigAccessors, RadioStatusAndRrmModeWalkBothRecords) {
    make_radios(2);
    auto* const status = map_dman_lsql_radio_status_set;
    auto* const rrm = map_lsql_radio_rrm_mode_set;
    // clang-format off
    const struct {
        int (*walk)(const map_radio_config*, int, char**);
        const char* name0; uint8_t admin0; uint8_t admin1; int arg; unsigned nth;
        const char* property; strings after; const char* trace;
    } rows[] = {
        {status, "", 1, 1, 1, 0, "status", {"down", "up"}, "success in Setting the radio status - wlan1"},
        {status, "wlan0", 1, 0, 1, 0, "status", {"up", "down"}, "success in Reseting the radio status- wlan1"},
        {status, "wlan0", 1, 1, 0, 0, "status", {"down", "down"}, "Successful in Reseting the radio status"},
        {status, "wlan0", 1, 1, 1, 1, "status", {"down", "down"}, "Failed in setting the radio status- wlan0"},
        {status, "wlan0", 0, 0, 1, 1, "status", {"down", "down"}, "Failed in Reseting the radio status- wlan0"},
        {rrm, "", 0, 0, 1, 0, "rrm-mode", {"on"}, "success in Setting the radio rrm mode - wlan1"},
        {rrm, "wlan0", 0, 0, 0, 0, "rrm-mode", {"off", "off"}, "success in Reseting the radio rrm mode - wlan0"},
        {rrm, "wlan0", 0, 0, 1, 2, "rrm-mode", {"on", "off"}, "Failed in setting the radio rrm mode - wlan1"},
        {rrm, "wlan0", 0, 0, 0, 1, "rrm-mode", {"on", "off"}, "Failed in Resetting the radio rrm mode - wlan0"},
    };
    // clang-format on
    for (const auto& r : rows) {
        map_radio_config radios[MAP_MAX_RADIOS] = {};
        snprintf(radios[0].radio_name, sizeof radios[0].radio_name, "%s", r.name0);
        snprintf(radios[1].radio_name, sizeof radios[1].radio_name, "wlan1");
        radios[0].admin_mode = r.admin0;
        radios[1].admin_mode = r.admin1;
        lsqlquery_fail_nth_write(r.nth);
        char* error = nullptr;
        std::string out = captured(
            MAP_TRACE_CONFIG, [&] { EXPECT_EQ(r.walk(radios, r.arg, &error), r.nth ? -1 : 0); });
        free(error);
        EXPECT_TRUE(contains(out, r.trace)) << out;
        EXPECT_EQ(contains(out, "Radio - Index 0 doesn't exist. Skipping..."), !*r.name0) << out;
        EXPECT_EQ(db_column("radio", nullptr, r.property), r.after) << r.trace;
    }
}

TEST_F(ConfigAccessors, StpIsTurnedOffOnlyWhenOn) {
    EXPECT_EQ(map_dman_lsql_disable_stp_feature(), -1) << "unreadable";
    ASSERT_TRUE(db_set("interface", "brtrunk", "stp", "on"));
    lsqlquery_fail_nth_write(1);
    std::string out = captured(0, [] { EXPECT_EQ(map_dman_lsql_disable_stp_feature(), -1); });
    EXPECT_TRUE(contains(out, "Error in setting  STP feature down")) << out;
    EXPECT_EQ(map_dman_lsql_disable_stp_feature(), 0);
    EXPECT_EQ(db_get("interface", "brtrunk", "stp"), "off");
    lsqlquery_fail_nth_write(1);  // already off: nothing is written
    EXPECT_EQ(map_dman_lsql_disable_stp_feature(), 0);
}
