// The distributed layer-2 tunnel: client tunnels between a roaming client's
// home AP and the AP it associates with.  The kernel module takes its global
// settings at {3, 23, 1, item} and the client operations at {3, 23, 3, item};
// hostapd hears of each configuration, set-up and termination by a local
// message.  The switch drives it with messages 113 (configuration), 114
// (set-up) and 112 (termination), taken only on an established link.
#pragma once

#include <cstdint>

struct map_switch_comm;

// Global settings, 42 packed bytes (host order).
struct map_dl2tunnel_config_record {
    uint8_t ap_mac[6];
    uint8_t mgmt_vid[4];
    uint8_t untagged_vid[4];
    uint8_t max_clients[4];
    uint8_t idle_timeout[4];
    uint8_t age_timeout[4];
    uint8_t mc_replication_limit[4];
    uint8_t ap_ip[4];
    uint8_t ap_netmask[4];
    uint8_t gateway[4];
};
static_assert(sizeof(map_dl2tunnel_config_record) == 42);

// Set-up of a client tunnel: 36 packed bytes as the module takes them.
struct map_dl2tunnel_setup_record {
    uint8_t home_ap_mac[6];
    uint8_t client_mac[6];
    uint8_t assoc_ap_mac[6];
    uint8_t assoc_ap_ip[16];  // IPv4 in the last 4 bytes, host order
    uint8_t vlan_id[2];       // host order
};
static_assert(sizeof(map_dl2tunnel_setup_record) == 36);

// Termination of a client's tunnel: 12 bytes.
struct map_dl2tunnel_term_record {
    uint8_t home_ap_mac[6];
    uint8_t client_mac[6];
};
static_assert(sizeof(map_dl2tunnel_term_record) == 12);

// Association of a tunnelled client: 37 packed bytes (VLAN and address in
// host order).
struct map_dl2tunnel_assoc_record {
    uint8_t home_flag;  // 1: this AP is the client's home AP
    uint8_t vlan_id[2];
    uint8_t client_mac[6];
    uint8_t home_ap_mac[6];
    uint8_t assoc_ap_mac[6];
    uint8_t home_ap_ip[16];  // IPv4 in the last 4 bytes
};
static_assert(sizeof(map_dl2tunnel_assoc_record) == 37);

// Handlers of the switch's messages; `body` is the message after its header.
// 0 or -1.
int map_process_dl2tunnel_config_pkt(map_switch_comm* rec, const uint8_t* body, int length);
int map_process_dl2tunnel_setup_pkt(map_switch_comm* rec, const uint8_t* body, int length);
int map_process_dl2tunnel_term_pkt(map_switch_comm* rec, const uint8_t* body, int length);

// Writes the limits, fills in and writes the AP's own settings, then enables
// the module; 1 or 0.
int map_dl2tunnel_config(map_dl2tunnel_config_record* rec);
// One write each of the client operations; always 1.
int map_dl2tunnel_setup(const map_dl2tunnel_setup_record* rec);
int map_dl2tunnel_terminate(const map_dl2tunnel_term_record* rec);
int map_dl2tunnel_assoc_reply(const map_dl2tunnel_assoc_record* rec);
// Item 34: 1 enable, 0 disable; 1 or 0.
int map_dl2tunnel_enable(uint32_t flag);

// Global setters ({3, 23, 1, item}); 1, or "sysctl error" and 0.
int map_dl2tunnel_ap_set_mgmtvid(uint32_t vid);                  // 11
int map_dl2tunnel_ap_set_utgvid(uint32_t vid);                   // 12
int map_dl2tunnel_ap_set_max_clients(uint32_t n);                // 13
int map_dl2tunnel_ap_set_tunnel_idle_timeout(uint32_t seconds);  // 14
int map_dl2tunnel_ap_set_tunnel_age_timeout(uint32_t seconds);   // 15
int map_dl2tunnel_ap_set_mc_replication_limit(uint32_t n);       // 16
int map_dl2tunnel_ap_set_ip_addr(uint32_t ip);                   // 17
int map_dl2tunnel_ap_set_ip_mask(uint32_t mask);                 // 18
int map_dl2tunnel_set_cpu_mac_addr(const uint8_t* mac);          // 19
int map_dl2tunnel_ap_set_ip_gateway(uint32_t ip);                // 20

// Configuration reads (the same tables and keys as the layer-2 tunnel's).
uint32_t map_dl2tunnel_dman_lsql_get_mgmt_vid();
uint32_t map_dl2tunnel_dman_lsql_get_untagged_vid();
uint32_t map_dl2tunnel_dman_lsql_get_gateway_ipaddr();
