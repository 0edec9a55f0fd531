// Client QoS modes: the switch's mode updates written to the configuration
// database, each VAP's default access lists and policies told to mapqosd, and
// the clean-up when the AP changes between managed and stand-alone mode.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cltqos/map_cltqos.hpp"
#include "commands/map_cs.hpp"
#include "config/map_config_apply.hpp"
#include "core/managed_ap.hpp"
#include "local/mmsg_handler.hpp"
#include "log/map_log.hpp"
#include "store/map_dman_lsql.hpp"
#include "store/map_vap_config.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "map_client_qos";

// The definition classes, deleted in this order.
constexpr const char* kClasses[] = {"acl", "qos-mac-acl", "policy-map", "class-map"};

const char* up_down(uint8_t mode) {
    return mode != 0 ? "up" : "down";
}

// VAPs per radio whose modes a mode update applies: those the config/status
// component holds (none without one), never more than the record has room for.
int vaps_per_radio(const map_switch_comm* rec) {
    const map_cs* cs = rec->cb != nullptr ? rec->cb->cs : nullptr;
    if (cs == nullptr) {
        return 0;
    }
    return std::clamp(std::max(cs->vaps[0].num_vaps, cs->vaps[1].num_vaps), 0,
                      MAP_CLTQOS_VAPS_PER_RADIO);
}

// Reads the elements of a mode update into `m`; 0, or -1 after reporting why.
int parse_mode_update(const uint8_t* body, int length, map_cltqos_mode_update_msg_t& m,
                      bool& current, bool& deprecated) {
    const char* msg = MAP_CLTQOS_MSG_MODE_UPDATE;
    wire_reader r = wire_reader_make(body, length > 0 ? static_cast<size_t>(length) : 0);
    wire_elem e;
    while (wire_elem_next(r, e)) {
        uint16_t size = 0;
        if (e.type == MAP_CLTQOS_ELEM_MODE) {
            size = MAP_CLTQOS_ELEM_MODE_LEN;
        } else if (e.type == MAP_CLTQOS_ELEM_MODE_OLD) {
            size = MAP_CLTQOS_ELEM_MODE_OLD_LEN;
        } else if (e.type == MAP_CLTQOS_ELEM_AP_MAC) {
            size = MAP_CLTQOS_ELEM_AP_MAC_LEN;
        } else {
            MAP_ERROR("Unrecognized element in %s msg: id=0x%4.4X len=%u (ignored).", msg, e.type,
                      e.len);
            continue;
        }
        // A known element of another length (or cut short) is not guessed at:
        // the message is refused before anything is applied.
        if (e.len != size || !e.complete) {
            MAP_ERROR("%s msg: element 0x%4.4X length %u (expected %u)", msg, e.type, e.len, size);
            return -1;
        }
        const uint8_t* v = e.value.data();
        if (e.type == MAP_CLTQOS_ELEM_MODE) {
            // Radios are numbered 1 and 2.  Number 0 names no radio: it is
            // refused like a number above 2, so nothing lands outside the record.
            const int radio = v[1];
            if (radio > MAP_CLTQOS_RADIOS) {
                MAP_ERROR("%s msg: radio index %d too high (max %d)", msg, radio,
                          MAP_CLTQOS_RADIOS);
                return -1;
            }
            if (radio < 1) {
                MAP_ERROR("%s msg: radio index %d too low (min %d)", msg, radio, 1);
                return -1;
            }
            m.global_mode = v[0];
            m.radio_present[radio - 1] = 1;
            memcpy(m.vap_mode[radio - 1], v + 2, MAP_CLTQOS_VAPS_PER_RADIO);
            current = true;
        } else if (e.type == MAP_CLTQOS_ELEM_MODE_OLD) {
            m.global_mode = v[0];
            deprecated = true;
        } else {
            memcpy(m.ap_mac, v, sizeof m.ap_mac);
        }
    }
    return 0;
}

void trace_mode_update(const map_cltqos_mode_update_msg_t& m) {
    const uint8_t* a = m.ap_mac;
    MAP_TRACE(MAP_TRACE_CLTQOS, "%s msg: AP %02x:%02x:%02x:%02x:%02x:%02x, global mode %u",
              MAP_CLTQOS_MSG_MODE_UPDATE, a[0], a[1], a[2], a[3], a[4], a[5], m.global_mode);
    for (int r = 0; r < MAP_CLTQOS_RADIOS; ++r) {
        if (m.radio_present[r] == 0)
            continue;
        char modes[MAP_CLTQOS_VAPS_PER_RADIO + 1] = {};
        for (int v = 0; v < MAP_CLTQOS_VAPS_PER_RADIO; ++v) {
            modes[v] = m.vap_mode[r][v] != 0 ? '1' : '0';
        }
        MAP_TRACE(MAP_TRACE_CLTQOS, "%s msg: wlan%d VAP modes %s", MAP_CLTQOS_MSG_MODE_UPDATE, r,
                  modes);
    }
}

}  // namespace

int map_cltqos_process_mode_update_pkt(map_switch_comm* rec, const uint8_t* body, int length) {
    const char* msg = MAP_CLTQOS_MSG_MODE_UPDATE;
    if (_map_cltqos_context_check(rec, __func__) != 0) {
        return -1;
    }
    if (body == nullptr || length <= 0) {
        MAP_ERROR("Invalid input buffer");
        return -1;
    }
    map_cltqos_mode_update_msg_t m{};
    bool current = false, deprecated = false;
    if (parse_mode_update(body, length, m, current, deprecated) != 0) {
        return -1;
    }
    if (current && deprecated) {
        MAP_ERROR("%s msg: Current and deprecated UPDATE_MODE IEs cannot coexist in same message.",
                  msg);
        return -1;
    }
    trace_mode_update(m);
    // Without either mode element the global mode stays 0: "down".
    if ((m.global_mode != 0 ? 1 : 0) != map_dman_lsql_get_global_cltqos_mode()) {
        if (map_dman_lsql_apply_global_cltqos_mode(m.global_mode) != 0) {
            MAP_ERROR("%s msg: DMAN 'apply' request failed for global client QoS mode", msg);
            return -1;
        }
        MAP_TRACE(MAP_TRACE_CLTQOS, "applied global client-qos mode = %s", up_down(m.global_mode));
    }
    if (!current) {
        return 0;
    }
    const int vaps = vaps_per_radio(rec);
    for (int v = 0; v < vaps; ++v) {
        for (int r = 0; r < MAP_CLTQOS_RADIOS; ++r) {
            if (m.radio_present[r] == 0)
                continue;
            const uint8_t mode = m.vap_mode[r][v];
            if ((mode != 0 ? 1 : 0) == map_dman_lsql_get_vap_client_qos_mode(v, r))
                continue;
            if (map_dman_lsql_apply_vap_cltqos_mode(v, r, mode) != 0) {
                MAP_ERROR("%s msg: DMAN 'apply' request failed for vap%d-wlan%d", msg, v, r);
                return -1;
            }
            MAP_TRACE(MAP_TRACE_CLTQOS, "applied vap%d-wlan%d qos-mode = %s", v, r, up_down(mode));
        }
    }
    return 0;
}

// ---- the VAP settings for mapqosd ---------------------------------------------------

std::vector<uint8_t> map_cs_client_qos_vap_cfg_to_buffer(const map_vap_client_qos_cfg* cfg,
                                                         int radio, int vap, int* running_len) {
    static const map_vap_client_qos_cfg kNone{};
    const map_vap_client_qos_cfg& c = cfg != nullptr ? *cfg : kNone;
    std::vector<uint8_t> buf(MAP_CLTQOS_VAP_CFG_MSG_LEN, 0);
    wire_writer w = wire_writer_make(buf.data(), buf.size());
    wire_put_be16(w, MAPQOSD_VAP_CLTQOS_CFG);
    wire_put_be16(w, static_cast<uint16_t>(MAP_CLTQOS_VAP_CFG_MSG_LEN));
    wire_put_u8(w, static_cast<uint8_t>(radio));
    wire_put_u8(w, static_cast<uint8_t>(vap));
    for (const map_vap_qos_ref& acl : c.acl) {
        wire_put_u8(w, map_cltqos_acl_type_to_id_type(acl.type, acl.name));
        wire_put_text_field(w, acl.name, MAP_CLTQOS_NAME_LEN);
    }
    for (const map_vap_qos_ref& policy : c.policy) {
        wire_put_u8(w, map_cltqos_policy_type_to_id_type(policy.type, policy.name));
        wire_put_text_field(w, policy.name, MAP_CLTQOS_NAME_LEN);
    }
    buf.resize(w.overflow ? 0 : w.pos);
    if (running_len != nullptr) {
        *running_len += static_cast<int>(buf.size());
    }
    return buf;
}

void map_cs_send_client_qos_vap_cfg_msg(map_control_block* cb) {
    static constexpr char map_log_module[] = "map_cs";
    map_cs* cs = cb != nullptr ? cb->cs : nullptr;
    if (cs == nullptr) {
        return;
    }
    for (unsigned radio = 1; radio <= MAP_CS_NUM_RADIOS; ++radio) {
        for (int v = 0; v < cs->vaps[radio - 1].num_vaps; ++v) {
            map_vap_client_qos_cfg cfg;
            const bool have =
                map_cs_get_vap_client_qos_cfg(cs, static_cast<int>(radio), v, &cfg) == 0;
            if (!have) {
                MAP_TRACE(MAP_TRACE_CLTQOS, "%s: Using null VAP config or radio %u, VAP %d.",
                          __func__, radio, v);
            }
            int len = 0;
            const std::vector<uint8_t> msg = map_cs_client_qos_vap_cfg_to_buffer(
                have ? &cfg : nullptr, static_cast<int>(radio), v, &len);
            if (len != static_cast<int>(MAP_CLTQOS_VAP_CFG_MSG_LEN)) {
                MAP_ERROR(
                    "%s: Error creating VAP config message for radio %u, VAP %d - length=%d "
                    "(expected %d)",
                    __func__, radio, v, len, static_cast<int>(MAP_CLTQOS_VAP_CFG_MSG_LEN));
                continue;
            }
            MAP_TRACE(MAP_TRACE_CLTQOS, "%s: Built VAP config msg for radio %u, VAP %d.", __func__,
                      radio, v);
            MAP_TRACE(MAP_TRACE_CLTQOS,
                      "%s: Sending VAP config msg to mapqosd for radio %u, VAP %d.", __func__,
                      radio, v);
            (void)mmsg_handler_mapqosd_send(msg.data(), msg.size());  // a failure is logged there
        }
    }
}

// ---- mode transitions ---------------------------------------------------------------

int map_cltqos_delete_all_instances(map_switch_comm*) {
    int rc = 0;
    for (const char* cls : kClasses) {
        if (map_dman_lsql_delete_cltqos_class_all(cls) != 0) {
            MAP_TRACE(MAP_TRACE_CLTQOS, "%s: Error deleting '%s' class from dman", __func__, cls);
            rc = -1;
        }
    }
    return rc;
}

int map_cltqos_vap_config_apply(map_cs* cs) {
    if (cs == nullptr) {
        return 0;
    }
    static constexpr const char* kRadios[MAP_CS_NUM_RADIOS] = {"wlan0", "wlan1"};
    for (int r = 0; r < MAP_CS_NUM_RADIOS; ++r) {
        for (int v = 0; v < cs->vaps[r].num_vaps; ++v) {
            map_vap_config vap{};
            vap.vap_id = static_cast<uint8_t>(v);
            char* raw = nullptr;
            const int rc = map_dman_lsql_apply_vap_cltqos_configuration(&vap, kRadios[r], &raw);
            std::unique_ptr<char, decltype(&free)> error(raw, &free);
            if (rc == 0)
                continue;
            if (error) {
                MAP_TRACE(MAP_TRACE_CLTQOS, "Error applying VAP %d config for radio %s - %s", v,
                          kRadios[r], error.get());
            } else {
                MAP_TRACE(MAP_TRACE_CLTQOS, "Error applying VAP %d config for radio %s", v,
                          kRadios[r]);
            }
        }
    }
    return 0;
}
