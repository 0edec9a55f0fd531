// Configuration messages from the switch, fed to the element walk of an
// established AP.  Every input starts from the twin's factory database, a
// new control block and a new config/status component (no sequence open), so
// radio and VAP elements reach their database writes and the result of an
// input does not depend on the ones before it.  The post-configuration child
// is never forked: the fork is made to fail, so a stop element runs the apply
// and reports the failure.
#include <cstdint>
#include <cstdlib>

#include "commands/map_cs.hpp"
#include "commands/map_cs_config.hpp"
#include "fuzz_twin.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_twin::twin_root& t = fuzz_twin::twin("config");
    map_switch_comm* rec = fuzz_twin::daemon_record(t);
    fuzz_twin::restore(t);
    map_control_block* cb = fuzz_twin::cb_new(rec, MAP_SWITCH_COMM_ESTABLISHED, 1);
    map_platform_fail_nth(map_platform_op::fork, 1);
    map_cs_process_config_pkt(cb->cs, data, static_cast<int>(size));
    map_platform_fail_clear();
    const int state = cb->cs->config_state;
    if (state < MAP_CS_STATE_IDLE || state > MAP_CS_STATE_CONFIGURED) abort();
    fuzz_twin::cb_free(cb);
    return 0;
}
