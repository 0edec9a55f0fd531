// Text forms of addresses and status codes for logs and traces.
//
// The address helpers return one shared static buffer (48 bytes; the two IPv6
// helpers share a second one of 47 bytes): a result is valid until the next
// call of any of them, so format one before asking for the next.
#pragma once

#include <cstdint>

// "aa:bb:cc:dd:ee:ff"; "<null>" for a null address.
const char* mac_to_string(const uint8_t* mac);
// Dotted IPv4 text of an address in host order.
const char* ip_addr_to_string(uint32_t ip);
// The system's text form of 16 IPv6 bytes; "<unknown>" when that fails.
const char* ipv6_addr_to_string(const uint8_t* addr);
// Eight host-order 16-bit groups as "%4.4x" joined by ':'.
const char* ipv6_addr_to_hex_string(const uint16_t* groups);
// IPv6 text to eight 16-bit groups in host order; 0, or -1 when the text is
// not an IPv6 address (the groups are then untouched).
int ipv6_hexstring_to_bytes(const char* text, uint16_t* groups);

// Prefix length 0..32 to a host-order mask; 0 for 33 and more.
uint32_t map_ipv4_prefix_to_mask_convert(uint32_t prefix);
// Number of bits set in a host-order mask.
uint32_t map_ipv4_mask_to_prefix_convert(uint32_t mask);

// 1 "AUTHENTICATED", 2 "NOT AUTHENTICATED", other "UNKNOWN".
const char* auth_status_to_string(uint32_t status);
// 1 "ASSOCIATED", 2 "NOT ASSOCIATED", other "UNKNOWN".
const char* assoc_status_to_string(uint32_t status);
// Rates in units of 100 kbit/s: 10 "1 MBS", 55 "5.5 MBS", ...; other "UNKNOWN".
const char* rate_to_string(uint32_t rate);
