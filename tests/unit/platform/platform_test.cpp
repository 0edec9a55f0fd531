#include "platform/platform.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "support/sandbox.hpp"

using mapd_test::sandbox;

namespace {

// `in` mapped as a path (or with `shell` as a command text) into a buffer of
// exactly `cap` bytes: the text, or "<refused>".  Writing past `cap` fails.
std::string mapped(const std::string& in, size_t cap, bool shell = false) {
    std::vector<char> buf(cap + 16, '#');
    int rc = shell ? map_platform_shell_text(in.c_str(), buf.data(), cap)
                   : map_platform_path(in.c_str(), buf.data(), cap);
    EXPECT_EQ(std::string(buf.data() + cap, 16), std::string(16, '#')) << "past " << cap;
    return rc == 0 ? std::string(buf.data()) : "<refused>";
}

std::string shell_text(const std::string& cmd) {
    return mapped(cmd, 4096, true);
}

}  // namespace

// A mapped path or command text that fills the buffer with its terminator fits;
// one byte more is refused, in both backends.
TEST(PlatformPath, MappingFitsTheBufferWithItsTerminator) {
    sandbox sb;
    for (const std::string& root : {sb.root, std::string()}) {
        ASSERT_EQ(map_platform_set_root(root.c_str()), 0);
        const size_t r = root.size();
        SCOPED_TRACE(r ? "sandbox" : "production");
        EXPECT_EQ(mapped("/etc/board", r + 11), root + "/etc/board");
        EXPECT_EQ(mapped("/etc/board", r + 10), "<refused>");
        EXPECT_EQ(mapped("cat /etc/board", r + 15, true), "cat " + root + "/etc/board");
        EXPECT_EQ(mapped("cat /etc/board", r + 14, true), "<refused>");
        EXPECT_EQ(mapped("etc/board", 64), "<refused>") << "relative paths are refused";
    }
}

TEST(PlatformPath, RootMustBeAnAbsoluteDirectory) {
    EXPECT_EQ(map_platform_set_root("relative/dir"), -1);
    EXPECT_EQ(map_platform_set_root("/"), -1) << "the host's own / is never a sandbox";
    EXPECT_EQ(map_platform_set_root("/nonexistent/mapd-root"), -1);
    EXPECT_FALSE(map_platform_is_sandbox());
}

TEST(PlatformShell, CommandTextIsMappedUnderTheRoot) {
    sandbox sb;
    for (const char* t : {"/sbin/init", "/bin/ps", "/usr/bin/xargs", "/bin/kill"}) {
        sb.tool(t, "");
    }
    const struct {
        const char* command;
        const char* expected;  // '@' stands for the root
    } rows[] = {
        {"grep 168c /proc/bus/pci/devices > /tmp/hw.dat",
         "grep 168c @/proc/bus/pci/devices > @/tmp/hw.dat"},
        {"/usr/sbin/apicli hostapd-all PING > /dev/null 2>&1",
         "@/usr/sbin/apicli hostapd-all PING > /dev/null 2>&1"},
        {"/usr/sbin/flash-validate x >/dev/mtd8 2>&1",
         "@/usr/sbin/flash-validate x >@/dev/mtd8 2>&1"},
        {"init -r", "@/sbin/init -r"},
        {"/sbin/init -r", "@/sbin/init -r"},
        {"ps | grep dropbear | awk '{print $1}' | xargs kill 2> /dev/null",
         "@/bin/ps | grep dropbear | awk '{print $1}' | @/usr/bin/xargs @/bin/kill 2> /dev/null"},
        {"sed -n '/tmp/p' /etc/board", "sed -n '/tmp/p' @/etc/board"},
        {"cat @/tmp/x", "cat @/tmp/x"},  // a path already mapped is not mapped twice
    };
    auto at_root = [&](const char* s) { return std::regex_replace(s, std::regex("@"), sb.root); };
    for (const auto& r : rows) {
        EXPECT_EQ(shell_text(at_root(r.command)), at_root(r.expected)) << r.command;
    }
}

TEST(PlatformShell, RunsInTheRootWithItsToolsFirst) {
    sandbox sb;
    sb.write("/proc/bus/pci/devices", "0000 168c0013 10\n0008 14e44320 11\n");
    EXPECT_EQ(map_platform_system("grep 168c /proc/bus/pci/devices > /tmp/hw; pwd >> /tmp/hw"), 0);
    EXPECT_EQ(sb.read("/tmp/hw"), "0000 168c0013 10\n" + sb.root + "\n");

    sb.tool("/usr/sbin/wl", "echo \"wl $*\" > tmp/wl.log; exit 3");
    EXPECT_EQ(WEXITSTATUS(map_platform_system("wl switch_ip_base_port 57775")), 3);
    EXPECT_EQ(sb.read("/tmp/wl.log"), "wl switch_ip_base_port 57775\n");
    EXPECT_EQ(WEXITSTATUS(map_platform_system("no-such-tool-here")), 127);
}

// No sandboxed command and no reboot request reaches process 1 or the host's
// init.  Refusals are checked on the command text, so that even a broken guard
// runs nothing here; what does run is harmless on any host.
TEST(PlatformShell, NothingReachesProcessOneOrTheHostInit) {
    sandbox sb;
    for (const char* cmd : {"init -r", "kill -TERM 1", "sh -c 'kill 1'", "reboot", "halt",
                            "ps | xargs kill -9", "busybox kill 1", "telinit 6", "poweroff",
                            "killall5 -9", "systemctl reboot", "sudo reboot", "nsenter -t 1 sh"}) {
        EXPECT_EQ(shell_text(cmd), "<refused>") << cmd;
    }
    EXPECT_EQ(map_platform_system("ps"), -1) << "the door refuses what the text refuses";

    // The root's own copies run: not the host's, not the shell's kill builtin.
    sb.tool("/bin/ps", "echo \"ps $*\" >> tmp/calls.log");
    sb.tool("/bin/kill", "echo \"kill $*\" >> tmp/calls.log");
    EXPECT_EQ(map_platform_system("ps -e"), 0);
    EXPECT_EQ(map_platform_system("kill -0 0"), 0);
    EXPECT_EQ(sb.read("/tmp/calls.log"), "ps -e\nkill -0 0\n");

    // A reboot request is recorded, never sent (signal 0: harmless even if it were).
    EXPECT_EQ(map_platform_signal_init(0), 0);
    EXPECT_EQ(map_platform_signal_init(0), 0);
    EXPECT_EQ(map_platform_reboot_count(), 2);
    EXPECT_EQ(sb.read("/sandbox/reboot.log"), "signal 0 to process 1\nsignal 0 to process 1\n");
}

// Production: the command really runs and its exit status comes back;
// addresses come from the kernel.
TEST(PlatformProduction, TheDoorIsTheRealThing) {
    sandbox scratch;  // only a scratch folder here
    ASSERT_EQ(map_platform_set_root(nullptr), 0);
    const std::string touch = "touch " + scratch.path("/ran");

    EXPECT_EQ(WEXITSTATUS(map_platform_system((touch + "; exit 3").c_str())), 3);
    EXPECT_TRUE(scratch.exists("/ran"));
    unlink(scratch.path("/ran").c_str());
    map_platform_fail_nth(map_platform_op::system, 1);
    EXPECT_EQ(map_platform_system(touch.c_str()), -1);
    EXPECT_FALSE(scratch.exists("/ran")) << "an injected failure runs nothing";
    EXPECT_EQ(map_platform_system(touch.c_str()), 0);
    EXPECT_TRUE(scratch.exists("/ran"));

    uint8_t mac[6] = {1, 1, 1, 1, 1, 1};
    ASSERT_EQ(map_platform_get_hwaddr("lo", mac), 0);
    EXPECT_EQ(std::vector<uint8_t>(mac, mac + 6), std::vector<uint8_t>(6, 0));
}

TEST(PlatformSysctl, SandboxTablesHoldTheLastValueWritten) {
    sandbox sb;
    const int name[] = {3, 21, 1, 4};
    const uint32_t first = 0x0A000001;
    const uint8_t second[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(map_platform_sysctl_write(name, 4, &first, sizeof first), 0);
    ASSERT_EQ(map_platform_sysctl_write(name, 4, second, sizeof second), 0);
    map_platform_fail_nth(map_platform_op::sysctl_write, 1);
    errno = 0;
    EXPECT_EQ(map_platform_sysctl_write(name, 4, &first, sizeof first), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(sb.read("/sysctl/3.21.1.4"), std::string("\1\2\3\4\5\6", 6))
        << "one file per name vector, with the last value written";

    uint8_t back[16] = {};
    size_t len = 2;  // a smaller buffer gets the first bytes only
    ASSERT_EQ(map_platform_sysctl_read(name, 4, back, &len), 0);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 3), std::vector<uint8_t>({1, 2, 0}));
    const int never_written[] = {3, 21, 2};
    const int eleven[11] = {3};
    EXPECT_EQ(map_platform_sysctl_read(never_written, 3, back, &len), -1);
    EXPECT_EQ(map_platform_sysctl_write(eleven, 11, &first, 4), -1);
}

namespace {

int put(const std::vector<int>& name, const std::vector<uint8_t>& value) {
    return map_platform_sysctl_write(name.data(), static_cast<int>(name.size()), value.data(),
                                     value.size());
}

std::vector<std::string> polled(map_platform_journal_reader& r) {
    std::vector<std::string> lines;
    map_platform_sysctl_journal_poll(r, lines);
    return lines;
}

}  // namespace

// The journal holds every write in order, refusals included, and a watcher
// started before it existed reads it whole; the listing is sorted by name
// vector, numerically.
TEST(PlatformSysctl, JournalAndListingShowTheWritesInOrder) {
    sandbox sb;
    map_platform_journal_reader watch;
    map_platform_sysctl_journal_follow(watch);
    ASSERT_EQ(put({3, 21, 28, 11}, {0x0a, 0, 0, 1}), 0);
    ASSERT_EQ(put({3, 21, 29, 20, 48}, {0x13, 0, 0, 0}), 0);
    map_platform_fail_nth(map_platform_op::sysctl_write, 1);
    EXPECT_EQ(put({3, 21, 28, 9}, {0xcd}), -1);
    ASSERT_EQ(put({3, 21, 28, 9}, {0xAB}), 0);
    const std::vector<std::string> lines = {"3.21.28.11 = 0a000001", "3.21.29.20.48 = 13000000",
                                            "3.21.28.9 refused", "3.21.28.9 = ab"};
    EXPECT_EQ(polled(watch), lines);
    EXPECT_EQ(sb.read("/sandbox/sysctl.log"),
              lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n" + lines[3] + "\n");
    std::vector<std::string> listed;
    ASSERT_EQ(map_platform_sysctl_list(listed), 0);
    EXPECT_EQ(listed, std::vector<std::string>({lines[3], lines[0], lines[1]}));
}

// Another process arms the refusal file: it counts down with each write, the
// N-th is refused (EIO) and leaves the previous value, and the file goes.
TEST(PlatformSysctl, TheRefusalFileRefusesTheNthWriteOnce) {
    sandbox sb;
    ASSERT_EQ(map_platform_sysctl_refuse_arm(3), 0);
    for (const char* left : {"2\n", "1\n"}) {
        ASSERT_EQ(put({3, 22, 1, 2}, {1}), 0);
        EXPECT_EQ(sb.read("/sandbox/sysctl-refuse"), left);
    }
    errno = 0;
    EXPECT_EQ(put({3, 22, 1, 2}, {2}), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_FALSE(sb.exists("/sandbox/sysctl-refuse"));
    EXPECT_EQ(sb.read("/sysctl/3.22.1.2"), "\1");
    EXPECT_EQ(put({3, 22, 1, 2}, {2}), 0);
    sb.write("/sandbox/sysctl-refuse", "x\n");
    EXPECT_EQ(put({3, 22, 1, 2}, {3}), 0) << "a file without a count refuses nothing";
    EXPECT_FALSE(sb.exists("/sandbox/sysctl-refuse"));
    EXPECT_EQ(sb.read("/sandbox/sysctl.log"),
              "3.22.1.2 = 01\n3.22.1.2 = 01\n3.22.1.2 refused\n3.22.1.2 = 02\n3.22.1.2 = 03\n");
}

// Past 1 MiB the journal becomes sysctl.log.1; a watcher sees the lines
// written after it started, and polled once per rotation loses none.
TEST(PlatformSysctl, TheJournalRotatesPastItsBound) {
    sandbox sb;
    std::vector<uint8_t> value(100 * 1024, 0);  // lines of 200 KiB: six pass the bound
    auto line = [&](int k) {
        char head[20];
        snprintf(head, sizeof head, "3.24.1.11 = %02x", k);
        return head + std::string(2 * value.size() - 2, '0');
    };
    ASSERT_EQ(put({3, 24, 1, 11}, value), 0);
    map_platform_journal_reader watch;
    map_platform_sysctl_journal_follow(watch);  // from the journal's end on
    std::vector<std::string> seen, want;
    for (int k = 1; k < 13; ++k) {
        value[0] = static_cast<uint8_t>(k);
        ASSERT_EQ(put({3, 24, 1, 11}, value), 0);
        want.push_back(line(k));
        if (k == 3 || k == 7 || k == 12) {
            for (auto& l : polled(watch))
                seen.push_back(l);
        }
    }
    EXPECT_TRUE(seen == want) << seen.size() << " lines seen";
    EXPECT_EQ(sb.read("/sandbox/sysctl.log"), line(12) + "\n");
    std::string old = sb.read("/sandbox/sysctl.log.1");
    EXPECT_EQ(old.size(), 6 * (line(0).size() + 1));
    EXPECT_EQ(old.substr(0, 14), line(6).substr(0, 14));
}
