#include "commands/map_cs.hpp"

#include <cstring>
#include <new>

#include "store/map_dman_lsql.hpp"
#include "core/managed_ap.hpp"
#include "log/map_log.hpp"
#include "switch/switch_comm.hpp"

namespace {

static constexpr char map_log_module[] = "map_cs";

// VAPs per radio when the switch connection record has no BSS maximum.
constexpr int kDefaultVaps = 4;

// The radio record sees its VAP records and their count.
void link_vap_records(map_cs* cs, int radio_index) {
    map_cs_radio_vaps& r = cs->vaps[radio_index];
    cs->radio[radio_index].num_vaps = static_cast<uint8_t>(r.num_vaps);
    cs->radio[radio_index].vap_config = r.vap_config.get();
}

void vap_identity_set(map_vap_config& vap, int radio_index, int vap_id) {
    vap.radio_id = static_cast<uint32_t>(radio_index + 1);
    vap.vap_id = static_cast<uint8_t>(vap_id);
}

}  // namespace

void map_cs_mac_add(const uint8_t* base, uint32_t n, uint8_t* out) {
    uint64_t v = 0;
    for (int i = 0; i < 6; ++i) v = (v << 8) | base[i];
    v = (v + n) & 0xFFFFFFFFFFFFull;
    for (int i = 5; i >= 0; --i) {
        out[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

int map_cs_init(map_control_block* cb) {
    if (cb == nullptr) {
        return -1;
    }
    auto* cs = new (std::nothrow) map_cs{};
    if (cs == nullptr) {
        MAP_ERROR("Unable to allocate memory");
        return -1;
    }
    cs->cb = cb;
    int num_vaps = kDefaultVaps;
    if (cb->switch_comm != nullptr && cb->switch_comm->ap.max_bss > 0) {
        num_vaps = cb->switch_comm->ap.max_bss;
    }
    for (auto& r : cs->vaps) {
        r.num_vaps = num_vaps;
        r.vap_mac.reset(new (std::nothrow) map_cs_mac[num_vaps]{});
        r.vap_stats.reset(new (std::nothrow) map_vap_stats[num_vaps]{});
        r.vap_config.reset(new (std::nothrow) map_vap_config[num_vaps]{});
        if (!r.vap_mac || !r.vap_stats || !r.vap_config) {
            MAP_ERROR("Unable to allocate memory");
            delete cs;
            return -1;
        }
    }
    for (int i = 0; i < MAP_CS_NUM_RADIOS; ++i) {
        link_vap_records(cs, i);
        for (int v = 0; v < cs->vaps[i].num_vaps; ++v) {
            vap_identity_set(cs->vaps[i].vap_config[v], i, v);
        }
    }
    map_global_dont_disable_ssh_session = 0;
    cs->stats.table.last = -1;
    cs->stats.table.next_start = 1;
    // VAP MACs count up from the base MAC: radio 1 first, radio 2 after it.
    uint8_t base[6] = {};
    map_lsql_base_ap_mac_get(base);
    uint32_t n = 0;
    for (auto& r : cs->vaps) {
        for (int v = 0; v < r.num_vaps; ++v) {
            map_cs_mac_add(base, n++, r.vap_mac[v].b);
        }
    }
    cb->cs = cs;
    return 0;
}

int map_cs_deinit(map_cs* cs) {
    delete cs;
    return 0;
}

void map_cs_config_data_clear(map_cs* cs) {
    if (cs == nullptr) return;
    cs->global_set = 0;
    memset(cs->radius_key, 0, sizeof cs->radius_key);
    cs->radius_accounting = 0;
    cs->global_cltqos_mode = 0;
    cs->global_changed = 0;
    // The radio records go; the VAP records, held per radio beside them, stay.
    for (int i = 0; i < MAP_CS_NUM_RADIOS; ++i) {
        cs->radio[i] = map_radio_config{};
        link_vap_records(cs, i);
    }
    memset(cs->country, 0, sizeof cs->country);
    cs->country_changed = 0;
    cs->tunnel_mtu = 0;
    cs->mtu_changed = 0;
}

int map_cs_get_vap_info_vap_mac_list(map_cs* cs, const uint8_t* mac, int* radio_index,
                                     int* vap_index) {
    if (radio_index) *radio_index = 0;
    if (vap_index) *vap_index = 0;
    if (cs == nullptr || mac == nullptr) return -1;
    for (int r = 0; r < MAP_CS_NUM_RADIOS; ++r) {
        for (int v = 0; v < cs->vaps[r].num_vaps; ++v) {
            if (memcmp(cs->vaps[r].vap_mac[v].b, mac, 6) == 0) {
                if (radio_index) *radio_index = r;
                if (vap_index) *vap_index = v;
                return 0;
            }
        }
    }
    return -1;
}

map_vap_config* map_cs_get_vap_config(map_cs* cs, int radio_id, int vap_id) {
    if (cs == nullptr || radio_id < 1 || radio_id > MAP_CS_NUM_RADIOS) {
        return nullptr;
    }
    const map_cs_radio_vaps& r = cs->vaps[radio_id - 1];
    if (!r.vap_config) {
        MAP_ERROR("ERROR: radio id %d, vap id %d : no VAP config data", radio_id, vap_id);
        return nullptr;
    }
    if (vap_id < 0 || vap_id >= r.num_vaps) {
        return nullptr;
    }
    return &r.vap_config[vap_id];
}

int map_cs_get_vap_client_qos_cfg(map_cs* cs, int radio_id, int vap_id,
                                  map_vap_client_qos_cfg* out) {
    if (out == nullptr) {
        return -1;
    }
    memset(out, 0, sizeof *out);
    const map_vap_config* vap = map_cs_get_vap_config(cs, radio_id, vap_id);
    if (vap == nullptr) {
        return -1;
    }
    out->mode = vap->cltqos_mode;
    out->bw[0] = vap->def_bwmax_down;
    out->bw[1] = vap->def_bwmax_up;
    out->acl[0] = vap->def_acl_down;
    out->acl[1] = vap->def_acl_up;
    out->policy[0] = vap->def_policy_down;
    out->policy[1] = vap->def_policy_up;
    return 0;
}
