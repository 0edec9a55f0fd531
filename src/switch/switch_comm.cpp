// The switch connection record: creation, address slots, IP ports, the UDP
// socket, the layer-2 poll queue and the switch part of the timer pass.
#include "switch/switch_comm.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "store/map_dman_lsql.hpp"
#include "core/managed_ap.hpp"
#include "log/map_log.hpp"
#include "local/mmsg_handler.hpp"
#include "platform/platform.hpp"
#include "wire/map_text.hpp"

namespace {

static constexpr char map_log_module[] = "switch_comm";

map_switch_comm* g_switch = nullptr;

void close_fd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Stores the six ports of the record's port set in the configuration database.
void store_ports(const map_ip_ports& p) {
    map_dman_int_set_ip_all_ports(p.base, p.tnl_udp, p.udp, p.ssl, p.capwap_src, p.capwap_dst);
}

bool index_ok(map_switch_comm* rec, int index) {
    if (rec == nullptr || index < 1 || index > MAP_NUM_SWITCH_ADDR) {
        MAP_ERROR("Incorrect input parameter");
        return false;
    }
    return true;
}

// Copies a host name into a slot; names longer than the slot are cut to 256
// characters (the slot's size less its terminator).
void set_host(char* slot, const char* name) {
    memset(slot, 0, MAP_HOST_NAME_SLOT);
    if (name != nullptr) {
        strncpy(slot, name, MAP_HOST_NAME_SLOT - 1);
    }
}

void recount(map_switch_comm* rec) {
    int before = rec->static_count;
    map_switch_calculate_num_addr(rec);
    if ((before == 0) != (rec->static_count == 0)) {
        rec->next_addr_index = 0;
    }
}

}  // namespace

map_switch_comm* get_switch_context() { return g_switch; }

const char* map_switch_comm_state_name(int state) {
    switch (state) {
        case MAP_SWITCH_COMM_INIT_MODE: return "MAP_SWITCH_COMM_INIT_MODE";
        case MAP_SWITCH_COMM_LISTEN_MODE: return "MAP_SWITCH_COMM_LISTEN_MODE";
        case MAP_SWITCH_COMM_SSL_ESTABLISH_MODE: return "MAP_SWITCH_COMM_SSL_ESTABLISH_MODE";
        case MAP_SWITCH_COMM_SWITCH_AUTH_MODE: return "MAP_SWITCH_COMM_SWITCH_AUTH_MODE";
        case MAP_SWITCH_COMM_ESTABLISHED: return "MAP_SWITCH_COMM_ESTABLISHED";
        default: return "UNKNOWN";
    }
}

const char* map_switch_comm_reason_name(int reason) {
    switch (reason) {
        case MAP_SWITCH_IP_POLL_RECEIVED: return "MAP_SWITCH_IP_POLL_RECEIVED";
        case MAP_SWITCH_AP_INITIATED: return "MAP_SWITCH_AP_INITIATED";
        case MAP_SWITCH_STATIC_CONFIG: return "MAP_SWITCH_STATIC_CONFIG";
        case MAP_SWITCH_DHCP_CONFIG: return "MAP_SWITCH_DHCP_CONFIG";
        case MAP_SWITCH_L2_POLL_RECIEVED: return "MAP_SWITCH_L2_POLL_RECIEVED";
        default: return "UNKNOWN";
    }
}

int map_switch_comm_init(map_switch_comm** out, map_control_block* cb) {
    if (out == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    map_switch_comm* rec = g_switch;
    if (rec == nullptr) {
        rec = map_platform_fails(map_platform_op::alloc) ? nullptr
                                                          : new (std::nothrow) map_switch_comm{};
        if (rec == nullptr) {
            MAP_ERROR("Unable to allocate memory");
            return -1;
        }
        g_switch = rec;
    } else {
        *rec = map_switch_comm{};
    }
    rec->cb = cb;
    rec->tcp_fd = rec->udp_fd = rec->l2_fd = rec->ssl_rfd = -1;
    rec->mapd_fd = rec->mapqosd_fd = -1;
    map_switch_comm_discover_ip_addr_init(rec);

    rec->ports.base = MAP_DEFAULT_IP_BASE_PORT;
    map_switch_comm_ip_ports_derive(&rec->ports);
    store_ports(rec->ports);

    const map_ap_provision_params* prov = cb ? &cb->provision : nullptr;
    if (map_switch_comm_udp_connection_open(rec) != 0) {
        close_fd(rec->l2_fd);
        return -1;
    }
    rec->mapd_fd = mmsg_handler_init();
    if (rec->mapd_fd < 0) {
        MAP_ERROR("Unable to create mapd socket.");
        map_switch_comm_udp_connection_close(rec);
        close_fd(rec->l2_fd);
        return -1;
    }
    rec->mapqosd_fd = mmsg_handler_mapqosd_init();
    if (rec->mapqosd_fd < 0) {
        MAP_ERROR("Unable to create mapqosd socket.");
    } else if (map_switch_comm_ssl_ctx_create(rec, prov) == 0) {
        rec->state = MAP_SWITCH_COMM_INIT_MODE;
        map_lsql_mapd_state_set("down");
        rec->discovery_countdown = 30;
        rec->keepalive_interval = 30;
        *out = rec;
        return 0;
    }
    mmsg_handler_mapqosd_close();
    mmsg_handler_close();
    rec->mapd_fd = rec->mapqosd_fd = -1;
    map_switch_comm_udp_connection_close(rec);
    close_fd(rec->l2_fd);
    return -1;
}

int map_switch_comm_deinit(map_switch_comm* rec) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    MAP_INFO("SSL connection with switch %s is closed", ip_addr_to_string(rec->switch_ip));
    if (rec->ssl) {
        map_switch_comm_ssl_connection_close(rec);
    }
    close_fd(rec->tcp_fd);
    close_fd(rec->udp_fd);
    close_fd(rec->l2_fd);
    mmsg_handler_close();
    mmsg_handler_mapqosd_close();
    if (g_switch == rec) {
        g_switch = nullptr;
    }
    delete rec;
    return 0;
}

int map_switch_comm_update_config_ip_address(map_switch_comm* rec, uint32_t ip, int index) {
    if (!index_ok(rec, index)) return -1;
    set_host(rec->static_host[index - 1], nullptr);
    rec->static_ip[index - 1] = ip;
    recount(rec);
    return 0;
}

int map_switch_comm_update_config_dns_address(map_switch_comm* rec, const char* name, int index) {
    if (!index_ok(rec, index)) return -1;
    set_host(rec->static_host[index - 1], name);
    rec->static_ip[index - 1] = name ? map_switch_resolve_host_name(rec->static_host[index - 1]) : 0;
    recount(rec);
    return 0;
}

int map_switch_comm_update_config_dhcp_ip_address(map_switch_comm* rec, uint32_t ip, int index) {
    if (!index_ok(rec, index)) return -1;
    set_host(rec->dhcp_host[index - 1], nullptr);
    rec->dhcp_ip[index - 1] = ip;
    recount(rec);
    return 0;
}

int map_switch_comm_update_config_dhcp_dns_address(map_switch_comm* rec, const char* name,
                                                   int index) {
    if (!index_ok(rec, index)) return -1;
    set_host(rec->dhcp_host[index - 1], name);
    rec->dhcp_ip[index - 1] = name ? map_switch_resolve_host_name(rec->dhcp_host[index - 1]) : 0;
    recount(rec);
    return 0;
}

int map_switch_comm_update_config_pass_phrase(map_switch_comm* rec, const char* text) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    // A pass phrase longer than 63 characters is cut so that the field keeps
    // a terminator.
    memset(rec->pass_phrase, 0, sizeof rec->pass_phrase);
    if (text != nullptr) {
        strncpy(rec->pass_phrase, text, sizeof rec->pass_phrase - 1);
    }
    return 0;
}

void map_switch_calculate_num_addr(map_switch_comm* rec) {
    if (rec == nullptr) return;
    rec->static_count = 0;
    rec->dhcp_count = 0;
    for (int i = 0; i < MAP_NUM_SWITCH_ADDR; ++i) {
        rec->static_count += rec->static_host[i][0] != '\0' || rec->static_ip[i] != 0;
        rec->dhcp_count += rec->dhcp_host[i][0] != '\0' || rec->dhcp_ip[i] != 0;
    }
}

// ---- IP ports ------------------------------------------------------------------

int map_ip_base_port_is_valid(uint16_t port) {
    if (port >= MAP_IP_BASE_PORT_MIN && port <= MAP_IP_BASE_PORT_MAX) {
        return 1;
    }
    MAP_TRACE(MAP_TRACE_ALWAYS, "IP port for management communications must be between %d and %d.\n\n",
              MAP_IP_BASE_PORT_MIN, MAP_IP_BASE_PORT_MAX);
    return 0;
}

void map_switch_comm_ip_ports_derive(map_ip_ports* p) {
    p->tnl_udp = p->base;
    p->udp = static_cast<uint16_t>(p->base + 1);
    p->ssl = static_cast<uint16_t>(p->base + 2);
    p->capwap_src = static_cast<uint16_t>(p->base + 3);
    p->capwap_dst = static_cast<uint16_t>(p->base + 4);
}

int map_switch_comm_ip_base_port_sync(map_switch_comm* rec) {
    uint16_t old = rec->ports.base;
    if (map_ip_base_port_is_valid(rec->ports.dhcp_base)) {
        rec->ports.base = rec->ports.dhcp_base;
    } else if (map_ip_base_port_is_valid(rec->ports.cfg_base)) {
        rec->ports.base = rec->ports.cfg_base;
    } else {
        rec->ports.base = MAP_DEFAULT_IP_BASE_PORT;
    }
    bool changed = rec->ports.base != old;
    if (changed) {
        char cmd[64];
        snprintf(cmd, sizeof cmd, "/usr/sbin/wl switch_ip_base_port %u", rec->ports.base);
        map_platform_system(cmd);
    }
    MAP_TRACE(MAP_TRACE_ALWAYS, "%s:%d:%s: Base port %d to %d %s change.", map_log_module, __LINE__,
              __func__, old, rec->ports.base, changed ? "DID" : "did NOT");
    return changed ? 1 : 0;
}

int map_switch_comm_ip_base_port_apply(map_switch_comm* rec) {
    if (map_switch_comm_ip_base_port_sync(rec) == 0) {
        return 0;
    }
    bool udp_open = rec->udp_fd >= 0;
    if (rec->tcp_fd >= 0) {
        map_switch_comm_ssl_connection_close(rec);
    }
    if (udp_open) {
        map_switch_comm_udp_connection_close(rec);
    }
    map_switch_comm_ip_ports_derive(&rec->ports);
    store_ports(rec->ports);
    // A TLS connection that was open stays closed: the AP finds its switch
    // again through discovery on the new ports.
    if (udp_open && map_switch_comm_udp_connection_open(rec) != 0) {
        return -1;
    }
    return 0;
}

int map_switch_comm_update_dhcp_ip_base_port(uint16_t port) {
    map_switch_comm* rec = g_switch;
    if (rec == nullptr || (port != 0 && !map_ip_base_port_is_valid(port))) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    rec->ports.dhcp_base = port;
    map_dman_int_set_dhcp_ip_base_port(port);
    return map_switch_comm_ip_base_port_apply(rec);
}

int map_switch_comm_update_cfg_ip_base_port(uint16_t port) {
    map_switch_comm* rec = g_switch;
    if (rec == nullptr || (port != 0 && !map_ip_base_port_is_valid(port))) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    rec->ports.cfg_base = port;
    return map_switch_comm_ip_base_port_apply(rec);
}

uint16_t map_switch_comm_ip_udp_port_get() { return g_switch ? g_switch->ports.udp : 0; }

uint16_t map_switch_comm_ip_ssl_port_get() { return g_switch ? g_switch->ports.ssl : 0; }

map_provision_wire map_provision_wire_fields(const map_ap_provision_params* prov) {
    map_provision_wire w{};
    if (prov != nullptr) {
        map_provision_addr_to_wire(prov->primary_is_ipv6, prov->primary_addr, w.primary);
        map_provision_addr_to_wire(prov->backup_is_ipv6, prov->backup_addr, w.backup);
        w.mutual_auth = prov->mutual_auth;
        w.reprovision_unmanaged = prov->reprovision_unmanaged;
    }
    return w;
}

// ---- UDP socket ------------------------------------------------------------------

int map_switch_comm_udp_send(map_switch_comm* rec, uint32_t ip, const uint8_t* buf, size_t len) {
    if (rec == nullptr || rec->udp_fd < 0) {
        return -1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ip);
    to.sin_port = htons(rec->ports.udp);
    ssize_t n = map_platform_sendto(map_platform_op::udp_send, rec->udp_fd, buf, len,
                                    reinterpret_cast<sockaddr*>(&to), sizeof to);
    return n == static_cast<ssize_t>(len) ? 0 : -1;
}

int map_switch_comm_udp_connection_open(map_switch_comm* rec) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    if (rec->udp_fd >= 0) {
        MAP_ERROR("UDP socket already exists!");
        close_fd(rec->udp_fd);
    }
    int fd = map_platform_socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        MAP_ERROR("Unable to create the UDP socket");
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(rec->ports.udp);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        MAP_ERROR("Unable to Bind UDP socket");
        close(fd);
        return -1;
    }
    rec->udp_fd = fd;
    return 0;
}

int map_switch_comm_udp_connection_close(map_switch_comm* rec) {
    if (rec == nullptr) return -1;
    close_fd(rec->udp_fd);
    return 0;
}

// ---- layer-2 poll queue --------------------------------------------------------

int l2_queue_push(map_l2_queue* q, uint32_t ip) {
    if (q == nullptr || ip == 0) return 0;
    int next = (q->tail + 1) % MAP_L2_QUEUE_SLOTS;
    if (next == q->head) return 0;
    for (int i = q->head; i != q->tail; i = (i + 1) % MAP_L2_QUEUE_SLOTS) {
        if (q->slot[i] == ip) return 0;
    }
    q->slot[q->tail] = ip;
    q->tail = next;
    return 1;
}

int l2_queue_pop(map_l2_queue* q, uint32_t* out) {
    if (q == nullptr || out == nullptr || q->head == q->tail) return 0;
    *out = q->slot[q->head];
    q->head = (q->head + 1) % MAP_L2_QUEUE_SLOTS;
    return 1;
}

// ---- timer pass ------------------------------------------------------------------

int map_switch_comm_check_timeout(map_switch_comm* rec, uint32_t elapsed,
                                  map_ap_provision_params* prov, uint32_t now) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    const int e = static_cast<int>(elapsed > 0x7fffffff ? 0x7fffffff : elapsed);
    if (rec->state == MAP_SWITCH_COMM_LISTEN_MODE && rec->discovery_countdown > 0) {
        rec->discovery_countdown -= e;
        if (rec->discovery_countdown <= 0) {
            map_switch_comm_discovery_timeout(rec, prov);
        }
    } else {
        map_switch_comm_provisioning_discovery_reset();
    }
    if (rec->state >= MAP_SWITCH_COMM_SSL_ESTABLISH_MODE && rec->keepalive_countdown > 0) {
        rec->last_keepalive_tick = now;
        rec->keepalive_countdown -= e;
        if (rec->keepalive_countdown <= 0) {
            map_switch_comm_keepalive_timeout(rec);
        }
    }
    if (rec->state >= MAP_SWITCH_COMM_SSL_ESTABLISH_MODE && rec->rfscan_countdown > 0) {
        rec->rfscan_countdown -= e;
        if (rec->rfscan_countdown <= 0) {
            map_switch_comm_rfscan_timeout(rec);
            rec->rfscan_countdown = rec->rfscan_interval;
        }
    }
    return 0;
}

int map_udp_send_msg(const uint8_t* msg, size_t length) {
    int fd = map_platform_socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(map_switch_comm_ip_udp_port_get());
    ssize_t n = map_platform_sendto(map_platform_op::udp_send, fd, msg, length,
                                    reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
    return static_cast<int>(n);
}
