// mapd-soak: runs the daemon on an AP twin for many simulated hours on its
// manual clock and checks that what it holds stays flat.  Time moves in
// 10-second steps; each step waits for its observable effects (the
// statistics report at the switch, the keepalive acknowledgement, the relayed
// client messages at the switch and at hostapd), so hours pass in seconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "soak/soak_check.hpp"
#include "swsim/config_msg.hpp"
#include "swsim/stats_msg.hpp"
#include "swsim/swsim.hpp"
#include "twin/ap_root.hpp"
#include "twin/local_msg.hpp"
#include "twin/standins.hpp"
#include "wire/wire.hpp"

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

constexpr int kStep = 10;          // seconds: the statistics interval
constexpr int kStepsPerDrop = 60;  // the link drops every 10 minutes
constexpr int kStepsPerHour = 360;
constexpr int kJoinPerStep = 4;    // clients that associate each step
constexpr int kStayingSteps = 64;  // and leave this many steps later
constexpr uint32_t kTraceSwitchConfig = 0x3;

void usage(FILE* to) {
    fprintf(to,
            "usage: mapd-soak [--hours N] [--csv FILE] [--work DIR] [--clients N]\n"
            "                 [--bound-kb N] [--wait-ms N] [--keep]\n"
            "       mapd-soak --help | -h\n"
            "Runs mapd on a fresh AP twin for N simulated hours (default 72) on the\n"
            "twin's manual clock, with the switch simulator and the local stand-ins in\n"
            "this process, on loopback and the daemon's fixed ports (run it in a private\n"
            "network namespace: scripts/soak does).  Every 10 simulated seconds the\n"
            "clock moves one step and the switch sends a keepalive; the step ends when\n"
            "the statistics report of that uptime (interval 10 s), the keepalive\n"
            "acknowledgement and the step's client messages have arrived.  Clients\n"
            "(--clients, default 512, MACs 02:5a:00:00:HH:LL on wlan0vap1) associate\n"
            "4 a step through the hostapd stand-in (association request, answered by\n"
            "the switch, the reply relayed back; client authentication) and leave 64\n"
            "steps later.  The switch drops the TLS connection every 10 simulated\n"
            "minutes and the AP is followed again; every simulated hour the switch\n"
            "sends a configuration and, once it is applied, the daemon is sampled:\n"
            "entries of /proc/PID/fd, Rss and Private_Dirty of /proc/PID/smaps_rollup,\n"
            "and the size of the database file etc/dman/dman.db (its write-ahead log,\n"
            "the -wal file, is shown too: SQLite reuses it after each checkpoint).\n"
            "One line per hour on standard output, one CSV row per hour in --csv.\n"
            "After the warm-up hour the hour-1 sample is the base: descriptors must\n"
            "never exceed it, the other curves must stay less than --bound-kb (64)\n"
            "above it.\n"
            "  --work DIR   the twin's root (default a new /dev/shm/mapd-soak-XXXXXX,\n"
            "               or in /tmp without /dev/shm; removed unless --keep)\n"
            "  --wait-ms N  the bound on each wait for the daemon (default 10000)\n"
            "Exit status: 0 flat, 1 a curve grew past its bound, 2 the daemon died,\n"
            "stopped answering or a step failed, 64 usage.\n");
}

struct options {
    int hours = 72;
    std::string csv, work;
    int clients = 512;
    long bound_kb = 64;
    int wait_ms = 10000;
    bool keep = false;
};

// What has arrived since the counters were last cleared.
struct heard {
    long stats_uptime = -1;  // of the last main statistics report
    long acks = 0, assoc_reqs = 0, auths = 0, leaves = 0, config_status = 0, replies = 0;
    bool config_ok = false;
};

struct soak {
    options opt;
    std::string root, log, db;
    pid_t pid = -1;
    double clock = 1000;
    size_t log_mark = 0;
    swsim sw;
    standins st;
    uint8_t vap[6] = {};
    heard h;
    std::string failure;
    long steps = 0, joins = 0, leaves = 0, drops = 0, configs = 0;
};

std::string read_from(const std::string& path, size_t from) {
    std::string out;
    std::ifstream f(path, std::ios::binary);
    f.seekg(static_cast<std::streamoff>(from));
    char buf[65536];
    while (f.read(buf, sizeof buf) || f.gcount() > 0)
        out.append(buf, static_cast<size_t>(f.gcount()));
    return out;
}

bool alive(soak& s) {
    int status = 0;
    if (s.pid > 0 && waitpid(s.pid, &status, WNOHANG) == s.pid) {
        s.failure = "the daemon ended (wait status " + std::to_string(status) + ")";
        s.pid = -1;
    }
    return s.pid > 0;
}

// Reads whatever the switch and the stand-ins have received, waiting up to
// `ms` for the first of it.
void pump(soak& s, int ms) {
    pollfd p[5] = {{s.sw.udp_fd, POLLIN, 0},
                   {s.sw.conn_fd, POLLIN, 0},
                   {s.st.fd[0], POLLIN, 0},
                   {s.st.fd[1], POLLIN, 0},
                   {s.st.fd[2], POLLIN, 0}};
    if ((s.sw.ssl == nullptr || SSL_pending(s.sw.ssl) == 0) && poll(p, 5, ms) <= 0)
        return;
    std::vector<uint8_t> m;
    while (swsim_udp_recv(s.sw, m, 0) == 0) {
        swsim_stats st;
        if (swsim_stats_parse(m, st) == 0 && st.main) {
            for (const auto& e : st.elems) {
                if (strcmp(e.name, "global") == 0)
                    s.h.stats_uptime = static_cast<long>(swsim_stats_value(e, "uptime"));
            }
        }
    }
    while (s.sw.ssl != nullptr && swsim_recv(s.sw, m, 0) == 0) {
        switch (m.size() >= 4 ? wire_load_be16(m.data()) : 0) {
            case 25:
                ++s.h.acks;
                break;
            case 96:
                ++s.h.assoc_reqs;
                break;  // answered by swsim under its policy
            case 39:
                ++s.h.auths;
                break;
            case 13:
                ++s.h.leaves;
                break;
            case 5:
                ++s.h.config_status;
                s.h.config_ok = m.size() == 9 && m[8] == 1;
                break;
            default:
                break;
        }
    }
    while (standins_poll(s.st, 0) > 0) {
    }
    for (const auto& [who, d] : s.st.received) {
        if (who == standin_kind::hostapd && !d.empty() && d[0] == 18)
            ++s.h.replies;
    }
    s.st.received.clear();
}

// Waits, pumping, until `done` holds; bounded by --wait-ms.  On failure the
// reason is `what`.
template <typename Done>
bool wait_for(soak& s, const char* what, Done done) {
    const auto end = clock_type::now() + std::chrono::milliseconds(s.opt.wait_ms);
    while (!done()) {
        if (!alive(s))
            return false;
        if (clock_type::now() >= end) {
            s.failure = std::string("no ") + what + " within " + std::to_string(s.opt.wait_ms) +
                        " ms (simulated uptime " + std::to_string(static_cast<long>(s.clock)) + ")";
            return false;
        }
        pump(s, 20);
    }
    return true;
}

// Waits for `text` in the daemon's log after the mark, then moves the mark
// past it.
bool wait_log(soak& s, const std::string& text) {
    size_t at = std::string::npos;
    const bool ok = wait_for(s, ("\"" + text + "\" in the log").c_str(), [&] {
        at = read_from(s.log, s.log_mark).find(text);
        return at != std::string::npos;
    });
    if (ok)
        s.log_mark += at + text.size();
    return ok;
}

bool local_send(const std::vector<uint8_t>& msg) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(57776);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok =
        fd >= 0 && sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&to),
                          sizeof to) == static_cast<ssize_t>(msg.size());
    if (fd >= 0)
        close(fd);
    return ok;
}

bool set_trace(uint32_t mask) {
    return local_send({0x01, 0x04, 0x00, 0x08, static_cast<uint8_t>(mask >> 24),
                       static_cast<uint8_t>(mask >> 16), static_cast<uint8_t>(mask >> 8),
                       static_cast<uint8_t>(mask)});
}

// The debug dump answered: the main loop serves local requests.
bool answers(soak& s) {
    s.log_mark = fs::file_size(s.log);
    return local_send({0x01, 0x03, 0x00, 0x04}) && wait_log(s, " Managed AP Parameters -");
}

bool sent(soak& s, int r, const char* what) {
    if (r != 0)
        s.failure = std::string("cannot send ") + what;
    return r == 0;
}

// Follows the switch: the link, the statistics interval and a first keepalive.
bool link_up(soak& s) {
    // The steps of swsim_establish, each within --wait-ms, the handshake
    // too (a daemon under valgrind takes seconds for its part).  The daemon
    // answers locally by now, so one discover message is enough.
    std::vector<uint8_t> m;
    std::string pass;
    auto ok_or = [&](bool ok, const char* what) {
        if (!ok)
            s.failure = std::string("the link: ") + what;
        return ok;
    };
    if (!ok_or(swsim_send_discover(s.sw) == 0, "discover not sent") ||
        !ok_or(swsim_accept(s.sw, s.opt.wait_ms) == 0, "no TLS connection from the AP") ||
        !ok_or(swsim_recv(s.sw, m, s.opt.wait_ms) == 0 && swsim_parse_ident(m, s.sw.ident) == 0,
               "no identification message") ||
        !ok_or(swsim_send(s.sw, swsim_msg_auth_req()) == 0, "authentication request not sent") ||
        !ok_or(swsim_recv(s.sw, m, s.opt.wait_ms) == 0 && swsim_parse_auth(m, pass, nullptr) == 0,
               "no authentication message") ||
        !ok_or(swsim_send(s.sw, swsim_msg_auth_succeed()) == 0, "authentication success not sent"))
        return false;
    if (!wait_log(s, "AP is transistioned to managed mode"))
        return false;
    s.h = heard{};
    return sent(s, swsim_send(s.sw, swsim_msg_stats_interval(s.sw.ident.mac, kStep)),
                "the statistics interval") &&
           wait_log(s, "Successfully set the Stats interval at 10") &&
           sent(s, swsim_send(s.sw, swsim_msg_keepalive(600)), "a keepalive") &&
           wait_for(s, "keepalive acknowledgement", [&] { return s.h.acks > 0; });
}

// Drops the link without a goodbye and follows the AP again.
bool drop_and_follow(soak& s) {
    s.log_mark = fs::file_size(s.log);
    set_trace(kTraceSwitchConfig);  // served before the drop is read: local first
    swsim_drop(s.sw);
    ++s.drops;
    return wait_log(s, "AP is transistioned to standalone mode") && link_up(s) && set_trace(0);
}

// The hourly configuration: applied, reported to the switch, and its
// post-configuration child has reported back.
bool configure(soak& s, int hour) {
    const std::string power = std::to_string(10 + hour % 8);
    std::vector<uint8_t> m;
    std::string error;
    if (swsim_config_build(
            {"radio 1 power=" + power, "radio 2 power=11", "vap 1 0", "vap 1 1", "vap 2 12"}, m,
            error) != 0) {
        s.failure = "configuration: " + error;
        return false;
    }
    s.log_mark = fs::file_size(s.log);
    set_trace(kTraceSwitchConfig);
    s.h.config_status = 0;
    if (!sent(s, swsim_send(s.sw, m), "the configuration") ||
        !wait_for(s, "configuration status", [&] { return s.h.config_status > 0; }))
        return false;
    if (!s.h.config_ok) {
        s.failure = "the configuration failed at hour " + std::to_string(hour);
        return false;
    }
    ++s.configs;
    return wait_log(s, "rx'ed notification from child process status - SUCCESS") && set_trace(0);
}

void client_mac(int i, uint8_t mac[6]) {
    const uint8_t m[6] = {0x02, 0x5a, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
    memcpy(mac, m, 6);
}

std::string mac_text(const uint8_t m[6]) {
    char t[18];
    snprintf(t, sizeof t, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return t;
}

// One 10-second step: clients come and go, the clock moves, a keepalive.
bool step(soak& s) {
    const long n = s.steps++;
    heard before = s.h;
    int joined = 0, left = 0;
    std::string error;

    for (int j = 0; j < kJoinPerStep; ++j) {
        uint8_t mac[6];
        client_mac(static_cast<int>((n * kJoinPerStep + j) % s.opt.clients), mac);
        ap_root_client_add(s.root, mac_text(mac), "wlan0vap1", error);
        twin_client_auth a;
        memcpy(a.vap, s.vap, 6);
        memcpy(a.client, mac, 6);
        a.radio = 0;  // hostapd numbers radios from 0
        a.vap_index = 1;
        a.ssid = "corp";
        a.user = "soak";
        if (!sent(s,
                  standins_send(s.st, standin_kind::hostapd,
                                twin_msg_assoc_req(s.sw.ident.mac, s.vap, mac, 1, "corp")),
                  "an association request") ||
            !sent(s, standins_send(s.st, standin_kind::hostapd, twin_msg_client_auth(a)),
                  "a client authentication"))
            return false;
        ++joined;
        if (n >= kStayingSteps) {
            client_mac(static_cast<int>(((n - kStayingSteps) * kJoinPerStep + j) % s.opt.clients),
                       mac);
            ap_root_client_remove(s.root, mac_text(mac), error);
            if (!sent(s,
                      standins_send(s.st, standin_kind::hostapd,
                                    twin_msg_disassoc_req(s.vap, mac, 1)),
                      "a disassociation"))
                return false;
            ++left;
        }
    }
    s.joins += joined;
    s.leaves += left;
    s.clock += kStep;
    if (ap_root_clock_set(s.root, s.clock) != 0) {
        s.failure = "cannot set the clock";
        return false;
    }
    return sent(s, swsim_send(s.sw, swsim_msg_keepalive(600)), "a keepalive") &&
           wait_for(s, "step's effects", [&] {
               return s.h.stats_uptime == static_cast<long>(s.clock) && s.h.acks > before.acks &&
                      s.h.assoc_reqs >= before.assoc_reqs + joined &&
                      s.h.replies >= before.replies + joined &&
                      s.h.auths >= before.auths + joined && s.h.leaves >= before.leaves + left;
           });
}

bool start(soak& s) {
    ap_root_options o;
    o.factory_config = MAPD_FACTORY_CONFIG;
    o.start_uptime = static_cast<uint32_t>(s.clock);
    std::string error;
    if (ap_root_build(s.root, o, error) != 0) {
        s.failure = "the twin: " + error;
        return false;
    }
    s.log = s.root + "/mapd.log";
    s.db = s.root + "/etc/dman/dman.db";
    s.sw.print = [](const std::string&) {};
    s.sw.assoc = swsim_assoc_policy{};  // accept every client
    s.st.keep = true;
    if (standins_open(s.st, error) != 0 || swsim_open(s.sw, swsim_options{}, error) != 0 ||
        ap_root_hwaddr(s.root, "wlan0vap1", s.vap, error) != 0) {
        s.failure = error;
        return false;
    }
    // hostapd runs while this process does (ps lists it, apicli answers).
    std::ofstream(s.root + "/var/run/hostapd.pid") << getpid() << "\n";
    s.pid = ap_daemon_start(s.root, s.log);
    if (s.pid <= 0) {
        s.failure = "cannot start the daemon";
        return false;
    }
    return wait_log(s, "Created the MAP Switch Comm Control Block") && answers(s) &&
           set_trace(kTraceSwitchConfig) && link_up(s) && set_trace(0);
}

int run(soak& s) {
    const auto t0 = clock_type::now();
    auto real = [&] { return std::chrono::duration<double>(clock_type::now() - t0).count(); };
    FILE* csv = s.opt.csv.empty() ? nullptr : fopen(s.opt.csv.c_str(), "w");
    if (!s.opt.csv.empty() && csv == nullptr) {
        fprintf(stderr, "mapd-soak: cannot write %s\n", s.opt.csv.c_str());
        return 2;
    }
    if (csv)
        fprintf(csv, "%s\n", soak_csv_header().c_str());
    std::vector<soak_sample> samples;
    bool ok = start(s) && configure(s, 0);
    for (int hour = 0; ok; ++hour) {
        soak_sample smp;
        smp.hour = hour;
        // Sampled with no child of the daemon alive: a forked child shares
        // the daemon's pages, which then stop counting as private.
        const std::string children =
            "/proc/" + std::to_string(s.pid) + "/task/" + std::to_string(s.pid) + "/children";
        if (!answers(s) ||
            !wait_for(s, "moment without children",
                      [&] { return read_from(children, 0).empty(); }) ||
            !soak_sample_read(s.pid, s.db, smp)) {
            ok = false;
            if (s.failure.empty())
                s.failure = "cannot read the daemon's figures";
            break;
        }
        smp.real_seconds = real();
        samples.push_back(smp);
        printf(
            "hour %2d  real %7.1f s  fds %ld  rss %ld kB  private dirty %ld kB  db %lld B"
            "  wal %lld B  (%ld joins, %ld leaves, %ld drops, %ld configurations)\n",
            hour, smp.real_seconds, smp.fds, smp.rss_kb, smp.private_dirty_kb, smp.db_bytes,
            smp.wal_bytes, s.joins, s.leaves, s.drops, s.configs);
        fflush(stdout);
        if (csv) {
            fprintf(csv, "%s\n", soak_csv_row(smp).c_str());
            fflush(csv);
        }
        if (hour == s.opt.hours)
            break;
        for (int i = 1; ok && i <= kStepsPerHour; ++i) {
            ok = step(s) && (i % kStepsPerDrop != 0 || drop_and_follow(s));
        }
        // The drivers count on (rewriting every driver file takes most of a
        // second: once an hour).
        ok = ok && ap_root_write_counters(s.root, static_cast<uint64_t>(hour + 1), 16) == 0 &&
             configure(s, hour + 1);
    }
    if (csv)
        fclose(csv);
    if (!ok) {
        fprintf(stderr, "mapd-soak: %s\n", s.failure.c_str());
        return 2;
    }
    const auto grew = soak_growth(samples, 1, s.opt.bound_kb);
    for (const auto& g : grew)
        fprintf(stderr, "mapd-soak: %s\n", g.c_str());
    printf("%s: %d simulated hours in %.1f s real time, %ld steps\n",
           grew.empty() ? "flat" : "GREW", s.opt.hours, real(), s.steps);
    return grew.empty() ? 0 : 1;
}

bool number(const char* text, long lo, long hi, long& out) {
    char* end = nullptr;
    out = strtol(text, &end, 10);
    return end != text && *end == '\0' && out >= lo && out <= hi;
}

}  // namespace

int main(int argc, char** argv) {
    soak s;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        long v = 0;
        const bool has = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--keep") {
            s.opt.keep = true;
        } else if (a == "--hours" && has && number(argv[++i], 1, 10000, v)) {
            s.opt.hours = static_cast<int>(v);
        } else if (a == "--clients" && has &&
                   number(argv[++i], kJoinPerStep * kStayingSteps, 65535, v)) {
            s.opt.clients = static_cast<int>(v);
        } else if (a == "--bound-kb" && has && number(argv[++i], 1, 1 << 20, v)) {
            s.opt.bound_kb = v;
        } else if (a == "--wait-ms" && has && number(argv[++i], 100, 3600000, v)) {
            s.opt.wait_ms = static_cast<int>(v);
        } else if (a == "--csv" && has) {
            s.opt.csv = argv[++i];
        } else if (a == "--work" && has) {
            s.opt.work = argv[++i];
        } else {
            fprintf(stderr, "mapd-soak: bad argument or value at %s (mapd-soak --help)\n", a.c_str());
            return 64;
        }
    }
    signal(SIGPIPE, SIG_IGN);  // a write to a link the AP dropped
    if (s.opt.work.empty()) {
        // In memory where there is a tmpfs: the stations' files come and go
        // every step, which a disk file system makes the slowest part.
        std::string tmpl = fs::is_directory("/dev/shm") && access("/dev/shm", W_OK) == 0
                               ? "/dev/shm/mapd-soak-XXXXXX"
                               : "/tmp/mapd-soak-XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) {
            perror("mapd-soak: mkdtemp");
            return 2;
        }
        s.root = tmpl;
    } else {
        std::error_code ec;
        s.root = fs::absolute(s.opt.work, ec).string();
    }
    const int rc = run(s);
    if (s.pid > 0)
        ap_daemon_stop(s.pid);
    swsim_close(s.sw);
    standins_close(s.st);
    if (!s.opt.keep && s.opt.work.empty()) {
        std::error_code ec;
        fs::remove_all(s.root, ec);
    } else {
        fprintf(stderr, "mapd-soak: the twin stays in %s (log %s)\n", s.root.c_str(),
                s.log.c_str());
    }
    return rc;
}
