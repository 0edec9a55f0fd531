// Discovery on the twin: the AP's own discover rounds, discover messages from a
// switch over UDP and as layer-2 polls, and the TLS failure notification that
// ends a followed discover when no switch answers on the TLS port.
#include <gtest/gtest.h>
#include <signal.h>

#include "e2e/twin_fixture.hpp"
#include "swsim/swsim.hpp"
#include "wire/wire.hpp"

using namespace mapd_e2e;

namespace {

constexpr uint32_t kSwitchA = 0x7F000002;  // 127.0.0.2
constexpr const char* kDiscovery = " Discovery Timeout Interval: ";

uint16_t type(const std::vector<uint8_t>& m) {
    return m.size() >= 2 ? wire_load_be16(m.data()) : 0;
}

// The types of what has arrived: once the AP has answered a dump, everything
// it sent before is here already.
std::vector<uint16_t> arrived(udp_peer& p) {
    std::vector<uint16_t> out;
    for (auto m = p.recv(0); !m.empty(); m = p.recv(0))
        out.push_back(type(m));
    return out;
}

}  // namespace

// Static slots are walked 5 s apart after a 30 s wait; a DHCP-supplied
// address is left out while static ones are set.
TEST(Discovery, StaticAddressesFiveSecondsApartThenThirtySecondPause) {
    twin t;
    t.set("managed-ap", nullptr, "switch-address-1", "127.0.0.2");
    t.set("managed-ap", nullptr, "switch-address-2", "127.0.0.3");
    t.write("/tmp/map_dhcp.conf", "# from the DHCP client\ndhcp switch address 1=127.0.0.4\n");
    udp_peer a("127.0.0.2"), b("127.0.0.3"), dhcp("127.0.0.4");
    ASSERT_TRUE(a.fd >= 0 && b.fd >= 0 && dhcp.fd >= 0);
    ASSERT_TRUE(t.start()) << t.log_text();

    t.advance(29);
    ASSERT_TRUE(t.dump_shows(kDiscovery, 1));
    EXPECT_TRUE(arrived(a).empty()) << "the first round waits 30 seconds";
    t.advance(1);
    auto first = a.recv(3000);
    ASSERT_EQ(first.size(), 105u) << "discover messages are always 105 bytes";
    EXPECT_EQ(type(first), 1);
    EXPECT_EQ(wire_load_be16(first.data() + 2), 105);
    ASSERT_TRUE(t.dump_shows(kDiscovery, 5));
    EXPECT_TRUE(arrived(b).empty());
    t.advance(5);
    EXPECT_EQ(b.recv(3000).size(), 105u) << "the second slot 5 seconds later";
    t.advance(5);
    ASSERT_TRUE(t.dump_shows(kDiscovery, 30)) << "a walk without target pauses";
    EXPECT_TRUE(arrived(a).empty());
    EXPECT_TRUE(arrived(b).empty());
    EXPECT_TRUE(arrived(dhcp).empty()) << "static slots hide the DHCP ones";
    t.advance(29);
    ASSERT_TRUE(t.dump_shows(kDiscovery, 1));
    EXPECT_TRUE(arrived(a).empty());
    t.advance(1);
    EXPECT_EQ(a.recv(3000).size(), 105u) << "and starts again from the first slot after 30 s";
}

TEST(Discovery, DhcpAddressIsUsedWithoutStaticOnes) {
    twin t;
    t.write("/tmp/map_dhcp.conf", "dhcp switch address 1=127.0.0.4\n");
    udp_peer dhcp("127.0.0.4");
    ASSERT_TRUE(t.start()) << t.log_text();
    t.advance(30);
    EXPECT_EQ(type(dhcp.recv(3000)), 1);
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
    EXPECT_EQ(type(note), 11);
    EXPECT_TRUE(t.wait_log("Unable to TCP connect to switch: 127.0.0.2", 2000));

    ASSERT_TRUE(a.send_to(swsim_msg_discover(kSwitchA)));
    // A switch that is not configured is not followed at all.
    ASSERT_TRUE(b.send_to(swsim_msg_discover(0x7F000003)));
    ASSERT_FALSE(t.dump(kDiscovery).empty());  // both handled by now
    EXPECT_TRUE(arrived(a).empty()) << "the same switch is not followed twice within 20 s";
    EXPECT_TRUE(arrived(b).empty());

    t.advance(20);
    ASSERT_TRUE(a.send_to(swsim_msg_discover(kSwitchA)));
    EXPECT_EQ(type(a.recv(5000)), 11) << "followed again 20 seconds later";
}

// Bad discover messages are dropped with their log lines; a layer-2 poll is
// followed like a UDP discover, other layer-2 frames never reach the dispatch.
TEST(Discovery, BadDiscoverMessagesAreDroppedAndLayerTwoPollsFollowed) {
    twin t;
    udp_peer a("127.0.0.2");
    ASSERT_TRUE(t.start()) << t.log_text();

    auto short_body = swsim_msg_discover(kSwitchA);
    short_body.resize(4 + 42);
    a.send_to(short_body);
    EXPECT_TRUE(t.wait_log("Corrupt Discovery Packet", 3000));
    a.send_to(swsim_msg_discover(kSwitchA, 2, 2));
    EXPECT_TRUE(t.wait_log("Discover packet has unexpected device type 2", 3000));
    auto unknown = swsim_msg_discover(kSwitchA);  // an element of type 7 clears the summary
    const uint8_t elem7[] = {0, 7, 0, 0};
    unknown.insert(unknown.end() - 5, elem7, elem7 + 4);
    wire_store_be16(unknown.data() + 2, static_cast<uint16_t>(unknown.size()));
    a.send_to(unknown);
    EXPECT_TRUE(t.wait_log("Discover packet has unexpected device type 0", 3000));
    for (size_t len : {0, 1, 3, 4, 5, 47}) {
        std::vector<uint8_t> junk(len, 0xFF);
        if (len >= 2)
            junk[0] = 0, junk[1] = 1;
        a.send_to(junk);
    }
    a.send_to(swsim_msg_discover(kSwitchA, 3));
    EXPECT_TRUE(t.wait_log("unexpected protocol version 3, continue processing packet.", 3000));
    EXPECT_EQ(type(a.recv(5000)), 11) << "version 3 is followed all the same";

    // Each part 20 s later, when the same switch may be followed again.
    auto frame = l2_poll(kSwitchA);
    t.advance(20);
    if (!send_l2(frame))
        GTEST_SKIP() << "raw packet sockets are not permitted here";
    EXPECT_EQ(type(a.recv(5000)), 11) << t.log_text();
    t.advance(20);
    frame[19] = 2;  // not a wireless poll
    send_l2(frame);
    for (size_t len : {15, 16, 21, 23}) {
        std::vector<uint8_t> stub(frame.begin(), frame.begin() + static_cast<long>(len));
        stub[19 < len ? 19 : 0] = 1;
        send_l2(stub);
    }
    ASSERT_FALSE(t.dump(kDiscovery).empty());  // the frames were read before it
    EXPECT_TRUE(arrived(a).empty());
    EXPECT_EQ(kill(t.pid, 0), 0) << "the daemon is still running";
}
