// Datagrams as read from the mapd socket, fed to the local dispatcher of an
// established AP.  The switch connection record is the daemon's own (the
// handlers find it as such) with no descriptor at all: its set-up is made to
// fail at its first socket, so no port is bound.  There is no TLS connection
// and no UDP socket: a message for the switch is built in full and then
// refused for lack of a channel.
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "fuzz_fresh.hpp"
#include "local/mmsg_handler.hpp"
#include "platform/platform.hpp"
#include "stats/map_stats.hpp"
#include "switch/switch_comm.hpp"

namespace {

map_switch_comm* make_record() {
    static char root[] = "/dev/shm/mapd-fuzz-local-XXXXXX";
    if (mkdtemp(root) == nullptr)
        abort();
    atexit([] { std::filesystem::remove_all(root); });
    map_platform_set_root(root);
    auto* cb = new map_control_block{};
    map_switch_comm* rec = fuzz_fresh::daemon_record(cb);
    cb->switch_comm = rec;
    if (map_cs_init(cb) != 0)
        abort();
    rec->switch_ip = 0x7F000001;
    cb->admin_mode = 1;  // up, so that hostapd's reports (types 6 and 7) are relayed
    return rec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static map_switch_comm* rec = make_record();
    rec->state = MAP_SWITCH_COMM_ESTABLISHED;
    process_received_msg(data, size);
    // A client authentication adds its client to the table (one datagram, one
    // client at most); every input starts from an empty table.
    if (rec->state != MAP_SWITCH_COMM_ESTABLISHED || rec->udp_fd >= 0 ||
        rec->cb->cs->stats.table.last > 0)
        abort();
    map_cs_stats_client_table_clear(rec->cb->cs);
    return 0;
}
