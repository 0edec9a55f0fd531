// The VAP elements of a configuration message: what lands in the VAP record
// and when the VAP is marked changed.  Unknown VAPs are in the radio tests
// with the other skipped elements.
#include <gtest/gtest.h>

#include <string>

#include "cs_test_util.hpp"

using namespace cs_test;

namespace {

using VapElements = cs_fixture;

#define FIELD(expr) [](const map_vap_config& v) { return str(v.expr); }

}  // namespace

// From a stored element, one byte set at a time: the field at that byte takes
// the value and the VAP is marked changed.  Full-width texts, so that the
// last byte of each counts.
TEST_F(VapElements, EachByteLandsInItsFieldAndMarksTheVap) {
    const std::string s31(31, 's'), w31(31, 'w'), k63(63, 'k');
    const struct {
        size_t at;
        uint8_t value;
        std::string (*get)(const map_vap_config&);
        std::string want;
    } rows[] = {
        {2, 0, FIELD(admin_mode), "0"},
        {3, 'A', FIELD(ssid), "A" + s31},
        {34, 'Z', FIELD(ssid), s31 + "Z"},
        {35, 1, FIELD(vlan_id), "16777226"},
        {39, 1, FIELD(hide_ssid), "1"},
        {41, 1, FIELD(tunnel_mode), "1"},
        {42, 0xC0, FIELD(tunnel_subnet_addr), "3221225472"},
        {46, 0xFF, FIELD(tunnel_subnet_mask), "4278190080"},
        {50, 1, FIELD(security_mode), "16777220"},
        {54, 1, FIELD(auth_type), "16777217"},
        {58, 1, FIELD(wpa_versions), "16777219"},
        {62, 1, FIELD(wpa_ciphers), "16777218"},
        {66, 2, FIELD(mac_acl_auth), "2"},
        {67, 0, FIELD(radius_accounting), "0"},
        {68, 1, FIELD(wep_key_length), "320"},
        {70, 1, FIELD(wep_key_ascii), "1"},
        {71, 4, FIELD(wep_default_key), "4"},
        {72, 'a', FIELD(wep_key[0]), "a"},
        {199, 'x', FIELD(wep_key[3]), w31 + "x"},
        {201, 'A', FIELD(wpa_personal_key), "A" + k63},
        {264, 'Z', FIELD(wpa_personal_key), k63 + "Z"},
        {265, 1, FIELD(rsn_preauth), "1"},
        {266, 1, FIELD(rsn_preauth_limit), "263"},
        {268, 0, FIELD(dynamic_key_forwarding), "0"},
        {269, 1, FIELD(key_cache_hold_time), "344"},
        {271, 1, FIELD(bcast_key_refresh_rate), "23799808"},
        {275, 1, FIELD(session_key_refresh_rate), "16777246"},
    };
    vap_elem base;
    base.vap_id = 2;
    base.ssid = s31 + "s";
    base.wep[3] = w31 + "w";
    base.wpa_key = k63 + "k";
    const map_vap_config& v = cs->vaps[0].vap_config[2];
    for (const auto& row : rows) {
        ASSERT_TRUE(take(0x2005, base.encode()));
        clear_flags();
        bytes b = base.encode();
        b[row.at] = row.value;
        std::string out = captured(MAP_TRACE_CONFIG, [&] { ASSERT_TRUE(take(0x2005, b)); });
        EXPECT_EQ(row.get(v), row.want) << "byte " << row.at;
        EXPECT_EQ(v.vap_changed, 1u) << "byte " << row.at;
        EXPECT_EQ(out, "VAP cfg  changed for VAP 2 (adminmode = " + str(v.admin_mode) + ")\n");
    }
    ASSERT_TRUE(take(0x2005, base.encode()));
    clear_flags();
    std::string out = captured(MAP_TRACE_CONFIG, [&] { ASSERT_TRUE(take(0x2005, base.encode())); });
    EXPECT_EQ(out, "VAP cfg NOT changed for VAP 2 (adminmode = 1)\n");
    EXPECT_EQ(v.vap_changed, 0u);
}

// The option, redirect and client QoS elements: a first element marks the
// VAP, the same again does not, one field different does.  Their values are
// read back from the database in the apply tests.
TEST_F(VapElements, OtherVapElementsMarkWhatDiffers) {
    const std::string names[4] = {"acl-in", "acl-out", "pol-in", "pol-out"};
    const struct {
        uint16_t code;
        bytes first, other;
        const char *changed, *unchanged;
    } rows[] = {
        {0x2008, bytes{2, 1, 1, 0}, bytes{2, 1, 1, 1}, "Vap configuration  changed for vap 1, ",
         "Vap configuration NOT changed for vap 1, arp supp mode 1\n"
         "Vap configuration NOT changed for vap 1, dl2tunnel mode 0\n"},
        {0x2014, redirect_elem(1, 1, 2, 7, "x"), redirect_elem(1, 1, 2, 5, "x"),
         "Vap configuration changed for vap - 1 whose adminmode - 0\n",
         "Vap configuration is not changed for vap - 1 whose adminmode - 0\n"},
        {0x2015, cltqos_elem(2, 3, {1, 2, 0, 0}, names), cltqos_elem(2, 3, {1, 2, 0, 8}, names),
         "VAP client QoS configuration changed for vap - 3, admin mode - 0\n",
         "VAP client QoS configuration not changed for vap - 3, admin mode - 0\n"},
    };
    for (const auto& row : rows) {
        const map_vap_config& v = cs->vaps[row.first[0] - 1].vap_config[row.first[1]];
        const struct {
            const bytes& value;
            const char* trace;
            uint32_t marked;
        } steps[] = {{row.first, row.changed, 1},
                     {row.first, row.unchanged, 0},
                     {row.other, row.changed, 1}};
        for (const auto& s : steps) {
            clear_flags();
            std::string out =
                captured(MAP_TRACE_CONFIG, [&] { ASSERT_TRUE(take(row.code, s.value)); });
            EXPECT_TRUE(contains(out, s.trace)) << out;
            EXPECT_EQ(v.vap_changed, s.marked) << row.code << out;
        }
    }
}
