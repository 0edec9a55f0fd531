// Raw layer-2 frames as the AP's packet socket delivers them, read by one
// pass of the daemon's main loop from a local datagram socket standing in for
// that socket.  The first byte of the destination MAC, which the AP never
// looks at, chooses the connection state: listening (bit 0 set) or not.
// Every input starts from a new record with an empty poll queue and an empty
// discovered-address list; the record has no TLS context and no other
// socket, so a poll that is followed never reaches the network.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "core/managed_ap.hpp"
#include "fuzz_ap.hpp"
#include "fuzz_fresh.hpp"

namespace {

int g_frames = -1;  // where the frames are written; the record reads the other end

map_control_block* make_ap() {
    static char root[] = "/dev/shm/mapd-fuzz-l2-XXXXXX";
    map_control_block* cb = fuzz_ap::make(root, {});
    // The main loop's clock: a fixed uptime, so its timer pass never runs.
    fuzz_fresh::put_text("/proc/uptime", "1000.00 900.00\n");
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0) abort();
    g_frames = pair[0];
    cb->switch_comm->l2_fd = pair[1];
    atexit([] {
        close(g_frames);
    });
    return cb;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static map_control_block* cb = make_ap();
    map_switch_comm* rec = cb->switch_comm;
    const int l2_fd = rec->l2_fd;
    const bool listening = size > 0 && (data[0] & 1) != 0;
    fuzz_fresh::record_reset(rec, cb, listening ? MAP_SWITCH_COMM_LISTEN_MODE
                                                : MAP_SWITCH_COMM_INIT_MODE);
    rec->l2_fd = l2_fd;
    if (send(g_frames, data, size, 0) != static_cast<ssize_t>(size)) abort();
    if (map_main_loop_passes(cb, 1) != 0) abort();
    // The frame was read, and nothing opened or closed a socket.
    uint8_t left;
    if (recv(l2_fd, &left, 1, MSG_DONTWAIT) >= 0) abort();
    if (rec->l2_fd != l2_fd || rec->tcp_fd >= 0 || rec->udp_fd >= 0 || rec->ssl) abort();
    return 0;
}
