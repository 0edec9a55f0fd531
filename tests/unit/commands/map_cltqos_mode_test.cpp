// Client QoS modes from the switch, the VAP defaults mapqosd receives (a
// socket of the test bound to its port) and the clean-up of the mode changes.
#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cltqos/map_cltqos.hpp"
#include "core/map_handler.hpp"
#include "cs_test_util.hpp"
#include "local/mmsg_handler.hpp"
#include "store/map_dman_lsql.hpp"

using namespace cs_test;

namespace {

// The modes as "<global> <VAPs 0 to 3 of wlan0, of wlan1>" (u: up), after
// writing `set` when given.
std::string modes(const char* set = nullptr) {
    if (set)
        db_set("client-qos", nullptr, "mode", set[0] == 'u' ? "up" : "down");
    std::string s = db_get("client-qos", nullptr, "mode") + " ";
    for (int i = 0; i < 8; ++i) {
        const std::string vap = "vap" + std::to_string(i % 4), radio = i < 4 ? "wlan0" : "wlan1";
        const bool up = set && set[strlen(set) - 8 + i] == 'u';
        pv* node = lsqlquery_new_pv_solo("qos-mode", up ? "up" : "down");
        pv* q = lsqlquery_new_pv_solo("radio", radio.c_str());
        EXPECT_EQ(set ? lsqlquery_set_pv("vap", vap.c_str(), node, q) : 0, 0);
        lsqlquery_destroy_pv(node), lsqlquery_destroy_pv(q);
        s += db_get_q("vap", vap.c_str(), "radio", radio.c_str(), "qos-mode") == "up" ? 'u' : '-';
    }
    return s;
}
// A mode element: global mode, radio number, VAPs 0 to 3 as letters, the rest 0.
bytes mode(uint8_t global, uint8_t radio, const char* vaps) {
    bytes v = {global, radio};
    for (int i = 0; i < 16; ++i)
        v.push_back(i < 4 && vaps[i] == 'u');
    return elem(0x0120, v);
}

// Every datagram mapqosd got (on `fd`) before a marker sent now.
std::vector<bytes> to_qosd(int fd) {
    EXPECT_EQ(mmsg_handler_mapqosd_send(bytes{0xEE}.data(), 1), 1);
    std::vector<bytes> all;
    for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 5000) == 1;) {
        bytes got(2048);
        got.resize(std::max(recv(fd, got.data(), got.size(), 0), ssize_t{0}));
        if (got == bytes{0xEE})
            return all;
        all.push_back(got);
    }
    ADD_FAILURE() << "no marker";
    return all;
}

struct CltqosModes : cs_fixture {};

}  // namespace

// Result, database writes, modes and log of each mode update, all from the
// same modes; one goes through the TLS dispatcher (result 0).
TEST_F(CltqosModes, ModeUpdates) {
    const char* kBefore = "up u-u-uu-u";
    const bytes mac = elem(0x21, {0, 0x1a, 0x2b, 0x3c, 0x4d, 0x50});
    const struct {
        bytes body;
        int rc;
        unsigned fail, writes;  // the database write that fails (0 none), writes done
        const char *after, *log;
    } rows[] = {
        {mode(1, 3, "----"), -1, 0, 0, kBefore, "Update msg: radio index 3 too high (max 2)"},
        {mode(1, 0, "----"), -1, 0, 0, kBefore, "Update msg: radio index 0 too low (min 1)"},
        {mode(0, 1, "----") + elem(0x0122, {0}), -1, 0, 0, kBefore,
         "Update msg: Current and deprecated UPDATE_MODE IEs cannot coexist in same message."},
        {elem(0x0120, bytes(17)), -1, 0, 0, kBefore, "element 0x0120 length 17 (expected 18)"},
        {mac + elem(0x0999, {1, 2}) + mode(1, 2, "----"), 0, 0, 3, "up u-u-----",
         "Unrecognized element in Client QoS Mode Update msg: id=0x0999 len=2 (ignored)."},
        {elem(0x0122, {1}), 0, 0, 0, kBefore, ""},
        {mac, 0, 0, 1, "down u-u-uu-u", "applied global client-qos mode = down"},
        {mode(1, 1, "-uuu"), 0, 0, 3, "up -uuuuu-u", "applied vap1-wlan0 qos-mode = up"},
        // VAP by VAP, radio 1 first: the second write (vap0-wlan1) fails and ends it.
        {mode(1, 1, "----") + mode(1, 2, "----"), -1, 2, 1, "up --u-uu-u",
         "Client QoS Mode Update msg: DMAN 'apply' request failed for vap0-wlan1"},
        {elem(0x0122, {0}), -1, 1, 0, kBefore, "request failed for global client QoS mode"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(modes(kBefore), kBefore);
        const bytes msg = wr().be16(150).be16(4 + row.body.size()).b + row.body;
        lsqlquery_fail_nth_write(row.fail);
        const unsigned long before = lsqlquery_commit_count();
        int rc = 0;
        const std::string out = captured(MAP_TRACE_CLTQOS, [&] {
            rc = &row == &rows[4] ? map_ssl_pkt_handler(&cb, msg.data(), int(msg.size()))
                                  : map_cltqos_process_mode_update_pkt(sc.get(), row.body.data(),
                                                                       int(row.body.size()));
        });
        EXPECT_EQ(lsqlquery_commit_count() - before, row.writes) << out;
        lsqlquery_fail_nth_write(0);
        EXPECT_EQ(rc, row.rc) << out;
        EXPECT_EQ(modes(), row.after) << out;
        EXPECT_TRUE(contains(out, row.log)) << out;
    }
}

// Every VAP's type-304 message, byte by byte (radio 2 has no VAP records:
// all empty), after a failed apply and when the connection is cleared.
TEST_F(CltqosModes, VapSettingsForMapqosd) {
    map_vap_config* v = cs->vaps[0].vap_config.get();
    v[0].def_acl_down = {MAP_VAP_ACL_IPV4, "10net"}, v[0].def_acl_up = {MAP_VAP_ACL_MAC, "macs"};
    v[0].def_policy_down = {1, "pin"}, v[0].def_policy_up = {2, "pout"};
    v[1].def_acl_down = {MAP_VAP_ACL_IPV6, "v6"}, v[1].def_acl_up = {MAP_VAP_ACL_IPV4, "corp"};
    cs->vaps[1].vap_config.reset(), cs->radio[1].vap_config = nullptr;
    std::vector<bytes> all = {wr().u8(1).text("10net", 32).u8(4).text("macs", 32).b +
                                  wr().u8(8).text("pin", 32).u8(0).text("pout", 32).b,
                              wr().u8(3).text("v6", 32).u8(2).text("corp", 32).b};
    all.resize(8);
    for (uint8_t i = 0; i < 8; ++i)
        all[i] = wr().be16(304).be16(138).u8(1 + i / 4).u8(i % 4).b + all[i] +
                 bytes(132 - all[i].size());
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, htons(MMSG_MAPQOSD_PORT), {htonl(INADDR_LOOPBACK)}, {}};
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
         bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;) {
        ASSERT_TRUE(errno == EADDRINUSE && std::chrono::steady_clock::now() < end);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_GE(mmsg_handler_mapqosd_init(), 0);
    lsqlquery_fail_nth_write(1);
    captured(0, [&] { walk(cs, elem(0x2002, {})); });  // the apply fails
    lsqlquery_fail_nth_write(0);
    EXPECT_EQ(to_qosd(fd), all);
    captured(0, [&] { map_clear_connection(&cb); });
    EXPECT_EQ(to_qosd(fd), all);
    mmsg_handler_mapqosd_close(), close(fd);
}

// Turning managed deletes the switch's definitions, class by class in order;
// a failed deletion is reported and the others still go.  Turning stand-alone
// deletes them again and clears the VAPs' client QoS settings, VAP by VAP.
TEST_F(CltqosModes, ModeTransitions) {
    const char* cls[] = {"acl", "qos-mac-acl", "policy-map", "class-map"};
    auto seed = [&] {
        for (const char* c : cls)
            EXPECT_TRUE(db_set(c, "x", "rule-count", "1"));
    };
    auto left = [&] {
        std::string s;
        for (const char* c : cls)
            s += db_get(c, nullptr, "rule-count") != "<absent>" ? c : "";
        return s;
    };
    seed();
    map_global_dont_disable_ssh_session = 1;  // no SSH session is ended
    captured(0, [&] { map_standalonemode_to_managedmode(&cb); });
    EXPECT_EQ(left(), "");
    seed();
    lsqlquery_fail_nth_write(2);
    std::string out = captured(MAP_TRACE_CLTQOS,
                               [&] { EXPECT_EQ(map_cltqos_delete_all_instances(sc.get()), -1); });
    lsqlquery_fail_nth_write(0);
    EXPECT_EQ(left(), "qos-mac-acl");
    EXPECT_TRUE(contains(out, "map_cltqos_delete_all_instances: Error deleting 'qos-mac-acl'"));
    EXPECT_LT(out.find("'acl' class"), out.find("'policy-map' class")) << out;
    EXPECT_LT(out.find("'policy-map' class"), out.find("'class-map' class")) << out;
    modes("up uuuuuuuu");
    captured(0, [&] { map_clear_connection(&cb); });
    EXPECT_EQ(left() + modes(), "up --------");
    modes("up uuuuuuuu");
    lsqlquery_fail_nth_write(1);
    out = captured(MAP_TRACE_CLTQOS, [&] { EXPECT_EQ(map_cltqos_vap_config_apply(cs), 0); });
    lsqlquery_fail_nth_write(0);
    EXPECT_TRUE(contains(out, "Error applying VAP 0 config for radio wlan0 - ")) << out;
    EXPECT_EQ(modes(), "up u-------") << "the other VAPs still";
    map_global_dont_disable_ssh_session = 0;
}
