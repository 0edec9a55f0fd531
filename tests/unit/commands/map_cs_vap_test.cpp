// The VAP elements of a configuration message, the VAP lookup and the
// clearing of the configuration data.
#include <gtest/gtest.h>

#include <string>

#include "cs_test_util.hpp"

using namespace cs_test;

namespace {

using VapElements = cs_fixture;

map_vap_config& vap_of(map_cs* cs, int radio_id, int vap_id) {
    return cs->vaps[radio_id - 1].vap_config[vap_id];
}

}  // namespace

TEST_F(VapElements, StoresEveryFieldOfTheElement) {
    vap_elem e;
    e.radio_id = 2;
    e.vap_id = 3;
    e.ssid = std::string(32, 'S');  // a full field has no terminator on the wire
    e.vlan = 0x00010203;
    e.hide = 1;
    e.extra_flag = 7;
    e.tunnel = 1;
    e.subnet = 0xC0A80100;
    e.mask = 0xFFFFFF00;
    e.security = 2;
    e.auth = 3;
    e.wpa_versions = 1;
    e.wpa_ciphers = 3;
    e.mac_acl = 2;
    e.radius_acct = 1;
    e.wep_len = 128;
    e.wep_ascii = 1;
    e.wep_default = 4;
    e.wep[0] = "k1";
    e.wep[3] = std::string(32, 'w');
    e.extra_byte = 9;
    e.wpa_key = std::string(64, 'p');
    e.preauth = 1;
    e.preauth_limit = 0x1234;
    e.key_fwd = 1;
    e.key_hold = 0x0506;
    e.bcast_refresh = 0x0A0B0C0D;
    e.session_refresh = 86400;
    auto res = run(map_cs_handler_process_vap_config, cs, e.encode(), 300);
    ASSERT_EQ(res.rc, 0);
    EXPECT_EQ(res.remaining, 300 - 279);
    const map_vap_config& v = vap_of(cs, 2, 3);
    EXPECT_EQ(v.radio_id, 2u);
    EXPECT_EQ(v.vap_id, 3);
    EXPECT_EQ(v.admin_mode, 1);
    EXPECT_EQ(std::string(v.ssid), std::string(32, 'S'));
    EXPECT_EQ(v.vlan_id, 0x00010203u);
    EXPECT_EQ(v.hide_ssid, 1);
    EXPECT_EQ(v.extra_flag, 7);
    EXPECT_EQ(v.tunnel_mode, 1);
    EXPECT_EQ(v.tunnel_subnet_addr, 0xC0A80100u);
    EXPECT_EQ(v.tunnel_subnet_mask, 0xFFFFFF00u);
    EXPECT_EQ(v.security_mode, 2u);
    EXPECT_EQ(v.auth_type, 3u);
    EXPECT_EQ(v.wpa_versions, 1u);
    EXPECT_EQ(v.wpa_ciphers, 3u);
    EXPECT_EQ(v.mac_acl_auth, 2);
    EXPECT_EQ(v.radius_accounting, 1);
    EXPECT_EQ(v.wep_key_length, 128);
    EXPECT_EQ(v.wep_key_ascii, 1);
    EXPECT_EQ(v.wep_default_key, 4);
    EXPECT_STREQ(v.wep_key[0], "k1");
    EXPECT_STREQ(v.wep_key[1], "");
    EXPECT_EQ(std::string(v.wep_key[3]), std::string(32, 'w'));
    EXPECT_EQ(v.extra_byte, 9);
    EXPECT_EQ(std::string(v.wpa_personal_key), std::string(64, 'p'));
    EXPECT_EQ(v.rsn_preauth, 1);
    EXPECT_EQ(v.rsn_preauth_limit, 0x1234);
    EXPECT_EQ(v.dynamic_key_forwarding, 1);
    EXPECT_EQ(v.key_cache_hold_time, 0x0506);
    EXPECT_EQ(v.bcast_key_refresh_rate, 0x0A0B0C0Du);
    EXPECT_EQ(v.session_key_refresh_rate, 86400u);
    EXPECT_EQ(v.vap_changed, 1u);
    for (int id = 0; id < 3; ++id)
        EXPECT_EQ(vap_of(cs, 2, id).vap_changed, 0u) << id;
    EXPECT_EQ(vap_of(cs, 1, 3).vap_changed, 0u);
}

TEST_F(VapElements, AllZeroSsidNamesTheVap) {
    const struct {
        uint8_t vap_id;
        std::string wire;
        const char* stored;
    } rows[] = {
        {3, "", "Broadcom VAP3"},
        {0, "", "Broadcom VAP0"},
        {1, "guest", "guest"},
    };
    for (const auto& row : rows) {
        vap_elem e;
        e.vap_id = row.vap_id;
        e.ssid = row.wire;
        ASSERT_EQ(run(map_cs_handler_process_vap_config, cs, e.encode()).rc, 0);
        EXPECT_STREQ(vap_of(cs, 1, row.vap_id).ssid, row.stored);
    }
}

TEST_F(VapElements, UnchangedElementLeavesTheMarkDown) {
    vap_elem e;
    e.vap_id = 2;
    e.admin_mode = 1;
    // Full-width texts, so that the last byte of each field counts.
    e.ssid = std::string(32, 's');
    e.wep[3] = std::string(32, 'w');
    e.wpa_key = std::string(64, 'k');
    std::string out = captured(MAP_TRACE_CONFIG, [&] {
        ASSERT_EQ(run(map_cs_handler_process_vap_config, cs, e.encode()).rc, 0);
    });
    EXPECT_EQ(out, "VAP cfg  changed for VAP 2 (adminmode = 1)\n");
    clear_flags();
    out = captured(MAP_TRACE_CONFIG, [&] {
        ASSERT_EQ(run(map_cs_handler_process_vap_config, cs, e.encode()).rc, 0);
    });
    EXPECT_EQ(out, "VAP cfg NOT changed for VAP 2 (adminmode = 1)\n");
    EXPECT_EQ(vap_of(cs, 1, 2).vap_changed, 0u);

    // Each byte that is read marks the VAP when it changes; one by one.
    const size_t offsets[] = {2,  3,  34, 38, 39,  40,  41,  45,  49,  53,  57,  61,  65,  66, 67,
                              69, 70, 71, 72, 199, 200, 201, 264, 265, 267, 268, 270, 274, 278};
    for (size_t at : offsets) {
        ASSERT_EQ(run(map_cs_handler_process_vap_config, cs, e.encode()).rc, 0);
        clear_flags();
        bytes b = e.encode();
        b[at] ^= 0x01;
        ASSERT_EQ(run(map_cs_handler_process_vap_config, cs, b).rc, 0);
        EXPECT_EQ(vap_of(cs, 1, 2).vap_changed, 1u) << "byte " << at;
    }
}

TEST_F(VapElements, OptionElementTracesEachFlag) {
    bytes b = {2, 1, 1, 0};
    std::string out = captured(MAP_TRACE_CONFIG, [&] {
        auto res = run(map_cs_handler_process_vap_config_2, cs, b, 10);
        EXPECT_EQ(res.rc, 0);
        EXPECT_EQ(res.remaining, 6);
    });
    EXPECT_EQ(out,
              "Vap configuration  changed for vap 1, arp supp mode 1\n"
              "Vap configuration NOT changed for vap 1, dl2tunnel mode 0\n");
    const map_vap_config& v = vap_of(cs, 2, 1);
    EXPECT_EQ(v.arp_supp, 1);
    EXPECT_EQ(v.dl2tunnel, 0);
    EXPECT_EQ(v.vap_changed, 1u);
    clear_flags();
    ASSERT_EQ(run(map_cs_handler_process_vap_config_2, cs, b).rc, 0);
    EXPECT_EQ(v.vap_changed, 0u);
    b[3] = 1;
    ASSERT_EQ(run(map_cs_handler_process_vap_config_2, cs, b).rc, 0);
    EXPECT_EQ(v.dl2tunnel, 1);
    EXPECT_EQ(v.vap_changed, 1u);
}

TEST_F(VapElements, RedirectElement) {
    std::string url(128, 'u');  // a full field keeps all 128 characters
    std::string out = captured(MAP_TRACE_CONFIG, [&] {
        ASSERT_EQ(run(map_cs_handler_process_vap_redirect_config, cs,
                      redirect_elem(1, 1, 2, 0x01020304, url))
                      .rc,
                  0);
    });
    const map_vap_config& v = vap_of(cs, 1, 1);
    EXPECT_EQ(out, "Vap configuration changed for vap - 1 whose adminmode - 0\n");
    EXPECT_EQ(v.redirect_mode, 2);
    EXPECT_EQ(v.redirect_value, 0x01020304u);
    EXPECT_EQ(std::string(v.redirect_url), url);
    EXPECT_EQ(v.vap_changed, 1u);
    clear_flags();
    out = captured(MAP_TRACE_CONFIG, [&] {
        ASSERT_EQ(run(map_cs_handler_process_vap_redirect_config, cs,
                      redirect_elem(1, 1, 2, 0x01020304, url))
                      .rc,
                  0);
    });
    EXPECT_EQ(out, "Vap configuration is not changed for vap - 1 whose adminmode - 0\n");
    EXPECT_EQ(v.vap_changed, 0u);
    // The value alone is compared too.
    ASSERT_EQ(
        run(map_cs_handler_process_vap_redirect_config, cs, redirect_elem(1, 1, 2, 5, url)).rc, 0);
    EXPECT_EQ(v.vap_changed, 1u);
}

TEST_F(VapElements, ClientQosElement) {
    cltqos_elem e;
    e.radio_id = 2;
    e.vap_id = 0;
    e.name[0] = std::string(31, 'a');
    std::string out = captured(MAP_TRACE_CONFIG, [&] {
        ASSERT_EQ(run(map_cs_handler_process_vap_client_qos_config, cs, e.encode()).rc, 0);
    });
    EXPECT_EQ(out, "VAP client QoS configuration changed for vap - 0, admin mode - 0\n");
    const map_vap_config& v = vap_of(cs, 2, 0);
    EXPECT_EQ(v.cltqos_mode, 1);
    EXPECT_EQ(v.def_bwmax_down, 128000u);
    EXPECT_EQ(v.def_bwmax_up, 64000u);
    EXPECT_EQ(v.def_acl_down.type, 1);
    EXPECT_EQ(std::string(v.def_acl_down.name), std::string(31, 'a'));
    EXPECT_EQ(v.def_acl_up.type, 2);
    EXPECT_STREQ(v.def_acl_up.name, "acl-out");
    EXPECT_STREQ(v.def_policy_down.name, "pol-in");
    EXPECT_STREQ(v.def_policy_up.name, "pol-out");
    EXPECT_EQ(v.vap_changed, 1u);
    clear_flags();
    out = captured(MAP_TRACE_CONFIG, [&] {
        ASSERT_EQ(run(map_cs_handler_process_vap_client_qos_config, cs, e.encode()).rc, 0);
    });
    EXPECT_EQ(out, "VAP client QoS configuration not changed for vap - 0, admin mode - 0\n");
    e.type[3] = 8;
    ASSERT_EQ(run(map_cs_handler_process_vap_client_qos_config, cs, e.encode()).rc, 0);
    EXPECT_EQ(v.def_policy_up.type, 8);
    EXPECT_EQ(v.vap_changed, 1u);
}

// ---- refusals ---------------------------------------------------------------------

namespace {

struct vap_handler_row {
    const char* name;
    map_cs_elem_handler handler;
    int size;
    const char* error;
};

const vap_handler_row vap_handlers[] = {
    {"vap", map_cs_handler_process_vap_config, 279, "Rx'ed incorrect VAP cfg pkt"},
    {"option", map_cs_handler_process_vap_config_2, 4,
     "ERROR: Received incorrect VAP Config-2 pkt"},
    {"redirect", map_cs_handler_process_vap_redirect_config, 135,
     "ERROR: Received incorrect VAP Redirect Config pkt"},
    {"client qos", map_cs_handler_process_vap_client_qos_config, 139,
     "ERROR: Rx'ed incorrect VAP Client QoS Config packet"},
};

// A valid value for radio 1, VAP 1 with a non-zero byte everywhere else.
bytes valid_value(const vap_handler_row& row) {
    bytes b(static_cast<size_t>(row.size), 1);
    return b;
}

bool any_vap_marked(map_cs* cs) {
    for (const auto& r : cs->vaps) {
        for (int v = 0; v < r.num_vaps; ++v) {
            if (r.vap_config[v].vap_changed != 0)
                return true;
        }
    }
    return false;
}

}  // namespace

TEST_F(VapElements, UnknownVapsAreRefused) {
    const struct {
        uint8_t radio_id;
        uint8_t vap_id;
    } unknown[] = {{1, kVaps}, {2, kVaps}, {2, 255}, {0, 0}, {3, 1}};
    for (const auto& row : vap_handlers) {
        for (const auto& u : unknown) {
            bytes value = valid_value(row);
            value[0] = u.radio_id;
            value[1] = u.vap_id;
            elem_result res{};
            std::string out =
                captured(MAP_TRACE_CONFIG, [&] { res = run(row.handler, cs, value); });
            EXPECT_EQ(res.rc, -1) << row.name;
            EXPECT_EQ(res.remaining, row.size) << row.name;
            if (row.handler == map_cs_handler_process_vap_config) {
                char expected[64];
                snprintf(expected, sizeof expected, " - radio_id = %d, vap %2d, vap ptr null\n",
                         u.radio_id, u.vap_id);
                EXPECT_TRUE(contains(out, expected)) << out;
            } else {
                EXPECT_EQ(out, "") << row.name << ": fails silently";
            }
            EXPECT_FALSE(any_vap_marked(cs));
        }
    }
}

TEST_F(VapElements, VapLookup) {
    EXPECT_EQ(map_cs_get_vap_config(cs, 1, 0), &cs->vaps[0].vap_config[0]);
    EXPECT_EQ(map_cs_get_vap_config(cs, 2, kVaps - 1), &cs->vaps[1].vap_config[kVaps - 1]);
    EXPECT_EQ(cs->radio[1].vap_config, cs->vaps[1].vap_config.get());
    EXPECT_EQ(cs->radio[1].num_vaps, kVaps);
    for (int radio = 1; radio <= 2; ++radio) {
        for (int vap = 0; vap < kVaps; ++vap) {
            const map_vap_config* v = map_cs_get_vap_config(cs, radio, vap);
            ASSERT_NE(v, nullptr);
            EXPECT_EQ(v->radio_id, static_cast<uint32_t>(radio));
            EXPECT_EQ(v->vap_id, vap);
        }
    }
    std::string out = captured(0, [&] {
        EXPECT_EQ(map_cs_get_vap_config(cs, 0, 0), nullptr);
        EXPECT_EQ(map_cs_get_vap_config(cs, 3, 0), nullptr);
        EXPECT_EQ(map_cs_get_vap_config(cs, 1, -1), nullptr);
        EXPECT_EQ(map_cs_get_vap_config(cs, 1, kVaps), nullptr);
        EXPECT_EQ(map_cs_get_vap_config(nullptr, 1, 0), nullptr);
    });
    EXPECT_EQ(out, "") << "out-of-range ids are not logged";
    auto saved = std::move(cs->vaps[1].vap_config);
    out = captured(0, [&] { EXPECT_EQ(map_cs_get_vap_config(cs, 2, 1), nullptr); });
    EXPECT_TRUE(contains(out, " - ERROR: radio id 2, vap id 1 : no VAP config data\n")) << out;
    cs->vaps[1].vap_config = std::move(saved);
}

TEST_F(VapElements, ClearingKeepsIdentityAndCaptivePortal) {
    vap_elem e;
    e.radio_id = 2;
    e.vap_id = 1;
    ASSERT_EQ(run(map_cs_handler_process_vap_config, cs, e.encode()).rc, 0);
    ASSERT_EQ(run(map_cs_handler_process_radio_config, cs, radio_elem{}.encode()).rc, 0);
    map_vap_config& v = vap_of(cs, 2, 1);
    v.cp.enable = 1;
    v.cp.auth_port = 8080;
    v.cp_mask = 0xFFFFFF00;
    map_vap_config* records = cs->vaps[1].vap_config.get();

    map_cs_config_data_clear(cs);
    EXPECT_EQ(v.vap_id, 1);
    EXPECT_EQ(v.radio_id, 2u);
    EXPECT_STREQ(v.ssid, "");
    EXPECT_EQ(v.security_mode, 0u);
    EXPECT_EQ(v.vap_changed, 0u);
    EXPECT_EQ(v.cp.enable, 1);
    EXPECT_EQ(v.cp.auth_port, 8080);
    EXPECT_EQ(v.cp_mask, 0xFFFFFF00u);
    EXPECT_STREQ(cs->radio[0].radio_name, "");
    EXPECT_EQ(cs->radio[1].vap_config, records) << "the radio still sees its VAPs";
    EXPECT_EQ(cs->radio[1].num_vaps, kVaps);

    // After clearing, the same element is a change again, so the next
    // sequence writes everything.
    ASSERT_EQ(run(map_cs_handler_process_vap_config, cs, e.encode()).rc, 0);
    EXPECT_EQ(v.vap_changed, 1u);
}
