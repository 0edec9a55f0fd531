// Firmware on both sides of the link: swsim's download, image and reset
// messages byte for byte, its reading of the AP's download status, its
// firmware steps; the twin's tftp, flash-validate and flash-upgrade run as
// the daemon runs them, on images from apsim's writer and broken ones, and
// the boot that takes the installed image's version.
#include "swsim/update_msg.hpp"

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/platform.hpp"
#include "support/bytes.hpp"
#include "support/sandbox.hpp"
#include "swsim/scenario.hpp"
#include "swsim/swsim.hpp"
#include "twin/ap_root.hpp"

using namespace mapd_test;

namespace {

const uint8_t kAp[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
const bytes ap = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
const std::string AP = "ap 00:1a:2b:3c:4d:50";
bytes head(uint16_t type, uint16_t len) { return wr().be16(type).be16(len).b; }
bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }
const bytes v4 = bytes(13, 0) + bytes{127, 0, 0, 2};
const std::string kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// A command line of the AP image run in the sandbox: its exit status.
int run(const std::string& command) {
    const int st = map_platform_system(command.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : 256;
}

TEST(SwsimUpdateMsg, MessagesAreBuiltByteForByte) {
    uint8_t six[16] = {0x20, 0x01, 0x0d, 0xb8};
    // A step's messages, with the AP's MAC given or not.
    auto step = [](const std::string& verb, const std::vector<std::string>& args) {
        swsim_update_cmd c;
        std::string error;
        std::vector<bytes> msgs;
        EXPECT_EQ(swsim_update_cmd_parse(verb, args, c, error), 0) << error;
        EXPECT_EQ(swsim_update_cmd_build(c, kAp, msgs, error), 0) << error;
        return msgs.empty() ? bytes{} : msgs[0];
    };
    const std::vector<bytes> big = swsim_msgs_image_upgrade(bytes(2 * 8184 + 1, 7), 0);
    struct row {
        const char* name;
        bytes got, want;
    } rows[] = {
        {"download to a named AP", step("update-code", {"127.0.0.2", "fw/ap.tar", "00:11:22:33:44:55"}),
         head(28, 53) + elem(33, {0, 0x11, 0x22, 0x33, 0x44, 0x55}) + elem(0x101, v4) + elem(0x4101, {1}) +
             elem(0x4103, text("fw/ap.tar"))},
        {"download from IPv6", swsim_msg_update_code(kAp, six, true, 2, "a"),
         head(28, 45) + elem(33, ap) + elem(0x101, bytes{1, 0x20, 1, 0x0d, 0xb8} + bytes(12, 0)) +
             elem(0x4101, {2}) + elem(0x4103, text("a"))},
        {"reset to the new image", step("reset", {"upgrade"}),
         head(30, 25) + elem(0x4110, {1}) + elem(0x4111, {0, 0}) + elem(33, ap)},
        {"default chunk fills the AP's buffer", big[1], head(71, 8192) + elem(0x2031, bytes(8184, 7))},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.name;
    EXPECT_EQ(big.size(), 5u);
    EXPECT_EQ(swsim_msgs_image_upgrade(text("0123456789"), 4),
              (std::vector<bytes>{head(71, 8) + elem(0x2030, {}), head(71, 12) + elem(0x2031, text("0123")),
                                  head(71, 12) + elem(0x2031, text("4567")),
                                  head(71, 10) + elem(0x2031, text("89")), head(71, 8) + elem(0x2032, {})}));
}

TEST(SwsimUpdateMsg, StatusIsReadWithItsFaults) {
    const bytes good = head(29, 19) + elem(33, ap) + elem(0x4104, {1});
    struct row {
        bytes msg;
        std::string want;
    } rows[] = {
        {good, "code download status (29), 19 bytes: " + AP + " status 1 (image in place)"},
        {head(29, 20) + elem(33, ap) + elem(0x4104, {1}) + bytes{0}, "1 stray bytes at the end, a status is 19 bytes"},
        {head(29, 18) + elem(33, ap) + elem(0x4104, {1}), "MALFORMED: length field 18 in 19 bytes"},
        {head(29, 19) + elem(0x4104, {1}) + elem(33, ap), "MALFORMED: a status holds the MAC element, then"},
        {head(29, 19) + elem(33, ap) + elem(0x4104, {3}), "status 3 (unknown); MALFORMED: status 3 is neither"},
        {head(29, 19) + elem(33, bytes(5, 1)) + elem(0x4104, {1, 0}), "element 0x0021 length 5 (expected 6)"},
    };
    for (const auto& r : rows) EXPECT_TRUE(contains(swsim_decode(r.msg), r.want)) << swsim_decode(r.msg);
    EXPECT_FALSE(contains(swsim_decode(good), "MALFORMED"));
}

TEST(SwsimUpdateMsg, StepsAreCheckedWhenRead) {
    struct row {
        std::string text;
        int rc;
        const char* error;
    } rows[] = {
        {"update-code 127.0.0.2 fw.tar\nupdate-code ::1 f 2 00:11:22:33:44:55\nimage-upgrade a.tar 65527\n"
         "reset\nreset upgrade 00:11:22:33:44:55\n", 0, ""},
        {"\nupdate-code 127.0.0.2 fw.tar 256\n", -1, "line 2: transfer mode 0 to 255"},
        {"update-code 127.0.0.2 " + std::string(4001, 'f') + "\n", -1, "file name over 4000"},
        {"image-upgrade a.tar 0\n", -1, "chunk size 1 to 65527"},
    };
    for (const auto& r : rows) {
        swsim_scenario sc;
        std::string error;
        EXPECT_EQ(swsim_scenario_parse(r.text, sc, error), r.rc) << r.text;
        EXPECT_TRUE(contains(error, r.error)) << error;
    }
    swsim_scenario sc;
    std::string error;
    EXPECT_EQ(swsim_scenario_load(std::string(MAPD_SWSIM_SCENARIOS) + "/update.txt", sc, error), 0) << error;
}

struct twin_root : sandbox {
    std::string host_tmp = root + "/host-tmp";
    twin_root() {
        std::string error;
        EXPECT_EQ(ap_root_write_firmware_tools(root, error), 0) << error;
        make_dirs(host_tmp);
        write("/dev/console", "");
        setenv("TMPDIR", host_tmp.c_str(), 1);
    }
    ~twin_root() { unsetenv("TMPDIR"); }
    void tar(const std::string& ap_path, const std::vector<ap_image_member>& members) const {
        std::string error;
        EXPECT_EQ(ap_tar_write(path(ap_path), members, error), 0) << error;
    }
};

TEST(TwinFirmwareTools, FlashValidateTakesWholeImagesOnly) {
    twin_root t;
    std::string error;
    ASSERT_EQ(ap_image_write(t.path("/tmp/made.tar"), "2.2.0.1", {{"abc.txt", "abc"}}, error), 0);
    const ap_image_member version{"VERSION", "abc"}, payload{"p.bin", "abc"};
    const std::string both = kAbc + "  p.bin\n" + kAbc + "  VERSION\n";
    t.tar("/tmp/bad-digest.tar", {{"MANIFEST", both}, version, {"p.bin", "abd"}});
    t.tar("/tmp/member-missing.tar", {{"MANIFEST", both}, version});
    t.tar("/tmp/no-version.tar", {{"MANIFEST", kAbc + "  p.bin\n"}, payload});
    t.tar("/tmp/unlisted.tar", {{"MANIFEST", both}, version, payload, {"q.bin", "abc"}});
    t.tar("/tmp/one-space.tar", {{"MANIFEST", kAbc + " p.bin\n" + kAbc + "  VERSION\n"}, version, payload});
    t.write("/tmp/text.tar", "not an archive\n");
    struct row {
        const char* file;
        int rc;
        const char* says;
    } rows[] = {
        {"made", 0, ""},
        {"bad-digest", 1, "the digest of p.bin does not match"},
        {"member-missing", 1, "member p.bin missing"},
        {"no-version", 1, "no VERSION"},
        {"unlisted", 1, "a member that MANIFEST does not list once"},
        {"one-space", 1, "a MANIFEST line not in the format of sha256sum"},
        {"text", 1, "is not a tar archive"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(run(std::string("/usr/sbin/flash-validate /tmp/") + r.file + ".tar >/dev/console 2>&1"),
                  r.rc) << r.file;
        const std::string said = t.read("/dev/console");
        EXPECT_TRUE(*r.says ? contains(said, r.says) : said.empty()) << r.file << ": " << said;
        EXPECT_TRUE(std::filesystem::is_empty(t.host_tmp)) << r.file << " left files behind";
    }
}

TEST(TwinFirmwareTools, FlashUpgradeInstallsAndTheBootTakesItsVersion) {
    twin_root t;
    std::string error, version;
    t.write("/etc/version", "2.1.0.12\n");
    EXPECT_EQ(ap_root_boot_installed(t.root, version, error), 0);
    t.write("/tmp/upgrade.tar", "not an archive\n");
    EXPECT_NE(run("/usr/sbin/flash-upgrade /tmp/upgrade.tar >/dev/console 2>&1"), 0);
    EXPECT_FALSE(t.exists("/sandbox/flash.log"));
    ASSERT_EQ(ap_image_write(t.path("/tmp/upgrade.tar"), "2.2.0.1", {}, error), 0);
    EXPECT_EQ(run("mv /tmp/upgrade.tar /tmp/upgrade.tar >/dev/console 2>&1"), 0);  // as the AP's mv
    EXPECT_EQ(run("/usr/sbin/flash-upgrade /tmp/upgrade.tar >/dev/console 2>&1"), 0) << t.read("/dev/console");
    EXPECT_EQ(t.read("/sandbox/flash.log"), "flash-upgrade /tmp/upgrade.tar\n");
    EXPECT_EQ(t.read("/sandbox/installed.tar"), t.read("/tmp/upgrade.tar"));
    EXPECT_EQ(ap_root_boot_installed(t.root, version, error), 1) << error;
    EXPECT_EQ(version, "2.2.0.1");
    EXPECT_EQ(t.read("/etc/version"), "2.2.0.1\n");
    EXPECT_EQ(ap_root_boot_installed(t.root, version, error), 0);  // booted once
}

TEST(TwinFirmwareTools, TftpRunsBusyboxWithTheServersPath) {
    struct row {
        const char* remote;
        int rc;
        const char* want;
    } rows[] = {
        {"/fw/ap.tar", 0, "-r /fw/ap.tar -g 127.0.0.2"},
        {"fw/ap.tar", 1, "-r fw/ap.tar -g 127.0.0.2"},
    };
    for (const auto& r : rows) {
        twin_root t;
        t.tool("/bin/busybox", "echo \"$*\" > tmp/busybox.args; exit " + std::to_string(r.rc));
        EXPECT_EQ(run(std::string("/usr/bin/tftp -l /tmp/ap.tar -r ") + r.remote +
                      " -g 127.0.0.2 >/dev/console 2>&1"),
                  r.rc);
        EXPECT_EQ(t.read("/tmp/busybox.args"), "tftp -l " + t.root + "/tmp/ap.tar " + r.want + "\n");
    }
}

}  // namespace
