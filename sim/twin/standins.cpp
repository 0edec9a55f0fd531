#include "twin/standins.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "twin/local_msg.hpp"

namespace {

constexpr uint16_t kPorts[3] = {57773, 58585, 55263};
constexpr uint16_t kMapdLocalPort = 57774;

}  // namespace

const char* standin_name(standin_kind k) {
    switch (k) {
        case standin_kind::hostapd: return "hostapd";
        case standin_kind::mapqosd: return "mapqosd";
        case standin_kind::tspec: return "tspec";
    }
    return "?";
}

std::string standin_decode(standin_kind k, const uint8_t* msg, size_t len) {
    return twin_local_decode(k, false, msg, len);
}

int standins_external_parse(const std::string& list, bool external[3], std::string& error) {
    bool out[3] = {false, false, false};
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        std::string word = list.substr(start, comma - start);
        int i = word == "hostapd" ? 0 : word == "mapqosd" ? 1 : word == "tspec" ? 2 : -1;
        if (i < 0) {
            error = "no peer named \"" + word + "\" (hostapd, mapqosd, tspec)";
            return -1;
        }
        out[i] = true;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    for (int i = 0; i < 3; ++i) external[i] = out[i];
    return 0;
}

int standins_open(standins& s, std::string& error) {
    for (int i = 0; i < 3; ++i) {
        if (s.external[i]) continue;
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(kPorts[i]);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            error = std::string("cannot bind 127.0.0.1:") + std::to_string(kPorts[i]) + ": " +
                    strerror(errno);
            close(fd);
            standins_close(s);
            return -1;
        }
        s.fd[i] = fd;
    }
    return 0;
}

void standins_close(standins& s) {
    for (int& fd : s.fd) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

int standins_poll(standins& s, int timeout_ms) {
    pollfd p[3];
    for (int i = 0; i < 3; ++i) p[i] = {s.fd[i], POLLIN, 0};
    int r = poll(p, 3, timeout_ms);
    if (r <= 0) return 0;
    int n = 0;
    for (int i = 0; i < 3; ++i) {
        if (!(p[i].revents & POLLIN)) continue;
        uint8_t buf[20480];
        ssize_t len = recv(s.fd[i], buf, sizeof buf, 0);
        if (len < 0) continue;
        auto k = static_cast<standin_kind>(i);
        if (s.print) s.print(std::string(standin_name(k)) + " <- " + standin_decode(k, buf, static_cast<size_t>(len)));
        if (s.keep) s.received.emplace_back(k, std::vector<uint8_t>(buf, buf + len));
        ++n;
    }
    return n;
}

int standins_send(standins& s, standin_kind from, const std::vector<uint8_t>& msg) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kMapdLocalPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int fd = s.fd[static_cast<int>(from)];
    if (fd < 0) return -1;
    ssize_t n = sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (n == static_cast<ssize_t>(msg.size()) && s.print) {
        s.print(std::string(standin_name(from)) + " -> " +
                twin_local_decode(from, true, msg.data(), msg.size()));
    }
    return n == static_cast<ssize_t>(msg.size()) ? 0 : -1;
}
