// The TLS channel to the switch: context, open with bounded waits, close,
// error classification, the one send function, and the failure notification.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <cstring>

#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_comm_util.hpp"
#include "wire/map_text.hpp"

namespace {

static constexpr char map_log_module[] = "switch_comm";

constexpr const char* kApCertFile = "/etc/zorcert2.pem";
constexpr const char* kApKeyFile = "/etc/zorkey2.pem";
constexpr const char* kSwitchCertFile = "/etc/switch_certs.pem";

// SSL_write through the failure door: a failed write is one on a broken pipe,
// with the kernel's SIGPIPE.
int tls_write(SSL* ssl, const void* buf, int len) {
    if (map_platform_fails(map_platform_op::tls_send)) {
        raise(SIGPIPE);
        ERR_raise(ERR_LIB_SYS, EPIPE);
        errno = EPIPE;
        return -1;
    }
    return SSL_write(ssl, buf, len);
}

// A client context that can talk to switches that offer only TLS 1.0 and
// anonymous Diffie-Hellman: OpenSSL 3 needs security level 0 for both.
SSL_CTX* new_client_ctx() {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr) {
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_security_level(ctx, 0);
    return ctx;
}

// The twin's key log: every secret line OpenSSL offers goes through the
// platform door, which writes it only in a sandbox that asked for it.
void keylog_line(const SSL*, const char* line) { (void)map_platform_tls_keylog_write(line); }

uint64_t monotonic_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// Waits until `fd` is readable or writable, at most until `deadline_ms`;
// true when it became ready in time.
bool wait_fd(int fd, bool for_write, uint64_t deadline_ms) {
    pollfd p{fd, static_cast<short>(for_write ? POLLOUT : POLLIN), 0};
    for (;;) {
        const uint64_t now = monotonic_ms();
        if (now >= deadline_ms) return false;
        int r = poll(&p, 1, static_cast<int>(deadline_ms - now));
        if (r > 0) return true;
        if (r == 0 || errno != EINTR) return false;
    }
}

bool set_blocking(int fd, bool blocking) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags) == 0;
}

// Opens an AP file for OpenSSL through the platform door.
bool ap_file(const char* ap_path, char* out, size_t len) {
    if (map_platform_path(ap_path, out, len) != 0) {
        return false;
    }
    FILE* f = fopen(out, "r");
    if (f == nullptr) {
        MAP_TRACE(MAP_TRACE_PROVISION, "error %s\n", strerror(errno));
        return false;
    }
    if (fclose(f) != 0) {
        MAP_TRACE(MAP_TRACE_PROVISION, "error %s\n", strerror(errno));
        return false;
    }
    return true;
}

// The handshake ends within MAP_SSL_WAIT_SECONDS in all, however the peer
// spreads its bytes.
bool ssl_handshake(map_switch_comm* rec) {
    uint64_t deadline = monotonic_ms() + MAP_SSL_WAIT_SECONDS * 1000u;
    for (;;) {
        ERR_clear_error();
        int ret = SSL_connect(rec->ssl.get());
        int err = SSL_get_error(rec->ssl.get(), ret);
        if (ret == 1 || err == SSL_ERROR_NONE) {
            return true;
        }
        if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) {
            return false;
        }
        MAP_TRACE(MAP_TRACE_SWITCH, "Could not SSL connect immediately..wait for %d seconds",
                  MAP_SSL_WAIT_SECONDS);
        if (!wait_fd(rec->tcp_fd, err == SSL_ERROR_WANT_WRITE, deadline)) {
            return false;
        }
    }
}

// ---- outbound queue -----------------------------------------------------------

map_tls_outq& outq(map_switch_comm* rec) { return rec->outq; }

bool outq_empty(const map_tls_outq& q) { return q.head == q.tail; }

void outq_clear(map_tls_outq& q) {
    q.head = q.tail = 0;
    q.since_ms = 0;
}

// Appends a whole message; false when it does not fit.
bool outq_push(map_tls_outq& q, const uint8_t* msg, size_t len) {
    if (outq_empty(q)) {
        outq_clear(q);
    }
    if (len > 0xFFFF || len + 2 > sizeof q.buf - (q.tail - q.head)) {
        return false;
    }
    if (len + 2 > sizeof q.buf - q.tail) {  // make room at the end
        memmove(q.buf, q.buf + q.head, q.tail - q.head);
        q.tail -= q.head;
        q.head = 0;
    }
    q.buf[q.tail] = static_cast<uint8_t>(len >> 8);
    q.buf[q.tail + 1] = static_cast<uint8_t>(len);
    memcpy(q.buf + q.tail + 2, msg, len);
    q.tail += len + 2;
    return true;
}

size_t outq_front_len(const map_tls_outq& q) { return (size_t{q.buf[q.head]} << 8) | q.buf[q.head + 1]; }

// Closes the link after a failed or stalled write and looks for a switch again.
void drop_after_write_failure(map_switch_comm* rec) {
    char sw[16];
    snprintf(sw, sizeof sw, "%s", ip_addr_to_string(rec->switch_ip));
    MAP_ERROR("Sending data by SSL connection with switch %s failed", sw);
    map_switch_comm_ssl_connection_close(rec);
    map_switch_comm_l2_discovery_restart(rec);
}

}  // namespace

int map_switch_comm_ssl_ctx_create(map_switch_comm* rec, const map_ap_provision_params* prov) {
    SSL_load_error_strings();
    SSL_library_init();
    rec->ssl_ctx.reset(new_client_ctx());
    if (!rec->ssl_ctx) {
        MAP_ERROR("Error in the creation of the SSL context with the switch ");
        return -1;
    }
    char keylog[MAP_PLATFORM_PATH_MAX];
    if (map_platform_tls_keylog_path(keylog, sizeof keylog) == 0) {
        SSL_CTX_set_keylog_callback(rec->ssl_ctx.get(), keylog_line);
    }
    if (prov != nullptr && prov->mutual_auth) {
        if (map_ap_mutual_auth_init(&rec->ssl_ctx) != 0) {
            MAP_ERROR("Failed to setup certificate based authenitcation");
            return -1;
        }
        return 0;
    }
    if (SSL_CTX_set_cipher_list(rec->ssl_ctx.get(), "ADH:ALL:@SECLEVEL=0") != 1) {
        MAP_ERROR("Error setting the cipher ");
        return -1;
    }
    return 0;
}

int map_ap_mutual_auth_verify_cert_callback(int preverify_ok, X509_STORE_CTX* store) {
    MAP_TRACE(MAP_TRACE_PROVISION, "verify_cert_callback - preverify_ok = %d\n", preverify_ok);
    if (preverify_ok) {
        return preverify_ok;
    }
    int err = X509_STORE_CTX_get_error(store);
    MAP_TRACE(MAP_TRACE_PROVISION, "CLIENT: Certificate Validation Result: %d\n", err);
    return err == X509_V_ERR_CERT_HAS_EXPIRED ? 1 : 0;
}

int map_ap_mutual_auth_init(ssl_ctx_ptr* slot) {
    if (slot == nullptr) {
        return -1;
    }
    // The new context is built aside and replaces the old one only when it
    // is complete: a half-built context must never carry a connection.
    ssl_ctx_ptr fresh(new_client_ctx());
    if (!fresh) {
        MAP_ERROR("Error in the creation of the SSL context with the switch ");
        return -1;
    }
    SSL_CTX* ctx = fresh.get();
    char cert[MAP_PLATFORM_PATH_MAX], key[MAP_PLATFORM_PATH_MAX], trusted[MAP_PLATFORM_PATH_MAX];
    if (!ap_file(kApCertFile, cert, sizeof cert) || !ap_file(kApKeyFile, key, sizeof key) ||
        !ap_file(kSwitchCertFile, trusted, sizeof trusted)) {
        return -1;
    }
    if (SSL_CTX_use_certificate_file(ctx, cert, SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, key, SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1 ||
        SSL_CTX_load_verify_locations(ctx, trusted, nullptr) != 1) {
        ERR_print_errors_fp(stderr);
        return -1;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, map_ap_mutual_auth_verify_cert_callback);
    *slot = std::move(fresh);
    return 0;
}

int map_switch_comm_ssl_connection_open(map_switch_comm* rec, int verify) {
    if (rec == nullptr || rec->tcp_fd >= 0 || !rec->ssl_ctx) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    if (rec->switch_ip == 0) {
        MAP_ERROR("The Switch IP address not yet set");
        return -1;
    }
    char sw[16];
    snprintf(sw, sizeof sw, "%s", ip_addr_to_string(rec->switch_ip));
    // Certificate mode fails closed: a context that does not verify the
    // switch never carries a certificate-mode connection.
    if (verify == 1 && (SSL_CTX_get_verify_mode(rec->ssl_ctx.get()) & SSL_VERIFY_PEER) == 0) {
        MAP_ERROR("Certificate based authentication is not set up; not connecting to switch %s", sw);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_SWITCH, "Initiating TCP connection with switch: %s", sw);
    int fd = map_platform_socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        MAP_ERROR("Unable to create the TCP socket");
        return -1;
    }
    if (!set_blocking(fd, false)) {
        MAP_ERROR("Unable to get/set socket options");
        close(fd);
        return -1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(rec->switch_ip);
    to.sin_port = htons(rec->ports.ssl);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    if (!connected && errno == EINPROGRESS) {
        MAP_TRACE(MAP_TRACE_SWITCH, "Could not connect immediately to switch: %s ...wait for %d seconds.",
                  sw, MAP_SSL_WAIT_SECONDS);
        if (wait_fd(fd, true, monotonic_ms() + MAP_SSL_WAIT_SECONDS * 1000u)) {
            int err = -1;
            socklen_t len = sizeof err;
            connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
        }
    }
    if (!connected) {
        MAP_ERROR("Unable to TCP connect to switch: %s", sw);
        MAP_TRACE(MAP_TRACE_SWITCH, "Unable to TCP connect to switch: %s", sw);
        close(fd);
        return -1;
    }
    // Every switch message is one small record sent as soon as it exists
    // (client events, keepalive answers): none waits for the previous one's
    // acknowledgement.
    int one = 1;
    (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    rec->tcp_fd = fd;
    rec->ssl.reset(SSL_new(rec->ssl_ctx.get()));
    if (rec->ssl) {
        // A write that waits in the queue is offered again from wherever the
        // queue keeps it.
        SSL_set_mode(rec->ssl.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    }
    if (!rec->ssl || SSL_set_fd(rec->ssl.get(), fd) != 1 || !ssl_handshake(rec)) {
        MAP_ERROR("Unable to SSL connect to switch: %s", sw);
        MAP_TRACE(MAP_TRACE_SWITCH, "Unable to SSL Connect to switch %s\n", sw);
        rec->ssl.reset();
        close(fd);
        rec->tcp_fd = -1;
        return -1;
    }
    if (verify == 1) {
        MAP_TRACE(MAP_TRACE_SWITCH, "CLIENT: Certificate Validation Result: %d\n",
                  static_cast<int>(SSL_get_verify_result(rec->ssl.get())));
        const SSL_CIPHER* cipher = SSL_get_current_cipher(rec->ssl.get());
        const char* name = cipher ? SSL_CIPHER_get_name(cipher) : nullptr;
        if (name != nullptr) {
            char desc[256];
            SSL_CIPHER_description(cipher, desc, sizeof desc);
            MAP_TRACE(MAP_TRACE_SWITCH, "CLIENT: Connection Cipher is: %s\n %s\n", name, desc);
        }
    }
    rec->cert_verify = static_cast<uint8_t>(verify);
    // The socket stays non-blocking: the main loop reads a record only when
    // it is whole, and writes that the socket cannot take wait in the queue,
    // so a switch that stalls never holds the loop.
    outq_clear(outq(rec));
    rec->state = MAP_SWITCH_COMM_SSL_ESTABLISH_MODE;
    rec->keepalive_countdown = 30;
    rec->ssl_rfd = SSL_get_rfd(rec->ssl.get());
    MAP_TRACE(MAP_TRACE_SWITCH, "Established SSL connection with switch %s", sw);
    map_initialize_connection(rec->cb);
    return 0;
}

int map_switch_comm_ssl_connection_close(map_switch_comm* rec) {
    if (rec == nullptr || !rec->ssl) {
        return -1;
    }
    uint32_t had = rec->switch_ip;
    rec->ssl.reset();  // no shutdown exchange
    if (rec->tcp_fd >= 0) {
        close(rec->tcp_fd);
    }
    rec->tcp_fd = -1;
    rec->state = MAP_SWITCH_COMM_LISTEN_MODE;
    rec->ssl_rfd = -1;
    rec->switch_ip = 0;
    rec->keepalive_countdown = 0;
    rec->rfscan_countdown = 0;
    outq_clear(outq(rec));
    map_clear_connection(rec->cb);
    MAP_TRACE(MAP_TRACE_SWITCH, "Closed SSL connection with switch: %s", ip_addr_to_string(had));
    return 0;
}

int map_switch_comm_util_ssl_find_error(SSL* ssl, int ret) {
    int err = SSL_get_error(ssl, ret);
    int sys = errno;
    int result = 0;
    switch (err) {
        case SSL_ERROR_NONE:
            return 0;
        case SSL_ERROR_SSL:
            MAP_ERROR("Failure in the SSL library");
            MAP_TRACE(MAP_TRACE_SWITCH, "SSL_ERROR_SSL - SSL error:%d, ret:%d, errno:%d", err, ret, sys);
            if (ret != 0 && sys != EAGAIN && !(ret == -1 && sys == 0)) {
                MAP_ERROR("Failure in the SSL library");
                MAP_TRACE(MAP_TRACE_SWITCH, "Failure in the SSL library");
                result = -1;
            } else {
                result = 1;
            }
            break;
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            MAP_ERROR("SSL Read/write again");
            MAP_TRACE(MAP_TRACE_SWITCH, "SSL Read/write again");
            result = 1;
            break;
        case SSL_ERROR_SYSCALL:
            MAP_ERROR("SSL_ERROR_SYSCALL - SSL error:%d, ret:%d, errno:%d", err, ret, sys);
            MAP_TRACE(MAP_TRACE_SWITCH, "SSL_ERROR_SYSCALL - SSL error:%d, ret:%d, errno:%d", err, ret,
                      sys);
            result = (ret != 0 && sys != EAGAIN && sys != EINTR) ? -1 : 1;
            break;
        case SSL_ERROR_ZERO_RETURN:
            MAP_TRACE(MAP_TRACE_SWITCH, "SSL connection has been closed");
            result = -2;
            break;
        default:
            MAP_ERROR("Unhandled SSL error:%d", err);
            MAP_TRACE(MAP_TRACE_SWITCH, "Unhandled SSL error:%d", err);
            return 0;
    }
    MAP_TRACE(MAP_TRACE_SWITCH, "Error in SSL operation - ssl_error:%d, errno:%d, ret:%d", err, sys,
              ret);
    return result;
}

int map_switch_comm_data_send(map_switch_comm* rec, const uint8_t* buf, int length, int over_tls) {
    if (rec == nullptr || buf == nullptr || length <= 0) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    if (rec->state < MAP_SWITCH_COMM_SSL_ESTABLISH_MODE) {
        MAP_ERROR("Error in sending data as connection is not yet established");
        return -1;
    }
    int result = 0;
    char sw[16];
    snprintf(sw, sizeof sw, "%s", ip_addr_to_string(rec->switch_ip));
    if (over_tls) {
        if (!rec->ssl) {
            result = -1;
        } else if (!outq_empty(outq(rec))) {
            // Messages keep their order behind the ones already waiting.
            if (!outq_push(outq(rec), buf, static_cast<size_t>(length))) {
                result = -1;
                drop_after_write_failure(rec);
            }
        } else {
            ERR_clear_error();
            int ret = tls_write(rec->ssl.get(), buf, length);
            result = ret == length ? 0 : map_switch_comm_util_ssl_find_error(rec->ssl.get(), ret);
            if (result == 1) {
                // OpenSSL holds the record; it is offered again when the
                // socket takes more.  It counts as sent.
                outq_push(outq(rec), buf, static_cast<size_t>(length));
                outq(rec).since_ms = monotonic_ms();
                result = 0;
            } else if (result == -1) {
                drop_after_write_failure(rec);
            }
        }
    } else {
        result = map_switch_comm_udp_send(rec, rec->switch_ip, buf, static_cast<size_t>(length));
    }
    if (result < 0) {
        MAP_INFO("Error in sending packet to switch");
        MAP_TRACE(MAP_TRACE_SWITCH, "Error sending %s to switch: %s",
                  map_pkt_type_name(length >= 2 ? map_extract_short(buf) : 0), sw);
        return -1;
    }
    map_pkt_hex_print(MAP_TRACE_PKT, buf, length, MAP_PKT_TXED, over_tls ? MAP_PKT_TCP : MAP_PKT_UDP);
    return 0;
}

bool map_switch_comm_tls_write_pending(const map_switch_comm* rec) {
    return rec != nullptr && rec->ssl && !outq_empty(rec->outq);
}

int map_switch_comm_tls_flush(map_switch_comm* rec) {
    if (!map_switch_comm_tls_write_pending(rec)) {
        return 0;
    }
    map_tls_outq& q = outq(rec);
    while (!outq_empty(q)) {
        const size_t len = outq_front_len(q);
        ERR_clear_error();
        int ret = tls_write(rec->ssl.get(), q.buf + q.head + 2, static_cast<int>(len));
        if (ret != static_cast<int>(len)) {
            int err = SSL_get_error(rec->ssl.get(), ret);
            if (err != SSL_ERROR_WANT_WRITE && err != SSL_ERROR_WANT_READ) {
                drop_after_write_failure(rec);
                return -1;
            }
            break;
        }
        q.head += len + 2;
        q.since_ms = monotonic_ms();
    }
    if (outq_empty(q)) {
        outq_clear(q);
    } else if (monotonic_ms() - q.since_ms >= MAP_TLS_STALL_SECONDS * 1000u) {
        drop_after_write_failure(rec);
        return -1;
    }
    return 0;
}

int map_send_tls_conn_failure_notification_pkt(map_switch_comm* rec,
                                               const map_ap_provision_params* prov) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    if (rec->udp_fd < 0) {
        MAP_ERROR("No socket for AP-to-Switch communication");
        return -1;
    }
    uint8_t buf[MAP_DISCOVER_MSG_LEN];
    size_t len = map_switch_comm_build_discover(buf, sizeof buf, SWITCH_TLS_FAILURE_NOTIFY, prov);
    char sw[16];
    snprintf(sw, sizeof sw, "%s", ip_addr_to_string(rec->switch_ip));
    MAP_TRACE(MAP_TRACE_SWITCH, "Sending TLS connection failure packet to switch: %s", sw);
    if (len == 0 || map_switch_comm_udp_send(rec, rec->switch_ip, buf, len) != 0) {
        MAP_ERROR("Error in sending TLS connection failure packet to switch: %s", sw);
        MAP_TRACE(MAP_TRACE_SWITCH, "Error in sending %s packet to switch: %s",
                  map_pkt_type_name(SWITCH_TLS_FAILURE_NOTIFY), sw);
        return -1;
    }
    map_pkt_hex_print(MAP_TRACE_PKT, buf, static_cast<int>(len), MAP_PKT_TXED, MAP_PKT_UDP);
    return 0;
}
