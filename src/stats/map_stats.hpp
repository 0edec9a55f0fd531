// Statistics of the config/status component: the records rebuilt for each
// report, the client statistics table and its slices, and the reports to the
// switch (SWITCH_STATUS_INT sets the interval; every interval one SWITCH_STATS
// datagram with the global, radio and VAP elements, then the client
// datagrams of that period's slice).
#pragma once

#include <cstddef>
#include <cstdint>

#include "stats/map_stats_records.hpp"

struct map_cs;

// ---- collection ----------------------------------------------------------------

// Rebuilds the global record: sums of both radios, "eth0", the tunnels, the
// uptime and the AP MAC.
void map_cs_stats_global_db_update(map_cs* cs);
// Rebuilds the record of radio `index` (0 or 1) when the configuration marks
// the radio present; 0 when it was built, -1 when it is left out.
int map_cs_stats_radio_db_update(map_cs* cs, int index);
// Refreshes the record of every enabled VAP of the present radios (a failed
// read keeps the previous counters).
void map_cs_stats_vap_db_update(map_cs* cs);
// Collects one slice of the client table into the client records; 0.
int map_proc_collect_client_association_stats(map_cs* cs);

// The client statistics table, fed by the client relay.
void map_cs_process_assoc_cmd(map_cs* cs, int radio, const uint8_t* client_mac,
                              const uint8_t* vap_mac, int authenticated);
void map_cs_process_disassoc_cmd(map_cs* cs, const uint8_t* client_mac);
void map_cs_process_authen_fail_cmd(map_cs* cs, const uint8_t* client_mac, const uint8_t* vap_mac,
                                    int kind);
// Empties the table (last index -1, next start 1) and the client records.
void map_cs_stats_client_table_clear(map_cs* cs);
// The table and the client records, at trace level 0.
int map_cs_process_debug_dump_client_assoc_db(map_cs* cs);

// ---- reporting ------------------------------------------------------------------

inline constexpr size_t MAP_STATS_MSG_MAX = 8192;
inline constexpr size_t MAP_STATS_HDR_LEN = 14;
inline constexpr size_t MAP_STATS_CLIENT_MSG_CLOSE = 7474;

// SWITCH_STATUS_INT: the interval (and the AP's MAC) from the switch.  0 or -1.
int map_cs_process_stat_int_pkt(map_cs* cs, const uint8_t* data, int length);
// The statistics step of the timer pass.
void map_cs_stats_check_timeout(map_cs* cs, uint32_t elapsed);
// One report: the main datagram, then the client datagrams.  0 or -1.
int map_cs_stats_send_ap_stats(map_cs* cs);
// The client datagrams of the collected records.  0 or -1.
int map_cs_stats_client_association_db_send(map_cs* cs, const uint8_t* ap_mac);

// Element writers: each writes one element (header and value) at `out`,
// which must have room for it, and returns the bytes written.
size_t map_cs_built_stats_header(uint8_t* out, const uint8_t* ap_mac, size_t elements_len);
size_t map_cs_global_stats_to_buffer(const map_global_stats& g, uint8_t* out);
size_t map_cs_global_stats_2_to_buffer(const map_global_stats& g, uint8_t* out);
size_t map_cs_global_ts_sum_stats_to_buffer(const map_global_stats& g, uint8_t* out);
size_t map_cs_ap_ts_stats_to_buffer(const map_ts_counters* ts, uint16_t type, uint8_t radio,
                                    uint8_t vap, uint8_t* out);
size_t map_cs_global_ts_status_to_buffer(const map_global_stats& g, uint8_t* out);
size_t map_cs_radio_stats_to_buffer(const map_radio_stats& r, uint8_t radio, uint8_t* out);
size_t map_cs_ts_status_to_buffer(const map_ts_status* st, uint16_t type, uint8_t radio,
                                  uint8_t vap, uint8_t* out);
size_t map_cs_vap_stats_to_buffer(const map_vap_stats& v, uint8_t radio, uint8_t vap, uint8_t* out);
size_t map_cs_client_association_to_buffer(const map_client_stats& c, uint8_t* out);
size_t map_cs_client_name_to_buffer(const map_client_stats& c, uint8_t* out);
size_t map_cs_client_association_stats_2_to_buffer(const map_client_stats& c, uint8_t* out);
size_t map_cs_client_association_tspec_to_buffer(const map_client_stats& c, int slot,
                                                 uint8_t* out);
