// Firmware update: the code download child running the root's tools and its
// status coming back through the daemon's UDP socket to the switch (the far
// end of a TLS channel); the streamed image upgrade and its deletion rules.
#include "update/map_update.hpp"

#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "commands/map_cs.hpp"
#include "core/map_handler.hpp"
#include "platform/platform.hpp"
#include "stats/map_proc.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "support/tls_pair.hpp"
#include "update/map_reset.hpp"

using namespace mapd_test;

namespace {

const bytes kOwn = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
bytes status_msg(uint8_t s) {
    return wr().be16(29).be16(19).be16(33).be16(6).b + kOwn + wr().be16(0x4104).be16(1).u8(s).b;
}
bytes server(uint8_t family, uint32_t ip) {
    return elem(0x101, wr().u8(family).be32(0).be32(0).be32(0).be32(ip).b);
}
bytes name(const std::string& n) {
    return elem(0x4103, bytes(n.begin(), n.end()));
}

struct Update : testing::Test {
    sandbox sb;
    map_control_block cb{};
    map_switch_comm* rec = nullptr;
    tls_pair tp;
    void SetUp() override {
        ASSERT_TRUE(switch_comm_init_wait(&rec, &cb));
        cb.switch_comm = rec, rec->ap.max_bss = 2;
        ASSERT_EQ(map_cs_init(&cb), 0);
        ASSERT_TRUE(tls_pair_open(tp, rec));
        ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50"));
        map_proc_mac_cache_clear();
        sb.write("/proc/uptime", "100.0 1.0\n");
        make_dirs(sb.path("/dev"));
        sb.tool(
            "/usr/bin/tftp",
            "echo \"$@\" | sed \"s|$MAPD_ROOT||g\" > $MAPD_ROOT/tftp.args; echo out; echo err >&2\n"
            "[ \"$4\" != missing ] && echo \"$4\" > \"$2\"");
        sb.tool(
            "/usr/sbin/flash-validate",
            "echo \"${1#$MAPD_ROOT}\" > $MAPD_ROOT/validate.args; echo v >&2; grep -q GOOD \"$1\"");
        // The AP's mv takes a file that already has the target name.
        sb.tool("/bin/mv",
                "echo \"$@\" | sed \"s|$MAPD_ROOT||g\" >> $MAPD_ROOT/mv.args; echo m >&2\n"
                "[ \"$1\" = \"$2\" ] || exec /bin/mv \"$@\"");
    }
    void TearDown() override {
        map_reset_clear();
        if (rec != nullptr)
            rec->ssl.reset(), map_cs_deinit(cb.cs), map_switch_comm_deinit(rec);
        lsqlquery_close();
    }
    // Main loop passes once a datagram waits on the daemon's UDP socket, until
    // it is served (a pass cut short by the child's SIGCHLD serves nothing).
    void serve_status() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        pollfd p{rec->udp_fd, POLLIN, 0};
        while (poll(&p, 1, 100) <= 0)
            ASSERT_LT(std::chrono::steady_clock::now(), end);
        do {
            ASSERT_EQ(map_main_loop_passes(&cb, 1), 0);
            ASSERT_LT(std::chrono::steady_clock::now(), end);
        } while (poll(&p, 1, 0) > 0);
    }
};

}  // namespace

// Requests with a child come through the TLS dispatcher.  Without a child the
// fork is made to fail, so that a fork tried anyway shows as a status 2 at the
// switch.  `run`: the tftp arguments and the console after the last tool.
TEST_F(Update, CodeDownload) {
    const bytes own = elem(33, kOwn), v4 = server(0, 0x0a010203),
                head = own + v4 + elem(0x4101, {1});
    const struct {
        bytes body;
        int rc, status;  // status at the switch; 0: nothing
        std::string run, log;
    } rows[] = {
        // clang-format off
        {own + v4 + elem(0x4101, {2}) + name("GOOD.tar"), 0, 0, "", ""},
        {head + name("missing"), 0, 2, "-l /tmp/missing -r missing -g 10.1.2.3\nout\nerr\n",
         "Error: TFTP code download failed"},
        {name("GOOD.tar") + head, 0, 1, "-l /tmp/GOOD.tar -r GOOD.tar -g 10.1.2.3\nm\n",
         "Validation of firmware file successful"},
        {own + server(1, 0x0a010203) + elem(0x4101, {1}) + name("dir/bad.tar"), 0, 2,
         "-l /tmp/bad.tar -r dir/bad.tar -g 0.0.0.0\nv\n", "Error: File validation failed"},
        {elem(33, {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x51}) + head + name("GOOD.tar"), -1, 0, "",
         "AP MAC Address received is not same as self MAC Address"},
        {head + name("GOOD.tar"), -1, 2, "", "Forking child process"},
        {head + name(std::string(129, 'a')), -1, 2, "", "longer than 128"},
        {head + name("a;reboot"), -1, 2, "", "\"a;reboot\" refused"},
        // clang-format on
    };
    for (const auto& r : rows) {
        const bool child = !r.run.empty();
        if (!child)
            map_platform_fail_nth(map_platform_op::fork, 1);
        const bytes m = wr().be16(28).be16(4 + r.body.size()).b + r.body;
        const int len = static_cast<int>(r.body.size());
        std::string out = captured(MAP_TRACE_CODE_DOWNLOAD, [&] {
            EXPECT_EQ(child ? map_ssl_pkt_handler(&cb, m.data(), len + 4)
                            : map_process_update_code_pkt(rec, m.data() + 4, len),
                      r.rc);
            if (child)
                serve_status();
        });
        map_platform_fail_clear();
        const bytes tls = r.status ? status_msg(static_cast<uint8_t>(r.status)) : bytes{};
        EXPECT_EQ(tls_pair_read(tp), tls) << out;
        EXPECT_TRUE(contains(out, r.log)) << out;
        const std::string run = sb.read("/tftp.args") + sb.read("/dev/console");
        EXPECT_EQ(child ? run : "", r.run);
    }
    // The good image is in place; the bad one was never moved; nothing installed.
    EXPECT_EQ(sb.read("/tmp/upgrade.tar"), "GOOD.tar\n");
    EXPECT_FALSE(sb.exists("/tmp/GOOD.tar"));
    EXPECT_EQ(sb.read("/validate.args") + sb.read("/mv.args"),
              "/tmp/bad.tar\n/tmp/GOOD.tar /tmp/upgrade.tar\n");
    EXPECT_FALSE(map_reset_pending());
    EXPECT_EQ(map_platform_reboot_count(), 0);
    // A status from another host, or from no known source, is dropped.
    const bytes st = status_msg(1);
    sockaddr_in lan{AF_INET, 0, {htonl(0xc0000207)}, {}};
    for (const sockaddr_in* from : {&lan, static_cast<sockaddr_in*>(nullptr)})
        EXPECT_EQ(map_udp_pkt_handler_from(&cb, st.data(), static_cast<int>(st.size()), from), -1);
    EXPECT_EQ(tls_pair_read(tp), bytes{});
}

// Image upgrade messages in order, each checked by the file it leaves, the
// reset it starts and the reboots recorded.  "link lost": the TLS link ends
// instead of a message.
TEST_F(Update, ImageUpgrade) {
    const bytes start = elem(0x2030, {}), end = elem(0x2032, {});
    auto chunk = [](const std::string& s) { return elem(0x2031, bytes(s.begin(), s.end())); };
    const struct {
        bytes body;  // empty: the link is lost
        int rc;
        std::string file;
        bool reset = false;
        int reboots = 0, state = MAP_SWITCH_COMM_ESTABLISHED;
        bool full = false;  // the file is 2 bytes short of its largest size
    } rows[] = {
        {start + chunk("GO"), 0, "GO"},
        {chunk("OD1"), 0, "GOOD1"},
        {{}, 0, "<missing>"},
        {start + chunk("GOOD") + elem(0x7777, chunk("BAD")) + end, 0, "GOOD", true},
        {{}, 0, "GOOD"},
        {start + chunk("GOOD") + end + elem(0x7777, {}), 0, "GOOD"},
        {start + chunk("BAD") + end, -1, "<missing>", false, 1},
        {elem(0x2030, {1, 2}) + chunk("X"), -1, "<missing>", false, 0, MAP_SWITCH_COMM_LISTEN_MODE},
        {chunk("abc"), -1, "<missing>", false, 0, MAP_SWITCH_COMM_ESTABLISHED, true},
        {start + elem(0x2031, {'G', 'O', 'O', 'D'}, 9), -1, "<missing>"},
    };
    sb.write("/tmp/upgrade.tar", "OLD");
    for (const auto& r : rows) {
        rec->state = r.state;
        const int reboots = map_platform_reboot_count();
        if (r.full)
            sb.write("/tmp/upgrade.tar", ""),
                truncate(sb.path("/tmp/upgrade.tar").c_str(), (64 << 20) - 2);
        const int len = static_cast<int>(r.body.size());
        EXPECT_EQ(len ? map_process_auto_update_msg(rec, r.body.data(), len)
                      : (map_clear_connection(&cb), 0),
                  r.rc);
        EXPECT_EQ(sb.read("/tmp/upgrade.tar"), r.file);
        // A reset with upgrade flashes first: still pending after the pause.
        map_reset_timer_pass(1000);
        EXPECT_EQ(map_reset_pending(), r.reset);
        EXPECT_EQ(map_platform_reboot_count() - reboots, r.reboots);
        map_reset_clear();
    }
    // Through the dispatcher.
    const bytes m = wr().be16(71).be16(13).b + start + chunk("Q");
    EXPECT_EQ(map_ssl_pkt_handler(&cb, m.data(), static_cast<int>(m.size())), 0);
    EXPECT_EQ(sb.read("/tmp/upgrade.tar"), "Q");
}
