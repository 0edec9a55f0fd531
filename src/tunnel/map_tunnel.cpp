// Writes to the tunnel kernel modules' tables: the layer-2 tunnel's ARP
// entries and the distributed layer-2 tunnel's client operations.
#include "tunnel/map_tunnel.hpp"

#include <cstring>
#include <iterator>

#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "wire/map_text.hpp"

namespace {

static constexpr char map_log_module[] = "map_tunnel";

// Layer-2 tunnel ARP entry: {3, 21, 30, item}.
constexpr int kArpItemIp = 31;
constexpr int kArpItemMac = 32;
constexpr int kArpItemVapMac = 33;
// Distributed tunnel client operations: {3, 23, 3, item}.
constexpr int kDl2ItemTerminate = 32;
constexpr int kDl2ItemAssocReply = 33;

int write_entry(int table_a, int table_b, int item, const void* value, size_t len) {
    const int name[] = {3, table_a, table_b, item};
    return map_platform_sysctl_write(name, static_cast<int>(std::size(name)), value, len);
}

// One ARP item: 1, or "sysctl error" and 0.
int arp_set(int item, const void* value, size_t len, const char* ok_text) {
    if (write_entry(21, 30, item, value, len) != 0) {
        MAP_ERROR("sysctl error");
        return 0;
    }
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "%s", ok_text);
    return 1;
}

// One client operation of the distributed tunnel.  The module's answer does
// not change what the caller does next (the client is relayed either way), so
// a refused write is reported and the operation still counts as done.
void dl2_write(int item, const void* value, size_t len, const char* function) {
    if (write_entry(23, 3, item, value, len) != 0) {
        MAP_ERROR("sysctl error");
        return;
    }
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: sent OK", function);
}

}  // namespace

int map_arp_set_arpip(uint32_t ip) {
    return arp_set(kArpItemIp, &ip, sizeof ip, "arp ip sent OK\n\r");
}

int map_arp_set_arpmac(const uint8_t* mac) {
    return arp_set(kArpItemMac, mac, 6, "arp mac sent OK\n\r");
}

int map_arp_set_vapmac(const uint8_t* mac) {
    return arp_set(kArpItemVapMac, mac, 6, "arp vap mac sent OK\n\r");
}

int map_new_arp(const map_arp_record* rec) {
    if (rec == nullptr) {
        return 0;
    }
    const uint8_t* m = rec->client_mac;
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "MAP ARP client MAC: %2.2x:%2.2x:%2.2x:%2.2x:%2.2x:%2.2x\n\r",
              m[0], m[1], m[2], m[3], m[4], m[5]);
    if (!map_arp_set_arpmac(rec->client_mac)) {
        MAP_TRACE(MAP_TRACE_L2TUNNEL, "arp_mac_addr error\n\r");
        return 0;
    }
    if (!map_arp_set_vapmac(rec->vap_mac)) {
        MAP_TRACE(MAP_TRACE_L2TUNNEL, "map_arp_set_vapmac error\n\r");
        return 0;
    }
    if (!map_arp_set_arpip(rec->client_ip)) {
        MAP_TRACE(MAP_TRACE_L2TUNNEL, "map_arp_set_arpip error\n\r");
        return 0;
    }
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "arp config data sent OK\n\r");
    return 1;
}

int map_dl2tunnel_terminate(const map_dl2tunnel_term_record* rec) {
    if (rec == nullptr) {
        return 1;
    }
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: Home AP MAC: %s", __func__,
              mac_to_string(rec->home_ap_mac));
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: Client MAC:  %s", __func__, mac_to_string(rec->client_mac));
    dl2_write(kDl2ItemTerminate, rec, sizeof *rec, __func__);
    return 1;
}

int map_dl2tunnel_assoc_reply(const map_dl2tunnel_assoc_record* rec) {
    if (rec == nullptr) {
        return 1;
    }
    uint16_t vlan = 0;
    uint32_t home_ip = 0;
    memcpy(&vlan, rec->vlan_id, sizeof vlan);
    memcpy(&home_ip, rec->home_ap_ip + 12, sizeof home_ip);
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: Home flag:    %u", __func__, rec->home_flag);
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: VLAN ID:      %u", __func__, vlan);
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: Client MAC:   %s", __func__,
              mac_to_string(rec->client_mac));
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: Home AP MAC:  %s", __func__,
              mac_to_string(rec->home_ap_mac));
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: Assoc AP MAC: %s", __func__,
              mac_to_string(rec->assoc_ap_mac));
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: Home AP IP:   %s", __func__, ip_addr_to_string(home_ip));
    if (rec->home_flag == 1) {
        MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: dl2tunnel, this AP is home, setup client tunnel entry",
                  __func__);
    } else {
        MAP_TRACE(MAP_TRACE_DL2TUNNEL,
                  "%s: dl2tunnel, this AP is not home, set up client tunnel entry and tunnel",
                  __func__);
        MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: dl2tunnel assoc reply data sent OK", __func__);
    }
    dl2_write(kDl2ItemAssocReply, rec, sizeof *rec, __func__);
    return 1;
}
