// AP provisioning parameters: how the AP finds and trusts its switch when it
// was provisioned by one.  A plain byte record laid out without gaps.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t MAP_SW_CERT_LEN = 1024;

struct map_ap_provision_params {
    uint8_t switch_is_ipv6;   // 1 unless "switch-ip-address-type" is "IPV4" or absent
    uint8_t switch_addr[16];  // IPv4 in the last 4 bytes (host order), or IPv6
    uint8_t ap_mac[6];
    uint8_t primary_is_ipv6;
    uint8_t primary_addr[16];
    uint8_t backup_is_ipv6;
    uint8_t backup_addr[16];
    uint8_t mutual_auth;                 // "mutual-auth" is "on"
    uint8_t reprovision_unmanaged;       // "reprovision-unmanaged-mode" is "on"
    char primary_cert[MAP_SW_CERT_LEN];  // PEM text, NUL-padded
    char backup_cert[MAP_SW_CERT_LEN];
    uint8_t data_valid;  // "data-valid" is "on"
};

static_assert(offsetof(map_ap_provision_params, primary_is_ipv6) == 23);
static_assert(offsetof(map_ap_provision_params, backup_is_ipv6) == 40);
static_assert(offsetof(map_ap_provision_params, mutual_auth) == 57);
static_assert(offsetof(map_ap_provision_params, reprovision_unmanaged) == 58);
static_assert(offsetof(map_ap_provision_params, data_valid) == 2107);
static_assert(sizeof(map_ap_provision_params) == 2108);

// The IPv4 address (host order) held in the last four bytes of an address group.
inline uint32_t map_provision_ipv4(const uint8_t addr[16]) {
    uint32_t ip;
    __builtin_memcpy(&ip, addr + 12, 4);
    return ip;
}

// An address group as the 17-byte switch address value of the wire: the IPv6
// flag, then the address with an IPv4 address in network order.
inline void map_provision_addr_to_wire(uint8_t is_ipv6, const uint8_t addr[16], uint8_t out[17]) {
    out[0] = is_ipv6;
    if (is_ipv6) {
        __builtin_memcpy(out + 1, addr, 16);
        return;
    }
    __builtin_memset(out + 1, 0, 12);
    uint32_t ip = map_provision_ipv4(addr);
    out[13] = static_cast<uint8_t>(ip >> 24);
    out[14] = static_cast<uint8_t>(ip >> 16);
    out[15] = static_cast<uint8_t>(ip >> 8);
    out[16] = static_cast<uint8_t>(ip);
}
