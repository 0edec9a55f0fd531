#include "twin/standins.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "switch/switch_comm_util.hpp"

namespace {

constexpr uint16_t kPorts[3] = {57773, 58585, 55263};
constexpr uint16_t kMapdLocalPort = 57774;

struct record_name {
    uint8_t type;
    const char* name;
};

// Local message records by their type byte.
constexpr record_name kHostapdRecords[] = {
    {1, "probe_reqmsg_s"}, {3, "disassoc_reqmsg_s"}, {4, "authen_failmsg_s"},
    {5, "disassoc_cmdmsg_s"}, {6, "rfscanreport_cmdmsg_s"}, {7, "channelsupported_cmdmsg_s"},
    {8, "power_change_info_cmdmsg_s"}, {10, "mpre_auth_cmdmsg_s"}, {12, "mpmk_cmdmsg_s"},
    {13, "mpre_auth_ansmsg_s"}, {14, "mclient_auth_msg_s"}, {15, "resend_client_info_cmdmsg_s"},
    {16, "mclient_conn_msg_s"}, {17, "assoc_req_msg_s"}, {18, "assoc_reply_cmdmsg_s"},
    {19, "wids_config_cmdmsg_t"}, {20, "dl2tunnel_config_msg_s"}, {21, "dl2tunnel_setup_msg_s"},
    {22, "dl2tunnel_term_msg_s"}, {23, "wired_nw_det_vlan_cmdmsg_s"},
    {24, "client_preauth_notification_msg_s"}, {25, "radius_proxy_cmdmsg_s"},
    {32, "client_deauth_msg_s"}, {33, "cl2tunnel_config_msg_s"}, {34, "cltqos_auth_def_req_msg_s"},
    {35, "tspec_msg_s"}, {37, "RRM neighbour list"}, {38, "RRM channel load request"},
    {39, "rrm_chan_load_rep_msg_s"}, {40, "tspec_status_msg_s"},
};
constexpr record_name kTspecRecords[] = {{4, "tspec_msg_s (reply)"}, {6, "tspec_direct_msg_s"}};

const char* lookup(const record_name* rows, size_t n, uint8_t type) {
    for (size_t i = 0; i < n; ++i) {
        if (rows[i].type == type) return rows[i].name;
    }
    return "unknown record";
}

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
    char head[160];
    if (len == 0) return "empty datagram";
    if (k == standin_kind::mapqosd) {
        // Messages to mapqosd are framed like switch messages.
        uint16_t type = len >= 2 ? map_extract_short(msg) : 0;
        const char* name = type == 304 ? "VAP client QoS settings" : map_pkt_type_name(type);
        snprintf(head, sizeof head, "%s (%u), %zu bytes:", name, type, len);
    } else {
        const char* name = k == standin_kind::tspec
                               ? lookup(kTspecRecords, std::size(kTspecRecords), msg[0])
                               : lookup(kHostapdRecords, std::size(kHostapdRecords), msg[0]);
        snprintf(head, sizeof head, "type %u %s, %zu bytes:", msg[0], name, len);
    }
    std::string out = head;
    char hex[4];
    for (size_t i = 0; i < len && i < 48; ++i) {
        snprintf(hex, sizeof hex, " %02x", msg[i]);
        out += hex;
    }
    if (len > 48) out += " ...";
    return out;
}

int standins_open(standins& s, std::string& error) {
    for (int i = 0; i < 3; ++i) {
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
    ssize_t n = sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (n == static_cast<ssize_t>(msg.size()) && s.print) {
        s.print(std::string(standin_name(from)) + " -> " + standin_decode(from, msg.data(), msg.size()));
    }
    return n == static_cast<ssize_t>(msg.size()) ? 0 : -1;
}
