// The client association relay on the twin: hostapd's client events reach the
// switch simulator and its answers and commands come back to hostapd, each as
// the peer on the other side reads it (the stand-in and the simulator decode
// the bytes themselves).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/twin_fixture.hpp"
#include "swsim/client_msg.hpp"
#include "swsim/roam_msg.hpp"
#include "swsim/swsim.hpp"
#include "twin/local_msg.hpp"
#include "twin/standins.hpp"

using namespace mapd_e2e;

namespace {

const uint8_t kVap[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x51};
const uint8_t kClient[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

struct closers {
    swsim& sw;
    standins& st;
    ~closers() {
        swsim_close(sw);
        standins_close(st);
    }
};

}  // namespace

TEST(Relay, ClientEventsReachTheSwitchAndItsAnswersReachHostapd) {
    twin t;
    swsim sw;
    standins st;
    closers close_all{sw, st};
    sw.print = [](const std::string&) {};
    st.keep = true;
    std::string error;
    ASSERT_EQ(swsim_open(sw, swsim_options{}, error), 0) << error;
    ASSERT_EQ(standins_open(st, error), 0) << error;
    t.write("/var/run/hostapd.pid", std::to_string(getpid()) + "\n");
    ASSERT_TRUE(t.start()) << t.log_text();
    ASSERT_EQ(swsim_establish(sw, 12000, error), 0) << error;
    std::vector<uint8_t> m;
    ASSERT_EQ(swsim_send(sw, swsim_msg_keepalive(600)), 0);
    ASSERT_EQ(swsim_recv(sw, m, 3000), 0);

    // The next message of `type` from the AP over TLS, read as the switch reads it.
    swsim_client_msg c;
    auto from_ap = [&](uint16_t type) {
        c = swsim_client_msg{};
        return eventually([&] {
            return swsim_recv(sw, m, 100) == 0 && swsim_client_parse(m, c) == 0 && c.type == type;
        }, 5000);
    };
    // The next datagram hostapd receives of `type`.
    std::vector<uint8_t> h;
    auto at_hostapd = [&](uint8_t type) {
        return eventually([&] {
            standins_poll(st, 50);
            for (auto& [k, d] : st.received) {
                if (k == standin_kind::hostapd && !d.empty() && d[0] == type) {
                    h = d;
                    st.received.clear();
                    return true;
                }
            }
            st.received.clear();
            return false;
        }, 5000);
    };

    // A probe request goes over UDP.
    ASSERT_EQ(standins_send(st, standin_kind::hostapd,
                            twin_msg_probe_req(kVap, kClient, 0, "guest", 40, 36)), 0);
    ASSERT_TRUE(eventually([&] {
        return swsim_udp_recv(sw, m, 100) == 0 && swsim_client_parse(m, c) == 0 && c.type == 11;
    }, 5000));
    EXPECT_EQ(c.problems, "");
    EXPECT_EQ(c.ssid, "guest");
    EXPECT_EQ(c.rssi, 40);
    EXPECT_EQ(memcmp(c.client_mac, kClient, 6), 0);

    // Association request -> switch -> reply with VLAN 100 -> hostapd.
    ASSERT_EQ(standins_send(st, standin_kind::hostapd,
                            twin_msg_assoc_req(sw.ident.mac, kVap, kClient, 1, "corp")), 0);
    ASSERT_TRUE(from_ap(SWSIM_CLIENT_ASSOC_REQ));
    EXPECT_EQ(c.problems, "");
    EXPECT_EQ(c.ssid, "corp");
    EXPECT_EQ(c.radio, 1);
    EXPECT_EQ(memcmp(c.ap_mac, sw.ident.mac, 6), 0);
    swsim_assoc_policy p;
    p.vlan = 100;
    ASSERT_EQ(swsim_send(sw, swsim_assoc_answer(p, c, sw.ident.mac)), 0);
    ASSERT_TRUE(at_hostapd(18));
    ASSERT_EQ(h.size(), 276u);
    EXPECT_EQ(memcmp(&h[13], kClient, 6), 0);
    EXPECT_EQ(h[19], 1) << "radio";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h[20])), "corp");
    uint16_t vlan = 0;
    memcpy(&vlan, &h[100], 2);
    EXPECT_EQ(vlan, 100) << "host order";

    // The switch disassociates the client; hostapd disassociates another.
    ASSERT_EQ(swsim_send(sw, swsim_msg_disassociate(sw.ident.mac, kClient)), 0);
    ASSERT_TRUE(at_hostapd(5));
    ASSERT_EQ(h.size(), 7u);
    EXPECT_EQ(memcmp(&h[1], kClient, 6), 0);
    ASSERT_EQ(standins_send(st, standin_kind::hostapd, twin_msg_disassoc_req(kVap, kClient, 1)), 0);
    ASSERT_TRUE(from_ap(13));
    EXPECT_EQ(c.problems, "");
    EXPECT_EQ(c.length, 29);

    // An authentication failure, and a new ARP entry into the tunnel's table.
    ASSERT_EQ(standins_send(st, standin_kind::hostapd,
                            twin_msg_authen_fail(kVap, kClient, "corp", 2)), 0);
    ASSERT_TRUE(from_ap(14));
    EXPECT_EQ(c.auth_status, 2);
    ASSERT_EQ(swsim_send(sw, swsim_msg_new_arp(kClient, 0x0a000005, kVap)), 0);
    ASSERT_TRUE(eventually([&] { return t.read("/sysctl/3.21.30.31").size() == 4; }, 5000));
    EXPECT_EQ(t.read("/sysctl/3.21.30.32"), std::string(reinterpret_cast<const char*>(kClient), 6));
    EXPECT_EQ(t.read("/sysctl/3.21.30.33"), std::string(reinterpret_cast<const char*>(kVap), 6));
}

// A roaming client and admission control on the twin: the TSPEC application
// hears the AP turn managed; a client's authentication reaches the switch and
// the client table; a TSPEC request is admitted and the reply reaches the
// TSPEC application; the link dropping tells the application and empties the
// table.
TEST(Roaming, AuthenticationTspecAndTheModeChanges) {
    twin t;
    swsim sw;
    standins st;
    closers close_all{sw, st};
    sw.print = [](const std::string&) {};
    sw.roam.tspec = swsim_tspec_mode::admit;
    st.keep = true;
    std::string error;
    ASSERT_EQ(swsim_open(sw, swsim_options{}, error), 0) << error;
    ASSERT_EQ(standins_open(st, error), 0) << error;
    t.write("/var/run/hostapd.pid", std::to_string(getpid()) + "\n");
    ASSERT_TRUE(t.start()) << t.log_text();
    ASSERT_EQ(swsim_establish(sw, 12000, error), 0) << error;
    std::vector<uint8_t> m;
    ASSERT_EQ(swsim_send(sw, swsim_msg_keepalive(600)), 0);

    // The next datagram of `type` a stand-in receives.
    std::vector<uint8_t> got;
    auto heard = [&](standin_kind who, uint8_t type) {
        return eventually([&] {
            standins_poll(st, 50);
            for (size_t i = 0; i < st.received.size(); ++i) {
                auto& [k, d] = st.received[i];
                if (k == who && !d.empty() && d[0] == type) {
                    got = d;
                    st.received.erase(st.received.begin(), st.received.begin() + long(i) + 1);
                    return true;
                }
            }
            return false;
        }, 5000);
    };
    swsim_client_msg c;
    auto from_ap = [&](uint16_t type) {
        c = swsim_client_msg{};
        return eventually([&] {
            return swsim_recv(sw, m, 100) == 0 && swsim_client_parse(m, c) == 0 && c.type == type;
        }, 5000);
    };
    // The client table's size, from the AP's client association dump (261).
    auto clients = [&] {
        const size_t mark = t.log_size();
        udp_peer("127.0.0.1", 0).send_to({0x01, 0x05, 0x00, 0x04});
        if (!t.wait_log("**** Total =", 3000, mark)) return -1;
        const std::string d = t.log_from(mark);
        return atoi(d.c_str() + d.find("**** Total =") + 12);
    };

    ASSERT_TRUE(heard(standin_kind::tspec, 6)) << "managed";
    EXPECT_EQ(got, (std::vector<uint8_t>{6, 1, 1}));

    twin_client_auth a;
    memcpy(a.vap, kVap, 6);
    memcpy(a.client, kClient, 6);
    a.ssid = "corp";
    a.user = "alice";
    a.vlan = 30;
    ASSERT_EQ(standins_send(st, standin_kind::hostapd, twin_msg_client_auth(a)), 0);
    ASSERT_TRUE(from_ap(39)) << "client authentication";
    EXPECT_EQ(c.problems, "");
    EXPECT_EQ(m.size(), 507u) << "no RRM element";
    EXPECT_EQ(c.user, "alice");
    EXPECT_EQ(c.vlan, 30);
    EXPECT_EQ(clients(), 1);

    twin_tspec ts;
    memcpy(ts.ap, sw.ident.mac, 6);
    memcpy(ts.vap, kVap, 6);
    memcpy(ts.client, kClient, 6);
    ts.ssid = "corp";
    ASSERT_EQ(standins_send(st, standin_kind::tspec, twin_msg_tspec(ts)), 0);
    ASSERT_TRUE(from_ap(104)) << "admission request";  // the simulator admits it
    EXPECT_EQ(c.problems, "");
    EXPECT_EQ(m.size(), 155u);
    ASSERT_TRUE(heard(standin_kind::tspec, 4)) << "the admission reply";
    ASSERT_EQ(got.size(), 120u);
    EXPECT_EQ(got[1], 2) << "admission reply";
    EXPECT_EQ(got[119], 1) << "admitted";
    EXPECT_EQ(memcmp(&got[14], kClient, 6), 0);

    swsim_drop(sw);
    ASSERT_TRUE(heard(standin_kind::tspec, 6)) << "stand-alone";
    EXPECT_EQ(got, (std::vector<uint8_t>{6, 1, 0}));
    EXPECT_EQ(clients(), 0) << "the link's clean-up empties the client table";
}
