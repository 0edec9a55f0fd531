// The AP's identity at start-up: the VPD area scan, and map_vpd_init on the
// boot-environment, Broadcom and RedBoot boards, run against stand-in tools
// that record the command lines they were started with.
#include "core/map_vpd.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dman/dman_store.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// A VPD record: type, key length with its zero, 2 unused bytes, key, value.
std::string rec(char type, const std::string& key, const std::string& value) {
    return std::string{type, static_cast<char>(key.size() + 1), '?', '?'} + key + '\0' + value;
}
std::string text(const std::string& key, const std::string& value) { return rec(3, key, value + '\0'); }
// Records followed by erased flash.
std::string padded(const std::string& records, size_t size = 64) { return records + std::string(size - records.size(), '\xff'); }
std::string bytes(const char* s, size_t n) { return std::string(s, n); }

TEST(VpdFind, RecordsAndBadAreas) {
    const std::string mac = bytes("\x00\x1a\x2b\x3c\x4d\x50", 6), one = bytes("\1\0\0\0", 4);
    // out: the bytes copied, "" not found; log: the error line, "" none.
    struct row { const char* name; std::string area; const char* key; int type; size_t limit; std::string out; const char* log; };
    const row rows[] = {
        {"text first", padded(text("serial_number", "SN1")), "serial_number", 3, 256, bytes("SN1", 4), ""},
        {"mac", padded(rec(6, "base_ap_mac", mac)), "base_ap_mac", 6, 6, mac, ""},
        {"integer", padded(rec(1, "user_config_country", one)), "user_config_country", 1, 4, one, ""},
        {"second record", padded(text("band_plan", "FCC") + text("product_id", "P1")), "product_id", 3, 32, bytes("P1", 3), ""},
        {"text at its limit", padded(text("band_plan", "FCC")), "band_plan", 3, 4, bytes("FCC", 4), ""},
        {"text over its limit", padded(text("band_plan", "FCC")), "band_plan", 3, 3, "", "VPD key band_plan too long, len = 4"},
        {"text to the area's end", rec(3, "band_plan", "FCC"), "band_plan", 3, 32, "", "VPD key band_plan too long, len = 4"},
        {"other type", padded(rec(1, "band_plan", one)), "band_plan", 3, 32, "", ""},
        {"key length byte off", padded(bytes("\3\13??band_plan\0FCC\0", 18)), "band_plan", 3, 32, "", ""},
        {"key without its zero", padded(bytes("\3\12??band_plans\0X\0", 18)), "band_plan", 3, 32, "", ""},
        {"empty key", padded(bytes("\3\1??\0v\0", 7)), "", 3, 32, "", ""},
        {"key zero at the area's end", rec(3, "band_plan", ""), "band_plan", 3, 32, "", ""},
        {"key in the last 4 bytes", std::string(8, '\xff') + text("k", "v"), "k", 3, 32, "", ""},
        {"mac cut short", rec(6, "base_ap_mac", mac.substr(0, 5)), "base_ap_mac", 6, 6, "", ""},
        {"mac into a smaller field", padded(rec(6, "base_ap_mac", mac)), "base_ap_mac", 6, 5, "", ""},
        {"integer cut short", rec(1, "user_config_country", one.substr(0, 3)), "user_config_country", 1, 4, "", ""},
    };
    for (const row& r : rows) {
        const std::vector<uint8_t> area(r.area.begin(), r.area.end());
        std::string buf(300, '#');
        CaptureStdout();
        const int rc = map_vpd_find(area.data(), area.size(), r.key, r.type, r.limit, buf.data());
        const std::string log = GetCapturedStdout();
        EXPECT_EQ(rc, r.out.empty() ? -1 : 0) << r.name;
        EXPECT_EQ(buf.substr(0, r.out.size() + 1), r.out + '#') << r.name;  // nothing more
        EXPECT_EQ(log.find(*r.log ? r.log : "VPD key") != std::string::npos, *r.log != 0) << r.name;
    }
    EXPECT_EQ(map_vpd_find(nullptr, 64, "k", 3, 8, std::string(8, 0).data()), -1);
    EXPECT_EQ(map_vpd_find(reinterpret_cast<const uint8_t*>("x"), 1, nullptr, 3, 8, std::string(8, 0).data()), -1);
}

// Stand-ins append their command line as run (the work file their output
// goes to included, the root and the /sbin of bare names left out) to
// <root>/calls; bootenv prints the files under <root>/env.
const std::string kRecord =
    "o=$(readlink /proc/$$/fd/1); case $o in \"$MAPD_ROOT\"/*) o=\" > $o\";; *) o=;; esac\n"
    "(set -- \"$0\" \"$@\"; echo \"$*$o\") | sed \"s#$MAPD_ROOT##g; s#^/sbin/##\" >> \"$MAPD_ROOT/calls\"\n";

const std::map<std::string, std::string> kBoard = {
    {"/etc/board", "generic_ap\n"},
    {"/etc/reg_domains.conf",
     "[country codes]\nUS\tD1\tD1 D1\t#\tX\nCA\tD1\tD1 D1\t#\tY\n[regulatory domains]\nD1 11G x 6 0 0 0\n"},
    {"/env/bootfailed", "0\n"}, {"/env/bootver", "2.1.0.5\n"}, {"/env/altbootver", "2.0.9.1\n"},
    {"/env/band_plan", "FCC\n"}, {"/env/country_code", "CA\n"}, {"/env/user_config_country_code", "1\n"},
    {"/env/ethaddr", "00:1a:2b:3c:4d:50\n"}, {"/env/serial#", "SN0042\n"},
    {"/env/hardware_version", "B2\n"}, {"/env/product_id", "WAP-77\n"}};

const std::string kArea = padded(text("band_plan", "ETSI") + text("country_code", "US") +
    rec(1, "user_config_country", bytes("\0\0\0\0", 4)) + rec(6, "base_ap_mac", bytes("\x00\x1a\x2b\x3c\x4d\x51", 6)) +
    text("serial_number", "RB-1") + text("hardware_version", "R2") + text("product_id", "RB-AP"), 4095);

struct init_row {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files = {};  // over kBoard; "-" removes
    std::vector<std::string> stored = {};  // "property=value" of class "system", or "class/property=value"
    std::vector<std::string> expect = {};  // as stored, after; "saved:" the saved copy; "file:" an AP file
    std::vector<std::string> out = {};     // texts on standard output; "!" first: not there
    std::vector<std::pair<std::string, int>> counts = {};  // command line, times run
    const char* calls = nullptr;                           // every command line, in order
    int runs = 1;
};

// Class and property of "[class/]property".
std::pair<std::string, std::string> prop_of(const std::string& k) {
    const size_t slash = k.find('/');
    return slash == std::string::npos ? std::pair{std::string("system"), k} : std::pair{k.substr(0, slash), k.substr(slash + 1)};
}

std::string value_of(const mapd_test::sandbox& sb, const std::string& key) {
    if (key.starts_with("file:")) return sb.read(key.substr(5));
    const bool saved = key.starts_with("saved:");
    const auto [cls, prop] = prop_of(key.substr(saved ? 6 : 0));
    if (!saved) return mapd_test::db_get(cls.c_str(), nullptr, prop.c_str());
    std::vector<dman_row> rows;
    std::string error;
    dman_store_load(cls.c_str(), nullptr, dman_copy::startup, rows, error);
    return !rows.empty() && rows[0].find(prop.c_str()) ? *rows[0].find(prop.c_str()) : "<absent>";
}

TEST(VpdInit, BoardsBootStateAndItems) {
    const init_row rows[] = {
        {.name = "boot-environment board: commands in order, every item stored and traced, saved",
         .stored = {"serial-number="},  // empty: none
         .expect = {"lastboot=success", "version=2.1.0.5", "altversion=2.0.9.1", "band-plan=FCC", "country=CA",
                    "country-code-is-configurable=on", "base-mac=00:1a:2b:3c:4d:50", "serial-number=SN0042",
                    "device-info/version-id=B2", "device-info/product-id=WAP-77", "saved:device-info/product-id=WAP-77"},
         .out = {"VPD information being applied to the configuration\nAP Band Plan: FCC - Config Changed: 1\n"
                 "AP Country Code: CA - Config Changed: 1\nAP User Config Country Code: 1 - Config Changed: 1\n"
                 "AP MAC: 00:1a:2b:3c:4d:50 - Config Changed: 1\nAP Serial number: SN0042 - Config Changed: 1\n"
                 "AP hardware_version: B2 - Config Changed: 1\nAP Product ID: WAP-77 - Config Changed: 1\n"
                 "\n\r\n\rVPD Changed. Saving Configuration.....\n\r\n\r", "Done parsing VPD. Size = 0\n"},
         .calls = "/usr/sbin/nvram config_set bfcount=0\nbootenv -v /dev/mtd8 -d bootfailed > /tmp/bootfail.txt\n"
                  "bootenv -v /dev/mtd8 -d bootver > /tmp/bootver.txt\nbootenv -v /dev/mtd8 -d altbootver > /tmp/altbootver.txt\n"
                  "bootenv -d band_plan > /tmp/band_plan.txt\nbootenv -d country_code > /tmp/country_code.txt\n"
                  "bootenv -d user_config_country_code > /tmp/configCountry.txt\nbootenv -d ethaddr > /tmp/mac.txt\n"
                  "bootenv -d serial# > /tmp/serial.txt\nbootenv -d hardware_version > /tmp/hardware_version.txt\n"
                  "bootenv -d product_id > /tmp/product_id.txt\n"},
        {.name = "serial number stored: versions refreshed, VPD not read", .stored = {"serial-number=OLD"},
         .expect = {"serial-number=OLD", "band-plan=<absent>", "saved:version=2.1.0.5", "altversion=2.0.9.1"},
         .out = {"!VPD information"}, .counts = {{"bootenv -d band_plan > /tmp/band_plan.txt", 0}}},
        {.name = "failed boot: backup activated once, not again on the next start; stored country kept over another",
         .files = {{"/env/bootfailed", "1\n"}}, .stored = {"lastboot=success", "country=US"},
         .expect = {"lastboot=failure", "country=US"}, .out = {"\n primary image was corrupted so move to secondary image \n\n"},
         .counts = {{"/usr/sbin/activate-backup", 1}, {"/usr/bin/bootenv -u altbootver", 1}}, .runs = 2},
        {.name = "broadcom board, failed boot, no alternate version: nvram switch, no 'not completed' trace",
         .files = {{"/etc/board", "bcm954748eaple\n"}, {"/env/bootfailed", "1\n"}, {"/env/altbootver", "-"}},
         .stored = {"lastboot=success", "serial-number=S"}, .expect = {"altversion=", "lastboot=failure"},
         .out = {"!Last updated Boot Image"},
         .calls = "/usr/sbin/nvram config_set bfcount=0\nbootenv -v /dev/mtd8 -d bootfailed > /tmp/bootfail.txt\n"
                  "/usr/sbin/nvram config_set bootstate=0\n/usr/sbin/nvram config_commit\nusr/sbin/nvram unlock\n"
                  "usr/sbin/nvram config_set bootfailed=0\nusr/sbin/nvram config_commit\nusr/sbin/nvram commit\n"
                  "usr/sbin/nvram lock\nbootenv -v /dev/mtd8 -d bootver > /tmp/bootver.txt\n"
                  "bootenv -v /dev/mtd8 -d altbootver > /tmp/altbootver.txt\nbootenv -d altbootver > /tmp/altbootver.txt\n"},
        {.name = "good boot after a failure, empty or no image versions in the boot environment: /etc/version; "
                 "stored country differing only in case is kept",
         .files = {{"/env/bootver", "\n"}, {"/env/altbootver", "-"}, {"/etc/version", "3.4.5.6\n"},
                   {"/env/country_code", "us\n"}, {"/env/user_config_country_code", "yes\n"}},
         .stored = {"lastboot=failure", "country=US"},
         .expect = {"lastboot=success", "version=3.4.5.6", "country=US", "country-code-is-configurable=on"},
         .out = {"\n Last updated Boot Image was not completed fully so did not upgrade to the new image \n\n"},
         .counts = {{"bootenv -d bootver > /tmp/bootver.txt", 0}, {"bootenv -d altbootver > /tmp/altbootver.txt", 1}}},
        {.name = "no /etc/version, empty boot environment, no /etc/board",
         .files = {{"/etc/board", "-"}, {"/env/bootfailed", "-"}, {"/env/bootver", "-"}, {"/env/altbootver", "-"},
                   {"/env/band_plan", "-"}, {"/env/country_code", "-"}, {"/env/user_config_country_code", "-"},
                   {"/env/ethaddr", "-"}, {"/env/serial#", "-"}, {"/env/hardware_version", "-"}, {"/env/product_id", "-"}},
         .expect = {"version=0.0.0.00", "file:/tmp/bootver.txt=0.0.0.00\n", "altversion=", "lastboot=<absent>",
                    "band-plan=<absent>", "base-mac=<absent>", "device-info/version-id=1", "device-info/product-id=WLAN-KOV"},
         .out = {"Can't open /etc/board file.\n\n", "Version file not found. Setting default version\n",
                 "Could not get AP band plan\nCould not get AP Country Code\nCould not get AP User Config Country Code\n"
                 "Could not get AP base MAC\nCould not get AP Serial Number\n", "!Last updated Boot Image"},
         .counts = {{"cat /etc/version > /tmp/bootver.txt", 1}, {"bootenv -d bootver > /tmp/bootver.txt", 1},
                    {"bootenv -d serial > /tmp/serial.txt", 1}}},
        {.name = "work-file lines: over-long, CR LF, no newline, empty, malformed",
         .files = {{"/env/band_plan", std::string(40, 'B') + "\n"}, {"/env/serial#", "-"}, {"/env/serial", "SN-7\r\n"},
                   {"/env/product_id", "WAP-9"}, {"/env/hardware_version", "\n"}, {"/env/user_config_country_code", "no\n"},
                   {"/env/ethaddr", "00:1a:2b:zz\n"}, {"/env/country_code", "\n"}}, .stored = {"base-mac=00:00:00:00:00:01"},
         .expect = {"band-plan=" + std::string(31, 'B'), "serial-number=SN-7", "device-info/product-id=WAP-9",
                    "device-info/version-id=1", "country-code-is-configurable=off", "base-mac=00:00:00:00:00:01", "country=<absent>"},
         .out = {"Could not get AP Country Code\nAP User Config Country Code: 0 - ", "Could not get AP base MAC\n"}},
        {.name = "tovik: every record type from /dev/mtd3, no command run",
         .files = {{"/etc/board", "tovik\n"}, {"/dev/mtd3", kArea}, {"/etc/version", "5.0.0.1\n"}},
         .expect = {"version=5.0.0.1", "band-plan=ETSI", "country=US", "country-code-is-configurable=off",
                    "base-mac=00:1a:2b:3c:4d:51", "serial-number=RB-1", "device-info/version-id=R2",
                    "device-info/product-id=RB-AP", "saved:serial-number=RB-1"},
         .out = {"Done parsing VPD. Size = 4095\n"}, .calls = ""},
        {.name = "ixdpg425 reads /dev/mtd5",
         .files = {{"/etc/board", "ixdpg425\n"}, {"/dev/mtd3", kArea}, {"/dev/mtd5", padded(text("serial_number", "IX5"), 4095)}},
         .expect = {"serial-number=IX5", "device-info/product-id=WLAN-KOV"}},
        {.name = "RedBoot partition missing", .files = {{"/etc/board", "tovik\n"}}, .expect = {"version=<absent>"},
         .out = {"Unable to open redboot VPD partition. Error: 2\n", "!Done parsing"}, .calls = ""},
        {.name = "RedBoot short read: no save",
         .files = {{"/etc/board", "tovik\n"}, {"/dev/mtd3", kArea.substr(0, 100)}, {"/etc/version", "5.0.0.1\n"}},
         .expect = {"version=5.0.0.1", "saved:version=<absent>", "serial-number=<absent>"},
         .out = {"Unable to read VPD partition. Read Return Code: 100, Error: 0\n", "!VPD Changed", "!Done parsing"}},
        {.name = "factory reset on a QX_WAP board", .files = {{"/etc/board", "QX_WAP-1\n"}, {"/tmp/factory-reset", ""}},
         .expect = {"dot11/status=up"},
         .out = {"Perform board specific changes\n", "Default Configuration is applied to the running config \n"}},
    };
    for (const init_row& r : rows) {
        mapd_test::sandbox sb;
        std::map<std::string, std::string> files = kBoard;
        for (const auto& [path, content] : r.files) files[path] = content;
        for (const auto& [path, content] : files)
            if (content != "-") sb.write(path, content);
        sb.tool("/sbin/bootenv", kRecord + "while [ $# -gt 0 ]; do [ \"$1\" = -d ] && /bin/cat \"$MAPD_ROOT/env/$2\" 2>/dev/null; shift; done");
        sb.tool("/sbin/cat", kRecord + "exec /bin/cat \"$@\"");
        for (const char* t : {"/usr/bin/bootenv", "/usr/sbin/nvram", "/usr/sbin/activate-backup"}) sb.tool(t, kRecord);
        for (const std::string& s : r.stored) {
            const auto [cls, prop] = prop_of(s.substr(0, s.find('=')));
            ASSERT_TRUE(mapd_test::db_set(cls.c_str(), nullptr, prop.c_str(), s.substr(s.find('=') + 1).c_str()));
        }
        CaptureStdout();
        for (int i = 0; i < r.runs; ++i) map_vpd_init();
        const std::string out = GetCapturedStdout();
        const std::string calls = "\n" + (sb.exists("/calls") ? sb.read("/calls") : "");
        EXPECT_EQ(r.calls ? calls : "", r.calls ? "\n" + std::string(r.calls) : "") << r.name;
        for (const auto& [line, times] : r.counts) {
            int n = 0;
            for (size_t at = 0; (at = calls.find("\n" + line + "\n", at)) != std::string::npos; ++at) ++n;
            EXPECT_EQ(n, times) << r.name << ": " << line;
        }
        for (const std::string& e : r.expect)
            EXPECT_EQ(value_of(sb, e.substr(0, e.find('='))), e.substr(e.find('=') + 1)) << r.name;
        for (const std::string& o : r.out)
            EXPECT_EQ(out.find(o.substr(o[0] == '!')) == std::string::npos, o[0] == '!') << r.name << ": " << o;
        lsqlquery_close();
    }
}

}  // namespace
