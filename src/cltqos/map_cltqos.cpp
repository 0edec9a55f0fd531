// Client QoS identifier lists: the definition requests to the switch, the
// switch's list changes (update, rename, delete) with the kernel module's list
// operation, hostapd's request for a new client and the VAP defaults.  Lists
// live for one operation only.
#include "cltqos/map_cltqos.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "commands/map_cs.hpp"
#include "config/map_config_apply.hpp"
#include "core/managed_ap.hpp"
#include "local/mmsg_records.hpp"
#include "local/relay_common.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "store/map_dman_lsql.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"

static constexpr char map_log_module[] = "map_client_qos";

namespace {

constexpr const char* kIdTypeNames[] = {"none",    "ACL ip4-num", "ACL ipv4", "ACL ipv6", "ACL mac",
                                        "<rsvd5>", "<rsvd6>",     "<rsvd7>",  "Policy in"};

// The capacities of the lists of one operation.
constexpr uint32_t kUpdateListCap = MAP_CLTQOS_DEF_REQ_MAX;
constexpr uint32_t kRenameListCap = 2;
constexpr uint32_t kAuthListCap = 4;
constexpr uint32_t kVapEntries = 8;  // two directions, access list and policy, two radios

bool is_list_id_type(uint8_t t) {
    return (t >= MAP_CLTQOS_ID_ACL_IP4_NUM && t <= MAP_CLTQOS_ID_ACL_MAC) ||
           t == MAP_CLTQOS_ID_POLICY_IN;
}

// An entry from an id type and a name field of `width` bytes (which need not
// hold a NUL): the name is cut to 31 characters and terminated.
map_cltqos_list_entry entry_of(uint8_t id_type, const char* name, size_t width) {
    map_cltqos_list_entry e{};
    e.id_type = id_type;
    if (name != nullptr) {
        memcpy(e.name, name, strnlen(name, std::min(width, MAP_CLTQOS_WIRE_NAME_LEN)));
    }
    return e;
}

// The byte length the kernel and the request get for the list's entries.
size_t sc_len(const uint8_t* list) {
    return map_cltqos_sc_size(map_cltqos_sc_count(list));
}

void sc_empty(uint8_t* list, uint32_t capacity) {
    memset(list, 0, map_cltqos_sc_size(capacity));
}

// Runs the kernel list operation on the list; a failure only traces: the
// request goes out with the list as it stands.
void kernel_list_op(uint8_t* list, size_t* len, const char* caller, const char* msg_name) {
    if (map_cltqos_sysctl_list_op(MAP_CLTQOS_SYSCTL_LIST_CMD, list, len,
                                  map_cltqos_sc_count(list)) != 0) {
        MAP_TRACE(MAP_TRACE_CLTQOS, "%s: sysctl error in %s msg (ignored)", caller, msg_name);
    }
}

}  // namespace

// ---- identifier types ---------------------------------------------------------------

const char* map_cltqos_id_type_name(uint8_t id_type) {
    return id_type <= MAP_CLTQOS_ID_MAX ? kIdTypeNames[id_type] : kIdTypeNames[0];
}

uint8_t map_cltqos_acl_type_to_id_type(uint8_t acl_type, const char* name) {
    if (name == nullptr || name[0] == '\0') {
        return MAP_CLTQOS_ID_NONE;
    }
    switch (acl_type) {
        case MAP_CLTQOS_ACL_IP:
            return isdigit(static_cast<unsigned char>(name[0])) ? MAP_CLTQOS_ID_ACL_IP4_NUM
                                                                : MAP_CLTQOS_ID_ACL_IPV4;
        case MAP_CLTQOS_ACL_IPV6:
            return MAP_CLTQOS_ID_ACL_IPV6;
        case MAP_CLTQOS_ACL_MAC:
            return MAP_CLTQOS_ID_ACL_MAC;
        default:
            return MAP_CLTQOS_ID_NONE;
    }
}

uint8_t map_cltqos_policy_type_to_id_type(uint8_t policy_type, const char* name) {
    if (name == nullptr || name[0] == '\0' || policy_type != MAP_CLTQOS_POLICY_IN) {
        return MAP_CLTQOS_ID_NONE;
    }
    return MAP_CLTQOS_ID_POLICY_IN;
}

// ---- element headers ------------------------------------------------------------------

void map_cltqos_extract_element(const uint8_t* src, uint16_t* type, uint16_t* length) {
    *type = wire_load_be16(src);
    *length = wire_load_be16(src + 2);
}

void map_cltqos_buffer_fill_elem(uint8_t* dest, uint16_t type_be, uint16_t length_be) {
    memcpy(dest, &type_be, 2);
    memcpy(dest + 2, &length_be, 2);
}

int _map_cltqos_elem_hdr_get(wire_reader& r, uint16_t* type, uint16_t* length) {
    if (wire_remaining(r) < 4) {
        return -1;
    }
    map_cltqos_extract_element(wire_cursor(r), type, length);
    (void)wire_skip(r, 4);
    return 0;
}

int map_cltqos_elem_hdr_get(wire_reader& r, uint16_t expect, uint16_t* length,
                            const char* msg_name) {
    static constexpr char map_log_module[] = "map_client_qos_common";
    uint16_t type = 0;
    if (_map_cltqos_elem_hdr_get(r, &type, length) != 0) {
        MAP_ERROR("Error in %s message: no msg elem - expecting 0x%4.4X", msg_name, expect);
        return -1;
    }
    if (type != expect) {
        MAP_ERROR("Error in %s message: msg elem 0x%4.4X out of order - expecting 0x%4.4X",
                  msg_name, type, expect);
        return -1;
    }
    return 0;
}

// ---- operations ------------------------------------------------------------------------

int _map_cltqos_context_check(const map_switch_comm* rec, const char* function) {
    if (rec == nullptr) {
        MAP_ERROR("Invalid context parameter from %s function", function);
        return -1;
    }
    if (rec->state != MAP_SWITCH_COMM_ESTABLISHED) {
        MAP_ERROR("Invalid mapd mode for %s function", function);
        return -1;
    }
    return 0;
}

int map_cltqos_sysctl_list_id_add(uint8_t* list, uint32_t capacity, int flag, uint8_t id_type,
                                  const char* name) {
    if (list == nullptr) {
        return -1;
    }
    const uint32_t count = map_cltqos_sc_count(list);
    if (count >= capacity || (flag != 0 && flag != 1)) {
        return -1;
    }
    if (!is_list_id_type(id_type) || name == nullptr || name[0] == '\0') {
        return 0;
    }
    map_cltqos_sc_entry e{};
    e.id_type = id_type;
    e.requested = flag == 1 ? 1 : 0;
    memcpy(e.name, name, strnlen(name, MAP_CLTQOS_WIRE_NAME_LEN));
    for (uint32_t i = 0; i < count; ++i) {
        const map_cltqos_sc_entry have = map_cltqos_sc_get(list, i);
        if (have.requested != 0 && have.id_type == id_type &&
            strncmp(have.name, e.name, MAP_CLTQOS_NAME_LEN) == 0) {
            return 0;
        }
    }
    map_cltqos_sc_put(list, count, e);
    map_cltqos_sc_set_count(list, count + 1);
    return 0;
}

int map_cltqos_sysctl_list_op(int cmd, uint8_t* list, size_t* len, uint32_t count) {
    int error = EINVAL;
    if (cmd == MAP_CLTQOS_SYSCTL_LIST_CMD && list != nullptr && len != nullptr) {
        const int name[] = {MAP_CLTQOS_SYSCTL_NAME[0], MAP_CLTQOS_SYSCTL_NAME[1],
                            MAP_CLTQOS_SYSCTL_NAME[2], cmd};
        if (map_platform_sysctl_inout(name, 4, list, len) == 0) {
            MAP_TRACE(MAP_TRACE_CLTQOS, "sysctl OK: cmd = %d, num entries = %u", cmd, count);
            return 0;
        }
        error = errno;
    }
    MAP_ERROR("sysctl ERROR: cmd = %d, error code = %d", cmd, error);
    return -1;
}

int map_cltqos_send_def_req_pkt(map_switch_comm* rec, const uint8_t* list, size_t len) {
    if (_map_cltqos_context_check(rec, __func__) != 0) {
        return -1;
    }
    if (list == nullptr || len < MAP_CLTQOS_SC_HDR_LEN) {
        MAP_ERROR("Invalid sc_id_list parameter");
        return -1;
    }
    const uint32_t count = map_cltqos_sc_count(list);
    if (count > MAP_CLTQOS_DEF_REQ_MAX) {
        MAP_ERROR("Too many list entries (%u) for %s message", count, MAP_CLTQOS_MSG_DEF_REQ);
        return -1;
    }
    // The count may have come back from the kernel: never read entries the
    // buffer does not hold.
    if (map_cltqos_sc_size(count) > len) {
        MAP_ERROR("Invalid sc_id_list parameter");
        return -1;
    }
    uint8_t msg[map_cltqos_def_req_len(MAP_CLTQOS_DEF_REQ_MAX)] = {};
    size_t pos = map_cltqos_def_req_len(0);
    uint16_t written = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const map_cltqos_sc_entry e = map_cltqos_sc_get(list, i);
        if (e.requested == 0) {
            continue;
        }
        uint16_t code;
        if (e.id_type >= MAP_CLTQOS_ID_ACL_IP4_NUM && e.id_type <= MAP_CLTQOS_ID_ACL_MAC) {
            code = MAP_CLTQOS_ELEM_ACL;
        } else if (e.id_type == MAP_CLTQOS_ID_POLICY_IN) {
            code = MAP_CLTQOS_ELEM_POLICY;
        } else {
            MAP_ERROR("Unrecognized element in %s msg: type=%s name='%.31s' (ignored).",
                      MAP_CLTQOS_MSG_DEF_REQ, map_cltqos_id_type_name(e.id_type), e.name);
            continue;
        }
        map_cltqos_buffer_fill_elem(msg + pos, htons(code), htons(MAP_CLTQOS_ELEM_ENTRY_LEN));
        msg[pos + 4] = e.id_type;
        memcpy(msg + pos + 5, e.name, MAP_CLTQOS_WIRE_NAME_LEN);
        MAP_TRACE(MAP_TRACE_CLTQOS, "%s: requesting %s '%.31s'", MAP_CLTQOS_MSG_DEF_REQ,
                  map_cltqos_id_type_name(e.id_type), e.name);
        pos += 4 + MAP_CLTQOS_ELEM_ENTRY_LEN;
        ++written;
    }
    if (written == 0) {
        return 0;
    }
    map_cltqos_buffer_fill_elem(msg, htons(CLTQOS_DEF_REQ), htons(static_cast<uint16_t>(pos)));
    map_cltqos_buffer_fill_elem(msg + 4, htons(MAP_CLTQOS_ELEM_COUNT),
                                htons(MAP_CLTQOS_ELEM_COUNT_LEN));
    wire_store_be16(msg + 8, written);
    MAP_TRACE(MAP_TRACE_CLTQOS, "%s: sending %u entries (%zu bytes)", MAP_CLTQOS_MSG_DEF_REQ,
              written, pos);
    if (map_switch_comm_data_send(rec, msg, static_cast<int>(pos), 1) != 0) {
        MAP_ERROR("Error sending %s packet to switch", MAP_CLTQOS_MSG_DEF_REQ);
        return -1;
    }
    return 0;
}

// ---- list changes from the switch --------------------------------------------------------

int map_cltqos_parse_list_change_msg(uint16_t msg_type, const uint8_t* body, int length,
                                     map_cltqos_list_change_msg2_t* out) {
    const bool rename = msg_type == CLTQOS_LIST_RENAME;
    out->msg_type = msg_type;
    out->msg_name = rename                           ? MAP_CLTQOS_MSG_LIST_RENAME
                    : msg_type == CLTQOS_LIST_DELETE ? MAP_CLTQOS_MSG_LIST_DELETE
                                                     : MAP_CLTQOS_MSG_LIST_UPDATE;
    out->count = 0;
    wire_reader r = wire_reader_make(body, length > 0 ? static_cast<size_t>(length) : 0);
    uint16_t len = 0;
    if (map_cltqos_elem_hdr_get(r, MAP_CLTQOS_ELEM_COUNT, &len, out->msg_name) != 0) {
        return -1;
    }
    // The count element has one size; any other is refused.
    uint16_t count = 0;
    if (len != MAP_CLTQOS_ELEM_COUNT_LEN || !wire_read_be16(r, count)) {
        MAP_ERROR("Error in %s message: msg elem 0x%4.4X length %u - expecting %u", out->msg_name,
                  MAP_CLTQOS_ELEM_COUNT, len, MAP_CLTQOS_ELEM_COUNT_LEN);
        return -1;
    }
    if (count == 0) {
        MAP_ERROR("Error in %s message: no entries", out->msg_name);
        return -1;
    }
    const uint16_t first = rename ? MAP_CLTQOS_ELEM_ACL_RENAME : MAP_CLTQOS_ELEM_ACL;
    const uint16_t second = rename ? MAP_CLTQOS_ELEM_POLICY_RENAME : MAP_CLTQOS_ELEM_POLICY;
    const uint16_t size = rename ? MAP_CLTQOS_ELEM_RENAME_LEN : MAP_CLTQOS_ELEM_ENTRY_LEN;
    // The arrays hold the announced count, but never more entries than the
    // message has room for: a count of 65535 in a short message costs nothing.
    const uint16_t room = static_cast<uint16_t>(
        std::min<size_t>(count, wire_remaining(r) / (4 + size_t{size})));
    out->entries.reset(map_platform_fails(map_platform_op::alloc)
                           ? nullptr
                           : new (std::nothrow) map_cltqos_list_entry[room]());
    if (!out->entries) {
        MAP_ERROR("Unable to allocate memory for list entry data structure");
        return -1;
    }
    if (rename) {
        out->old_entries.reset(map_platform_fails(map_platform_op::alloc)
                                   ? nullptr
                                   : new (std::nothrow) map_cltqos_list_entry[room]());
        if (!out->old_entries) {
            MAP_ERROR("Unable to allocate memory for list entry old data structure");
            return -1;
        }
    }
    uint16_t filled = 0;
    for (wire_elem e; wire_elem_next(r, e);) {
        // An entry element of another size than its code has, or cut short by
        // the end of the message, is refused like an unknown element.
        if ((e.type != first && e.type != second) || e.len != size || !e.complete) {
            MAP_ERROR("Unrecognized element in %s msg: id=0x%4.4X len=%u (ignored).", out->msg_name,
                      e.type, e.len);
            continue;
        }
        // Entry elements beyond the announced count are ignored: the arrays
        // hold exactly `count` entries.
        if (filled == room) {
            MAP_TRACE(MAP_TRACE_CLTQOS, "%s msg: entry beyond the count of %u ignored",
                      out->msg_name, count);
            continue;
        }
        const auto* v = reinterpret_cast<const char*>(e.value.data());
        out->entries[filled] = entry_of(e.value[0], v + 1, MAP_CLTQOS_WIRE_NAME_LEN);
        if (rename) {
            out->old_entries[filled] =
                entry_of(e.value[0], v + 1 + MAP_CLTQOS_WIRE_NAME_LEN, MAP_CLTQOS_WIRE_NAME_LEN);
        }
        ++filled;
    }
    // A count above the entries present does not make up empty ones: only
    // the entries the message carries are processed.
    if (filled != count) {
        MAP_TRACE(MAP_TRACE_CLTQOS, "%s msg: count %u, %u entries", out->msg_name, count, filled);
    }
    out->count = filled;
    return 0;
}

namespace {

// The checks every list change starts with, and the parse.  0 or -1.
int list_change_begin(map_switch_comm* rec, const uint8_t* body, int length, uint16_t msg_type,
                      const char* function, map_cltqos_list_change_msg2_t* msg) {
    if (_map_cltqos_context_check(rec, function) != 0) {
        return -1;
    }
    if (body == nullptr || length <= 0) {
        MAP_ERROR("Invalid input buffer");
        return -1;
    }
    if (map_cltqos_parse_list_change_msg(msg_type, body, length, msg) != 0) {
        MAP_ERROR("Error parsing contents of %s message", msg->msg_name);
        return -1;
    }
    return 0;
}

}  // namespace

int map_cltqos_process_list_update_pkt(map_switch_comm* rec, const uint8_t* body, int length) {
    map_cltqos_list_change_msg2_t msg{};
    if (list_change_begin(rec, body, length, CLTQOS_LIST_UPDATE, __func__, &msg) != 0) {
        return -1;
    }
    auto list = map_cltqos_sc_make(kUpdateListCap);
    if (!list) {
        MAP_ERROR("Unable to allocate memory for sysctl list");
        return -1;
    }
    for (uint16_t i = 0; i < msg.count; ++i) {
        const map_cltqos_list_entry& e = msg.entries[i];
        // A definition the AP holds has changed on the switch: ask for it again.
        const int flag = map_dman_lsql_is_exist_cltqos_id(&e) == 0 ? 1 : 0;
        if (map_cltqos_sysctl_list_id_add(list.get(), kUpdateListCap, flag, e.id_type, e.name) !=
            0) {
            MAP_ERROR("Error processing %s '%s' entry in %s msg",
                      map_cltqos_id_type_name(e.id_type), e.name, msg.msg_name);
            return -1;
        }
        if (map_cltqos_sc_count(list.get()) < kUpdateListCap && i + 1 < msg.count) {
            continue;
        }
        size_t len = sc_len(list.get());
        kernel_list_op(list.get(), &len, __func__, msg.msg_name);
        if (map_cltqos_send_def_req_pkt(rec, list.get(), len) != 0) {
            MAP_ERROR("Error sending %s msg", MAP_CLTQOS_MSG_DEF_REQ);
            return -1;
        }
        sc_empty(list.get(), kUpdateListCap);
    }
    return 0;
}

int map_cltqos_process_list_rename_pkt(map_switch_comm* rec, const uint8_t* body, int length) {
    map_cltqos_list_change_msg2_t msg{};
    if (list_change_begin(rec, body, length, CLTQOS_LIST_RENAME, __func__, &msg) != 0) {
        return -1;
    }
    auto list = map_cltqos_sc_make(kRenameListCap);
    if (!list) {
        MAP_ERROR("Unable to allocate memory for sysctl list");
        return -1;
    }
    int result = 0;
    for (uint16_t i = 0; i < msg.count; ++i) {
        const map_cltqos_list_entry& old_e = msg.old_entries[i];
        const map_cltqos_list_entry& new_e = msg.entries[i];
        sc_empty(list.get(), kRenameListCap);
        if (map_cltqos_sysctl_list_id_add(list.get(), kRenameListCap, 0, old_e.id_type,
                                          old_e.name) != 0) {
            MAP_ERROR("Error processing old %s '%s' entry in %s msg",
                      map_cltqos_id_type_name(old_e.id_type), old_e.name, msg.msg_name);
            result = -1;
        }
        if (map_cltqos_sysctl_list_id_add(list.get(), kRenameListCap, 0, new_e.id_type,
                                          new_e.name) != 0) {
            MAP_ERROR("Error processing new %s '%s' entry in %s msg",
                      map_cltqos_id_type_name(new_e.id_type), new_e.name, msg.msg_name);
            result = -1;
        }
        size_t len = sc_len(list.get());
        kernel_list_op(list.get(), &len, __func__, msg.msg_name);
        map_cltqos_sc_entry first = map_cltqos_sc_get(list.get(), 0);
        first.requested = 1;
        map_cltqos_sc_put(list.get(), 0, first);
        if (map_cltqos_send_def_req_pkt(rec, list.get(), len) != 0) {
            MAP_TRACE(MAP_TRACE_CLTQOS, "%s: error sending %s msg", __func__,
                      MAP_CLTQOS_MSG_DEF_REQ);
            return -1;
        }
    }
    return result;
}

int map_cltqos_process_list_delete_pkt(map_switch_comm* rec, const uint8_t* body, int length) {
    map_cltqos_list_change_msg2_t msg{};
    if (list_change_begin(rec, body, length, CLTQOS_LIST_DELETE, __func__, &msg) != 0) {
        return -1;
    }
    for (uint16_t i = 0; i < msg.count; ++i) {
        const map_cltqos_list_entry& e = msg.entries[i];
        if (map_dman_lsql_apply_cltqos_list(&e, 0) != 0) {
            MAP_ERROR("Error applying contents of %s message for type='%s' name='%s'", msg.msg_name,
                      map_cltqos_id_type_name(e.id_type), e.name);
            return -1;
        }
    }
    return 0;
}

// ---- hostapd's request and the VAP defaults ------------------------------------------------

int map_cltqos_process_auth_def_req_msg(map_switch_comm* rec,
                                        const cltqos_auth_def_req_msg_s* msg) {
    if (_map_cltqos_context_check(rec, __func__) != 0) {
        return -1;
    }
    if (msg == nullptr) {
        MAP_ERROR("Invalid input message");
        return -1;
    }
    if (rec->cb == nullptr || rec->cb->managed_mode != 1) {
        MAP_TRACE(MAP_TRACE_CLTQOS, "%s not in managed mode", __func__);
        return 0;
    }
    auto list = map_cltqos_sc_make(kAuthListCap);
    if (!list) {
        MAP_ERROR("Unable to allocate memory for sysctl list");
        return -1;
    }
    int result = 0;
    const size_t width = sizeof msg->acl[0].name;
    for (int dir = 0; dir < 2; ++dir) {
        const map_cltqos_list_entry wanted[2] = {
            entry_of(map_cltqos_acl_type_to_id_type(msg->acl[dir].type, msg->acl[dir].name),
                     msg->acl[dir].name, width),
            entry_of(
                map_cltqos_policy_type_to_id_type(msg->policy[dir].type, msg->policy[dir].name),
                msg->policy[dir].name, width)};
        for (const map_cltqos_list_entry& e : wanted) {
            if (e.id_type == MAP_CLTQOS_ID_NONE || map_dman_lsql_is_exist_cltqos_id(&e) == 0) {
                continue;
            }
            if (map_cltqos_sysctl_list_id_add(list.get(), kAuthListCap, 1, e.id_type, e.name) !=
                0) {
                MAP_ERROR("Error processing %s '%s' entry in %s msg",
                          map_cltqos_id_type_name(e.id_type), e.name, MAP_CLTQOS_MSG_AUTH_DEF_REQ);
                result = -1;
            }
        }
    }
    if (result == 0 && map_cltqos_sc_count(list.get()) > 0 &&
        map_cltqos_send_def_req_pkt(rec, list.get(), sc_len(list.get())) != 0) {
        MAP_TRACE(MAP_TRACE_CLTQOS, "%s: error sending %s msg", __func__, MAP_CLTQOS_MSG_DEF_REQ);
        result = -1;
    }
    return result;
}

int process_cltqos_auth_def_req_msg(const uint8_t* msg, size_t length) {
    const auto rec = mmsg_relay::record_of<cltqos_auth_def_req_msg_s>(msg, length);
    return map_cltqos_process_auth_def_req_msg(get_switch_context(), &rec);
}

namespace {

// Adds one default access list or policy of a VAP; 0 or -1.
int vap_default_add(uint8_t* list, uint32_t capacity, uint8_t type, uint8_t id_type,
                    const char* name, const char* vap_name) {
    if (type != 0) {
        MAP_TRACE(MAP_TRACE_CLTQOS, "%s: %s '%s'", vap_name, map_cltqos_id_type_name(id_type),
                  name);
    }
    if (map_cltqos_sysctl_list_id_add(list, capacity, 1, id_type, name) != 0) {
        MAP_ERROR("Failed to add ID %s '%s' for %s (skipping)", map_cltqos_id_type_name(id_type),
                  name, vap_name);
        return -1;
    }
    return 0;
}

}  // namespace

int map_cltqos_vap_default_def_req(map_control_block* cb) {
    if (cb == nullptr || cb->cs == nullptr) {
        MAP_ERROR("Invalid control block parameter");
        return -1;
    }
    map_switch_comm* rec = cb->switch_comm;
    if (_map_cltqos_context_check(rec, __func__) != 0) {
        return -1;
    }
    const int num_vaps = cb->cs->vaps[0].num_vaps > 0 ? cb->cs->vaps[0].num_vaps : 0;
    const uint32_t capacity = static_cast<uint32_t>(num_vaps) * kVapEntries;
    auto all = map_cltqos_sc_make(capacity);
    if (!all) {
        MAP_ERROR("Unable to allocate memory for VAP client QoS default ID list");
        return -1;
    }
    int result = 0;
    for (int vap = 0; vap < num_vaps; ++vap) {
        for (int radio = 0; radio < MAP_CS_NUM_RADIOS; ++radio) {
            char vap_name[32];
            snprintf(vap_name, sizeof vap_name, "vap%d-wlan%d", vap, radio);
            map_vap_config cfg{};
            if (map_dman_lsql_get_vap_configuration(vap, radio, &cfg) != 0) {
                MAP_ERROR("VAP config 'get' failed for %s (skipping)", vap_name);
                result = -1;
                continue;
            }
            for (const map_vap_qos_ref* acl : {&cfg.def_acl_down, &cfg.def_acl_up}) {
                const uint8_t id = map_cltqos_acl_type_to_id_type(acl->type, acl->name);
                result |= vap_default_add(all.get(), capacity, acl->type, id, acl->name, vap_name);
            }
            for (const map_vap_qos_ref* pol : {&cfg.def_policy_down, &cfg.def_policy_up}) {
                const uint8_t id = map_cltqos_policy_type_to_id_type(pol->type, pol->name);
                result |= vap_default_add(all.get(), capacity, pol->type, id, pol->name, vap_name);
            }
        }
    }
    const uint32_t count = map_cltqos_sc_count(all.get());
    if (count == 0) {
        return result;
    }
    auto req = map_cltqos_sc_make(MAP_CLTQOS_DEF_REQ_MAX);
    if (!req) {
        MAP_ERROR("Unable to allocate memory for VAP client QoS Def Request list");
        return -1;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t n = map_cltqos_sc_count(req.get());
        map_cltqos_sc_put(req.get(), n, map_cltqos_sc_get(all.get(), i));
        map_cltqos_sc_set_count(req.get(), n + 1);
        if (n + 1 < MAP_CLTQOS_DEF_REQ_MAX && i + 1 < count) {
            continue;
        }
        if (map_cltqos_send_def_req_pkt(rec, req.get(), sc_len(req.get())) != 0) {
            MAP_ERROR("Error sending %s msg", MAP_CLTQOS_MSG_DEF_REQ);
            result = -1;
        }
        sc_empty(req.get(), MAP_CLTQOS_DEF_REQ_MAX);
    }
    return result;
}
