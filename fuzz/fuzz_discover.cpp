// A received discover message body: the summary parser and the whole handler
// on a listening record (the candidate is never followed: the record's
// address tables admit no switch, so no socket is opened).
#include <cstdint>

#include "log/map_log.hpp"
#include "switch/switch_comm.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    map_discover_summary s;
    map_switch_comm_extract_discover_pkt(data, static_cast<int>(size), &s);

    static map_switch_comm* rec = [] {
        auto* r = new map_switch_comm{};
        r->tcp_fd = r->udp_fd = r->l2_fd = r->ssl_rfd = r->mapd_fd = r->mapqosd_fd = -1;
        // One static slot that no discover message can name: every candidate
        // is refused before any connection is tried.
        r->static_ip[0] = 0xFFFFFFFF;
        r->static_count = 1;
        return r;
    }();
    rec->state = size > 0 && (data[0] & 1) ? MAP_SWITCH_COMM_LISTEN_MODE : MAP_SWITCH_COMM_INIT_MODE;
    rec->l2_queue = map_l2_queue{};
    map_switch_comm_process_discover_pkt(rec, data, static_cast<int>(size),
                                         size > 1 && (data[1] & 1) ? MAP_SWITCH_L2_POLL_RECIEVED
                                                                   : MAP_SWITCH_IP_POLL_RECEIVED,
                                         nullptr);
    return 0;
}
