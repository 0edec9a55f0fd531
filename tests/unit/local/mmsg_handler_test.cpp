// The receive table and the hostapd side of the client relay.  The link is a
// real connection record; the switch is its own UDP socket and the far end of
// a TLS channel over a BIO pair.
#include "local/map_client_relay.hpp"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "dman/lsqlquery.hpp"
#include "local/mmsg_handler.hpp"
#include "stats/map_stats.hpp"
#include "support/bytes.hpp"
#include "support/tls_pair.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

using namespace mapd_test;

namespace {

const bytes kAp = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x50}, kVap = {2, 0x1a, 0, 0, 0, 0x11},
            kSta = {2, 0x5c, 0, 0, 0, 0x22}, kSsid32(32, 'S'), kCorp = wr().text("corp", 32).b;
bytes msg(uint16_t type, const bytes& elems) {
    return wr().be16(type).be16(4 + elems.size()).b + elems;
}
bytes probe(const bytes& ssid) {
    return bytes{1} + kVap + kSta + bytes{1} + ssid + bytes{0xC4, 6};
}
const bytes kVapSta = elem(0x5001, kVap) + elem(0x5002, kSta);  // the two MAC elements
bytes probe_msg(const bytes& ssid) {
    return msg(11, kVapSta + elem(0x5003, {1}) + elem(0x5004, ssid) + elem(0x5005, {0xC4}) +
                       elem(0x5006, {6}));
}
void receive(const bytes& d) {
    process_received_msg(d.data(), d.size());
}

struct Relay : testing::Test {
    sandbox sb;
    map_control_block cb{};
    map_switch_comm* rec = nullptr;
    tls_pair tp;  // the switch's end of the TLS channel

    void SetUp() override {
        ASSERT_EQ(map_switch_comm_init(&rec, &cb), 0);
        cb.switch_comm = rec;
        ASSERT_EQ(map_cs_init(&cb), 0);
        memcpy(cb.cs->vaps[1].vap_mac[2].b, kVap.data(), 6);
        rec->switch_ip = INADDR_LOOPBACK;  // the record's own UDP socket plays the switch
        ASSERT_TRUE(tls_pair_open(tp, rec));
    }
    void TearDown() override {
        if (rec != nullptr) {
            rec->ssl.reset();
            map_cs_deinit(cb.cs);
            map_switch_comm_deinit(rec);
        }
        lsqlquery_close();
    }
    // The datagrams the switch got since the last call: a marker goes behind
    // them, so what arrives before it is all there was.
    bytes udp() {
        const uint8_t marker = 0xEE;
        bytes out, b(2048);
        EXPECT_EQ(map_switch_comm_udp_send(rec, rec->switch_ip, &marker, 1), 0);
        for (pollfd p{rec->udp_fd, POLLIN, 0}; poll(&p, 1, 5000) == 1;) {
            const ssize_t n = recv(rec->udp_fd, b.data(), b.size(), 0);
            if (n == 1 && b[0] == marker)
                return out;
            out = out + bytes(b.begin(), b.begin() + std::max<ssize_t>(n, 0));
        }
        ADD_FAILURE() << "the marker did not come back";
        return out;
    }
    bytes tls() { return tls_pair_read(tp); }
};

// Each type at every length up to one past its accepted one: only accepted
// lengths pass, and refused ones are reported as their type says, or not at all.
TEST_F(Relay, EveryTypeAtEveryLength) {
    const char* kSize = "Invalid msgsize[%zu]\n\n";
    const char* kTspec = "process_tspec_msg: message size mismatch: exp=120 act=%zu\n";
    const char* kRrm = "process_rrm_chan_load_rep_msg: message size mismatch: exp=18 act=%zu\n";
    const char* kStatus = "process_tspec_status_msg: message size mismatch: exp=984 act=%zu\n";
    // Type, accepted length, whether longer ones are accepted too, the line for a refused length.
    const std::tuple<uint8_t, size_t, bool, const char*> rows[] = {
        {1, 48, false, nullptr},   {3, 14, false, nullptr},    {4, 46, false, nullptr},
        {6, 1, true, nullptr},     {7, 1, true, nullptr},      {12, 71, false, nullptr},
        {14, 308, false, nullptr}, {16, 16, false, nullptr},   {17, 53, false, nullptr},
        {22, 14, false, nullptr},  {25, 3056, false, nullptr}, {34, 133, false, nullptr},
        {24, 85, true, kSize},     {35, 120, false, kTspec},   {39, 18, false, kRrm},
        {40, 984, false, kStatus}};
    for (const auto& [type, n, at_least, report] : rows) {
        std::string expected;
        const std::string out = captured(MAP_TRACE_TSPEC | MAP_TRACE_RRM | MAP_TRACE_PREAUTH, [&] {
            for (size_t len = 1; len <= n + 1; ++len) {
                bytes d(len);
                d[0] = type;
                const bool ok = at_least ? len >= n : len == n;
                EXPECT_EQ(mmsg_length_accepted(d.data(), len), ok) << +type << " " << len;
                // A refused length prints its report and nothing else; an
                // accepted one reaches its handler, whose traces are tested there.
                if (!ok)
                    receive(d);
                char line[128] = "";
                if (!ok && report != nullptr)
                    snprintf(line, sizeof line, report, len);
                expected += line;
            }
        });
        EXPECT_EQ(out, expected) << +type;
    }
    // Pre-authentication: the header and exactly the data it announces, at most 1600 bytes.
    const std::tuple<uint16_t, size_t, bool> pre[] = {
        {0, 47, false},  {0, 48, true},      {0, 49, false},      {10, 58, true},
        {10, 48, false}, {1600, 1648, true}, {1601, 1649, false}, {0xFFFF, 4000, false}};
    for (uint8_t type : {10, 13}) {
        for (const auto& [datalen, len, ok] : pre) {
            bytes d(len);
            d[0] = type;
            memcpy(d.data() + 46, &datalen, len >= 48 ? 2 : 0);
            EXPECT_EQ(mmsg_length_accepted(d.data(), d.size()), ok) << datalen << " " << len;
            receive(d);
        }
    }
}

// Types without a row or a handler are read and dropped, an empty datagram
// is reported, and the socket still carries a probe request after them.
// Messages to hostapd and to the TSPEC application are traced in hex; those
// to mapqosd are not.
TEST_F(Relay, LocalSocketTraffic) {
    const int fd = mmsg_socket_get();  // bound to the port it sends to: it reads its own
    const sockaddr_in mapd{AF_INET, htons(MMSG_MAPD_PORT), {htonl(INADDR_LOOPBACK)}, {}};
    uint8_t buf[MMSG_RX_BUF_SIZE];
    std::string out = captured(0, [&] {
        for (const bytes& d :
             {bytes(48, 2), bytes(7, 5), bytes(20, 11), bytes(48, 0xFF), bytes{}, probe(kCorp)}) {
            sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&mapd),
                   sizeof mapd);
            pollfd p{fd, POLLIN, 0};
            ASSERT_EQ(poll(&p, 1, 5000), 1);
            EXPECT_EQ(mmsg_handler_receive(fd, buf, sizeof buf), int(d.size()));
        }
    });
    EXPECT_EQ(out.find("Error"), out.rfind("Error")) << out;
    EXPECT_TRUE(contains(out, "process_received_msg - Invalid message length.")) << out;
    EXPECT_EQ(udp(), probe_msg(wr().text("corp", 4).b));

    const bytes cmd = bytes{5} + kSta;
    out = captured(MAP_TRACE_CLIENT_AUTH, [&] {
        EXPECT_EQ(mmsg_handler_send(cmd.data(), cmd.size()), 7);
        EXPECT_EQ(mmsg_handler_tspec_send(cmd.data(), cmd.size()), 7);
        EXPECT_EQ(mmsg_handler_mapqosd_send(cmd.data(), cmd.size()), 7);
    });
    const std::string hex = "disassoc_cmdmsg_s:\n05 02 5c 00 00 00 22\n";
    EXPECT_EQ(out, hex + hex);
}

// Each sender's message byte by byte, sent only for the accepted length: the
// probe request by UDP from the TLS handshake on, the others by TLS once the
// link is established.
TEST_F(Relay, SwitchMessagesInEveryLinkState) {
    bytes conn = bytes{16} + kSta + bytes{0, 0, 0, 0, 0, 2, 3, 0, 0};
    const uint32_t ip = 0xC0A80A05;
    memcpy(conn.data() + 8, &ip, 4);
    const std::pair<bytes, bytes> rows[] = {
        // datagram, message
        {probe(kCorp), probe_msg(wr().text("corp", 4).b)},
        {probe(kSsid32), probe_msg(kSsid32)},
        {probe(bytes(32)), probe_msg({})},
        {bytes{17} + kAp + kVap + kSta + bytes{2} + bytes(33, 'A'),
         msg(96, elem(0x21, kAp) + kVapSta + elem(0x5003, {2}) + elem(0x5004, bytes(33, 'A')))},
        {bytes{3} + kVap + kSta + bytes{2}, msg(13, kVapSta + elem(0x5003, {2}))},
        {bytes{4} + kVap + kSta + kSsid32 + bytes{2},
         msg(14, kVapSta + elem(0x5004, kSsid32) + elem(0x5010, {2}))},
        {conn, msg(4358, elem(0x5001, kSta) + elem(0x5002, {1}) +
                             elem(0x5003, bytes(12) + bytes{0xC0, 0xA8, 10, 5}) +
                             elem(0x5004, {2}) + elem(0x5005, {3}))},
        {bytes{22, 0} + kAp + kSta, msg(112, elem(0x5041, kAp) + elem(0x0013, kSta))},
    };
    for (const auto& [datagram, message] : rows) {
        const size_t n = datagram.size();
        const bool is_probe = datagram[0] == 1;
        const char* why =
            is_probe ? "Error sending probe_req packet to switch." : "Invalid mapd mode.";
        for (int state = MAP_SWITCH_COMM_LISTEN_MODE; state <= MAP_SWITCH_COMM_ESTABLISHED;
             ++state) {
            rec->state = state;
            const bool up = state == MAP_SWITCH_COMM_ESTABLISHED ||
                            (is_probe && state >= MAP_SWITCH_COMM_SSL_ESTABLISH_MODE);
            for (size_t len = 1; len <= n + 1; ++len) {
                bytes d = datagram;
                d.resize(len);
                const std::string out = captured(0, [&] { receive(d); });
                const bytes want = up && len == n ? message : bytes{};
                EXPECT_EQ(udp(), is_probe ? want : bytes{}) << +d[0] << " " << state << " " << len;
                EXPECT_EQ(tls(), is_probe ? bytes{} : want) << +d[0] << " " << state << " " << len;
                EXPECT_EQ(contains(out, why), len == n && !up) << state << " " << len << out;
            }
        }
    }
}

// A disassociation leaves the client table (and, once past the link check,
// ends the client's tunnel) and an authentication failure counts on its VAP,
// whether the switch is told or not.
TEST_F(Relay, ClientTableFollowUpsWhateverTheSend) {
    const bytes other = {2, 0x5c, 0, 0, 0, 0x33};
    const std::tuple<int, const char*, std::string> rows[] = {
        // state, error, tunnel table
        {MAP_SWITCH_COMM_LISTEN_MODE, "Invalid mapd mode.", "<missing>"},
        {MAP_SWITCH_COMM_ESTABLISHED, "Error sending disassoc_req packet to switch.",
         std::string(6, '\0') + std::string(kSta.begin(), kSta.end())},
    };
    map_cs* cs = cb.cs;
    rec->ssl.reset();  // every TLS send fails
    for (uint32_t n = 1; const auto& [state, error, tunnel] : rows) {
        rec->state = state;
        map_cs_process_assoc_cmd(cs, 2, kSta.data(), kVap.data(), 1);
        map_cs_process_assoc_cmd(cs, 1, other.data(), kVap.data(), 1);
        const std::string out = captured(0, [&] {
            receive(bytes{3} + kVap + kSta + bytes{2});
            for (uint8_t status : {1, 2, 2})
                receive(bytes{4} + kVap + kSta + kCorp + bytes{status});
        });
        EXPECT_TRUE(contains(out, error)) << out;
        EXPECT_EQ(sb.read("/sysctl/3.23.3.32"), tunnel);
        EXPECT_EQ(cs->stats.table.last, 0);
        EXPECT_EQ(bytes(cs->stats.table.entry[0].mac, cs->stats.table.entry[0].mac + 6), other);
        EXPECT_EQ(cs->vaps[1].vap_stats[2].auth_fail[1], n);
        EXPECT_EQ(cs->vaps[1].vap_stats[2].auth_fail[0], 2 * n++);
        map_cs_process_disassoc_cmd(cs, other.data());
    }
}

}  // namespace
