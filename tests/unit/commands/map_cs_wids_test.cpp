// The WIDS configuration, the RRM neighbour list and channel load request as
// hostapd receives them, byte for byte, and the two WIDS debug commands.
#include "commands/map_cs_wids.hpp"

#include <cstring>
#include <functional>

#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "local/mmsg_handler.hpp"
#include "support/bytes.hpp"
#include "switch/switch_comm.hpp"

using namespace mapd_test;

namespace radio_cmds_test {  // map_cs_radio_cmds_test.cpp
using handler_fn = int (*)(map_control_block*, const uint8_t*, int);
void with_ap(const std::function<void(map_control_block&, int hostapd)>& body);
bytes run(map_control_block& cb, int hostapd, handler_fn fn, const bytes& body, int rc,
          const char* text, const char* what);
}  // namespace radio_cmds_test
using namespace radio_cmds_test;

namespace {

const bytes kOwn = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x50}, kOther = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x99};
const bytes kAp = elem(0x21, kOwn), kNone = {};

bytes host16(uint16_t v) {
    bytes b(2);
    memcpy(b.data(), &v, 2);
    return b;
}
bytes mac(uint8_t last) { return {2, 0, 0, 0, 1, last}; }
bytes info(uint8_t first) { return {first, 1, 2, 3, 4, 5, 6}; }
bytes msg(uint16_t type, const bytes& body) {
    return wr().be16(type).be16(4 + body.size()).b + body;
}
// hostapd's neighbour list message of `list`.
bytes nbr_msg(const bytes& list) {
    return bytes{37} + list + bytes(1501 - list.size(), 0) + host16(uint16_t(list.size()));
}

}  // namespace

// What hostapd gets.  The WIDS record is kept: a refused message keeps what it stored before
// failing.  Neighbour list: AP MAC, per VAP its MAC and three 13-byte slots, 1500 bytes at most.
TEST(WidsRrm, WhatHostapdGets) {
    with_ap([](map_control_block& cb, int hostapd) {
        bytes list(112);
        for (size_t i = 0; i < list.size(); ++i)
            list[i] = uint8_t(i + 1);
        const bytes full = kAp + elem(0x7001, {1}) + elem(0x7002, {1, 44}) +
                           elem(0x7003, {0, 60}) + elem(0x7004, {0, 16}) + elem(0x7005, list);
        const bytes rec = bytes{19} + kOwn + bytes{1} + host16(300) + host16(60) + host16(16);
        bytes kept = rec + bytes(7, 9) + bytes(105, 0);  // after the refused rows and the last
        kept[7] = 0;
        const bytes v1 = elem(0x5001, mac(1)), v2 = elem(0x5001, mac(2));
        auto nbr = [](uint8_t n) { return elem(0x3022, mac(0x30 + n)) + elem(0x5053, info(n)); };
        const bytes one_vap = kOwn + mac(1) + mac(0x31) + info(1) + mac(0x32) + info(2);
        bytes fill, filled;  // each AP MAC is appended: 9 of them and 33 VAPs take 1500 bytes
        for (uint8_t i = 0; i < 42; ++i) {
            fill = fill + (i < 9 ? kAp : elem(0x5001, mac(i)));
            filled = filled + (i < 9 ? kOwn : mac(i) + bytes(i < 41 ? 39 : 0, 0));
        }
        const bytes client = {2, 0x11, 0x22, 0x33, 0x44, 0x55};
        const bytes req = kAp + elem(0x13, client) + elem(0x43, {6}) + elem(0x504F, {0, 100});
        const bytes load = bytes{38} + kOwn + client + bytes{6} + host16(100);
        const auto ssl = map_ssl_pkt_handler, udp = map_udp_pkt_handler;
        const bytes dump = msg(300, {});
        const auto wids = map_process_wids_config_msg_pkt;
        const auto nbrs = map_process_rrm_neighbor_list_msg_pkt;
        const auto chan = map_process_rrm_chan_load_req_msg_pkt;
        const struct {
            handler_fn fn;
            const char* what;
            bytes body;
            int rc;
            bytes local;
            const char* text = nullptr;
        } rows[] = {
            {udp, "resend first", msg(301, {}), 0, kNone, "No WIDS configuration from the switch"},
            {ssl, "16 entries in 112 bytes", msg(70, full), 0, rec + list},
            {udp, "resend twice", wr().be16(301).be16(2).b, 0, rec + list + rec + list},
            {udp, "resend 17 times", wr().be16(301).be16(17).b, 0, kNone, "count 17 out of range"},
            {udp, "dump", dump, 0, kNone, "AP MAC : 00:1a:2b:3c:4d:50\nwired_nw_detection : 1\n"},
            {udp, "dump", dump, 0, kNone, "wired_nw_detection_interval : 300\nap_attack_interval"},
            {udp, "dump", dump, 0, kNone, "attack_interval : 60\nBSSID Attack List Count : 16\n"},
            {udp, "dump", dump, 0, kNone, "BSSID : 6a:6b:6c:6d:6e:6f Channel : 112"},
            {wids, "17", elem(0x7004, {0, 17}), -1, kNone, "Too many bssid attack list count."},
            {wids, "113", elem(0x7005, bytes(113, 1)), -1, kNone, "Too long bssid attack list."},
            {wids, "other AP", elem(0x7001, {0}) + elem(0x21, kOther), -1, kNone, "not same as"},
            {wids, "short", elem(0x7002, {1}), -1, kNone, "Error receiving wids config message."},
            {wids, "kept", elem(0x7777, {1, 2}) + elem(0x7005, bytes(7, 9)), 0, kept},
            {nbrs, "one VAP, two neighbours", kAp + v1 + nbr(1) + nbr(2), 0, nbr_msg(one_vap)},
            {nbrs, "a second VAP", kAp + v1 + nbr(1) + nbr(2) + v2 + nbr(3), 0,
             nbr_msg(one_vap + bytes(13, 0) + mac(2) + mac(0x33) + info(3))},
            {nbrs, "no information", kAp + v1 + elem(0x3022, mac(0x31)) + nbr(2), 0,
             nbr_msg(kOwn + mac(1) + mac(0x31) + bytes(7, 0) + mac(0x32) + info(2))},
            {nbrs, "unknown", kAp + elem(0x99, {1}) + v1, 0, nbr_msg(kOwn + mac(1)), "invalid IE"},
            {nbrs, "info after VAP", kAp + v1 + elem(0x5053, info(1)), -1, kNone,
             "NBR MAC info rcvd with out AP/VAP/NBR MAC address"},
            {nbrs, "VAP first", v1 + kAp, -1, kNone, "VAP MAC rcvd with out AP MAC address"},
            {nbrs, "nbr first", kAp + nbr(1), -1, kNone, "NBR MAC rcvd with out AP/VAP MAC"},
            {nbrs, "4th", kAp + v1 + nbr(1) + nbr(2) + nbr(3) + nbr(4), -1, kNone, "More than 3"},
            {nbrs, "another AP", elem(0x21, kOther) + v1, -1, kNone, "received is not same"},
            {nbrs, "5-byte MAC", kAp + elem(0x5001, {1, 2, 3, 4, 5}), -1, kNone, "Error receiving"},
            {nbrs, "1500 bytes", fill, 0, nbr_msg(filled)},
            {nbrs, "1513 bytes", fill + nbr(1), -1, kNone, "RRM neighbor list longer than 1500"},
            {nbrs, "1506 bytes with the slots", kAp + fill, -1, kNone, "longer than 1500 bytes"},
            {ssl, "neighbour list", msg(528, kAp), 0, nbr_msg(kOwn)},
            {ssl, "channel load request", msg(529, req), 0, load},
            {chan, "unknown", elem(0x77, {1}) + req, 0, load, "Load Request msg with invalid IE"},
            {chan, "another AP", elem(0x21, kOther), -1, kNone, "received is not same"},
            {chan, "short", elem(0x504F, {1}), -1, kNone, "Error receiving Channel Load Request"},
        };
        for (const auto& r : rows)
            EXPECT_EQ(run(cb, hostapd, r.fn, r.body, r.rc, r.text, r.what), r.local) << r.what;
        cb.switch_comm->state = MAP_SWITCH_COMM_SWITCH_AUTH_MODE;
        EXPECT_EQ(run(cb, hostapd, ssl, msg(70, full), 0, "Invalid mapd mode.", "70"), kNone);
        mmsg_handler_close();
        std::string out =
            captured(0, [&] { EXPECT_EQ(wids(&cb, full.data(), int(full.size())), -1); });
        EXPECT_TRUE(contains(out, "Error sending wids config cmd msg to hostapd.")) << out;
    });
}
