// The switch's client commands as they arrive over TLS: what hostapd receives
// (a socket of the test bound to its port), what the tunnel tables hold, and
// what is refused.
#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "local/map_client_relay.hpp"
#include "local/mmsg_handler.hpp"
#include "platform/platform.hpp"
#include "stats/map_proc.hpp"
#include "support/bytes.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

using namespace mapd_test;

namespace {

// The AP (its base MAC), another AP, VAP 1 of radio 1 (tunnel off) and of radio 2 (on).
const bytes kOwn = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x50}, kOther = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x99};
const bytes kVapOff = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x51}, kVapOn = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x53};
const bytes kClient = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, kFake = {0x0e, 1, 2, 3, 4, 5};
const bytes kMarker = {7};  // a supported-channels request: any valid record will do
const bytes kNone = {};
constexpr uint32_t kTunnelled = 0x20;

template <typename T>
bytes host(T v) {
    return bytes(reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + sizeof v);
}
bytes msg(uint16_t type, const bytes& body) {
    return wr().be16(type).be16(4 + body.size()).b + body;
}
bytes at(bytes rec, size_t off, const bytes& v) {
    std::copy(v.begin(), v.end(), rec.begin() + off);
    return rec;
}
// An association reply, every element present.
bytes reply(uint32_t status, uint16_t vlan, const bytes& vap = kVapOn, const bytes& extra = {}) {
    return elem(0x21, kOwn) + elem(0x5001, vap) + elem(0x5002, kClient) + elem(0x5003, {2, 9}) +
           elem(0x5004, wr().text("guest", 5).b) + elem(0x500C, wr().be16(vlan).b) +
           elem(0x5042, bytes{1} + kOther + bytes(12, 0) + bytes{10, 0, 0, 7}) +
           elem(0x5044, wr().be32(status).b) +
           elem(0x5058, bytes(32, 0x40) + wr().be32(3600).be32(5).b) + extra;
}
// hostapd's record of that reply, field by field at the peer's offsets.
bytes reply_rec(uint32_t status, uint16_t vlan, const bytes& vap = kVapOn) {
    bytes r = at(at(at(at(bytes(276, 0), 0, {18}), 1, kOwn), 7, vap), 13, kClient);
    r = at(at(at(r, 19, {2}), 20, wr().text("guest", 5).b), 56, host(status));
    r = at(at(at(at(r, 60, bytes(32, 0x40)), 92, host(3600)), 96, host(5)), 100, host(vlan));
    return at(at(r, 102, bytes{1} + kOther), 121, host(0x0a000007));
}
bytes arp(const bytes& ip_elem) {
    return elem(0x1003, kClient) + ip_elem + elem(0x1005, kVapOn);
}
// The kernel tables of the sandbox: entry name ("3.23.3.32") to value.
using tables = std::map<std::string, bytes>;

struct ClientCmds : testing::Test {
    sandbox sb;
    std::unique_ptr<map_switch_comm> rec = std::make_unique<map_switch_comm>();
    map_control_block cb{};
    int hostapd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);

    void SetUp() override {
        ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50"));
        ASSERT_TRUE(db_set("radio", "wlan1", "sentry-mode", "on"));
        map_proc_mac_cache_clear();
        rec->tcp_fd = rec->udp_fd = rec->l2_fd = rec->ssl_rfd = rec->mapd_fd = -1;
        rec->state = MAP_SWITCH_COMM_ESTABLISHED;
        rec->ap.max_bss = 2;
        rec->cb = &cb;
        cb.switch_comm = rec.get();
        ASSERT_EQ(map_cs_init(&cb), 0);
        cb.cs->vaps[1].vap_config[1].dl2tunnel = 1;  // kVapOn
        cb.cs->vaps[1].vap_config[1].vlan_id = 0x12345;
        // hostapd's port and mapd's own are shared with other tests: wait for them.
        sockaddr_in a{AF_INET, htons(MMSG_HOSTAPD_PORT), {htonl(INADDR_LOOPBACK)}, {}};
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (bind(hostapd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
               mmsg_handler_init() < 0) {
            ASSERT_TRUE(errno == EADDRINUSE && std::chrono::steady_clock::now() < end);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    void TearDown() override {
        mmsg_handler_close();
        close(hostapd);
        map_cs_deinit(cb.cs);
    }
    // Feeds a TLS message to the dispatcher and returns what hostapd got:
    // the datagram before a marker sent afterwards, kNone when there was none.
    bytes tls(const bytes& m) {
        EXPECT_EQ(map_ssl_pkt_handler(&cb, m.data(), static_cast<int>(m.size())), 0);
        EXPECT_EQ(mmsg_handler_send(kMarker.data(), 1), 1);
        std::vector<bytes> got;
        uint8_t buf[512];
        for (pollfd p{hostapd, POLLIN, 0}; poll(&p, 1, 5000) == 1 && got.size() < 3;) {
            got.emplace_back(buf, buf + std::max(recv(hostapd, buf, sizeof buf, 0), ssize_t{0}));
            if (got.back() == kMarker)
                break;
        }
        EXPECT_TRUE(!got.empty() && got.back() == kMarker && got.size() <= 2) << got.size();
        return got.size() == 2 ? got[0] : kNone;
    }
    // Takes the kernel tables written so far, leaving them empty.
    tables kernel() {
        tables t;
        for (const auto& e : std::filesystem::directory_iterator(sb.path("/sysctl"), ec)) {
            std::string v = read_file(e.path());
            t[e.path().filename()] = bytes(v.begin(), v.end());
        }
        std::filesystem::remove_all(sb.path("/sysctl"), ec);
        return t;
    }
    std::error_code ec;
};

}  // namespace

// Each command as hostapd receives it (kNone: refused), what the kernel tables
// hold afterwards, and the text a refusal logs.  A disassociation ends the
// client's distributed tunnel first; a tunnelled client's reply sets it up with
// the VAP's VLAN when the switch gave none.
TEST_F(ClientCmds, CommandsByteExact) {
    const bytes disassoc = elem(0x21, kOwn) + elem(0x5002, kClient);
    const tables none, ended = {{"3.23.3.32", bytes(6, 0) + kClient}};
    const tables arp_entry = {
        {"3.21.30.32", kClient}, {"3.21.30.33", kVapOn}, {"3.21.30.31", host(0x0a000009)}};
    // The tunnel module's association record of the reply.
    const auto tunnel = [](uint16_t vlan) {
        bytes r = bytes{1} + host(vlan) + kClient + kOther + kOwn + bytes(12, 0) + host(0x0a000007);
        return tables{{"3.23.3.33", r}};
    };
    const bytes deauth = elem(0x65, kFake) + elem(0x68, {36}) + elem(0x5002, kClient);
    const bytes qos = elem(0x5062, {1, 0, 0, 0, 100, 0, 0, 0, 1, 0}) +
                      elem(0x5063, bytes{1} + bytes(31, 'A') + bytes{2} + bytes(31, 'B')) +
                      elem(0x5064, bytes(63, 'C'));
    const bytes qos_rec = bytes{1, 0, 0, 0} + host(100) + bytes(4, 0) + host(256) + bytes{1} +
                          bytes(31, 'A') + bytes{0, 2} + bytes(31, 'B') + bytes{0};
    const bytes short_vap = {0, 0x1a, 0x2b, 0x3c, 0x4d};
    const char* invalid = "Received invalid disassoc_cmd packet.";
    const char* bad_reply = "Error receiving client assoc reply message.";
    const char* bad_arp = "Received invalid new arp packet.";
    const struct {
        const char* what;
        uint16_t type;
        bytes body, local;
        tables kernel;
        const char* text = nullptr;  // a refusal's text (none: no error at all)
    } rows[] = {
        {"disassociate", 26, disassoc, bytes{5} + kClient, ended},
        {"the client MAC ends the walk", 26, elem(0x5002, kClient) + elem(0x21, kOther),
         bytes{5} + kClient, ended},
        {"another AP's disassociate", 26, elem(0x21, kOther) + elem(0x5002, kClient), kNone, none},
        {"19 bytes", 26, elem(0x5002, kClient) + elem(0x21, short_vap), kNone, none, invalid},
        {"21 bytes", 26, disassoc + bytes{0}, kNone, none, invalid},
        {"no client MAC", 26, elem(0x21, kOwn) + elem(0x5001, kClient), kNone, none},
        {"a 5-byte AP MAC", 26, elem(0x21, short_vap) + elem(0x5002, kClient + bytes{0}), kNone,
         none, invalid},
        {"resend", 40, disassoc, bytes{15} + kClient, none},
        {"resend of 21 bytes", 40, disassoc + bytes{0}, kNone, none,
         "Received invalid associated clients req packet."},
        {"threat deauth", 116, elem(0x67, {2}) + elem(0x21, kOwn) + deauth,
         bytes{32, 2, 36} + kClient + kFake, none},
        {"sentry mode missing", 116, elem(0x67, {1}) + elem(0x21, kOwn) + deauth, kNone, none,
         "map_process_client_deauth_pkt: sentry mode disabled on wlan0. Don't send deauth to "
         "Hostapd\n"},
        {"another AP's threat deauth", 116, elem(0x67, {2}) + elem(0x21, kOther) + deauth, kNone,
         none},
        {"assoc reply", 97, reply(0x5, 7), reply_rec(0x5, 7), none},
        {"no tunnel bit: no VAP lookup even for VLAN 0", 97, reply(0, 0, kOther),
         reply_rec(0, 0, kOther), none},
        {"tunnelled, VLAN 0: the VAP's, in the tunnel only", 97, reply(kTunnelled, 0),
         reply_rec(kTunnelled, 0), tunnel(0x2345)},
        {"tunnelled with a VLAN", 97, reply(kTunnelled | 1, 7), reply_rec(kTunnelled | 1, 7),
         tunnel(7)},
        {"tunnelled, VAP tunnel off", 97, reply(kTunnelled, 7, kVapOff), kNone, none,
         "map_process_client_assoc_reply_pkt: DL2 tunneling disabled, drop DL2 tunneled assoc "
         "reply"},
        {"tunnelled, unknown VAP", 97, reply(kTunnelled, 7, kOther), kNone, none,
         "map_process_client_assoc_reply_pkt: No VAP config info, radio 1 vap 0"},
        {"QoS elements at their lengths only", 97, reply(0, 7, kVapOn, qos),
         at(reply_rec(0, 7), 128, qos_rec), none},
        {"a long SSID is cut to 32 bytes", 97, reply(0, 7, kVapOn, elem(0x5004, bytes(40, 'x'))),
         at(reply_rec(0, 7), 20, bytes(32, 'x')), none},
        {"a 3-byte VLAN", 97, reply(0, 7, kVapOn, elem(0x500C, {0, 1, 2})), kNone, none, bad_reply},
        {"an 8-byte status", 97, reply(0, 7, kVapOn, elem(0x5044, bytes(8, 0))), kNone, none,
         bad_reply},
        {"an element past the message ends the walk", 97, reply(0, 7) + elem(0x5001, kVapOff, 7),
         reply_rec(0, 7), none},
        {"new ARP", 22, arp(elem(0x1004, {10, 0, 0, 9})), kNone, arp_entry},
        {"new ARP of 27 bytes", 22,
         elem(0x1003, kClient) + elem(0x1004, {10, 0, 0, 9}) + elem(7, short_vap), kNone, none,
         bad_arp},
        {"a 5-byte IPv4 in 28", 22,
         elem(0x1003, kClient) + elem(0x1004, {10, 0, 0, 7, 1}) + elem(0x1005, short_vap), kNone,
         none, bad_arp},
    };
    for (const auto& r : rows) {
        std::string out = captured(MAP_TRACE_LOCAL,
                                   [&] { EXPECT_EQ(tls(msg(r.type, r.body)), r.local) << r.what; });
        EXPECT_EQ(kernel(), r.kernel) << r.what;
        EXPECT_TRUE(r.text ? contains(out, r.text) : !contains(out, "Error")) << r.what << out;
    }
}

// Every command needs the connection record, the established state and
// element bytes; a short send to hostapd is reported.
TEST_F(ClientCmds, CommonChecksAndShortSends) {
    const struct {
        int (*fn)(map_switch_comm*, const uint8_t*, int);
        bytes body;
        const char *rx_error, *send_error;
    } rows[] = {
        {map_process_disassoc_cmd_pkt, elem(0x21, kOwn) + elem(0x5002, kClient),
         "Error receiving disassoc_cmd packet.", "Error sending disassoc_cmd msg to hostapd."},
        {map_process_resend_client_info_cmd_pkt, elem(0x5002, kClient) + elem(0x21, kOwn),
         "Error receiving associated clients req packet.",
         "Error sending resend_client_info_cmd msg to hostapd."},
        {map_process_client_assoc_reply_pkt, reply(0, 7),
         "Error receiving client assoc reply message.",
         "Error sending assoc reply cmd msg to hostapd."},
        {map_process_client_deauth_pkt, elem(0x67, {2}) + elem(0x5002, kClient),
         "Error receiving Client De-Auth message.", "Error: sending client deauth msg to hostapd."},
        {map_process_new_arp_pkt, arp(elem(0x1004, {10, 0, 0, 9})),
         "Error receiving new arp packet.", nullptr},
    };
    auto run = [&](const auto& r, map_switch_comm* sc, const uint8_t* data, const char* text) {
        std::string out = captured(0, [&] { EXPECT_EQ(r.fn(sc, data, int(r.body.size())), -1); });
        EXPECT_TRUE(contains(out, text)) << r.rx_error << " / " << text << "\n" << out;
    };
    for (const auto& r : rows) {
        run(r, nullptr, r.body.data(), "Incorrect context parameter.");
        run(r, rec.get(), nullptr, r.rx_error);
        rec->state = MAP_SWITCH_COMM_SWITCH_AUTH_MODE;
        run(r, rec.get(), r.body.data(), "Invalid mapd mode.");
        rec->state = MAP_SWITCH_COMM_ESTABLISHED;
    }
    mmsg_handler_close();
    for (const auto& r : rows) {
        if (r.send_error)
            run(r, rec.get(), r.body.data(), r.send_error);
    }
}

// A new ARP entry is written client MAC, VAP MAC, address; the first failed
// write ends it with its trace.  The message is hex-dumped first.
TEST_F(ClientCmds, NewArpWriteFailures) {
    const bytes body = arp(elem(0x1004, {10, 0, 0, 9}));
    std::string out = captured(MAP_TRACE_L2TUNNEL, [&] { tls(msg(22, body)); });
    EXPECT_TRUE(contains(out, "RXED TCP SWITCH_NEW_ARP:\n00 16 00 20 10 03")) << out;
    kernel();
    const struct {
        const char* trace;
        tables kernel;
    } rows[] = {
        {"arp_mac_addr error\n\r", {}},
        {"map_arp_set_vapmac error\n\r", {{"3.21.30.32", kClient}}},
        {"map_arp_set_arpip error\n\r", {{"3.21.30.32", kClient}, {"3.21.30.33", kVapOn}}},
    };
    for (unsigned nth = 1; const auto& r : rows) {
        map_platform_fail_nth(map_platform_op::sysctl_write, nth++);
        out = captured(MAP_TRACE_L2TUNNEL, [&] {
            EXPECT_EQ(map_process_new_arp_pkt(rec.get(), body.data(), int(body.size())), -1);
        });
        EXPECT_TRUE(contains(out, "sysctl error") && contains(out, r.trace)) << out;
        EXPECT_EQ(kernel(), r.kernel) << r.trace;
    }
}
