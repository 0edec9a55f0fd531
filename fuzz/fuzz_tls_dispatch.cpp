// Messages as read from the TLS channel, fed straight to the TLS dispatcher
// of an established AP (no real TLS: what the AP would send back is refused
// for lack of a connection, and the AP stays in managed mode).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char root[] = "/tmp/mapd-fuzz-tls-XXXXXX";
    static map_control_block* cb = [] {
        if (mkdtemp(root) == nullptr) abort();
        atexit([] { std::filesystem::remove_all(root); });
        map_platform_set_root(root);
        auto* c = new map_control_block{};
        c->managed_mode = 1;
        c->switch_comm = new map_switch_comm{};
        c->switch_comm->cb = c;
        return c;
    }();
    map_switch_comm* rec = cb->switch_comm;
    rec->tcp_fd = rec->udp_fd = rec->l2_fd = rec->ssl_rfd = rec->mapd_fd = rec->mapqosd_fd = -1;
    rec->state = MAP_SWITCH_COMM_ESTABLISHED;
    rec->switch_ip = 0x7F000002;
    cb->managed_mode = 1;
    // A code download would start a real child per input, and an image
    // upgrade runs the image tools: both have a target of their own.
    if (size >= 2 && (data[0] << 8 | data[1]) == SWITCH_UPDATE_CODE) return 0;
    if (size >= 2 && (data[0] << 8 | data[1]) == SWITCH_AP_IMAGE_UPGRADE) return 0;
    map_ssl_pkt_handler(cb, data, static_cast<int>(size));
    // Layer-2 discovery may have been restarted by a relink: close it again.
    map_switch_comm_l2_discovery_disable(rec);
    if (rec->keepalive_countdown < 0) abort();
    return 0;
}
