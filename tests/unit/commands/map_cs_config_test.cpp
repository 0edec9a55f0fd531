// The configuration sequence: the element walk and its status, start and
// stop, the sequence's own small elements, what a cleared configuration keeps,
// the post-configuration report and the hostapd ping.
#include "commands/map_cs_config.hpp"

#include <cstdio>

#include "commands/map_cs_elems.hpp"
#include "cs_test_util.hpp"
#include "dman/dman_text.hpp"
#include "swsim/config_msg.hpp"

using namespace cs_test;

namespace {

const bytes kStart = elem(MAP_CS_ELEM_START, {});
const bytes kStop = elem(MAP_CS_ELEM_STOP, {});
// A VAP option element for VAP 1 of radio 1: taken when the walk gets to it.
const bytes kVapOption = elem(MAP_CS_ELEM_VAP_CONFIG_2, {1, 1, 1, 0});

// A radio element for radio `id`, its other values the defaults.
bytes radio(uint8_t id, uint8_t admin_mode = 1) {
    return elem(MAP_CS_ELEM_RADIO_CONFIG,
                radio_elem{.radio_id = id, .admin_mode = admin_mode}.encode());
}

// A component of its own with the sequence idle; the post-configuration child
// is not started here: its fork fails.
struct CsConfig : cs_fixture {
    void SetUp() override {
        sb.write("/proc/uptime", "1000.0 1.0\n");
        cs_fixture::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        cs->config_state = MAP_CS_STATE_IDLE;
        map_platform_fail_nth(map_platform_op::fork, 1);
    }
    // Walks `msg` and returns what reached standard output, traces included.
    std::string walk(const bytes& msg) {
        return captured(MAP_TRACE_CONFIG, [&] { cs_test::walk(cs, msg); });
    }
    const map_vap_config& vap11() const { return cs->vaps[0].vap_config[1]; }
};

}  // namespace

// What the walk does after each kind of element: a content error and an
// unknown element are stepped over and the walk goes on to the stop element;
// a wrong size or a closed sequence ends it.  The last element's result
// decides the status.
TEST_F(CsConfig, TheWalkGoesOnAfterContentErrorsAndUnknownElements) {
    const bytes unknown = elem(0x1106, bytes(26, 7));
    const struct {
        const char* what;
        bytes msg;
        bool applied;       // the stop element ran the apply
        bool vap_taken;     // the VAP option element was taken
        int status;         // the status code left (the failed apply sets 3; 0: untouched)
        const char* error;  // a line the walk logs
    } rows[] = {
        {"radio id 0: content error, the walk goes on", kStart + radio(0) + kVapOption + kStop,
         true, true, MAP_CS_STATUS_APPLY_FAILED, "ERROR: Received incorrect radio id"},
        {"radio id 3 as the last element: its failure counts", kStart + kVapOption + radio(3),
         false, true, MAP_CS_STATUS_UNRECOGNIZED, "ERROR: Received incorrect radio id"},
        {"an unknown element is stepped over by its length", kStart + unknown + kVapOption + kStop,
         true, true, MAP_CS_STATUS_APPLY_FAILED, "Unrecognized element 0x1106"},
        {"the stop element leaves the result of the element before it",
         kStart + kVapOption + unknown + kStop, true, true, MAP_CS_STATUS_UNRECOGNIZED,
         "Unrecognized element 0x1106"},
        {"an unknown element last: status 2", kStart + kVapOption + unknown, false, true,
         MAP_CS_STATUS_UNRECOGNIZED, "Unrecognized element 0x1106"},
        {"an unknown element longer than the message ends the walk",
         kStart + elem(0x7f00, {1, 2, 3}, 40) + kVapOption, false, false,
         MAP_CS_STATUS_UNRECOGNIZED, "Unrecognized element 0x7f00"},
        {"a wrong size ends the walk",
         kStart + elem(MAP_CS_ELEM_VAP_CONFIG_2, {1, 1, 1}) + kVapOption + kStop, false, false,
         MAP_CS_STATUS_UNRECOGNIZED, "ERROR: Received incorrect VAP Config-2 pkt"},
        {"outside a sequence the element is refused and the walk ends", kVapOption + kStart, false,
         false, MAP_CS_STATUS_UNRECOGNIZED, "ERROR: Received incorrect VAP Config-2 pkt"},
        {"a second start ends the walk", kStart + kStart + kVapOption, false, false, 0,
         "ERROR: Duplicate Config start packet received"},
        {"stop without start ends the walk", kStop + kStart + kVapOption, false, false, 0,
         "ERROR: Config stop packet received without start"},
        {"start with a value", elem(MAP_CS_ELEM_START, {0}) + kVapOption, false, false, 0,
         "Corrupt Packet from switch with wrong element size"},
        {"three trailing bytes are no element", kStart + kVapOption + bytes{0x20, 0x02, 0x00},
         false, true, 0, nullptr},
    };
    for (const auto& r : rows) {
        TearDown();  // a fresh component for each row
        SetUp();
        std::string out = walk(r.msg);
        EXPECT_EQ(contains(out, "Start config apply...."), r.applied) << r.what << "\n" << out;
        EXPECT_EQ(vap11().arp_supp == 1, r.vap_taken) << r.what;
        EXPECT_EQ(cs->status_code, r.status) << r.what;
        if (r.status == MAP_CS_STATUS_UNRECOGNIZED) {
            EXPECT_STREQ(cs->status_text, "Unrecognized Element ID") << r.what;
        }
        if (r.error != nullptr) {
            EXPECT_TRUE(contains(out, r.error)) << r.what << "\n" << out;
        }
    }
}

TEST_F(CsConfig, TheSequencesOwnElements) {
    std::string out =
        walk(kStart + elem(MAP_CS_ELEM_GLOBAL, {1}) + elem(MAP_CS_ELEM_COUNTRY, {'G', 'B'}) +
             elem(MAP_CS_ELEM_TUNNEL_MTU, {5, 0xdc}));
    EXPECT_EQ(cs->status_code, 0) << out;
    // The detection VLAN is taken outside a sequence too; hostapd cannot be
    // told here (no socket), so the element fails after storing the VLAN.
    cs->config_state = MAP_CS_STATE_IDLE;
    walk(elem(MAP_CS_ELEM_NETWORK_DET_VLAN, {0, 5}));
    EXPECT_EQ(cs->status_code, MAP_CS_STATUS_UNRECOGNIZED);
    EXPECT_EQ(cs->global_cltqos_mode, 1);
    EXPECT_STREQ(cs->radius_key, "NULLSECRET");
    EXPECT_EQ(cs->global_changed, 1);
    EXPECT_STREQ(cs->country, "GB");
    EXPECT_EQ(cs->country_changed, 1);
    EXPECT_EQ(cs->tunnel_mtu, 1500u);
    EXPECT_EQ(cs->mtu_changed, 1);
    EXPECT_EQ(cs->wired_det_vlan, 5);

    // The same values again mark nothing; another letter case is another code.
    cs->country_changed = cs->mtu_changed = 0;
    walk(kStart + elem(MAP_CS_ELEM_COUNTRY, {'G', 'B'}) + elem(MAP_CS_ELEM_TUNNEL_MTU, {5, 0xdc}));
    EXPECT_EQ(cs->country_changed, 0);
    EXPECT_EQ(cs->mtu_changed, 0);
    cs->config_state = MAP_CS_STATE_IDLE;
    out = walk(kStart + elem(MAP_CS_ELEM_COUNTRY, {'g', 'b'}) +
               elem(MAP_CS_ELEM_TUNNEL_MTU, {5, 0xdd}));
    EXPECT_EQ(cs->country_changed, 1);
    EXPECT_TRUE(contains(out, "Processed Tunnel MTU Config pkt with mtu 1501 and flag 1\n")) << out;

    sc->state = MAP_SWITCH_COMM_SWITCH_AUTH_MODE;
    out = captured(0, [&] { EXPECT_EQ(map_cs_process_config_pkt(cs, kStart.data(), 4), -1); });
    EXPECT_TRUE(contains(out, "AP is in invalid state to accept messages from Switch"));
}

// A failed apply reports status 3 with the error text, returns to idle and
// clears the configuration data: global data, radios, country and MTU, but
// not the VAP records.
TEST_F(CsConfig, AFailedApplyClearsTheConfigurationButNotTheVaps) {
    std::string out =
        walk(kStart + elem(MAP_CS_ELEM_GLOBAL, {1}) + elem(MAP_CS_ELEM_COUNTRY, {'U', 'S'}) +
             radio(1, 0) + kVapOption + kStop);
    EXPECT_EQ(cs->status_code, MAP_CS_STATUS_APPLY_FAILED);
    ASSERT_NE(cs->status_text[0], '\0');
    EXPECT_TRUE(contains(out, std::string("Failed in the config apply - ") + cs->status_text))
        << out;
    EXPECT_EQ(cs->config_state, MAP_CS_STATE_IDLE);
    EXPECT_EQ(cs->global_set, 0);
    EXPECT_EQ(cs->radius_key[0], '\0');
    EXPECT_EQ(cs->radio[0].radio_name[0], '\0');
    EXPECT_EQ(cs->country[0], '\0');
    EXPECT_EQ(cs->radio[0].vap_config, cs->vaps[0].vap_config.get()) << "still linked";
    EXPECT_EQ(vap11().arp_supp, 1) << "the VAP records keep their values";
    EXPECT_EQ(vap11().radio_id, 1u);
}

// Every name that a full configuration writes is one the factory database
// knows: both radios, every VAP with each kind of security, the QoS queues,
// the global data and the MTU, applied to the factory configuration.  The
// apply then fails only at its last step, the child that is not started.
TEST_F(CsConfig, AFullConfigurationAppliesToTheFactoryDatabase) {
    FILE* factory = fopen(MAPD_FACTORY_CONFIG, "r");
    ASSERT_NE(factory, nullptr);
    std::string error;
    ASSERT_EQ(dman_text_load(factory, true, error), 0) << error;
    fclose(factory);
    // The unit's identity is filled in at boot; the central tunnel needs its MAC.
    db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50");
    std::vector<std::string> lines = {"mtu 1400", "radio 1 mode=3 channel=36",
                                      "radio 2 mode=4 channel=6", "qos 1", "qos 2"};
    const char* security[] = {"security=wpa-personal key=correct-horse-battery",
                              "security=static-wep auth=both", "security=plain-text",
                              "security=wpa-enterprise", "security=dot1x"};
    for (int r = 1; r <= 2; ++r) {
        for (int v = 0; v < 4; ++v) {
            lines.push_back("vap " + std::to_string(r) + " " + std::to_string(v) + " ssid=net" +
                            std::to_string(r) + std::to_string(v) + " " + security[(r + v) % 5]);
        }
    }
    bytes msg;
    ASSERT_EQ(swsim_config_build(lines, msg, error), 0) << error;
    const bytes global = elem(MAP_CS_ELEM_GLOBAL, {1});
    msg.insert(msg.begin() + 8, global.begin(), global.end());  // behind the start element
    std::string out = walk(bytes(msg.begin() + 4, msg.end()));
    EXPECT_STREQ(cs->status_text, "unable to perform post configuration") << out;
    EXPECT_EQ(db_get("interface", "wlan1vap3", "wpa-personal-key"), "correct-horse-battery");
    EXPECT_EQ(db_get("interface", "wlan1vap3", "ssid"), "net23");
    EXPECT_EQ(db_get("client-qos", nullptr, "mode"), "up");
}

TEST_F(CsConfig, PostConfigurationReport) {
    walk(kStart + elem(MAP_CS_ELEM_COUNTRY, {'G', 'B'}));
    const bytes failed = {0x00, 0x01, 0x00, 0x04, 0xff, 0xff, 0xff, 0xff};
    const bytes ok = {0x00, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00};
    const bytes other = {0x00, 0x02, 0x00, 0x04, 0xff, 0xff, 0xff, 0xff};
    cs->config_state = MAP_CS_STATE_APPLYING;
    std::string out = captured(MAP_TRACE_CONFIG, [&] {
        map_cs_handle_process_post_conf_notification(&cb, failed.data(), 8);
    });
    EXPECT_EQ(cs->status_code, MAP_CS_STATUS_APPLY_FAILED);
    EXPECT_STREQ(cs->status_text, "unable to set the radio status");
    EXPECT_EQ(cs->config_state, MAP_CS_STATE_IDLE);
    EXPECT_EQ(cs->country[0], '\0') << "the configuration data is cleared";
    EXPECT_TRUE(contains(out, "Failed in the config apply - as post configuration failed"));

    cs->config_state = MAP_CS_STATE_APPLYING;
    map_cs_handle_process_post_conf_notification(&cb, ok.data(), 8);
    EXPECT_EQ(cs->status_code, MAP_CS_STATUS_SUCCESS);
    EXPECT_EQ(cs->config_state, MAP_CS_STATE_CONFIGURED);

    cs->config_state = MAP_CS_STATE_APPLYING;
    EXPECT_EQ(map_cs_handle_process_post_conf_notification(&cb, other.data(), 8), -1)
        << "only element 1 counts";
    EXPECT_EQ(cs->config_state, MAP_CS_STATE_APPLYING);
    EXPECT_EQ(map_cs_handle_process_post_conf_notification(nullptr, ok.data(), 8), -1);
}

TEST_F(CsConfig, HostapdPingRetriesThroughTheRootsTools) {
    auto ping = [](int attempts, bool succeeds) {
        return captured(MAP_TRACE_CONFIG,
                        [&] { EXPECT_EQ(map_cs_hostapd_ping(attempts, 0) == 0, succeeds); });
    };
    sb.tool("/bin/ps", "echo '  7 root 100 S hostapd'");
    sb.tool("/usr/sbin/apicli",
            "n=$(cat tmp/n 2>/dev/null || echo 0); n=$((n+1)); echo $n > tmp/n; [ $n -ge 3 ]");
    std::string out = ping(5, true);
    EXPECT_TRUE(contains(out, "map_cs_hostapd_ping: retrying, attempt #3"));
    EXPECT_TRUE(contains(out, "map_cs_hostapd_ping: ping hostapd succeeded after 3 attempts"));
    sb.tool("/bin/ps", "echo '  1 root 100 S init'");
    EXPECT_TRUE(contains(ping(5, false), "map_cs_hostapd_ping: hostapd not running"));
    sb.tool("/bin/ps", "echo '  7 root 100 S hostapd'");
    sb.tool("/usr/sbin/apicli", "exit 1");
    EXPECT_TRUE(contains(ping(2, false), "ping hostapd failed after 2 attempts"));
}
