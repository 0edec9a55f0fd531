// The captive-portal elements of a configuration message, walked in any
// configuration state: the kernel entries they write, the clients they
// disassociate (hostapd's port is a socket of the test) and what they refuse.
#include <algorithm>

#include "commands/map_cs_elems.hpp"
#include "tunnel/map_cp.hpp"
#include "unit/commands/cs_test_util.hpp"
#include "unit/tunnel/tunnel_test_util.hpp"

namespace {

using namespace cs_test;
using namespace tunnel_test;

const bytes kIfMac = {2, 0xaa, 0xbb, 0xcc, 0xdd, 0xee};

bytes client(uint8_t n) {
    return {2, 0x11, 0x22, 0x33, 0x44, n};
}

struct CsCp : cs_fixture {
    hostapd_link local;

    void SetUp() override {
        cs_fixture::SetUp();
        ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50") &&
                    db_set("radio", "wlan1", "status", "up"));
        ASSERT_NO_FATAL_FAILURE(local.open(&cb));
        local.rec->switch_ip = 0x0a000001, local.rec->saved_ap_ip = 0x0a000002;
        snprintf(cs->radio[1].radio_name, sizeof cs->radio[1].radio_name, "wlan1");
        ap_cp_created = 0;
    }
    // Puts a client in the association table.
    void associate(const bytes& mac, uint8_t radio, uint8_t vap) {
        map_client_table& t = cs->stats.table;
        t.entry[++t.last] = {{}, radio, vap, 0, 0};
        std::copy(mac.begin(), mac.end(), t.entry[t.last].mac);
    }
};

}  // namespace

// The elements in turn, outside a sequence, on VAP 1 of radio 2 (entry 18) and
// client 7 (VAP 0 of radio 1): the entries they write, the AP entry kept while
// the portal is on, the clients they disassociate (one moving into a freed
// place included), and refused writes failing them.
TEST_F(CsCp, ElementsWriteTheEntriesAndDisassociateClients) {
    cs->config_state = MAP_CS_STATE_IDLE;
    map_vap_cp& vap = cs->vaps[1].vap_config[1].cp;
    const bytes vap21 = {2, 1}, k = client(7), ipv4 = {10, 1, 2, 3};
    const uint8_t clients[][3] = {{1, 2, 1}, {2, 2, 0}, {3, 1, 1}, {4, 2, 1},
                                  {7, 1, 0}, {8, 2, 3}, {5, 2, 1}};  // client, radio, VAP
    for (const auto& [n, radio, index] : clients)
        associate(client(n), radio, index);
    // clang-format off
    const struct {
        const char* what;
        bytes msg;
        std::vector<std::pair<std::string, std::string>> want;  // kernel entries ("3.22." left out)
        std::vector<int> gone = {};  // the clients disassociated
        const char* trace = "";
        unsigned refuse_at = 0;
    } rows[] = {
        {"enable", elem(0x1100, vap21 + bytes{1} + bytes(12, 0) + ipv4 + kIfMac + bytes{24}),
         {{"2.18.2", h({1})}, {"2.18.3", h({0})}, {"2.18.5", h({0x0a010203})},
          {"2.18.7", str(kIfMac)}, {"2.18.8", h({0xffffff00})}, {"1.1", h({1})},
          {"1.2", h({0x0a000001})}, {"1.4", h({0x0a000002})}, {"1.6", kBaseMac}},
         {1, 4, 5}},
        {"block", elem(0x1104, vap21), {{"2.18.2", h({1})}, {"2.18.3", h({1})}}, {5}},
        {"unblock", elem(0x1105, vap21), {{"2.18.3", h({0})}}},
        {"auth port", elem(0x1107, vap21 + bytes{0x1f, 0x90}), {{"2.18.4", h({8080})}}},
        {"first secure port", elem(0x1109, vap21 + bytes{1, 0xbb}), {{"2.18.6", h({443, 0})}}},
        {"second secure port", elem(0x110a, vap21 + bytes{0x20, 0xfb}),
         {{"2.18.6", h({443, 8443})}, {"2.18.4", h({8080})}}},
        {"disable", elem(0x1101, vap21), {{"2.18.2", h({0})}, {"1.1", h({0})}}, {5}},
        {"enable, radio not in database", elem(0x1100, bytes{1, 2, 1} + bytes(22, 0) + bytes{8}),
         {{"2.3.2", h({1})}, {"1.1", h({0})}}},
        {"IPv6 portal, AP entry refused", elem(0x1100, vap21 + bytes(17, 2) + kIfMac + bytes{64}),
         {{"2.18.5", h({0})}, {"1.1", h({0})}}, {5}, "map_cp_ap_create error\n\r", 10},
        {"VAP entry refused", elem(0x1105, vap21), {}, {}, "map_cp_vap_update error\n\r", 1},
        {"block: AP entry made", elem(0x1104, vap21), {{"1.1", h({1})}}, {5}},
        {"AP entry delete refused", elem(0x1101, vap21), {{"1.1", h({1})}}, {5},
         "CP VAP config apply returned failure", 10},
        {"authenticated", elem(0x1103, k + wr().be32(1000).be32(2000).b),
         {{"3.17", h({1})}, {"3.12", str(k)}, {"3.14", h({0})}, {"3.15", h({1000})},
          {"3.16", h({2000})}, {"3.11", h({1})}}},
        {"not authenticated", elem(0x1102, k), {{"3.17", h({0})}, {"3.15", h({1000})}}},
        {"authentication refused", elem(0x1103, k + bytes(8, 0)), {{"3.17", h({0})}}, {7},
         "CP Client config apply returned failure", 1},
        {"de-authenticated", elem(0x1108, client(8)), {}, {8}},
    };
    // clang-format on
    for (const auto& r : rows) {
        vap.changed = 0;
        map_platform_fail_nth(map_platform_op::sysctl_write, r.refuse_at);
        const std::string out = captured(
            MAP_TRACE_PORTAL, [&] { EXPECT_EQ(walk(cs, r.msg), r.refuse_at == 0) << r.what; });
        for (const auto& [name, value] : r.want)
            EXPECT_EQ(sb.read("/sysctl/3.22." + name), value) << r.what << " " << name;
        std::vector<bytes> got = local.got(), gone;
        for (int n : r.gone)
            gone.push_back(bytes{5} + client(n));
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, gone) << r.what;
        EXPECT_TRUE(contains(out, r.trace)) << r.what << out;
        EXPECT_TRUE(r.refuse_at != 0 || vap.changed == 0) << r.what;  // cleared once written
        if (std::count(r.gone.begin(), r.gone.end(), 5) != 0)
            associate(client(5), 2, 1);  // back for the next row
    }
    EXPECT_EQ(cs->cp_clients.count, 0);
    EXPECT_FALSE(walk(cs, elem(0x1102, k)));  // client 7 is gone
}

// A wrong size is refused and ends the walk (the element after it is not
// taken); an unknown VAP or a client the AP does not have fails the element
// and the walk goes on.  Nothing reaches hostapd.  A secure port past the
// second is refused.
TEST_F(CsCp, ElementsOfTheWrongSizeOrForUnknownVapsAndClientsFail) {
    const bytes k = client(9);
    const std::string size = "ERROR: Received incorrect CP ", unknown = " is not associated";
    const struct {
        bytes msg;
        std::string error;
        bool walk_goes_on = false;
    } rows[] = {
        {elem(0x1100, bytes(25, 1)), size + "Enable Config pkt"},
        {elem(0x1101, {2, 1, 0}), size + "Disable Config pkt"},
        {elem(0x1102, bytes(5, 2)), size + "Client Not Authenticated Config pkt"},
        {elem(0x1103, k + bytes(7, 0)), size + "Client Authenticated Config pkt"},
        {elem(0x1104, {2}), size + "Block Config pkt"},
        {elem(0x1105, {2, 1, 1}), size + "Unblock Config pkt"},
        {elem(0x1107, {2, 1}), size + "Auth Port Config pkt"},
        {elem(0x1108, k + bytes{0}), size + "Client Deauth Config pkt"},
        {elem(0x1109, {2, 1}), size + "Secure Auth Port Config pkt"},
        {elem(0x110a, {2, 1, 0}), size + "Secure Auth Port Config pkt"},
        {elem(0x1104, {2, 4}), "ERROR: no VAP 4 on radio 2 for the captive portal", true},
        {elem(0x1107, {3, 0, 0, 80}), "ERROR: no VAP 0 on radio 3 for the captive portal", true},
        {elem(0x1102, k), "ERROR: captive portal client 02:11:22:33:44:09" + unknown, true},
        {elem(0x1103, k + bytes(8, 0)), unknown, true},
        {elem(0x1108, k), unknown, true},
    };
    for (const auto& r : rows) {
        const std::string out = captured(0, [&] {
            EXPECT_FALSE(walk(cs, r.msg)) << r.error;
            walk(cs, r.msg + follower());
        });
        EXPECT_TRUE(contains(out, r.error)) << out;
        EXPECT_EQ(follower_taken(), r.walk_goes_on) << r.error;
    }
    EXPECT_TRUE(local.got().empty());
    const std::string out = captured(0, [&] {
        EXPECT_EQ(map_cs_handler_process_cp_secure_auth_port_config(cs, k, 2), MAP_CS_ELEM_FAILED);
    });
    EXPECT_TRUE(contains(out, "ERROR: sec auth port to change is 2 (not < 2)")) << out;
}

// The portal's client table is bounded; entries of clients that left make
// room for a new one.
TEST_F(CsCp, AFullClientTableMakesRoomFromClientsThatLeft) {
    cs->cp_clients.count = MAP_CP_MAX_CLIENTS;
    for (int i = 0; i < MAP_CP_MAX_CLIENTS; ++i)
        cs->cp_clients.entry[i] = {{4, 0, 0, 0, uint8_t(i >> 8), uint8_t(i)}, 1, 0, 1, 0, 0};
    associate(client(1), 2, 2);
    associate({4, 0, 0, 0, 0, 5}, 1, 0);
    const map_cp_client* c = map_cs_cp_client_find(cs, client(1).data());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->radio * 100 + c->vap, 202);
    EXPECT_EQ(cs->cp_clients.count, 2);
}
