// Radio elements of a configuration message: the radio configuration, QoS
// queues, TSPEC admission control and the per-radio flags (STBC, RRM, station
// isolation).  Each fills the radio record of its radio id and raises the
// changed flags of what differs.
#include <cstdio>
#include <cstring>

#include "commands/map_cs.hpp"
#include "commands/map_cs_elems.hpp"
#include "log/map_log.hpp"
#include "wire/wire.hpp"

static constexpr char map_log_module[] = "map_cs";

namespace {

// The radio record of a radio id (1 or 2), or null with the error logged.
map_radio_config* radio_of(map_cs* cs, uint8_t radio_id) {
    if (radio_id < 1 || radio_id > MAP_CS_NUM_RADIOS) {
        MAP_ERROR("ERROR: Received incorrect radio id");
        return nullptr;
    }
    return &cs->radio[radio_id - 1];
}

// Clears the radio name and stores the name of the radio id.
bool radio_name_store(map_radio_config& radio, uint8_t radio_id) {
    char name[MAP_RADIO_TEXT_LEN + 8];
    int len = snprintf(name, sizeof name, "wlan%d", radio_id - 1);
    memset(radio.radio_name, 0, sizeof radio.radio_name);
    if (len < 0 || len >= MAP_RADIO_TEXT_LEN) {
        MAP_ERROR("ERROR: radio name length too long");
        return false;
    }
    memcpy(radio.radio_name, name, static_cast<size_t>(len));
    return true;
}

// The fixed multicast rate text of the rate in 100 kbit/s units.
const char* multicast_rate_text(uint16_t rate) {
    switch (rate) {
        case 10:
            return "1";
        case 20:
            return "2";
        case 55:
            return "5.5";
        case 60:
            return "6";
        case 90:
            return "9";
        case 110:
            return "11";
        case 120:
            return "12";
        case 180:
            return "18";
        case 240:
            return "24";
        case 360:
            return "36";
        case 480:
            return "48";
        case 540:
            return "54";
        default:
            return "auto";
    }
}

// The passive scan band for a band selector and mode number; `current` for a
// selector other than 1, 2 or 3.
int32_t passive_scan_band(uint8_t selector, int32_t mode, int32_t current) {
    const bool five_ghz_mode = mode == 1 || mode == 3 || mode == 5;
    const bool two_ghz_mode = mode == 2 || mode == 4 || mode == 6;
    switch (selector) {
        case 1:
            return five_ghz_mode ? 0 : 1;
        case 2:
            return two_ghz_mode ? 0 : 1;
        case 3:
            return 2;
        default:
            return current;
    }
}

// The radio configuration element, field by field.
struct radio_elem {
    uint8_t radio_id;
    uint8_t admin_mode;
    uint32_t mode_number;
    uint8_t channel;
    uint8_t sentry_mode;
    uint8_t channel_hopping;
    uint32_t scan_leave_time;
    uint32_t scan_duration;
    uint8_t passive_scan_band_selector;
    uint8_t rate_limit_enable;
    uint32_t rate_limit;
    uint32_t rate_limit_burst;
    uint32_t beacon_interval;
    uint16_t dtim_period;
    uint32_t fragmentation_threshold;
    uint32_t rts_threshold;
    uint16_t service_set_short[2];
    uint32_t service_set_long[2];
    uint32_t max_stations;
    uint8_t limit_channels[MAP_RADIO_LIMIT_CHANNELS_LEN];
    uint16_t tx_power;
    uint8_t bandwidth_20;
    uint8_t primary_upper;
    uint8_t protection_auto;
    uint8_t short_guard_interval;
    uint16_t fixed_multicast_rate;
    uint8_t wme_apsd;
    uint8_t wme_noack;
    uint32_t supported_rates;
    uint32_t basic_rates;
    uint8_t wme;
    uint8_t load_balancing_on;
    uint16_t load_balancing_utilization;
    uint8_t data_snooping;
};

// Bytes 144 and 145 are not read.
bool radio_elem_read(wire_reader& r, radio_elem& e) {
    return wire_read_u8(r, e.radio_id) && wire_read_u8(r, e.admin_mode) &&
           wire_read_be32(r, e.mode_number) && wire_read_u8(r, e.channel) &&
           wire_read_u8(r, e.sentry_mode) && wire_read_u8(r, e.channel_hopping) &&
           wire_read_be32(r, e.scan_leave_time) && wire_read_be32(r, e.scan_duration) &&
           wire_read_u8(r, e.passive_scan_band_selector) && wire_read_u8(r, e.rate_limit_enable) &&
           wire_read_be32(r, e.rate_limit) && wire_read_be32(r, e.rate_limit_burst) &&
           wire_read_be32(r, e.beacon_interval) && wire_read_be16(r, e.dtim_period) &&
           wire_read_be32(r, e.fragmentation_threshold) && wire_read_be32(r, e.rts_threshold) &&
           wire_read_be16(r, e.service_set_short[0]) && wire_read_be16(r, e.service_set_short[1]) &&
           wire_read_be32(r, e.service_set_long[0]) && wire_read_be32(r, e.service_set_long[1]) &&
           wire_read_be32(r, e.max_stations) &&
           wire_read_bytes(r, e.limit_channels, sizeof e.limit_channels) &&
           wire_read_be16(r, e.tx_power) && wire_read_u8(r, e.bandwidth_20) &&
           wire_read_u8(r, e.primary_upper) && wire_read_u8(r, e.protection_auto) &&
           wire_read_u8(r, e.short_guard_interval) && wire_read_be16(r, e.fixed_multicast_rate) &&
           wire_read_u8(r, e.wme_apsd) && wire_read_u8(r, e.wme_noack) &&
           wire_read_be32(r, e.supported_rates) && wire_read_be32(r, e.basic_rates) &&
           wire_read_u8(r, e.wme) && wire_read_u8(r, e.load_balancing_on) &&
           wire_read_be16(r, e.load_balancing_utilization) && wire_read_u8(r, e.data_snooping);
}

// Stores the element into the radio record and raises the flags of the
// groups that changed.  True when any group changed.
bool radio_elem_store(map_radio_config& radio, const radio_elem& e) {
    bool changed = false;
    bool service_set = false;
    changed |= map_cs_elem_update(radio.admin_mode, e.admin_mode);

    // A mode number of 0, below 0 or above 6 counts as 1.
    int32_t mode = static_cast<int32_t>(e.mode_number);
    if (mode < MAP_RADIO_MODE_MIN || mode > MAP_RADIO_MODE_MAX) {
        mode = MAP_RADIO_MODE_MIN;
    }
    radio.mode_number = mode;
    changed |= map_cs_elem_update_text(radio.mode, MAP_RADIO_TEXT_LEN, map_radio_mode_text(mode));
    // The mode-changed flag is left alone: the element carries the channel
    // the switch wants with the new mode, and the flag would replace it by
    // the regulatory default at apply time.

    // The static channel text follows only a change of policy.
    const char* policy = e.channel > 0 ? "static" : "best";
    if (map_cs_elem_update_text(radio.channel_policy, MAP_RADIO_TEXT_LEN, policy)) {
        changed = true;
        memset(radio.static_channel, 0, sizeof radio.static_channel);
        if (e.channel > 0) {
            snprintf(radio.static_channel, sizeof radio.static_channel, "%d", e.channel);
        }
    }

    changed |= map_cs_elem_update(radio.sentry_mode, e.sentry_mode);
    changed |= map_cs_elem_update(radio.channel_hopping, e.channel_hopping);
    changed |= map_cs_elem_update(radio.scan_leave_time, static_cast<int32_t>(e.scan_leave_time));
    changed |= map_cs_elem_update(radio.scan_duration, static_cast<int32_t>(e.scan_duration));
    changed |= map_cs_elem_update(radio.passive_scan_band_selector, e.passive_scan_band_selector);
    changed |= map_cs_elem_update(radio.rate_limit_enable, e.rate_limit_enable);
    changed |= map_cs_elem_update(radio.rate_limit, static_cast<int32_t>(e.rate_limit));
    changed |= map_cs_elem_update(radio.rate_limit_burst, static_cast<int32_t>(e.rate_limit_burst));
    changed |= map_cs_elem_update(radio.beacon_interval, static_cast<int32_t>(e.beacon_interval));
    // DTIM period and maximum stations belong to the service-set group, and
    // they are written with the radio's properties, so they mark both.
    const bool dtim_changed = map_cs_elem_update(radio.dtim_period, e.dtim_period);
    service_set |= dtim_changed;
    changed |= dtim_changed;
    changed |= map_cs_elem_update(radio.fragmentation_threshold,
                                  static_cast<int32_t>(e.fragmentation_threshold));
    changed |= map_cs_elem_update(radio.rts_threshold, static_cast<int32_t>(e.rts_threshold));
    for (int i = 0; i < 2; ++i) {
        service_set |= map_cs_elem_update(radio.service_set_short[i], e.service_set_short[i]);
        service_set |= map_cs_elem_update(radio.service_set_long[i], e.service_set_long[i]);
    }

    int32_t max_stations = static_cast<int32_t>(e.max_stations);
    if (max_stations > MAP_RADIO_MAX_STATIONS) {
        MAP_TRACE(MAP_TRACE_CONFIG,
                  "Override max stations config value for radio - %s old: %d, new: 200",
                  radio.radio_name, max_stations);
        max_stations = MAP_RADIO_MAX_STATIONS;
    }
    const bool stations_changed = map_cs_elem_update(radio.max_stations, max_stations);
    service_set |= stations_changed;
    changed |= stations_changed;

    if (memcmp(radio.limit_channels, e.limit_channels, sizeof e.limit_channels) != 0) {
        memcpy(radio.limit_channels, e.limit_channels, sizeof e.limit_channels);
        changed = true;
    }
    changed |= map_cs_elem_update(radio.tx_power, e.tx_power);
    changed |= map_cs_elem_update_text(radio.n_bandwidth, MAP_RADIO_TEXT_LEN,
                                       e.bandwidth_20 == 1 ? "20" : "40");
    changed |= map_cs_elem_update_text(radio.n_primary_channel, MAP_RADIO_TEXT_LEN,
                                       e.primary_upper == 1 ? "upper" : "lower");
    changed |= map_cs_elem_update_text(radio.protection, MAP_RADIO_TEXT_LEN,
                                       e.protection_auto == 1 ? "auto" : "off");
    changed |= map_cs_elem_update(radio.short_guard_interval, e.short_guard_interval);
    changed |= map_cs_elem_update_text(radio.fixed_multicast_rate, MAP_RADIO_TEXT_LEN,
                                       multicast_rate_text(e.fixed_multicast_rate));
    changed |= map_cs_elem_update(radio.wme_apsd, e.wme_apsd);
    changed |= map_cs_elem_update(radio.wme_noack, e.wme_noack);

    bool rates = map_cs_elem_update(radio.supported_rates, e.supported_rates);
    rates |= map_cs_elem_update(radio.basic_rates, e.basic_rates);

    changed |= map_cs_elem_update(radio.wme, e.wme);
    changed |= map_cs_elem_update(radio.load_balancing_on, e.load_balancing_on);
    changed |= map_cs_elem_update(radio.load_balancing_utilization, e.load_balancing_utilization);
    changed |= map_cs_elem_update(radio.data_snooping, e.data_snooping);

    changed |= map_cs_elem_update(
        radio.passive_scan_band,
        passive_scan_band(e.passive_scan_band_selector, mode, radio.passive_scan_band));
    changed |= map_cs_elem_update(
        radio.no_association_utilization,
        static_cast<uint16_t>(e.load_balancing_on != 0 ? e.load_balancing_utilization : 0));

    if (service_set) {
        radio.service_set_changed = 1;
    }
    if (rates) {
        radio.rates_changed = 1;
    }
    if (changed) {
        radio.radio_changed = 1;
    }
    return changed || service_set || rates;
}

// The common part of the two-byte elements (radio id, flag): stores the
// radio name and the flag chosen by `field`.
int radio_flag_elem(map_cs* cs, std::span<const uint8_t> value, uint8_t map_radio_config::*field) {
    const uint8_t radio_id = value[0];
    const uint8_t flag = value[1];
    map_radio_config* radio = radio_of(cs, radio_id);
    if (radio == nullptr || !radio_name_store(*radio, radio_id)) {
        return MAP_CS_ELEM_FAILED;
    }
    if (map_cs_elem_update(radio->*field, flag)) {
        radio->radio_changed = 1;
    }
    return MAP_CS_ELEM_OK;
}

}  // namespace

bool map_cs_elem_update_text(char* field, int size, const char* value) {
    if (field == nullptr || size <= 0 || value == nullptr) {
        return false;
    }
    const size_t len = strnlen(value, static_cast<size_t>(size) - 1);
    if (strnlen(field, static_cast<size_t>(size)) == len && memcmp(field, value, len) == 0) {
        return false;
    }
    memset(field, 0, static_cast<size_t>(size));
    memcpy(field, value, len);
    return true;
}

int map_cs_handler_process_radio_config(map_cs* cs, std::span<const uint8_t> value) {
    wire_reader r = wire_reader_make(value.data(), value.size());
    radio_elem e{};
    if (!radio_elem_read(r, e)) {
        MAP_ERROR("ERROR: Received incorrect Radio Config pkt");
        return MAP_CS_ELEM_END_WALK;
    }
    map_radio_config* radio = radio_of(cs, e.radio_id);
    if (radio == nullptr || !radio_name_store(*radio, e.radio_id)) {
        return MAP_CS_ELEM_FAILED;
    }
    if (radio_elem_store(*radio, e)) {
        MAP_TRACE(MAP_TRACE_CONFIG,
                  "Radio configuration changed for radio - %s whose adminmode - %d",
                  radio->radio_name, radio->admin_mode);
    } else {
        MAP_TRACE(MAP_TRACE_CONFIG,
                  "Radio configuration in not changed for radio - %s whose adminmode - %d",
                  radio->radio_name, radio->admin_mode);
    }
    return MAP_CS_ELEM_OK;
}

int map_cs_handler_process_qos_config(map_cs* cs, std::span<const uint8_t> value) {
    wire_reader r = wire_reader_make(value.data(), value.size());
    uint8_t radio_id = 0;
    uint32_t v[MAP_RADIO_QOS_QUEUES][8] = {};
    bool ok = wire_read_u8(r, radio_id);
    for (int q = 0; ok && q < MAP_RADIO_QOS_QUEUES; ++q) {
        for (int i = 0; ok && i < 8; ++i) {
            ok = wire_read_be32(r, v[q][i]);
        }
    }
    if (!ok) {
        MAP_ERROR("ERROR: Received incorrect QoS Config pkt");
        return MAP_CS_ELEM_END_WALK;
    }
    map_radio_config* radio = radio_of(cs, radio_id);
    if (radio == nullptr) {
        return MAP_CS_ELEM_FAILED;
    }
    for (int q = 0; q < MAP_RADIO_QOS_QUEUES; ++q) {
        map_radio_qos_queue& queue = radio->qos_queue[q];
        bool changed = false;
        changed |= map_cs_elem_update(queue.ap_aifs, static_cast<int32_t>(v[q][0]));
        changed |= map_cs_elem_update(queue.ap_cwmin, static_cast<int32_t>(v[q][1]));
        changed |= map_cs_elem_update(queue.ap_cwmax, static_cast<int32_t>(v[q][2]));
        // The burst comes in microseconds and is kept in milliseconds.
        changed |= map_cs_elem_update(queue.ap_burst,
                                      static_cast<float>(static_cast<int32_t>(v[q][3])) / 1000.0f);
        changed |= map_cs_elem_update(queue.sta_aifs, static_cast<int32_t>(v[q][4]));
        changed |= map_cs_elem_update(queue.sta_cwmin, static_cast<int32_t>(v[q][5]));
        changed |= map_cs_elem_update(queue.sta_cwmax, static_cast<int32_t>(v[q][6]));
        changed |= map_cs_elem_update(queue.sta_txop_limit, static_cast<int32_t>(v[q][7]));
        if (changed) {
            queue.changed = 1;
        }
    }
    return MAP_CS_ELEM_OK;
}

int map_cs_handler_process_station_isolation_config(map_cs* cs, std::span<const uint8_t> value) {
    return radio_flag_elem(cs, value, &map_radio_config::station_isolation);
}

int map_cs_handler_process_radio_stbc_config(map_cs* cs, std::span<const uint8_t> value) {
    return radio_flag_elem(cs, value, &map_radio_config::stbc);
}

int map_cs_handler_process_radio_rrm_mode_config(map_cs* cs, std::span<const uint8_t> value) {
    return radio_flag_elem(cs, value, &map_radio_config::rrm);
}

int map_cs_handler_process_radio_tspec_acm_config(map_cs* cs, std::span<const uint8_t> value) {
    wire_reader r = wire_reader_make(value.data(), value.size());
    uint8_t radio_id = 0;
    map_radio_tspec_acm in{};
    if (!wire_read_u8(r, radio_id) || !wire_read_u8(r, in.tspec_mode) ||
        !wire_read_u8(r, in.voice_acm_mode) || !wire_read_u8(r, in.video_acm_mode) ||
        !wire_read_be16(r, in.voice_acm_limit) || !wire_read_be16(r, in.video_acm_limit) ||
        !wire_read_be16(r, in.roam_reserve_limit) || !wire_read_be16(r, in.ap_inactivity_timeout) ||
        !wire_read_be16(r, in.sta_inactivity_timeout) ||
        !wire_read_u8(r, in.legacy_wmm_queue_map_mode)) {
        MAP_ERROR("ERROR: Received incorrect Radio TSPEC ACM Config pkt");
        return MAP_CS_ELEM_END_WALK;
    }
    map_radio_config* radio = radio_of(cs, radio_id);
    if (radio == nullptr || !radio_name_store(*radio, radio_id)) {
        return MAP_CS_ELEM_FAILED;
    }
    // The stored values are cleared before the comparison, so any non-zero
    // value marks the radio changed.
    map_radio_tspec_acm& t = radio->tspec_acm;
    t = map_radio_tspec_acm{};
    bool changed = false;
    changed |= map_cs_elem_update(t.tspec_mode, in.tspec_mode);
    changed |= map_cs_elem_update(t.voice_acm_mode, in.voice_acm_mode);
    changed |= map_cs_elem_update(t.video_acm_mode, in.video_acm_mode);
    changed |= map_cs_elem_update(t.voice_acm_limit, in.voice_acm_limit);
    changed |= map_cs_elem_update(t.video_acm_limit, in.video_acm_limit);
    changed |= map_cs_elem_update(t.roam_reserve_limit, in.roam_reserve_limit);
    changed |= map_cs_elem_update(t.ap_inactivity_timeout, in.ap_inactivity_timeout);
    changed |= map_cs_elem_update(t.sta_inactivity_timeout, in.sta_inactivity_timeout);
    changed |= map_cs_elem_update(t.legacy_wmm_queue_map_mode, in.legacy_wmm_queue_map_mode);
    if (changed) {
        radio->radio_changed = 1;
    }
    return MAP_CS_ELEM_OK;
}
