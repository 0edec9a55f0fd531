// The AP twin's sandbox root: a folder that looks like the AP image to mapd
// (configuration database, identity files, /proc and /sys entries, stand-ins
// for the image's shell tools), and the daemon run on it in a child process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct ap_root_options {
    // Plain-text factory configuration loaded into the database.
    std::string factory_config;
    // The regulatory table installed as "/etc/reg_domains.conf".
    std::string reg_domains = MAPD_TWIN_REG_DOMAINS;
    // true: "proc/uptime" is a plain file the caller rewrites (ap_root_clock_set);
    // false: a link to the host's uptime.
    bool manual_clock = true;
    uint32_t start_uptime = 1000;
    std::string base_mac = "00:1a:2b:3c:4d:50";
    int bss_max = 16;
    // The board ("/etc/board"): "tovik" and "ixdpg425" are RedBoot boards
    // whose vital product data is a record area in a flash partition
    // ("/dev/mtd3" resp. "/dev/mtd5"); "bcm954748eaple" is a Broadcom board
    // that keeps its boot state in nvram; any other name is a board whose
    // identity and boot state are boot-environment variables.
    std::string board = "QX_WAP_2R";
    // The unit's identity as its board gives it (the database has none: the
    // daemon reads it at start-up).  `version` is "/etc/version" and, with
    // `alt_version`, the images' versions in the boot environment.
    std::string serial = "TW0000000001";
    std::string version = "2.1.0.12";
    std::string alt_version = "2.1.0.11";
};

// Builds the root in `root` (created if missing): a fresh unit of the board
// given, whose database is the factory configuration.  0, or -1 with `error`
// set.
// The interfaces' hardware addresses: eth0 the base MAC, the VAP interfaces
// (wlan0, wlan0vap1, ..., wlan1, ...) the base MAC plus radio * bss_max + VAP.
int ap_root_build(const std::string& root, const ap_root_options& opts, std::string& error);
// Writes "proc/uptime" of a manual clock.
int ap_root_clock_set(const std::string& root, double seconds);
double ap_root_clock_get(const std::string& root);

// Writes the driver counter files under "proc": "/proc/net/dev" (lo, eth0,
// wlan0, wlan1; 32-bit numbers, as the AP's kernel has them), the 802.11
// driver's files under "/proc/net/ieee80211" (the "wl" marker; per radio its
// iface and counters files; a vap file per VAP; a station file per simulated
// client), and the layer-2 and distributed tunnel counters.  The counters
// grow with `tick`, so a twin that calls this now and then has moving
// numbers; the tick is kept in "sandbox/counters-tick".
int ap_root_write_counters(const std::string& root, uint64_t tick, int vaps_per_radio);
// The tick of the files as they were last written.
uint64_t ap_root_counters_tick(const std::string& root);

// Simulated clients.  Each has a station file
// "proc/net/ieee80211/<radio>/sta/<mac>" (the MAC in lower-case text, the
// radio from its VAP interface "wlan0", "wlan1vap3", ...) that moves with the
// other counters; the list is "sandbox/clients", one "<mac> <interface>"
// line each.  Adding a known MAC moves it to the new VAP.  0, or -1 with
// `error` set.
int ap_root_client_add(const std::string& root, const std::string& mac,
                       const std::string& vap_ifname, std::string& error);
int ap_root_client_remove(const std::string& root, const std::string& mac, std::string& error);

// The hardware address of an interface as the root shows it
// ("sys/class/net/<ifname>/address": eth0, wlan0, wlan0vap1, ...).  0, or -1
// with `error` set.
int ap_root_hwaddr(const std::string& root, const std::string& ifname, uint8_t mac[6],
                   std::string& error);
// The SSID the configuration database holds for a VAP interface; "" when none.
std::string ap_root_vap_ssid(const std::string& root, const std::string& ifname);
// The VAP interface a simulated client is on; "" when it is not listed.
std::string ap_root_client_vap(const std::string& root, const std::string& mac);

// The AP image's firmware tools, written by ap_root_build (0, or -1 with
// `error` set):
//   /usr/bin/tftp             BusyBox's TFTP client with the arguments given
//                             (-l LOCAL -r REMOTE -g SERVER [PORT]); non-zero
//                             when the transfer fails
//   /usr/sbin/flash-validate FILE   0 when FILE is a whole twin image (below)
//   /usr/sbin/flash-upgrade FILE    installs a valid image: copies it to
//                             "sandbox/installed.tar" and appends
//                             "flash-upgrade FILE" to "sandbox/flash.log"
// They run in the root (the shell's working directory) and need /bin/sh, tar,
// sha256sum and mktemp of the host.
int ap_root_write_firmware_tools(const std::string& root, std::string& error);

// A twin firmware image is a tar archive of plain files with plain names
// (letters, digits, '.', '_', '+', '-'; not starting with '-'): "VERSION"
// holding the version text, "MANIFEST" listing every other member in the
// format of sha256sum ("<hex digest>  <name>"), and payload members.
struct ap_image_member {
    std::string name;
    std::string data;
};
// Writes the members as they are, in order, as a ustar archive.  0, or -1
// with `error` set.
int ap_tar_write(const std::string& path, const std::vector<ap_image_member>& members,
                 std::string& error);
// The data of member `name`; 0, or -1 with `error` set (no archive, no such
// member, a header that is not ustar's, a member cut short).
int ap_tar_read_member(const std::string& path, const std::string& name, std::string& out,
                       std::string& error);
// Writes a valid image of version `version` (one line, 1 to 63 printable
// characters): the payload members (a small "firmware.bin" when none are
// given), "VERSION" and "MANIFEST".  0, or -1 with `error` set (a bad
// version, a member name that is not plain, reserved or given twice).
int ap_image_write(const std::string& path, const std::string& version,
                   std::vector<ap_image_member> payload, std::string& error);

// The boot after a reboot: when flash-upgrade installed an image since the
// last boot ("sandbox/flash.log" grew since "sandbox/flash.booted" noted its
// size), the installed image's VERSION becomes "/etc/version" and `version`
// its text; a boot environment that has a bootver takes it as bootver, the
// old one as altbootver.  1 when an image was booted, 0 when none was installed, -1 with
// `error` set when the installed image has no VERSION (the old version
// stays).  The size is noted in each case.
int ap_root_boot_installed(const std::string& root, std::string& version, std::string& error);

// ---- the board's identity and boot state ----------------------------------------

// The VPD partition of a RedBoot board name ("/dev/mtd3", "/dev/mtd5"), or
// nullptr for any other board.  Names are matched on their start, as the AP
// does ("tovik-2" is a tovik).
const char* ap_board_vpd_partition(const std::string& board);

// A record of the VPD area: type 1 a 32-bit integer (4 bytes, the CPU's
// byte order), 3 a zero-terminated text, 6 a MAC address (6 bytes).  `value`
// holds the bytes, a text without its terminator.
struct ap_vpd_record {
    uint8_t type = 3;
    std::string key;
    std::string value;
};
// The area as the partition holds it: the records from offset 0, each its
// type, its key length (with the terminator), two zero bytes, the key with
// its terminator and the value; then erased flash (0xff) up to `size` bytes
// (at least the records).
std::string ap_vpd_encode(const std::vector<ap_vpd_record>& records, size_t size);
// The records of an area, up to the first erased or empty type byte.  0, or
// -1 with `error` set (a type other than 1, 3, 6, a record cut short).
int ap_vpd_decode(const std::string& area, std::vector<ap_vpd_record>& records,
                  std::string& error);
// Sets one record of a RedBoot root's VPD partition, typed by its key
// ("base_ap_mac" a MAC "00:1a:2b:3c:4d:50", "user_config_country" an
// integer, any other key a text): its value is replaced where it stands, or
// the record added at the end; the other records stay as they are.  Texts
// are not held to the daemon's limits (a twin may carry an over-long one).
// 0, or -1 with `error` set (not a RedBoot root, a value of the wrong form).
int ap_vpd_set(const std::string& root, const std::string& key, const std::string& value,
               std::string& error);
// Removes a record (none: nothing to do).  0, or -1 with `error` set.
int ap_vpd_unset(const std::string& root, const std::string& key, std::string& error);
int ap_vpd_read(const std::string& root, std::vector<ap_vpd_record>& records,
                std::string& error);

// The boot environment of the root, "sandbox/bootenv.txt": NAME=VALUE
// lines, which the AP's tools read and write (every board has them; a
// RedBoot board's environment is empty):
//   bootenv [-v DEVICE] -d NAME   prints the value and a line feed; an unset
//                                 variable prints nothing and exits 1
//   bootenv [-v DEVICE] -u NAME   unsets the variable (exit 0 when unset)
//                                 (the tool is "/usr/sbin/bootenv" and
//                                 "/usr/bin/bootenv"; -v names the flash
//                                 device and changes nothing)
//   nvram config_set NAME=VALUE   sets the variable
//   nvram config_commit | commit | lock | unlock    do nothing more
//   activate-backup               swaps bootver and altbootver: the backup
//                                 image is the one that runs next
// Other forms print a usage line on standard error and exit 2.  Every call
// is appended to "sandbox/bootenv.log" as the AP made it: the tool's path
// and the arguments, with the root taken off ("/usr/sbin/bootenv -v
// /dev/mtd8 -d bootver"; a tool found on PATH shows its full path).
// Sets a variable (in its line, or a line added at the end).  0, or -1 with
// `error` set (an empty name, a name with '=', a line feed in either).
int ap_bootenv_set(const std::string& root, const std::string& name, const std::string& value,
                   std::string& error);
int ap_bootenv_unset(const std::string& root, const std::string& name, std::string& error);

// Starts mapd on `root` in a child process whose output goes to `log_path`
// (an empty path keeps the caller's standard output and error).
// The child sets the platform door's root and runs the daemon's start-up;
// when the environment names MAPD_TWIN_EXEC (a command line, words split at
// spaces, such as "valgrind --error-exitcode=99 build/bin/mapd-twin"), the
// child execs it with the root as its last argument instead.
pid_t ap_daemon_start(const std::string& root, const std::string& log_path);
// Stops it (SIGTERM, then SIGKILL after `grace_ms`, at least two minutes
// under MAPD_TWIN_EXEC); returns its wait status.
int ap_daemon_stop(pid_t pid, int grace_ms = 2000);
