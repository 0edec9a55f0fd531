#include "e2e/twin_fixture.hpp"

#include <arpa/inet.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "support/db.hpp"
#include "swsim/config_msg.hpp"
#include "swsim/swsim.hpp"
#include "twin/standins.hpp"
#include "wire/wire.hpp"

namespace mapd_e2e {

namespace {

sockaddr_in inet(const char* ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

// Runs `fn` on the twin's database from this process.
template <typename Fn>
auto in_db(const std::string& root, Fn fn) {
    map_platform_set_root(root.c_str());
    lsqlquery_close();
    auto result = fn();
    lsqlquery_close();
    map_platform_set_root(nullptr);
    return result;
}

}  // namespace

udp_peer::udp_peer(const char* ip, uint16_t port) {
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = inet(ip, port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        close(std::exchange(fd, -1));
}

std::vector<uint8_t> udp_peer::recv(int ms) {
    pollfd p{fd, POLLIN, 0};
    uint8_t buf[9000];
    ssize_t n = fd >= 0 && poll(&p, 1, ms) > 0 ? ::recv(fd, buf, sizeof buf, 0) : -1;
    return n < 0 ? std::vector<uint8_t>{} : std::vector<uint8_t>(buf, buf + n);
}

bool udp_peer::send_to(const std::vector<uint8_t>& msg, const char* ip, uint16_t port) {
    sockaddr_in a = inet(ip, port);
    return sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(msg.size());
}

int scaled_ms(int ms) {
    static const double k = [] {
        const char* v = getenv("MAPD_E2E_TIME_SCALE");
        const double d = v != nullptr ? strtod(v, nullptr) : 1;
        return d >= 1 && d <= 100 ? d : 1;
    }();
    return static_cast<int>(ms * k);
}

bool eventually(const std::function<bool()>& cond, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled_ms(ms));
    while (std::chrono::steady_clock::now() < end) {
        if (cond())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return cond();
}

twin::twin() : twin(ap_root_options{}) {}

twin::twin(ap_root_options opts) {
    char tmpl[] = "/tmp/mapd-twin-XXXXXX";
    root = mkdtemp(tmpl) != nullptr ? tmpl : "";
    log = root + "/mapd.log";
    opts.factory_config = MAPD_FACTORY_CONFIG;
    opts.start_uptime = static_cast<uint32_t>(clock);
    std::string error;
    if (root.empty() || ap_root_build(root, opts, error) != 0) {
        fprintf(stderr, "twin: %s\n", error.c_str());
        std::abort();
    }
}

twin::~twin() {
    stop();
    std::error_code ec;
    if (getenv("MAPD_KEEP_TWIN") == nullptr)
        std::filesystem::remove_all(root, ec);
}

void twin::set(const char* cls, const char* instance, const char* prop, const char* value) {
    in_db(root, [&] { return mapd_test::db_set(cls, instance, prop, value); });
}

std::string twin::get(const char* cls, const char* instance, const char* prop) const {
    return in_db(root, [&] { return mapd_test::db_get(cls, instance, prop); });
}

std::vector<std::string> twin::column(const char* cls, const char* instance,
                                      const char* prop) const {
    return in_db(root, [&] { return mapd_test::db_column(cls, instance, prop); });
}

void twin::write(const std::string& ap_path, const std::string& content) {
    std::ofstream(root + ap_path) << content;
}

bool twin::start() {
    pid = ap_daemon_start(root, log);
    // The main loop runs once the debug dump is answered: only then does
    // moving the clock count as elapsed time.
    return pid > 0 && wait_log("Created the MAP Switch Comm Control Block", 10000) &&
           eventually([&] { return !dump(" Managed AP Parameters -", 200).empty(); }, 20000);
}

void twin::stop() {
    if (pid > 0)
        ap_daemon_stop(pid);
    pid = -1;
}

std::string twin::log_from(size_t from) const {
    std::string out;
    FILE* f = fopen(log.c_str(), "r");
    if (f == nullptr) return out;
    if (fseek(f, static_cast<long>(from), SEEK_SET) == 0) {
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    }
    fclose(f);
    return out;
}

size_t twin::log_size() const {
    struct stat st {};
    return stat(log.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
}

// Reads only what came after `from`: a flooded log stays cheap to wait on.
bool twin::wait_log(const std::string& text, int ms, size_t from) const {
    return eventually([&] { return log_from(from).find(text) != std::string::npos; }, ms);
}

size_t twin::log_count(const std::string& text) const {
    std::string t = log_text();
    size_t n = 0;
    for (size_t p = t.find(text); p != std::string::npos; p = t.find(text, p + text.size()))
        ++n;
    return n;
}

void twin::set_trace(uint32_t mask) {
    udp_peer("127.0.0.1", 0)
        .send_to({0x01, 0x04, 0x00, 0x08, static_cast<uint8_t>(mask >> 24),
                  static_cast<uint8_t>(mask >> 16), static_cast<uint8_t>(mask >> 8),
                  static_cast<uint8_t>(mask)});
}

std::string twin::dump(const char* label, int ms) {
    const size_t mark = log_size();
    udp_peer("127.0.0.1", 0).send_to({0x01, 0x03, 0x00, 0x04});
    return wait_log(label, ms, mark) ? log_from(mark) : "";
}

bool twin::dump_shows(const char* label, long n, int ms) {
    return eventually(
        [&] {
            const std::string d = dump(label, 1000);
            return !d.empty() &&
                   strtol(d.c_str() + d.find(label) + strlen(label), nullptr, 10) == n;
        },
        ms);
}

bool twin::dump_has(const char* text, int ms) {
    return eventually(
        [&] { return dump(" RF Scan Timeout Interval: ", 1000).find(text) != std::string::npos; },
        ms);
}

std::vector<uint8_t> l2_poll(uint32_t switch_ip) {
    std::vector<uint8_t> frame = {0, 0, 0,    0,    0, 0, 0x00, 0x50, 0x56, 0x00,
                                  0, 1, 0x88, 0xE8, 0, 0, 0,    0,    0x00, 0x01};
    const auto msg = swsim_msg_discover(switch_ip);
    frame.insert(frame.end(), msg.begin(), msg.end());
    return frame;
}

bool send_l2(const std::vector<uint8_t>& frame) {
    int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(0x88E8));
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(0x88E8);
    to.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    to.sll_halen = 6;
    bool ok = fd >= 0 && sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                                sizeof to) == static_cast<ssize_t>(frame.size());
    if (fd >= 0)
        close(fd);
    return ok;
}

std::vector<uint8_t> config_status(swsim& sw, const std::vector<std::string>& lines,
                                   std::string& error) {
    std::vector<uint8_t> msg;
    if (swsim_config_build(lines, msg, error) != 0 || swsim_send(sw, msg) != 0) {
        return {};
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled_ms(20000));
    while (std::chrono::steady_clock::now() < end) {
        if (swsim_recv(sw, msg, 200) == 0 && msg.size() >= 2 && wire_load_be16(msg.data()) == 5) {
            return msg;
        }
    }
    return {};
}

bool enter_private_network() {
    if (unshare(CLONE_NEWNET) != 0) return false;
    return system("ip link set lo up && ip link add mapd-v0 type veth peer name mapd-v1 && "
                  "ip addr add 127.0.9.1/32 dev mapd-v0 && ip link set mapd-v0 up") == 0;
}

std::string managed_twin_up(twin& t, swsim& sw, standins& st) {
    st.keep = true;
    sw.print = [](const std::string&) {};
    std::string error;
    if (standins_open(st, error) != 0 || swsim_open(sw, swsim_options{}, error) != 0) {
        return error;
    }
    t.write("/var/run/hostapd.pid", std::to_string(getpid()) + "\n");
    if (!t.start()) {
        return "the daemon did not start: " + t.log_text();
    }
    if (swsim_establish(sw, scaled_ms(12000), error) != 0) {
        return error;
    }
    return "";
}

}  // namespace mapd_e2e
