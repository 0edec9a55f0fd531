// The twin's boards: the root of each kind, the VPD partition byte for byte
// and its edits, and the boot-environment tools answering the command lines
// the daemon runs, with their call log.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "platform/platform.hpp"
#include "support/sandbox.hpp"
#include "twin/ap_root.hpp"

using namespace mapd_test;
using namespace std::string_literals;

namespace {

static_assert(std::endian::native == std::endian::little, "integers are little-endian");

const std::string kDefaultEnv =
    "bootver=2.1.0.12\naltbootver=2.1.0.11\nbootfailed=0\nethaddr=00:1a:2b:3c:4d:50\n"
    "serial#=TW0000000001\nband_plan=FCC\ncountry_code=US\nuser_config_country_code=yes\n"
    "hardware_version=2\nproduct_id=QX-WAP-2R\n";

int run(const std::string& command) {
    const int st = map_platform_system(command.c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : 256;
}

void build(const sandbox& sb, const std::string& board, const std::string& factory = "") {
    ap_root_options opt;
    opt.board = board;
    opt.factory_config = factory;
    std::string error;
    ASSERT_EQ(ap_root_build(sb.root, opt, error), 0) << error;
}

// Each kind by the start of its name: its board file, and its identity in a
// VPD partition or a boot environment.
TEST(TwinBoard, EachKindHasItsBoardFileAndIdentityStore) {
    struct row { const char* board; const char* partition; std::string env; } rows[] = {
        {"tovik", "/dev/mtd3", ""},
        {"tovik-2", "/dev/mtd3", ""},
        {"ixdpg425", "/dev/mtd5", ""},
        {"QX_WAP_2R", nullptr, kDefaultEnv},
    };
    for (const auto& r : rows) {
        sandbox sb;
        build(sb, r.board, MAPD_FACTORY_CONFIG);
        EXPECT_EQ(sb.read("/etc/board"), r.board + "\n"s);
        for (const char* p : {"/dev/mtd3", "/dev/mtd5"}) {
            EXPECT_EQ(sb.exists(p), r.partition && p == std::string(r.partition)) << r.board << p;
        }
        EXPECT_EQ(sb.read("/sandbox/bootenv.txt"), r.env) << r.board;
        EXPECT_EQ(run("bootenv -v /dev/mtd8 -d bootver > /tmp/bootver.txt"), r.env.empty() ? 1 : 0);
        EXPECT_EQ(sb.read("/tmp/bootver.txt"), r.env.empty() ? "" : "2.1.0.12\n") << r.board;
    }
}

TEST(TwinBoard, VpdRecordsByteForByteAndEditsKeepTheOthers) {
    sandbox sb;
    build(sb, "ixdpg425");
    const std::string tail = "\x03\x11\0\0hardware_version\0"s + "2\0"s;
    const std::string area = sb.read("/dev/mtd5");
    EXPECT_EQ(area, "\x03\x0a\0\0band_plan\0FCC\0\x03\x0d\0\0country_code\0US\0"s +
                        "\x01\x14\0\0user_config_country\0\x01\0\0\0"s +
                        "\x06\x0c\0\0base_ap_mac\0\x00\x1a\x2b\x3c\x4d\x50"s +
                        "\x03\x0e\0\0serial_number\0TW0000000001\0"s + tail +
                        "\x03\x0b\0\0product_id\0QX-WAP-2R\0"s + std::string(65536 - 167, '\xff'));
    std::string error;
    for (auto [key, value] : {std::pair{"serial_number", "SN-0002-LONGER"},
                              {"base_ap_mac", "02:00:00:00:00:0A"}, {"user_config_country", "-2"},
                              {"note", "x"}}) {
        ASSERT_EQ(ap_vpd_set(sb.root, key, value, error), 0) << key << ": " << error;
    }
    ASSERT_EQ(ap_vpd_unset(sb.root, "product_id", error), 0) << error;
    const std::string edited = "\x03\x0a\0\0band_plan\0FCC\0\x03\x0d\0\0country_code\0US\0"s +
                               "\x01\x14\0\0user_config_country\0\xfe\xff\xff\xff"s +
                               "\x06\x0c\0\0base_ap_mac\0\x02\0\0\0\0\x0a"s +
                               "\x03\x0e\0\0serial_number\0SN-0002-LONGER\0"s + tail +
                               "\x03\x05\0\0note\0x\0"s;
    EXPECT_EQ(sb.read("/dev/mtd5"), edited + std::string(65536 - edited.size(), '\xff'));

    // Values of the wrong form, keys that fit no record.
    for (auto [key, value] : {std::pair{"base_ap_mac", "02:00:00:00:00:0g"}, {"user_config_country", "1x"},
                              {"user_config_country", "2147483648"}}) {
        EXPECT_EQ(ap_vpd_set(sb.root, key, value, error), -1) << key << value;
    }
    EXPECT_EQ(ap_vpd_set(sb.root, std::string(255, 'k'), "x", error), -1);
    EXPECT_EQ(ap_vpd_set(sb.root, std::string(254, 'k'), "", error), 0) << "the longest key";
    EXPECT_EQ(sb.read("/dev/mtd5").substr(0, edited.size()), edited);
}

TEST(TwinBoard, VpdAreasThatAreNoRecordsAreRefused) {
    std::vector<ap_vpd_record> recs;
    std::string error;
    for (const std::string& area : {"\x02\x02\0\0k\0\0\0\0\0"s, "\x03\x09\0\0k\0v\0"s,
                                    "\x03\x02\0\0k\0v"s, "\x01\x02\0\0k\0\x01\0\0"s,
                                    "\x03\x03\0\0k\0\0v\0"s, "\x03\x02\0\0kv\0"s, "\x03"s}) {
        EXPECT_EQ(ap_vpd_decode(area, recs, error), -1) << testing::PrintToString(area);
    }
    ASSERT_EQ(ap_vpd_decode("\x06\x02\0\0k\0abcdef\x03\x01\0\0\0v\0\0\x03"s, recs, error), 0);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].key + "|" + recs[0].value + "|" + recs[1].key + "|" + recs[1].value,
              "k|abcdef||v");
}

// The command lines the AP runs, their work files and exit statuses; then
// the tools that change the environment, and the log of every call.
TEST(TwinBoard, BootToolsAnswerFromTheEnvironmentAndLogEveryCall) {
    sandbox sb;
    build(sb, "bcm954748eaple");
    std::string error;
    ASSERT_EQ(ap_bootenv_set(sb.root, "country_code", "DE", error), 0) << error;
    for (const char* name : {"", "a=b", "a\nb"}) {
        EXPECT_EQ(ap_bootenv_set(sb.root, name, "x", error), -1);
    }
    struct row { const char* command; const char* file; const char* text; int rc; } rows[] = {
        {"bootenv -v /dev/mtd8 -d bootfailed > /tmp/bootfail.txt", "/tmp/bootfail.txt", "0\n", 0},
        {"bootenv -d serial# > /tmp/serial.txt", "/tmp/serial.txt", "TW0000000001\n", 0},
        {"bootenv -d serial > /tmp/serial.txt", "/tmp/serial.txt", "", 1},
        {"bootenv -d boot > /tmp/boot.txt", "/tmp/boot.txt", "", 1},
        {"bootenv -d country_code > /tmp/country_code.txt", "/tmp/country_code.txt", "DE\n", 0},
        {"bootenv -v /dev/mtd8 > /tmp/none.txt 2>/dev/null", "/tmp/none.txt", "", 2},
        {"/usr/sbin/nvram config_set =1 2>/dev/null", nullptr, nullptr, 2},
        {"/usr/sbin/nvram config_set bfcount=0", nullptr, nullptr, 0},
        {"/usr/sbin/nvram config_set bootfailed=1", nullptr, nullptr, 0},
        {"/usr/sbin/nvram config_commit", nullptr, nullptr, 0},
        {"/usr/sbin/nvram lock x 2>/dev/null", nullptr, nullptr, 2},
        {"/usr/sbin/activate-backup", nullptr, nullptr, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(run(r.command), r.rc) << r.command;
        if (r.file) {
            EXPECT_EQ(sb.read(r.file), r.text) << r.command;
        }
    }
    const std::string swapped = "altbootver=2.1.0.12\nbootver=2.1.0.11\nbootfailed=1\n";
    EXPECT_EQ(sb.read("/sandbox/bootenv.txt").substr(0, swapped.size()), swapped);
    EXPECT_EQ(run("/usr/bin/bootenv -u altbootver"), 0);
    EXPECT_EQ(run("/usr/bin/bootenv -u altbootver"), 0);
    EXPECT_EQ(sb.read("/sandbox/bootenv.txt"),
              "bootver=2.1.0.11\nbootfailed=1\nethaddr=00:1a:2b:3c:4d:50\nserial#=TW0000000001\n"
              "band_plan=FCC\ncountry_code=DE\nuser_config_country_code=yes\nhardware_version=2\n"
              "product_id=QX-WAP-2R\nbfcount=0\n");
    EXPECT_EQ(sb.read("/sandbox/bootenv.log"),
              "/usr/sbin/bootenv -v /dev/mtd8 -d bootfailed\n/usr/sbin/bootenv -d serial#\n"
              "/usr/sbin/bootenv -d serial\n/usr/sbin/bootenv -d boot\n/usr/sbin/bootenv -d country_code\n"
              "/usr/sbin/bootenv -v /dev/mtd8\n/usr/sbin/nvram config_set =1\n"
              "/usr/sbin/nvram config_set bfcount=0\n/usr/sbin/nvram config_set bootfailed=1\n"
              "/usr/sbin/nvram config_commit\n/usr/sbin/nvram lock x\n"
              "/usr/sbin/activate-backup\n/usr/bin/bootenv -u altbootver\n"
              "/usr/bin/bootenv -u altbootver\n");
}

// A boot of a newly installed image: its version runs, the old one is the
// backup; a board without boot environment gets none.
TEST(TwinBoard, BootOfAnInstalledImageMovesTheVersions) {
    for (const char* board : {"QX_WAP_2R", "tovik"}) {
        sandbox sb;
        build(sb, board);
        std::string error, version;
        ASSERT_EQ(ap_image_write(sb.path("/sandbox/installed.tar"), "2.2.0.1", {}, error), 0);
        sb.write("/sandbox/flash.log", "flash-upgrade /tmp/upgrade.tar\n");
        ASSERT_EQ(ap_root_boot_installed(sb.root, version, error), 1) << error;
        const std::string moved = "bootver=2.2.0.1\naltbootver=2.1.0.12\n" + kDefaultEnv.substr(37);
        EXPECT_EQ(sb.read("/sandbox/bootenv.txt"), *board == 't' ? "" : moved);
    }
}

}  // namespace
