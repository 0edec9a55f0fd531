// Start-up pieces that need no switch: the uptime reading, the watchdog, the
// certificate check of start-up and its failure.
#include "core/managed_ap.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "dman/lsqlquery.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "support/sandbox.hpp"
#include "switch/map_ssl_util.hpp"
#include "switch/switch_comm.hpp"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(ManagedAp, UptimeReading) {
    mapd_test::sandbox sb;
    const std::pair<const char*, uint32_t> rows[] = {{"350735.47 234388.90\n", 350735},
                                                     {"0.99 0.5\n", 0},
                                                     {"12\n", 12},
                                                     {"garbage", 0},
                                                     {"", 0},
                                                     {"-5.0 1.0\n", 0},
                                                     {"99999999999.0 1\n", 0},
                                                     {"4294967295.0 1\n", 4294967295u}};
    for (const auto& [text, seconds] : rows) {
        sb.write("/proc/uptime", text);
        EXPECT_EQ(map_get_uptime(), seconds) << text;
    }
    map_platform_unlink("/proc/uptime");
    EXPECT_EQ(map_get_uptime(), 0u) << "missing file";
}

// Certificate serials come from rand(): each start seeds it afresh, so two
// starts draw different numbers and none the unseeded first one.
TEST(ManagedAp, EachStartSeedsRandomNumbersAfresh) {
    auto first_draw = [] {
        int p[2], v = -1;
        if (pipe(p) != 0)
            return -1;
        if (fork() == 0) {
            map_seed_random();
            v = rand();
            _exit(write(p[1], &v, sizeof v) == sizeof v ? 0 : 1);
        }
        close(p[1]);
        if (read(p[0], &v, sizeof v) != sizeof v)
            v = -1;
        close(p[0]);
        wait(nullptr);
        return v;
    };
    const int a = first_draw(), b = first_draw();
    EXPECT_NE(a, 0x6B8B4567) << "the unseeded first number";
    EXPECT_NE(a, b);
}

TEST(ManagedAp, WatchdogArmsOnlyWithMinutesAndRebootsThroughInit) {
    mapd_test::sandbox sb;
    sb.tool("/sbin/init", "echo \"init $*\" >> tmp/init.log");
    map_control_block cb{};
    unsigned calls = map_platform_alarm_calls();
    ASSERT_EQ(map_init_watchdog_timer(&cb), 0);
    EXPECT_EQ(map_platform_alarm_calls(), calls) << "minutes 0: no alarm";

    cb.watchdog_minutes = 5;
    ASSERT_EQ(map_init_watchdog_timer(&cb), 0);
    EXPECT_EQ(map_platform_alarm_last(), 300u);
    map_platform_alarm(0);  // the test does not wait five minutes

    // The alarm fires: the handler logs and runs "init -r" (the root's own).
    CaptureStdout();
    raise(SIGALRM);
    std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("Wireless Switch Communications Timeout. Rebooting the system...\n"),
              std::string::npos);
    EXPECT_NE(out.find("Error: managed_ap:"), std::string::npos);
    EXPECT_EQ(sb.read("/tmp/init.log"), "init -r\n");
    signal(SIGALRM, SIG_DFL);
}

TEST(ManagedAp, StartUpMakesTheCertificateWhenOneFileIsMissingAndFailsWithoutIt) {
    mapd_test::sandbox sb;
    sb.write("/sys/class/net/eth0/address", "00:1a:2b:3c:4d:5e\n");
    sb.write("/var/run/dman.pid", "1\n");
    sb.write("/proc/uptime", "100.0 50.0\n");
    char cert[128], key[128];
    EXPECT_EQ(mapSSLServerCertFileGet(cert), -1);
    ASSERT_EQ(mapSSLCertificateGenerate(1024, nullptr, nullptr, nullptr, nullptr, nullptr, 0), 0);
    ASSERT_EQ(mapSSLServerCertFileGet(cert), 0);
    ASSERT_EQ(mapSSLServerKeyFileGet(key), 0);

    // Certificate present, key missing: start-up generates both anew.
    map_platform_unlink("/etc/zorkey2.pem");
    const std::string before = sb.read("/etc/zorcert2.pem");
    map_control_block* cb = nullptr;
    ASSERT_EQ(map_init_component(&cb), 0);
    CaptureStdout();
    int rc = map_init_sub_components(cb);
    std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("certFile not found, creating ..."), std::string::npos);
    EXPECT_NE(out.find("INFO: managed_ap:"), std::string::npos);
    EXPECT_TRUE(sb.exists("/etc/zorkey2.pem"));
    EXPECT_NE(sb.read("/etc/zorcert2.pem"), before);
    if (rc == 0)
        map_deinit_sub_components(cb);
    map_deinit_component(cb);

    // A folder where the certificate must go: start-up ends there, and the
    // process would exit without tearing down.
    map_platform_unlink("/etc/zorcert2.pem");
    mapd_test::make_dirs(sb.path("/etc/zorcert2.pem"));
    ASSERT_EQ(map_init_component(&cb), 0);
    CaptureStdout();
    EXPECT_EQ(map_init_sub_components(cb), -1);
    out = GetCapturedStdout();
    EXPECT_NE(out.find("MAP_SSL: Server certificate was not generated."), std::string::npos) << out;
    EXPECT_EQ(cb->cs, nullptr) << "the config/status component is never made";
    map_switch_comm_deinit(cb->switch_comm);
    map_deinit_component(cb);
    lsqlquery_close();
}
