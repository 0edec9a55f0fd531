#include "swsim/stats_msg.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "switch/switch_msg.hpp"
#include "wire/map_text.hpp"
#include "wire/wire.hpp"

namespace {

enum class fw : uint8_t { u8, u16, u32, u64, mac, name15, ip };

struct field_def {
    const char* label;
    fw w;
};

constexpr size_t width(fw w) {
    switch (w) {
        case fw::u8: return 1;
        case fw::u16: return 2;
        case fw::u32: return 4;
        case fw::u64: return 8;
        case fw::mac: return 6;
        case fw::name15: return 15;
        case fw::ip: return 4;
    }
    return 0;
}

// The layouts of the statistics elements, field by field.
constexpr field_def kGlobal[] = {
    {"uptime", fw::u32},
    {"wl_rx_packets", fw::u64}, {"wl_rx_bytes", fw::u64},
    {"wl_tx_packets", fw::u64}, {"wl_tx_bytes", fw::u64},
    {"eth_rx_packets", fw::u64}, {"eth_rx_bytes", fw::u64}, {"eth_rx_mcast", fw::u64},
    {"eth_tx_packets", fw::u64}, {"eth_tx_bytes", fw::u64}, {"eth_tx_errors", fw::u64},
    {"eth_rx_errors", fw::u64},
    {"wl_drop_tx_bytes", fw::u64}, {"wl_drop_rx_bytes", fw::u64},
    {"wl_drop_tx_packets", fw::u64}, {"wl_drop_rx_packets", fw::u64},
    {"cl2_tx_bytes", fw::u64}, {"cl2_tx_packets", fw::u64}, {"cl2_tx_mcast", fw::u64},
    {"cl2_rx_bytes", fw::u64}, {"cl2_rx_packets", fw::u64}, {"cl2_rx_mcast", fw::u64},
    {"l2_max_tunnels", fw::u32}, {"l2_vlan_max_tunnels", fw::u32},
    {"dl2_tx_bytes", fw::u64}, {"dl2_tx_packets", fw::u64}, {"dl2_tx_mcast", fw::u64},
    {"dl2_rx_bytes", fw::u64}, {"dl2_rx_packets", fw::u64}, {"dl2_rx_mcast", fw::u64},
    {"dl2_tunnels", fw::u32}, {"dl2_clients_home", fw::u32}, {"dl2_clients_assoc", fw::u32},
    {"dl2_roamed", fw::u32}, {"dl2_roamed_idle", fw::u32}, {"dl2_roamed_aged", fw::u32},
    {"dl2_denied_max_cli", fw::u32}, {"dl2_denied_max_rep", fw::u32},
};
constexpr field_def kGlobal2[] = {
    {"arp_bc_2_uc", fw::u32}, {"arp_req_filtered", fw::u32}, {"arp_bc", fw::u32}};
constexpr field_def kTsSummary[] = {
    {"vo_0", fw::u32}, {"vo_1", fw::u32}, {"vo_2", fw::u32}, {"vo_3", fw::u32},
    {"vi_0", fw::u32}, {"vi_1", fw::u32}, {"vi_2", fw::u32}, {"vi_3", fw::u32}};
constexpr field_def kTsCounters[] = {
    {"radio", fw::u8}, {"vap", fw::u8},
    {"vo_rx_packets", fw::u64}, {"vo_rx_bytes", fw::u64},
    {"vo_tx_packets", fw::u64}, {"vo_tx_bytes", fw::u64},
    {"vi_rx_packets", fw::u64}, {"vi_rx_bytes", fw::u64},
    {"vi_tx_packets", fw::u64}, {"vi_tx_bytes", fw::u64}};
constexpr field_def kTsStatusAp[] = {
    {"vo_0", fw::u32}, {"vo_1", fw::u32}, {"vo_2", fw::u32},
    {"vi_0", fw::u32}, {"vi_1", fw::u32}, {"vi_2", fw::u32}};
constexpr field_def kTsStatus[] = {
    {"radio", fw::u8}, {"vap", fw::u8},
    {"vo_lead", fw::u8}, {"vo_pad", fw::u8}, {"vo_0", fw::u32}, {"vo_1", fw::u32},
    {"vo_2", fw::u32}, {"vo_3", fw::u32}, {"vo_4", fw::u32}, {"vo_5", fw::u32},
    {"vi_lead", fw::u8}, {"vi_pad", fw::u8}, {"vi_0", fw::u32}, {"vi_1", fw::u32},
    {"vi_2", fw::u32}, {"vi_3", fw::u32}, {"vi_4", fw::u32}, {"vi_5", fw::u32}};
constexpr field_def kRadio[] = {
    {"radio", fw::u8}, {"mac", fw::mac},
    {"channel", fw::u32}, {"power", fw::u32}, {"util", fw::u32},
    {"rx_packets", fw::u64}, {"rx_bytes", fw::u64}, {"tx_packets", fw::u64}, {"tx_bytes", fw::u64},
    {"TransmittedFragmentCount", fw::u32}, {"MulticastTransmittedFrameCount", fw::u32},
    {"FailedCount", fw::u32}, {"RetryCount", fw::u32}, {"MultipleRetryCount", fw::u32},
    {"FrameDuplicateCount", fw::u32}, {"RTSSuccessCount", fw::u32},
    {"RTSFailureCount", fw::u32}, {"ACKFailureCount", fw::u32},
    {"ReceivedFragmentCount", fw::u32}, {"MulticastReceivedFrameCount", fw::u32},
    {"FCSErrorCount", fw::u32}, {"TransmittedFrameCount", fw::u32},
    {"WEPUndecryptableCount", fw::u32},
    {"drop_tx_bytes", fw::u64}, {"drop_rx_bytes", fw::u64},
    {"drop_tx_packets", fw::u64}, {"drop_rx_packets", fw::u64}};
constexpr field_def kVap[] = {
    {"radio", fw::u8}, {"vap", fw::u8}, {"auth_fail_1", fw::u32}, {"auth_fail_2", fw::u32},
    {"rx_packets", fw::u64}, {"rx_bytes", fw::u64}, {"tx_packets", fw::u64}, {"tx_bytes", fw::u64},
    {"drop_tx_bytes", fw::u64}, {"drop_rx_bytes", fw::u64},
    {"drop_tx_packets", fw::u64}, {"drop_rx_packets", fw::u64}};
constexpr field_def kClient[] = {
    {"mac", fw::mac}, {"txrate", fw::u32},
    {"rx_packets", fw::u64}, {"rx_bytes", fw::u64}, {"tx_packets", fw::u64}, {"tx_bytes", fw::u64},
    {"last_rssi", fw::u32}, {"rx_duplicates", fw::u32}, {"rx_fragments", fw::u32},
    {"tx_fragments", fw::u32}, {"tx_retries", fw::u32}, {"tx_retry_failed", fw::u32},
    {"inactive_msec", fw::u32},
    {"drop_tx_bytes", fw::u64}, {"drop_rx_bytes", fw::u64},
    {"drop_tx_packets", fw::u64}, {"drop_rx_packets", fw::u64},
    {"reserved", fw::u16}, {"ip", fw::ip}};
constexpr field_def kClientName[] = {{"mac", fw::mac}, {"name", fw::name15}};
constexpr field_def kClient2[] = {
    {"mac", fw::mac}, {"ts_violate_rx", fw::u32}, {"ts_violate_tx", fw::u32}};
constexpr field_def kClientTs[] = {
    {"mac", fw::mac}, {"pad", fw::u8}, {"tid", fw::u8}, {"ac", fw::u8}, {"direction", fw::u8},
    {"rx_packets", fw::u64}, {"rx_bytes", fw::u64}, {"tx_packets", fw::u64}, {"tx_bytes", fw::u64},
    {"excess_usage_events", fw::u32}};
constexpr field_def kApMac[] = {{"mac", fw::mac}};

struct elem_def {
    uint16_t type;
    const char* name;
    const field_def* fields;
    size_t n;
};
#define ELEM(type, name, table) {type, name, table, std::size(table)}
constexpr elem_def kElems[] = {
    ELEM(0x2102, "AP", kApMac),
    ELEM(0x2103, "global", kGlobal),
    ELEM(0x2107, "global 2", kGlobal2),
    ELEM(0x2113, "traffic-stream summary", kTsSummary),
    ELEM(0x2114, "AP traffic streams", kTsCounters),
    ELEM(0x2117, "traffic-stream status", kTsStatusAp),
    ELEM(0x2104, "radio", kRadio),
    ELEM(0x2115, "radio traffic streams", kTsCounters),
    ELEM(0x2118, "radio traffic-stream status", kTsStatus),
    ELEM(0x2105, "vap", kVap),
    ELEM(0x2116, "vap traffic streams", kTsCounters),
    ELEM(0x2119, "vap traffic-stream status", kTsStatus),
    ELEM(0x2106, "client", kClient),
    ELEM(0x210B, "client name", kClientName),
    ELEM(0x2110, "client 2", kClient2),
    ELEM(0x2111, "client traffic stream", kClientTs),
};
#undef ELEM

size_t value_length(const elem_def& d) {
    size_t n = 0;
    for (size_t i = 0; i < d.n; ++i) n += width(d.fields[i].w);
    return n;
}

uint64_t load(const uint8_t* p, fw w) {
    switch (w) {
        case fw::u8: return p[0];
        case fw::u16: return wire_load_be16(p);
        case fw::u32:
        case fw::ip: return wire_load_be32(p);
        case fw::u64: return (uint64_t{wire_load_be32(p)} << 32) | wire_load_be32(p + 4);
        default: return 0;
    }
}

const swsim_stats_elem* find(const swsim_stats& st, uint16_t type, uint64_t radio, uint64_t vap) {
    for (const auto& e : st.elems) {
        if (e.type == type && e.whole && swsim_stats_value(e, "radio") == radio &&
            (vap == ~0ull || swsim_stats_value(e, "vap") == vap)) {
            return &e;
        }
    }
    return nullptr;
}

const char* const kAc[] = {"?", "?", "video", "voice"};
const char* direction(uint64_t d) {
    return d == 0 ? "uplink" : d == 1 ? "downlink" : d == 3 ? "bidirectional" : "?";
}

constexpr const char* kRadioCsv[] = {"channel", "power", "util", "rx_packets", "rx_bytes",
                                     "tx_packets", "tx_bytes"};
constexpr const char* kVapCsv[] = {"rx_packets", "rx_bytes", "tx_packets", "tx_bytes"};
constexpr const char* kGlobalCsv[] = {"uptime", "wl_rx_bytes", "wl_tx_bytes", "eth_rx_bytes",
                                      "eth_tx_bytes"};
constexpr int kCsvVaps = 16;

}  // namespace

std::vector<uint8_t> swsim_msg_stats_interval(const uint8_t ap_mac[6], uint16_t seconds) {
    uint8_t buf[32];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_STATUS_INT);
    wire_msg_add(m, MAP_ELEM_MAC, ap_mac, 6);
    wire_msg_add_be16(m, 0x2101, seconds);
    size_t len = wire_msg_finish(m);
    return std::vector<uint8_t>(buf, buf + len);
}

int swsim_stats_parse(const std::vector<uint8_t>& msg, swsim_stats& st) {
    st = swsim_stats{};
    if (msg.size() < 4 || wire_load_be16(msg.data()) != SWITCH_STATS) return -1;
    wire_reader r = wire_reader_make(msg.data() + 4, msg.size() - 4);
    wire_elem we;
    while (wire_elem_next(r, we)) {
        swsim_stats_elem e{we.type, "unknown", we.value.size(), false, {}};
        for (const elem_def& d : kElems) {
            if (d.type != we.type) continue;
            e.name = d.name;
            e.whole = we.value.size() == value_length(d);
            if (!e.whole) break;
            const uint8_t* p = we.value.data();
            for (size_t i = 0; i < d.n; ++i) {
                const field_def& f = d.fields[i];
                swsim_stats_field out{f.label, load(p, f.w), {}};
                if (f.w == fw::mac) out.text = mac_to_string(p);
                if (f.w == fw::ip) out.text = ip_addr_to_string(static_cast<uint32_t>(out.value));
                if (f.w == fw::name15) {
                    const char* text = reinterpret_cast<const char*>(p);
                    out.text.assign(text, strnlen(text, 15));
                }
                e.fields.push_back(out);
                p += width(f.w);
            }
        }
        if (e.whole) {
            st.main = st.main || e.type == 0x2103;
            st.radios += e.type == 0x2104;
            st.vaps += e.type == 0x2105;
            st.clients += e.type == 0x2106;
            st.streams += e.type == 0x2111;
            if (e.type == 0x2102) memcpy(st.ap_mac, we.value.data(), 6);
        }
        st.elems.push_back(std::move(e));
    }
    return 0;
}

uint64_t swsim_stats_value(const swsim_stats_elem& e, const char* label) {
    for (const auto& f : e.fields) {
        if (strcmp(f.label, label) == 0) return f.value;
    }
    return 0;
}

std::string swsim_stats_summary(const swsim_stats& st) {
    std::string out = std::string("AP ") + mac_to_string(st.ap_mac);
    if (st.main) {
        const swsim_stats_elem* g = find(st, 0x2103, 0, ~0ull);
        out += ", uptime " + std::to_string(g ? swsim_stats_value(*g, "uptime") : 0) + " s, " +
               std::to_string(st.radios) + " radios, " + std::to_string(st.vaps) + " VAPs";
    }
    out += ", " + std::to_string(st.clients) + " clients (" + std::to_string(st.streams) +
           " traffic streams)";
    size_t odd = 0;
    for (const auto& e : st.elems) odd += e.whole ? 0 : 1;
    if (odd > 0) out += ", " + std::to_string(odd) + " elements not understood";
    return out;
}

std::vector<std::string> swsim_stats_lines(const swsim_stats& st) {
    std::vector<std::string> lines;
    for (const auto& e : st.elems) {
        char head[96];
        snprintf(head, sizeof head, "%s (0x%04x)", e.name, e.type);
        std::string l = head;
        if (!e.whole) {
            lines.push_back(l + ": " + std::to_string(e.length) + " bytes, not understood");
            continue;
        }
        if (e.type == 0x2111) {  // a client's stream, in words
            uint64_t ac = swsim_stats_value(e, "ac");
            l += ": " + e.fields[0].text + " TID " + std::to_string(swsim_stats_value(e, "tid")) +
                 " " + kAc[ac < 4 ? ac : 0] + " " + direction(swsim_stats_value(e, "direction"));
            for (size_t i = 5; i < e.fields.size(); ++i) {
                l += std::string(" ") + e.fields[i].label + "=" + std::to_string(e.fields[i].value);
            }
            lines.push_back(l);
            continue;
        }
        l += ":";
        for (const auto& f : e.fields) {
            if (strcmp(f.label, "pad") == 0 || strcmp(f.label, "reserved") == 0) continue;
            l += std::string(" ") + f.label + "=" +
                 (f.text.empty() ? std::to_string(f.value) : f.text);
        }
        lines.push_back(l);
    }
    return lines;
}

int swsim_stats_csv_append(const std::string& path, const swsim_stats& st, double unix_time) {
    if (!st.main) return 0;
    struct stat sb {};
    const bool fresh = stat(path.c_str(), &sb) != 0 || sb.st_size == 0;
    FILE* f = fopen(path.c_str(), "a");
    if (f == nullptr) return -1;
    if (fresh) {
        fprintf(f, "time");
        for (const char* c : kGlobalCsv) fprintf(f, ",%s", c);
        for (int r = 1; r <= 2; ++r) {
            for (const char* c : kRadioCsv) fprintf(f, ",r%d_%s", r, c);
        }
        for (int r = 1; r <= 2; ++r) {
            for (int v = 0; v < kCsvVaps; ++v) {
                for (const char* c : kVapCsv) fprintf(f, ",r%dv%d_%s", r, v, c);
            }
        }
        fprintf(f, "\n");
    }
    auto cells = [&](const swsim_stats_elem* e, const auto& labels) {
        for (const char* c : labels) {
            if (e) fprintf(f, ",%llu", static_cast<unsigned long long>(swsim_stats_value(*e, c)));
            else fprintf(f, ",");
        }
    };
    fprintf(f, "%.3f", unix_time);
    cells(find(st, 0x2103, 0, ~0ull), kGlobalCsv);
    for (uint64_t r = 1; r <= 2; ++r) cells(find(st, 0x2104, r, ~0ull), kRadioCsv);
    for (uint64_t r = 1; r <= 2; ++r) {
        for (uint64_t v = 0; v < kCsvVaps; ++v) cells(find(st, 0x2105, r, v), kVapCsv);
    }
    fprintf(f, "\n");
    return fclose(f) == 0 ? 0 : -1;
}
