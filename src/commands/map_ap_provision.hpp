// AP provisioning: the switch's provisioning command, the files and database
// class it is kept in, the provisioning reply, and the reboot that follows a
// change of the mutual-authentication mode.
#pragma once

#include <cstdint>

#include "core/managed_ap.hpp"
#include "store/map_ap_provision_params.hpp"

inline constexpr const char* MAP_MUTUAL_AUTH_CFG_FILE = "/etc/mutauth.cfg";
inline constexpr const char* MAP_AP_CERT_FILE = "/etc/zorcert2.pem";
// Seconds between a change of the mutual-authentication mode and the reboot.
inline constexpr int32_t MAP_MUTUAL_AUTH_REBOOT_SECONDS = 60;
// The reply is built in a buffer of this size, the AP certificate included.
inline constexpr unsigned MAP_AP_PROVISION_REPLY_BUF = 1120;

// Applies a provisioning command (the elements behind the message header) to
// the control block's provisioning parameters, the mode and certificate files
// and the configuration database.  Sets the reply status and, when the mode
// changed, the reboot countdown.  0 or -1.
int map_process_ap_provision_cmd_msg_pkt(map_control_block* cb, const uint8_t* data, int length);

// Sends the provisioning reply: over TLS when the link is established, else
// as a UDP datagram to the provisioned (IPv4) switch address.  0 or -1.
int map_ap_provision_reply_pkt(map_control_block* cb);

// Counts the reboot countdown down by `elapsed` seconds; when it runs out the
// AP reboots ("init -r").  Does nothing while the countdown is not positive.
void map_ap_provision_mutual_auth_mode_check_timeout(map_control_block* cb, uint32_t elapsed);

// Writes the parameters (certificates excepted) to class
// "map-ap-provisioning" in one set.  0 or -1.
int map_dman_lsql_apply_ap_provision_configuration(const map_ap_provision_params* p);

// A provisioning command received on the UDP socket: applied only while the
// AP is unprovisioned or allows re-provisioning, always answered.  0.
int map_ap_provision_udp_cmd(map_control_block* cb, const uint8_t* data, int length);

// A provisioning command received over TLS: applied and answered.  0.
int map_ap_provision_tls_cmd(map_control_block* cb, const uint8_t* data, int length);
