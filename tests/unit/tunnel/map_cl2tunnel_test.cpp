// The central layer-2 tunnel: message 128's VLAN list as the kernel entry
// holds it (the previous one when refused), the AP record and the index.
#include <gtest/gtest.h>

#include "platform/platform.hpp"
#include "support/bytes.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"
#include "tunnel/map_cl2tunnel.hpp"

using namespace mapd_test;

namespace {

// The 130-byte list record of `ids` (host order).
std::string list_of(std::vector<uint16_t> ids) {
    ids.insert(ids.begin(), static_cast<uint16_t>(ids.size()));
    ids.resize(65);
    return std::string(reinterpret_cast<const char*>(ids.data()), 130);
}
// The bytes of a value as it lies in memory.
template <typename T>
std::string raw(const T& v) {
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

}  // namespace

// Each message against a previous list of VLAN 99: the list it leaves, what it
// returns, logs and traces.
TEST(Cl2, VlanListMessages) {
    sandbox sb;
    auto link = std::make_unique<map_switch_comm>();
    bytes ids;  // VLANs 1 to 64
    std::vector<uint16_t> v64;
    for (uint16_t v = 1; v <= 64; ++v)
        ids = ids + wr().be16(v).b, v64.push_back(v);
    const char* bad = "Error in contents of Centralized L2 tunnel config message.";
    link->state = MAP_SWITCH_COMM_ESTABLISHED;
    const struct {
        bytes body;
        int rc;
        std::vector<uint16_t> list;
        const char* text = "cl2tunnel config data sent OK";
    } rows[] = {
        {elem(0x2020, {0, 10, 0, 20, 0, 30}), 0, {10, 20, 30}, " vlan_id[2] : 30"},
        {elem(0x2020, ids), 0, v64},
        {elem(0x2020, ids + bytes{0, 65}, 129), 0, v64},  // the odd byte ignored
        {elem(0x2020, ids + bytes{0, 65}), -1, {99}, bad},
        {elem(0x2020, {0, 7, 1}) + elem(0x2020, {1, 8}), 0, {7, 0x108}},
        {elem(0x2020, ids) + elem(0x2020, {0, 65}), 0, v64},  // never more than 64
        {elem(1, {0x20, 0x20, 0, 2, 0, 5}), 0, {}},           // skipped whole
        {elem(0x2020, {0, 7}, 4), -1, {99}, bad},             // past the message
    };
    // The handler's run: its result checked, its log and traces returned.
    const auto handle = [&](map_switch_comm* rec, const uint8_t* body, size_t len, int rc) {
        return captured(MAP_TRACE_CL2TUNNEL, [&] {
            EXPECT_EQ(map_process_cl2tunnel_config_pkt(rec, body, static_cast<int>(len)), rc);
        });
    };
    for (const auto& r : rows) {
        const map_cl2tunnel_vlan_list previous{1, {99}};
        ASSERT_EQ(map_cl2tunnel_config(&previous), 1);
        const std::string out = handle(link.get(), r.body.data(), r.body.size(), r.rc);
        EXPECT_EQ(sb.read("/sysctl/3.24.1.11"), list_of(r.list)) << out;
        EXPECT_TRUE(contains(out, r.text)) << out;
    }
    EXPECT_TRUE(contains(handle(nullptr, ids.data(), 0, -1), "Incorrect context parameter."));
    EXPECT_TRUE(contains(handle(link.get(), nullptr, 0, -1),
                         "Error receiving Centralized L2 tunnel config message."));
    map_platform_fail_nth(map_platform_op::sysctl_write, 1);
    EXPECT_TRUE(contains(handle(link.get(), ids.data(), 0, 0), "ap_set_vlan_list error"));
    link->state = MAP_SWITCH_COMM_SWITCH_AUTH_MODE;
    EXPECT_TRUE(contains(handle(link.get(), ids.data(), 0, -1), "Invalid mapd mode."));
}

// The AP record's layout and sources (the VLAN and netmask traced at the
// layer-2 tunnel's level), the clear, and the tunnel index read back.
TEST(Cl2, ApRecordAndTunnelIndex) {
    sandbox sb;
    EXPECT_EQ(map_ap_cl2tunnel_create(), -1) << "no base MAC";
    ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50") &&
                db_set("management", nullptr, "mask", "255.255.255.0") &&
                db_set("management", nullptr, "vlan-id", "258") &&
                db_set("ip-route", nullptr, "gateway", "10.0.0.1"));
    const auto record = [](uint32_t ap_ip, uint32_t switch_ip) {
        std::string s = std::string("\x00\x1a\x2b\x3c\x4d\x50", 6) + raw(uint16_t{258});
        for (uint32_t v : {ap_ip, 0xffffff00u, 0x0a000001u, switch_ip})
            s += std::string(12, '\0') + raw(v);
        return s;
    };
    auto link = std::make_unique<map_switch_comm>();
    link->switch_ip = 0x0a0000fe, link->saved_ap_ip = 0x0a000002;
    map_cl2tunnel_ap_record rec{};
    ASSERT_EQ(map_cl2tunnel_ap_record_build(link.get(), &rec), 0);
    EXPECT_EQ(raw(rec), record(0x0a000002, 0x0a0000fe));
    const auto l2 = captured(MAP_TRACE_L2TUNNEL, [] { EXPECT_EQ(map_ap_cl2tunnel_create(), 0); });
    EXPECT_EQ(sb.read("/sysctl/3.24.1.12"), record(0, 0)) << "no link record: addresses 0";
    EXPECT_TRUE(contains(l2, "mgmt_vid = 258") && contains(l2, "ap_netmask = ffffff00") &&
                !contains(l2, "sw_ip"))
        << l2;
    map_platform_fail_nth(map_platform_op::sysctl_write, 1);
    EXPECT_EQ(map_cl2tunnel_clear(), -1);
    EXPECT_EQ(map_cl2tunnel_clear(), 1);
    EXPECT_EQ(sb.read("/sysctl/3.24.1.12"), std::string(72, '\0'));

    uint8_t index[4] = {};
    EXPECT_EQ(map_cl2tunnel_get_tunnel_index(index), 0) << "no index yet";
    sb.write("/sysctl/3.24.1.13", raw(0x01000007));
    EXPECT_EQ(map_cl2tunnel_get_tunnel_index(index), 1);
    EXPECT_EQ(raw(index), raw(0x01000007));
}
