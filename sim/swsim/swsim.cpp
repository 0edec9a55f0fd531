#include "swsim/swsim.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "swsim/stats_msg.hpp"
#include "swsim/update_msg.hpp"
#include "switch/switch_comm_util.hpp"
#include "switch/switch_msg.hpp"
#include "wire/map_text.hpp"
#include "wire/wire.hpp"

namespace {

void say(swsim& s, const std::string& line) {
    if (s.print) {
        s.print(line);
    } else {
        printf("%s\n", line.c_str());
        fflush(stdout);
    }
}

bool wait_fd(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    int r;
    do {
        r = poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

std::vector<uint8_t> finish(wire_msg& m) {
    size_t len = wire_msg_finish(m);
    return std::vector<uint8_t>(m.w.data, m.w.data + len);
}

std::string field_text(std::span<const uint8_t> v) {
    size_t n = 0;
    while (n < v.size() && v[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(v.data()), n);
}

// The provisioning reply (515), field by field in its fixed order:
//   "ap 127.0.0.1 mac ... status 1 primary ... backup ... mutual-auth 0
//   reprovision 0 ap-cert 0 bytes"
// with "; MALFORMED: ..." for a wrong length field, an element out of order,
// of the wrong length, cut short or missing, a missing or non-zero byte
// after the status element (which its length does not count), non-zero
// bytes before an IPv4 address, a certificate without mutual
// authentication, and stray bytes at the end.
std::string provision_reply_decode(const std::vector<uint8_t>& msg) {
    struct field {
        uint16_t type;
        int len;  // -1: any
        const char* name;
    };
    static constexpr field kFields[] = {
        {0x0101, 17, "ap"},         {0x0021, 6, "mac"},      {0x0117, 1, "status"},
        {0x0110, 17, "primary"},    {0x0111, 17, "backup"},  {0x0112, 1, "mutual-auth"},
        {0x0113, 1, "reprovision"}, {0x0114, -1, "ap-cert"},
    };
    std::string out, problems;
    char b[96];
    auto problem = [&](const std::string& p) { problems += (problems.empty() ? "" : ", ") + p; };
    const uint16_t length = wire_load_be16(msg.data() + 2);
    if (length != msg.size()) {
        problem("length field " + std::to_string(length) + " in " + std::to_string(msg.size()) +
                " bytes");
    }
    wire_reader r = wire_reader_make(msg.data() + 4, msg.size() - 4);
    wire_elem e;
    int last = -1;
    bool seen[8] = {};
    uint8_t mutual = 0;
    while (wire_elem_next(r, e)) {
        int i = 0;
        while (i < 8 && kFields[i].type != e.type) ++i;
        if (i == 8 || !e.complete || (kFields[i].len >= 0 && e.len != kFields[i].len)) {
            snprintf(b, sizeof b, " elem-0x%04x(%u)", e.type, e.len);
            out += b;
            if (i == 8) {
                snprintf(b, sizeof b, "element 0x%04x unknown", e.type);
            } else if (!e.complete) {
                snprintf(b, sizeof b, "element 0x%04x cut short", e.type);
            } else {
                snprintf(b, sizeof b, "element 0x%04x length %u (expected %d)", e.type, e.len,
                         kFields[i].len);
            }
            problem(b);
            continue;
        }
        if (i <= last) {
            snprintf(b, sizeof b, "element 0x%04x out of order", e.type);
            problem(b);
        }
        last = i;
        seen[i] = true;
        const uint8_t* p = e.value.data();
        out += std::string(" ") + kFields[i].name + " ";
        if (kFields[i].len == 17 && p[0] != 0) {
            inet_ntop(AF_INET6, p + 1, b, sizeof b);
            out += std::string("ipv6 ") + b;
        } else if (kFields[i].len == 17) {
            inet_ntop(AF_INET, p + 13, b, sizeof b);
            out += b;
            if (std::any_of(p + 1, p + 13, [](uint8_t x) { return x != 0; })) {
                snprintf(b, sizeof b, "element 0x%04x: non-zero bytes before the IPv4 address",
                         e.type);
                problem(b);
            }
        } else if (e.type == 0x0021) {
            out += swsim_mac_text(p);
        } else if (e.type == 0x0114) {
            out += std::to_string(e.len) + " bytes";
            if (e.len > 0 && mutual != 1) problem("a certificate without mutual authentication");
        } else {
            out += std::to_string(p[0]);
            if (e.type == 0x0112) mutual = p[0];
        }
        uint8_t pad = 0;
        if (e.type == 0x0117 && !wire_read_u8(r, pad)) problem("no byte after the status element");
        if (e.type == 0x0117 && pad != 0) {
            snprintf(b, sizeof b, "byte 0x%02x after the status element", pad);
            problem(b);
        }
    }
    for (int i = 0; i < 8; ++i) {
        if (!seen[i]) {
            snprintf(b, sizeof b, "element 0x%04x missing", kFields[i].type);
            problem(b);
        }
    }
    if (wire_remaining(r) > 0) {
        problem(std::to_string(wire_remaining(r)) + " stray bytes at the end");
    }
    return ":" + out + (problems.empty() ? "" : "; MALFORMED: " + problems);
}

}  // namespace

int swsim_open(swsim& s, const swsim_options& opt, std::string& error) {
    s.opt = opt;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    if (inet_pton(AF_INET, opt.ip.c_str(), &a.sin_addr) != 1) {
        error = "not an IPv4 address: " + opt.ip;
        return -1;
    }
    int one = 1;
    s.udp_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    setsockopt(s.udp_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    a.sin_port = htons(opt.udp_port);
    if (bind(s.udp_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        error = "cannot bind UDP " + opt.ip + ":" + std::to_string(opt.udp_port) + ": " +
                strerror(errno);
        swsim_close(s);
        return -1;
    }
    s.listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    setsockopt(s.listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    a.sin_port = htons(opt.tls_port);
    if (bind(s.listen_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(s.listen_fd, 4) != 0) {
        error = "cannot listen on TCP " + opt.ip + ":" + std::to_string(opt.tls_port) + ": " +
                strerror(errno);
        swsim_close(s);
        return -1;
    }
    s.ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_set_min_proto_version(s.ctx, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(s.ctx, TLS1_2_VERSION);
    SSL_CTX_set_security_level(s.ctx, 0);
    bool ok = true;
    if (opt.cert_file.empty()) {
        ok = SSL_CTX_set_cipher_list(s.ctx, "ADH:AECDH:@SECLEVEL=0") == 1 &&
             SSL_CTX_set_dh_auto(s.ctx, 1) == 1;
    } else {
        ok = SSL_CTX_use_certificate_file(s.ctx, opt.cert_file.c_str(), SSL_FILETYPE_PEM) == 1 &&
             SSL_CTX_use_PrivateKey_file(s.ctx, opt.key_file.c_str(), SSL_FILETYPE_PEM) == 1 &&
             SSL_CTX_set_cipher_list(s.ctx, "ALL:@SECLEVEL=0") == 1;
        if (ok && !opt.ca_file.empty()) {
            ok = SSL_CTX_load_verify_locations(s.ctx, opt.ca_file.c_str(), nullptr) == 1;
            SSL_CTX_set_verify(s.ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
            // The AP's self-issued certificate is a CA certificate for
            // certificate signing only, not marked for client use: without
            // this its purpose check fails the handshake.
            X509_VERIFY_PARAM_set_purpose(SSL_CTX_get0_param(s.ctx), X509_PURPOSE_ANY);
        }
    }
    if (!ok) {
        char buf[256];
        ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
        error = std::string("TLS set-up failed: ") + buf;
        swsim_close(s);
        return -1;
    }
    say(s, "switch up on " + opt.ip + " (UDP " + std::to_string(opt.udp_port) + ", TLS " +
               std::to_string(opt.tls_port) + (opt.cert_file.empty() ? ", anonymous)" : ", certificates)"));
    return 0;
}

void swsim_drop(swsim& s) {
    if (s.ssl) {
        SSL_free(s.ssl);
        s.ssl = nullptr;
    }
    if (s.conn_fd >= 0) {
        close(s.conn_fd);
        s.conn_fd = -1;
    }
}

void swsim_shutdown(swsim& s) {
    if (s.ssl) {
        SSL_shutdown(s.ssl);
        say(s, "TLS closed by the switch");
    }
    swsim_drop(s);
}

void swsim_close(swsim& s) {
    swsim_drop(s);
    if (s.ctx) SSL_CTX_free(s.ctx);
    s.ctx = nullptr;
    if (s.udp_fd >= 0) close(s.udp_fd);
    if (s.listen_fd >= 0) close(s.listen_fd);
    s.udp_fd = s.listen_fd = -1;
}

std::vector<uint8_t> swsim_msg_discover(uint32_t switch_ip, uint16_t version, uint8_t device_type) {
    static uint8_t buf[128];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_DISCOVER);
    uint8_t ip[MAP_IP_ELEM_LEN];
    map_ip_elem_encode(switch_ip, 0xFF000000, ip);
    const uint8_t mac[6] = {0x00, 0x50, 0x56, 0x00, 0x00, 0x01};
    wire_msg_add_u8(m, MAP_ELEM_DEVICE_TYPE, device_type);
    // Element 5 carries one byte that the AP steps over; a switch sends it
    // ahead of the fields the AP reads.
    wire_msg_add_u8(m, MAP_ELEM_DISCOVER_SKIP, 0);
    wire_msg_add_be16(m, MAP_ELEM_VENDOR_ID, MAP_VENDOR_ID);
    wire_msg_add_be16(m, MAP_ELEM_PROTOCOL_VERSION, version);
    wire_msg_add(m, MAP_ELEM_MAC, mac, 6);
    wire_msg_add(m, MAP_ELEM_IP_ADDR, ip, sizeof ip);
    wire_msg_add_u8(m, MAP_ELEM_MUTUAL_AUTH, 0);
    return finish(m);
}

std::vector<uint8_t> swsim_msg_auth_req() {
    static uint8_t buf[4];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_AP_AUTH_REQ);
    return finish(m);
}

std::vector<uint8_t> swsim_msg_auth_succeed() {
    static uint8_t buf[4];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_AP_AUTH_SUCCEED);
    return finish(m);
}

std::vector<uint8_t> swsim_msg_keepalive(uint32_t interval) {
    static uint8_t buf[12];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_KEEPALIVE);
    wire_msg_add_be32(m, MAP_ELEM_KEEPALIVE_INTERVAL, interval);
    return finish(m);
}

std::vector<uint8_t> swsim_msg_relink(uint32_t ip) {
    static uint8_t buf[32];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_RELINK);
    uint8_t v[MAP_SWITCH_ADDR_LEN];
    map_switch_addr_encode(map_switch_addr_from_ipv4(ip), v);
    wire_msg_add(m, MAP_ELEM_RELINK_SWITCH, v, sizeof v);
    return finish(m);
}

int swsim_send_discover(swsim& s) {
    sockaddr_in sw{};
    inet_pton(AF_INET, s.opt.ip.c_str(), &sw.sin_addr);
    auto msg = swsim_msg_discover(ntohl(sw.sin_addr.s_addr));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(s.opt.udp_port);
    inet_pton(AF_INET, s.opt.ap_ip.c_str(), &to.sin_addr);
    if (sendto(s.udp_fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
        static_cast<ssize_t>(msg.size())) {
        return -1;
    }
    say(s, "sent SWITCH_DISCOVER to " + s.opt.ap_ip);
    return 0;
}

int swsim_udp_recv(swsim& s, std::vector<uint8_t>& msg, int timeout_ms) {
    if (!wait_fd(s.udp_fd, POLLIN, timeout_ms)) return 1;
    uint8_t buf[9000];
    ssize_t n = recv(s.udp_fd, buf, sizeof buf, 0);
    if (n < 0) return -1;
    msg.assign(buf, buf + n);
    say(s, "UDP  <- " + swsim_decode(msg));
    swsim_stats st;
    if (swsim_stats_parse(msg, st) == 0) {
        for (const auto& line : swsim_stats_lines(st)) say(s, "       " + line);
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        if (!s.opt.stats_csv.empty() &&
            swsim_stats_csv_append(s.opt.stats_csv, st,
                                   std::chrono::duration<double>(now).count()) != 0) {
            say(s, "cannot append to " + s.opt.stats_csv);
        }
    }
    return 0;
}

int swsim_accept(swsim& s, int timeout_ms) {
    swsim_drop(s);
    if (!wait_fd(s.listen_fd, POLLIN, timeout_ms)) return 1;
    s.conn_fd = accept4(s.listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (s.conn_fd < 0) return -1;
    // Each message goes out at once, as one segment: no Nagle delay behind
    // the AP's delayed acknowledgements.
    int one = 1;
    setsockopt(s.conn_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    s.ssl = SSL_new(s.ctx);
    SSL_set_fd(s.ssl, s.conn_fd);
    fcntl(s.conn_fd, F_SETFL, fcntl(s.conn_fd, F_GETFL) | O_NONBLOCK);
    for (;;) {
        ERR_clear_error();
        int r = SSL_accept(s.ssl);
        if (r == 1) break;
        int e = SSL_get_error(s.ssl, r);
        short ev = e == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN;
        if ((e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) ||
            !wait_fd(s.conn_fd, ev, timeout_ms)) {
            char buf[256];
            ERR_error_string_n(ERR_peek_last_error(), buf, sizeof buf);
            say(s, std::string("TLS handshake failed: ") + buf);
            swsim_drop(s);
            return -1;
        }
    }
    fcntl(s.conn_fd, F_SETFL, fcntl(s.conn_fd, F_GETFL) & ~O_NONBLOCK);
    say(s, std::string("TLS up: ") + SSL_get_version(s.ssl) + " " + SSL_get_cipher_name(s.ssl));
    return 0;
}

int swsim_recv(swsim& s, std::vector<uint8_t>& msg, int timeout_ms) {
    if (s.ssl == nullptr) return -1;
    if (SSL_pending(s.ssl) == 0 && !wait_fd(s.conn_fd, POLLIN, timeout_ms)) return 1;
    uint8_t buf[8192];
    ERR_clear_error();
    int n = SSL_read(s.ssl, buf, sizeof buf);
    if (n <= 0) {
        int e = SSL_get_error(s.ssl, n);
        if (e == SSL_ERROR_WANT_READ) return 1;
        say(s, e == SSL_ERROR_ZERO_RETURN ? "TLS closed by the AP" : "TLS connection lost");
        swsim_drop(s);
        return e == SSL_ERROR_ZERO_RETURN ? -2 : -1;
    }
    msg.assign(buf, buf + n);
    say(s, "TLS  <- " + swsim_decode(msg));
    if (swsim_answer_assoc(s, msg) < 0) say(s, "association answer not sent");
    if (swsim_answer_roam(s, msg) < 0) say(s, "TSPEC answer not sent");
    if (swsim_answer_cltqos(s, msg) < 0) say(s, "client QoS definition reply not sent");
    return 0;
}

int swsim_answer_cltqos(swsim& s, const std::vector<uint8_t>& msg) {
    int sent = 0;
    for (const auto& answer : swsim_qos_answer(s.roam.cltqos_answer, msg)) {
        if (swsim_send(s, answer) != 0) return -1;
        sent = 1;
    }
    return sent;
}

int swsim_answer_roam(swsim& s, const std::vector<uint8_t>& msg) {
    swsim_client_msg m;
    if (swsim_client_parse(msg, m) != 0) return 0;
    swsim_roam_note(s.roam, m);
    auto answer = swsim_tspec_answer(s.roam.tspec, m);
    if (answer.empty()) return 0;
    return swsim_send(s, answer) == 0 ? 1 : -1;
}

int swsim_answer_assoc(swsim& s, const std::vector<uint8_t>& msg) {
    swsim_client_msg req;
    if (swsim_client_parse(msg, req) != 0 || req.type != SWSIM_CLIENT_ASSOC_REQ) return 0;
    auto answer = swsim_assoc_answer(s.assoc, req, s.ident.valid ? s.ident.mac : req.ap_mac);
    if (answer.empty()) return 0;
    return swsim_send(s, answer) == 0 ? 1 : -1;
}

int swsim_send(swsim& s, const std::vector<uint8_t>& msg) {
    if (s.ssl == nullptr) return -1;
    int n = SSL_write(s.ssl, msg.data(), static_cast<int>(msg.size()));
    if (n != static_cast<int>(msg.size())) return -1;
    say(s, "TLS  -> " + swsim_decode(msg));
    return 0;
}

int swsim_parse_ident(const std::vector<uint8_t>& msg, swsim_ident& id) {
    id = swsim_ident{};
    if (msg.size() < 4 || wire_load_be16(msg.data()) != SWITCH_AP_IDENTIFICATION) return -1;
    wire_reader r = wire_reader_make(msg.data() + 4, msg.size() - 4);
    wire_elem e;
    while (wire_elem_next(r, e)) {
        id.element_order.push_back(e.type);
        auto v = e.value;
        switch (e.type) {
            case MAP_ELEM_DEVICE_TYPE: if (v.size() >= 1) id.device_type = v[0]; break;
            case MAP_ELEM_PROTOCOL_VERSION: if (v.size() >= 2) id.protocol_version = wire_load_be16(v.data()); break;
            case MAP_ELEM_IP_ADDR:
                if (v.size() >= 18) {
                    id.ip = wire_load_be32(v.data() + 13);
                    id.prefix = v[17];
                }
                break;
            case MAP_ELEM_MAC: if (v.size() >= 6) memcpy(id.mac, v.data(), 6); break;
            case MAP_ELEM_NUM_RADIOS: if (v.size() >= 1) id.num_radios = v[0]; break;
            case MAP_ELEM_HW_TYPE: if (v.size() >= 4) id.hw_type = static_cast<int32_t>(wire_load_be32(v.data())); break;
            case MAP_ELEM_SERIAL: id.serial = field_text(v); break;
            case MAP_ELEM_PART_NUMBER: id.part_number = field_text(v); break;
            case MAP_ELEM_FW_VERSION: id.fw_version = field_text(v); break;
            case MAP_ELEM_DISCOVERY_REASON: if (v.size() >= 1) id.discovery_reason = v[0]; break;
            case MAP_ELEM_AP_CERTIFICATE:
                id.certificate.assign(reinterpret_cast<const char*>(v.data()), v.size());
                break;
            default: break;
        }
    }
    id.valid = true;
    return 0;
}

int swsim_parse_auth(const std::vector<uint8_t>& msg, std::string& pass_phrase, uint8_t mac[6]) {
    if (msg.size() != 82 || wire_load_be16(msg.data()) != SWITCH_START_AUTHENTICATION) return -1;
    wire_reader r = wire_reader_make(msg.data() + 4, msg.size() - 4);
    wire_elem e;
    bool have_pass = false;
    while (wire_elem_next(r, e)) {
        if (e.type == MAP_ELEM_AUTH_AP_MAC && e.value.size() == 6 && mac) {
            memcpy(mac, e.value.data(), 6);
        } else if (e.type == MAP_ELEM_AUTH_PASSPHRASE && e.value.size() == 64) {
            pass_phrase = field_text(e.value);
            have_pass = true;
        }
    }
    return have_pass ? 0 : -1;
}

std::string swsim_decode(const std::vector<uint8_t>& msg) {
    if (msg.size() < 4) return "short message (" + std::to_string(msg.size()) + " bytes)";
    uint16_t type = wire_load_be16(msg.data());
    char head[128];
    snprintf(head, sizeof head, "%s (%u), %zu bytes", map_pkt_type_name(type), type, msg.size());
    std::string client = swsim_client_decode(msg);
    if (!client.empty()) return client;
    std::string report = swsim_radio_report_decode(msg);
    if (!report.empty()) return report;
    std::string qos = swsim_qos_decode(msg);
    if (!qos.empty()) return qos;
    std::string update = swsim_update_decode(msg);
    if (!update.empty()) return update;
    std::string out = head;
    if (type == SWITCH_AP_IDENTIFICATION) {
        swsim_ident id;
        swsim_parse_ident(msg, id);
        char buf[256];
        snprintf(buf, sizeof buf, ": serial %s, MAC %s, hardware type %d, radios %u, firmware %s, reason %u, certificate %zu bytes",
                 id.serial.c_str(), mac_to_string(id.mac), id.hw_type, id.num_radios,
                 id.fw_version.c_str(), id.discovery_reason, id.certificate.size());
        out += buf;
    } else if (type == SWITCH_START_AUTHENTICATION) {
        std::string pass;
        uint8_t mac[6] = {};
        if (swsim_parse_auth(msg, pass, mac) == 0) {
            out += ": MAC " + std::string(mac_to_string(mac)) + ", pass phrase \"" + pass + "\"";
        }
    } else if (type == SWITCH_DISCOVER || type == SWITCH_TLS_FAILURE_NOTIFY) {
        wire_reader r = wire_reader_make(msg.data() + 4, msg.size() - 4);
        wire_elem e;
        while (wire_elem_next(r, e)) {
            if (e.type == MAP_ELEM_IP_ADDR && e.value.size() == 18) {
                out += ": from " + std::string(ip_addr_to_string(wire_load_be32(e.value.data() + 13)));
            }
        }
    } else if (type == SWITCH_CONFIG_STATUS && msg.size() >= 9) {
        out += msg[8] == 1 ? ": success" : ": status " + std::to_string(msg[8]);
        if (msg.size() >= 83) {
            out += " \"" + field_text(std::span<const uint8_t>(msg.data() + 19, 64)) + "\"";
        }
    } else if (type == SWITCH_STATS) {
        swsim_stats st;
        swsim_stats_parse(msg, st);
        out += ": " + swsim_stats_summary(st);
    } else if (type == SWITCH_STATUS_INT && msg.size() == 20) {
        out += ": AP " + std::string(mac_to_string(msg.data() + 8)) + ", interval " +
               std::to_string(wire_load_be16(msg.data() + 18)) + " s";
    } else if (type == AP_PROVISION_REPLY_MSG) {
        out += provision_reply_decode(msg);
    } else if (type == SWITCH_KEEPALIVE && msg.size() >= 12) {
        out += ": interval " + std::to_string(wire_load_be32(msg.data() + 8));
    }
    return out;
}

int swsim_establish(swsim& s, int step_timeout_ms, std::string& error) {
    // A discover every two seconds until the AP opens its TLS connection: an
    // AP that is still starting up misses the first ones.
    int waited = 0;
    for (;;) {
        if (swsim_send_discover(s) != 0) {
            error = "discover not sent";
            return -1;
        }
        int slice = step_timeout_ms - waited < 2000 ? step_timeout_ms - waited : 2000;
        // The connection within the slice; its handshake within the step.
        int r = wait_fd(s.listen_fd, POLLIN, slice) ? swsim_accept(s, step_timeout_ms) : 1;
        if (r == 0) break;
        waited += slice;
        if (r < 0 || waited >= step_timeout_ms) {
            error = "the AP did not open a TLS connection";
            return -1;
        }
    }
    std::vector<uint8_t> msg;
    if (swsim_recv(s, msg, step_timeout_ms) != 0 || swsim_parse_ident(msg, s.ident) != 0) {
        error = "no identification message";
        return -1;
    }
    if (swsim_send(s, swsim_msg_auth_req()) != 0) {
        error = "authentication request not sent";
        return -1;
    }
    std::string pass;
    if (swsim_recv(s, msg, step_timeout_ms) != 0 || swsim_parse_auth(msg, pass, nullptr) != 0) {
        error = "no authentication message";
        return -1;
    }
    if (!s.opt.pass_phrase.empty() && pass != s.opt.pass_phrase) {
        error = "wrong pass phrase \"" + pass + "\"";
        say(s, "authentication refused: " + error);
        return -1;
    }
    if (swsim_send(s, swsim_msg_auth_succeed()) != 0) {
        error = "authentication success not sent";
        return -1;
    }
    say(s, "AP authenticated: serial " + s.ident.serial + ", MAC " + mac_to_string(s.ident.mac) +
               ", hardware type " + std::to_string(s.ident.hw_type));
    return 0;
}
