// Whole-process figures of the switch link on an AP twin root with the switch
// simulator: time from the discover message to an established link (the AP
// answering its first keepalive), median of N, and the daemon's CPU time per
// keepalive exchange.  It binds the daemon's fixed ports: run it alone.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "swsim/swsim.hpp"
#include "twin/ap_root.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

// utime + stime of a process, in clock ticks.
long cpu_ticks(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    size_t p = s.rfind(')');
    if (p == std::string::npos) return -1;
    std::vector<std::string> fields;
    std::string cur;
    for (size_t i = p + 2; i < s.size(); ++i) {
        if (s[i] == ' ') {
            fields.push_back(cur);
            cur.clear();
        } else {
            cur += s[i];
        }
    }
    return fields.size() > 12 ? std::stol(fields[11]) + std::stol(fields[12]) : -1;
}

bool keepalive_exchange(swsim& sw) {
    std::vector<uint8_t> ack;
    return swsim_send(sw, swsim_msg_keepalive(30)) == 0 && swsim_recv(sw, ack, 3000) == 0 &&
           ack.size() == 4;
}

}  // namespace

int main(int argc, char** argv) {
    const char* factory = argc > 1 ? argv[1] : "packaging/factory-config.txt";
    int runs = argc > 2 ? atoi(argv[2]) : 20;
    int exchanges = argc > 3 ? atoi(argv[3]) : 2000;
    char tmpl[] = "/tmp/mapd-link-XXXXXX";
    std::string root = mkdtemp(tmpl);
    ap_root_options opt;
    opt.factory_config = factory;
    std::string error;
    if (ap_root_build(root, opt, error) != 0) {
        fprintf(stderr, "link_probe: %s\n", error.c_str());
        return 1;
    }
    swsim sw;
    sw.print = [](const std::string&) {};
    swsim_options so;
    if (swsim_open(sw, so, error) != 0) {
        fprintf(stderr, "link_probe: %s\n", error.c_str());
        return 1;
    }
    pid_t pid = ap_daemon_start(root, root + "/mapd.log");
    std::this_thread::sleep_for(std::chrono::seconds(2));  // start-up and the first loop pass

    double clock = 1000;
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        clock += 20;  // the same switch may be followed again
        ap_root_clock_set(root, clock);
        auto t0 = clock_type::now();
        if (swsim_establish(sw, 12000, error) != 0 || !keepalive_exchange(sw)) {
            fprintf(stderr, "link_probe: run %d: %s\n", i, error.c_str());
            break;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
        if (i + 1 < runs) {
            swsim_shutdown(sw);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    }
    std::sort(ms.begin(), ms.end());
    if (!ms.empty()) {
        printf("discover to established (first keepalive answered): median %.1f ms (min %.1f, max %.1f, n=%zu)\n",
               ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
    }
    long before = cpu_ticks(pid);
    auto t0 = clock_type::now();
    int done = 0;
    while (done < exchanges && keepalive_exchange(sw)) ++done;
    double wall = std::chrono::duration<double>(clock_type::now() - t0).count();
    long after = cpu_ticks(pid);
    double us = 1e6 * static_cast<double>(after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) / done;
    printf("daemon CPU per keepalive exchange: %.1f us (%d exchanges, %.2f s wall)\n", us, done, wall);
    swsim_close(sw);
    ap_daemon_stop(pid);
    std::filesystem::remove_all(root);
    return 0;
}
