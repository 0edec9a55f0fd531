#include "e2e/twin_fixture.hpp"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "support/sandbox.hpp"
#include "swsim/swsim.hpp"
#include "twin/ap_root.hpp"
#include "wire/wire.hpp"

namespace mapd_e2e {

udp_peer::udp_peer(const char* ip, uint16_t port) {
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        fd = -1;
    }
}

udp_peer::~udp_peer() {
    if (fd >= 0) close(fd);
}

std::vector<uint8_t> udp_peer::recv(int ms, sockaddr_in* from) {
    pollfd p{fd, POLLIN, 0};
    if (fd < 0 || poll(&p, 1, ms) <= 0) return {};
    uint8_t buf[9000];
    sockaddr_in src{};
    socklen_t sl = sizeof src;
    ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&src), &sl);
    if (n < 0) return {};
    if (from) *from = src;
    return std::vector<uint8_t>(buf, buf + n);
}

std::vector<std::vector<uint8_t>> udp_peer::drain(int ms) {
    std::vector<std::vector<uint8_t>> out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        end - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0) break;
        auto m = recv(left);
        if (!m.empty()) out.push_back(std::move(m));
    }
    return out;
}

bool udp_peer::send_to(const std::vector<uint8_t>& msg, const char* ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    return sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(msg.size());
}

bool eventually(const std::function<bool()>& cond, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return cond();
}

twin::twin() {
    char tmpl[] = "/tmp/mapd-twin-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    root = tmpl;
    log = root + "/mapd.log";
    ap_root_options opts;
    opts.factory_config = MAPD_FACTORY_CONFIG;
    opts.start_uptime = static_cast<uint32_t>(clock);
    std::string error;
    if (ap_root_build(root, opts, error) != 0) {
        fprintf(stderr, "twin: %s\n", error.c_str());
        std::abort();
    }
}

twin::~twin() {
    stop();
    if (getenv("MAPD_KEEP_TWIN") == nullptr) {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
}

void twin::set(const char* cls, const char* instance, const char* prop, const char* value) {
    map_platform_set_root(root.c_str());
    lsqlquery_close();
    pv node{const_cast<char*>(prop), const_cast<char*>(value), nullptr, nullptr};
    lsqlquery_set_pv(cls, instance, &node, nullptr);
    lsqlquery_close();
    map_platform_set_root(nullptr);
}

void twin::write(const std::string& ap_path, const std::string& content) {
    FILE* f = fopen((root + ap_path).c_str(), "w");
    if (f) {
        fputs(content.c_str(), f);
        fclose(f);
    }
}

std::string twin::read(const std::string& ap_path) const {
    return mapd_test::read_file(root + ap_path);
}

bool twin::start() {
    pid = ap_daemon_start(root, log);
    if (pid <= 0 || !wait_log("Created the MAP Switch Comm Control Block", 10000)) {
        return false;
    }
    // The main loop runs once the debug dump (259) is answered: only then does
    // moving the clock count as elapsed time.
    udp_peer tool("127.0.0.1", 0);
    const std::vector<uint8_t> dump = {0x01, 0x03, 0x00, 0x04};
    return eventually(
        [&] {
            tool.send_to(dump);
            return wait_log(" Managed AP Parameters -", 200);
        },
        20000);
}

void twin::stop() {
    if (pid > 0) {
        ap_daemon_stop(pid);
        pid = -1;
    }
}

void twin::advance(double seconds) {
    clock += seconds;
    ap_root_clock_set(root, clock);
}

std::string twin::log_text() const { return mapd_test::read_file(log); }

size_t twin::log_count(const std::string& text) const {
    std::string t = log_text();
    size_t n = 0;
    for (size_t p = t.find(text); p != std::string::npos; p = t.find(text, p + text.size())) ++n;
    return n;
}

void twin::set_trace(uint32_t mask) {
    udp_peer tool("127.0.0.1", 0);
    std::vector<uint8_t> msg = {0x01, 0x04, 0x00, 0x08, static_cast<uint8_t>(mask >> 24),
                                static_cast<uint8_t>(mask >> 16), static_cast<uint8_t>(mask >> 8),
                                static_cast<uint8_t>(mask)};
    tool.send_to(msg);
}

long twin::dump_number(const char* label, int ms) {
    const size_t mark = log_text().size();
    udp_peer tool("127.0.0.1", 0);
    tool.send_to({0x01, 0x03, 0x00, 0x04});
    if (!wait_log(label, ms, mark)) return -1;
    std::string t = log_text();
    size_t at = t.find(label, mark) + strlen(label);
    return strtol(t.c_str() + at, nullptr, 10);
}

bool twin::dump_shows(const char* label, long n, int ms) {
    return eventually([&] { return dump_number(label, 1000) == n; }, ms);
}

bool twin::dump_has(const char* text, int ms) {
    return eventually(
        [&] {
            const size_t mark = log_text().size();
            udp_peer tool("127.0.0.1", 0);
            tool.send_to({0x01, 0x03, 0x00, 0x04});
            return wait_log(" RF Scan Timeout Interval: ", 1000, mark) &&
                   log_text().find(text, mark) != std::string::npos;
        },
        ms);
}

bool send_l2_poll(uint32_t switch_ip) {
    int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(0x88E8));
    if (fd < 0) return false;
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(0x88E8);
    to.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    to.sll_halen = 6;
    std::vector<uint8_t> frame = {0, 0, 0, 0, 0, 0, 0x00, 0x50, 0x56, 0x00, 0x00, 0x01, 0x88, 0xE8,
                                  0, 0, 0, 0, 0x00, 0x01};
    const auto msg = swsim_msg_discover(switch_ip);
    frame.insert(frame.end(), msg.begin(), msg.end());
    bool ok = sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) == static_cast<ssize_t>(frame.size());
    close(fd);
    return ok;
}

bool twin::wait_log(const std::string& text, int ms, size_t from) const {
    return eventually(
        [&] {
            std::string t = log_text();
            return t.size() > from && t.find(text, from) != std::string::npos;
        },
        ms);
}

}  // namespace mapd_e2e
