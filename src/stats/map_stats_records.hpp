// The statistics records: what the driver readers fill and the statistics
// messages are built from.  Counters are in host byte order; 64-bit counters
// as uint64_t, the others as uint32_t.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int MAP_STATS_AC_VOICE = 0;  // index of the voice access category
inline constexpr int MAP_STATS_AC_VIDEO = 1;  // index of the video access category
inline constexpr int MAP_STATS_ACS = 2;
inline constexpr int MAP_STATS_DOT11_COUNTERS = 14;
inline constexpr int MAP_STATS_CLIENT_TS_SLOTS = 4;
inline constexpr int MAP_STATS_MAX_CLIENTS = 512;
inline constexpr size_t MAP_STATS_CLIENT_DEV_LEN = 32;
inline constexpr size_t MAP_STATS_CLIENT_NAME_LEN = 16;

// Traffic-stream counters of one access category.
struct map_ts_counters {
    uint64_t rx_packets;
    uint64_t rx_bytes;
    uint64_t tx_packets;
    uint64_t tx_bytes;
};

// Traffic-stream status of one access category of a radio or a VAP, as the
// TSPEC application reports it: a leading byte and six words.
struct map_ts_status {
    uint8_t lead;
    uint32_t word[6];
};

// The counters of one interface: the wired interface, a radio interface or
// a VAP, as the driver files name them.
struct map_if_stats {
    uint64_t rx_packets;
    uint64_t rx_bytes;
    uint64_t rx_mcast;
    uint64_t tx_packets;
    uint64_t tx_bytes;
    uint64_t tx_errors;
    uint64_t rx_errors;
    uint64_t drop_tx_bytes;
    uint64_t drop_rx_bytes;
    uint64_t drop_tx_packets;
    uint64_t drop_rx_packets;
    uint32_t arp_bc_2_uc;       // ARP broadcasts converted to unicast
    uint32_t arp_req_filtered;  // ARP requests filtered
    uint32_t arp_bc;            // ARP broadcasts
    map_ts_counters ts[MAP_STATS_ACS];  // voice, video
};

// Traffic of a layer-2 tunnel.
struct map_tunnel_traffic {
    uint64_t tx_bytes;
    uint64_t tx_packets;
    uint64_t tx_mcast;
    uint64_t rx_bytes;
    uint64_t rx_packets;
    uint64_t rx_mcast;
};

// The AP as a whole, rebuilt before every statistics message.
struct map_global_stats {
    uint8_t ap_mac[6];
    uint32_t uptime;
    // summed over "wlan0" and "wlan1"
    uint64_t wl_rx_packets;
    uint64_t wl_rx_bytes;
    uint64_t wl_tx_packets;
    uint64_t wl_tx_bytes;
    uint64_t wl_drop_rx_bytes;
    uint64_t wl_drop_tx_bytes;
    uint64_t wl_drop_tx_packets;
    uint64_t wl_drop_rx_packets;
    // the wired interface "eth0"
    uint64_t eth_rx_packets;
    uint64_t eth_rx_bytes;
    uint64_t eth_rx_mcast;
    uint64_t eth_tx_packets;
    uint64_t eth_tx_bytes;
    uint64_t eth_tx_errors;
    uint64_t eth_rx_errors;
    map_tunnel_traffic cl2;  // the central layer-2 tunnel
    uint32_t l2_max_tunnels;
    uint32_t l2_vlan_max_tunnels;
    map_tunnel_traffic dl2;  // the distributed layer-2 tunnel
    uint32_t dl2_num_tunnels;
    uint32_t dl2_clients_home;
    uint32_t dl2_clients_assoc;
    uint32_t dl2_total_roamed_clients;
    uint32_t dl2_roamed_clients_idle;
    uint32_t dl2_roamed_clients_age;
    uint32_t dl2_setup_denies_max_cli;
    uint32_t dl2_setup_denies_max_rep;
    // summed over both radios
    uint32_t arp_bc_2_uc;
    uint32_t arp_req_filtered;
    uint32_t arp_bc;
    uint32_t ts_summary[MAP_STATS_ACS][4];  // the AP's traffic-stream summary
    map_ts_counters ts[MAP_STATS_ACS];      // summed over both radios
    uint32_t ts_status[MAP_STATS_ACS][3];   // the AP's traffic-stream status
};

// One radio (radio numbers 1 and 2 for "wlan0" and "wlan1").
struct map_radio_stats {
    uint8_t mac[6];
    uint32_t channel;
    uint32_t tx_power;
    uint32_t channel_util;
    uint64_t rx_packets;
    uint64_t rx_bytes;
    uint64_t tx_packets;
    uint64_t tx_bytes;
    uint64_t drop_tx_bytes;
    uint64_t drop_rx_bytes;
    uint64_t drop_tx_packets;
    uint64_t drop_rx_packets;
    // TransmittedFragmentCount ... WEPUndecryptableCount, in the order of the
    // radio's counters file
    uint32_t dot11[MAP_STATS_DOT11_COUNTERS];
    map_ts_counters ts[MAP_STATS_ACS];
    map_ts_status ts_status[MAP_STATS_ACS];
};

// One VAP.
struct map_vap_stats {
    uint32_t auth_fail[2];  // authentication failures of the first and second kind
    uint64_t rx_packets;
    uint64_t rx_bytes;
    uint64_t tx_packets;
    uint64_t tx_bytes;
    uint64_t drop_tx_bytes;
    uint64_t drop_rx_bytes;
    uint64_t drop_tx_packets;
    uint64_t drop_rx_packets;
    map_ts_counters ts[MAP_STATS_ACS];
    map_ts_status ts_status[MAP_STATS_ACS];
};

// One traffic stream of a client.
struct map_client_ts {
    uint64_t rx_packets;
    uint64_t rx_bytes;
    uint64_t tx_packets;
    uint64_t tx_bytes;
    uint8_t in_use;
    uint8_t tid;        // 0 to 7
    uint8_t ac;         // 3 voice, 2 video
    uint8_t direction;  // 0 uplink, 1 downlink, 3 bidirectional
    uint32_t excess_usage_events;
};

// One collected client, from its station file.
struct map_client_stats {
    uint8_t mac[6];
    uint32_t auth;   // bit 0 of flags
    uint32_t assoc;  // bit 1 of flags
    char dev[MAP_STATS_CLIENT_DEV_LEN + 1];
    uint32_t txrate;
    uint64_t rx_packets;
    uint64_t rx_bytes;
    uint64_t tx_packets;
    uint64_t tx_bytes;
    uint64_t drop_tx_bytes;
    uint64_t drop_rx_bytes;
    uint64_t drop_tx_packets;
    uint64_t drop_rx_packets;
    uint32_t last_rssi;
    uint32_t rx_duplicates;
    uint32_t rx_fragments;
    uint32_t tx_fragments;
    uint32_t tx_retry_count;
    uint32_t tx_retry_failed;
    uint32_t inactive_msec;
    uint32_t ip_addr;
    char nb_name[MAP_STATS_CLIENT_NAME_LEN + 1];
    uint32_t flags;
    uint32_t ts_violate_rx_packets;
    uint32_t ts_violate_tx_packets;
    map_client_ts ts[MAP_STATS_CLIENT_TS_SLOTS];
};

// One entry of the client statistics table: a client the switch is told about.
struct map_client_entry {
    uint8_t mac[6];
    uint8_t radio;  // 1 or 2
    uint8_t vap;    // VAP index
    uint32_t auth;
    uint32_t assoc;
};

// Which clients are collected, and where the next slice starts.
struct map_client_table {
    int32_t last;         // index of the last entry, -1 when empty
    uint32_t next_start;  // counted from 1
    map_client_entry entry[MAP_STATS_MAX_CLIENTS];
};

// Everything the statistics of one config/status component keep.
struct map_stats_db {
    map_global_stats global;
    map_radio_stats radio[2];
    map_client_table table;
    map_client_stats client[MAP_STATS_MAX_CLIENTS];
    int client_count;
};
