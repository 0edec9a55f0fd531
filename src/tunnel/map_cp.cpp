// The captive portal's kernel tables: the AP entry, one entry per VAP and the
// client entry, and the configuration passes that fill them from the VAP
// records and the portal's clients.
#include "tunnel/map_cp.hpp"

#include <cstring>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "log/map_log.hpp"
#include "store/map_dman_lsql.hpp"
#include "store/map_vap_config.hpp"
#include "switch/switch_comm.hpp"
#include "tunnel/map_tunnel.hpp"
#include "tunnel/map_tunnel_sysctl.hpp"
#include "wire/map_text.hpp"

uint16_t ap_cp_created = 0;

namespace {

static constexpr char map_log_module[] = "map_cp";

// The portal module's number and its three tables.
constexpr int kCpModule = 22;
constexpr int kApTable = 1;
constexpr int kVapTable = 2;
constexpr int kStaTable = 3;

// VAP indexes per radio in the identifier space: radio 2 starts at 16.
constexpr uint32_t kVapIdsPerRadio = 16;

// One write of an entry: 0, or "sysctl error" and -1.  Successes are traced
// (`ok_text` null: the caller traces).
int report(int rc, const char* ok_text) {
    if (rc != 0) {
        MAP_ERROR("sysctl error");
        return -1;
    }
    if (ok_text != nullptr) {
        MAP_TRACE(MAP_TRACE_PORTAL, "%s", ok_text);
    }
    return 0;
}

// A missing value (a null MAC or port pair) is refused before any write.
int ap_set(int item, const void* value, size_t len, const char* ok_text) {
    if (value == nullptr) {
        return -1;
    }
    return report(map_tunnel_sysctl_write({kCpModule, kApTable, item}, value, len), ok_text);
}

int vap_set(uint32_t vap_id, int item, const void* value, size_t len, const char* ok_text) {
    if (value == nullptr) {
        return -1;
    }
    return report(map_tunnel_sysctl_write(
                      {kCpModule, kVapTable, static_cast<int>(vap_id) + 1, item}, value, len),
                  ok_text);
}

int sta_set(int item, const void* value, size_t len, const char* ok_text) {
    if (value == nullptr) {
        return -1;
    }
    return report(map_tunnel_sysctl_write({kCpModule, kStaTable, item}, value, len), ok_text);
}

// True when radio `radio` and VAP index `vap` have a VAP identifier.
bool identifiable(uint32_t radio, uint32_t vap) {
    return radio >= 1 && radio <= MAP_CS_NUM_RADIOS && vap < kVapIdsPerRadio;
}

// The switch connection record of the component (the process's one when the
// component has none).
const map_switch_comm* switch_of(const map_cs* cs) {
    if (cs != nullptr && cs->cb != nullptr && cs->cb->switch_comm != nullptr) {
        return cs->cb->switch_comm;
    }
    return get_switch_context();
}

}  // namespace

// ---- AP entry ------------------------------------------------------------------------

int map_cp_ap_set_update(uint32_t update) {
    return ap_set(1, &update, sizeof update, "update sent OK\n\r");
}
int map_cp_ap_set_switch_ip(uint32_t ip) {
    return ap_set(2, &ip, sizeof ip, "switch ip sent OK\n\r");
}
int map_cp_ap_set_gatewayip(uint32_t ip) {
    return ap_set(3, &ip, sizeof ip, "gateway ip sent OK\n\r");
}
int map_cp_ap_set_ap_ip(uint32_t ip) {
    return ap_set(4, &ip, sizeof ip, "ap ip sent OK\n\r");
}
int map_cp_ap_set_submask(uint32_t mask) {
    return ap_set(5, &mask, sizeof mask, "subnet mask sent OK\n\r");
}
int map_cp_ap_set_ap_mac(const uint8_t* mac) {
    return ap_set(6, mac, 6, "ap mac sent OK\n\r");
}
int map_cp_ap_set_mgmtvid(uint32_t vid) {
    return ap_set(7, &vid, sizeof vid, "mgmt vid sent OK\n\r");
}
int map_cp_ap_set_utgvid(uint32_t vid) {
    return ap_set(8, &vid, sizeof vid, "untagged vid sent OK\n\r");
}

// ---- VAP entries ---------------------------------------------------------------------

int map_cp_vap_set_vap_update(uint32_t vap_id, uint32_t update) {
    return vap_set(vap_id, 1, &update, sizeof update, "vap update sent OK\n\r");
}
int map_cp_vap_set_vap_enable(uint32_t vap_id, uint32_t enable) {
    return vap_set(vap_id, 2, &enable, sizeof enable, "vap enable sent OK\n\r");
}
int map_cp_vap_set_vap_block(uint32_t vap_id, uint32_t block) {
    return vap_set(vap_id, 3, &block, sizeof block, "vap block sent OK\n\r");
}
int map_cp_vap_set_vap_authport(uint32_t vap_id, uint32_t port) {
    return vap_set(vap_id, 4, &port, sizeof port, "vap auth port sent OK\n\r");
}
int map_cp_vap_set_vap_redirip(uint32_t vap_id, uint32_t ip) {
    return vap_set(vap_id, 5, &ip, sizeof ip, "vap redirect ip sent OK\n\r");
}
int map_cp_vap_set_vap_sec_auth_ports(uint32_t vap_id, const uint32_t* ports) {
    return vap_set(vap_id, 6, ports, 2 * sizeof *ports, "vap secure auth ports sent OK\n\r");
}
int map_cp_vap_set_cp_mac(uint32_t vap_id, const uint8_t* mac) {
    return vap_set(vap_id, 7, mac, 6, "vap cp mac sent OK\n\r");
}
int map_cp_vap_set_vap_redirmask(uint32_t vap_id, uint32_t mask) {
    return vap_set(vap_id, 8, &mask, sizeof mask, "vap redirect mask sent OK\n\r");
}
int map_cp_vap_set_vap_id(uint32_t vap_id) {
    return vap_set(vap_id, 9, &vap_id, sizeof vap_id, "vap id sent OK\n\r");
}

// ---- client entry --------------------------------------------------------------------

int map_cp_set_sta_update(uint32_t update) {
    return sta_set(11, &update, sizeof update, "sta update sent OK\n\r");
}
int map_cp_set_sta_mac(const uint8_t* mac) {
    if (sta_set(12, mac, 6, nullptr) != 0) {
        return -1;
    }
    MAP_TRACE(MAP_TRACE_PORTAL, "sta mac sent OK for %s\n\r", mac_to_string(mac));
    return 0;
}
int map_cp_set_sta_vap_id(uint32_t vap_id) {
    return sta_set(14, &vap_id, sizeof vap_id, "sta vap id sent OK\n\r");
}
int map_cp_set_sta_up_rate(uint32_t rate) {
    return sta_set(15, &rate, sizeof rate, "sta up rate sent OK\n\r");
}
int map_cp_set_sta_down_rate(uint32_t rate) {
    return sta_set(16, &rate, sizeof rate, "sta down rate sent OK\n\r");
}
int map_cp_set_sta_authed(uint32_t authed) {
    return sta_set(17, &authed, sizeof authed, "sta authed sent OK\n\r");
}

// ---- whole entries -------------------------------------------------------------------

int map_cp_ap_update(const map_cp_ap_record* rec) {
    if (rec == nullptr) {
        return -1;
    }
    // The update flag goes last: the module acts on it with the rest in place.
    if (map_cp_ap_set_switch_ip(rec->switch_ip) != 0 || map_cp_ap_set_ap_ip(rec->ap_ip) != 0 ||
        map_cp_ap_set_submask(rec->netmask) != 0 || map_cp_ap_set_gatewayip(rec->gateway_ip) != 0 ||
        map_cp_ap_set_ap_mac(rec->ap_mac) != 0 || map_cp_ap_set_mgmtvid(rec->mgmt_vid) != 0 ||
        map_cp_ap_set_utgvid(rec->untagged_vid) != 0 || map_cp_ap_set_update(rec->update) != 0) {
        return -1;
    }
    MAP_TRACE(MAP_TRACE_PORTAL, "cp ap config data sent OK\n\r");
    return 0;
}

int map_cp_vap_update(const map_cp_vap_record* rec) {
    if (rec == nullptr) {
        return -1;
    }
    const uint32_t id = rec->vap_id;
    if (map_cp_vap_set_vap_id(id) != 0 || map_cp_vap_set_vap_enable(id, rec->enabled) != 0 ||
        map_cp_vap_set_vap_block(id, rec->blocked) != 0 ||
        map_cp_vap_set_vap_authport(id, rec->auth_port) != 0 ||
        map_cp_vap_set_vap_redirip(id, rec->redirect_ip) != 0 ||
        map_cp_vap_set_vap_sec_auth_ports(id, rec->sec_auth_port) != 0 ||
        map_cp_vap_set_cp_mac(id, rec->if_mac) != 0 ||
        map_cp_vap_set_vap_redirmask(id, rec->ip_mask) != 0 ||
        map_cp_vap_set_vap_update(id, rec->update) != 0) {
        return -1;
    }
    MAP_TRACE(MAP_TRACE_PORTAL, "vap config data sent OK\n\r");
    return 0;
}

int map_cp_sta(const map_cp_sta_record* rec) {
    if (rec == nullptr) {
        return -1;
    }
    const char* error = nullptr;
    if (map_cp_set_sta_authed(rec->authed) != 0) {
        error = "map_cp_set_sta_authed error\n\r";
    } else if (map_cp_set_sta_mac(rec->mac) != 0) {
        error = "sta_mac_addr error\n\r";
    } else if (map_cp_set_sta_vap_id(rec->vap_id) != 0) {
        error = "map_cp_set_sta_vap_id error\n\r";
    } else if (map_cp_set_sta_up_rate(rec->up_rate) != 0) {
        error = "map_cp_set_sta_up_rate error\n\r";
    } else if (map_cp_set_sta_down_rate(rec->down_rate) != 0) {
        error = "map_cp_set_sta_down_rate error\n\r";
    } else if (map_cp_set_sta_update(rec->update) != 0) {
        error = "map_cp_set_sta_update error\n\r";
    }
    if (error != nullptr) {
        MAP_TRACE(MAP_TRACE_PORTAL, "%s", error);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_PORTAL, "sta config data sent OK\n\r");
    return 0;
}

// ---- the AP entry's life -------------------------------------------------------------

int map_cp_ap_create() {
    map_cp_ap_record rec{};
    rec.update = 1;
    if (map_lsql_base_ap_mac_get(rec.ap_mac) != 0) {
        MAP_TRACE(MAP_TRACE_PORTAL, "unable to read the AP base MAC\n\r");
        return -1;
    }
    rec.gateway_ip = map_cp_dman_lsql_get_geteway_ipaddr();
    rec.netmask = map_cp_dman_lsql_get_ap_ipmask();
    rec.mgmt_vid = map_cp_dman_lsql_get_mgmt_vid();
    rec.untagged_vid = map_cp_dman_lsql_get_untagged_vid();
    // Without a switch connection record the addresses stay 0.
    if (const map_switch_comm* sc = get_switch_context(); sc != nullptr) {
        rec.switch_ip = sc->switch_ip;
        rec.ap_ip = sc->saved_ap_ip;
    }
    MAP_TRACE(MAP_TRACE_PORTAL, "ap mac = %s\n\r", mac_to_string(rec.ap_mac));
    MAP_TRACE(MAP_TRACE_PORTAL, "gateway = %x, netmask = %x, ap ip = %x, switch ip = %x\n\r",
              rec.gateway_ip, rec.netmask, rec.ap_ip, rec.switch_ip);
    MAP_TRACE(MAP_TRACE_PORTAL, "mgmt vid = %u, untagged vid = %u\n\r", rec.mgmt_vid,
              rec.untagged_vid);
    if (map_cp_ap_update(&rec) != 0) {
        return -1;
    }
    ap_cp_created = 1;
    return 0;
}

int map_cp_ap_delete() {
    const map_cp_ap_record rec{};
    if (map_cp_ap_update(&rec) != 0) {
        return -1;
    }
    ap_cp_created = 0;
    return 0;
}

int map_cp_vap_delete(map_cs* cs) {
    const map_switch_comm* sc = switch_of(cs);
    // VAP indexes from 16 on would name the other radio's identifiers, so the
    // walk stops there whatever the BSS maximum says.
    uint32_t vaps = sc != nullptr ? sc->ap.max_bss : 0;
    if (vaps > kVapIdsPerRadio) {
        vaps = kVapIdsPerRadio;
    }
    for (uint32_t radio = 1; radio <= MAP_CS_NUM_RADIOS; ++radio) {
        for (uint32_t v = 0; v < vaps; ++v) {
            map_cp_vap_record rec{};
            rec.update = 1;
            rec.vap_id = map_tunnel_vap_identifier(radio, v);
            if (map_cp_vap_update(&rec) != 0) {
                MAP_TRACE(MAP_TRACE_PORTAL, "map_cp_vap_update error\n\r");
            }
        }
    }
    return 0;
}

int map_find_cp_enabled_vap(map_cs* cs) {
    if (cs == nullptr) {
        return 0;
    }
    for (int i = 0; i < MAP_CS_NUM_RADIOS; ++i) {
        // An existing radio: its record names a "radio" instance of the
        // database, as for the VAP apply and the layer-2 tunnel.
        const char* name = cs->radio[i].radio_name;
        if (memchr(name, '\0', sizeof cs->radio[i].radio_name) == nullptr ||
            map_dman_lsql_is_radio_instance_exist(name) != 0) {
            continue;
        }
        const map_cs_radio_vaps& r = cs->vaps[i];
        for (int v = 0; r.vap_config && v < r.num_vaps; ++v) {
            if (r.vap_config[v].cp.enable != 0) {
                return 1;
            }
        }
    }
    return 0;
}

// ---- configuration passes ------------------------------------------------------------

int map_cp_vap_configuration(map_cs*, map_vap_config* vap, int any_enabled) {
    // A record outside the two radios' identifier ranges has no VAP entry.
    if (vap == nullptr || !identifiable(vap->radio_id, vap->vap_id)) {
        MAP_TRACE(MAP_TRACE_PORTAL, "map_cp_vap_update error\n\r");
        return -1;
    }
    const map_vap_cp& cp = vap->cp;
    map_cp_vap_record rec{};
    rec.update = 1;
    rec.vap_id = map_tunnel_vap_identifier(vap->radio_id, vap->vap_id);
    rec.enabled = cp.enable;
    rec.blocked = cp.block;
    rec.redirect_ip = cp.addr_type == 1 ? cp.ipv4 : 0;  // only an IPv4 portal redirects
    rec.auth_port = cp.auth_port;
    rec.sec_auth_port[0] = cp.sec_auth_port[0];
    rec.sec_auth_port[1] = cp.sec_auth_port[1];
    memcpy(rec.if_mac, cp.if_mac, sizeof rec.if_mac);
    rec.ip_mask = vap->cp_mask;
    MAP_TRACE(MAP_TRACE_PORTAL, "vap_id = %u\n\r", rec.vap_id);
    MAP_TRACE(MAP_TRACE_PORTAL, "cp enable = %u\n\r", rec.enabled);
    MAP_TRACE(MAP_TRACE_PORTAL, "cp block = %u\n\r", rec.blocked);
    MAP_TRACE(MAP_TRACE_PORTAL, "cp redirect ip = %x\n\r", rec.redirect_ip);
    MAP_TRACE(MAP_TRACE_PORTAL, "cp auth port = %u\n\r", rec.auth_port);
    MAP_TRACE(MAP_TRACE_PORTAL, "cp secure auth ports = %u, %u\n\r", rec.sec_auth_port[0],
              rec.sec_auth_port[1]);
    MAP_TRACE(MAP_TRACE_PORTAL, "cp i/f mac = %s\n\r", mac_to_string(rec.if_mac));
    MAP_TRACE(MAP_TRACE_PORTAL, "cp ip mask = %x\n\r", rec.ip_mask);
    if (map_cp_vap_update(&rec) != 0) {
        MAP_TRACE(MAP_TRACE_PORTAL, "map_cp_vap_update error\n\r");
        return -1;
    }
    if (any_enabled && ap_cp_created == 0) {
        if (map_cp_ap_create() != 0) {
            MAP_TRACE(MAP_TRACE_PORTAL, "map_cp_ap_create error\n\r");
            return -1;
        }
    } else if (!any_enabled && ap_cp_created == 1) {
        if (map_cp_ap_delete() != 0) {
            MAP_TRACE(MAP_TRACE_PORTAL, "map_cp_ap_delete error\n\r");
            return -1;
        }
    }
    vap->cp.changed = 0;
    return 0;
}

int map_cs_util_cp_vap_apply(map_cs* cs, map_vap_config* vap) {
    return map_cp_vap_configuration(cs, vap, map_find_cp_enabled_vap(cs)) == 0 ? 0 : -1;
}

int map_cp_client_configuration(map_cs*, const map_cp_client* client) {
    if (client == nullptr || !identifiable(client->radio, client->vap)) {
        MAP_TRACE(MAP_TRACE_PORTAL, "map_cp_sta error\n\r");
        return -1;
    }
    map_cp_sta_record rec{};
    rec.update = 1;
    rec.authed = client->authed;
    memcpy(rec.mac, client->mac, sizeof rec.mac);
    rec.vap_id = map_tunnel_vap_identifier(client->radio, client->vap);
    rec.up_rate = client->up_rate;
    rec.down_rate = client->down_rate;
    const uint8_t* m = rec.mac;
    MAP_TRACE(MAP_TRACE_PORTAL, "CP client MAC: %2.2x:%2.2x:%2.2x:%2.2x:%2.2x:%2.2x\n\r", m[0],
              m[1], m[2], m[3], m[4], m[5]);
    MAP_TRACE(MAP_TRACE_PORTAL, "CP client authed = %u\n\r", rec.authed);
    MAP_TRACE(MAP_TRACE_PORTAL, "CP client vap_id = %u\n\r", rec.vap_id);
    MAP_TRACE(MAP_TRACE_PORTAL, "CP client up rate = %u, down rate = %u\n\r", rec.up_rate,
              rec.down_rate);
    if (map_cp_sta(&rec) != 0) {
        MAP_TRACE(MAP_TRACE_PORTAL, "map_cp_sta error\n\r");
        return -1;
    }
    return 0;
}

int map_cs_util_cp_client_apply(map_cs* cs, const map_cp_client* client) {
    return map_cp_client_configuration(cs, client) == 0 ? 0 : -1;
}

// ---- configuration reads: the layer-2 tunnel's tables and keys -----------------------

uint32_t map_cp_dman_lsql_get_ap_ipmask() {
    return map_tunnel_dman_lsql_get_ap_ipmask();
}
uint32_t map_cp_dman_lsql_get_geteway_ipaddr() {
    return map_tunnel_dman_lsql_get_geteway_ipaddr();
}
uint32_t map_cp_dman_lsql_get_mgmt_vid() {
    return map_tunnel_dman_lsql_get_mgmt_vid();
}
uint32_t map_cp_dman_lsql_get_untagged_vid() {
    return map_tunnel_dman_lsql_get_untagged_vid();
}
