// Arbitrary bytes as "/proc/net/dev": the line of each of a few interface
// names, among them names of the longest and one past the longest length.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/platform.hpp"
#include "stats/map_proc.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char root[] = "/tmp/mapd-fuzz-netdev-XXXXXX";
    static bool ready = [] {
        if (mkdtemp(root) == nullptr) abort();
        atexit([] { std::filesystem::remove_all(root); });
        std::filesystem::create_directories(std::string(root) + "/proc/net");
        map_platform_set_root(root);
        return true;
    }();
    (void)ready;
    FILE* f = map_platform_fopen("/proc/net/dev", "w");
    if (f == nullptr) abort();
    fwrite(data, 1, size, f);
    fclose(f);
    for (const char* name : {"eth0", "lo", "wlan1", "", "abcdefghijklmno", "abcdefghijklmnop"}) {
        map_if_stats rec;
        memset(&rec, 0xA5, sizeof rec);
        const int rc = map_proc_get_interface_stats_32bits(&rec, name);
        // Only the seven counters of the line are ever set; a failed read leaves all at 0.
        const uint64_t set = rec.rx_bytes | rec.rx_packets | rec.rx_errors | rec.rx_mcast |
                             rec.tx_bytes | rec.tx_packets | rec.tx_errors;
        if ((rc != 0 && rc != -1) || (rc == -1 && set != 0)) abort();
        if (rec.drop_tx_bytes != 0 || rec.arp_bc != 0 || rec.ts[1].tx_bytes != 0) abort();
    }
    return 0;
}
