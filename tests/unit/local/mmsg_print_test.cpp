// The local message printers: the hex trace (heading, 16 bytes a line, how
// many bytes each type shows), the field lines of some records built byte by
// byte, the trace category of every type, and the reports for a missing
// record or an unknown type.
#include "local/mmsg_print.hpp"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "support/bytes.hpp"
#include "wire/map_text.hpp"

using namespace mapd_test;

namespace {

// A zeroed datagram of `size` bytes with its type byte.
bytes msg(uint8_t type, size_t size) {
    bytes b(size, 0);
    b[0] = type;
    return b;
}
bytes& set(bytes& b, size_t off, const bytes& v) {
    std::memcpy(b.data() + off, v.data(), v.size());
    return b;
}
template <typename T>
bytes host(T v) {
    bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}
bytes (*const h16)(uint16_t) = host<uint16_t>;
bytes (*const h32)(uint32_t) = host<uint32_t>;
bytes txt(const std::string& s) {
    return bytes(s.begin(), s.end());
}

std::vector<std::string> lines(const std::string& out) {
    std::vector<std::string> v;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);)
        v.push_back(l);
    return v;
}

}  // namespace

TEST(MmsgPrint, HexLinesOfSixteen) {
    bytes load_req = msg(38, 16), load_rep = msg(39, 18);
    for (size_t i = 1; i < 18; ++i)
        load_rep[i] = static_cast<uint8_t>(0xa0 + i);
    set(load_req, 1, {0xde, 0xad, 0xbe, 0xef});
    EXPECT_EQ(captured(0x40000, [&] { hex_ver_pkt_print(load_req.data(), load_req.size()); }),
              "rrm_chan_load_req_msg_s:\n26 de ad be ef 00 00 00 00 00 00 00 00 00 00 00\n");
    EXPECT_EQ(captured(0x40000, [&] { hex_ver_pkt_print(load_rep.data(), load_rep.size()); }),
              "rrm_chan_load_rep_msg_s:\n27 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af\nb0 b1\n");
    bytes any = {5, 1, 2};
    EXPECT_EQ(captured(0x4, [&] { hex_any_pkt_print(any.data(), any.size()); }),
              "Type = 0x5, msg_size = 3\n05 01 02\n");
}

// Each row: a datagram and its length (the bytes past it are filler that
// must never show), its trace category, the heading and the bytes shown.
TEST(MmsgPrint, HexHeadingCountAndCategory) {
    bytes pre = msg(10, 1648), pre_big = msg(13, 1648), radius = msg(25, 3056),
          radius_big = msg(25, 3056);
    set(set(pre, 46, h16(5)), 48, {1, 2, 3, 4, 5, 6});
    set(pre_big, 46, h16(2000));
    set(radius, 3052, h32(10));
    set(radius_big, 3052, h32(5000));
    const struct {
        bytes in;
        size_t length;
        uint32_t category;
        std::string heading;
        size_t shown;
    } rows[] = {
        {msg(1, 48), 48, 0x4, "probe_reqmsg_s:", 48},
        {msg(1, 48), 10, 0x4, "probe_reqmsg_s:", 48},  // short: zeros, not filler
        {msg(19, 126), 126, 0x4, "wids_config_cmdmsg_s [len = 126]:", 126},
        {msg(19, 126), 20, 0x4, "wids_config_cmdmsg_s [len = 20]:", 126},
        {msg(6, 30), 30, 0x4, "rfscanreport_cmdmsg_s:", 30},
        {msg(6, 8), 8, 0x4, "rfscanreport_cmdmsg_s:", 8},
        {msg(7, 1), 1, 0x4, "channelsupported_cmdmsg_s:", 1},
        {pre, 53, 0x40, "mpre_auth_cmdmsg_s:", 53},
        {pre_big, 1648, 0x40, "mpre_auth_ansmsg_s:", 1648},
        {radius, 3056, 0x10, "radius_proxy_cmdmsg_s:", 62},
        {radius_big, 3056, 0x10, "radius_proxy_cmdmsg_s:", 3052},
        {msg(4, 46), 46, 0x400, "authen_failmsg_s:", 46},
        {msg(4, 120), 120, 0x10000, "tspec_msg_s:", 120},
        {msg(6, 3), 3, 0x10000, "tspec_direct_msg_s:", 3},
        {msg(40, 984), 984, 0x10000, "tspec_status_msg_s:", 984},
    };
    for (const auto& r : rows) {
        bytes b = r.in;
        b.resize(std::max(b.size(), r.length + 8), 0xee);
        std::fill(b.begin() + r.length, b.end(), 0xee);
        SCOPED_TRACE(r.heading + " length " + std::to_string(r.length));
        for (auto print : {hex_ver_pkt_print, text_ver_pkt_print})
            EXPECT_EQ(captured(~r.category, [&] { print(b.data(), r.length); }), "");
        auto v = lines(captured(r.category, [&] { hex_ver_pkt_print(b.data(), r.length); }));
        ASSERT_FALSE(v.empty());
        EXPECT_EQ(v[0], r.heading);
        size_t count = 0;
        for (size_t i = 1; i < v.size(); ++i) {
            std::istringstream in(v[i]);
            size_t on_line = 0;
            for (std::string tok; in >> tok; ++on_line, ++count)
                EXPECT_NE(tok, "ee") << count;
            EXPECT_EQ(on_line, i + 1 < v.size() ? 16u : (r.shown - 1) % 16 + 1) << "line " << i;
        }
        EXPECT_EQ(count, r.shown);
    }
}

// The other types' record names and trace categories, in both forms: printed
// when the category is on, nothing when every other category is.
TEST(MmsgPrint, CategoryOfEveryType) {
    const struct {
        uint8_t type;
        size_t size;
        uint32_t category;
        const char* name;
    } rows[] = {
        {3, 14, 0x400, "disassoc_reqmsg_s"},           {5, 7, 0x400, "disassoc_cmdmsg_s"},
        {8, 8, 0x4, "power_change_info_cmdmsg_s"},     {12, 71, 0x20, "mpmk_cmdmsg_s"},
        {15, 7, 0x400, "resend_client_info_cmdmsg_s"}, {17, 53, 0x400, "assoc_req_msg_s"},
        {20, 20, 0x2000, "dl2tunnel_config_msg_s"},    {22, 14, 0x2000, "dl2tunnel_term_msg_s"},
        {23, 4, 0x8, "wired_nw_det_vlan_cmdmsg_s"},    {32, 15, 0x400, "client_deauth_msg_s"},
        {34, 133, 0x4, "cltqos_auth_def_req_msg_s"},   {38, 16, 0x40000, "rrm_chan_load_req_msg_s"},
        {39, 18, 0x40000, "rrm_chan_load_rep_msg_s"},
    };
    for (const auto& r : rows) {
        bytes b = msg(r.type, r.size);
        SCOPED_TRACE(r.name);
        for (auto print : {hex_ver_pkt_print, text_ver_pkt_print}) {
            EXPECT_EQ(captured(~r.category, [&] { print(b.data(), b.size()); }), "");
            auto v = lines(captured(r.category, [&] { print(b.data(), b.size()); }));
            ASSERT_GE(v.size(), 2u);
            EXPECT_EQ(v[0].substr(0, v[0].find_first_of(" :")), r.name);
        }
    }
}

// Records built byte by byte (type, size, bytes at their offsets): their
// trace category and name, lines they print and line starts they must not.
TEST(MmsgPrint, RecordFields) {
    const bytes A = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}, B = {0x02, 0, 0, 0, 0, 0xff};
    const std::string s32(32, 'S');
    // clang-format off
    const struct { uint8_t type; size_t size; std::vector<std::pair<size_t, bytes>> at; uint32_t category;
                   std::string name, has, lacks = ""; } rows[] = {
        {1, 48, {{1, A}, {7, B}, {13, {1}}, {14, txt(s32)}, {46, {'R', 'C'}}}, 0x4, "probe_reqmsg_s",
         " vap_macaddr : 00:1a:2b:3c:4d:5e\n client_macaddr : 02:00:00:00:00:ff\n Radio : wlan1\n ss_id : " + s32 +
         "\n rssi : 82\n channel : 67"},
        {14, 308, {{7, B}, {14, txt("corp")}, {46, txt(s32)}, {78, h16(300)}, {80, {3}}, {82, h16(55)}, {84, {149}},
                   {88, h32(0x84)}, {124, h32(3600)}, {128, {1}}, {129, A}, {147, h32(0x0a000102)}, {164, h32(2500)},
                   {168, {2}}, {169, txt("acl-down")}, {201, {4}}, {267, {1}}, {268, txt(s32)},
                   {300, {0x71, 0, 0, 0, 0x05}}}, 0x400, "mclient_auth_msg_s",
         " client_macaddr : 02:00:00:00:00:ff\n ssid : corp\n user_name : " + s32 + "\n vlan_id : 300\n vap_id : 3"
         "\n tx_rate : 55 (5.5 MBS)\n channel : 149\n flags : 0x84\n reauth_intvl : 3600\n homeap_flag : 1"
         "\n homeap_mac : 00:1a:2b:3c:4d:5e\n home_apip : 10.0.1.2\n maxRate[1] : 2500\n aclType[0] : 2"
         "\n aclName[0] : acl-down\n aclType[1] : 4\n policyType[1] : 1\n policyName[1] : " + s32 +
         "\n rrm_capability : 7100000005"},
        {18, 276, {{13, B}, {20, txt(s32 + "XYZ")}, {56, h32(0x20)}, {92, h32(86400)}, {96, h32(77)}, {100, h16(12)},
                   {103, A}, {121, h32(0x0a000009)}, {140, h32(800)}, {177, {9}}, {243, {5}}}, 0x400,
         "assoc_reply_cmdmsg_s", " client_macaddr : 02:00:00:00:00:ff\n ssid : " + s32 + "\n client_status : 0x20"
         "\n reaut_interval : 86400\n auth_age : 77\n vlan_id : 12\n home_apmac : 00:1a:2b:3c:4d:5e"
         "\n home_apip : 10.0.0.9\n maxRate[1] : 800\n aclType[1] : 9\n policyType[1] : 5"},
        {21, 38, {{2, A}, {8, B}, {14, {0xa0, 0, 0, 0, 0, 1}}, {20, {0x20, 1, 0x0d, 0xb8}}, {35, {1}}, {36, h16(42)}},
         0x2000, "dl2tunnel_setup_msg_s", " home_ap_mac : 00:1a:2b:3c:4d:5e\n client_mac : 02:00:00:00:00:ff"
         "\n assoc_ap_mac : a0:00:00:00:00:01\n assoc_ap_ipv6 : 2001:db8::1\n vlan_id : 42"},
        {35, 120, {{1, {7}}, {21, txt("voice")}, {53, {3}}, {57, {1, 2, 3}}, {60, h16(208)}, {100, h32(20000)},
                   {104, h32(6000000)}, {116, h16(10000) + bytes{2, 1}}}, 0x10000, "tspec_msg_s",
         " cmd_type : 7\n ssid : voice\n ac_index : 3\n ts_info : 010203\n nom_msdu_size : 208\n delay_bound : 20000"
         "\n min_phy_rate : 6000000\n prev_medium_time : 10000\n prev_ac_index : 2\n bAdmitted : 1"},
        // The AP, a VAP with only its second slot filled, a VAP without neighbours.
        {37, 1504, {{1, A}, {7, B}, {26, A}, {32, {36, 7, 12, 0x8f, 0, 0, 1}}, {52, {2, 0, 0, 0, 0, 1}},
                    {1502, h16(6 + 45 + 6)}}, 0x40000, "rrm_nbr_list_msg_s",
         " ap_mac : 00:1a:2b:3c:4d:5e\n vap_mac[0] : 02:00:00:00:00:ff\n nbr_mac[0][1] : 00:1a:2b:3c:4d:5e"
         "\n nbr_channel[0][1] : 36\n nbr_phy_type[0][1] : 7\n nbr_reg_class[0][1] : 12"
         "\n nbr_bssid_info[0][1] : 8f000001\n vap_mac[1] : 02:00:00:00:00:01",
         " nbr_mac[0][0]\n nbr_mac[1][0]\n vap_mac[2]"},
        {25, 3056, {{13, B}, {20, txt("guest")}, {52, {1, 7, 0, 20, 0xfe}}, {3052, h32(4)}}, 0x10,
         "radius_proxy_cmdmsg_s",
         " client_macaddr : 02:00:00:00:00:ff\n ssid : guest\n radius_pkt_len : 4\n radius_pkt : 01070014"},
        {33, 131, {{1, h16(65)}, {3, h16(10)}, {129, h16(4094)}}, 0x4000, "cl2tunnel_config_msg_s",
         " vlan_count : 65\n vlan_id[0] : 10\n vlan_id[63] : 4094", " vlan_id[64]"},
        {19, 126, {{12, h16(17)}, {119, B}, {125, {11}}}, 0x4, "wids_config_cmdmsg_s",
         " bssid_attack_list_count : 17\n bssid[15] : 02:00:00:00:00:ff\n channel[15] : 11", " bssid[16]"},
        {4, 46, {{7, B}, {13, txt("lab")}, {45, {2}}}, 0x400, "authen_failmsg_s",
         " client_macaddr : 02:00:00:00:00:ff\n ss_id : lab\n authen_status : NOT AUTHENTICATED"},
        {16, 16, {{1, B}, {8, h32(0xc0a80105)}, {12, {1}}, {13, {4}}}, 0x1000, "mclient_conn_msg_s",
         " client_macaddr : 02:00:00:00:00:ff\n client_ip : 192.168.1.5\n Radio : wlan1\n vap_id : 4"},
        {24, 85, {{13, B}, {52, txt("alice")}, {84, {1}}}, 0x40, "client_preauth_notification_msg_s",
         " client_macaddr : 02:00:00:00:00:ff\n user_name : alice\n status : Failed"},
        {6, 8, {{4, h32(120)}}, 0x4, "rfscanreport_cmdmsg_s", " interval : 120", " switch_msg_type"},
        {6, 9, {{1, {1, 2, 0, 8}}}, 0x4, "rfscanreport_cmdmsg_s",
         " length : 9\n switch_msg_type : 258\n switch_msg_length : 8", " interval"},
        {40, 984, {{20, h32(9)}, {980, h32(4242)}}, 0x10000, "tspec_status_msg_s",
         " tspecs_rejected : 9\n vap_status[1][15].medium_time_roaming_unallocated : 4242"},
        {10, 51, {{39, B}, {46, h16(3)}, {48, {0xca, 0xfe, 1}}}, 0x40, "mpre_auth_cmdmsg_s",
         " BSSID : 02:00:00:00:00:ff\n datalen : 3\n pre_auth_data : cafe01"},
    };
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        bytes b = msg(r.type, r.size);
        for (const auto& [off, v] : r.at)
            std::memcpy(b.data() + off, v.data(), v.size());
        auto print = [&] { text_ver_pkt_print(b.data(), b.size()); };
        EXPECT_EQ(captured(~r.category, print), "");
        auto v = lines(captured(r.category, print));
        ASSERT_FALSE(v.empty());
        EXPECT_EQ(v[0], r.name + ":");
        for (const auto& l : lines(r.has))
            EXPECT_NE(std::find(v.begin(), v.end(), l), v.end()) << l;
        for (const auto& l : lines(r.lacks))
            for (const auto& got : v)
                EXPECT_NE(got.rfind(l, 0), 0u) << got;
    }
}

// A missing record or an unknown type: the one report line and nothing else,
// whatever traces are on; the shared buffer cuts what does not fit.
TEST(MmsgPrint, ReportsAndLimits) {
    bytes unknown = msg(99, 48);
    const struct {
        void (*print)(const uint8_t*, size_t);
        const uint8_t* in;
        size_t length;
        const char* report;
    } rows[] = {
        {hex_ver_pkt_print, nullptr, 48, "Invalid buffer, length, or message object."},
        {text_ver_pkt_print, unknown.data(), 0, "Invalid buffer, length, or message object."},
        {probe_req_msg_print, nullptr, 48, "Invalid buffer, length, or message object."},
        {hex_ver_pkt_print, unknown.data(), 48, "Invalid msg type: 0x63 (99)"},
        {text_ver_pkt_print, unknown.data(), 48, "Invalid msg type."},
    };
    for (const auto& r : rows) {
        auto v = lines(captured(~0u, [&] { r.print(r.in, r.length); }));
        ASSERT_EQ(v.size(), 1u) << r.report;
        EXPECT_TRUE(v[0].starts_with("Error: mmsg_print:")) << v[0];
        EXPECT_TRUE(v[0].ends_with(std::string(" - ") + r.report)) << v[0];
    }
    // With the trace off nothing is formatted: not even the address helpers'
    // shared buffer changes.
    const uint8_t mine[6] = {1, 2, 3, 4, 5, 6};
    const char* kept = mac_to_string(mine);
    bytes probe = msg(1, 48);
    set(probe, 1, {9, 9, 9, 9, 9, 9});
    captured(~0x4u, [&] { probe_req_msg_print(probe.data(), probe.size()); });
    EXPECT_STREQ(kept, "01:02:03:04:05:06");
    bytes big(30000, 0xab);
    big[0] = 6;  // a variable type shows the whole datagram
    for (auto print : {hex_ver_pkt_print, hex_any_pkt_print}) {
        std::string out = captured(~0u, [&] { print(big.data(), big.size()); });
        EXPECT_LE(out.size(), 20480u);
        EXPECT_GT(out.size(), 20400u);
        EXPECT_TRUE(out.ends_with("ab\n")) << "cut after a whole byte";
    }
}
