// AP provisioning: the command over UDP and TLS, its files and database
// class, the reply as the switch receives it, and the reboot countdown.
#include <arpa/inet.h>
#include <poll.h>

#include <chrono>
#include <functional>
#include <thread>

#include "commands/map_ap_provision.hpp"
#include "core/map_handler.hpp"
#include "dman/dman_store.hpp"
#include "platform/platform.hpp"
#include "stats/map_proc.hpp"
#include "support/bytes.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "support/tls_pair.hpp"
#include "wire/map_provision_msg.hpp"

using namespace mapd_test;

namespace {

const bytes kOwn = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x50}, kOther = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x99};
const std::string kApCert = "-----BEGIN CERTIFICATE-----\nAP\n-----END CERTIFICATE-----\n";
constexpr uint32_t kProv = MAP_TRACE_PROVISION;

bytes v4(uint8_t d) { return bytes(13, 0) + bytes{10, 0, 0, d}; }  // 10.0.0.d
// fe80::200:7f: an IPv4 reading of its last bytes would be 127.0.0.2, here.
const bytes kLocal = bytes(13, 0) + bytes{127, 0, 0, 1}, kV6 = bytes{1, 0xfe, 0x80} + bytes(10, 0) + bytes{2, 0, 0, 0x7f};
bytes msg(uint16_t type, const bytes& body) { return wr().be16(type).be16(4 + body.size()).b + body; }
// A command: the switch at 127.0.0.1 (the record's own UDP socket), primary
// 10.0.0.2, backup 10.0.0.3, the AP's MAC, then the given elements.
bytes cmd(uint8_t mutual, const bytes& more = {}, const bytes& sw = kLocal) {
    return elem(0x0101, sw) + elem(0x0110, v4(2)) + elem(0x0111, v4(3)) + elem(0x0021, kOwn) +
           elem(0x0112, {mutual}) + elem(0x0113, {1}) + more;
}

struct Provision : testing::Test {
    sandbox sb;
    map_control_block cb{};
    map_switch_comm* rec = nullptr;
    tls_pair tp;

    void SetUp() override {
        ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50"));
        ASSERT_TRUE(db_set("management", nullptr, "ip", "10.1.2.3"));
        map_proc_mac_cache_clear();
        sb.write("/etc/zorcert2.pem", kApCert);
        sb.tool("/sbin/init", "echo \"init $*\" >> tmp/init.log");
        ASSERT_TRUE(switch_comm_init_wait(&rec, &cb));
        cb.switch_comm = rec;
    }
    void TearDown() override {
        if (rec != nullptr) rec->ssl.reset(), map_switch_comm_deinit(rec);
        lsqlquery_fail_nth_write(0);
        lsqlquery_close();
    }
    // The datagram that reached the switch's UDP port (empty: none); a marker
    // sent behind it ends the wait.
    bytes udp() {
        const uint8_t marker = 0xEE;
        EXPECT_EQ(map_switch_comm_udp_send(rec, INADDR_LOOPBACK, &marker, 1), 0);
        bytes got, b(2048);
        for (pollfd p{rec->udp_fd, POLLIN, 0}; poll(&p, 1, 5000) == 1;) {
            b.resize(std::max<ssize_t>(recv(rec->udp_fd, b.data(), 2048, 0), 0));
            if (b == bytes{marker}) return got;
            got = b, b.resize(2048);
        }
        ADD_FAILURE() << "the marker did not come back";
        return got;
    }
    map_provision_reply decode(const bytes& m) {
        map_provision_reply r;
        EXPECT_EQ(map_provision_reply_decode(m.data(), m.size(), r), 0);
        return r;
    }
};

}  // namespace

// A command over UDP and its reply byte by byte, the zero byte behind the
// status element included; the command as the wire library builds it.
TEST_F(Provision, UdpCommandAndReplyBytes) {
    const bytes c = msg(514, cmd(0));
    map_provision_cmd built;
    built.switch_addr = map_switch_addr_from_ipv4(0x7f000001);
    built.primary = map_switch_addr_from_ipv4(0x0a000002), built.backup = map_switch_addr_from_ipv4(0x0a000003);
    std::copy(kOwn.begin(), kOwn.end(), built.ap_mac), built.reprovision_unmanaged = 1;
    EXPECT_EQ(map_provision_cmd_build(built), c);
    ASSERT_EQ(map_udp_pkt_handler(&cb, c.data(), static_cast<int>(c.size())), 0);
    const bytes reply = wr().be16(515).be16(97).b + elem(0x0101, bytes(13, 0) + bytes{10, 1, 2, 3}) +
                        elem(0x0021, kOwn) + elem(0x0117, {1}) + bytes{0} + elem(0x0110, v4(2)) +
                        elem(0x0111, v4(3)) + elem(0x0112, {0}) + elem(0x0113, {1}) + elem(0x0114, {});
    const bytes got = udp();
    EXPECT_EQ(got, reply);
    map_provision_reply cut;  // the reader refuses a reply shorter than its length
    EXPECT_EQ(map_provision_reply_decode(got.data(), got.size() - 1, cut), -1);
    EXPECT_EQ(sb.read("/etc/mutauth.cfg"), "0");
    EXPECT_EQ(cb.provision.data_valid, 1);
}

// The mode file, the certificate file, the reboot countdown and the reply
// status, over TLS, from each previous mode file.
TEST_F(Provision, ModeAndCertificatesOverTls) {
    ASSERT_TRUE(tls_pair_open(tp, rec));
    const bytes p = elem(0x0115, wr().text("PRIM\n", 5).b), b = elem(0x0116, wr().text("BACK\n", 5).b);
    const struct {
        const char* before;  // the mode file (null: none)
        uint8_t mutual;
        bytes certs;
        uint8_t ok;
        const char *mode_file, *certs_file;
        int32_t countdown;
    } rows[] = {
        {nullptr, 0, {}, 1, "0", "", 0},
        {"0", 1, p + b, 1, "1", "PRIM\nBACK\n", 60},
        {"1\n", 1, p, 1, "1", "PRIM\n", 0},  // unchanged: no reboot
        {"1", 1, {}, 0, "1", "", 0},         // no primary certificate stored
        {"1", 0, p + b, 1, "0", "", 60},
        {"x", 1, b, 0, "1", "", 60},         // an unreadable mode counts as 0
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode_file + std::to_string(row.mutual) + row.certs_file);
        cb.provision = {}, cb.mutual_auth_countdown = 0, cb.provision_reply_status = 5;
        map_platform_unlink("/etc/mutauth.cfg");
        if (row.before) sb.write("/etc/mutauth.cfg", row.before);
        sb.write("/etc/switch_certs.pem", "OLD");
        const bytes m = msg(514, cmd(row.mutual, row.certs));
        ASSERT_EQ(map_ssl_pkt_handler(&cb, m.data(), static_cast<int>(m.size())), 0);
        const map_provision_reply r = decode(tls_pair_read(tp));
        EXPECT_EQ(r.status_ok, row.ok);
        EXPECT_EQ(r.ap_cert, row.mutual == 1 ? kApCert : "");
        EXPECT_EQ(sb.read("/etc/mutauth.cfg"), row.mode_file);
        EXPECT_EQ(sb.read("/etc/switch_certs.pem"), row.certs_file);
        EXPECT_EQ(cb.mutual_auth_countdown, row.countdown);
    }
}

// Whether a UDP command is applied (R provisioned, A re-provisioning allowed,
// C reboot pending) and the status its reply reports; a reply always goes.
TEST_F(Provision, UdpConditions) {
    const struct {
        uint8_t r, a;
        int32_t c, status;
        bool applied;
        uint8_t ok;  // the reply's status
    } rows[] = {
        {0, 0, 0, -1, true, 1}, {0, 0, 30, -1, true, 1}, {1, 1, 30, -1, true, 1},
        {1, 2, 0, -1, true, 1}, {1, 2, 30, 0, false, 1}, {1, 0, 0, 0, false, 0},
        {1, 0, 30, 0, false, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << +row.r << +row.a << row.c);
        sb.write("/etc/mutauth.cfg", "0");
        cb.provision = {}, cb.provision.data_valid = row.r, cb.provision.reprovision_unmanaged = row.a;
        const uint32_t local = INADDR_LOOPBACK;  // host order
        memcpy(cb.provision.switch_addr + 12, &local, 4);
        cb.mutual_auth_countdown = row.c, cb.provision_reply_status = row.status;
        const bytes m = msg(514, cmd(0));
        EXPECT_EQ(map_udp_pkt_handler(&cb, m.data(), static_cast<int>(m.size())), 0);
        const map_provision_reply r = decode(udp());
        EXPECT_EQ(map_switch_addr_ipv4(r.primary), row.applied ? 0x0a000002u : 0u);
        EXPECT_EQ(r.status_ok, row.ok);
    }
}

// Refused commands: the line they log and a failed status.
TEST_F(Provision, RefusedCommands) {
    const bytes cert1024 = elem(0x0115, bytes(1024, 'C'));
    const struct { bytes body; const char* text; int rc; } rows[] = {
        {cmd(0) + elem(0x0021, kOther), "AP MAC Address received is not same as self MAC Address", -1},
        {cmd(1, elem(0x0115, bytes(1025, 'C'))), "Primary switch certificate too long!", -1},
        {cmd(1, elem(0x0116, bytes(1025, 'C'))), "Backup switch certificate too long!", -1},
        {cmd(0) + elem(0x0111, bytes(13, 0)), "Corrupt ap provision command element 0x0111", -1},
        {cmd(0) + elem(0x0021, {0, 0x1a, 0x2b}), "Corrupt ap provision command element 0x0021", -1},
        {cmd(0) + elem(0x0112, {}, 1), "Corrupt ap provision command element 0x0112", -1},
        {cmd(0) + elem(0x0999, {1}, 50), "End", 0},  // an unknown element cut short ends the walk
        {cmd(1, cert1024 + elem(0x0116, {'B'})), "Mutual Authentication mode changed", 0},
        {cmd(1, elem(0x0115, {'P'})), "End", 0},  // the field is cleared first
        {cmd(1, bytes(cert1024.begin(), cert1024.end() - 1)), "element 0x0115", -1},
    };
    for (const auto& row : rows) {
        cb.provision_reply_status = 0;
        const std::string out = captured(kProv, [&] {
            EXPECT_EQ(map_process_ap_provision_cmd_msg_pkt(&cb, row.body.data(), static_cast<int>(row.body.size())),
                      row.rc);
        });
        EXPECT_TRUE(contains(out, row.text)) << out;
        EXPECT_EQ(cb.provision_reply_status, row.rc);
    }
    EXPECT_EQ(sb.read("/etc/switch_certs.pem"), "PB");
    const std::string out = captured(0, [&] {
        EXPECT_EQ(map_process_ap_provision_cmd_msg_pkt(nullptr, kOwn.data(), 6), -1);
        EXPECT_EQ(map_process_ap_provision_cmd_msg_pkt(&cb, nullptr, 6), -1);
        EXPECT_EQ(map_ap_provision_reply_pkt(nullptr), -1);
    });
    EXPECT_TRUE(contains(out, "Incorrect MAPD control block parameter.") &&
                contains(out, "Error receiving ap provision command message.") &&
                contains(out, "Invalid map control block to send ap provision reply packet")) << out;
}

// A changed mode reboots the AP once 60 seconds have passed in the timer pass.
TEST_F(Provision, RebootCountdown) {
    sb.write("/etc/mutauth.cfg", "1");
    const bytes c = cmd(0);
    ASSERT_EQ(map_process_ap_provision_cmd_msg_pkt(&cb, c.data(), static_cast<int>(c.size())), 0);
    ASSERT_EQ(cb.mutual_auth_countdown, 60);
    for (uint32_t elapsed : {0u, 20u, 39u}) map_timeout_handler(&cb, elapsed, 100);
    EXPECT_EQ(cb.mutual_auth_countdown, 1);
    EXPECT_FALSE(sb.exists("/tmp/init.log"));
    const std::string out = captured(kProv, [&] {
        map_timeout_handler(&cb, 1, 101);
        map_timeout_handler(&cb, 5, 106);
    });
    EXPECT_EQ(sb.read("/tmp/init.log"), "init -r\n");
    EXPECT_TRUE(contains(out, "Mutual Authentication mode changed. Rebooting the system...")) << out;
}

// An IPv6 switch address is stored and saved with the other properties (in
// their order and text forms); its UDP reply is refused.  A refused database
// write does not fail the command.
TEST_F(Provision, Ipv6SwitchAndDatabaseProperties) {
    const bytes m = msg(514, cmd(1, elem(0x0115, {'P'}), kV6));
    const std::string out = captured(kProv, [&] { map_udp_pkt_handler(&cb, m.data(), static_cast<int>(m.size())); });
    EXPECT_TRUE(contains(out, "Error in sending ap provision reply packet as UDP pkt to IPV6 destination")) << out;
    EXPECT_EQ(udp(), bytes{});
    EXPECT_EQ(bytes(cb.provision.switch_addr, cb.provision.switch_addr + 16), bytes(kV6.begin() + 1, kV6.end()));
    const std::string z6 = "0000:0000:0000:0000:0000:0000:0000:0000";
    const char* props[][2] = {
        {"switch-ip-address-type", "IPV6"}, {"switch-ip-address", "0.0.0.0"},
        {"switch-ipv6-address", "fe80:0000:0000:0000:0000:0000:0200:007f"},
        {"ap-mac-address", "00:1a:2b:3c:4d:50"}, {"primary-switch-ip-address-type", "IPV4"},
        {"primary-switch-ip-address", "10.0.0.2"}, {"primary-switch-ipv6-address", z6.c_str()},
        {"backup-switch-ip-address-type", "IPV4"}, {"backup-switch-ip-address", "10.0.0.3"},
        {"backup-switch-ipv6-address", z6.c_str()}, {"mutual-auth", "on"},
        {"reprovision-unmanaged-mode", "on"}, {"data-valid", "on"},
    };
    std::vector<dman_row> saved;  // the startup copy
    std::string error;
    ASSERT_EQ(dman_store_load("map-ap-provisioning", nullptr, dman_copy::startup, saved, error), 0);
    ASSERT_EQ(saved.size(), 1u);
    size_t at = 0;
    for (const auto& [name, value] : props) {
        EXPECT_TRUE(saved[0].find(name) && *saved[0].find(name) == value) << name;
        const size_t next = out.find("\n" + std::string(name) + " = " + value + "\n", at);
        EXPECT_NE(next, std::string::npos) << name << " out of order";
        at = next == std::string::npos ? at : next;
    }
    lsqlquery_fail_nth_write(1);
    const bytes c = cmd(0);
    const std::string failed = captured(0, [&] {
        EXPECT_EQ(map_process_ap_provision_cmd_msg_pkt(&cb, c.data(), static_cast<int>(c.size())), 0);
    });
    EXPECT_TRUE(contains(failed, "Error in applying the ap provisioning configuration") &&
                contains(failed, "Error in populating AP provisioning configuration")) << failed;
}

// Replies that are not sent, and the line each one logs.
TEST_F(Provision, ReplyRefusals) {
    const int udp_fd = rec->udp_fd;
    const struct { std::function<void()> setup; const char* text; int rc; } rows[] = {
        {[&] { map_platform_unlink("/etc/zorcert2.pem"); }, "Failed to open /etc/zorcert2.pem ap certificate file.", -1},
        {[&] { sb.write("/etc/zorcert2.pem", std::string(1024, 'A')); }, "too large for the ap provision reply", -1},
        {[&] { sb.write("/etc/zorcert2.pem", std::string(1023, 'A')); }, "End", 0},
        {[&] { memset(cb.provision.switch_addr + 12, 0xff, 4); },
         "Error sending AP_PROVISION_REPLY_MSG packet to switch: 255.255.255.255", -1},
        {[&] { rec->state = MAP_SWITCH_COMM_ESTABLISHED; }, "Error in sending ap provision reply packet as TCP packet", -1},
        {[&] { rec->udp_fd = -1; }, "No socket for AP-to-Switch communication", -1},
        {[&] { cb.switch_comm = nullptr; }, "Invalid map control block switch comm context", -1},
    };
    for (const auto& row : rows) {
        cb.provision = {}, cb.provision.mutual_auth = 1, cb.provision.switch_addr[15] = 127;
        cb.provision.switch_addr[12] = 1, rec->state = MAP_SWITCH_COMM_INIT_MODE;
        row.setup();
        const std::string out = captured(kProv, [&] { EXPECT_EQ(map_ap_provision_reply_pkt(&cb), row.rc); });
        EXPECT_TRUE(contains(out, row.text)) << out;
        cb.switch_comm = rec, rec->udp_fd = udp_fd;
        EXPECT_EQ(udp().size(), row.rc == 0 ? 1120u : 0u) << row.text;
    }
}
