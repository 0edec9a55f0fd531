// How the daemon finds and trusts its switch: the operator's managed-AP
// settings, the DHCP-supplied switch addresses and base port, and the AP
// provisioning parameters with the stored switch certificates.
#pragma once

#include "store/map_ap_provision_params.hpp"

struct map_control_block;

inline constexpr const char* MAP_DHCP_CONF_FILE = "/tmp/map_dhcp.conf";
inline constexpr const char* MAP_SWITCH_CERTS_FILE = "/etc/switch_certs.pem";

int map_reload_static_config(map_control_block* cb);
int map_reload_dhcp_config(map_control_block* cb);  // always 0
int map_ap_provision_params_load_static_config(map_control_block* cb);
int map_dman_lsql_get_ap_provision_params(map_ap_provision_params* out);
int map_get_ap_provision_sw_certificates(map_ap_provision_params* p);
// Prints provisioning parameters at trace level 0x20000.
void map_ap_provisioning_cmd_msg_print(const map_ap_provision_params* p);
int map_config_switch_address_set(map_control_block* cb, int slot, const char* text, int from_dhcp);
