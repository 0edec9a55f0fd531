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
#include "wire/map_provision_msg.hpp"
#include "wire/wire.hpp"

namespace {

struct command {
    const char* name;
    uint16_t type;
    const char* help;
    bool takes_value;
    bool value_in_length = false;  // the value goes in the header's length field
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
    {"wids-dump", WIDS_CONFIG_DUMP, "print the WIDS settings from the switch", false},
    {"wids-send", WIDS_CONFIG_SEND, "send the stored WIDS settings to hostapd COUNT times (1-16)",
     true, true},
};

void usage(FILE* to) {
    fprintf(to, "usage: mapctl [--ap ADDR] [--port PORT] COMMAND [VALUE]\n"
                "  Sends a local control command to mapd (default 127.0.0.1, UDP port 57776).\n"
                "  --ap ADDR    the AP's IPv4 address (default 127.0.0.1)\n"
                "  --port PORT  its UDP port, 1 to 65535 (default 57776)\n"
                "  --help, -h   this text\n"
                "commands:\n");
    for (const auto& c : kCommands) {
        fprintf(to, "  %-18s %s\n", c.takes_value ? (std::string(c.name) + (c.value_in_length ? " COUNT" : " MASK")).c_str() : c.name, c.help);
    }
    fprintf(to, "  provision --switch IP --ap-mac MAC [--primary IP] [--backup IP] [--mutual 0|1]\n"
                "            [--reprovision 0|1] [--cert FILE] [--backup-cert FILE]\n"
                "                     provision the AP (IPv4 or IPv6 addresses, PEM files); the AP\n"
                "                     answers the switch address's UDP port, not mapctl\n"
                "Exit status: 0 sent, 1 not sent, 2 bad usage.\n");
}

// ---- provision ------------------------------------------------------------------

bool parse_addr(const char* text, map_switch_addr& a) {
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, text, &v4) == 1) {
        a = map_switch_addr_from_ipv4(ntohl(v4.s_addr));
        return true;
    }
    if (inet_pton(AF_INET6, text, &v6) != 1) return false;
    a.is_ipv6 = 1;
    memcpy(a.addr, &v6, sizeof a.addr);
    return true;
}

bool read_file(const char* path, std::string& out) {
    FILE* f = fopen(path, "rb");
    if (f == nullptr) return false;
    char b[4096];
    for (size_t n; (n = fread(b, 1, sizeof b, f)) > 0;) out.append(b, n);
    bool ok = ferror(f) == 0;
    fclose(f);
    return ok;
}

// Builds the provisioning command from the options after "provision"; false
// (with a message) on a bad option.
bool provision_cmd(int argc, char** argv, std::vector<uint8_t>& msg) {
    map_provision_cmd c;
    c.with_primary = c.with_backup = false;
    bool have_switch = false, have_mac = false;
    for (int i = 0; i < argc; i += 2) {
        const std::string o = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        bool ok = v != nullptr;
        if (ok && o == "--switch") {
            ok = have_switch = parse_addr(v, c.switch_addr);
        } else if (ok && (o == "--primary" || o == "--backup")) {
            ok = parse_addr(v, o == "--primary" ? c.primary : c.backup);
            (o == "--primary" ? c.with_primary : c.with_backup) = true;
        } else if (ok && o == "--ap-mac") {
            unsigned m[6] = {};
            char tail;
            ok = have_mac = sscanf(v, "%x:%x:%x:%x:%x:%x%c", &m[0], &m[1], &m[2], &m[3], &m[4],
                                   &m[5], &tail) == 6;
            for (int k = 0; k < 6; ++k) {
                ok = ok && m[k] <= 0xFF;
                c.ap_mac[k] = static_cast<uint8_t>(ok ? m[k] : 0);
            }
        } else if (ok && (o == "--mutual" || o == "--reprovision")) {
            ok = (v[0] == '0' || v[0] == '1') && v[1] == '\0';
            (o == "--mutual" ? c.mutual_auth : c.reprovision_unmanaged) = static_cast<uint8_t>(v[0] - '0');
        } else if (ok && (o == "--cert" || o == "--backup-cert")) {
            ok = read_file(v, o == "--cert" ? c.primary_cert : c.backup_cert);
        } else {
            ok = false;
        }
        if (!ok) {
            fprintf(stderr, "mapctl: provision: bad or incomplete option %s%s%s\n", o.c_str(),
                    v ? " " : "", v ? v : "");
            return false;
        }
    }
    if (!have_switch || !have_mac) {
        fprintf(stderr, "mapctl: provision needs --switch and --ap-mac\n");
        return false;
    }
    msg = map_provision_cmd_build(c);
    if (msg.empty()) fprintf(stderr, "mapctl: provision: the certificates are too long\n");
    return !msg.empty();
}

int send_provision(const std::string& ap, long port, const std::vector<uint8_t>& msg) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, ap.c_str(), &to.sin_addr) != 1) {
        fprintf(stderr, "mapctl: not an IPv4 address: %s\n", ap.c_str());
        return 2;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0 || sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
                      static_cast<ssize_t>(msg.size())) {
        fprintf(stderr, "mapctl: cannot send to %s:%ld: %s\n", ap.c_str(), port, strerror(errno));
        return 1;
    }
    close(fd);
    printf("sent provision (%u, %zu bytes) to %s:%ld; the AP answers the switch address\n",
           AP_PROVISION_CMD_MSG, msg.size(), ap.c_str(), port);
    return 0;
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
        fprintf(stderr, "mapctl: %s %s\n", a == "--ap" || a == "--port" ? "a value is needed after" : "unknown option", a.c_str());
        return 2;
    }
    if (i >= argc) {
        fprintf(stderr, "mapctl: no command (mapctl --help lists them)\n");
        return 2;
    }
    if (strcmp(argv[i], "provision") == 0) {
        std::vector<uint8_t> msg;
        if (!provision_cmd(argc - i - 1, argv + i + 1, msg)) return 2;
        return send_provision(ap, port, msg);
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
        if (cmd->value_in_length) {
            if (mask > 0xFFFFul) {
                fprintf(stderr, "mapctl: not a 16-bit number: %s\n", argv[i + 1]);
                return 2;
            }
            wire_store_be16(buf + 2, static_cast<uint16_t>(mask));
            w.pos = 4;
        }
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
