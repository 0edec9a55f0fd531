#include "stats/map_proc.hpp"

#include <cerrno>
#include <cstring>

#include "store/map_dman_lsql.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"

namespace {

static constexpr char map_log_module[] = "map_proc";

bool g_mac_cached = false;
uint8_t g_mac[6];

// Interface names are cut to 15 characters like the kernel's.
bool read_hwaddr(const char* ifname, uint8_t* mac) {
    char name[16] = {};
    strncpy(name, ifname, sizeof name - 1);
    errno = 0;
    if (map_platform_get_hwaddr(name, mac) == 0) {
        return true;
    }
    if (errno != EADDRNOTAVAIL && errno != ENODEV && errno != ENOENT) {
        MAP_ERROR("error in getting mac addr");
    }
    return false;
}

}  // namespace

void map_proc_get_mac_addr(uint8_t* mac, const char* ifname) {
    if (mac == nullptr) {
        return;
    }
    if (ifname != nullptr) {
        uint8_t tmp[6];
        if (read_hwaddr(ifname, tmp)) {
            memcpy(mac, tmp, 6);
        }
        return;
    }
    if (!g_mac_cached) {
        uint8_t tmp[6] = {};
        if (map_lsql_base_ap_mac_get(tmp) == 0 || read_hwaddr("eth0", tmp)) {
            memcpy(g_mac, tmp, 6);
            g_mac_cached = true;
        }
    }
    if (g_mac_cached) {
        memcpy(mac, g_mac, 6);
    }
}

void map_proc_mac_cache_clear() { g_mac_cached = false; }
