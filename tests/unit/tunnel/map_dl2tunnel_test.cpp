// The distributed tunnel's messages from the switch: the kernel tables
// afterwards, what hostapd receives (a socket of the test bound to its port),
// the configuration's write order and what is refused.
#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "core/managed_ap.hpp"
#include "local/mmsg_handler.hpp"
#include "platform/platform.hpp"
#include "support/bytes.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"
#include "tunnel/map_dl2tunnel.hpp"

using namespace mapd_test;

namespace {

const bytes kOwn = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x50}, kHome = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x99};
const bytes kAssoc = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x77}, kClient = {2, 0x11, 0x22, 0x33, 0x44, 0x55};
const bytes kMarker = {7}, kNone = {};

template <typename T>
bytes host(T v) {
    return bytes(reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + sizeof v);
}
using tables = std::map<std::string, bytes>;  // kernel entry ("3.23.3.32") to value
using handler = int (*)(map_switch_comm*, const uint8_t*, int);
constexpr handler kConfig = map_process_dl2tunnel_config_pkt,
                  kSetup = map_process_dl2tunnel_setup_pkt, kTerm = map_process_dl2tunnel_term_pkt;

// The tables after a configuration with these limits: items 11 to 20, enabled.
tables configured(uint32_t max, uint32_t idle, uint32_t age, uint32_t mc,
                  uint32_t ip = 0x0a020003 /* saved */, const bytes& mac = kOwn) {
    const uint32_t v[] = {7, 9, max, idle, age, mc, ip, 0xffff0000, 0, 0x0a010001};
    tables t = {{"3.23.1.19", mac}, {"3.23.3.34", host(1)}};
    for (int i = 0; i < 10; ++i)
        t.emplace("3.23.1." + std::to_string(11 + i), host(v[i]));  // 19 is taken
    return t;
}

struct Dl2Tunnel : testing::Test {
    sandbox sb;
    map_control_block cb{};
    map_switch_comm* rec = nullptr;
    int hostapd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);

    void SetUp() override {
        const char* db[] = {
            "management", "ip",      "10.1.0.5", "management",    "mask",     "255.255.0.0",
            "management", "vlan-id", "7",        "untagged-vlan", "vlan-id",  "9",
            "ip-route",   "gateway", "10.1.0.1", "system",        "base-mac", "00:1a:2b:3c:4d:50"};
        for (int i = 0; i < 18; i += 3)
            ASSERT_TRUE(db_set(db[i], nullptr, db[i + 1], db[i + 2]));
        // hostapd's port and the daemon's are shared with other tests: wait for them.
        sockaddr_in a{AF_INET, htons(MMSG_HOSTAPD_PORT), {htonl(INADDR_LOOPBACK)}, {}};
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        auto wait = [&](auto ok) {
            while (!ok() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        };
        wait([&] { return bind(hostapd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0; });
        wait([&] { return map_switch_comm_init(&rec, &cb) == 0; });
        ASSERT_NE(rec, nullptr);
        rec->state = MAP_SWITCH_COMM_ESTABLISHED;
        rec->saved_ap_ip = 0x0a020003;
    }
    void TearDown() override {
        map_platform_fail_clear();
        if (rec != nullptr)
            map_switch_comm_deinit(rec);
        lsqlquery_close();
        close(hostapd);
    }
    // What hostapd got before a marker sent now; kNone when nothing.
    bytes local() {
        EXPECT_EQ(mmsg_handler_send(kMarker.data(), 1), 1);
        std::vector<bytes> got;
        uint8_t buf[512];
        for (pollfd p{hostapd, POLLIN, 0};
             got.size() < 3 && (got.empty() || got.back() != kMarker) && poll(&p, 1, 5000) == 1;)
            got.emplace_back(buf, buf + std::max(recv(hostapd, buf, sizeof buf, 0), ssize_t{0}));
        EXPECT_TRUE(!got.empty() && got.back() == kMarker && got.size() <= 2) << got.size();
        return got.size() == 2 ? got[0] : kNone;
    }
    // Takes the kernel tables written so far, leaving them empty.
    tables kernel() {
        tables t;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(sb.path("/sysctl"), ec)) {
            const std::string v = read_file(e.path());
            t[e.path().filename()] = bytes(v.begin(), v.end());
        }
        std::filesystem::remove_all(sb.path("/sysctl"), ec);
        return t;
    }
};

}  // namespace

// Each message: what hostapd receives (kNone: refused), the kernel tables
// afterwards and a text logged.  Recognised elements count only at their own
// size.  A kernel refusal does not keep hostapd from being told; a missing
// body and a failed send to hostapd are reported.
TEST_F(Dl2Tunnel, MessagesByteExact) {
    const bytes limits = elem(0x5040, wr().be32(64).be32(300).be32(3600).be32(0x01020304).b);
    const bytes told = bytes{20, 0, 0, 0} + host(64) + host(300) + host(3600) + host(0x01020304);
    const bytes addr = elem(257, bytes(12, 0) + bytes{10, 0, 0, 7});
    const bytes setup = elem(19, kClient) + elem(0x5041, kHome) + elem(0x500C, {0, 0x64}) + addr;
    const bytes set_up =
        kHome + kClient + kAssoc + bytes(12, 0) + host(0x0a000007) + host(uint16_t{100});
    const bytes odd = elem(19, kClient + bytes{0}) + elem(0x500C, {0, 0, 1}) +
                      elem(257, bytes(17, 1)) + elem(33, kAssoc) + elem(0x5041, kHome, 7);
    const bytes odd_rec = bytes(12, 0) + kAssoc + bytes(18, 0), client = elem(19, kClient);
    const bytes refused = bytes{21} + bytes(7, 0) + kClient + bytes(24, 0);
    const tables none, set_tbl = {{"3.23.3.31", set_up}}, odd_tbl = {{"3.23.3.31", odd_rec}};
    const tables term_tbl = {{"3.23.3.32", kHome + kClient}};
    const int up = MAP_SWITCH_COMM_ESTABLISHED, auth = MAP_SWITCH_COMM_SWITCH_AUTH_MODE;
    const struct {
        handler fn;
        bytes body, local;
        tables kernel;
        const char* text;
        int state = up;     // -1: no switch connection record
        unsigned fail = 0;  // the kernel refuses this write
    } rows[] = {
        {kConfig, elem(0x99, {1}) + limits, told, configured(64, 300, 3600, 0x01020304),
         "map_dl2tunnel_config: max_clients: 64"},
        {kConfig, client, bytes{20} + bytes(19, 0), configured(0, 0, 0, 0), "enable data sent OK"},
        {kConfig, limits, told, none, "map_dl2tunnel_ap_set_max_clients error", up, 1},
        {kSetup, setup + elem(33, kAssoc), bytes{21, 0} + set_up, set_tbl, "VLAN ID:      100"},
        {kSetup, odd, bytes{21, 0} + odd_rec, odd_tbl, "map_dl2tunnel_setup: sent OK"},
        {kSetup, setup, kNone, none, "Invalid mapd mode.", auth},
        {kSetup, client, refused, none, "sysctl error", up, 1},
        {kTerm, client + addr + elem(0x5041, kHome), bytes{22, 0} + kHome + kClient, term_tbl,
         "map_dl2tunnel_terminate: sent OK"},
        {kTerm, client, kNone, none, "Incorrect context parameter.", -1},
    };
    for (const auto& r : rows) {
        rec->state = r.state;
        map_platform_fail_nth(map_platform_op::sysctl_write, r.fail);
        std::string out = captured(MAP_TRACE_DL2TUNNEL, [&] {
            EXPECT_EQ(r.fn(r.state < 0 ? nullptr : rec, r.body.data(), int(r.body.size())),
                      r.local == kNone ? -1 : 0);
            EXPECT_EQ(local(), r.local) << r.text;
        });
        EXPECT_EQ(kernel(), r.kernel) << r.text;
        EXPECT_TRUE(contains(out, r.text)) << out;
    }
    rec->state = up;
    for (bool closed : {false, true}) {
        if (closed)
            mmsg_handler_close();
        for (std::string w : {"config", "setup", "term"}) {
            const handler fn = w == "config" ? kConfig : w == "setup" ? kSetup : kTerm;
            std::string out = captured(0, [&] {
                EXPECT_EQ(fn(rec, closed ? client.data() : nullptr, int(client.size())), -1);
            });
            w = closed ? "sending dist l2 tunnel " + w + " msg to"
                       : "receiving dist l2 tunnel " + w;
            EXPECT_TRUE(contains(out, "Error " + w)) << out;
        }
    }
}

// The configuration writes in this order and stops at the first refused write,
// naming its setter; the module is enabled last.  Without a base MAC the
// record's own is written, without a switch connection record the configured
// AP address.
TEST_F(Dl2Tunnel, ConfigWriteOrderAndSources) {
    std::istringstream order(
        "1.13 max_clients 1.14 tunnel_idle_timeout 1.15 tunnel_age_timeout "
        "1.16 mc_replication_limit 1.19 cpu_mac_addr 1.17 ip_addr 1.18 ip_mask "
        "1.20 ip_gateway 1.11 mgmtvid 1.12 utgvid 3.34 enable");
    const tables all = configured(0, 0, 0, 0);
    tables before;
    for (std::string item, setter; order >> item >> setter;) {
        map_platform_fail_nth(map_platform_op::sysctl_write, unsigned(before.size() + 1));
        map_dl2tunnel_config_record cfg{};
        std::string out =
            captured(MAP_TRACE_DL2TUNNEL, [&] { EXPECT_EQ(map_dl2tunnel_config(&cfg), 0); });
        EXPECT_TRUE(contains(out, "_" + setter + " error")) << out;
        EXPECT_EQ(kernel(), before) << setter;
        before.emplace("3.23." + item, all.at("3.23." + item));
    }
    ASSERT_TRUE(db_set("system", nullptr, "base-mac", ""));
    map_switch_comm_deinit(rec);
    rec = nullptr;
    map_dl2tunnel_config_record cfg{};
    cfg.ap_mac[5] = 0x42;
    std::string out =
        captured(MAP_TRACE_DL2TUNNEL, [&] { EXPECT_EQ(map_dl2tunnel_config(&cfg), 1); });
    EXPECT_TRUE(contains(out, "map_dl2tunnel_config: failed to get cpu_mac_addr")) << out;
    EXPECT_EQ(kernel(), configured(0, 0, 0, 0, 0x0a010005, {0, 0, 0, 0, 0, 0x42}));
    out = captured(MAP_TRACE_DL2TUNNEL, [] { EXPECT_EQ(map_dl2tunnel_enable(0), 1); });
    EXPECT_EQ(kernel(), (tables{{"3.23.3.34", host(0)}}));
    EXPECT_TRUE(contains(out, "map_dl2tunnel_enable: sent OK")) << out;
}
