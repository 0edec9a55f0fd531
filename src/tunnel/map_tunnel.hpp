// The layer-2 tunnel of tunnelled VAPs to the switch.  Its kernel module takes
// three tables through binary sysctl: the AP entry {3, 21, 28, item}, one
// entry per VAP {3, 21, 29, VAP identifier + 1, item} and the ARP entries
// announced by the switch {3, 21, 30, item}.  Addresses and 32-bit values are
// written in host order.  Setters return 1 on success, or log "sysctl error"
// and return 0.
#pragma once

#include <cstdint>

struct map_cs;
struct map_switch_comm;
struct map_vap_config;

// What map_ap_update writes into the AP entry.
struct map_ap_tunnel_record {
    uint32_t tunnel_mode;  // 1 create, 0 delete
    uint8_t ap_mac[6];
    uint32_t gateway_ip;
    uint32_t ap_ip;
    uint32_t switch_ip;
    uint32_t netmask;
    uint32_t mgmt_vid;
    uint32_t untagged_vid;
    uint32_t mtu;
};

// What map_vap_update writes into one VAP entry.
struct map_vap_tunnel_record {
    uint32_t vap_mode;
    uint32_t tunnel_mode;  // non-zero = tunnelled
    uint32_t vap_id;       // (radio - 1) * 16 + VAP index
    uint32_t sub_ip;
    uint32_t sub_mask;
};

// ARP entry announced by the switch (client address in host order).
struct map_arp_record {
    uint32_t client_ip;
    uint8_t client_mac[6];
    uint8_t vap_mac[6];
};

// 1 while the AP entry holds a created tunnel.
extern uint16_t ap_tunnel_created;

// The identifier of VAP `vap_index` of radio `radio` (1 or 2) in the tunnel
// and portal tables: (radio - 1) * 16 + VAP index.
uint32_t map_tunnel_vap_identifier(uint32_t radio, uint32_t vap_index);

// ---- AP entry setters ({3, 21, 28, item}) ------------------------------------------
int map_ap_set_switchip(uint32_t ip);     // 11
int map_ap_set_gatewayip(uint32_t ip);    // 12
int map_ap_set_localip(uint32_t ip);      // 13
int map_ap_set_submask(uint32_t mask);    // 14
int map_ap_set_localmac(const uint8_t* mac);  // 15
int map_ap_set_mode(uint32_t mode);       // 16; always 1
int map_ap_set_mgmtvid(uint32_t vid);     // 17
int map_ap_set_utgvid(uint32_t vid);      // 18
int map_ap_set_mtu(uint32_t mtu);         // 19

// ---- VAP entry setters ({3, 21, 29, vap_id + 1, item}); value: VAP id, setting ------
int map_vap_set_vap_mode(uint32_t vap_id, uint32_t mode);     // 44
int map_vap_set_tunnel_mode(uint32_t vap_id, uint32_t mode);  // 45
int map_vap_set_subip(uint32_t vap_id, uint32_t ip);          // 46
int map_vap_set_submask(uint32_t vap_id, uint32_t mask);      // 47
int map_vap_set_vap_id(uint32_t vap_id);                      // 48; value: VAP id alone

// ---- ARP entry setters ({3, 21, 30, item}) ------------------------------------------
int map_arp_set_arpip(uint32_t ip);           // 31
int map_arp_set_arpmac(const uint8_t* mac);   // 32
int map_arp_set_vapmac(const uint8_t* mac);   // 33

// Writes the AP entry: items 11, 13, 14, 12, 15, 17, 18, 19 and the tunnel
// mode 16 last, stopping at the first refused write; 1 or 0.
int map_ap_update(const map_ap_tunnel_record* rec);
// Writes one VAP entry: items 48, 46, 47, 45, 44; 1 or 0.
int map_vap_update(const map_vap_tunnel_record* rec);
// Writes one ARP entry (client MAC, VAP MAC, address); 1 or 0.
int map_new_arp(const map_arp_record* rec);

// Fills `out` for a created tunnel (tunnel mode 1): the base MAC, the
// database's gateway, netmask and VLANs, and the switch address, saved AP
// address and tunnel MTU of `link` (0 when there is no link record).  0, or
// -1 when the base MAC cannot be read.
int map_ap_tunnel_record_build(const map_switch_comm* link, map_ap_tunnel_record* out);
// Creates the AP entry from that record built with the switch connection
// record; 1 or 0.  Sets ap_tunnel_created.
int map_ap_tunnel_create();
// Writes an all-zero AP entry (tunnel mode 0 last); 1 or 0.  Clears
// ap_tunnel_created on success.
int map_ap_tunnel_delete();

// 1 when a VAP (index below the BSS maximum) of an existing radio is tunnelled.
int map_find_tunneled_vap(map_cs* cs);
// Writes the VAP's entry, then creates or deletes the AP entry as
// `any_tunneled` asks; 0 or -1 (also for a record outside radios 1 and 2 or
// with a VAP index of 16 or more, which has no entry).
int map_vap_tunnel_configuration(const map_vap_config* vap, int any_tunneled);

// Configuration reads, host-order addresses and numbers, 0 when absent.
uint32_t map_tunnel_dman_lsql_get_ap_ipmask();       // "management" "mask"
uint32_t map_tunnel_dman_lsql_get_geteway_ipaddr();  // "ip-route" "gateway"
uint32_t map_tunnel_dman_lsql_get_mgmt_vid();        // "management" "vlan-id"
uint32_t map_tunnel_dman_lsql_get_untagged_vid();    // "untagged-vlan" "vlan-id"
