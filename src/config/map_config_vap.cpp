// The VAP apply: the VAP records marked changed go to the configuration
// database ("vap" with its client QoS defaults, "interface", "bss"), and a
// VAP can be read back from "vap".
//
// Several properties are texts derived from record values (security mode,
// redirect mode, ACL types, open/shared authentication); each write fills a
// small value record first and writes it through a descriptor table.
#include <cstdio>
#include <cstring>

#include "commands/map_cs.hpp"
#include "config/map_config_apply.hpp"
#include "store/map_dman_internal.hpp"
#include "store/map_dman_lsql.hpp"
#include "log/map_log.hpp"
#include "tunnel/map_tunnel.hpp"

static constexpr char map_log_module[] = "map_dman_lsql";

using map_dman_detail::pv_ptr;

namespace {

// Instance names: "vap%d", "wlan%d", "wlan%dvap%d", "wlan%dbssvap%d".
constexpr size_t kInstanceLen = 32;

template <size_t n>
constexpr uint32_t count_of(const map_dman_prop_desc (&)[n]) {
    return static_cast<uint32_t>(n);
}

// Copies text into a value-record field, cut to `limit` characters and the
// field.
template <size_t n>
void put_text(char (&field)[n], const char* text, size_t limit = n - 1) {
    snprintf(field, n, "%.*s", static_cast<int>(limit < n - 1 ? limit : n - 1), text);
}

// Numbers of the VAP record and their property texts, both ways.
struct code_text {
    uint32_t code;
    const char* text;
};

constexpr code_text kSecurity[] = {
    {MAP_VAP_SECURITY_PLAIN_TEXT, "plain-text"},       {MAP_VAP_SECURITY_STATIC_WEP, "static-wep"},
    {MAP_VAP_SECURITY_DOT1X, "dot1x"},                 {MAP_VAP_SECURITY_WPA_PERSONAL, "wpa-personal"},
    {MAP_VAP_SECURITY_WPA_ENTERPRISE, "wpa-enterprise"},
};
constexpr code_text kRedirectMode[] = {
    {MAP_VAP_REDIRECT_NONE, "none"}, {MAP_VAP_REDIRECT_HTTP, "http"}, {MAP_VAP_REDIRECT_IP, "ip"}};
constexpr code_text kAclType[] = {
    {MAP_VAP_ACL_IPV4, "ipv4"}, {MAP_VAP_ACL_MAC, "mac"}, {MAP_VAP_ACL_IPV6, "ipv6"}};
constexpr code_text kMacAclAuth[] = {{1, "local"}, {2, "radius"}, {3, "disable"}};

template <size_t n>
const char* text_of(const code_text (&table)[n], uint32_t code, const char* otherwise) {
    for (const auto& row : table) {
        if (row.code == code) return row.text;
    }
    return otherwise;
}

template <size_t n>
uint8_t code_of(const code_text (&table)[n], const char* text, uint8_t otherwise) {
    for (const auto& row : table) {
        if (strcmp(row.text, text) == 0) return static_cast<uint8_t>(row.code);
    }
    return otherwise;
}

// ---- "vap" -------------------------------------------------------------------

struct vap_values {
    uint8_t status;
    int32_t vlan_id;
    char redirect_mode[8];
    char redirect_url[MAP_VAP_REDIRECT_URL_LEN];
};

const map_dman_prop_desc vap_desc[] = {
    MAP_DMAN_DESC("status", MAP_DMAN_VT_UP_DOWN, vap_values, status),
    MAP_DMAN_DESC("vlan-id", MAP_DMAN_VT_INT32, vap_values, vlan_id),
    MAP_DMAN_DESC("redirect-mode", MAP_DMAN_VT_TEXT, vap_values, redirect_mode),
    MAP_DMAN_DESC("redirect-url", MAP_DMAN_VT_TEXT, vap_values, redirect_url),
};

struct vap_cltqos_values {
    uint8_t qos_mode;
    uint32_t bwmax_down;
    uint32_t bwmax_up;
    char acltype_down[8];
    char acltype_up[8];
    char acl_down[MAP_VAP_QOS_NAME_LEN];
    char acl_up[MAP_VAP_QOS_NAME_LEN];
    char policy_down[MAP_VAP_QOS_NAME_LEN];
    char policy_up[MAP_VAP_QOS_NAME_LEN];
};

const map_dman_prop_desc vap_cltqos_desc[] = {
    MAP_DMAN_DESC("qos-mode", MAP_DMAN_VT_UP_DOWN, vap_cltqos_values, qos_mode),
    MAP_DMAN_DESC("def-bwmax-down", MAP_DMAN_VT_UINT32, vap_cltqos_values, bwmax_down),
    MAP_DMAN_DESC("def-bwmax-up", MAP_DMAN_VT_UINT32, vap_cltqos_values, bwmax_up),
    MAP_DMAN_DESC("def-acltype-down", MAP_DMAN_VT_TEXT, vap_cltqos_values, acltype_down),
    MAP_DMAN_DESC("def-acltype-up", MAP_DMAN_VT_TEXT, vap_cltqos_values, acltype_up),
    MAP_DMAN_DESC("def-acl-down", MAP_DMAN_VT_TEXT, vap_cltqos_values, acl_down),
    MAP_DMAN_DESC("def-acl-up", MAP_DMAN_VT_TEXT, vap_cltqos_values, acl_up),
    MAP_DMAN_DESC("def-policy-down", MAP_DMAN_VT_TEXT, vap_cltqos_values, policy_down),
    MAP_DMAN_DESC("def-policy-up", MAP_DMAN_VT_TEXT, vap_cltqos_values, policy_up),
};

// What is read back from "vap".
struct vap_readback {
    uint32_t status;
    int32_t vlan_id;
    uint8_t global_radius;
    char redirect_mode[16];
    char redirect_url[MAP_VAP_REDIRECT_URL_LEN];
    uint32_t qos_mode;
    uint32_t bwmax_down;
    uint32_t bwmax_up;
    char acltype_down[16];
    char acltype_up[16];
    char acl_down[MAP_VAP_QOS_NAME_LEN];
    char acl_up[MAP_VAP_QOS_NAME_LEN];
    char policy_down[MAP_VAP_QOS_NAME_LEN];
    char policy_up[MAP_VAP_QOS_NAME_LEN];
};

const map_dman_prop_desc vap_readback_desc[] = {
    MAP_DMAN_DESC("status", MAP_DMAN_VT_UP_DOWN, vap_readback, status),
    MAP_DMAN_DESC("vlan-id", MAP_DMAN_VT_INT32, vap_readback, vlan_id),
    MAP_DMAN_DESC("global-radius", MAP_DMAN_VT_ON_OFF, vap_readback, global_radius),
    MAP_DMAN_DESC("redirect-mode", MAP_DMAN_VT_TEXT, vap_readback, redirect_mode),
    MAP_DMAN_DESC("redirect-url", MAP_DMAN_VT_TEXT, vap_readback, redirect_url),
    MAP_DMAN_DESC("qos-mode", MAP_DMAN_VT_UP_DOWN, vap_readback, qos_mode),
    MAP_DMAN_DESC("def-bwmax-down", MAP_DMAN_VT_UINT32, vap_readback, bwmax_down),
    MAP_DMAN_DESC("def-bwmax-up", MAP_DMAN_VT_UINT32, vap_readback, bwmax_up),
    MAP_DMAN_DESC("def-acltype-down", MAP_DMAN_VT_TEXT, vap_readback, acltype_down),
    MAP_DMAN_DESC("def-acltype-up", MAP_DMAN_VT_TEXT, vap_readback, acltype_up),
    MAP_DMAN_DESC("def-acl-down", MAP_DMAN_VT_TEXT, vap_readback, acl_down),
    MAP_DMAN_DESC("def-acl-up", MAP_DMAN_VT_TEXT, vap_readback, acl_up),
    MAP_DMAN_DESC("def-policy-down", MAP_DMAN_VT_TEXT, vap_readback, policy_down),
    MAP_DMAN_DESC("def-policy-up", MAP_DMAN_VT_TEXT, vap_readback, policy_up),
};

// ---- "interface" -------------------------------------------------------------

struct interface_values {
    char ssid[MAP_VAP_SSID_LEN];
    char security[16];
    uint16_t wep_key_length;
    uint8_t wep_key_ascii;
    uint16_t wep_default_key;
    char wep_key_1[MAP_VAP_WEP_KEY_LEN];
    char wep_key_2[MAP_VAP_WEP_KEY_LEN];
    char wep_key_3[MAP_VAP_WEP_KEY_LEN];
    char wep_key_4[MAP_VAP_WEP_KEY_LEN];
    char wpa_personal_key[MAP_VAP_WPA_KEY_LEN];
};

// The last entry, "wpa-personal-key", only for a key of 8 characters or more.
const map_dman_prop_desc interface_desc[] = {
    MAP_DMAN_DESC("ssid", MAP_DMAN_VT_TEXT, interface_values, ssid),
    MAP_DMAN_DESC("security", MAP_DMAN_VT_TEXT, interface_values, security),
    MAP_DMAN_DESC("wep-key-length", MAP_DMAN_VT_INT16, interface_values, wep_key_length),
    MAP_DMAN_DESC("wep-key-ascii", MAP_DMAN_VT_YES_NO, interface_values, wep_key_ascii),
    MAP_DMAN_DESC("wep-default-key", MAP_DMAN_VT_INT16, interface_values, wep_default_key),
    MAP_DMAN_DESC("wep-key-1", MAP_DMAN_VT_TEXT, interface_values, wep_key_1),
    MAP_DMAN_DESC("wep-key-2", MAP_DMAN_VT_TEXT, interface_values, wep_key_2),
    MAP_DMAN_DESC("wep-key-3", MAP_DMAN_VT_TEXT, interface_values, wep_key_3),
    MAP_DMAN_DESC("wep-key-4", MAP_DMAN_VT_TEXT, interface_values, wep_key_4),
    MAP_DMAN_DESC("wpa-personal-key", MAP_DMAN_VT_TEXT, interface_values, wpa_personal_key),
};
constexpr size_t kWpaKeyMin = 8;

// ---- "bss" -------------------------------------------------------------------

struct bss_values {
    uint8_t ignore_broadcast_ssid;
    uint8_t wpa_allowed;
    uint8_t wpa2_allowed;
    uint8_t wpa_cipher_tkip;
    uint8_t wpa_cipher_ccmp;
    char mac_acl_auth_type[8];
    uint8_t radius_accounting;
    uint8_t rsn_preauth;
    uint8_t open_auth;
    uint8_t shared_auth;
    uint16_t rsn_preauth_limit;
    uint8_t dynamic_key_forwarding;
    uint16_t key_cache_hold_time;
    uint32_t bcast_key_refresh_rate;
    uint32_t session_key_refresh_rate;
    uint8_t arp_supp;
};

const map_dman_prop_desc bss_desc[] = {
    MAP_DMAN_DESC("ignore-broadcast-ssid", MAP_DMAN_VT_ON_OFF, bss_values, ignore_broadcast_ssid),
    MAP_DMAN_DESC("wpa-allowed", MAP_DMAN_VT_ON_OFF, bss_values, wpa_allowed),
    MAP_DMAN_DESC("wpa2-allowed", MAP_DMAN_VT_ON_OFF, bss_values, wpa2_allowed),
    MAP_DMAN_DESC("wpa-cipher-tkip", MAP_DMAN_VT_ON_OFF, bss_values, wpa_cipher_tkip),
    MAP_DMAN_DESC("wpa-cipher-ccmp", MAP_DMAN_VT_ON_OFF, bss_values, wpa_cipher_ccmp),
    MAP_DMAN_DESC("mac-acl-auth-type", MAP_DMAN_VT_TEXT, bss_values, mac_acl_auth_type),
    MAP_DMAN_DESC("radius-accounting", MAP_DMAN_VT_ON_OFF, bss_values, radius_accounting),
    MAP_DMAN_DESC("rsn-preauthentication", MAP_DMAN_VT_ON_OFF, bss_values, rsn_preauth),
    MAP_DMAN_DESC("open-system-authentication", MAP_DMAN_VT_ON_OFF, bss_values, open_auth),
    MAP_DMAN_DESC("shared-key-authentication", MAP_DMAN_VT_ON_OFF, bss_values, shared_auth),
    MAP_DMAN_DESC("rsn-preauthentication-limit", MAP_DMAN_VT_INT16, bss_values, rsn_preauth_limit),
    MAP_DMAN_DESC("dynamic-key-forwarding-mode", MAP_DMAN_VT_ON_OFF, bss_values,
                  dynamic_key_forwarding),
    MAP_DMAN_DESC("key-cache-hold-time", MAP_DMAN_VT_INT16, bss_values, key_cache_hold_time),
    MAP_DMAN_DESC("broadcast-key-refresh-rate", MAP_DMAN_VT_UINT32, bss_values,
                  bcast_key_refresh_rate),
    MAP_DMAN_DESC("session-key-refresh-rate", MAP_DMAN_VT_UINT32, bss_values,
                  session_key_refresh_rate),
    MAP_DMAN_DESC("arp-supp-mode", MAP_DMAN_VT_ON_OFF, bss_values, arp_supp),
};

uint8_t has_bit(uint32_t value, uint32_t bit) {
    return (value & bit) != 0 && value <= 3 ? 1 : 0;
}

// Open-system and shared-key authentication of a security mode: open for
// plain text, 802.1X and WPA; static WEP by its authentication type; nothing
// for anything else.
void auth_flags(const map_vap_config& vap, uint8_t* open, uint8_t* shared) {
    *open = 0;
    *shared = 0;
    switch (vap.security_mode) {
        case MAP_VAP_SECURITY_PLAIN_TEXT:
        case MAP_VAP_SECURITY_DOT1X:
        case MAP_VAP_SECURITY_WPA_PERSONAL:
        case MAP_VAP_SECURITY_WPA_ENTERPRISE:
            *open = 1;
            break;
        case MAP_VAP_SECURITY_STATIC_WEP:
            *open = vap.auth_type == MAP_VAP_AUTH_OPEN || vap.auth_type == MAP_VAP_AUTH_BOTH;
            *shared = vap.auth_type == MAP_VAP_AUTH_SHARED || vap.auth_type == MAP_VAP_AUTH_BOTH;
            break;
        default:
            break;
    }
}

// The radio number of the interface names ("wlan%d"), or -1 with the error
// text left in the slot when the VAP's radio id is not 1 or 2.
int radio_number(const map_vap_config& vap, char** error, const char* error_text) {
    if (vap.radio_id < 1 || vap.radio_id > MAP_MAX_RADIOS) {
        MAP_ERROR("%s", error_text);
        map_config_error_set(error, error_text);
        return -1;
    }
    return static_cast<int>(vap.radio_id) - 1;
}

// Writes `table` of `base` to "vap" instance "vap<id>" of radio `radio_name`;
// `what` names the write in the traces ("VAP"), `heading` in the first one.
int write_vap_row(const map_vap_config& vap, const char* radio_name,
                  const map_dman_prop_desc* table, uint32_t count, const void* base,
                  const char* heading, const char* what, const char* prefix, char** error,
                  const char* error_text) {
    char instance[kInstanceLen];
    snprintf(instance, sizeof instance, "vap%d", vap.vap_id);
    pv_ptr qualifier(lsqlquery_new_pv_solo("radio", radio_name));
    pv_ptr list(map_dman_util_fill_pv_list(table, base, count));
    MAP_TRACE(MAP_TRACE_CONFIG, "Applying %s Configuration -- instance - %s for radio - %s",
              heading, instance, radio_name);
    map_config_trace_list(list.get(), prefix);
    if (!qualifier || map_config_write_row("vap", instance, list.get(), qualifier.get(), error,
                                           error_text) != 0) {
        if (!qualifier) {
            map_config_error_set(error, error_text);
        }
        MAP_ERROR("%s", error_text);
        MAP_TRACE(MAP_TRACE_CONFIG, "Failed to apply the %s config - %s", what, instance);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Successful in applying the %s config - %s", what, instance);
    return 0;
}

int apply_one_vap(map_vap_config& vap, const char* radio_name, int any_tunneled, char** error) {
    if (vap.vap_changed != 0) {
        vap.vap_changed = 0;
        if (map_dman_lsql_apply_vap_configuration(&vap, radio_name, error) != 0 ||
            map_dman_lsql_apply_vap_cltqos_configuration(&vap, radio_name, error) != 0 ||
            map_dman_lsql_apply_vap_interface_configuration(&vap, error) != 0 ||
            map_dman_lsql_apply_vap_bss_configuration(&vap, error) != 0) {
            return -1;
        }
    }
    // Changed or not, every VAP of an applied radio writes its tunnel entry.
    if (map_vap_tunnel_configuration(&vap, any_tunneled) != 0) {
        map_config_error_set(error, "Error in the applying  Tunnel Configuration");
        return -1;
    }
    return 0;
}

}  // namespace

int map_dman_lsql_apply_vap_configuration(const map_vap_config* vap, const char* radio_name,
                                          char** error) {
    static constexpr char error_text[] = "Error in applying the VAP configuration";
    if (vap == nullptr || radio_name == nullptr) {
        map_config_error_set(error, error_text);
        return -1;
    }
    vap_values values{};
    values.status = vap->admin_mode;
    values.vlan_id = static_cast<int32_t>(vap->vlan_id);
    put_text(values.redirect_mode, text_of(kRedirectMode, vap->redirect_mode, ""));
    put_text(values.redirect_url, vap->redirect_url);
    return write_vap_row(*vap, radio_name, vap_desc, count_of(vap_desc), &values, "VAP", "VAP", "",
                         error, error_text);
}

int map_dman_lsql_apply_vap_cltqos_configuration(const map_vap_config* vap, const char* radio_name,
                                                 char** error) {
    static constexpr char error_text[] = "Error in applying the VAP client QoS configuration";
    if (vap == nullptr || radio_name == nullptr) {
        map_config_error_set(error, error_text);
        return -1;
    }
    vap_cltqos_values values{};
    values.qos_mode = vap->cltqos_mode;
    values.bwmax_down = vap->def_bwmax_down;
    values.bwmax_up = vap->def_bwmax_up;
    put_text(values.acltype_down, text_of(kAclType, vap->def_acl_down.type, "none"));
    put_text(values.acltype_up, text_of(kAclType, vap->def_acl_up.type, "none"));
    put_text(values.acl_down, vap->def_acl_down.name, MAP_VAP_QOS_NAME_LEN - 1);
    put_text(values.acl_up, vap->def_acl_up.name, MAP_VAP_QOS_NAME_LEN - 1);
    put_text(values.policy_down, vap->def_policy_down.name, MAP_VAP_QOS_NAME_LEN - 1);
    put_text(values.policy_up, vap->def_policy_up.name, MAP_VAP_QOS_NAME_LEN - 1);
    return write_vap_row(*vap, radio_name, vap_cltqos_desc, count_of(vap_cltqos_desc), &values,
                         "VAP Client QoS", "VAP client QoS", "prop: ", error, error_text);
}

int map_dman_lsql_apply_vap_interface_configuration(const map_vap_config* vap, char** error) {
    static constexpr char error_text[] = "Error in applying the vap configuration";
    if (vap == nullptr) {
        map_config_error_set(error, error_text);
        return -1;
    }
    const int radio = radio_number(*vap, error, error_text);
    if (radio < 0) {
        return -1;
    }
    char instance[kInstanceLen];
    if (vap->vap_id == 0) {
        snprintf(instance, sizeof instance, "wlan%d", radio);
    } else {
        snprintf(instance, sizeof instance, "wlan%dvap%d", radio, vap->vap_id);
    }
    interface_values values{};
    put_text(values.ssid, vap->ssid);
    put_text(values.security, text_of(kSecurity, vap->security_mode, ""));
    values.wep_key_length = vap->wep_key_length;
    values.wep_key_ascii = vap->wep_key_ascii;
    values.wep_default_key = vap->wep_default_key;
    put_text(values.wep_key_1, vap->wep_key[0]);
    put_text(values.wep_key_2, vap->wep_key[1]);
    put_text(values.wep_key_3, vap->wep_key[2]);
    put_text(values.wep_key_4, vap->wep_key[3]);
    put_text(values.wpa_personal_key, vap->wpa_personal_key);
    uint32_t count = count_of(interface_desc);
    if (strlen(values.wpa_personal_key) < kWpaKeyMin) {
        --count;  // no "wpa-personal-key"
    }
    pv_ptr list(map_dman_util_fill_pv_list(interface_desc, &values, count));
    MAP_TRACE(MAP_TRACE_CONFIG, "Applying VAP Interface Configuration with the following values");
    map_config_trace_list(list.get(), "");
    if (map_config_write_row("interface", instance, list.get(), nullptr, error, error_text) != 0) {
        MAP_ERROR("%s", error_text);
        MAP_TRACE(MAP_TRACE_CONFIG, "Failed to apply the Vap Interface config - %s", instance);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Successful in applying the vap Interface config - %s", instance);
    return 0;
}

int map_dman_lsql_apply_vap_bss_configuration(const map_vap_config* vap, char** error) {
    static constexpr char error_text[] = "Error in applying the vap configuration";
    if (vap == nullptr) {
        map_config_error_set(error, error_text);
        return -1;
    }
    const int radio = radio_number(*vap, error, error_text);
    if (radio < 0) {
        return -1;
    }
    char instance[kInstanceLen];
    snprintf(instance, sizeof instance, "wlan%dbssvap%d", radio, vap->vap_id);
    bss_values values{};
    values.ignore_broadcast_ssid = vap->hide_ssid != 0 ? 1 : 0;
    values.wpa_allowed = has_bit(vap->wpa_versions, MAP_VAP_WPA_FIRST);
    values.wpa2_allowed = has_bit(vap->wpa_versions, MAP_VAP_WPA_SECOND);
    values.wpa_cipher_tkip = has_bit(vap->wpa_ciphers, MAP_VAP_WPA_FIRST);
    values.wpa_cipher_ccmp = has_bit(vap->wpa_ciphers, MAP_VAP_WPA_SECOND);
    put_text(values.mac_acl_auth_type, text_of(kMacAclAuth, vap->mac_acl_auth, ""));
    values.radius_accounting = vap->radius_accounting;
    values.rsn_preauth = vap->rsn_preauth;
    auth_flags(*vap, &values.open_auth, &values.shared_auth);
    values.rsn_preauth_limit = vap->rsn_preauth_limit;
    values.dynamic_key_forwarding = vap->dynamic_key_forwarding;
    values.key_cache_hold_time = vap->key_cache_hold_time;
    values.bcast_key_refresh_rate = vap->bcast_key_refresh_rate;
    values.session_key_refresh_rate = vap->session_key_refresh_rate;
    values.arp_supp = vap->arp_supp;
    pv_ptr list(map_dman_util_fill_pv_list(bss_desc, &values, count_of(bss_desc)));
    MAP_TRACE(MAP_TRACE_CONFIG, "Wireless ARP Suppression Mode : %d\n", vap->arp_supp);
    MAP_TRACE(MAP_TRACE_CONFIG, "Applying VAP BSS Configuration with the following values - %s",
              instance);
    map_config_trace_list(list.get(), "");
    if (map_config_write_row("bss", instance, list.get(), nullptr, error, error_text) != 0) {
        MAP_ERROR("%s", error_text);
        MAP_TRACE(MAP_TRACE_CONFIG, "Failed to apply the Vap BSS config - %s", instance);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Successful in applying the vap BSS config - %s", instance);
    return 0;
}

int map_dman_lsql_get_vap_configuration(int vap_index, int radio_index, map_vap_config* out) {
    if (out == nullptr) {
        return -1;
    }
    char instance[kInstanceLen];
    char radio[kInstanceLen];
    snprintf(instance, sizeof instance, "vap%d", vap_index);
    snprintf(radio, sizeof radio, "wlan%d", radio_index);
    pv_ptr qualifier(lsqlquery_new_pv_solo("radio", radio));
    if (!qualifier) {
        return -1;
    }
    vap_readback in{};
    if (map_dman_util_get_grid("vap", instance, vap_readback_desc, count_of(vap_readback_desc), &in,
                               sizeof in, qualifier.get(), 1) != 0) {
        return -1;
    }
    out->admin_mode = static_cast<uint8_t>(in.status);
    out->vlan_id = static_cast<uint32_t>(in.vlan_id);
    out->cltqos_mode = static_cast<uint8_t>(in.qos_mode);
    out->redirect_mode = code_of(kRedirectMode, in.redirect_mode, MAP_VAP_REDIRECT_NONE);
    put_text(out->redirect_url, in.redirect_url);
    out->def_acl_down.type = code_of(kAclType, in.acltype_down, 0);
    out->def_acl_up.type = code_of(kAclType, in.acltype_up, 0);
    out->def_bwmax_down = in.bwmax_down;
    out->def_bwmax_up = in.bwmax_up;
    put_text(out->def_acl_down.name, in.acl_down);
    put_text(out->def_acl_up.name, in.acl_up);
    put_text(out->def_policy_down.name, in.policy_down);
    put_text(out->def_policy_up.name, in.policy_up);
    return 0;
}

int map_config_vap_apply(map_cs* cs, char** error) {
    if (cs == nullptr) {
        map_config_error_set(error, "Error in applying the VAP configuration");
        return -1;
    }
    // The records do not change during the pass: one look serves every VAP.
    const int any_tunneled = map_find_tunneled_vap(cs);
    for (int i = 0; i < MAP_CS_NUM_RADIOS; ++i) {
        const map_radio_config& radio = cs->radio[i];
        char name[MAP_RADIO_TEXT_LEN];
        snprintf(name, sizeof name, "%.*s", MAP_RADIO_TEXT_LEN - 1, radio.radio_name);
        if (name[0] == '\0' || map_dman_lsql_is_radio_instance_exist(name) != 0) {
            MAP_TRACE(MAP_TRACE_CONFIG,
                      "Vap config is not applied as the radio instance does not exist for %s",
                      name);
            continue;
        }
        if (radio.admin_mode == 0) {
            MAP_TRACE(MAP_TRACE_CONFIG,
                      "Vap config is not applied as the radio admin mode is disabled for %s", name);
            continue;
        }
        map_cs_radio_vaps& vaps = cs->vaps[i];
        for (int v = 0; vaps.vap_config && v < vaps.num_vaps; ++v) {
            if (apply_one_vap(vaps.vap_config[v], name, any_tunneled, error) != 0) {
                return -1;
            }
        }
    }
    return 0;
}
