// The switch simulator's roaming messages: the AP's roaming messages and radio
// reports it reads, field by field, and the faults it names; what its steps and
// TSPEC policy build, byte for byte, from what it heard of a client; its radio,
// WIDS, RRM, provisioning and client QoS commands and the replies it reads.
#include "swsim/roam_msg.hpp"

#include <gtest/gtest.h>

#include "support/bytes.hpp"
#include "swsim/scenario.hpp"
#include "swsim/swsim.hpp"

using namespace mapd_test;

namespace {

const uint8_t kAp[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
const bytes ap = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
const bytes vap = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x51};
const bytes cl = {0x02, 0x00, 0x00, 0x00, 0x00, 0x07};
const bytes bssid = {0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x0e};
const std::string AP = "ap 00:1a:2b:3c:4d:50", VAP = "vap 00:1a:2b:3c:4d:51",
                  CL = "client 02:00:00:00:00:07";

bytes head(uint16_t type, uint16_t len) { return wr().be16(type).be16(len).b; }
bytes f32(const std::string& s) { return wr().text(s, 32).b; }
bytes count_up(size_t n, uint8_t first) {
    bytes b;
    for (size_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(first + i));
    return b;
}
// The stream's place in TSPEC messages, and a voice stream's body.
const bytes place = elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {1}) +
                    elem(0x5004, f32("corp")) + elem(0x5074, {3});
const bytes body = wr().u8(0).u8(0x61).u8(0x34).u8(1).be16(208).be16(240).be32(10000).be32(20000)
                       .be32(3000000).be32(4000000).be32(5).be32(64000).be32(80000).be32(96000)
                       .be32(1500).be32(50000).be32(6000000).be16(8192).be16(31).b;
const bytes tspec_req = head(104, 155) + place + elem(0x5071, body) + elem(0x005A, {0, 0, 0, 40}) +
                        elem(0x5075, {0, 12, 2});
// A client authentication: effective QoS 0x5059..0x5061, the client's own
// 0x5062..0x5064, then optionally the RRM capabilities.
bytes client_auth(uint32_t flags, bool rrm) {
    const bytes names = bytes{2} + wr().text("acl-a", 31).b + bytes{0} + bytes(31, 0);
    bytes m = head(39, rrm ? 516 : 507) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {1}) +
              elem(0x500A, f32("alice")) + elem(0x500C, {0, 20}) + elem(0x5004, f32("corp")) +
              elem(0x500B, {0x02, 0x1c}) + elem(0x5006, {36}) + elem(0x500E, {1}) +
              elem(0x8079, {0}) + elem(0x5044, wr().be32(flags).b) + elem(0x5055, count_up(32, 0)) +
              elem(0x5056, wr().be32(3600).b) +
              elem(0x5042, bytes{1} + ap + bytes(12, 0) + bytes{127, 0, 0, 1}) +
              elem(0x5059, wr().u8(1).be32(64000).u8(0).be32(96000).b) + elem(0x5060, names) +
              elem(0x5061, bytes{8} + wr().text("pol", 31).b + bytes(32, 0)) +
              elem(0x5062, wr().u8(1).be32(100000).u8(0).be32(0).b) + elem(0x5063, names) +
              elem(0x5064, bytes(64, 0));
    return rrm ? m + elem(0x5050, {2, 2, 0, 0x40, 1}) : m;
}

swsim_client_msg parsed(const bytes& m) {
    swsim_client_msg c;
    EXPECT_EQ(swsim_client_parse(m, c), 0);
    EXPECT_EQ(c.problems, "");
    return c;
}

// Each row: the whole line, or (with `part`) a piece of it.
TEST(SwsimRoamMsg, ApMessagesAreReadFieldByFieldAndFaultsNamed) {
    const std::string auth_fields =
        "MAP_SWITCH_CLIENT_AUTH (39), 516 bytes: " + VAP + " " + CL + " radio 1 user \"alice\" vlan 20 "
        "ssid \"corp\" tx-rate 540 channel 36 11n 1 stbc 0 flags 0x84 pmk " + std::string("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f") +
        " reauth 3600 home 1 00:1a:2b:3c:4d:50 127.0.0.1 eff-bw down 1/64000 up 0/96000 eff-acl down "
        "2:\"acl-a\" up 0:\"\" eff-policy down 8:\"pol\" up 0:\"\" bw down 1/100000 up 0/0 acl down "
        "2:\"acl-a\" up 0:\"\" policy down 0:\"\" up 0:\"\" rrm 0202004001";
    const std::string body_text =
        "rsvd1 0 ts-info 613401 nom-msdu 208 max-msdu 240 min-srv 10000 max-srv 20000 inactivity "
        "3000000 suspension 4000000 srv-start 5 min-rate 64000 mean-rate 80000 peak-rate 96000 "
        "max-burst 1500 delay-bound 50000 min-phy 6000000 surplus-bw 8192 medium-time 31";
    struct row {
        bytes msg;
        std::string want;
        bool part;
    } rows[] = {
        {client_auth(0x84, true), auth_fields, false},
        {client_auth(0x84, false), "; MALFORMED: element 0x5050 missing with client flags 0x84", true},
        {client_auth(0x4, true), "; MALFORMED: element 0x5050 present with client flags 0x4", true},
        {head(36, 1665) + elem(0xF100, cl) + elem(0xF101, f32("")) + elem(0xF102, bssid) + elem(0xF103, bytes(1601, 0)),
         "elem-0xf103(1601); MALFORMED: element 0xf103 length 1601 (expected 0..1600)", true},
        {tspec_req, "SWITCH_TSPEC_ADMISSION_REQ (104), 155 bytes: " + AP + " " + VAP + " " + CL +
                    " radio 1 ssid \"corp\" ac 3 " + body_text + " wlan-util 40 prev-medium-time 12 prev-ac 2", false},
        {head(530, 45) + elem(0x0021, ap) + elem(0x0013, cl) + elem(0x0043, {36}) + elem(0x504F, {0, 50}) +
             elem(0x504D, {0}) + elem(0x504E, {30}),
         "RRM_CHANNEL_LOAD_REPORT (530), 45 bytes: " + AP + " " + CL + " channel 36 duration 50 mode 0 load 30", false},
        {head(31, 20) + elem(1, {1, 2}, 3),
         "SWITCH_AP_SUPPORTED_CHANNELS (31), 10 bytes: elements 0x0001(3); MALFORMED: length field 20 "
         "in 10 bytes, element 0x0001 cut short", false},
    };
    for (const auto& r : rows) {
        const std::string line = swsim_decode(r.msg);
        EXPECT_TRUE(r.part ? contains(line, r.want) : line == r.want) << r.want << "\n  in: " << line;
        swsim_client_msg m;
        if (swsim_client_parse(r.msg, m) == 0) {
            EXPECT_EQ(m.problems.empty(), line.find("MALFORMED") == std::string::npos) << line;
        }
    }
    // What the e2e tests compare: the fields as numbers.
    const swsim_client_msg a = parsed(client_auth(0x84, true));
    EXPECT_EQ(a.qos_eff.bw_rate[1], 96000u);
    EXPECT_EQ(a.qos_auth.bw_rate[0], 100000u);
    const swsim_client_msg t = parsed(tspec_req);
    EXPECT_EQ(t.tspec.f[10], 6000000u);
    EXPECT_EQ(t.prev_ac, 2);
}

TEST(SwsimRoamMsg, StepsAnswerFromWhatWasHeard) {
    swsim sw;
    sw.print = [](const std::string&) {};
    // The access category's value sits at byte 79 of a TSPEC message.
    auto with_ac = [](bytes m, uint8_t ac) {
        m[79] = ac;
        return m;
    };
    const bytes tspec_del = head(106, 148) + place + elem(0x5071, body) + elem(0x005A, {0, 0, 0, 0});
    // Heard from the AP: an authentication, a RADIUS request (identifier 7), a
    // pre-authentication naming a BSSID, TSPEC requests of AC 3 and 2, and the
    // AP's own deletion of AC 2's.  With no link up, the answer fails.
    for (const bytes& m : {client_auth(0x4, false),
                           head(98, 83) + elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) +
                               elem(0x5003, {1}) + elem(0x5004, f32("corp")) + elem(0x5020, {1, 7, 0, 4}),
                           head(24, 64) + elem(0xF100, cl) + elem(0xF101, f32("corp")) + elem(0xF102, bssid) +
                               elem(0xF103, {}),
                           with_ac(tspec_req, 2), with_ac(tspec_del, 2)}) {
        EXPECT_EQ(swsim_answer_roam(sw, m), 0);
    }
    sw.roam.tspec = swsim_tspec_mode::admit;
    EXPECT_EQ(swsim_answer_roam(sw, tspec_req), -1);
    // The TSPEC policy's answers: the request's place and body, then the verdict.
    const swsim_client_msg req = parsed(tspec_req);
    swsim_client_msg no_body = req;
    no_body.type = 107;
    EXPECT_EQ(swsim_tspec_answer(swsim_tspec_mode::admit, req),
              head(105, 153) + place + elem(0x5071, body) + elem(0x005A, {0, 0, 0, 40}) + elem(0x5072, {1}));
    EXPECT_EQ(swsim_tspec_answer(swsim_tspec_mode::admit, no_body), bytes{});
    EXPECT_EQ(swsim_radius_packet(3, 2, 9), (bytes{0x80, 0x81, 0x82})) << "too short for its head";
    const std::string other = "02:00:00:00:00:08", C = "02:00:00:00:00:07";
    const bytes cl8 = {0x02, 0, 0, 0, 0, 0x08};
    struct row {
        const char* verb;
        std::vector<std::string> args;
        int rc;
        bytes want;         // empty: the step fails with `error`
        const char* error;
    } rows[] = {
        {"pmk", {C}, 0, head(38, 86) + elem(0xF100, cl) + elem(0xF101, f32("corp")) + elem(0xF104, count_up(32, 0)), ""},
        {"pmk", {C, "-"}, 0, head(38, 50) + elem(0xF100, cl) + elem(0xF104, count_up(32, 0)), ""},
        {"pmk", {other}, 0, head(38, 86) + elem(0xF100, cl8) + elem(0xF101, f32("")) + elem(0xF104, count_up(32, 1)), ""},
        {"preauth-ans", {C, "2"}, 0,
         head(36, 66) + elem(0xF100, cl) + elem(0xF101, f32("corp")) + elem(0xF102, bssid) + elem(0xF103, {0x80, 0x81}), ""},
        {"radius", {C, "4"}, 0,
         head(98, 83) + elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {1}) +
             elem(0x5004, f32("corp")) + elem(0x5020, {2, 7, 0, 4}), ""},
        {"tspec-delete", {C}, 0, tspec_del, ""},
        {"tspec-delete", {C, "2"}, 0, {}, "no TSPEC request of 02:00:00:00:00:07 for access category 2 heard"},
        {"preauth", {C, "8001"}, -1, {}, "(0 to 8000)"},
        {"keepalive", {"5"}, 1, {}, ""},
    };
    for (const auto& r : rows) {
        swsim_roam_cmd c;
        std::string error;
        ASSERT_EQ(swsim_roam_cmd_parse(r.verb, r.args, c, error), r.rc) << r.verb << " " << error;
        if (r.rc == 0) {
            EXPECT_EQ(swsim_roam_cmd_build(c, sw.roam, kAp, error), r.want) << r.verb;
        }
        EXPECT_TRUE(contains(error, r.error)) << r.verb << ": " << error;
    }
    // The steps are checked when a scenario is read.
    swsim_scenario sc;
    std::string error;
    EXPECT_EQ(swsim_scenario_parse("tspec admit\ntspec-delete 02:00:00:00:00:07 3\npmk 02:00:00:00:00:07 -\n"
                                   "radius 02:00:00:00:00:07 8000\n", sc, error), 0) << error;
    EXPECT_EQ(swsim_scenario_parse("\nradius 02:00:00:00:00:07 8001\n", sc, error), -1);
    EXPECT_TRUE(contains(error, "line 2: bad number of bytes")) << error;
}

}  // namespace

// ---- radio, WIDS, RRM and provisioning commands -------------------------------------

namespace {

const std::string kOther = "00:1a:2b:3c:4d:99";
const bytes other = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x99};
bytes v4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return bytes{0} + bytes(12, 0) + bytes{a, b, c, d}; }

TEST(SwsimCommands, StepsAreBuiltByteForByteAndBadValuesRefused) {
    const std::string B1 = "0e:0e:0e:0e:0e:01", N1 = "02:00:00:00:02:01", N2 = "02:00:00:00:02:02";
    const std::string nbr = N1 + "/00112233445566";
    const bytes b1 = {0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x01}, n1 = {2, 0, 0, 0, 2, 1}, n2 = {2, 0, 0, 0, 2, 2};
    const bytes info = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    std::vector<std::string> wids33 = {"on", "1", "2"};
    wids33.resize(36, B1 + "/1");
    std::string eight = B1 + "=" + nbr;
    for (int i = 2; i <= 8; ++i) eight += "," + nbr;
    struct row {
        const char* verb;
        std::vector<std::string> args;
        bytes want;          // empty: refused with `error`
        const char* error;
    } rows[] = {
        {"rf-scan", {"300", kOther}, head(9, 20) + elem(0x0021, other) + elem(0x3101, {1, 44}), ""},
        {"channel", {"1", "36"}, head(32, 27) + elem(0x0021, ap) + elem(0x3101, {1}) + elem(0x3104, {0, 0, 0, 36}), ""},
        {"wids", {"on", "60", "300", B1 + "/6", "02:00:00:00:02:01/11"},
         head(70, 55) + elem(0x0021, ap) + elem(0x7001, {1}) + elem(0x7002, {0, 60}) + elem(0x7003, {1, 44}) +
             elem(0x7004, {0, 2}) + elem(0x7005, b1 + bytes{6} + n1 + bytes{11}), ""},
        {"rrm-neighbors", {B1 + "=" + nbr + "," + N2 + "/00112233445566", N1 + "="},
         head(528, 76) + elem(0x0021, ap) + elem(0x5001, b1) + elem(0x3022, n1) + elem(0x5053, info) +
             elem(0x3022, n2) + elem(0x5053, info) + elem(0x5001, n1), ""},
        {"chan-load", {"02:00:00:00:00:07", "36", "50"},
         head(529, 35) + elem(0x0021, ap) + elem(0x0013, cl) + elem(0x0043, {36}) + elem(0x504F, {0, 50}), ""},
        {"rf-scan", {"65536"}, {}, "bad value for rf-scan (0 to 65535): 65536"},
        {"wids", wids33, {}, "more than 32 entries for wids"},
        {"rrm-neighbors", {eight + "," + nbr}, {}, ""},  // up to eight a VAP
    };
    for (const auto& r : rows) {
        swsim_radio_cmd c;
        std::string error;
        ASSERT_EQ(swsim_radio_cmd_parse(r.verb, r.args, c, error), r.want.empty() ? -1 : 0) << r.verb << " " << error;
        if (!r.want.empty()) {
            EXPECT_EQ(swsim_radio_cmd_build(c, kAp), r.want) << r.verb;
        }
        EXPECT_TRUE(contains(error, r.error)) << r.verb << ": " << error;
    }
    swsim_radio_cmd c;
    std::string error;
    ASSERT_EQ(swsim_radio_cmd_parse("rrm-neighbors", {eight}, c, error), 0) << error;
    EXPECT_EQ(swsim_radio_cmd_build(c, kAp).size(), 14u + 10 + 8 * 21);
    // The steps are checked when a scenario is read.
    swsim_scenario sc;
    EXPECT_EQ(swsim_scenario_load(std::string(MAPD_SWSIM_SCENARIOS) + "/commands.txt", sc, error), 0) << error;
    EXPECT_EQ(swsim_scenario_parse("establish\nwids on 1 70000\n", sc, error), -1);
    EXPECT_TRUE(contains(error, "line 2: bad value for wids (0 to 65535): 70000")) << error;
}

TEST(SwsimCommands, ProvisioningIsBuiltFromWordsAndItsReplyReadFieldByField) {
    swsim_provision p;
    std::string error;
    ASSERT_EQ(swsim_provision_parse({}, p, error), 0) << error;
    EXPECT_EQ(swsim_provision_build(p, 0x7F000002, kAp, error),
              head(514, 87) + elem(0x0101, v4(127, 0, 0, 2)) + elem(0x0110, v4(127, 0, 0, 2)) +
                  elem(0x0111, v4(0, 0, 0, 0)) + elem(0x0021, ap) + elem(0x0112, {0}) + elem(0x0113, {0}));
    EXPECT_EQ(swsim_provision_parse({"mutual=2"}, p, error), -1);
    EXPECT_TRUE(contains(error, "mutual=2")) << error;
    // The reply: the status element's length leaves out the zero byte behind it.
    auto reply = [](const bytes& ap_addr) {
        const bytes body = elem(0x0101, ap_addr) + elem(0x0021, ap) + elem(0x0117, {1}) + bytes{0} +
                           elem(0x0110, v4(127, 0, 0, 2)) + elem(0x0111, v4(0, 0, 0, 0)) + elem(0x0112, {0}) +
                           elem(0x0113, {1}) + elem(0x0114, {});
        return head(515, static_cast<uint16_t>(4 + body.size())) + body;
    };
    const bytes lo = v4(127, 0, 0, 1), good = reply(lo);
    const bytes swapped = head(515, 97) + elem(0x0021, ap) + elem(0x0101, lo) + bytes(good.begin() + 35, good.end());
    struct drow {
        bytes msg;
        std::string want;  // the whole line, or (with `part`) a piece of it
        bool part;
    } drows[] = {
        {good, "AP_PROVISION_REPLY_MSG (515), 97 bytes: ap 127.0.0.1 mac 00:1a:2b:3c:4d:50 status 1 "
               "primary 127.0.0.2 backup 0.0.0.0 mutual-auth 0 reprovision 1 ap-cert 0 bytes", false},
        {reply(bytes{0, 1} + bytes(11, 0) + bytes{127, 0, 0, 1}), "element 0x0101: non-zero bytes before", true},
        {swapped, "; MALFORMED: element 0x0101 out of order", true},
    };
    for (const auto& r : drows) {
        const std::string line = swsim_decode(r.msg);
        EXPECT_TRUE(r.part ? contains(line, r.want) : line.ends_with(r.want)) << r.want << "\n  in: " << line;
        EXPECT_EQ(contains(line, "MALFORMED"), r.part) << line;
    }
}

}  // namespace

// ---- client QoS: list changes, modes and definition replies ---------------------------

namespace {

bytes n31(const std::string& s) { return wr().text(s, 31).b; }

TEST(SwsimCltQos, StepsAreBuiltByteForByte) {
    struct row {
        const char* verb;
        std::vector<std::string> args;
        bytes want;
    } rows[] = {
        {"acl-update", {"ip4num:10net", "ipv6:" + std::string(32, 'a') + ",mac:m", "count=7"},
         head(144, 118) + elem(0x0111, {0, 7}) + elem(0x0112, bytes{1} + n31("10net")) +
             elem(0x0112, bytes{3} + bytes(31, 'a')) + elem(0x0112, bytes{4} + n31("m"))},
        {"acl-rename", {"ipv4:old>new,policy:p1>p2"},
         head(145, 144) + elem(0x0111, {0, 2}) + elem(0x0114, bytes{2} + n31("new") + n31("old")) +
             elem(0x0115, bytes{8} + n31("p2") + n31("p1"))},
        {"qos-mode", {"1", "1:1100000000000000", "2:000000000000000f"},
         head(150, 58) + elem(0x0021, ap) + elem(0x0120, bytes{1, 1, 1, 1} + bytes(14, 0)) +
             elem(0x0120, bytes{1, 2} + bytes(15, 0) + bytes{15})},
    };
    for (const auto& r : rows) {
        swsim_qos_cmd c;
        std::string error;
        ASSERT_EQ(swsim_qos_cmd_parse(r.verb, r.args, c, error), 0) << r.verb << " " << error;
        EXPECT_EQ(swsim_qos_cmd_build(c, kAp), r.want) << r.verb;
    }
    swsim_scenario sc;
    std::string error;
    EXPECT_EQ(swsim_scenario_parse("\ncltqos-answer maybe\n", sc, error), -1);
    EXPECT_TRUE(contains(error, "line 2: cltqos-answer takes on or off, not maybe")) << error;
}

// A definition request (147) from the AP, read field by field with its
// faults named, and answered with the names it asks for.
TEST(SwsimCltQos, DefinitionRequestsAreReadAndAnswered) {
    const bytes acl = elem(0x0112, bytes{2} + n31("acl-a")), pol = elem(0x0113, bytes{8} + n31("pol"));
    const bytes req = head(147, 82) + elem(0x0111, {0, 2}) + acl + pol;
    EXPECT_EQ(swsim_decode(req),
              "CLTQOS_DEF_REQ (147), 82 bytes: count 2 acl 2 (ACL ipv4) \"acl-a\" policy 8 (Policy in) \"pol\"");
    EXPECT_TRUE(contains(swsim_decode(head(147, 46) + elem(0x0111, {0, 1}) + elem(0x0112, bytes{0} + n31(""))),
                         "; MALFORMED: element 0x0112 with id type 0"));
    // The answers: a 148 with the ACLs and a 149 with the policies asked for.
    using answers = std::vector<bytes>;
    EXPECT_EQ(swsim_qos_answer(true, req), (answers{head(148, 46) + elem(0x0111, {0, 1}) + acl,
                                                    head(149, 46) + elem(0x0111, {0, 1}) + pol}));
    // With no link up, an answer due fails and none due succeeds.
    swsim sw;
    sw.print = [](const std::string&) {};
    EXPECT_EQ(swsim_answer_cltqos(sw, req), -1);
    sw.roam.cltqos_answer = false;
    EXPECT_EQ(swsim_answer_cltqos(sw, req), 0);
}

}  // namespace
