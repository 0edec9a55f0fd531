// The captive portal: redirects the web traffic of clients on portal-enabled
// VAPs until the switch reports them authenticated, and applies per-client
// rates.  Its kernel module takes an AP entry {3, 22, 1, item}, one entry per
// VAP {3, 22, 2, VAP identifier + 1, item} and client entries {3, 22, 3,
// item}; 32-bit values and addresses in host order.  Setters return 0 on
// success, or log "sysctl error" and return non-zero.
#pragma once

#include <cstdint>

struct map_cs;
struct map_vap_config;

inline constexpr int MAP_CP_MAX_CLIENTS = 512;

// What map_cp_ap_update writes into the AP entry.
struct map_cp_ap_record {
    uint32_t update;  // 1 create, 0 delete
    uint8_t ap_mac[6];
    uint32_t gateway_ip;
    uint32_t ap_ip;
    uint32_t netmask;
    uint32_t switch_ip;
    uint32_t mgmt_vid;
    uint32_t untagged_vid;
};

// What map_cp_vap_update writes into one VAP entry.
struct map_cp_vap_record {
    uint32_t update;
    uint32_t vap_id;
    uint32_t enabled;
    uint32_t blocked;
    uint32_t redirect_ip;
    uint32_t auth_port;
    uint32_t sec_auth_port[2];
    uint8_t if_mac[6];
    uint32_t ip_mask;
};

// What map_cp_sta writes into the client entry.
struct map_cp_sta_record {
    uint32_t update;
    uint32_t authed;
    uint8_t mac[6];
    uint32_t vap_id;
    uint32_t up_rate;
    uint32_t down_rate;
};

// One client of the portal, as the switch's client elements set it.
struct map_cp_client {
    uint8_t mac[6];
    uint8_t radio;  // 1 or 2
    uint8_t vap;    // VAP index
    uint8_t authed;
    uint32_t up_rate;
    uint32_t down_rate;
};

// The portal's clients, kept in the config/status component.
struct map_cp_client_table {
    int count;
    map_cp_client entry[MAP_CP_MAX_CLIENTS];
};

// 1 while the AP entry holds a created portal.
extern uint16_t ap_cp_created;

// ---- AP entry setters ({3, 22, 1, item}) -------------------------------------------
int map_cp_ap_set_update(uint32_t update);        // 1
int map_cp_ap_set_switch_ip(uint32_t ip);         // 2
int map_cp_ap_set_gatewayip(uint32_t ip);         // 3
int map_cp_ap_set_ap_ip(uint32_t ip);             // 4
int map_cp_ap_set_submask(uint32_t mask);         // 5
int map_cp_ap_set_ap_mac(const uint8_t* mac);     // 6
int map_cp_ap_set_mgmtvid(uint32_t vid);          // 7
int map_cp_ap_set_utgvid(uint32_t vid);           // 8

// ---- VAP entry setters ({3, 22, 2, vap_id + 1, item}); the value alone -----------------
int map_cp_vap_set_vap_update(uint32_t vap_id, uint32_t update);         // 1
int map_cp_vap_set_vap_enable(uint32_t vap_id, uint32_t enable);         // 2
int map_cp_vap_set_vap_block(uint32_t vap_id, uint32_t block);           // 3
int map_cp_vap_set_vap_authport(uint32_t vap_id, uint32_t port);         // 4
int map_cp_vap_set_vap_redirip(uint32_t vap_id, uint32_t ip);            // 5
int map_cp_vap_set_vap_sec_auth_ports(uint32_t vap_id, const uint32_t* ports);  // 6: two values
int map_cp_vap_set_cp_mac(uint32_t vap_id, const uint8_t* mac);          // 7
int map_cp_vap_set_vap_redirmask(uint32_t vap_id, uint32_t mask);        // 8
int map_cp_vap_set_vap_id(uint32_t vap_id);                              // 9

// ---- client entry setters ({3, 22, 3, item}) ---------------------------------------
int map_cp_set_sta_update(uint32_t update);       // 11
int map_cp_set_sta_mac(const uint8_t* mac);       // 12
int map_cp_set_sta_vap_id(uint32_t vap_id);       // 14
int map_cp_set_sta_up_rate(uint32_t rate);        // 15
int map_cp_set_sta_down_rate(uint32_t rate);      // 16
int map_cp_set_sta_authed(uint32_t authed);       // 17

// Write one entry each; 0, or non-zero at the first refused write.
int map_cp_ap_update(const map_cp_ap_record* rec);    // 2, 4, 5, 3, 6, 7, 8, 1
int map_cp_vap_update(const map_cp_vap_record* rec);  // 9, 2, 3, 4, 5, 6, 7, 8, 1
int map_cp_sta(const map_cp_sta_record* rec);         // 17, 12, 14, 15, 16, 11

// Create (update 1) or clear (all zero) the AP entry; 0 or -1.
int map_cp_ap_create();
int map_cp_ap_delete();
// Writes a cleared entry for every VAP of both radios below the BSS maximum;
// always 0.
int map_cp_vap_delete(map_cs* cs);
// 1 when a VAP of an existing radio has the portal enabled.
int map_find_cp_enabled_vap(map_cs* cs);
// Writes the VAP's portal entry, then creates or deletes the AP entry as
// `any_enabled` asks; clears the VAP's portal changed flag.  0 or -1.
int map_cp_vap_configuration(map_cs* cs, map_vap_config* vap, int any_enabled);
int map_cs_util_cp_vap_apply(map_cs* cs, map_vap_config* vap);
// Writes the client's entry; 0 or -1.
int map_cp_client_configuration(map_cs* cs, const map_cp_client* client);
int map_cs_util_cp_client_apply(map_cs* cs, const map_cp_client* client);

// Configuration reads (the same tables and keys as the layer-2 tunnel's).
uint32_t map_cp_dman_lsql_get_ap_ipmask();
uint32_t map_cp_dman_lsql_get_geteway_ipaddr();
uint32_t map_cp_dman_lsql_get_mgmt_vid();
uint32_t map_cp_dman_lsql_get_untagged_vid();
