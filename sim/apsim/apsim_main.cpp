// apsim: the AP twin.  Builds a sandbox root that looks like the AP image and
// runs mapd on it with stand-ins for hostapd, mapqosd and the TSPEC
// application, driver counters that move, and reboots that are only recorded.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "twin/ap_root.hpp"
#include "twin/standins.hpp"

namespace {

namespace fs = std::filesystem;

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

void usage(FILE* to) {
    fprintf(to,
            "usage: apsim init DIR [--factory FILE]\n"
            "       apsim run DIR [--clock host|manual] [--restart]\n"
            "       apsim send DIR hostapd|tspec|mapqosd HEX\n"
            "       apsim clock DIR [+]SECONDS\n"
            "       apsim client DIR add MAC --vap IFNAME | remove MAC\n"
            "  init   builds a sandbox root of a two-radio AP in DIR\n"
            "  run    runs mapd on DIR in the foreground with the local daemon stand-ins,\n"
            "         until Ctrl-C or SIGTERM; --restart starts mapd again after a reboot\n"
            "  send   has a running twin's stand-in send a local message (hex bytes) to mapd\n"
            "  clock  sets (or with +, advances) the uptime of a twin run with --clock manual\n"
            "  client a simulated client: its station file under\n"
            "         /proc/net/ieee80211/<radio>/sta/<mac> appears (associated with the VAP\n"
            "         interface IFNAME: wlan0, wlan1vap2, ...) or goes; its counters move\n"
            "         with the others while the twin runs\n");
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
    say("AP twin root ready in " + root);
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
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::string path = control_path(root);
    if (path.size() >= sizeof a.sun_path) {
        fprintf(stderr, "apsim: root path too long for its control socket\n");
        return 1;
    }
    memcpy(a.sun_path, path.c_str(), path.size());
    std::string text = std::string(who) + " " + hex;
    if (sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        fprintf(stderr, "apsim: no twin runs on %s\n", root.c_str());
        close(fd);
        return 1;
    }
    close(fd);
    return 0;
}

int cmd_client(const std::string& root, int argc, char** argv) {
    std::string error;
    int rc = -1;
    if (argc == 4 && strcmp(argv[0], "add") == 0 && strcmp(argv[2], "--vap") == 0) {
        rc = ap_root_client_add(root, argv[1], argv[3], error);
    } else if (argc == 2 && strcmp(argv[0], "remove") == 0) {
        rc = ap_root_client_remove(root, argv[1], error);
    } else {
        usage(stderr);
        return 2;
    }
    if (rc != 0) {
        fprintf(stderr, "apsim: %s\n", error.c_str());
        return 1;
    }
    say(std::string("client ") + argv[1] +
        (argv[0][0] == 'a' ? " on " + std::string(argv[3]) : " removed"));
    return 0;
}

uintmax_t file_size(const std::string& p) {
    std::error_code ec;
    auto n = fs::file_size(p, ec);
    return ec ? 0 : n;
}

int cmd_run(const std::string& root, int argc, char** argv) {
    bool manual = false, restart = false;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--clock" && i + 1 < argc) {
            std::string c = argv[++i];
            if (c != "host" && c != "manual") {
                fprintf(stderr, "apsim: --clock is host or manual\n");
                return 2;
            }
            manual = c == "manual";
        } else if (a == "--restart") {
            restart = true;
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

    standins st;
    st.print = [](const std::string& l) { say(l); };
    std::string error;
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
            if (sp != std::string::npos && parse_hex(text.substr(sp + 1), msg)) {
                standins_send(st, k, msg);
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
        usage(stderr);
        return 2;
    }
    std::string cmd = argv[1];
    std::string root = abs_root(argv[2]);
    if (cmd == "init") return cmd_init(root, argc - 3, argv + 3);
    if (cmd == "run") return cmd_run(root, argc - 3, argv + 3);
    if (cmd == "send" && argc == 5) return cmd_send(root, argv[3], argv[4]);
    if (cmd == "clock" && argc == 4) return cmd_clock(root, argv[3]);
    if (cmd == "client") return cmd_client(root, argc - 3, argv + 3);
    fprintf(stderr, "apsim: unknown command or arguments: %s\n", cmd.c_str());
    usage(stderr);
    return 2;
}
