// Roaming clients through the relay: hostapd's records as the switch reads
// them from the TLS channel (the far end of a BIO pair), and the switch's
// messages as hostapd reads them on its port.
#include "local/map_client_auth.hpp"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "cltqos/map_cltqos_bw.hpp"
#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "dman/lsqlquery.hpp"
#include "local/mmsg_handler.hpp"
#include "stats/map_stats.hpp"
#include "support/bytes.hpp"
#include "support/tls_pair.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

// clang-format off
using namespace mapd_test;

namespace {

bytes text(const char* s, size_t width) { return wr().text(s, width).b; }
const bytes kAp = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x50}, kVap = {2, 0x1a, 0, 0, 0, 0x13},
            kSta = {2, 0x5c, 0, 0, 0, 0x22}, kCorp = text("corp", 32), kAlice = text("alice", 32),
            kNone = {}, kData = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

template <typename T>
bytes host(T v) {
    return bytes(reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + sizeof v);
}
bytes msg(uint16_t type, const bytes& e) { return wr().be16(type).be16(4 + e.size()).b + e; }
// A record of `size` zeros with values put at their offsets.
bytes rec_of(size_t size, std::initializer_list<std::pair<size_t, bytes>> fields) {
    bytes r(size);
    for (const auto& [off, v] : fields)
        std::copy(v.begin(), v.end(), r.begin() + off);
    return r;
}
// Two (down, up) flag-and-rate entries, and two type-and-name entries.
bytes bw(uint8_t f0, uint32_t r0, uint8_t f1, uint32_t r1) {
    return wr().u8(f0).be32(r0).u8(f1).be32(r1).b;
}
bytes names(uint8_t t0, const bytes& n0, uint8_t t1, const char* n1) {
    return bytes{t0} + n0 + bytes{t1} + text(n1, 31);
}
// hostapd's authentication of kSta on VAP `vap` of wlan0: limits 200000 down
// and 127999 up under the given dot1xValid flags, a down ACL of type `acl`
// with a 32-byte name, a stale down policy name of type 0.
bytes auth(uint16_t vlan, uint32_t flags, uint8_t vap, uint8_t v0, uint8_t v1, uint8_t acl) {
    return rec_of(308, {{0, bytes{14} + kVap + kSta}, {14, kCorp}, {46, kAlice},
        {78, host(vlan)}, {80, {vap}}, {82, host<uint16_t>(540)}, {84, {36, 1, 1}},
        {88, host(flags)}, {92, bytes(32, 0x77)}, {124, host(3600)}, {128, bytes{1} + kAp},
        {147, host(0x0a000007)}, {152, {v0}}, {156, host(200000)}, {160, {v1}},
        {164, host(127999)}, {168, bytes{acl} + bytes(32, 'A') + bytes{2} + text("up", 32)},
        {234, bytes{0} + text("stale", 32) + bytes{3} + text("pol-up", 32)},
        {300, {1, 2, 3, 4, 5}}});
}
bytes auth_msg(uint16_t vlan, uint32_t flags, const bytes& qos, bool rrm) {
    return msg(39, elem(0x5001, kVap) + elem(0x5002, kSta) + elem(0x5003, {0}) +
        elem(0x500A, kAlice) + elem(0x500C, wr().be16(vlan).b) + elem(0x5004, kCorp) +
        elem(0x500B, {2, 0x1c}) + elem(0x5006, {36}) + elem(0x500E, {1}) + elem(0x8079, {1}) +
        elem(0x5044, wr().be32(flags).b) + elem(0x5055, bytes(32, 0x77)) +
        elem(0x5056, wr().be32(3600).b) +
        elem(0x5042, bytes{1} + kAp + bytes(12, 0) + bytes{10, 0, 0, 7}) + qos +
        (rrm ? elem(0x5050, {1, 2, 3, 4, 5}) : kNone));
}
bytes pre_auth_rec(uint8_t type, const bytes& data) {
    return bytes{type} + kSta + kCorp + kAp + bytes{0} + host<uint16_t>(data.size()) + data;
}
bytes pre_auth_elems(const bytes& ssid, const bytes& data) {
    return elem(0xF100, kSta) + elem(0xF101, ssid) + elem(0xF102, kAp) + elem(0xF103, data);
}
bytes radius_rec(const bytes& pkt, uint32_t len, uint8_t radio = 1) {
    return rec_of(3056, {{0, bytes{25} + kAp + kVap + kSta + bytes{radio} + kCorp}, {52, pkt},
                         {3052, host(len)}});
}
bytes radius_elems(const bytes& radio, const bytes& ssid, const bytes& pkt) {
    return elem(0x21, kAp) + elem(0x5001, kVap) + elem(0x5002, kSta) + elem(0x5003, radio) +
           elem(0x5004, ssid) + elem(0x5020, pkt);
}

struct ClientAuth : testing::Test {
    sandbox sb;
    map_control_block cb{};
    map_switch_comm* rec = nullptr;
    tls_pair tp;  // the switch's end of the TLS channel
    int hostapd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);

    void SetUp() override {
        // The local ports are shared with other tests: wait for them.
        const sockaddr_in a{AF_INET, htons(MMSG_HOSTAPD_PORT), {htonl(INADDR_LOOPBACK)}, {}};
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (bind(hostapd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
               map_switch_comm_init(&rec, &cb) != 0) {
            ASSERT_LT(std::chrono::steady_clock::now(), end);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        cb.switch_comm = rec;
        ASSERT_EQ(map_cs_init(&cb), 0);
        memcpy(cb.cs->vaps[0].vap_mac[3].b, kVap.data(), 6);
        map_vap_config& v = cb.cs->vaps[0].vap_config[3];
        v.vlan_id = 20, v.def_bwmax_down = 100000, v.def_bwmax_up = 256001;
        v.def_acl_down = {1, "vacl"}, v.def_policy_down = {1, "vpol"};
        ASSERT_TRUE(tls_pair_open(tp, rec));
    }
    void TearDown() override {
        if (rec != nullptr)
            rec->ssl.reset(), map_cs_deinit(cb.cs), map_switch_comm_deinit(rec);
        close(hostapd), lsqlquery_close();
    }
    bytes tls() { return tls_pair_read(tp); }
    // What hostapd got since the last call (kNone: nothing): a marker goes behind it.
    bytes next() {
        bytes b(4096);
        pollfd p{hostapd, POLLIN, 0};
        const ssize_t n = poll(&p, 1, 5000) == 1 ? recv(hostapd, b.data(), b.size(), 0) : 0;
        b.resize(std::max<ssize_t>(n, 0));
        return b;
    }
    bytes local() {
        const bytes marker = {7}, got = (mmsg_handler_send(marker.data(), 1), next());
        EXPECT_EQ(got == marker ? got : next(), marker);
        return got == marker ? kNone : got;
    }
};

// Every message both ways (type 0: a hostapd datagram, else a switch message
// of that type) and the text it logs or traces: before the link is up, once it
// is, and when neither the switch nor hostapd can be reached (`fail`, when it
// differs).  An authenticated client is in the client table whatever became of
// its message; pre-authentication and PMK messages from the switch are
// hex-dumped at their own category.
TEST_F(ClientAuth, EveryMessageBothWays) {
    const bytes pol = names(1, text("vpol", 31), 3, "pol-up"), a31(31, 'A');
    const bytes own_pol = elem(0x5064, names(0, text("stale", 31), 3, "pol-up"));
    const bytes qos1 = elem(0x5059, bw(1, 192000, 1, 64000)) +
        elem(0x5060, names(1, a31, 2, "up")) + elem(0x5061, pol) +
        elem(0x5062, bw(1, 200000, 1, 127999)) + elem(0x5063, names(1, a31, 2, "up")) + own_pol;
    const bytes qos2 = elem(0x5059, bw(0, 64000, 2, 256000)) +
        elem(0x5060, names(1, text("vacl", 31), 2, "up")) + elem(0x5061, pol) +
        elem(0x5062, bw(0, 200000, 2, 127999)) + elem(0x5063, names(0, a31, 2, "up")) + own_pol;
    const bytes notify = bytes{24} + kAp + kVap + kSta + bytes{1} + kCorp + kAlice + bytes{1};
    const bytes pmk = bytes(32, 0x99), pmk_rec = bytes{12} + kSta + kCorp + pmk,
                data1600(1600, 0x5A), corp = text("corp", 4), sta = elem(0xF100, kSta);
    const char *auth_fail = "Error sending client_auth_data packet to switch.",
               *radius_fail = "Error sending radius proxy command packet to switch.",
               *too_long = "map_send_radius_proxy_cmd_pkt - Invalid radius proxy command message.",
               *pre_fail = "Error sending pre_auth_data packet to switch.",
               *ok_pmk = "pmk_pkt: Success sending pmk_cmd msg to hostapd, num_bytes = 71",
               *pmk_fail = "Error sending pmk_cmd msg to hostapd.",
               *bad_pmk = "map_process_pmk_pkt - Error receiving pmk packet.",
               *bad_pre = "map_process_pre_auth_pkt - Error receiving pre-auth packet.",
               *cmd_fail = "cmd msg to hostapd.\nmap_process_pre_auth_pkt: Error sending "
                           "pre_auth_cmd msg to hostapd, num_bytes = -1",
               *bad_radius = "Error received radius proxy command message.",
               *radius_hostapd = "Error sending radius proxy command msg to hostapd.";
    const struct {
        uint16_t type;
        bytes in, out;
        const char *text, *fail = nullptr;
    } rows[] = {
        {0, auth(7, 0x84, 3, 1, 1, 1), auth_msg(7, 0x84, qos1, true), "", auth_fail},
        {0, auth(0, 0x05, 3, 0, 2, 0), auth_msg(20, 0x01, qos2, false), "", auth_fail},
        {0, auth(0, 0x05, 9, 0, 2, 0), kNone, "client_auth_pkt - VAP config data not present."},
        {0, bytes{12} + kSta + kCorp + pmk,
         msg(38, elem(0xF100, kSta) + elem(0xF101, kCorp) + elem(0xF104, pmk)), "",
         "Error sending pmk_data packet to switch."},
        {0, pre_auth_rec(10, kData), msg(24, pre_auth_elems(kCorp, kData)), "", pre_fail},
        {0, pre_auth_rec(13, {}), msg(36, pre_auth_elems(kCorp, {})), "", pre_fail},
        {0, notify + bytes{9, 9}, msg(115, elem(0x21, kAp) + elem(0x5001, kVap) +
            elem(0x5002, kSta) + elem(0x5003, {1}) + elem(0x5004, kCorp) + elem(0x500A, kAlice) +
            elem(0x500D, {1})),
         "notify_pkt: sucessfully sent client preauth notify packet to switch.\n",
         "notify_pkt: Error in sending client preauth notify packet to switch.\n"},
        {0, radius_rec(kData, 10), msg(98, radius_elems({1}, kCorp, kData)),
         "process_radius_proxy_cmd_msg Begin Recevied proxy command from hostapd", radius_fail},
        {0, radius_rec(bytes(3000, 9), 3000), msg(98, radius_elems({1}, kCorp, bytes(3000, 9))),
         "process_radius_proxy_cmd_msg End Recevied proxy command from hostapd", radius_fail},
        {0, radius_rec(kData, 3001), kNone, too_long},
        {38, sta + elem(0x5001, kAp) + elem(0xF101, corp) + elem(0xF104, pmk), pmk_rec, ok_pmk,
         pmk_fail},
        {38, sta + elem(0xF104, pmk), bytes{12} + kSta + bytes(32, 0) + pmk, ok_pmk, pmk_fail},
        {38, sta + elem(0xF104, pmk) + elem(0xF101, kCorp + bytes{'x'}), pmk_rec, ok_pmk, pmk_fail},
        {38, sta + elem(0xF104, bytes(31, 0)), kNone, bad_pmk},
        {38, elem(0xF100, kSta + bytes{0}) + elem(0xF104, pmk), kNone, bad_pmk},
        {38, sta + elem(0xF104, pmk, 33), kNone, bad_pmk},
        {24, pre_auth_elems(corp, kData), pre_auth_rec(10, kData),
         "Success sending pre_auth_cmd msg to hostapd, num_bytes = 58", cmd_fail},
        {36, elem(0xF101, text("longer-name", 11)) + pre_auth_elems(corp, kData),
         pre_auth_rec(13, kData), "Success sending pre_auth_ans msg to hostapd, num_bytes = 58",
         "ans msg to hostapd.\nmap_process_pre_auth_pkt: Error sending pre_auth_ans msg to "
         "hostapd, num_bytes = -1"},
        {24, pre_auth_elems(corp, data1600), pre_auth_rec(10, data1600), "num_bytes = 1648",
         cmd_fail},
        {24, pre_auth_elems(corp, bytes(1601, 1)), kNone, bad_pre},
        {36, elem(0xF102, {1, 2, 3, 4, 5}), kNone, bad_pre},
        {98, radius_elems({1, 9}, corp, kData), radius_rec(kData, 10),
         "map_process_radius_proxy_cmd_pkt End send proxy command from switch to hostapd.\n",
         radius_hostapd},
        {98, radius_elems({2}, kCorp, bytes(3000, 3)), radius_rec(bytes(3000, 3), 3000, 2),
         "map_process_radius_proxy_cmd_pkt Begin send proxy command from switch to hostapd.\n",
         radius_hostapd},
        {98, radius_elems({2}, kCorp, bytes(3001, 3)), kNone, bad_radius},
        {98, radius_elems({}, kCorp, kData), kNone, bad_radius},
    };
    for (int pass = 0; pass < 3; ++pass) {  // link not up, up, nobody reachable
        rec->state = pass == 0 ? MAP_SWITCH_COMM_SWITCH_AUTH_MODE : MAP_SWITCH_COMM_ESTABLISHED;
        if (pass == 2)
            rec->ssl.reset(), mmsg_handler_close();
        for (const auto& r : rows) {
            map_cs_stats_client_table_clear(cb.cs);
            const bytes m = r.type ? msg(r.type, r.in) : r.in;
            // PMK and pre-authentication traces and dumps; notification and RADIUS traces.
            const uint32_t mask = r.type && r.type != 98 ? 0x160 : 0x50;
            const std::string out = captured(mask, [&] {
                if (r.type)
                    EXPECT_EQ(map_ssl_pkt_handler(&cb, m.data(), int(m.size())), 0);
                else
                    process_received_msg(m.data(), m.size());
            });
            const char* text = pass == 0 ? "Invalid mapd mode."
                               : pass == 1 || !r.fail ? r.text : r.fail;
            EXPECT_TRUE(contains(out, text) && (*text || !contains(out, "Error"))) << text << out;
            EXPECT_EQ(contains(out, "RXED TCP"), r.type && r.type != 98) << out;
            if (pass < 2) {
                EXPECT_EQ(tls(), pass == 1 && !r.type ? r.out : kNone) << pass << " " << text;
                EXPECT_EQ(local(), pass == 1 && r.type ? r.out : kNone) << pass << " " << text;
            }
            const map_client_table& t = cb.cs->stats.table;
            const map_client_entry& e = t.entry[0];
            EXPECT_TRUE(m[0] == 14 ? t.last == 0 && bytes(e.mac, e.mac + 6) == kSta &&
                e.radio == 1 && e.vap == 3 && e.auth == 1 && e.assoc == 1 : t.last == -1);
        }
    }
}

// The checks before anything is read: a connection record, and a record or
// element bytes; announced lengths beyond what is held are refused.
TEST_F(ClientAuth, ChecksAndOverlongLengths) {
    const bytes body = elem(0xF100, kSta), pre_dg = pre_auth_rec(10, kData);
    mpre_auth_cmdmsg_s pre{};
    pre.datalen = 1601;
    const uint8_t* d = body.data();
    const std::pair<std::function<int()>, const char*> rows[] = {
        {[&] { return map_send_pre_auth_pkt(nullptr, &pre); }, "Incorrect context parameter."},
        {[&] { return map_process_pmk_pkt(nullptr, d, 6); }, "Incorrect context parameter."},
        {[&] { return map_send_client_auth_pkt(rec, nullptr); }, "Invalid client auth message."},
        {[&] { return map_send_pmk_pkt(rec, nullptr); }, "Invalid pmk message."},
        {[&] { return map_send_pre_auth_pkt(rec, &pre); }, "Invalid pre-auth message."},
        {[&] { return map_send_client_preauth_notify_pkt(rec, nullptr); },
         "Invalid client pre-auth notification message."},
        {[&] { return map_send_radius_proxy_cmd_pkt(rec, nullptr); }, "Invalid radius proxy"},
        {[&] { return map_process_pmk_pkt(rec, d, 0); }, "Error receiving pmk packet."},
        {[&] { return map_process_pre_auth_pkt(rec, d, 0, 13); }, "Error receiving pre-auth"},
        {[&] { return map_process_radius_proxy_cmd_pkt(rec, d, 0); }, "Error received radius"},
        {[&] { return process_pre_auth_msg(pre_dg.data(), pre_dg.size() - 1); }, ""},
    };
    for (const auto& [call, text] : rows) {
        const std::string out = captured(0, [&] { EXPECT_EQ(call(), -1) << text; });
        EXPECT_TRUE(contains(out, text)) << text << "\n" << out;
    }
    EXPECT_EQ(tls(), kNone);
    EXPECT_EQ(local(), kNone);
}

TEST(ClientQosBandwidth, RoundsDownToTheStep) {
    const std::pair<uint32_t, uint32_t> rows[] = {{0, 0}, {1, 64000}, {63999, 64000},
        {100000, 64000}, {127999, 64000}, {128000, 128000}, {0xFFFFFFFF, 4294912000u}};
    for (const auto& [rate, rounded] : rows)
        EXPECT_EQ(map_cltqos_bw_round_down(rate), rounded) << rate;
}

}  // namespace
// clang-format on
