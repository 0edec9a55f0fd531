// The switch's client commands (new ARP, disassociate, resend client
// information, association reply, threat deauthentication, TSPEC admission
// reply and deletion; pre-authentication frames, PMKs and RADIUS packets) as
// read from the TLS channel, fed to the TLS dispatcher of an established AP
// with a seeded database and a VAP that takes tunnelled clients.  Other
// message types are left to the TLS dispatch target.  No local socket is
// opened (hostapd's port is not taken from a test that may be running): every
// send to hostapd or the TSPEC application fails and is reported, after the
// whole message was parsed.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "fuzz_ap.hpp"
#include "core/map_handler.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"

namespace {

bool is_client_cmd(uint16_t type) {
    return type == SWITCH_NEW_ARP || type == SWITCH_DISASSOCIATE_CLIENT ||
           type == SWITCH_RESEND_CLIENT_INFO || type == SWITCH_CLIENT_ASSOC_REPLY ||
           type == MAP_SWITCH_CLIENT_THREAT_DEAUTH_MSG || type == SWITCH_TSPEC_ADMISSION_REPLY ||
           type == SWITCH_TSPEC_DELETION || type == SWITCH_CLIENT_PRE_AUTH ||
           type == MAP_SWITCH_CLIENT_PRE_AUTH_ANS || type == SWITCH_CLIENT_PMK ||
           type == MAP_SWITCH_RADIUS_PROXY_CMD;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char root[] = "/tmp/mapd-fuzz-client-XXXXXX";
    static map_control_block* cb = [] {
        map_control_block* c = fuzz_ap::make(root, {{"radio", "wlan0", "sentry-mode", "on"}});
        // VAP 1 of radio 1 (00:1a:2b:3c:4d:51) takes tunnelled clients.
        c->cs->vaps[0].vap_config[1].dl2tunnel = 1;
        c->cs->vaps[0].vap_config[1].vlan_id = 100;
        return c;
    }();
    if (size < 4 || !is_client_cmd(static_cast<uint16_t>(data[0] << 8 | data[1]))) return 0;
    map_switch_comm* rec = cb->switch_comm;
    fuzz_ap::established(rec);
    map_platform_fail_clear();
    // A message whose first element byte is odd sees the kernel refuse a write.
    if (size > 4 && (data[4] & 1) != 0) map_platform_fail_nth(map_platform_op::sysctl_write, 1);
    if (map_ssl_pkt_handler(cb, data, static_cast<int>(size)) != 0) abort();
    map_platform_fail_clear();
    return 0;
}
