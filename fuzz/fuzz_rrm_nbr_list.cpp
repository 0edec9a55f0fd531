// The switch's RRM neighbour list and channel load request, WIDS
// configuration, RF-scan interval and power level messages as read from the
// TLS channel, fed to the TLS dispatcher of an established AP with a seeded
// database.  The channel set message is left out (it forks).  No local socket
// is opened (hostapd's port is not taken from a test that may be running):
// every send to hostapd fails and is reported, after the whole message was
// parsed.  Every input starts from the same WIDS record and radio records.
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

namespace {

bool is_target(uint16_t type) {
    return type == RRM_NEIGHBOR_LIST || type == RRM_CHANNEL_LOAD_REQ ||
           type == MAP_SWITCH_AP_WIDS_CONFIG_MSG_ID || type == SWITCH_SCAN_REPORT_INT ||
           type == SWITCH_CHANGE_POWER;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char root[] = "/tmp/mapd-fuzz-rrm-XXXXXX";
    static map_control_block* cb = fuzz_ap::make(root, {});
    if (size < 4 || !is_target(static_cast<uint16_t>(data[0] << 8 | data[1]))) return 0;
    map_switch_comm* rec = cb->switch_comm;
    fuzz_ap::established(rec);
    cb->wids = {};
    for (auto& radio : cb->cs->radio) radio.tx_power = 0;
    if (map_ssl_pkt_handler(cb, data, static_cast<int>(size)) != 0) abort();
    return 0;
}
