// The central layer-2 tunnel's kernel entries: the VLAN list from message
// 128, the AP record, and the tunnel index read back for the statistics.
#include "tunnel/map_cl2tunnel.hpp"

#include <cstring>

#include "local/mmsg_print.hpp"
#include "local/mmsg_records.hpp"
#include "log/map_log.hpp"
#include "store/map_dman_lsql.hpp"
#include "switch/switch_comm.hpp"
#include "tunnel/map_tunnel.hpp"
#include "tunnel/map_tunnel_sysctl.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "map_cl2tunnel";

// The module's entries: {3, 24, 1, item}.
constexpr int kModule = 24;
constexpr int kTable = 1;
constexpr int kItemVlanList = 11;
constexpr int kItemApRecord = 12;
constexpr int kItemTunnelIndex = 13;

// Message 128's VLAN list element; a longer one would hold more than 64 IDs.
constexpr uint16_t kElemVlanList = 0x2020;
constexpr uint16_t kVlanListMaxLen = 129;

static_assert(sizeof(cl2tunnel_config_msg_s::vlan_ids) == sizeof(map_cl2tunnel_vlan_list::vlan));

// One write: 1, or "sysctl error" and 0.
int put(int item, const void* value, size_t len) {
    if (map_tunnel_sysctl_write({kModule, kTable, item}, value, len) != 0) {
        MAP_ERROR("sysctl error");
        return 0;
    }
    return 1;
}

// Appends the 16-bit big-endian IDs of one list element.  An odd length
// leaves a last byte that forms no ID: it is ignored.  IDs beyond the list's
// 64 (several elements together) are ignored too.
void append_vlans(map_cl2tunnel_vlan_list& list, std::span<const uint8_t> value) {
    for (size_t i = 0; i + 2 <= value.size() && list.count < MAP_CL2TUNNEL_MAX_VLANS; i += 2) {
        list.vlan[list.count++] = wire_load_be16(value.data() + i);
    }
}

// Prints the list as the local VLAN list record carries it.
void print_list(const map_cl2tunnel_vlan_list& list) {
    cl2tunnel_config_msg_s msg{};
    msg.type = MMSG_CL2TUNNEL_CONFIG;
    memcpy(msg.vlan_count, &list.count, sizeof msg.vlan_count);
    memcpy(msg.vlan_ids, list.vlan, sizeof msg.vlan_ids);
    cl2tunnel_config_msg_print(reinterpret_cast<const uint8_t*>(&msg), sizeof msg);
}

}  // namespace

int map_process_cl2tunnel_config_pkt(map_switch_comm* rec, const uint8_t* body, int length) {
    if (rec == nullptr) {
        MAP_ERROR("Incorrect context parameter.");
        return -1;
    }
    if (rec->state != MAP_SWITCH_COMM_ESTABLISHED) {
        MAP_ERROR("Invalid mapd mode.");
        return -1;
    }
    // A message of no elements is an empty list; only a missing body is an error.
    if (body == nullptr || length < 0) {
        MAP_ERROR("Error receiving Centralized L2 tunnel config message.");
        return -1;
    }
    map_cl2tunnel_vlan_list list{};
    wire_reader r = wire_reader_make(body, static_cast<size_t>(length));
    wire_elem e;
    while (wire_elem_next(r, e)) {
        if (e.type != kElemVlanList) {
            continue;
        }
        // A list running past the message is as wrong as a list too long:
        // the message is refused and the previous list stays.
        if (e.len > kVlanListMaxLen || !e.complete) {
            MAP_ERROR("Error in contents of Centralized L2 tunnel config message.");
            return -1;
        }
        append_vlans(list, e.value);
    }
    print_list(list);
    map_cl2tunnel_config(&list);
    return 0;
}

int map_cl2tunnel_ap_set_vlan_list(const map_cl2tunnel_vlan_list* list) {
    return list != nullptr && put(kItemVlanList, list, sizeof *list);
}

int map_cl2tunnel_config(const map_cl2tunnel_vlan_list* list) {
    if (!map_cl2tunnel_ap_set_vlan_list(list)) {
        MAP_TRACE(MAP_TRACE_CL2TUNNEL, "map_cl2tunnel_ap_set_vlan_list error\n\r");
        return 0;
    }
    MAP_TRACE(MAP_TRACE_CL2TUNNEL, "cl2tunnel config data sent OK\n\r");
    return 1;
}

int map_cl2tunnel_ap_record_build(const map_switch_comm* link, map_cl2tunnel_ap_record* out) {
    if (out == nullptr) {
        return -1;
    }
    *out = map_cl2tunnel_ap_record{};
    if (map_lsql_base_ap_mac_get(out->ap_mac) != 0) {
        MAP_TRACE(MAP_TRACE_CL2TUNNEL, "map_lsql_base_ap_mac_get error\n\r");
        return -1;
    }
    // The record holds the VLAN ID in 16 bits.
    const auto mgmt_vid = static_cast<uint16_t>(map_tunnel_dman_lsql_get_mgmt_vid());
    const uint32_t gateway = map_tunnel_dman_lsql_get_geteway_ipaddr();
    const uint32_t netmask = map_tunnel_dman_lsql_get_ap_ipmask();
    const uint32_t switch_ip = link != nullptr ? link->switch_ip : 0;
    const uint32_t ap_ip = link != nullptr ? link->saved_ap_ip : 0;
    memcpy(out->mgmt_vid, &mgmt_vid, sizeof out->mgmt_vid);
    memcpy(out->gateway, &gateway, sizeof out->gateway);
    memcpy(out->ap_netmask, &netmask, sizeof out->ap_netmask);
    memcpy(out->switch_ip, &switch_ip, sizeof out->switch_ip);
    memcpy(out->ap_ip, &ap_ip, sizeof out->ap_ip);
    const uint8_t* m = out->ap_mac;
    MAP_TRACE(MAP_TRACE_CL2TUNNEL, "ap_mac: %2.2x:%2.2x:%2.2x:%2.2x:%2.2x:%2.2x\n\r", m[0], m[1],
              m[2], m[3], m[4], m[5]);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "mgmt_vid = %d\n\r", mgmt_vid);
    MAP_TRACE(MAP_TRACE_CL2TUNNEL, "ap_gateway_ip = %x\n\r", gateway);
    MAP_TRACE(MAP_TRACE_CL2TUNNEL, "sw_ip = %x\n\r", switch_ip);
    MAP_TRACE(MAP_TRACE_CL2TUNNEL, "ap_ip = %x\n\r", ap_ip);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "ap_netmask = %x\n\r", netmask);
    return 0;
}

int map_ap_cl2tunnel_create() {
    map_cl2tunnel_ap_record rec;
    // Without a switch connection record the switch and AP addresses are 0.
    if (map_cl2tunnel_ap_record_build(get_switch_context(), &rec) != 0) {
        return -1;
    }
    if (!map_ap_cl2tunnel_update(&rec)) {
        MAP_TRACE(MAP_TRACE_CL2TUNNEL, "map_ap_cl2tunnel_update error\n\r");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CL2TUNNEL, "map_ap_cl2tunnel_update OK\n\r");
    return 0;
}

int map_ap_cl2tunnel_update(const map_cl2tunnel_ap_record* rec) {
    return rec != nullptr && put(kItemApRecord, rec, sizeof *rec);
}

int map_cl2tunnel_clear() {
    const map_cl2tunnel_ap_record zero{};
    return map_ap_cl2tunnel_update(&zero) ? 1 : -1;
}

int map_cl2tunnel_get_tunnel_index(uint8_t* buffer) {
    if (buffer == nullptr) {
        return 0;
    }
    // A shorter value leaves the rest of the 4 bytes zero.
    uint8_t value[4] = {};
    size_t len = sizeof value;
    if (map_tunnel_sysctl_read({kModule, kTable, kItemTunnelIndex}, value, &len) != 0) {
        MAP_ERROR("sysctl error");
        return 0;
    }
    memcpy(buffer, value, sizeof value);
    MAP_TRACE(MAP_TRACE_CL2TUNNEL, "ap config data received OK\n\r");
    return 1;
}
