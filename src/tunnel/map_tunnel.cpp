// The layer-2 tunnel's kernel tables: the AP entry, the VAP entries and the
// ARP entries.
#include "tunnel/map_tunnel.hpp"

#include <cstring>
#include <memory>

#include "commands/map_cs.hpp"
#include "dman/lsqlquery.hpp"
#include "log/map_log.hpp"
#include "store/map_dman_lsql.hpp"
#include "switch/switch_comm.hpp"
#include "tunnel/map_tunnel_sysctl.hpp"

uint16_t ap_tunnel_created = 0;

namespace {

static constexpr char map_log_module[] = "map_tunnel";

// The module's tables: {3, 21, table, ...}.
constexpr int kModule = 21;
constexpr int kApTable = 28;
constexpr int kVapTable = 29;
constexpr int kArpTable = 30;

// AP entry items.
constexpr int kApItemSwitchIp = 11;
constexpr int kApItemGatewayIp = 12;
constexpr int kApItemLocalIp = 13;
constexpr int kApItemSubmask = 14;
constexpr int kApItemLocalMac = 15;
constexpr int kApItemMode = 16;
constexpr int kApItemMgmtVid = 17;
constexpr int kApItemUtgVid = 18;
constexpr int kApItemMtu = 19;

// VAP entry items.
constexpr int kVapItemVapMode = 44;
constexpr int kVapItemTunnelMode = 45;
constexpr int kVapItemSubIp = 46;
constexpr int kVapItemSubmask = 47;
constexpr int kVapItemVapId = 48;

// ARP entry items.
constexpr int kArpItemIp = 31;
constexpr int kArpItemMac = 32;
constexpr int kArpItemVapMac = 33;

// VAP identifiers of one radio: the slots of radio 2 start at 16.
constexpr uint32_t kVapsPerRadio = 16;

// One table item: 1, or "sysctl error" and 0.
int put(std::initializer_list<int> name, const void* value, size_t len, const char* ok_text) {
    if (map_tunnel_sysctl_write(name, value, len) != 0) {
        MAP_ERROR("sysctl error");
        return 0;
    }
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "%s", ok_text);
    return 1;
}

int ap_put(int item, uint32_t value, const char* ok_text) {
    return put({kModule, kApTable, item}, &value, sizeof value, ok_text);
}

// A VAP item's value: the VAP identifier, then the setting.
int vap_put(uint32_t vap_id, int item, uint32_t setting, const char* ok_text) {
    const uint32_t value[2] = {vap_id, setting};
    return put({kModule, kVapTable, static_cast<int>(vap_id + 1), item}, value, sizeof value,
               ok_text);
}

int arp_put(int item, const void* value, size_t len, const char* ok_text) {
    return put({kModule, kArpTable, item}, value, len, ok_text);
}

struct pv_free {
    void operator()(pv* list) const { lsqlquery_destroy_pv(list); }
};

// A property of a single-instance class read as a 32-bit value of `type` (a
// decimal number, or a dotted address to host order); 0 when absent, empty or
// not of that form.
uint32_t read_u32(const char* cls, const char* property, uint32_t type) {
    const std::unique_ptr<pv, pv_free> list(lsqlquery_get_pv(cls, nullptr, property));
    uint32_t value = 0;
    if (list && list->value != nullptr && list->value[0] != '\0') {
        map_dman_util_extract_value(type, list->value, &value, sizeof value);
    }
    return value;
}

}  // namespace

uint32_t map_tunnel_vap_identifier(uint32_t radio, uint32_t vap_index) {
    return (radio - 1) * kVapsPerRadio + vap_index;
}

// ---- AP entry -------------------------------------------------------------------------

int map_ap_set_switchip(uint32_t ip) {
    return ap_put(kApItemSwitchIp, ip, "switch ip sent OK\n\r");
}

int map_ap_set_gatewayip(uint32_t ip) {
    return ap_put(kApItemGatewayIp, ip, "gateway ip sent OK\n\r");
}

int map_ap_set_localip(uint32_t ip) {
    return ap_put(kApItemLocalIp, ip, "local ip sent OK\n\r");
}

int map_ap_set_submask(uint32_t mask) {
    return ap_put(kApItemSubmask, mask, "subnet mask sent OK\n\r");
}

int map_ap_set_localmac(const uint8_t* mac) {
    if (mac == nullptr) {
        return 0;
    }
    return put({kModule, kApTable, kApItemLocalMac}, mac, 6, "local mac sent OK\n\r");
}

// The tunnel mode is the last item of the entry; a refusal is reported and the
// entry still counts as written.
int map_ap_set_mode(uint32_t mode) {
    ap_put(kApItemMode, mode, "tunnel mode sent OK\n\r");
    return 1;
}

int map_ap_set_mgmtvid(uint32_t vid) {
    return ap_put(kApItemMgmtVid, vid, "mgmt vid sent OK\n\r");
}

int map_ap_set_utgvid(uint32_t vid) {
    return ap_put(kApItemUtgVid, vid, "untagged vid sent OK\n\r");
}

int map_ap_set_mtu(uint32_t mtu) {
    return ap_put(kApItemMtu, mtu, "mtu sent OK\n\r");
}

// ---- VAP entries ----------------------------------------------------------------------

int map_vap_set_vap_mode(uint32_t vap_id, uint32_t mode) {
    return vap_put(vap_id, kVapItemVapMode, mode, "vap mode sent OK\n\r");
}

int map_vap_set_tunnel_mode(uint32_t vap_id, uint32_t mode) {
    return vap_put(vap_id, kVapItemTunnelMode, mode, "vap tunnel mode sent OK\n\r");
}

int map_vap_set_subip(uint32_t vap_id, uint32_t ip) {
    return vap_put(vap_id, kVapItemSubIp, ip, "vap subnet ip sent OK\n\r");
}

int map_vap_set_submask(uint32_t vap_id, uint32_t mask) {
    return vap_put(vap_id, kVapItemSubmask, mask, "vap subnet mask sent OK\n\r");
}

int map_vap_set_vap_id(uint32_t vap_id) {
    return put({kModule, kVapTable, static_cast<int>(vap_id + 1), kVapItemVapId}, &vap_id,
               sizeof vap_id, "vap id sent OK\n\r");
}

// ---- ARP entries ----------------------------------------------------------------------

int map_arp_set_arpip(uint32_t ip) {
    return arp_put(kArpItemIp, &ip, sizeof ip, "arp ip sent OK\n\r");
}

int map_arp_set_arpmac(const uint8_t* mac) {
    return arp_put(kArpItemMac, mac, 6, "arp mac sent OK\n\r");
}

int map_arp_set_vapmac(const uint8_t* mac) {
    return arp_put(kArpItemVapMac, mac, 6, "arp vap mac sent OK\n\r");
}

// ---- whole entries --------------------------------------------------------------------

int map_ap_update(const map_ap_tunnel_record* rec) {
    if (rec == nullptr) {
        return 0;
    }
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "enter map_ap_update\n\r");
    // The module acts on the tunnel mode, so it goes last, after every value
    // it acts with.
    if (!map_ap_set_switchip(rec->switch_ip) || !map_ap_set_localip(rec->ap_ip) ||
        !map_ap_set_submask(rec->netmask) || !map_ap_set_gatewayip(rec->gateway_ip) ||
        !map_ap_set_localmac(rec->ap_mac) || !map_ap_set_mgmtvid(rec->mgmt_vid) ||
        !map_ap_set_utgvid(rec->untagged_vid) || !map_ap_set_mtu(rec->mtu) ||
        !map_ap_set_mode(rec->tunnel_mode)) {
        return 0;
    }
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "ap config data sent OK\n\r");
    return 1;
}

int map_vap_update(const map_vap_tunnel_record* rec) {
    if (rec == nullptr) {
        return 0;
    }
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "enter map_vap_update\n\r");
    const uint32_t id = rec->vap_id;
    if (!map_vap_set_vap_id(id) || !map_vap_set_subip(id, rec->sub_ip) ||
        !map_vap_set_submask(id, rec->sub_mask) || !map_vap_set_tunnel_mode(id, rec->tunnel_mode) ||
        !map_vap_set_vap_mode(id, rec->vap_mode)) {
        return 0;
    }
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "vap config data sent OK\n\r");
    return 1;
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

// ---- the AP entry's life --------------------------------------------------------------

int map_ap_tunnel_record_build(const map_switch_comm* link, map_ap_tunnel_record* out) {
    if (out == nullptr) {
        return -1;
    }
    *out = map_ap_tunnel_record{};
    if (map_lsql_base_ap_mac_get(out->ap_mac) != 0) {
        MAP_TRACE(MAP_TRACE_L2TUNNEL, "map_lsql_base_ap_mac_get error\n\r");
        return -1;
    }
    out->tunnel_mode = 1;
    out->gateway_ip = map_tunnel_dman_lsql_get_geteway_ipaddr();
    out->netmask = map_tunnel_dman_lsql_get_ap_ipmask();
    out->mgmt_vid = map_tunnel_dman_lsql_get_mgmt_vid();
    out->untagged_vid = map_tunnel_dman_lsql_get_untagged_vid();
    if (link != nullptr) {
        out->switch_ip = link->switch_ip;
        out->ap_ip = link->saved_ap_ip;
        out->mtu = link->tunnel_mtu;
    }
    const uint8_t* m = out->ap_mac;
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "ap_mac: %2.2x:%2.2x:%2.2x:%2.2x:%2.2x:%2.2x\n\r", m[0], m[1],
              m[2], m[3], m[4], m[5]);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "ap_gateway_ip = %x\n\r", out->gateway_ip);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "ap_netmask = %x\n\r", out->netmask);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "mgmt_vid = %u\n\r", out->mgmt_vid);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "untagged_vid = %u\n\r", out->untagged_vid);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "sw_ip = %x\n\r", out->switch_ip);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "ap_ip = %x\n\r", out->ap_ip);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "mtu = %u\n\r", out->mtu);
    return 0;
}

int map_ap_tunnel_create() {
    map_ap_tunnel_record rec;
    // Without a switch connection record the switch address, the AP address
    // and the MTU are written as 0.
    if (map_ap_tunnel_record_build(get_switch_context(), &rec) != 0) {
        return 0;
    }
    if (!map_ap_update(&rec)) {
        MAP_TRACE(MAP_TRACE_L2TUNNEL, "map_ap_update error\n\r");
        return 0;
    }
    ap_tunnel_created = 1;
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "map_ap_update OK\n\r");
    return 1;
}

int map_ap_tunnel_delete() {
    const map_ap_tunnel_record zero{};
    if (!map_ap_update(&zero)) {
        return 0;
    }
    ap_tunnel_created = 0;
    return 1;
}

// ---- configuration passes -------------------------------------------------------------

int map_find_tunneled_vap(map_cs* cs) {
    if (cs == nullptr) {
        return 0;
    }
    for (int r = 0; r < MAP_CS_NUM_RADIOS; ++r) {
        // An existing radio: its record names a "radio" instance of the
        // database, as the VAP apply decides it (through the same accessor;
        // the apply's own test is not exported).
        const char* name = cs->radio[r].radio_name;
        if (memchr(name, '\0', sizeof cs->radio[r].radio_name) == nullptr ||
            map_dman_lsql_is_radio_instance_exist(name) != 0) {
            continue;
        }
        const map_cs_radio_vaps& vaps = cs->vaps[r];
        for (int v = 0; vaps.vap_config && v < vaps.num_vaps; ++v) {
            if (vaps.vap_config[v].tunnel_mode != 0) {
                return 1;
            }
        }
    }
    return 0;
}

int map_vap_tunnel_configuration(const map_vap_config* vap, int any_tunneled) {
    // A record outside the two radios' identifier ranges has no VAP entry.
    if (vap == nullptr || vap->radio_id < 1 || vap->radio_id > uint32_t{MAP_CS_NUM_RADIOS} ||
        vap->vap_id >= kVapsPerRadio) {
        MAP_TRACE(MAP_TRACE_L2TUNNEL, "map_vap_update error\n\r");
        return -1;
    }
    map_vap_tunnel_record rec{};
    rec.vap_id = map_tunnel_vap_identifier(vap->radio_id, vap->vap_id);
    rec.vap_mode = vap->admin_mode;
    rec.tunnel_mode = vap->tunnel_mode;
    rec.sub_ip = vap->tunnel_subnet_addr;
    rec.sub_mask = vap->tunnel_subnet_mask;
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "vap_id = %u\n\r", rec.vap_id);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "vap_mode = %u\n\r", rec.vap_mode);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "tunnel_mode = %u\n\r", rec.tunnel_mode);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "sub_ip_addr = %x\n\r", rec.sub_ip);
    MAP_TRACE(MAP_TRACE_L2TUNNEL, "sub_ip_mask = %x\n\r", rec.sub_mask);
    if (!map_vap_update(&rec)) {
        MAP_TRACE(MAP_TRACE_L2TUNNEL, "map_vap_update error\n\r");
        return -1;
    }
    if (any_tunneled && !ap_tunnel_created && !map_ap_tunnel_create()) {
        MAP_TRACE(MAP_TRACE_L2TUNNEL, "map_ap_create error\n\r");
        return -1;
    }
    if (!any_tunneled && ap_tunnel_created && !map_ap_tunnel_delete()) {
        MAP_TRACE(MAP_TRACE_L2TUNNEL, "map_ap_delete error\n\r");
        return -1;
    }
    return 0;
}

// ---- configuration reads --------------------------------------------------------------

uint32_t map_tunnel_dman_lsql_get_ap_ipmask() {
    return map_dman_lsql_get_ap_ipmask();
}

uint32_t map_tunnel_dman_lsql_get_geteway_ipaddr() {
    return read_u32("ip-route", "gateway", MAP_DMAN_VT_IPV4);
}

uint32_t map_tunnel_dman_lsql_get_mgmt_vid() {
    return read_u32("management", "vlan-id", MAP_DMAN_VT_UINT32);
}

uint32_t map_tunnel_dman_lsql_get_untagged_vid() {
    return read_u32("untagged-vlan", "vlan-id", MAP_DMAN_VT_UINT32);
}
