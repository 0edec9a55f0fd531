// The config/status component: the switch's configuration held in memory,
// the VAP MAC lists, the configuration state and the statistics timer.
#pragma once

#include <cstdint>
#include <memory>

#include "store/map_radio_config.hpp"
#include "stats/map_stats_records.hpp"
#include "store/map_vap_config.hpp"
#include "tunnel/map_cp.hpp"

struct map_control_block;

inline constexpr int MAP_CS_STATE_IDLE = 0;
inline constexpr int MAP_CS_STATE_OPEN = 1;
inline constexpr int MAP_CS_STATE_APPLYING = 2;
inline constexpr int MAP_CS_STATE_CONFIGURED = 3;
inline constexpr int MAP_CS_NUM_RADIOS = 2;
inline constexpr int MAP_CS_STATUS_TEXT_LEN = 64;

struct map_cs_mac {
    uint8_t b[6];
};

// What one radio carries for its VAPs, allocated at init.
struct map_cs_radio_vaps {
    int num_vaps;
    std::unique_ptr<map_cs_mac[]> vap_mac;
    // The statistics of each VAP, indexed by VAP id.
    std::unique_ptr<map_vap_stats[]> vap_stats;
    // One configuration record per VAP, indexed by VAP id; the radio's
    // configuration record points at the same array.
    std::unique_ptr<map_vap_config[]> vap_config;
};

struct map_cs {
    map_control_block* cb;
    // configuration data, cleared as a whole by map_cs_config_data_clear
    uint8_t global_set;
    char radius_key[65];
    uint8_t radius_accounting;
    uint8_t global_cltqos_mode;
    uint8_t global_changed;
    map_radio_config radio[MAP_CS_NUM_RADIOS];
    char country[3];
    uint8_t country_changed;
    uint32_t tunnel_mtu;
    uint8_t mtu_changed;
    // per radio
    map_cs_radio_vaps vaps[MAP_CS_NUM_RADIOS];
    // the captive portal's clients
    map_cp_client_table cp_clients;
    // wired network detection VLAN
    uint16_t wired_det_vlan;
    uint8_t wired_det_vlan_changed;
    // configuration status
    int status_code;
    uint16_t status_elem;
    char status_text[MAP_CS_STATUS_TEXT_LEN];
    int config_state;
    // statistics reporting
    uint32_t stats_interval;
    int32_t stats_countdown;
    map_stats_db stats;
};

[[nodiscard]] int map_cs_init(map_control_block* cb);
int map_cs_deinit(map_cs* cs);
// Clears the configuration data: global data, the two radio records, country
// and MTU.  The VAP records are not part of it and keep their values.
void map_cs_config_data_clear(map_cs* cs);
// Finds a VAP by its MAC; the out values are zeroed first.  0 or -1.
int map_cs_get_vap_info_vap_mac_list(map_cs* cs, const uint8_t* mac, int* radio_index,
                                     int* vap_index);
// The configuration record of VAP `vap_id` (from 0) of radio `radio_id` (1 or
// 2); null for an id out of range or a radio without records (the last is
// logged).
map_vap_config* map_cs_get_vap_config(map_cs* cs, int radio_id, int vap_id);
// The client QoS defaults of one VAP, as its configuration record keeps them.
struct map_vap_client_qos_cfg {
    uint8_t mode;
    uint32_t bw[2];             // maximum bandwidth, index 0 down, 1 up
    map_vap_qos_ref acl[2];     // down, up
    map_vap_qos_ref policy[2];  // down, up
};
// Fills `out` with the client QoS defaults of VAP `vap_id` of radio
// `radio_id` (numbered as for map_cs_get_vap_config); 0, or -1 with `out`
// all zeros when the VAP has no configuration record.
int map_cs_get_vap_client_qos_cfg(map_cs* cs, int radio_id, int vap_id,
                                  map_vap_client_qos_cfg* out);
// The AP disassociates a client: hostapd is told (local disassociate command)
// and the client leaves the association table.  0, or -1 when hostapd could
// not be told.
int map_cs_disassociate_client(map_cs* cs, const uint8_t* client_mac);
// Disassociates every client of the association table on VAP `vap_id` of
// radio `radio_id`.
void map_cs_disassociate_vap_clients(map_cs* cs, int radio_id, int vap_id);
// The portal entry of an associated client, made from its association entry
// on first use; null for a client the AP does not have associated (or when
// the portal's table is full).
map_cp_client* map_cs_cp_client_find(map_cs* cs, const uint8_t* client_mac);
// Adds `n` to a MAC taken as one 48-bit big-endian number.
void map_cs_mac_add(const uint8_t* base, uint32_t n, uint8_t* out);
