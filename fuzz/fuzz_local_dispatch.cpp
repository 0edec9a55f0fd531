// Datagrams as read from the mapd socket, fed to the local dispatcher of an
// established AP.  The switch connection record is a real one (the handlers
// find it as the daemon's record); its local sockets are closed at once and
// its UDP socket is swapped for one on a free loopback port that receives
// what is sent to the switch and is drained after every input.  There is no
// TLS connection: a message for the switch's TLS channel is built in full and
// then refused for lack of a connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "local/mmsg_handler.hpp"
#include "platform/platform.hpp"
#include "stats/map_stats.hpp"
#include "switch/switch_comm.hpp"

namespace {

map_switch_comm* make_record() {
    static char root[] = "/tmp/mapd-fuzz-local-XXXXXX";
    if (mkdtemp(root) == nullptr)
        abort();
    atexit([] { std::filesystem::remove_all(root); });
    map_platform_set_root(root);
    auto* cb = new map_control_block{};
    map_switch_comm* rec = nullptr;
    if (map_switch_comm_init(&rec, cb) != 0)
        abort();
    cb->switch_comm = rec;
    if (map_cs_init(cb) != 0)
        abort();
    mmsg_handler_close();
    mmsg_handler_mapqosd_close();
    rec->mapd_fd = rec->mapqosd_fd = -1;
    close(rec->udp_fd);
    rec->udp_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    auto* sa = reinterpret_cast<sockaddr*>(&a);
    if (bind(rec->udp_fd, sa, len) != 0 || getsockname(rec->udp_fd, sa, &len) != 0)
        abort();
    rec->ports.udp = ntohs(a.sin_port);
    rec->switch_ip = INADDR_LOOPBACK;
    cb->admin_mode = 1;  // up, so that hostapd's reports (types 6 and 7) are relayed
    return rec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static map_switch_comm* rec = make_record();
    rec->state = MAP_SWITCH_COMM_ESTABLISHED;
    process_received_msg(data, size);
    uint8_t sink[2048];
    while (recv(rec->udp_fd, sink, sizeof sink, MSG_DONTWAIT) >= 0) {
    }
    // A client authentication adds its client to the table (one datagram, one
    // client at most); every input starts from an empty table.
    if (rec->state != MAP_SWITCH_COMM_ESTABLISHED || rec->cb->cs->stats.table.last > 0)
        abort();
    map_cs_stats_client_table_clear(rec->cb->cs);
    return 0;
}
