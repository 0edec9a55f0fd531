// The switch's code download command (type 28) as read from the TLS channel,
// fed to the TLS dispatcher of an established AP: the element walk that
// takes the AP MAC, server, mode and file name and starts the download.  The
// download child is never forked: the fork is made to fail on every input,
// so an accepted request reports its failure (which finds no TLS session and
// is dropped) and nothing is left between inputs.
#include <cstdint>
#include <cstdlib>

#include "core/map_handler.hpp"
#include "fuzz_ap.hpp"
#include "switch/switch_msg.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static map_control_block* cb = [] {
        static char root[] = "/dev/shm/mapd-fuzz-code-download-XXXXXX";
        return fuzz_ap::make(root, {});
    }();
    if (size < 4 || (data[0] << 8 | data[1]) != SWITCH_UPDATE_CODE) return 0;
    fuzz_ap::established(cb->switch_comm);
    map_platform_fail_nth(map_platform_op::fork, 1);
    if (map_ssl_pkt_handler(cb, data, static_cast<int>(size)) != 0) abort();
    map_platform_fail_clear();
    return 0;
}
