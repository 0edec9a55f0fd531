// Driver counters under /proc and MAC address queries.
#pragma once

#include <cstdint>

// With an interface name: that interface's hardware address.  With none: the
// AP's own MAC (cached; the base MAC of the configuration database, else the
// hardware address of "eth0").  The output is left as it was on failure.
void map_proc_get_mac_addr(uint8_t* mac, const char* ifname);
// Forgets the cached AP MAC (after the base MAC was changed, and in tests).
void map_proc_mac_cache_clear();
