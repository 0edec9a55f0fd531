// Statistics collection: the driver file readers on real-looking files under
// a sandbox root, the records of the config/status component, the client
// slices and the client statistics table.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "dman/lsqlquery.hpp"
#include "stats/map_proc.hpp"
#include "stats/map_stats.hpp"
#include "support/bytes.hpp"
#include "support/sandbox.hpp"

using mapd_test::captured;
using mapd_test::contains;

namespace {

// A radio interface file: the 22 keys in the order of the record.
const std::string kIface =
    "rx_packets=4294967301\nrx_bytes=1002\nrx_mcast=1003\ntx_packets=1004\ntx_bytes=1005\n"
    "tx_errors=1006\nrx_errors=1007\ndrop_tx_bytes=1008\ndrop_rx_bytes=1009\ndrop_tx_packets=1010\n"
    "drop_rx_packets=1011\narp_bc_2_uc_convrt_pkts=12\narp_req_filtered_pkts=13\narp_bc_pkts=14\n"
    "ts_vo_rx_packets=15\nts_vo_rx_bytes=16\nts_vo_tx_packets=17\nts_vo_tx_bytes=18\n"
    "ts_vi_rx_packets=19\nts_vi_rx_bytes=20\nts_vi_tx_packets=21\nts_vi_tx_bytes=22\n";
// eth0 without a blank after its colon, a longer name beginning with "eth0",
// a line one number short and one with a word in it.
const std::string kNetDev =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
    "drop fifo colls carrier compressed\n"
    " eth00: 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9 9\n"
    "  eth0:5000000001 201 3 4 5 6 7 808 9000000009 1010 11 12 13 14 15 16\n"
    " wlan0: 301 302 303 304 305 306 307 308 309 310 311 312 313 314 315 316\n"
    " wlan1: 401 402 403 404 405 406 407 408 409 410 411 412 413 414 415 416\n"
    " short: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15\n"
    "   bad: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 1x\n";
const std::string kSta = "/proc/net/ieee80211/wlan1/sta/00:1a:2b:3c:4d:5e";
const uint8_t kMac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
// Traffic-stream lines of a station file, bad ones among them.
const std::string kTrafficStreams =
    "ts_tid5_ac=voice\nts_tid5_direction=bidirectional\nts_tid5_rx_packets=4294967297\n"
    "ts_tid2_ac=video\nts_tid5_tx_bytes=123\nts_tid2_direction=downlink\n"
    "ts_tid2_excess_usage_events=3\nts_tid8_ac=voice\nts_tid2_color=red\n"
    "ts_tid2_ac=audio\nts_tid2_direction=upl\nts_tid0_rx_bytes=1\nts_tid7_tx_packets=2\n"
    "ts_tid6_tx_packets=3\nts_tid3_=5\nts_tid3_rx_bytes=\nts_tidx_ac=voice\n"
    "ts_tid7_direction=downlink\n";

// Numbers as one line of text.
std::string nums(std::initializer_list<uint64_t> v) {
    std::string s;
    for (uint64_t n : v)
        s += (s.empty() ? "" : " ") + std::to_string(n);
    return s;
}
std::string traffic(const map_ts_counters (&ts)[MAP_STATS_ACS]) {
    return nums({ts[0].rx_packets, ts[0].rx_bytes, ts[0].tx_packets, ts[0].tx_bytes,
                 ts[1].rx_packets, ts[1].rx_bytes, ts[1].tx_packets, ts[1].tx_bytes});
}
// Every field of an interface record, in declaration order.
std::string text(const map_if_stats& s) {
    return nums({s.rx_packets, s.rx_bytes, s.rx_mcast, s.tx_packets, s.tx_bytes, s.tx_errors,
                 s.rx_errors, s.drop_tx_bytes, s.drop_rx_bytes, s.drop_tx_packets,
                 s.drop_rx_packets, s.arp_bc_2_uc, s.arp_req_filtered, s.arp_bc}) +
           " | " + traffic(s.ts);
}

}  // namespace

// Every station key once, then lines that must change nothing; traffic-stream
// lines fill the four slots, each bad one traced and skipped.  The flags are
// hexadecimal with auth in bit 0 and assoc in bit 1.
TEST(KeyedFile, StationFile) {
    mapd_test::sandbox sb;
    sb.write(kSta,
             "dev=wlan1vap2\ntxrate=54000\nrx_packets=5000000000\nrx_bytes=4294967296123\n"
             "tx_packets=17\ntx_bytes=18446744073709551615\ndrop_tx_bytes=1\ndrop_rx_bytes=2\n"
             "drop_tx_packets=3\ndrop_rx_packets=4\nlast_rssi=4294967295\nrx_duplicates=6\n" +
                 ("rx_fragments=7" + std::string(241, ' ')) +  // exactly 255 characters
                 "\ntx_fragments=8\ntx_retry_count=9\ntx_retry_failed=10\ninactive_msec=1500\n"
                 "ip_addr=3232235876\nnb_name=LAPTOP-0123456789ABC\nflags=2\n"
                 "ts_violate_rx_packets=11\nts_violate_tx_packets=12\nrx_duplicates=12ab\n"
                 "tx_fragments=-3\nlast_rssi=4294967296\nrx_packets=18446744073709551616\nip_addr\n"
                 "my_tx_bytes=77\ntxrate_max=1\n" + kTrafficStreams +
                 ("inactive_msec=7" + std::string(241, ' ') + "tx_retry_count=99\n") +
                 "txrate:250");  // any separator; the last line has no newline
    map_client_stats c{};
    std::string out = captured(MAP_TRACE_CONFIG,
                               [&] { ASSERT_EQ(map_proc_get_client_stats(&c, "wlan1", kMac), 0); });
    EXPECT_EQ(std::string(c.dev) + "|" + c.nb_name, "wlan1vap2|LAPTOP-012345678");  // cut to 16
    EXPECT_EQ(0, memcmp(c.mac, kMac, 6));
    const std::string got =
        nums({c.txrate, c.rx_packets, c.rx_bytes, c.tx_packets, c.tx_bytes, c.drop_tx_bytes,
              c.drop_rx_bytes, c.drop_tx_packets, c.drop_rx_packets, c.last_rssi}) +
        " " +
        nums({c.rx_duplicates, c.rx_fragments, c.tx_fragments, c.tx_retry_count, c.tx_retry_failed,
              c.inactive_msec, c.ip_addr, c.flags}) +
        " " + nums({c.ts_violate_rx_packets, c.ts_violate_tx_packets, c.auth, c.assoc});
    EXPECT_EQ(got,
              "250 5000000000 4294967296123 17 18446744073709551615 1 2 3 4 4294967295 6 7 8 9 10 "
              "1500 3232235876 2 11 12 0 1");
    for (const std::string line :
         {"dev = wlan1vap2\n", ": rx_duplicates is not a number: 12ab. Item skipped.\n",
          ": last_rssi does not fit its field: 4294967296. Item skipped.\n",
          ": rx_packets does not fit its field: 18446744073709551616. Item skipped.\n",
          ": ip_addr has no value. Item skipped.\n",
          ": line longer than 255 characters. Item skipped.\n"})
        EXPECT_TRUE(contains(out, (line[0] == ':' ? kSta : "") + line)) << line;
    std::string slots;
    for (const map_client_ts& s : c.ts)
        slots += nums({s.in_use, s.tid, s.ac, s.direction, s.excess_usage_events, s.rx_packets,
                       s.rx_bytes, s.tx_packets, s.tx_bytes}) +
                 "\n";
    // in use, TID, access category, direction, excess events, rx/tx packets and bytes
    EXPECT_EQ(slots,
              "1 5 3 3 0 4294967297 0 0 123\n1 2 2 1 3 0 0 0 0\n1 0 0 0 0 0 1 0 0\n"
              "1 7 0 1 0 0 0 2 0\n");
    for (const std::string line :
         {"Error parsing: ts_tid8_ac=voice.", "Unrecognized entry name: color.",
          "Unrecognized entry value: audio.", "Unrecognized entry value: upl.",
          "No room to store tx_packets for TID 6.", "Error parsing: ts_tid3_=5.",
          "Error parsing: ts_tid3_rx_bytes=.", "Error parsing: ts_tidx_ac=voice."})
        EXPECT_TRUE(contains(
            out, "map_proc_process_client_ts_association_stats: " + line + " Item skipped.\n"))
            << line;
    std::string bits;
    for (const char* flags : {"1", "2", "10", "0xfd", "4294967296"}) {
        sb.write(kSta, std::string("flags=") + flags + "\n");
        ASSERT_EQ(map_proc_get_client_stats(&c, "wlan1", kMac), 0);
        bits += nums({c.auth, c.assoc}) + ";";
    }
    EXPECT_EQ(bits, "1 0;0 1;0 0;1 0;0 0;");
}

namespace {

// A two-radio AP's driver files; wlan1 has no counters file.
class Collect : public ::testing::Test {
protected:
    mapd_test::sandbox sb;
    map_control_block cb{};
    map_cs* cs = nullptr;

    void SetUp() override {
        map_proc_mac_cache_clear();
        const std::string w = "/proc/net/ieee80211/";
        sb.write(w + "wl", "wl0 wl1\n");
        sb.write(w + "wlan0/iface/wlan0",
                 kIface + "channel_running=36\ntx_power=20\nchannel_util=41\n");
        sb.write(
            w + "wlan1/iface/wlan1",
            "rx_packets=7\ntx_bytes=9\ndrop_rx_packets=5\narp_bc_pkts=1\nts_vi_tx_bytes=100\n");
        sb.write(
            w + "wlan0/counters",
            "TransmittedFragmentCount=101\nMulticastTransmittedFrameCount=102\nFailedCount=103\n"
            "RetryCount=104\nMultipleRetryCount=105\nFrameDuplicateCount=106\n"
            "RTSSuccessCount=107\nRTSFailureCount=108\nACKFailureCount=109\n"
            "ReceivedFragmentCount=110\nMulticastReceivedFrameCount=111\nFCSErrorCount=112\n"
            "TransmittedFrameCount=113\nWEPUndecryptableCount=114\n");
        sb.write("/proc/net/dev", kNetDev);
        sb.write("/proc/net/l2tunnel/counters", "max_tunnels=64\nvlan_max_tunnels=16\n");
        sb.write("/proc/net/l2tunnel/tunnel/0", "tx_bytes=1\nrx_bytes=2\n");
        sb.write("/proc/net/dl2tunnel/counters",
                 "rx_bytes=501\nrx_packets=502\nrx_mcast=503\ntx_bytes=504\ntx_packets=505\n"
                 "tx_mcast=506\nnum_distl2_tunnels=507\nnum_clients_home=508\n"
                 "num_clients_assoc=509\ntotal_roamed_clients=510\nroamed_clients_idle=511\n"
                 "roamed_clients_age=512\nsetup_denies_max_cli=513\nsetup_denies_max_rep=514\n");
        sb.write("/proc/uptime", "12345.67 100.00\n");
        sb.write("/sys/class/net/eth0/address", "00:11:22:33:44:55\n");
        sb.write("/sys/class/net/wlan0/address", "00:11:22:33:44:60\n");
        ASSERT_EQ(map_cs_init(&cb), 0);
        cs = cb.cs;
    }
    void TearDown() override {
        map_cs_deinit(cs);
        lsqlquery_close();
    }
};

std::string mac_text(const uint8_t* m) {
    char s[18];
    snprintf(s, sizeof s, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    return s;
}

}  // namespace

// Without the Broadcom marker, or with an empty one, a radio interface comes
// from its line of "/proc/net/dev": seven of its 16 numbers, the rest 0.
TEST_F(Collect, InterfaceCountersFromProcNetDev) {
    const std::string zero = "0 0 0 0 0 0 0 0 0 0 0 0 0 0 | 0 0 0 0 0 0 0 0";
    // rx packets, rx bytes, rx multicast, tx packets, tx bytes, tx errors, rx errors
    const struct {
        const char* wl;
        const char* ifname;
        std::string want;
    } rows[] = {
        {"", "wlan0", "302 301 308 310 309 311 303 0 0 0 0 0 0 0 | 0 0 0 0 0 0 0 0"},
        {nullptr, "wlan1", "402 401 408 410 409 411 403 0 0 0 0 0 0 0 | 0 0 0 0 0 0 0 0"},
        {nullptr, "short", zero},
        {nullptr, "bad", zero},
        {nullptr, "eth", zero},
        {nullptr, "eth000", zero},
    };
    for (const auto& row : rows) {
        if (row.wl)
            sb.write("/proc/net/ieee80211/wl", row.wl);
        else
            std::remove(sb.path("/proc/net/ieee80211/wl").c_str());
        map_if_stats s;
        memset(&s, 0xA5, sizeof s);
        EXPECT_EQ(map_proc_get_interface_stats(&s, row.ifname), row.want == zero ? -1 : 0);
        EXPECT_EQ(text(s), row.want) << row.ifname;
    }
    map_if_stats s;
    EXPECT_EQ(captured(MAP_TRACE_CONFIG, [&] { map_proc_get_interface_stats(&s, "wlan1"); }),
              "wlan1 is not a broadcom radio interface\n\nSuccessful in getting stats for wlan1\n");
}

// The global record; the traffic-stream status and summary survive the
// rebuild.  The central tunnel is read under the index its module reports:
// none at first (no tunnel 0 is read), then tunnel 2.
TEST_F(Collect, GlobalRecord) {
    for (const std::string eth : {"201 5000000001 808 1010 9000000009 11 3", "0 0 0 0 0 0 0"}) {
        std::string cl2 = "0 0 0 0 0 0";
        if (eth[0] == '0') {
            sb.write("/proc/net/dev", " wlan0: 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n");
            const uint32_t index = 2;
            sb.write("/sysctl/3.24.1.13", std::string(reinterpret_cast<const char*>(&index), 4));
            sb.write("/proc/net/l2tunnel/tunnel/2", "tx_bytes=5\nrx_mcast=6\n");
            cl2 = "5 0 0 0 0 6";
        }
        map_global_stats& g = cs->stats.global;
        g.ts_summary[1][3] = 77;
        g.ts_status[0][2] = 5;
        g.wl_rx_packets = 99;
        map_cs_stats_global_db_update(cs);
        const map_tunnel_traffic &c = g.cl2, &d = g.dl2;
        const std::string got =
            nums({g.uptime, g.wl_rx_packets, g.wl_rx_bytes, g.wl_tx_packets, g.wl_tx_bytes,
                  g.wl_drop_rx_bytes, g.wl_drop_tx_bytes, g.wl_drop_tx_packets,
                  g.wl_drop_rx_packets}) +
            " | " +
            nums({g.eth_rx_packets, g.eth_rx_bytes, g.eth_rx_mcast, g.eth_tx_packets,
                  g.eth_tx_bytes, g.eth_tx_errors, g.eth_rx_errors}) +
            " | " +
            nums({c.tx_bytes, c.tx_packets, c.tx_mcast, c.rx_bytes, c.rx_packets, c.rx_mcast,
                  g.l2_max_tunnels, g.l2_vlan_max_tunnels}) +
            " " +
            nums({d.tx_bytes, d.tx_packets, d.tx_mcast, d.rx_bytes, d.rx_packets, d.rx_mcast}) +
            " " +
            nums({g.dl2_num_tunnels, g.dl2_clients_home, g.dl2_clients_assoc,
                  g.dl2_total_roamed_clients, g.dl2_roamed_clients_idle, g.dl2_roamed_clients_age,
                  g.dl2_setup_denies_max_cli, g.dl2_setup_denies_max_rep}) +
            " " +
            nums({g.arp_bc_2_uc, g.arp_req_filtered, g.arp_bc, g.ts_summary[1][3],
                  g.ts_status[0][2]}) +
            " | " + traffic(g.ts) + " | " + mac_text(g.ap_mac);
        EXPECT_EQ(got, "12345 4294967308 1002 1004 1014 1009 1008 1010 1016 | " + eth +
                           " | " + cl2 + " 64 16 504 505 506 501 502 503 507 508 509 510 511 512 "
                           "513 514 12 13 15 77 5 | 15 16 17 18 19 20 21 122 | 00:11:22:33:44:55");
    }
}

// A radio is collected only when configured and only when every file reads.
TEST_F(Collect, RadioRecord) {
    map_radio_stats& r = cs->stats.radio[0];
    r.ts_status[1].word[5] = 9;
    EXPECT_EQ(map_cs_stats_radio_db_update(cs, 0), -1);  // not configured
    strcpy(cs->radio[0].radio_name, "wlan0");
    cs->radio[0].tx_power = 17;
    std::string out =
        captured(MAP_TRACE_CONFIG, [&] { EXPECT_EQ(map_cs_stats_radio_db_update(cs, 0), 0); });
    EXPECT_TRUE(contains(out, "tx-Power = 17.\n")) << out;
    EXPECT_TRUE(contains(out, "wlan0 is a broadcom radio interface\n")) << out;
    std::string dot11;
    for (uint32_t n : r.dot11)
        dot11 += " " + std::to_string(n);
    EXPECT_EQ(mac_text(r.mac) + " " +
                  nums({r.channel, r.tx_power, r.channel_util, r.rx_packets, r.rx_bytes,
                        r.tx_packets, r.tx_bytes, r.drop_tx_bytes, r.drop_rx_bytes,
                        r.drop_tx_packets, r.drop_rx_packets, r.ts_status[1].word[5]}) +
                  dot11 + " | " + traffic(r.ts),
              "00:11:22:33:44:60 36 17 41 4294967301 1002 1004 1005 1008 1009 1010 1011 9 101 102 "
              "103 104 105 106 107 108 109 110 111 112 113 114 | 15 16 17 18 19 20 21 22");
    strcpy(cs->radio[1].radio_name, "wlan1");  // no counters file, then no radio file either
    for (const std::string missing : {"counters", "iface/wlan1"}) {
        out =
            captured(MAP_TRACE_CONFIG, [&] { EXPECT_EQ(map_cs_stats_radio_db_update(cs, 1), -1); });
        EXPECT_TRUE(contains(out, "file open error for /proc/net/ieee80211/wlan1/" + missing))
            << out;
        std::remove(sb.path("/proc/net/ieee80211/wlan1/iface/wlan1").c_str());
    }
}

// Enabled VAPs of configured radios are read; a failed read keeps the old counters.
TEST_F(Collect, VapRecords) {
    const std::string v = "/proc/net/ieee80211/wlan0/vap/";
    sb.write(v + "wlan0", kIface);
    sb.write(v + "wlan0vap1", "rx_packets=5\ndrop_rx_packets=6\n");
    sb.write(v + "wlan0vap3", "rx_packets=8\n");
    sb.write("/proc/net/ieee80211/wlan1/vap/wlan1", "rx_packets=9\n");
    strcpy(cs->radio[0].radio_name, "wlan0");
    std::string got;
    for (int i = 0; i < 4; ++i) {
        cs->vaps[0].vap_config[i].admin_mode = i < 3;
        cs->vaps[1].vap_config[i].admin_mode = 1;
        cs->vaps[0].vap_stats[i].rx_bytes = 99;
    }
    map_cs_stats_vap_db_update(cs);
    for (int i = 0; i < 5; ++i) {
        const map_vap_stats& x = cs->vaps[i / 4].vap_stats[i % 4];
        got += nums({x.rx_packets, x.rx_bytes, x.tx_packets, x.tx_bytes, x.drop_tx_bytes,
                     x.drop_rx_bytes, x.drop_tx_packets, x.drop_rx_packets, x.ts[1].tx_bytes}) +
               "\n";
    }
    // no file for VAP 2, VAP 3 disabled, radio 2 not configured
    EXPECT_EQ(got,
              "4294967301 1002 1004 1005 1008 1009 1010 1011 22\n5 0 0 0 0 0 0 6 0\n"
              "0 99 0 0 0 0 0 0 0\n0 99 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0 0\n");
    cs->vaps[0].vap_config.reset();
    EXPECT_TRUE(
        contains(captured(0, [&] { map_cs_stats_vap_db_update(cs); }), "Can't update vap DB\n"));
}

// Client n: MAC 02:00:00:00:00:n, a station file with tx_bytes n.
void add_clients(map_cs* cs, const mapd_test::sandbox& sb, int count, int radio = 1) {
    for (int i = 0; i < count; ++i) {
        const uint8_t mac[6] = {2, 0, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
        map_cs_process_assoc_cmd(cs, radio, mac, nullptr, 1);
        sb.write("/proc/net/ieee80211/wlan" + std::to_string(radio - 1) + "/sta/" + mac_text(mac),
                 "flags=3\ntx_bytes=" + std::to_string(i) + "\n");
    }
}

// The entries each period visits, and the next start after it.
std::string periods(map_cs* cs, int count) {
    std::string s;
    for (int p = 0; p < count; ++p) {
        map_proc_collect_client_association_stats(cs);
        const map_stats_db& db = cs->stats;
        if (db.client_count > 0)
            s += nums({db.client[0].tx_bytes, db.client[db.client_count - 1].tx_bytes,
                       uint64_t(db.client_count)});
        s += " next " + std::to_string(db.table.next_start) + ";";
    }
    return s;
}

TEST_F(Collect, ClientSlices) {
    const struct {
        int clients;
        const char* want;
    } rows[] = {
        {0, " next 1; next 1;"},
        {10, "0 9 10 next 1;0 9 10 next 1;"},
        {30, "0 15 16 next 17;16 29 14 next 1;0 15 16 next 17;"},
        {100,
         "0 20 21 next 22;21 41 21 next 43;42 62 21 next 64;63 83 21 next 85;84 99 16 next "
         "1;0 20 21 next 22;"},
    };
    for (const auto& row : rows) {
        map_cs_stats_client_table_clear(cs);
        add_clients(cs, sb, row.clients);
        EXPECT_EQ(periods(cs, std::count(row.want, row.want + strlen(row.want), ';')), row.want);
    }
    // Unauthenticated entries are skipped; a station file that is missing or a
    // folder is logged and the others are still collected; radio 2 reads wlan1.
    map_cs_stats_client_table_clear(cs);
    add_clients(cs, sb, 4, 2);
    const std::string sta = "/proc/net/ieee80211/wlan1/sta/02:00:00:00:00:0";
    std::remove(sb.path(sta + "1").c_str());
    std::remove(sb.path(sta + "2").c_str());
    mapd_test::make_dirs(sb.path(sta + "2"));
    const uint8_t unauth[6] = {2, 0, 0, 0, 0, 9};
    map_cs_process_assoc_cmd(cs, 1, unauth, nullptr, 0);
    sb.write("/proc/net/ieee80211/wlan0/sta/02:00:00:00:00:09", "flags=3\n");
    std::string out = captured(0, [&] { EXPECT_EQ(periods(cs, 1), "0 3 2 next 1;"); });
    for (const char* n : {"1", "2"})
        EXPECT_TRUE(contains(out, "Error in opening -- " + sta + n + "\n")) << out;
}

TEST_F(Collect, ClientTable) {
    map_client_table& t = cs->stats.table;
    const auto mac = [](int i) {
        return std::array<uint8_t, 6>{2, 0, 0, 0, uint8_t(i >> 8), uint8_t(i)};
    };
    const auto entries = [&](int from, int to) {
        std::string s;
        for (int i = from; i <= to; ++i)
            s += mac_text(t.entry[i].mac) + " " +
                 nums({t.entry[i].radio, t.entry[i].vap, t.entry[i].auth, t.entry[i].assoc}) + ";";
        return s + " last " + std::to_string(t.last);
    };
    add_clients(cs, sb, 512);
    std::string out =
        captured(0, [&] { map_cs_process_assoc_cmd(cs, 1, mac(512).data(), nullptr, 1); });
    EXPECT_TRUE(contains(out, "Exceeded the max client limit for client stats\n")) << out;
    // Client 5 again, on radio 2 through its VAP 3: only its entry changes.
    map_cs_process_assoc_cmd(cs, 2, mac(5).data(), cs->vaps[1].vap_mac[3].b, 0);
    map_cs_process_assoc_cmd(cs, 2, mac(5).data(), mac(700).data(), 1);  // unknown VAP MAC
    EXPECT_EQ(entries(4, 6) + entries(511, 511),
              "02:00:00:00:00:04 1 0 1 1;02:00:00:00:00:05 2 3 1 1;02:00:00:00:00:06 1 0 1 1; "
              "last 51102:00:00:00:01:ff 1 0 1 1; last 511");
    t.next_start = 7;
    map_cs_stats_client_table_clear(cs);
    EXPECT_EQ(nums({uint64_t(t.last + 1), t.next_start}), "0 1");
    for (int i = 0; i < 4; ++i)
        map_cs_process_assoc_cmd(cs, 1, mac(i).data(), nullptr, i != 3);
    map_cs_process_disassoc_cmd(cs, mac(1).data());  // the last entry moves into the gap
    map_cs_process_disassoc_cmd(cs, mac(9).data());  // unknown
    EXPECT_EQ(entries(0, 3),
              "02:00:00:00:00:00 1 0 1 1;02:00:00:00:00:03 1 0 0 0;02:00:00:00:00:02 1 0 1 1;"
              "00:00:00:00:00:00 0 0 0 0; last 2");
    // Authentication failures count per VAP, by kind.
    const auto m0 = mac(0);
    for (int kind : {1, 0, 2})
        map_cs_process_authen_fail_cmd(cs, m0.data(), cs->vaps[1].vap_mac[2].b, kind);
    map_cs_process_authen_fail_cmd(cs, m0.data(), m0.data(), 1);  // no such VAP
    out = captured(0, [&] { map_cs_process_authen_fail_cmd(cs, m0.data(), nullptr, 1); });
    EXPECT_TRUE(contains(out, "MAC address is null\n")) << out;
    EXPECT_EQ(nums({cs->vaps[1].vap_stats[2].auth_fail[0], cs->vaps[1].vap_stats[2].auth_fail[1]}),
              "2 1");
}

TEST_F(Collect, DebugDump) {
    const uint8_t a[6] = {0x02, 0xab, 0, 0, 0, 1}, b[6] = {0x02, 0xab, 0, 0, 0, 2};
    map_cs_process_assoc_cmd(cs, 1, a, nullptr, 1);
    map_cs_process_assoc_cmd(cs, 1, b, nullptr, 0);
    sb.write("/proc/net/ieee80211/wlan0/sta/02:ab:00:00:00:01", "flags=1\ntx_bytes=4294967297\n");
    map_proc_collect_client_association_stats(cs);
    std::string out =
        captured(0, [&] { EXPECT_EQ(map_cs_process_debug_dump_client_assoc_db(cs), 0); });
    EXPECT_EQ(
        out,
        "****************** Client Association *****************\n"
        "02:ab:00:00:00:01 - auth -1 and assoc - 1\n02:ab:00:00:00:02 - auth -0 and assoc - 0\n"
        "*****************************************************\n**** Total =  2**********\n"
        "\n\n****************** Client Database ***************** 1\n"
        "02:ab:00:00:00:01 - auth -1 and assoc - 0 and bytes tx - 1\n"
        "*****************************************************\n");
}
