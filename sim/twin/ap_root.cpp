#include "twin/ap_root.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <linux/close_range.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "core/managed_ap.hpp"
#include "dman/dman_text.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"

namespace {

namespace fs = std::filesystem;

bool write_file(const fs::path& p, const std::string& content, mode_t mode = 0644) {
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    FILE* f = fopen(p.c_str(), "w");
    if (f == nullptr) return false;
    bool ok = fwrite(content.data(), 1, content.size(), f) == content.size();
    ok = fclose(f) == 0 && ok;
    return ok && chmod(p.c_str(), mode) == 0;
}

// Stand-ins for the AP image's shell tools.  Each records its call under the
// root's tmp/ so that tests and people can see what the daemon asked for; the
// ones that would act on processes or the machine only record.
struct tool {
    const char* path;
    const char* body;
};
constexpr tool kTools[] = {
    {"usr/sbin/wl", "echo \"wl $*\" >> tmp/wl.log\n"},
    {"sbin/init", "echo \"init $*\" >> sandbox/init.log\n"},
    {"bin/kill", "echo \"kill $*\" >> tmp/kill.log\n"},
    // Lists init and the twin's running stand-ins (the pid files apsim keeps).
    {"bin/ps",
     "echo '  PID USER       VSZ STAT COMMAND'\necho '    1 root      1000 S    init'\n"
     "for f in var/run/*.pid; do\n"
     "  [ -f \"$f\" ] || continue\n"
     "  n=$(basename \"$f\" .pid); p=$(cat \"$f\")\n"
     "  [ \"$n\" = dman ] && continue\n"
     "  printf '%5s root      1000 S    %s\\n' \"$p\" \"$n\"\n"
     "done\n"},
    // "apicli hostapd-all PING": answers while the hostapd stand-in runs.
    {"usr/sbin/apicli",
     "echo \"apicli $*\" >> tmp/apicli.log\n"
     "[ -f var/run/hostapd.pid ] && [ -d \"/proc/$(cat var/run/hostapd.pid)\" ] && exit 0\n"
     "exit 1\n"},
    {"usr/bin/xargs", "while read -r arg; do \"$@\" \"$arg\"; done\n"},
};

// The boot-environment tools.  They share the environment file and the call
// log; the AP runs them with the root as working directory and MAPD_ROOT set.
constexpr const char* kBootPrelude = R"sh(r=${MAPD_ROOT:-.}
vars=$r/sandbox/bootenv.txt
# A path as the AP sees it: the root taken off.
ap() { case $1 in "$r"/*) printf '%s' "${1#"$r"}" ;; *) printf '%s' "$1" ;; esac; }
call=$(ap "$0")
for a do call="$call $(ap "$a")"; done
mkdir -p "$r/sandbox" && printf '%s\n' "$call" >> "$r/sandbox/bootenv.log"
[ -f "$vars" ] || : > "$vars"
usage() { echo "usage: $*" >&2; exit 2; }
# Passes the environment through a filter (the arguments) and keeps the result.
rewrite() {
  "$@" < "$vars" > "$vars.new" && cat "$vars.new" > "$vars"
  rc=$?; rm -f "$vars.new"; return $rc
}
get() {
  N=$1; export N
  awk 'index($0, ENVIRON["N"] "=") == 1 { print substr($0, length(ENVIRON["N"]) + 2); f = 1; exit }
       END { exit !f }' "$vars"
}
put() {
  N=$1 V=$2; export N V
  rewrite awk 'BEGIN { n = ENVIRON["N"] "=" }
               index($0, n) == 1 { if (!d) print n ENVIRON["V"]; d = 1; next }
               { print }
               END { if (!d) print n ENVIRON["V"] }'
}
del() { N=$1; export N; rewrite awk 'index($0, ENVIRON["N"] "=") != 1'; }
)sh";

constexpr const char* kBootenv = R"sh(while [ $# -gt 0 ]; do
  case $1 in
    -v) [ $# -ge 2 ] || break; shift 2 ;;
    -d) [ $# -eq 2 ] || break; get "$2"; exit ;;
    -u) [ $# -eq 2 ] || break; del "$2"; exit ;;
    *) break ;;
  esac
done
usage "bootenv [-v DEVICE] -d NAME | -u NAME"
)sh";

constexpr tool kBootTools[] = {
    {"usr/sbin/bootenv", kBootenv},
    {"usr/bin/bootenv", kBootenv},
    {"usr/sbin/nvram", R"sh(case $#:$1 in
  2:config_set) case $2 in [!=]*=*) put "${2%%=*}" "${2#*=}"; exit ;; esac ;;
  1:config_commit | 1:commit | 1:lock | 1:unlock) exit 0 ;;
esac
usage "nvram config_set NAME=VALUE | config_commit | commit | lock | unlock"
)sh"},
    {"usr/sbin/activate-backup", R"sh([ $# -eq 0 ] || usage "activate-backup"
rewrite sed -e 's/^bootver=/altbootver=/' -e t -e 's/^altbootver=/bootver=/'
)sh"},
};

// The unit's identity besides serial number, MAC and versions, the same on
// every board.
constexpr const char* kBandPlan = "FCC";
constexpr const char* kCountry = "US";
constexpr const char* kHardwareVersion = "2";
constexpr const char* kProductId = "QX-WAP-2R";

// One erase block of the flash: the size of a fresh VPD partition.
constexpr size_t kVpdPartitionSize = 65536;

struct redboot_board {
    const char* name;
    const char* partition;
};
constexpr redboot_board kRedBootBoards[] = {{"tovik", "/dev/mtd3"}, {"ixdpg425", "/dev/mtd5"}};

bool read_whole(const fs::path& p, std::string& out) {
    FILE* f = fopen(p.c_str(), "rb");
    if (f == nullptr) return false;
    out.clear();
    char buf[8192];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    const bool ok = ferror(f) == 0;
    fclose(f);
    return ok;
}

// "00:1a:2b:3c:4d:50", two hex digits a byte.
bool parse_mac(const std::string& text, uint8_t mac[6]) {
    if (text.size() != 17) return false;
    for (size_t i = 0; i < 17; ++i) {
        const bool colon = i % 3 == 2;
        if (colon ? text[i] != ':' : !isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    for (int i = 0; i < 6; ++i) {
        mac[i] = static_cast<uint8_t>(strtoul(text.substr(i * 3, 2).c_str(), nullptr, 16));
    }
    return true;
}

// A VPD record of `key` holding `text`, typed by the key.
int vpd_record(const std::string& key, const std::string& text, ap_vpd_record& r,
               std::string& error) {
    if (key.empty() || key.size() > 254 || key.find('\0') != std::string::npos) {
        error = "a VPD key of 1 to 254 characters: \"" + key + "\"";
        return -1;
    }
    r.key = key;
    if (key == "base_ap_mac") {
        uint8_t mac[6];
        if (!parse_mac(text, mac)) {
            error = "base_ap_mac is a MAC address like 00:1a:2b:3c:4d:50: " + text;
            return -1;
        }
        r.type = 6;
        r.value.assign(reinterpret_cast<const char*>(mac), 6);
        return 0;
    }
    if (key == "user_config_country") {
        char* end = nullptr;
        errno = 0;
        const long v = strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) {
            error = "user_config_country is a 32-bit integer: " + text;
            return -1;
        }
        const int32_t n = static_cast<int32_t>(v);
        r.type = 1;
        r.value.assign(reinterpret_cast<const char*>(&n), 4);
        return 0;
    }
    if (text.find('\0') != std::string::npos) {
        error = "a VPD text holds no NUL";
        return -1;
    }
    r.type = 3;
    r.value = text;
    return 0;
}

// The VPD partition of a root, from its "/etc/board".
int vpd_path(const std::string& root, fs::path& path, std::string& error) {
    std::string board;
    read_whole(fs::path(root) / "etc/board", board);
    board = board.substr(0, board.find('\n'));
    const char* part = ap_board_vpd_partition(board);
    if (part == nullptr) {
        error = root + " is a board without VPD partition (\"" + board + "\")";
        return -1;
    }
    path = fs::path(root) / (part + 1);
    return 0;
}

// Sets (`value` given) or removes a record of a root's VPD partition.
int vpd_edit(const std::string& root, const std::string& key, const std::string* value,
             std::string& error) {
    ap_vpd_record rec;
    fs::path path;
    std::string area;
    std::vector<ap_vpd_record> records;
    if ((value != nullptr && vpd_record(key, *value, rec, error) != 0) ||
        vpd_path(root, path, error) != 0) {
        return -1;
    }
    if (!read_whole(path, area)) {
        error = "cannot read " + path.string();
        return -1;
    }
    if (ap_vpd_decode(area, records, error) != 0) {
        error = path.string() + ": " + error;
        return -1;
    }
    auto it = std::find_if(records.begin(), records.end(),
                           [&](const ap_vpd_record& r) { return r.key == key; });
    if (value == nullptr && it != records.end()) records.erase(it);
    if (value != nullptr && it != records.end()) *it = rec;
    if (value != nullptr && it == records.end()) records.push_back(rec);
    if (!write_file(path, ap_vpd_encode(records, std::max(area.size(), kVpdPartitionSize)))) {
        error = "cannot write " + path.string();
        return -1;
    }
    return 0;
}

// Sets (`value` given) or removes a variable of a root's boot environment:
// the first line of the name is replaced (or one added), any other dropped.
int bootenv_edit(const std::string& root, const std::string& name, const std::string* value,
                 std::string& error) {
    if (name.empty() || name.find_first_of("=\n") != std::string::npos ||
        (value != nullptr && value->find('\n') != std::string::npos)) {
        error = "a boot-environment variable is NAME=VALUE on one line (no '=' in NAME): " + name;
        return -1;
    }
    const fs::path path = fs::path(root) / "sandbox/bootenv.txt";
    std::string text, out;
    read_whole(path, text);
    bool done = false;
    for (size_t p = 0; p < text.size();) {
        size_t nl = text.find('\n', p);
        if (nl == std::string::npos) nl = text.size();
        const std::string line = text.substr(p, nl - p);
        p = nl + 1;
        if (!line.starts_with(name + "=")) {
            out += line + "\n";
        } else if (!done) {
            if (value != nullptr) out += name + "=" + *value + "\n";
            done = true;
        }
    }
    if (!done && value != nullptr) out += name + "=" + *value + "\n";
    if (!write_file(path, out)) {
        error = "cannot write " + path.string();
        return -1;
    }
    return 0;
}

// A variable of a root's boot environment; false when unset.
bool bootenv_get(const std::string& root, const std::string& name, std::string& value) {
    std::string text;
    read_whole(fs::path(root) / "sandbox/bootenv.txt", text);
    for (size_t p = 0; p < text.size();) {
        size_t nl = text.find('\n', p);
        if (nl == std::string::npos) nl = text.size();
        if (text.compare(p, name.size() + 1, name + "=") == 0) {
            value = text.substr(p + name.size() + 1, nl - p - name.size() - 1);
            return true;
        }
        p = nl + 1;
    }
    return false;
}

// The board's identity and boot state: the VPD partition of a RedBoot board,
// the boot environment of the others (a RedBoot board's stays empty).
int write_board(const std::string& root, const ap_root_options& opts, std::string& error) {
    const fs::path r(root);
    std::error_code ec;
    for (const char* stale :
         {"dev/mtd3", "dev/mtd5", "sandbox/bootenv.log", "sandbox/bootenv.txt"}) {
        fs::remove(r / stale, ec);
    }
    for (const auto& t : kBootTools) {
        if (!write_file(r / t.path, std::string("#!/bin/sh\n") + kBootPrelude + t.body, 0755)) {
            error = "cannot write " + root + "/" + t.path;
            return -1;
        }
    }
    if (!write_file(r / "sandbox/bootenv.txt", "")) {
        error = "cannot write the boot environment of " + root;
        return -1;
    }
    if (const char* part = ap_board_vpd_partition(opts.board)) {
        const std::pair<const char*, std::string> items[] = {
            {"band_plan", kBandPlan},       {"country_code", kCountry},
            {"user_config_country", "1"},   {"base_ap_mac", opts.base_mac},
            {"serial_number", opts.serial}, {"hardware_version", kHardwareVersion},
            {"product_id", kProductId},
        };
        std::vector<ap_vpd_record> records(std::size(items));
        for (size_t i = 0; i < records.size(); ++i) {
            if (vpd_record(items[i].first, items[i].second, records[i], error) != 0) return -1;
        }
        if (!write_file(r / (part + 1), ap_vpd_encode(records, kVpdPartitionSize))) {
            error = std::string("cannot write the VPD partition ") + part;
            return -1;
        }
        return 0;
    }
    const std::pair<const char*, std::string> vars[] = {
        {"bootver", opts.version},
        {"altbootver", opts.alt_version},
        {"bootfailed", "0"},
        {"ethaddr", opts.base_mac},
        {"serial#", opts.serial},
        {"band_plan", kBandPlan},
        {"country_code", kCountry},
        {"user_config_country_code", "yes"},
        {"hardware_version", kHardwareVersion},
        {"product_id", kProductId},
    };
    for (const auto& [name, value] : vars) {
        if (bootenv_edit(root, name, &value, error) != 0) return -1;
    }
    return 0;
}

// The AP image's firmware tools.  Paths are the root's: the sandbox runs a
// command in the root with MAPD_ROOT set, and maps the AP paths of its text
// under the root.
constexpr tool kFirmwareTools[] = {
    // The sandbox maps the remote file of "-r" too, but that one names a file
    // of the TFTP server: the root comes off it again.
    {"usr/bin/tftp",
     "prev=\n"
     "for a do\n"
     "  shift\n"
     "  if [ \"$prev\" = -r ] && [ -n \"$MAPD_ROOT\" ]; then\n"
     "    case $a in \"$MAPD_ROOT\"/*) a=${a#\"$MAPD_ROOT\"} ;; esac\n"
     "  fi\n"
     "  set -- \"$@\" \"$a\"\n"
     "  prev=$a\n"
     "done\n"
     "exec busybox tftp \"$@\"\n"},
    // Unpacks the image into a temporary folder (removed on exit) once its
    // listing shows only plain files with plain names, then checks VERSION
    // and every MANIFEST line against the members.
    {"usr/sbin/flash-validate",
     "fail() { echo \"flash-validate: $*\" >&2; exit 1; }\n"
     "[ $# -eq 1 ] && [ -f \"$1\" ] || fail \"no image file $1\"\n"
     "t=$(mktemp -d \"${TMPDIR:-/tmp}/flash-validate.XXXXXX\") || fail \"no temporary folder\"\n"
     "trap 'rm -rf \"$t\"' EXIT\n"
     "trap 'exit 1' HUP INT TERM\n"
     "tar -tf \"$1\" >\"$t/names\" 2>/dev/null && tar -tvf \"$1\" >\"$t/long\" 2>/dev/null ||\n"
     "  fail \"$1 is not a tar archive\"\n"
     "grep -qv '^-' \"$t/long\" && fail \"a member that is not a plain file\"\n"
     "grep -qv '^[A-Za-z0-9._+][A-Za-z0-9._+-]*$' \"$t/names\" &&\n"
     "  fail \"a member name that is not plain\"\n"
     "grep -qxE '[.]{1,2}' \"$t/names\" && fail \"a member named . or ..\"\n"
     "[ -z \"$(sort \"$t/names\" | uniq -d)\" ] || fail \"a member twice\"\n"
     "grep -qx MANIFEST \"$t/names\" || fail \"no MANIFEST\"\n"
     "grep -qx VERSION \"$t/names\" || fail \"no VERSION\"\n"
     "mkdir \"$t/x\" && tar -xf \"$1\" -C \"$t/x\" 2>/dev/null || fail \"cannot unpack $1\"\n"
     "[ -s \"$t/x/VERSION\" ] || fail \"VERSION is empty\"\n"
     "grep -qvE '^[0-9a-f]{64}  [A-Za-z0-9._+][A-Za-z0-9._+-]*$' \"$t/x/MANIFEST\" &&\n"
     "  fail \"a MANIFEST line not in the format of sha256sum\"\n"
     "while read -r sum name || [ -n \"$sum\" ]; do\n"
     "  grep -qxF -- \"$name\" \"$t/names\" || fail \"member $name missing\"\n"
     "  [ \"$(cd \"$t/x\" && sha256sum -- \"$name\" | cut -c1-64)\" = \"$sum\" ] ||\n"
     "    fail \"the digest of $name does not match\"\n"
     "done <\"$t/x/MANIFEST\"\n"
     "cut -c67- \"$t/x/MANIFEST\" | sort >\"$t/listed\"\n"
     "grep -vx MANIFEST \"$t/names\" | sort | cmp -s - \"$t/listed\" ||\n"
     "  fail \"a member that MANIFEST does not list once\"\n"
     "exit 0\n"},
    // The AP's mv is BusyBox's, which renames a file onto itself without
    // complaint (the streamed image is renamed to the name it already has);
    // the host's would refuse.
    {"bin/mv", "exec busybox mv \"$@\"\n"},
    {"usr/sbin/flash-upgrade",
     "[ $# -eq 1 ] && [ -f \"$1\" ] || { echo \"flash-upgrade: no image file $1\" >&2; exit 1; }\n"
     "\"$(dirname \"$0\")/flash-validate\" \"$1\" ||\n"
     "  { echo \"flash-upgrade: $1 is no valid image: nothing installed\" >&2; exit 1; }\n"
     "mkdir -p sandbox && cp \"$1\" sandbox/installed.tar.new &&\n"
     "  mv sandbox/installed.tar.new sandbox/installed.tar || exit 1\n"
     "echo \"flash-upgrade ${1#\"$MAPD_ROOT\"}\" >> sandbox/flash.log\n"},
};

// ---- tar archives (ustar) ----------------------------------------------------------

constexpr size_t kBlock = 512;
constexpr size_t kTarMemberMax = 64u << 20;

// Member names of a twin image: letters, digits, '.', '_', '+', '-', not
// starting with '-', at most 100 bytes (the ustar name field), not . or ..
bool plain_name(const std::string& n) {
    if (n.empty() || n.size() > 100 || n[0] == '-' || n == "." || n == "..") return false;
    for (char c : n) {
        const bool other = !isalnum(static_cast<unsigned char>(c)) && strchr("._+-", c) == nullptr;
        if (c == '\0' || other) return false;
    }
    return true;
}

unsigned header_sum(const uint8_t* h) {
    unsigned sum = 0;
    for (size_t i = 0; i < kBlock; ++i) sum += i >= 148 && i < 156 ? ' ' : h[i];
    return sum;
}

// An octal field, NUL- or space-terminated; false when it holds anything else.
bool octal_field(const uint8_t* f, size_t width, uint64_t& v) {
    v = 0;
    size_t i = 0;
    while (i < width && f[i] == ' ') ++i;
    size_t digits = 0;
    for (; i < width && f[i] >= '0' && f[i] <= '7'; ++i, ++digits) v = v * 8 + (f[i] - '0');
    return digits > 0 && (i == width || f[i] == '\0' || f[i] == ' ');
}

std::string sha256_hex(const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), md, &n, EVP_sha256(), nullptr);
    std::string hex;
    char b[3];
    for (unsigned i = 0; i < n; ++i) {
        snprintf(b, sizeof b, "%02x", md[i]);
        hex += b;
    }
    return hex;
}

// Hardware as the AP's drivers show it: one Atheros and one Broadcom radio
// on a board whose CPU line names a BCM4716 (hardware type 9).
constexpr const char* kPciDevices =
    "0000\t168c0013\t10\t\t0c000000\n"
    "0008\t14e44320\t11\t\t0c010000\n";
constexpr const char* kCpuinfo =
    "system type\t\t: Broadcom BCM4716 chip rev 1\n"
    "processor\t\t: 0\n"
    "cpu model\t\t: MIPS 74K V4.0\n";

}  // namespace

int ap_root_clock_set(const std::string& root, double seconds) {
    char text[64];
    snprintf(text, sizeof text, "%.2f %.2f\n", seconds, seconds / 2);
    fs::path p = fs::path(root) / "proc/uptime";
    fs::path tmp = fs::path(root) / "proc/uptime.new";
    if (!write_file(tmp, text)) return -1;
    return rename(tmp.c_str(), p.c_str());
}

double ap_root_clock_get(const std::string& root) {
    FILE* f = fopen((fs::path(root) / "proc/uptime").c_str(), "r");
    if (f == nullptr) return 0;
    double up = 0;
    if (fscanf(f, "%lf", &up) != 1) up = 0;
    fclose(f);
    return up;
}

int ap_root_build(const std::string& root_text, const ap_root_options& opts, std::string& error) {
    const fs::path root(root_text);
    std::error_code ec;
    for (const char* d : {"etc", "tmp", "var/run", "dev", "sandbox", "sbin", "usr/sbin", "bin",
                          "usr/bin", "proc/net", "proc/bus/pci"}) {
        fs::create_directories(root / d, ec);
    }
    if (opts.board.empty() || opts.board.find('\n') != std::string::npos ||
        opts.version.find('\n') != std::string::npos) {
        error = "a board name and a version of one line";
        return -1;
    }
    bool ok = write_file(root / "etc/board", opts.board + "\n") &&
              write_file(root / "etc/version", opts.version + "\n") &&
              write_file(root / "tmp/bss-max", std::to_string(opts.bss_max) + "\n") &&
              write_file(root / "proc/bus/pci/devices", kPciDevices) &&
              write_file(root / "proc/cpuinfo", kCpuinfo) &&
              write_file(root / "dev/console", "");
    // Interface addresses: eth0 has the base MAC; the VAP interfaces count up
    // from it as the daemon numbers its VAPs (radio 1's VAPs first, then
    // radio 2's), so a VAP's MAC names the same VAP on both sides.
    uint64_t base = 0;
    uint8_t b[6] = {};
    if (!parse_mac(opts.base_mac, b)) {
        error = "not a MAC address: " + opts.base_mac;
        return -1;
    }
    for (uint8_t x : b) base = (base << 8) | x;
    auto mac_at = [&](uint64_t n) {
        uint64_t v = (base + n) & 0xFFFFFFFFFFFFull;
        char text[20];
        snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x\n", unsigned(v >> 40 & 0xFF),
                 unsigned(v >> 32 & 0xFF), unsigned(v >> 24 & 0xFF), unsigned(v >> 16 & 0xFF),
                 unsigned(v >> 8 & 0xFF), unsigned(v & 0xFF));
        return std::string(text);
    };
    ok = ok && write_file(root / "sys/class/net/eth0/address", mac_at(0));
    for (int r = 0; r < 2; ++r) {
        for (int v = 0; v < opts.bss_max; ++v) {
            std::string ifname = "wlan" + std::to_string(r) + (v ? "vap" + std::to_string(v) : "");
            ok = ok && write_file(root / "sys/class/net" / ifname / "address",
                                  mac_at(static_cast<uint64_t>(r * opts.bss_max + v)));
        }
    }
    for (const auto& t : kTools) {
        ok = ok && write_file(root / t.path, std::string("#!/bin/sh\n") + t.body, 0755);
    }
    if (ok && write_board(root_text, opts, error) != 0) return -1;
    ok = ok && ap_root_write_firmware_tools(root_text, error) == 0;
    ok = ok && ap_root_write_counters(root_text, 0, opts.bss_max) == 0;
    if (ok && !opts.reg_domains.empty()) {
        fs::copy_file(opts.reg_domains, root / "etc/reg_domains.conf",
                      fs::copy_options::overwrite_existing, ec);
        ok = !ec;
    }
    if (!ok) {
        error = "cannot write the files of " + root_text;
        return -1;
    }
    if (opts.manual_clock) {
        ap_root_clock_set(root_text, opts.start_uptime);
    } else {
        fs::remove(root / "proc/uptime", ec);
        fs::create_symlink("/proc/uptime", root / "proc/uptime", ec);
    }

    // The configuration database, loaded from the factory file.
    std::string saved_root = map_platform_root();
    if (map_platform_set_root(root_text.c_str()) != 0) {
        error = "not a usable sandbox root: " + root_text;
        return -1;
    }
    lsqlquery_close();
    int rc = 0;
    if (!opts.factory_config.empty()) {
        FILE* in = fopen(opts.factory_config.c_str(), "r");
        if (in == nullptr) {
            error = "cannot read " + opts.factory_config;
            rc = -1;
        } else {
            rc = dman_text_load(in, true, error);
            fclose(in);
        }
    }
    lsqlquery_close();
    map_platform_set_root(saved_root.empty() ? nullptr : saved_root.c_str());
    if (rc != 0) {
        return -1;
    }
    if (!write_file(root / "var/run/dman.pid", std::to_string(getpid()) + "\n")) {
        error = "cannot write the pid file";
        return -1;
    }
    return 0;
}

int ap_root_hwaddr(const std::string& root, const std::string& ifname, uint8_t mac[6],
                   std::string& error) {
    const fs::path p = fs::path(root) / "sys/class/net" / ifname / "address";
    FILE* f = fopen(p.c_str(), "r");
    unsigned b[6];
    int n = f ? fscanf(f, "%2x:%2x:%2x:%2x:%2x:%2x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) : 0;
    if (f) fclose(f);
    if (n != 6) {
        error = "no hardware address for " + ifname + " in " + p.string();
        return -1;
    }
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i]);
    return 0;
}

std::string ap_root_vap_ssid(const std::string& root, const std::string& ifname) {
    std::string saved_root = map_platform_root();
    if (map_platform_set_root(root.c_str()) != 0) return "";
    lsqlquery_close();
    std::string ssid;
    if (pv* v = lsqlquery_get_pv("interface", ifname.c_str(), "ssid")) {
        if (v->value) ssid = v->value;
        lsqlquery_destroy_pv(v);
    }
    lsqlquery_close();
    map_platform_set_root(saved_root.empty() ? nullptr : saved_root.c_str());
    return ssid;
}

pid_t ap_daemon_start(const std::string& root, const std::string& log_path) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    int fd = log_path.empty() ? -1 : open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    // The daemon starts like a fresh process: nothing of the parent's (a
    // simulator's listening socket, say) stays open in it.
    close_range(3, ~0U, 0);
    // A fresh process image would reset these; the child of a test must too.
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    // Under a wrapper the child execs its command line (words split at
    // spaces) with the root appended: "valgrind ... build/bin/mapd-twin".
    if (const char* exec = getenv("MAPD_TWIN_EXEC"); exec != nullptr && *exec != '\0') {
        std::vector<std::string> words;
        for (const char* p = exec; *p != '\0';) {
            const char* e = strchrnul(p, ' ');
            if (e != p) words.emplace_back(p, e);
            p = *e == ' ' ? e + 1 : e;
        }
        words.push_back(root);
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    lsqlquery_close();
    if (map_platform_set_root(root.c_str()) != 0) {
        _exit(120);
    }
    _exit(map_daemon_init() == 0 ? 0 : 1);
}

int ap_daemon_stop(pid_t pid, int grace_ms) {
    if (pid <= 0) return -1;
    kill(pid, SIGTERM);
    int status = 0;
    // A wrapped daemon (valgrind) needs time for its end-of-run checks.
    if (const char* exec = getenv("MAPD_TWIN_EXEC"); exec != nullptr && *exec != '\0') {
        grace_ms = std::max(grace_ms, 120000);
    }
    for (int waited = 0; waited < grace_ms; waited += 10) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
}

int ap_root_write_firmware_tools(const std::string& root, std::string& error) {
    for (const auto& t : kFirmwareTools) {
        if (!write_file(fs::path(root) / t.path, std::string("#!/bin/sh\n") + t.body, 0755)) {
            error = "cannot write " + root + "/" + t.path;
            return -1;
        }
    }
    return 0;
}

int ap_tar_write(const std::string& path, const std::vector<ap_image_member>& members,
                 std::string& error) {
    std::string out;
    for (const auto& m : members) {
        if (m.name.empty() || m.name.size() > 100) {
            error = "a member name of 1 to 100 bytes: \"" + m.name + "\"";
            return -1;
        }
        uint8_t h[kBlock] = {};
        memcpy(h, m.name.data(), m.name.size());
        snprintf(reinterpret_cast<char*>(h + 100), 8, "%07o", 0644u);
        snprintf(reinterpret_cast<char*>(h + 108), 8, "%07o", 0u);
        snprintf(reinterpret_cast<char*>(h + 116), 8, "%07o", 0u);
        snprintf(reinterpret_cast<char*>(h + 124), 12, "%011llo",
                 static_cast<unsigned long long>(m.data.size()));
        snprintf(reinterpret_cast<char*>(h + 136), 12, "%011o", 0u);
        h[156] = '0';
        memcpy(h + 257, "ustar", 6);
        memcpy(h + 263, "00", 2);
        memcpy(h + 265, "root", 4);
        memcpy(h + 297, "root", 4);
        snprintf(reinterpret_cast<char*>(h + 148), 8, "%06o", header_sum(h));
        h[155] = ' ';
        out.append(reinterpret_cast<const char*>(h), kBlock);
        out += m.data;
        out.append((kBlock - m.data.size() % kBlock) % kBlock, '\0');
    }
    out.append(2 * kBlock, '\0');
    // The archive goes into an existing folder only.
    std::error_code ec;
    const fs::path parent = fs::path(path).parent_path();
    if ((!parent.empty() && !fs::is_directory(parent, ec)) || !write_file(path, out)) {
        error = "cannot write " + path;
        return -1;
    }
    return 0;
}

int ap_tar_read_member(const std::string& path, const std::string& name, std::string& out,
                       std::string& error) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = "cannot read " + path;
        return -1;
    }
    error = "no member " + name + " in " + path;
    uint8_t h[kBlock];
    while (fread(h, 1, kBlock, f) == kBlock) {
        uint64_t size = 0, sum = 0;
        if (std::all_of(h, h + kBlock, [](uint8_t b) { return b == 0; })) break;
        if (memcmp(h + 257, "ustar", 5) != 0 || !octal_field(h + 148, 8, sum) ||
            sum != header_sum(h) || !octal_field(h + 124, 12, size)) {
            error = path + ": not a ustar header";
            break;
        }
        const char* text = reinterpret_cast<const char*>(h);
        std::string member(text, strnlen(text, 100));
        std::string prefix(text + 345, strnlen(text + 345, 155));
        if (!prefix.empty()) member = prefix + "/" + member;
        const uint64_t padded = (size + kBlock - 1) / kBlock * kBlock;
        if (member == name && (h[156] == '0' || h[156] == '\0')) {
            if (size > kTarMemberMax) {
                error = path + ": member " + name + " too large";
                break;
            }
            out.assign(size, '\0');
            if (fread(out.data(), 1, size, f) != size) {
                error = path + ": member " + name + " cut short";
                break;
            }
            fclose(f);
            error.clear();
            return 0;
        }
        if (fseeko(f, static_cast<off_t>(padded), SEEK_CUR) != 0) break;
    }
    fclose(f);
    return -1;
}

int ap_image_write(const std::string& path, const std::string& version,
                   std::vector<ap_image_member> payload, std::string& error) {
    if (version.empty() || version.size() > 63 ||
        !std::all_of(version.begin(), version.end(),
                     [](char c) { return c >= 0x20 && c < 0x7f; })) {
        error = "a version of 1 to 63 printable characters: \"" + version + "\"";
        return -1;
    }
    if (payload.empty()) {
        std::string body;
        for (int i = 0; body.size() < 20000; ++i) {
            body += "twin firmware " + version + " block " + std::to_string(i) + "\n";
        }
        payload.push_back({"firmware.bin", body});
    }
    std::string manifest;
    for (size_t i = 0; i < payload.size(); ++i) {
        const std::string& n = payload[i].name;
        if (!plain_name(n) || n == "VERSION" || n == "MANIFEST") {
            error = "not a member name of its own: \"" + n + "\"";
            return -1;
        }
        for (size_t j = 0; j < i; ++j) {
            if (payload[j].name == n) {
                error = "member " + n + " given twice";
                return -1;
            }
        }
        manifest += sha256_hex(payload[i].data) + "  " + n + "\n";
    }
    const std::string v = version + "\n";
    manifest += sha256_hex(v) + "  VERSION\n";
    payload.insert(payload.begin(), {{"MANIFEST", manifest}, {"VERSION", v}});
    return ap_tar_write(path, payload, error);
}

int ap_root_boot_installed(const std::string& root, std::string& version, std::string& error) {
    const fs::path r(root);
    std::error_code ec;
    const uintmax_t size = fs::file_size(r / "sandbox/flash.log", ec);
    const uintmax_t now = ec ? 0 : size;
    uintmax_t booted = 0;
    if (FILE* f = fopen((r / "sandbox/flash.booted").c_str(), "r")) {
        if (fscanf(f, "%ju", &booted) != 1) booted = 0;
        fclose(f);
    }
    if (now == booted) return 0;
    write_file(r / "sandbox/flash.booted", std::to_string(now) + "\n");
    std::string text;
    if (ap_tar_read_member((r / "sandbox/installed.tar").string(), "VERSION", text, error) != 0) {
        return -1;
    }
    version = text.substr(0, text.find_first_of("\r\n"));
    if (version.empty() || !write_file(r / "etc/version", version + "\n")) {
        error = version.empty() ? "the installed image's VERSION is empty"
                                : "cannot write etc/version";
        return -1;
    }
    // The boot loader now starts the new image; the old one is the backup.
    std::string old;
    if (bootenv_get(root, "bootver", old) &&
        (bootenv_edit(root, "altbootver", &old, error) != 0 ||
         bootenv_edit(root, "bootver", &version, error) != 0)) {
        return -1;
    }
    return 1;
}

const char* ap_board_vpd_partition(const std::string& board) {
    for (const auto& b : kRedBootBoards) {
        if (board.starts_with(b.name)) return b.partition;
    }
    return nullptr;
}

std::string ap_vpd_encode(const std::vector<ap_vpd_record>& records, size_t size) {
    std::string area;
    for (const auto& r : records) {
        area += static_cast<char>(r.type);
        area += static_cast<char>(r.key.size() + 1);
        area.append(2, '\0');
        area += r.key;
        area += '\0';
        area += r.value;
        if (r.type == 3) area += '\0';
    }
    if (area.size() < size) area.append(size - area.size(), '\xff');
    return area;
}

int ap_vpd_decode(const std::string& area, std::vector<ap_vpd_record>& records,
                  std::string& error) {
    records.clear();
    for (size_t p = 0; p < area.size();) {
        const uint8_t type = static_cast<uint8_t>(area[p]);
        if (type == 0 || type == 0xff) break;
        const std::string at = "the record at offset " + std::to_string(p);
        if (type != 1 && type != 3 && type != 6) {
            error = at + " has type " + std::to_string(type);
            return -1;
        }
        const size_t klen = p + 1 < area.size() ? static_cast<uint8_t>(area[p + 1]) : 0;
        const size_t v = p + 4 + klen;
        if (klen == 0 || v > area.size() ||
            area.find('\0', p + 4) != v - 1) {
            error = at + " has no whole key";
            return -1;
        }
        size_t vlen = type == 1 ? 4 : type == 6 ? 6 : area.find('\0', v) - v;
        if (vlen > area.size() - v) {
            error = at + " is cut short";
            return -1;
        }
        records.push_back({type, area.substr(p + 4, klen - 1), area.substr(v, vlen)});
        p = v + vlen + (type == 3 ? 1 : 0);
    }
    return 0;
}

int ap_vpd_read(const std::string& root, std::vector<ap_vpd_record>& records,
                std::string& error) {
    fs::path path;
    std::string area;
    if (vpd_path(root, path, error) != 0) return -1;
    if (!read_whole(path, area)) {
        error = "cannot read " + path.string();
        return -1;
    }
    return ap_vpd_decode(area, records, error);
}

int ap_vpd_set(const std::string& root, const std::string& key, const std::string& value,
               std::string& error) {
    return vpd_edit(root, key, &value, error);
}

int ap_vpd_unset(const std::string& root, const std::string& key, std::string& error) {
    return vpd_edit(root, key, nullptr, error);
}

int ap_bootenv_set(const std::string& root, const std::string& name, const std::string& value,
                   std::string& error) {
    return bootenv_edit(root, name, &value, error);
}

int ap_bootenv_unset(const std::string& root, const std::string& name, std::string& error) {
    return bootenv_edit(root, name, nullptr, error);
}
