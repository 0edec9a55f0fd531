// apsim: the AP twin.  Builds a sandbox root that looks like the AP image and
// runs mapd on it with stand-ins for hostapd, mapqosd and the TSPEC
// application, driver counters that move, and reboots that are only recorded.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "twin/ap_root.hpp"
#include "twin/local_msg.hpp"
#include "twin/standins.hpp"

namespace {

namespace fs = std::filesystem;

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

void usage(FILE* to) {
    fprintf(to,
            "usage: apsim init DIR [--factory FILE] [--board NAME]\n"
            "       apsim vpd DIR [set KEY VALUE | unset KEY]\n"
            "       apsim bootenv DIR set NAME VALUE | unset NAME\n"
            "       apsim run DIR [--clock host|manual] [--restart] [--external PEER[,PEER...]]\n"
            "                     [--keylog FILE]\n"
            "       apsim send DIR hostapd|tspec|mapqosd HEX\n"
            "       apsim clock DIR [+]SECONDS\n"
            "       apsim client DIR add MAC --vap IFNAME | remove MAC\n"
            "       apsim client DIR assoc MAC --vap IFNAME [--ssid S]\n"
            "       apsim client DIR disassoc MAC [--vap IFNAME]\n"
            "       apsim client DIR authfail MAC --vap IFNAME --status N [--ssid S]\n"
            "       apsim client DIR probe MAC --vap IFNAME [--ssid S] [--rssi N] [--channel N]\n"
            "       apsim client DIR auth MAC --vap IFNAME [--ssid S] [--user U] [--vlan N] [--rrm]\n"
            "                                 [--bw N] [--channel N]\n"
            "       apsim client DIR pmk MAC --vap IFNAME [--ssid S]\n"
            "       apsim client DIR preauth|preauth-ans MAC --vap IFNAME --bytes N [--ssid S]\n"
            "       apsim client DIR preauth-notify MAC --vap IFNAME --status N [--ssid S] [--user U]\n"
            "       apsim client DIR radius MAC --vap IFNAME --bytes N [--ssid S]\n"
            "       apsim client DIR chanload MAC --channel N --load N\n"
            "       apsim tspec DIR request MAC --vap IFNAME [--ac N] [--cmd N] [--ssid S]\n"
            "       apsim tspec DIR status [--ac N] [--cmd N]\n"
            "       apsim kernel DIR [--watch | --refuse N]\n"
            "       apsim image OUT.tar --version V [--member NAME=FILE ...]\n"
            "       apsim --help | -h\n"
            "  init   builds a sandbox root of a two-radio AP in DIR, a fresh unit whose\n"
            "         identity (serial number TW0000000001, base MAC 00:1a:2b:3c:4d:50,\n"
            "         version 2.1.0.12, ...) comes from its board, NAME in DIR/etc/board:\n"
            "           tovik, ixdpg425  RedBoot boards: the vital product data is a record\n"
            "                     area in the flash partition DIR/dev/mtd3 resp. DIR/dev/mtd5\n"
            "           bcm954748eaple  a Broadcom board (boot state in nvram)\n"
            "           any other name  (default QX_WAP_2R) a boot-environment board\n"
            "         The boot environment is DIR/sandbox/bootenv.txt (NAME=VALUE lines;\n"
            "         bootver, altbootver, bootfailed, ethaddr, serial#, band_plan, ...; empty\n"
            "         on RedBoot boards).  The AP's bootenv, nvram and activate-backup answer\n"
            "         from it, and every call is recorded in DIR/sandbox/bootenv.log:\n"
            "           bootenv [-v DEV] -d NAME  prints the value (unset: nothing, exit 1)\n"
            "           bootenv [-v DEV] -u NAME  unsets it\n"
            "           nvram config_set NAME=VALUE  sets it; config_commit, commit, lock,\n"
            "                     unlock do nothing more\n"
            "           activate-backup  swaps bootver and altbootver\n"
            "  vpd    lists the records of a RedBoot board's VPD partition, or sets or\n"
            "         removes one (the others stay as they are); base_ap_mac is a MAC,\n"
            "         user_config_country an integer, any other key a text\n"
            "  bootenv  sets or unsets a variable of DIR's boot environment\n"
            "  run    runs mapd on DIR in the foreground with the local daemon stand-ins,\n"
            "         until Ctrl-C or SIGTERM; --restart starts mapd again after a reboot\n"
            "         (when flash-upgrade installed an image since the last boot, its VERSION\n"
            "         becomes DIR/etc/version first, as the AP boots the new image);\n"
            "         --external hostapd,mapqosd,tspec starts no stand-in for the peers named\n"
            "         (their ports 57773, 58585, 55263 stay free for another program; the pid\n"
            "         files under var/run still show them running).  Every datagram mapd sends\n"
            "         to a stand-in is printed on one line, field by field, with \"WRONG\n"
            "         LENGTH\" when its length is not the record's.  --keylog FILE has\n"
            "         mapd write its TLS session secrets to FILE (emptied first) in the NSS\n"
            "         key log format, for Wireshark to decrypt a capture of the twin; the\n"
            "         AP itself never writes them\n"
            "  send   has a running twin's stand-in send a local message (hex bytes) to mapd\n"
            "  clock  sets (or with +, advances) the uptime of a twin run with --clock manual\n"
            "  client a simulated client: its station file under\n"
            "         /proc/net/ieee80211/<radio>/sta/<mac> appears (associated with the VAP\n"
            "         interface IFNAME: wlan0, wlan1vap2, ...) or goes; its counters move\n"
            "         with the others while the twin runs.  The events below go to mapd from\n"
            "         the running twin's hostapd stand-in, as hostapd sends them; the VAP MAC\n"
            "         is IFNAME's address under DIR/sys/class/net, the AP MAC eth0's, the\n"
            "         radio IFNAME's (wlan0 0, wlan1... 1), the SSID by default the VAP's own\n"
            "           assoc     association request (type 17, 53 bytes); the station appears\n"
            "           disassoc  disassociation (type 3, 14 bytes) from the client's VAP; the\n"
            "                     station goes\n"
            "           authfail  authentication failure (type 4, 46 bytes) with status N\n"
            "                     (1 authenticated, 2 not authenticated)\n"
            "           probe     probe request (type 1, 48 bytes); rssi 40 and the radio's\n"
            "                     channel (36 on wlan0, 6 on wlan1) unless given\n"
            "           auth      completed authentication (type 14, 308 bytes); the station\n"
            "                     appears.  User name U, VLAN N (default 0: mapd fills in the\n"
            "                     VAP's), VAP index from IFNAME, rate 540, the radio's channel,\n"
            "                     802.11n and STBC capable, client flags 0x4 (0x84 with --rrm,\n"
            "                     which adds the RRM capabilities 02 02 00 40 01), the client's\n"
            "                     PMK, re-authentication 3600 s, this AP as home (eth0's MAC,\n"
            "                     127.0.0.1); --bw N gives the client N as its bandwidth both\n"
            "                     ways (else none, and the VAP's default applies)\n"
            "           pmk       the client's PMK (type 12, 71 bytes): byte i is the MAC's\n"
            "                     last byte plus i\n"
            "           preauth   pre-authentication frame (type 10, 48 + N bytes; N at most\n"
            "                     1600) for the BSSID IFNAME's MAC; data bytes count up from\n"
            "                     0x40; preauth-ans the same as an answer (type 13)\n"
            "           preauth-notify  result of a pre-authentication (type 24, 85 bytes),\n"
            "                     status N (0 success)\n"
            "           radius    RADIUS packet (type 25, 3056 bytes) of N bytes (at most\n"
            "                     3000): an Access-Request (code 1) whose identifier is the\n"
            "                     MAC's last byte, its length, bytes counting up from 0x40\n"
            "           chanload  the client's channel load report (type 39, 18 bytes): eth0's\n"
            "                     MAC, channel N, 50 TUs, mode 0, load N\n"
            "  tspec  the running twin's TSPEC application stand-in sends to mapd\n"
            "           request   a TSPEC request (type 35, 120 bytes) of the client on IFNAME:\n"
            "                     --cmd 1 admission (default), 3 deletion, 7 the third kind\n"
            "                     (other values are sent as given); access category --ac\n"
            "                     (default 3); a voice stream with a distinct value in every\n"
            "                     field (nominal MSDU 208, mean rate 80000, WLAN use 40, ...)\n"
            "           status    admission counters (type 40, 984 bytes), --cmd 1 and --ac 3\n"
            "                     unless given; the counter at byte offset o holds\n"
            "                     1000 * ac + o / 4\n"
            "  kernel the emulated kernel tables of DIR (the binary sysctl entries mapd\n"
            "         writes), one line per entry sorted by name vector: \"3.21.28.11 =\n"
            "         0a000001\" (the dotted name vector, the value in hex)\n"
            "           --watch   prints each write as it happens (\"NAME = HEX\", or \"NAME\n"
            "                     refused\"), in order, until Ctrl-C; from DIR/sandbox/sysctl.log\n"
            "                     (kept under 1 MiB: the older part is sysctl.log.1)\n"
            "           --refuse N  the N-th next write fails (0 disarms): a running mapd\n"
            "                     sees EIO and the entry keeps its value\n"
            "  image  writes a firmware image for the twin: a tar archive of the payload\n"
            "         members (each --member NAME=FILE: NAME of letters, digits, '.', '_',\n"
            "         '+', '-'; by default a 20000-byte firmware.bin), VERSION holding V and\n"
            "         MANIFEST listing the others with their SHA-256 digests as sha256sum\n"
            "         writes them.  The twin's /usr/sbin/flash-validate accepts exactly such\n"
            "         images, /usr/sbin/flash-upgrade installs them (recorded in\n"
            "         DIR/sandbox/flash.log, the image in DIR/sandbox/installed.tar), and\n"
            "         /usr/bin/tftp is BusyBox's TFTP client.  To rehearse a download, serve\n"
            "         a folder: in.tftpd -L -a 127.0.0.2:69 -s FOLDER\n"
            "  The stand-ins print every record mapd sends them field by field: PMKs (12),\n"
            "  pre-authentication frames (10, 13) and RADIUS packets (25) to hostapd, TSPEC\n"
            "  replies (4) and the AP's mode (6) to the TSPEC application.\n");
}

void say(const std::string& line) {
    printf("[apsim] %s\n", line.c_str());
    fflush(stdout);
}

std::string abs_root(const char* dir) {
    std::error_code ec;
    fs::path p = fs::absolute(dir, ec);
    return p.lexically_normal().string();
}

bool parse_hex(const std::string& text, std::vector<uint8_t>& out) {
    std::string digits;
    for (char c : text) {
        if (isxdigit(static_cast<unsigned char>(c))) digits += c;
        else if (c != ' ' && c != ':' && c != '-') return false;
    }
    if (digits.empty() || digits.size() % 2) return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
    }
    return true;
}

std::string control_path(const std::string& root) { return root + "/sandbox/apsim.sock"; }

int cmd_init(const std::string& root, int argc, char** argv) {
    ap_root_options opt;
    opt.factory_config = MAPD_FACTORY_CONFIG;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--factory") == 0 && i + 1 < argc) {
            opt.factory_config = argv[++i];
        } else if (strcmp(argv[i], "--board") == 0 && i + 1 < argc) {
            opt.board = argv[++i];
        } else {
            fprintf(stderr, "apsim: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    std::error_code ec;
    fs::create_directories(root, ec);
    std::string error;
    if (ap_root_build(root, opt, error) != 0) {
        fprintf(stderr, "apsim: %s\n", error.c_str());
        return 1;
    }
    say("AP twin root ready in " + root + " (board " + opt.board + ")");
    return 0;
}

// apsim vpd DIR [set KEY VALUE | unset KEY]: without arguments, one line a
// record ("KEY = VALUE", MACs and integers as their text).
int cmd_vpd(const std::string& root, int argc, char** argv) {
    std::string error;
    int rc = -1;
    if (argc == 0) {
        std::vector<ap_vpd_record> records;
        if (ap_vpd_read(root, records, error) == 0) {
            for (const auto& r : records) {
                const auto* b = reinterpret_cast<const uint8_t*>(r.value.data());
                int32_t n = 0;
                if (r.type == 1) memcpy(&n, b, 4);
                if (r.type == 6) {
                    printf("%s = %02x:%02x:%02x:%02x:%02x:%02x\n", r.key.c_str(), b[0], b[1], b[2],
                           b[3], b[4], b[5]);
                } else {
                    printf("%s = %s\n", r.key.c_str(),
                           r.type == 1 ? std::to_string(n).c_str() : r.value.c_str());
                }
            }
            return 0;
        }
    } else if (argc == 3 && strcmp(argv[0], "set") == 0) {
        rc = ap_vpd_set(root, argv[1], argv[2], error);
    } else if (argc == 2 && strcmp(argv[0], "unset") == 0) {
        rc = ap_vpd_unset(root, argv[1], error);
    } else {
        fprintf(stderr, "apsim: vpd takes set KEY VALUE or unset KEY\n");
        return 2;
    }
    if (rc != 0) {
        fprintf(stderr, "apsim: %s\n", error.c_str());
        return 1;
    }
    say("VPD of " + root + ": " + argv[0] + " " + argv[1]);
    return 0;
}

// apsim bootenv DIR set NAME VALUE | unset NAME
int cmd_bootenv(const std::string& root, int argc, char** argv) {
    std::string error;
    int rc;
    if (argc == 3 && strcmp(argv[0], "set") == 0) {
        rc = ap_bootenv_set(root, argv[1], argv[2], error);
    } else if (argc == 2 && strcmp(argv[0], "unset") == 0) {
        rc = ap_bootenv_unset(root, argv[1], error);
    } else {
        fprintf(stderr, "apsim: bootenv takes set NAME VALUE or unset NAME\n");
        return 2;
    }
    if (rc != 0) {
        fprintf(stderr, "apsim: %s\n", error.c_str());
        return 1;
    }
    say("boot environment of " + root + ": " + argv[0] + " " + argv[1]);
    return 0;
}

int cmd_clock(const std::string& root, const char* arg) {
    std::error_code ec;
    if (fs::is_symlink(root + "/proc/uptime", ec)) {
        fprintf(stderr, "apsim: %s runs on the host clock\n", root.c_str());
        return 1;
    }
    char* end = nullptr;
    bool rel = arg[0] == '+';
    double v = strtod(arg + (rel ? 1 : 0), &end);
    if (end == arg || *end != '\0' || v < 0) {
        fprintf(stderr, "apsim: not a number of seconds: %s\n", arg);
        return 2;
    }
    double now = rel ? ap_root_clock_get(root) + v : v;
    if (ap_root_clock_set(root, now) != 0) {
        fprintf(stderr, "apsim: cannot write the clock of %s\n", root.c_str());
        return 1;
    }
    printf("%.2f\n", now);
    return 0;
}

// Hands a local message to the running twin's stand-in `who` through the
// control socket.
int control_send(const std::string& root, const std::string& who, const std::string& hex) {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::string path = control_path(root);
    if (path.size() >= sizeof a.sun_path) {
        fprintf(stderr, "apsim: root path too long for its control socket\n");
        close(fd);
        return 1;
    }
    memcpy(a.sun_path, path.c_str(), path.size());
    std::string text = who + " " + hex;
    if (sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        fprintf(stderr, "apsim: no twin runs on %s\n", root.c_str());
        close(fd);
        return 1;
    }
    close(fd);
    return 0;
}

int cmd_send(const std::string& root, const char* who, const char* hex) {
    std::vector<uint8_t> msg;
    if (!parse_hex(hex, msg)) {
        fprintf(stderr, "apsim: not hex bytes: %s\n", hex);
        return 2;
    }
    if (strcmp(who, "hostapd") != 0 && strcmp(who, "tspec") != 0 && strcmp(who, "mapqosd") != 0) {
        fprintf(stderr, "apsim: no stand-in named %s\n", who);
        return 2;
    }
    return control_send(root, who, hex);
}

std::string to_hex(const std::vector<uint8_t>& msg) {
    std::string out;
    char b[4];
    for (uint8_t x : msg) {
        snprintf(b, sizeof b, "%02x", x);
        out += b;
    }
    return out;
}

int cmd_client(const std::string& root, int argc, char** argv) {
    twin_client_cmd c;
    std::string error;
    if (twin_client_cmd_parse(std::vector<std::string>(argv, argv + argc), c, error) != 0) {
        fprintf(stderr, "apsim: %s (apsim --help)\n", error.c_str());
        return 2;
    }
    if (c.action == "add" || c.action == "remove") {
        int rc = c.action == "add" ? ap_root_client_add(root, c.mac_text, c.vap, error)
                                   : ap_root_client_remove(root, c.mac_text, error);
        if (rc != 0) {
            fprintf(stderr, "apsim: %s\n", error.c_str());
            return 1;
        }
        say("client " + c.mac_text + (c.action == "add" ? " on " + c.vap : " removed"));
        return 0;
    }
    // An event from hostapd: the client's VAP, its MAC and radio, the AP's
    // MAC; a channel load report concerns the AP as a whole.
    if (c.vap.empty() && c.action != "chanload") c.vap = ap_root_client_vap(root, c.mac_text);
    if (c.vap.empty() && c.action != "chanload") {
        fprintf(stderr, "apsim: client %s is on no VAP; give --vap\n", c.mac_text.c_str());
        return 1;
    }
    uint8_t vap_mac[6] = {}, ap_mac[6];
    if ((!c.vap.empty() && ap_root_hwaddr(root, c.vap, vap_mac, error) != 0) ||
        ap_root_hwaddr(root, "eth0", ap_mac, error) != 0) {
        fprintf(stderr, "apsim: %s\n", error.c_str());
        return 1;
    }
    if (!c.ssid_given && !c.vap.empty()) c.ssid = ap_root_vap_ssid(root, c.vap);
    if (control_send(root, "hostapd", to_hex(twin_client_event(c, vap_mac, ap_mac))) != 0) return 1;
    // The driver shows the station while it is associated.
    int rc = 0;
    if (c.action == "assoc" || c.action == "auth") rc = ap_root_client_add(root, c.mac_text, c.vap, error);
    if (c.action == "disassoc" && !ap_root_client_vap(root, c.mac_text).empty()) {
        rc = ap_root_client_remove(root, c.mac_text, error);
    }
    if (rc != 0) {
        fprintf(stderr, "apsim: %s\n", error.c_str());
        return 1;
    }
    say("client " + c.mac_text + ": " + c.action + (c.vap.empty() ? "" : " on " + c.vap) +
        " sent by the hostapd stand-in");
    return 0;
}

// The TSPEC application's messages: a client's request, or the counters.
int cmd_tspec(const std::string& root, int argc, char** argv) {
    twin_client_cmd c;
    std::string error;
    if (twin_tspec_cmd_parse(std::vector<std::string>(argv, argv + argc), c, error) != 0) {
        fprintf(stderr, "apsim: %s (apsim --help)\n", error.c_str());
        return 2;
    }
    uint8_t vap_mac[6] = {}, ap_mac[6] = {};
    if (c.action == "request") {
        if (ap_root_hwaddr(root, c.vap, vap_mac, error) != 0 ||
            ap_root_hwaddr(root, "eth0", ap_mac, error) != 0) {
            fprintf(stderr, "apsim: %s\n", error.c_str());
            return 1;
        }
        if (!c.ssid_given) c.ssid = ap_root_vap_ssid(root, c.vap);
    }
    if (control_send(root, "tspec", to_hex(twin_tspec_event(c, vap_mac, ap_mac))) != 0) return 1;
    say("tspec " + c.action + " sent by the TSPEC application stand-in");
    return 0;
}

// The emulated kernel tables: all entries, the writes as they come, or a
// refusal armed for a running daemon.
int cmd_kernel(const std::string& root, int argc, char** argv) {
    if (map_platform_set_root(root.c_str()) != 0) {
        fprintf(stderr, "apsim: %s is no directory\n", root.c_str());
        return 1;
    }
    if (argc == 0) {
        std::vector<std::string> lines;
        map_platform_sysctl_list(lines);
        for (const auto& l : lines)
            printf("%s\n", l.c_str());
        return 0;
    }
    if (argc == 2 && strcmp(argv[0], "--refuse") == 0) {
        char* end = nullptr;
        unsigned long n = strtoul(argv[1], &end, 10);
        if (!isdigit(static_cast<unsigned char>(argv[1][0])) || *end != '\0' || n > 1000000) {
            fprintf(stderr, "apsim: --refuse takes a count of writes: %s\n", argv[1]);
            return 2;
        }
        if (map_platform_sysctl_refuse_arm(static_cast<unsigned>(n)) != 0) {
            fprintf(stderr, "apsim: cannot write the refusal file of %s\n", root.c_str());
            return 1;
        }
        say(n == 0 ? "no kernel table write will be refused"
                   : "kernel table write " + std::to_string(n) + " from now will be refused");
        return 0;
    }
    if (argc != 1 || strcmp(argv[0], "--watch") != 0) {
        fprintf(stderr, "apsim: kernel takes --watch or --refuse N\n");
        return 2;
    }
    struct sigaction sa{};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    map_platform_journal_reader watch;
    map_platform_sysctl_journal_follow(watch);
    std::vector<std::string> lines;
    while (!g_stop) {
        lines.clear();
        map_platform_sysctl_journal_poll(watch, lines);
        for (const auto& l : lines)
            printf("%s\n", l.c_str());
        fflush(stdout);
        const timespec pause{0, 100 * 1000 * 1000};  // the journal's polling interval
        nanosleep(&pause, nullptr);
    }
    return 0;
}

// apsim image OUT.tar --version V [--member NAME=FILE ...]
int cmd_image(const std::string& out, int argc, char** argv) {
    std::string version;
    std::vector<ap_image_member> members;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc || (a != "--version" && a != "--member")) {
            fprintf(stderr, "apsim: image takes --version V and --member NAME=FILE: %s\n", a.c_str());
            return 2;
        }
        const std::string v = argv[++i];
        if (a == "--version") {
            version = v;
            continue;
        }
        const size_t eq = v.find('=');
        std::string data;
        FILE* f = eq == std::string::npos ? nullptr : fopen(v.c_str() + eq + 1, "rb");
        if (f == nullptr) {
            fprintf(stderr, "apsim: --member NAME=FILE with a readable FILE: %s\n", v.c_str());
            return 2;
        }
        char buf[65536];
        for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) data.append(buf, n);
        fclose(f);
        members.push_back({v.substr(0, eq), data});
    }
    std::string error;
    if (version.empty()) error = "image needs --version V";
    if (!error.empty() || ap_image_write(out, version, members, error) != 0) {
        fprintf(stderr, "apsim: %s\n", error.c_str());
        return error.starts_with("cannot write") ? 1 : 2;
    }
    say("firmware image " + version + " written to " + out);
    return 0;
}

// The boot of the root: the image flash-upgrade installed since the last
// boot gives the version.
void boot_image(const std::string& root) {
    std::string version, error;
    const int r = ap_root_boot_installed(root, version, error);
    if (r > 0) say("booting the installed image: etc/version is now " + version);
    if (r < 0) say("the installed image gives no version (" + error + "); etc/version unchanged");
}

uintmax_t file_size(const std::string& p) {
    std::error_code ec;
    auto n = fs::file_size(p, ec);
    return ec ? 0 : n;
}

int cmd_run(const std::string& root, int argc, char** argv) {
    bool manual = false, restart = false;
    std::string keylog;
    standins st;
    std::string error;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--external" && i + 1 < argc) {
            if (standins_external_parse(argv[++i], st.external, error) != 0) {
                fprintf(stderr, "apsim: --external: %s\n", error.c_str());
                return 2;
            }
            continue;
        }
        if (a == "--clock" && i + 1 < argc) {
            std::string c = argv[++i];
            if (c != "host" && c != "manual") {
                fprintf(stderr, "apsim: --clock is host or manual\n");
                return 2;
            }
            manual = c == "manual";
        } else if (a == "--restart") {
            restart = true;
        } else if (a == "--keylog" && i + 1 < argc) {
            keylog = argv[++i];
        } else {
            fprintf(stderr, "apsim: unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    std::error_code ec;
    if (!fs::exists(root + "/var/run/dman.pid", ec)) {
        fprintf(stderr, "apsim: %s is not a twin root (run 'apsim init %s' first)\n", root.c_str(),
                root.c_str());
        return 1;
    }
    // The daemon finds the key log's path in the root (it reads no options or
    // environment); without --keylog no secret is written.
    const std::string keylog_conf = root + "/sandbox/tls-keylog";
    fs::remove(keylog_conf, ec);
    if (!keylog.empty()) {
        const std::string path = fs::absolute(keylog, ec).string();
        FILE* k = fopen(path.c_str(), "w");
        FILE* c = fopen(keylog_conf.c_str(), "w");
        if (k == nullptr || c == nullptr || fprintf(c, "%s\n", path.c_str()) < 0) {
            fprintf(stderr, "apsim: --keylog: cannot write %s\n", k ? keylog_conf.c_str() : path.c_str());
            if (k) fclose(k);
            if (c) fclose(c);
            return 1;
        }
        fclose(k);
        fclose(c);
    }
    const std::string uptime = root + "/proc/uptime";
    if (manual) {
        if (fs::is_symlink(uptime, ec)) {
            fs::remove(uptime, ec);
            ap_root_clock_set(root, 1000);
        }
    } else {
        fs::remove(uptime, ec);
        fs::create_symlink("/proc/uptime", uptime, ec);
    }

    struct sigaction sa{};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    st.print = [](const std::string& l) { say(l); };
    if (standins_open(st, error) != 0) {
        fprintf(stderr, "apsim: %s\n", error.c_str());
        return 1;
    }
    for (const char* n : {"hostapd", "mapqosd", "tspec"}) {
        FILE* f = fopen((root + "/var/run/" + n + ".pid").c_str(), "w");
        if (f) {
            fprintf(f, "%d\n", getpid());
            fclose(f);
        }
    }
    int ctl = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un ca{};
    ca.sun_family = AF_UNIX;
    const std::string cpath = control_path(root);
    if (cpath.size() < sizeof ca.sun_path) {
        memcpy(ca.sun_path, cpath.c_str(), cpath.size());
        unlink(cpath.c_str());
        bind(ctl, reinterpret_cast<sockaddr*>(&ca), sizeof ca);
    }

    const std::string reboot_logs[] = {root + "/sandbox/init.log", root + "/sandbox/reboot.log"};
    uintmax_t reboot_mark = file_size(reboot_logs[0]) + file_size(reboot_logs[1]);
    int bss = 16;
    if (FILE* f = fopen((root + "/tmp/bss-max").c_str(), "r")) {
        if (fscanf(f, "%d", &bss) != 1 || bss < 1 || bss > 16) bss = 16;
        fclose(f);
    }
    say(std::string("running mapd on ") + root + (manual ? " (manual clock)" : " (host clock)"));
    for (int i = 0; i < 3; ++i) {
        if (st.external[i]) {
            say(std::string(standin_name(static_cast<standin_kind>(i))) +
                " is external: no stand-in on its port");
        }
    }
    boot_image(root);
    pid_t pid = ap_daemon_start(root, "");
    uint64_t tick = ap_root_counters_tick(root);  // counters go on where they were
    auto next_counters = std::chrono::steady_clock::now();
    int rc = 0;
    while (!g_stop) {
        standins_poll(st, 200);
        char cbuf[8192];
        ssize_t n = recv(ctl, cbuf, sizeof cbuf - 1, 0);
        if (n > 0) {
            cbuf[n] = '\0';
            std::string text(cbuf);
            size_t sp = text.find(' ');
            std::vector<uint8_t> msg;
            std::string who = text.substr(0, sp);
            standin_kind k = who == "tspec" ? standin_kind::tspec
                             : who == "mapqosd" ? standin_kind::mapqosd
                                                : standin_kind::hostapd;
            if (sp != std::string::npos && parse_hex(text.substr(sp + 1), msg) &&
                standins_send(st, k, msg) != 0) {
                say(st.external[static_cast<int>(k)] ? "no " + who + " stand-in (external): message not sent"
                                                     : "sending to mapd failed");
            }
        }
        if (std::chrono::steady_clock::now() >= next_counters) {
            ap_root_write_counters(root, ++tick, bss);
            next_counters += std::chrono::seconds(5);
        }
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            say("mapd ended (status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")");
            rc = 1;
            pid = -1;
            break;
        }
        uintmax_t mark = file_size(reboot_logs[0]) + file_size(reboot_logs[1]);
        if (mark != reboot_mark) {
            reboot_mark = mark;
            say("mapd asked for a reboot (recorded in sandbox/); stopping it");
            ap_daemon_stop(pid);
            pid = -1;
            if (!restart) break;
            say("restarting mapd, as the AP would after a reboot");
            boot_image(root);
            pid = ap_daemon_start(root, "");
        }
    }
    if (pid > 0) {
        say("stopping mapd");
        ap_daemon_stop(pid);
    }
    standins_close(st);
    close(ctl);
    unlink(cpath.c_str());
    for (const char* n : {"hostapd", "mapqosd", "tspec"}) {
        unlink((root + "/var/run/" + n + ".pid").c_str());
    }
    say("stopped");
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    if (argc < 3) {
        fprintf(stderr, "apsim: a command and its DIR are needed (apsim --help lists them)\n");
        return 2;
    }
    std::string cmd = argv[1];
    std::string root = abs_root(argv[2]);
    if (cmd == "init") return cmd_init(root, argc - 3, argv + 3);
    if (cmd == "run") return cmd_run(root, argc - 3, argv + 3);
    if (cmd == "send" && argc == 5) return cmd_send(root, argv[3], argv[4]);
    if (cmd == "clock" && argc == 4) return cmd_clock(root, argv[3]);
    if (cmd == "client") return cmd_client(root, argc - 3, argv + 3);
    if (cmd == "tspec") return cmd_tspec(root, argc - 3, argv + 3);
    if (cmd == "kernel") return cmd_kernel(root, argc - 3, argv + 3);
    if (cmd == "image") return cmd_image(root, argc - 3, argv + 3);
    if (cmd == "vpd") return cmd_vpd(root, argc - 3, argv + 3);
    if (cmd == "bootenv") return cmd_bootenv(root, argc - 3, argv + 3);
    fprintf(stderr, "apsim: unknown command or arguments: %s (apsim --help)\n", cmd.c_str());
    return 2;
}
