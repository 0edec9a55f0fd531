// The switch simulator's roaming messages: what it builds, byte for byte; the
// AP's roaming messages and radio reports it reads, field by field, and the
// faults it names; the answers its steps and TSPEC policy give from what it
// heard of a client; its radio, WIDS, RRM and provisioning commands and the
// provisioning reply it reads.
#include "swsim/roam_msg.hpp"

#include <gtest/gtest.h>

#include "support/bytes.hpp"
#include "swsim/scenario.hpp"
#include "swsim/swsim.hpp"

using namespace mapd_test;

namespace {

const uint8_t kAp[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
const uint8_t kCl[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x07};
const uint8_t kBssid[6] = {0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x0e};
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
const std::string body_text =
    "rsvd1 0 ts-info 613401 nom-msdu 208 max-msdu 240 min-srv 10000 max-srv 20000 inactivity "
    "3000000 suspension 4000000 srv-start 5 min-rate 64000 mean-rate 80000 peak-rate 96000 "
    "max-burst 1500 delay-bound 50000 min-phy 6000000 surplus-bw 8192 medium-time 31";
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

TEST(SwsimRoamMsg, SwitchMessagesAreBuiltByteForByte) {
    const swsim_client_msg req = parsed(tspec_req);
    swsim_client_msg no_body = req;
    no_body.type = 107;
    const bytes pmk = count_up(32, 0x20);
    const bytes reply_head = head(105, 153) + place + elem(0x5071, body) + elem(0x005A, {0, 0, 0, 40});
    struct row {
        const char* name;
        bytes got, want;
    } rows[] = {
        {"PMK", swsim_msg_pmk(kCl, "corp", pmk.data()),
         head(38, 86) + elem(0xF100, cl) + elem(0xF101, f32("corp")) + elem(0xF104, pmk)},
        {"PMK without SSID", swsim_msg_pmk(kCl, "corp", pmk.data(), false),
         head(38, 50) + elem(0xF100, cl) + elem(0xF104, pmk)},
        {"pre-authentication, 3 bytes", swsim_msg_pre_auth(24, kCl, "corp", kBssid, swsim_pattern(3, 0x80)),
         head(24, 67) + elem(0xF100, cl) + elem(0xF101, f32("corp")) + elem(0xF102, bssid) +
             elem(0xF103, {0x80, 0x81, 0x82})},
        {"pre-authentication answer, no data, SSID of 33", swsim_msg_pre_auth(36, kCl, std::string(33, 'x'), kBssid, {}),
         head(36, 64) + elem(0xF100, cl) + elem(0xF101, bytes(32, 'x')) + elem(0xF102, bssid) + elem(0xF103, {})},
        {"RADIUS", swsim_msg_radius(kAp, vap.data(), kCl, 1, "corp", swsim_radius_packet(6, 2, 9)),
         head(98, 85) + elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {1}) +
             elem(0x5004, f32("corp")) + elem(0x5020, {2, 9, 0, 6, 0x84, 0x85})},
        {"RADIUS packet too short for its head", swsim_radius_packet(3, 2, 9), {0x80, 0x81, 0x82}},
        {"admitted", swsim_tspec_answer(swsim_tspec_mode::admit, req), reply_head + elem(0x5072, {1})},
        {"refused", swsim_tspec_answer(swsim_tspec_mode::refuse, req), reply_head + elem(0x5072, {0})},
        {"no policy: no answer", swsim_tspec_answer(swsim_tspec_mode::none, req), {}},
        {"107 is not answered", swsim_tspec_answer(swsim_tspec_mode::admit, no_body), {}},
        {"deletion", swsim_msg_tspec_delete(req),
         head(106, 148) + place + elem(0x5071, body) + elem(0x005A, {0, 0, 0, 0})},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.name;
}

TEST(SwsimRoamMsg, ApMessagesAreReadFieldByFieldAndFaultsNamed) {
    const std::string auth_fields =
        "MAP_SWITCH_CLIENT_AUTH (39), 516 bytes: " + VAP + " " + CL + " radio 1 user \"alice\" vlan 20 "
        "ssid \"corp\" tx-rate 540 channel 36 11n 1 stbc 0 flags 0x84 pmk " + std::string("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f") +
        " reauth 3600 home 1 00:1a:2b:3c:4d:50 127.0.0.1 eff-bw down 1/64000 up 0/96000 eff-acl down "
        "2:\"acl-a\" up 0:\"\" eff-policy down 8:\"pol\" up 0:\"\" bw down 1/100000 up 0/0 acl down "
        "2:\"acl-a\" up 0:\"\" policy down 0:\"\" up 0:\"\" rrm 0202004001";
    const bytes radio_elems = elem(1, {1, 2, 3}) + elem(2, {});
    struct row {
        bytes msg;
        std::vector<std::string> parts;  // one: the whole line; more: pieces of it
    } rows[] = {
        {client_auth(0x84, true), {auth_fields}},
        {client_auth(0x4, false), {"MAP_SWITCH_CLIENT_AUTH (39), 507 bytes: ", "flags 0x4 ", "policy down 0:\"\" up 0:\"\""}},
        {client_auth(0x84, false), {"507 bytes: ", "; MALFORMED: element 0x5050 missing with client flags 0x84"}},
        {client_auth(0x4, true), {"516 bytes: ", "; MALFORMED: element 0x5050 present with client flags 0x4"}},
        {head(38, 86) + elem(0xF100, cl) + elem(0xF101, f32("corp")) + elem(0xF104, count_up(32, 1)),
         {"SWITCH_CLIENT_PMK (38), 86 bytes: " + CL + " ssid \"corp\" pmk 0102030405060708090a0b0c0d0e0f"
          "101112131415161718191a1b1c1d1e1f20"}},
        {head(24, 74) + elem(0xF100, cl) + elem(0xF101, f32("corp")) + elem(0xF102, bssid) + elem(0xF103, count_up(10, 0x40)),
         {"SWITCH_CLIENT_PRE_AUTH (24), 74 bytes: " + CL + " ssid \"corp\" bssid 0e:0e:0e:0e:0e:0e data 10 bytes "
          "40414243444546474849"}},
        {head(36, 1665) + elem(0xF100, cl) + elem(0xF101, f32("")) + elem(0xF102, bssid) + elem(0xF103, bytes(1601, 0)),
         {"MAP_SWITCH_CLIENT_PRE_AUTH_ANS (36), 1665 bytes: ", "elem-0xf103(1601); MALFORMED: element 0xf103 length 1601 (expected 0..1600)"}},
        {head(115, 116) + elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {1}) +
             elem(0x5004, f32("corp")) + elem(0x500A, f32("alice")) + elem(0x500D, {1}),
         {"CLIENT_PRE_AUTH_NOTIFY (115), 116 bytes: " + AP + " " + VAP + " " + CL +
          " radio 1 ssid \"corp\" user \"alice\" preauth-status 1"}},
        {head(98, 99) + elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {1}) +
             elem(0x5004, f32("corp")) + elem(0x5020, bytes{1, 7, 0, 20} + bytes(16, 0)),
         {"MAP_SWITCH_RADIUS_PROXY_CMD (98), 99 bytes: " + AP + " " + VAP + " " + CL +
          " radio 1 ssid \"corp\" radius 20 bytes code 1 id 7 length 20"}},
        {tspec_req, {"SWITCH_TSPEC_ADMISSION_REQ (104), 155 bytes: " + AP + " " + VAP + " " + CL +
                     " radio 1 ssid \"corp\" ac 3 " + body_text + " wlan-util 40 prev-medium-time 12 prev-ac 2"}},
        {head(104, 148) + place + elem(0x5071, body) + elem(0x005A, {0, 0, 0, 40}),
         {"SWITCH_TSPEC_ADMISSION_REQ (104), 148 bytes: ", "; MALFORMED: element 0x5075 missing"}},
        {head(106, 148) + place + elem(0x5071, body) + elem(0x005A, {0, 0, 0, 40}),
         {"SWITCH_TSPEC_DELETION (106), 148 bytes: ", " wlan-util 40"}},
        {head(107, 80) + place, {"TSPEC_REQ_NO_BODY (107), 80 bytes: " + AP + " " + VAP + " " + CL + " radio 1 ssid \"corp\" ac 3"}},
        {head(530, 45) + elem(0x0021, ap) + elem(0x0013, cl) + elem(0x0043, {36}) + elem(0x504F, {0, 50}) +
             elem(0x504D, {0}) + elem(0x504E, {30}),
         {"RRM_CHANNEL_LOAD_REPORT (530), 45 bytes: " + AP + " " + CL + " channel 36 duration 50 mode 0 load 30"}},
        {head(530, 44) + elem(0x0021, ap) + elem(0x0013, cl) + elem(0x0043, {36}) + elem(0x504F, {50}) +
             elem(0x504D, {0}) + elem(0x504E, {30}),
         {"RRM_CHANNEL_LOAD_REPORT (530), 44 bytes: ", "elem-0x504f(1) mode 0 load 30; MALFORMED: element 0x504f length 1 (expected 2)"}},
        {head(10, 15) + radio_elems, {"SWITCH_AP_RFSCAN_REPORT (10), 15 bytes: elements 0x0001(3) 0x0002(0)"}},
        {head(31, 20) + elem(1, {1, 2}, 3),
         {"SWITCH_AP_SUPPORTED_CHANNELS (31), 10 bytes: elements 0x0001(3); MALFORMED: length field 20 "
          "in 10 bytes, element 0x0001 cut short"}},
    };
    for (const auto& r : rows) {
        const std::string line = swsim_decode(r.msg);
        if (r.parts.size() == 1) {
            EXPECT_EQ(line, r.parts[0]);
        } else {
            for (const auto& p : r.parts) EXPECT_TRUE(contains(line, p)) << p << "\n  in: " << line;
        }
        swsim_client_msg m;
        if (swsim_client_parse(r.msg, m) == 0) {
            EXPECT_EQ(m.problems.empty(), line.find("MALFORMED") == std::string::npos) << line;
        }
    }
    // What the e2e tests compare: the fields as numbers.
    const swsim_client_msg a = parsed(client_auth(0x84, true));
    EXPECT_EQ(a.user, "alice");
    EXPECT_EQ(a.vlan, 20);
    EXPECT_EQ(a.tx_rate, 540);
    EXPECT_EQ(a.flags, 0x84u);
    EXPECT_EQ(a.pmk[31], 31);
    EXPECT_EQ(a.reauth, 3600u);
    EXPECT_EQ(a.home_ip, 0x7F000001u);
    EXPECT_EQ(a.qos_eff.bw_rate[1], 96000u);
    EXPECT_EQ(a.qos_eff.policy[0], "pol");
    EXPECT_EQ(a.qos_auth.bw_rate[0], 100000u);
    EXPECT_EQ(a.qos_auth.acl_type[0], 2);
    EXPECT_EQ(a.rrm[3], 0x40);
    const swsim_client_msg t = parsed(tspec_req);
    EXPECT_EQ(t.tspec.f[0], 10000u);
    EXPECT_EQ(t.tspec.f[10], 6000000u);
    EXPECT_EQ(t.tspec.medium_time, 31);
    EXPECT_EQ(t.wlan_util, 40u);
    EXPECT_EQ(t.prev_medium_time, 12);
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
        {"pmk", {C, "guest"}, 0, head(38, 86) + elem(0xF100, cl) + elem(0xF101, f32("guest")) + elem(0xF104, count_up(32, 0)), ""},
        {"pmk", {other}, 0, head(38, 86) + elem(0xF100, cl8) + elem(0xF101, f32("")) + elem(0xF104, count_up(32, 1)), ""},
        {"preauth-ans", {C, "2"}, 0,
         head(36, 66) + elem(0xF100, cl) + elem(0xF101, f32("corp")) + elem(0xF102, bssid) + elem(0xF103, {0x80, 0x81}), ""},
        {"preauth", {other, "0"}, 0,
         head(24, 64) + elem(0xF100, cl8) + elem(0xF101, f32("")) + elem(0xF102, bytes(6, 0)) + elem(0xF103, {}), ""},
        {"radius", {C, "4"}, 0,
         head(98, 83) + elem(0x0021, ap) + elem(0x5001, vap) + elem(0x5002, cl) + elem(0x5003, {1}) +
             elem(0x5004, f32("corp")) + elem(0x5020, {2, 7, 0, 4}), ""},
        {"tspec-delete", {C}, 0, tspec_del, ""},
        {"tspec-delete", {C, "2"}, 0, {}, "no TSPEC request of 02:00:00:00:00:07 for access category 2 heard"},
        {"tspec-delete", {other}, 0, {}, "no TSPEC request of 02:00:00:00:00:08 heard"},
        {"radius", {C}, -1, {}, "wrong number of values"},
        {"preauth", {C, "8001"}, -1, {}, "(0 to 8000)"},
        {"pmk", {"02-00-00-00-00-07"}, -1, {}, "bad MAC"},
        {"tspec-delete", {C, "x"}, -1, {}, "bad access category"},
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
    struct srow {
        const char* text;
        int rc;
        const char* error;
    } srows[] = {
        {"tspec admit\ntspec-delete 02:00:00:00:00:07 3\npmk 02:00:00:00:00:07 -\n"
         "preauth 02:00:00:00:00:07 10\npreauth-ans 02:00:00:00:00:07 0\nradius 02:00:00:00:00:07 8000\n", 0, ""},
        {"tspec maybe\n", -1, "line 1: unknown TSPEC policy"},
        {"\nradius 02:00:00:00:00:07 8001\n", -1, "line 2: bad number of bytes"},
    };
    for (const auto& r : srows) {
        swsim_scenario sc;
        std::string error;
        EXPECT_EQ(swsim_scenario_parse(r.text, sc, error), r.rc) << r.text;
        EXPECT_TRUE(contains(error, r.error)) << error;
        if (r.rc == 0) {
            EXPECT_EQ(sc.steps.size(), 6u);
        }
    }
}

}  // namespace

// ---- radio, WIDS, RRM and provisioning commands -------------------------------------

namespace {

const std::string kOther = "00:1a:2b:3c:4d:99";
const bytes other = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x99};
bytes v4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return bytes{0} + bytes(12, 0) + bytes{a, b, c, d}; }

TEST(SwsimCommands, StepsAreBuiltByteForByteAndBadValuesRefused) {
    const std::string B1 = "0e:0e:0e:0e:0e:01", N1 = "02:00:00:00:02:01", N2 = "02:00:00:00:02:02";
    const bytes b1 = {0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x01}, n1 = {2, 0, 0, 0, 2, 1}, n2 = {2, 0, 0, 0, 2, 2};
    const bytes info = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    std::vector<std::string> wids33 = {"on", "1", "2"};
    wids33.resize(36, B1 + "/1");
    struct row {
        const char* verb;
        std::vector<std::string> args;
        bytes want;          // empty: refused with `error`
        const char* error;
    } rows[] = {
        {"rf-scan", {"300"}, head(9, 20) + elem(0x0021, ap) + elem(0x3101, {1, 44}), ""},
        {"rf-scan", {"65535", kOther}, head(9, 20) + elem(0x0021, other) + elem(0x3101, {0xff, 0xff}), ""},
        {"channel", {"2", "4294967295"}, head(32, 27) + elem(0x0021, ap) + elem(0x3101, {2}) + elem(0x3104, {0xff, 0xff, 0xff, 0xff}), ""},
        {"channel", {"1", "36"}, head(32, 27) + elem(0x0021, ap) + elem(0x3101, {1}) + elem(0x3104, {0, 0, 0, 36}), ""},
        {"power", {"2", "17", kOther}, head(33, 24) + elem(0x0021, other) + elem(0x3101, {2}) + elem(0x3105, {17}), ""},
        {"wids", {"on", "60", "300", B1 + "/6", "02:00:00:00:02:01/11"},
         head(70, 55) + elem(0x0021, ap) + elem(0x7001, {1}) + elem(0x7002, {0, 60}) + elem(0x7003, {1, 44}) +
             elem(0x7004, {0, 2}) + elem(0x7005, b1 + bytes{6} + n1 + bytes{11}), ""},
        {"wids", {"off", "0", "1", kOther}, head(70, 41) + elem(0x0021, other) + elem(0x7001, {0}) + elem(0x7002, {0, 0}) +
             elem(0x7003, {0, 1}) + elem(0x7004, {0, 0}) + elem(0x7005, {}), ""},
        {"rrm-neighbors", {B1 + "=" + N1 + "/00112233445566," + N2 + "/00112233445566", N1 + "="},
         head(528, 76) + elem(0x0021, ap) + elem(0x5001, b1) + elem(0x3022, n1) + elem(0x5053, info) +
             elem(0x3022, n2) + elem(0x5053, info) + elem(0x5001, n1), ""},
        {"chan-load", {"02:00:00:00:00:07", "36", "50"},
         head(529, 35) + elem(0x0021, ap) + elem(0x0013, cl) + elem(0x0043, {36}) + elem(0x504F, {0, 50}), ""},
        {"rf-scan", {"65536"}, {}, "bad value for rf-scan (0 to 65535): 65536"},
        {"channel", {"256", "36"}, {}, "(0 to 255)"},
        {"channel", {"1", "4294967296"}, {}, "(0 to 4294967295)"},
        {"power", {"1"}, {}, "wrong number of values"},
        {"power", {"1", "-1"}, {}, "bad value"},
        {"wids", {"yes", "1", "2"}, {}, "wids takes on or off"},
        {"wids", {"on", "1", "2", B1 + "/256"}, {}, "bad entry"},
        {"wids", {"on", "1", "2", B1 + "/6", "x"}, {}, "bad AP MAC"},
        {"wids", wids33, {}, "more than 32 entries for wids"},
        {"wids", std::vector<std::string>(37, "on"), {}, "wrong number of values"},
        {"rrm-neighbors", {kOther}, {}, "needs a VAP"},
        {"rrm-neighbors", {B1 + "=" + N1 + "/001122334455"}, {}, "bad entry"},
        {"rrm-neighbors", {B1 + "=" + N1 + "/0011223344556g"}, {}, "bad entry"},
        {"rrm-neighbors", {B1 + "=" + N1 + "/00112233445566" + std::string(",") + N1 + "/00112233445566" + "," + N1 +
                           "/00112233445566,"}, {}, "bad entry"},
        {"chan-load", {"02-00-00-00-00-07", "36", "50"}, {}, "bad client MAC"},
        {"chan-load", {"02:00:00:00:00:07", "36", "65536"}, {}, "(0 to 65535)"},
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
    // Up to eight neighbours a VAP are sent (the AP refuses the fourth).
    std::string vap = B1 + "=" + N1 + "/00112233445566";
    for (int i = 2; i <= 9; ++i) {
        vap += "," + N1 + "/00112233445566";
        swsim_radio_cmd c;
        std::string error;
        ASSERT_EQ(swsim_radio_cmd_parse("rrm-neighbors", {vap}, c, error), i <= 8 ? 0 : -1) << i;
        if (i == 8) {
            EXPECT_EQ(swsim_radio_cmd_build(c, kAp).size(), 14u + 10 + 8 * 21);
        }
    }
}

TEST(SwsimCommands, ProvisioningIsBuiltFromWordsAndItsReplyReadFieldByField) {
    const std::string pem = testing::TempDir() + "swsim-switch.pem";
    FILE* f = fopen(pem.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("PEM", f);
    fclose(f);
    const bytes tail = elem(0x0112, {0}) + elem(0x0113, {0});
    struct row {
        std::vector<std::string> words;
        const uint8_t* own_ap;
        bytes want;  // empty: refused with `error`
        const char* error;
    } rows[] = {
        {{}, kAp, head(514, 87) + elem(0x0101, v4(127, 0, 0, 2)) + elem(0x0110, v4(127, 0, 0, 2)) +
                      elem(0x0111, v4(0, 0, 0, 0)) + elem(0x0021, ap) + tail, ""},
        {{"switch=10.0.0.1", "backup=10.0.0.3", "mutual=1", "reprovision=1", "ap-mac=" + kOther, "cert=" + pem, "backup-cert=" + pem},
         nullptr, head(514, 101) + elem(0x0101, v4(10, 0, 0, 1)) + elem(0x0110, v4(10, 0, 0, 1)) + elem(0x0111, v4(10, 0, 0, 3)) +
                      elem(0x0021, other) + elem(0x0112, {1}) + elem(0x0113, {1}) + elem(0x0115, {'P', 'E', 'M'}) +
                      elem(0x0116, {'P', 'E', 'M'}), ""},
        {{"primary=::1"}, nullptr, head(514, 77) + elem(0x0101, v4(127, 0, 0, 2)) + elem(0x0110, bytes{1} + bytes(15, 0) + bytes{1}) +
                      elem(0x0111, v4(0, 0, 0, 0)) + tail, ""},
        {{"mutual=2"}, kAp, {}, "mutual=2"},
        {{"switch=10.0.0"}, kAp, {}, "switch=10.0.0"},
        {{"cert=/nonexistent/switch.pem"}, kAp, {}, "cert=/nonexistent"},
        {{"primary"}, kAp, {}, "bad provisioning value"},
        {{"vlan=1"}, kAp, {}, "bad provisioning value"},
    };
    for (const auto& r : rows) {
        swsim_provision p;
        std::string error;
        ASSERT_EQ(swsim_provision_parse(r.words, p, error), r.want.empty() ? -1 : 0) << error;
        if (!r.want.empty()) {
            EXPECT_EQ(swsim_provision_build(p, 0x7F000002, r.own_ap, error), r.want);
        }
        EXPECT_TRUE(contains(error, r.error)) << error;
    }
    std::remove(pem.c_str());
    // The reply: the status element's length leaves out the zero byte behind it.
    auto reply = [](const bytes& ap_addr, const bytes& status, const bytes& primary, uint8_t mutual, const bytes& cert) {
        const bytes body = elem(0x0101, ap_addr) + elem(0x0021, ap) + status + elem(0x0110, primary) +
                           elem(0x0111, v4(0, 0, 0, 0)) + elem(0x0112, {mutual}) + elem(0x0113, {1}) + elem(0x0114, cert);
        return head(515, static_cast<uint16_t>(4 + body.size())) + body;
    };
    const bytes ok = elem(0x0117, {1}) + bytes{0}, lo = v4(127, 0, 0, 1), sw = v4(127, 0, 0, 2);
    const bytes good = reply(lo, ok, sw, 0, {});
    const bytes swapped = head(515, 97) + elem(0x0021, ap) + elem(0x0101, lo) + bytes(good.begin() + 35, good.end());
    struct drow {
        bytes msg;
        std::string want;  // the whole line, or (with `part`) a piece of it
        bool part;
    } drows[] = {
        {good, "AP_PROVISION_REPLY_MSG (515), 97 bytes: ap 127.0.0.1 mac 00:1a:2b:3c:4d:50 status 1 "
                                   "primary 127.0.0.2 backup 0.0.0.0 mutual-auth 0 reprovision 1 ap-cert 0 bytes", false},
        {reply(lo, elem(0x0117, {0}) + bytes{0}, bytes{1} + bytes(15, 0) + bytes{1}, 1, {'P', 'E', 'M'}),
         "status 0 primary ipv6 ::1 backup 0.0.0.0 mutual-auth 1 reprovision 1 ap-cert 3 bytes", false},
        {reply(lo, elem(0x0117, {1}), sw, 0, {}), "; MALFORMED: byte 0x01 after the status element", true},
        {reply(lo, elem(0x0117, {1, 0}), sw, 0, {}), "elem-0x0117(2) primary 127.0.0.2", true},
        {reply(lo, ok, sw, 0, {'P'}), "; MALFORMED: a certificate without mutual authentication", true},
        {reply(bytes{0, 1} + bytes(11, 0) + bytes{127, 0, 0, 1}, ok, sw, 0, {}), "element 0x0101: non-zero bytes before", true},
        {swapped, "; MALFORMED: element 0x0101 out of order", true},
        {head(515, 90) + elem(0x0101, lo) + bytes{0, 0}, "ap 127.0.0.1; MALFORMED: length field 90 in 27 bytes, element "
                                                          "0x0021 missing, element 0x0117 missing", true},
        {head(515, 30) + elem(0x0101, lo) + bytes{0, 0, 0}, "element 0x0114 missing, 3 stray bytes at the end", true},
    };
    for (const auto& r : drows) {
        const std::string line = swsim_decode(r.msg);
        EXPECT_TRUE(r.part ? contains(line, r.want) : line.ends_with(r.want)) << r.want << "\n  in: " << line;
        EXPECT_EQ(contains(line, "MALFORMED"), r.part) << line;
    }
}

TEST(SwsimCommands, ScenarioStepsAreCheckedWhenRead) {
    swsim_scenario sc;
    std::string error;
    EXPECT_EQ(swsim_scenario_load(std::string(MAPD_SWSIM_SCENARIOS) + "/commands.txt", sc, error), 0) << error;
    for (const char* verb : {"rf-scan", "channel", "power", "wids", "rrm-neighbors", "chan-load", "provision"}) {
        EXPECT_TRUE(std::any_of(sc.steps.begin(), sc.steps.end(), [&](const swsim_step& s) { return s.verb == verb; }))
            << verb;
    }
    EXPECT_EQ(swsim_scenario_parse("establish\nwids on 1 70000\n", sc, error), -1);
    EXPECT_TRUE(contains(error, "line 2: bad value for wids (0 to 65535): 70000")) << error;
    EXPECT_EQ(swsim_scenario_parse("\n\nchannel 1 36\nprovision mutual=on\n", sc, error), -1);
    EXPECT_TRUE(contains(error, "line 4: bad provisioning value")) << error;
    EXPECT_EQ(swsim_scenario_parse("power 3 1 x\n", sc, error), -1);
    EXPECT_TRUE(contains(error, "line 1: bad AP MAC")) << error;
}

}  // namespace

// ---- client QoS: list changes, modes and definition replies ---------------------------

namespace {

bytes n31(const std::string& s) { return wr().text(s, 31).b; }
bytes modes(std::initializer_list<uint8_t> first, uint8_t rest = 0) {
    bytes b(first);
    b.resize(16, rest);
    return b;
}

TEST(SwsimCltQos, StepsAreBuiltByteForByteAndBadValuesRefused) {
    const std::string long32(32, 'a');
    std::string many = "2:a";
    for (int i = 0; i < 100; ++i) many += ",2:a";
    struct row {
        const char* verb;
        std::vector<std::string> args;
        int rc;
        bytes want;
        const char* error;
    } rows[] = {
        {"acl-update", {"2:acl-a,8:pol"}, 0,
         head(144, 82) + elem(0x0111, {0, 2}) + elem(0x0112, bytes{2} + n31("acl-a")) + elem(0x0113, bytes{8} + n31("pol")), ""},
        {"acl-update", {"ip4num:10net", "ipv6:" + long32 + ",mac:m", "count=7"}, 0,
         head(144, 118) + elem(0x0111, {0, 7}) + elem(0x0112, bytes{1} + n31("10net")) +
             elem(0x0112, bytes{3} + bytes(31, 'a')) + elem(0x0112, bytes{4} + n31("m")), ""},
        {"acl-rename", {"ipv4:old>new,policy:p1>p2"}, 0,
         head(145, 144) + elem(0x0111, {0, 2}) + elem(0x0114, bytes{2} + n31("new") + n31("old")) +
             elem(0x0115, bytes{8} + n31("p2") + n31("p1")), ""},
        {"acl-delete", {"4:maclist", "0:", "count=0"}, 0,
         head(146, 82) + elem(0x0111, {0, 0}) + elem(0x0112, bytes{4} + n31("maclist")) + elem(0x0112, bytes(32, 0)), ""},
        {"qos-mode", {"1", "1:1100000000000000", "2:000000000000000f"}, 0,
         head(150, 58) + elem(0x0021, ap) + elem(0x0120, bytes{1, 1} + modes({1, 1})) +
             elem(0x0120, bytes{1, 2} + modes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 15})), ""},
        {"qos-mode", {"0"}, 0, head(150, 14) + elem(0x0021, ap), ""},
        {"qos-mode-old", {"2"}, 0, head(150, 19) + elem(0x0021, ap) + elem(0x0122, {2}), ""},
        {"qos-mode-old", {"0", "3:ffffffffffffffff"}, 0,
         head(150, 41) + elem(0x0021, ap) + elem(0x0120, bytes{0, 3} + modes({}, 15)) + elem(0x0122, {0}), ""},
        {"acl-update", {"2acl"}, -1, {}, "bad entry for acl-update (TYPE:NAME): 2acl"},
        {"acl-update", {"256:x"}, -1, {}, "bad entry"},
        {"acl-rename", {"2:old"}, -1, {}, "(TYPE:OLD>NEW): 2:old"},
        {"acl-delete", {"2:a", "count=65536"}, -1, {}, "bad count for acl-delete (0 to 65535)"},
        {"acl-update", {"count=1"}, -1, {}, "acl-update takes 1 to 100 entries"},
        {"acl-update", {many}, -1, {}, "1 to 100 entries"},
        {"qos-mode", {"256"}, -1, {}, "qos-mode needs a global mode (0 to 255)"},
        {"qos-mode", {"1", "1:110000000000000"}, -1, {}, "bad radio for qos-mode (RADIO:16 hex digits)"},
        {"qos-mode-old", {"1", "1:11000000000000g0"}, -1, {}, "bad radio"},
        {"cltqos-answer", {"on"}, 1, {}, ""},
    };
    for (const auto& r : rows) {
        swsim_qos_cmd c;
        std::string error;
        ASSERT_EQ(swsim_qos_cmd_parse(r.verb, r.args, c, error), r.rc) << r.verb << " " << error;
        if (r.rc == 0) {
            EXPECT_EQ(swsim_qos_cmd_build(c, kAp), r.want) << r.verb << " " << r.args[0];
        }
        EXPECT_TRUE(contains(error, r.error)) << r.verb << ": " << error;
    }
    // The steps are checked when a scenario is read.
    swsim_scenario sc;
    std::string error;
    EXPECT_EQ(swsim_scenario_parse("acl-update 2:a\nacl-rename 8:a>b\nacl-delete 2:a\nqos-mode 1 1:0000000000000000\n"
                                   "qos-mode-old 0\ncltqos-answer off\n", sc, error), 0) << error;
    EXPECT_EQ(sc.steps.size(), 6u);
    EXPECT_EQ(swsim_scenario_parse("\ncltqos-answer maybe\n", sc, error), -1);
    EXPECT_TRUE(contains(error, "line 2: cltqos-answer takes on or off, not maybe")) << error;
    EXPECT_EQ(swsim_scenario_parse("acl-rename 2:a\n", sc, error), -1);
    EXPECT_TRUE(contains(error, "line 1: bad entry")) << error;
}

// A definition request (147) from the AP, read field by field with its
// faults named, and answered with the names it asks for.
TEST(SwsimCltQos, DefinitionRequestsAreReadAndAnswered) {
    const bytes acl = elem(0x0112, bytes{2} + n31("acl-a")), pol = elem(0x0113, bytes{8} + n31("pol"));
    const bytes req = head(147, 82) + elem(0x0111, {0, 2}) + acl + pol;
    bytes nine = head(147, 334) + elem(0x0111, {0, 9});
    for (int i = 0; i < 9; ++i) nine = nine + acl;
    struct row {
        bytes msg;
        std::string want;  // the whole line, or a piece of it
    } rows[] = {
        {req, "CLTQOS_DEF_REQ (147), 82 bytes: count 2 acl 2 (ACL ipv4) \"acl-a\" policy 8 (Policy in) \"pol\""},
        {head(147, 118) + elem(0x0111, {0, 3}) + elem(0x0112, bytes{1} + n31("1")) + elem(0x0112, bytes{3} + n31("v6")) +
             elem(0x0112, bytes{4} + bytes(31, 'm')),
         ": count 3 acl 1 (ACL ip4-num) \"1\" acl 3 (ACL ipv6) \"v6\" acl 4 (ACL mac) \"" + std::string(31, 'm') + "\""},
        {head(147, 82) + elem(0x0111, {0, 3}) + acl + pol, "; MALFORMED: count 3 with 2 entries"},
        {head(147, 82) + elem(0x0111, {0, 2}) + elem(0x0112, bytes{8} + n31("p")) + elem(0x0113, bytes{4} + n31("m")),
         "; MALFORMED: element 0x0112 with id type 8, element 0x0113 with id type 4"},
        {head(147, 46) + elem(0x0111, {0, 1}) + elem(0x0112, bytes{0} + n31("")), "; MALFORMED: element 0x0112 with id type 0"},
        {head(147, 46) + elem(0x0111, {0, 1}) + elem(0x0112, bytes{5} + n31("")), "; MALFORMED: element 0x0112 with id type 5"},
        {nine, "; MALFORMED: more than 8 entries"},
        {head(147, 82) + elem(0x0111, {0, 2}) + acl + elem(0x0113, bytes{8} + wr().text("pol", 30).b) + bytes{0},
         "; MALFORMED: element 0x0113 length 31 (expected 32), count 2 with 1 entries, 1 stray bytes at the end"},
        {head(147, 46) + acl + elem(0x0111, {0, 1}), "; MALFORMED: element 0x0111 not first"},
        {head(147, 52) + acl + elem(0x0114, bytes(6, 0)) + bytes{1, 2}, "; MALFORMED: element 0x0114 unknown, element 0x0111 missing, 2 stray"},
        {head(147, 50) + elem(0x0111, {0, 1}) + elem(0x0112, {2}, 32), "; MALFORMED: length field 50 in 15 bytes, element 0x0112 cut short, count 1 with 0"},
        {head(145, 77) + elem(0x0111, {0, 1}) + elem(0x0115, bytes{8} + n31("p1") + n31("p2")),
         "CLTQOS_LIST_RENAME (145), 77 bytes: count 1 policy 8 (Policy in) \"p1\" > \"p2\""},
        {head(150, 41) + elem(0x0021, ap) + elem(0x0120, bytes{1, 2} + modes({1, 0, 15}, 16)) + elem(0x0122, {0}),
         "CLTQOS_MODE_UPDATE (150), 41 bytes: ap 00:1a:2b:3c:4d:50 radio 2 global 1 vaps 10f[16][16][16][16][16][16]"
         "[16][16][16][16][16][16][16] global 0 (older form)"},
    };
    for (const auto& r : rows) {
        const std::string line = swsim_decode(r.msg);
        EXPECT_TRUE(r.want.starts_with("CLTQOS") ? line == r.want : contains(line, r.want)) << r.want << "\n  in: " << line;
        EXPECT_EQ(contains(line, "MALFORMED"), contains(r.want, "MALFORMED")) << line;
    }
    EXPECT_EQ(swsim_qos_decode(head(143, 4)), "");
    EXPECT_EQ(swsim_qos_decode(head(151, 4)), "");
    // The answers: a 148 with the ACLs and a 149 with the policies asked for.
    using answers = std::vector<bytes>;
    EXPECT_EQ(swsim_qos_answer(true, req), (answers{head(148, 46) + elem(0x0111, {0, 1}) + acl,
                                                    head(149, 46) + elem(0x0111, {0, 1}) + pol}));
    EXPECT_EQ(swsim_qos_answer(true, head(147, 46) + elem(0x0111, {0, 1}) + pol), (answers{head(149, 46) + elem(0x0111, {0, 1}) + pol}));
    EXPECT_EQ(swsim_qos_answer(false, req), answers{});
    EXPECT_EQ(swsim_qos_answer(true, head(144, 82) + bytes(req.begin() + 4, req.end())), answers{});
    // With no link up, an answer due fails and none due succeeds.
    swsim sw;
    sw.print = [](const std::string&) {};
    EXPECT_TRUE(sw.roam.cltqos_answer);
    EXPECT_EQ(swsim_answer_cltqos(sw, req), -1);
    sw.roam.cltqos_answer = false;
    EXPECT_EQ(swsim_answer_cltqos(sw, req), 0);
}

}  // namespace
