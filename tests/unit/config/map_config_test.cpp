// How the daemon learns its switches: the DHCP file, the operator's settings,
// the provisioning parameters and the stored switch certificates.
#include "config/map_config.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/managed_ap.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"
#include "unit/store/store_test_util.hpp"

using namespace config_test;

namespace {

void set_props(const char* cls, std::initializer_list<std::pair<const char*, const char*>> props) {
    for (const auto& [prop, value] : props)
        ASSERT_TRUE(db_set(cls, nullptr, prop, value)) << prop;
}

std::string cert(char tag, size_t body_lines) {
    std::string c = "-----BEGIN CERTIFICATE-----\n";
    while (body_lines-- > 0)
        c += std::string(64, tag) + "\n";
    return c + "-----END CERTIFICATE-----\n";
}

struct MapConfig : db_test {
    map_control_block cb{};
    map_switch_comm rec{};

    void SetUp() override {
        rec.tcp_fd = rec.udp_fd = rec.l2_fd = rec.ssl_rfd = -1;
        cb.switch_comm = &rec;
        cb.managed_mode = 1;  // host names are stored, never looked up
    }
    void TearDown() override {
        map_switch_comm_l2_discovery_disable(&rec);
        db_test::TearDown();
    }
    // The four DHCP slots: the address, "[host name]", or "-" when empty.
    std::string dhcp_slots() const {
        std::string out;
        for (int i = 0; i < 4; ++i) {
            const std::string host = rec.dhcp_host[i];
            out += i > 0 ? "," : "";
            out += rec.dhcp_ip[i] != 0 ? inet_ntoa(in_addr{htonl(rec.dhcp_ip[i])})
                   : host.empty()      ? "-"
                                       : "[" + host + "]";
        }
        return out;
    }
};

}  // namespace

TEST_F(MapConfig, DhcpFileLines) {
    const std::string long_line = std::string(600, 'x') + "\n";
    const std::string long_host(250, 'a');  // with its key longer than the 255-character line
    // clang-format off
    const struct { const char* what; std::string file; std::string slots; bool corrupt; } rows[] = {
        {"only slot 2", "dhcp switch address 2=10.1.1.2\n", "-,10.1.1.2,-,-", false},
        {"comments, empty lines", "# c\n\ndhcp switch address 4=10.0.0.4\n", "-,-,-,10.0.0.4", false},
        {"blank before =", "dhcp switch address 1 =10.0.0.1\n", "-,-,-,-", false},
        {"key cut short", "dhcp switch address=10.0.0.9\nDHCP switch address 1=10.0.0.8\n", "-,-,-,-", false},
        {"no =", "dhcp switch address 1\ndhcp switch address 3=10.0.0.3\n", "-,-,10.0.0.3,-", true},
        {"host name", "dhcp switch address 1=switch.example\n", "[switch.example],-,-,-", false},
        {"all ones", "dhcp switch address 1=255.255.255.255\n", "[255.255.255.255],-,-,-", false},
        {"over-long line", long_line + "dhcp switch address 2=10.0.0.2\n", "-,10.0.0.2,-,-", true},
        {"255 characters", "dhcp switch address 1=" + long_host + "\n", "[" + long_host.substr(0, 233) + "],-,-,-", false},
    };
    for (const auto& r : rows) {
        // Every reload first clears what the previous file gave.
        sb.write(MAP_DHCP_CONF_FILE, r.file);
        std::string out = captured(0, [&] { EXPECT_EQ(map_reload_dhcp_config(&cb), 0); });
        EXPECT_EQ(dhcp_slots(), r.slots) << r.what;
        EXPECT_EQ(contains(out, "Corrupt configuration file"), r.corrupt) << r.what;
    }
    ASSERT_EQ(map_platform_unlink(MAP_DHCP_CONF_FILE), 0);
    EXPECT_EQ(map_reload_dhcp_config(&cb), 0);
    EXPECT_EQ(dhcp_slots(), "-,-,-,-") << "a missing file clears the DHCP slots";
}

TEST_F(MapConfig, StaticSettings) {
    std::string out = captured(0, [&] { EXPECT_EQ(map_reload_static_config(&cb), -1); });
    EXPECT_TRUE(contains(out, "Error in populating MAP configuration")) << out;
    set_props("managed-ap", {{"mode", "Up"}, {"switch-address-1", "10.9.9.1"},
        {"switch-address-2", "switch2.example"}, {"pass-phrase", "letmein"}, {"managed-mode-watchdog", "5"}});
    captured(0, [&] { EXPECT_EQ(map_reload_static_config(&cb), 0); });
    EXPECT_EQ(cb.admin_mode, 0u) << "\"Up\" is not \"up\": nothing changes";
    EXPECT_EQ(rec.static_ip[0], 0x0A090901u);
    EXPECT_STREQ(rec.static_host[1], "switch2.example");
    EXPECT_STREQ(rec.pass_phrase, "letmein");
    EXPECT_EQ(cb.watchdog_minutes, 5u);
    set_props("managed-ap", {{"mode", "up"}});
    captured(0, [&] { EXPECT_EQ(map_reload_static_config(&cb), 0); });
    EXPECT_EQ(cb.admin_mode, 1u);
    EXPECT_EQ(rec.state, MAP_SWITCH_COMM_LISTEN_MODE);

    // A host name longer than 255 characters is cut; slots are 1 to 4.
    ASSERT_EQ(map_config_switch_address_set(&cb, 3, std::string(300, 'b').c_str(), 0), 0);
    EXPECT_EQ(strlen(rec.static_host[2]), 255u);
    EXPECT_EQ(map_config_switch_address_set(&cb, 0, "x", 0), -1);
    EXPECT_EQ(map_config_switch_address_set(&cb, 5, "x", 0), -1);
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
    EXPECT_EQ(strnlen(big.primary_cert, MAP_SW_CERT_LEN), MAP_SW_CERT_LEN - 1) << "cut, terminated";
    EXPECT_EQ(big.backup_cert[0], 'Z') << "one certificate leaves the backup field alone";

    ASSERT_EQ(map_platform_unlink(MAP_SWITCH_CERTS_FILE), 0);
    EXPECT_EQ(map_get_ap_provision_sw_certificates(&p), -1);
}

TEST_F(MapConfig, ProvisioningParameters) {
    set_props("map-ap-provisioning", {
        {"switch-ip-address-type", "IPV4"}, {"switch-ip-address", "10.1.2.3"},
        {"primary-switch-ip-address", "10.1.2.4"},  // no type: IPv4
        {"backup-switch-ip-address-type", "IPv6"},  // anything but "IPV4"
        {"backup-switch-ip-address", "10.1.2.5"}, {"backup-switch-ipv6-address", "2001:0db8:0000:0000:0000:0000:0000:0005"},
        {"ap-mac-address", "00:11:22:33:44:55"}, {"mutual-auth", "on"},
        {"reprovision-unmanaged-mode", "On"}, {"data-valid", "on"}});
    sb.write(MAP_SWITCH_CERTS_FILE, cert('P', 2));
    cb.provision_reply_status = 7;
    cb.mutual_auth_countdown = 9;
    ASSERT_EQ(map_ap_provision_params_load_static_config(&cb), 0);
    const map_ap_provision_params& p = cb.provision;
    EXPECT_EQ(map_provision_ipv4(p.switch_addr), 0x0A010203u) << "host order";
    // The three address groups as the wire has them, the MAC and the flags.
    std::vector<uint8_t> got;
    for (const auto& [v6, addr] : {std::pair{p.switch_is_ipv6, p.switch_addr},
                                   {p.primary_is_ipv6, p.primary_addr},
                                   {p.backup_is_ipv6, p.backup_addr}}) {
        uint8_t wire[17];
        map_provision_addr_to_wire(v6, addr, wire);
        got.insert(got.end(), wire, wire + 17);
    }
    got.insert(got.end(), p.ap_mac, p.ap_mac + 6);
    got.insert(got.end(), {p.mutual_auth, p.reprovision_unmanaged, p.data_valid});
    const std::vector<uint8_t> want = {
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 1, 2, 3,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 1, 2, 4,
        1, 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5,
        0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 1, 0, 1};
    // clang-format on
    EXPECT_EQ(got, want);
    EXPECT_EQ(std::string(p.primary_cert), cert('P', 2));
    EXPECT_EQ(cb.provision_reply_status, -1);
    EXPECT_EQ(cb.mutual_auth_countdown, 0);

    // Without the certificates file the control block keeps a zeroed record.
    ASSERT_EQ(map_platform_unlink(MAP_SWITCH_CERTS_FILE), 0);
    std::string out =
        captured(0, [&] { EXPECT_EQ(map_ap_provision_params_load_static_config(&cb), -1); });
    EXPECT_TRUE(contains(out, "Error in reading primary and backup switch certificates")) << out;
    EXPECT_EQ(cb.provision.data_valid + cb.provision.mutual_auth + cb.provision.ap_mac[5], 0);
}
