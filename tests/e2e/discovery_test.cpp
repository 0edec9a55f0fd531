// Discovery on the twin: the AP's own discover rounds, discover messages from a
// switch over UDP and as layer-2 polls, and the TLS failure notification that
// ends a followed discover when no switch answers on the TLS port.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "e2e/twin_fixture.hpp"
#include "swsim/swsim.hpp"
#include "wire/wire.hpp"

using namespace mapd_e2e;

namespace {

constexpr uint32_t kSwitchA = 0x7F000002;  // 127.0.0.2
constexpr uint32_t kSwitchB = 0x7F000003;  // 127.0.0.3

uint16_t msg_type(const std::vector<uint8_t>& m) { return m.size() >= 2 ? wire_load_be16(m.data()) : 0; }

constexpr const char* kDiscovery = " Discovery Timeout Interval: ";

// Types of what has arrived (everything the AP sent before a dump it has
// answered is here already).
std::vector<uint16_t> types(udp_peer& p, int ms = 100) {
    std::vector<uint16_t> out;
    for (auto& m : p.drain(ms)) out.push_back(msg_type(m));
    return out;
}

}  // namespace

TEST(Discovery, StaticAddressesFiveSecondsApartThenThirtySecondPause) {
    twin t;
    t.set("managed-ap", nullptr, "switch-address-1", "127.0.0.2");
    t.set("managed-ap", nullptr, "switch-address-2", "127.0.0.3");
    udp_peer a("127.0.0.2"), b("127.0.0.3");
    ASSERT_GE(a.fd, 0);
    ASSERT_GE(b.fd, 0);
    ASSERT_TRUE(t.start()) << t.log_text();

    t.advance(29);
    ASSERT_TRUE(t.dump_shows(kDiscovery, 1));
    EXPECT_TRUE(types(a).empty()) << "the first round waits 30 seconds";
    t.advance(1);
    auto first = a.recv(3000);
    ASSERT_EQ(first.size(), 105u) << "discover messages are always 105 bytes";
    EXPECT_EQ(msg_type(first), 1);
    EXPECT_EQ(wire_load_be16(first.data() + 2), 105);
    ASSERT_TRUE(t.dump_shows(kDiscovery, 5));
    EXPECT_TRUE(types(b).empty());

    t.advance(5);
    auto second = b.recv(3000);
    ASSERT_EQ(second.size(), 105u) << "the second slot 5 seconds later";
    t.advance(5);
    ASSERT_TRUE(t.dump_shows(kDiscovery, 30)) << "a walk without target pauses";
    EXPECT_TRUE(types(a).empty());
    EXPECT_TRUE(types(b).empty());
    t.advance(29);
    ASSERT_TRUE(t.dump_shows(kDiscovery, 1));
    EXPECT_TRUE(types(a).empty());
    t.advance(1);
    EXPECT_EQ(a.recv(3000).size(), 105u) << "and starts again from the first slot after 30 s";
}

TEST(Discovery, DhcpAddressesOnlyWithoutStaticOnes) {
    {
        twin t;
        t.write("/tmp/map_dhcp.conf", "# from the DHCP client\ndhcp switch address 1=127.0.0.2\n");
        udp_peer a("127.0.0.2");
        ASSERT_TRUE(t.start()) << t.log_text();
        t.advance(30);
        EXPECT_EQ(msg_type(a.recv(3000)), 1) << "no static slot: the DHCP address is used";
    }
    {
        twin t;
        t.set("managed-ap", nullptr, "switch-address-1", "127.0.0.3");
        t.write("/tmp/map_dhcp.conf", "dhcp switch address 1=127.0.0.2\n");
        udp_peer a("127.0.0.2"), b("127.0.0.3");
        ASSERT_TRUE(t.start()) << t.log_text();
        t.advance(30);
        EXPECT_EQ(msg_type(b.recv(3000)), 1);
        t.advance(5);
        ASSERT_TRUE(t.dump_shows(kDiscovery, 30));
        EXPECT_TRUE(types(a).empty()) << "a static slot hides the DHCP ones";
    }
}

TEST(Discovery, UdpDiscoverFromAnAllowedSwitchIsFollowedOncePerTwentySeconds) {
    twin t;
    t.set("managed-ap", nullptr, "switch-address-1", "127.0.0.2");
    udp_peer a("127.0.0.2"), b("127.0.0.3");
    ASSERT_TRUE(t.start()) << t.log_text();

    // No TLS server listens on 127.0.0.2:57777: the followed discover ends in
    // the failure notification, type 11, 105 bytes.
    ASSERT_TRUE(a.send_to(swsim_msg_discover(kSwitchA)));
    auto note = a.recv(5000);
    ASSERT_EQ(note.size(), 105u) << t.log_text();
    EXPECT_EQ(msg_type(note), 11);
    EXPECT_TRUE(t.wait_log("Unable to TCP connect to switch: 127.0.0.2", 2000));

    ASSERT_TRUE(a.send_to(swsim_msg_discover(kSwitchA)));
    // A switch that is not configured is not followed at all.
    ASSERT_TRUE(b.send_to(swsim_msg_discover(kSwitchB)));
    ASSERT_GE(t.dump_number(kDiscovery), 0);  // both handled by now
    EXPECT_TRUE(types(a).empty()) << "the same switch is not followed twice within 20 s";
    EXPECT_TRUE(types(b).empty());

    t.advance(20);
    ASSERT_TRUE(a.send_to(swsim_msg_discover(kSwitchA)));
    EXPECT_EQ(msg_type(a.recv(5000)), 11) << "followed again 20 seconds later";
}

TEST(Discovery, BadDiscoverMessagesAreDroppedAndTheDaemonRunsOn) {
    twin t;
    udp_peer a("127.0.0.2");
    ASSERT_TRUE(t.start()) << t.log_text();
    size_t mark = t.log_text().size();

    auto short_body = swsim_msg_discover(kSwitchA);
    short_body.resize(4 + 42);
    a.send_to(short_body);
    EXPECT_TRUE(t.wait_log("Corrupt Discovery Packet", 3000, mark));

    a.send_to(swsim_msg_discover(kSwitchA, 2, 2));
    EXPECT_TRUE(t.wait_log("Discover packet has unexpected device type 2", 3000, mark));

    auto unknown = swsim_msg_discover(kSwitchA);  // an element of type 7 clears the summary
    const uint8_t elem7[] = {0, 7, 0, 0};
    unknown.insert(unknown.end() - 5, elem7, elem7 + 4);
    wire_store_be16(unknown.data() + 2, static_cast<uint16_t>(unknown.size()));
    a.send_to(unknown);
    EXPECT_TRUE(t.wait_log("Discover packet has unexpected device type 0", 3000, mark));

    for (size_t len : {0, 1, 3, 4, 5, 47}) {
        std::vector<uint8_t> junk(len, 0xFF);
        if (len >= 2) junk[0] = 0, junk[1] = 1;
        a.send_to(junk);
    }
    a.send_to(swsim_msg_discover(kSwitchA, 3));
    EXPECT_TRUE(t.wait_log("unexpected protocol version 3, continue processing packet.", 3000, mark));
    EXPECT_EQ(msg_type(a.recv(5000)), 11) << "version 3 is followed all the same";
    EXPECT_EQ(kill(t.pid, 0), 0) << "the daemon is still running";
}

TEST(Discovery, LayerTwoPollIsQueuedAndFollowed) {
    int raw = socket(AF_PACKET, SOCK_RAW, htons(0x88E8));
    if (raw < 0) {
        GTEST_SKIP() << "raw packet sockets are not permitted here: " << strerror(errno);
    }
    twin t;
    udp_peer a("127.0.0.2");
    ASSERT_TRUE(t.start()) << t.log_text();

    auto msg = swsim_msg_discover(kSwitchA);
    std::vector<uint8_t> frame(20, 0);
    frame[12] = 0x88;
    frame[13] = 0xE8;
    frame[19] = 1;  // wireless poll
    frame.insert(frame.end(), msg.begin(), msg.end());
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_protocol = htons(0x88E8);
    to.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
    to.sll_halen = 6;
    ASSERT_EQ(sendto(raw, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(frame.size()));
    EXPECT_EQ(msg_type(a.recv(5000)), 11) << t.log_text();

    // A non-wireless frame (field 2) never reaches the dispatch.
    size_t mark = t.log_text().size();
    frame[19] = 2;
    sendto(raw, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    for (size_t len : {size_t{15}, size_t{16}, size_t{21}, size_t{23}}) {
        std::vector<uint8_t> stub(frame.begin(), frame.begin() + static_cast<long>(len));
        stub[19 < len ? 19 : 0] = 1;
        sendto(raw, stub.data(), stub.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    ASSERT_GE(t.dump_number(kDiscovery), 0);  // the frames were read before it
    EXPECT_TRUE(types(a).empty());
    EXPECT_EQ(t.log_text().find("Unable to TCP connect", mark), std::string::npos);
    EXPECT_EQ(kill(t.pid, 0), 0);
    close(raw);
}
