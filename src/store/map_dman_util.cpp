// Value helpers of the property descriptor tables: record fields to property
// texts and back, and the grid read that fills a record from one instance.
#include <arpa/inet.h>

#include <cctype>
#include <charconv>
#include <cinttypes>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "store/map_dman_internal.hpp"
#include "store/map_dman_lsql.hpp"
#include "log/map_log.hpp"
#include "wire/map_text.hpp"

static constexpr char map_log_module[] = "map_dman_lsql";

using map_dman_detail::pv_ptr;
using map_dman_detail::text_ptr;

namespace {

// The property text under construction: at most 255 characters, always
// terminated; what does not fit is cut.
struct value_text {
    char data[MAP_DMAN_VALUE_LEN] = {};
    size_t len = 0;

    void append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (len + 1 >= sizeof data) {
            return;
        }
        va_list ap;
        va_start(ap, format);
        int n = vsnprintf(data + len, sizeof data - len, format, ap);
        va_end(ap);
        if (n > 0) {
            len += static_cast<size_t>(n) < sizeof data - len ? static_cast<size_t>(n)
                                                              : sizeof data - len - 1;
        }
    }
};

template <typename T>
T load(const void* field) {
    T value;
    memcpy(&value, field, sizeof value);
    return value;
}

template <typename T>
void store(void* field, T value) {
    memcpy(field, &value, sizeof value);
}

// Text and byte-list fields must say how long they are.
bool sized_field_ok(const map_dman_prop_desc* desc, size_t min_size) {
    if (desc->size < min_size) {
        MAP_ERROR("property %.63s: field size %u too small", desc->name, desc->size);
        return false;
    }
    return true;
}

void write_text_field(value_text& out, const map_dman_prop_desc* desc, const void* field) {
    const char* text = static_cast<const char*>(field);
    size_t len = strnlen(text, desc->size);
    out.append("%.*s", static_cast<int>(len), text);
}

// Each byte as "%d " up to the terminator or the end of the field; "none"
// for an empty list.
void write_byte_list(value_text& out, const map_dman_prop_desc* desc, const void* field) {
    const auto* bytes = static_cast<const uint8_t*>(field);
    size_t i = 0;
    for (; i < desc->size && bytes[i] != 0; ++i) {
        out.append("%d ", bytes[i]);
    }
    if (i == 0) {
        out.append("none");
    }
}

void write_ipv4(value_text& out, uint32_t ip) {
    out.append("%d.%d.%d.%d", static_cast<int>((ip >> 24) & 0xFF),
               static_cast<int>((ip >> 16) & 0xFF), static_cast<int>((ip >> 8) & 0xFF),
               static_cast<int>(ip & 0xFF));
}

void write_mac(value_text& out, const void* field) {
    const auto* m = static_cast<const uint8_t*>(field);
    out.append("%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
}

// The 16 address bytes go to the shared helper as eight host-order groups.
void write_ipv6(value_text& out, const void* field) {
    const auto* b = static_cast<const uint8_t*>(field);
    uint16_t groups[8];
    for (int i = 0; i < 8; ++i) {
        groups[i] = static_cast<uint16_t>((b[2 * i] << 8) | b[2 * i + 1]);
    }
    out.append("%s", ipv6_addr_to_hex_string(groups));
}

const char* antenna_text(uint8_t value) {
    switch (value) {
        case 1:
            return "left-right";
        case 2:
            return "left-middle";
        default:
            return "middle-right";
    }
}

// Builds the text of `field`; false when the code makes no node.
bool build_text(value_text& out, const map_dman_prop_desc* desc, uint32_t type, const void* field) {
    switch (type) {
        case MAP_DMAN_VT_TEXT:
            if (!sized_field_ok(desc, 1)) {
                return false;
            }
            write_text_field(out, desc, field);
            return true;
        // A signed 16-bit number: 0xFFFF is "-1", and a port such as 57775
        // is "-7761" (the reader gives back the same 16 bits).
        case MAP_DMAN_VT_INT16:
            out.append("%d", load<int16_t>(field));
            return true;
        case MAP_DMAN_VT_INT32:
            out.append("%d", load<int32_t>(field));
            return true;
        case MAP_DMAN_VT_UINT32:
            out.append("%u", load<uint32_t>(field));
            return true;
        case MAP_DMAN_VT_LONG:
            out.append("%ld", load<long>(field));
            return true;
        case MAP_DMAN_VT_FLOAT:
            out.append("%-g", static_cast<double>(load<float>(field)));
            return true;
        case MAP_DMAN_VT_IPV4:
            write_ipv4(out, load<uint32_t>(field));
            return true;
        case MAP_DMAN_VT_MAC:
            write_mac(out, field);
            return true;
        case MAP_DMAN_VT_INT64:
            out.append("%lld", static_cast<long long>(load<int64_t>(field)));
            return true;
        case MAP_DMAN_VT_FLAG_YES:
            return true;  // an empty text
        case MAP_DMAN_VT_UP_DOWN:
            out.append("%s", load<uint8_t>(field) == 1 ? "up" : "down");
            return true;
        case MAP_DMAN_VT_YES_NO:
            out.append("%s", load<uint8_t>(field) == 1 ? "yes" : "no");
            return true;
        case MAP_DMAN_VT_ON_OFF:
            out.append("%s", load<uint8_t>(field) == 1 ? "on" : "off");
            return true;
        case MAP_DMAN_VT_BYTE_LIST:
            if (!sized_field_ok(desc, 1)) {
                return false;
            }
            write_byte_list(out, desc, field);
            return true;
        case MAP_DMAN_VT_ANTENNA:
            out.append("%s", antenna_text(load<uint8_t>(field)));
            return true;
        case MAP_DMAN_VT_IPV6:
            write_ipv6(out, field);
            return true;
        case MAP_DMAN_VT_IP_TYPE:
            out.append("%s", load<uint8_t>(field) != 0 ? "IPV6" : "IPV4");
            return true;
        default:
            return false;  // 13 and codes 18 and above
    }
}

// ---- reading -----------------------------------------------------------------

bool field_fits(size_t field_size, size_t width, uint32_t type) {
    if (field_size < width) {
        MAP_ERROR("value type %u needs %zu bytes, the field has %zu", type, width, field_size);
        return false;
    }
    return true;
}

// Reads a decimal number the way the scanf integer conversions take it:
// leading blanks, an optional sign, digits; what follows is ignored.
// False for no digits or a value outside [min, max].
bool parse_integer(const char* text, long long min, long long max, long long* out) {
    while (isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    if (*text == '+' && isdigit(static_cast<unsigned char>(text[1]))) {
        ++text;
    }
    const char* end = text + strlen(text);
    long long value = 0;
    if (std::from_chars(text, end, value).ec != std::errc{} || value < min || value > max) {
        MAP_ERROR("\"%.32s\" is not a number in %lld..%lld", text, min, max);
        return false;
    }
    *out = value;
    return true;
}

// Text is taken the way the "%s" conversion takes it: the first
// blank-delimited word.  A word longer than the field is cut to fit.
int read_text(const char* text, char* field, size_t field_size) {
    if (field_size == 0) {
        MAP_ERROR("text value without a field size");
        return -1;
    }
    while (isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    size_t len = 0;
    while (text[len] != '\0' && !isspace(static_cast<unsigned char>(text[len]))) {
        ++len;
    }
    if (len == 0) {
        return -1;
    }
    if (len >= field_size) {
        MAP_ERROR("text of %zu characters cut to %zu", len, field_size - 1);
        len = field_size - 1;
    }
    memcpy(field, text, len);
    field[len] = '\0';
    return 0;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Six groups of one or two hex digits separated by ':'.
bool parse_mac(const char* text, uint8_t mac[6]) {
    const char* p = text;
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && *p++ != ':') {
            return false;
        }
        int hi = hex_digit(*p);
        if (hi < 0) {
            return false;
        }
        ++p;
        int lo = hex_digit(*p);
        if (lo >= 0) {
            ++p;
            hi = hi * 16 + lo;
        }
        mac[i] = static_cast<uint8_t>(hi);
    }
    return true;
}

// Stores a number of type T read from `text` when it lies in [min, max].
template <typename T>
int read_number(uint32_t type, const char* text, void* field, size_t field_size, long long min,
                long long max) {
    long long v = 0;
    if (!field_fits(field_size, sizeof(T), type) || !parse_integer(text, min, max, &v)) {
        return -1;
    }
    store(field, static_cast<T>(v));
    return 0;
}

int read_integer(uint32_t type, const char* text, void* field, size_t size) {
    switch (type) {
        case MAP_DMAN_VT_INT16:
            // Read like "%hd": the number's 16 bits.  Unsigned texts of
            // 32768 and above (ports such as "57775", as the port accessors
            // and the factory configuration write them) land as the same bit
            // pattern as their signed form.
            return read_number<int16_t>(type, text, field, size, INT16_MIN, UINT16_MAX);
        case MAP_DMAN_VT_INT32:
            return read_number<int32_t>(type, text, field, size, INT32_MIN, INT32_MAX);
        case MAP_DMAN_VT_UINT32:
            return read_number<uint32_t>(type, text, field, size, 0, UINT32_MAX);
        case MAP_DMAN_VT_LONG:
            return read_number<long>(type, text, field, size, LONG_MIN, LONG_MAX);
        default:  // MAP_DMAN_VT_INT64
            return read_number<int64_t>(type, text, field, size, LLONG_MIN, LLONG_MAX);
    }
}

// The classic reader stores flags as 32 bits; an 8- or 16-bit flag field
// gets the flag in its own width instead, never past its end.
int store_flag(uint32_t type, bool set, void* field, size_t field_size) {
    switch (field_size >= 4 ? 4 : field_size) {
        case 4:
            store(field, static_cast<uint32_t>(set));
            return 0;
        case 2:
            store(field, static_cast<uint16_t>(set));
            return 0;
        case 1:
            store(field, static_cast<uint8_t>(set));
            return 0;
        default:
            return field_fits(field_size, 1, type) ? 0 : -1;
    }
}

int read_ipv4(const char* text, void* field, size_t field_size) {
    in_addr addr{};
    if (!field_fits(field_size, 4, MAP_DMAN_VT_IPV4)) {
        return -1;
    }
    if (inet_pton(AF_INET, text, &addr) != 1) {
        MAP_ERROR("\"%.32s\" is not a dotted IPv4 address", text);
        return -1;
    }
    store(field, ntohl(addr.s_addr));
    return 0;
}

int read_mac(const char* text, void* field, size_t field_size) {
    uint8_t mac[6];
    if (!field_fits(field_size, 6, MAP_DMAN_VT_MAC)) {
        return -1;
    }
    if (!parse_mac(text, mac)) {
        MAP_ERROR("\"%.32s\" is not a MAC address", text);
        return -1;
    }
    memcpy(field, mac, sizeof mac);
    return 0;
}

// Eight host-order groups from the shared helper back to 16 address bytes.
int read_ipv6(const char* text, void* field, size_t field_size) {
    uint16_t groups[8];
    if (!field_fits(field_size, 16, MAP_DMAN_VT_IPV6)) {
        return -1;
    }
    if (ipv6_hexstring_to_bytes(text, groups) != 0) {
        MAP_ERROR("\"%.48s\" is not an IPv6 address", text);
        return -1;
    }
    auto* b = static_cast<uint8_t*>(field);
    for (int i = 0; i < 8; ++i) {
        b[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
        b[2 * i + 1] = static_cast<uint8_t>(groups[i] & 0xFF);
    }
    return 0;
}

bool begins(const char* text, const char* prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

}  // namespace

pv* map_dman_util_populate_value(const map_dman_prop_desc* desc, uint32_t type, const void* field) {
    if (desc == nullptr || field == nullptr) {
        return nullptr;
    }
    value_text text;
    if (!build_text(text, desc, type, field)) {
        return nullptr;
    }
    char name[MAP_DMAN_NAME_LEN];
    size_t name_len = strnlen(desc->name, sizeof name - 1);
    memcpy(name, desc->name, name_len);
    name[name_len] = '\0';
    return lsqlquery_new_pv_solo(name, text.data);
}

pv* map_dman_util_fill_pv_list(const map_dman_prop_desc* table, const void* base, uint32_t count) {
    if (table == nullptr || base == nullptr) {
        return nullptr;
    }
    pv* head = nullptr;
    pv* tail = nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        const void* field = static_cast<const uint8_t*>(base) + table[i].offset;
        pv* node = map_dman_util_populate_value(&table[i], table[i].type, field);
        if (node == nullptr) {
            continue;
        }
        if (tail == nullptr) {
            head = node;
        } else {
            tail->next = node;
        }
        tail = node;
    }
    return head;
}

int map_dman_util_extract_value(uint32_t type, const char* text, void* field, size_t field_size) {
    if (text == nullptr || field == nullptr) {
        return -1;
    }
    switch (type) {
        case MAP_DMAN_VT_TEXT:
            return read_text(text, static_cast<char*>(field), field_size);
        case MAP_DMAN_VT_INT16:
        case MAP_DMAN_VT_INT32:
        case MAP_DMAN_VT_UINT32:
        case MAP_DMAN_VT_LONG:
        case MAP_DMAN_VT_INT64:
            return read_integer(type, text, field, field_size);
        case MAP_DMAN_VT_IPV4:
            return read_ipv4(text, field, field_size);
        case MAP_DMAN_VT_MAC:
            return read_mac(text, field, field_size);
        case MAP_DMAN_VT_FLAG_YES:
            return store_flag(type, begins(text, "Yes") || begins(text, "up"), field, field_size);
        case MAP_DMAN_VT_UP_DOWN:
            return store_flag(type, begins(text, "Up") || begins(text, "up"), field, field_size);
        case MAP_DMAN_VT_IPV6:
            return read_ipv6(text, field, field_size);
        default:
            return -1;  // not read: 5, 11 to 15, 17 and above
    }
}

const map_dman_prop_desc* map_dman_util_find_desc(const map_dman_prop_desc* table, uint32_t count,
                                                  const char* node_name) {
    if (table == nullptr || node_name == nullptr) {
        return nullptr;
    }
    for (uint32_t i = 0; i < count; ++i) {
        size_t len = strnlen(table[i].name, MAP_DMAN_NAME_LEN);
        if (len > 0 && strncmp(node_name, table[i].name, len) == 0) {
            return &table[i];
        }
    }
    return nullptr;
}

namespace {

// The table's property names, no values, in table order.
pv_ptr wanted_list(const map_dman_prop_desc* table, uint32_t count) {
    pv_ptr head;
    pv* tail = nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        char name[MAP_DMAN_NAME_LEN];
        snprintf(name, sizeof name, "%.*s", static_cast<int>(MAP_DMAN_NAME_LEN - 1), table[i].name);
        pv* node = lsqlquery_new_pv(name, nullptr, tail);
        if (node == nullptr) {
            return nullptr;
        }
        if (!head) {
            head.reset(node);
        }
        tail = node;
    }
    return head;
}

void extract_node(const pv* node, const map_dman_prop_desc* table, uint32_t count, void* record,
                  size_t record_size) {
    const map_dman_prop_desc* desc = map_dman_util_find_desc(table, count, node->name);
    if (desc == nullptr || node->value == nullptr) {
        return;
    }
    if (desc->offset > record_size || desc->size > record_size - desc->offset) {
        MAP_ERROR("property %.63s lies outside its record", desc->name);
        return;
    }
    map_dman_util_extract_value(desc->type, node->value,
                                static_cast<uint8_t*>(record) + desc->offset, desc->size);
}

}  // namespace

int map_dman_util_get_grid(const char* cls, const char* instance, const map_dman_prop_desc* table,
                           uint32_t count, void* record, size_t record_size, pv* qualifier,
                           int flag) {
    if (table == nullptr || record == nullptr || count == 0) {
        return -1;
    }
    pv_ptr grid;
    {
        pv_ptr wanted = wanted_list(table, count);
        if (!wanted) {
            MAP_ERROR("Unable to build the property list of class %s", cls);
            return -1;
        }
        grid.reset(lsqlquery_get_grid(cls, instance, wanted.get(), qualifier, flag));
    }
    if (!grid) {
        return -1;
    }
    memset(record, 0, record_size);
    for (const pv* row = grid.get(); row != nullptr; row = row->peer) {
        for (const pv* node = row; node != nullptr; node = node->next) {
            extract_node(node, table, count, record, record_size);
        }
    }
    return 0;
}

// ---- one-property helpers ------------------------------------------------------

namespace map_dman_detail {

int set_one(const char* cls, const char* instance, const char* property, const char* value) {
    pv_ptr node(lsqlquery_new_pv_solo(property, value));
    if (!node) {
        return -1;
    }
    return lsqlquery_set_pv(cls, instance, node.get(), nullptr) == 0 ? 0 : -1;
}

int set_one_with_error(const char* cls, const char* instance, const char* property,
                       const char* value, text_ptr* error) {
    pv_ptr node(lsqlquery_new_pv_solo(property, value));
    if (!node) {
        return -1;
    }
    char* text = nullptr;
    int rc = lsqlquery_set_pv_with_error(cls, instance, node.get(), nullptr, &text);
    error->reset(text);
    return rc == 0 ? 0 : -1;
}

pv_ptr get_one(const char* cls, const char* instance, const char* property) {
    pv_ptr list(lsqlquery_get_pv(cls, instance, property));
    if (!list || list->value == nullptr) {
        return nullptr;
    }
    return list;
}

}  // namespace map_dman_detail
