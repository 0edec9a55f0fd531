// The switch simulator's client messages: the commands it builds, byte for
// byte; the AP's client events it reads, field by field, and the faults it
// reports; the association policy and the scenario steps that set it.
#include "swsim/client_msg.hpp"

#include <gtest/gtest.h>

#include "swsim/config_msg.hpp"

#include "support/bytes.hpp"
#include "swsim/scenario.hpp"
#include "swsim/swsim.hpp"

using namespace mapd_test;

namespace {

const uint8_t kAp[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
const uint8_t kVap[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x51};
const uint8_t kCl[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x07};
const uint8_t kBssid[6] = {0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x0e};
const bytes ap = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
const bytes vap = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x51};
const bytes cl = {0x02, 0x00, 0x00, 0x00, 0x00, 0x07};
const bytes bssid = {0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x0e};

bytes head(uint16_t type, uint16_t len) { return wr().be16(type).be16(len).b; }
bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }
// PMK 1..32, then re-authentication interval and age.
bytes pmk_elem(uint32_t reauth, uint32_t age) {
    wr w;
    for (int i = 1; i <= 32; ++i) w.u8(i);
    return elem(0x5058, w.be32(reauth).be32(age).b);
}
const bytes assoc_req = head(96, 47) + elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) +
                        elem(0x5003, {1}) + elem(0x5004, text("corp"));

swsim_assoc_policy policy(const std::vector<std::string>& words) {
    swsim_assoc_policy p;
    std::string error;
    EXPECT_EQ(swsim_assoc_policy_parse(words, p, error), 0) << error;
    return p;
}

TEST(SwsimClientMsg, CommandsAreBuiltByteForByte) {
    swsim_client_msg req;
    memcpy(req.vap_mac, kVap, 6);
    memcpy(req.client_mac, kCl, 6);
    req.radio = 1;
    req.ssid = "corp";
    const bytes home = bytes{0} + bytes{0x00, 0x1a, 0x2b, 0x3c, 0x4e, 0x00} + bytes(12, 0) +
                       bytes{127, 0, 0, 3};
    struct row {
        const char* name;
        bytes got, want;
    } rows[] = {
        {"disassociate: 20 element bytes", swsim_msg_disassociate(kAp, kCl),
         head(26, 24) + elem(0x0021, ap) + elem(0x5002, cl)},
        {"new ARP: 28 element bytes", swsim_msg_new_arp(kCl, 0xC0A8010A, kVap),
         head(22, 32) + elem(0x1003, cl) + elem(0x1004, {0xc0, 0xa8, 0x01, 0x0a}) + elem(0x1005, vap)},
        {"threat deauth", swsim_msg_threat_deauth(kAp, 2, 11, kCl, kBssid),
         head(116, 44) + elem(0x0067, {2}) + elem(0x0021, ap) + elem(0x0065, bssid) +
             elem(0x0068, {11}) + elem(0x5002, cl)},
        {"tunnel with VLAN 100", swsim_assoc_answer(policy({"tunnel", "vlan=100", "age=9"}), req, kAp),
         head(97, 132) + bytes(assoc_req.begin() + 4, assoc_req.end()) + elem(0x500C, {0, 100}) +
             elem(0x5042, home) + elem(0x5044, {0, 0, 0, 0x20}) + pmk_elem(3600, 9)},
        {"refuse: a disassociate command", swsim_assoc_answer(policy({"refuse"}), req, kAp),
         head(26, 24) + elem(0x0021, ap) + elem(0x5002, cl)},
        {"none: no answer", swsim_assoc_answer(policy({"none"}), req, kAp), {}},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.name;
}

TEST(SwsimClientMsg, EventsAreReadFieldByFieldAndFaultsNamed) {
    const bytes addr = bytes(12, 0) + bytes{192, 168, 1, 10};
    struct row {
        const char* name;
        bytes msg;
        const char* line;  // the whole line; null: not a client message
    } rows[] = {
        {"probe request",
         head(11, 43) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {0}) +
             elem(0x5004, {}) + elem(0x5005, {40}) + elem(0x5006, {36}),
         "SWITCH_AP_PROBE_REQ (11), 43 bytes: vap 00:1a:2b:3c:4d:51 client 02:00:00:00:00:07 "
         "radio 0 ssid \"\" rssi 40 channel 36"},
        {"TLS failure notification", head(11, 9) + elem(1, {2}), nullptr},
        {"client address",
         head(4358, 49) + elem(0x5001, cl) + elem(0x5002, {1}) + elem(0x5003, addr) +
             elem(0x5004, {2}) + elem(0x5005, {3}),
         "MAP_CONFIG_STATS_IE_CP_CLIENT_AUTH_REQ (4358), 49 bytes: client 02:00:00:00:00:07 "
         "addr-type 1 addr 000000000000000000000000/192.168.1.10 radio 2 vap-id 3"},
        {"a wrong length field and a missing element", head(14, 40) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5010, {1}),
         "SWITCH_AP_AUTHEN_FAIL (14), 29 bytes: vap 00:1a:2b:3c:4d:51 client 02:00:00:00:00:07 "
         "auth-status 1; MALFORMED: length field 40 in 29 bytes, element 0x5004 missing"},
        {"an SSID of 33 bytes in a probe request",
         head(11, 76) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {0}) +
             elem(0x5004, text(std::string(33, 'a'))) + elem(0x5005, {1}) + elem(0x5006, {1}),
         "SWITCH_AP_PROBE_REQ (11), 76 bytes: vap 00:1a:2b:3c:4d:51 client 02:00:00:00:00:07 "
         "radio 0 elem-0x5004(33) rssi 1 channel 1; MALFORMED: element 0x5004 length 33 (expected 0..32)"},
    };
    for (const auto& r : rows) {
        swsim_client_msg m;
        EXPECT_EQ(swsim_client_parse(r.msg, m), r.line ? 0 : -1) << r.name;
        EXPECT_EQ(swsim_client_decode(r.msg), r.line ? r.line : "") << r.name;
    }
}

TEST(SwsimClientMsg, ParsedFieldsFeedTheAnswer) {
    const bytes home = bytes{1} + vap + bytes(12, 0) + bytes{10, 0, 0, 9};
    const bytes reply = head(97, 132) + bytes(assoc_req.begin() + 4, assoc_req.end()) +
                        elem(0x500C, {0x01, 0x2c}) + elem(0x5042, home) + elem(0x5044, {0, 0, 0, 0x21}) +
                        pmk_elem(3600, 7);
    swsim_client_msg m;
    ASSERT_EQ(swsim_client_parse(reply, m), 0);
    EXPECT_EQ(m.problems, "");
    EXPECT_TRUE(m.vlan == 300 && m.home_ip == 0x0A000009u && m.age == 7u);
    // With no link up an answer fails to go out: whether one is tried
    // follows the policy (none by default) and the message type.
    swsim sw;
    EXPECT_EQ(swsim_answer_assoc(sw, assoc_req), 0);
    sw.assoc = policy({"refuse"});
    EXPECT_EQ(swsim_answer_assoc(sw, assoc_req), -1);
    EXPECT_EQ(swsim_answer_assoc(sw, reply), 0);
}

TEST(SwsimClientMsg, PolicyAndCommandWordsAreChecked) {
    const swsim_assoc_policy p = policy(swsim_split_commas("tunnel,vlan=4095,home-ip=10.1.2.3"));
    EXPECT_TRUE(p.mode == swsim_assoc_mode::accept && p.tunnel && p.vlan == 4095 && p.home_ip == 0x0A010203);
    for (const std::vector<std::string>& words : {std::vector<std::string>{"accept", "vlan=4096"}, {"maybe"}}) {
        swsim_assoc_policy q;
        std::string error;
        EXPECT_EQ(swsim_assoc_policy_parse(words, q, error), -1) << words.back();
    }
    // A step's own AP MAC wins over the switch's AP; other verbs are not client steps.
    swsim_client_cmd c;
    std::string error;
    ASSERT_EQ(swsim_client_cmd_parse("disassociate", {"02:00:00:00:00:07", "00:1a:2b:3c:4d:5f"}, c, error), 0);
    const bytes other = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5f};
    EXPECT_EQ(swsim_client_cmd_build(c, kAp), head(26, 24) + elem(0x0021, other) + elem(0x5002, cl));
    EXPECT_EQ(swsim_client_cmd_parse("keepalive", {"5"}, c, error), 1);
}

TEST(SwsimClientMsg, ScenarioStepsAreCheckedWhenRead) {
    swsim_scenario sc;
    std::string error;
    EXPECT_EQ(swsim_scenario_parse("\nnew-arp 02:00:00:00:00:07 10.0.0.2\n", sc, error), -1);
    EXPECT_TRUE(contains(error, "line 2: wrong number of values")) << error;
    // The scenarios that come with swsim read as they are.
    for (const char* f : {"demo.txt", "configure.txt", "clients.txt", "roaming.txt"}) {
        EXPECT_EQ(swsim_scenario_load(std::string(MAPD_SWSIM_SCENARIOS) + "/" + f, sc, error), 0) << error;
    }
}

// The tunnel setup and the portal and tunnel configuration lines, byte for
// byte.
TEST(SwsimConfigMsg, TunnelAndPortalMessagesAreBuiltByteForByte) {
    auto config = [](const std::vector<std::string>& lines) {
        bytes m;
        std::string error;
        EXPECT_EQ(swsim_config_build(lines, m, error), 0) << error;
        return m;
    };
    auto msg = [](uint16_t type, const bytes& body) {
        return head(type, static_cast<uint16_t>(4 + body.size())) + body;
    };
    const std::string CL = "02:00:00:00:00:07", AP = "00:1a:2b:3c:4d:50", VAP = "00:1a:2b:3c:4d:51";
    bytes setup;
    std::string error;
    ASSERT_EQ(swsim_tunnel_step_build("dl2-setup", {AP, CL, VAP, "10.0.0.2", "300"}, setup, error), 0) << error;
    EXPECT_EQ(setup, msg(114, elem(0x5041, ap) + elem(19, cl) + elem(33, vap) +
                                  elem(257, bytes(12, 0) + bytes{10, 0, 0, 2}) + elem(0x500C, {0x01, 0x2c})));
    const bytes portal =
        elem(0x1100, bytes{1, 2, 1} + bytes(12, 0) + bytes{10, 1, 0, 1, 2, 0, 0, 0, 1, 1, 24}) +
        elem(0x1101, {2, 3}) + elem(0x1104, {1, 0}) + elem(0x1105, {1, 1}) +
        elem(0x1107, {1, 2, 0x1f, 0x90}) + elem(0x1109, {1, 2, 0x01, 0xbb}) +
        elem(0x110a, {2, 1, 0x20, 0xfb}) + elem(0x1103, cl + wr().be32(1000).be32(2000).b) +
        elem(0x1102, cl) + elem(0x1108, cl);
    // Portal lines alone go without the sequence's start and stop.
    EXPECT_EQ(config({"portal 1 2 ip=10.1.0.1 mac=02:00:00:00:01:01 prefix=24", "portal-off 2 3",
                      "portal-block 1 0", "portal-unblock 1 1", "portal-auth-port 1 2 8080",
                      "portal-secure-port 1 1 2 443", "portal-secure-port 2 2 1 8443",
                      "portal-client auth " + CL + " 1000 2000", "portal-client unauth " + CL,
                      "portal-client deauth " + CL}),
              msg(4, portal));
    EXPECT_EQ(config({"mtu 1400", "portal 2 0 type=3 ip=1.2.3.4"}),
              msg(4, elem(0x2001, {}) + elem(0x200a, {0x05, 0x78}) +
                         elem(0x1100, bytes{2, 0, 3} + bytes(12, 0) + bytes{1, 2, 3, 4} + bytes(7, 0)) +
                         elem(0x2002, {})));
    // The VAP's tunnel: mode at byte 41, subnet and mask behind it.
    const bytes m = config({"vap 1 1 tunnel=1 subnet=10.1.0.0 mask=255.255.0.0"});
    ASSERT_EQ(m.size(), 4u + 4 + 283 + 4);
    EXPECT_EQ(bytes(m.begin() + 8, m.begin() + 12), (bytes{0x20, 0x05, 0x01, 0x17}));
    EXPECT_EQ(bytes(m.begin() + 12 + 40, m.begin() + 12 + 51),
              (bytes{0, 1, 10, 1, 0, 0, 255, 255, 0, 0, 0}));
    for (const char* bad : {"portal-secure-port 3 1 1 443", "vap 1 1 subnet=10.1.0"}) {
        EXPECT_EQ(swsim_config_build({bad}, setup, error), -1) << bad;
    }
}

}  // namespace
