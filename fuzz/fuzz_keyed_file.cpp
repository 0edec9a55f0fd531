// Arbitrary bytes as a client's station file: the keyed-line reader with its
// number, hexadecimal and text values and the traffic-stream lines, traces on.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "stats/map_proc.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char root[] = "/tmp/mapd-fuzz-keyed-XXXXXX";
    static const uint8_t mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    static constexpr char path[] = "/proc/net/ieee80211/wlan0/sta/00:1a:2b:3c:4d:5e";
    static bool ready = [] {
        if (mkdtemp(root) == nullptr) abort();
        atexit([] { std::filesystem::remove_all(root); });
        std::filesystem::create_directories(std::string(root) + "/proc/net/ieee80211/wlan0/sta");
        map_platform_set_root(root);
        map_global_debug_trace = MAP_TRACE_CONFIG;
        return true;
    }();
    (void)ready;
    FILE* f = map_platform_fopen(path, "w");
    if (f == nullptr) abort();
    fwrite(data, 1, size, f);
    fclose(f);
    map_client_stats rec;
    memset(&rec, 0xA5, sizeof rec);
    if (map_proc_get_client_stats(&rec, "wlan0", mac) != 0) abort();
    if (memcmp(rec.mac, mac, 6) != 0 || rec.auth > 1 || rec.assoc > 1) abort();
    if (memchr(rec.dev, 0, sizeof rec.dev) == nullptr) abort();
    if (memchr(rec.nb_name, 0, sizeof rec.nb_name) == nullptr) abort();
    for (const map_client_ts& ts : rec.ts) {
        if (ts.in_use > 1 || ts.tid > 7 || (ts.in_use == 0 && ts.tid != 0)) abort();
    }
    return 0;
}
