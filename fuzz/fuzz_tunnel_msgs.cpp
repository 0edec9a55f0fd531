// The switch's tunnel messages (distributed tunnel configuration, set-up and
// termination; central tunnel configuration) as read from the TLS channel,
// fed to the TLS dispatcher of an established AP with a seeded database, and
// to their handlers directly (so the target reaches them whatever the
// dispatcher does with the type).  No local socket is opened (hostapd's port
// is not taken from a test that may be running): every send to hostapd fails
// and is reported, after the whole message was parsed.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "fuzz_ap.hpp"
#include "core/map_handler.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"
#include "tunnel/map_cl2tunnel.hpp"
#include "tunnel/map_dl2tunnel.hpp"

namespace {

using handler = int (*)(map_switch_comm*, const uint8_t*, int);

handler handler_of(uint16_t type) {
    switch (type) {
        case MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID: return map_process_dl2tunnel_term_pkt;
        case MAP_SWITCH_DL2TUNNEL_CONFIG_MSG_ID: return map_process_dl2tunnel_config_pkt;
        case MAP_SWITCH_DL2TUNNEL_SETUP_MSG_ID: return map_process_dl2tunnel_setup_pkt;
        case MAP_SWITCH_CL2TUNNEL_CONFIG_MSG_ID: return map_process_cl2tunnel_config_pkt;
        default: return nullptr;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char root[] = "/tmp/mapd-fuzz-tunnel-XXXXXX";
    static map_control_block* cb = fuzz_ap::make(root, {{"management", nullptr, "ip", "10.1.0.5"},
                                                        {"management", nullptr, "mask", "255.255.0.0"},
                                                        {"management", nullptr, "vlan-id", "7"},
                                                        {"untagged-vlan", nullptr, "vlan-id", "9"},
                                                        {"ip-route", nullptr, "gateway", "10.1.0.1"}});
    if (size < 4) return 0;
    const handler fn = handler_of(static_cast<uint16_t>(data[0] << 8 | data[1]));
    if (fn == nullptr) return 0;
    map_switch_comm* rec = cb->switch_comm;
    fuzz_ap::established(rec);
    // A message whose first element byte is odd sees the kernel refuse a write.
    const auto arm = [&] {
        map_platform_fail_clear();
        if (size > 4 && (data[4] & 1) != 0) map_platform_fail_nth(map_platform_op::sysctl_write, 1);
    };
    arm();
    map_ssl_pkt_handler(cb, data, static_cast<int>(size));
    arm();
    const int rc = fn(rec, data + 4, static_cast<int>(size - 4));
    map_platform_fail_clear();
    if (rc != 0 && rc != -1) abort();
    return 0;
}
