// The twin's stand-ins: hostapd's client events built at their offsets, the
// records mapd sends read back field by field (and a wrong length shown), the
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

// hostapd's client events and the roaming events of the command line, each at
// its offsets (the client's PMK: byte i is its MAC's last byte plus i).
TEST(TwinLocalMsg, EventsSitAtTheirOffsets) {
    auto event = [](std::vector<std::string> args, bool tspec = false) {
        twin_client_cmd c;
        std::string error;
        if (args[0] != "status") args.insert(args.begin() + 1, "02:00:00:00:00:07");
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
    const std::string ssid33(33, 'b');
    // The TSPEC status: counter w (of AC 2) is 2000 + w.
    bytes status = rec(984, {{0, {40, 1, 2}}});
    for (uint32_t w = 1; w < 246; ++w) memcpy(&status[4 * w], h32(2000 + w).data(), 4);
    struct row {
        const char* name;
        bytes got, want;
    } rows[] = {
        {"probe request", twin_msg_probe_req(kVap, kCl, 1, "corp", 40, 6),
         rec(48, {{0, {1}}, {1, vap}, {7, cl}, {13, {1}}, {14, text("corp")}, {46, {40}}, {47, {6}}})},
        {"association request, 33-byte SSID", twin_msg_assoc_req(kAp, kVap, kCl, 1, ssid33 + "cut"),
         rec(53, {{0, {17}}, {1, ap}, {7, vap}, {13, cl}, {19, {1}}, {20, text(ssid33)}})},
        {"authentication", event({"auth", "--vap", "wlan1vap2", "--user", "alice", "--vlan", "20", "--rrm", "--bw", "64000"}),
         rec(308, {{0, {14}}, {1, vap}, {7, cl}, {13, {1}}, {14, text("corp")}, {46, text("alice")}, {78, h16(20)},
                   {80, {2}}, {82, h16(540)}, {84, {6}}, {85, {1, 1}}, {88, h32(0x84)}, {92, pmk}, {124, h32(3600)},
                   {128, {1}}, {129, ap}, {147, h32(0x7F000001)}, {152, {1}}, {156, h32(64000)}, {160, {1}},
                   {164, h32(64000)}, {300, {2, 2, 0, 0x40, 1}}})},
        {"authentication, QoS names", twin_msg_client_auth(qos),
         rec(308, {{0, {14}}, {82, h16(540)}, {85, {1, 1}}, {88, h32(4)}, {124, h32(3600)}, {128, {1}}, {201, {3}},
                   {202, text("acl-up")}, {234, {8}}, {235, text(std::string(32, 'p'))}})},
        {"PMK", event({"pmk", "--vap", "wlan0", "--ssid", "guest"}),
         rec(71, {{0, {12}}, {1, cl}, {7, text("guest")}, {39, pmk}})},
        {"pre-authentication answer, no data", event({"preauth-ans", "--vap", "wlan0", "--bytes", "0"}),
         rec(48, {{0, {13}}, {1, cl}, {7, text("corp")}, {39, vap}})},
        {"pre-authentication cut to 1600", twin_msg_pre_auth(10, kCl, "", kVap, bytes(1700, 0xab)),
         rec(1648, {{0, {10}}, {1, cl}, {39, vap}, {46, h16(1600)}, {48, bytes(1600, 0xab)}})},
        {"RADIUS", event({"radius", "--vap", "wlan0", "--bytes", "6"}),
         rec(3056, {{0, {25}}, {1, ap}, {7, vap}, {13, cl}, {20, text("corp")}, {52, {1, 7, 0, 6, 0x44, 0x45}},
                    {3052, h32(6)}})},
        {"channel load", event({"chanload", "--channel", "36", "--load", "30"}),
         rec(18, {{0, {39}}, {1, ap}, {7, cl}, {13, {36}}, {14, h16(50)}, {17, {30}}})},
        {"TSPEC deletion", event({"request", "--vap", "wlan1vap1", "--ac", "2", "--cmd", "3"}, true),
         rec(120, {{0, {35}}, {1, {3}}, {2, ap}, {8, vap}, {14, cl}, {20, {1}}, {21, text("corp")}, {53, {2}},
                   {57, {0x61, 0x34, 1}}, {60, h16(208)}, {62, h16(240)}, {64, h32(10000)}, {68, h32(20000)},
                   {72, h32(3000000)}, {76, h32(4000000)}, {80, h32(5)}, {84, h32(64000)}, {88, h32(80000)},
                   {92, h32(96000)}, {96, h32(1500)}, {100, h32(50000)}, {104, h32(6000000)}, {108, h16(8192)},
                   {110, h16(31)}, {112, h32(40)}, {116, h16(12)}, {118, {2}}})},
        {"TSPEC status", event({"status", "--ac", "2"}, true), status},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << r.name;
}

TEST(TwinLocalMsg, RecordsAreReadFieldByField) {
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
        std::string want;  // the whole line, or (with `part`) a piece of it
        bool part;
    } rows[] = {
        {k::hostapd, reply, "assoc_reply_cmdmsg_s (276 bytes): " + reply_fields, false},
        {k::hostapd, rec(15, {{0, {32}}, {1, {2}}, {2, {11}}, {3, cl}, {9, bssid}}),
         "client_deauth_msg_s (15 bytes): radio 2 channel 11 " + CL + " fake-bssid 0e:0e:0e:0e:0e:0e", false},
        {k::hostapd, rec(51, {{0, {13}}, {46, h16(5)}}), "mpre_auth_ansmsg_s (51 bytes, WRONG LENGTH: expected 53): "
         "client 00:00:00:00:00:00 ssid \"\" bssid 00:00:00:00:00:00 datalen 5 data 000000", false},
        {k::hostapd, rec(126, {{0, {19}}, {1, ap}, {7, {1}}, {8, h16(60)}, {10, h16(30)}, {12, h16(2)},
                               {14, bssid + bytes{6}}, {21, vap + bytes{149}}}),
         "wids_config_cmdmsg_t (126 bytes): " + AP + " wired-detect 1 wired-interval 60 attack-interval 30 "
         "attack-count 2 0e:0e:0e:0e:0e:0e/6 00:1a:2b:3c:4d:51/149", false},
        {k::hostapd, rec(1504, {{0, {37}}, {1, ap}, {7, vap}, {13, bssid + bytes{6}}, {1502, h16(51)}}),
         "rrm_nbr_ap_list (1504 bytes): list-length 51 " + AP + " " + VAP + " [0e:0e:0e:0e:0e:0e ch 6]", false},
        {k::hostapd, rec(308, {{0, {14}}, {300, {2, 2, 0, 0x40, 1}}}), " rrm 0202004001", true},
        {k::hostapd, rec(1649, {{0, {10}}, {46, h16(1601)}}), " DATALEN ABOVE 1600", true},
        {k::tspec, status,
         "tspec_status_msg_s (984 bytes): cmd 1 ac 3 active-ts 3001 ts-clients 3002 roam-ts-clients 3003 "
         "accepted 3004 rejected 3005 roam-accepted 3006 roam-rejected 3007 radio0 "
         "3008/3009/3010/3011/3012/3013/3014 radio1 3015/3016/3017/3018/3019/3020/3021", false},
        {k::mapqosd, qos_vap,
         "VAP client QoS settings (304) (138 bytes): radio 2 vap 15 acl down 2 (ACL ipv4) \"acl-a\" up 4 (ACL mac) "
         "\"macs\" policy down 8 (Policy in) \"pol\" up 9 (unknown) \"" + std::string(32, 'q') + "\"", false},
        {k::mapqosd, bytes(qos_vap.begin(), qos_vap.begin() + 100),
         "VAP client QoS settings (304) (100 bytes, WRONG LENGTH: expected 138): length-field 138 radio 2 "
         "vap 15 acl down 2 (ACL ipv4) \"acl-a\" up 4 (ACL mac) \"macs\"", false},
        {k::mapqosd, wr().be16(260).be16(9).be32(3).b, "DEBUG_SET_TRACE (260) (8 bytes, WRONG LENGTH: expected 9): mask 0x3", false},
    };
    for (const auto& r : rows) {
        const std::string line = twin_local_decode(r.peer, false, r.msg.data(), r.msg.size());
        EXPECT_TRUE(r.part ? contains(line, r.want) : line == r.want) << r.want << "\n  in: " << line;
    }
    // One field by its label, as the line shows it; none past the datagram.
    const bytes pmk_rec = rec(71, {{0, {12}}, {1, cl}, {39, pmk}});
    EXPECT_EQ(twin_local_field(k::hostapd, pmk_rec.data(), pmk_rec.size(), "pmk"), std::string(64, 'a'));
    EXPECT_EQ(twin_local_field(k::hostapd, pmk_rec.data(), 70, "pmk"), "");
}

// The client and tspec command lines of apsim, and the stand-ins run outside.
TEST(TwinLocalMsg, CommandLinesAndPeerNames) {
    const std::string m = "02:00:00:00:00:07";
    struct row {
        bool tspec;
        std::vector<std::string> args;
        int rc;
        const char* error;
    } rows[] = {
        {false, {"auth", m, "--rrm", "--vap", "wlan0"}, 0, ""},
        {false, {"authfail", m, "--vap", "wlan1"}, -1, "needs --status"},
        {false, {"assoc", m, "--vap", "wlan0vap16"}, -1, "not a VAP interface"},
        {false, {"preauth", m, "--vap", "wlan0", "--bytes", "1600"}, 0, ""},
        {false, {"preauth-ans", m, "--vap", "wlan0", "--bytes", "1601"}, -1, "0 to 1600"},
        {false, {"status"}, -1, "unknown client action"},
        {true, {"status", "--cmd", "2"}, 0, ""},
        {true, {"auth", m, "--vap", "wlan0"}, -1, "unknown tspec action"},
    };
    auto parse = [](const row& r, twin_client_cmd& c) {
        std::string error;
        const int rc = (r.tspec ? twin_tspec_cmd_parse : twin_client_cmd_parse)(r.args, c, error);
        EXPECT_TRUE(contains(error, r.error)) << error;
        return rc;
    };
    for (const auto& r : rows) {
        twin_client_cmd c;
        EXPECT_EQ(parse(r, c), r.rc) << r.args[0] << " " << r.args.back();
    }
    twin_client_cmd a, p, t;
    ASSERT_EQ(parse({false, {"auth", m, "--vap", "wlan0", "--user", "alice", "--vlan", "4095", "--rrm"}, 0, ""}, a), 0);
    EXPECT_TRUE(a.user == "alice" && a.vlan == 4095 && a.rrm && memcmp(a.mac, kCl, 6) == 0);
    ASSERT_EQ(parse({false, {"probe", m, "--vap", "wlan1vap15", "--rssi", "55", "--channel", "11"}, 0, ""}, p), 0);
    EXPECT_TRUE(p.vap == "wlan1vap15" && p.rssi == 55 && p.channel == 11);
    ASSERT_EQ(parse({true, {"request", m, "--vap", "wlan1vap1", "--ac", "2", "--cmd", "3"}, 0, ""}, t), 0);
    EXPECT_TRUE(t.ac == 2 && t.cmd == 3);
    bool ext[3] = {false, false, false};
    std::string error;
    EXPECT_EQ(standins_external_parse("mapqosd,tspec", ext, error), 0) << error;
    EXPECT_TRUE(!ext[0] && ext[1] && ext[2]);
    EXPECT_EQ(standins_external_parse("hostapd,radius", ext, error), -1);
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
    } rows[] = {{"eth0", 0x50}, {"wlan0vap15", 0x5f}, {"wlan1vap2", 0x62}};
    for (const auto& r : rows) {
        uint8_t mac[6] = {};
        ASSERT_EQ(ap_root_hwaddr(sb.root, r.ifname, mac, error), 0) << error;
        const uint8_t want[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, r.last};
        EXPECT_EQ(0, memcmp(mac, want, 6)) << r.ifname;
    }
    EXPECT_EQ(ap_root_vap_ssid(sb.root, "wlan0vap1"), "Broadcom VAP1");
    ASSERT_EQ(ap_root_client_add(sb.root, "02:00:00:00:00:07", "wlan1vap2", error), 0) << error;
    EXPECT_EQ(ap_root_client_vap(sb.root, "02:00:00:00:00:07"), "wlan1vap2");
    EXPECT_EQ(ap_root_client_vap(sb.root, "02:00:00:00:00:08"), "");
}

}  // namespace
