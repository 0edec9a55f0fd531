// Statistics as the switch sees them: the interval message it sends
// (SWITCH_STATUS_INT) and the statistics datagrams the AP sends back
// (SWITCH_STATS: global, radio, VAP and client elements), read field by
// field, printed readably and written as CSV rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// SWITCH_STATUS_INT: element 33 with the AP's MAC, then element 0x2101 with
// the interval in seconds.
std::vector<uint8_t> swsim_msg_stats_interval(const uint8_t ap_mac[6], uint16_t seconds);

struct swsim_stats_field {
    const char* label;
    uint64_t value;    // numbers
    std::string text;  // MAC addresses, names and IP addresses as text
};

struct swsim_stats_elem {
    uint16_t type;
    const char* name;  // "global", "radio", "vap", "client", ...; "unknown"
    size_t length;     // of the value
    bool whole;        // the length is the one the element type has
    std::vector<swsim_stats_field> fields;
};

struct swsim_stats {
    uint8_t ap_mac[6] = {};
    bool main = false;  // the AP's report (global element), not a client datagram
    int radios = 0, vaps = 0, clients = 0, streams = 0;
    std::vector<swsim_stats_elem> elems;
};

// Reads a SWITCH_STATS message; 0, or -1 when it is not one.
int swsim_stats_parse(const std::vector<uint8_t>& msg, swsim_stats& out);
// "AP <mac>, uptime N s, 2 radios, 32 VAPs, 16 clients (32 traffic streams)".
std::string swsim_stats_summary(const swsim_stats& st);
// One readable line per element.
std::vector<std::string> swsim_stats_lines(const swsim_stats& st);
// A field of an element, 0 when it has none of that label.
uint64_t swsim_stats_value(const swsim_stats_elem& e, const char* label);
// Appends one row for a main report to `path` (a header first when the file
// is new): time (Unix seconds), uptime, the AP's sums, each radio's and each
// VAP's (radios 1-2, VAPs 0-15) counters; absent ones are empty cells.
int swsim_stats_csv_append(const std::string& path, const swsim_stats& st, double unix_time);
