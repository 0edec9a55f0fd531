// The DHCP configuration file as the AP's DHCP client leaves it.  The AP is
// put in managed mode so that host names are stored, not resolved.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstring>

#include "config/map_config.hpp"
#include "core/managed_ap.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char root[] = "/tmp/mapd-fuzz-dhcp-XXXXXX";
    static map_control_block* cb = [] {
        if (mkdtemp(root) == nullptr) abort();
        atexit([] { std::filesystem::remove_all(root); });
        char tmp[sizeof root + 8];
        snprintf(tmp, sizeof tmp, "%s/tmp", root);
        mkdir(tmp, 0755);
        map_platform_set_root(root);
        auto* c = new map_control_block{};
        c->managed_mode = 1;
        c->switch_comm = new map_switch_comm{};
        c->switch_comm->udp_fd = c->switch_comm->tcp_fd = c->switch_comm->l2_fd = -1;
        return c;
    }();
    FILE* f = map_platform_fopen(MAP_DHCP_CONF_FILE, "w");
    if (f == nullptr) abort();
    fwrite(data, 1, size, f);
    fclose(f);
    map_reload_dhcp_config(cb);
    map_switch_comm* rec = cb->switch_comm;
    for (int i = 0; i < MAP_NUM_SWITCH_ADDR; ++i) {
        if (memchr(rec->dhcp_host[i], 0, MAP_HOST_NAME_SLOT) == nullptr) abort();
    }
    return 0;
}
