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
bytes first(const bytes& b, size_t n) { return bytes(b.begin(), b.begin() + static_cast<long>(n)); }
bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }
// PMK 1..32, then re-authentication interval and age.
bytes pmk_elem(uint32_t reauth, uint32_t age) {
    wr w;
    for (int i = 1; i <= 32; ++i) w.u8(i);
    return elem(0x5058, w.be32(reauth).be32(age).b);
}

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
    const bytes accept_tail = elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) +
                              elem(0x5003, {1}) + elem(0x5004, text("corp"));
    const bytes home = bytes{0} + bytes{0x00, 0x1a, 0x2b, 0x3c, 0x4e, 0x00} + bytes(12, 0) +
                       bytes{127, 0, 0, 3};
    struct row {
        const char* name;
        bytes got, want;
    } rows[] = {
        {"disassociate: 20 element bytes", swsim_msg_disassociate(kAp, kCl),
         head(26, 24) + elem(0x0021, ap) + elem(0x5002, cl)},
        {"resend: 20 element bytes", swsim_msg_resend_client(kAp, kCl),
         head(40, 24) + elem(0x0021, ap) + elem(0x5002, cl)},
        {"new ARP: 28 element bytes", swsim_msg_new_arp(kCl, 0xC0A8010A, kVap),
         head(22, 32) + elem(0x1003, cl) + elem(0x1004, {0xc0, 0xa8, 0x01, 0x0a}) + elem(0x1005, vap)},
        {"threat deauth", swsim_msg_threat_deauth(kAp, 2, 11, kCl, kBssid),
         head(116, 44) + elem(0x0067, {2}) + elem(0x0021, ap) + elem(0x0065, bssid) +
             elem(0x0068, {11}) + elem(0x5002, cl)},
        {"accept", swsim_assoc_answer(policy({"accept", "reauth=600", "age=9"}), req, kAp),
         head(97, 99) + accept_tail + elem(0x5044, {0, 0, 0, 0}) + pmk_elem(600, 9)},
        {"tunnel with VLAN 100", swsim_assoc_answer(policy({"tunnel", "vlan=100"}), req, kAp),
         head(97, 132) + accept_tail + elem(0x500C, {0, 100}) + elem(0x5042, home) +
             elem(0x5044, {0, 0, 0, 0x20}) + pmk_elem(3600, 0)},
        {"accept with VLAN and status bits", swsim_assoc_answer(policy({"accept", "vlan=4095", "status=0x101"}), req, kAp),
         head(97, 105) + accept_tail + elem(0x500C, {0x0f, 0xff}) + elem(0x5044, {0, 0, 1, 1}) +
             pmk_elem(3600, 0)},
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
        {"association request",
         head(96, 47) + elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {1}) +
             elem(0x5004, text("corp")),
         "CLIENT_ASSOC_REQ (96), 47 bytes: ap 00:1a:2b:3c:4d:50 vap 00:1a:2b:3c:4d:51 client "
         "02:00:00:00:00:07 radio 1 ssid \"corp\""},
        {"probe request",
         head(11, 43) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {0}) +
             elem(0x5004, {}) + elem(0x5005, {40}) + elem(0x5006, {36}),
         "SWITCH_AP_PROBE_REQ (11), 43 bytes: vap 00:1a:2b:3c:4d:51 client 02:00:00:00:00:07 "
         "radio 0 ssid \"\" rssi 40 channel 36"},
        {"TLS failure notification", head(11, 9) + elem(1, {2}), nullptr},
        {"disassociation", head(13, 29) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {1}),
         "SWITCH_AP_DISASSOC_REQ (13), 29 bytes: vap 00:1a:2b:3c:4d:51 client 02:00:00:00:00:07 radio 1"},
        {"authentication failure",
         head(14, 34) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5004, text("x")) + elem(0x5010, {2}),
         "SWITCH_AP_AUTHEN_FAIL (14), 34 bytes: vap 00:1a:2b:3c:4d:51 client 02:00:00:00:00:07 "
         "ssid \"x\" auth-status 2"},
        {"client address",
         head(4358, 49) + elem(0x5001, cl) + elem(0x5002, {1}) + elem(0x5003, addr) +
             elem(0x5004, {2}) + elem(0x5005, {3}),
         "MAP_CONFIG_STATS_IE_CP_CLIENT_AUTH_REQ (4358), 49 bytes: client 02:00:00:00:00:07 "
         "addr-type 1 addr 000000000000000000000000/192.168.1.10 radio 2 vap-id 3"},
        {"tunnel termination", head(112, 24) + elem(0x5041, ap) + elem(0x0013, cl),
         "MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID (112), 24 bytes: home-ap 00:1a:2b:3c:4d:50 client "
         "02:00:00:00:00:07"},
        {"a radio of two bytes", head(13, 30) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {0, 1}),
         "SWITCH_AP_DISASSOC_REQ (13), 30 bytes: vap 00:1a:2b:3c:4d:51 client 02:00:00:00:00:07 "
         "elem-0x5003(2); MALFORMED: element 0x5003 length 2 (expected 1)"},
        {"elements out of order", head(13, 29) + elem(0x5002, cl) + elem(0x5001, vap) + elem(0x5003, {1}),
         "SWITCH_AP_DISASSOC_REQ (13), 29 bytes: client 02:00:00:00:00:07 elem-0x5001(6) radio 1; "
         "MALFORMED: element 0x5001 missing, element 0x5001 out of order"},
        {"a wrong length field and a missing element", head(14, 40) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5010, {1}),
         "SWITCH_AP_AUTHEN_FAIL (14), 29 bytes: vap 00:1a:2b:3c:4d:51 client 02:00:00:00:00:07 "
         "auth-status 1; MALFORMED: length field 40 in 29 bytes, element 0x5004 missing"},
        {"an SSID of 33 bytes in a probe request",
         head(11, 76) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {0}) +
             elem(0x5004, text(std::string(33, 'a'))) + elem(0x5005, {1}) + elem(0x5006, {1}),
         "SWITCH_AP_PROBE_REQ (11), 76 bytes: vap 00:1a:2b:3c:4d:51 client 02:00:00:00:00:07 "
         "radio 0 elem-0x5004(33) rssi 1 channel 1; MALFORMED: element 0x5004 length 33 (expected 0..32)"},
        {"an element cut short", head(112, 23) + elem(0x5041, ap) + first(elem(0x0013, cl), 9),
         "MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID (112), 23 bytes: home-ap 00:1a:2b:3c:4d:50; MALFORMED: "
         "element 0x0013 cut short"},
    };
    for (const auto& r : rows) {
        swsim_client_msg m;
        EXPECT_EQ(swsim_client_parse(r.msg, m), r.line ? 0 : -1) << r.name;
        EXPECT_EQ(swsim_client_decode(r.msg), r.line ? r.line : "") << r.name;
    }
}

TEST(SwsimClientMsg, ParsedFieldsFeedTheAnswer) {
    const bytes home = bytes{1} + vap + bytes(12, 0) + bytes{10, 0, 0, 9};
    const bytes reply = head(97, 132) + elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) +
                        elem(0x5003, {1}) + elem(0x5004, text("corp")) + elem(0x500C, {0x01, 0x2c}) +
                        elem(0x5042, home) + elem(0x5044, {0, 0, 0, 0x21}) + pmk_elem(3600, 7);
    swsim_client_msg m;
    ASSERT_EQ(swsim_client_parse(reply, m), 0);
    EXPECT_EQ(m.problems, "");
    EXPECT_EQ(0, memcmp(m.ap_mac, kAp, 6));
    EXPECT_EQ(0, memcmp(m.vap_mac, kVap, 6));
    EXPECT_EQ(0, memcmp(m.client_mac, kCl, 6));
    EXPECT_EQ(0, memcmp(m.home_ap_mac, kVap, 6));
    EXPECT_EQ(m.radio, 1);
    EXPECT_EQ(m.ssid, "corp");
    EXPECT_EQ(m.vlan, 300);
    EXPECT_EQ(m.home_ap, 1);
    EXPECT_EQ(m.home_ip, 0x0A000009u);
    EXPECT_EQ(m.status, 0x21u);
    EXPECT_EQ(m.pmk[31], 32);
    EXPECT_EQ(m.reauth, 3600u);
    EXPECT_EQ(m.age, 7u);
    EXPECT_TRUE(m.has(0x5042));
    // With no link up an answer fails to go out: whether one is tried
    // follows the policy and the message type.
    swsim sw;
    const bytes req = head(96, 47) + elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) +
                      elem(0x5003, {1}) + elem(0x5004, text("corp"));
    EXPECT_EQ(swsim_answer_assoc(sw, req), 0);
    sw.assoc = policy({"refuse"});
    EXPECT_EQ(swsim_answer_assoc(sw, req), -1);
    EXPECT_EQ(swsim_answer_assoc(sw, reply), 0);
}

TEST(SwsimClientMsg, PolicyAndCommandWordsAreChecked) {
    struct prow {
        std::vector<std::string> words;
        int rc;
        swsim_assoc_mode mode;
        bool tunnel;
        uint16_t vlan;
        uint32_t home_ip;
    } prows[] = {
        {{"accept"}, 0, swsim_assoc_mode::accept, false, 0, 0x7F000003},
        {swsim_split_commas("tunnel,vlan=100,home-ip=10.1.2.3"), 0, swsim_assoc_mode::accept, true, 100, 0x0A010203},
        {{"refuse"}, 0, swsim_assoc_mode::refuse, false, 0, 0x7F000003},
        {{"none"}, 0, swsim_assoc_mode::none, false, 0, 0x7F000003},
        {{"accept", "vlan=4096"}, -1, {}, false, 0, 0},
        {{"accept", "vlan"}, -1, {}, false, 0, 0},
        {{"accept", "colour=red"}, -1, {}, false, 0, 0},
        {{"tunnel", "home=00:11"}, -1, {}, false, 0, 0},
        {{"maybe"}, -1, {}, false, 0, 0},
        {{}, -1, {}, false, 0, 0},
    };
    for (const auto& r : prows) {
        swsim_assoc_policy p;
        std::string error;
        ASSERT_EQ(swsim_assoc_policy_parse(r.words, p, error), r.rc) << ::testing::PrintToString(r.words);
        if (r.rc != 0) continue;
        EXPECT_EQ(p.mode, r.mode);
        EXPECT_EQ(p.tunnel, r.tunnel);
        EXPECT_EQ(p.vlan, r.vlan);
        EXPECT_EQ(p.home_ip, r.home_ip);
    }
    struct crow {
        const char* verb;
        std::vector<std::string> args;
        int rc;
        uint16_t type;
        bool ap_given;
    } crows[] = {
        {"disassociate", {"02:00:00:00:00:07"}, 0, 26, false},
        {"disassociate", {"02:00:00:00:00:07", "00:1a:2b:3c:4d:5f"}, 0, 26, true},
        {"resend", {"02:00:00:00:00:07"}, 0, 40, false},
        {"new-arp", {"02:00:00:00:00:07", "192.168.1.10", "00:1a:2b:3c:4d:51"}, 0, 22, false},
        {"threat-deauth", {"1", "6", "02:00:00:00:00:07", "0e:0e:0e:0e:0e:0e"}, 0, 116, false},
        {"new-arp", {"02:00:00:00:00:07", "192.168.1", "00:1a:2b:3c:4d:51"}, -1, 0, false},
        {"threat-deauth", {"256", "6", "02:00:00:00:00:07", "0e:0e:0e:0e:0e:0e"}, -1, 0, false},
        {"disassociate", {"02-00-00-00-00-07"}, -1, 0, false},
        {"disassociate", {}, -1, 0, false},
        {"keepalive", {"5"}, 1, 0, false},
    };
    for (const auto& r : crows) {
        swsim_client_cmd c;
        std::string error;
        ASSERT_EQ(swsim_client_cmd_parse(r.verb, r.args, c, error), r.rc) << r.verb;
        if (r.rc == 0) {
            EXPECT_EQ(c.type, r.type) << r.verb;
            EXPECT_EQ(c.ap_given, r.ap_given) << r.verb;
        }
    }
    // A step's own AP MAC wins over the switch's AP.
    swsim_client_cmd c;
    std::string error;
    ASSERT_EQ(swsim_client_cmd_parse("disassociate", {"02:00:00:00:00:07", "00:1a:2b:3c:4d:5f"}, c, error), 0);
    const bytes other = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5f};
    EXPECT_EQ(swsim_client_cmd_build(c, kAp), head(26, 24) + elem(0x0021, other) + elem(0x5002, cl));
}

TEST(SwsimClientMsg, ScenarioStepsAreCheckedWhenRead) {
    struct row {
        const char* text;
        int rc;
        const char* error;
    } rows[] = {
        {"assoc tunnel vlan=7\ndisassociate 02:00:00:00:00:07\nresend 02:00:00:00:00:07\n"
         "new-arp 02:00:00:00:00:07 10.0.0.2 00:1a:2b:3c:4d:51\n"
         "threat-deauth 2 11 02:00:00:00:00:07 0e:0e:0e:0e:0e:0e\n",
         0, ""},
        {"establish\nassoc sometimes\n", -1, "line 2: unknown association policy"},
        {"new-arp 02:00:00:00:00:07 10.0.0.2\n", -1, "line 1: wrong number of values"},
        {"\n\nresend 2:0:0:0:0:7\n", -1, "line 3: bad MAC"},
    };
    for (const auto& r : rows) {
        swsim_scenario sc;
        std::string error;
        EXPECT_EQ(swsim_scenario_parse(r.text, sc, error), r.rc) << r.text;
        EXPECT_TRUE(contains(error, r.error)) << error;
        if (r.rc == 0) {
            EXPECT_EQ(sc.steps.size(), 5u);
        }
    }
    // The scenarios that come with swsim read as they are.
    for (const char* f : {"demo.txt", "configure.txt", "clients.txt", "roaming.txt"}) {
        swsim_scenario sc;
        std::string error;
        EXPECT_EQ(swsim_scenario_load(std::string(MAPD_SWSIM_SCENARIOS) + "/" + f, sc, error), 0) << error;
    }
}

// The tunnel messages and the portal and tunnel configuration lines, byte for
// byte, and the tunnel messages as swsim prints them.
TEST(SwsimConfigMsg, TunnelAndPortalMessagesAreBuiltByteForByte) {
    auto step = [](const std::string& verb, const std::vector<std::string>& args) {
        bytes m;
        std::string error;
        EXPECT_EQ(swsim_tunnel_step_build(verb, args, m, error), 0) << verb << ": " << error;
        return m;
    };
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
    const bytes portal =
        elem(0x1100, bytes{1, 2, 1} + bytes(12, 0) + bytes{10, 1, 0, 1, 2, 0, 0, 0, 1, 1, 24}) +
        elem(0x1101, {2, 3}) + elem(0x1104, {1, 0}) + elem(0x1105, {1, 1}) +
        elem(0x1107, {1, 2, 0x1f, 0x90}) + elem(0x1109, {1, 2, 0x01, 0xbb}) +
        elem(0x110a, {2, 1, 0x20, 0xfb}) + elem(0x1103, cl + wr().be32(1000).be32(2000).b) +
        elem(0x1102, cl) + elem(0x1108, cl);
    struct row {
        const char* name;
        bytes got, want;
        std::string decoded;
    } rows[] = {
        {"dl2-config", step("dl2-config", {"32", "300", "3600", "4"}),
         msg(113, elem(0x5040, wr().be32(32).be32(300).be32(3600).be32(4).b)),
         "MAP_SWITCH_DL2TUNNEL_CONFIG_MSG_ID (113), 24 bytes: max-clients 32 idle-timeout 300 "
         "age-timeout 3600 mc-replication 4"},
        {"dl2-setup", step("dl2-setup", {AP, CL, VAP, "10.0.0.2", "300"}),
         msg(114, elem(0x5041, ap) + elem(19, cl) + elem(33, vap) +
                      elem(257, bytes(12, 0) + bytes{10, 0, 0, 2}) + elem(0x500C, {0x01, 0x2c})),
         "MAP_SWITCH_DL2TUNNEL_SETUP_MSG_ID (114), 60 bytes: home-ap " + AP + " client " + CL +
             " assoc-ap " + VAP + " assoc-ap-ip 10.0.0.2 vlan 300"},
        {"dl2-term", step("dl2-term", {AP, CL}), msg(112, elem(0x5041, ap) + elem(19, cl)),
         "MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID (112), 24 bytes: home-ap " + AP + " client " + CL},
        {"cl2-vlans", step("cl2-vlans", {"10,20,4095"}),
         msg(128, elem(0x2020, {0, 10, 0, 20, 0x0f, 0xff})),
         "MAP_SWITCH_CL2TUNNEL_CONFIG_MSG_ID (128), 14 bytes: vlans 10,20,4095"},
        {"cl2-vlans none", step("cl2-vlans", {"-"}), msg(128, {}),
         "MAP_SWITCH_CL2TUNNEL_CONFIG_MSG_ID (128), 4 bytes: vlans none"},
        {"portal lines alone: no start and stop",
         config({"portal 1 2 ip=10.1.0.1 mac=02:00:00:00:01:01 prefix=24", "portal-off 2 3",
                 "portal-block 1 0", "portal-unblock 1 1", "portal-auth-port 1 2 8080",
                 "portal-secure-port 1 1 2 443", "portal-secure-port 2 2 1 8443",
                 "portal-client auth " + CL + " 1000 2000", "portal-client unauth " + CL,
                 "portal-client deauth " + CL}),
         msg(4, portal), ""},
        {"MTU and portal type 3 in a sequence",
         config({"mtu 1400", "portal 2 0 type=3 ip=1.2.3.4"}),
         msg(4, elem(0x2001, {}) + elem(0x200a, {0x05, 0x78}) +
                    elem(0x1100, bytes{2, 0, 3} + bytes(12, 0) + bytes{1, 2, 3, 4} + bytes(7, 0)) +
                    elem(0x2002, {})),
         ""},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.got, r.want) << r.name;
        EXPECT_EQ(swsim_tunnel_decode(r.got), r.decoded) << r.name;
    }
    // The VAP's tunnel: mode at byte 41, subnet and mask behind it.
    const bytes m = config({"vap 1 1 tunnel=1 subnet=10.1.0.0 mask=255.255.0.0"});
    ASSERT_EQ(m.size(), 4u + 4 + 283 + 4);
    EXPECT_EQ(first(bytes(m.begin() + 8, m.end()), 4), (bytes{0x20, 0x05, 0x01, 0x17}));
    EXPECT_EQ(bytes(m.begin() + 12 + 40, m.begin() + 12 + 51),
              (bytes{0, 1, 10, 1, 0, 0, 255, 255, 0, 0, 0}));
}

TEST(SwsimConfigMsg, BadPortalAndTunnelWordsAreRefused) {
    const std::vector<std::string> lines[] = {
        {"portal-secure-port 3 1 1 443"}, {"portal-client auth 02:00:00:00:00:07 1"},
        {"portal-client logout 02:00:00:00:00:07"}, {"portal 1 1 colour=red"},
        {"portal-auth-port 1 1 70000"}, {"portal-off 1"}, {"vap 1 1 subnet=10.1.0"},
        {"portal 1 1 mac=02:00:00:00:01"}};
    for (const auto& l : lines) {
        bytes m;
        std::string error;
        EXPECT_EQ(swsim_config_build(l, m, error), -1) << l[0];
    }
    const std::vector<std::string> steps[] = {
        {"cl2-vlans", "10,,20"}, {"cl2-vlans", "65536"}, {"dl2-config", "1", "2", "3"},
        {"dl2-setup", "00:1a:2b:3c:4d:50", "02:00:00:00:00:07", "00:1a:2b:3c:4d:51", "10.0.0.2",
         "65536"},
        {"dl2-term", "00:1a:2b:3c:4d:50", "10.0.0.2"}};
    for (const auto& st : steps) {
        bytes m;
        std::string error;
        EXPECT_EQ(swsim_tunnel_step_build(st[0], {st.begin() + 1, st.end()}, m, error), -1)
            << st[0];
    }
    bytes m;
    std::string error;
    EXPECT_EQ(swsim_tunnel_step_build("resend", {"02:00:00:00:00:07"}, m, error), 1);
}

}  // namespace
