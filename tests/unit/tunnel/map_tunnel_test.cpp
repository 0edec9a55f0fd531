// The layer-2 tunnel's tables as the sandbox holds them: values, write order
// (a write refused at step k leaves exactly the items before it), VAP slots.
#include <gtest/gtest.h>

#include <filesystem>

#include "commands/map_cs.hpp"
#include "platform/platform.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"
#include "tunnel/map_tunnel.hpp"

using namespace mapd_test;

namespace {

// 32-bit values in host order, as the tables hold them.
std::string h(std::initializer_list<uint32_t> values) {
    return std::string(reinterpret_cast<const char*>(std::data(values)), 4 * values.size());
}
using items = std::vector<std::pair<std::string, std::string>>;  // entry, value in write order

struct Tunnel : testing::Test {
    sandbox sb;
    void SetUp() override {
        ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50") &&
                    db_set("management", nullptr, "mask", "255.255.255.0") &&
                    db_set("management", nullptr, "vlan-id", "12") &&
                    db_set("ip-route", nullptr, "gateway", "10.0.0.1") &&
                    db_set("untagged-vlan", nullptr, "vlan-id", "7"));
    }
    void TearDown() override { ap_tunnel_created = 0; }
    // Runs `fn` on empty tables with write `refused` (from 1; 0: none) refused:
    // the items before it hold their values, and nothing else exists.
    template <typename Fn>
    void run(unsigned refused, Fn fn, int want_rc, const items& want) {
        std::filesystem::remove_all(sb.path("/sysctl"));
        map_platform_fail_nth(map_platform_op::sysctl_write, refused);
        EXPECT_EQ(fn(), want_rc) << "write " << refused << " refused";
        for (size_t i = 0; i < want.size() && (refused == 0 || i + 1 < refused); ++i)
            EXPECT_EQ(sb.read("/sysctl/3.21." + want[i].first), want[i].second) << refused;
        std::error_code ec;
        const long n = std::distance(std::filesystem::directory_iterator(sb.path("/sysctl"), ec),
                                     std::filesystem::directory_iterator{});
        EXPECT_EQ(n, refused == 0 ? long(want.size()) : refused - 1L);
    }
};

}  // namespace

// Passes over VAP 3 of radio 2 (VAP 19, slot 20).  With a tunnelled VAP: its
// entry, then the AP entry created (no link record: its values 0) with the
// mode last, whose refusal alone still counts as created.  With none: the
// tunnel deleted, zeros and the mode last; once none exists, the VAP entry only.
TEST_F(Tunnel, PassesWriteVapAndApEntriesInOrder) {
    map_vap_config vap{};
    vap.radio_id = 2, vap.vap_id = 3, vap.admin_mode = 1, vap.tunnel_mode = 5;
    vap.tunnel_subnet_addr = 0x0a010000, vap.tunnel_subnet_mask = 0xffff0000;
    const auto pass = [&](int any) {
        return [&, any] { return map_vap_tunnel_configuration(&vap, any); };
    };
    items want = {{"29.20.48", h({19})}, {"29.20.46", h({19, 0x0a010000})},
                  {"29.20.47", h({19, 0xffff0000})}, {"29.20.45", h({19, 5})},
                  {"29.20.44", h({19, 1})}, {"28.11", h({0})}, {"28.13", h({0})},
                  {"28.14", h({0xffffff00})}, {"28.12", h({0x0a000001})},
                  {"28.15", std::string("\x00\x1a\x2b\x3c\x4d\x50", 6)}, {"28.17", h({12})},
                  {"28.18", h({7})}, {"28.19", h({0})}, {"28.16", h({1})}};
    for (unsigned refused = 0; refused <= want.size(); ++refused) {
        ap_tunnel_created = 0;
        const bool created = refused == 0 || refused == want.size();
        run(refused, pass(1), created ? 0 : -1, want);
        EXPECT_EQ(ap_tunnel_created, created) << refused;
    }
    const items vap_entry(want.begin(), want.begin() + 5);
    run(0, pass(1), 0, vap_entry);  // created before: not written again
    for (size_t i = 5; i < want.size(); ++i)
        want[i].second.assign(want[i].second.size(), '\0');
    for (unsigned refused : {13u, 0u}) {  // the MTU refused: the mode not yet written
        ap_tunnel_created = 1;
        run(refused, pass(0), refused == 0 ? 0 : -1, want);
        EXPECT_EQ(ap_tunnel_created, refused == 13);
    }
    run(0, pass(0), 0, vap_entry);
    vap.radio_id = 3;
    run(0, pass(0), -1, {});
}

// The link record's values go to their fields.
TEST_F(Tunnel, RecordFromLink) {
    auto link = std::make_unique<map_switch_comm>();
    link->switch_ip = 0x0a0000fe, link->saved_ap_ip = 0x0a000002, link->tunnel_mtu = 1400;
    map_ap_tunnel_record r{};
    ASSERT_EQ(map_ap_tunnel_record_build(link.get(), &r), 0);
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
    const struct { int radio, vap, mode, want; } rows[] = {
        {1, 3, 1, 1}, {1, 4, 1, 0}, {0, 0, 1, 0}, {1, 3, 0, 0}};
    for (const auto& r : rows) {
        cs->vaps[r.radio].vap_config[r.vap].tunnel_mode = static_cast<uint8_t>(r.mode);
        EXPECT_EQ(map_find_tunneled_vap(cs.get()), r.want) << r.radio << " " << r.vap;
        cs->vaps[r.radio].vap_config[r.vap].tunnel_mode = 0;
    }
}
