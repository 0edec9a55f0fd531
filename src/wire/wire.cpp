#include "wire/wire.hpp"

#include "wire/map_text.hpp"

bool wire_put_text_field(wire_writer& w, const char* text, size_t width) {
    if (!wire_reserve(w, width)) return false;
    size_t n = text ? strnlen(text, width) : 0;
    if (n) memcpy(w.data + w.pos, text, n);
    memset(w.data + w.pos + n, 0, width - n);
    w.pos += width;
    return true;
}

bool wire_elem_next(wire_reader& r, wire_elem& e) {
    if (wire_remaining(r) < 4) return false;
    uint16_t type = 0, len = 0;
    (void)wire_read_be16(r, type);  // the four header bytes are there
    (void)wire_read_be16(r, len);
    size_t have = len <= wire_remaining(r) ? len : wire_remaining(r);
    e.type = type;
    e.len = len;
    e.value = std::span<const uint8_t>(wire_cursor(r), have);
    e.complete = have == len;
    r.pos += have;
    return true;
}

bool wire_elem_fixed(const wire_elem& e, void* out, size_t n) {
    if (e.value.size() < n) return false;
    if (n) memcpy(out, e.value.data(), n);
    return true;
}

bool wire_msg_begin(wire_msg& m, void* buf, size_t cap, uint16_t type) {
    m.w = wire_writer_make(buf, cap);
    if (buf && cap) memset(buf, 0, cap);
    return wire_put_be16(m.w, type) && wire_put_be16(m.w, 4);
}

bool wire_msg_add(wire_msg& m, uint16_t type, const void* value, uint16_t len) {
    if (!wire_reserve(m.w, size_t{4} + len)) return false;
    wire_put_be16(m.w, type);
    wire_put_be16(m.w, len);
    return value ? wire_put_bytes(m.w, value, len) : wire_put_zeros(m.w, len);
}

bool wire_msg_add_u8(wire_msg& m, uint16_t type, uint8_t v) { return wire_msg_add(m, type, &v, 1); }

bool wire_msg_add_be16(wire_msg& m, uint16_t type, uint16_t v) {
    uint8_t b[2];
    wire_store_be16(b, v);
    return wire_msg_add(m, type, b, 2);
}

bool wire_msg_add_be32(wire_msg& m, uint16_t type, uint32_t v) {
    uint8_t b[4];
    wire_store_be32(b, v);
    return wire_msg_add(m, type, b, 4);
}

size_t wire_msg_finish(wire_msg& m) {
    if (m.w.overflow || m.w.pos < 4 || m.w.pos > 0xFFFF) return 0;
    wire_store_be16(m.w.data + 2, static_cast<uint16_t>(m.w.pos));
    return m.w.pos;
}

void map_ip_elem_encode(uint32_t ip, uint32_t mask, uint8_t out[MAP_IP_ELEM_LEN]) {
    memset(out, 0, MAP_IP_ELEM_LEN);
    wire_store_be32(out + 13, ip);
    out[17] = static_cast<uint8_t>(map_ipv4_mask_to_prefix_convert(mask));
}

void map_ip_elem_decode(const uint8_t in[MAP_IP_ELEM_LEN], uint8_t* family, uint32_t* ip,
                        uint32_t* mask) {
    if (family) *family = in[0];
    if (ip) *ip = wire_load_be32(in + 13);
    if (mask) *mask = map_ipv4_prefix_to_mask_convert(in[17]);
}

void map_switch_addr_encode(const map_switch_addr& a, uint8_t out[MAP_SWITCH_ADDR_LEN]) {
    out[0] = a.is_ipv6;
    memcpy(out + 1, a.addr, 16);
}

void map_switch_addr_decode(const uint8_t in[MAP_SWITCH_ADDR_LEN], map_switch_addr& a) {
    a.is_ipv6 = in[0];
    memcpy(a.addr, in + 1, 16);
}

uint32_t map_switch_addr_ipv4(const map_switch_addr& a) {
    return a.is_ipv6 ? 0 : wire_load_be32(a.addr + 12);
}

map_switch_addr map_switch_addr_from_ipv4(uint32_t ip) {
    map_switch_addr a;
    wire_store_be32(a.addr + 12, ip);
    return a;
}
