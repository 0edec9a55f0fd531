// The configuration sequence from the switch: the element walk, start and
// stop, the apply sequence, the post-configuration child, its report and the
// configuration status message.
#pragma once

#include <cstdint>
#include <span>

struct map_cs;
struct map_control_block;

inline constexpr uint16_t MAP_CS_ELEM_START = 0x2001;
inline constexpr uint16_t MAP_CS_ELEM_STOP = 0x2002;
inline constexpr uint16_t MAP_CS_ELEM_GLOBAL = 0x2003;
inline constexpr uint16_t MAP_CS_ELEM_COUNTRY = 0x2009;
inline constexpr uint16_t MAP_CS_ELEM_TUNNEL_MTU = 0x200a;
inline constexpr uint16_t MAP_CS_ELEM_NETWORK_DET_VLAN = 0x2108;
inline constexpr uint16_t MAP_CS_ELEM_STATUS = 0x2010;
inline constexpr uint16_t MAP_CS_ELEM_STATUS_ELEM = 0x2011;
inline constexpr uint16_t MAP_CS_ELEM_STATUS_TEXT = 0x2012;
inline constexpr int MAP_CS_STATUS_SUCCESS = 1;
inline constexpr int MAP_CS_STATUS_UNRECOGNIZED = 2;
inline constexpr int MAP_CS_STATUS_APPLY_FAILED = 3;

int map_cs_process_config_pkt(map_cs* cs, const uint8_t* elements, int length);
int map_cs_handler_process_start_pkt(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_stop_pkt(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_global_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_country_code_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_tunnel_mtu_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_ap_network_det_vlan_config(map_cs* cs, std::span<const uint8_t> value);

[[nodiscard]] int map_cs_util_config_apply(map_cs* cs, char** error);
int map_dman_lsql_apply_global_radius_configuration(map_cs* cs, char** error);
int map_dman_lsql_apply_global_client_qos_configuration(map_cs* cs, char** error);
[[nodiscard]] int map_cs_util_config_status_send(map_cs* cs);
[[nodiscard]] int map_cs_handler_process_post_configuration(map_cs* cs, char** error);
int map_cs_handle_process_post_conf_notification(map_control_block* cb, const uint8_t* data, int length);
int map_cs_hostapd_ping(int attempts, int seconds);
// The configuration held from the switch, printed at trace level 0.
int map_cs_process_debug_dump_config_pkt(map_cs* cs);
