// The twin's simulated drivers: the counter files that the AP's 802.11,
// Ethernet and tunnel drivers publish under /proc.  Every counter is
// base + rate x tick, so it grows as the twin calls ap_root_write_counters
// with the next tick; some start above 2^32 so that the readers' 64-bit
// fields are exercised.
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "twin/ap_root.hpp"

namespace {

namespace fs = std::filesystem;

// A file is replaced whole (written aside, then renamed): a reader never
// sees half of one.
bool put(const fs::path& p, const std::string& content) {
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    const fs::path tmp = p.string() + ".new";
    FILE* f = fopen(tmp.c_str(), "w");
    if (f == nullptr) return false;
    bool ok = fwrite(content.data(), 1, content.size(), f) == content.size();
    ok = fclose(f) == 0 && ok;
    return ok && rename(tmp.c_str(), p.c_str()) == 0;
}

struct counter {
    const char* key;
    uint64_t base;
    uint64_t rate;  // per tick
};

// The counters of an interface file and of a VAP file, for radio wlan0 (the
// others are scaled from these).
constexpr counter kTraffic[] = {
    {"rx_packets", 6'100'000, 4'100},
    {"rx_bytes", 9'000'000'000, 2'900'000},  // above 2^32 from the start
    {"rx_mcast", 41'000, 35},
    {"tx_packets", 7'300'000, 5'300},
    {"tx_bytes", 11'500'000'000, 6'100'000},
    {"tx_errors", 310, 1},
    {"rx_errors", 270, 1},
    {"drop_tx_bytes", 1'900'000, 1'500},
    {"drop_rx_bytes", 1'200'000, 900},
    {"drop_tx_packets", 1'300, 2},
    {"drop_rx_packets", 800, 1},
    {"ts_vo_rx_packets", 210'000, 150},
    {"ts_vo_rx_bytes", 38'000'000, 27'000},
    {"ts_vo_tx_packets", 220'000, 160},
    {"ts_vo_tx_bytes", 40'000'000, 29'000},
    {"ts_vi_rx_packets", 90'000, 70},
    {"ts_vi_rx_bytes", 5'100'000'000, 95'000},  // above 2^32
    {"ts_vi_tx_packets", 95'000, 75},
    {"ts_vi_tx_bytes", 130'000'000, 99'000},
};
constexpr counter kArp[] = {
    {"arp_bc_2_uc_convrt_pkts", 5'200, 3},
    {"arp_req_filtered_pkts", 1'700, 2},
    {"arp_bc_pkts", 9'400, 5},
};
constexpr counter kDot11[] = {
    {"TransmittedFragmentCount", 7'400'000, 5'400},
    {"MulticastTransmittedFrameCount", 52'000, 40},
    {"FailedCount", 2'100, 2},
    {"RetryCount", 310'000, 230},
    {"MultipleRetryCount", 96'000, 70},
    {"FrameDuplicateCount", 4'300, 3},
    {"RTSSuccessCount", 18'000, 12},
    {"RTSFailureCount", 650, 1},
    {"ACKFailureCount", 27'000, 19},
    {"ReceivedFragmentCount", 6'200'000, 4'200},
    {"MulticastReceivedFrameCount", 44'000, 36},
    {"FCSErrorCount", 12'000, 9},
    {"TransmittedFrameCount", 7'350'000, 5'350},
    {"WEPUndecryptableCount", 35, 0},
};
constexpr counter kDl2[] = {
    {"rx_bytes", 6'400'000'000, 410'000},  // above 2^32
    {"rx_packets", 5'300'000, 330},
    {"rx_mcast", 21'000, 4},
    {"tx_bytes", 2'700'000'000, 380'000},
    {"tx_packets", 4'100'000, 310},
    {"tx_mcast", 17'000, 3},
    {"num_distl2_tunnels", 3, 0},
    {"num_clients_home", 41, 0},
    {"num_clients_assoc", 57, 0},
    {"total_roamed_clients", 230, 1},
    {"roamed_clients_idle", 12, 0},
    {"roamed_clients_age", 7, 0},
    {"setup_denies_max_cli", 2, 0},
    {"setup_denies_max_rep", 1, 0},
};

// The central tunnel's traffic, published while its tunnel exists.
constexpr counter kCl2[] = {
    {"rx_bytes", 5'100'000'000, 270'000},  // above 2^32
    {"rx_packets", 3'900'000, 210},
    {"rx_mcast", 9'000, 2},
    {"tx_bytes", 1'800'000'000, 190'000},
    {"tx_packets", 2'600'000, 150},
    {"tx_mcast", 7'000, 1},
};

uint64_t value(const counter& c, uint64_t tick, uint64_t num, uint64_t den) {
    return (c.base + c.rate * tick) * num / den;
}

template <size_t N>
void keyed(std::string& out, const counter (&table)[N], uint64_t tick, uint64_t num = 1,
           uint64_t den = 1) {
    char line[96];
    for (const counter& c : table) {
        snprintf(line, sizeof line, "%s=%llu\n", c.key,
                 static_cast<unsigned long long>(value(c, tick, num, den)));
        out += line;
    }
}

// A line of /proc/net/dev: 8 receive numbers (bytes, packets, errs, drop,
// fifo, frame, compressed, multicast), then 8 transmit numbers.  The AP's
// kernel is 32-bit: these counters wrap at 2^32.
std::string dev_line(const char* name, uint64_t rxb, uint64_t rxp, uint64_t rxe, uint64_t mc,
                     uint64_t txb, uint64_t txp, uint64_t txe) {
    auto w = [](uint64_t v) { return static_cast<unsigned long long>(v & 0xFFFFFFFFu); };
    char line[256];
    snprintf(line, sizeof line, "%6s: %llu %llu %llu 0 0 0 0 %llu %llu %llu %llu 0 0 0 0 0\n",
             name, w(rxb), w(rxp), w(rxe), w(mc), w(txb), w(txp), w(txe));
    return line;
}

// The radio interface's numbers are wlan0's times these.
constexpr uint64_t kRadioNum[2] = {2, 3};
constexpr uint64_t kRadioDen = 2;

struct client {
    std::string mac;    // lower-case "xx:xx:xx:xx:xx:xx"
    std::string iface;  // the VAP interface it is associated with
};

std::vector<client> clients_read(const fs::path& root) {
    std::vector<client> out;
    std::ifstream in(root / "sandbox/clients");
    for (client c; in >> c.mac >> c.iface;) out.push_back(c);
    return out;
}

bool clients_write(const fs::path& root, const std::vector<client>& list) {
    std::string text;
    for (const auto& c : list) text += c.mac + " " + c.iface + "\n";
    return put(root / "sandbox/clients", text);
}

fs::path station_path(const fs::path& root, const client& c) {
    return root / "proc/net/ieee80211" / c.iface.substr(0, 5) / "sta" / c.mac;
}


// A station file: the driver's keys and two traffic streams (voice on TID 6
// both ways, video on TID 5 downlink).  Flags 0x203: authenticated (bit 0)
// and associated (bit 1).  The numbers differ per client: they follow the
// low bytes of its MAC.
bool write_station(const fs::path& root, const client& c, uint64_t t) {
    unsigned b[6] = {};
    sscanf(c.mac.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
    const uint64_t s = b[4] * 256u + b[5];
    const uint64_t big = s % 2 ? 4'300'000'000ull : 0;  // every other client above 2^32
    char name[16];
    snprintf(name, sizeof name, "CLIENT-%04X", static_cast<unsigned>(s));
    const std::pair<const char*, uint64_t> numbers[] = {
        {"txrate", 54000 + (s % 4) * 24000},
        {"rx_packets", 20'000 + s + t * 40},
        {"rx_bytes", big + 9'000'000 + s * 1000 + t * 52'000},
        {"tx_packets", 25'000 + s + t * 50},
        {"tx_bytes", big + 31'000'000 + s * 1000 + t * 71'000},
        {"drop_tx_bytes", 4'000 + s + t * 3},
        {"drop_rx_bytes", 3'000 + s + t * 2},
        {"drop_tx_packets", 40 + s % 10 + t / 8},
        {"drop_rx_packets", 30 + s % 10 + t / 9},
        {"last_rssi", 30 + s % 50},
        {"rx_duplicates", 5 + s % 7 + t / 16},
        {"rx_fragments", 100 + s % 9 + t},
        {"tx_fragments", 110 + s % 9 + t},
        {"tx_retry_count", 700 + s % 50 + t * 2},
        {"tx_retry_failed", 20 + s % 5 + t / 5},
        {"inactive_msec", (t * 5000 + s * 7) % 60000},
        {"ip_addr", 3232238080ull + 1 + s % 250},  // 192.168.10.x as one number
        {"ts_violate_rx_packets", s % 3 + t / 20},
        {"ts_violate_tx_packets", s % 2 + t / 25},
        {"ts_tid6_rx_packets", 9'000 + s + t * 15},
        {"ts_tid6_rx_bytes", 1'600'000 + s * 100 + t * 2'700},
        {"ts_tid6_tx_packets", 9'100 + s + t * 16},
        {"ts_tid6_tx_bytes", 1'650'000 + s * 100 + t * 2'800},
        {"ts_tid6_excess_usage_events", s % 4},
        {"ts_tid5_rx_packets", 4'000 + s + t * 9},
        {"ts_tid5_rx_bytes", 5'400'000 + s * 100 + t * 11'000},
        {"ts_tid5_tx_packets", 30 + s % 8 + t / 10},
        {"ts_tid5_tx_bytes", 2'000 + s + t / 3},
        {"ts_tid5_excess_usage_events", s % 3},
    };
    std::string text = "dev=" + c.iface + "\nnb_name=" + name + "\nflags=203\n" +
                       "ts_tid6_ac=voice\nts_tid6_direction=bidirectional\n" +
                       "ts_tid5_ac=video\nts_tid5_direction=downlink\n";
    for (const auto& [key, v] : numbers) text += std::string(key) + "=" + std::to_string(v) + "\n";
    return put(station_path(root, c), text);
}

bool mac_text(const std::string& in, std::string& out) {
    unsigned b[6];
    char tail;
    if (in.size() != 17 ||
        sscanf(in.c_str(), "%2x%*1[:-]%2x%*1[:-]%2x%*1[:-]%2x%*1[:-]%2x%*1[:-]%2x%c", &b[0],
               &b[1], &b[2], &b[3], &b[4], &b[5], &tail) != 6) {
        return false;
    }
    for (size_t i = 0; i < in.size(); ++i) {
        if (i % 3 != 2 && !isxdigit(static_cast<unsigned char>(in[i]))) return false;
    }
    char text[18];
    snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
             b[5]);
    out = text;
    return true;
}

// "wlan0" or "wlan1" (VAP 0), or "wlan<r>vap<n>" with n from 1 to 15.
bool vap_interface(const std::string& n) {
    if (n.size() < 5 || n.compare(0, 4, "wlan") != 0 || (n[4] != '0' && n[4] != '1')) return false;
    if (n.size() == 5) return true;
    if (n.compare(5, 3, "vap") != 0 || n.size() < 9 || n.size() > 10) return false;
    int v = 0;
    for (size_t i = 8; i < n.size(); ++i) {
        if (!isdigit(static_cast<unsigned char>(n[i]))) return false;
        v = v * 10 + (n[i] - '0');
    }
    return n[8] != '0' && v >= 1 && v <= 15;
}

}  // namespace

int ap_root_write_counters(const std::string& root_text, uint64_t tick, int vaps_per_radio) {
    const fs::path root(root_text);
    const fs::path ieee = root / "proc/net/ieee80211";
    bool ok = put(ieee / "wl", "wl0 wl1\n");  // the Broadcom driver's marker: one line
    std::string dev =
        "Inter-|   Receive                                                |  Transmit\n"
        " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
        "drop fifo colls carrier compressed\n";
    dev += dev_line("lo", 1000 + tick * 10, 10 + tick, 0, 0, 1000 + tick * 10, 10 + tick, 0);
    dev += dev_line("eth0", 3'900'000'000ull + tick * 1'500'000, 41'000'000 + tick * 1'300, 17,
                    120'000 + tick * 11, 2'100'000'000ull + tick * 1'200'000,
                    33'000'000 + tick * 1'100, 4);
    for (int r = 0; r < 2; ++r) {
        const std::string radio = "wlan" + std::to_string(r);
        const uint64_t num = kRadioNum[r];
        auto v = [&](int i) { return value(kTraffic[i], tick, num, kRadioDen); };
        dev += dev_line(radio.c_str(), v(1), v(0), v(6), v(2), v(4), v(3), v(5));
        std::string iface;
        keyed(iface, kTraffic, tick, num, kRadioDen);
        keyed(iface, kArp, tick, num, kRadioDen);
        iface += r == 0 ? "channel_running=36\ntx_power=17\n" : "channel_running=6\ntx_power=20\n";
        iface += "channel_util=" + std::to_string(10 + (tick + 13 * r) % 40) + "\n";
        ok = put(ieee / radio / "iface" / radio, iface) && ok;
        std::string dot11;
        keyed(dot11, kDot11, tick, num, kRadioDen);
        ok = put(ieee / radio / "counters", dot11) && ok;
        for (int n = 0; n < vaps_per_radio; ++n) {
            const std::string vap = n == 0 ? radio : radio + "vap" + std::to_string(n);
            std::string vc;
            keyed(vc, kTraffic, tick, num, kRadioDen * (n + 2));  // a share of the radio's
            ok = put(ieee / radio / "vap" / vap, vc) && ok;
        }
    }
    ok = put(root / "proc/net/dev", dev) && ok;
    ok = put(root / "proc/net/l2tunnel/counters", "max_tunnels=64\nvlan_max_tunnels=16\n") && ok;
    std::string dl2;
    keyed(dl2, kDl2, tick);
    ok = put(root / "proc/net/dl2tunnel/counters", dl2) && ok;
    // The central tunnel module: tunnel 1 exists while the AP record the
    // daemon wrote (72 bytes) is not all zero; the daemon reads the index back.
    std::ifstream ap_record(root / "sysctl/3.24.1.12", std::ios::binary);
    const std::string ap_bytes((std::istreambuf_iterator<char>(ap_record)),
                               std::istreambuf_iterator<char>());
    const uint32_t cl2_index =
        ap_bytes.size() == 72 && ap_bytes.find_first_not_of('\0') != std::string::npos ? 1 : 0;
    ok = put(root / "sysctl/3.24.1.13",
             std::string(reinterpret_cast<const char*>(&cl2_index), sizeof cl2_index)) &&
         ok;
    if (cl2_index != 0) {
        std::string cl2;
        keyed(cl2, kCl2, tick);
        ok = put(root / "proc/net/l2tunnel/tunnel/1", cl2) && ok;
    }
    const auto list = clients_read(root);
    for (const client& c : list) ok = write_station(root, c, tick) && ok;
    // A station file whose client has gone (removed while this ran) goes too;
    // the list is read again so that a client added meanwhile keeps its file.
    std::error_code ec;
    const auto now = clients_read(root);
    for (const char* radio : {"wlan0", "wlan1"}) {
        for (const auto& e : fs::directory_iterator(ieee / radio / "sta", ec)) {
            bool known = false;
            for (const client& c : now) known = known || station_path(root, c) == e.path();
            if (!known) fs::remove(e.path(), ec);
        }
    }
    ok = put(root / "sandbox/counters-tick", std::to_string(tick) + "\n") && ok;
    return ok ? 0 : -1;
}

uint64_t ap_root_counters_tick(const std::string& root) {
    std::ifstream in(fs::path(root) / "sandbox/counters-tick");
    uint64_t t = 0;
    return in >> t ? t : 0;
}

int ap_root_client_add(const std::string& root_text, const std::string& mac,
                       const std::string& vap_ifname, std::string& error) {
    const fs::path root(root_text);
    client c;
    if (!mac_text(mac, c.mac)) {
        error = "not a MAC address: " + mac;
        return -1;
    }
    if (!vap_interface(vap_ifname)) {
        error = "not a VAP interface (wlan0, wlan1vap3, ...): " + vap_ifname;
        return -1;
    }
    c.iface = vap_ifname;
    auto list = clients_read(root);
    std::error_code ec;
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->mac == c.mac) {  // it moves: the old radio forgets it
            fs::remove(station_path(root, *it), ec);
            list.erase(it);
            break;
        }
    }
    list.push_back(c);
    if (!clients_write(root, list) || !write_station(root, c, ap_root_counters_tick(root_text))) {
        error = "cannot write the station file of " + c.mac;
        return -1;
    }
    return 0;
}

std::string ap_root_client_vap(const std::string& root, const std::string& mac) {
    std::string m;
    if (!mac_text(mac, m)) return "";
    for (const client& c : clients_read(root)) {
        if (c.mac == m) return c.iface;
    }
    return "";
}

int ap_root_client_remove(const std::string& root_text, const std::string& mac,
                          std::string& error) {
    const fs::path root(root_text);
    std::string m;
    if (!mac_text(mac, m)) {
        error = "not a MAC address: " + mac;
        return -1;
    }
    auto list = clients_read(root);
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->mac == m) {
            std::error_code ec;
            fs::remove(station_path(root, *it), ec);
            list.erase(it);
            if (!clients_write(root, list)) {
                error = "cannot write the client list of " + root_text;
                return -1;
            }
            return 0;
        }
    }
    error = "no client " + m;
    return -1;
}
