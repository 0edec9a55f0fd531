// Client QoS: the identifier lists of access lists and policies that the
// kernel's client-QoS module and the switch exchange with mapd, the definition
// requests to the switch, the switch's list changes, the client QoS modes and
// the VAP defaults sent to mapqosd.
//
// The kernel list operation is the binary sysctl {CTL_NET, 25, 50, 61}: the
// identifier list (sc_id_list) is handed over as the old-value buffer and may
// come back rewritten.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/platform.hpp"
#include "wire/wire.hpp"

struct map_switch_comm;
struct map_control_block;
struct map_cs;
struct map_vap_client_qos_cfg;
struct cltqos_auth_def_req_msg_s;

// ---- identifier types ------------------------------------------------------------

inline constexpr uint8_t MAP_CLTQOS_ID_NONE = 0;
inline constexpr uint8_t MAP_CLTQOS_ID_ACL_IP4_NUM = 1;  // IP ACL named from a digit
inline constexpr uint8_t MAP_CLTQOS_ID_ACL_IPV4 = 2;
inline constexpr uint8_t MAP_CLTQOS_ID_ACL_IPV6 = 3;
inline constexpr uint8_t MAP_CLTQOS_ID_ACL_MAC = 4;
inline constexpr uint8_t MAP_CLTQOS_ID_POLICY_IN = 8;
inline constexpr uint8_t MAP_CLTQOS_ID_MAX = 8;

// Trace name of an id type; "none" for anything without one.
const char* map_cltqos_id_type_name(uint8_t id_type);

// ACL and policy types as the switch and hostapd give them.
inline constexpr uint8_t MAP_CLTQOS_ACL_NONE = 0;
inline constexpr uint8_t MAP_CLTQOS_ACL_IP = 1;
inline constexpr uint8_t MAP_CLTQOS_ACL_MAC = 2;
inline constexpr uint8_t MAP_CLTQOS_ACL_IPV6 = 3;
inline constexpr uint8_t MAP_CLTQOS_POLICY_NONE = 0;
inline constexpr uint8_t MAP_CLTQOS_POLICY_IN = 1;
inline constexpr uint8_t MAP_CLTQOS_POLICY_OUT = 2;

// The id type of an access list or policy; 0 when the name is absent (null or
// empty) or the type gives none (every policy but IN).
uint8_t map_cltqos_acl_type_to_id_type(uint8_t acl_type, const char* name);
uint8_t map_cltqos_policy_type_to_id_type(uint8_t policy_type, const char* name);

// ---- names and element codes -----------------------------------------------------

inline constexpr size_t MAP_CLTQOS_NAME_LEN = 32;  // 31 characters and a NUL

inline constexpr const char* MAP_CLTQOS_MSG_LIST_DELETE = "Client QoS List Delete";
inline constexpr const char* MAP_CLTQOS_MSG_LIST_RENAME = "Client QoS List Rename";
inline constexpr const char* MAP_CLTQOS_MSG_LIST_UPDATE = "Client QoS List Update";
inline constexpr const char* MAP_CLTQOS_MSG_DEF_REQ = "Client QoS Def Request";
inline constexpr const char* MAP_CLTQOS_MSG_MODE_UPDATE = "Client QoS Mode Update";
inline constexpr const char* MAP_CLTQOS_MSG_AUTH_DEF_REQ = "Client QoS Auth Def Request (hostapd)";

inline constexpr uint16_t MAP_CLTQOS_ELEM_COUNT = 0x0111;       // 2: entry count
inline constexpr uint16_t MAP_CLTQOS_ELEM_ACL = 0x0112;         // 32: id type, name
inline constexpr uint16_t MAP_CLTQOS_ELEM_POLICY = 0x0113;      // 32: id type, name
inline constexpr uint16_t MAP_CLTQOS_ELEM_ACL_RENAME = 0x0114;  // 63: id type, new, old
inline constexpr uint16_t MAP_CLTQOS_ELEM_POLICY_RENAME = 0x0115;
inline constexpr uint16_t MAP_CLTQOS_ELEM_COUNT_LEN = 2;
inline constexpr uint16_t MAP_CLTQOS_ELEM_ENTRY_LEN = 32;
inline constexpr uint16_t MAP_CLTQOS_ELEM_RENAME_LEN = 63;
inline constexpr size_t MAP_CLTQOS_WIRE_NAME_LEN = 31;  // name bytes on the wire

// Mode update elements.
inline constexpr uint16_t MAP_CLTQOS_ELEM_MODE = 0x0120;      // 18
inline constexpr uint16_t MAP_CLTQOS_ELEM_MODE_OLD = 0x0122;  // 1
inline constexpr uint16_t MAP_CLTQOS_ELEM_AP_MAC = 0x0021;    // 6
inline constexpr uint16_t MAP_CLTQOS_ELEM_MODE_LEN = 18;
inline constexpr uint16_t MAP_CLTQOS_ELEM_MODE_OLD_LEN = 1;
inline constexpr uint16_t MAP_CLTQOS_ELEM_AP_MAC_LEN = 6;

// Definition request: at most this many entries, 10 + 36 n bytes.
inline constexpr uint32_t MAP_CLTQOS_DEF_REQ_MAX = 8;
inline constexpr size_t map_cltqos_def_req_len(uint32_t n) {
    return 10 + 36 * size_t{n};
}

// The kernel list operation's name vector and its only command.
inline constexpr int MAP_CLTQOS_SYSCTL_CTL_NET = 3;
inline constexpr int MAP_CLTQOS_SYSCTL_NAME[3] = {MAP_CLTQOS_SYSCTL_CTL_NET, 25, 50};
inline constexpr int MAP_CLTQOS_SYSCTL_LIST_CMD = 61;

// ---- the identifier list (sc_id_list) ----------------------------------------------
//
// A byte buffer: a 32-bit entry count in host order at its start (the buffer
// need not be aligned), then entries of 36 bytes.  Its capacity is fixed by
// whoever allocates it; the helpers below never cast into the buffer.

struct map_cltqos_sc_entry {
    uint8_t id_type;
    uint8_t requested;  // 1: the switch is to send the definition
    uint8_t zero[2];
    char name[MAP_CLTQOS_NAME_LEN];  // at most 31 characters and a NUL
};
static_assert(sizeof(map_cltqos_sc_entry) == 36);

inline constexpr size_t MAP_CLTQOS_SC_HDR_LEN = 4;
inline constexpr size_t MAP_CLTQOS_SC_ENTRY_LEN = sizeof(map_cltqos_sc_entry);

// Bytes of a list with room for `capacity` entries, and the byte length the
// kernel is handed for `count` entries.
inline constexpr size_t map_cltqos_sc_size(uint32_t capacity) {
    return MAP_CLTQOS_SC_HDR_LEN + MAP_CLTQOS_SC_ENTRY_LEN * size_t{capacity};
}

inline uint32_t map_cltqos_sc_count(const uint8_t* list) {
    uint32_t n;
    memcpy(&n, list, sizeof n);
    return n;
}
inline void map_cltqos_sc_set_count(uint8_t* list, uint32_t n) {
    memcpy(list, &n, sizeof n);
}
// Entry `i` (the caller keeps `i` below the capacity).
inline map_cltqos_sc_entry map_cltqos_sc_get(const uint8_t* list, uint32_t i) {
    map_cltqos_sc_entry e;
    memcpy(&e, list + MAP_CLTQOS_SC_HDR_LEN + MAP_CLTQOS_SC_ENTRY_LEN * i, sizeof e);
    return e;
}
inline void map_cltqos_sc_put(uint8_t* list, uint32_t i, const map_cltqos_sc_entry& e) {
    memcpy(list + MAP_CLTQOS_SC_HDR_LEN + MAP_CLTQOS_SC_ENTRY_LEN * i, &e, sizeof e);
}

// An empty (zeroed) list with room for `capacity` entries; null when memory
// is short.
inline std::unique_ptr<uint8_t[]> map_cltqos_sc_make(uint32_t capacity) {
    if (map_platform_fails(map_platform_op::alloc)) {
        return nullptr;
    }
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[map_cltqos_sc_size(capacity)]());
}

// ---- a parsed list change ----------------------------------------------------------

// One entry of a list change: id type, name (NUL-terminated), the rest zero.
struct map_cltqos_list_entry {
    uint8_t id_type;
    char name[MAP_CLTQOS_NAME_LEN];
    uint8_t zero[7];
};
static_assert(sizeof(map_cltqos_list_entry) == 40);

struct map_cltqos_list_change_msg2_t {
    uint16_t msg_type;                                     // CLTQOS_LIST_UPDATE, _RENAME or _DELETE
    const char* msg_name;                                  // its trace name
    uint16_t count;                                        // entries the message carries (at most the announced count)
    std::unique_ptr<map_cltqos_list_entry[]> entries;      // at least `count` of them, zeroed first
    std::unique_ptr<map_cltqos_list_entry[]> old_entries;  // a rename's old names
};

// Parses the elements of message `msg_type` (the bytes after the header).
// 0, or -1 after reporting why.
int map_cltqos_parse_list_change_msg(uint16_t msg_type, const uint8_t* body, int length,
                                     map_cltqos_list_change_msg2_t* out);

// ---- element headers ---------------------------------------------------------------

// Reads an element header at `src` into host order.
void map_cltqos_extract_element(const uint8_t* src, uint16_t* type, uint16_t* length);
// Writes an element header whose fields are already in network order.
void map_cltqos_buffer_fill_elem(uint8_t* dest, uint16_t type_be, uint16_t length_be);
// Reads the next element header and moves past it; -1 when fewer than 4
// bytes remain.
int _map_cltqos_elem_hdr_get(wire_reader& r, uint16_t* type, uint16_t* length);
// The same, and the element must be `expect` ("out of order" otherwise,
// reported for message `msg_name`).
int map_cltqos_elem_hdr_get(wire_reader& r, uint16_t expect, uint16_t* length,
                            const char* msg_name);

// ---- operations --------------------------------------------------------------------

// The switch connection must exist and be established; -1 with a report naming
// `function` otherwise.
int _map_cltqos_context_check(const map_switch_comm* rec, const char* function);

// Appends an entry to `list` (room for `capacity`); see the source for when
// nothing is added.  0 or -1.
int map_cltqos_sysctl_list_id_add(uint8_t* list, uint32_t capacity, int flag, uint8_t id_type,
                                  const char* name);
// Runs kernel list command `cmd` on `list` (*len bytes, `count` entries).  0 or -1.
int map_cltqos_sysctl_list_op(int cmd, uint8_t* list, size_t* len, uint32_t count);
// Sends a definition request for the requested entries of `list` (`len` bytes).
// 0 (also when nothing was requested) or -1.
int map_cltqos_send_def_req_pkt(map_switch_comm* rec, const uint8_t* list, size_t len);

// Handlers of messages 144, 145, 146 and 150; `body` is the message after its
// header.  0 or -1.
int map_cltqos_process_list_update_pkt(map_switch_comm* rec, const uint8_t* body, int length);
int map_cltqos_process_list_rename_pkt(map_switch_comm* rec, const uint8_t* body, int length);
int map_cltqos_process_list_delete_pkt(map_switch_comm* rec, const uint8_t* body, int length);
int map_cltqos_process_mode_update_pkt(map_switch_comm* rec, const uint8_t* body, int length);

// hostapd asks for the definitions a newly authenticated client needs.  0 or -1.
int map_cltqos_process_auth_def_req_msg(map_switch_comm* rec, const cltqos_auth_def_req_msg_s* msg);
// The local handler of that request (type 34): the datagram into its record,
// then the above on the current switch connection.
int process_cltqos_auth_def_req_msg(const uint8_t* msg, size_t length);
// Asks for the definitions of every VAP's defaults.  0 or -1.
int map_cltqos_vap_default_def_req(map_control_block* cb);

// ---- modes and the VAP settings for mapqosd --------------------------------------

inline constexpr int MAP_CLTQOS_RADIOS = 2;
inline constexpr int MAP_CLTQOS_VAPS_PER_RADIO = 16;

// A parsed mode update.  A mode byte is "up" when not 0.
struct map_cltqos_mode_update_msg_t {
    uint8_t ap_mac[6];
    uint8_t global_mode;
    uint8_t radio_present[MAP_CLTQOS_RADIOS];
    uint8_t vap_mode[MAP_CLTQOS_RADIOS][MAP_CLTQOS_VAPS_PER_RADIO];  // radio-major
};
static_assert(sizeof(map_cltqos_mode_update_msg_t) == 41);

// The VAP client QoS message to mapqosd (type 304).
inline constexpr size_t MAP_CLTQOS_VAP_CFG_MSG_LEN = 138;

// Sends the type-304 message of every VAP of both radios to mapqosd; nothing
// without a config/status component.
void map_cs_send_client_qos_vap_cfg_msg(map_control_block* cb);
// Builds the type-304 message of VAP `vap` of radio `radio` (from 1) from
// `cfg` (null: all empty) and adds its length to *running_len.
std::vector<uint8_t> map_cs_client_qos_vap_cfg_to_buffer(const map_vap_client_qos_cfg* cfg,
                                                         int radio, int vap, int* running_len);
// Deletes every client QoS definition from the configuration database.  0 or -1.
int map_cltqos_delete_all_instances(map_switch_comm* rec);
// Applies an empty client QoS configuration to every VAP.  Always 0.
int map_cltqos_vap_config_apply(map_cs* cs);
