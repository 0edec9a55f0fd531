#include "local/mmsg_handler.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iterator>

#include "cltqos/map_cltqos.hpp"
#include "local/map_client_auth.hpp"
#include "local/map_client_relay.hpp"
#include "local/map_tspec.hpp"
#include "local/mmsg_print.hpp"
#include "local/mmsg_records.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"

namespace {

static constexpr char map_log_module[] = "mmsg_handler";

int g_mapd_sock = -1;
int g_mapqosd_sock = -1;

using enum mmsg_len_rule;
using enum mmsg_len_report;

// Received local messages by type, searched from the top.  A datagram of a
// length its row refuses is dropped (with the row's report); one the row
// accepts goes to the row's handler.  Type 2 has no handler.
constexpr mmsg_handler_row kHandlers[] = {
    {MMSG_PROBE_REQ, process_probe_req_msg, "process_probe_req_msg", exact, sizeof(probe_reqmsg_s),
     silent, MAP_TRACE_LOCAL},
    {2, nullptr, nullptr, at_least, 1, silent, MAP_TRACE_LOCAL},  // no handler: ignored
    {MMSG_DISASSOC_REQ, process_disassoc_req_msg, "process_disassoc_req_msg", exact,
     sizeof(disassoc_reqmsg_s), silent, MAP_TRACE_LOCAL},
    {MMSG_AUTHEN_FAIL, process_authen_fail_msg, "process_authen_fail_msg", exact,
     sizeof(authen_failmsg_s), silent, MAP_TRACE_LOCAL},
    {MMSG_RFSCAN_REPORT, process_cmd_msg, "process_cmd_msg", at_least, 1, silent,
     MAP_TRACE_RADIO},
    {MMSG_CHANNEL_SUPPORTED, process_cmd_msg, "process_cmd_msg", at_least, 1, silent,
     MAP_TRACE_RADIO},
    {MMSG_PRE_AUTH_CMD, process_pre_auth_msg, "process_pre_auth_msg", pre_auth,
     MMSG_PRE_AUTH_HDR_LEN, silent, MAP_TRACE_PREAUTH},
    {MMSG_PRE_AUTH_ANS, process_pre_auth_msg, "process_pre_auth_msg", pre_auth,
     MMSG_PRE_AUTH_HDR_LEN, silent, MAP_TRACE_PREAUTH},
    {MMSG_PMK, process_pmk_msg, "process_pmk_msg", exact, sizeof(mpmk_cmdmsg_s), silent,
     MAP_TRACE_PMK},
    {MMSG_CLIENT_AUTH, process_client_auth_msg, "process_client_auth_msg", exact,
     sizeof(mclient_auth_msg_s), silent, MAP_TRACE_CLIENT_AUTH},
    {MMSG_CLIENT_CONN, process_client_conn_msg, "process_client_conn_msg", exact,
     sizeof(mclient_conn_msg_s), silent, MAP_TRACE_LOCAL},
    {MMSG_ASSOC_REQ, process_assoc_req_msg, "process_assoc_req_msg", exact, sizeof(assoc_req_msg_s),
     silent, MAP_TRACE_LOCAL},
    {MMSG_DL2TUNNEL_TERM, process_dl2tunnel_term_msg, "process_dl2tunnel_term_msg", exact,
     sizeof(dl2tunnel_term_msg_s), silent, MAP_TRACE_DL2TUNNEL},
    // Longer notifications are taken; only their first 85 bytes are read.
    {MMSG_CLIENT_PREAUTH_NOTIFY, process_client_preauth_notify_msg,
     "process_client_preauth_notify_msg", at_least, sizeof(client_preauth_notification_msg_s),
     msgsize, MAP_TRACE_PREAUTH},
    {MMSG_RADIUS_PROXY, process_radius_proxy_cmd_msg, "process_radius_proxy_cmd_msg", exact,
     sizeof(radius_proxy_cmdmsg_s), silent, MAP_TRACE_PKT},
    {MMSG_CLTQOS_AUTH_DEF_REQ, process_cltqos_auth_def_req_msg, "process_cltqos_auth_def_req_msg",
     exact, sizeof(cltqos_auth_def_req_msg_s), silent, MAP_TRACE_CLTQOS},
    {MMSG_TSPEC, process_tspec_msg, "process_tspec_msg", exact, sizeof(tspec_msg_s), mismatch,
     MAP_TRACE_TSPEC},
    {MMSG_RRM_CHAN_LOAD_REP, process_rrm_chan_load_rep_msg, "process_rrm_chan_load_rep_msg",
     exact, sizeof(rrm_chan_load_rep_msg_s), mismatch, MAP_TRACE_RRM},
    {MMSG_TSPEC_STATUS, process_tspec_status_msg, "process_tspec_status_msg", exact,
     sizeof(tspec_status_msg_s), mismatch, MAP_TRACE_TSPEC},
};
static_assert(std::size(kHandlers) == 19);

const mmsg_handler_row* find_row(uint8_t type) {
    for (const auto& row : kHandlers) {
        if (row.type == type) {
            return &row;
        }
    }
    return nullptr;
}

bool row_accepts(const mmsg_handler_row& row, const uint8_t* msg, size_t length) {
    switch (row.rule) {
        case exact:
            return length == row.len;
        case at_least:
            return length >= row.len;
        case pre_auth: {
            // The header must be there to read the data length from; a length
            // above the record's data room, or a datagram that does not hold
            // exactly the header and that much data, is refused.
            if (length < MMSG_PRE_AUTH_HDR_LEN) {
                return false;
            }
            uint16_t datalen = 0;
            memcpy(&datalen, msg + offsetof(mpre_auth_cmdmsg_s, datalen), sizeof datalen);
            return datalen <= MMSG_PRE_AUTH_DATA_MAX && length == row.len + size_t{datalen};
        }
    }
    return false;
}

void report_refused(const mmsg_handler_row& row, size_t length) {
    switch (row.report) {
        case silent:
            break;
        case mismatch:
            MAP_TRACE(row.trace, "%s: message size mismatch: exp=%d act=%d", row.name,
                      static_cast<int>(row.len), static_cast<int>(length));
            break;
        case msgsize:
            MAP_TRACE(row.trace, "Invalid msgsize[%d]\n", static_cast<int>(length));
            break;
    }
}

int open_udp(const char* alloc_error) {
    int fd = map_platform_socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        MAP_ERROR("%s", alloc_error);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    return fd;
}

// `hex`: the message is traced in hex before it goes out.  Failures are
// reported under the name of the calling operation `op`.
int send_to(const char* op, int sock, uint16_t port, const uint8_t* msg, size_t length,
            const char* fail_text, bool hex) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_aton("127.0.0.1", &to.sin_addr) == 0) {
        map_print_error(map_log_module, __LINE__, op,
                        "IP address conversion using inet_aton() failed.");
        return -1;
    }
    if (hex) {
        hex_ver_pkt_print(msg, length);
    }
    ssize_t n = map_platform_sendto(map_platform_op::local_send, sock, msg, length,
                                    reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (n < 0) {
        map_print_error(map_log_module, __LINE__, op, "%s", fail_text);
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

int mmsg_socket_get() {
    return g_mapd_sock;
}

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
    const mmsg_handler_row* row = find_row(msg[0]);
    if (row == nullptr) {
        return;
    }
    if (!row_accepts(*row, msg, length)) {
        report_refused(*row, length);
        return;
    }
    if (row->handler != nullptr) {
        row->handler(msg, length);
    }
}

bool mmsg_length_accepted(const uint8_t* msg, size_t length) {
    if (msg == nullptr || length == 0) {
        return false;
    }
    const mmsg_handler_row* row = find_row(msg[0]);
    return row != nullptr && row_accepts(*row, msg, length);
}

int mmsg_handler_send(const uint8_t* msg, size_t length) {
    if (msg == nullptr || length == 0) {
        MAP_ERROR("Invalid buffer or buffer length.");
        return -1;
    }
    int n = send_to(__func__, g_mapd_sock, MMSG_HOSTAPD_PORT, msg, length,
                    "Error sending data to hostapd socket.", true);
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
    int n = send_to(__func__, g_mapd_sock, MMSG_TSPEC_PORT, msg, length,
                    "Error sending data to tspec socket.", true);
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
    int n = send_to(__func__, g_mapqosd_sock, MMSG_MAPQOSD_PORT, msg, length,
                    "Error sending data to mapqosd socket.", false);
    if (n >= 0) {
        MAP_TRACE(MAP_TRACE_CLTQOS, "%s End, num_bytes = %d", __func__, n);
    }
    return n;
}
