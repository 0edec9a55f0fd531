// The statistics reports: the interval and its countdown, the report's elements, the client messages and their split, and
// that a report allocates nothing.  Datagrams go to a socket of the test
// (127.0.0.1, a free port) that plays the switch and is read back.
#include "stats/map_stats.hpp"

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>

#include "commands/map_cs.hpp"
#include "core/map_handler.hpp"
#include "stats/map_proc.hpp"
#include "support/bytes.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"

using namespace mapd_test;

static std::atomic<unsigned long> g_allocs{0};

// The sanitizers bring their own allocator; there nothing is counted.
#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* malloc(size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t a, size_t b) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(a, b);
}
extern "C" void* realloc(void* p, size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
#endif

namespace {

const bytes kOwnMac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};

// The element types of a message, the AP MAC element first.
std::vector<uint16_t> types(const bytes& m) {
    std::vector<uint16_t> t;
    for (size_t p = 4; p + 4 <= m.size(); p += 4 + (m[p + 2] << 8 | m[p + 3]))
        t.push_back(static_cast<uint16_t>(m[p] << 8 | m[p + 1]));
    return t;
}

bytes interval(uint16_t s) {
    return elem(0x2101, wr().be16(s).b);
}

struct Report : testing::Test {
    sandbox sb;
    std::unique_ptr<map_switch_comm> rec = std::make_unique<map_switch_comm>();
    map_control_block cb{};
    map_cs* cs = nullptr;

    void SetUp() override {
        ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50"));
        map_proc_mac_cache_clear();
        rec->tcp_fd = rec->l2_fd = rec->ssl_rfd = rec->mapd_fd = rec->mapqosd_fd = -1;
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        rec->udp_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        auto* sa = reinterpret_cast<sockaddr*>(&a);
        ASSERT_EQ(bind(rec->udp_fd, sa, len) | getsockname(rec->udp_fd, sa, &len), 0);
        rec->ports.udp = ntohs(a.sin_port);
        rec->switch_ip = INADDR_LOOPBACK;
        rec->state = MAP_SWITCH_COMM_ESTABLISHED;
        rec->ap.max_bss = 2;
        rec->cb = &cb;
        cb.switch_comm = rec.get();
        ASSERT_EQ(map_cs_init(&cb), 0);
        cs = cb.cs;
    }
    void TearDown() override {
        map_cs_deinit(cs);
        close(rec->udp_fd);
        lsqlquery_close();
    }
    // Every datagram sent since the last call: a marker goes behind them, so
    // what arrives before it is all there was.
    std::vector<bytes> sent() {
        const uint8_t marker = 0xEE;
        EXPECT_EQ(map_switch_comm_udp_send(rec.get(), rec->switch_ip, &marker, 1), 0);
        std::vector<bytes> out;
        for (pollfd p{rec->udp_fd, POLLIN, 0}; poll(&p, 1, 5000) == 1;) {
            bytes b(MAP_STATS_MSG_MAX + 1);
            b.resize(static_cast<size_t>(
                std::max<ssize_t>(recv(rec->udp_fd, b.data(), b.size(), 0), 0)));
            if (b == bytes{marker})
                return out;
            out.push_back(b);
        }
        ADD_FAILURE() << "the marker did not come back";
        return out;
    }
    int tls(const bytes& body) {
        bytes m =
            wr().be16(SWITCH_STATUS_INT).be16(static_cast<uint32_t>(4 + body.size())).b + body;
        return map_ssl_pkt_handler(&cb, m.data(), static_cast<int>(m.size()));
    }
    // Client `i` of radio 1 in the table, authenticated, with its station file.
    void station(int i) {
        cs->stats.table.entry[i] = {
            {2, 0, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}, 1, 0, 1, 1};
        cs->stats.table.last = i;
        char path[64];
        snprintf(path, sizeof path, "/proc/net/ieee80211/wlan0/sta/02:00:00:00:%02x:%02x", i >> 8,
                 i & 0xff);
        sb.write(path, "flags=3\ntx_bytes=100\n");
    }
};

}  // namespace

// The interval: the AP's own MAC or none, then the interval element.  A
// repeated interval keeps the running countdown.
TEST_F(Report, IntervalRules) {
    const struct {
        const char* what;
        bytes body;
        int rc;
        uint32_t interval;
        int32_t countdown;  // from interval 10 with 7 seconds left
    } rows[] = {
        {"own MAC, 30", elem(33, kOwnMac) + interval(30), 0, 30, 30},
        {"the same interval", interval(10), 0, 10, 7},
        {"another AP's MAC", elem(33, {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x51}) + interval(30), -1, 10, 7},
        {"four bytes", {0x21, 0x01, 0, 2}, -1, 10, 7},
        {"a value cut short", {0x21, 0x01, 0, 2, 0}, -1, 10, 7},
        {"unknown element, then 0", elem(0x2109, {1, 2, 3}) + interval(0), 0, 0, 0},
    };
    for (const auto& row : rows) {
        cs->stats_interval = 10;
        cs->stats_countdown = 7;
        EXPECT_EQ(
            map_cs_process_stat_int_pkt(cs, row.body.data(), static_cast<int>(row.body.size())),
            row.rc)
            << row.what;
        EXPECT_EQ(cs->stats_interval, row.interval) << row.what;
        EXPECT_EQ(cs->stats_countdown, row.countdown) << row.what;
    }
}

// Through the TLS dispatcher and the timer pass: 30, then 30 again after 10
// seconds, reports 20 seconds later and every 30 after; nothing goes out while
// the link is not established; 0 stops; opening or closing the link clears.
TEST_F(Report, IntervalAndCountdown) {
    auto tick = [&](uint32_t sec) { map_timeout_handler(&cb, sec, 0); };
    EXPECT_EQ(tls(interval(30)), 0);
    tick(10);
    tls(interval(30));
    tick(19);
    EXPECT_EQ(sent().size(), 0u);
    tick(1);
    const auto report = sent();
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0][1], SWITCH_STATS);
    EXPECT_EQ(cs->stats_countdown, 30);
    rec->state = MAP_SWITCH_COMM_SWITCH_AUTH_MODE;
    tick(40);
    EXPECT_TRUE(contains(captured(0, [&] { tls(interval(0)); }), "Invalid stats intvl pkt"));
    EXPECT_EQ(cs->stats_interval + cs->stats_countdown, 60u)
        << "kept while the link is not established";
    rec->state = MAP_SWITCH_COMM_ESTABLISHED;
    tls(interval(0));
    tick(100);
    EXPECT_EQ(sent().size(), 0u);
    EXPECT_EQ(cs->stats_countdown, 0);

    cs->stats_interval = cs->stats_countdown = 9;
    map_initialize_connection(&cb);
    EXPECT_EQ(cs->stats_interval + cs->stats_countdown, 0u);
    cs->stats_interval = cs->stats_countdown = 9;
    station(3);
    map_clear_connection(&cb);
    EXPECT_EQ(cs->stats_interval + cs->stats_countdown, 0u);
    EXPECT_EQ(cs->stats.table.last, -1);
    const bytes dump = {0x01, 0x05, 0x00, 0x04};
    EXPECT_TRUE(contains(captured(0, [&] { map_udp_pkt_handler(&cb, dump.data(), 4); }),
                         "Client Association"));
}

// The report: the AP MAC and the five global elements; an enabled VAP of a
// present radio adds its three; a collected client follows in a message of
// its own.  A failed send is logged and ends the report.
TEST_F(Report, ReportElements) {
    using T = std::vector<uint16_t>;
    EXPECT_EQ(map_cs_stats_send_ap_stats(cs), 0);
    auto msgs = sent();
    ASSERT_EQ(msgs.size(), 1u) << "both radios absent, no client";
    EXPECT_EQ(types(msgs[0]), (T{0x2102, 0x2103, 0x2107, 0x2113, 0x2114, 0x2117}));
    EXPECT_EQ(bytes(msgs[0].begin(), msgs[0].begin() + 14),
              (bytes{0, 7, 0x01, 0xAC, 0x21, 0x02, 0, 6} + kOwnMac));
    EXPECT_EQ(msgs[0].size(), 428u);

    snprintf(cs->radio[0].radio_name, sizeof cs->radio[0].radio_name, "wlan0");
    cs->vaps[0].vap_config[1].admin_mode = 1;
    cs->vaps[0].vap_stats[1].auth_fail[1] = 0x01020304;
    station(0);
    EXPECT_EQ(map_cs_stats_send_ap_stats(cs), 0);
    msgs = sent();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(types(msgs[0]),
              (T{0x2102, 0x2103, 0x2107, 0x2113, 0x2114, 0x2117, 0x2105, 0x2116, 0x2119}));
    EXPECT_EQ(bytes(msgs[0].begin() + 432, msgs[0].begin() + 442),
              (bytes{1, 1, 0, 0, 0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(types(msgs[1]), (T{0x2102, 0x2106, 0x2110}));

    close(rec->udp_fd);
    rec->udp_fd = -1;
    const std::string out = captured(0, [&] {
        EXPECT_EQ(map_cs_stats_send_ap_stats(cs), -1);
        EXPECT_EQ(map_cs_stats_client_association_db_send(cs, kOwnMac.data()), -1);
    });
    EXPECT_TRUE(contains(out, "Error in sending the Stats packet") &&
                contains(out, "Error in sending the client association packet"));
}

// Client messages close at 7,474 bytes of elements, checked after each
// client; records without both flags add nothing; only streams in use go.
TEST_F(Report, ClientMessages) {
    const struct {
        const char* what;
        int count;
        uint32_t assoc;  // every record is authenticated
        int streams;     // the slots in use; the next slot's in-use byte is 2
        const char* name;
        std::vector<size_t> lengths;
    } rows[] = {
        {"none collected", 0, 1, 0, "", {}},
        {"no record associated", 3, 0, 4, "pc", {14}},
        {"40 clients, two streams each", 40, 1, 2, "", {14 + 33 * 230, 14 + 7 * 230}},
        {"a named client, four streams", 1, 1, 4, "laptop", {14 + 355}},
    };
    for (const auto& row : rows) {
        cs->stats.client_count = row.count;
        for (auto& c : cs->stats.client) {
            c = {};
            c.auth = 1;
            c.assoc = row.assoc;
            for (int t = 0; t < MAP_STATS_CLIENT_TS_SLOTS; ++t)
                c.ts[t].in_use = t < row.streams ? 1 : t == row.streams ? 2 : 0;
            snprintf(c.nb_name, sizeof c.nb_name, "%s", row.name);
        }
        EXPECT_EQ(map_cs_stats_client_association_db_send(cs, kOwnMac.data()), 0);
        std::vector<size_t> lengths;
        for (const auto& m : sent()) {
            lengths.push_back(m.size());
            EXPECT_EQ(m.size(), static_cast<size_t>(m[2] << 8 | m[3])) << row.what;
        }
        EXPECT_EQ(lengths, row.lengths) << row.what;
    }
}

// One report with a full client table, and the client messages of 512
// collected records, allocate nothing.
TEST_F(Report, ReportAllocatesNothing) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator cannot be counted here";
#endif
    for (int i = 0; i < MAP_STATS_MAX_CLIENTS; ++i)
        station(i);
    EXPECT_EQ(map_cs_stats_send_ap_stats(cs), 0);  // settles the AP MAC cache
    unsigned long before = g_allocs.load();
    EXPECT_EQ(map_cs_stats_send_ap_stats(cs), 0);
    EXPECT_EQ(g_allocs.load() - before, 0u) << "heap allocations of one report";
    cs->stats.client_count = MAP_STATS_MAX_CLIENTS;
    for (auto& c : cs->stats.client)
        c.auth = c.assoc = c.ts[0].in_use = 1;
    before = g_allocs.load();
    EXPECT_EQ(map_cs_stats_client_association_db_send(cs, kOwnMac.data()), 0);
    EXPECT_EQ(g_allocs.load() - before, 0u) << "heap allocations of 512 clients' messages";
}
