// The radio configuration record: what the switch's configuration elements
// say about one radio, kept per radio in the config/status component and
// written to the configuration database ("radio", "tspec-acm",
// "supported-rate", "basic-rate", "tx-queue", "wme-queue").
#pragma once

#include <cstdint>

// The AP has up to two radios, "wlan0" (radio id 1) and "wlan1" (radio id 2).
inline constexpr int MAP_MAX_RADIOS = 2;
// Text fields of the record, terminator included.
inline constexpr int MAP_RADIO_TEXT_LEN = 32;
// Limit channels: NUL-terminated list of channel numbers.
inline constexpr int MAP_RADIO_LIMIT_CHANNELS_LEN = 64;
// QoS queues 0 to 3 ("data0".."data3" on the AP side, "vo", "vi", "be", "bk"
// on the station side).
inline constexpr int MAP_RADIO_QOS_QUEUES = 4;

// Mode numbers: 1 "a", 2 "bg", 3 "a-n", 4 "bg-n", 5 "n-only-a", 6 "n-only-g".
inline constexpr int32_t MAP_RADIO_MODE_MIN = 1;
inline constexpr int32_t MAP_RADIO_MODE_MAX = 6;

// Rate bits: bit 0 "1", 1 "2", 2 "5.5", 3 "6", 4 "9", 5 "11", 6 "12", 7 "18",
// 8 "24", 9 "36", 10 "48", 11 "54", 12 "72", 13 "96", 14 "108" (Mbit/s).
inline constexpr int MAP_RADIO_RATE_BITS = 15;
inline constexpr const char* map_radio_rate_text[MAP_RADIO_RATE_BITS] = {
    "1", "2", "5.5", "6", "9", "11", "12", "18", "24", "36", "48", "54", "72", "96", "108"};

// The "mode" text of a mode number; a number outside 1 to 6 is taken as 1.
inline const char* map_radio_mode_text(int32_t mode_number) {
    static constexpr const char* text[] = {"a", "bg", "a-n", "bg-n", "n-only-a", "n-only-g"};
    if (mode_number < MAP_RADIO_MODE_MIN || mode_number > MAP_RADIO_MODE_MAX) {
        mode_number = MAP_RADIO_MODE_MIN;
    }
    return text[mode_number - MAP_RADIO_MODE_MIN];
}

// Maximum stations of a radio: larger values are cut to this.
inline constexpr int32_t MAP_RADIO_MAX_STATIONS = 200;

struct map_vap_config;  // one per VAP of a radio

// One QoS queue: AP and station EDCA values and a changed flag.
struct map_radio_qos_queue {
    int32_t ap_aifs;         // "aifs" of "tx-queue"
    int32_t ap_cwmin;        // "cwmin"
    int32_t ap_cwmax;        // "cwmax"
    float ap_burst;          // "burst", milliseconds
    int32_t sta_aifs;        // "aifs" of "wme-queue"
    int32_t sta_cwmin;       // "cwmin"
    int32_t sta_cwmax;       // "cwmax"
    int32_t sta_txop_limit;  // "txop-limit"
    uint32_t changed;
};

// TSPEC admission control ("tspec-acm").
struct map_radio_tspec_acm {
    uint8_t tspec_mode;                 // "tspec-mode"
    uint8_t voice_acm_mode;             // "voice-acm-mode"
    uint8_t video_acm_mode;             // "video-acm-mode"
    uint16_t voice_acm_limit;           // "voice-acm-limit"
    uint16_t video_acm_limit;           // "video-acm-limit"
    uint16_t roam_reserve_limit;        // "roam-reserve-limit"
    uint16_t ap_inactivity_timeout;     // "ap-inactivity-timeout"
    uint16_t sta_inactivity_timeout;    // "sta-inactivity-timeout"
    uint8_t legacy_wmm_queue_map_mode;  // "legacy-wmm-queue-map-mode"
};

// One radio, fields in declaration order; the comments give the property of
// the "radio" class each field is written to.
struct map_radio_config {
    char radio_name[MAP_RADIO_TEXT_LEN];      // instance name; empty = no such radio
    char mode[MAP_RADIO_TEXT_LEN];            // "mode"
    char channel_policy[MAP_RADIO_TEXT_LEN];  // "channel-policy": "best" or "static"
    char static_channel[MAP_RADIO_TEXT_LEN];  // "static-channel", only when not empty
    uint8_t admin_mode;                       // chooses "up"/"down" for "status"
    uint8_t sentry_mode;                      // "sentry-mode"
    uint8_t channel_hopping;                  // "channel-hopping"
    int32_t scan_leave_time;                  // "scan-leave-time"
    int32_t scan_duration;                    // "scan-duration"
    uint8_t passive_scan_band_selector;
    uint8_t rate_limit_enable;                             // "rate-limit-enable"
    int32_t rate_limit;                                    // "rate-limit"
    int32_t rate_limit_burst;                              // "rate-limit-burst"
    int32_t beacon_interval;                               // "beacon-interval"
    uint16_t dtim_period;                                  // "dtim-period"
    int32_t fragmentation_threshold;                       // "fragmentation-threshold"
    int32_t rts_threshold;                                 // "rts-threshold"
    uint16_t service_set_short[2];                         // stored and compared only
    uint32_t service_set_long[2];                          // stored and compared only
    int32_t max_stations;                                  // "max-stations"
    uint8_t limit_channels[MAP_RADIO_LIMIT_CHANNELS_LEN];  // "limit-channels"
    uint16_t tx_power;                                     // "tx-power"
    uint32_t supported_rates;                              // rows of "supported-rate"
    uint32_t basic_rates;                                  // rows of "basic-rate"
    uint8_t wme;                                           // "wme"
    uint8_t load_balancing_on;
    uint16_t load_balancing_utilization;
    char n_bandwidth[MAP_RADIO_TEXT_LEN];                 // "n-bandwidth": "20" or "40"
    char n_primary_channel[MAP_RADIO_TEXT_LEN];           // "n-primary-channel": "upper"/"lower"
    char protection[MAP_RADIO_TEXT_LEN];                  // "protection": "auto" or "off"
    uint8_t short_guard_interval;                         // "short-guard-interval-supported"
    uint8_t stbc;                                         // "stbc-mode"
    uint8_t rrm;                                          // "rrm-mode"
    char fixed_multicast_rate[MAP_RADIO_TEXT_LEN];        // "fixed-multicast-rate"
    uint8_t wme_apsd;                                     // "wme-apsd"
    uint8_t wme_noack;                                    // "wme-noack"
    uint8_t data_snooping;                                // "data-snooping"
    uint8_t num_vaps;                                     // set by map_cs_init
    map_vap_config* vap_config;                           // owned by the config/status component
    map_radio_qos_queue qos_queue[MAP_RADIO_QOS_QUEUES];  // "tx-queue", "wme-queue"
    map_radio_tspec_acm tspec_acm;                        // "tspec-acm"
    uint32_t radio_changed;
    uint32_t mode_changed;
    int32_t mode_number;  // 1 to 6
    uint32_t service_set_changed;
    uint32_t rates_changed;
    int32_t passive_scan_band;            // "passive-scan-band"
    uint16_t no_association_utilization;  // "load-balance-no-association-utilization"
    uint8_t station_isolation;            // "station-isolation"
};
