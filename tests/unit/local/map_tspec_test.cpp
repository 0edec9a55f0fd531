// TSPEC admission and the radio reports from both ends: the switch (the
// record's UDP socket, the far end of a TLS channel over a BIO pair), the
// TSPEC application and hostapd (sockets of the test on their ports), and the
// status counters left in the statistics records.
#include "local/map_tspec.hpp"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "dman/lsqlquery.hpp"
#include "local/mmsg_handler.hpp"
#include "store/map_dman_lsql.hpp"
#include "support/bytes.hpp"
#include "support/tls_pair.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

using namespace mapd_test;

namespace {

const bytes kAp = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x50}, kVap = {2, 0x1a, 0, 0, 0, 0x11},
            kSta = {2, 0x5c, 0, 0, 0, 0x22}, kMarker = {7};
template <typename T>
bytes host(T v) {
    return bytes(reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + sizeof v);
}
bytes at(bytes rec, size_t off, const bytes& v) {
    std::copy(v.begin(), v.end(), rec.begin() + off);
    return rec;
}
bytes msg(uint16_t type, const bytes& elems) {
    return wr().be16(type).be16(4 + elems.size()).b + elems;
}
// The TSPEC body in network order (wire) or host order (a record).
bytes body(bool wire) {
    auto n16 = [&](uint16_t v) { return wire ? wr().be16(v).b : host(v); };
    auto n32 = [&](uint32_t v) { return wire ? wr().be32(v).b : host(v); };
    bytes b = bytes{0x11, 0x21, 0x22, 0x23} + n16(0x102) + n16(0x304);
    for (uint32_t i = 0; i < 11; ++i)
        b = b + n32(0x10203000 + i);
    return b + n16(0x506) + n16(0x708);
}
// A TSPEC record: the three MACs, radio 1, SSID "voice", access category 3, the body.
bytes tspec(uint8_t type, uint8_t cmd) {
    bytes r = at(at(at(at(bytes(120, 0), 0, {type, cmd}), 2, kAp), 8, kVap), 14, kSta);
    return at(at(r, 20, bytes{1} + wr().text("voice", 32).b + bytes{3}), 56, body(false));
}

struct Tspec : testing::Test {
    sandbox sb;
    map_control_block cb{};
    map_switch_comm* rec = nullptr;
    int hostapd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int app = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);  // the TSPEC application
    tls_pair tp;  // the switch's end of the TLS channel

    // hostapd's and the application's ports are shared with other tests: wait for them.
    static void bind_to(int fd, uint16_t port) {
        sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ASSERT_TRUE(errno == EADDRINUSE && std::chrono::steady_clock::now() < end);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    void SetUp() override {
        bind_to(hostapd, MMSG_HOSTAPD_PORT);
        bind_to(app, MMSG_TSPEC_PORT);
        ASSERT_EQ(map_switch_comm_init(&rec, &cb), 0);
        cb.switch_comm = rec;
        rec->ap.max_bss = 17;  // one VAP more than a status message holds
        ASSERT_EQ(map_cs_init(&cb), 0);
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
        close(hostapd);
        close(app);
    }
    bytes tls() { return tls_pair_read(tp); }
    // What `fd` got since the last call, joined: `mark` sends a marker behind it.
    template <typename Mark>
    bytes drain(int fd, Mark mark) {
        bytes got, b(2048);
        mark();
        for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 5000) == 1;) {
            b.resize(std::max<ssize_t>(recv(fd, b.data(), 2048, 0), 0));
            if (b == kMarker)
                return got;
            got = got + b;
            b.resize(2048);
        }
        ADD_FAILURE() << "the marker did not come back";
        return got;
    }
    bytes udp() {
        return drain(rec->udp_fd, [&] {
            (void)map_switch_comm_udp_send(rec, INADDR_LOOPBACK, kMarker.data(), 1);
        });
    }
    bytes to_app() {
        return drain(app, [] { mmsg_handler_tspec_send(kMarker.data(), 1); });
    }
};

}  // namespace

// The TSPEC requests, the channel load report and hostapd's two reports as the
// switch receives them, and what each refusal says.
TEST_F(Tspec, LocalMessagesToTheSwitch) {
    const bytes head = elem(0x21, kAp) + elem(0x5001, kVap) + elem(0x5002, kSta) +
                       elem(0x5003, {1}) + elem(0x5004, wr().text("voice", 32).b) +
                       elem(0x5074, {3});
    const bytes with_body = head + elem(0x5071, body(true)) + elem(0x5A, wr().be32(55).b);
    auto req = [](uint8_t cmd) { return at(tspec(35, cmd), 112, host(55u) + bytes{10, 9, 2, 1}); };
    const bytes carried = msg(31, elem(0x920, {1, 6, 11})), ch = bytes{7} + carried,
                rf = bytes{6} + carried;
    const int up = MAP_SWITCH_COMM_ESTABLISHED, auth = MAP_SWITCH_COMM_SWITCH_AUTH_MODE;
    const struct {
        uint32_t admin;
        int state;
        bytes datagram, tls, udp = {};
        const char* text = nullptr;  // a refusal's text (none: no error at all)
    } rows[] = {
        {0, up, req(1), msg(104, with_body + elem(0x5075, {9, 10, 2}))},  // 155 bytes
        {0, up, req(3), msg(106, with_body)},                             // 148 bytes
        {0, up, req(7), msg(107, head)},                                  // 80 bytes
        {1, up, req(2), {}, {}, "Unexpected command type (2) from hostapd."},
        {1, auth, req(1), {}, {}, "Invalid mapd mode."},
        {0, up, bytes{39} + kAp + kSta + bytes{36} + host<uint16_t>(0x1234) + bytes{1, 0x80},
         msg(530, elem(0x21, kAp) + elem(0x13, kSta) + elem(0x43, {36}) +
                      elem(0x504F, {0x12, 0x34}) + elem(0x504D, {1}) +
                      elem(0x504E, {0x80}))},  // 45 bytes
        {1, up, ch, carried, {}, "pkt: Supported Channels pkt to Switch:\n"},
        {0, up, ch, {}, {}, "mapd mode 0\n\nInvalid mapd state\n"},
        {1, up, rf, {}, carried, "mapd mode 1\n\nmap_send_rfscan_report_pkt: RF Scan Report pkt"},
        {1, auth, rf, {}, {}, "Error sending rfscan report packet to switch"},
    };
    for (const auto& r : rows) {
        cb.admin_mode = r.admin;
        rec->state = r.state;
        const std::string out = captured(
            MAP_TRACE_RADIO, [&] { process_received_msg(r.datagram.data(), r.datagram.size()); });
        EXPECT_EQ(tls(), r.tls) << +r.datagram[0] << " " << +r.datagram[1];
        EXPECT_EQ(udp(), r.udp) << +r.datagram[0];
        EXPECT_TRUE(r.text ? contains(out, r.text) : !contains(out, "Error")) << out;
    }
}

// The switch's replies as the TSPEC application receives them, the AP's mode
// changes, the RF-scan request of the timer, and the refusals and short sends.
TEST_F(Tspec, WhatTheLocalPeersReceive) {
    const bytes reply = elem(0x21, kAp) + elem(0x5001, kVap) + elem(0x5002, kSta) +
                        elem(0x5003, {1, 9}) + elem(0x5004, wr().text("voice", 5).b) +
                        elem(0x5074, {3}) + elem(0x5071, body(true)) + elem(0x5072, {1}) +
                        elem(0x5A, wr().be32(55).b) + elem(0x7777, {1, 2, 3});
    const bytes admitted = at(tspec(4, 2), 119, {1});  // utilisation 0 whatever came
    const char* rx_error = "Error receiving TSPEC admission reply message.";
    const struct {
        uint16_t type;
        bytes body, got;
        const char* text = nullptr;
    } rows[] = {
        {105, reply, admitted},
        {106, reply, at(tspec(4, 5), 119, {1})},
        {105, reply + elem(0x5004, bytes(40, 'x')), at(admitted, 21, bytes(32, 'x'))},  // cut
        {105, reply + elem(0x5072, {0}, 2), admitted},  // an element past the end ends the walk
        {105, reply + elem(0x5002, {1, 2, 3, 4, 5}), {}, rx_error},
        {105, reply + elem(0x5071, bytes(57, 1)), {}, rx_error},
    };
    for (const auto& r : rows) {
        const bytes m = msg(r.type, r.body);
        const std::string out =
            captured(0, [&] { map_ssl_pkt_handler(&cb, m.data(), int(m.size())); });
        EXPECT_EQ(to_app(), r.got) << r.body.size();
        EXPECT_TRUE(r.text ? contains(out, r.text) : !contains(out, "Error")) << out;
    }
    map_global_dont_disable_ssh_session = 1;  // no SSH session to end here
    for (const auto& [fn, got] : {std::pair{&map_standalonemode_to_managedmode, bytes{6, 1, 1}},
                                  {&map_standalonemode_to_managedmode, {}},
                                  {&map_managedmode_to_standalonemode, bytes{6, 1, 0}},
                                  {&map_managedmode_to_standalonemode, {}}}) {
        captured(0, [&] { fn(&cb); });
        EXPECT_EQ(to_app(), got);
    }
    map_global_dont_disable_ssh_session = 0;
    rec->rfscan_interval = 300;
    EXPECT_EQ(map_switch_comm_rfscan_timeout(rec), 0);
    const bytes request = bytes{6, 0, 0, 0} + host(300);
    EXPECT_EQ(drain(hostapd, [] { mmsg_handler_send(kMarker.data(), 1); }), request);

    mmsg_handler_close();
    const std::string out = captured(0, [&] {
        EXPECT_EQ(map_process_tspec_msg_reply_pkt(rec, reply.data(), int(reply.size()), 3), -1);
        EXPECT_EQ(map_process_tspec_msg_reply_pkt(rec, reply.data(), int(reply.size()), 2), -1);
        EXPECT_EQ(
            map_send_tspec_ap_state_change(rec, 1) + map_send_tspec_ap_state_change(nullptr, 1),
            -2);
    });
    for (const char* text :
         {"Unexpected message command type received: 3.", "Incorrect context parameter.",
          "Error sending TSPEC admission reply msg to tspec application.",
          "Error sending mapd direct AP state change msg to tspec application."})
        EXPECT_TRUE(contains(out, text)) << text << out;
}

// A status message fills the slot of its access category (3: slot 0, 2: slot
// 1) in the AP, radio and VAP records, each radio's VAPs up to its number (17
// here, one more than the message holds); other categories and command types
// change nothing.  Counter k of a message (from 0) is b + k.
TEST_F(Tspec, StatusTableSlots) {
    map_stats_db& st = cb.cs->stats;
    map_cs_radio_vaps* vaps = cb.cs->vaps;
    auto view = [&](int s) {  // the AP's; radio 2's; VAPs 16 and 17 of radio 1; VAP 16 of radio 2
        std::vector<uint32_t> v{st.global.ts_status[s][0], st.global.ts_status[s][2],
                                st.global.ts_summary[s][0], st.global.ts_summary[s][3]};
        for (const map_ts_status* e :
             {&st.radio[1].ts_status[s], &vaps[0].vap_stats[15].ts_status[s],
              &vaps[0].vap_stats[16].ts_status[s], &vaps[1].vap_stats[15].ts_status[s]})
            v.insert(v.end(), {e->lead, e->word[0], e->word[5]});
        return v;
    };
    const struct {
        uint8_t ac, cmd;
        int slot;
        const char* text = nullptr;
    } rows[] = {{3, 1, 0},
                {2, 1, 1},
                {1, 1, -1, "Invalid AC index (1) in TSPEC Status message."},
                {3, 2, -1, "Invalid command type (2) in TSPEC Status message."}};
    for (uint32_t b = 0x100; const auto& r : rows) {
        bytes d = {40, r.cmd, r.ac, 0};
        for (uint32_t k = 0; k < 245; ++k)
            d = d + host(b + k);
        // view()'s counters: the AP's 0, 2, 3, 6; then 14, 126, none, 238 with their 1st and 6th
        // after.
        std::vector<uint32_t> want{b, b + 2, b + 3, b + 6};
        for (uint32_t k : {14u, 126u, 0u, 238u})
            want.insert(want.end(), {k ? (b + k) & 0xFF : 0, k ? b + k + 1 : 0, k ? b + k + 6 : 0});
        const auto before0 = view(0), before1 = view(1);
        const std::string out = captured(0, [&] { process_received_msg(d.data(), d.size()); });
        EXPECT_EQ(view(0), r.slot == 0 ? want : before0) << +r.ac << " " << +r.cmd;
        EXPECT_EQ(view(1), r.slot == 1 ? want : before1) << +r.ac << " " << +r.cmd;
        EXPECT_TRUE(r.text ? contains(out, r.text) : !contains(out, "Error")) << out;
        b += 0x1000;
    }
}
