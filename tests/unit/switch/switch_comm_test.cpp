// The switch connection record without a running daemon: ports, address
// slots, the layer-2 poll queue, discover messages built and parsed, the
// discovered-address list, hardware type detection, keepalive and relink.
#include "switch/switch_comm.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "switch/map_ssl_util.hpp"
#include "switch/switch_comm_util.hpp"
#include "core/managed_ap.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "support/bytes.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"

using namespace mapd_test;
using mapd_test::sandbox;

namespace {

struct SwitchComm : testing::Test {
    sandbox sb;
    map_switch_comm record{};
    map_switch_comm* rec = &record;  // as init leaves it, without sockets
    void SetUp() override {
        lsqlquery_close();
        sb.write("/proc/uptime", "1000.00 500.00\n");
        rec->tcp_fd = rec->udp_fd = rec->l2_fd = rec->ssl_rfd = rec->mapd_fd = rec->mapqosd_fd = -1;
        rec->ports.base = MAP_DEFAULT_IP_BASE_PORT;
        map_switch_comm_ip_ports_derive(&rec->ports);
    }
    void TearDown() override { lsqlquery_close(); }
};

}  // namespace

// The port set follows the base port; the base comes from DHCP, else the
// configuration, else the default, and the tool runs only when it changes.
TEST_F(SwitchComm, BasePortChoiceAndItsPortSet) {
    const map_ip_ports& p = rec->ports;
    EXPECT_EQ((std::vector<int>{p.udp, p.ssl, p.tnl_udp, p.capwap_src, p.capwap_dst}),
              (std::vector<int>{57776, 57777, 57775, 57778, 57779}));
    const std::pair<uint16_t, int> validity[] = {{0, 0}, {65001, 0}, {65535, 0},
                                                 {1, 1}, {57775, 1}, {65000, 1}};
    for (auto [port, valid] : validity)
        EXPECT_EQ(map_ip_base_port_is_valid(port), valid) << port;
    sb.tool("/usr/sbin/wl", "echo \"$*\" >> tmp/wl.log");
    const struct {
        uint16_t dhcp, cfg, base;
        int changed;
    } rows[] = {
        {0, 0, 57775, 0},          // neither: the default, unchanged
        {60000, 50000, 60000, 1},  // DHCP wins over configured
        {60000, 50000, 60000, 0},  // the same again: nothing runs
        {0, 50000, 50000, 1},      // configured when DHCP is unset
        {65001, 0, 57775, 1},      // invalid values fall back to the default
    };
    for (const auto& r : rows) {
        rec->ports.dhcp_base = r.dhcp;
        rec->ports.cfg_base = r.cfg;
        EXPECT_EQ(map_switch_comm_ip_base_port_sync(rec), r.changed);
        EXPECT_EQ(rec->ports.base, r.base);
    }
    EXPECT_EQ(sb.read("/tmp/wl.log"),
              "switch_ip_base_port 60000\nswitch_ip_base_port 50000\nswitch_ip_base_port 57775\n");
}

// Static and DHCP address slots and the static walk's next index; a
// discover is taken only while listening: from a static slot when there is
// one, else from a DHCP slot, else from any switch.
TEST_F(SwitchComm, AddressSlotsDecideWhichSwitchIsTaken) {
    for (int slot : {0, 5})
        EXPECT_EQ(map_switch_comm_update_config_ip_address(rec, 0x0A000001, slot), -1) << slot;
    EXPECT_EQ(map_switch_comm_update_config_ip_address(nullptr, 0x0A000001, 1), -1);
    rec->state = MAP_SWITCH_COMM_SSL_ESTABLISH_MODE;
    EXPECT_EQ(map_switch_comm_validate_ip_address(rec, 1), -1) << "only while listening";
    rec->state = MAP_SWITCH_COMM_LISTEN_MODE;
    EXPECT_EQ(map_switch_comm_validate_ip_address(rec, 1), 0) << "no slots: any switch";

    ASSERT_EQ(map_switch_comm_update_config_ip_address(rec, 6, 2), 0);
    rec->next_addr_index = 3;
    ASSERT_EQ(map_switch_comm_update_config_dhcp_ip_address(rec, 5, 3), 0);
    EXPECT_EQ((std::vector<int>{rec->static_count, rec->dhcp_count, rec->next_addr_index}),
              (std::vector<int>{1, 1, 3}))
        << "DHCP slots leave the static walk alone";
    EXPECT_EQ(map_switch_comm_validate_ip_address(rec, 5), -1) << "static slots hide DHCP ones";
    EXPECT_EQ(map_switch_comm_validate_ip_address(rec, 6), 0);
    const std::pair<uint32_t, int> reasons[] = {{5, MAP_SWITCH_DHCP_CONFIG},
                                                {6, MAP_SWITCH_STATIC_CONFIG},
                                                {77, MAP_SWITCH_L2_POLL_RECIEVED}};
    for (auto [ip, reason] : reasons) {
        rec->switch_ip = ip;
        map_switch_calcualte_discovery_reason(rec, MAP_SWITCH_L2_POLL_RECIEVED);
        EXPECT_EQ(rec->discovery_reason, reason) << ip;
    }

    ASSERT_EQ(map_switch_comm_update_config_ip_address(rec, 0, 2), 0);
    EXPECT_EQ(rec->static_count, 0);
    EXPECT_EQ(rec->next_addr_index, 0) << "clearing the last static slot restarts the walk";
    EXPECT_EQ(map_switch_comm_validate_ip_address(rec, 1), -1);
    EXPECT_EQ(map_switch_comm_validate_ip_address(rec, 5), 0);

    std::string long_name(400, 'h'), long_pass(100, 'p');
    ASSERT_EQ(map_switch_comm_update_config_dns_address(rec, long_name.c_str(), 4), 0);
    EXPECT_EQ(strlen(rec->static_host[3]), 256u) << "cut to the slot";
    EXPECT_EQ(rec->static_count, 1) << "an unresolved name still counts";
    map_switch_comm_update_config_pass_phrase(rec, long_pass.c_str());
    EXPECT_EQ(strnlen(rec->pass_phrase, sizeof rec->pass_phrase), 63u);
    map_switch_comm_update_config_pass_phrase(rec, nullptr);
    EXPECT_EQ(rec->pass_phrase[0], '\0');
}

// An address already queued is stored once; the 65th distinct one is refused.
TEST_F(SwitchComm, LayerTwoQueueHoldsSixtyFourDistinctAddresses) {
    map_l2_queue q{};
    EXPECT_EQ(l2_queue_push(&q, 0) + l2_queue_push(nullptr, 1), 0);
    for (uint32_t ip = 100; ip < 164; ++ip)
        ASSERT_EQ(l2_queue_push(&q, ip) + l2_queue_push(&q, ip), 1) << ip;
    EXPECT_EQ(l2_queue_push(&q, 999), 0);
    uint32_t out = 0, n = 0;
    ASSERT_EQ(l2_queue_pop(&q, &out), 1);
    EXPECT_EQ(out, 100u) << "oldest first";
    EXPECT_EQ(l2_queue_push(&q, 999), 1) << "room again after a pop";
    while (l2_queue_pop(&q, &out))
        ++n;
    EXPECT_EQ(n * 1000 + out, 64999u);
}

TEST_F(SwitchComm, DiscoverMessageLayout) {
    ASSERT_TRUE(db_set("management", nullptr, "ip", "192.168.1.10"));
    ASSERT_TRUE(db_set("management", nullptr, "mask", "255.255.255.0"));
    ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50"));
    map_ap_provision_params prov{};
    prov.primary_is_ipv6 = 0;
    uint32_t primary = 0x0A010203;
    memcpy(prov.primary_addr + 12, &primary, 4);
    prov.backup_is_ipv6 = 1;
    prov.backup_addr[0] = 0x20;
    prov.backup_addr[15] = 0x01;
    prov.mutual_auth = 1;
    uint8_t buf[MAP_DISCOVER_MSG_LEN + 8];
    for (uint16_t type : {uint16_t{1}, uint16_t{11}}) {
        ASSERT_EQ(map_switch_comm_build_discover(buf, sizeof buf, type, &prov), 105u);
        const bytes want = bytes{0, static_cast<uint8_t>(type), 0, 105} + elem(1, {2}) +
                           elem(256, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 192, 168, 1, 10, 24}) +
                           elem(3, {0, 1}) + elem(4, {0, 2}) +
                           elem(33, {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50}) +
                           elem(272, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 1, 2, 3}) +
                           elem(273, {1, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}) +
                           elem(274, {1}) + elem(275, {0});
        EXPECT_EQ(bytes(buf, buf + 105), want) << "type " << type;
    }
    // Without provisioning parameters the address groups are zero; still 105 bytes.
    EXPECT_EQ(map_switch_comm_build_discover(buf, sizeof buf, 1, nullptr), 105u);
    EXPECT_EQ(map_switch_comm_build_discover(buf, 104, 1, nullptr), 0u) << "no room, no message";
}

TEST_F(SwitchComm, DiscoverParsing) {
    const bytes ip = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 9, 16};
    const bytes device = elem(1, {1}), vendor = elem(3, {0, 1});
    const struct {
        const char* what;
        bytes body;
        uint32_t device, vendor, version, ip;
    } rows[] = {
        {"full", device + vendor + elem(4, {0, 2}) + elem(256, ip), 1, 1, 2, 0x0A000009},
        {"end element stops", device + elem(0, {}) + vendor, 1, 0, 0, 0},
        {"unknown clears what came before", device + elem(7, {}) + vendor, 0, 1, 0, 0},
        {"element 5 takes one byte", elem(5, {9}) + device + vendor, 1, 1, 0, 0},
        // values are taken at their fixed size whatever the length says
        {"length ignored", bytes{0, 3, 0, 9, 0, 1} + device, 1, 1, 0, 0},
        {"short ip ends the walk", device + bytes{1, 0, 0, 18, 0, 0, 0}, 1, 0, 0, 0},
        {"three trailing bytes", device + bytes{0, 3, 0}, 1, 0, 0, 0},
    };
    for (const auto& r : rows) {
        map_discover_summary s;
        const int len = static_cast<int>(r.body.size());
        ASSERT_EQ(map_switch_comm_extract_discover_pkt(r.body.data(), len, &s), 0) << r.what;
        EXPECT_EQ((std::vector<uint32_t>{s.device_type, s.vendor_id, s.protocol_version, s.ip}),
                  (std::vector<uint32_t>{r.device, r.vendor, r.version, r.ip}))
            << r.what;
    }
}

// A switch is followed again 20 s after it was last followed; the list holds 64.
TEST_F(SwitchComm, DiscoveredAddressesTwentySecondRuleAndFullList) {
    const std::pair<const char*, int> steps[] = {
        {"1000.00", 0}, {"1000.00", -1}, {"1019.90", -1}, {"1020.00", 0}};
    for (auto [uptime, rc] : steps) {
        sb.write("/proc/uptime", std::string(uptime) + " 500.00\n");
        EXPECT_EQ(map_switch_comm_discover_ip_addr_validate(0x0A000001, rec), rc) << uptime;
    }
    EXPECT_EQ(rec->discovered.entry[0].last_used, 1020u);
    EXPECT_EQ(map_switch_comm_discover_ip_addr_validate(0, rec), -1);
    for (uint32_t ip = 2; ip <= 64; ++ip)
        ASSERT_EQ(map_switch_comm_discover_ip_addr_validate(0x0A000000 + ip, rec), 0) << ip;
    EXPECT_EQ(map_switch_comm_discover_ip_addr_validate(0x0B000001, rec), -1) << "list full";
    int index = -1;
    EXPECT_EQ(map_switch_comm_discover_ip_addr_get(0x0A000040, nullptr, rec), -1);
    EXPECT_EQ(map_switch_comm_discover_ip_addr_get(0x0A000040, &index, rec), 0);
    EXPECT_EQ(index, 63);
}

TEST_F(SwitchComm, DiscoveryWalkSkipsAnUnresolvedHostName) {
    rec->state = MAP_SWITCH_COMM_LISTEN_MODE;
    map_switch_comm_update_config_dns_address(rec, "no-such-switch.invalid", 1);
    map_switch_comm_update_config_ip_address(rec, 0x7F000063, 2);
    std::string out =
        captured(MAP_TRACE_SWITCH, [&] { map_switch_comm_discovery_timeout(rec, nullptr); });
    EXPECT_TRUE(contains(out, "Static Host: no-such-switch.invalid, Static IP: 0")) << out;
    EXPECT_TRUE(contains(out, "Static Host: , Static IP: 7f000063")) << out;
    EXPECT_EQ(rec->next_addr_index, 2) << "the next step starts at index 2";
}

// With valid provisioning data: three discovers 5 s apart, then a 30 s pause.
TEST_F(SwitchComm, ProvisioningDiscoveryCycle) {
    rec->state = MAP_SWITCH_COMM_LISTEN_MODE;
    map_ap_provision_params prov{};
    EXPECT_EQ(map_switch_comm_provisioning_discovery(rec, &prov), -1) << "data not valid";
    prov.data_valid = 1;
    map_switch_comm_provisioning_discovery_reset();
    std::string got;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(map_switch_comm_provisioning_discovery(rec, &prov), 0);
        got += std::to_string(rec->discovery_countdown) + "/" +
               std::to_string(map_switch_comm_provisioning_discovery_counter()) + " ";
    }
    EXPECT_EQ(got, "5/1 5/2 5/3 30/0 5/1 ");
    rec->state = MAP_SWITCH_COMM_INIT_MODE;
    map_switch_comm_check_timeout(rec, 1, &prov, 1000);
    EXPECT_EQ(map_switch_comm_provisioning_discovery_counter(), 0) << "reset outside state 1";
}

TEST_F(SwitchComm, HardwareTypeDetection) {
    const struct {
        const char *pci, *cpuinfo;
        int type;
    } rows[] = {
        {"", "system type : Broadcom BCM4716 chip\n", 9},
        {"0000 14e44320 11\n", "Hardware : IXDPG425\n", 4},
        {"0000 14e44322 11\n", "Hardware : IXDPG425\n", 3},  // matched by 14e4 and 4322: twice
        {"0000 14e44320 11\n0008 14e44320 12\n", "Hardware : IXDPG425\n", 3},
        {"0000 14e44320 11\n", "Hardware : CN3010_EVB_HS5\n", 6},
        {"0000 14e44320 11\n0008 14e44320 12\n", "Hardware : CN3010_EVB_HS5\n", 5},
        {"0000 168c0013 10\n", "system type : Atheros AR_7100\n", 7},
        {"", "system type : AR_7300 BCM4716\n", 8},
        {"0000 14e44320 11\n", "", -1},
        {"", "Hardware : IXDPG425\n", -1},
    };
    for (const auto& r : rows) {
        sb.write("/proc/bus/pci/devices", r.pci);
        sb.write("/proc/cpuinfo", r.cpuinfo);
        EXPECT_EQ(map_hw_type_get(), r.type) << r.pci << " / " << r.cpuinfo;
        EXPECT_FALSE(sb.exists("/tmp/hw.dat")) << "the work file is removed";
    }
}

// A detection that failed at start-up (a command that could not run) is
// tried again before the next identification, which then carries the type.
TEST_F(SwitchComm, FailedHardwareDetectionIsRetriedBeforeIdentification) {
    sb.write("/proc/bus/pci/devices", "");
    sb.write("/proc/cpuinfo", "system type : Broadcom BCM4716 chip\n");
    map_platform_fail_nth(map_platform_op::system, 3);
    EXPECT_EQ(map_switch_comm_populate_ap_parameters(rec), -1);
    EXPECT_EQ(rec->ap.hw_type, -1);
    rec->state = MAP_SWITCH_COMM_SSL_ESTABLISH_MODE;
    map_ap_provision_params prov{};
    (void)map_switch_comm_send_ap_identification_pkt(rec, &prov);  // no link: not sent
    EXPECT_EQ(rec->ap.hw_type, 9);
    EXPECT_EQ(rec->ap.max_bss, 4) << "the whole block is filled, not the type alone";
    map_platform_fail_clear();
}

// The keepalive countdown itself is checked on the twin (Link tests).
TEST_F(SwitchComm, KeepaliveAndRelinkParsing) {
    uint32_t interval = 0;
    const bytes ka = elem(0x3001, {0, 0, 0, 20}), other = elem(0x3002, {0, 0, 0, 20});
    EXPECT_EQ(map_switch_comm_extract_keepalive_pkt(ka.data(), 8, &interval), 0);
    EXPECT_EQ(interval, 20u);
    EXPECT_EQ(map_switch_comm_extract_keepalive_pkt(other.data(), 8, &interval), -1);
    EXPECT_EQ(map_switch_comm_extract_keepalive_pkt(ka.data(), 7, &interval), -1);

    bytes v4 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 9, 8, 7}, v6 = v4, v4b = v4;
    v6[0] = 1;
    v4b[16] = 9;
    uint32_t ip = 0;
    auto relink = [&](const bytes& m, int len) {
        return map_switch_comm_extract_relink_pkt(m.data(),
                                                  len < 0 ? static_cast<int>(m.size()) : len, &ip);
    };
    EXPECT_EQ(relink(elem(257, v6), -1), -1) << "IPv6 only";
    EXPECT_EQ(relink(elem(257, bytes(v4.begin(), v4.end() - 1)), -1), -1) << "one byte short";
    EXPECT_EQ(relink(elem(257, v4), 10), -1) << "cut short";
    ASSERT_EQ(relink(elem(257, v4) + elem(9, {1, 2}) + elem(257, v4b) + elem(257, v6), -1), 0);
    EXPECT_EQ(ip, 0x0A090809u) << "a later IPv4 element overrides an earlier one";
}

TEST_F(SwitchComm, DataSendRefusesBeforeTheConnection) {
    const uint8_t ka[] = {0, 25, 0, 4};
    rec->state = MAP_SWITCH_COMM_LISTEN_MODE;
    std::string out = captured(MAP_TRACE_SWITCH, [&] {
        EXPECT_EQ(map_switch_comm_data_send(rec, ka, 4, 1), -1);
        EXPECT_EQ(map_switch_comm_data_send(rec, ka, 4, 0), -1);
        EXPECT_EQ(map_switch_comm_data_send(nullptr, ka, 4, 1), -1);
        EXPECT_EQ(map_switch_comm_ssl_connection_close(rec), -1) << "no connection to close";
    });
    EXPECT_TRUE(contains(out, "Error in sending data as connection is not yet established")) << out;
    EXPECT_EQ(rec->state, MAP_SWITCH_COMM_LISTEN_MODE);
}

// Certificate mode fails closed: a context that cannot be completed leaves
// the old one in place, and a context that does not verify the switch never
// carries a certificate-mode connection.
TEST_F(SwitchComm, CertificateModeContextIsReplacedOnlyWhenComplete) {
    sb.write("/sys/class/net/eth0/address", "00:1a:2b:3c:4d:50\n");
    ASSERT_EQ(mapSSLCertificateGenerate(1024, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
    sb.write("/etc/switch_certs.pem", sb.read("/etc/zorcert2.pem"));
    ssl_ctx_ptr slot;
    ASSERT_EQ(map_ap_mutual_auth_init(&slot), 0);
    SSL_CTX* complete = slot.get();
    ASSERT_NE(complete, nullptr);
    EXPECT_NE(SSL_CTX_get_verify_mode(complete) & SSL_VERIFY_PEER, 0);
    ASSERT_EQ(map_platform_unlink("/etc/switch_certs.pem"), 0);
    captured(MAP_TRACE_SWITCH, [&] { EXPECT_EQ(map_ap_mutual_auth_init(&slot), -1); });
    EXPECT_EQ(slot.get(), complete) << "the working context stays";

    rec->ssl_ctx.reset(SSL_CTX_new(TLS_client_method()));  // verifies nothing
    rec->switch_ip = 0x7F000001;
    std::string out = captured(MAP_TRACE_SWITCH,
                               [&] { EXPECT_EQ(map_switch_comm_ssl_connection_open(rec, 1), -1); });
    EXPECT_TRUE(contains(out,
                         "Certificate based authentication is not set up; not connecting to switch "
                         "127.0.0.1"))
        << out;
    EXPECT_FALSE(contains(out, "Initiating TCP connection")) << "no connection was tried";
    EXPECT_EQ(rec->tcp_fd, -1);
}
