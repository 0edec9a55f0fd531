// Driver counters under /proc: the keyed-file reader, "/proc/net/dev", the
// radio, VAP, tunnel and station files; and the MAC address queries.
#include "stats/map_proc.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "store/map_dman_lsql.hpp"

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

// ---- files and lines -----------------------------------------------------------

// A driver file read through a fixed buffer, without heap allocation; the
// descriptor is closed when the reader goes.  A directory counts as a file
// that cannot be opened (its first read would fail).
struct driver_file {
    int fd = -1;
    char buf[4096];
    size_t pos = 0;
    size_t len = 0;

    // The first read happens here: a path that opens but cannot be read (a
    // directory) counts as a file that cannot be opened.
    explicit driver_file(const char* ap_path) : fd(map_platform_open(ap_path, O_RDONLY)) {
        if (fd >= 0 && fill() < 0) {
            close(fd);
            fd = -1;
        }
    }
    ~driver_file() {
        if (fd >= 0)
            close(fd);
    }
    driver_file(const driver_file&) = delete;
    driver_file& operator=(const driver_file&) = delete;

    // Reads the next block; its size, 0 at the end of the file, -1 on error.
    ssize_t fill() {
        ssize_t n;
        do {
            n = read(fd, buf, sizeof buf);
        } while (n < 0 && errno == EINTR);
        pos = 0;
        len = n > 0 ? static_cast<size_t>(n) : 0;
        return n;
    }
    bool is_open() const { return fd >= 0; }
    // The next byte, or -1 at the end of the file or on a read error.
    int next_char() {
        if (pos == len && fill() <= 0) {
            return -1;
        }
        return static_cast<unsigned char>(buf[pos++]);
    }
};

// Longest line of a keyed driver file, and of "/proc/net/dev" (16 numbers of
// up to 20 digits behind a 15-character name fit in it).
constexpr size_t kKeyedLineMax = 255;
constexpr size_t kNetDevLineMax = 511;

// Reads the next line without its newline into `out` (room for `max` + 1
// characters).  A longer line is consumed whole and reported by `too_long`.
// False at the end of the file.
bool next_line(driver_file& f, char* out, size_t max, bool& too_long) {
    size_t len = 0;
    too_long = false;
    int c = f.next_char();
    if (c < 0) {
        return false;
    }
    for (; c >= 0 && c != '\n'; c = f.next_char()) {
        if (len < max) {
            out[len++] = static_cast<char>(c);
        } else {
            too_long = true;
        }
    }
    out[len] = '\0';
    return true;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

enum class num_rc { ok, not_number, overflow };

// A whole number in `text` (blanks around it allowed, hexadecimal with an
// optional "0x"), no larger than `max`.
num_rc parse_number(const char* text, int base, uint64_t max, uint64_t& out) {
    const char* p = text;
    const char* end = text + strlen(text);
    while (p < end && is_blank(*p))
        ++p;
    if (base == 16 && end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
    }
    uint64_t v = 0;
    auto [next, ec] = std::from_chars(p, end, v, base);
    if (ec == std::errc::invalid_argument) {
        return num_rc::not_number;
    }
    for (const char* q = next; q < end; ++q) {
        if (!is_blank(*q))
            return num_rc::not_number;
    }
    if (ec == std::errc::result_out_of_range || v > max) {
        return num_rc::overflow;
    }
    out = v;
    return num_rc::ok;
}

// Stores one value into the key's field; false (traced) when it does not parse.
bool store_value(const char* ap_path, const map_proc_key& key, const char* value, void* record) {
    auto* field = static_cast<uint8_t*>(record) + key.offset;
    if (key.type == map_proc_vt::text) {
        if (key.size == 0)
            return false;
        const size_t len = strnlen(value, key.size - 1);
        memcpy(field, value, len);
        field[len] = '\0';
        return true;
    }
    const bool wide = key.type == map_proc_vt::dec64 && key.size == sizeof(uint64_t);
    if (!wide && key.size != sizeof(uint32_t)) {
        return false;
    }
    uint64_t v = 0;
    const num_rc rc = parse_number(value, key.type == map_proc_vt::hex32 ? 16 : 10,
                                   wide ? UINT64_MAX : UINT32_MAX, v);
    if (rc == num_rc::not_number) {
        MAP_TRACE(MAP_TRACE_CONFIG, "%s: %s is not a number: %s. Item skipped.", ap_path, key.name,
                  value);
        return false;
    }
    if (rc == num_rc::overflow) {
        MAP_TRACE(MAP_TRACE_CONFIG, "%s: %s does not fit its field: %s. Item skipped.", ap_path,
                  key.name, value);
        return false;
    }
    if (wide) {
        memcpy(field, &v, sizeof v);
    } else {
        const auto v32 = static_cast<uint32_t>(v);
        memcpy(field, &v32, sizeof v32);
    }
    return true;
}

// ---- key tables --------------------------------------------------------------------

#define MAP_KEY(rec, vt, name, field)                                                          \
    map_proc_key {                                                                             \
        name, map_proc_vt::vt, offsetof(rec, field), sizeof(static_cast<rec*>(nullptr)->field) \
    }

// The interface counter record: the 19 keys of a VAP first, the three ARP
// counters last (the 22 keys of a radio interface).
constexpr map_proc_key kIfKeys[] = {
    MAP_KEY(map_if_stats, dec64, "rx_packets", rx_packets),
    MAP_KEY(map_if_stats, dec64, "rx_bytes", rx_bytes),
    MAP_KEY(map_if_stats, dec64, "rx_mcast", rx_mcast),
    MAP_KEY(map_if_stats, dec64, "tx_packets", tx_packets),
    MAP_KEY(map_if_stats, dec64, "tx_bytes", tx_bytes),
    MAP_KEY(map_if_stats, dec64, "tx_errors", tx_errors),
    MAP_KEY(map_if_stats, dec64, "rx_errors", rx_errors),
    MAP_KEY(map_if_stats, dec64, "drop_tx_bytes", drop_tx_bytes),
    MAP_KEY(map_if_stats, dec64, "drop_rx_bytes", drop_rx_bytes),
    MAP_KEY(map_if_stats, dec64, "drop_tx_packets", drop_tx_packets),
    MAP_KEY(map_if_stats, dec64, "drop_rx_packets", drop_rx_packets),
    MAP_KEY(map_if_stats, dec64, "ts_vo_rx_packets", ts[MAP_STATS_AC_VOICE].rx_packets),
    MAP_KEY(map_if_stats, dec64, "ts_vo_rx_bytes", ts[MAP_STATS_AC_VOICE].rx_bytes),
    MAP_KEY(map_if_stats, dec64, "ts_vo_tx_packets", ts[MAP_STATS_AC_VOICE].tx_packets),
    MAP_KEY(map_if_stats, dec64, "ts_vo_tx_bytes", ts[MAP_STATS_AC_VOICE].tx_bytes),
    MAP_KEY(map_if_stats, dec64, "ts_vi_rx_packets", ts[MAP_STATS_AC_VIDEO].rx_packets),
    MAP_KEY(map_if_stats, dec64, "ts_vi_rx_bytes", ts[MAP_STATS_AC_VIDEO].rx_bytes),
    MAP_KEY(map_if_stats, dec64, "ts_vi_tx_packets", ts[MAP_STATS_AC_VIDEO].tx_packets),
    MAP_KEY(map_if_stats, dec64, "ts_vi_tx_bytes", ts[MAP_STATS_AC_VIDEO].tx_bytes),
    MAP_KEY(map_if_stats, dec32, "arp_bc_2_uc_convrt_pkts", arp_bc_2_uc),
    MAP_KEY(map_if_stats, dec32, "arp_req_filtered_pkts", arp_req_filtered),
    MAP_KEY(map_if_stats, dec32, "arp_bc_pkts", arp_bc),
};
constexpr size_t kVapKeyCount = 19;
static_assert(std::size(kIfKeys) == 22);

constexpr map_proc_key kRadioKeys[] = {
    MAP_KEY(map_radio_stats, dec32, "channel_running", channel),
    MAP_KEY(map_radio_stats, dec32, "tx_power", tx_power),
    MAP_KEY(map_radio_stats, dec32, "channel_util", channel_util),
};

constexpr map_proc_key kDot11Keys[] = {
    MAP_KEY(map_radio_stats, dec32, "TransmittedFragmentCount", dot11[0]),
    MAP_KEY(map_radio_stats, dec32, "MulticastTransmittedFrameCount", dot11[1]),
    MAP_KEY(map_radio_stats, dec32, "FailedCount", dot11[2]),
    MAP_KEY(map_radio_stats, dec32, "RetryCount", dot11[3]),
    MAP_KEY(map_radio_stats, dec32, "MultipleRetryCount", dot11[4]),
    MAP_KEY(map_radio_stats, dec32, "FrameDuplicateCount", dot11[5]),
    MAP_KEY(map_radio_stats, dec32, "RTSSuccessCount", dot11[6]),
    MAP_KEY(map_radio_stats, dec32, "RTSFailureCount", dot11[7]),
    MAP_KEY(map_radio_stats, dec32, "ACKFailureCount", dot11[8]),
    MAP_KEY(map_radio_stats, dec32, "ReceivedFragmentCount", dot11[9]),
    MAP_KEY(map_radio_stats, dec32, "MulticastReceivedFrameCount", dot11[10]),
    MAP_KEY(map_radio_stats, dec32, "FCSErrorCount", dot11[11]),
    MAP_KEY(map_radio_stats, dec32, "TransmittedFrameCount", dot11[12]),
    MAP_KEY(map_radio_stats, dec32, "WEPUndecryptableCount", dot11[13]),
};
static_assert(std::size(kDot11Keys) == MAP_STATS_DOT11_COUNTERS);

constexpr map_proc_key kL2Keys[] = {
    MAP_KEY(map_global_stats, dec32, "max_tunnels", l2_max_tunnels),
    MAP_KEY(map_global_stats, dec32, "vlan_max_tunnels", l2_vlan_max_tunnels),
};

constexpr map_proc_key kDl2Keys[] = {
    MAP_KEY(map_global_stats, dec64, "rx_bytes", dl2.rx_bytes),
    MAP_KEY(map_global_stats, dec64, "rx_packets", dl2.rx_packets),
    MAP_KEY(map_global_stats, dec64, "rx_mcast", dl2.rx_mcast),
    MAP_KEY(map_global_stats, dec64, "tx_bytes", dl2.tx_bytes),
    MAP_KEY(map_global_stats, dec64, "tx_packets", dl2.tx_packets),
    MAP_KEY(map_global_stats, dec64, "tx_mcast", dl2.tx_mcast),
    MAP_KEY(map_global_stats, dec32, "num_distl2_tunnels", dl2_num_tunnels),
    MAP_KEY(map_global_stats, dec32, "num_clients_home", dl2_clients_home),
    MAP_KEY(map_global_stats, dec32, "num_clients_assoc", dl2_clients_assoc),
    MAP_KEY(map_global_stats, dec32, "total_roamed_clients", dl2_total_roamed_clients),
    MAP_KEY(map_global_stats, dec32, "roamed_clients_idle", dl2_roamed_clients_idle),
    MAP_KEY(map_global_stats, dec32, "roamed_clients_age", dl2_roamed_clients_age),
    MAP_KEY(map_global_stats, dec32, "setup_denies_max_cli", dl2_setup_denies_max_cli),
    MAP_KEY(map_global_stats, dec32, "setup_denies_max_rep", dl2_setup_denies_max_rep),
};

constexpr map_proc_key kCl2Keys[] = {
    MAP_KEY(map_global_stats, dec64, "rx_bytes", cl2.rx_bytes),
    MAP_KEY(map_global_stats, dec64, "rx_packets", cl2.rx_packets),
    MAP_KEY(map_global_stats, dec64, "rx_mcast", cl2.rx_mcast),
    MAP_KEY(map_global_stats, dec64, "tx_bytes", cl2.tx_bytes),
    MAP_KEY(map_global_stats, dec64, "tx_packets", cl2.tx_packets),
    MAP_KEY(map_global_stats, dec64, "tx_mcast", cl2.tx_mcast),
};

constexpr map_proc_key kStaKeys[] = {
    MAP_KEY(map_client_stats, text, "dev", dev),
    MAP_KEY(map_client_stats, dec32, "txrate", txrate),
    MAP_KEY(map_client_stats, dec64, "rx_packets", rx_packets),
    MAP_KEY(map_client_stats, dec64, "rx_bytes", rx_bytes),
    MAP_KEY(map_client_stats, dec64, "tx_packets", tx_packets),
    MAP_KEY(map_client_stats, dec64, "tx_bytes", tx_bytes),
    MAP_KEY(map_client_stats, dec64, "drop_tx_bytes", drop_tx_bytes),
    MAP_KEY(map_client_stats, dec64, "drop_rx_bytes", drop_rx_bytes),
    MAP_KEY(map_client_stats, dec64, "drop_tx_packets", drop_tx_packets),
    MAP_KEY(map_client_stats, dec64, "drop_rx_packets", drop_rx_packets),
    MAP_KEY(map_client_stats, dec32, "last_rssi", last_rssi),
    MAP_KEY(map_client_stats, dec32, "rx_duplicates", rx_duplicates),
    MAP_KEY(map_client_stats, dec32, "rx_fragments", rx_fragments),
    MAP_KEY(map_client_stats, dec32, "tx_fragments", tx_fragments),
    MAP_KEY(map_client_stats, dec32, "tx_retry_count", tx_retry_count),
    MAP_KEY(map_client_stats, dec32, "tx_retry_failed", tx_retry_failed),
    MAP_KEY(map_client_stats, dec32, "inactive_msec", inactive_msec),
    MAP_KEY(map_client_stats, dec32, "ip_addr", ip_addr),
    MAP_KEY(map_client_stats, text, "nb_name", nb_name),
    MAP_KEY(map_client_stats, hex32, "flags", flags),
    MAP_KEY(map_client_stats, dec32, "ts_violate_rx_packets", ts_violate_rx_packets),
    MAP_KEY(map_client_stats, dec32, "ts_violate_tx_packets", ts_violate_tx_packets),
};
static_assert(std::size(kStaKeys) == 22);

#undef MAP_KEY

// Forms an AP path; false when it does not fit.
template <typename... A>
bool form_path(char (&out)[MAP_PLATFORM_PATH_MAX], const char* fmt, A... args) {
    const int n = snprintf(out, sizeof out, fmt, args...);
    return n > 0 && static_cast<size_t>(n) < sizeof out;
}

}  // namespace

// ---- keyed driver files ----------------------------------------------------------

int map_proc_read_keyed_file(const char* ap_path, const map_proc_key* keys, size_t nkeys,
                             void* record, const char* other_prefix,
                             void (*other)(void* record, const char* line)) {
    driver_file f(ap_path);
    if (!f.is_open()) {
        return -1;
    }
    const size_t other_len = other_prefix != nullptr && other != nullptr ? strlen(other_prefix) : 0;
    char line[kKeyedLineMax + 1];
    bool too_long = false;
    while (next_line(f, line, kKeyedLineMax, too_long)) {
        if (too_long) {
            MAP_TRACE(MAP_TRACE_CONFIG, "%s: line longer than %zu characters. Item skipped.",
                      ap_path, kKeyedLineMax);
            continue;
        }
        if (other_len > 0 && strncmp(line, other_prefix, other_len) == 0) {
            other(record, line);
            continue;
        }
        const size_t line_len = strlen(line);
        for (size_t k = 0; k < nkeys; ++k) {
            if (line[0] != keys[k].name[0]) {
                continue;  // most keys differ at once; the whole name is compared below
            }
            const size_t key_len = strlen(keys[k].name);
            if (strncmp(line, keys[k].name, key_len) != 0) {
                continue;
            }
            if (line_len <= key_len) {
                MAP_TRACE(MAP_TRACE_CONFIG, "%s: %s has no value. Item skipped.", ap_path,
                          keys[k].name);
                continue;
            }
            const char* value = line + key_len + 1;
            if (store_value(ap_path, keys[k], value, record)) {
                MAP_TRACE(MAP_TRACE_CONFIG, "%s = %s", keys[k].name, value);
            }
        }
    }
    return 0;
}

// ---- interfaces ----------------------------------------------------------------------

short map_is_broadcom_interface() {
    driver_file f("/proc/net/ieee80211/wl");
    return f.is_open() && f.next_char() >= 0 ? 1 : 0;
}

int map_proc_get_interface_stats(map_if_stats* rec, const char* ifname) {
    if (rec == nullptr || ifname == nullptr) {
        return -1;
    }
    *rec = map_if_stats{};
    if (strncmp(ifname, "wlan", 4) == 0 && map_is_broadcom_interface() == 1) {
        MAP_TRACE(MAP_TRACE_CONFIG, "%s is a broadcom radio interface\n", ifname);
        return map_proc_get_interface_stats_64bits(rec, ifname);
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "%s is not a broadcom radio interface\n", ifname);
    return map_proc_get_interface_stats_32bits(rec, ifname);
}

int map_proc_get_interface_stats_64bits(map_if_stats* rec, const char* ifname) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (rec == nullptr || ifname == nullptr ||
        !form_path(path, "/proc/net/ieee80211/%s/iface/%s", ifname, ifname)) {
        return -1;
    }
    *rec = map_if_stats{};
    return map_proc_read_keyed_file(path, kIfKeys, std::size(kIfKeys), rec);
}

// The line of "/proc/net/dev" whose name is `ifname`: "name: " and 16
// numbers, the receive eight then the transmit eight.
int map_proc_get_interface_stats_32bits(map_if_stats* rec, const char* ifname) {
    if (rec == nullptr || ifname == nullptr) {
        return -1;
    }
    *rec = map_if_stats{};
    driver_file f("/proc/net/dev");
    if (!f.is_open()) {
        return -1;
    }
    constexpr size_t kNameMax = 15;
    constexpr int kNumbers = 16;
    const size_t want_len = strlen(ifname);
    char line[kNetDevLineMax + 1];
    bool too_long = false;
    while (next_line(f, line, kNetDevLineMax, too_long)) {
        char* name = line;
        while (*name == ' ' || *name == '\t')
            ++name;
        char* colon = strchr(name, ':');
        if (too_long || colon == nullptr || static_cast<size_t>(colon - name) > kNameMax ||
            static_cast<size_t>(colon - name) != want_len || strncmp(name, ifname, want_len) != 0) {
            continue;
        }
        *colon = ' ';
        uint64_t n[kNumbers] = {};
        const char* p = colon;
        const char* end = line + strlen(line);
        for (int i = 0; i < kNumbers; ++i) {
            while (p < end && is_blank(*p))
                ++p;
            auto [next, ec] = std::from_chars(p, end, n[i]);
            if (ec != std::errc{} || (next < end && !is_blank(*next))) {
                return -1;
            }
            p = next;
        }
        rec->rx_bytes = n[0];
        rec->rx_packets = n[1];
        rec->rx_errors = n[2];
        rec->rx_mcast = n[7];
        rec->tx_bytes = n[8];
        rec->tx_packets = n[9];
        rec->tx_errors = n[10];
        MAP_TRACE(MAP_TRACE_CONFIG, "Successful in getting stats for %s", ifname);
        return 0;
    }
    return -1;
}

int map_proc_get_vap_stats_64bits(map_if_stats* rec, const char* vap_ifname) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (rec == nullptr || vap_ifname == nullptr ||
        !form_path(path, "/proc/net/ieee80211/%.5s/vap/%s", vap_ifname, vap_ifname)) {
        return -1;
    }
    *rec = map_if_stats{};
    return map_proc_read_keyed_file(path, kIfKeys, kVapKeyCount, rec);
}

// ---- radios ---------------------------------------------------------------------------

int map_proc_get_radio_stats(map_radio_stats* rec, const char* radio) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (rec == nullptr || radio == nullptr ||
        !form_path(path, "/proc/net/ieee80211/%s/iface/%s", radio, radio)) {
        return -1;
    }
    map_proc_get_mac_addr(rec->mac, radio);
    if (map_proc_read_keyed_file(path, kRadioKeys, std::size(kRadioKeys), rec) != 0) {
        MAP_TRACE(MAP_TRACE_CONFIG, "file open error for %s", path);
        return -1;
    }
    return 0;
}

int map_proc_get_radio_counter_stats(map_radio_stats* rec, const char* radio) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (rec == nullptr || radio == nullptr ||
        !form_path(path, "/proc/net/ieee80211/%s/counters", radio)) {
        return -1;
    }
    if (map_proc_read_keyed_file(path, kDot11Keys, std::size(kDot11Keys), rec) != 0) {
        MAP_TRACE(MAP_TRACE_CONFIG, "file open error for %s", path);
        return -1;
    }
    return 0;
}

// ---- tunnels --------------------------------------------------------------------------

int map_proc_get_l2tunnel_stats(map_global_stats* rec) {
    if (rec == nullptr)
        return -1;
    return map_proc_read_keyed_file("/proc/net/l2tunnel/counters", kL2Keys, std::size(kL2Keys),
                                    rec);
}

int map_proc_get_dl2tunnel_stats(map_global_stats* rec) {
    if (rec == nullptr)
        return -1;
    return map_proc_read_keyed_file("/proc/net/dl2tunnel/counters", kDl2Keys, std::size(kDl2Keys),
                                    rec);
}

int map_proc_get_cl2tunnel_stats(map_global_stats* rec, uint32_t tunnel_index) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (rec == nullptr || !form_path(path, "/proc/net/l2tunnel/tunnel/%u", tunnel_index)) {
        return -1;
    }
    if (tunnel_index == 0) {
        return 0;  // no central tunnel: nothing to read, its counters stay 0
    }
    return map_proc_read_keyed_file(path, kCl2Keys, std::size(kCl2Keys), rec);
}

// ---- clients --------------------------------------------------------------------------

int map_proc_get_client_stats(map_client_stats* rec, const char* radio, const uint8_t mac[6]) {
    if (rec == nullptr || radio == nullptr || mac == nullptr) {
        return -1;
    }
    char path[MAP_PLATFORM_PATH_MAX];
    if (!form_path(path, "/proc/net/ieee80211/%s/sta/%02x:%02x:%02x:%02x:%02x:%02x", radio, mac[0],
                   mac[1], mac[2], mac[3], mac[4], mac[5])) {
        return -1;
    }
    *rec = map_client_stats{};
    memcpy(rec->mac, mac, sizeof rec->mac);
    const int rc = map_proc_read_keyed_file(
        path, kStaKeys, std::size(kStaKeys), rec, "ts_tid", [](void* r, const char* line) {
            map_proc_process_client_ts_association_stats(static_cast<map_client_stats*>(r), line);
        });
    if (rc != 0) {
        MAP_ERROR("Error in opening -- %s", path);
        return -1;
    }
    rec->auth = (rec->flags & 0x1) != 0 ? 1 : 0;
    rec->assoc = (rec->flags & 0x2) != 0 ? 1 : 0;
    return 0;
}

// "ts_tid<n>_<name>=<value>": one item of the traffic stream with TID n.
void map_proc_process_client_ts_association_stats(map_client_stats* rec, const char* line) {
    static constexpr char fn[] = "map_proc_process_client_ts_association_stats";
    static constexpr char kPrefix[] = "ts_tid";
    if (rec == nullptr || line == nullptr) {
        return;
    }
    // The TID, then "_", then the rest up to the first blank, split at "=".
    const char* end = line + strlen(line);
    const bool prefixed = strncmp(line, kPrefix, sizeof kPrefix - 1) == 0;
    const char* p = prefixed ? line + sizeof kPrefix - 1 : end;
    int tid = -1;
    auto [after_tid, ec] = std::from_chars(p, end, tid);
    const char* rest = end;
    if (prefixed && ec == std::errc{} && after_tid < end && *after_tid == '_') {
        rest = after_tid + 1;
    }
    const char* rest_end = rest;
    while (rest_end < end && !is_blank(*rest_end))
        ++rest_end;
    const auto* eq =
        static_cast<const char*>(memchr(rest, '=', static_cast<size_t>(rest_end - rest)));
    if (eq == nullptr || eq == rest || eq + 1 == rest_end || tid < 0 || tid > 7) {
        MAP_TRACE(MAP_TRACE_CONFIG, "%s: Error parsing: %s. Item skipped.", fn, line);
        return;
    }
    char name[kKeyedLineMax + 1];
    char value[kKeyedLineMax + 1];
    snprintf(name, sizeof name, "%.*s", static_cast<int>(eq - rest), rest);
    snprintf(value, sizeof value, "%.*s", static_cast<int>(rest_end - eq - 1), eq + 1);

    map_client_ts* slot = nullptr;
    for (auto& s : rec->ts) {
        if (s.in_use != 1 || s.tid == tid) {
            slot = &s;
            break;
        }
    }
    if (slot == nullptr) {
        MAP_TRACE(MAP_TRACE_CONFIG, "%s: No room to store %s for TID %d. Item skipped.", fn, name,
                  tid);
        return;
    }
    uint64_t v = 0;
    bool value_ok = true;
    if (strcmp(name, "ac") == 0) {
        if (strncmp(value, "voice", 4) == 0) {
            slot->ac = 3;
        } else if (strncmp(value, "video", 4) == 0) {
            slot->ac = 2;
        } else {
            value_ok = false;
        }
    } else if (strcmp(name, "direction") == 0) {
        if (strncmp(value, "uplink", 4) == 0) {
            slot->direction = 0;
        } else if (strncmp(value, "downlink", 4) == 0) {
            slot->direction = 1;
        } else if (strncmp(value, "bidirectional", 4) == 0) {
            slot->direction = 3;
        } else {
            value_ok = false;
        }
    } else if (strcmp(name, "excess_usage_events") == 0) {
        value_ok = parse_number(value, 10, UINT32_MAX, v) == num_rc::ok;
        if (value_ok)
            slot->excess_usage_events = static_cast<uint32_t>(v);
    } else {
        uint64_t map_client_ts::*field = nullptr;
        if (strcmp(name, "rx_packets") == 0)
            field = &map_client_ts::rx_packets;
        if (strcmp(name, "tx_packets") == 0)
            field = &map_client_ts::tx_packets;
        if (strcmp(name, "rx_bytes") == 0)
            field = &map_client_ts::rx_bytes;
        if (strcmp(name, "tx_bytes") == 0)
            field = &map_client_ts::tx_bytes;
        if (field == nullptr) {
            MAP_TRACE(MAP_TRACE_CONFIG, "%s: Unrecognized entry name: %s. Item skipped.", fn, name);
            return;
        }
        value_ok = parse_number(value, 10, UINT64_MAX, v) == num_rc::ok;
        if (value_ok)
            slot->*field = v;
    }
    if (!value_ok) {
        MAP_TRACE(MAP_TRACE_CONFIG, "%s: Unrecognized entry value: %s. Item skipped.", fn, value);
        return;
    }
    slot->in_use = 1;
    slot->tid = static_cast<uint8_t>(tid);
}

// ---- MAC addresses -------------------------------------------------------------------

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

void map_proc_mac_cache_clear() {
    g_mac_cached = false;
}
