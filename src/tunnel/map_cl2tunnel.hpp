// The central layer-2 tunnel: the traffic of selected VLANs from the AP to the
// switch.  Its kernel module takes the VLAN list and the AP record at
// {3, 24, 1, item}; item 13 reads back the tunnel index the statistics use.
// The switch sends the VLAN list in message 128, taken only on an
// established link.
#pragma once

#include <cstdint>

struct map_switch_comm;

inline constexpr int MAP_CL2TUNNEL_MAX_VLANS = 64;

// The VLAN list as the module takes it: 130 bytes, host order.
struct map_cl2tunnel_vlan_list {
    uint16_t count;
    uint16_t vlan[MAP_CL2TUNNEL_MAX_VLANS];
};
static_assert(sizeof(map_cl2tunnel_vlan_list) == 130);

// The AP record: 72 bytes, host order, the gaps zero.
struct map_cl2tunnel_ap_record {
    uint8_t ap_mac[6];
    uint8_t mgmt_vid[2];
    uint8_t pad1[12];
    uint8_t ap_ip[4];
    uint8_t pad2[12];
    uint8_t ap_netmask[4];
    uint8_t pad3[12];
    uint8_t gateway[4];
    uint8_t pad4[12];
    uint8_t switch_ip[4];
};
static_assert(sizeof(map_cl2tunnel_ap_record) == 72);

// Handler of message 128; `body` is the message after its header.  0 or -1.
int map_process_cl2tunnel_config_pkt(map_switch_comm* rec, const uint8_t* body, int length);
// Writes the VLAN list (item 11); 1, or "sysctl error" and 0.
int map_cl2tunnel_ap_set_vlan_list(const map_cl2tunnel_vlan_list* list);
// The same, tracing the outcome; 1 or 0.
int map_cl2tunnel_config(const map_cl2tunnel_vlan_list* list);
// Fills `out`: the base MAC, the database's management VLAN, gateway and
// netmask, and the switch and saved AP addresses of `link` (0 when there is
// no link record).  0, or -1 when the base MAC cannot be read.
int map_cl2tunnel_ap_record_build(const map_switch_comm* link, map_cl2tunnel_ap_record* out);
// Builds the AP record with the switch connection record and writes it; 0 or -1.
int map_ap_cl2tunnel_create();
// Writes an AP record (item 12); 1 or 0.
int map_ap_cl2tunnel_update(const map_cl2tunnel_ap_record* rec);
// Writes an all-zero AP record; 1 or -1.
int map_cl2tunnel_clear();
// Reads the 4-byte tunnel index (item 13) into `buffer`; 1 or 0.
int map_cl2tunnel_get_tunnel_index(uint8_t* buffer);
