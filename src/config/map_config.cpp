#include "config/map_config.hpp"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "store/map_dman_lsql.hpp"
#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"
#include "wire/map_text.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "map_config";

constexpr size_t kHostMax = 255;  // longer host names are cut to this

struct provision_addrs {
    uint32_t switch_ip;
    uint8_t switch_ipv6[16];
    uint8_t ap_mac[6];
    uint32_t primary_ip;
    uint8_t primary_ipv6[16];
    uint32_t backup_ip;
    uint8_t backup_ipv6[16];
};

const map_dman_prop_desc kProvisionDesc[] = {
    MAP_DMAN_DESC("switch-ip-address", MAP_DMAN_VT_IPV4, provision_addrs, switch_ip),
    MAP_DMAN_DESC("switch-ipv6-address", MAP_DMAN_VT_IPV6, provision_addrs, switch_ipv6),
    MAP_DMAN_DESC("ap-mac-address", MAP_DMAN_VT_MAC, provision_addrs, ap_mac),
    MAP_DMAN_DESC("primary-switch-ip-address", MAP_DMAN_VT_IPV4, provision_addrs, primary_ip),
    MAP_DMAN_DESC("primary-switch-ipv6-address", MAP_DMAN_VT_IPV6, provision_addrs, primary_ipv6),
    MAP_DMAN_DESC("backup-switch-ip-address", MAP_DMAN_VT_IPV4, provision_addrs, backup_ip),
    MAP_DMAN_DESC("backup-switch-ipv6-address", MAP_DMAN_VT_IPV6, provision_addrs, backup_ipv6),
};

// 1 when the single property `prop` of "map-ap-provisioning" equals `on_text`
// (for the address types: anything but "IPV4").
uint8_t provision_flag(const char* prop, const char* on_text, bool type_flag) {
    pv* v = lsqlquery_get_pv("map-ap-provisioning", nullptr, prop);
    uint8_t flag = 0;
    if (v != nullptr && v->value != nullptr) {
        flag = type_flag ? strcmp(v->value, "IPV4") != 0 : strcmp(v->value, on_text) == 0;
    }
    lsqlquery_destroy_pv(v);
    return flag;
}

void place_addr(uint8_t is_ipv6, uint32_t ip, const uint8_t* v6, uint8_t out[16]) {
    memset(out, 0, 16);
    if (is_ipv6) {
        memcpy(out, v6, 16);
    } else {
        // The IPv4 address in the last four bytes, host order.
        memcpy(out + 12, &ip, 4);
    }
}

}  // namespace

int map_config_switch_address_set(map_control_block* cb, int slot, const char* text,
                                  int from_dhcp) {
    if (cb == nullptr || cb->switch_comm == nullptr || slot < 1 || slot > MAP_NUM_SWITCH_ADDR) {
        MAP_ERROR("Incorrect input parameter");
        return -1;
    }
    map_switch_comm* rec = cb->switch_comm;
    char name[kHostMax + 1] = {};
    if (text != nullptr) {
        strncpy(name, text, kHostMax);
    }
    in_addr_t a = inet_addr(name);
    if (name[0] != '\0' && a != INADDR_NONE) {
        uint32_t ip = ntohl(a);
        if (from_dhcp) {
            if (rec->dhcp_ip[slot - 1] != ip) {
                map_switch_comm_update_config_dhcp_ip_address(rec, ip, slot);
            }
        } else if (rec->static_ip[slot - 1] != ip) {
            map_switch_comm_update_config_ip_address(rec, ip, slot);
        }
        return 0;
    }
    char* host = from_dhcp ? rec->dhcp_host[slot - 1] : rec->static_host[slot - 1];
    if (cb->managed_mode == 1) {
        memset(host, 0, MAP_HOST_NAME_SLOT);
        strncpy(host, name, MAP_HOST_NAME_SLOT - 1);
        (from_dhcp ? rec->dhcp_ip : rec->static_ip)[slot - 1] = 0;
        map_switch_calculate_num_addr(rec);
        MAP_TRACE(MAP_TRACE_SWITCH,
                  from_dhcp ? "Skip DNS name resolution for DHCP host: %s\n"
                            : "Skip DNS name resolution for Static host: %s\n",
                  name);
        return 0;
    }
    if (name[0] != '\0' && strcmp(host, name) == 0) {
        return 0;
    }
    return from_dhcp ? map_switch_comm_update_config_dhcp_dns_address(rec, name, slot)
                     : map_switch_comm_update_config_dns_address(rec, name, slot);
}

int map_reload_static_config(map_control_block* cb) {
    if (cb == nullptr || cb->switch_comm == nullptr) {
        return -1;
    }
    map_managed_ap_params p{};
    if (map_dman_lsql_get_managed_ap_params(&p) != 0) {
        MAP_ERROR("Error in populating MAP configuration");
        return -1;
    }
    if (strcmp(p.mode, "up") == 0) {
        map_adminmode_set(cb, 1);
    } else if (strcmp(p.mode, "down") == 0) {
        map_adminmode_set(cb, 0);
    }
    for (int slot = 1; slot <= MAP_NUM_SWITCH_ADDR; ++slot) {
        map_config_switch_address_set(cb, slot, p.switch_address[slot - 1], 0);
    }
    map_switch_comm_update_config_pass_phrase(cb->switch_comm, p.pass_phrase);
    cb->watchdog_minutes = p.watchdog < 0 ? 0 : static_cast<uint32_t>(p.watchdog);
    map_switch_comm_update_cfg_ip_base_port(p.cfg_ip_base_port);
    return 0;
}

int map_reload_dhcp_config(map_control_block* cb) {
    for (int slot = 1; slot <= MAP_NUM_SWITCH_ADDR; ++slot) {
        map_config_switch_address_set(cb, slot, "", 1);
    }
    FILE* f = map_platform_fopen(MAP_DHCP_CONF_FILE, "r");
    if (f == nullptr) {
        return 0;
    }
    static constexpr const char* kSlotKeys[] = {"dhcp switch address 1", "dhcp switch address 2",
                                                "dhcp switch address 3", "dhcp switch address 4"};
    char line[256];
    while (fgets(line, sizeof line, f) != nullptr) {
        bool cut = strchr(line, '\n') == nullptr && !feof(f);
        line[strcspn(line, "\n")] = '\0';
        if (cut) {
            // A line longer than 255 characters: its rest is dropped, not
            // read as a line of its own.
            int c;
            while ((c = fgetc(f)) != EOF && c != '\n') {
            }
        }
        if (line[0] == '#' || line[0] == '\0') {
            continue;
        }
        char* eq = strchr(line, '=');
        if (eq == nullptr) {
            MAP_ERROR("Corrupt configuration file");
            continue;
        }
        *eq = '\0';
        const char* key = line;
        const char* value = eq + 1;
        for (int i = 0; i < MAP_NUM_SWITCH_ADDR; ++i) {
            if (strcmp(key, kSlotKeys[i]) == 0) {
                map_config_switch_address_set(cb, i + 1, value, 1);
            }
        }
        if (strcmp(key, "Wireless IP port number") == 0) {
            unsigned long port = strtoul(value, nullptr, 10);
            map_switch_comm_update_dhcp_ip_base_port(static_cast<uint16_t>(port & 0xFFFF));
        }
    }
    fclose(f);
    return 0;
}

int map_dman_lsql_get_ap_provision_params(map_ap_provision_params* out) {
    if (out == nullptr) {
        return -1;
    }
    provision_addrs a{};
    if (map_dman_util_get_grid("map-ap-provisioning", nullptr, kProvisionDesc,
                               std::size(kProvisionDesc), &a, sizeof a, nullptr, 0) != 0) {
        return -1;
    }
    out->switch_is_ipv6 = provision_flag("switch-ip-address-type", nullptr, true);
    out->primary_is_ipv6 = provision_flag("primary-switch-ip-address-type", nullptr, true);
    out->backup_is_ipv6 = provision_flag("backup-switch-ip-address-type", nullptr, true);
    out->mutual_auth = provision_flag("mutual-auth", "on", false);
    out->reprovision_unmanaged = provision_flag("reprovision-unmanaged-mode", "on", false);
    out->data_valid = provision_flag("data-valid", "on", false);
    place_addr(out->switch_is_ipv6, a.switch_ip, a.switch_ipv6, out->switch_addr);
    place_addr(out->primary_is_ipv6, a.primary_ip, a.primary_ipv6, out->primary_addr);
    place_addr(out->backup_is_ipv6, a.backup_ip, a.backup_ipv6, out->backup_addr);
    memcpy(out->ap_mac, a.ap_mac, 6);
    return 0;
}

int map_get_ap_provision_sw_certificates(map_ap_provision_params* p) {
    FILE* f = map_platform_fopen(MAP_SWITCH_CERTS_FILE, "r");
    if (f == nullptr) {
        MAP_TRACE(MAP_TRACE_PROVISION, "Failed to open switch certificates file %s",
                  MAP_SWITCH_CERTS_FILE);
        return -1;
    }
    // A certificate longer than the 1024-character field keeps its first
    // 1023 characters (the field stays terminated); the rest is dropped.
    char acc[MAP_SW_CERT_LEN] = {};
    size_t used = 0;
    bool first = true;
    char line[128];
    while (fgets(line, sizeof line, f) != nullptr) {
        size_t n = strlen(line);
        size_t room = sizeof acc - 1 - used;
        size_t take = n < room ? n : room;
        memcpy(acc + used, line, take);
        used += take;
        acc[used] = '\0';
        if (strstr(line, "END CERTIFICATE") != nullptr) {
            char* field = first ? p->primary_cert : p->backup_cert;
            memset(field, 0, MAP_SW_CERT_LEN);
            memcpy(field, acc, used);
            MAP_TRACE(MAP_TRACE_PROVISION,
                      first ? " primary sw certificate: \n%s\n len=%d\n"
                            : " backup sw certificate: \n%s\n len=%d\n",
                      field, static_cast<int>(used));
            first = false;
            used = 0;
            acc[0] = '\0';
        }
    }
    fclose(f);
    return 0;
}

int map_ap_provision_params_load_static_config(map_control_block* cb) {
    if (cb == nullptr) {
        return -1;
    }
    cb->provision = map_ap_provision_params{};
    cb->provision_reply_status = -1;
    cb->mutual_auth_countdown = 0;
    map_ap_provision_params p{};
    if (map_dman_lsql_get_ap_provision_params(&p) != 0) {
        MAP_ERROR("Error in populating AP provisioning configuration");
        return -1;
    }
    if (map_get_ap_provision_sw_certificates(&p) != 0) {
        MAP_ERROR("Error in reading primary and backup switch certificates");
        return -1;
    }
    cb->provision = p;
    return 0;
}

void map_ap_provisioning_cmd_msg_print(const map_ap_provision_params* p) {
    if (p == nullptr) {
        MAP_ERROR("Incorrect input parameter");
        return;
    }
    auto addr = [](uint8_t v6, const uint8_t* a) {
        static char text[64];
        snprintf(text, sizeof text, "%s",
                 v6 ? ipv6_addr_to_string(a) : ip_addr_to_string(map_provision_ipv4(a)));
        return text;
    };
    MAP_TRACE(MAP_TRACE_PROVISION, " AP provisioning parameters:");
    MAP_TRACE(MAP_TRACE_PROVISION, "  switch address: %s", addr(p->switch_is_ipv6, p->switch_addr));
    MAP_TRACE(MAP_TRACE_PROVISION, "  AP MAC address: %s", mac_to_string(p->ap_mac));
    MAP_TRACE(MAP_TRACE_PROVISION, "  primary switch: %s", addr(p->primary_is_ipv6, p->primary_addr));
    MAP_TRACE(MAP_TRACE_PROVISION, "  backup switch: %s", addr(p->backup_is_ipv6, p->backup_addr));
    MAP_TRACE(MAP_TRACE_PROVISION, "  mutual-auth: %u, reprovision-unmanaged-mode: %u, data-valid: %u",
              p->mutual_auth, p->reprovision_unmanaged, p->data_valid);
    MAP_TRACE(MAP_TRACE_PROVISION, "  primary certificate: %zu bytes, backup certificate: %zu bytes",
              strnlen(p->primary_cert, MAP_SW_CERT_LEN), strnlen(p->backup_cert, MAP_SW_CERT_LEN));
}
