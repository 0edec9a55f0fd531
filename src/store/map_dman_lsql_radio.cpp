// Accessors of the radios and VAPs: class "radio" (power, channel, status,
// RRM, sentry mode, AP detection), the VAP and global client QoS modes and
// the deletion of client QoS definitions.
#include <cstdio>
#include <cstring>

#include "store/map_dman_internal.hpp"
#include "store/map_dman_lsql.hpp"
#include "log/map_log.hpp"

static constexpr char map_log_module[] = "map_dman_lsql";

using map_dman_detail::get_one;
using map_dman_detail::pv_ptr;
using map_dman_detail::set_one;
using map_dman_detail::set_one_with_error;
using map_dman_detail::text_ptr;

namespace {

bool begins(const pv_ptr& value, const char* prefix) {
    return value && strncmp(value->value, prefix, strlen(prefix)) == 0;
}

bool equals(const pv_ptr& value, const char* text) {
    return value && strcmp(value->value, text) == 0;
}

// One row per "radio" instance; each row's first value is the instance name.
pv_ptr radio_instances() {
    return pv_ptr(lsqlquery_get_grid("radio", nullptr, nullptr, nullptr, 1));
}

// Hands an error text to the caller's slot, or lets it be freed.
void hand_error(text_ptr& error, char** slot) {
    if (slot != nullptr && error) {
        *slot = error.release();
    }
}

// The messages of one walk over the radio records.
struct radio_walk_text {
    const char* set_ok;
    const char* reset_ok;
    const char* set_failed;
    const char* reset_failed;
};

// Writes `set_node` (where `set_radio` says so) or `reset_node` to each named
// radio record with the error-text variant.  The first failure ends the walk
// with -1 and leaves the error text in *error.
int radio_walk(const map_radio_config* radios, const bool set_radio[MAP_MAX_RADIOS], pv* set_node,
               pv* reset_node, const radio_walk_text& text, char** error) {
    for (int i = 0; i < MAP_MAX_RADIOS; ++i) {
        const map_radio_config& radio = radios[i];
        if (radio.radio_name[0] == '\0') {
            MAP_TRACE(MAP_TRACE_CONFIG, "Radio - Index %d doesn't exist. Skipping...", i);
            continue;
        }
        char name[MAP_RADIO_TEXT_LEN];
        snprintf(name, sizeof name, "%.*s", MAP_RADIO_TEXT_LEN - 1, radio.radio_name);
        const bool set = set_radio[i];
        pv* node = set ? set_node : reset_node;
        char* raw = nullptr;
        int rc = lsqlquery_set_pv_with_error("radio", name, node, nullptr, &raw);
        text_ptr owned(raw);
        if (rc != 0) {
            MAP_TRACE(MAP_TRACE_ALWAYS, set ? text.set_failed : text.reset_failed, name);
            hand_error(owned, error);
            return -1;
        }
        MAP_TRACE(MAP_TRACE_CONFIG, set ? text.set_ok : text.reset_ok, name);
    }
    return 0;
}

}  // namespace

int map_lsql_pwr_lvl_set(const char* radio, uint8_t level) {
    char text[8];
    snprintf(text, sizeof text, "%d", level);
    if (radio == nullptr || set_one("radio", radio, "tx-power", text) != 0) {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Error in applying power level = %d.", level);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Success in applying power level = %d.", level);
    return 0;
}

int map_lsql_new_channel_set(const char* radio, int channel) {
    if (radio == nullptr || set_one("radio", radio, "channel-policy", "static") != 0) {
        MAP_ERROR("Error in changing channel policy to static\n");
        return -1;
    }
    char text[16];
    snprintf(text, sizeof text, "%d", channel);
    if (set_one("radio", radio, "static-channel", text) != 0) {
        MAP_ERROR("Error in setting new channel = %d\n", channel);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Success in setting new channel %d\n", channel);
    return 0;
}

int map_dman_lsql_get_num_radios() {
    pv_ptr grid = radio_instances();
    int count = 0;
    for (const pv* row = grid.get(); row != nullptr; row = row->peer) {
        ++count;
    }
    return count;
}

int map_dman_lsql_is_radio_instance_exist(const char* name) {
    if (name == nullptr) {
        return -1;
    }
    pv_ptr grid = radio_instances();
    for (const pv* row = grid.get(); row != nullptr; row = row->peer) {
        if (row->value != nullptr && strcmp(row->value, name) == 0) {
            return 0;
        }
    }
    return -1;
}

int map_dman_lsql_get_radio_status(const char* name) {
    if (name == nullptr) {
        return -1;
    }
    return begins(get_one("radio", name, "status"), "up") ? 0 : -1;
}

int map_dman_lsql_get_sentry_mode(int radio_number) {
    char instance[16];
    snprintf(instance, sizeof instance, "wlan%d", radio_number - 1);
    return begins(get_one("radio", instance, "sentry-mode"), "on") ? 1 : 2;
}

int map_dman_lsql_get_vap_client_qos_mode(int vap, int radio) {
    char vap_name[16];
    char radio_name[16];
    snprintf(vap_name, sizeof vap_name, "vap%d", vap);
    snprintf(radio_name, sizeof radio_name, "wlan%d", radio);
    pv_ptr value(lsqlquery_get_pv_q1("vap", vap_name, "qos-mode", "radio", radio_name));
    return value && value->value != nullptr && strcmp(value->value, "up") == 0 ? 1 : 0;
}

int map_dman_lsql_get_global_cltqos_mode() {
    return equals(get_one("client-qos", nullptr, "mode"), "up") ? 1 : 0;
}

int map_dman_lsql_apply_global_cltqos_mode(int mode) {
    const char* text = mode == 1 ? "up" : "down";
    if (set_one("client-qos", nullptr, "mode", text) != 0) {
        MAP_ERROR("Error applying global Client QoS Mode");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CLTQOS, "Successfully applied global Client QoS Mode = %s", text);
    return 0;
}

int map_dman_lsql_apply_vap_cltqos_mode(int vap, int radio, int mode) {
    char vap_name[16];
    char radio_name[16];
    snprintf(vap_name, sizeof vap_name, "vap%d", vap);
    snprintf(radio_name, sizeof radio_name, "wlan%d", radio);
    const char* text = mode == 1 ? "up" : "down";
    pv_ptr node(lsqlquery_new_pv_solo("qos-mode", text));
    pv_ptr qualifier(lsqlquery_new_pv_solo("radio", radio_name));
    if (!node || !qualifier ||
        lsqlquery_set_pv("vap", vap_name, node.get(), qualifier.get()) != 0) {
        MAP_ERROR("Error applying VAP Client QoS Mode for %s-%s", vap_name, radio_name);
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CLTQOS, "Successfully applied VAP Client QoS Mode for %s-%s: %s", vap_name,
              radio_name, text);
    return 0;
}

int map_dman_lsql_delete_cltqos_class_all(const char* cls) {
    if (cls == nullptr || lsqlquery_delete_pv(cls, nullptr, nullptr) != 0) {
        MAP_ERROR("Unable to delete all instances of '%s' class", cls != nullptr ? cls : "");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CLTQOS, "Successfully deleted all instances of '%s' class", cls);
    return 0;
}

int map_dman_lsql_ap_detection_mode_set(const char* text) {
    if (text == nullptr) {
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Setting the AP detection mode - %s", text);
    text_ptr error;
    if (set_one_with_error("radio", nullptr, "ap-detection", text, &error) != 0) {
        MAP_ERROR("Error in setting the AP detection mode - %s", error ? error.get() : " ");
        return -1;
    }
    return 0;
}

int map_dman_lsql_radio_status_set(const map_radio_config* radios, int up, char** error) {
    pv_ptr up_node(lsqlquery_new_pv_solo("status", "up"));
    pv_ptr down_node(lsqlquery_new_pv_solo("status", "down"));
    if (!up_node || !down_node) {
        return -1;
    }
    if (up == 0) {
        // No instance: every radio goes down at once.
        if (lsqlquery_set_pv("radio", nullptr, down_node.get(), nullptr) != 0) {
            return -1;
        }
        MAP_TRACE(MAP_TRACE_CONFIG, "Successful in Reseting the radio status");
        return 0;
    }
    if (radios == nullptr) {
        return -1;
    }
    static constexpr radio_walk_text text = {
        "success in Setting the radio status - %s",
        "success in Reseting the radio status- %s",
        "Failed in setting the radio status- %s",
        "Failed in Reseting the radio status- %s",
    };
    const bool set_radio[MAP_MAX_RADIOS] = {radios[0].admin_mode != 0, radios[1].admin_mode != 0};
    return radio_walk(radios, set_radio, up_node.get(), down_node.get(), text, error);
}

int map_lsql_radio_rrm_mode_set(const map_radio_config* radios, int on, char** error) {
    if (radios == nullptr) {
        return -1;
    }
    pv_ptr on_node(lsqlquery_new_pv_solo("rrm-mode", "on"));
    pv_ptr off_node(lsqlquery_new_pv_solo("rrm-mode", "off"));
    if (!on_node || !off_node) {
        return -1;
    }
    static constexpr radio_walk_text text = {
        "success in Setting the radio rrm mode - %s",
        "success in Reseting the radio rrm mode - %s",
        "Failed in setting the radio rrm mode - %s",
        "Failed in Resetting the radio rrm mode - %s",
    };
    const bool set_radio[MAP_MAX_RADIOS] = {on != 0, on != 0};
    return radio_walk(radios, set_radio, on_node.get(), off_node.get(), text, error);
}
