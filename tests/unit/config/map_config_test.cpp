// How the daemon learns its switches: the DHCP file, the operator's settings,
// the provisioning parameters and the stored switch certificates.
#include "config/map_config.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "store/map_dman_lsql.hpp"
#include "core/managed_ap.hpp"
#include "log/map_log.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

void set_prop(const char* cls, const char* prop, const char* value) {
    pv node{const_cast<char*>(prop), const_cast<char*>(value), nullptr, nullptr};
    ASSERT_EQ(lsqlquery_set_pv(cls, nullptr, &node, nullptr), 0) << prop;
}

std::string cert(char tag, size_t body_lines) {
    std::string c = "-----BEGIN CERTIFICATE-----\n";
    for (size_t i = 0; i < body_lines; ++i) c += std::string(64, tag) + "\n";
    return c + "-----END CERTIFICATE-----\n";
}

struct MapConfig : testing::Test {
    mapd_test::sandbox sb;
    map_control_block cb{};
    map_switch_comm rec{};

    void SetUp() override {
        lsqlquery_close();
        rec.tcp_fd = rec.udp_fd = rec.l2_fd = rec.ssl_rfd = -1;
        cb.switch_comm = &rec;
        cb.managed_mode = 1;  // host names are stored, never looked up
    }
    void TearDown() override {
        map_switch_comm_l2_discovery_disable(&rec);
        lsqlquery_close();
    }
    std::string reload_dhcp(const std::string& file) {
        sb.write(MAP_DHCP_CONF_FILE, file);
        CaptureStdout();
        EXPECT_EQ(map_reload_dhcp_config(&cb), 0);
        return GetCapturedStdout();
    }
};

}  // namespace

TEST_F(MapConfig, DhcpFileLines) {
    struct row {
        const char* what;
        std::string file;
        uint32_t ip[4];
        const char* host[4];
        bool corrupt;
    };
    const std::string long_line = std::string(600, 'x') + "\n";
    const row rows[] = {
        {"only slot 2", "dhcp switch address 2=10.1.1.2\n", {0, 0x0A010102, 0, 0}, {"", "", "", ""}, false},
        {"comments and empty lines", "# c\n\ndhcp switch address 4=10.0.0.4\n", {0, 0, 0, 0x0A000004}, {"", "", "", ""}, false},
        {"blank before =", "dhcp switch address 1 =10.0.0.1\n", {0, 0, 0, 0}, {"", "", "", ""}, false},
        {"no =", "dhcp switch address 1\ndhcp switch address 3=10.0.0.3\n", {0, 0, 0x0A000003, 0}, {"", "", "", ""}, true},
        {"host name", "dhcp switch address 1=switch.example\n", {0, 0, 0, 0}, {"switch.example", "", "", ""}, false},
        {"255.255.255.255 is a name", "dhcp switch address 1=255.255.255.255\n", {0, 0, 0, 0}, {"255.255.255.255", "", "", ""}, false},
        {"over-long line", long_line + "dhcp switch address 2=10.0.0.2\n", {0, 0x0A000002, 0, 0}, {"", "", "", ""}, true},
        {"unknown key", "lease time=3600\n", {0, 0, 0, 0}, {"", "", "", ""}, false},
    };
    for (const auto& r : rows) {
        // Every reload first clears what the previous file gave.
        std::string out = reload_dhcp(r.file);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(rec.dhcp_ip[i], r.ip[i]) << r.what << " slot " << i + 1;
            EXPECT_STREQ(rec.dhcp_host[i], r.host[i]) << r.what << " slot " << i + 1;
        }
        EXPECT_EQ(out.find("Corrupt configuration file") != std::string::npos, r.corrupt) << r.what;
    }
    sb.write(MAP_DHCP_CONF_FILE, "dhcp switch address 1=10.0.0.1\n");
    map_reload_dhcp_config(&cb);
    ASSERT_EQ(map_platform_unlink(MAP_DHCP_CONF_FILE), 0);
    map_reload_dhcp_config(&cb);
    EXPECT_EQ(rec.dhcp_ip[0], 0u) << "a missing file clears the DHCP slots";
}

TEST_F(MapConfig, DhcpHostNamesAreCutAt255) {
    reload_dhcp("dhcp switch address 1=" + std::string(250, 'a') + "\n");
    EXPECT_EQ(strlen(rec.dhcp_host[0]), 255u - 22) << "the 255-character line holds the 22-character key too";
    std::string name(300, 'b');
    ASSERT_EQ(map_config_switch_address_set(&cb, 3, name.c_str(), 0), 0);
    EXPECT_EQ(strlen(rec.static_host[2]), 255u);
    EXPECT_EQ(map_config_switch_address_set(&cb, 0, "x", 0), -1);
    EXPECT_EQ(map_config_switch_address_set(&cb, 5, "x", 0), -1);
}

TEST_F(MapConfig, StaticSettings) {
    set_prop("managed-ap", "mode", "Up");
    set_prop("managed-ap", "switch-address-1", "10.9.9.1");
    set_prop("managed-ap", "switch-address-2", "switch2.example");
    set_prop("managed-ap", "pass-phrase", "letmein");
    set_prop("managed-ap", "managed-mode-watchdog", "5");
    CaptureStdout();
    ASSERT_EQ(map_reload_static_config(&cb), 0);
    GetCapturedStdout();
    EXPECT_EQ(cb.admin_mode, 0u) << "\"Up\" is not \"up\": nothing changes";
    EXPECT_EQ(rec.static_ip[0], 0x0A090901u);
    EXPECT_STREQ(rec.static_host[1], "switch2.example");
    EXPECT_STREQ(rec.pass_phrase, "letmein");
    EXPECT_EQ(cb.watchdog_minutes, 5u);

    set_prop("managed-ap", "mode", "up");
    CaptureStdout();
    ASSERT_EQ(map_reload_static_config(&cb), 0);
    GetCapturedStdout();
    EXPECT_EQ(cb.admin_mode, 1u);
    EXPECT_EQ(rec.state, MAP_SWITCH_COMM_LISTEN_MODE);
}

TEST_F(MapConfig, StaticSettingsMissingClassFails) {
    CaptureStdout();
    EXPECT_EQ(map_reload_static_config(&cb), -1);
    EXPECT_NE(GetCapturedStdout().find("Error in populating MAP configuration"), std::string::npos);
}

TEST_F(MapConfig, SwitchCertificatesFirstIsPrimaryLastIsBackup) {
    sb.write(MAP_SWITCH_CERTS_FILE, cert('A', 3) + cert('B', 3) + cert('C', 3) + "trailing text\n");
    map_ap_provision_params p{};
    ASSERT_EQ(map_get_ap_provision_sw_certificates(&p), 0);
    EXPECT_EQ(std::string(p.primary_cert), cert('A', 3));
    EXPECT_EQ(std::string(p.backup_cert), cert('C', 3));

    sb.write(MAP_SWITCH_CERTS_FILE, cert('D', 40));  // about 2.6 kB
    map_ap_provision_params big{};
    memset(big.backup_cert, 'Z', sizeof big.backup_cert);
    ASSERT_EQ(map_get_ap_provision_sw_certificates(&big), 0);
    EXPECT_EQ(strnlen(big.primary_cert, MAP_SW_CERT_LEN), MAP_SW_CERT_LEN - 1)
        << "cut to the field, terminated";
    EXPECT_EQ(big.backup_cert[0], 'Z') << "one certificate leaves the backup field alone";

    ASSERT_EQ(map_platform_unlink(MAP_SWITCH_CERTS_FILE), 0);
    EXPECT_EQ(map_get_ap_provision_sw_certificates(&p), -1);
}

TEST_F(MapConfig, ProvisioningParameters) {
    set_prop("map-ap-provisioning", "switch-ip-address-type", "IPV4");
    set_prop("map-ap-provisioning", "switch-ip-address", "10.1.2.3");
    set_prop("map-ap-provisioning", "primary-switch-ip-address-type", "IPV4");
    set_prop("map-ap-provisioning", "primary-switch-ip-address", "10.1.2.4");
    set_prop("map-ap-provisioning", "backup-switch-ip-address-type", "IPV6");
    set_prop("map-ap-provisioning", "backup-switch-ipv6-address", "2001:0db8:0000:0000:0000:0000:0000:0005");
    set_prop("map-ap-provisioning", "ap-mac-address", "00:11:22:33:44:55");
    set_prop("map-ap-provisioning", "mutual-auth", "on");
    set_prop("map-ap-provisioning", "reprovision-unmanaged-mode", "off");
    set_prop("map-ap-provisioning", "data-valid", "on");
    sb.write(MAP_SWITCH_CERTS_FILE, cert('P', 2));

    cb.provision_reply_status = 7;
    cb.mutual_auth_countdown = 9;
    ASSERT_EQ(map_ap_provision_params_load_static_config(&cb), 0);
    const map_ap_provision_params& p = cb.provision;
    EXPECT_EQ(p.switch_is_ipv6, 0);
    EXPECT_EQ(map_provision_ipv4(p.switch_addr), 0x0A010203u);
    EXPECT_EQ(map_provision_ipv4(p.primary_addr), 0x0A010204u);
    EXPECT_EQ(p.backup_is_ipv6, 1);
    EXPECT_EQ(p.backup_addr[0], 0x20);
    EXPECT_EQ(p.backup_addr[15], 0x05);
    const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(0, memcmp(p.ap_mac, mac, 6));
    EXPECT_EQ(p.mutual_auth, 1);
    EXPECT_EQ(p.reprovision_unmanaged, 0);
    EXPECT_EQ(p.data_valid, 1);
    EXPECT_EQ(std::string(p.primary_cert), cert('P', 2));
    EXPECT_EQ(cb.provision_reply_status, -1);
    EXPECT_EQ(cb.mutual_auth_countdown, 0);

    uint8_t wire[17];
    map_provision_addr_to_wire(p.primary_is_ipv6, p.primary_addr, wire);
    const uint8_t want[17] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 1, 2, 4};
    EXPECT_EQ(0, memcmp(wire, want, 17)) << "network order on the wire";

    // Without the certificates file the control block keeps a zeroed record.
    ASSERT_EQ(map_platform_unlink(MAP_SWITCH_CERTS_FILE), 0);
    CaptureStdout();
    EXPECT_EQ(map_ap_provision_params_load_static_config(&cb), -1);
    EXPECT_NE(GetCapturedStdout().find("Error in reading primary and backup switch certificates"),
              std::string::npos);
    EXPECT_EQ(cb.provision.data_valid, 0);
}
