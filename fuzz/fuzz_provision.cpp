// The AP provisioning command as read from the UDP socket or the TLS channel,
// chosen by the first input byte, whose other bits set the AP's state: bit 1
// provisioned before, bit 2 re-provisioning allowed, bit 3 a reboot pending,
// bit 4 the timer pass runs 60 seconds afterwards.  The rest of the input is
// the command's elements behind a well-formed header.  No fixed port is
// taken and nothing leaves the process: the UDP socket is a local socket
// that refuses the reply's IPv4 destination, the TLS channel has no session,
// and the sandbox root has no init of its own, so a reboot is refused.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"

namespace {

void db_set(const char* cls, const char* instance, const char* property, const char* value) {
    pv* node = lsqlquery_new_pv_solo(property, value);
    if (lsqlquery_set_pv(cls, instance, node, nullptr) != 0) abort();
    lsqlquery_destroy_pv(node);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char root[] = "/tmp/mapd-fuzz-provision-XXXXXX";
    static map_control_block* cb = [] {
        if (mkdtemp(root) == nullptr) abort();
        atexit([] { std::filesystem::remove_all(root); });
        map_platform_set_root(root);
        std::filesystem::create_directories(std::string(root) + "/etc");
        FILE* cert = map_platform_fopen("/etc/zorcert2.pem", "w");
        if (cert == nullptr) abort();
        fputs("-----BEGIN CERTIFICATE-----\nAP\n-----END CERTIFICATE-----\n", cert);
        fclose(cert);
        db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50");
        db_set("management", nullptr, "ip", "10.1.2.3");
        auto* c = new map_control_block{};
        c->switch_comm = new map_switch_comm{};
        c->switch_comm->cb = c;
        c->switch_comm->udp_fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (c->switch_comm->udp_fd < 0) abort();
        return c;
    }();
    if (size < 1 || size > 0xFFFF - 4) return 0;
    const uint8_t mode = data[0];
    map_switch_comm* rec = cb->switch_comm;
    rec->tcp_fd = rec->l2_fd = rec->ssl_rfd = rec->mapd_fd = rec->mapqosd_fd = -1;
    rec->state = (mode & 1) != 0 ? MAP_SWITCH_COMM_ESTABLISHED : MAP_SWITCH_COMM_INIT_MODE;
    cb->provision.data_valid = (mode >> 1) & 1;
    cb->provision.reprovision_unmanaged = (mode >> 2) & 1;
    cb->mutual_auth_countdown = (mode & 8) != 0 ? 30 : 0;
    // The elements from an exact-size buffer, so that an over-read shows.
    std::vector<uint8_t> msg(size + 3);
    msg[0] = 0x02, msg[1] = 0x02;  // 514
    msg[2] = static_cast<uint8_t>(msg.size() >> 8), msg[3] = static_cast<uint8_t>(msg.size());
    memcpy(msg.data() + 4, data + 1, size - 1);
    const int length = static_cast<int>(msg.size());
    const int rc = (mode & 1) != 0 ? map_ssl_pkt_handler(cb, msg.data(), length)
                                   : map_udp_pkt_handler(cb, msg.data(), length);
    if (rc != 0) abort();
    if ((mode & 16) != 0) map_timeout_handler(cb, 60, 60);
    return 0;
}
