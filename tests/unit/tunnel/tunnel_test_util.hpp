// Shared pieces of the tunnel and portal tests: a root whose database holds
// the AP's settings, the sandbox's journal of kernel writes, and a socket of
// the test on hostapd's port.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/managed_ap.hpp"
#include "dman/lsqlquery.hpp"
#include "local/mmsg_handler.hpp"
#include "platform/platform.hpp"
#include "support/bytes.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

namespace tunnel_test {

using namespace mapd_test;
using lines = std::vector<std::string>;

// Values as they lie in memory: 32-bit ones in host order, bytes as they are.
inline std::string h(std::initializer_list<uint32_t> v) {
    return std::string(reinterpret_cast<const char*>(std::data(v)), 4 * v.size());
}
inline std::string str(const bytes& b) {
    return std::string(b.begin(), b.end());
}
const std::string kBaseMac("\x00\x1a\x2b\x3c\x4d\x50", 6);

// The kernel writes since the last call, in order, as the sandbox journals
// them: "3.21.28.11 = 0100000a" (the value's bytes) or "3.21.28.11 refused".
inline lines journal(const sandbox& sb) {
    lines got;
    std::ifstream in(sb.path("/sandbox/sysctl.log"));
    for (std::string l; std::getline(in, l);)
        got.push_back(l);
    std::filesystem::remove(sb.path("/sandbox/sysctl.log"));
    return got;
}
inline std::string wrote(const std::string& entry, const std::string& value) {
    std::string line = entry + " = ";
    for (unsigned char c : value)
        line += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    return line;
}
// The journal of `writes` when write k (from 1; 0: none) is refused.
inline lines refused_at(lines writes, size_t k) {
    if (k > 0) {
        writes.resize(k);
        writes.back() = writes.back().substr(0, writes.back().find(' ')) + " refused";
    }
    return writes;
}

// A fresh root whose database holds the AP's settings.
struct ap_fixture : testing::Test {
    sandbox sb;
    void SetUp() override {
        const char* db[][3] = {
            {"system", "base-mac", "00:1a:2b:3c:4d:50"}, {"management", "ip", "10.1.0.5"},
            {"management", "mask", "255.255.255.0"},     {"management", "vlan-id", "258"},
            {"untagged-vlan", "vlan-id", "9"},           {"ip-route", "gateway", "10.1.0.1"}};
        for (const auto& [cls, property, value] : db)
            ASSERT_TRUE(db_set(cls, nullptr, property, value));
    }
    void TearDown() override { lsqlquery_close(); }
};

// A socket of the test on hostapd's port and the process's switch connection
// record, whose local socket sends there.  Both ports are shared with other
// tests: open() waits for them.
struct hostapd_link {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    map_switch_comm* rec = nullptr;

    void open(map_control_block* cb) {
        const sockaddr_in a{AF_INET, htons(MMSG_HOSTAPD_PORT), {htonl(INADDR_LOOPBACK)}, {}};
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        const auto wait = [end] {  // false once the wait is over
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            return std::chrono::steady_clock::now() < end;
        };
        while (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
            ASSERT_TRUE(wait()) << "hostapd's port stays busy";
        while (map_switch_comm_init(&rec, cb) != 0)
            ASSERT_TRUE(wait()) << "mapd's port stays busy";
    }
    ~hostapd_link() {
        if (rec != nullptr)
            map_switch_comm_deinit(rec);
        close(fd);
    }
    // What hostapd got since the last call: everything before a marker (a
    // supported-channels request) sent now.
    std::vector<bytes> got() {
        EXPECT_EQ(mmsg_handler_send(bytes{7}.data(), 1), 1);
        std::vector<bytes> got;
        uint8_t buf[512];
        for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 5000) == 1;) {
            got.emplace_back(buf, buf + std::max(recv(fd, buf, sizeof buf, 0), ssize_t{0}));
            if (got.back() == bytes{7})
                return got.pop_back(), got;
        }
        ADD_FAILURE() << "no marker";
        return got;
    }
};

}  // namespace tunnel_test
