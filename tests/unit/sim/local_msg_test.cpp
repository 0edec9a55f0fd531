// The twin's stand-ins: hostapd's client events built at their offsets, every
// record mapd sends read back field by field (and a wrong length shown), the
// client command line of apsim, and the VAP interfaces of a twin root.
#include "twin/local_msg.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "support/bytes.hpp"
#include "support/sandbox.hpp"
#include "twin/ap_root.hpp"

using namespace mapd_test;

namespace {

const uint8_t kAp[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
const uint8_t kVap[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x51};
const uint8_t kCl[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x07};
const bytes ap = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
const bytes vap = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x51};
const bytes cl = {0x02, 0x00, 0x00, 0x00, 0x00, 0x07};
const bytes bssid = {0x0e, 0x0e, 0x0e, 0x0e, 0x0e, 0x0e};
const std::string AP = "ap 00:1a:2b:3c:4d:50", VAP = "vap 00:1a:2b:3c:4d:51",
                  CL = "client 02:00:00:00:00:07";

// Host-order numbers, as the records carry them.
bytes h16(uint16_t v) {
    bytes b(2);
    memcpy(b.data(), &v, 2);
    return b;
}
bytes h32(uint32_t v) {
    bytes b(4);
    memcpy(b.data(), &v, 4);
    return b;
}
bytes text(const std::string& s) { return bytes(s.begin(), s.end()); }
// `size` zero bytes with each part written at its offset.
bytes rec(size_t size, std::initializer_list<std::pair<size_t, bytes>> parts) {
    bytes b(size, 0);
    for (const auto& [off, v] : parts) memcpy(b.data() + off, v.data(), v.size());
    return b;
}

TEST(TwinLocalMsg, HostapdEventsSitAtTheirOffsets) {
    const std::string ssid33(33, 'b');
    struct row {
        const char* name;
        bytes got, want;
    } rows[] = {
        {"probe request", twin_msg_probe_req(kVap, kCl, 1, "corp", 40, 6),
         rec(48, {{0, {1}}, {1, vap}, {7, cl}, {13, {1}}, {14, text("corp")}, {46, {40}}, {47, {6}}})},
        {"probe request, SSID cut to 32", twin_msg_probe_req(kVap, kCl, 0, ssid33, 1, 2),
         rec(48, {{0, {1}}, {1, vap}, {7, cl}, {14, text(std::string(32, 'b'))}, {46, {1}}, {47, {2}}})},
        {"association request, 33-byte SSID", twin_msg_assoc_req(kAp, kVap, kCl, 1, ssid33 + "cut"),
         rec(53, {{0, {17}}, {1, ap}, {7, vap}, {13, cl}, {19, {1}}, {20, text(ssid33)}})},
        {"disassociation", twin_msg_disassoc_req(kVap, kCl, 1),
         rec(14, {{0, {3}}, {1, vap}, {7, cl}, {13, {1}}})},
        {"authentication failure", twin_msg_authen_fail(kVap, kCl, "corp", 2),
         rec(46, {{0, {4}}, {1, vap}, {7, cl}, {13, text("corp")}, {45, {2}}})},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.name;
}

// The roaming events of the command line, each at its offsets (the client's
// PMK: byte i is its MAC's last byte plus i).
TEST(TwinLocalMsg, RoamingEventsSitAtTheirOffsets) {
    auto event = [](std::vector<std::string> args, bool tspec = false) {
        twin_client_cmd c;
        std::string error;
        args.insert(args.begin() + 1, "02:00:00:00:00:07");
        EXPECT_EQ((tspec ? twin_tspec_cmd_parse : twin_client_cmd_parse)(args, c, error), 0) << error;
        if (!c.ssid_given) c.ssid = "corp";
        return tspec ? twin_tspec_event(c, kVap, kAp) : twin_client_event(c, kVap, kAp);
    };
    bytes pmk;
    for (int i = 0; i < 32; ++i) pmk.push_back(static_cast<uint8_t>(7 + i));
    twin_client_auth qos;
    qos.acl_type[1] = 3;
    qos.acl[1] = "acl-up";
    qos.policy_type[0] = 8;
    qos.policy[0] = std::string(33, 'p');
    struct row {
        const char* name;
        bytes got, want;
    } rows[] = {
        {"authentication", event({"auth", "--vap", "wlan1vap2", "--user", "alice", "--vlan", "20", "--rrm", "--bw", "64000"}),
         rec(308, {{0, {14}}, {1, vap}, {7, cl}, {13, {1}}, {14, text("corp")}, {46, text("alice")}, {78, h16(20)},
                   {80, {2}}, {82, h16(540)}, {84, {6}}, {85, {1, 1}}, {88, h32(0x84)}, {92, pmk}, {124, h32(3600)},
                   {128, {1}}, {129, ap}, {147, h32(0x7F000001)}, {152, {1}}, {156, h32(64000)}, {160, {1}},
                   {164, h32(64000)}, {300, {2, 2, 0, 0x40, 1}}})},
        {"authentication, no VLAN, RRM or bandwidth", event({"auth", "--vap", "wlan0", "--channel", "40"}),
         rec(308, {{0, {14}}, {1, vap}, {7, cl}, {14, text("corp")}, {82, h16(540)}, {84, {40}}, {85, {1, 1}},
                   {88, h32(0x4)}, {92, pmk}, {124, h32(3600)}, {128, {1}}, {129, ap}, {147, h32(0x7F000001)}})},
        {"authentication, QoS names", twin_msg_client_auth(qos),
         rec(308, {{0, {14}}, {82, h16(540)}, {85, {1, 1}}, {88, h32(4)}, {124, h32(3600)}, {128, {1}}, {201, {3}},
                   {202, text("acl-up")}, {234, {8}}, {235, text(std::string(32, 'p'))}})},
        {"PMK", event({"pmk", "--vap", "wlan0", "--ssid", "guest"}),
         rec(71, {{0, {12}}, {1, cl}, {7, text("guest")}, {39, pmk}})},
        {"pre-authentication", event({"preauth", "--vap", "wlan0", "--bytes", "3"}),
         rec(51, {{0, {10}}, {1, cl}, {7, text("corp")}, {39, vap}, {46, h16(3)}, {48, {0x40, 0x41, 0x42}}})},
        {"pre-authentication answer, no data", event({"preauth-ans", "--vap", "wlan0", "--bytes", "0"}),
         rec(48, {{0, {13}}, {1, cl}, {7, text("corp")}, {39, vap}})},
        {"pre-authentication cut to 1600", twin_msg_pre_auth(10, kCl, "", kVap, bytes(1700, 0xab)),
         rec(1648, {{0, {10}}, {1, cl}, {39, vap}, {46, h16(1600)}, {48, bytes(1600, 0xab)}})},
        {"pre-authentication result", event({"preauth-notify", "--vap", "wlan1", "--status", "1", "--user", "bob"}),
         rec(85, {{0, {24}}, {1, ap}, {7, vap}, {13, cl}, {19, {1}}, {20, text("corp")}, {52, text("bob")}, {84, {1}}})},
        {"RADIUS", event({"radius", "--vap", "wlan0", "--bytes", "6"}),
         rec(3056, {{0, {25}}, {1, ap}, {7, vap}, {13, cl}, {20, text("corp")}, {52, {1, 7, 0, 6, 0x44, 0x45}},
                    {3052, h32(6)}})},
        {"RADIUS cut to 3000", twin_msg_radius(kAp, kVap, kCl, 0, "", bytes(3001, 1)),
         rec(3056, {{0, {25}}, {1, ap}, {7, vap}, {13, cl}, {52, bytes(3000, 1)}, {3052, h32(3000)}})},
        {"channel load", event({"chanload", "--channel", "36", "--load", "30"}),
         rec(18, {{0, {39}}, {1, ap}, {7, cl}, {13, {36}}, {14, h16(50)}, {17, {30}}})},
        {"TSPEC deletion", event({"request", "--vap", "wlan1vap1", "--ac", "2", "--cmd", "3"}, true),
         rec(120, {{0, {35}}, {1, {3}}, {2, ap}, {8, vap}, {14, cl}, {20, {1}}, {21, text("corp")}, {53, {2}},
                   {57, {0x61, 0x34, 1}}, {60, h16(208)}, {62, h16(240)}, {64, h32(10000)}, {68, h32(20000)},
                   {72, h32(3000000)}, {76, h32(4000000)}, {80, h32(5)}, {84, h32(64000)}, {88, h32(80000)},
                   {92, h32(96000)}, {96, h32(1500)}, {100, h32(50000)}, {104, h32(6000000)}, {108, h16(8192)},
                   {110, h16(31)}, {112, h32(40)}, {116, h16(12)}, {118, {2}}})},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.name;
    twin_client_cmd c;
    std::string error;
    ASSERT_EQ(twin_tspec_cmd_parse({"status", "--ac", "2"}, c, error), 0) << error;
    const bytes st = twin_tspec_event(c, kVap, kAp);
    ASSERT_EQ(st.size(), 984u);
    EXPECT_EQ(bytes(st.begin(), st.begin() + 4), (bytes{40, 1, 2, 0}));
    for (size_t off : {4u, 88u, 980u}) {
        EXPECT_EQ(bytes(st.begin() + static_cast<long>(off), st.begin() + static_cast<long>(off) + 4),
                  h32(static_cast<uint32_t>(2000 + off / 4))) << off;
    }
}

TEST(TwinLocalMsg, EveryRecordIsReadFieldByField) {
    using k = standin_kind;
    const bytes pmk(32, 0xaa);
    const bytes bw = bytes{1, 0, 0, 0} + h32(500) + bytes(8, 0);
    const bytes acls = bytes{2} + text("acl-in") + bytes(26, 0) + bytes(33, 0);
    const bytes pols = bytes{8} + text("pol") + bytes(29, 0) + bytes(33, 0);
    const bytes reply = rec(276, {{0, {18}}, {1, ap}, {7, vap}, {13, cl}, {19, {1}}, {20, text("corp")},
                                  {56, h32(0x20)}, {60, pmk}, {92, h32(3600)}, {96, h32(5)}, {100, h16(100)},
                                  {103, bssid}, {121, h32(0x7F000003)}, {128, bw}, {144, acls}, {210, pols}});
    const std::string reply_fields =
        AP + " " + VAP + " " + CL + " radio 1 ssid \"corp\" status 0x20 pmk " + std::string(64, 'a') +
        " reauth 3600 age 5 vlan 100 home-ap 0 home-mac 0e:0e:0e:0e:0e:0e home-ip 127.0.0.3 bw down "
        "1/500 up 0/0 acl down 2:\"acl-in\" up 0:\"\" policy down 8:\"pol\" up 0:\"\"";
    bytes status = rec(984, {{0, {40, 1, 3}}});
    for (uint32_t w = 1; w < 246; ++w) memcpy(&status[4 * w], h32(3000 + w).data(), 4);
    // Every field of the VAP client QoS settings distinct: radio 2, VAP 15.
    const bytes qos_vap = wr().be16(304).be16(138).u8(2).u8(15).u8(2).text("acl-a", 32).u8(4).text("macs", 32)
                              .u8(8).text("pol", 32).u8(9).text(std::string(32, 'q'), 32).b;
    struct row {
        k peer;
        bytes msg;
        std::vector<std::string> parts;  // one: the whole line; more: pieces of it
    } rows[] = {
        {k::hostapd, reply, {"assoc_reply_cmdmsg_s (276 bytes): " + reply_fields}},
        {k::hostapd, bytes(reply.begin(), reply.end() - 1),
         {"assoc_reply_cmdmsg_s (275 bytes, WRONG LENGTH: expected 276): " + AP, "acl down 2:\"acl-in\" up 0:\"\""}},
        {k::hostapd, rec(7, {{0, {5}}, {1, cl}}), {"disassoc_cmdmsg_s (7 bytes): " + CL}},
        {k::hostapd, rec(6, {{0, {5}}}), {"disassoc_cmdmsg_s (6 bytes, WRONG LENGTH: expected 7):"}},
        {k::hostapd, rec(7, {{0, {15}}, {1, cl}}), {"resend_client_info_cmdmsg_s (7 bytes): " + CL}},
        {k::hostapd, rec(15, {{0, {32}}, {1, {2}}, {2, {11}}, {3, cl}, {9, bssid}}),
         {"client_deauth_msg_s (15 bytes): radio 2 channel 11 " + CL + " fake-bssid 0e:0e:0e:0e:0e:0e"}},
        {k::hostapd, rec(38, {{0, {21}}, {2, ap}, {8, cl}, {14, vap}, {32, h32(0x0A000007)}, {36, h16(20)}}),
         {"dl2tunnel_setup_msg_s (38 bytes): home-ap 00:1a:2b:3c:4d:50 " + CL +
          " assoc-ap 00:1a:2b:3c:4d:51 assoc-ap-ip 10.0.0.7 vlan 20"}},
        {k::hostapd, rec(14, {{0, {22}}, {2, ap}, {8, cl}}),
         {"dl2tunnel_term_msg_s (14 bytes): home-ap 00:1a:2b:3c:4d:50 " + CL}},
        {k::hostapd, rec(20, {{0, {20}}, {4, h32(64)}, {8, h32(300)}, {12, h32(3600)}, {16, h32(8)}}),
         {"dl2tunnel_config_msg_s (20 bytes): max-clients 64 idle-timeout 300 age-timeout 3600 mc-replication 8"}},
        {k::hostapd, rec(51, {{0, {10}}, {1, cl}, {7, text("corp")}, {39, bssid}, {46, h16(3)}, {48, {0xde, 0xad, 0xbe}}}),
         {"mpre_auth_cmdmsg_s (51 bytes): " + CL + " ssid \"corp\" bssid 0e:0e:0e:0e:0e:0e datalen 3 data deadbe"}},
        {k::hostapd, rec(51, {{0, {13}}, {46, h16(5)}}), {"mpre_auth_ansmsg_s (51 bytes, WRONG LENGTH: expected 53): client 00:00:00:00:00:00 ssid \"\" "
          "bssid 00:00:00:00:00:00 datalen 5 data 000000"}},
        {k::hostapd, rec(71, {{0, {12}}, {1, cl}, {7, text("corp")}, {39, pmk}}),
         {"mpmk_cmdmsg_s (71 bytes): " + CL + " ssid \"corp\" pmk " + std::string(64, 'a')}},
        {k::hostapd, rec(126, {{0, {19}}, {1, ap}, {7, {1}}, {8, h16(60)}, {10, h16(30)}, {12, h16(2)},
                               {14, bssid + bytes{6}}, {21, vap + bytes{149}}}),
         {"wids_config_cmdmsg_t (126 bytes): " + AP + " wired-detect 1 wired-interval 60 attack-interval 30 "
          "attack-count 2 0e:0e:0e:0e:0e:0e/6 00:1a:2b:3c:4d:51/149"}},
        {k::hostapd, rec(4, {{0, {23}}, {2, h16(99)}}), {"wired_nw_det_vlan_cmdmsg_s (4 bytes): vlan 99"}},
        {k::hostapd, rec(131, {{0, {33}}, {1, h16(2)}, {3, h16(10)}, {5, h16(4094)}}),
         {"cl2tunnel_config_msg_s (131 bytes): vlan-count 2 vlans 10 4094"}},
        {k::hostapd, rec(1504, {{0, {37}}, {1, ap}, {7, vap}, {13, bssid + bytes{6}}, {1502, h16(51)}}),
         {"rrm_nbr_ap_list (1504 bytes): list-length 51 " + AP + " " + VAP + " [0e:0e:0e:0e:0e:0e ch 6]"}},
        {k::hostapd, rec(16, {{0, {38}}, {1, ap}, {7, cl}, {13, {36}}, {14, h16(50)}}),
         {"rrm_chan_load_req (16 bytes): " + AP + " " + CL + " channel 36 duration 50"}},
        {k::hostapd, rec(3056, {{0, {25}}, {1, ap}, {7, vap}, {13, cl}, {19, {1}}, {20, text("corp")},
                                {52, {1, 7, 0, 20}}, {3052, h32(20)}}),
         {"radius_proxy_cmdmsg_s (3056 bytes): " + AP + " " + VAP + " " + CL +
          " radio 1 ssid \"corp\" radius-length 20 radius code 1 id 7 length 20"}},
        {k::hostapd, rec(8, {{0, {6}}, {4, h32(120)}}), {"rfscanreport_cmdmsg_s (8 bytes): interval 120"}},
        {k::hostapd, rec(8, {{0, {8}}, {1, {17}}, {2, vap}}),
         {"power_change_info_cmdmsg_s (8 bytes): power 17 radio-mac 00:1a:2b:3c:4d:51"}},
        {k::hostapd, {99, 1}, {"type 99 unknown record (2 bytes): 6301"}},
        {k::hostapd, rec(308, {{0, {14}}, {1, vap}, {7, cl}, {13, {1}}, {14, text("corp")}, {46, text("bob")},
                               {78, h16(20)}, {80, {2}}, {82, h16(540)}, {84, {6}}, {85, {1, 1}}, {88, h32(0x84)},
                               {92, pmk}, {124, h32(3600)}, {128, {1}}, {129, ap}, {147, h32(0x7F000001)},
                               {152, bw}, {168, acls}, {234, pols}, {300, {2, 2, 0, 0x40, 1}}}),
         {"mclient_auth_msg_s (308 bytes): " + VAP + " " + CL + " radio 1 ssid \"corp\" user \"bob\" vlan 20 "
          "vap-index 2 tx-rate 540 channel 6 11n 1 stbc 1 flags 0x84 pmk " + std::string(64, 'a') +
          " reauth 3600 home-ap 1 home-mac 00:1a:2b:3c:4d:50 home-ip 127.0.0.1 bw down 1/500 up 0/0 acl down "
          "2:\"acl-in\" up 0:\"\" policy down 8:\"pol\" up 0:\"\" rrm 0202004001"}},
        {k::hostapd, rec(1649, {{0, {10}}, {46, h16(1601)}}), {"datalen 1601 data 00", "... DATALEN ABOVE 1600"}},
        {k::hostapd, rec(3056, {{0, {25}}, {3052, h32(3001)}}), {"radius-length 3001 ", " RADIUS LENGTH ABOVE 3000"}},
        {k::tspec, status,
         {"tspec_status_msg_s (984 bytes): cmd 1 ac 3 active-ts 3001 ts-clients 3002 roam-ts-clients 3003 "
          "accepted 3004 rejected 3005 roam-accepted 3006 roam-rejected 3007 radio0 "
          "3008/3009/3010/3011/3012/3013/3014 radio1 3015/3016/3017/3018/3019/3020/3021"}},
        {k::tspec, rec(120, {{0, {4}}, {1, {2}}, {2, ap}, {14, cl}, {53, {3}}, {57, {1, 2, 3}}, {60, h16(200)},
                             {84, h32(64000)}, {110, h16(31)}, {119, {1}}}),
         {"tspec_msg_s (120 bytes): cmd 2 " + AP, CL + " radio 0", "ac 3 rsvd1 0 ts-info 010203 nom-msdu 200",
          "min-rate 64000", "medium-time 31", "admitted 1"}},
        {k::tspec, {6, 1, 1}, {"tspec_direct_msg_s (3 bytes): cmd 1 managed 1"}},
        {k::mapqosd, qos_vap,
         {"VAP client QoS settings (304) (138 bytes): radio 2 vap 15 acl down 2 (ACL ipv4) \"acl-a\" up 4 (ACL mac) "
          "\"macs\" policy down 8 (Policy in) \"pol\" up 9 (unknown) \"" + std::string(32, 'q') + "\""}},
        {k::mapqosd, bytes(qos_vap.begin(), qos_vap.begin() + 100),
         {"VAP client QoS settings (304) (100 bytes, WRONG LENGTH: expected 138): length-field 138 radio 2 "
          "vap 15 acl down 2 (ACL ipv4) \"acl-a\" up 4 (ACL mac) \"macs\""}},
        {k::mapqosd, wr().be16(148).be16(46).b + elem(0x0111, {0, 1}) + elem(0x0112, bytes{4} + text("maclist") + bytes(24, 0)),
         {"CLTQOS_ACL_DEF_REPLY (148) (46 bytes): count 1 acl 4 (ACL mac) \"maclist\""}},
        {k::mapqosd, wr().be16(149).be16(82).b + elem(0x0111, {0, 2}) + elem(0x0113, bytes{8} + wr().text("pol", 31).b) +
                         elem(0x0113, bytes{5} + wr().text(std::string(31, 'r'), 31).b),
         {"CLTQOS_POLICY_DEF_REPLY (149) (82 bytes): count 2 policy 8 (Policy in) \"pol\" policy 5 (<rsvd5>) \"" +
          std::string(31, 'r') + "\""}},
        {k::mapqosd, wr().be16(260).be16(8).be32(3).b, {"DEBUG_SET_TRACE (260) (8 bytes): mask 0x3"}},
        {k::mapqosd, wr().be16(260).be16(9).be32(3).b, {"DEBUG_SET_TRACE (260) (8 bytes, WRONG LENGTH: expected 9): mask 0x3"}},
    };
    for (const auto& r : rows) {
        std::string line = twin_local_decode(r.peer, false, r.msg.data(), r.msg.size());
        if (r.parts.size() == 1) {
            EXPECT_EQ(line, r.parts[0]);
        } else {
            for (const auto& p : r.parts) EXPECT_TRUE(contains(line, p)) << p << "\n  in: " << line;
        }
    }
    // One field by its label, as the line shows it.
    const bytes pmk_rec = rec(71, {{0, {12}}, {1, cl}, {39, pmk}});
    EXPECT_EQ(twin_local_field(k::hostapd, pmk_rec.data(), pmk_rec.size(), "pmk"), std::string(64, 'a'));
    EXPECT_EQ(twin_local_field(k::hostapd, pmk_rec.data(), pmk_rec.size(), "client"), "02:00:00:00:00:07");
    EXPECT_EQ(twin_local_field(k::hostapd, pmk_rec.data(), 70, "pmk"), "");
    EXPECT_EQ(twin_local_field(k::hostapd, pmk_rec.data(), pmk_rec.size(), "admitted"), "");
    const bytes tspec_reply = rec(120, {{0, {4}}, {119, {1}}});
    EXPECT_EQ(twin_local_field(k::tspec, tspec_reply.data(), tspec_reply.size(), "admitted"), "1");
    // hostapd's own RF-scan report carries a switch message.
    const bytes report = {6, 0x00, 0x0a, 0x00, 0x04};
    EXPECT_EQ(twin_local_decode(standin_kind::hostapd, true, report.data(), report.size()),
              "rfscanreport_cmdmsg_s (5 bytes): switch message type 10 length 4");
}

TEST(TwinLocalMsg, ClientCommandLineAndPeerNames) {
    const std::string m = "02:00:00:00:00:07";
    struct row {
        std::vector<std::string> args;
        int rc;
        const char* error;
        std::string vap, ssid;
        int status, rssi, channel;
    } rows[] = {
        {{"assoc", m, "--vap", "wlan0vap1", "--ssid", "corp"}, 0, "", "wlan0vap1", "corp", 0, 40, 0},
        {{"authfail", m, "--status", "2", "--vap", "wlan1"}, 0, "", "wlan1", "", 2, 40, 0},
        {{"probe", m, "--vap", "wlan1vap15", "--rssi", "55", "--channel", "11"}, 0, "", "wlan1vap15", "", 0, 55, 11},
        {{"disassoc", m}, 0, "", "", "", 0, 40, 0},
        {{"authfail", m, "--vap", "wlan1"}, -1, "needs --status", "", "", 0, 0, 0},
        {{"assoc", m}, -1, "needs --vap", "", "", 0, 0, 0},
        {{"assoc", m, "--vap", "wlan2"}, -1, "not a VAP interface", "", "", 0, 0, 0},
        {{"assoc", m, "--vap", "wlan0vap16"}, -1, "not a VAP interface", "", "", 0, 0, 0},
        {{"assoc", m, "--vap", "wlan0vap0"}, -1, "not a VAP interface", "", "", 0, 0, 0},
        {{"remove", m, "--vap", "wlan0"}, -1, "not an option", "", "", 0, 0, 0},
        {{"probe", m, "--vap", "wlan0", "--rssi"}, -1, "needs a value", "", "", 0, 0, 0},
        {{"probe", m, "--vap", "wlan0", "--rssi", "256"}, -1, "0 to 255", "", "", 0, 0, 0},
        {{"assoc", "02:00:00:00:00:7"}, -1, "not a MAC", "", "", 0, 0, 0},
        {{"jump", m}, -1, "unknown client action", "", "", 0, 0, 0},
    };
    for (const auto& r : rows) {
        twin_client_cmd c;
        std::string error;
        ASSERT_EQ(twin_client_cmd_parse(r.args, c, error), r.rc) << r.args[0] << " " << error;
        EXPECT_TRUE(contains(error, r.error)) << error;
        if (r.rc != 0) continue;
        EXPECT_EQ(0, memcmp(c.mac, kCl, 6));
        EXPECT_EQ(c.vap, r.vap);
        EXPECT_EQ(c.ssid, r.ssid);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.rssi, r.rssi);
        EXPECT_EQ(c.channel, r.channel);
    }
    EXPECT_EQ(twin_vap_radio("wlan0"), 0);
    EXPECT_EQ(twin_vap_radio("wlan1vap3"), 1);
    struct peers {
        const char* list;
        int rc;
        bool hostapd, mapqosd, tspec;
    } prow[] = {{"hostapd", 0, true, false, false},
                {"mapqosd,tspec", 0, false, true, true},
                {"hostapd,radius", -1, false, false, false},
                {"", -1, false, false, false}};
    for (const auto& r : prow) {
        bool ext[3] = {false, false, false};
        std::string error;
        EXPECT_EQ(standins_external_parse(r.list, ext, error), r.rc) << r.list;
        EXPECT_EQ(ext[0], r.hostapd) << r.list;
        EXPECT_EQ(ext[1], r.mapqosd) << r.list;
        EXPECT_EQ(ext[2], r.tspec) << r.list;
    }
}

TEST(TwinLocalMsg, RoamingCommandLines) {
    const std::string m = "02:00:00:00:00:07";
    struct row {
        bool tspec;
        std::vector<std::string> args;
        int rc;
        const char* error;
        std::string user;
        int vlan;
        bool rrm;
        int bytes, ac, cmd;
    } rows[] = {
        {false, {"auth", m, "--vap", "wlan0", "--user", "alice", "--vlan", "4095", "--rrm", "--bw", "64000"}, 0, "", "alice", 4095, true, 0, 3, 1},
        {false, {"auth", m, "--rrm", "--vap", "wlan0"}, 0, "", "", 0, true, 0, 3, 1},
        {false, {"auth", m, "--vap", "wlan0", "--vlan", "4096"}, -1, "0 to 4095", "", 0, false, 0, 0, 0},
        {false, {"preauth", m, "--vap", "wlan0", "--bytes", "1600"}, 0, "", "", 0, false, 1600, 3, 1},
        {false, {"preauth-ans", m, "--vap", "wlan0", "--bytes", "1601"}, -1, "0 to 1600", "", 0, false, 0, 0, 0},
        {false, {"radius", m, "--vap", "wlan0", "--bytes", "3000"}, 0, "", "", 0, false, 3000, 3, 1},
        {false, {"radius", m, "--vap", "wlan0", "--bytes", "3001"}, -1, "0 to 3000", "", 0, false, 0, 0, 0},
        {false, {"radius", m, "--vap", "wlan0"}, -1, "client radius needs --bytes", "", 0, false, 0, 0, 0},
        {false, {"pmk", m, "--vap", "wlan0", "--rrm"}, -1, "not an option of client pmk", "", 0, false, 0, 0, 0},
        {false, {"chanload", m, "--channel", "36"}, -1, "needs --load", "", 0, false, 0, 0, 0},
        {false, {"preauth-notify", m, "--vap", "wlan0", "--status", "1", "--user", "bob"}, 0, "", "bob", 0, false, 0, 3, 1},
        {false, {"status"}, -1, "unknown client action", "", 0, false, 0, 0, 0},
        {true, {"request", m, "--vap", "wlan1vap1", "--ac", "2", "--cmd", "3"}, 0, "", "", 0, false, 0, 2, 3},
        {true, {"request", m}, -1, "tspec request needs --vap", "", 0, false, 0, 0, 0},
        {true, {"status"}, 0, "", "", 0, false, 0, 3, 1},
        {true, {"status", "--cmd", "2"}, 0, "", "", 0, false, 0, 3, 2},
        {true, {"status", m}, -1, "not an option", "", 0, false, 0, 0, 0},
        {true, {"auth", m, "--vap", "wlan0"}, -1, "unknown tspec action", "", 0, false, 0, 0, 0},
    };
    for (const auto& r : rows) {
        twin_client_cmd c;
        std::string error;
        ASSERT_EQ((r.tspec ? twin_tspec_cmd_parse : twin_client_cmd_parse)(r.args, c, error), r.rc)
            << r.args[0] << " " << error;
        EXPECT_TRUE(contains(error, r.error)) << error;
        if (r.rc != 0) continue;
        EXPECT_EQ(c.user, r.user) << r.args[0];
        EXPECT_EQ(c.vlan, r.vlan) << r.args[0];
        EXPECT_EQ(c.rrm, r.rrm) << r.args[0];
        EXPECT_EQ(c.bytes, r.bytes) << r.args[0];
        EXPECT_EQ(c.ac, r.ac) << r.args[0];
        EXPECT_EQ(c.cmd, r.cmd) << r.args[0];
    }
    EXPECT_EQ(twin_vap_index("wlan1vap12"), 12);
    EXPECT_EQ(twin_vap_index("wlan0"), 0);
    EXPECT_EQ(twin_vap_index("eth0"), -1);
}

// The twin's VAP interfaces carry the MACs the daemon gives its VAPs (radio
// 1's first, each radio bss_max of them), and their SSIDs come from the
// database; a client added on a VAP is found on it.
TEST(TwinLocalMsg, VapInterfacesOfATwinRoot) {
    sandbox sb;
    ap_root_options opt;
    opt.factory_config = MAPD_FACTORY_CONFIG;
    std::string error;
    ASSERT_EQ(ap_root_build(sb.root, opt, error), 0) << error;
    struct row {
        const char* ifname;
        uint8_t last;
    } rows[] = {{"eth0", 0x50}, {"wlan0", 0x50}, {"wlan0vap1", 0x51}, {"wlan0vap15", 0x5f}, {"wlan1", 0x60},
                {"wlan1vap2", 0x62}};
    for (const auto& r : rows) {
        uint8_t mac[6] = {};
        ASSERT_EQ(ap_root_hwaddr(sb.root, r.ifname, mac, error), 0) << error;
        const uint8_t want[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, r.last};
        EXPECT_EQ(0, memcmp(mac, want, 6)) << r.ifname;
    }
    uint8_t mac[6];
    EXPECT_EQ(ap_root_hwaddr(sb.root, "wlan0vap16", mac, error), -1);
    EXPECT_EQ(ap_root_vap_ssid(sb.root, "wlan0vap1"), "Broadcom VAP1");
    ASSERT_EQ(ap_root_client_add(sb.root, "02:00:00:00:00:07", "wlan1vap2", error), 0) << error;
    EXPECT_EQ(ap_root_client_vap(sb.root, "02:00:00:00:00:07"), "wlan1vap2");
    EXPECT_EQ(ap_root_client_vap(sb.root, "02:00:00:00:00:08"), "");
}

}  // namespace
