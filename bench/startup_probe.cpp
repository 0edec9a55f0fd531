// Whole-process figures of the daemon on an AP twin root:
//   - start-up time from launch to the first discover message on the wire,
//     median of N runs, with the AP certificate present and absent;
//   - resident memory after a minute of discovery (real clock).
// It binds the daemon's fixed ports: run it alone (scripts/figures).
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "twin/ap_root.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

int bind_peer() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(57776);
    a.sin_addr.s_addr = htonl(0x7F000002);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        perror("bind 127.0.0.2:57776");
        exit(1);
    }
    return fd;
}

void set_static_switch(const std::string& root) {
    map_platform_set_root(root.c_str());
    pv node{const_cast<char*>("switch-address-1"), const_cast<char*>("127.0.0.2"), nullptr, nullptr};
    lsqlquery_set_pv("managed-ap", nullptr, &node, nullptr);
    lsqlquery_close();
    map_platform_set_root(nullptr);
}

// Launch to the first discover message received by the switch peer, in ms.
double one_start(const std::string& root, int peer, bool with_cert) {
    std::error_code ec;
    if (!with_cert) {
        std::filesystem::remove(root + "/etc/zorcert2.pem", ec);
        std::filesystem::remove(root + "/etc/zorkey2.pem", ec);
    }
    double base = 1000;
    ap_root_clock_set(root, base);
    std::atomic<bool> stop{false};
    // The clock runs fast, so the first timer pass finds the 30-second
    // discovery countdown expired.
    std::thread ticker([&] {
        double t = base;
        while (!stop) {
            t += 30;
            ap_root_clock_set(root, t);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    auto t0 = clock_type::now();
    pid_t pid = ap_daemon_start(root, root + "/mapd.log");
    pollfd p{peer, POLLIN, 0};
    double ms = -1;
    if (poll(&p, 1, 20000) > 0) {
        ms = std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
        char buf[2048];
        while (recv(peer, buf, sizeof buf, MSG_DONTWAIT) > 0) {
        }
    }
    stop = true;
    ticker.join();
    ap_daemon_stop(pid);
    return ms;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

long rss_kb(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* factory = argc > 1 ? argv[1] : "packaging/factory-config.txt";
    int runs = argc > 2 ? atoi(argv[2]) : 10;
    int rss_seconds = argc > 3 ? atoi(argv[3]) : 60;
    char tmpl[] = "/tmp/mapd-figures-XXXXXX";
    std::string root = mkdtemp(tmpl);
    ap_root_options opt;
    opt.factory_config = factory;
    std::string error;
    if (ap_root_build(root, opt, error) != 0) {
        fprintf(stderr, "startup_probe: %s\n", error.c_str());
        return 1;
    }
    set_static_switch(root);
    int peer = bind_peer();

    for (bool with_cert : {false, true}) {
        std::vector<double> v;
        one_start(root, peer, true);  // makes sure the certificate exists for the "present" runs
        for (int i = 0; i < runs; ++i) v.push_back(one_start(root, peer, with_cert));
        printf("start-up to first discover, certificate %s: median %.1f ms (min %.1f, max %.1f, n=%d)\n",
               with_cert ? "present" : "absent ", median(v), *std::min_element(v.begin(), v.end()),
               *std::max_element(v.begin(), v.end()), runs);
    }

    if (rss_seconds > 0) {
        // A minute of discovery on the host's clock: a discover every 35 s.
        std::error_code ec;
        std::filesystem::remove(root + "/proc/uptime", ec);
        std::filesystem::create_symlink("/proc/uptime", root + "/proc/uptime", ec);
        pid_t pid = ap_daemon_start(root, root + "/mapd.log");
        std::this_thread::sleep_for(std::chrono::seconds(rss_seconds));
        printf("resident memory after %d s of discovery: %ld kB\n", rss_seconds, rss_kb(pid));
        ap_daemon_stop(pid);
    }
    close(peer);
    std::filesystem::remove_all(root);
    return 0;
}
