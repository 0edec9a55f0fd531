// The configuration sequence's own elements (start, stop, global, country,
// MTU, detection VLAN) at their sizes and around them, the walk's status, and
// the post-configuration report.
#include "commands/map_cs_config.hpp"

#include <gtest/gtest.h>

#include "unit/commands/cs_test_util.hpp"

using namespace cs_test;

namespace {

struct CsConfig : cs_fixture {
    void SetUp() override {
        cs_fixture::SetUp();
        sc->tcp_fd = sc->udp_fd = sc->l2_fd = sc->ssl_rfd = sc->mapd_fd = sc->mapqosd_fd = -1;
        sc->cb = &cb;
    }
};

}  // namespace

// Nothing of the configuration was taken: no radio named or marked, no VAP,
// queue, country, MTU or global data marked.
bool anything_marked(const map_cs* cs) {
    for (int r = 0; r < MAP_CS_NUM_RADIOS; ++r) {
        const map_radio_config& radio = cs->radio[r];
        if (radio.radio_name[0] != '\0' || radio.radio_changed || radio.service_set_changed ||
            radio.rates_changed) {
            return true;
        }
        for (const auto& q : radio.qos_queue) {
            if (q.changed) return true;
        }
        for (int v = 0; v < cs->vaps[r].num_vaps; ++v) {
            if (cs->vaps[r].vap_config[v].vap_changed) return true;
        }
    }
    return cs->country_changed || cs->mtu_changed || cs->global_changed;
}

// Every element taken inside a sequence refuses a wrong size, too few bytes
// left and a closed sequence alike: its message, the walk ended, nothing taken.
TEST_F(CsConfig, EveryElementRefusesWrongSizesAndAClosedSequence) {
    struct handler_row {
        const char* name;
        map_cs_elem_handler fn;
        int size;
        const char* error;
    };
    const handler_row rows[] = {
        {"radio", map_cs_handler_process_radio_config, 146, "ERROR: Received incorrect Radio Config pkt"},
        {"qos", map_cs_handler_process_qos_config, 129, "ERROR: Received incorrect QoS Config pkt"},
        {"isolation", map_cs_handler_process_station_isolation_config, 2,
         "ERROR: Received incorrect Station Isolation Config pkt"},
        {"stbc", map_cs_handler_process_radio_stbc_config, 2, "ERROR: Received incorrect Radio STBC Config pkt"},
        {"tspec", map_cs_handler_process_radio_tspec_acm_config, 15,
         "ERROR: Received incorrect Radio TSPEC ACM Config pkt"},
        {"rrm", map_cs_handler_process_radio_rrm_mode_config, 2,
         "ERROR: Received incorrect Radio RRM Mode Config pkt"},
        {"vap", map_cs_handler_process_vap_config, 279, "Rx'ed incorrect VAP cfg pkt"},
        {"option", map_cs_handler_process_vap_config_2, 4, "ERROR: Received incorrect VAP Config-2 pkt"},
        {"redirect", map_cs_handler_process_vap_redirect_config, 135,
         "ERROR: Received incorrect VAP Redirect Config pkt"},
        {"client qos", map_cs_handler_process_vap_client_qos_config, 139,
         "ERROR: Rx'ed incorrect VAP Client QoS Config packet"},
        {"global", map_cs_handler_process_global_config, 1, "ERROR: Received incorrect Global Config pkt"},
        {"country", map_cs_handler_process_country_code_config, 2,
         "ERROR: Received incorrect Country Code Config pkt"},
        {"mtu", map_cs_handler_process_tunnel_mtu_config, 2, "ERROR: Received incorrect Tunnel MTU Config pkt"},
    };
    for (const auto& row : rows) {
        const struct {
            const char* what;
            int value_size, remaining, elem_len, state;
        } cases[] = {
            {"length size-1", row.size - 1, row.size - 1, row.size - 1, MAP_CS_STATE_OPEN},
            {"length size+1", row.size + 1, row.size + 1, row.size + 1, MAP_CS_STATE_OPEN},
            {"length size-1, more in the message", row.size - 1, 400, row.size - 1, MAP_CS_STATE_OPEN},
            {"too few bytes left", row.size - 1, row.size - 1, row.size, MAP_CS_STATE_OPEN},
            {"idle", row.size, row.size, row.size, MAP_CS_STATE_IDLE},
            {"applying", row.size, row.size, row.size, MAP_CS_STATE_APPLYING},
            {"configured", row.size, row.size, row.size, MAP_CS_STATE_CONFIGURED},
        };
        for (const auto& c : cases) {
            cs->config_state = c.state;
            // A valid value for radio 1, VAP 1, with a non-zero byte everywhere else.
            bytes value = row.size == 146 ? radio_elem{}.encode() : bytes(static_cast<size_t>(row.size), 1);
            value.resize(static_cast<size_t>(c.value_size), 1);
            elem_result res{};
            std::string out = captured(0, [&] { res = run(row.fn, cs, value, c.remaining, c.elem_len); });
            EXPECT_EQ(res.rc, -1) << row.name << ": " << c.what;
            EXPECT_EQ(res.remaining, 0) << row.name << ": " << c.what;
            EXPECT_TRUE(contains(out, std::string(" - ") + row.error + "\n")) << row.name << ": " << c.what << ": " << out;
            EXPECT_FALSE(anything_marked(cs)) << row.name << ": " << c.what;
        }
    }
}

TEST_F(CsConfig, ElementsTakeTheirSizeOffTheRemainingLength) {
    for (auto fn : {map_cs_handler_process_global_config, map_cs_handler_process_country_code_config,
                    map_cs_handler_process_tunnel_mtu_config}) {
        size_t size = fn == map_cs_handler_process_global_config ? 1 : 2;
        elem_result res = run(fn, cs, bytes(size, 0x41), static_cast<int>(size) + 10);
        EXPECT_EQ(res.rc, 0);
        EXPECT_EQ(res.remaining, 10);
    }
    // The detection VLAN is taken outside a sequence too.
    cs->config_state = MAP_CS_STATE_IDLE;
    EXPECT_EQ(run(map_cs_handler_process_ap_network_det_vlan_config, cs, {0, 5}, 12).remaining, 10);
    EXPECT_EQ(cs->wired_det_vlan, 5);
    elem_result bad{};
    std::string out = captured(0, [&] { bad = run(map_cs_handler_process_ap_network_det_vlan_config, cs, {0, 5, 0}); });
    EXPECT_EQ(bad.remaining, 0);
    EXPECT_TRUE(contains(out, "ERROR: Received incorrect AP Network Detection VLAN Config pkt"));
}

TEST_F(CsConfig, ChangesAreMarkedOnlyWhenValuesDiffer) {
    EXPECT_EQ(run(map_cs_handler_process_country_code_config, cs, {'U', 'S'}).rc, 0);
    EXPECT_EQ(cs->country_changed, 1);
    cs->country_changed = 0;
    run(map_cs_handler_process_country_code_config, cs, {'U', 'S'});
    EXPECT_EQ(cs->country_changed, 0) << "the same code again";
    run(map_cs_handler_process_country_code_config, cs, {'u', 's'});
    EXPECT_EQ(cs->country_changed, 1) << "a code of other case differs";

    std::string out = captured(MAP_TRACE_CONFIG, [&] { run(map_cs_handler_process_tunnel_mtu_config, cs, {0x05, 0xdc}); });
    EXPECT_EQ(cs->tunnel_mtu, 1500u);
    EXPECT_TRUE(contains(out, "Processed Tunnel MTU Config pkt with mtu 1500 and flag 1\n"));

    run(map_cs_handler_process_global_config, cs, {1});
    EXPECT_STREQ(cs->radius_key, "NULLSECRET");
    EXPECT_EQ(cs->global_cltqos_mode, 1);
    EXPECT_EQ(cs->global_changed, 1);
}

TEST_F(CsConfig, WalkStatusAndSequenceStates) {
    sc->state = MAP_SWITCH_COMM_ESTABLISHED;
    cs->config_state = MAP_CS_STATE_IDLE;
    const bytes start = {0x20, 0x01, 0x00, 0x00};
    EXPECT_EQ(map_cs_process_config_pkt(cs, start.data(), 4), 0);
    EXPECT_EQ(cs->config_state, MAP_CS_STATE_OPEN);
    std::string out = captured(0, [&] { map_cs_process_config_pkt(cs, start.data(), 4); });
    EXPECT_TRUE(contains(out, "ERROR: Duplicate Config start packet received"));
    EXPECT_EQ(cs->config_state, MAP_CS_STATE_OPEN);

    const bytes unknown = {0x7f, 0x00, 0x00, 0x01, 0x09};
    map_cs_process_config_pkt(cs, unknown.data(), static_cast<int>(unknown.size()));
    EXPECT_EQ(cs->status_code, MAP_CS_STATUS_UNRECOGNIZED);
    EXPECT_STREQ(cs->status_text, "Unrecognized Element ID");

    // Three trailing bytes are no element; a short element value is refused.
    const bytes tail = {0x20, 0x09, 0x00, 0x02, 'U'};
    cs->status_code = 0;
    map_cs_process_config_pkt(cs, tail.data(), static_cast<int>(tail.size()));
    EXPECT_EQ(cs->status_code, MAP_CS_STATUS_UNRECOGNIZED);

    sc->state = MAP_SWITCH_COMM_LISTEN_MODE;
    out = captured(0, [&] { EXPECT_EQ(map_cs_process_config_pkt(cs, start.data(), 4), -1); });
    EXPECT_TRUE(contains(out, "AP is in invalid state to accept messages from Switch"));
}

TEST_F(CsConfig, PostConfigurationReport) {
    ASSERT_EQ(run(map_cs_handler_process_country_code_config, cs, {'G', 'B'}).rc, 0);
    ASSERT_EQ(cs->country[0], 'G');
    const bytes failed = {0x00, 0x01, 0x00, 0x04, 0xff, 0xff, 0xff, 0xff};
    cs->config_state = MAP_CS_STATE_APPLYING;
    std::string out = captured(MAP_TRACE_CONFIG, [&] {
        map_cs_handle_process_post_conf_notification(&cb, failed.data(), static_cast<int>(failed.size()));
    });
    EXPECT_EQ(cs->status_code, MAP_CS_STATUS_APPLY_FAILED);
    EXPECT_STREQ(cs->status_text, "unable to set the radio status");
    EXPECT_EQ(cs->config_state, MAP_CS_STATE_IDLE);
    EXPECT_EQ(cs->country[0], '\0') << "the configuration data is cleared";
    EXPECT_TRUE(contains(out, "Failed in the config apply - as post configuration failed"));

    const bytes ok = {0x00, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00};
    cs->config_state = MAP_CS_STATE_APPLYING;
    map_cs_handle_process_post_conf_notification(&cb, ok.data(), static_cast<int>(ok.size()));
    EXPECT_EQ(cs->status_code, MAP_CS_STATUS_SUCCESS);
    EXPECT_EQ(cs->config_state, MAP_CS_STATE_CONFIGURED);

    const bytes other = {0x00, 0x02, 0x00, 0x04, 0xff, 0xff, 0xff, 0xff};
    cs->config_state = MAP_CS_STATE_APPLYING;
    EXPECT_EQ(map_cs_handle_process_post_conf_notification(&cb, other.data(), 8), -1) << "only element 1 counts";
    EXPECT_EQ(cs->config_state, MAP_CS_STATE_APPLYING);
    EXPECT_EQ(map_cs_handle_process_post_conf_notification(nullptr, ok.data(), 8), -1);
}

TEST_F(CsConfig, HostapdPingRetriesThroughTheRootsTools) {
    sb.tool("/bin/ps", "echo '  7 root 100 S hostapd'");
    sb.tool("/usr/sbin/apicli", "n=$(cat tmp/n 2>/dev/null || echo 0); n=$((n+1)); echo $n > tmp/n; [ $n -ge 3 ]");
    std::string out = captured(MAP_TRACE_CONFIG, [&] { EXPECT_EQ(map_cs_hostapd_ping(5, 0), 0); });
    EXPECT_TRUE(contains(out, "map_cs_hostapd_ping: retrying, attempt #3"));
    EXPECT_TRUE(contains(out, "map_cs_hostapd_ping: ping hostapd succeeded after 3 attempts"));
    sb.tool("/bin/ps", "echo '  1 root 100 S init'");
    out = captured(MAP_TRACE_CONFIG, [&] { EXPECT_EQ(map_cs_hostapd_ping(5, 0), -1); });
    EXPECT_TRUE(contains(out, "map_cs_hostapd_ping: hostapd not running"));
    sb.tool("/bin/ps", "echo '  7 root 100 S hostapd'");
    sb.tool("/usr/sbin/apicli", "exit 1");
    out = captured(MAP_TRACE_CONFIG, [&] { EXPECT_NE(map_cs_hostapd_ping(2, 0), 0); });
    EXPECT_TRUE(contains(out, "ping hostapd failed after 2 attempts"));
}
