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
#include "core/map_handler.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"
#include "tunnel/map_cl2tunnel.hpp"
#include "tunnel/map_dl2tunnel.hpp"

namespace {

void db_set(const char* cls, const char* instance, const char* property, const char* value) {
    pv* node = lsqlquery_new_pv_solo(property, value);
    if (lsqlquery_set_pv(cls, instance, node, nullptr) != 0) abort();
    lsqlquery_destroy_pv(node);
}

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
    static map_control_block* cb = [] {
        if (mkdtemp(root) == nullptr) abort();
        atexit([] { std::filesystem::remove_all(root); });
        map_platform_set_root(root);
        db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50");
        db_set("management", nullptr, "ip", "10.1.0.5");
        db_set("management", nullptr, "mask", "255.255.0.0");
        db_set("management", nullptr, "vlan-id", "7");
        db_set("untagged-vlan", nullptr, "vlan-id", "9");
        db_set("ip-route", nullptr, "gateway", "10.1.0.1");
        auto* c = new map_control_block{};
        c->managed_mode = 1;
        c->switch_comm = new map_switch_comm{};
        c->switch_comm->cb = c;
        c->switch_comm->ap.max_bss = 2;
        if (map_cs_init(c) != 0) abort();
        return c;
    }();
    if (size < 4) return 0;
    const handler fn = handler_of(static_cast<uint16_t>(data[0] << 8 | data[1]));
    if (fn == nullptr) return 0;
    map_switch_comm* rec = cb->switch_comm;
    rec->tcp_fd = rec->udp_fd = rec->l2_fd = rec->ssl_rfd = rec->mapd_fd = rec->mapqosd_fd = -1;
    rec->state = MAP_SWITCH_COMM_ESTABLISHED;
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
