// Configuration messages from the switch, fed to the element walk of an
// established AP.  The post-configuration child is never forked: the fork is
// made to fail, so a stop element runs the apply and reports the failure.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "commands/map_cs.hpp"
#include "commands/map_cs_config.hpp"
#include "core/managed_ap.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char root[] = "/tmp/mapd-fuzz-config-XXXXXX";
    static map_control_block* cb = [] {
        if (mkdtemp(root) == nullptr) abort();
        atexit([] { std::filesystem::remove_all(root); });
        map_platform_set_root(root);
        auto* c = new map_control_block{};
        c->switch_comm = new map_switch_comm{};
        c->switch_comm->cb = c;
        c->switch_comm->ap.max_bss = 4;
        if (map_cs_init(c) != 0) abort();
        return c;
    }();
    map_switch_comm* rec = cb->switch_comm;
    rec->tcp_fd = rec->udp_fd = rec->l2_fd = rec->ssl_rfd = rec->mapd_fd = rec->mapqosd_fd = -1;
    rec->state = MAP_SWITCH_COMM_ESTABLISHED;
    map_platform_fail_nth(map_platform_op::fork, 1);
    map_cs_process_config_pkt(cb->cs, data, static_cast<int>(size));
    map_platform_fail_clear();
    int state = cb->cs->config_state;
    if (state < MAP_CS_STATE_IDLE || state > MAP_CS_STATE_CONFIGURED) abort();
    return 0;
}
