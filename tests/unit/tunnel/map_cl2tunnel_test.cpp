// The central layer-2 tunnel: message 128's VLAN list as the kernel entry
// holds it (the previous one when refused), the AP record and the index.
#include "tunnel/map_cl2tunnel.hpp"
#include "unit/tunnel/tunnel_test_util.hpp"

using namespace tunnel_test;

using Cl2 = ap_fixture;

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
// returns and logs; a record in any other state, a missing record or body, a
// refused write.
TEST_F(Cl2, VlanListMessages) {
    map_switch_comm link{};
    bytes ids;  // VLANs 1 to 64
    std::vector<uint16_t> v64;
    for (uint16_t v = 1; v <= 64; ++v)
        ids = ids + wr().be16(v).b, v64.push_back(v);
    const char* bad = "Error in contents of Centralized L2 tunnel config message.";
    const int up = MAP_SWITCH_COMM_ESTABLISHED;
    const struct {
        bytes body;
        int rc;
        std::vector<uint16_t> list;
        const char* text = "cl2tunnel config data sent OK";
        int state = up;     // -1: no record; -2: no body
        unsigned fail = 0;  // the list's write refused
    } rows[] = {
        {elem(0x2020, {0, 10, 0, 20, 0, 30}), 0, {10, 20, 30}, " vlan_id[2] : 30"},
        {elem(0x2020, ids), 0, v64},
        {elem(0x2020, ids + bytes{0, 65}, 129), 0, v64},  // the odd byte ignored
        {elem(0x2020, ids + bytes{0, 65}), -1, {99}, bad},
        {elem(0x2020, {0, 7, 1}) + elem(0x2020, {1, 8}), 0, {7, 0x108}},
        {elem(0x2020, ids) + elem(0x2020, {0, 65}), 0, v64},  // never more than 64
        {elem(1, {0x20, 0x20, 0, 2, 0, 5}), 0, {}},           // skipped whole
        {elem(0x2020, {0, 7}, 4), -1, {99}, bad},             // past the message
        {ids, -1, {99}, "Invalid mapd mode.", MAP_SWITCH_COMM_SWITCH_AUTH_MODE},
        {ids, -1, {99}, "Incorrect context parameter.", -1},
        {ids, -1, {99}, "Error receiving Centralized L2 tunnel config message.", -2},
        {elem(1, {}), 0, {99}, "ap_set_vlan_list error", up, 1},
    };
    for (const auto& r : rows) {
        sb.write("/sysctl/3.24.1.11", list_of({99}));
        link.state = r.state < 0 ? up : r.state;
        map_platform_fail_nth(map_platform_op::sysctl_write, r.fail);
        const auto* body = r.state == -2 ? nullptr : r.body.data();
        const std::string out = captured(MAP_TRACE_CL2TUNNEL, [&] {
            EXPECT_EQ(map_process_cl2tunnel_config_pkt(r.state == -1 ? nullptr : &link, body,
                                                       int(r.body.size())),
                      r.rc);
        });
        EXPECT_EQ(sb.read("/sysctl/3.24.1.11"), list_of(r.list)) << out;
        EXPECT_TRUE(contains(out, r.text)) << out;
    }
}

// The AP record's layout and sources, a refused write, the clear, and the
// tunnel index read back.
TEST_F(Cl2, ApRecordAndTunnelIndex) {
    const auto record = [](uint32_t ap_ip, uint32_t switch_ip) {
        std::string s = kBaseMac + raw(uint16_t{258});
        for (uint32_t v : {ap_ip, 0xffffff00u, 0x0a010001u, switch_ip})
            s += std::string(12, '\0') + h({v});
        return s;
    };
    map_switch_comm link{};
    link.switch_ip = 0x0a0000fe, link.saved_ap_ip = 0x0a000002;
    map_cl2tunnel_ap_record rec{};
    ASSERT_EQ(map_cl2tunnel_ap_record_build(&link, &rec), 0);
    EXPECT_EQ(raw(rec), record(0x0a000002, 0x0a0000fe));
    EXPECT_EQ(map_ap_cl2tunnel_create(), 0);
    map_platform_fail_nth(map_platform_op::sysctl_write, 1);
    EXPECT_EQ(map_cl2tunnel_clear(), -1);
    EXPECT_EQ(map_cl2tunnel_clear(), 1);
    EXPECT_EQ(journal(sb), (lines{wrote("3.24.1.12", record(0, 0)), "3.24.1.12 refused",
                                  wrote("3.24.1.12", std::string(72, '\0'))}))
        << "no link record: addresses 0";

    uint8_t index[4] = {};
    EXPECT_EQ(map_cl2tunnel_get_tunnel_index(index), 0) << "no index yet";
    sb.write("/sysctl/3.24.1.13", h({0x01000007}));
    EXPECT_EQ(map_cl2tunnel_get_tunnel_index(index), 1);
    EXPECT_EQ(raw(index), h({0x01000007}));
    ASSERT_TRUE(db_set("system", nullptr, "base-mac", ""));
    EXPECT_EQ(map_ap_cl2tunnel_create(), -1) << "no base MAC";
}
