// The daemon's statistics period with a full AP: 512 authenticated clients on
// two radios, every VAP configured, the twin's driver files on tmpfs.  This
// process is the daemon (its start-up, main loop and client table in-process;
// the table filled with map_cs_process_assoc_cmd) and a child plays the switch,
// which sets the interval and reads every report.  Figures:
//   - CPU per period: one report (reading the files, building, sending the
//     main and the client datagrams), median of N calls, and a few periods
//     through the main loop's timer pass;
//   - heap allocations per period (malloc is counted in this program);
//   - the ratio to a bare loop that opens and reads the same files, run
//     alternately with the reports;
//   - the daemon's resident memory (VmRSS, Private_Dirty) with 512 clients.
// It binds the daemon's fixed ports: run it alone.
//
//   stats_bench FACTORY_CONFIG [PERIODS]
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <linux/magic.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "dman/lsqlquery.hpp"
#include "dman/map_dman_lsql_init.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "stats/map_proc.hpp"
#include "stats/map_stats.hpp"
#include "swsim/config_msg.hpp"
#include "swsim/stats_msg.hpp"
#include "swsim/swsim.hpp"
#include "switch/switch_comm.hpp"
#include "twin/ap_root.hpp"
#include "wire/wire.hpp"

// ---- counting: heap allocations and opened files ------------------------------------

static std::atomic<unsigned long> g_allocs{0};
static bool g_record = false;  // note the paths opened
static char g_paths[2048][256];
static size_t g_npaths = 0;

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

extern "C" void* malloc(size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t a, size_t b) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(a, b);
}
extern "C" void* realloc(void* p, size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}

static void note_path(const char* path) {
    if (g_record && path != nullptr && g_npaths < std::size(g_paths)) {
        snprintf(g_paths[g_npaths++], sizeof g_paths[0], "%s", path);
    }
}

extern "C" FILE* fopen(const char* path, const char* mode) {
    using fn = FILE* (*)(const char*, const char*);
    static fn real = reinterpret_cast<fn>(dlsym(RTLD_NEXT, "fopen"));
    note_path(path);
    return real(path, mode);
}

extern "C" int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, unsigned));
        va_end(ap);
    }
    note_path(path);
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

namespace {

constexpr int kClients = 512;
constexpr int kVaps = 16;
constexpr uint16_t kInterval = 10;

double cpu_us() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// "<field>: <n> kB" of a /proc/self file.
long proc_kb(const char* file, const char* field) {
    std::ifstream f(file);
    for (std::string line; std::getline(f, line);) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(strlen(field)));
    }
    return -1;
}

void client_mac(int i, uint8_t mac[6]) {
    const uint8_t m[6] = {0x02, 0x5a, 0x00, 0x00, static_cast<uint8_t>(i >> 8),
                          static_cast<uint8_t>(i)};
    memcpy(mac, m, 6);
}

// Client i: radio i % 2, VAP (i / 2) % 16.
int client_radio(int i) { return i % 2; }
int client_vap(int i) { return (i / 2) % kVaps; }

// The switch's configuration: both radios and all their VAPs, in as many
// messages as they need, the stop element in the last.
std::vector<std::vector<uint8_t>> full_config() {
    std::vector<std::vector<uint8_t>> msgs;
    std::vector<uint8_t> buf(8192);
    wire_msg m;
    std::string error;
    auto close_msg = [&] {
        size_t len = wire_msg_finish(m);
        msgs.emplace_back(buf.begin(), buf.begin() + static_cast<long>(len));
        wire_msg_begin(m, buf.data(), buf.size(), 4);
    };
    wire_msg_begin(m, buf.data(), buf.size(), 4);
    (void)wire_msg_add(m, 0x2001, nullptr, 0);
    for (int r = 1; r <= 2; ++r) {
        auto v = swsim_radio_value({"radio", std::to_string(r), "power=15"}, error);
        (void)wire_msg_add(m, 0x2004, v.data(), static_cast<uint16_t>(v.size()));
    }
    for (int r = 1; r <= 2; ++r) {
        for (int v = 0; v < kVaps; ++v) {
            auto val = swsim_vap_value({"vap", std::to_string(r), std::to_string(v),
                                        "ssid=net-" + std::to_string(v)},
                                       error);
            if (wire_room(m.w) < val.size() + 8) close_msg();
            (void)wire_msg_add(m, 0x2005, val.data(), static_cast<uint16_t>(val.size()));
        }
    }
    (void)wire_msg_add(m, 0x2002, nullptr, 0);
    close_msg();
    return msgs;
}

struct switch_tally {
    int reports, client_msgs, clients, streams, radios, vaps;
    long bytes;
};

// The switch, in a child: takes the AP to a configured link with the
// interval set, then reads every datagram until `stop` becomes readable.
[[noreturn]] void switch_side(int ready, int stop, int result) {
    swsim sw;
    sw.print = [](const std::string&) {};
    std::string error;
    if (swsim_open(sw, swsim_options{}, error) != 0) {
        fprintf(stderr, "stats_bench: %s\n", error.c_str());
        _exit(1);
    }
    (void)!write(ready, "r", 1);
    std::vector<uint8_t> m;
    bool ok = swsim_establish(sw, 30000, error) == 0 &&
              swsim_send(sw, swsim_msg_keepalive(3600)) == 0;
    for (const auto& msg : full_config()) ok = ok && swsim_send(sw, msg) == 0;
    bool status = false;
    for (int i = 0; ok && !status && i < 300; ++i) {
        status = swsim_recv(sw, m, 100) == 0 && wire_load_be16(m.data()) == 5;
    }
    ok = status && swsim_send(sw, swsim_msg_stats_interval(sw.ident.mac, kInterval)) == 0;
    if (!ok) fprintf(stderr, "stats_bench: the switch side failed: %s\n", error.c_str());
    switch_tally t{};
    for (;;) {
        pollfd p[3] = {{sw.udp_fd, POLLIN, 0}, {sw.conn_fd, POLLIN, 0}, {stop, POLLIN, 0}};
        if (poll(p, 3, 1000) < 0 && errno != EINTR) break;
        if (p[2].revents) break;
        if (p[1].revents) swsim_recv(sw, m, 0);
        if (!(p[0].revents & POLLIN) || swsim_udp_recv(sw, m, 0) != 0) continue;
        swsim_stats st;
        if (swsim_stats_parse(m, st) != 0) continue;
        t.bytes += static_cast<long>(m.size());
        t.reports += st.main;
        t.client_msgs += !st.main;
        t.clients += st.clients;
        t.streams += st.streams;
        if (st.main) {
            t.radios = st.radios;
            t.vaps = st.vaps;
        }
    }
    (void)!write(result, &t, sizeof t);
    swsim_close(sw);
    _exit(0);
}

// Opens and reads each file of one period: what the report costs at least.
void bare_period(const std::vector<std::string>& files) {
    char buf[4096];
    for (const auto& f : files) {
        int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, f.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd < 0) continue;
        while (read(fd, buf, sizeof buf) > 0) {
        }
        close(fd);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* factory = argc > 1 ? argv[1] : "packaging/factory-config.txt";
    const int periods = argc > 2 && atoi(argv[2]) > 0 ? atoi(argv[2]) : 1000;
    std::string command = argv[0];
    for (int i = 1; i < argc; ++i) command += std::string(" ") + argv[i];
    signal(SIGPIPE, SIG_IGN);

    // The twin's files on tmpfs when the machine has one at /dev/shm.
    struct statfs fs{};
    const bool shm = statfs("/dev/shm", &fs) == 0 && fs.f_type == TMPFS_MAGIC;
    std::string tmpl = shm ? "/dev/shm/mapd-stats-XXXXXX" : "/tmp/mapd-stats-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
        perror("stats_bench: mkdtemp");
        return 1;
    }
    const std::string root = tmpl;
    ap_root_options opt;
    opt.factory_config = factory;
    opt.bss_max = kVaps;
    std::string error;
    if (ap_root_build(root, opt, error) != 0) {
        fprintf(stderr, "stats_bench: %s\n", error.c_str());
        return 1;
    }
    for (int i = 0; i < kClients; ++i) {
        uint8_t mac[6];
        client_mac(i, mac);
        char text[18];
        snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                 mac[3], mac[4], mac[5]);
        const int r = client_radio(i), v = client_vap(i);
        const std::string vap = "wlan" + std::to_string(r) + (v ? "vap" + std::to_string(v) : "");
        if (ap_root_client_add(root, text, vap, error) != 0) {
            fprintf(stderr, "stats_bench: %s\n", error.c_str());
            return 1;
        }
    }
    ap_root_write_counters(root, 1, kVaps);
    std::ofstream(root + "/var/run/hostapd.pid") << getpid() << "\n";  // apicli finds hostapd

    // The daemon writes its log to standard output: that goes to a file, the
    // figures to the original standard output.
    FILE* out = fdopen(dup(STDOUT_FILENO), "w");
    const int log = ::open((root + "/mapd.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out == nullptr || log < 0 || dup2(log, STDOUT_FILENO) < 0) return 1;
    close(log);

    int ready[2], stop[2], result[2];
    if (pipe(ready) != 0 || pipe(stop) != 0 || pipe(result) != 0) return 1;
    fflush(nullptr);
    const pid_t sw_pid = fork();
    if (sw_pid == 0) switch_side(ready[1], stop[0], result[1]);
    char c;
    if (read(ready[0], &c, 1) != 1) return 1;

    // The daemon, in this process, as its start-up brings it up.
    if (map_platform_set_root(root.c_str()) != 0) return 1;
    lsqlquery_close();
    map_control_block* cb = nullptr;
    if (map_init_component(&cb) != 0) return 1;
    map_dman_lsql_init();
    if (map_trace_log_init() != 0 || map_init_sub_components(cb) != 0) return 1;
    map_cs* cs = cb->cs;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!(cs->stats_interval == kInterval && cs->config_state == MAP_CS_STATE_CONFIGURED) &&
           std::chrono::steady_clock::now() < limit) {
        map_main_loop_passes(cb, 1);
    }
    if (cs->stats_interval != kInterval) {
        fprintf(stderr, "stats_bench: no configured link with the interval set\n");
        kill(sw_pid, SIGTERM);
        return 1;
    }
    // The bench's own records, sized (and touched) before memory is measured.
    std::vector<double> report_cpu(periods), bare_cpu(periods), allocs(periods);
    const long rss_before = proc_kb("/proc/self/status", "VmRSS:");
    for (int i = 0; i < kClients; ++i) {
        uint8_t mac[6];
        client_mac(i, mac);
        map_cs_process_assoc_cmd(cs, client_radio(i) + 1, mac,
                                 cs->vaps[client_radio(i)].vap_mac[client_vap(i)].b, 1);
    }
    if (cs->stats.table.last != kClients - 1) {
        fprintf(stderr, "stats_bench: %d clients in the table\n", cs->stats.table.last + 1);
        return 1;
    }

    // Periods through the main loop: while a pass waits in select() (up to a
    // second), the clock moves by the interval; the pass's timer step then
    // sends the report.  Only passes whose report went out are counted.
    double clock = ap_root_clock_get(root);
    std::vector<double> loop_cpu;
    for (int k = 0; k < 10; ++k) {
        const uint32_t start = cs->stats.table.next_start;
        std::thread mover([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ap_root_clock_set(root, clock += kInterval);
        });
        const double t0 = cpu_us();
        map_main_loop_passes(cb, 1);
        const double t1 = cpu_us();
        mover.join();
        if (cs->stats.table.next_start != start) loop_cpu.push_back(t1 - t0);
    }

    // One slice cycle of reports with the files each opens, recorded.
    const int cycle = 5;  // 512 clients, 103 a period: every client in 5 periods
    std::vector<std::vector<std::string>> files(cycle);
    for (int k = 0; k < cycle; ++k) {
        g_npaths = 0;
        g_record = true;
        map_cs_stats_send_ap_stats(cs);
        g_record = false;
        for (size_t i = 0; i < g_npaths; ++i) files[k].push_back(g_paths[i]);
    }
    long rss_mid = 0;
    for (int k = 0; k < periods; ++k) {
        const unsigned long a0 = g_allocs.load();
        const double t0 = cpu_us();
        map_cs_stats_send_ap_stats(cs);
        const double t1 = cpu_us();
        allocs[k] = static_cast<double>(g_allocs.load() - a0);
        bare_period(files[k % cycle]);
        bare_cpu[k] = cpu_us() - t1;
        report_cpu[k] = t1 - t0;
        if (k == periods / 10) rss_mid = proc_kb("/proc/self/status", "VmRSS:");
    }
    // In the sandbox a radio's hardware address is a file read through
    // stdio (on the AP it is an ioctl): what that costs of the count above.
    const unsigned long m0 = g_allocs.load();
    for (const char* radio : {"wlan0", "wlan1"}) {
        uint8_t mac[6];
        map_proc_get_mac_addr(mac, radio);
    }
    const unsigned long mac_allocs = g_allocs.load() - m0;
    const long rss = proc_kb("/proc/self/status", "VmRSS:");
    const long hwm = proc_kb("/proc/self/status", "VmHWM:");
    const long dirty = proc_kb("/proc/self/smaps_rollup", "Private_Dirty:");

    (void)!write(stop[1], "s", 1);
    switch_tally t{};
    const bool got = read(result[0], &t, sizeof t) == sizeof t;
    waitpid(sw_pid, nullptr, 0);

    size_t nfiles = 0;
    for (const auto& f : files) nfiles += f.size();
    auto range = [](const std::vector<double>& v) {
        char text[64];
        snprintf(text, sizeof text, "min %.0f, max %.0f", *std::min_element(v.begin(), v.end()),
                 *std::max_element(v.begin(), v.end()));
        return std::string(text);
    };
    const double rep = median(report_cpu), bare = median(bare_cpu);
    fprintf(out, "command: %s\n", command.c_str());
    fprintf(out, "the twin's files on %s%s\n", root.c_str(),
            shm ? " (tmpfs)" : " (no tmpfs at /dev/shm: the file system of /tmp)");
    fprintf(out, "one statistics period: %d clients on 2 radios, %d VAPs, %.0f files opened; "
                 "medians of %d periods:\n",
            kClients, 2 * kVaps, static_cast<double>(nfiles) / cycle, periods);
    fprintf(out, "  CPU per period (read, build, send): %.0f us (%s); target <= 2000 us\n", rep,
            range(report_cpu).c_str());
    fprintf(out, "  the same through the main loop's timer pass: %.0f us (median of %zu passes)\n",
            median(loop_cpu), loop_cpu.size());
    fprintf(out, "  bare loop opening and reading the same files: %.0f us (%s)\n", bare,
            range(bare_cpu).c_str());
    fprintf(out, "  ratio report / bare loop: %.2f; target <= 2\n", bare > 0 ? rep / bare : 0);
    fprintf(out, "  heap allocations per period: %.0f (%s); target 0; of them the sandbox's "
                 "reads of the radios' hardware addresses: %lu\n",
            median(allocs), range(allocs).c_str(), mac_allocs);
    fprintf(out, "daemon resident memory with %d clients: VmRSS %ld kB before the table was "
                 "filled, %ld kB after a tenth of the periods, %ld kB at the end (VmHWM %ld kB); "
                 "Private_Dirty %ld kB\n",
            kClients, rss_before, rss_mid, rss, hwm, dirty);
    if (got) {
        fprintf(out, "the switch read %d reports (%d radios, %d VAPs each) and %d client "
                     "datagrams with %d clients and %d traffic streams, %ld bytes in all\n",
                t.reports, t.radios, t.vaps, t.client_msgs, t.clients, t.streams, t.bytes);
    }
    map_deinit_sub_components(cb);
    map_deinit_component(cb);
    lsqlquery_close();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    fclose(out);
    return 0;
}
