// AP provisioning: the command and its files, the database class, the reply
// and the reboot countdown.
#include "commands/map_ap_provision.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>

#include "config/map_config.hpp"
#include "dman/lsqlquery.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "stats/map_proc.hpp"
#include "store/map_dman_internal.hpp"
#include "store/map_dman_lsql.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_comm_util.hpp"
#include "wire/map_provision_msg.hpp"
#include "wire/map_text.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "map_ap_provision";

using map_dman_detail::or_empty;
using map_dman_detail::pv_ptr;
using map_dman_detail::text_ptr;

// Stores a 17-byte switch address value into one address group.  Any
// non-zero flag is kept as 1, so that the group is either IPv4 or IPv6 for
// every reader; an IPv4 address lands in host order in the last four bytes.
void store_addr(uint8_t& is_ipv6, uint8_t addr[16], const uint8_t v[MAP_SWITCH_ADDR_LEN]) {
    is_ipv6 = v[0] != 0 ? 1 : 0;
    memset(addr, 0, 16);
    if (is_ipv6) {
        memcpy(addr, v + 1, 16);
        return;
    }
    const uint32_t ip = wire_load_be32(v + 13);
    memcpy(addr + 12, &ip, 4);
}

int corrupt(uint16_t type) {
    MAP_ERROR("Corrupt ap provision command element 0x%04x", type);
    return -1;
}

// Walks the command's elements into `p`.  An address element is taken at 17
// bytes whatever its length says; the others are skipped by their length.
// A known element whose bytes the message does not hold refuses the
// command, so nothing is read past the message; an unknown one cut short
// just ends the walk.
int take_elements(map_ap_provision_params& p, const uint8_t* data, int length) {
    wire_reader r = wire_reader_make(data, static_cast<size_t>(length));
    while (wire_remaining(r) >= MAP_ELEM_HDR_LEN) {
        uint16_t type = 0, len = 0;
        (void)wire_read_be16(r, type);  // the header is there
        (void)wire_read_be16(r, len);
        if (type == MAP_PROV_ELEM_SWITCH || type == MAP_PROV_ELEM_PRIMARY ||
            type == MAP_PROV_ELEM_BACKUP) {
            uint8_t v[MAP_SWITCH_ADDR_LEN];
            if (!wire_read_bytes(r, v, sizeof v)) return corrupt(type);
            if (type == MAP_PROV_ELEM_SWITCH) store_addr(p.switch_is_ipv6, p.switch_addr, v);
            if (type == MAP_PROV_ELEM_PRIMARY) store_addr(p.primary_is_ipv6, p.primary_addr, v);
            if (type == MAP_PROV_ELEM_BACKUP) store_addr(p.backup_is_ipv6, p.backup_addr, v);
            continue;
        }
        std::span<const uint8_t> value;
        const bool whole = wire_read_span(r, len, value);
        if (!whole) {
            value = std::span<const uint8_t>(wire_cursor(r), wire_remaining(r));
            r.pos = r.len;
        }
        switch (type) {
            case MAP_PROV_ELEM_AP_MAC: {
                if (value.size() < 6) return corrupt(type);
                uint8_t own[6] = {};
                map_proc_get_mac_addr(own, nullptr);
                if (memcmp(value.data(), own, 6) != 0) {
                    MAP_TRACE(MAP_TRACE_PROVISION,
                              "AP MAC Address received is not same as self MAC Address\n");
                    return -1;
                }
                memcpy(p.ap_mac, value.data(), 6);
                break;
            }
            case MAP_PROV_ELEM_MUTUAL_AUTH:
            case MAP_PROV_ELEM_REPROVISION:
                if (value.empty()) return corrupt(type);
                (type == MAP_PROV_ELEM_MUTUAL_AUTH ? p.mutual_auth : p.reprovision_unmanaged) =
                    value[0];
                break;
            case MAP_PROV_ELEM_PRIMARY_CERT:
            case MAP_PROV_ELEM_BACKUP_CERT: {
                const bool primary = type == MAP_PROV_ELEM_PRIMARY_CERT;
                if (len > MAP_SW_CERT_LEN) {
                    MAP_ERROR("%s switch certificate too long!", primary ? "Primary" : "Backup");
                    return -1;
                }
                if (!whole) return corrupt(type);
                char* field = primary ? p.primary_cert : p.backup_cert;
                memset(field, 0, MAP_SW_CERT_LEN);
                memcpy(field, value.data(), value.size());
                break;
            }
            default:
                break;
        }
    }
    return 0;
}

// The previous mode: the first character of the mode file as a decimal
// digit (anything else counts as 0); -1 when the file cannot be opened.
int previous_mode() {
    FILE* f = map_platform_fopen(MAP_MUTUAL_AUTH_CFG_FILE, "r");
    if (f == nullptr) return -1;
    const int c = fgetc(f);
    fclose(f);
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

// Rewrites the mode file; on failure it is removed.  0 or -1.
int save_mode(uint8_t mode) {
    FILE* f = map_platform_fopen(MAP_MUTUAL_AUTH_CFG_FILE, "w");
    if (f == nullptr) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Failed to open mutual auth config file.\n");
        map_platform_unlink(MAP_MUTUAL_AUTH_CFG_FILE);
        return -1;
    }
    const bool written = fprintf(f, "%d", mode) > 0;
    if (fclose(f) != 0 || !written) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Failed to write mutual auth mode to config file.\n");
        map_platform_unlink(MAP_MUTUAL_AUTH_CFG_FILE);
        return -1;
    }
    return 0;
}

bool put_text(FILE* f, const char* text, size_t n) {
    return fwrite(text, 1, n, f) == n && fflush(f) == 0;
}

// Mode on: the primary certificate, then the backup one, into the
// certificate file.  Sets the reply status as it goes.  0 or -1.
int save_certificates(map_control_block* cb) {
    const map_ap_provision_params& p = cb->provision;
    FILE* f = map_platform_fopen(MAP_SWITCH_CERTS_FILE, "w");
    if (f == nullptr) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Failed to open %s swith certificates storage file.\n",
                  MAP_SWITCH_CERTS_FILE);
        cb->provision_reply_status = -1;
        return -1;
    }
    const size_t primary = strnlen(p.primary_cert, MAP_SW_CERT_LEN);
    const size_t backup = strnlen(p.backup_cert, MAP_SW_CERT_LEN);
    int rc = 0;
    if (primary == 0) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Primary switch certificate is NULL.\n");
        cb->provision_reply_status = rc = -1;
    } else if (!put_text(f, p.primary_cert, primary)) {
        MAP_TRACE(MAP_TRACE_PROVISION,
                  "Failed to write primary switch certificate to switch certificates storage file.\n");
        cb->provision_reply_status = rc = -1;
    } else if (backup == 0) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Backup switch certificate is NULL.\n");
    } else if (!put_text(f, p.backup_cert, backup)) {
        // The status is left as it was.
        MAP_TRACE(MAP_TRACE_PROVISION,
                  "Failed to write backup switch certificate to switch certificates storage file.\n");
        rc = -1;
    }
    fclose(f);
    if (rc == 0) cb->provision_reply_status = 0;
    return rc;
}

// Mode off: the certificate file is recreated empty.
void clear_certificates(map_control_block* cb) {
    map_platform_unlink(MAP_SWITCH_CERTS_FILE);
    FILE* f = map_platform_fopen(MAP_SWITCH_CERTS_FILE, "w");
    if (f == nullptr) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Failed to creat %s switch certificates storage file.\n",
                  MAP_SWITCH_CERTS_FILE);
    } else {
        fclose(f);
    }
    cb->provision_reply_status = 0;
}

// The values of the thirteen database properties.
struct provision_values {
    uint8_t switch_type;
    uint32_t switch_ip;
    uint8_t switch_ipv6[16];
    uint8_t ap_mac[6];
    uint8_t primary_type;
    uint32_t primary_ip;
    uint8_t primary_ipv6[16];
    uint8_t backup_type;
    uint32_t backup_ip;
    uint8_t backup_ipv6[16];
    uint8_t mutual_auth;
    uint8_t reprovision;
    uint8_t data_valid;
};

const map_dman_prop_desc kProvisionDesc[] = {
    MAP_DMAN_DESC("switch-ip-address-type", MAP_DMAN_VT_IP_TYPE, provision_values, switch_type),
    MAP_DMAN_DESC("switch-ip-address", MAP_DMAN_VT_IPV4, provision_values, switch_ip),
    MAP_DMAN_DESC("switch-ipv6-address", MAP_DMAN_VT_IPV6, provision_values, switch_ipv6),
    MAP_DMAN_DESC("ap-mac-address", MAP_DMAN_VT_MAC, provision_values, ap_mac),
    MAP_DMAN_DESC("primary-switch-ip-address-type", MAP_DMAN_VT_IP_TYPE, provision_values,
                  primary_type),
    MAP_DMAN_DESC("primary-switch-ip-address", MAP_DMAN_VT_IPV4, provision_values, primary_ip),
    MAP_DMAN_DESC("primary-switch-ipv6-address", MAP_DMAN_VT_IPV6, provision_values,
                  primary_ipv6),
    MAP_DMAN_DESC("backup-switch-ip-address-type", MAP_DMAN_VT_IP_TYPE, provision_values,
                  backup_type),
    MAP_DMAN_DESC("backup-switch-ip-address", MAP_DMAN_VT_IPV4, provision_values, backup_ip),
    MAP_DMAN_DESC("backup-switch-ipv6-address", MAP_DMAN_VT_IPV6, provision_values, backup_ipv6),
    MAP_DMAN_DESC("mutual-auth", MAP_DMAN_VT_ON_OFF, provision_values, mutual_auth),
    MAP_DMAN_DESC("reprovision-unmanaged-mode", MAP_DMAN_VT_ON_OFF, provision_values, reprovision),
    MAP_DMAN_DESC("data-valid", MAP_DMAN_VT_ON_OFF, provision_values, data_valid),
};

// One address group as its type, IPv4 (when the flag is 0) and IPv6 (when
// it is 1) values; the value that does not apply stays zero.
void split_addr(uint8_t is_ipv6, const uint8_t addr[16], uint8_t& type, uint32_t& ip,
                uint8_t ipv6[16]) {
    type = is_ipv6;
    if (is_ipv6 == 0) ip = map_provision_ipv4(addr);
    if (is_ipv6 == 1) memcpy(ipv6, addr, 16);
}

// The reply into `buf`: its length, or 0 when it cannot be built.
size_t build_reply(const map_control_block* cb, uint8_t (&buf)[MAP_AP_PROVISION_REPLY_BUF]) {
    const map_ap_provision_params& p = cb->provision;
    wire_msg m;
    (void)wire_msg_begin(m, buf, sizeof buf, MAP_PROVISION_REPLY_TYPE);
    const map_switch_addr own = map_switch_addr_from_ipv4(map_dman_lsql_get_ap_ipaddr());
    uint8_t v[MAP_SWITCH_ADDR_LEN];
    map_switch_addr_encode(own, v);
    (void)wire_msg_add(m, MAP_PROV_ELEM_SWITCH, v, sizeof v);
    uint8_t mac[6] = {};
    map_proc_get_mac_addr(mac, nullptr);
    (void)wire_msg_add(m, MAP_PROV_ELEM_AP_MAC, mac, sizeof mac);
    (void)wire_msg_add_u8(m, MAP_PROV_ELEM_STATUS, cb->provision_reply_status == 0 ? 1 : 0);
    (void)wire_put_u8(m.w, 0);  // counted by the message, not by the element
    map_provision_addr_to_wire(p.primary_is_ipv6, p.primary_addr, v);
    (void)wire_msg_add(m, MAP_PROV_ELEM_PRIMARY, v, sizeof v);
    map_provision_addr_to_wire(p.backup_is_ipv6, p.backup_addr, v);
    (void)wire_msg_add(m, MAP_PROV_ELEM_BACKUP, v, sizeof v);
    (void)wire_msg_add_u8(m, MAP_PROV_ELEM_MUTUAL_AUTH, p.mutual_auth);
    (void)wire_msg_add_u8(m, MAP_PROV_ELEM_REPROVISION, p.reprovision_unmanaged);
    if (p.mutual_auth != 1) {
        (void)wire_msg_add(m, MAP_PROV_ELEM_AP_CERT, nullptr, 0);
        return wire_msg_finish(m);
    }
    FILE* f = map_platform_fopen(MAP_AP_CERT_FILE, "r");
    if (f == nullptr) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Failed to open %s ap certificate file.\n", MAP_AP_CERT_FILE);
        return 0;
    }
    // A certificate larger than what is left of the buffer is refused rather
    // than cut: a cut certificate would be of no use to the switch.
    const size_t room = wire_room(m.w) - MAP_ELEM_HDR_LEN;
    char cert[MAP_AP_PROVISION_REPLY_BUF];
    const size_t n = fread(cert, 1, room + 1, f);
    fclose(f);
    if (n > room) {
        MAP_ERROR("AP certificate file %s is too large for the ap provision reply packet",
                  MAP_AP_CERT_FILE);
        return 0;
    }
    (void)wire_msg_add(m, MAP_PROV_ELEM_AP_CERT, cert, static_cast<uint16_t>(n));
    return wire_msg_finish(m);
}

}  // namespace

int map_process_ap_provision_cmd_msg_pkt(map_control_block* cb, const uint8_t* data, int length) {
    MAP_TRACE(MAP_TRACE_PROVISION, "%s Begin", __func__);
    if (cb == nullptr) {
        MAP_ERROR("Incorrect MAPD control block parameter.");
        return -1;
    }
    if (data == nullptr || length < 0) {
        MAP_ERROR("Error receiving ap provision command message.");
        return -1;
    }
    map_ap_provision_params& p = cb->provision;
    if (take_elements(p, data, length) != 0) {
        // A refused command is reported as failed by the reply that follows.
        cb->provision_reply_status = -1;
        return -1;
    }
    p.data_valid = 1;
    map_ap_provisioning_cmd_msg_print(&p);

    int previous = previous_mode();
    if (previous < 0) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Failed to open mutual auth config file.\n");
        cb->provision_reply_status = 0;
        previous = 0;
    }
    if (p.mutual_auth != previous) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Mutual Authentication mode changed starting reboot timer.\n");
        cb->mutual_auth_countdown = MAP_MUTUAL_AUTH_REBOOT_SECONDS;
    }
    if (save_mode(p.mutual_auth) != 0) {
        cb->provision_reply_status = -1;
        return -1;
    }
    // Mode on is the value 1, as the database keeps it ("on" only for 1).
    if (p.mutual_auth == 1) {
        if (save_certificates(cb) != 0) return -1;
    } else {
        clear_certificates(cb);
    }
    if (map_dman_lsql_apply_ap_provision_configuration(&p) != 0) {
        MAP_ERROR("Error in populating AP provisioning configuration");
    }
    map_lsql_ap_config_save();
    MAP_TRACE(MAP_TRACE_PROVISION, "%s End", __func__);
    return 0;
}

int map_dman_lsql_apply_ap_provision_configuration(const map_ap_provision_params* p) {
    MAP_TRACE(MAP_TRACE_PROVISION, "%s Begin\n", __func__);
    if (p == nullptr) {
        MAP_ERROR("Error in applying the ap provisioning configuration");
        return -1;
    }
    provision_values values{};
    split_addr(p->switch_is_ipv6, p->switch_addr, values.switch_type, values.switch_ip,
               values.switch_ipv6);
    memcpy(values.ap_mac, p->ap_mac, sizeof values.ap_mac);
    split_addr(p->primary_is_ipv6, p->primary_addr, values.primary_type, values.primary_ip,
               values.primary_ipv6);
    split_addr(p->backup_is_ipv6, p->backup_addr, values.backup_type, values.backup_ip,
               values.backup_ipv6);
    values.mutual_auth = p->mutual_auth;
    values.reprovision = p->reprovision_unmanaged;
    values.data_valid = p->data_valid;
    MAP_TRACE(MAP_TRACE_PROVISION, "After populating list_prop \n");
    pv_ptr list(map_dman_util_fill_pv_list(kProvisionDesc, &values,
                                           static_cast<uint32_t>(std::size(kProvisionDesc))));
    MAP_TRACE(MAP_TRACE_PROVISION, "After populating ap provision params \n");
    MAP_TRACE(MAP_TRACE_PROVISION, "Applying AP provisioning Configuration with the following values");
    for (const pv* node = list.get(); node != nullptr; node = node->next) {
        MAP_TRACE(MAP_TRACE_PROVISION, "%s = %s", or_empty(node->name), or_empty(node->value));
    }
    char* raw = nullptr;
    const int rc = list ? lsqlquery_set_pv_with_error("map-ap-provisioning", nullptr, list.get(),
                                                      nullptr, &raw)
                        : -1;
    text_ptr error(raw);  // freed whatever the result
    if (rc != 0) {
        MAP_ERROR("Error in applying the ap provisioning configuration");
        MAP_TRACE(MAP_TRACE_PROVISION, "Failed to apply the ap provisioning config");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_PROVISION, "Successful in applying the ap provisioning config");
    MAP_TRACE(MAP_TRACE_PROVISION, "%s End\n", __func__);
    return 0;
}

int map_ap_provision_reply_pkt(map_control_block* cb) {
    MAP_TRACE(MAP_TRACE_PROVISION, "%s Begin", __func__);
    if (cb == nullptr) {
        MAP_ERROR("Invalid map control block to send ap provision reply packet");
        return -1;
    }
    map_switch_comm* rec = cb->switch_comm;
    if (rec == nullptr) {
        MAP_ERROR("Invalid map control block switch comm context");
        return -1;
    }
    if (rec->udp_fd < 0) {
        MAP_ERROR("No socket for AP-to-Switch communication");
        return -1;
    }
    uint8_t buf[MAP_AP_PROVISION_REPLY_BUF];
    const size_t len = build_reply(cb, buf);
    if (len == 0) return -1;
    const bool tls = rec->state == MAP_SWITCH_COMM_ESTABLISHED;
    map_pkt_hex_print(MAP_TRACE_PROVISION, buf, static_cast<int>(len), MAP_PKT_TXED,
                      tls ? MAP_PKT_TCP : MAP_PKT_UDP);
    if (tls) {
        if (map_switch_comm_data_send(rec, buf, static_cast<int>(len), 1) != 0) {
            MAP_ERROR("Error in sending ap provision reply packet as TCP packet");
            return -1;
        }
    } else {
        MAP_INFO("send ap provision reply packet to switch as udp pkt");
        const map_ap_provision_params& p = cb->provision;
        if (p.switch_is_ipv6) {
            MAP_ERROR("Error in sending ap provision reply packet as UDP pkt to IPV6 destination");
            return -1;
        }
        const uint32_t ip = map_provision_ipv4(p.switch_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(ip);
        to.sin_port = htons(map_switch_comm_ip_udp_port_get());
        if (sendto(rec->udp_fd, buf, len, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
            static_cast<ssize_t>(len)) {
            MAP_ERROR("Error in sending ap provision reply packet as UDP pkt");
            MAP_ERROR("Error in sending packet to switch");
            MAP_TRACE(MAP_TRACE_PROVISION, "Error sending %s packet to switch: %s",
                      map_pkt_type_name(MAP_PROVISION_REPLY_TYPE), ip_addr_to_string(ip));
            return -1;
        }
    }
    MAP_TRACE(MAP_TRACE_PROVISION, "%s End", __func__);
    return 0;
}

void map_ap_provision_mutual_auth_mode_check_timeout(map_control_block* cb, uint32_t elapsed) {
    if (cb == nullptr || cb->mutual_auth_countdown <= 0) return;
    const int64_t left = int64_t{cb->mutual_auth_countdown} - elapsed;
    // An expired countdown rests at 0: nothing is left to count.
    cb->mutual_auth_countdown = left > 0 ? static_cast<int32_t>(left) : 0;
    if (left >= 1) return;
    static constexpr char kText[] = "Mutual Authentication mode changed. Rebooting the system...";
    MAP_TRACE(MAP_TRACE_PROVISION, "%s", kText);
    MAP_INFO("%s", kText);
    map_platform_system("init -r");
}

int map_ap_provision_udp_cmd(map_control_block* cb, const uint8_t* data, int length) {
    if (cb == nullptr) return -1;
    // R: provisioned before; A: re-provisioning allowed while unmanaged;
    // C: a reboot is pending.
    const uint8_t r = cb->provision.data_valid, a = cb->provision.reprovision_unmanaged;
    const int32_t c = cb->mutual_auth_countdown;
    if (r == 0 || (r == 1 && a == 1) || (r == 1 && a != 0 && c == 0)) {
        (void)map_process_ap_provision_cmd_msg_pkt(cb, data, length);  // the reply tells
    }
    if (r == 1 && a == 0 && c == 0) cb->provision_reply_status = -1;
    (void)map_ap_provision_reply_pkt(cb);
    return 0;
}

int map_ap_provision_tls_cmd(map_control_block* cb, const uint8_t* data, int length) {
    (void)map_process_ap_provision_cmd_msg_pkt(cb, data, length);  // the reply tells
    (void)map_ap_provision_reply_pkt(cb);
    return 0;
}
