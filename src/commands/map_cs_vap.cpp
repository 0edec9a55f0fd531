// VAP elements of a configuration message: the VAP configuration, its
// options (ARP suppression, distributed tunnel), web redirect and client QoS
// defaults.  Each finds the VAP record by radio id and VAP id, stores every
// field and marks the VAP changed when anything differs.
#include <cstdio>
#include <cstring>

#include "commands/map_cs.hpp"
#include "commands/map_cs_elems.hpp"
#include "log/map_log.hpp"
#include "wire/wire.hpp"

static constexpr char map_log_module[] = "map_cs";

namespace {

// A fixed-width text field of the wire: `width` bytes, not necessarily
// terminated, kept with a terminator.
template <size_t width>
struct wire_text {
    char text[width + 1] = {};
};

template <size_t width>
bool read_text(wire_reader& r, wire_text<width>& out) {
    return wire_read_bytes(r, out.text, width);
}

template <size_t width>
bool all_zero(const wire_text<width>& t) {
    for (size_t i = 0; i < width; ++i) {
        if (t.text[i] != 0) {
            return false;
        }
    }
    return true;
}

// The VAP configuration element, field by field.
struct vap_elem {
    uint8_t radio_id;
    uint8_t vap_id;
    uint8_t admin_mode;
    wire_text<32> ssid;
    uint32_t vlan_id;
    uint8_t hide_ssid;
    uint8_t extra_flag;
    uint8_t tunnel_mode;
    uint32_t tunnel_subnet_addr;
    uint32_t tunnel_subnet_mask;
    uint32_t security_mode;
    uint32_t auth_type;
    uint32_t wpa_versions;
    uint32_t wpa_ciphers;
    uint8_t mac_acl_auth;
    uint8_t radius_accounting;
    uint16_t wep_key_length;
    uint8_t wep_key_ascii;
    uint8_t wep_default_key;
    wire_text<32> wep_key[MAP_VAP_WEP_KEYS];
    uint8_t extra_byte;
    wire_text<64> wpa_personal_key;
    uint8_t rsn_preauth;
    uint16_t rsn_preauth_limit;
    uint8_t dynamic_key_forwarding;
    uint16_t key_cache_hold_time;
    uint32_t bcast_key_refresh_rate;
    uint32_t session_key_refresh_rate;
};

bool vap_elem_read(wire_reader& r, vap_elem& e) {
    bool ok = wire_read_u8(r, e.radio_id) && wire_read_u8(r, e.vap_id) &&
              wire_read_u8(r, e.admin_mode) && read_text(r, e.ssid) &&
              wire_read_be32(r, e.vlan_id) && wire_read_u8(r, e.hide_ssid) &&
              wire_read_u8(r, e.extra_flag) && wire_read_u8(r, e.tunnel_mode) &&
              wire_read_be32(r, e.tunnel_subnet_addr) && wire_read_be32(r, e.tunnel_subnet_mask) &&
              wire_read_be32(r, e.security_mode) && wire_read_be32(r, e.auth_type) &&
              wire_read_be32(r, e.wpa_versions) && wire_read_be32(r, e.wpa_ciphers) &&
              wire_read_u8(r, e.mac_acl_auth) && wire_read_u8(r, e.radius_accounting) &&
              wire_read_be16(r, e.wep_key_length) && wire_read_u8(r, e.wep_key_ascii) &&
              wire_read_u8(r, e.wep_default_key);
    for (auto& key : e.wep_key) {
        ok = ok && read_text(r, key);
    }
    return ok && wire_read_u8(r, e.extra_byte) && read_text(r, e.wpa_personal_key) &&
           wire_read_u8(r, e.rsn_preauth) && wire_read_be16(r, e.rsn_preauth_limit) &&
           wire_read_u8(r, e.dynamic_key_forwarding) && wire_read_be16(r, e.key_cache_hold_time) &&
           wire_read_be32(r, e.bcast_key_refresh_rate) &&
           wire_read_be32(r, e.session_key_refresh_rate);
}

// Stores the element into the VAP record; true when anything differed.
bool vap_elem_store(map_vap_config& vap, const vap_elem& e) {
    bool changed = false;
    changed |= map_cs_elem_update(vap.radio_id, static_cast<uint32_t>(e.radio_id));
    changed |= map_cs_elem_update(vap.vap_id, e.vap_id);
    changed |= map_cs_elem_update(vap.admin_mode, e.admin_mode);
    char ssid[MAP_VAP_SSID_LEN];
    if (all_zero(e.ssid)) {
        snprintf(ssid, sizeof ssid, "Broadcom VAP%d", e.vap_id);
    } else {
        snprintf(ssid, sizeof ssid, "%s", e.ssid.text);
    }
    changed |= map_cs_elem_update_text(vap.ssid, MAP_VAP_SSID_LEN, ssid);
    changed |= map_cs_elem_update(vap.vlan_id, e.vlan_id);
    changed |= map_cs_elem_update(vap.hide_ssid, e.hide_ssid);
    changed |= map_cs_elem_update(vap.extra_flag, e.extra_flag);
    changed |= map_cs_elem_update(vap.tunnel_mode, e.tunnel_mode);
    changed |= map_cs_elem_update(vap.tunnel_subnet_addr, e.tunnel_subnet_addr);
    changed |= map_cs_elem_update(vap.tunnel_subnet_mask, e.tunnel_subnet_mask);
    changed |= map_cs_elem_update(vap.security_mode, e.security_mode);
    changed |= map_cs_elem_update(vap.auth_type, e.auth_type);
    changed |= map_cs_elem_update(vap.wpa_versions, e.wpa_versions);
    changed |= map_cs_elem_update(vap.wpa_ciphers, e.wpa_ciphers);
    changed |= map_cs_elem_update(vap.mac_acl_auth, e.mac_acl_auth);
    changed |= map_cs_elem_update(vap.radius_accounting, e.radius_accounting);
    changed |= map_cs_elem_update(vap.wep_key_length, e.wep_key_length);
    changed |= map_cs_elem_update(vap.wep_key_ascii, e.wep_key_ascii);
    changed |= map_cs_elem_update(vap.wep_default_key, e.wep_default_key);
    for (int i = 0; i < MAP_VAP_WEP_KEYS; ++i) {
        changed |= map_cs_elem_update_text(vap.wep_key[i], MAP_VAP_WEP_KEY_LEN, e.wep_key[i].text);
    }
    changed |= map_cs_elem_update(vap.extra_byte, e.extra_byte);
    changed |=
        map_cs_elem_update_text(vap.wpa_personal_key, MAP_VAP_WPA_KEY_LEN, e.wpa_personal_key.text);
    changed |= map_cs_elem_update(vap.rsn_preauth, e.rsn_preauth);
    changed |= map_cs_elem_update(vap.rsn_preauth_limit, e.rsn_preauth_limit);
    changed |= map_cs_elem_update(vap.dynamic_key_forwarding, e.dynamic_key_forwarding);
    changed |= map_cs_elem_update(vap.key_cache_hold_time, e.key_cache_hold_time);
    changed |= map_cs_elem_update(vap.bcast_key_refresh_rate, e.bcast_key_refresh_rate);
    changed |= map_cs_elem_update(vap.session_key_refresh_rate, e.session_key_refresh_rate);
    return changed;
}

// A default access list or policy: a type byte and a 31-character name.
bool read_qos_ref(wire_reader& r, uint8_t& type, wire_text<MAP_VAP_QOS_NAME_LEN - 1>& name) {
    return wire_read_u8(r, type) && read_text(r, name);
}

bool update_qos_ref(map_vap_qos_ref& ref, uint8_t type,
                    const wire_text<MAP_VAP_QOS_NAME_LEN - 1>& name) {
    bool changed = map_cs_elem_update(ref.type, type);
    changed |= map_cs_elem_update_text(ref.name, MAP_VAP_QOS_NAME_LEN, name.text);
    return changed;
}

}  // namespace

int map_cs_handler_process_vap_config(map_cs* cs, std::span<const uint8_t> value) {
    static constexpr char error_text[] = "Rx'ed incorrect VAP cfg pkt";
    wire_reader r = wire_reader_make(value.data(), value.size());
    vap_elem e{};
    if (!vap_elem_read(r, e)) {
        MAP_ERROR("%s", error_text);
        return MAP_CS_ELEM_END_WALK;
    }
    map_vap_config* vap = map_cs_get_vap_config(cs, e.radio_id, e.vap_id);
    if (vap == nullptr) {
        MAP_ERROR("radio_id = %d, vap %2d, vap ptr null", e.radio_id, e.vap_id);
        return MAP_CS_ELEM_FAILED;
    }
    const bool changed = vap_elem_store(*vap, e);
    if (changed) {
        vap->vap_changed = 1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "VAP cfg %s changed for VAP %d (adminmode = %d)",
              changed ? "" : "NOT", vap->vap_id, vap->admin_mode);
    return MAP_CS_ELEM_OK;
}

int map_cs_handler_process_vap_config_2(map_cs* cs, std::span<const uint8_t> value) {
    static constexpr char error_text[] = "ERROR: Received incorrect VAP Config-2 pkt";
    wire_reader r = wire_reader_make(value.data(), value.size());
    uint8_t radio_id = 0;
    uint8_t vap_id = 0;
    uint8_t arp_supp = 0;
    uint8_t dl2tunnel = 0;
    if (!wire_read_u8(r, radio_id) || !wire_read_u8(r, vap_id) || !wire_read_u8(r, arp_supp) ||
        !wire_read_u8(r, dl2tunnel)) {
        MAP_ERROR("%s", error_text);
        return MAP_CS_ELEM_END_WALK;
    }
    map_vap_config* vap = map_cs_get_vap_config(cs, radio_id, vap_id);
    if (vap == nullptr) {
        return MAP_CS_ELEM_FAILED;
    }
    const bool arp_changed = map_cs_elem_update(vap->arp_supp, arp_supp);
    const bool dl2_changed = map_cs_elem_update(vap->dl2tunnel, dl2tunnel);
    if (arp_changed || dl2_changed) {
        vap->vap_changed = 1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Vap configuration %s changed for vap %d, %s mode %d",
              arp_changed ? "" : "NOT", vap_id, "arp supp", arp_supp);
    MAP_TRACE(MAP_TRACE_CONFIG, "Vap configuration %s changed for vap %d, %s mode %d",
              dl2_changed ? "" : "NOT", vap_id, "dl2tunnel", dl2tunnel);
    return MAP_CS_ELEM_OK;
}

int map_cs_handler_process_vap_redirect_config(map_cs* cs, std::span<const uint8_t> value) {
    static constexpr char error_text[] = "ERROR: Received incorrect VAP Redirect Config pkt";
    wire_reader r = wire_reader_make(value.data(), value.size());
    uint8_t radio_id = 0;
    uint8_t vap_id = 0;
    uint8_t mode = 0;
    uint32_t redirect_value = 0;
    wire_text<MAP_VAP_REDIRECT_URL_LEN - 1> url;
    if (!wire_read_u8(r, radio_id) || !wire_read_u8(r, vap_id) || !wire_read_u8(r, mode) ||
        !wire_read_be32(r, redirect_value) || !read_text(r, url)) {
        MAP_ERROR("%s", error_text);
        return MAP_CS_ELEM_END_WALK;
    }
    map_vap_config* vap = map_cs_get_vap_config(cs, radio_id, vap_id);
    if (vap == nullptr) {
        return MAP_CS_ELEM_FAILED;
    }
    bool changed = map_cs_elem_update(vap->redirect_mode, mode);
    changed |= map_cs_elem_update(vap->redirect_value, redirect_value);
    changed |= map_cs_elem_update_text(vap->redirect_url, MAP_VAP_REDIRECT_URL_LEN, url.text);
    if (changed) {
        vap->vap_changed = 1;
        MAP_TRACE(MAP_TRACE_CONFIG, "Vap configuration changed for vap - %d whose adminmode - %d",
                  vap_id, vap->admin_mode);
    } else {
        MAP_TRACE(MAP_TRACE_CONFIG,
                  "Vap configuration is not changed for vap - %d whose adminmode - %d", vap_id,
                  vap->admin_mode);
    }
    return MAP_CS_ELEM_OK;
}

int map_cs_handler_process_vap_client_qos_config(map_cs* cs, std::span<const uint8_t> value) {
    static constexpr char error_text[] = "ERROR: Rx'ed incorrect VAP Client QoS Config packet";
    wire_reader r = wire_reader_make(value.data(), value.size());
    uint8_t radio_id = 0;
    uint8_t vap_id = 0;
    uint8_t mode = 0;
    uint32_t bw_down = 0;
    uint32_t bw_up = 0;
    uint8_t type[4] = {};
    wire_text<MAP_VAP_QOS_NAME_LEN - 1> name[4];  // ACL down, ACL up, policy down, policy up
    bool ok = wire_read_u8(r, radio_id) && wire_read_u8(r, vap_id) && wire_read_u8(r, mode) &&
              wire_read_be32(r, bw_down) && wire_read_be32(r, bw_up);
    for (int i = 0; ok && i < 4; ++i) {
        ok = read_qos_ref(r, type[i], name[i]);
    }
    if (!ok) {
        MAP_ERROR("%s", error_text);
        return MAP_CS_ELEM_END_WALK;
    }
    map_vap_config* vap = map_cs_get_vap_config(cs, radio_id, vap_id);
    if (vap == nullptr) {
        return MAP_CS_ELEM_FAILED;
    }
    bool changed = map_cs_elem_update(vap->cltqos_mode, mode);
    changed |= map_cs_elem_update(vap->def_bwmax_down, bw_down);
    changed |= map_cs_elem_update(vap->def_bwmax_up, bw_up);
    changed |= update_qos_ref(vap->def_acl_down, type[0], name[0]);
    changed |= update_qos_ref(vap->def_acl_up, type[1], name[1]);
    changed |= update_qos_ref(vap->def_policy_down, type[2], name[2]);
    changed |= update_qos_ref(vap->def_policy_up, type[3], name[3]);
    if (changed) {
        vap->vap_changed = 1;
        MAP_TRACE(MAP_TRACE_CONFIG,
                  "VAP client QoS configuration changed for vap - %d, admin mode - %d", vap_id,
                  vap->admin_mode);
    } else {
        MAP_TRACE(MAP_TRACE_CONFIG,
                  "VAP client QoS configuration not changed for vap - %d, admin mode - %d", vap_id,
                  vap->admin_mode);
    }
    return MAP_CS_ELEM_OK;
}
