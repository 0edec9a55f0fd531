// Driver counters under /proc and MAC address queries.  The readers fill the
// records of map_stats_records.hpp from the text files that the AP's
// wireless and tunnel drivers publish; every path is an AP path through the
// platform door.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stats/map_stats_records.hpp"

// With an interface name: that interface's hardware address.  With none: the
// AP's own MAC (cached; the base MAC of the configuration database, else the
// hardware address of "eth0").  The output is left as it was on failure.
void map_proc_get_mac_addr(uint8_t* mac, const char* ifname);
// Forgets the cached AP MAC (after the base MAC was changed, and in tests).
void map_proc_mac_cache_clear();

// ---- keyed driver files ----------------------------------------------------------

enum class map_proc_vt : uint8_t { dec64, dec32, hex32, text };

// One key of a keyed driver file: the value after "<name><separator>" is
// parsed by `type` into the field at `offset` (of `size` bytes, for text the
// field's size including its terminator) of the caller's record.
struct map_proc_key {
    const char* name;
    map_proc_vt type;
    size_t offset;
    size_t size;
};

// Reads a keyed driver file into `record`: every line of up to 255
// characters, every key whose name is a prefix of the line.  A line that
// begins with `other_prefix` (when given) is handed to `other` instead.
// -1 only when the file cannot be opened.
int map_proc_read_keyed_file(const char* ap_path, const map_proc_key* keys, size_t nkeys,
                             void* record, const char* other_prefix = nullptr,
                             void (*other)(void* record, const char* line) = nullptr);

// ---- readers -----------------------------------------------------------------------

// 1 when "/proc/net/ieee80211/wl" exists and has at least one line, else 0.
short map_is_broadcom_interface();
// The counters of an interface (cleared first): the 64-bit driver file of a
// Broadcom radio interface, else the line of "/proc/net/dev".  0 or -1.
int map_proc_get_interface_stats(map_if_stats* rec, const char* ifname);
int map_proc_get_interface_stats_32bits(map_if_stats* rec, const char* ifname);
int map_proc_get_interface_stats_64bits(map_if_stats* rec, const char* ifname);
// A VAP's counters, "wlan%d" for VAP 0 and "wlan%dvap%d" for the others.
int map_proc_get_vap_stats_64bits(map_if_stats* rec, const char* vap_ifname);
// The radio's MAC, running channel, transmit power and channel use; and its
// 14 IEEE 802.11 counters.  0 or -1.
int map_proc_get_radio_stats(map_radio_stats* rec, const char* radio);
int map_proc_get_radio_counter_stats(map_radio_stats* rec, const char* radio);
// Tunnel counters into the global record.  The central tunnel's index comes
// from the central layer-2 tunnel; 0 means no tunnel and nothing is read.
int map_proc_get_l2tunnel_stats(map_global_stats* rec);
int map_proc_get_dl2tunnel_stats(map_global_stats* rec);
int map_proc_get_cl2tunnel_stats(map_global_stats* rec, uint32_t tunnel_index);
// One client's station file "/proc/net/ieee80211/<radio>/sta/<mac>" into a
// cleared record, its "ts_tid" lines included; the auth and assoc flags
// follow bits 0 and 1 of "flags".  0 or -1 (logged) when it cannot be opened.
int map_proc_get_client_stats(map_client_stats* rec, const char* radio, const uint8_t mac[6]);
// One "ts_tid<n>_<name>=<value>" line into the client's traffic-stream slots.
void map_proc_process_client_ts_association_stats(map_client_stats* rec, const char* line);
