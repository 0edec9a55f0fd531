// Discovery: discover messages sent and received, the discovery and
// provisioning steps, the discovered-address list and layer-2 polls.
#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "store/map_dman_lsql.hpp"
#include "core/managed_ap.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_comm_util.hpp"
#include "wire/map_text.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "switch_comm";

int g_provisioning_counter = 0;

// Uptime source of the discovered-address list; the main loop's clock.
uint32_t now_seconds() { return map_get_uptime(); }

}  // namespace

size_t map_switch_comm_build_discover(uint8_t* buf, size_t cap, uint16_t type,
                                      const map_ap_provision_params* prov) {
    uint8_t ip[MAP_IP_ELEM_LEN];
    map_ip_elem_encode(map_dman_lsql_get_ap_ipaddr(), map_dman_lsql_get_ap_ipmask(), ip);
    uint8_t mac[6] = {};
    map_lsql_base_ap_mac_get(mac);
    const map_provision_wire pw = map_provision_wire_fields(prov);
    wire_msg m;
    wire_msg_begin(m, buf, cap, type);
    wire_msg_add_u8(m, MAP_ELEM_DEVICE_TYPE, MAP_DEVICE_TYPE_AP);
    wire_msg_add(m, MAP_ELEM_IP_ADDR, ip, sizeof ip);
    wire_msg_add_be16(m, MAP_ELEM_VENDOR_ID, MAP_VENDOR_ID);
    wire_msg_add_be16(m, MAP_ELEM_PROTOCOL_VERSION, MAP_PROTOCOL_VERSION);
    wire_msg_add(m, MAP_ELEM_MAC, mac, sizeof mac);
    wire_msg_add(m, MAP_ELEM_PRIMARY_SWITCH, pw.primary, sizeof pw.primary);
    wire_msg_add(m, MAP_ELEM_BACKUP_SWITCH, pw.backup, sizeof pw.backup);
    wire_msg_add_u8(m, MAP_ELEM_MUTUAL_AUTH, pw.mutual_auth);
    wire_msg_add_u8(m, MAP_ELEM_REPROVISION_UNMANAGED, pw.reprovision_unmanaged);
    return wire_msg_finish(m);
}

int map_switch_comm_send_discover_pkt(map_switch_comm* rec, uint32_t ip,
                                      const map_ap_provision_params* prov) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    if (rec->udp_fd < 0) {
        MAP_ERROR("No socket for AP-to-Switch communication");
        return -1;
    }
    if (rec->state != MAP_SWITCH_COMM_LISTEN_MODE) {
        MAP_ERROR("Invalid Context to send discover packet");
        return -1;
    }
    uint8_t buf[MAP_DISCOVER_MSG_LEN];
    size_t len = map_switch_comm_build_discover(buf, sizeof buf, SWITCH_DISCOVER, prov);
    MAP_TRACE(MAP_TRACE_SWITCH, "Sending discovery packet to switch: %s", ip_addr_to_string(ip));
    if (len == 0 || map_switch_comm_udp_send(rec, ip, buf, len) != 0) {
        MAP_ERROR("Error in sending discovery packet to switch: %s", ip_addr_to_string(ip));
        MAP_TRACE(MAP_TRACE_SWITCH, "Error in sending %s packet to switch: %s",
                  map_pkt_type_name(SWITCH_DISCOVER), ip_addr_to_string(ip));
        return -1;
    }
    map_pkt_hex_print(MAP_TRACE_PKT, buf, static_cast<int>(len), MAP_PKT_TXED, MAP_PKT_UDP);
    return 0;
}

int map_switch_comm_extract_discover_pkt(const uint8_t* body, int length,
                                         map_discover_summary* s) {
    if (body == nullptr || s == nullptr || length < 0) {
        return -1;
    }
    *s = map_discover_summary{};
    wire_reader r = wire_reader_make(body, static_cast<size_t>(length));
    uint16_t type = 0, elen = 0;
    // A value that is not all there ends the walk.
    // Not the shared element walk: an unknown element clears the summary and
    // parsing goes on right after its header, and values are taken at their
    // fixed sizes whatever the length field says.
    while (wire_read_be16(r, type) && wire_read_be16(r, elen)) {
        bool ok = true;
        switch (type) {
            case MAP_ELEM_END:
                return 0;
            case MAP_ELEM_DEVICE_TYPE:
                ok = wire_read_u8(r, s->device_type);
                break;
            case MAP_ELEM_VENDOR_ID:
                ok = wire_read_be16(r, s->vendor_id);
                break;
            case MAP_ELEM_PROTOCOL_VERSION:
                ok = wire_read_be16(r, s->protocol_version);
                break;
            case MAP_ELEM_DISCOVER_SKIP:
                ok = wire_skip(r, 1);  // one byte the AP has no use for
                break;
            case MAP_ELEM_MAC:
                ok = wire_read_bytes(r, s->mac, sizeof s->mac);
                break;
            case MAP_ELEM_IP_ADDR: {
                uint8_t v[MAP_IP_ELEM_LEN];
                ok = wire_read_bytes(r, v, sizeof v);
                if (ok) map_ip_elem_decode(v, nullptr, &s->ip, &s->mask);
                break;
            }
            case MAP_ELEM_MUTUAL_AUTH:
                ok = wire_read_u8(r, s->elem_274);
                break;
            default:
                // An unknown element clears what was parsed; parsing goes on
                // right after its header.
                *s = map_discover_summary{};
                break;
        }
        if (!ok) {
            break;
        }
    }
    return 0;
}

int map_switch_comm_process_discover_pkt(map_switch_comm* rec, const uint8_t* body, int length,
                                         int reason, map_ap_provision_params* prov) {
    if (rec == nullptr || body == nullptr) {
        MAP_ERROR("Incorrect input parms");
        return -1;
    }
    map_discover_summary s;
    map_switch_comm_extract_discover_pkt(body, length, &s);
    if (s.device_type != MAP_DEVICE_TYPE_SWITCH) {
        MAP_ERROR("Discover packet has unexpected device type %d", s.device_type);
        MAP_TRACE(MAP_TRACE_SWITCH, "Discover packet has unexpected device type %d", s.device_type);
        return -1;
    }
    if (s.vendor_id != MAP_VENDOR_ID) {
        MAP_ERROR("Discover packet has unexpected vendor ID %d", s.vendor_id);
        MAP_TRACE(MAP_TRACE_SWITCH, "Discover packet has unexpected vendor ID %d", s.vendor_id);
        return -1;
    }
    if (s.protocol_version != MAP_PROTOCOL_VERSION) {
        MAP_ERROR("Discover packet has unexpected protocol version %d, continue processing packet.",
                  s.protocol_version);
    }
    uint32_t candidate = s.ip;
    if (reason == MAP_SWITCH_L2_POLL_RECIEVED) {
        l2_queue_push(&rec->l2_queue, candidate);
        if (rec->state != MAP_SWITCH_COMM_LISTEN_MODE) {
            return 0;
        }
        if (!l2_queue_pop(&rec->l2_queue, &candidate)) {
            MAP_ERROR("Unexpected queue underflow");
            return -1;
        }
    }
    if (map_switch_comm_validate_ip_address(rec, candidate) == 0) {
        rec->switch_ip = candidate;
        if (map_switch_comm_discover_ip_addr_validate(candidate, rec) == 0) {
            if (prov != nullptr && prov->data_valid == 1 && prov->mutual_auth == 1 &&
                map_ap_mutual_auth_init(&rec->ssl_ctx) != 0) {
                MAP_ERROR("Failed to setup certificate based authenitcation");
            }
            int mutual = prov != nullptr ? prov->mutual_auth : 0;
            if (map_switch_comm_ssl_connection_open(rec, mutual) == 0) {
                map_switch_calcualte_discovery_reason(rec, reason);
                if (map_switch_comm_send_ap_identification_pkt(rec, prov) == 0) {
                    MAP_TRACE(MAP_TRACE_SWITCH, "Successfully sent AP Identification packet");
                    return 0;
                }
                MAP_ERROR("AP Identification send failed to switch %s",
                          ip_addr_to_string(rec->switch_ip));
                map_switch_comm_ssl_connection_close(rec);
            } else if (map_send_tls_conn_failure_notification_pkt(rec, prov) != 0) {
                MAP_ERROR("Send TLS connection failure notification to switch %s failed",
                          ip_addr_to_string(rec->switch_ip));
            }
        }
    }
    rec->switch_ip = 0;
    return -1;
}

int map_switch_comm_validate_ip_address(map_switch_comm* rec, uint32_t ip) {
    if (rec->state != MAP_SWITCH_COMM_LISTEN_MODE) {
        MAP_ERROR("Bad connection status");
        return -1;
    }
    const uint32_t* table = nullptr;
    if (rec->static_count >= 1) {
        table = rec->static_ip;
    } else if (rec->dhcp_count >= 1) {
        table = rec->dhcp_ip;
    } else {
        return 0;
    }
    for (int i = 0; i < MAP_NUM_SWITCH_ADDR; ++i) {
        if (table[i] == ip) return 0;
    }
    return -1;
}

void map_switch_calcualte_discovery_reason(map_switch_comm* rec, int reason) {
    rec->discovery_reason = reason;
    for (int i = 0; i < MAP_NUM_SWITCH_ADDR; ++i) {
        if (rec->switch_ip == rec->static_ip[i]) {
            rec->discovery_reason = MAP_SWITCH_STATIC_CONFIG;
            return;
        }
    }
    for (int i = 0; i < MAP_NUM_SWITCH_ADDR; ++i) {
        if (rec->switch_ip == rec->dhcp_ip[i]) {
            rec->discovery_reason = MAP_SWITCH_DHCP_CONFIG;
            return;
        }
    }
}

// ---- discovered-address list -------------------------------------------------------

int map_switch_comm_discover_ip_addr_init(map_switch_comm* rec) {
    if (rec == nullptr) return -1;
    rec->discovered = map_discovered_list{};
    return 0;
}

int map_switch_comm_discover_ip_addr_get(uint32_t ip, int* index, map_switch_comm* rec) {
    if (index == nullptr) {
        MAP_TRACE(MAP_TRACE_ALWAYS, " %s:Index is Null\n", __func__);
        return -1;
    }
    for (int i = 0; i < rec->discovered.count; ++i) {
        const auto& e = rec->discovered.entry[i];
        if (e.in_use == 1 && e.ip == ip) {
            MAP_TRACE(MAP_TRACE_SWITCH, " %s:IP Addr:%s found. \n", __func__, ip_addr_to_string(ip));
            *index = i;
            return 0;
        }
    }
    return -1;
}

int map_switch_comm_discover_ip_addr_add(uint32_t ip, map_switch_comm* rec) {
    // A full list refuses new switches until it is emptied at the next
    // acceptance by a switch; entries are never recycled.
    if (ip == 0 || rec->discovered.count >= MAP_DISCOVERED_MAX) {
        MAP_TRACE(MAP_TRACE_ALWAYS, " %s:Error add IP addr:%s", __func__, ip_addr_to_string(ip));
        return -1;
    }
    rec->discovered.entry[rec->discovered.count++] = {1, ip, now_seconds()};
    MAP_TRACE(MAP_TRACE_SWITCH, " %s:New IP Addr:%s added. \n", __func__, ip_addr_to_string(ip));
    return 0;
}

int map_switch_comm_discover_ip_addr_update(uint32_t ip, int index, map_switch_comm* rec) {
    if (ip == 0 || index < 0 || index >= rec->discovered.count) {
        MAP_TRACE(MAP_TRACE_ALWAYS, " %s:Error update IP addr:%s", __func__, ip_addr_to_string(ip));
        return -1;
    }
    rec->discovered.entry[index] = {1, ip, now_seconds()};
    MAP_TRACE(MAP_TRACE_SWITCH, " %s:Updated IP Addr:%s . \n", __func__, ip_addr_to_string(ip));
    return 0;
}

int map_switch_comm_discover_ip_addr_validate(uint32_t ip, map_switch_comm* rec) {
    int index = -1;
    if (map_switch_comm_discover_ip_addr_get(ip, &index, rec) == 0) {
        uint32_t last = rec->discovered.entry[index].last_used;
        if (now_seconds() - last < 20) {
            return -1;
        }
        MAP_TRACE(MAP_TRACE_SWITCH, " %s:Switch IP Addr:%s vaild for connection. \n", __func__,
                  ip_addr_to_string(ip));
        return map_switch_comm_discover_ip_addr_update(ip, index, rec);
    }
    return map_switch_comm_discover_ip_addr_add(ip, rec);
}

int map_switch_comm_discover_ip_addr_dump(map_switch_comm* rec) {
    if (rec == nullptr) return -1;
    uint32_t now = now_seconds();
    MAP_TRACE(MAP_TRACE_ALWAYS, " /**** Discover IP Addresses Dump Start ****/\n");
    for (int i = 0; i < rec->discovered.count; ++i) {
        const auto& e = rec->discovered.entry[i];
        MAP_TRACE(MAP_TRACE_ALWAYS, " IP Addr:%s, in use:%d, last_used_time:%d\n",
                  ip_addr_to_string(e.ip), e.in_use, static_cast<int>(now - e.last_used));
    }
    MAP_TRACE(MAP_TRACE_ALWAYS, " /**** Discover IP Addresses Dump End ****/\n");
    return 0;
}

// ---- discovery and provisioning steps ------------------------------------------------

uint32_t map_switch_resolve_host_name(const char* name) {
    if (name == nullptr || name[0] == '\0') {
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &res) != 0 || res == nullptr) {
        MAP_ERROR("Unable to resolve DNS address of: %s", name);
        MAP_TRACE(MAP_TRACE_SWITCH, "Unable to resolve DNS address of: %s", name);
        return 0;
    }
    uint32_t ip = ntohl(reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(res);
    return ip;
}

void map_switch_comm_provisioning_discovery_reset() { g_provisioning_counter = 0; }

int map_switch_comm_provisioning_discovery_counter() { return g_provisioning_counter; }

int map_switch_comm_provisioning_discovery(map_switch_comm* rec, map_ap_provision_params* prov) {
    if (rec == nullptr || prov == nullptr || prov->data_valid == 0) {
        return -1;
    }
    MAP_TRACE(MAP_TRACE_PROVISION, "Before ssl connection open (state = %d)", g_provisioning_counter);
    if (g_provisioning_counter < 3) {
        uint32_t ip = map_provision_ipv4(prov->primary_addr);
        if (ip != 0) {
            MAP_TRACE(MAP_TRACE_PROVISION, "Sending PRIM pkt, state = %d\n", g_provisioning_counter);
            // A failed send is logged; the cycle keeps its schedule.
            (void)map_switch_comm_send_discover_pkt(rec, ip, prov);
        }
        rec->discovery_countdown = 5;
        ++g_provisioning_counter;
    } else {
        uint32_t ip = map_provision_ipv4(prov->backup_addr);
        if (ip != 0) {
            MAP_TRACE(MAP_TRACE_PROVISION, "Sending BKP pkt, state = %d\n", g_provisioning_counter);
            (void)map_switch_comm_send_discover_pkt(rec, ip, prov);  // logged; schedule kept
        }
        rec->discovery_countdown = 30;
        g_provisioning_counter = 0;
    }
    return 0;
}

int map_switch_comm_discovery_timeout(map_switch_comm* rec, map_ap_provision_params* prov) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    if (map_switch_comm_provisioning_discovery(rec, prov) == 0) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Provisioning disc t/o ok\n");
        return 0;
    }
    MAP_TRACE(MAP_TRACE_PROVISION, "Provisioning disc t/o NOT ok\n");
    if (rec->static_count != 0 || rec->dhcp_count != 0) {
        int i = rec->next_addr_index < 0 ? 0 : rec->next_addr_index;
        for (; i < MAP_NUM_SWITCH_ADDR; ++i) {
            MAP_TRACE(MAP_TRACE_SWITCH, "Static Host: %s, Static IP: %x, DHCP Host: %s, DHCP IP: %x\n",
                      rec->static_host[i], rec->static_ip[i], rec->dhcp_host[i], rec->dhcp_ip[i]);
            if (rec->static_host[i][0] != '\0' && rec->static_ip[i] == 0) {
                rec->static_ip[i] = map_switch_resolve_host_name(rec->static_host[i]);
            }
            if (rec->dhcp_host[i][0] != '\0' && rec->dhcp_ip[i] == 0) {
                rec->dhcp_ip[i] = map_switch_resolve_host_name(rec->dhcp_host[i]);
            }
            uint32_t target = 0;
            if (rec->static_count > 0) {
                target = rec->static_ip[i];
            } else if (rec->dhcp_count > 0) {
                target = rec->dhcp_ip[i];
            }
            if (target != 0) {
                rec->next_addr_index = i + 1;
                rec->discovery_countdown = 5;
                // A failed send is logged; the next step comes on schedule.
                (void)map_switch_comm_send_discover_pkt(rec, target, prov);
                return 0;
            }
        }
        rec->next_addr_index = 0;
    }
    rec->discovery_countdown = 30;
    return 0;
}

// ---- layer-2 discovery ---------------------------------------------------------------

int map_switch_comm_l2_discovery_enable(map_switch_comm* rec) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    if (rec->l2_fd >= 0) {
        return 0;
    }
    int fd = map_platform_socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(MAP_L2_ETHERTYPE));
    if (fd < 0) {
        MAP_ERROR("Unable to open the layer-2 discovery socket: %s", strerror(errno));
        rec->l2_fd = -1;
        return -1;
    }
    rec->l2_fd = fd;
    return 0;
}

int map_switch_comm_l2_discovery_disable(map_switch_comm* rec) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    if (rec->l2_fd >= 0) {
        close(rec->l2_fd);
    }
    rec->l2_fd = -1;
    rec->l2_queue.head = rec->l2_queue.tail;
    return 0;
}

void map_switch_comm_l2_discovery_restart(map_switch_comm* rec) {
    map_switch_comm_l2_discovery_disable(rec);
    map_switch_comm_l2_discovery_enable(rec);
}
