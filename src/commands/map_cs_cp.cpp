// Captive-portal elements of a configuration message, taken in any
// configuration state: portal on, off, blocked or unblocked for a VAP, its
// authentication ports, and a client's authentication state or removal.  A
// VAP element writes the VAP's portal entry at once, a client element the
// client's entry.  Also the AP's own disassociation of clients, which tells
// hostapd and keeps the association table in step.  An element's content
// error (unknown VAP or client, a refused write) fails it and the walk goes
// on; sizes are checked by the walk before a handler runs.
#include <cstring>

#include "commands/map_cs.hpp"
#include "commands/map_cs_elems.hpp"
#include "local/mmsg_handler.hpp"
#include "local/mmsg_records.hpp"
#include "log/map_log.hpp"
#include "stats/map_stats.hpp"
#include "store/map_vap_config.hpp"
#include "tunnel/map_cp.hpp"
#include "wire/map_text.hpp"
#include "wire/wire.hpp"

static constexpr char map_log_module[] = "map_cs";

namespace {

using value_t = std::span<const uint8_t>;

constexpr uint8_t kDisassocCmd = 5;
constexpr size_t kMacLen = 6;
constexpr size_t kAddrLen = 16;
constexpr size_t kIpv4Offset = 12;  // an IPv4 address is the last 4 of the 16 bytes

// The association table entry of a client, or null.
const map_client_entry* assoc_entry(const map_cs* cs, const uint8_t* mac) {
    const map_client_table& t = cs->stats.table;
    for (int i = 0; i <= t.last && i < MAP_STATS_MAX_CLIENTS; ++i) {
        if (memcmp(t.entry[i].mac, mac, kMacLen) == 0) {
            return &t.entry[i];
        }
    }
    return nullptr;
}

// Removes the portal entry at `i` (the last one takes its place).
void cp_remove(map_cp_client_table& t, int i) {
    t.entry[i] = t.entry[t.count - 1];
    t.entry[t.count - 1] = map_cp_client{};
    --t.count;
}

int cp_index(const map_cp_client_table& t, const uint8_t* mac) {
    for (int i = 0; i < t.count; ++i) {
        if (memcmp(t.entry[i].mac, mac, kMacLen) == 0) {
            return i;
        }
    }
    return -1;
}

void cp_drop(map_cs* cs, const uint8_t* mac) {
    const int i = cp_index(cs->cp_clients, mac);
    if (i >= 0) {
        cp_remove(cs->cp_clients, i);
    }
}

// Drops the portal entries of clients that are no longer associated.
void cp_prune(map_cs* cs) {
    map_cp_client_table& t = cs->cp_clients;
    for (int i = t.count - 1; i >= 0; --i) {
        if (assoc_entry(cs, t.entry[i].mac) == nullptr) {
            cp_remove(t, i);
        }
    }
}

// The radio id and VAP id that every VAP element starts with, and the VAP's
// record; null (and the element fails) for a VAP the component does not have.
map_vap_config* vap_of(map_cs* cs, wire_reader& r, uint8_t& radio_id, uint8_t& vap_id) {
    if (!wire_read_u8(r, radio_id) || !wire_read_u8(r, vap_id)) {
        return nullptr;
    }
    map_vap_config* vap = map_cs_get_vap_config(cs, radio_id, vap_id);
    if (vap == nullptr) {
        MAP_ERROR("ERROR: no VAP %d on radio %d for the captive portal", vap_id, radio_id);
    }
    return vap;
}

// Writes the VAP's portal entry; the element's result.
int vap_apply(map_cs* cs, map_vap_config* vap) {
    if (map_cs_util_cp_vap_apply(cs, vap) != 0) {
        MAP_TRACE(MAP_TRACE_PORTAL, "CP VAP config apply returned failure");
        return MAP_CS_ELEM_FAILED;
    }
    return MAP_CS_ELEM_OK;
}

// Disable, block and unblock: the flags change, the VAP is marked changed,
// its clients go when the portal closes on them, and the entry is written.
int vap_flags(map_cs* cs, value_t value, bool enable_off, uint8_t block, bool disassociate) {
    wire_reader r = wire_reader_make(value.data(), value.size());
    uint8_t radio_id = 0;
    uint8_t vap_id = 0;
    map_vap_config* vap = vap_of(cs, r, radio_id, vap_id);
    if (vap == nullptr) {
        return MAP_CS_ELEM_FAILED;
    }
    if (enable_off) {
        vap->cp.enable = 0;
    }
    vap->cp.block = block;
    vap->cp.changed = 1;
    if (disassociate) {
        map_cs_disassociate_vap_clients(cs, radio_id, vap_id);
    }
    return vap_apply(cs, vap);
}

// The port elements: radio id, VAP id, a 16-bit network-order port into the
// auth port (`index` -1) or secure port `index`; the VAP is marked changed
// when it differs and its entry written again either way (the module takes
// the entry whole).
int vap_port(map_cs* cs, value_t value, int index) {
    wire_reader r = wire_reader_make(value.data(), value.size());
    uint8_t radio_id = 0;
    uint8_t vap_id = 0;
    map_vap_config* vap = vap_of(cs, r, radio_id, vap_id);
    uint16_t port = 0;
    if (vap == nullptr || !wire_read_be16(r, port)) {
        return MAP_CS_ELEM_FAILED;
    }
    uint16_t& slot = index < 0 ? vap->cp.auth_port : vap->cp.sec_auth_port[index];
    if (map_cs_elem_update(slot, port)) {
        vap->cp.changed = 1;
    }
    return vap_apply(cs, vap);
}

// The client of a client element, or null when the AP does not have it.
map_cp_client* client_of(map_cs* cs, value_t value) {
    if (value.size() < kMacLen) {
        return nullptr;
    }
    map_cp_client* client = map_cs_cp_client_find(cs, value.data());
    if (client == nullptr) {
        MAP_ERROR("ERROR: captive portal client %s is not associated", mac_to_string(value.data()));
    }
    return client;
}

int client_apply(map_cs* cs, const map_cp_client* client) {
    if (map_cs_util_cp_client_apply(cs, client) != 0) {
        MAP_TRACE(MAP_TRACE_PORTAL, "CP Client config apply returned failure");
        return -1;
    }
    return 0;
}

}  // namespace

// ---- the AP's own disassociations -----------------------------------------------------

// hostapd gets the 7-byte local disassociate command (type 5 and the client
// MAC); the client then leaves the association table (and the portal's).
int map_cs_disassociate_client(map_cs* cs, const uint8_t* client_mac) {
    if (cs == nullptr || client_mac == nullptr) {
        return -1;
    }
    disassoc_cmdmsg_s msg{};
    msg.type = kDisassocCmd;
    memcpy(msg.client_macaddr, client_mac, kMacLen);
    if (mmsg_handler_send(reinterpret_cast<const uint8_t*>(&msg), sizeof msg) !=
        static_cast<int>(sizeof msg)) {
        // hostapd keeps the client, so the tables keep it too.
        MAP_ERROR("Error sending disassociate cmd msg to hostapd.");
        return -1;
    }
    const uint8_t* m = client_mac;
    MAP_TRACE(MAP_TRACE_PORTAL, "Disassociated client %02x:%02x:%02x:%02x:%02x:%02x\n", m[0], m[1],
              m[2], m[3], m[4], m[5]);
    cp_drop(cs, client_mac);
    map_cs_process_disassoc_cmd(cs, client_mac);
    return 0;
}

void map_cs_disassociate_vap_clients(map_cs* cs, int radio_id, int vap_id) {
    if (cs == nullptr) {
        return;
    }
    // From the end down: a removal moves the last entry into the freed place,
    // and that entry has been looked at already.
    map_client_table& t = cs->stats.table;
    for (int i = t.last < MAP_STATS_MAX_CLIENTS ? t.last : MAP_STATS_MAX_CLIENTS - 1; i >= 0; --i) {
        if (t.entry[i].radio == radio_id && t.entry[i].vap == vap_id) {
            uint8_t mac[kMacLen];
            memcpy(mac, t.entry[i].mac, kMacLen);
            map_cs_disassociate_client(cs, mac);
        }
    }
    MAP_TRACE(MAP_TRACE_PORTAL, "Disassociated all the clients on radio %d/vap %d\n", radio_id,
              vap_id);
}

map_cp_client* map_cs_cp_client_find(map_cs* cs, const uint8_t* client_mac) {
    if (cs == nullptr || client_mac == nullptr) {
        return nullptr;
    }
    // The association table decides which clients the portal knows: a client
    // gone from it loses its portal entry too.
    const map_client_entry* assoc = assoc_entry(cs, client_mac);
    if (assoc == nullptr) {
        cp_drop(cs, client_mac);
        return nullptr;
    }
    map_cp_client_table& t = cs->cp_clients;
    int i = cp_index(t, client_mac);
    if (i < 0) {
        if (t.count >= MAP_CP_MAX_CLIENTS) {
            cp_prune(cs);
        }
        if (t.count >= MAP_CP_MAX_CLIENTS) {
            MAP_ERROR("ERROR: captive portal client table is full");
            return nullptr;
        }
        i = t.count++;
        t.entry[i] = map_cp_client{};
        memcpy(t.entry[i].mac, client_mac, kMacLen);
    }
    // A client that moved to another VAP keeps its portal state; its place
    // follows the association table.
    t.entry[i].radio = assoc->radio;
    t.entry[i].vap = assoc->vap;
    return &t.entry[i];
}

// ---- VAP elements ---------------------------------------------------------------------

// Radio id, VAP id, address type (1 IPv4), 16 address bytes (an IPv4
// address in the last 4, network order), the portal interface's MAC and the
// prefix length.  The VAP is marked changed when the type, address, MAC or
// mask differ; its clients go and its entry is written either way.
int map_cs_handler_process_cp_enable_config(map_cs* cs, std::span<const uint8_t> value) {
    wire_reader r = wire_reader_make(value.data(), value.size());
    uint8_t radio_id = 0;
    uint8_t vap_id = 0;
    uint8_t addr_type = 0;
    uint8_t addr[kAddrLen] = {};
    uint8_t if_mac[kMacLen] = {};
    uint8_t prefix = 0;
    map_vap_config* vap = vap_of(cs, r, radio_id, vap_id);
    if (vap == nullptr || !wire_read_u8(r, addr_type) || !wire_read_bytes(r, addr, kAddrLen) ||
        !wire_read_bytes(r, if_mac, kMacLen) || !wire_read_u8(r, prefix)) {
        return MAP_CS_ELEM_FAILED;
    }
    map_vap_cp& cp = vap->cp;
    cp.enable = 1;
    bool changed = map_cs_elem_update(cp.addr_type, addr_type);
    if (memcmp(cp.addr, addr, kAddrLen) != 0) {
        memcpy(cp.addr, addr, kAddrLen);
        changed = true;
    }
    // The IPv4 form is kept whatever the type; the portal's entry redirects
    // to it only for an IPv4 address.
    cp.ipv4 = wire_load_be32(addr + kIpv4Offset);
    if (memcmp(cp.if_mac, if_mac, kMacLen) != 0) {
        memcpy(cp.if_mac, if_mac, kMacLen);
        changed = true;
    }
    changed |= map_cs_elem_update(vap->cp_mask, map_ipv4_prefix_to_mask_convert(prefix));
    if (changed) {
        cp.changed = 1;
    }
    MAP_TRACE(MAP_TRACE_PORTAL,
              "Processed CP Enable Cmd pkt on radio %d/vap %d, cpEnable %d, flag %d, i/f MAC "
              "%02X:%02X:%02X:%02X:%02X:%02X, mask %x\n",
              radio_id, vap_id, cp.enable, cp.changed, if_mac[0], if_mac[1], if_mac[2], if_mac[3],
              if_mac[4], if_mac[5], vap->cp_mask);
    map_cs_disassociate_vap_clients(cs, radio_id, vap_id);
    return vap_apply(cs, vap);
}

int map_cs_handler_process_cp_disable_config(map_cs* cs, std::span<const uint8_t> value) {
    return vap_flags(cs, value, true, 0, true);
}

int map_cs_handler_process_cp_block_config(map_cs* cs, std::span<const uint8_t> value) {
    return vap_flags(cs, value, false, 1, true);
}

int map_cs_handler_process_cp_unblock_config(map_cs* cs, std::span<const uint8_t> value) {
    return vap_flags(cs, value, false, 0, false);
}

int map_cs_handler_process_cp_auth_port_config(map_cs* cs, std::span<const uint8_t> value) {
    return vap_port(cs, value, -1);
}

// Framed like the auth port element (radio id, VAP id, 16-bit network-order
// port, 4 bytes): the port needs all of them, so a shorter element is
// refused by the walk's size check.
int map_cs_handler_process_cp_secure_auth_port_config(map_cs* cs, std::span<const uint8_t> value,
                                                      int index) {
    constexpr int kPorts = 2;
    if (index < 0 || index >= kPorts) {
        MAP_ERROR("ERROR: sec auth port to change is %d (not < %d)", index, kPorts);
        return MAP_CS_ELEM_FAILED;
    }
    return vap_port(cs, value, index);
}

// ---- client elements ------------------------------------------------------------------

int map_cs_handler_process_cp_clnotauth_config(map_cs* cs, std::span<const uint8_t> value) {
    map_cp_client* client = client_of(cs, value);
    if (client == nullptr) {
        return MAP_CS_ELEM_FAILED;
    }
    client->authed = 0;
    return client_apply(cs, client) == 0 ? MAP_CS_ELEM_OK : MAP_CS_ELEM_FAILED;
}

int map_cs_handler_process_cp_clauth_config(map_cs* cs, std::span<const uint8_t> value) {
    wire_reader r = wire_reader_make(value.data(), value.size());
    uint32_t up_rate = 0;
    uint32_t down_rate = 0;
    map_cp_client* client = client_of(cs, value);
    if (client == nullptr || !wire_skip(r, kMacLen) || !wire_read_be32(r, up_rate) ||
        !wire_read_be32(r, down_rate)) {
        return MAP_CS_ELEM_FAILED;
    }
    client->authed = 1;
    client->up_rate = up_rate;
    client->down_rate = down_rate;
    if (client_apply(cs, client) != 0) {
        // A client the portal cannot let through is not left half-admitted.
        uint8_t mac[kMacLen];
        memcpy(mac, client->mac, kMacLen);
        map_cs_disassociate_client(cs, mac);
        return MAP_CS_ELEM_FAILED;
    }
    return MAP_CS_ELEM_OK;
}

int map_cs_handler_process_cp_cldeauth_config(map_cs* cs, std::span<const uint8_t> value) {
    map_cp_client* client = client_of(cs, value);
    if (client == nullptr) {
        return MAP_CS_ELEM_FAILED;
    }
    uint8_t mac[kMacLen];
    memcpy(mac, client->mac, kMacLen);
    map_cs_disassociate_client(cs, mac);
    return MAP_CS_ELEM_OK;
}
