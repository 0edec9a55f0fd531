// Handlers of the radio and VAP elements of a configuration message.  They
// fill the radio and VAP configuration records of the config/status
// component and raise the changed flags of what differs from the stored
// values; the stop element later writes the changed groups to the
// configuration database.
//
// Every handler has the same signature so that the element walk can keep them
// in one table.  The table holds each element's policy (exact value size,
// whether the sequence must be open, the error text of a refused element) and
// the walk applies it before the handler runs, so a handler only ever sees
// exactly its size of value bytes.  A handler returns
//   MAP_CS_ELEM_OK        the element was taken;
//   MAP_CS_ELEM_FAILED    a content error (a radio id other than 1 or 2, an
//                         unknown VAP): the walk steps over it and goes on;
//   MAP_CS_ELEM_END_WALK  the element failed and the walk ends here.
#pragma once

#include <cstdint>
#include <span>

struct map_cs;

inline constexpr int MAP_CS_ELEM_OK = 0;
inline constexpr int MAP_CS_ELEM_FAILED = -1;
inline constexpr int MAP_CS_ELEM_END_WALK = -2;

using map_cs_elem_handler = int (*)(map_cs* cs, std::span<const uint8_t> value);

// One row of the element table.
struct map_cs_elem_policy {
    uint16_t code;
    map_cs_elem_handler fn;
    uint16_t size;           // the exact element length
    bool needs_open;         // refused unless the configuration sequence is open
    const char* error_text;  // logged when the length, the bytes left or the state are wrong
};

// The row of an element code, or null for a code the AP does not know.
const map_cs_elem_policy* map_cs_elem_policy_find(uint16_t code);

// Element codes and exact value sizes.
inline constexpr uint16_t MAP_CS_ELEM_RADIO_CONFIG = 0x2004;
inline constexpr int MAP_CS_RADIO_CONFIG_LEN = 146;
inline constexpr uint16_t MAP_CS_ELEM_VAP_CONFIG = 0x2005;
inline constexpr int MAP_CS_VAP_CONFIG_LEN = 279;
inline constexpr uint16_t MAP_CS_ELEM_QOS_CONFIG = 0x2006;
inline constexpr int MAP_CS_QOS_CONFIG_LEN = 129;
inline constexpr uint16_t MAP_CS_ELEM_VAP_CONFIG_2 = 0x2008;
inline constexpr int MAP_CS_VAP_CONFIG_2_LEN = 4;
inline constexpr uint16_t MAP_CS_ELEM_STATION_ISOLATION = 0x2013;
inline constexpr int MAP_CS_STATION_ISOLATION_LEN = 2;
inline constexpr uint16_t MAP_CS_ELEM_VAP_REDIRECT = 0x2014;
inline constexpr int MAP_CS_VAP_REDIRECT_LEN = 135;
inline constexpr uint16_t MAP_CS_ELEM_VAP_CLIENT_QOS = 0x2015;
inline constexpr int MAP_CS_VAP_CLIENT_QOS_LEN = 139;
inline constexpr uint16_t MAP_CS_ELEM_RADIO_STBC = 0x2016;
inline constexpr int MAP_CS_RADIO_STBC_LEN = 2;
inline constexpr uint16_t MAP_CS_ELEM_RADIO_TSPEC_ACM = 0x2017;
inline constexpr int MAP_CS_RADIO_TSPEC_ACM_LEN = 15;
inline constexpr uint16_t MAP_CS_ELEM_RADIO_RRM_MODE = 0x2040;
inline constexpr int MAP_CS_RADIO_RRM_MODE_LEN = 2;
inline constexpr uint16_t MAP_CS_ELEM_CP_ENABLE = 0x1100;
inline constexpr int MAP_CS_CP_ENABLE_LEN = 26;
inline constexpr uint16_t MAP_CS_ELEM_CP_DISABLE = 0x1101;
inline constexpr uint16_t MAP_CS_ELEM_CP_CL_NOT_AUTH = 0x1102;
inline constexpr uint16_t MAP_CS_ELEM_CP_CL_AUTH = 0x1103;
inline constexpr int MAP_CS_CP_CL_AUTH_LEN = 14;
inline constexpr uint16_t MAP_CS_ELEM_CP_BLOCK = 0x1104;
inline constexpr uint16_t MAP_CS_ELEM_CP_UNBLOCK = 0x1105;
inline constexpr uint16_t MAP_CS_ELEM_CP_AUTH_PORT = 0x1107;
inline constexpr int MAP_CS_CP_AUTH_PORT_LEN = 4;
inline constexpr uint16_t MAP_CS_ELEM_CP_CL_DEAUTH = 0x1108;
inline constexpr uint16_t MAP_CS_ELEM_CP_SEC_AUTH_PORT_1 = 0x1109;
inline constexpr uint16_t MAP_CS_ELEM_CP_SEC_AUTH_PORT_2 = 0x110a;

// Radio elements (all need an open configuration sequence).
int map_cs_handler_process_radio_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_qos_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_station_isolation_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_radio_stbc_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_radio_tspec_acm_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_radio_rrm_mode_config(map_cs* cs, std::span<const uint8_t> value);

// VAP elements (all need an open configuration sequence).
int map_cs_handler_process_vap_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_vap_config_2(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_vap_redirect_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_vap_client_qos_config(map_cs* cs, std::span<const uint8_t> value);

// Captive-portal elements (taken in any configuration state).
int map_cs_handler_process_cp_enable_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_cp_disable_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_cp_clnotauth_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_cp_clauth_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_cp_block_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_cp_unblock_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_cp_auth_port_config(map_cs* cs, std::span<const uint8_t> value);
int map_cs_handler_process_cp_cldeauth_config(map_cs* cs, std::span<const uint8_t> value);
// 0x1109 and 0x110a: secure authentication port `index` (0 first, 1 second).
int map_cs_handler_process_cp_secure_auth_port_config(map_cs* cs, std::span<const uint8_t> value,
                                                      int index);

// ---- shared by the handler files ------------------------------------------------

// Stores `value` into `field`; true when it differed.
template <typename T>
inline bool map_cs_elem_update(T& field, T value) {
    if (field == value) {
        return false;
    }
    field = value;
    return true;
}

// Stores the text `value` (cut to the field, always terminated) into the
// character field of `size` bytes; true when the stored text differed.
bool map_cs_elem_update_text(char* field, int size, const char* value);
