// Switch UDP datagrams fed to the daemon's whole UDP dispatcher.  The first
// byte is not part of the datagram: bits 0-1 choose the sender (this AP's
// 127.0.0.1, the switch, a stranger, no known source), bits 2-4 the
// connection state, bit 5 the admin mode and bit 6 a provisioned AP.  Every
// input starts from a new database, record, config/status component and
// control block; the record is the daemon's own, without any socket, so
// nothing reaches the network, and a child is never forked.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstdlib>

#include "commands/map_cs.hpp"
#include "config/map_config.hpp"
#include "core/map_handler.hpp"
#include "fuzz_ap.hpp"
#include "fuzz_fresh.hpp"
#include "log/map_log.hpp"
#include "store/map_dman_lsql.hpp"

namespace {

constexpr uint32_t kSwitchIp = 0x0A000101;    // 10.0.1.1
constexpr uint32_t kStrangerIp = 0xC0000207;  // 192.0.2.7

void store_values() {
    fuzz_ap::db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50");
    fuzz_ap::db_set("managed-ap", nullptr, "switch-address-1", "10.0.1.1");
    fuzz_ap::db_set("map-ap-provisioning", nullptr, "data-valid", "on");
}

map_control_block* make_ap() {
    static char root[] = "/dev/shm/mapd-fuzz-udp-XXXXXX";
    map_control_block* cb = fuzz_ap::make(root, {});
    delete cb->switch_comm;  // the daemon's own record instead
    cb->switch_comm = fuzz_fresh::daemon_record(cb);
    cb->switch_comm->ap.max_bss = 2;
    return cb;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static map_control_block* cb = make_ap();
    if (size < 1) return 0;
    const uint8_t pick = data[0];

    fuzz_fresh::db_drop();
    store_values();
    fuzz_fresh::remove_file(MAP_SWITCH_CERTS_FILE);
    map_switch_comm* rec = cb->switch_comm;
    fuzz_fresh::record_reset(rec, cb, (pick >> 2 & 7) % 5);
    rec->switch_ip = kSwitchIp;
    map_cs_deinit(cb->cs);
    cb->cs = nullptr;
    cb->admin_mode = pick >> 5 & 1;
    cb->managed_mode = 1;
    cb->watchdog_minutes = 0;
    cb->debug_login = 0;
    cb->provision = map_ap_provision_params{};
    cb->provision.data_valid = pick >> 6 & 1;
    cb->provision_reply_status = -1;
    cb->mutual_auth_countdown = 0;
    cb->wids = wids_config_cmdmsg_t{};
    if (map_cs_init(cb) != 0) abort();
    map_global_debug_trace = 0;
    map_global_dont_disable_ssh_session = 0;
    map_switch_comm_provisioning_discovery_reset();

    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_port = htons(40000);
    const uint32_t sources[] = {INADDR_LOOPBACK, kSwitchIp, kStrangerIp};
    const sockaddr_in* source = nullptr;
    if ((pick & 3) != 3) {
        from.sin_addr.s_addr = htonl(sources[pick & 3]);
        source = &from;
    }
    map_platform_fail_nth(map_platform_op::fork, 1);
    map_udp_pkt_handler_from(cb, data + 1, static_cast<int>(size - 1), source);
    map_platform_fail_clear();
    // No handler opens a descriptor of the record.
    if (rec->udp_fd >= 0 || rec->tcp_fd >= 0 || rec->l2_fd >= 0 || rec->ssl || cb->switch_comm != rec) abort();
    map_global_debug_trace = 0;
    return 0;
}
