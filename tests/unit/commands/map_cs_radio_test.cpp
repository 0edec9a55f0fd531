// The radio elements: what lands in the radio record and which changed flags
// go up; what the walk refuses or skips of the radio and VAP elements.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cs_test_util.hpp"

using namespace cs_test;

namespace {

using RadioElements = cs_fixture;

constexpr int R = 1, S = 2, T = 4;  // radio, service set, rates changed

#define FIELD(expr) [](const map_radio_config& r) { return str(r.expr); }

}  // namespace

// From a stored element, one byte set at a time: the field at that byte takes
// the value and exactly the groups that field belongs to go up.
TEST_F(RadioElements, EachByteLandsInItsFieldAndGroup) {
    const struct {
        size_t at;
        uint8_t value;
        int groups;
        std::string (*get)(const map_radio_config&);
        const char* want;
    } rows[] = {
        {1, 0, R, FIELD(admin_mode), "0"},
        {5, 5, R, FIELD(mode), "n-only-a"},
        {6, 0, R, FIELD(channel_policy), "best"},
        {7, 1, R, FIELD(sentry_mode), "1"},
        {8, 0, R, FIELD(channel_hopping), "0"},
        {9, 1, R, FIELD(scan_leave_time), "16777316"},
        {13, 1, R, FIELD(scan_duration), "16777236"},
        {17, 3, R, FIELD(passive_scan_band), "2"},
        {18, 0, R, FIELD(rate_limit_enable), "0"},
        {19, 1, R, FIELD(rate_limit), "16777266"},
        {23, 1, R, FIELD(rate_limit_burst), "16777291"},
        {27, 1, R, FIELD(beacon_interval), "16777316"},
        {31, 1, R | S, FIELD(dtim_period), "258"},
        {33, 1, R, FIELD(fragmentation_threshold), "16779562"},
        {37, 1, R, FIELD(rts_threshold), "16779563"},
        {41, 1, S, FIELD(service_set_short[0]), "259"},
        {49, 1, S, FIELD(service_set_long[1]), "16777222"},
        {56, 150, R | S, FIELD(max_stations), "150"},
        {57, 36, R, FIELD(limit_channels[0]), "36"},
        {120, 165, R, FIELD(limit_channels[63]), "165"},
        {121, 1, R, FIELD(tx_power), "356"},
        {123, 2, R, FIELD(n_bandwidth), "40"},
        {124, 1, R, FIELD(n_primary_channel), "upper"},
        {125, 0, R, FIELD(protection), "off"},
        {126, 0, R, FIELD(short_guard_interval), "0"},
        {128, 55, R, FIELD(fixed_multicast_rate), "5.5"},
        {129, 0, R, FIELD(wme_apsd), "0"},
        {130, 1, R, FIELD(wme_noack), "1"},
        {131, 1, T, FIELD(supported_rates), "16781311"},
        {135, 1, T, FIELD(basic_rates), "16777219"},
        {139, 0, R, FIELD(wme), "0"},
        {140, 0, R, FIELD(no_association_utilization), "0"},  // load balancing off
        {141, 1, R, FIELD(no_association_utilization), "316"},
        {143, 1, R, FIELD(data_snooping), "1"},
        {144, 9, 0, FIELD(admin_mode), "1"},  // bytes 144 and 145 are not read
    };
    radio_elem base;
    base.lb_on = 1;
    const map_radio_config& r = cs->radio[0];
    for (const auto& row : rows) {
        ASSERT_TRUE(take(0x2004, base.encode()));
        clear_flags();
        bytes b = base.encode();
        b[row.at] = row.value;
        std::string out = captured(MAP_TRACE_CONFIG, [&] { ASSERT_TRUE(take(0x2004, b)); });
        EXPECT_EQ(row.get(r), row.want) << "byte " << row.at;
        EXPECT_STREQ(r.radio_name, "wlan0");
        EXPECT_EQ(r.radio_changed != 0, (row.groups & R) != 0) << "byte " << row.at;
        EXPECT_EQ(r.service_set_changed != 0, (row.groups & S) != 0) << "byte " << row.at;
        EXPECT_EQ(r.rates_changed != 0, (row.groups & T) != 0) << "byte " << row.at;
        EXPECT_EQ(contains(out, "Radio configuration changed for radio - wlan0 whose adminmode - "),
                  row.groups != 0)
            << out;
        EXPECT_EQ(cs->radio[1].radio_name[0], '\0') << "the other radio is untouched";
    }
}

// The mode number (0, negative or above 6 counts as 1) and its text; the
// channel policy, whose static channel text follows only a change of policy;
// the passive scan band from the band selector and the mode; the fixed
// multicast rate text; the cap on maximum stations.  Row after row.
TEST_F(RadioElements, DerivedValues) {
    const struct {
        uint32_t mode;
        uint8_t channel, selector;
        uint16_t mcast;
        uint32_t stations;
        int32_t number;
        const char *text, *policy, *static_channel;
        int32_t band;
        const char* rate;
        int32_t max;
    } rows[] = {
        {1, 6, 1, 10, 500, 1, "a", "static", "6", 0, "1", 200},
        {2, 11, 1, 20, 201, 2, "bg", "static", "6", 1, "2", 200},
        {3, 0, 1, 55, 200, 3, "a-n", "best", "", 0, "5.5", 200},
        {4, 0, 1, 60, 17, 4, "bg-n", "best", "", 1, "6", 17},
        {5, 36, 1, 90, 0xFFFFFFFB, 5, "n-only-a", "static", "36", 0, "9", -5},  // signed
        {6, 6, 1, 110, 0, 6, "n-only-g", "static", "36", 1, "11", 0},
        {0, 6, 1, 120, 0, 1, "a", "static", "36", 0, "12", 0},
        {1, 6, 2, 180, 0, 1, "a", "static", "36", 1, "18", 0},
        {2, 6, 2, 240, 0, 2, "bg", "static", "36", 0, "24", 0},
        {3, 6, 2, 360, 0, 3, "a-n", "static", "36", 1, "36", 0},
        {4, 6, 2, 480, 0, 4, "bg-n", "static", "36", 0, "48", 0},
        {5, 6, 2, 540, 0, 5, "n-only-a", "static", "36", 1, "54", 0},
        {6, 6, 2, 100, 0, 6, "n-only-g", "static", "36", 0, "auto", 0},
        {7, 6, 3, 0, 0, 1, "a", "static", "36", 2, "auto", 0},
        {9, 6, 0, 5, 0, 1, "a", "static", "36", 2, "auto", 0},  // other selectors: no change
        {0xFFFFFFFF, 6, 7, 541, 0, 1, "a", "static", "36", 2, "auto", 0},
        {0x80000000, 6, 1, 0xFFFF, 0, 1, "a", "static", "36", 0, "auto", 0},
    };
    const map_radio_config& r = cs->radio[0];
    for (const auto& row : rows) {
        radio_elem e;
        e.mode = row.mode;
        e.channel = row.channel;
        e.band_selector = row.selector;
        e.mcast = row.mcast;
        e.max_stations = row.stations;
        std::string out =
            captured(MAP_TRACE_CONFIG, [&] { ASSERT_TRUE(take(0x2004, e.encode())); });
        EXPECT_EQ(r.mode_number, row.number) << row.mode;
        EXPECT_STREQ(r.mode, row.text) << row.mode;
        EXPECT_STREQ(r.channel_policy, row.policy) << int(row.channel);
        EXPECT_STREQ(r.static_channel, row.static_channel) << int(row.channel);
        EXPECT_EQ(r.passive_scan_band, row.band) << int(row.selector) << " " << row.mode;
        EXPECT_STREQ(r.fixed_multicast_rate, row.rate) << row.mcast;
        EXPECT_EQ(r.max_stations, row.max) << row.stations;
        const bool capped = static_cast<int32_t>(row.stations) != row.max;
        EXPECT_EQ(contains(out, "Override max stations config value for radio - wlan0 old: " +
                                    str(row.stations) + ", new: 200\n"),
                  capped);
        EXPECT_EQ(contains(out, "Override max stations"), capped);
    }
}

// STBC, RRM and station isolation: the radio's name from the id, the radio
// marked when the flag differs.  Which flag each sets shows in the apply.
TEST_F(RadioElements, FlagElementsStoreNameAndMarkChanges) {
    for (uint16_t code : {0x2016, 0x2040, 0x2013}) {
        for (uint32_t changed : {1u, 0u}) {
            clear_flags();
            ASSERT_TRUE(take(code, {2, 1}));
            EXPECT_STREQ(cs->radio[1].radio_name, "wlan1");
            EXPECT_EQ(cs->radio[1].radio_changed, changed) << code;
        }
    }
}

// ---- what the walk refuses or skips ----------------------------------------------

namespace {

const struct {
    uint16_t code;
    size_t size;
    const char* error;
} kRadioAndVapElements[] = {
    {0x2004, 146, "ERROR: Received incorrect Radio Config pkt"},
    {0x2005, 279, "Rx'ed incorrect VAP cfg pkt"},
    {0x2006, 129, "ERROR: Received incorrect QoS Config pkt"},
    {0x2008, 4, "ERROR: Received incorrect VAP Config-2 pkt"},
    {0x2013, 2, "ERROR: Received incorrect Station Isolation Config pkt"},
    {0x2014, 135, "ERROR: Received incorrect VAP Redirect Config pkt"},
    {0x2015, 139, "ERROR: Rx'ed incorrect VAP Client QoS Config packet"},
    {0x2016, 2, "ERROR: Received incorrect Radio STBC Config pkt"},
    {0x2017, 15, "ERROR: Received incorrect Radio TSPEC ACM Config pkt"},
    {0x2040, 2, "ERROR: Received incorrect Radio RRM Mode Config pkt"},
};

bool is_vap_element(uint16_t code) {
    return code == 0x2005 || code == 0x2008 || code == 0x2014 || code == 0x2015;
}

}  // namespace

// A wrong length, a value cut short by the end of the message and a closed
// sequence: the element's error, nothing taken, and the walk ends there.
TEST_F(RadioElements, WalkRefusesWrongSizesAndAClosedSequence) {
    for (const auto& row : kRadioAndVapElements) {
        // A value the element would take: radio 1, VAP 1, every other byte 1.
        const bytes value = row.code == 0x2004 ? radio_elem{}.encode() : bytes(row.size, 1);
        const bytes shorter(value.begin(), value.end() - 1);
        const struct {
            const char* what;
            bytes msg;
            int state;
        } cases[] = {
            {"one short", elem(row.code, shorter) + follower(), MAP_CS_STATE_OPEN},
            {"one long", elem(row.code, value + bytes{1}) + follower(), MAP_CS_STATE_OPEN},
            {"cut short", elem(row.code, shorter, static_cast<int>(row.size)), MAP_CS_STATE_OPEN},
            {"closed", elem(row.code, value) + elem(0x2001, {}), MAP_CS_STATE_IDLE},
        };
        for (const auto& c : cases) {
            cs->config_state = c.state;
            bool taken = true;
            std::string out = captured(0, [&] { taken = walk(cs, c.msg); });
            EXPECT_FALSE(taken) << row.code << ": " << c.what;
            EXPECT_TRUE(contains(out, std::string(" - ") + row.error + "\n")) << c.what << out;
            EXPECT_FALSE(anything_taken()) << row.code << ": " << c.what;
            EXPECT_FALSE(follower_taken()) << row.code << ": " << c.what;
            EXPECT_EQ(cs->config_state, c.state) << row.code << ": " << c.what << ": start taken";
        }
    }
}

// A radio id other than 1 or 2, or a VAP the radio does not have, is a
// content error: the radio elements and the VAP element log it, the other
// VAP elements fail silently; nothing is taken and the walk goes on.
TEST_F(RadioElements, ContentErrorsAreSkipped) {
    const struct {
        uint8_t radio_id, vap_id;
    } ids[] = {{0, 1}, {3, 1}, {255, 1}, {1, kVaps}, {2, 255}};
    for (const auto& row : kRadioAndVapElements) {
        for (const auto& id : ids) {
            if (!is_vap_element(row.code) && id.radio_id >= 1 && id.radio_id <= 2)
                continue;
            bytes value(row.size, 1);
            value[0] = id.radio_id;
            value[1] = id.vap_id;
            std::string out =
                captured(MAP_TRACE_CONFIG, [&] { walk(cs, elem(row.code, value) + follower()); });
            char logged[64] = " - ERROR: Received incorrect radio id\n";
            if (row.code == 0x2005) {
                snprintf(logged, sizeof logged, " - radio_id = %d, vap %2d, vap ptr null\n",
                         id.radio_id, id.vap_id);
            }
            if (is_vap_element(row.code) && row.code != 0x2005) {
                EXPECT_EQ(out, "") << row.code << ": fails silently";
            } else {
                EXPECT_TRUE(contains(out, logged)) << row.code << out;
            }
            EXPECT_FALSE(anything_taken()) << row.code << " " << int(id.radio_id);
            EXPECT_TRUE(follower_taken()) << row.code << " " << int(id.radio_id);
        }
    }
}
