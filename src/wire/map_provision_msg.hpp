// The AP provisioning command (message 514) as a provisioning tool or switch
// builds it, and the AP's provisioning reply (message 515) read back into
// plain fields.  Used by mapctl, the switch simulator and tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/wire.hpp"

inline constexpr uint16_t MAP_PROVISION_CMD_TYPE = 514;
inline constexpr uint16_t MAP_PROVISION_REPLY_TYPE = 515;

// Element types of the provisioning command and reply.
inline constexpr uint16_t MAP_PROV_ELEM_AP_MAC = 0x0021;
inline constexpr uint16_t MAP_PROV_ELEM_SWITCH = 0x0101;  // command: switch; reply: the AP
inline constexpr uint16_t MAP_PROV_ELEM_PRIMARY = 0x0110;
inline constexpr uint16_t MAP_PROV_ELEM_BACKUP = 0x0111;
inline constexpr uint16_t MAP_PROV_ELEM_MUTUAL_AUTH = 0x0112;
inline constexpr uint16_t MAP_PROV_ELEM_REPROVISION = 0x0113;
inline constexpr uint16_t MAP_PROV_ELEM_AP_CERT = 0x0114;
inline constexpr uint16_t MAP_PROV_ELEM_PRIMARY_CERT = 0x0115;
inline constexpr uint16_t MAP_PROV_ELEM_BACKUP_CERT = 0x0116;
inline constexpr uint16_t MAP_PROV_ELEM_STATUS = 0x0117;

// The largest certificate the AP takes in a command.
inline constexpr size_t MAP_PROV_CERT_MAX = 1024;

// One provisioning command.  Addresses use the wire form of map_switch_addr
// (an IPv4 address in network order in the last four bytes).  Each with_*
// flag says whether the element is sent; certificates are sent when their
// text is not empty, at whatever length they have (a tool may send one the AP
// refuses).
struct map_provision_cmd {
    bool with_switch = true;
    map_switch_addr switch_addr;
    bool with_primary = true;
    map_switch_addr primary;
    bool with_backup = true;
    map_switch_addr backup;
    bool with_ap_mac = true;
    uint8_t ap_mac[6] = {};
    bool with_mutual_auth = true;
    uint8_t mutual_auth = 0;
    bool with_reprovision = true;
    uint8_t reprovision_unmanaged = 0;
    std::string primary_cert;
    std::string backup_cert;
};

// The whole message, header included, elements in the order 0x0101, 0x0110,
// 0x0111, 0x0021, 0x0112, 0x0113, 0x0115, 0x0116.  Empty when it would not
// fit a 16-bit message length.
std::vector<uint8_t> map_provision_cmd_build(const map_provision_cmd& cmd);

// The provisioning reply as read from the wire.
struct map_provision_reply {
    uint16_t msg_len = 0;  // the header's message length
    map_switch_addr ap_addr;
    uint8_t ap_mac[6] = {};
    uint8_t status_ok = 0;  // 1: the command was applied
    map_switch_addr primary;
    map_switch_addr backup;
    uint8_t mutual_auth = 0;
    uint8_t reprovision_unmanaged = 0;
    bool has_ap_cert = false;
    std::string ap_cert;
};

// Reads a whole reply message (header included).  The zero byte that follows
// the status element outside its length is skipped.  0, or -1 when the data is
// not a complete reply of type 515 (shorter than its header's length, an
// element cut short, a fixed-size element of another size).
int map_provision_reply_decode(const uint8_t* msg, size_t len, map_provision_reply& out);
