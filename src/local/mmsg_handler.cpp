#include "local/mmsg_handler.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "log/map_log.hpp"

namespace {

static constexpr char map_log_module[] = "mmsg_handler";

int g_mapd_sock = -1;
int g_mapqosd_sock = -1;

// Received local messages by type.  Rows without a handler are ignored; the
// relay handlers join the table as their subsystems land.
constexpr mmsg_handler_row kHandlers[] = {
    {2, nullptr},
};

int open_udp(const char* alloc_error) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        MAP_ERROR("%s", alloc_error);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    return fd;
}

int send_to(int sock, uint16_t port, const uint8_t* msg, size_t length, const char* fail_text) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_aton("127.0.0.1", &to.sin_addr) == 0) {
        MAP_ERROR("IP address conversion using inet_aton() failed.");
        return -1;
    }
    ssize_t n = sendto(sock, msg, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (n < 0) {
        MAP_ERROR("%s", fail_text);
        return -1;
    }
    return static_cast<int>(n);
}

}  // namespace

int mmsg_handler_init() {
    MAP_TRACE(MAP_TRACE_LOCAL, "%s Begin", __func__);
    int fd = open_udp("Error allocating mapd socket.");
    if (fd < 0) {
        return -1;
    }
    g_mapd_sock = fd;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(MMSG_MAPD_PORT);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        MAP_ERROR("Error binding to mapd socket.");
        mmsg_handler_close();
        return -1;
    }
    MAP_TRACE(MAP_TRACE_LOCAL, "%s End", __func__);
    return fd;
}

int mmsg_handler_mapqosd_init() {
    MAP_TRACE(MAP_TRACE_CLTQOS, "%s Begin", __func__);
    int fd = open_udp("Error allocating mapqosd socket.");
    if (fd < 0) {
        return -1;
    }
    g_mapqosd_sock = fd;
    MAP_TRACE(MAP_TRACE_CLTQOS, "%s End", __func__);
    return fd;
}

void mmsg_handler_close() {
    if (g_mapd_sock > 0) {
        close(g_mapd_sock);
        g_mapd_sock = -1;
    }
}

void mmsg_handler_mapqosd_close() {
    if (g_mapqosd_sock > 0) {
        close(g_mapqosd_sock);
        g_mapqosd_sock = -1;
    }
}

int mmsg_socket_get() { return g_mapd_sock; }

int mmsg_handler_receive(int sock, uint8_t* buffer, size_t buffer_length) {
    if (buffer == nullptr || buffer_length == 0) {
        MAP_ERROR("Invalid buffer or buffer length.");
        return -1;
    }
    memset(buffer, 0, buffer_length);
    ssize_t n = recv(sock, buffer, buffer_length, MSG_DONTWAIT);
    if (n < 0) {
        MAP_ERROR("Error receiving data on mapd socket.");
        return -1;
    }
    if (static_cast<size_t>(n) > buffer_length) {
        MAP_ERROR("Data received on mapd socket exceeds buffer.");
        return -1;
    }
    process_received_msg(buffer, static_cast<size_t>(n));
    return static_cast<int>(n);
}

void process_received_msg(const uint8_t* msg, size_t length) {
    if (length == 0) {
        MAP_ERROR("Invalid message length.");
        return;
    }
    if (msg == nullptr) {
        MAP_ERROR("Invalid message buffer.");
        return;
    }
    for (const auto& row : kHandlers) {
        if (row.type == msg[0]) {
            if (row.handler != nullptr) {
                row.handler(msg, length);
            }
            return;
        }
    }
}

int mmsg_handler_send(const uint8_t* msg, size_t length) {
    if (msg == nullptr || length == 0) {
        MAP_ERROR("Invalid buffer or buffer length.");
        return -1;
    }
    int n = send_to(g_mapd_sock, MMSG_HOSTAPD_PORT, msg, length,
                    "Error sending data to hostapd socket.");
    if (n >= 0) {
        MAP_TRACE(MAP_TRACE_LOCAL, "%s End, num_bytes = %d", __func__, n);
    }
    return n;
}

int mmsg_handler_tspec_send(const uint8_t* msg, size_t length) {
    if (msg == nullptr || length == 0) {
        MAP_ERROR("Invalid buffer or buffer length.");
        return -1;
    }
    int n = send_to(g_mapd_sock, MMSG_TSPEC_PORT, msg, length, "Error sending data to tspec socket.");
    if (n >= 0) {
        MAP_TRACE(MAP_TRACE_TSPEC, "%s End, num_bytes = %d", __func__, n);
    }
    return n;
}

int mmsg_handler_mapqosd_send(const uint8_t* msg, size_t length) {
    if (msg == nullptr || length == 0) {
        MAP_ERROR("Invalid buffer or buffer length.");
        return -1;
    }
    int n = send_to(g_mapqosd_sock, MMSG_MAPQOSD_PORT, msg, length,
                    "Error sending data to mapqosd socket.");
    if (n >= 0) {
        MAP_TRACE(MAP_TRACE_CLTQOS, "%s End, num_bytes = %d", __func__, n);
    }
    return n;
}
