// The radio apply: the changed groups of the two radio records go to the
// configuration database ("radio", "tspec-acm", "supported-rate",
// "basic-rate", "tx-queue", "wme-queue").  Also the error-slot and trace
// helpers shared with the VAP apply.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands/map_cs.hpp"
#include "config/map_config_apply.hpp"
#include "store/map_dman_internal.hpp"
#include "store/map_dman_lsql.hpp"
#include "store/map_reg_domain.hpp"
#include "log/map_log.hpp"

static constexpr char map_log_module[] = "map_dman_lsql";

using map_dman_detail::pv_ptr;
using map_dman_detail::text_ptr;

namespace {

// The "radio" properties in the order they are written; the last entry,
// "static-channel", only when the record's static channel is not empty.
const map_dman_prop_desc radio_desc[] = {
    MAP_DMAN_DESC("mode", MAP_DMAN_VT_TEXT, map_radio_config, mode),
    MAP_DMAN_DESC("channel-policy", MAP_DMAN_VT_TEXT, map_radio_config, channel_policy),
    MAP_DMAN_DESC("sentry-mode", MAP_DMAN_VT_ON_OFF, map_radio_config, sentry_mode),
    MAP_DMAN_DESC("channel-hopping", MAP_DMAN_VT_ON_OFF, map_radio_config, channel_hopping),
    MAP_DMAN_DESC("scan-leave-time", MAP_DMAN_VT_INT32, map_radio_config, scan_leave_time),
    MAP_DMAN_DESC("scan-duration", MAP_DMAN_VT_INT32, map_radio_config, scan_duration),
    MAP_DMAN_DESC("passive-scan-band", MAP_DMAN_VT_INT32, map_radio_config, passive_scan_band),
    MAP_DMAN_DESC("rate-limit-enable", MAP_DMAN_VT_ON_OFF, map_radio_config, rate_limit_enable),
    MAP_DMAN_DESC("rate-limit", MAP_DMAN_VT_INT32, map_radio_config, rate_limit),
    MAP_DMAN_DESC("rate-limit-burst", MAP_DMAN_VT_INT32, map_radio_config, rate_limit_burst),
    MAP_DMAN_DESC("beacon-interval", MAP_DMAN_VT_INT32, map_radio_config, beacon_interval),
    MAP_DMAN_DESC("fragmentation-threshold", MAP_DMAN_VT_INT32, map_radio_config,
                  fragmentation_threshold),
    MAP_DMAN_DESC("rts-threshold", MAP_DMAN_VT_INT32, map_radio_config, rts_threshold),
    MAP_DMAN_DESC("limit-channels", MAP_DMAN_VT_BYTE_LIST, map_radio_config, limit_channels),
    MAP_DMAN_DESC("tx-power", MAP_DMAN_VT_INT16, map_radio_config, tx_power),
    MAP_DMAN_DESC("wme", MAP_DMAN_VT_ON_OFF, map_radio_config, wme),
    MAP_DMAN_DESC("load-balance-no-association-utilization", MAP_DMAN_VT_INT16, map_radio_config,
                  no_association_utilization),
    MAP_DMAN_DESC("data-snooping", MAP_DMAN_VT_ON_OFF, map_radio_config, data_snooping),
    MAP_DMAN_DESC("n-bandwidth", MAP_DMAN_VT_TEXT, map_radio_config, n_bandwidth),
    MAP_DMAN_DESC("n-primary-channel", MAP_DMAN_VT_TEXT, map_radio_config, n_primary_channel),
    MAP_DMAN_DESC("protection", MAP_DMAN_VT_TEXT, map_radio_config, protection),
    MAP_DMAN_DESC("short-guard-interval-supported", MAP_DMAN_VT_YES_NO, map_radio_config,
                  short_guard_interval),
    MAP_DMAN_DESC("stbc-mode", MAP_DMAN_VT_ON_OFF, map_radio_config, stbc),
    MAP_DMAN_DESC("rrm-mode", MAP_DMAN_VT_ON_OFF, map_radio_config, rrm),
    MAP_DMAN_DESC("wme-apsd", MAP_DMAN_VT_ON_OFF, map_radio_config, wme_apsd),
    MAP_DMAN_DESC("wme-noack", MAP_DMAN_VT_ON_OFF, map_radio_config, wme_noack),
    MAP_DMAN_DESC("fixed-multicast-rate", MAP_DMAN_VT_TEXT, map_radio_config, fixed_multicast_rate),
    MAP_DMAN_DESC("station-isolation", MAP_DMAN_VT_ON_OFF, map_radio_config, station_isolation),
    MAP_DMAN_DESC("dtim-period", MAP_DMAN_VT_INT16, map_radio_config, dtim_period),
    MAP_DMAN_DESC("max-stations", MAP_DMAN_VT_INT32, map_radio_config, max_stations),
    MAP_DMAN_DESC("static-channel", MAP_DMAN_VT_TEXT, map_radio_config, static_channel),
};
constexpr uint32_t radio_desc_count = sizeof radio_desc / sizeof radio_desc[0];

const map_dman_prop_desc tspec_desc[] = {
    MAP_DMAN_DESC("tspec-mode", MAP_DMAN_VT_ON_OFF, map_radio_tspec_acm, tspec_mode),
    MAP_DMAN_DESC("voice-acm-mode", MAP_DMAN_VT_ON_OFF, map_radio_tspec_acm, voice_acm_mode),
    MAP_DMAN_DESC("video-acm-mode", MAP_DMAN_VT_ON_OFF, map_radio_tspec_acm, video_acm_mode),
    MAP_DMAN_DESC("voice-acm-limit", MAP_DMAN_VT_INT16, map_radio_tspec_acm, voice_acm_limit),
    MAP_DMAN_DESC("video-acm-limit", MAP_DMAN_VT_INT16, map_radio_tspec_acm, video_acm_limit),
    MAP_DMAN_DESC("roam-reserve-limit", MAP_DMAN_VT_INT16, map_radio_tspec_acm, roam_reserve_limit),
    MAP_DMAN_DESC("ap-inactivity-timeout", MAP_DMAN_VT_INT16, map_radio_tspec_acm,
                  ap_inactivity_timeout),
    MAP_DMAN_DESC("sta-inactivity-timeout", MAP_DMAN_VT_INT16, map_radio_tspec_acm,
                  sta_inactivity_timeout),
    MAP_DMAN_DESC("legacy-wmm-queue-map-mode", MAP_DMAN_VT_ON_OFF, map_radio_tspec_acm,
                  legacy_wmm_queue_map_mode),
};

// The AP's own EDCA values of a queue ("tx-queue").
const map_dman_prop_desc ap_queue_desc[] = {
    MAP_DMAN_DESC("aifs", MAP_DMAN_VT_INT32, map_radio_qos_queue, ap_aifs),
    MAP_DMAN_DESC("cwmin", MAP_DMAN_VT_INT32, map_radio_qos_queue, ap_cwmin),
    MAP_DMAN_DESC("cwmax", MAP_DMAN_VT_INT32, map_radio_qos_queue, ap_cwmax),
    MAP_DMAN_DESC("burst", MAP_DMAN_VT_FLOAT, map_radio_qos_queue, ap_burst),
};

// The values announced to stations ("wme-queue").
const map_dman_prop_desc sta_queue_desc[] = {
    MAP_DMAN_DESC("aifs", MAP_DMAN_VT_INT32, map_radio_qos_queue, sta_aifs),
    MAP_DMAN_DESC("cwmin", MAP_DMAN_VT_INT32, map_radio_qos_queue, sta_cwmin),
    MAP_DMAN_DESC("cwmax", MAP_DMAN_VT_INT32, map_radio_qos_queue, sta_cwmax),
    MAP_DMAN_DESC("txop-limit", MAP_DMAN_VT_INT32, map_radio_qos_queue, sta_txop_limit),
};

constexpr const char* ap_queue_name[MAP_RADIO_QOS_QUEUES] = {"data0", "data1", "data2", "data3"};
constexpr const char* sta_queue_name[MAP_RADIO_QOS_QUEUES] = {"vo", "vi", "be", "bk"};

template <size_t n>
constexpr uint32_t count_of(const map_dman_prop_desc (&)[n]) {
    return static_cast<uint32_t>(n);
}

// The record's name, always terminated.
struct radio_name {
    char text[MAP_RADIO_TEXT_LEN];
    explicit radio_name(const map_radio_config& radio) {
        snprintf(text, sizeof text, "%.*s", MAP_RADIO_TEXT_LEN - 1, radio.radio_name);
    }
};

// Writes `table` of `base` to (cls, instance) after tracing `heading` and
// every value.
int write_table(const char* cls, const char* instance, const map_dman_prop_desc* table,
                uint32_t count, const void* base, pv* qualifier, const char* heading, char** error,
                const char* error_text) {
    pv_ptr list(map_dman_util_fill_pv_list(table, base, count));
    MAP_TRACE(MAP_TRACE_CONFIG, "%s", heading);
    map_config_trace_list(list.get(), "");
    return map_config_write_row(cls, instance, list.get(), qualifier, error, error_text);
}

// Writes one queue's row of (cls, instance), the row whose "queue" is
// `queue_name`.
int write_queue(const char* cls, const char* instance, const char* queue_name,
                const map_dman_prop_desc* table, uint32_t count, const map_radio_qos_queue& queue,
                const char* heading, char** error, const char* error_text) {
    pv_ptr qualifier(lsqlquery_new_pv_solo("queue", queue_name));
    if (!qualifier) {
        map_config_error_set(error, error_text);
        return -1;
    }
    return write_table(cls, instance, table, count, &queue, qualifier.get(), heading, error,
                       error_text);
}

// Replaces the rows of one rate class with the rates of `bits`.
int apply_rate_rows(const char* cls, const char* instance, uint32_t bits, const char* error_text,
                    char** error) {
    pv_ptr rows;
    pv* tail = nullptr;
    for (int bit = 0; bit < MAP_RADIO_RATE_BITS; ++bit) {
        if ((bits & (1u << bit)) == 0) {
            continue;
        }
        pv* row = lsqlquery_new_pv_with_peer("rate", map_radio_rate_text[bit], nullptr, tail);
        if (row == nullptr) {
            rows.reset();
            break;
        }
        if (!rows) {
            rows.reset(row);
        }
        tail = row;
    }
    // The old rows go first; an empty set then fails, leaving the class
    // without rows, as the switch asked for none.
    if (lsqlquery_delete_pv(cls, instance, nullptr) != 0 || !rows ||
        lsqlquery_insert_pv(cls, instance, rows.get()) != 0) {
        MAP_ERROR("Error in applying the rate configuration");
        map_config_error_set(error, error_text);
        return -1;
    }
    return 0;
}

// A set mode-changed flag puts the channel policy back to "best" with the
// regulatory default channel of the new mode.
void mode_change_apply(map_radio_config& radio) {
    radio.mode_changed = 0;
    radio.radio_changed = 1;
    snprintf(radio.channel_policy, sizeof radio.channel_policy, "best");
    char country[4] = {};
    map_lsql_country_code_get(country);
    const int bandwidth =
        strcmp(radio.n_bandwidth, "20") == 0 ? MAP_REG_BANDWIDTH_20 : MAP_REG_BANDWIDTH_40;
    const int upper = strcmp(radio.n_primary_channel, "upper") == 0 ? 1 : 0;
    int channel = map_get_default_radio_channel(country, radio.mode_number, bandwidth, upper);
    if (channel == 0) {
        MAP_TRACE(MAP_TRACE_CONFIG,
                  "For radio - %s the reg domain is invalid so channel set to 1 \n",
                  radio.radio_name);
        channel = 1;
    }
    snprintf(radio.static_channel, sizeof radio.static_channel, "%d", channel);
    MAP_TRACE(MAP_TRACE_CONFIG,
              "Radio Mode for %s is changed so changing policy to best with static as %d",
              radio.radio_name, channel);
}

int apply_one_radio(map_radio_config& radio, char** error) {
    const radio_name name(radio);
    if (name.text[0] == '\0' || map_dman_lsql_is_radio_instance_exist(name.text) != 0) {
        MAP_TRACE(MAP_TRACE_CONFIG,
                  "Radio config is not applied as the radio instance does not exist for %s",
                  name.text);
        return 0;
    }
    if (radio.admin_mode == 0) {
        MAP_TRACE(MAP_TRACE_CONFIG,
                  "Radio config is not applied as the radio admin mode is disabled for %s",
                  name.text);
        return 0;
    }
    if (radio.mode_changed != 0) {
        mode_change_apply(radio);
    }
    if (radio.radio_changed != 0) {
        radio.radio_changed = 0;
        if (map_dman_lsql_apply_radio_configuration(&radio, error) != 0 ||
            map_dman_lsql_apply_radio_tspec_acm_configuration(&radio, error) != 0) {
            return -1;
        }
    }
    if (radio.service_set_changed != 0) {
        radio.service_set_changed = 0;
        if (map_dman_lsql_apply_radio_service_set_configuration(&radio, error) != 0) {
            return -1;
        }
    }
    if (radio.rates_changed != 0) {
        radio.rates_changed = 0;
        if (map_dman_lsql_apply_radio_rate_configuration(&radio, error) != 0) {
            return -1;
        }
    }
    return map_dman_lsql_apply_radio_qos_configuration(&radio, error);
}

}  // namespace

// ---- shared helpers ---------------------------------------------------------------

void map_config_error_set(char** error, const char* text) {
    if (error == nullptr) {
        return;
    }
    if (text == nullptr) {
        text = "";
    }
    const size_t len = strnlen(text, MAP_CONFIG_ERROR_LEN);
    char* copy = static_cast<char*>(malloc(len + 1));
    if (copy != nullptr) {
        memcpy(copy, text, len);
        copy[len] = '\0';
    }
    free(*error);
    *error = copy;
}

int map_config_write_row(const char* cls, const char* instance, pv* list, pv* qualifier,
                         char** error, const char* fallback) {
    if (list == nullptr) {
        map_config_error_set(error, fallback);
        return -1;
    }
    char* raw = nullptr;
    const int rc = lsqlquery_set_pv_with_error(cls, instance, list, qualifier, &raw);
    text_ptr text(raw);
    if (rc == 0) {
        return 0;
    }
    map_config_error_set(error, text && text.get()[0] != '\0' ? text.get() : fallback);
    return -1;
}

void map_config_trace_list(const pv* list, const char* prefix) {
    if (!map_trace_enabled(MAP_TRACE_CONFIG)) {
        return;
    }
    for (const pv* node = list; node != nullptr; node = node->next) {
        MAP_TRACE(MAP_TRACE_CONFIG, "%s%s = %s", prefix != nullptr ? prefix : "",
                  map_dman_detail::or_empty(node->name), map_dman_detail::or_empty(node->value));
    }
}

// ---- radio apply ------------------------------------------------------------------

int map_dman_lsql_apply_radio_configuration(const map_radio_config* radio, char** error) {
    static constexpr char error_text[] = "Error in applying the radio configuration";
    if (radio == nullptr) {
        map_config_error_set(error, error_text);
        return -1;
    }
    const radio_name name(*radio);
    const uint32_t count =
        radio->static_channel[0] != '\0' ? radio_desc_count : radio_desc_count - 1;
    if (write_table("radio", name.text, radio_desc, count, radio, nullptr,
                    "Applying Radio Configuration with the following values", error,
                    error_text) != 0) {
        MAP_ERROR("%s", error_text);
        MAP_TRACE(MAP_TRACE_CONFIG, "Failed to apply the radio config");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Successful in applying the radio config");
    return 0;
}

int map_dman_lsql_apply_radio_tspec_acm_configuration(const map_radio_config* radio, char** error) {
    static constexpr char error_text[] = "Error in applying the radio configuration";
    if (radio == nullptr) {
        map_config_error_set(error, error_text);
        return -1;
    }
    const radio_name name(*radio);
    if (write_table("tspec-acm", name.text, tspec_desc, count_of(tspec_desc), &radio->tspec_acm,
                    nullptr, "Applying Radio TSPEC ACM Configuration with the following values",
                    error, error_text) != 0) {
        MAP_ERROR("%s", error_text);
        MAP_TRACE(MAP_TRACE_CONFIG, "Failed to apply the radio TSPEC ACM config");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Successful in applying the radio TSPEC ACM config");
    return 0;
}

int map_dman_lsql_apply_radio_service_set_configuration(const map_radio_config* /*radio*/,
                                                        char** /*error*/) {
    return 0;
}

int map_dman_lsql_apply_radio_rate_configuration(const map_radio_config* radio, char** error) {
    if (radio == nullptr) {
        map_config_error_set(error, "Error in the applying supported rate");
        return -1;
    }
    const radio_name name(*radio);
    if (apply_rate_rows("supported-rate", name.text, radio->supported_rates,
                        "Error in the applying supported rate", error) != 0 ||
        apply_rate_rows("basic-rate", name.text, radio->basic_rates,
                        "Error in the applying advertised rate", error) != 0) {
        return -1;
    }
    return 0;
}

int map_dman_lsql_apply_radio_qos_configuration(map_radio_config* radio, char** error) {
    static constexpr char error_text[] = "Error in applying the QOS configuration";
    if (radio == nullptr) {
        map_config_error_set(error, error_text);
        return -1;
    }
    const radio_name name(*radio);
    for (int q = 0; q < MAP_RADIO_QOS_QUEUES; ++q) {
        map_radio_qos_queue& queue = radio->qos_queue[q];
        if (queue.changed == 0) {
            continue;
        }
        queue.changed = 0;
        if (write_queue("tx-queue", name.text, ap_queue_name[q], ap_queue_desc,
                        count_of(ap_queue_desc), queue,
                        "Applying AP QOS Configuration with the following values", error,
                        error_text) != 0) {
            MAP_ERROR("%s", error_text);
            MAP_TRACE(MAP_TRACE_CONFIG, "Failed in applying the AP QOS config for Queue %d", q);
            return -1;
        }
        MAP_TRACE(MAP_TRACE_CONFIG, "Successful in applying the AP QOS config for Queue %d", q);
        if (write_queue("wme-queue", name.text, sta_queue_name[q], sta_queue_desc,
                        count_of(sta_queue_desc), queue,
                        "Applying Station QOS Configuration with the following values", error,
                        error_text) != 0) {
            MAP_ERROR("%s", error_text);
            MAP_TRACE(MAP_TRACE_CONFIG, "Failed in applying the Station QOS config for Queue %d",
                      q);
            return -1;
        }
        MAP_TRACE(MAP_TRACE_CONFIG, "Successful in applying the Station QOS config for Queue %d",
                  q);
    }
    return 0;
}

int map_config_radio_apply(map_cs* cs, char** error) {
    if (cs == nullptr) {
        map_config_error_set(error, "Error in applying the radio configuration");
        return -1;
    }
    for (auto& radio : cs->radio) {
        if (apply_one_radio(radio, error) != 0) {
            return -1;
        }
    }
    return 0;
}
