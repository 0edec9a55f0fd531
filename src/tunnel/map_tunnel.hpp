// The tunnel kernel modules' tables, written through the platform door's
// binary sysctl: the layer-2 tunnel's ARP entries and the distributed layer-2
// tunnel's client operations.
#pragma once

#include <cstdint>

// ARP entry announced by the switch (client address in host order).
struct map_arp_record {
    uint32_t client_ip;
    uint8_t client_mac[6];
    uint8_t vap_mac[6];
};

// Termination of a client's distributed tunnel: 12 bytes as the module takes them.
struct map_dl2tunnel_term_record {
    uint8_t home_ap_mac[6];
    uint8_t client_mac[6];
};
static_assert(sizeof(map_dl2tunnel_term_record) == 12);

// Association of a tunnelled client: 37 packed bytes as the module takes them
// (VLAN and address in host order).
struct map_dl2tunnel_assoc_record {
    uint8_t home_flag;  // 1: this AP is the client's home AP
    uint8_t vlan_id[2];
    uint8_t client_mac[6];
    uint8_t home_ap_mac[6];
    uint8_t assoc_ap_mac[6];
    uint8_t home_ap_ip[16];  // IPv4 in the last 4 bytes
};
static_assert(sizeof(map_dl2tunnel_assoc_record) == 37);

// Writes one ARP entry (client MAC, VAP MAC, address); 1, or 0 on a failed write.
int map_new_arp(const map_arp_record* rec);
int map_arp_set_arpip(uint32_t ip);
int map_arp_set_arpmac(const uint8_t* mac);
int map_arp_set_vapmac(const uint8_t* mac);

// One write each of the client operations; always 1.
int map_dl2tunnel_terminate(const map_dl2tunnel_term_record* rec);
int map_dl2tunnel_assoc_reply(const map_dl2tunnel_assoc_record* rec);
