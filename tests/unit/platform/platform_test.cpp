#include "platform/platform.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/sandbox.hpp"

using mapd_test::sandbox;

namespace {

std::string shell_text(const char* cmd) {
    char out[4096];
    if (map_platform_shell_text(cmd, out, sizeof out) != 0) {
        return "<refused>";
    }
    return out;
}

// Replaces every "@" in `pattern` by the sandbox root.
std::string at_root(const sandbox& sb, std::string pattern) {
    for (size_t p = pattern.find('@'); p != std::string::npos; p = pattern.find('@', p)) {
        pattern.replace(p, 1, sb.root);
        p += sb.root.size();
    }
    return pattern;
}

}  // namespace

TEST(PlatformPath, ProductionAndSandboxMapping) {
    char out[MAP_PLATFORM_PATH_MAX];
    ASSERT_EQ(map_platform_set_root(nullptr), 0);
    EXPECT_FALSE(map_platform_is_sandbox());
    ASSERT_EQ(map_platform_path("/etc/board", out, sizeof out), 0);
    EXPECT_STREQ(out, "/etc/board");
    EXPECT_EQ(map_platform_path("etc/board", out, sizeof out), -1) << "relative paths are refused";

    sandbox sb;
    EXPECT_TRUE(map_platform_is_sandbox());
    ASSERT_EQ(map_platform_path("/proc/uptime", out, sizeof out), 0);
    EXPECT_EQ(std::string(out), sb.root + "/proc/uptime");

    char small[8];
    EXPECT_EQ(map_platform_path("/proc/uptime", small, sizeof small), -1);
    std::string huge = "/" + std::string(MAP_PLATFORM_PATH_MAX, 'x');
    EXPECT_EQ(map_platform_path(huge.c_str(), out, sizeof out), -1);
}

TEST(PlatformPath, RootMustBeAnAbsoluteDirectory) {
    EXPECT_EQ(map_platform_set_root("relative/dir"), -1);
    EXPECT_EQ(map_platform_set_root("/"), -1) << "the host's own / is never a sandbox";
    EXPECT_EQ(map_platform_set_root("/nonexistent/mapd-root"), -1);
    EXPECT_FALSE(map_platform_is_sandbox());
}

TEST(PlatformPath, FileOperationsStayUnderTheRoot) {
    sandbox sb;
    sb.write("/etc/board", "QX_WAP_TEST\n");
    FILE* f = map_platform_fopen("/etc/board", "r");
    ASSERT_NE(f, nullptr);
    char line[32] = {};
    ASSERT_NE(fgets(line, sizeof line, f), nullptr);
    fclose(f);
    EXPECT_STREQ(line, "QX_WAP_TEST\n");

    EXPECT_EQ(map_platform_rename("/etc/board", "/etc/board.old"), 0);
    EXPECT_TRUE(sb.exists("/etc/board.old"));
    int fd = map_platform_open("/etc/key.pem", O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    struct stat st{};
    ASSERT_EQ(map_platform_stat("/etc/key.pem", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(map_platform_unlink("/etc/key.pem"), 0);
    EXPECT_NE(map_platform_access("/etc/key.pem", F_OK), 0);
}

TEST(PlatformShell, CommandTextIsMappedUnderTheRoot) {
    sandbox sb;
    sb.tool("/sbin/init", "echo \"$@\" >> tmp/init.log");
    sb.tool("/bin/ps", "echo 1 hostapd");
    sb.tool("/usr/bin/xargs", "exit 0");
    sb.tool("/bin/kill", "exit 0");
    struct row {
        const char* command;
        const char* expected;  // '@' stands for the root
    };
    const row rows[] = {
        {"grep 168c /proc/bus/pci/devices > /tmp/hw.dat",
         "grep 168c @/proc/bus/pci/devices > @/tmp/hw.dat"},
        {"/usr/sbin/wl switch_ip_base_port 57775", "@/usr/sbin/wl switch_ip_base_port 57775"},
        {"/usr/sbin/apicli hostapd-all PING > /dev/null 2>&1",
         "@/usr/sbin/apicli hostapd-all PING > /dev/null 2>&1"},
        {"bootenv -v /dev/mtd8 -d bootfailed > /tmp/bootfail.txt",
         "bootenv -v @/dev/mtd8 -d bootfailed > @/tmp/bootfail.txt"},
        {"/usr/sbin/flash-validate x >/dev/console 2>&1",
         "@/usr/sbin/flash-validate x >@/dev/console 2>&1"},
        {"init -r", "@/sbin/init -r"},
        {"ps | grep dropbear | awk '{print $1}' | xargs kill 2> /dev/null",
         "@/bin/ps | grep dropbear | awk '{print $1}' | @/usr/bin/xargs @/bin/kill 2> /dev/null"},
        {"sed -n '/tmp/p' /etc/board", "sed -n '/tmp/p' @/etc/board"},
        {"echo ok", "echo ok"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(shell_text(r.command), at_root(sb, r.expected)) << r.command;
    }
    // A path the daemon already mapped is not mapped twice.
    std::string mapped = sb.root + "/tmp/x";
    EXPECT_EQ(shell_text(("cat " + mapped).c_str()), "cat " + mapped);
}

TEST(PlatformShell, RunsInTheRootWithItsToolsFirst) {
    sandbox sb;
    sb.write("/proc/bus/pci/devices", "0000 168c0013 10\n0008 14e44320 11\n");
    EXPECT_EQ(map_platform_system("grep 168c /proc/bus/pci/devices > /tmp/hw.dat"), 0);
    EXPECT_EQ(sb.read("/tmp/hw.dat"), "0000 168c0013 10\n");

    EXPECT_EQ(map_platform_system("pwd > /tmp/pwd.txt"), 0);
    EXPECT_EQ(sb.read("/tmp/pwd.txt"), sb.root + "\n");

    sb.tool("/usr/sbin/wl", "echo \"wl $*\" > tmp/wl.log; exit 3");
    int status = map_platform_system("wl switch_ip_base_port 57775");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3) << "the tool's exit status comes back";
    EXPECT_EQ(sb.read("/tmp/wl.log"), "wl switch_ip_base_port 57775\n");

    status = map_platform_system("no-such-tool-here");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127);
}

// No sandboxed command, and no reboot request, can reach process 1 or the
// host's init: the tools that act on processes must be the root's own.
TEST(PlatformShell, NothingReachesProcessOneOrTheHostInit) {
    sandbox sb;
    const char* refused[] = {
        "init -r",      "kill -TERM 1", "kill -0 1",          "sh -c 'kill 1'",
        "reboot",       "halt",         "ps | xargs kill -9", "busybox kill 1",
        "telinit 6",    "poweroff",
    };
    for (const char* cmd : refused) {
        EXPECT_EQ(map_platform_system(cmd), -1) << cmd;
    }

    // An absolute path to the host's init is mapped under the root, where there is none.
    int status = map_platform_system("/sbin/init -r");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 127);

    // With the root's own stand-ins, the stand-ins run: not the host copy, not
    // the shell's kill builtin.
    sb.tool("/sbin/init", "echo \"init $*\" >> tmp/calls.log");
    sb.tool("/bin/kill", "echo \"kill $*\" >> tmp/calls.log");
    EXPECT_EQ(map_platform_system("init -r"), 0);
    EXPECT_EQ(map_platform_system("kill -TERM 1"), 0);
    EXPECT_EQ(sb.read("/tmp/calls.log"), "init -r\nkill -TERM 1\n");

    // A reboot request is recorded, never sent.
    EXPECT_EQ(map_platform_reboot_count(), 0);
    EXPECT_EQ(map_platform_signal_init(SIGTERM), 0);
    EXPECT_EQ(map_platform_signal_init(SIGTERM), 0);
    EXPECT_EQ(map_platform_reboot_count(), 2);
    EXPECT_EQ(sb.read("/sandbox/reboot.log"),
              "signal 15 to process 1\nsignal 15 to process 1\n");
}

TEST(PlatformShell, FailureInjectionRunsNothing) {
    sandbox sb;
    map_platform_fail_nth(map_platform_op::system, 2);
    EXPECT_EQ(map_platform_system("echo one >> /tmp/log"), 0);
    EXPECT_EQ(map_platform_system("echo two >> /tmp/log"), -1);
    EXPECT_EQ(map_platform_system("echo three >> /tmp/log"), 0);
    EXPECT_EQ(sb.read("/tmp/log"), "one\nthree\n");
}

TEST(PlatformSysctl, SandboxTablesHoldTheLastValue) {
    sandbox sb;
    const int name[] = {3, 21, 1, 4};
    char file[MAP_PLATFORM_PATH_MAX];
    ASSERT_EQ(map_platform_sysctl_file(name, 4, file, sizeof file), 0);
    EXPECT_EQ(std::string(file), sb.root + "/sysctl/3.21.1.4");

    uint32_t first = 0x0A000001;
    uint8_t second[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(map_platform_sysctl_write(name, 4, &first, sizeof first), 0);
    ASSERT_EQ(map_platform_sysctl_write(name, 4, second, sizeof second), 0);
    EXPECT_EQ(sb.read("/sysctl/3.21.1.4"), std::string("\1\2\3\4\5\6", 6));

    uint8_t back[16] = {};
    size_t len = sizeof back;
    ASSERT_EQ(map_platform_sysctl_read(name, 4, back, &len), 0);
    EXPECT_EQ(len, 6u);
    EXPECT_EQ(0, memcmp(back, second, 6));

    len = 2;  // a smaller buffer gets the first bytes only
    ASSERT_EQ(map_platform_sysctl_read(name, 4, back, &len), 0);
    EXPECT_EQ(len, 2u);

    const int other[] = {3, 21, 2};
    len = sizeof back;
    EXPECT_EQ(map_platform_sysctl_read(other, 3, back, &len), -1) << "never written";
}

TEST(PlatformSysctl, BadNamesAndInjectedFailures) {
    sandbox sb;
    const int name[] = {3, 23, 7};
    const int eleven[11] = {3};
    uint32_t v = 7;
    EXPECT_EQ(map_platform_sysctl_write(nullptr, 3, &v, 4), -1);
    EXPECT_EQ(map_platform_sysctl_write(name, 0, &v, 4), -1);
    EXPECT_EQ(map_platform_sysctl_write(eleven, 11, &v, 4), -1);

    map_platform_fail_nth(map_platform_op::sysctl_write, 2);
    EXPECT_EQ(map_platform_sysctl_write(name, 3, &v, 4), 0);
    v = 8;
    errno = 0;
    EXPECT_EQ(map_platform_sysctl_write(name, 3, &v, 4), -1);
    EXPECT_EQ(errno, EIO);
    uint32_t back = 0;
    size_t len = sizeof back;
    ASSERT_EQ(map_platform_sysctl_read(name, 3, &back, &len), 0);
    EXPECT_EQ(back, 7u) << "the failed write left the stored value alone";
}

TEST(PlatformSysctl, ProductionReadOfAnUnknownTableFails) {
    ASSERT_EQ(map_platform_set_root(nullptr), 0);
    const int name[] = {0x7ffffff0, 0x7ffffff1};
    uint8_t buf[4];
    size_t len = sizeof buf;
    EXPECT_EQ(map_platform_sysctl_read(name, 2, buf, &len), -1);
}

TEST(PlatformHwaddr, SandboxAddressFiles) {
    sandbox sb;
    sb.write("/sys/class/net/eth0/address", "00:1a:2B:3c:4d:5e\n");
    sb.write("/sys/class/net/bad0/address", "00:1a:2b:3c:4d\n");
    sb.write("/sys/class/net/bad1/address", "zz:1a:2b:3c:4d:5e\n");
    uint8_t mac[6] = {};
    ASSERT_EQ(map_platform_get_hwaddr("eth0", mac), 0);
    const uint8_t want[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    EXPECT_EQ(0, memcmp(mac, want, 6));
    for (const char* ifname : {"bad0", "bad1", "missing0", "../eth0", "", "averyveryverylongifname"}) {
        EXPECT_EQ(map_platform_get_hwaddr(ifname, mac), -1) << ifname;
    }
}

TEST(PlatformHwaddr, ProductionLoopbackHasAZeroAddress) {
    ASSERT_EQ(map_platform_set_root(nullptr), 0);
    uint8_t mac[6] = {1, 1, 1, 1, 1, 1};
    ASSERT_EQ(map_platform_get_hwaddr("lo", mac), 0);
    const uint8_t zero[6] = {};
    EXPECT_EQ(0, memcmp(mac, zero, 6));
}

TEST(PlatformProcess, AlarmIsRecordedAndForkCanFail) {
    unsigned calls = map_platform_alarm_calls();
    map_platform_alarm(300);
    EXPECT_EQ(map_platform_alarm_last(), 300u);
    map_platform_alarm(0);  // disarm again
    EXPECT_EQ(map_platform_alarm_last(), 0u);
    EXPECT_EQ(map_platform_alarm_calls(), calls + 2);

    map_platform_fail_nth(map_platform_op::fork, 1);
    errno = 0;
    EXPECT_EQ(map_platform_fork(), -1);
    EXPECT_EQ(errno, EAGAIN);
    pid_t pid = map_platform_fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        _exit(5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(WEXITSTATUS(status), 5);
}
