// The layer-2 tunnel's tables as the sandbox journals them: values, write
// order, where a refused write stops a pass, VAP slots.
#include "tunnel/map_tunnel.hpp"
#include "commands/map_cs.hpp"
#include "unit/tunnel/tunnel_test_util.hpp"

using namespace tunnel_test;
using Tunnel = ap_fixture;

// Passes over VAP 3 of radio 2 (identifier 19, entry 20): its entry, then the
// AP entry created (no link record: addresses 0) or deleted (zeros), the mode
// last.  A refused write ends the pass and fails it, the mode's excepted.
// Once the AP entry is as wanted, the VAP entry only.
TEST_F(Tunnel, PassesWriteVapAndApEntriesInOrder) {
    map_vap_config vap{};
    vap.radio_id = 2, vap.vap_id = 3, vap.admin_mode = 1, vap.tunnel_mode = 5;
    vap.tunnel_subnet_addr = 0x0a010000, vap.tunnel_subnet_mask = 0xffff0000;
    const lines vap_entry = {
        wrote("3.21.29.20.48", h({19})), wrote("3.21.29.20.46", h({19, 0x0a010000})),
        wrote("3.21.29.20.47", h({19, 0xffff0000})), wrote("3.21.29.20.45", h({19, 5})),
        wrote("3.21.29.20.44", h({19, 1}))};
    const std::pair<const char*, std::string> ap_entry[] = {
        {"11", h({0})},          {"13", h({0})},   {"14", h({0xffffff00})},
        {"12", h({0x0a010001})}, {"15", kBaseMac}, {"17", h({258})},
        {"18", h({9})},          {"19", h({0})},   {"16", h({1})}};
    lines created = vap_entry, deleted = vap_entry;
    for (const auto& [item, value] : ap_entry) {
        created.push_back(wrote(std::string("3.21.28.") + item, value));
        deleted.push_back(wrote(std::string("3.21.28.") + item, std::string(value.size(), '\0')));
    }
    for (int any : {1, 0}) {
        const lines& all = any ? created : deleted;
        for (size_t k = 0; k <= all.size(); ++k) {
            ap_tunnel_created = !any;
            map_platform_fail_nth(map_platform_op::sysctl_write, unsigned(k));
            const bool done = k == 0 || k == all.size();
            EXPECT_EQ(map_vap_tunnel_configuration(&vap, any), done ? 0 : -1) << any << k;
            EXPECT_EQ(ap_tunnel_created, done == bool(any)) << any << k;
            EXPECT_EQ(journal(sb), refused_at(all, k)) << any << k;
        }
        EXPECT_EQ(map_vap_tunnel_configuration(&vap, any), 0);
        EXPECT_EQ(journal(sb), vap_entry) << any;
    }
    vap.radio_id = 3;  // no identifier: nothing written
    EXPECT_EQ(map_vap_tunnel_configuration(&vap, 0), -1);
    EXPECT_EQ(journal(sb), lines{});
    ap_tunnel_created = 0;
}

// The link record's values go to their fields.
TEST_F(Tunnel, RecordFromLink) {
    map_switch_comm link{};
    link.switch_ip = 0x0a0000fe, link.saved_ap_ip = 0x0a000002, link.tunnel_mtu = 1400;
    map_ap_tunnel_record r{};
    ASSERT_EQ(map_ap_tunnel_record_build(&link, &r), 0);
    EXPECT_EQ(h({r.tunnel_mode, r.switch_ip, r.ap_ip, r.mtu}), h({1, 0xa0000fe, 0xa000002, 1400}));
}

// A tunnelled VAP counts on a radio with a database instance, below the BSS
// maximum.
TEST_F(Tunnel, FindTunneledVap) {
    ASSERT_TRUE(db_set("radio", "wlan1", "mode", "a"));
    auto cs = std::make_unique<map_cs>();
    snprintf(cs->radio[0].radio_name, sizeof cs->radio[0].radio_name, "wlan5");  // no instance
    snprintf(cs->radio[1].radio_name, sizeof cs->radio[1].radio_name, "wlan1");
    for (auto& vaps : cs->vaps)
        vaps.num_vaps = 4, vaps.vap_config.reset(new map_vap_config[5]{});
    // One VAP's tunnel mode (radio index, VAP index, mode) and the result.
    const struct {
        int radio, vap, mode, want;
    } rows[] = {{1, 3, 1, 1}, {1, 4, 1, 0}, {0, 0, 1, 0}, {1, 3, 0, 0}};
    for (const auto& r : rows) {
        cs->vaps[r.radio].vap_config[r.vap].tunnel_mode = static_cast<uint8_t>(r.mode);
        EXPECT_EQ(map_find_tunneled_vap(cs.get()), r.want) << r.radio << " " << r.vap;
        cs->vaps[r.radio].vap_config[r.vap].tunnel_mode = 0;
    }
}
