// Helpers shared by every switch message: headers, element headers, byte
// order, the trace name of a message type and the message hex trace.
#pragma once

#include <cstddef>
#include <cstdint>

#include "switch/switch_msg.hpp"

// A message or element header in host order.
struct map_switch_elem_hdr {
    uint16_t type;
    uint16_t length;
};

// Writes a 4-byte header at `dest`; `type` and `length` are already in network
// byte order and are stored as they are.
void map_switch_util_buffer_fill_elem(uint8_t* dest, uint16_t type, uint16_t length);
// Copies the 4 header bytes at `src` into `out` in host order.
void map_switch_comm_util_extract_element(const uint8_t* src, map_switch_elem_hdr* out);
// Unaligned big-endian 16/32-bit values.
uint16_t map_extract_short(const uint8_t* src);
uint32_t map_extract_integer(const uint8_t* src);

// Trace name of a message type; "UNKNOWN" for codes without one.
const char* map_pkt_type_name(uint16_t type);
// A newly allocated 64-byte text with the trace name of the message at `msg`
// (free() it); null when `msg` is null, `len` is not positive, or allocation fails.
char* pkt_type_to_string(const uint8_t* msg, int len);

// Message trace at debug level `level`: direction word, transport word, trace
// name, then the bytes as "%02x " with 13 to a line.
void map_pkt_hex_print(uint32_t level, const uint8_t* msg, int len, int direction, int transport);
// Builds the text of the message trace into `out` (cut at `out_len`); returns its length.
size_t map_pkt_hex_format(char* out, size_t out_len, const uint8_t* msg, int len, int direction,
                          int transport);
