// The field road of a firmware update on the twin, in a private network
// namespace with a real TFTP server (in.tftpd) and the twin's real transfer
// and validation tools: the switch orders a download of a missing file and
// of a good image, then a reset with upgrade; the twin flashes, reboots,
// boots the new image and joins the switch again.  A streamed image that
// fails validation reboots without flashing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/twin_fixture.hpp"
#include "swsim/swsim.hpp"
#include "swsim/update_msg.hpp"
#include "twin/ap_root.hpp"
#include "twin/standins.hpp"
#include "wire/wire.hpp"

using namespace mapd_e2e;

namespace {

using bytes = std::vector<uint8_t>;

// in.tftpd serving `dir` on 127.0.0.2:69 until the object goes.
struct tftp_server {
    pid_t pid = -1;
    explicit tftp_server(const std::string& dir) {
        pid = fork();
        if (pid == 0) {
            execl("/usr/sbin/in.tftpd", "in.tftpd", "-L", "-a", "127.0.0.2:69", "-s", dir.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~tftp_server() {
        if (pid > 0) kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
    }
    // Whether it listens (UDP port 69 in /proc/net/udp) and still runs.
    bool listening() const {
        std::ifstream in("/proc/net/udp");
        for (std::string line; std::getline(in, line);)
            if (line.find(":0045 ") != std::string::npos) return waitpid(pid, nullptr, WNOHANG) == 0;
        return false;
    }
};

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The twin's AP (eth0's MAC) and the TFTP server the switch names, 127.0.0.2
// as an IPv4-mapped 16-byte address.
constexpr uint8_t ap[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
constexpr uint8_t tftp_addr[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 127, 0, 0, 2};

}  // namespace

TEST(Update, DownloadFromTftpThenResetWithUpgradeBootsTheNewImage) {
    if (access("/usr/sbin/in.tftpd", X_OK) != 0) GTEST_SKIP() << "no in.tftpd (scripts/setup)";
    if (!enter_private_network()) GTEST_SKIP() << "needs a private network namespace (root)";
    char dir_template[] = "/tmp/mapd-tftp-XXXXXX";
    const std::string served = mkdtemp(dir_template);
    std::filesystem::create_directories(served + "/images");
    std::string error;
    ASSERT_EQ(ap_image_write(served + "/images/ap-2.tar", "2.0.1.00", {}, error), 0) << error;
    const std::string image = file_text(served + "/images/ap-2.tar");
    // in.tftpd serves as its own unprivileged user: the tree must be readable.
    namespace fs = std::filesystem;
    for (const char* p : {"", "/images", "/images/ap-2.tar"})
        fs::permissions(served + p, fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::others_read | fs::perms::group_exec |
                                        fs::perms::others_exec);
    tftp_server server(served);
    ASSERT_TRUE(eventually([&] { return server.listening(); }, 5000)) << "in.tftpd did not start";

    twin t;
    swsim sw;
    standins st;
    ASSERT_EQ(managed_twin_up(t, sw, st), "");
    // The next download status from the AP (within 20 s), or nothing.
    auto status = [&] {
        bytes m;
        for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             std::chrono::steady_clock::now() < end;)
            if (swsim_recv(sw, m, 200) == 0 && m.size() >= 2 && wire_load_be16(m.data()) == 29)
                return m;
        return bytes{};
    };
    auto status_msg = [&](uint8_t s) {
        return bytes{0, 29, 0, 19, 0, 33, 0, 6, ap[0], ap[1], ap[2], ap[3], ap[4], ap[5],
                     0x41, 0x04, 0, 1, s};
    };

    // A file the server does not have: status 2.
    ASSERT_EQ(swsim_send(sw, swsim_msg_update_code(ap, tftp_addr, false, 1, "images/none.tar")), 0);
    EXPECT_EQ(status(), status_msg(2)) << t.log_text();
    EXPECT_EQ(t.read("/tmp/upgrade.tar"), "<missing>");

    // The image: fetched, validated, in place; nothing installed.
    ASSERT_EQ(swsim_send(sw, swsim_msg_update_code(ap, tftp_addr, false, 1, "images/ap-2.tar")), 0);
    EXPECT_EQ(status(), status_msg(1)) << t.read("/dev/console");
    EXPECT_TRUE(t.read("/tmp/upgrade.tar") == image) << "the served image, byte for byte";
    EXPECT_EQ(t.read("/sandbox/flash.log"), "<missing>");

    // Reset with upgrade: the flash after 3 s, the reboot 60 s after it.
    ASSERT_EQ(swsim_send(sw, swsim_msg_reset(ap, 1)), 0);
    ASSERT_FALSE(t.dump(" Managed AP Parameters -").empty());  // the reset was taken in
    EXPECT_EQ(t.read("/sandbox/flash.log"), "<missing>") << "nothing before 3 s";
    t.advance(3);
    ASSERT_TRUE(eventually([&] { return t.read("/sandbox/flash.log") != "<missing>"; }, 5000))
        << t.log_text();
    EXPECT_EQ(t.read("/sandbox/flash.log"), "flash-upgrade /tmp/upgrade.tar\n");
    // The tool writes its log before it ends; the pause counts from its end, so
    // the clock moves on only once the daemon is back in its loop.
    const size_t mark = t.log_size();
    udp_peer("127.0.0.1", 0).send_to({0x01, 0x06, 0x00, 0x04});  // the configuration dump
    ASSERT_TRUE(t.wait_log(" /**** Configuration Dump End ****/", 10000, mark)) << t.log_text();
    EXPECT_NE(t.log_from(mark).find(" reset pending: reboot, due in 60 s"), std::string::npos)
        << t.log_from(mark);
    t.advance(59);
    ASSERT_FALSE(t.dump(" Managed AP Parameters -").empty());
    EXPECT_EQ(t.read("/sandbox/reboot.log"), "<missing>") << "not before 60 s";
    t.advance(1);
    EXPECT_TRUE(eventually([&] { return t.read("/sandbox/reboot.log") != "<missing>"; }, 5000))
        << t.log_text();

    // The reboot: the twin boots the installed image and the AP joins again.
    t.stop();
    swsim_drop(sw);
    std::string version;
    ASSERT_EQ(ap_root_boot_installed(t.root, version, error), 1) << error;
    EXPECT_EQ(version, "2.0.1.00");
    EXPECT_EQ(t.read("/etc/version"), "2.0.1.00\n");
    ASSERT_TRUE(t.start()) << t.log_text();
    ASSERT_EQ(swsim_establish(sw, 12000, error), 0) << error;

    // A streamed image that is no image: deleted, and a reboot without flash.
    const size_t reboots = t.read("/sandbox/reboot.log").size();
    std::vector<bytes> msgs = swsim_msgs_image_upgrade(bytes(20000, 'x'), 8184);
    for (const auto& m : msgs) ASSERT_EQ(swsim_send(sw, m), 0);
    EXPECT_TRUE(eventually([&] { return t.read("/sandbox/reboot.log").size() > reboots; }, 5000))
        << t.log_text();
    EXPECT_EQ(t.read("/tmp/upgrade.tar"), "<missing>");
    EXPECT_EQ(t.read("/sandbox/flash.log"), "flash-upgrade /tmp/upgrade.tar\n") << "no second flash";
    swsim_close(sw);
    standins_close(st);
    std::filesystem::remove_all(served);
}

// A TFTP server that takes the request and never answers: the download child
// waits on it, the daemon does not; local commands are answered within a
// second and the timers run meanwhile.
TEST(Update, StalledTftpServerNeverHoldsTheLoop) {
    if (!enter_private_network()) GTEST_SKIP() << "needs a private network namespace (root)";
    udp_peer stalled("127.0.0.2", 69);
    ASSERT_GE(stalled.fd, 0);
    twin t;
    swsim sw;
    standins st;
    ASSERT_EQ(managed_twin_up(t, sw, st), "");
    ASSERT_EQ(swsim_send(sw, swsim_msg_update_code(ap, tftp_addr, false, 1, "images/ap-2.tar")), 0);
    const std::vector<uint8_t> rrq = stalled.recv(5000);
    ASSERT_GE(rrq.size(), 2u) << t.log_text();
    EXPECT_EQ(rrq[1], 1) << "a read request";
    const char* countdown = " Keepalive Timeout Interval: ";
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(t.dump(countdown, 1000).empty()) << "round " << i;
    t.advance(5);
    EXPECT_TRUE(t.dump_shows(countdown, 25, 3000)) << "the timers run";
    swsim_close(sw);
    standins_close(st);
}
