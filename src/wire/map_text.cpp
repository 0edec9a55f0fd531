#include "wire/map_text.hpp"

#include <arpa/inet.h>

#include <bit>
#include <cstdio>
#include <cstring>

namespace {

char g_text[48];
char g_ipv6_text[47];

}  // namespace

const char* mac_to_string(const uint8_t* mac) {
    if (mac == nullptr) {
        snprintf(g_text, sizeof g_text, "<null>");
        return g_text;
    }
    snprintf(g_text, sizeof g_text, "%2.2x:%2.2x:%2.2x:%2.2x:%2.2x:%2.2x", mac[0], mac[1], mac[2],
             mac[3], mac[4], mac[5]);
    return g_text;
}

const char* ip_addr_to_string(uint32_t ip) {
    snprintf(g_text, sizeof g_text, "%u.%u.%u.%u", (ip >> 24) & 0xFF, (ip >> 16) & 0xFF,
             (ip >> 8) & 0xFF, ip & 0xFF);
    return g_text;
}

const char* ipv6_addr_to_string(const uint8_t* addr) {
    if (addr == nullptr || inet_ntop(AF_INET6, addr, g_ipv6_text, sizeof g_ipv6_text) == nullptr) {
        snprintf(g_ipv6_text, sizeof g_ipv6_text, "<unknown>");
    }
    return g_ipv6_text;
}

const char* ipv6_addr_to_hex_string(const uint16_t* groups) {
    if (groups == nullptr) {
        snprintf(g_ipv6_text, sizeof g_ipv6_text, "<unknown>");
        return g_ipv6_text;
    }
    snprintf(g_ipv6_text, sizeof g_ipv6_text, "%4.4x:%4.4x:%4.4x:%4.4x:%4.4x:%4.4x:%4.4x:%4.4x",
             groups[0], groups[1], groups[2], groups[3], groups[4], groups[5], groups[6],
             groups[7]);
    return g_ipv6_text;
}

int ipv6_hexstring_to_bytes(const char* text, uint16_t* groups) {
    if (text == nullptr || groups == nullptr) {
        return -1;
    }
    uint8_t bytes[16];
    if (inet_pton(AF_INET6, text, bytes) != 1) {
        return -1;
    }
    for (int i = 0; i < 8; ++i) {
        groups[i] = static_cast<uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
    }
    return 0;
}

uint32_t map_ipv4_prefix_to_mask_convert(uint32_t prefix) {
    if (prefix == 0 || prefix > 32) {
        return 0;
    }
    return ~uint32_t{0} << (32 - prefix);
}

uint32_t map_ipv4_mask_to_prefix_convert(uint32_t mask) {
    return static_cast<uint32_t>(std::popcount(mask));
}

const char* auth_status_to_string(uint32_t status) {
    switch (status) {
        case 1: return "AUTHENTICATED";
        case 2: return "NOT AUTHENTICATED";
        default: return "UNKNOWN";
    }
}

const char* assoc_status_to_string(uint32_t status) {
    switch (status) {
        case 1: return "ASSOCIATED";
        case 2: return "NOT ASSOCIATED";
        default: return "UNKNOWN";
    }
}

const char* rate_to_string(uint32_t rate) {
    struct row {
        uint32_t rate;
        const char* text;
    };
    static constexpr row rows[] = {
        {10, "1 MBS"},   {20, "2 MBS"},   {55, "5.5 MBS"}, {60, "6 MBS"},
        {90, "9 MBS"},   {110, "11 MBS"}, {120, "12 MBS"}, {180, "18 MBS"},
        {240, "24 MBS"}, {360, "36 MBS"}, {480, "48 MBS"}, {540, "54 MBS"},
    };
    for (const auto& r : rows) {
        if (r.rate == rate) return r.text;
    }
    return "UNKNOWN";
}
