// Start-up, the MAP control block, the watchdog, the main loop and shutdown.
#include "core/managed_ap.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "commands/map_cs.hpp"
#include "config/map_config.hpp"
#include "core/map_handler.hpp"
#include "core/map_vpd.hpp"
#include "log/map_log.hpp"
#include "dman/map_dman_lsql_init.hpp"
#include "local/mmsg_handler.hpp"
#include "platform/platform.hpp"
#include "switch/map_ssl_util.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_comm_util.hpp"
#include "wire/map_text.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "managed_ap";

void rearm_watchdog(const map_control_block* cb) {
    if (cb->watchdog_minutes != 0) {
        map_platform_alarm(cb->watchdog_minutes * 60);
    }
}

// Reads one layer-2 frame and hands a wireless poll to its dispatcher.
void serve_l2(map_control_block* cb, map_switch_comm* rec, uint8_t* buf) {
    MAP_TRACE(MAP_TRACE_SWITCH, "Received L2 Message");
    memset(buf, 0, MAP_RX_BUF_SIZE);
    ssize_t n = read(rec->l2_fd, buf, MAP_L2_RX_BUF_SIZE);
    if (n <= 14) {
        return;
    }
    // The buffer was cleared, so a field beyond the frame reads as 0.
    if (wire_load_be16(buf + MAP_L2_WIRELESS_FIELD_OFFSET) != 1) {
        MAP_TRACE(MAP_TRACE_SWITCH, "Received a Non-Wireless L2 packet");
        return;
    }
    map_l2_pkt_handler(cb, buf + MAP_L2_MSG_OFFSET, static_cast<int>(n) - MAP_L2_MSG_OFFSET);
}

void serve_udp(map_control_block* cb, map_switch_comm* rec, uint8_t* buf) {
    MAP_TRACE(MAP_TRACE_SWITCH, "Received UDP Message");
    memset(buf, 0, MAP_RX_BUF_SIZE);
    // The source goes along: some commands are taken only from this AP.
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    ssize_t n = recvfrom(rec->udp_fd, buf, MAP_RX_BUF_SIZE, 0, reinterpret_cast<sockaddr*>(&from),
                         &from_len);
    if (n < 0) {
        return;
    }
    map_udp_pkt_handler_from(cb, buf, static_cast<int>(n), from_len == sizeof from ? &from : nullptr);
}

void serve_tls(map_control_block* cb, map_switch_comm* rec, uint8_t* buf) {
    MAP_TRACE(MAP_TRACE_SWITCH, "Received SSL Message");
    memset(buf, 0, MAP_RX_BUF_SIZE);
    ERR_clear_error();
    int ret = SSL_read(rec->ssl.get(), buf, MAP_RX_BUF_SIZE);
    int result = ret > 0 ? 0 : map_switch_comm_util_ssl_find_error(rec->ssl.get(), ret);
    if (result == 0 && ret > 0) {
        map_ssl_pkt_handler(cb, buf, ret);
        rearm_watchdog(cb);
        return;
    }
    if (result == -1) {
        MAP_ERROR("Receiving data from SSL connection with switch %s failed",
                  ip_addr_to_string(rec->switch_ip));
    } else if (result == -2) {
        MAP_INFO("SSL connection with the switch %s is closed", ip_addr_to_string(rec->switch_ip));
    } else {
        return;  // try again on a later pass
    }
    map_switch_comm_ssl_connection_close(rec);
    map_switch_comm_l2_discovery_restart(rec);
}

}  // namespace

uint32_t map_get_uptime() {
    // open/read rather than stdio: the idle loop reads this every second and
    // must not allocate.
    int fd = map_platform_open("/proc/uptime", O_RDONLY);
    if (fd < 0) {
        return 0;
    }
    char text[129] = {};
    ssize_t n = read(fd, text, 128);
    close(fd);
    if (n <= 0) {
        return 0;
    }
    double up = 0, idle = 0;
    if (sscanf(text, "%lf %lf", &up, &idle) < 1 || up < 0 || up > 4294967295.0) {
        return 0;
    }
    return static_cast<uint32_t>(up);
}

int map_init_component(map_control_block** out) {
    if (out == nullptr) {
        return -1;
    }
    *out = map_platform_fails(map_platform_op::alloc) ? nullptr
                                                      : new (std::nothrow) map_control_block{};
    return *out ? 0 : -1;
}

int map_deinit_component(map_control_block* cb) {
    if (cb == nullptr) {
        MAP_ERROR("Unable to free memory");
        return -1;
    }
    delete cb;
    return 0;
}

void map_watchdog_pop(int) {
    MAP_TRACE(MAP_TRACE_ALWAYS, "Wireless Switch Communications Timeout. Rebooting the system...\n");
    MAP_ERROR("Wireless Switch Communications Timeout. Rebooting The system...");
    map_platform_system("init -r");
}

void mapd_service_sig_child(int) {
    // Never blocks: a child that is still running is reaped by a later signal.
    int saved = errno;
    int status = 0;
    while (waitpid(-1, &status, WNOHANG) > 0) {
        MAP_INFO("mapd child process exited.");
    }
    errno = saved;
}

int map_init_watchdog_timer(map_control_block* cb) {
    if (signal(SIGALRM, map_watchdog_pop) == SIG_ERR) {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Error installing signal handler  %d\n", errno);
        MAP_ERROR("Error installing signal handler %d", errno);
        return -1;
    }
    if (cb == nullptr || cb->watchdog_minutes == 0) {
        return 0;
    }
    map_platform_alarm(cb->watchdog_minutes * 60);
    return 0;
}

int map_init_sub_components(map_control_block* cb) {
    if (map_switch_comm_init(&cb->switch_comm, cb) != 0) {
        MAP_ERROR("Unable to initalize the Switch COMM component");
        return -1;
    }
    MAP_INFO("Created the MAP Switch Comm Control Block");

    char cert[128] = {};
    char key[128] = {};
    if (mapSSLServerCertFileGet(cert) != 0 || mapSSLServerKeyFileGet(key) != 0) {
        MAP_ERROR("certFile not found, creating ...");
        if (mapSSLCertificateGenerate(1024, nullptr, nullptr, nullptr, nullptr, nullptr, 0) == -1) {
            MAP_ERROR("MAP_SSL: Server certificate was not generated.");
            return -1;
        }
        MAP_INFO("Generated certFile");
    } else {
        MAP_INFO("Got certFile %s", cert);
    }

    cb->switch_comm->cb = cb;
    map_switch_comm_populate_ap_parameters(cb->switch_comm);
    map_reload_dhcp_config(cb);
    map_ap_provision_params_load_static_config(cb);
    map_reload_static_config(cb);
    map_init_watchdog_timer(cb);
    if (map_cs_init(cb) != 0) {
        MAP_ERROR("Unable to initalize the Config/Status component");
        return -1;
    }
    return 0;
}

int map_deinit_sub_components(map_control_block* cb) {
    if (map_switch_comm_deinit(cb->switch_comm) != 0) {
        MAP_ERROR("Unable to deinitalize the Switch COMM component");
        return -1;
    }
    cb->switch_comm = nullptr;
    map_cs_deinit(cb->cs);
    cb->cs = nullptr;
    map_trace_log_deinit();
    return 0;
}

int map_main_loop_passes(map_control_block* cb, unsigned passes) {
    if (cb == nullptr) {
        MAP_ERROR("Incorrect input of MAP Control Block");
        return -1;
    }
    uint32_t prev = map_get_uptime();
    if (prev == 0) {
        MAP_ERROR("Unable to get the system uptime");
        return -1;
    }
    static uint8_t buf[MAP_RX_BUF_SIZE];
    static uint8_t local_buf[MMSG_RX_BUF_SIZE];
    for (unsigned pass = 0; passes == 0 || pass < passes; ++pass) {
        map_switch_comm* rec = cb->switch_comm;
        timeval tv{1, 0};
        fd_set rd, wr;
        FD_ZERO(&rd);
        FD_ZERO(&wr);
        int maxfd = -1;
        auto add = [&](int fd, fd_set& set) {
            if (fd >= 0 && fd < FD_SETSIZE) {
                FD_SET(fd, &set);
                maxfd = fd > maxfd ? fd : maxfd;
            }
        };
        add(rec->udp_fd, rd);
        rec->mapd_fd = mmsg_socket_get();
        add(rec->mapd_fd, rd);
        const int tls_fd = rec->ssl ? rec->ssl_rfd : -1;
        add(tls_fd, rd);
        // Messages waiting for the TLS socket: wake when it takes more.
        if (map_switch_comm_tls_write_pending(rec)) {
            add(tls_fd, wr);
        }
        // A record OpenSSL has already read from the socket is served without
        // waiting for the socket to become readable again.
        const bool tls_buffered = rec->ssl && SSL_has_pending(rec->ssl.get()) == 1;
        if (tls_buffered) {
            tv = timeval{0, 0};
        }
        add(rec->l2_fd, rd);
        const int l2_fd = rec->l2_fd, udp_fd = rec->udp_fd, mapd_fd = rec->mapd_fd;

        int r = select(maxfd + 1, &rd, &wr, nullptr, &tv);
        if (r < 0) {
            int err = errno;
            MAP_TRACE(MAP_TRACE_SWITCH, "Select Error %d", err);
            if (err == EINTR) {
                MAP_ERROR("select call Interrrupted with interrupt signal");
                continue;
            }
            MAP_ERROR("Error in the select call");
            return -1;
        }
        map_platform_fail_file_poll();  // the twin's injected failures (sandbox only)
        if (r > 0 || tls_buffered) {
            // Each ready descriptor is served once, in this order; a handler
            // may close a later one, so each is checked against the record.
            if (l2_fd >= 0 && FD_ISSET(l2_fd, &rd) && rec->l2_fd == l2_fd) {
                serve_l2(cb, rec, buf);
            }
            if (udp_fd >= 0 && FD_ISSET(udp_fd, &rd) && rec->udp_fd == udp_fd) {
                serve_udp(cb, rec, buf);
            }
            if (mapd_fd >= 0 && FD_ISSET(mapd_fd, &rd)) {
                mmsg_handler_receive(mapd_fd, local_buf, sizeof local_buf);
            }
            if (tls_fd >= 0 && (FD_ISSET(tls_fd, &rd) || tls_buffered) && rec->ssl &&
                rec->ssl_rfd == tls_fd) {
                serve_tls(cb, rec, buf);
            }
        }
        // Waiting messages go out as the socket takes them; a switch that
        // stopped reading is dropped once they have waited too long.
        if (map_switch_comm_tls_write_pending(rec)) {
            (void)map_switch_comm_tls_flush(rec);  // a failure has closed the link
        }
        uint32_t now = map_get_uptime();
        if (now == 0) {
            MAP_ERROR("PANIC: Error in the getting system uptime");
        }
        map_timeout_handler(cb, now - prev, now);
        prev = now;
    }
    return 0;
}

int map_main_loop(map_control_block* cb) {
    map_main_loop_passes(cb, 0);  // returns only when select() fails
    return -1;
}

void map_seed_random() {
    // rand() numbers the AP's certificates: each start, and each AP, gets
    // its own sequence.
    srand(static_cast<unsigned>(time(nullptr)) ^ (static_cast<unsigned>(getpid()) * 2654435761u));
}

int map_daemon_init() {
    map_seed_random();
    // A write to a link the switch has dropped fails with EPIPE and takes
    // the send failure's road; by default the signal would end the daemon.
    signal(SIGPIPE, SIG_IGN);
    map_control_block* cb = nullptr;
    if (map_init_component(&cb) != 0) {
        MAP_ERROR("Unable to allocate memory");
        return -1;
    }
    map_dman_lsql_init();
    if (map_trace_log_init() != 0) {
        map_deinit_component(cb);
        return -1;
    }
    // The AP's identity and boot state (board, image versions, product data)
    // go into the configuration database before anything talks to the switch.
    map_vpd_init();
    if (map_init_sub_components(cb) != 0) {
        return -1;
    }
    map_main_loop(cb);
    map_deinit_sub_components(cb);
    map_deinit_component(cb);
    return 0;
}
