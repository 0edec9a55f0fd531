// The VAP configuration record: what the switch's configuration elements say
// about one virtual access point, kept per radio in the config/status
// component (an array indexed by VAP id) and written to the configuration
// database ("vap", "interface", "bss").  The tunnel and captive-portal code
// read the same records.
#pragma once

#include <cstdint>

// Text fields, terminator included.
inline constexpr int MAP_VAP_SSID_LEN = 33;           // 32 characters
inline constexpr int MAP_VAP_WEP_KEYS = 4;            // "wep-key-1" .. "wep-key-4"
inline constexpr int MAP_VAP_WEP_KEY_LEN = 33;        // 32 characters
inline constexpr int MAP_VAP_WPA_KEY_LEN = 65;        // 64 characters
inline constexpr int MAP_VAP_REDIRECT_URL_LEN = 129;  // 128 characters
inline constexpr int MAP_VAP_QOS_NAME_LEN = 32;       // 31 characters

// Security modes ("security").
inline constexpr uint32_t MAP_VAP_SECURITY_PLAIN_TEXT = 1;
inline constexpr uint32_t MAP_VAP_SECURITY_STATIC_WEP = 2;
inline constexpr uint32_t MAP_VAP_SECURITY_DOT1X = 3;
inline constexpr uint32_t MAP_VAP_SECURITY_WPA_PERSONAL = 4;
inline constexpr uint32_t MAP_VAP_SECURITY_WPA_ENTERPRISE = 5;

// Authentication types of static WEP: open, shared, or both.
inline constexpr uint32_t MAP_VAP_AUTH_OPEN = 1;
inline constexpr uint32_t MAP_VAP_AUTH_SHARED = 2;
inline constexpr uint32_t MAP_VAP_AUTH_BOTH = 3;

// WPA versions and ciphers: bit 0 the first (WPA, TKIP), bit 1 the second
// (WPA2, CCMP); 3 is both.
inline constexpr uint32_t MAP_VAP_WPA_FIRST = 1;
inline constexpr uint32_t MAP_VAP_WPA_SECOND = 2;

// Redirect modes ("redirect-mode").
inline constexpr uint8_t MAP_VAP_REDIRECT_NONE = 1;
inline constexpr uint8_t MAP_VAP_REDIRECT_HTTP = 2;
inline constexpr uint8_t MAP_VAP_REDIRECT_IP = 3;

// ACL types of the client QoS defaults ("def-acltype-down"/"-up").
inline constexpr uint8_t MAP_VAP_ACL_IPV4 = 1;
inline constexpr uint8_t MAP_VAP_ACL_MAC = 2;
inline constexpr uint8_t MAP_VAP_ACL_IPV6 = 3;

// A default access list or policy of the VAP's client QoS settings.
struct map_vap_qos_ref {
    uint8_t type;                     // ACL: MAP_VAP_ACL_*; policy: as received
    char name[MAP_VAP_QOS_NAME_LEN];  // always terminated
};

// The VAP's captive-portal settings, filled by the captive-portal elements.
struct map_vap_cp {
    uint8_t changed;
    uint8_t enable;
    uint8_t block;
    uint8_t addr_type;  // 1 IPv4
    uint8_t addr[16];
    uint32_t ipv4;  // the IPv4 form of the address, host order
    uint16_t auth_port;
    uint16_t sec_auth_port[2];
    uint8_t if_mac[6];  // the portal interface's MAC
};

// One VAP, fields in declaration order; the comments give the property each
// field is written to.
struct map_vap_config {
    uint8_t vap_id;               // instance number
    uint8_t admin_mode;           // "status"
    char ssid[MAP_VAP_SSID_LEN];  // "ssid"
    uint32_t vlan_id;             // "vlan-id"
    uint8_t hide_ssid;            // "ignore-broadcast-ssid"
    uint8_t extra_flag;           // stored and compared only
    uint8_t tunnel_mode;          // non-zero = tunneled
    uint32_t tunnel_subnet_addr;  // host order
    uint32_t tunnel_subnet_mask;  // host order
    uint8_t dl2tunnel;            // distributed tunnel, from the option element
    uint32_t security_mode;       // "security", MAP_VAP_SECURITY_*
    uint32_t auth_type;           // MAP_VAP_AUTH_*
    uint32_t wpa_versions;        // "wpa-allowed", "wpa2-allowed"
    uint32_t wpa_ciphers;         // "wpa-cipher-tkip", "wpa-cipher-ccmp"
    uint8_t mac_acl_auth;         // "mac-acl-auth-type": 1 local, 2 radius, 3 disable
    uint8_t radius_accounting;    // "radius-accounting"
    uint16_t wep_key_length;      // "wep-key-length"
    uint8_t wep_key_ascii;        // "wep-key-ascii"
    uint8_t wep_default_key;      // "wep-default-key"
    char wep_key[MAP_VAP_WEP_KEYS][MAP_VAP_WEP_KEY_LEN];  // "wep-key-1" .. "wep-key-4"
    uint8_t extra_byte;                                   // stored and compared only
    char wpa_personal_key[MAP_VAP_WPA_KEY_LEN];           // "wpa-personal-key", from 8 characters
    uint8_t rsn_preauth;                                  // "rsn-preauthentication"
    uint16_t rsn_preauth_limit;                           // "rsn-preauthentication-limit"
    uint8_t dynamic_key_forwarding;                       // "dynamic-key-forwarding-mode"
    uint16_t key_cache_hold_time;                         // "key-cache-hold-time"
    uint32_t bcast_key_refresh_rate;                      // "broadcast-key-refresh-rate"
    uint32_t session_key_refresh_rate;                    // "session-key-refresh-rate"
    uint8_t arp_supp;                                     // "arp-supp-mode"
    uint32_t vap_changed;
    uint32_t radio_id;                            // 1 or 2
    uint8_t redirect_mode;                        // "redirect-mode", MAP_VAP_REDIRECT_*
    char redirect_url[MAP_VAP_REDIRECT_URL_LEN];  // "redirect-url"
    uint32_t redirect_value;                      // stored and compared only
    uint32_t cp_mask;                             // captive-portal IP mask
    uint8_t cltqos_mode;                          // "qos-mode"
    uint32_t def_bwmax_down;                      // "def-bwmax-down"
    uint32_t def_bwmax_up;                        // "def-bwmax-up"
    map_vap_qos_ref def_acl_down;                 // "def-acltype-down", "def-acl-down"
    map_vap_qos_ref def_acl_up;                   // "def-acltype-up", "def-acl-up"
    map_vap_qos_ref def_policy_down;              // "def-policy-down"
    map_vap_qos_ref def_policy_up;                // "def-policy-up"
    map_vap_cp cp;                                // captive portal
};
