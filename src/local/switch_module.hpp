// Local messages that mapd itself sends to hostapd on behalf of the switch link.
#pragma once

#include <cstdint>

// The 8-byte RF-scan report request (type 6, the interval in bytes 4 to 7).
int mapd_send_rfscan_report_cmd_msg_to_hostapd(uint32_t interval);
