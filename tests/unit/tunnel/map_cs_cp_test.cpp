// The captive-portal elements of a configuration message, walked in any
// configuration state: the kernel entries they write, the clients they
// disassociate (hostapd's port is a socket of the test) and what they refuse.
#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "commands/map_cs_elems.hpp"
#include "local/mmsg_handler.hpp"
#include "tunnel/map_cp.hpp"
#include "unit/commands/cs_test_util.hpp"

namespace {

using namespace cs_test;
using namespace std::string_literals;
using entries = std::vector<std::pair<std::string, std::string>>;

const bytes kMarker = {7};  // a supported-channels request: any valid record will do
const bytes kIfMac = {2, 0xaa, 0xbb, 0xcc, 0xdd, 0xee};

std::string u32(uint32_t v) {
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}
bytes client(uint8_t n) {
    return {2, 0x11, 0x22, 0x33, 0x44, n};
}
std::string text(const bytes& b) {
    return std::string(b.begin(), b.end());
}

struct CsCp : cs_fixture {
    map_switch_comm* rec = nullptr;  // the process's record, with the local sockets
    int hostapd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);

    void SetUp() override {
        cs_fixture::SetUp();
        ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50") &&
                    db_set("radio", "wlan1", "status", "up"));
        // hostapd's port and the daemon's are shared with other tests: wait for them.
        const sockaddr_in a{AF_INET, htons(MMSG_HOSTAPD_PORT), {htonl(INADDR_LOOPBACK)}, {}};
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (bind(hostapd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
               map_switch_comm_init(&rec, &cb) != 0) {
            ASSERT_LT(std::chrono::steady_clock::now(), end);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        rec->switch_ip = 0x0a000001, rec->saved_ap_ip = 0x0a000002;
        snprintf(cs->radio[1].radio_name, sizeof cs->radio[1].radio_name, "wlan1");
        ap_cp_created = 0;
    }
    void TearDown() override {
        if (rec != nullptr)
            map_switch_comm_deinit(rec);
        close(hostapd);
        cs_fixture::TearDown();
    }
    std::string kernel(const std::string& name) const { return sb.read("/sysctl/" + name); }
    // What hostapd got since the last call: everything before a marker sent now.
    std::vector<bytes> hostapd_got() {
        EXPECT_EQ(mmsg_handler_send(kMarker.data(), 1), 1);
        std::vector<bytes> got;
        uint8_t buf[64];
        for (pollfd p{hostapd, POLLIN, 0}; poll(&p, 1, 5000) == 1;) {
            got.emplace_back(buf, buf + std::max(recv(hostapd, buf, sizeof buf, 0), ssize_t{0}));
            if (got.back() == kMarker)
                return got.pop_back(), got;
        }
        ADD_FAILURE() << "no marker";
        return got;
    }
    // Puts a client in the association table (unless it is there).
    void associate(const bytes& mac, uint8_t radio, uint8_t vap) {
        map_client_table& t = cs->stats.table;
        if (!associated(mac)) {
            t.entry[++t.last] = {{}, radio, vap, 0, 0};
            std::copy(mac.begin(), mac.end(), t.entry[t.last].mac);
        }
    }
    bool associated(const bytes& mac) const {
        const map_client_table& t = cs->stats.table;
        return std::any_of(t.entry, t.entry + t.last + 1, [&](const auto& e) {
            return std::equal(mac.begin(), mac.end(), e.mac);
        });
    }
};

}  // namespace

// The elements in turn, outside a sequence.  VAP 1 of radio 2 (entry
// 3.22.2.18): each element writes the entry, the AP entry lives while the
// portal is on, enable, block and disable disassociate the VAP's clients (one
// that moves into a freed place included; the others stay), and a refused
// write fails the element.  Client 7 on VAP 0 of radio 1: authenticated with
// its rates, not authenticated, an authentication the module refuses (it is
// disassociated and becomes unknown); client 8 de-authenticated.
TEST_F(CsCp, ElementsWriteTheEntriesAndDisassociateClients) {
    cs->config_state = MAP_CS_STATE_IDLE;
    map_vap_cp& vap = cs->vaps[1].vap_config[1].cp;
    const bytes vap21 = {2, 1}, k = client(7), ipv4 = {10, 1, 2, 3};
    for (const auto& [n, radio, index] :
         {std::array{1, 2, 1}, {2, 2, 0}, {3, 1, 1}, {4, 2, 1}, {7, 1, 0}, {8, 2, 3}})
        associate(client(n), radio, index);
    // clang-format off
    const struct {
        const char* what;
        bytes msg;
        unsigned refuse_at;
        entries want;           // kernel entries ("3.22." left out) afterwards
        std::vector<int> gone;  // the clients disassociated
        const char* trace;
    } rows[] = {
        {"enable", elem(0x1100, vap21 + bytes{1} + bytes(12, 0) + ipv4 + kIfMac + bytes{24}), 0,
         {{"2.18.2", u32(1)}, {"2.18.3", u32(0)}, {"2.18.5", u32(0x0a010203)},
          {"2.18.7", text(kIfMac)}, {"2.18.8", u32(0xffffff00)}, {"1.1", u32(1)},
          {"1.2", u32(0x0a000001)}, {"1.4", u32(0x0a000002)}, {"1.6", "\x00\x1a\x2b\x3c\x4d\x50"s}},
         {1, 4, 5}, "Processed CP Enable Cmd pkt on radio 2/vap 1, cpEnable 1, flag 1, "
                    "i/f MAC 02:AA:BB:CC:DD:EE, mask ffffff00\n"},
        {"block", elem(0x1104, vap21), 0, {{"2.18.2", u32(1)}, {"2.18.3", u32(1)}}, {5},
         "Disassociated all the clients on radio 2/vap 1\n"},
        {"unblock", elem(0x1105, vap21), 0, {{"2.18.3", u32(0)}}, {}, nullptr},
        {"auth port", elem(0x1107, vap21 + bytes{0x1f, 0x90}), 0, {{"2.18.4", u32(8080)}}, {},
         nullptr},
        {"first secure port", elem(0x1109, vap21 + bytes{0x01, 0xbb}), 0,
         {{"2.18.6", u32(443) + u32(0)}}, {}, nullptr},
        {"second secure port", elem(0x110a, vap21 + bytes{0x20, 0xfb}), 0,
         {{"2.18.6", u32(443) + u32(8443)}, {"2.18.4", u32(8080)}}, {}, nullptr},
        {"disable", elem(0x1101, vap21), 0, {{"2.18.2", u32(0)}, {"1.1", u32(0)}}, {5}, nullptr},
        {"enable on a radio the database lacks",
         elem(0x1100, bytes{1, 2, 1} + bytes(16, 0) + kIfMac + bytes{8}), 0,
         {{"2.3.2", u32(1)}, {"1.1", u32(0)}}, {}, nullptr},
        {"IPv6 portal, AP entry refused", elem(0x1100, vap21 + bytes(17, 2) + kIfMac + bytes{64}),
         10, {{"2.18.5", u32(0)}, {"1.1", u32(0)}}, {5}, "map_cp_ap_create error\n\r"},
        {"VAP entry refused", elem(0x1105, vap21), 1, {}, {}, "map_cp_vap_update error\n\r"},
        {"block: AP entry made", elem(0x1104, vap21), 0, {{"1.1", u32(1)}}, {5}, nullptr},
        {"AP entry delete refused", elem(0x1101, vap21), 10, {{"1.1", u32(1)}}, {5},
         "CP VAP config apply returned failure"},
        {"authenticated", elem(0x1103, k + wr().be32(1000).be32(2000).b), 0,
         {{"3.17", u32(1)}, {"3.12", text(k)}, {"3.14", u32(0)}, {"3.15", u32(1000)},
          {"3.16", u32(2000)}, {"3.11", u32(1)}}, {}, nullptr},
        {"not authenticated", elem(0x1102, k), 0, {{"3.17", u32(0)}, {"3.15", u32(1000)}}, {},
         nullptr},
        {"authentication refused", elem(0x1103, k + bytes(8, 0)), 1, {{"3.17", u32(0)}}, {7},
         "CP Client config apply returned failure"},
        {"de-authenticated", elem(0x1108, client(8)), 0, {}, {8},
         "Disassociated client 02:11:22:33:44:08\n"},
    };
    // clang-format on
    for (const auto& r : rows) {
        associate(client(5), 2, 1);
        vap.changed = 0;
        map_platform_fail_nth(map_platform_op::sysctl_write, r.refuse_at);
        bool taken = false;
        const std::string out = captured(MAP_TRACE_PORTAL, [&] { taken = walk(cs, r.msg); });
        EXPECT_EQ(taken, r.refuse_at == 0) << r.what << out;
        for (const auto& [name, value] : r.want)
            EXPECT_EQ(kernel("3.22." + name), value) << r.what << " " << name;
        std::vector<bytes> gone;
        for (int n : r.gone) {
            gone.push_back(bytes{5} + client(n));
            EXPECT_FALSE(associated(client(n))) << r.what;
        }
        auto got = hostapd_got();
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, gone) << r.what;
        EXPECT_TRUE(associated(client(2)) && associated(client(3))) << r.what;
        EXPECT_TRUE(r.trace == nullptr || contains(out, r.trace)) << r.what << out;
        EXPECT_TRUE(r.refuse_at != 0 || vap.changed == 0) << r.what;  // cleared once written
    }
    EXPECT_EQ(cs->cp_clients.count, 0);
    EXPECT_FALSE(walk(cs, elem(0x1102, k)));  // client 7 is gone
}

// A wrong size is refused and ends the walk (the element after it is not
// taken); an unknown VAP or a client the AP does not have fails the element
// and the walk goes on.
TEST_F(CsCp, ElementsOfTheWrongSizeOrForUnknownVapsAndClientsFail) {
    const bytes k = client(9);
    const std::string size = "ERROR: Received incorrect CP ", unknown = " is not associated";
    // clang-format off
    const struct {
        bytes msg;
        std::string error;
        bool walk_goes_on;
    } rows[] = {
        {elem(0x1100, bytes(25, 1)), size + "Enable Config pkt", false},
        {elem(0x1101, {2, 1, 0}), size + "Disable Config pkt", false},
        {elem(0x1102, bytes(5, 2)), size + "Client Not Authenticated Config pkt", false},
        {elem(0x1103, k + bytes(7, 0)), size + "Client Authenticated Config pkt", false},
        {elem(0x1104, {2}), size + "Block Config pkt", false},
        {elem(0x1105, {2, 1, 1}), size + "Unblock Config pkt", false},
        {elem(0x1107, {2, 1}), size + "Auth Port Config pkt", false},
        {elem(0x1108, k + bytes{0}), size + "Client Deauth Config pkt", false},
        {elem(0x1109, {2, 1}), size + "Secure Auth Port Config pkt", false},
        {elem(0x110a, {2, 1, 0}), size + "Secure Auth Port Config pkt", false},
        {elem(0x1104, {2, 4}), "ERROR: no VAP 4 on radio 2 for the captive portal", true},
        {elem(0x1107, {3, 0, 0, 80}), "ERROR: no VAP 0 on radio 3 for the captive portal", true},
        {elem(0x1102, k), "ERROR: captive portal client 02:11:22:33:44:09" + unknown, true},
        {elem(0x1103, k + bytes(8, 0)), unknown, true},
        {elem(0x1108, k), unknown, true},
    };
    // clang-format on
    for (const auto& r : rows) {
        const std::string out = captured(0, [&] {
            EXPECT_FALSE(walk(cs, r.msg)) << r.error;
            walk(cs, r.msg + follower());
        });
        EXPECT_TRUE(contains(out, r.error)) << out;
        EXPECT_EQ(follower_taken(), r.walk_goes_on) << r.error;
    }
    EXPECT_TRUE(hostapd_got().empty());
    int rc = 0;
    const std::string out = captured(0, [&] {
        rc = map_cs_handler_process_cp_secure_auth_port_config(cs, bytes{1, 0, 0, 1}, 2);
    });
    EXPECT_TRUE(contains(out, "ERROR: sec auth port to change is 2 (not < 2)")) << out;
    EXPECT_EQ(rc, MAP_CS_ELEM_FAILED);
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
