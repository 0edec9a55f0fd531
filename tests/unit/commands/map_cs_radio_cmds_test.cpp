// The switch's radio commands: the RF-scan interval, the channel set child's
// database writes and the power change command hostapd receives (a socket of
// the test bound to its port).  Also the set-up the WIDS and RRM tests share.
#include "commands/map_cs_radio_cmds.hpp"

#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "commands/map_cs.hpp"
#include "core/map_handler.hpp"
#include "local/mmsg_handler.hpp"
#include "platform/platform.hpp"
#include "stats/map_proc.hpp"
#include "support/bytes.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

using namespace mapd_test;

namespace radio_cmds_test {

using handler_fn = int (*)(map_control_block*, const uint8_t*, int);

// An established AP of its own sandbox root, wlan0/wlan1 at 02:00:00:00:00:10/11, with
// hostapd's port bound by the test (waiting while another test holds it).
void with_ap(const std::function<void(map_control_block&, int hostapd)>& body) {
    sandbox sb;
    sb.write("/sys/class/net/wlan0/address", "02:00:00:00:00:10\n");
    sb.write("/sys/class/net/wlan1/address", "02:00:00:00:00:11\n");
    ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50"));
    map_proc_mac_cache_clear();
    auto sc = std::make_unique<map_switch_comm>();
    sc->tcp_fd = sc->udp_fd = sc->l2_fd = sc->ssl_rfd = sc->mapd_fd = sc->mapqosd_fd = -1;
    sc->state = MAP_SWITCH_COMM_ESTABLISHED;
    map_control_block cb{};
    cb.switch_comm = sc.get();
    sc->cb = &cb;
    ASSERT_EQ(map_cs_init(&cb), 0);
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, htons(MMSG_HOSTAPD_PORT), {htonl(INADDR_LOOPBACK)}, {}};
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
         bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || mmsg_handler_init() < 0;) {
        ASSERT_TRUE(errno == EADDRINUSE && std::chrono::steady_clock::now() < end);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    body(cb, fd);
    mmsg_handler_close();
    close(fd);
    map_cs_deinit(cb.cs);
    lsqlquery_close();
}

// Runs `fn` on `body` and checks its result and its log (`text`, or no error
// at all); returns every datagram hostapd got before a marker sent afterwards.
bytes run(map_control_block& cb, int hostapd, handler_fn fn, const bytes& body, int rc,
          const char* text, const char* what) {
    const uint32_t mask = MAP_TRACE_LOCAL | MAP_TRACE_RADIO | MAP_TRACE_RRM;
    std::string out =
        captured(mask, [&] { EXPECT_EQ(fn(&cb, body.data(), int(body.size())), rc); });
    EXPECT_TRUE(text ? contains(out, text) : !contains(out, "rror")) << what << "\n" << out;
    const uint8_t marker[1] = {7};
    EXPECT_EQ(mmsg_handler_send(marker, 1), 1);
    bytes all, got(2048);
    for (pollfd p{hostapd, POLLIN, 0}; poll(&p, 1, 5000) == 1;) {
        got.resize(std::max(recv(hostapd, got.data(), 2048, 0), ssize_t{0}));
        if (got == bytes{7})
            return all;
        all = all + got;
        got.resize(2048);
    }
    ADD_FAILURE() << what << ": no marker";
    return all;
}

}  // namespace radio_cmds_test

using namespace radio_cmds_test;

namespace {

const bytes kOwn = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x50}, kOther = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x99};
const bytes kWlan0 = {2, 0, 0, 0, 0, 0x10}, kWlan1 = {2, 0, 0, 0, 0, 0x11}, kNone = {};
const bytes kAp = elem(0x21, kOwn), kOtherAp = elem(0x21, kOther);

bytes id(uint8_t radio) { return elem(0x3101, {radio}); }
std::string db(const char* radio, const char* property) { return db_get("radio", radio, property); }

}  // namespace

// Result, log and what hostapd gets per command; the interval, the power levels kept
// (radio 1 has no configured name) and what the channel set child writes (only the last row).
TEST(RadioCmds, Commands) {
    with_ap([](map_control_block& cb, int hostapd) {
        strcpy(cb.cs->radio[1].radio_name, "wlan1");
        const bytes ch = elem(0x3104, wr().be32(0x124).b), interval = elem(0x3101, {1, 44});
        const auto scan = map_cs_process_rf_scan_intvl_pkt, channel = map_cs_channel_set_child;
        const auto power = map_cs_process_power_lvl_set_pkt;
        const struct {
            handler_fn fn;
            const char* what;
            bytes body;
            int rc;
            bytes local;
            const char* text = nullptr;
        } rows[] = {
            {scan, "interval", kAp + interval + kOtherAp, 0, kNone},
            {scan, "length 4", elem(0x3101, {0, 0, 0, 4}) + interval, 0, kNone,
             "ERROR: Received incorrect RF Scan Interval Config pkt. elem_len == 4, *len == 10"},
            {scan, "another AP", kOtherAp + interval, -1, kNone, "AP MAC Address received is not"},
            {scan, "no interval", elem(0x3104, interval), -1, kNone, "Msg with invalid IE"},
            {power, "radio 2, 17", kAp + id(2) + elem(0x3105, {17}), 0, bytes{8, 17} + kWlan1},
            {power, "radio 1", id(1) + ch + elem(0x3105, {9}), 0, bytes{8, 9} + kWlan0,
             "AP received Power Level set msg with invalid IE"},
            {power, "another AP", id(2) + kOtherAp + elem(0x3105, {5}), -1, kNone, "not same"},
            {power, "radio id 0", id(0) + elem(0x3105, {5}), -1, kNone, "incorrect radio id(=0)"},
            {power, "level first", elem(0x3105, {5}) + id(1), -1, kNone, "No radio id before"},
            {channel, "channel 0", id(2) + elem(0x3104, {0, 0, 0, 0}), 2, kNone},
            {channel, "radio id 3", id(3) + ch, 1, kNone, "ERROR: Received incorrect radio id(=3)"},
            {channel, "channel first", ch + id(2), 1, kNone, "No radio id before element 0x3104"},
            {channel, "another AP", kOtherAp + id(2) + ch, 1, kNone, "is not same as self MAC"},
            {channel, "radio 2", kAp + elem(0x3105, {1}) + id(2) + ch, 0, kNone,
             "AP received Channel set msg with invalid IE: 0x3105"},
        };
        for (const auto& r : rows) {
            EXPECT_EQ(run(cb, hostapd, r.fn, r.body, r.rc, r.text, r.what), r.local) << r.what;
            const bool written = r.fn == channel && r.rc == 0;
            EXPECT_EQ(db("wlan1", "static-channel"), written ? "36" : "<absent>") << r.what;
            EXPECT_EQ(db("wlan1", "tx-power"), written ? "17" : "<absent>") << r.what;
        }
        EXPECT_EQ(db("wlan1", "channel-policy"), "static");
        EXPECT_EQ(cb.switch_comm->rfscan_interval, 300);
        EXPECT_EQ(cb.switch_comm->rfscan_countdown, 300);
        EXPECT_EQ(cb.cs->radio[0].tx_power, 9);
        EXPECT_EQ(cb.cs->radio[1].tx_power, 17);
    });
}

// Through the TLS dispatcher: the rows reach their handlers, a child writes the channel, a
// failed fork is logged, and nothing is taken before the link is established.
TEST(RadioCmds, Dispatch) {
    with_ap([](map_control_block& cb, int hostapd) {
        auto tls = [&](uint16_t type, const bytes& body, const bytes& local, const char* text) {
            const bytes m = wr().be16(type).be16(4 + body.size()).b + body;
            EXPECT_EQ(run(cb, hostapd, map_ssl_pkt_handler, m, 0, text, text), local) << type;
        };
        tls(9, elem(0x3101, {0, 20}), kNone, nullptr);
        tls(33, id(1) + elem(0x3105, {3}), bytes{8, 3} + kWlan0, nullptr);
        tls(32, id(1) + elem(0x3104, {0, 0, 0, 11}), kNone, nullptr);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (db("wlan0", "static-channel") != "11" && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(db("wlan0", "static-channel"), "11");
        EXPECT_EQ(db("wlan0", "tx-power"), "3");
        signal(SIGCHLD, SIG_DFL);
        map_platform_fail_nth(map_platform_op::fork, 1);
        tls(32, id(1), kNone, "Error: Forking child process ");
        cb.switch_comm->state = MAP_SWITCH_COMM_SWITCH_AUTH_MODE;
        for (uint16_t type : {9, 32, 33, 528, 529})
            tls(type, id(2), kNone, "AP is in invalid state to accept msgs from Switch");
        EXPECT_EQ(cb.switch_comm->rfscan_interval, 20);
    });
}
