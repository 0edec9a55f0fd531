// The distributed tunnel's messages from the switch: the kernel writes the
// sandbox journals, what hostapd receives (a socket of the test bound to its
// port), the configuration's write order and what is refused.
#include "tunnel/map_dl2tunnel.hpp"
#include "unit/tunnel/tunnel_test_util.hpp"

using namespace tunnel_test;

namespace {

const bytes kHome = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x99}, kAssoc = {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x77};
const bytes kClient = {2, 0x11, 0x22, 0x33, 0x44, 0x55};

template <typename T>
bytes host(T v) {
    return bytes(reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + sizeof v);
}
using handler = int (*)(map_switch_comm*, const uint8_t*, int);
constexpr handler kConfig = map_process_dl2tunnel_config_pkt,
                  kSetup = map_process_dl2tunnel_setup_pkt, kTerm = map_process_dl2tunnel_term_pkt;

// A configuration's writes with these limits: the limits, the AP's own
// settings, and the module enabled last.
// clang-format off
lines configured(uint32_t max, uint32_t idle, uint32_t age, uint32_t mc,
                 uint32_t ip = 0x0a020003 /* saved */, const std::string& mac = kBaseMac) {
    return {wrote("3.23.1.13", h({max})), wrote("3.23.1.14", h({idle})),
            wrote("3.23.1.15", h({age})), wrote("3.23.1.16", h({mc})), wrote("3.23.1.19", mac),
            wrote("3.23.1.17", h({ip})), wrote("3.23.1.18", h({0xffffff00})),
            wrote("3.23.1.20", h({0x0a010001})), wrote("3.23.1.11", h({258})),
            wrote("3.23.1.12", h({9})), wrote("3.23.3.34", h({1}))};
}
// clang-format on

struct Dl2Tunnel : ap_fixture {
    map_control_block cb{};
    hostapd_link local;

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ap_fixture::SetUp());
        ASSERT_NO_FATAL_FAILURE(local.open(&cb));
        local.rec->state = MAP_SWITCH_COMM_ESTABLISHED;
        local.rec->saved_ap_ip = 0x0a020003;
    }
};

}  // namespace

// Each message: what hostapd receives (nothing: refused), the kernel writes and
// a text logged.  Elements count only at their own size; a refused write does
// not keep hostapd from being told; a missing body and a failed send are reported.
TEST_F(Dl2Tunnel, MessagesByteExact) {
    const bytes limits = elem(0x5040, wr().be32(64).be32(300).be32(3600).be32(0x01020304).b);
    const bytes told = bytes{20, 0, 0, 0} + host(64) + host(300) + host(3600) + host(0x01020304);
    const bytes addr = elem(257, bytes(12, 0) + bytes{10, 0, 0, 7});
    const bytes setup = elem(19, kClient) + elem(0x5041, kHome) + elem(0x500C, {0, 0x64}) + addr;
    const bytes set_up =
        kHome + kClient + kAssoc + bytes(12, 0) + host(0x0a000007) + host(uint16_t{100});
    const bytes odd = elem(19, kClient + bytes{0}) + elem(0x500C, {0, 0, 1}) +
                      elem(257, bytes(17, 1)) + elem(33, kAssoc) + elem(0x5041, kHome, 7);
    const bytes odd_rec = bytes(12, 0) + kAssoc + bytes(18, 0), client = elem(19, kClient);
    const bytes refused = bytes{21} + bytes(7, 0) + kClient + bytes(24, 0);
    // clang-format off
    const struct {
        handler fn;
        bytes body;
        std::vector<bytes> local;
        lines kernel;
        const char* text;
        unsigned fail = 0;  // the kernel refuses this write
        int state = MAP_SWITCH_COMM_ESTABLISHED;  // -1: no switch connection record
    } rows[] = {
        {kConfig, elem(0x99, {1}) + limits, {told}, configured(64, 300, 3600, 0x01020304),
         "map_dl2tunnel_config: max_clients: 64"},
        {kConfig, client, {bytes{20} + bytes(19, 0)}, configured(0, 0, 0, 0), "enable data sent"},
        {kConfig, limits, {told}, {"3.23.1.13 refused"}, "ap_set_max_clients error", 1},
        {kSetup, setup + elem(33, kAssoc), {bytes{21, 0} + set_up},
         {wrote("3.23.3.31", str(set_up))}, "VLAN ID:      100"},
        {kSetup, odd, {bytes{21, 0} + odd_rec}, {wrote("3.23.3.31", str(odd_rec))},
         "map_dl2tunnel_setup: sent OK"},
        {kSetup, setup, {}, {}, "Invalid mapd mode.", 0, MAP_SWITCH_COMM_SWITCH_AUTH_MODE},
        {kSetup, client, {refused}, {"3.23.3.31 refused"}, "sysctl error", 1},
        {kTerm, client + addr + elem(0x5041, kHome), {bytes{22, 0} + kHome + kClient},
         {wrote("3.23.3.32", str(kHome + kClient))}, "map_dl2tunnel_terminate: sent OK"},
        {kTerm, client, {}, {}, "Incorrect context parameter.", 0, -1},
    };
    // clang-format on
    for (const auto& r : rows) {
        local.rec->state = r.state;
        map_platform_fail_nth(map_platform_op::sysctl_write, r.fail);
        const std::string out = captured(MAP_TRACE_DL2TUNNEL, [&] {
            EXPECT_EQ(r.fn(r.state < 0 ? nullptr : local.rec, r.body.data(), int(r.body.size())),
                      r.local.empty() ? -1 : 0);
            EXPECT_EQ(local.got(), r.local) << r.text;
        });
        EXPECT_EQ(journal(sb), r.kernel) << r.text;
        EXPECT_TRUE(contains(out, r.text)) << out;
    }
    local.rec->state = MAP_SWITCH_COMM_ESTABLISHED;
    for (bool closed : {false, true}) {  // no body, then hostapd's socket closed
        if (closed)
            mmsg_handler_close();
        for (std::string w : {"config", "setup", "term"}) {
            const handler fn = w == "config" ? kConfig : w == "setup" ? kSetup : kTerm;
            const std::string out = captured(0, [&] {
                EXPECT_EQ(fn(local.rec, closed ? client.data() : nullptr, int(client.size())), -1);
            });
            w = closed ? "sending dist l2 tunnel " + w + " msg to"
                       : "receiving dist l2 tunnel " + w;
            EXPECT_TRUE(contains(out, "Error " + w)) << out;
        }
    }
}

// The configuration stops at the first refused write.  Without a base MAC the
// record's own is written, without a switch connection record the configured
// AP address.
TEST_F(Dl2Tunnel, ConfigWriteOrderAndSources) {
    const lines all = configured(0, 0, 0, 0);
    for (size_t k = 1; k <= all.size(); ++k) {
        map_platform_fail_nth(map_platform_op::sysctl_write, unsigned(k));
        map_dl2tunnel_config_record cfg{};
        EXPECT_EQ(map_dl2tunnel_config(&cfg), 0) << k;
        EXPECT_EQ(journal(sb), refused_at(all, k)) << k;
    }
    ASSERT_TRUE(db_set("system", nullptr, "base-mac", ""));
    map_switch_comm_deinit(local.rec);
    local.rec = nullptr;
    map_dl2tunnel_config_record cfg{};
    cfg.ap_mac[5] = 0x42;
    const std::string out =
        captured(MAP_TRACE_DL2TUNNEL, [&] { EXPECT_EQ(map_dl2tunnel_config(&cfg), 1); });
    EXPECT_TRUE(contains(out, "map_dl2tunnel_config: failed to get cpu_mac_addr")) << out;
    EXPECT_EQ(journal(sb), configured(0, 0, 0, 0, 0x0a010005, std::string(5, '\0') + "\x42"));
}
