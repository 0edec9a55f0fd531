// The radio elements of a configuration message: what lands in the radio
// record, which changed flags go up, and refusal of bad sizes, states and
// radio ids.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "cs_test_util.hpp"

using namespace cs_test;

namespace {

using RadioElements = cs_fixture;

// Sends a radio element and returns the handler's result.
elem_result send_radio(map_cs* cs, const radio_elem& e) {
    return run(map_cs_handler_process_radio_config, cs, e.encode());
}

}  // namespace

TEST_F(RadioElements, StoresEveryFieldOfTheElement) {
    radio_elem e;
    e.radio_id = 2;
    e.mode = 4;
    e.channel = 11;
    e.sentry = 1;
    e.scan_leave = 0x01020304;
    e.frag = 1500;
    e.limit_channels = {1, 6, 11, 14};
    e.tx_power = 0x0102;
    e.bw20 = 2;
    e.upper = 1;
    e.protection_auto = 0;
    e.snooping = 1;
    auto res = send_radio(cs, e);
    ASSERT_EQ(res.rc, 0);
    EXPECT_EQ(res.remaining, 0);
    const map_radio_config& r = cs->radio[1];
    EXPECT_STREQ(r.radio_name, "wlan1");
    EXPECT_EQ(r.admin_mode, 1);
    EXPECT_EQ(r.mode_number, 4);
    EXPECT_STREQ(r.mode, "bg-n");
    EXPECT_STREQ(r.channel_policy, "static");
    EXPECT_STREQ(r.static_channel, "11");
    EXPECT_EQ(r.sentry_mode, 1);
    EXPECT_EQ(r.channel_hopping, 1);
    EXPECT_EQ(r.scan_leave_time, 0x01020304);
    EXPECT_EQ(r.scan_duration, 20);
    EXPECT_EQ(r.rate_limit, 50);
    EXPECT_EQ(r.rate_limit_burst, 75);
    EXPECT_EQ(r.beacon_interval, 100);
    EXPECT_EQ(r.dtim_period, 2);
    EXPECT_EQ(r.fragmentation_threshold, 1500);
    EXPECT_EQ(r.rts_threshold, 2347);
    EXPECT_EQ(r.service_set_short[0], 3);
    EXPECT_EQ(r.service_set_short[1], 4);
    EXPECT_EQ(r.service_set_long[0], 5u);
    EXPECT_EQ(r.service_set_long[1], 6u);
    EXPECT_EQ(r.max_stations, 64);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.limit_channels)), "\x01\x06\x0b\x0e");
    EXPECT_EQ(r.tx_power, 0x0102);
    EXPECT_STREQ(r.n_bandwidth, "40");
    EXPECT_STREQ(r.n_primary_channel, "upper");
    EXPECT_STREQ(r.protection, "off");
    EXPECT_EQ(r.short_guard_interval, 1);
    EXPECT_STREQ(r.fixed_multicast_rate, "11");
    EXPECT_EQ(r.wme_apsd, 1);
    EXPECT_EQ(r.wme_noack, 0);
    EXPECT_EQ(r.supported_rates, 0x0FFFu);
    EXPECT_EQ(r.basic_rates, 0x0003u);
    EXPECT_EQ(r.wme, 1);
    EXPECT_EQ(r.data_snooping, 1);
    EXPECT_EQ(r.radio_changed, 1u);
    EXPECT_EQ(r.service_set_changed, 1u);
    EXPECT_EQ(r.rates_changed, 1u);
    EXPECT_EQ(r.mode_changed, 0u) << "the element never asks for the regulatory channel";
    EXPECT_EQ(cs->radio[0].radio_changed, 0u) << "the other radio is untouched";
    EXPECT_STREQ(cs->radio[0].radio_name, "");
}

TEST_F(RadioElements, ModeNumbersOutsideOneToSixCountAsOne) {
    const struct {
        uint32_t mode;
        int32_t stored;
        const char* text;
    } rows[] = {
        {1, 1, "a"},        {2, 2, "bg"},         {3, 3, "a-n"},        {4, 4, "bg-n"},
        {5, 5, "n-only-a"}, {6, 6, "n-only-g"},   {0, 1, "a"},          {7, 1, "a"},
        {9, 1, "a"},        {0xFFFFFFFF, 1, "a"}, {0x80000000, 1, "a"},
    };
    for (const auto& row : rows) {
        radio_elem e;
        e.mode = row.mode;
        ASSERT_EQ(send_radio(cs, e).rc, 0);
        EXPECT_EQ(cs->radio[0].mode_number, row.stored) << row.mode;
        EXPECT_STREQ(cs->radio[0].mode, row.text) << row.mode;
    }
}

TEST_F(RadioElements, StaticChannelFollowsOnlyAPolicyChange) {
    const struct {
        uint8_t channel;
        const char* policy;
        const char* static_channel;
        uint32_t radio_changed;
    } steps[] = {
        {6, "static", "6", 1},   // first element: everything differs from the empty record
        {11, "static", "6", 0},  // still static: the static channel text stays
        {0, "best", "", 1},      // automatic: policy best, static channel emptied
        {0, "best", "", 0},     {36, "static", "36", 1},
    };
    for (const auto& s : steps) {
        clear_flags();
        radio_elem e;
        e.channel = s.channel;
        ASSERT_EQ(send_radio(cs, e).rc, 0);
        EXPECT_STREQ(cs->radio[0].channel_policy, s.policy) << int(s.channel);
        EXPECT_STREQ(cs->radio[0].static_channel, s.static_channel) << int(s.channel);
        EXPECT_EQ(cs->radio[0].radio_changed, s.radio_changed) << int(s.channel);
    }
}

TEST_F(RadioElements, MaximumStationsAreCappedAtTwoHundred) {
    const struct {
        uint32_t wire;
        int32_t stored;
        bool traced;
    } rows[] = {
        {500, 200, true}, {201, 200, true},        {200, 200, false},
        {17, 17, false},  {0xFFFFFFFB, -5, false},  // compared as signed: a negative value is kept
    };
    for (const auto& row : rows) {
        radio_elem e;
        e.max_stations = row.wire;
        std::string out = captured(MAP_TRACE_CONFIG, [&] { ASSERT_EQ(send_radio(cs, e).rc, 0); });
        EXPECT_EQ(cs->radio[0].max_stations, row.stored) << row.wire;
        std::string trace = "Override max stations config value for radio - wlan0 old: " +
                            std::to_string(static_cast<int32_t>(row.wire)) + ", new: 200\n";
        EXPECT_EQ(contains(out, trace), row.traced) << out;
    }
}

TEST_F(RadioElements, FixedMulticastRateTexts) {
    const struct {
        uint16_t rate;
        const char* text;
    } rows[] = {
        {10, "1"},     {20, "2"},   {55, "5.5"},   {60, "6"},        {90, "9"},   {110, "11"},
        {120, "12"},   {180, "18"}, {240, "24"},   {360, "36"},      {480, "48"}, {540, "54"},
        {100, "auto"}, {0, "auto"}, {541, "auto"}, {0xFFFF, "auto"},
    };
    for (const auto& row : rows) {
        radio_elem e;
        e.mcast = row.rate;
        ASSERT_EQ(send_radio(cs, e).rc, 0);
        EXPECT_STREQ(cs->radio[0].fixed_multicast_rate, row.text) << row.rate;
    }
}

TEST_F(RadioElements, PassiveScanBandFromSelectorAndMode) {
    const struct {
        uint8_t selector;
        uint32_t mode;
        int32_t band;
    } rows
        [] =
            {
                {1, 1, 0}, {1, 3, 0}, {1, 5, 0}, {1, 2, 1}, {1, 4, 1}, {1, 6, 1},
                {1, 9, 0}, {2, 2, 0}, {2, 4, 0}, {2, 6, 0}, {2, 1, 1}, {2, 5, 1},
                {3, 4, 2}, {3, 1, 2}, {0, 2, 2},  // any other selector leaves the last value
                {7, 1, 2},
            };
    for (const auto& row : rows) {
        radio_elem e;
        e.band_selector = row.selector;
        e.mode = row.mode;
        ASSERT_EQ(send_radio(cs, e).rc, 0);
        EXPECT_EQ(cs->radio[0].passive_scan_band, row.band)
            << "selector " << int(row.selector) << " mode " << row.mode;
    }
}

TEST_F(RadioElements, NoAssociationUtilizationOnlyWithLoadBalancing) {
    radio_elem e;
    e.lb_on = 1;
    e.lb_util = 75;
    ASSERT_EQ(send_radio(cs, e).rc, 0);
    EXPECT_EQ(cs->radio[0].no_association_utilization, 75);
    e.lb_on = 0;
    ASSERT_EQ(send_radio(cs, e).rc, 0);
    EXPECT_EQ(cs->radio[0].no_association_utilization, 0);
    EXPECT_EQ(cs->radio[0].load_balancing_utilization, 75);
}

// One byte changed at a time from a stored element raises exactly the groups
// that byte belongs to.
TEST_F(RadioElements, EachFieldRaisesItsOwnGroup) {
    const struct {
        const char* field;
        size_t offset;
        bool radio, service_set, rates;
    } rows[] = {
        {"admin mode", 1, true, false, false},
        {"mode", 5, true, false, false},
        {"sentry", 7, true, false, false},
        {"channel hopping", 8, true, false, false},
        {"scan leave time", 12, true, false, false},
        {"scan duration", 16, true, false, false},
        {"band selector", 17, true, false, false},
        {"rate limit enable", 18, true, false, false},
        {"rate limit", 22, true, false, false},
        {"rate limit burst", 26, true, false, false},
        {"beacon interval", 30, true, false, false},
        {"DTIM period", 32, true, true, false},
        {"fragmentation", 36, true, false, false},
        {"RTS", 40, true, false, false},
        {"service set short 1", 42, false, true, false},
        {"service set short 2", 44, false, true, false},
        {"service set long 1", 48, false, true, false},
        {"service set long 2", 52, false, true, false},
        {"max stations", 56, true, true, false},
        {"limit channels", 100, true, false, false},
        {"tx power", 122, true, false, false},
        {"bandwidth", 123, true, false, false},
        {"primary channel", 124, true, false, false},
        {"protection", 125, true, false, false},
        {"short guard interval", 126, true, false, false},
        {"multicast rate", 128, true, false, false},
        {"WME APSD", 129, true, false, false},
        {"WME no-ack", 130, true, false, false},
        {"supported rates", 134, false, false, true},
        {"basic rates", 138, false, false, true},
        {"WME", 139, true, false, false},
        {"load balancing on", 140, true, false, false},
        {"load balancing utilization", 142, true, false, false},
        {"data snooping", 143, true, false, false},
        {"byte 144 (not read)", 144, false, false, false},
        {"byte 145 (not read)", 145, false, false, false},
    };
    radio_elem base;
    base.lb_on = 1;  // so that the utilization byte matters
    base.mcast = 10;
    for (const auto& row : rows) {
        ASSERT_EQ(run(map_cs_handler_process_radio_config, cs, base.encode()).rc, 0);
        clear_flags();
        bytes b = base.encode();
        b[row.offset] ^= (row.offset == 5 ? 0x03 : 0x01);  // mode 2 -> 1
        if (row.offset == 128)
            b[128] = 20;  // "1" -> "2"
        std::string out = captured(MAP_TRACE_CONFIG, [&] {
            ASSERT_EQ(run(map_cs_handler_process_radio_config, cs, b).rc, 0);
        });
        const map_radio_config& r = cs->radio[0];
        EXPECT_EQ(r.radio_changed != 0, row.radio) << row.field;
        EXPECT_EQ(r.service_set_changed != 0, row.service_set) << row.field;
        EXPECT_EQ(r.rates_changed != 0, row.rates) << row.field;
        const bool any = row.radio || row.service_set || row.rates;
        EXPECT_EQ(contains(out, "Radio configuration changed for radio - wlan0 whose adminmode - "),
                  any)
            << row.field << ": " << out;
        EXPECT_EQ(contains(out, "Radio configuration in not changed for radio - wlan0"), !any)
            << row.field;
    }
}

TEST_F(RadioElements, UnchangedElementRaisesNoFlag) {
    radio_elem e;
    e.radio_id = 2;
    e.admin_mode = 0;
    ASSERT_EQ(send_radio(cs, e).rc, 0);
    clear_flags();
    std::string out = captured(MAP_TRACE_CONFIG, [&] { ASSERT_EQ(send_radio(cs, e).rc, 0); });
    EXPECT_EQ(out, "Radio configuration in not changed for radio - wlan1 whose adminmode - 0\n");
    EXPECT_EQ(cs->radio[1].radio_changed, 0u);
    EXPECT_EQ(cs->radio[1].service_set_changed, 0u);
    EXPECT_EQ(cs->radio[1].rates_changed, 0u);
}

TEST_F(RadioElements, QosQueuesAreMarkedOneByOne) {
    auto qos = [](uint8_t radio_id, uint32_t seed) {
        bytes b(MAP_CS_QOS_CONFIG_LEN, 0);
        b[0] = radio_id;
        for (size_t q = 0; q < 4; ++q) {
            for (size_t i = 0; i < 8; ++i)
                put_be32(b, 1 + 32 * q + 4 * i, seed + 10 * q + i);
        }
        put_be32(b, 1 + 32 * 1 + 12, 1500);  // queue 1 AP burst: 1500 microseconds
        return b;
    };
    bytes b = qos(2, 1);
    ASSERT_EQ(run(map_cs_handler_process_qos_config, cs, b).rc, 0);
    const map_radio_config& r = cs->radio[1];
    for (int q = 0; q < 4; ++q)
        EXPECT_EQ(r.qos_queue[q].changed, 1u) << q;
    EXPECT_EQ(r.qos_queue[0].ap_aifs, 1);
    EXPECT_EQ(r.qos_queue[0].ap_cwmin, 2);
    EXPECT_EQ(r.qos_queue[0].ap_cwmax, 3);
    EXPECT_FLOAT_EQ(r.qos_queue[0].ap_burst, 0.004f);
    EXPECT_FLOAT_EQ(r.qos_queue[1].ap_burst, 1.5f);
    EXPECT_EQ(r.qos_queue[3].sta_aifs, 35);
    EXPECT_EQ(r.qos_queue[3].sta_cwmin, 36);
    EXPECT_EQ(r.qos_queue[3].sta_cwmax, 37);
    EXPECT_EQ(r.qos_queue[3].sta_txop_limit, 38);
    EXPECT_EQ(r.radio_changed, 0u) << "QoS has its own per-queue flags";

    clear_flags();
    put_be32(b, 1 + 32 * 2 + 28, 999);  // queue 2 station TXOP limit only
    ASSERT_EQ(run(map_cs_handler_process_qos_config, cs, b).rc, 0);
    for (int q = 0; q < 4; ++q)
        EXPECT_EQ(r.qos_queue[q].changed, q == 2 ? 1u : 0u) << q;
    EXPECT_EQ(r.qos_queue[2].sta_txop_limit, 999);
}

TEST_F(RadioElements, FlagElementsStoreNameAndFlag) {
    const struct {
        const char* name;
        map_cs_elem_handler handler;
        uint8_t map_radio_config::*field;
    } rows[] = {
        {"stbc", map_cs_handler_process_radio_stbc_config, &map_radio_config::stbc},
        {"rrm", map_cs_handler_process_radio_rrm_mode_config, &map_radio_config::rrm},
        {"isolation", map_cs_handler_process_station_isolation_config,
         &map_radio_config::station_isolation},
    };
    for (const auto& row : rows) {
        for (uint8_t radio_id : {1, 2}) {
            map_radio_config& r = cs->radio[radio_id - 1];
            clear_flags();
            auto res = run(row.handler, cs, {radio_id, 1}, 10);
            EXPECT_EQ(res.rc, 0) << row.name;
            EXPECT_EQ(res.remaining, 8) << row.name;
            EXPECT_EQ(r.*row.field, 1) << row.name;
            EXPECT_STREQ(r.radio_name, radio_id == 1 ? "wlan0" : "wlan1");
            EXPECT_EQ(r.radio_changed, 1u) << row.name;
            clear_flags();
            EXPECT_EQ(run(row.handler, cs, {radio_id, 1}).rc, 0);
            EXPECT_EQ(r.radio_changed, 0u) << row.name << ": unchanged";
            EXPECT_EQ(run(row.handler, cs, {radio_id, 0}).rc, 0);
            EXPECT_EQ(r.*row.field, 0) << row.name;
            EXPECT_EQ(r.radio_changed, 1u) << row.name;
        }
    }
}

TEST_F(RadioElements, TspecElementComparesWithClearedValues) {
    bytes b = {1, 1, 0, 1, 0x00, 0x14, 0x00, 0x0F, 0x00, 0x0A, 0x01, 0x2C, 0x00, 0x3C, 1};
    ASSERT_EQ(run(map_cs_handler_process_radio_tspec_acm_config, cs, b).rc, 0);
    const map_radio_tspec_acm& t = cs->radio[0].tspec_acm;
    EXPECT_EQ(t.tspec_mode, 1);
    EXPECT_EQ(t.voice_acm_mode, 0);
    EXPECT_EQ(t.video_acm_mode, 1);
    EXPECT_EQ(t.voice_acm_limit, 20);
    EXPECT_EQ(t.video_acm_limit, 15);
    EXPECT_EQ(t.roam_reserve_limit, 10);
    EXPECT_EQ(t.ap_inactivity_timeout, 300);
    EXPECT_EQ(t.sta_inactivity_timeout, 60);
    EXPECT_EQ(t.legacy_wmm_queue_map_mode, 1);
    EXPECT_STREQ(cs->radio[0].radio_name, "wlan0");
    EXPECT_EQ(cs->radio[0].radio_changed, 1u);

    // The same values again still count as a change: the stored ones are
    // cleared before the comparison.
    clear_flags();
    ASSERT_EQ(run(map_cs_handler_process_radio_tspec_acm_config, cs, b).rc, 0);
    EXPECT_EQ(cs->radio[0].radio_changed, 1u);
    // An all-zero element changes nothing.
    clear_flags();
    bytes zero(MAP_CS_RADIO_TSPEC_ACM_LEN, 0);
    zero[0] = 1;
    ASSERT_EQ(run(map_cs_handler_process_radio_tspec_acm_config, cs, zero).rc, 0);
    EXPECT_EQ(cs->radio[0].radio_changed, 0u);
    EXPECT_EQ(t.voice_acm_limit, 0);
}

// ---- refusals ---------------------------------------------------------------------

namespace {

struct radio_handler_row {
    const char* name;
    map_cs_elem_handler handler;
    int size;
    const char* error;
};

const radio_handler_row radio_handlers[] = {
    {"radio", map_cs_handler_process_radio_config, 146,
     "ERROR: Received incorrect Radio Config pkt"},
    {"qos", map_cs_handler_process_qos_config, 129, "ERROR: Received incorrect QoS Config pkt"},
    {"isolation", map_cs_handler_process_station_isolation_config, 2,
     "ERROR: Received incorrect Station Isolation Config pkt"},
    {"stbc", map_cs_handler_process_radio_stbc_config, 2,
     "ERROR: Received incorrect Radio STBC Config pkt"},
    {"tspec", map_cs_handler_process_radio_tspec_acm_config, 15,
     "ERROR: Received incorrect Radio TSPEC ACM Config pkt"},
    {"rrm", map_cs_handler_process_radio_rrm_mode_config, 2,
     "ERROR: Received incorrect Radio RRM Mode Config pkt"},
};

// A valid value of the handler's size for radio 1 (non-zero flags).
bytes valid_value(const radio_handler_row& row) {
    if (row.size == MAP_CS_RADIO_CONFIG_LEN)
        return radio_elem{}.encode();
    bytes b(static_cast<size_t>(row.size), 1);
    return b;
}

}  // namespace

TEST_F(RadioElements, RadioIdsOtherThanOneAndTwoAreRefused) {
    for (const auto& row : radio_handlers) {
        for (uint8_t id : {0, 3, 255}) {
            bytes value = valid_value(row);
            value[0] = id;
            elem_result res{};
            std::string out = captured(0, [&] { res = run(row.handler, cs, value, 200); });
            EXPECT_EQ(res.rc, -1) << row.name << " id " << int(id);
            EXPECT_EQ(res.remaining, 200) << row.name << ": the remaining length is left alone";
            EXPECT_TRUE(contains(out, " - ERROR: Received incorrect radio id\n")) << out;
            for (const auto& r : cs->radio) {
                EXPECT_STREQ(r.radio_name, "");
                EXPECT_EQ(r.radio_changed, 0u);
            }
        }
    }
}

TEST_F(RadioElements, NullArgumentsAreRefused) {
    int remaining = 146;
    bytes value = radio_elem{}.encode();
    captured(0, [&] {
        EXPECT_EQ(map_cs_handler_process_radio_config(nullptr, value.data(), &remaining, 146), -1);
        EXPECT_EQ(remaining, 0);
        remaining = 146;
        EXPECT_EQ(map_cs_handler_process_radio_config(cs, nullptr, &remaining, 146), -1);
        EXPECT_EQ(remaining, 0);
        EXPECT_EQ(map_cs_handler_process_radio_config(cs, value.data(), nullptr, 146), -1);
    });
}
