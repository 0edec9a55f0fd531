// Arbitrary database values read back by the daemon's accessors.  The input
// is a run of records: a byte choosing a property the daemon reads, then its
// value up to a NUL byte (the library stores texts).  Every input starts
// from a new database holding only those values; then every accessor reads
// them back into fields of their exact size, and the readers that take the
// values on (the static configuration, the provisioning parameters) run on a
// new record.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "commands/map_cs.hpp"
#include "config/map_config.hpp"
#include "config/map_config_apply.hpp"
#include "fuzz_ap.hpp"
#include "fuzz_fresh.hpp"
#include "stats/map_proc.hpp"
#include "store/map_dman_lsql.hpp"

namespace {

struct property {
    const char* cls;
    const char* instance;
    const char* name;
    const char* radio;  // the "radio" qualifier of a VAP row, else null
};

constexpr property kProperties[] = {
    {"system", nullptr, "base-mac", nullptr},
    {"system", nullptr, "country", nullptr},
    {"system", nullptr, "country-code-is-configurable", nullptr},
    {"system", nullptr, "serial-number", nullptr},
    {"system", nullptr, "platform", nullptr},
    {"system", nullptr, "lastboot", nullptr},
    {"system", nullptr, "version", nullptr},
    {"management", nullptr, "ip", nullptr},
    {"management", nullptr, "mask", nullptr},
    {"managed-ap", nullptr, "mode", nullptr},
    {"managed-ap", nullptr, "switch-address-1", nullptr},
    {"managed-ap", nullptr, "switch-address-2", nullptr},
    {"managed-ap", nullptr, "switch-address-3", nullptr},
    {"managed-ap", nullptr, "switch-address-4", nullptr},
    {"managed-ap", nullptr, "pass-phrase", nullptr},
    {"managed-ap", nullptr, "managed-mode-watchdog", nullptr},
    {"managed-ap", nullptr, "dhcp-ip-base-port", nullptr},
    {"managed-ap", nullptr, "cfg-ip-base-port", nullptr},
    {"managed-ap", nullptr, "ip-base-port", nullptr},
    {"managed-ap", nullptr, "ip-udp-port", nullptr},
    {"managed-ap", nullptr, "ip-ssl-port", nullptr},
    {"radio", "wlan0", "status", nullptr},
    {"radio", "wlan1", "status", nullptr},
    {"radio", "wlan0", "sentry-mode", nullptr},
    {"client-qos", nullptr, "mode", nullptr},
    {"vap", "vap0", "status", "wlan0"},
    {"vap", "vap0", "vlan-id", "wlan0"},
    {"vap", "vap0", "global-radius", "wlan0"},
    {"vap", "vap0", "redirect-mode", "wlan0"},
    {"vap", "vap0", "redirect-url", "wlan0"},
    {"vap", "vap0", "qos-mode", "wlan0"},
    {"vap", "vap0", "def-bwmax-down", "wlan0"},
    {"vap", "vap0", "def-bwmax-up", "wlan0"},
    {"vap", "vap0", "def-acltype-down", "wlan0"},
    {"vap", "vap0", "def-acltype-up", "wlan0"},
    {"vap", "vap0", "def-acl-down", "wlan0"},
    {"vap", "vap0", "def-acl-up", "wlan0"},
    {"vap", "vap0", "def-policy-down", "wlan0"},
    {"vap", "vap0", "def-policy-up", "wlan0"},
    {"vap", "vap1", "interface", "wlan1"},
    {"map-ap-provisioning", nullptr, "switch-ip-address", nullptr},
    {"map-ap-provisioning", nullptr, "switch-ipv6-address", nullptr},
    {"map-ap-provisioning", nullptr, "ap-mac-address", nullptr},
    {"map-ap-provisioning", nullptr, "primary-switch-ip-address", nullptr},
    {"map-ap-provisioning", nullptr, "primary-switch-ipv6-address", nullptr},
    {"map-ap-provisioning", nullptr, "backup-switch-ip-address", nullptr},
    {"map-ap-provisioning", nullptr, "backup-switch-ipv6-address", nullptr},
    {"map-ap-provisioning", nullptr, "switch-ip-address-type", nullptr},
    {"map-ap-provisioning", nullptr, "primary-switch-ip-address-type", nullptr},
    {"map-ap-provisioning", nullptr, "mutual-auth", nullptr},
    {"map-ap-provisioning", nullptr, "data-valid", nullptr},
};

void store(const property& p, const std::string& value) {
    pv* node = lsqlquery_new_pv_solo(p.name, value.c_str());
    pv* qualifier = p.radio != nullptr ? lsqlquery_new_pv_solo("radio", p.radio) : nullptr;
    (void)lsqlquery_set_pv(p.cls, p.instance, node, qualifier);  // a refused value is no value
    lsqlquery_destroy_pv(qualifier);
    lsqlquery_destroy_pv(node);
}

// A text read into a heap field of exactly `size` bytes must end inside it.
template <typename Read>
void read_text(size_t size, Read read) {
    std::unique_ptr<char[]> field(new char[size]);
    if (read(field.get(), size) == 0 && memchr(field.get(), '\0', size) == nullptr) abort();
}

void read_everything(map_control_block* cb) {
    auto mac = std::make_unique<uint8_t[]>(6);
    map_lsql_base_ap_mac_get(mac.get());
    map_dman_lsql_get_ap_macaddr(mac.get());
    map_proc_get_mac_addr(mac.get(), nullptr);
    auto country = std::make_unique<char[]>(4);
    if (map_lsql_country_code_get(country.get()) == 0 && strnlen(country.get(), 4) > 3) abort();
    int flag = 0;
    map_lsql_country_code_is_configurable_get(&flag);
    for (size_t size : {1, 16, 256}) {
        read_text(size, map_lsql_serial_number_get);
        read_text(size, map_lsql_part_number_get);
        read_text(size, map_lsql_get_firmware_version);
    }
    map_lsql_last_boot_get();
    map_dman_lsql_get_ap_ipaddr();
    map_dman_lsql_get_ap_ipmask();
    auto managed = std::make_unique<map_managed_ap_params>();
    map_dman_lsql_get_managed_ap_params(managed.get());
    map_dman_lsql_get_num_radios();
    for (const char* radio : {"wlan0", "wlan1"}) {
        map_dman_lsql_is_radio_instance_exist(radio);
        map_dman_lsql_get_radio_status(radio);
    }
    for (int r = 0; r < 2; ++r) {
        map_dman_lsql_get_sentry_mode(r + 1);
        for (int vap = 0; vap < 2; ++vap) {
            map_dman_lsql_get_vap_client_qos_mode(vap, r);
            auto config = std::make_unique<map_vap_config>();
            map_dman_lsql_get_vap_configuration(vap, r, config.get());
        }
    }
    map_dman_lsql_get_global_cltqos_mode();
    auto provision = std::make_unique<map_ap_provision_params>();
    map_dman_lsql_get_ap_provision_params(provision.get());
    // The readers that take the values on.
    map_reload_static_config(cb);
    map_ap_provision_params_load_static_config(cb);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static map_control_block* cb = [] {
        static char root[] = "/dev/shm/mapd-fuzz-db-values-XXXXXX";
        return fuzz_ap::make(root, {});
    }();
    fuzz_fresh::db_drop();
    map_proc_mac_cache_clear();  // the AP MAC is read once and kept
    size_t pos = 0;
    while (pos < size) {
        const property& p = kProperties[data[pos] % std::size(kProperties)];
        const char* value = reinterpret_cast<const char*>(data + pos + 1);
        const size_t len = strnlen(value, size - pos - 1);
        store(p, std::string(value, len));
        pos += 2 + len;
    }
    map_switch_comm* rec = cb->switch_comm;
    fuzz_fresh::record_reset(rec, cb, MAP_SWITCH_COMM_INIT_MODE);
    cb->admin_mode = 0;
    cb->managed_mode = 1;
    read_everything(cb);
    // An admin mode of "up" opens the layer-2 discovery socket: closed again.
    map_switch_comm_l2_discovery_disable(rec);
    // A pass phrase and host names are kept within their fields.
    if (memchr(rec->pass_phrase, '\0', sizeof rec->pass_phrase) == nullptr) abort();
    for (const auto& host : rec->static_host) {
        if (memchr(host, '\0', sizeof host) == nullptr) abort();
    }
    return 0;
}
