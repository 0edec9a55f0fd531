// Accessors of the AP's own settings: classes "config", "system",
// "device-info", "management", "managed-ap", and the management features
// (telnet, SSH, SNMP, web server, NTP, STP, WDS).
#include "store/map_dman_lsql.hpp"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "cltqos/map_cltqos.hpp"
#include "store/map_dman_internal.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"

static constexpr char map_log_module[] = "map_dman_lsql";

using map_dman_detail::get_one;
using map_dman_detail::or_empty;
using map_dman_detail::pv_ptr;
using map_dman_detail::set_one;
using map_dman_detail::set_one_with_error;
using map_dman_detail::text_ptr;

int map_global_dont_disable_ssh_session = 0;

namespace {

// Copies a property into `buffer`: at most size - 1 characters, terminated.
int get_text(const char* cls, const char* property, char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return -1;
    }
    pv_ptr value = get_one(cls, nullptr, property);
    if (!value) {
        return -1;
    }
    snprintf(buffer, size, "%s", value->value);
    return 0;
}

// A setter whose only message is an error trace.
int set_traced(const char* cls, const char* property, const char* value, const char* error_trace) {
    if (value == nullptr || set_one(cls, nullptr, property, value) != 0) {
        MAP_TRACE(MAP_TRACE_ALWAYS, "%s", error_trace);
        return -1;
    }
    return 0;
}

// A host-order IPv4 address of class "management"; 0 when absent, empty or
// not an address.
uint32_t get_management_address(const char* property) {
    pv_ptr value = get_one("management", nullptr, property);
    uint32_t address = 0;
    if (value && value->value[0] != '\0') {
        map_dman_util_extract_value(MAP_DMAN_VT_IPV4, value->value, &address, sizeof address);
    }
    return address;
}

int get_mac(const char* property, uint8_t mac[6]) {
    if (mac == nullptr) {
        return -1;
    }
    pv_ptr value = get_one("system", nullptr, property);
    if (!value) {
        return -1;
    }
    return map_dman_util_extract_value(MAP_DMAN_VT_MAC, value->value, mac, 6);
}

const char* up_down(int flag) {
    return flag == 1 ? "up" : "down";
}

}  // namespace

// ---- "config", "system", "device-info" ----------------------------------------------

int map_lsql_ap_config_save() {
    text_ptr error;
    if (set_one_with_error("config", nullptr, "startup", "running", &error) != 0) {
        MAP_ERROR("Error saving configuration. %s", or_empty(error.get()));
        return -1;
    }
    return 0;
}

void map_lsql_base_ap_mac_set(const uint8_t mac[6]) {
    if (mac == nullptr) {
        return;
    }
    char text[18];
    snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
             mac[4], mac[5]);
    if (set_one("system", nullptr, "base-mac", text) != 0) {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Error setting base MAC Address.");
        return;
    }
    if (set_one("system", nullptr, "base-mac-status", "on") != 0) {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Error setting base MAC Status.");
    }
}

int map_lsql_base_ap_mac_get(uint8_t mac[6]) {
    return get_mac("base-mac", mac);
}

void map_dman_lsql_get_ap_macaddr(uint8_t mac[6]) {
    get_mac("base-mac", mac);
}

int map_lsql_country_code_set(const char* code) {
    if (code == nullptr || set_one("system", nullptr, "country", code) != 0) {
        MAP_ERROR("Error setting country code.");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Success in setting country code - %s", code);
    return 0;
}

int map_lsql_country_code_get(char out[4]) {
    return get_text("system", "country", out, 4);
}

int map_lsql_country_code_is_configurable_set(int flag) {
    return set_traced("system", "country-code-is-configurable", flag == 1 ? "on" : "off",
                      "Error setting country-code-is-configurable.");
}

int map_lsql_country_code_is_configurable_get(int* flag) {
    if (flag != nullptr) {
        pv_ptr value = get_one("system", nullptr, "country-code-is-configurable");
        *flag = value && strcmp(value->value, "on") == 0 ? 1 : 0;
    }
    return 0;
}

int map_lsql_serial_number_set(const char* text) {
    return set_traced("system", "serial-number", text, "Error setting serial number.\n\r");
}

int map_lsql_serial_number_get(char* buffer, size_t size) {
    return get_text("system", "serial-number", buffer, size);
}

int map_lsql_part_number_get(char* buffer, size_t size) {
    return get_text("system", "platform", buffer, size);
}

int map_lsql_band_plan_set(const char* text) {
    return set_traced("system", "band-plan", text, "Error setting Band Plan .\n\r");
}

int map_lsql_last_boot_set(const char* text) {
    return set_traced("system", "lastboot", text, "Error setting Last boot parameter.\n\r");
}

int map_lsql_last_boot_get() {
    pv_ptr value = get_one("system", nullptr, "lastboot");
    return value && strncmp(value->value, "success", 7) == 0 ? 0 : -1;
}

int map_lsql_hardware_version_set(const char* text) {
    return set_traced("device-info", "version-id", text, "Error setting hardware version .\n\r");
}

int map_lsql_product_id_set(const char* text) {
    return set_traced("device-info", "product-id", text, "Error setting product id .\n\r");
}

int map_lsql_get_firmware_version(char* buffer, size_t size) {
    return get_text("system", "version", buffer, size);
}

int map_lsql_ap_version_set(const char* text) {
    return set_traced("system", "version", text, "Error setting version number.");
}

int map_lsql_ap_alt_version_set(const char* text) {
    return set_traced("system", "altversion", text, "Error setting version number.");
}

int map_lsql_clustering_status_set(const char* text) {
    if (text == nullptr) {
        MAP_ERROR("Invalid mapd state.");
        return -1;
    }
    if (strcmp(text, "0") != 0 && strcmp(text, "1") != 0) {
        MAP_ERROR("mapd state invalid value.");
        return -1;
    }
    if (set_one("cluster", nullptr, "clustered", text) != 0) {
        MAP_ERROR("Error setting Cluster property.");
        return -1;
    }
    return 0;
}

int map_dman_lsql_set_admin_passwd(const char* text) {
    if (text == nullptr || set_one("system", nullptr, "password", text) != 0) {
        MAP_ERROR("Error in setting the admin password");
        return -1;
    }
    return 0;
}

uint32_t map_dman_lsql_get_ap_ipaddr() {
    return get_management_address("ip");
}

uint32_t map_dman_lsql_get_ap_ipmask() {
    return get_management_address("mask");
}

// ---- "managed-ap" ----------------------------------------------------------------------

const map_dman_prop_desc map_managed_ap_desc_table[] = {
    MAP_DMAN_DESC("mode", MAP_DMAN_VT_TEXT, map_managed_ap_params, mode),
    MAP_DMAN_DESC("switch-address-1", MAP_DMAN_VT_TEXT, map_managed_ap_params, switch_address[0]),
    MAP_DMAN_DESC("switch-address-2", MAP_DMAN_VT_TEXT, map_managed_ap_params, switch_address[1]),
    MAP_DMAN_DESC("switch-address-3", MAP_DMAN_VT_TEXT, map_managed_ap_params, switch_address[2]),
    MAP_DMAN_DESC("switch-address-4", MAP_DMAN_VT_TEXT, map_managed_ap_params, switch_address[3]),
    MAP_DMAN_DESC("pass-phrase", MAP_DMAN_VT_TEXT, map_managed_ap_params, pass_phrase),
    MAP_DMAN_DESC("managed-mode-watchdog", MAP_DMAN_VT_INT32, map_managed_ap_params, watchdog),
    MAP_DMAN_DESC("dhcp-ip-base-port", MAP_DMAN_VT_INT16, map_managed_ap_params, dhcp_ip_base_port),
    MAP_DMAN_DESC("cfg-ip-base-port", MAP_DMAN_VT_INT16, map_managed_ap_params, cfg_ip_base_port),
    MAP_DMAN_DESC("ip-base-port", MAP_DMAN_VT_INT16, map_managed_ap_params, ip_base_port),
    MAP_DMAN_DESC("ip-tnl-udp-port", MAP_DMAN_VT_INT16, map_managed_ap_params, ip_tnl_udp_port),
    MAP_DMAN_DESC("ip-udp-port", MAP_DMAN_VT_INT16, map_managed_ap_params, ip_udp_port),
    MAP_DMAN_DESC("ip-ssl-port", MAP_DMAN_VT_INT16, map_managed_ap_params, ip_ssl_port),
    MAP_DMAN_DESC("ip-capwap-src-port", MAP_DMAN_VT_INT16, map_managed_ap_params,
                  ip_capwap_src_port),
    MAP_DMAN_DESC("ip-capwap-dst-port", MAP_DMAN_VT_INT16, map_managed_ap_params,
                  ip_capwap_dst_port),
};
const uint32_t map_managed_ap_desc_count =
    sizeof map_managed_ap_desc_table / sizeof map_managed_ap_desc_table[0];

int map_dman_lsql_get_managed_ap_params(map_managed_ap_params* out) {
    if (out == nullptr) {
        return -1;
    }
    return map_dman_util_get_grid("managed-ap", nullptr, map_managed_ap_desc_table,
                                  map_managed_ap_desc_count, out, sizeof *out, nullptr, 0);
}

int map_lsql_mapd_state_set(const char* state) {
    if (state == nullptr) {
        MAP_ERROR("Invalid mapd state.");
        return -1;
    }
    if (strcasecmp(state, "up") != 0 && strcasecmp(state, "down") != 0) {
        MAP_ERROR("mapd state invalid value.");
        return -1;
    }
    if (set_one("managed-ap", nullptr, "ap-state", state) != 0) {
        MAP_ERROR("Error setting ap-state property.");
        return -1;
    }
    return 0;
}

int map_dman_int_set_dhcp_ip_base_port(uint16_t port) {
    char text[8];
    snprintf(text, sizeof text, "%d", port);
    pv_ptr node(lsqlquery_new_pv_solo("dhcp-ip-base-port", text));
    if (!node) {
        return -1;
    }
    char* error = nullptr;
    int rc = lsqlquery_set_pv_with_error("managed-ap", nullptr, node.get(), nullptr, &error);
    text_ptr owned(error);
    return rc;
}

namespace {

struct transaction_free {
    void operator()(lsqlquery_transaction_info* first) const {
        lsqlquery_transaction_info_delete(first);
    }
};
using transaction_ptr = std::unique_ptr<lsqlquery_transaction_info, transaction_free>;

// One "managed-ap" set item holding `property` = port; null when it cannot be
// made.
lsqlquery_transaction_info* port_item(const char* property, uint16_t port) {
    char text[8];
    snprintf(text, sizeof text, "%d", port);
    pv* node = lsqlquery_new_pv_solo(property, text);
    if (node == nullptr) {
        return nullptr;
    }
    // The item owns the node from here on, also when it cannot be made.
    return lsqlquery_transaction_info_new(LSQLQUERY_OP_SET, "managed-ap", nullptr, node, 0);
}

}  // namespace

int map_dman_int_set_ip_all_ports(uint16_t base, uint16_t tnl_udp, uint16_t udp, uint16_t ssl,
                                  uint16_t capwap_src, uint16_t capwap_dst) {
    const struct {
        const char* property;
        uint16_t port;
    } items[] = {
        {"ip-base-port", base},
        {"ip-tnl-udp-port", tnl_udp},
        {"ip-udp-port", udp},
        {"ip-ssl-port", ssl},
        {"ip-capwap-src-port", capwap_src},
        {"ip-capwap-dst-port", capwap_dst},
    };
    transaction_ptr first;
    for (const auto& it : items) {
        lsqlquery_transaction_info* item = port_item(it.property, it.port);
        if (item == nullptr) {
            MAP_ERROR("Unable to make the transaction item for %s", it.property);
            return -1;
        }
        if (!first) {
            first.reset(item);
        } else if (lsqlquery_transaction_info_add(first.get(), item) != 0) {
            lsqlquery_transaction_info_delete(item);
            return -1;
        }
    }
    char* error = nullptr;
    int rc = lsqlquery_write_pv_multi(first.get(), &error);
    text_ptr owned(error);
    return rc == 0 && !owned ? 0 : -1;
}

// ---- features ----------------------------------------------------------------------

int map_dman_lsql_debug_login_status(int flag) {
    if (set_one("telnet", nullptr, "status", up_down(flag)) != 0) {
        MAP_ERROR("Error in setting the telnet session");
        return -1;
    }
    if (set_one("ssh", nullptr, "status", up_down(flag)) != 0) {
        MAP_ERROR("Error in setting the SSH session");
        return -1;
    }
    return 0;
}

int map_dman_lsql_disable_ntp_feature() {
    MAP_TRACE(MAP_TRACE_CONFIG, "Setting the NTP feature down");
    if (set_one("ntp", nullptr, "status", "down") != 0) {
        MAP_ERROR("Error in setting  NTP feature down");
        return -1;
    }
    return 0;
}

int map_dman_lsql_disable_stp_feature() {
    pv_ptr value = get_one("interface", "brtrunk", "stp");
    if (!value) {
        return -1;
    }
    if (strcmp(value->value, "on") != 0) {
        return 0;
    }
    if (set_one("interface", "brtrunk", "stp", "off") != 0) {
        MAP_ERROR("Error in setting  STP feature down");
        return -1;
    }
    return 0;
}

// The four WDS links of the first radio, then the remote MAC of the single
// "wds" class instance.
int map_dman_lsql_wds_feature(const char* text) {
    if (text == nullptr) {
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Setting the wds feature %s", text);
    for (int i = 0; i < 4; ++i) {
        char instance[16];
        snprintf(instance, sizeof instance, "wlan0wds%d", i);
        if (set_one("interface", instance, "status", text) != 0) {
            MAP_ERROR("Error in setting the wds interface down - %s", instance);
            return -1;
        }
    }
    if (set_one("wds", nullptr, "remote-mac", "") != 0) {
        MAP_ERROR("Error is reseting remote mac addr");
        return -1;
    }
    return 0;
}

namespace {

int set_status(const char* cls, const char* property, const char* status, const char* error) {
    if (set_one(cls, nullptr, property, status) != 0) {
        MAP_ERROR("%s", error);
        return -1;
    }
    return 0;
}

}  // namespace

int map_dman_lsql_external_interfaces_set(int enable, int debug_login) {
    const char* status = up_down(enable);
    const bool disabling = enable != 1;
    MAP_TRACE(MAP_TRACE_CONFIG, "Trying to set the External UI - %s", status);
    // A debug login keeps telnet and SSH open while the rest goes down.
    if (!(disabling && debug_login == 1)) {
        if (set_status("telnet", "status", status, "Error in setting the telnet session") != 0 ||
            set_status("ssh", "status", status, "Error in  setting the SSH session") != 0) {
            return -1;
        }
    }
    if (set_status("snmp", "status", status, "Error in  setting the SNMP session") != 0 ||
        set_status("web-server", "http-status", status, "Error in  setting the WEB session") != 0 ||
        set_status("web-server", "https-status", status, "Error in  setting the WEB session") !=
            0) {
        return -1;
    }
    if (disabling && map_global_dont_disable_ssh_session == 0) {
        // Ends the running SSH sessions; a failure here changes nothing stored.
        map_platform_system("ps | grep dropbear | awk '{print $1}' | xargs kill 2> /dev/null");
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Successful is setting the External UI - %s", status);
    return 0;
}

// ---- client QoS definitions --------------------------------------------------------

namespace {

// Where the definition of an id type lives: its class and the "acl-type" of
// its rows (none for policy maps).
struct cltqos_place {
    const char* cls;
    const char* acl_type;
};

cltqos_place cltqos_place_of(uint8_t id_type) {
    switch (id_type) {
        case MAP_CLTQOS_ID_POLICY_IN:
            return {"policy-map", nullptr};
        case MAP_CLTQOS_ID_ACL_MAC:
            return {"qos-mac-acl", "mac"};
        case MAP_CLTQOS_ID_ACL_IPV6:
            return {"acl", "ipv6"};
        default:
            return {"acl", "ipv4"};
    }
}

}  // namespace

int map_dman_lsql_is_exist_cltqos_id(const map_cltqos_list_entry* entry) {
    if (entry == nullptr) {
        return -1;
    }
    char name[MAP_CLTQOS_NAME_LEN];
    snprintf(name, sizeof name, "%.*s", static_cast<int>(sizeof name - 1), entry->name);
    if (name[0] == '\0') {
        return -1;  // no instance: never the whole class
    }
    const cltqos_place place = cltqos_place_of(entry->id_type);
    pv_ptr found(
        place.acl_type == nullptr
            ? lsqlquery_get_grid(place.cls, name, nullptr, nullptr, 0)
            : lsqlquery_get_pv_q1(place.cls, name, "rule-count", "acl-type", place.acl_type));
    return found ? 0 : -1;
}

int map_dman_lsql_apply_cltqos_list(const map_cltqos_list_entry* entry, int create) {
    const char* action = create == 1 ? "create" : "delete";
    if (entry == nullptr) {
        MAP_ERROR("Unable to %s %s with name '%s'", action, "client QoS list", "");
        return -1;
    }
    char name[MAP_CLTQOS_NAME_LEN];
    snprintf(name, sizeof name, "%.*s", static_cast<int>(sizeof name - 1), entry->name);
    const cltqos_place place = cltqos_place_of(entry->id_type);
    int rc = -1;
    // An empty name would address every instance of the class: refused.
    if (name[0] != '\0' && create == 1) {
        pv_ptr row(lsqlquery_new_pv_solo("rule-count", "0"));
        if (row && (place.acl_type == nullptr ||
                    lsqlquery_new_pv("acl-type", place.acl_type, row.get()) != nullptr)) {
            rc = lsqlquery_insert_pv(place.cls, name, row.get());
        }
    } else if (name[0] != '\0') {
        pv_ptr selector(place.acl_type != nullptr
                            ? lsqlquery_new_pv_solo("acl-type", place.acl_type)
                            : nullptr);
        if (place.acl_type == nullptr || selector) {
            rc = lsqlquery_delete_pv(place.cls, name, selector.get());
        }
    }
    if (rc != 0) {
        MAP_ERROR("Unable to %s %s with name '%s'", action, place.cls, name);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CLTQOS, "Successfully %s %s with name '%s'",
              create == 1 ? "created" : "deleted", place.cls, name);
    return 0;
}
