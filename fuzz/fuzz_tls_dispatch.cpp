// Messages as read from the TLS channel, fed to the whole TLS dispatcher.
// The first byte is not part of the message: bits 0-1 choose the connection
// state (TLS up before authentication, authenticating, established twice as
// often), bit 2 takes the TLS session away (every send to the switch
// fails), bit 3 leaves the AP in stand-alone mode (as before
// authentication succeeds).  Every input starts from the twin's factory
// database, a new control block and config/status component; the switch's
// end of the session reads and checks every message the AP sends.  A child
// is never forked (the fork fails), and a code download or image upgrade
// (which start the image tools) are left to their own targets.
#include <cstdint>
#include <cstdlib>

#include "commands/map_cs.hpp"
#include "core/map_handler.hpp"
#include "fuzz_twin.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"

namespace {

constexpr int kStates[] = {MAP_SWITCH_COMM_SSL_ESTABLISH_MODE, MAP_SWITCH_COMM_SWITCH_AUTH_MODE,
                           MAP_SWITCH_COMM_ESTABLISHED, MAP_SWITCH_COMM_ESTABLISHED};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data, --size;
    if (size >= 2 && (data[0] << 8 | data[1]) == SWITCH_UPDATE_CODE) return 0;
    if (size >= 2 && (data[0] << 8 | data[1]) == SWITCH_AP_IMAGE_UPGRADE) return 0;
    fuzz_twin::twin_root& t = fuzz_twin::twin("tls");
    static fuzz_twin::tls_link link;
    map_switch_comm* rec = fuzz_twin::daemon_record(t);
    fuzz_twin::restore(t);
    map_control_block* cb = fuzz_twin::cb_new(rec, kStates[mode & 3], (mode & 8) ? 0 : 1);
    const bool with_tls = (mode & 4) == 0;
    if (with_tls) fuzz_twin::tls_link_lend(link, rec);
    map_platform_fail_nth(map_platform_op::fork, 1);
    map_ssl_pkt_handler(cb, data, static_cast<int>(size));
    map_platform_fail_clear();
    if (with_tls) fuzz_twin::tls_link_take_back(link, rec);
    if (rec->keepalive_countdown < 0 || rec->state < MAP_SWITCH_COMM_INIT_MODE ||
        rec->state > MAP_SWITCH_COMM_ESTABLISHED || cb->cs->config_state < MAP_CS_STATE_IDLE ||
        cb->cs->config_state > MAP_CS_STATE_CONFIGURED) {
        abort();
    }
    fuzz_twin::cb_free(cb);
    return 0;
}
