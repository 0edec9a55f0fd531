// Added latency and throughput of the client association relay, measured from
// outside the daemon: this process plays hostapd (UDP 57773) and the switch
// (the switch simulator's TLS server), the daemon runs on an AP twin root.
//   - up:   an association request datagram to mapd's port -> the TLS record
//           at the switch (p50, p99 over EVENTS, one at a time);
//   - down: an association reply over TLS -> the 276-byte datagram at hostapd;
//   - rate: association requests with 32 in flight, records per second at the
//           switch (the daemon's CPU share is printed beside it).
// The same three figures are taken, in the same run, through a bare forwarder
// (a child process that wraps each datagram in a switch message header and
// writes it as one TLS record, and turns each record into a 276-byte
// datagram), and the ratios are printed.  It binds the daemon's fixed ports:
// run it alone.
//
//   relay_bench FACTORY_CONFIG [EVENTS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "swsim/swsim.hpp"
#include "twin/ap_root.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

constexpr uint16_t kHostapdPort = 57773;
constexpr uint16_t kMapdPort = 57774;
constexpr uint16_t kForwarderPort = 57788;
constexpr int kWindow = 32;

double us_since(clock_type::time_point t0) {
    return std::chrono::duration<double, std::micro>(clock_type::now() - t0).count();
}

long cpu_ticks(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    size_t p = s.rfind(')');
    if (p == std::string::npos) return -1;
    long ut = 0, st = 0;
    if (sscanf(s.c_str() + p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &ut, &st) != 2)
        return -1;
    return ut + st;
}

int udp_bound(uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1, big = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        perror("relay_bench: bind");
        exit(1);
    }
    return fd;
}

void udp_send(int fd, uint16_t port, const uint8_t* msg, size_t len) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    (void)sendto(fd, msg, len, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

// The association request hostapd sends (type 17, 53 bytes), client `n`.
std::vector<uint8_t> assoc_req(uint32_t n) {
    std::vector<uint8_t> m(53, 0);
    const uint8_t ap[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
    const uint8_t vap[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x51};
    m[0] = 17;
    memcpy(&m[1], ap, 6);
    memcpy(&m[7], vap, 6);
    const uint8_t client[6] = {0x02, 0x00, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    memcpy(&m[13], client, 6);
    m[19] = 0;
    memcpy(&m[20], "bench-ssid", 10);
    return m;
}

void put16(std::vector<uint8_t>& m, uint16_t v) {
    m.push_back(uint8_t(v >> 8));
    m.push_back(uint8_t(v));
}
void elem(std::vector<uint8_t>& m, uint16_t type, const uint8_t* v, uint16_t len) {
    put16(m, type);
    put16(m, len);
    for (uint16_t i = 0; i < len; ++i) m.push_back(v[i]);
}

// The switch's association reply (97) for client `n`.
std::vector<uint8_t> assoc_reply(uint32_t n) {
    std::vector<uint8_t> m;
    put16(m, 97);
    put16(m, 0);
    const uint8_t ap[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
    const uint8_t vap[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x51};
    const uint8_t client[6] = {0x02, 0x00, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    const uint8_t radio = 1, status[4] = {0, 0, 0, 0}, vlan[2] = {0, 100};
    elem(m, 0x0021, ap, 6);
    elem(m, 0x5001, vap, 6);
    elem(m, 0x5002, client, 6);
    elem(m, 0x5003, &radio, 1);
    elem(m, 0x5004, reinterpret_cast<const uint8_t*>("bench-ssid"), 10);
    elem(m, 0x500C, vlan, 2);
    elem(m, 0x5044, status, 4);
    m[2] = uint8_t(m.size() >> 8);
    m[3] = uint8_t(m.size());
    return m;
}

// The bare forwarder (child): UDP on kForwarderPort <-> one TLS connection to
// the second switch simulator.  Each datagram becomes a type-96 message of
// one element; each record becomes a 276-byte datagram to hostapd's port.
[[noreturn]] void forwarder(const char* ip, uint16_t port) {
    int udp = udp_bound(kForwarderPort);
    int tcp = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_aton(ip, &a.sin_addr);
    if (connect(tcp, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(2);
    int one = 1;  // as the daemon's link: each message leaves at once
    setsockopt(tcp, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_cipher_list(ctx, "ADH:ALL:@SECLEVEL=0");
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, tcp);
    if (SSL_connect(ssl) != 1) _exit(3);
    uint8_t in[2048], out[2048];
    for (;;) {
        pollfd p[2] = {{udp, POLLIN, 0}, {tcp, POLLIN, 0}};
        if (SSL_pending(ssl) == 0 && poll(p, 2, -1) < 0) _exit(4);
        if (p[0].revents & POLLIN) {
            ssize_t n = recv(udp, in, sizeof in, 0);
            if (n > 0) {
                size_t len = 8 + size_t(n);
                out[0] = 0, out[1] = 96, out[2] = uint8_t(len >> 8), out[3] = uint8_t(len);
                out[4] = 0x50, out[5] = 0x02, out[6] = uint8_t(n >> 8), out[7] = uint8_t(n);
                memcpy(out + 8, in, size_t(n));
                if (SSL_write(ssl, out, int(len)) <= 0) _exit(5);
            }
        }
        if ((p[1].revents & POLLIN) || SSL_pending(ssl) > 0) {
            int n = SSL_read(ssl, in, sizeof in);
            if (n <= 0) _exit(0);
            uint8_t rec[276] = {18};
            memcpy(rec + 1, in + 4, std::min<size_t>(size_t(n) - 4, sizeof rec - 1));
            udp_send(udp, kHostapdPort, rec, sizeof rec);
        }
    }
}

struct figures {
    std::vector<double> up, down;  // latencies, microseconds
    int events = 0;                // in the rate runs
    double seconds = 0;
    long cpu_ticks = 0;  // the relaying process's CPU over the rate runs
};

double pct(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

// Waits for the next message of `type` from the relay; false on time-out.
bool recv_type(swsim& sw, uint16_t type) {
    std::vector<uint8_t> m;
    for (;;) {
        if (swsim_recv(sw, m, 3000) != 0) return false;
        if (m.size() >= 2 && (m[0] << 8 | m[1]) == type) return true;
    }
}

// Waits for the next association reply datagram at hostapd (other local
// messages of the daemon are skipped); false on time-out.
bool recv_hostapd(int fd) {
    pollfd p{fd, POLLIN, 0};
    uint8_t b[2048];
    while (poll(&p, 1, 3000) == 1) {
        if (recv(fd, b, sizeof b, 0) == 276 && b[0] == 18) return true;
    }
    return false;
}

bool measure(swsim& sw, int hostapd, uint16_t relay_port, pid_t relay_pid, int events, figures& f) {
    auto& up = f.up;
    auto& down = f.down;
    for (int i = 0; i < events; ++i) {
        auto m = assoc_req(uint32_t(i));
        auto t0 = clock_type::now();
        udp_send(hostapd, relay_port, m.data(), m.size());
        if (!recv_type(sw, 96)) return false;
        up.push_back(us_since(t0));
    }
    for (int i = 0; i < events; ++i) {
        auto m = assoc_reply(uint32_t(i));
        auto t0 = clock_type::now();
        if (swsim_send(sw, m) != 0 || !recv_hostapd(hostapd)) return false;
        down.push_back(us_since(t0));
    }
    // The rate run reads the TLS stream itself (no per-message decoding), so
    // that this side is not what limits the rate.
    long c0 = cpu_ticks(relay_pid);
    auto t0 = clock_type::now();
    int sent = 0, got = 0;
    for (; sent < kWindow; ++sent) {
        auto m = assoc_req(uint32_t(sent));
        udp_send(hostapd, relay_port, m.data(), m.size());
    }
    std::vector<uint8_t> stream;
    uint8_t buf[16384];
    while (got < events) {
        if (SSL_pending(sw.ssl) == 0) {
            pollfd p{sw.conn_fd, POLLIN, 0};
            if (poll(&p, 1, 3000) != 1) return false;
        }
        int n = SSL_read(sw.ssl, buf, sizeof buf);
        if (n <= 0) {
            if (SSL_get_error(sw.ssl, n) == SSL_ERROR_WANT_READ) continue;
            return false;
        }
        stream.insert(stream.end(), buf, buf + n);
        size_t at = 0;
        while (stream.size() - at >= 4) {
            const size_t len = size_t(stream[at + 2] << 8 | stream[at + 3]);
            if (len < 4 || stream.size() - at < len) break;
            if ((stream[at] << 8 | stream[at + 1]) == 96) {
                ++got;
                if (sent < events) {
                    auto m = assoc_req(uint32_t(sent++));
                    udp_send(hostapd, relay_port, m.data(), m.size());
                }
            }
            at += len;
        }
        stream.erase(stream.begin(), stream.begin() + long(at));
    }
    f.seconds += us_since(t0) / 1e6;
    f.events += got;
    f.cpu_ticks += cpu_ticks(relay_pid) - c0;
    return true;
}

struct summary {
    double up50, up99, down50, down99, rate, cpu_us;
};

summary summarize(const char* who, const figures& f) {
    summary s{pct(f.up, 0.5), pct(f.up, 0.99), pct(f.down, 0.5), pct(f.down, 0.99),
              f.events / f.seconds,
              double(f.cpu_ticks) * 1e6 / double(sysconf(_SC_CLK_TCK)) / f.events};
    printf("%-5s up p50 %6.1f us  p99 %7.1f us | down p50 %6.1f us  p99 %7.1f us | %8.0f events/s"
           " (relay CPU %.1f us/event)\n",
           who, s.up50, s.up99, s.down50, s.down99, s.rate, s.cpu_us);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const char* factory = argc > 1 ? argv[1] : "packaging/factory-config.txt";
    const int events = argc > 2 ? atoi(argv[2]) : 100000;
    char tmpl[] = "/tmp/mapd-relay-XXXXXX";
    std::string root = mkdtemp(tmpl);
    ap_root_options opt;
    opt.factory_config = factory;
    std::string error;
    if (ap_root_build(root, opt, error) != 0) {
        fprintf(stderr, "relay_bench: %s\n", error.c_str());
        return 1;
    }
    int hostapd = udp_bound(kHostapdPort);
    swsim sw;
    sw.print = [](const std::string&) {};
    if (swsim_open(sw, swsim_options{}, error) != 0) {
        fprintf(stderr, "relay_bench: %s\n", error.c_str());
        return 1;
    }
    pid_t mapd = ap_daemon_start(root, root + "/mapd.log");
    bool up = false;
    for (int i = 0; i < 20 && !up; ++i) {  // start-up: the first passes may miss the discover
        std::vector<uint8_t> ack;
        up = swsim_establish(sw, 3000, error) == 0 && swsim_send(sw, swsim_msg_keepalive(600)) == 0 &&
             swsim_recv(sw, ack, 3000) == 0;
    }
    if (!up) {
        fprintf(stderr, "relay_bench: no link: %s\n", error.c_str());
        ap_daemon_stop(mapd);
        return 1;
    }

    swsim bare;
    bare.print = [](const std::string&) {};
    swsim_options bo;
    bo.ip = "127.0.0.3";
    bo.udp_port = 57786;
    bo.tls_port = 57787;
    if (swsim_open(bare, bo, error) != 0) {
        fprintf(stderr, "relay_bench: %s\n", error.c_str());
        return 1;
    }
    pid_t fwd = fork();
    if (fwd == 0) forwarder(bo.ip.c_str(), bo.tls_port);
    if (swsim_accept(bare, 5000) != 0) {
        fprintf(stderr, "relay_bench: the bare forwarder did not connect\n");
        return 1;
    }

    figures m, b;
    // Two halves each, alternated, so that both relays see the same machine.
    bool ok = measure(bare, hostapd, kForwarderPort, fwd, events / 2, b) &&
              measure(sw, hostapd, kMapdPort, mapd, events / 2, m) &&
              measure(sw, hostapd, kMapdPort, mapd, events - events / 2, m) &&
              measure(bare, hostapd, kForwarderPort, fwd, events - events / 2, b);
    kill(fwd, SIGTERM);
    waitpid(fwd, nullptr, 0);
    ap_daemon_stop(mapd);
    swsim_close(bare);
    swsim_close(sw);
    std::filesystem::remove_all(root);
    if (!ok) {
        fprintf(stderr, "relay_bench: a relayed message did not arrive within 3 s\n");
        return 1;
    }
    printf("relay_bench: %d events each way per relay, in two alternated halves\n", events);
    const summary sm = summarize("mapd", m);
    const summary sb = summarize("bare", b);
    printf("ratio mapd/bare: up p50 %.2f, down p50 %.2f, up p99 %.2f, down p99 %.2f, rate %.2f\n",
           sm.up50 / sb.up50, sm.down50 / sb.down50, sm.up99 / sb.up99, sm.down99 / sb.down99,
           sb.rate / sm.rate);
    return 0;
}
