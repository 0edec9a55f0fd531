// Whole-process figures of the configuration road on an AP twin root with the
// switch simulator: the time from sending a full configuration (two radios,
// every VAP changed, the stop element last) to the post-configuration child's
// first shell command, median of N; and the database transactions of one
// full apply.  It binds the daemon's fixed ports: run it alone.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

#include "swsim/config_msg.hpp"
#include "swsim/swsim.hpp"
#include "twin/ap_root.hpp"
#include "wire/wire.hpp"

namespace {

double wall_now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Configuration messages: start and the radios, the VAPs in as many messages
// as they need, the stop element in the last.
std::vector<std::vector<uint8_t>> full_config(int vaps, int run) {
    std::vector<std::vector<uint8_t>> msgs;
    std::vector<uint8_t> buf(8192);
    wire_msg m;
    auto open_msg = [&] { wire_msg_begin(m, buf.data(), buf.size(), 4); };
    auto close_msg = [&] {
        size_t len = wire_msg_finish(m);
        msgs.emplace_back(buf.begin(), buf.begin() + static_cast<long>(len));
    };
    std::string error;
    open_msg();
    wire_msg_add(m, 0x2001, nullptr, 0);
    for (int r = 1; r <= 2; ++r) {
        auto v = swsim_radio_value({"radio", std::to_string(r), "power=" + std::to_string(10 + run % 5)}, error);
        wire_msg_add(m, 0x2004, v.data(), static_cast<uint16_t>(v.size()));
    }
    for (int r = 1; r <= 2; ++r) {
        for (int v = 0; v < vaps; ++v) {
            auto val = swsim_vap_value({"vap", std::to_string(r), std::to_string(v),
                                        "ssid=net" + std::to_string(run) + "-" + std::to_string(v),
                                        "vlan=" + std::to_string(10 + v)},
                                       error);
            if (wire_room(m.w) < val.size() + 8) {
                close_msg();
                open_msg();
            }
            wire_msg_add(m, 0x2005, val.data(), static_cast<uint16_t>(val.size()));
        }
    }
    wire_msg_add(m, 0x2002, nullptr, 0);
    close_msg();
    return msgs;
}

}  // namespace

int main(int argc, char** argv) {
    const char* factory = argc > 1 ? argv[1] : "packaging/factory-config.txt";
    int runs = argc > 2 ? atoi(argv[2]) : 20;
    char tmpl[] = "/tmp/mapd-config-XXXXXX";
    std::string root = mkdtemp(tmpl);
    ap_root_options opt;
    opt.factory_config = factory;
    std::string error;
    if (ap_root_build(root, opt, error) != 0) {
        fprintf(stderr, "config_probe: %s\n", error.c_str());
        return 1;
    }
    // The child's first shell command is "ps": the stand-in notes the time.
    {
        std::ofstream ps(root + "/bin/ps");
        ps << "#!/bin/sh\ndate +%s.%N >> tmp/ps-times\n";
    }
    swsim sw;
    sw.print = [](const std::string&) {};
    swsim_options so;
    if (swsim_open(sw, so, error) != 0) {
        fprintf(stderr, "config_probe: %s\n", error.c_str());
        return 1;
    }
    pid_t pid = ap_daemon_start(root, root + "/mapd.log");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    if (swsim_establish(sw, 12000, error) != 0) {
        fprintf(stderr, "config_probe: %s\n", error.c_str());
        return 1;
    }
    swsim_send(sw, swsim_msg_keepalive(600));
    // Trace category 0x2 for the transaction count of each apply.
    {
        const uint8_t set_trace[] = {0x01, 0x04, 0x00, 0x08, 0x00, 0x00, 0x00, 0x02};
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(57776);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(sw.udp_fd, set_trace, sizeof set_trace, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        std::filesystem::remove(root + "/tmp/ps-times");
        auto msgs = full_config(16, i);
        // The daemon reads one message per pass: the messages before the one
        // with the stop element go first, the clock starts with the last.
        for (size_t k = 0; k + 1 < msgs.size(); ++k) {
            swsim_send(sw, msgs[k]);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        double t0 = wall_now();
        swsim_send(sw, msgs.back());
        std::vector<uint8_t> status;
        for (int w = 0; w < 100; ++w) {
            if (swsim_recv(sw, status, 200) == 0 && status.size() >= 2 && wire_load_be16(status.data()) == 5) break;
        }
        std::ifstream f(root + "/tmp/ps-times");
        double t1 = 0;
        if (f >> t1) ms.push_back((t1 - t0) * 1000);
    }
    std::sort(ms.begin(), ms.end());
    if (!ms.empty()) {
        printf("message with the stop element of a full configuration (2 radios, 32 VAPs changed) to the post-configuration child: "
               "median %.1f ms (min %.1f, max %.1f, n=%zu)\n",
               ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
    }
    swsim_close(sw);
    ap_daemon_stop(pid);
    std::ifstream log(root + "/mapd.log");
    std::string line, last;
    while (std::getline(log, line)) {
        if (line.find("Config apply wrote") != std::string::npos) last = line;
    }
    printf("%s\n", last.empty() ? "(enable trace 0x2 to count the database transactions)" : last.c_str());
    std::filesystem::remove_all(root);
    return 0;
}
