// mapctl: the local control and debug commands of mapd, sent as one UDP
// datagram (a switch-framed message) to the daemon's UDP port.  What the
// daemon prints in answer goes to its own output and traces (see maptrace).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

namespace {

struct command {
    const char* name;
    uint16_t type;
    const char* help;
    bool takes_value;
};

constexpr command kCommands[] = {
    {"reload-dhcp", DHCP_SWITCH_IP, "reload the DHCP switch settings (/tmp/map_dhcp.conf)", false},
    {"reload-static", DMAN_CONFIG, "reload the managed-AP settings from the configuration database", false},
    {"debug-dump", DEBUG_MSG, "print the managed-AP parameters and timers", false},
    {"trace", DEBUG_SET_TRACE, "set the trace mask (e.g. 0x3); also passed to mapqosd", true},
    {"client-dump", MAP_DEBUG_CLIENT_ASSOC_DUMP, "print the client statistics table", false},
    {"config-dump", DEBUG_CS_DUMP, "print the configuration held from the switch", false},
    {"keep-ssh", DEBUG_DONT_DISABLE_SSH_SESSION, "keep SSH sessions when entering managed mode", false},
    {"discovery-dump", DISCOVER_IP_ADDR_DUMP, "print the discovered switch addresses", false},
    {"provisioning-dump", AP_PROVISION_PARAMS_PRINT, "print the AP provisioning parameters", false},
};

void usage(FILE* to) {
    fprintf(to, "usage: mapctl [--ap ADDR] [--port PORT] COMMAND [VALUE]\n"
                "  Sends a local control command to mapd (default 127.0.0.1, UDP port 57776).\n"
                "commands:\n");
    for (const auto& c : kCommands) {
        fprintf(to, "  %-18s %s\n", c.takes_value ? (std::string(c.name) + " MASK").c_str() : c.name, c.help);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string ap = "127.0.0.1";
    long port = 57776;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        }
        if ((a == "--ap" || a == "--port") && i + 1 < argc) {
            if (a == "--ap") {
                ap = argv[++i];
            } else {
                char* end = nullptr;
                port = strtol(argv[++i], &end, 10);
                if (*end != '\0' || port < 1 || port > 65535) {
                    fprintf(stderr, "mapctl: --port needs a number from 1 to 65535\n");
                    return 2;
                }
            }
            continue;
        }
        fprintf(stderr, "mapctl: unknown option %s\n", a.c_str());
        return 2;
    }
    if (i >= argc) {
        usage(stderr);
        return 2;
    }
    const command* cmd = nullptr;
    for (const auto& c : kCommands) {
        if (strcmp(argv[i], c.name) == 0) cmd = &c;
    }
    if (cmd == nullptr) {
        fprintf(stderr, "mapctl: unknown command %s (mapctl --help lists them)\n", argv[i]);
        return 2;
    }
    if (argc - i - 1 != (cmd->takes_value ? 1 : 0)) {
        fprintf(stderr, "mapctl: %s takes %s\n", cmd->name, cmd->takes_value ? "one value" : "no value");
        return 2;
    }
    uint8_t buf[8];
    wire_writer w = wire_writer_make(buf, sizeof buf);
    wire_put_be16(w, cmd->type);
    wire_put_be16(w, cmd->takes_value ? 8 : 4);
    if (cmd->takes_value) {
        char* end = nullptr;
        errno = 0;
        unsigned long mask = strtoul(argv[i + 1], &end, 0);
        if (*end != '\0' || errno != 0 || mask > 0xFFFFFFFFul) {
            fprintf(stderr, "mapctl: not a 32-bit number: %s\n", argv[i + 1]);
            return 2;
        }
        wire_put_be32(w, static_cast<uint32_t>(mask));
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, ap.c_str(), &to.sin_addr) != 1) {
        fprintf(stderr, "mapctl: not an IPv4 address: %s\n", ap.c_str());
        return 2;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0 || sendto(fd, buf, w.pos, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
                      static_cast<ssize_t>(w.pos)) {
        fprintf(stderr, "mapctl: cannot send to %s:%ld: %s\n", ap.c_str(), port, strerror(errno));
        return 1;
    }
    close(fd);
    printf("sent %s (%u) to %s:%ld\n", cmd->name, cmd->type, ap.c_str(), port);
    return 0;
}
