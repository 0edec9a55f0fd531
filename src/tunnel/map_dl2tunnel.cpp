// The distributed layer-2 tunnel: its kernel tables, the switch's
// configuration, set-up and termination messages, and what hostapd is told.
#include "tunnel/map_dl2tunnel.hpp"

#include <cstddef>
#include <cstring>
#include <iterator>
#include <span>

#include "local/mmsg_handler.hpp"
#include "local/mmsg_records.hpp"
#include "local/relay_common.hpp"
#include "log/map_log.hpp"
#include "store/map_dman_lsql.hpp"
#include "switch/switch_comm.hpp"
#include "tunnel/map_tunnel.hpp"
#include "tunnel/map_tunnel_sysctl.hpp"
#include "wire/map_text.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "map_dl2tunnel";

// Errors are reported under the name of the operation that met them.
#define DL2_ERROR(fn, ...) map_print_error(map_log_module, __LINE__, (fn), __VA_ARGS__)

// The module's tables: {3, 23, table, item}.
constexpr int kDl2Module = 23;
constexpr int kTableGlobal = 1;
constexpr int kTableClient = 3;

constexpr int kItemMgmtVid = 11;
constexpr int kItemUntaggedVid = 12;
constexpr int kItemMaxClients = 13;
constexpr int kItemIdleTimeout = 14;
constexpr int kItemAgeTimeout = 15;
constexpr int kItemMcReplication = 16;
constexpr int kItemIpAddr = 17;
constexpr int kItemIpMask = 18;
constexpr int kItemCpuMac = 19;
constexpr int kItemGateway = 20;
constexpr int kItemSetup = 31;
constexpr int kItemTerminate = 32;
constexpr int kItemAssocReply = 33;
constexpr int kItemEnable = 34;

// Elements of the switch's messages.
constexpr uint16_t kElemClientMac = 19;
constexpr uint16_t kElemAssocApMac = 33;
constexpr uint16_t kElemAssocApAddr = 257;
constexpr uint16_t kElemVlan = 0x500C;
constexpr uint16_t kElemLimits = 0x5040;
constexpr uint16_t kElemHomeApMac = 0x5041;

constexpr size_t kMacLen = 6;
constexpr size_t kAddrLen = 16;
constexpr size_t kIpv4At = 12;  // the IPv4 address is the last 4 of the 16 address bytes
constexpr size_t kLimitsLen = 16;

// One write of the module's tables: 1 with "<function>: sent OK" traced, or
// "sysctl error" and 0.
int dl2_set(int table, int item, const void* value, size_t len, const char* function) {
    if (map_tunnel_sysctl_write({kDl2Module, table, item}, value, len) != 0) {
        DL2_ERROR(function, "sysctl error");
        return 0;
    }
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: sent OK", function);
    return 1;
}

int global_set(int item, uint32_t value, const char* function) {
    return dl2_set(kTableGlobal, item, &value, sizeof value, function);
}

uint32_t load_host32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}
void store_host32(uint8_t* p, uint32_t v) {
    memcpy(p, &v, sizeof v);
}

// One 32-bit setting of the configuration record and the setter that writes it.
struct config_write {
    const char* label;   // the value's name in its trace
    const char* setter;  // named when the write is refused
    int (*set)(uint32_t);
    size_t offset;  // of the value in the configuration record
    bool address;   // traced as a dotted address
};
#define DL2_WRITE(label, field, setter, address)                                      \
    config_write {                                                                    \
        label, #setter, setter, offsetof(map_dl2tunnel_config_record, field), address \
    }

// Traces and writes each value in turn; false at the first refused write,
// which is traced with its setter's name.
bool config_writes(const map_dl2tunnel_config_record& rec, std::span<const config_write> writes) {
    for (const config_write& w : writes) {
        const uint32_t v = load_host32(reinterpret_cast<const uint8_t*>(&rec) + w.offset);
        if (w.address) {
            MAP_TRACE(MAP_TRACE_DL2TUNNEL, "map_dl2tunnel_config: %s: %s", w.label,
                      ip_addr_to_string(v));
        } else {
            MAP_TRACE(MAP_TRACE_DL2TUNNEL, "map_dl2tunnel_config: %s: %d", w.label,
                      static_cast<int>(v));
        }
        if (!w.set(v)) {
            MAP_TRACE(MAP_TRACE_DL2TUNNEL, "map_dl2tunnel_config: %s error", w.setter);
            return false;
        }
    }
    return true;
}

// The checks the three messages start with; false once one has been reported.
bool dl2_checks(const map_switch_comm* rec, const uint8_t* body, int length, const char* rx_error,
                const char* fn) {
    const char* why = mmsg_relay::refusal(rec, length < 0 ? nullptr : body, true, rx_error);
    if (why != nullptr) {
        DL2_ERROR(fn, "%s", why);
        return false;
    }
    return true;
}

// Hands each element to `visit` while a header's worth of bytes remains; an
// element is skipped by its own length whatever `visit` does with it, and one
// that runs past the message is the last.
template <typename Fn>
void dl2_walk(const uint8_t* body, int length, Fn&& visit) {
    wire_reader r = wire_reader_make(body, static_cast<size_t>(length));
    wire_elem e;
    while (wire_elem_next(r, e)) {
        visit(e);
    }
}

// A recognised element is taken only at its fixed size with its whole value
// present.  Any other length leaves the field as it was: a shorter value is
// not the field, a longer one (an address with a family byte in front, say)
// would be misread, and one cut off by the message's end was never sent whole.
bool take(const wire_elem& e, void* out, size_t n) {
    if (!e.complete || e.value.size() != n) {
        return false;
    }
    memcpy(out, e.value.data(), n);
    return true;
}

// Sends a local message to hostapd; a send of any other size is reported.
template <typename T>
int send_local(const T& msg, const char* error_text, const char* fn) {
    if (mmsg_handler_send(reinterpret_cast<const uint8_t*>(&msg), sizeof msg) !=
        static_cast<int>(sizeof msg)) {
        DL2_ERROR(fn, "%s", error_text);
        return -1;
    }
    return 0;
}

void trace_mac(const char* fn, const char* label, const uint8_t* mac) {
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: %s%s", fn, label, mac_to_string(mac));
}

}  // namespace

// ---- global settings ({3, 23, 1, item}) ----------------------------------------------

int map_dl2tunnel_ap_set_mgmtvid(uint32_t vid) {
    return global_set(kItemMgmtVid, vid, __func__);
}
int map_dl2tunnel_ap_set_utgvid(uint32_t vid) {
    return global_set(kItemUntaggedVid, vid, __func__);
}
int map_dl2tunnel_ap_set_max_clients(uint32_t n) {
    return global_set(kItemMaxClients, n, __func__);
}
int map_dl2tunnel_ap_set_tunnel_idle_timeout(uint32_t seconds) {
    return global_set(kItemIdleTimeout, seconds, __func__);
}
int map_dl2tunnel_ap_set_tunnel_age_timeout(uint32_t seconds) {
    return global_set(kItemAgeTimeout, seconds, __func__);
}
int map_dl2tunnel_ap_set_mc_replication_limit(uint32_t n) {
    return global_set(kItemMcReplication, n, __func__);
}
int map_dl2tunnel_ap_set_ip_addr(uint32_t ip) {
    return global_set(kItemIpAddr, ip, __func__);
}
int map_dl2tunnel_ap_set_ip_mask(uint32_t mask) {
    return global_set(kItemIpMask, mask, __func__);
}
int map_dl2tunnel_set_cpu_mac_addr(const uint8_t* mac) {
    return mac != nullptr ? dl2_set(kTableGlobal, kItemCpuMac, mac, kMacLen, __func__) : 0;
}
int map_dl2tunnel_ap_set_ip_gateway(uint32_t ip) {
    return global_set(kItemGateway, ip, __func__);
}

uint32_t map_dl2tunnel_dman_lsql_get_mgmt_vid() {
    return map_tunnel_dman_lsql_get_mgmt_vid();
}
uint32_t map_dl2tunnel_dman_lsql_get_untagged_vid() {
    return map_tunnel_dman_lsql_get_untagged_vid();
}
uint32_t map_dl2tunnel_dman_lsql_get_gateway_ipaddr() {
    return map_tunnel_dman_lsql_get_geteway_ipaddr();
}

// ---- client operations ({3, 23, 3, item}) ----------------------------------------------

int map_dl2tunnel_enable(uint32_t flag) {
    return dl2_set(kTableClient, kItemEnable, &flag, sizeof flag, __func__);
}

int map_dl2tunnel_config(map_dl2tunnel_config_record* rec) {
    if (rec == nullptr) {
        return 0;
    }
    static constexpr config_write kLimits[] = {
        DL2_WRITE("max_clients", max_clients, map_dl2tunnel_ap_set_max_clients, false),
        DL2_WRITE("tunnel_idle_timeout", idle_timeout, map_dl2tunnel_ap_set_tunnel_idle_timeout,
                  false),
        DL2_WRITE("tunnel_age_timeout", age_timeout, map_dl2tunnel_ap_set_tunnel_age_timeout,
                  false),
        DL2_WRITE("mc_replication_limit", mc_replication_limit,
                  map_dl2tunnel_ap_set_mc_replication_limit, false),
    };
    // After the MAC address, in this order.
    static constexpr config_write kOwn[] = {
        DL2_WRITE("ip_addr", ap_ip, map_dl2tunnel_ap_set_ip_addr, true),
        DL2_WRITE("ip_mask", ap_netmask, map_dl2tunnel_ap_set_ip_mask, true),
        DL2_WRITE("ip_gateway", gateway, map_dl2tunnel_ap_set_ip_gateway, true),
        DL2_WRITE("mgmtvid", mgmt_vid, map_dl2tunnel_ap_set_mgmtvid, false),
        DL2_WRITE("utgvid", untagged_vid, map_dl2tunnel_ap_set_utgvid, false),
    };
    if (!config_writes(*rec, kLimits)) {
        return 0;
    }

    // The AP's own settings.  Without a base MAC the record's own (as the
    // caller left it) is written and the rest goes on.
    uint8_t mac[kMacLen] = {};
    if (map_lsql_base_ap_mac_get(mac) != 0) {
        MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: failed to get cpu_mac_addr", __func__);
    } else {
        memcpy(rec->ap_mac, mac, kMacLen);
    }
    store_host32(rec->mgmt_vid, map_dl2tunnel_dman_lsql_get_mgmt_vid());
    store_host32(rec->untagged_vid, map_dl2tunnel_dman_lsql_get_untagged_vid());
    const map_switch_comm* sc = get_switch_context();
    store_host32(rec->ap_ip, sc != nullptr ? sc->saved_ap_ip : map_dman_lsql_get_ap_ipaddr());
    store_host32(rec->ap_netmask, map_dman_lsql_get_ap_ipmask());
    store_host32(rec->gateway, map_dl2tunnel_dman_lsql_get_gateway_ipaddr());

    trace_mac(__func__, "cpu_mac_addr: ", rec->ap_mac);
    if (!map_dl2tunnel_set_cpu_mac_addr(rec->ap_mac)) {
        MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: map_dl2tunnel_set_cpu_mac_addr error", __func__);
        return 0;
    }
    if (!config_writes(*rec, kOwn)) {
        return 0;
    }
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: dl2tunnel config data sent OK", __func__);

    if (!map_dl2tunnel_enable(1)) {
        MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: map_dl2tunnel_enable error", __func__);
        return 0;
    }
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: dl2tunnel enable data sent OK", __func__);
    return 1;
}

// The module's answers to the client operations do not change what the caller
// does next (hostapd is told, the client relayed, either way): a refused write
// is reported and the operation still counts as done.
int map_dl2tunnel_setup(const map_dl2tunnel_setup_record* rec) {
    if (rec == nullptr) {
        return 1;
    }
    uint16_t vlan;
    memcpy(&vlan, rec->vlan_id, sizeof vlan);
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: VLAN ID:      %d", __func__, vlan);
    trace_mac(__func__, "Home AP MAC:  ", rec->home_ap_mac);
    trace_mac(__func__, "Client MAC:   ", rec->client_mac);
    trace_mac(__func__, "Assoc AP MAC: ", rec->assoc_ap_mac);
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: Assoc AP IP:  %s", __func__,
              ip_addr_to_string(load_host32(rec->assoc_ap_ip + kIpv4At)));
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: dl2tunnel setup data sent OK", __func__);
    dl2_set(kTableClient, kItemSetup, rec, sizeof *rec, __func__);
    return 1;
}

int map_dl2tunnel_terminate(const map_dl2tunnel_term_record* rec) {
    if (rec == nullptr) {
        return 1;
    }
    trace_mac(__func__, "Home AP MAC: ", rec->home_ap_mac);
    trace_mac(__func__, "Client MAC:  ", rec->client_mac);
    dl2_set(kTableClient, kItemTerminate, rec, sizeof *rec, __func__);
    return 1;
}

int map_dl2tunnel_assoc_reply(const map_dl2tunnel_assoc_record* rec) {
    if (rec == nullptr) {
        return 1;
    }
    uint16_t vlan = 0;
    memcpy(&vlan, rec->vlan_id, sizeof vlan);
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: Home flag:    %u", __func__, rec->home_flag);
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: VLAN ID:      %u", __func__, vlan);
    trace_mac(__func__, "Client MAC:   ", rec->client_mac);
    trace_mac(__func__, "Home AP MAC:  ", rec->home_ap_mac);
    trace_mac(__func__, "Assoc AP MAC: ", rec->assoc_ap_mac);
    MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: Home AP IP:   %s", __func__,
              ip_addr_to_string(load_host32(rec->home_ap_ip + kIpv4At)));
    if (rec->home_flag == 1) {
        MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: dl2tunnel, this AP is home, setup client tunnel entry",
                  __func__);
    } else {
        MAP_TRACE(MAP_TRACE_DL2TUNNEL,
                  "%s: dl2tunnel, this AP is not home, set up client tunnel entry and tunnel",
                  __func__);
        MAP_TRACE(MAP_TRACE_DL2TUNNEL, "%s: dl2tunnel assoc reply data sent OK", __func__);
    }
    dl2_set(kTableClient, kItemAssocReply, rec, sizeof *rec, __func__);
    return 1;
}

// ---- the switch's messages ---------------------------------------------------------

int map_process_dl2tunnel_config_pkt(map_switch_comm* rec, const uint8_t* body, int length) {
    if (!dl2_checks(rec, body, length, "Error receiving dist l2 tunnel config message.",
                    __func__)) {
        return -1;
    }
    // Limits the message does not carry stay 0.
    map_dl2tunnel_config_record cfg{};
    dl2_walk(body, length, [&](const wire_elem& e) {
        uint8_t v[kLimitsLen];
        if (e.type == kElemLimits && take(e, v, sizeof v)) {
            uint8_t* fields[] = {cfg.max_clients, cfg.idle_timeout, cfg.age_timeout,
                                 cfg.mc_replication_limit};
            for (size_t i = 0; i < std::size(fields); ++i) {
                store_host32(fields[i], wire_load_be32(v + 4 * i));
            }
        }
    });
    dl2tunnel_config_msg_s msg{};
    msg.type = MMSG_DL2TUNNEL_CONFIG;
    msg.max_clients = load_host32(cfg.max_clients);
    msg.tunnel_idle_timeout = load_host32(cfg.idle_timeout);
    msg.tunnel_age_timeout = load_host32(cfg.age_timeout);
    msg.mc_replication_limit = load_host32(cfg.mc_replication_limit);
    // hostapd is told the limits whether or not the module took them.
    map_dl2tunnel_config(&cfg);
    return send_local(msg, "Error sending dist l2 tunnel config msg to hostapd.", __func__);
}

int map_process_dl2tunnel_setup_pkt(map_switch_comm* rec, const uint8_t* body, int length) {
    if (!dl2_checks(rec, body, length, "Error receiving dist l2 tunnel setup message.", __func__)) {
        return -1;
    }
    map_dl2tunnel_setup_record setup{};
    dl2_walk(body, length, [&](const wire_elem& e) {
        uint8_t vlan[2];
        switch (e.type) {
            case kElemHomeApMac:
                (void)take(e, setup.home_ap_mac, kMacLen);
                break;
            case kElemClientMac:
                (void)take(e, setup.client_mac, kMacLen);
                break;
            case kElemAssocApMac:
                (void)take(e, setup.assoc_ap_mac, kMacLen);
                break;
            case kElemAssocApAddr:
                if (take(e, setup.assoc_ap_ip, kAddrLen)) {
                    store_host32(setup.assoc_ap_ip + kIpv4At,
                                 wire_load_be32(setup.assoc_ap_ip + kIpv4At));
                }
                break;
            case kElemVlan:
                if (take(e, vlan, sizeof vlan)) {
                    const uint16_t id = wire_load_be16(vlan);
                    memcpy(setup.vlan_id, &id, sizeof id);
                }
                break;
            default:
                break;
        }
    });
    map_dl2tunnel_setup(&setup);
    dl2tunnel_setup_msg_s msg{};
    msg.type = MMSG_DL2TUNNEL_SETUP;
    memcpy(msg.home_ap_mac, setup.home_ap_mac, kMacLen);
    memcpy(msg.client_mac, setup.client_mac, kMacLen);
    memcpy(msg.assoc_ap_mac, setup.assoc_ap_mac, kMacLen);
    memcpy(msg.assoc_ap_ipv6, setup.assoc_ap_ip, kAddrLen);
    memcpy(&msg.vlan_id, setup.vlan_id, sizeof msg.vlan_id);
    return send_local(msg, "Error sending dist l2 tunnel setup msg to hostapd.", __func__);
}

int map_process_dl2tunnel_term_pkt(map_switch_comm* rec, const uint8_t* body, int length) {
    if (!dl2_checks(rec, body, length, "Error receiving dist l2 tunnel term message.", __func__)) {
        return -1;
    }
    map_dl2tunnel_term_record term{};
    dl2_walk(body, length, [&](const wire_elem& e) {
        if (e.type == kElemHomeApMac) {
            (void)take(e, term.home_ap_mac, kMacLen);
        } else if (e.type == kElemClientMac) {
            (void)take(e, term.client_mac, kMacLen);
        }
    });
    map_dl2tunnel_terminate(&term);
    dl2tunnel_term_msg_s msg{};
    msg.type = MMSG_DL2TUNNEL_TERM;
    memcpy(msg.home_ap_mac, term.home_ap_mac, kMacLen);
    memcpy(msg.client_mac, term.client_mac, kMacLen);
    return send_local(msg, "Error sending dist l2 tunnel term msg to hostapd.", __func__);
}
