// Configuration accessors: the one way the daemon reaches the configuration
// database.  Every operation makes a few lsqlquery_* calls and frees every
// list it obtained.  Unless a comment says otherwise they return 0 on success
// and -1 on failure.
//
// Also here: the property descriptor tables that map record fields to
// property texts and back, and the platform defaults applied at start-up.
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/map_radio_config.hpp"
#include "dman/lsqlquery.hpp"

// ---- property descriptors ----------------------------------------------------

// Value type codes of a descriptor: how a field becomes a property text
// (map_dman_util_populate_value) and back (map_dman_util_extract_value).
inline constexpr uint32_t MAP_DMAN_VT_TEXT = 0;        // character array
inline constexpr uint32_t MAP_DMAN_VT_INT16 = 1;       // signed 16-bit integer
inline constexpr uint32_t MAP_DMAN_VT_INT32 = 2;       // 32-bit signed
inline constexpr uint32_t MAP_DMAN_VT_UINT32 = 3;      // 32-bit unsigned
inline constexpr uint32_t MAP_DMAN_VT_LONG = 4;        // long
inline constexpr uint32_t MAP_DMAN_VT_FLOAT = 5;       // 32-bit float (written only)
inline constexpr uint32_t MAP_DMAN_VT_IPV4 = 6;        // 32-bit host-order address
inline constexpr uint32_t MAP_DMAN_VT_MAC = 7;         // 6-byte MAC
inline constexpr uint32_t MAP_DMAN_VT_INT64 = 8;       // 64-bit integer
inline constexpr uint32_t MAP_DMAN_VT_FLAG_YES = 9;    // 32-bit flag, read "Yes"/"up"
inline constexpr uint32_t MAP_DMAN_VT_UP_DOWN = 10;    // 8-bit "up"/"down" (read as 32-bit)
inline constexpr uint32_t MAP_DMAN_VT_YES_NO = 11;     // 8-bit "yes"/"no"
inline constexpr uint32_t MAP_DMAN_VT_ON_OFF = 12;     // 8-bit "on"/"off"
inline constexpr uint32_t MAP_DMAN_VT_NONE = 13;       // never written
inline constexpr uint32_t MAP_DMAN_VT_BYTE_LIST = 14;  // NUL-terminated bytes, "%d " each
inline constexpr uint32_t MAP_DMAN_VT_ANTENNA = 15;    // 8-bit left-right/left-middle/...
inline constexpr uint32_t MAP_DMAN_VT_IPV6 = 16;       // 16-byte address
inline constexpr uint32_t MAP_DMAN_VT_IP_TYPE = 17;    // 8-bit "IPV6"/"IPV4"
inline constexpr uint32_t MAP_DMAN_VT_COUNT = 18;      // codes from here on yield nothing

// Longest property name (a 64-character field) and the property text buffer.
inline constexpr size_t MAP_DMAN_NAME_LEN = 64;
inline constexpr size_t MAP_DMAN_VALUE_LEN = 256;

// One entry of a descriptor table.  `size` is an extension of the classic
// three fields: the byte size of the field, so that text and byte-list
// fields are never read or written past their end.  Build entries with
// MAP_DMAN_DESC so that it is always right.
struct map_dman_prop_desc {
    char name[MAP_DMAN_NAME_LEN];
    uint32_t type;
    uint32_t offset;
    uint32_t size;
};

// A descriptor for `member` of `record` (a standard-layout struct).
#define MAP_DMAN_DESC(prop_name, vt, record, member)                      \
    map_dman_prop_desc {                                                  \
        prop_name, (vt), static_cast<uint32_t>(offsetof(record, member)), \
            static_cast<uint32_t>(sizeof(record::member))                 \
    }

// One new node named after the descriptor holding the text of the field at
// `field`, or null (codes 13 and >= 18, no field, no memory).
pv* map_dman_util_populate_value(const map_dman_prop_desc* desc, uint32_t type, const void* field);
// The nodes of every descriptor of `table` on (base + offset), linked through
// `next` in table order; descriptors that yield no node are skipped.  Null
// when no node was made.  Free with lsqlquery_destroy_pv.
pv* map_dman_util_fill_pv_list(const map_dman_prop_desc* table, const void* base, uint32_t count);
// Converts `text` into the field at `field` of `field_size` bytes.  A null
// text, a code the reader does not handle (5, 11 to 15, >= 17) or text that
// does not convert stores nothing.  Text is taken like "%s" (its first
// blank-delimited word) and cut to the field size.
// Returns 0 when something was stored, else -1.
int map_dman_util_extract_value(uint32_t type, const char* text, void* field, size_t field_size);
// The first descriptor whose name is a prefix of `node_name`, or null.
const map_dman_prop_desc* map_dman_util_find_desc(const map_dman_prop_desc* table, uint32_t count,
                                                  const char* node_name);
// Grid read by descriptor table: asks for the table's properties of
// (cls, instance), zeroes `record` (`record_size` bytes) and stores every
// returned property into the field of the first matching descriptor.
// -1 when the grid is none (the record is then left untouched).
int map_dman_util_get_grid(const char* cls, const char* instance, const map_dman_prop_desc* table,
                           uint32_t count, void* record, size_t record_size, pv* qualifier,
                           int flag);

// ---- class "managed-ap" --------------------------------------------------------

inline constexpr size_t MAP_MANAGED_AP_TEXT_LEN = 256;
inline constexpr size_t MAP_MANAGED_AP_PASS_PHRASE_LEN = 64;
inline constexpr int MAP_MANAGED_AP_SWITCH_ADDRESSES = 4;

// The operator's managed-AP settings.
struct map_managed_ap_params {
    char mode[MAP_MANAGED_AP_TEXT_LEN];  // "mode": "up" or "down" (admin mode)
    // "switch-address-1" .. "-4": host name or dotted IPv4
    char switch_address[MAP_MANAGED_AP_SWITCH_ADDRESSES][MAP_MANAGED_AP_TEXT_LEN];
    char pass_phrase[MAP_MANAGED_AP_PASS_PHRASE_LEN];  // "pass-phrase"
    int32_t watchdog;                                  // "managed-mode-watchdog", minutes
    uint16_t dhcp_ip_base_port;                        // "dhcp-ip-base-port"
    uint16_t cfg_ip_base_port;                         // "cfg-ip-base-port"
    uint16_t ip_base_port;                             // "ip-base-port"
    uint16_t ip_tnl_udp_port;                          // "ip-tnl-udp-port"
    uint16_t ip_udp_port;                              // "ip-udp-port"
    uint16_t ip_ssl_port;                              // "ip-ssl-port"
    uint16_t ip_capwap_src_port;                       // "ip-capwap-src-port"
    uint16_t ip_capwap_dst_port;                       // "ip-capwap-dst-port"
};

// The descriptor table of map_managed_ap_params.
extern const map_dman_prop_desc map_managed_ap_desc_table[];
extern const uint32_t map_managed_ap_desc_count;

int map_dman_lsql_get_managed_ap_params(map_managed_ap_params* out);
int map_lsql_mapd_state_set(const char* state);         // "ap-state": "up"/"down", any case
int map_dman_int_set_dhcp_ip_base_port(uint16_t port);  // 0 or the library's result
// One transaction of the six port properties; nothing is written on failure.
int map_dman_int_set_ip_all_ports(uint16_t base, uint16_t tnl_udp, uint16_t udp, uint16_t ssl,
                                  uint16_t capwap_src, uint16_t capwap_dst);

// ---- class "system", "config", "device-info" --------------------------------------

int map_lsql_ap_config_save();
void map_lsql_base_ap_mac_set(const uint8_t mac[6]);
int map_lsql_base_ap_mac_get(uint8_t mac[6]);
void map_dman_lsql_get_ap_macaddr(uint8_t mac[6]);  // untouched when absent
int map_lsql_country_code_set(const char* code);
int map_lsql_country_code_get(char out[4]);  // first 3 characters, terminated
int map_lsql_country_code_is_configurable_set(int flag);
int map_lsql_country_code_is_configurable_get(int* flag);  // always 0
int map_lsql_serial_number_set(const char* text);
int map_lsql_serial_number_get(char* buffer, size_t size);
int map_lsql_part_number_get(char* buffer, size_t size);
int map_lsql_band_plan_set(const char* text);
int map_lsql_last_boot_set(const char* text);
int map_lsql_last_boot_get();  // 0 when "lastboot" begins "success"
int map_lsql_hardware_version_set(const char* text);
int map_lsql_product_id_set(const char* text);
int map_lsql_get_firmware_version(char* buffer, size_t size);
int map_lsql_ap_version_set(const char* text);
int map_lsql_ap_alt_version_set(const char* text);
int map_lsql_clustering_status_set(const char* text);  // "clustered": "0" or "1"
int map_dman_lsql_set_admin_passwd(const char* text);

// Host-order addresses of class "management"; 0 when absent or empty.
uint32_t map_dman_lsql_get_ap_ipaddr();
uint32_t map_dman_lsql_get_ap_ipmask();

// ---- radios and VAPs ---------------------------------------------------------------

int map_lsql_pwr_lvl_set(const char* radio, uint8_t level);
int map_lsql_new_channel_set(const char* radio, int channel);
int map_dman_lsql_get_num_radios();                             // count of "radio" instances
int map_dman_lsql_is_radio_instance_exist(const char* name);    // 0 or -1
int map_dman_lsql_get_radio_status(const char* name);           // 0 when "up"
int map_dman_lsql_get_sentry_mode(int radio_number);            // 1 on, else 2
int map_dman_lsql_get_vap_client_qos_mode(int vap, int radio);  // 1 up, else 0
int map_dman_lsql_get_global_cltqos_mode();                     // 1 up, else 0
// Client QoS modes written as "up" for 1, "down" for anything else: the
// single "client-qos" instance's "mode", and "qos-mode" of VAP `vap` of
// radio "wlan<radio>".
int map_dman_lsql_apply_global_cltqos_mode(int mode);
int map_dman_lsql_apply_vap_cltqos_mode(int vap, int radio, int mode);
// Deletes every instance of a client QoS definition class ("acl", ...).
int map_dman_lsql_delete_cltqos_class_all(const char* cls);
int map_dman_lsql_ap_detection_mode_set(const char* text);
// Walk the MAP_MAX_RADIOS records of `radios`; on failure the library's error
// text (if any) is left in *error for the caller to free.
int map_dman_lsql_radio_status_set(const map_radio_config* radios, int up, char** error);
int map_lsql_radio_rrm_mode_set(const map_radio_config* radios, int on, char** error);

// ---- features and external interfaces -----------------------------------------------

// When 1, disabling the external interfaces leaves running SSH sessions alone.
extern int map_global_dont_disable_ssh_session;

int map_dman_lsql_debug_login_status(int flag);
int map_dman_lsql_disable_ntp_feature();
int map_dman_lsql_disable_stp_feature();
int map_dman_lsql_wds_feature(const char* text);
int map_dman_lsql_external_interfaces_set(int enable, int debug_login);

// ---- client QoS definitions ------------------------------------------------------

// An entry of a client QoS list change (cltqos/map_cltqos.hpp).  Its id type
// picks the class: 8 "policy-map"; 4 "qos-mac-acl" with "acl-type" "mac"; 3
// "acl" with "acl-type" "ipv6"; any other "acl" with "acl-type" "ipv4".
struct map_cltqos_list_entry;
// 0 when the database holds the entry's definition, else -1.
int map_dman_lsql_is_exist_cltqos_id(const map_cltqos_list_entry* entry);
// Inserts (create 1) or deletes (otherwise) the entry's instance.  0 or -1.
int map_dman_lsql_apply_cltqos_list(const map_cltqos_list_entry* entry, int create);

// ---- platform defaults -----------------------------------------------------------

// Operations of a platform defaults step.
inline constexpr int MAP_PLATFORM_OP_SET = 0;
inline constexpr int MAP_PLATFORM_OP_DELETE_ALL = 1;
inline constexpr int MAP_PLATFORM_OP_INSERT = 2;
inline constexpr int MAP_PLATFORM_OP_END = 3;

struct map_platform_default {
    int op;
    const char* cls;
    const char* instance;  // null for single-instance classes
    const char* property;
    const char* value;
};

// The steps for a two-radio and a one-radio AP, each ended by MAP_PLATFORM_OP_END.
extern const map_platform_default map_platform_defaults_two_radios[];
extern const map_platform_default map_platform_defaults_one_radio[];

// Runs the table that fits the number of radios when `platform` begins
// "QX_WAP".  1 if applied, 0 if not.
int map_apply_platform_specific_changes(const char* platform);
