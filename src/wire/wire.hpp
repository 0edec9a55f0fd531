// Bounded readers and writers over byte spans, byte order, and the walk over
// type-length-value elements.  Every inbound byte of mapd is read through
// these; none of them can read or write past its span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

// ---- reader ------------------------------------------------------------------

// A read cursor over received bytes.  A failed read returns false and leaves
// the cursor where it was.
struct wire_reader {
    const uint8_t* data = nullptr;
    size_t len = 0;
    size_t pos = 0;
};

inline wire_reader wire_reader_make(const void* data, size_t len) {
    return wire_reader{static_cast<const uint8_t*>(data), data ? len : 0, 0};
}
inline size_t wire_remaining(const wire_reader& r) { return r.len - r.pos; }
inline const uint8_t* wire_cursor(const wire_reader& r) { return r.data + r.pos; }

[[nodiscard]] inline bool wire_skip(wire_reader& r, size_t n) {
    if (n > wire_remaining(r)) return false;
    r.pos += n;
    return true;
}
[[nodiscard]] inline bool wire_read_u8(wire_reader& r, uint8_t& v) {
    if (wire_remaining(r) < 1) return false;
    v = r.data[r.pos++];
    return true;
}
[[nodiscard]] inline bool wire_read_be16(wire_reader& r, uint16_t& v) {
    if (wire_remaining(r) < 2) return false;
    v = static_cast<uint16_t>((r.data[r.pos] << 8) | r.data[r.pos + 1]);
    r.pos += 2;
    return true;
}
[[nodiscard]] inline bool wire_read_be32(wire_reader& r, uint32_t& v) {
    if (wire_remaining(r) < 4) return false;
    const uint8_t* p = r.data + r.pos;
    v = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    r.pos += 4;
    return true;
}
// Host-order fields of local records.
[[nodiscard]] inline bool wire_read_host16(wire_reader& r, uint16_t& v) {
    if (wire_remaining(r) < 2) return false;
    memcpy(&v, r.data + r.pos, 2);
    r.pos += 2;
    return true;
}
[[nodiscard]] inline bool wire_read_host32(wire_reader& r, uint32_t& v) {
    if (wire_remaining(r) < 4) return false;
    memcpy(&v, r.data + r.pos, 4);
    r.pos += 4;
    return true;
}
// Copies exactly `n` bytes.
[[nodiscard]] inline bool wire_read_bytes(wire_reader& r, void* out, size_t n) {
    if (n > wire_remaining(r)) return false;
    if (n) memcpy(out, r.data + r.pos, n);
    r.pos += n;
    return true;
}
// A view of the next `n` bytes.
[[nodiscard]] inline bool wire_read_span(wire_reader& r, size_t n, std::span<const uint8_t>& out) {
    if (n > wire_remaining(r)) return false;
    out = std::span<const uint8_t>(r.data + r.pos, n);
    r.pos += n;
    return true;
}

// ---- writer ------------------------------------------------------------------

// A write cursor over a caller's buffer.  A write that does not fit writes
// nothing, returns false and marks the writer as overflowed.
struct wire_writer {
    uint8_t* data = nullptr;
    size_t cap = 0;
    size_t pos = 0;
    bool overflow = false;
};

inline wire_writer wire_writer_make(void* data, size_t cap) {
    return wire_writer{static_cast<uint8_t*>(data), data ? cap : 0, 0, false};
}
inline size_t wire_room(const wire_writer& w) { return w.cap - w.pos; }

inline bool wire_reserve(wire_writer& w, size_t n) {
    if (n > wire_room(w)) {
        w.overflow = true;
        return false;
    }
    return true;
}
inline bool wire_put_u8(wire_writer& w, uint8_t v) {
    if (!wire_reserve(w, 1)) return false;
    w.data[w.pos++] = v;
    return true;
}
inline bool wire_put_be16(wire_writer& w, uint16_t v) {
    if (!wire_reserve(w, 2)) return false;
    w.data[w.pos] = static_cast<uint8_t>(v >> 8);
    w.data[w.pos + 1] = static_cast<uint8_t>(v);
    w.pos += 2;
    return true;
}
inline bool wire_put_be32(wire_writer& w, uint32_t v) {
    if (!wire_reserve(w, 4)) return false;
    for (int i = 0; i < 4; ++i) w.data[w.pos + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    w.pos += 4;
    return true;
}
inline bool wire_put_host16(wire_writer& w, uint16_t v) {
    if (!wire_reserve(w, 2)) return false;
    memcpy(w.data + w.pos, &v, 2);
    w.pos += 2;
    return true;
}
inline bool wire_put_host32(wire_writer& w, uint32_t v) {
    if (!wire_reserve(w, 4)) return false;
    memcpy(w.data + w.pos, &v, 4);
    w.pos += 4;
    return true;
}
inline bool wire_put_bytes(wire_writer& w, const void* src, size_t n) {
    if (!wire_reserve(w, n)) return false;
    if (n) memcpy(w.data + w.pos, src, n);
    w.pos += n;
    return true;
}
inline bool wire_put_zeros(wire_writer& w, size_t n) {
    if (!wire_reserve(w, n)) return false;
    memset(w.data + w.pos, 0, n);
    w.pos += n;
    return true;
}
// Copies text into a fixed field of `width` bytes, NUL-padded; longer text is
// cut to the field (a full field has no NUL).
bool wire_put_text_field(wire_writer& w, const char* text, size_t width);

// Big-endian 16/32-bit fields at a fixed offset of a caller's buffer.
inline void wire_store_be16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void wire_store_be32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
inline uint16_t wire_load_be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t wire_load_be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// ---- elements ----------------------------------------------------------------

// One type-length-value element as found in received bytes.
struct wire_elem {
    uint16_t type = 0;
    uint16_t len = 0;                // the length the element header claims
    std::span<const uint8_t> value;  // the value bytes present, at most `len`
    bool complete = false;           // all `len` value bytes were present
};

// Reads the next element while at least 4 bytes (a header) remain.  The cursor
// moves past the header and past the value bytes present, so a walk always
// ends.  A value shorter than its header claims is reported with complete ==
// false; the handler decides whether that ends the walk.
[[nodiscard]] bool wire_elem_next(wire_reader& r, wire_elem& e);

// Takes exactly `n` value bytes of an element that the protocol reads at a
// fixed size whatever its length says: false (nothing copied) unless at least
// `n` bytes of the value are present.
[[nodiscard]] bool wire_elem_fixed(const wire_elem& e, void* out, size_t n);

// ---- message builder -----------------------------------------------------------

// Builds a switch message in a zeroed buffer: header with a placeholder length,
// elements appended, the length patched by wire_msg_finish.
struct wire_msg {
    wire_writer w;
};

// Zeroes `cap` bytes of `buf` and writes the header of message `type`.
bool wire_msg_begin(wire_msg& m, void* buf, size_t cap, uint16_t type);
// Appends an element header and `len` value bytes (null value: zeros).
bool wire_msg_add(wire_msg& m, uint16_t type, const void* value, uint16_t len);
bool wire_msg_add_u8(wire_msg& m, uint16_t type, uint8_t v);
bool wire_msg_add_be16(wire_msg& m, uint16_t type, uint16_t v);
bool wire_msg_add_be32(wire_msg& m, uint16_t type, uint32_t v);
// Patches the message length; returns the length, or 0 if anything overflowed.
[[nodiscard]] size_t wire_msg_finish(wire_msg& m);

// ---- shared value forms --------------------------------------------------------

inline constexpr size_t MAP_IP_ELEM_LEN = 18;
inline constexpr size_t MAP_SWITCH_ADDR_LEN = 17;

// IP address element value: family (0 = IPv4), 16 address bytes (IPv4 in the
// last four, network order), prefix length of the mask.  Address and mask are
// in host order.
void map_ip_elem_encode(uint32_t ip, uint32_t mask, uint8_t out[MAP_IP_ELEM_LEN]);
// Reads family, address and mask (from the prefix length) of an IP element value.
void map_ip_elem_decode(const uint8_t in[MAP_IP_ELEM_LEN], uint8_t* family, uint32_t* ip,
                        uint32_t* mask);

// Switch address value: IPv6 flag, 16 address bytes (IPv4 in the last four).
struct map_switch_addr {
    uint8_t is_ipv6 = 0;
    uint8_t addr[16] = {};
};
void map_switch_addr_encode(const map_switch_addr& a, uint8_t out[MAP_SWITCH_ADDR_LEN]);
void map_switch_addr_decode(const uint8_t in[MAP_SWITCH_ADDR_LEN], map_switch_addr& a);
// The IPv4 address (host order) held by an IPv4 switch address, 0 for IPv6.
uint32_t map_switch_addr_ipv4(const map_switch_addr& a);
map_switch_addr map_switch_addr_from_ipv4(uint32_t ip);
