// Local messages that mapd itself sends to hostapd on behalf of the switch link.
#pragma once

#include <cstdint>

// The 8-byte RF-scan report request (type 6, the interval in bytes 4 to 7).
int mapd_send_rfscan_report_cmd_msg_to_hostapd(uint32_t interval);

// The 1-byte supported-channels request (type 7), sent after a configuration.
void mapd_send_supported_channels_cmd_msg_to_hostapd();
// The 4-byte wired-network detection VLAN message (type 23); 0 or -1.
int mapd_send_wired_nw_det_vlan_cmd_msg_to_hostapd(uint16_t vlan);
