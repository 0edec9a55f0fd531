// Client QoS lists: the switch's list changes through the TLS dispatcher, as
// the emulated kernel module (the sysctl journal) and the switch (the far end
// of a TLS channel) see them; hostapd's request through the local dispatcher;
// the VAP defaults; the definition request and the list builder called alone.
#include "cltqos/map_cltqos.hpp"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "dman/lsqlquery.hpp"
#include "local/mmsg_handler.hpp"
#include "platform/platform.hpp"
#include "support/bytes.hpp"
#include "support/sandbox.hpp"
#include "support/tls_pair.hpp"

using namespace mapd_test;

namespace {

struct ent {
    uint8_t id;
    std::string name;
    uint8_t flag = 1;
};
using ents = std::vector<ent>;

// An identifier list as the kernel gets it: host-order count, 36-byte entries.
bytes sc(const ents& es) {
    const uint32_t n = static_cast<uint32_t>(es.size());
    bytes b(reinterpret_cast<const uint8_t*>(&n), reinterpret_cast<const uint8_t*>(&n) + 4);
    for (const ent& e : es)
        b = b + wr().u8(e.id).u8(e.flag).be16(0).text(e.name, 32).b;
    return b;
}
std::string kline(const ents& es) {
    std::string s = "3.25.50.61 = ";
    for (uint8_t x : sc(es))
        s += "0123456789abcdef"[x >> 4], s += "0123456789abcdef"[x & 15];
    return s;
}
bytes msg(uint16_t type, const bytes& body) {
    return wr().be16(type).be16(4 + body.size()).b + body;
}
// The definition request for `es`, all of them requested.
bytes req(const ents& es) {
    bytes b = elem(0x111, wr().be16(es.size()).b);
    for (const ent& e : es)
        b = b + elem(e.id == 8 ? 0x113 : 0x112, wr().u8(e.id).text(e.name, 31).b);
    return msg(147, b);
}
bytes e12(uint8_t id, const std::string& n, uint16_t code = 0x112) {
    return elem(code, wr().u8(id).text(n, 31).b);
}
bytes e14(uint16_t code, uint8_t id, const std::string& to, const std::string& from) {
    return elem(code, wr().u8(id).text(to, 31).text(from, 31).b);
}
bytes count(uint16_t n) {
    return elem(0x111, wr().be16(n).b);
}

void seed(const char* cls, const std::string& name, const char* acl_type) {
    pv* row = lsqlquery_new_pv_solo("rule-count", "2");
    if (acl_type != nullptr)
        lsqlquery_new_pv("acl-type", acl_type, row);
    ASSERT_EQ(lsqlquery_insert_pv(cls, name.c_str(), row), 0);
    lsqlquery_destroy_pv(row);
}
bool held(const char* cls, const char* name) {
    pv* grid = lsqlquery_get_grid(cls, name, nullptr, nullptr, 0);
    lsqlquery_destroy_pv(grid);
    return grid != nullptr;
}

struct Cltqos : testing::Test {
    sandbox sb;
    map_control_block cb{};
    map_switch_comm* rec = nullptr;
    tls_pair tp;

    void SetUp() override {
        ASSERT_TRUE(switch_comm_init_wait(&rec, &cb));
        cb.switch_comm = rec, cb.managed_mode = 1, rec->ap.max_bss = 3;
        ASSERT_EQ(map_cs_init(&cb), 0);
        ASSERT_TRUE(tls_pair_open(tp, rec));
        for (int i = 0; i < 9; ++i)
            seed("acl", "a" + std::to_string(i), "ipv4");
        seed("qos-mac-acl", "m1", "mac"), seed("acl", "m1", "ipv4"),
            seed("policy-map", "p1", nullptr);
    }
    void TearDown() override {
        map_platform_fail_clear();
        if (rec != nullptr)
            rec->ssl.reset(), map_cs_deinit(cb.cs), map_switch_comm_deinit(rec);
        lsqlquery_close();
    }
    // The kernel calls since the last look.
    std::vector<std::string> kernel() {
        std::vector<std::string> lines;
        std::string log = sb.read("/sandbox/sysctl.log");
        std::filesystem::remove(sb.path("/sandbox/sysctl.log"));
        for (size_t p = 0, nl; log != "<missing>" && (nl = log.find('\n', p)) != std::string::npos;
             p = nl + 1)
            lines.push_back(log.substr(p, nl - p));
        return lines;
    }
    // What the kernel, the switch and the log saw; no text: no error either.
    void check(const std::vector<std::string>& k, const bytes& tls, const std::string& out,
               const char* text) {
        EXPECT_EQ(kernel(), k);
        EXPECT_EQ(tls_pair_read(tp), tls);
        EXPECT_TRUE(text ? contains(out, text) : !contains(out, "Error")) << out;
    }
};

}  // namespace

// Messages 144 to 146 through the TLS dispatcher, in order (the deletes last).
TEST_F(Cltqos, ListChanges) {
    ents nine;
    bytes nine_elems;
    for (int i = 0; i < 9; ++i) {
        nine.push_back({2, "a" + std::to_string(i)});
        nine_elems = nine_elems + e12(2, nine[i].name);
    }
    const ents first8(nine.begin(), nine.begin() + 8), last1 = {nine[8]};
    const std::string cut(31, 'n');
    const bytes zz = sc({{3, "zz"}});
    enum { none, fail, rewrite, db_fail };
    const struct {
        uint16_t type;
        bytes body;
        std::vector<std::string> k;
        bytes tls;
        const char* text = nullptr;
        int kernel_does = none;
    } rows[] = {
        // clang-format off
        {144, count(9) + nine_elems, {kline(first8), kline(last1)}, req(first8) + req(last1)},
        // Not held: asked of the kernel, not of the switch.  Type 0 is never listed.
        {144, count(3) + e12(1, "1x") + e12(0, "a1") + e12(2, "a1"),
         {kline({{1, "1x", 0}, {2, "a1"}})}, req({{2, "a1"}})},
        {144, count(3) + e12(2, "a2") + e12(2, "a2") + e12(8, "p1", 0x113),
         {kline({{2, "a2"}, {8, "p1"}})}, req({{2, "a2"}, {8, "p1"}})},
        {144, count(1) + e12(4, "m1") + e12(2, "a3"), {kline({{4, "m1"}})}, req({{4, "m1"}})},
        {144, count(2) + elem(0x112, bytes(31, 2)) + e12(3, cut + "xyz"), {kline({{3, cut, 0}})},
         {}, "Unrecognized element in Client QoS List Update msg: id=0x0112 len=31 (ignored)."},
        {144, e12(2, "a1") + count(1), {}, {}, "msg elem 0x0112 out of order - expecting 0x0111"},
        {144, elem(0x111, {0, 1, 0}) + e12(2, "a1"), {}, {}, "0x0111 length 3 - expecting 2"},
        {144, count(0), {}, {}, "Error parsing contents of Client QoS List Update message"},
        {144, count(1) + e12(2, "a4"), {"3.25.50.61 refused"}, req({{2, "a4"}}),
         "update_pkt: sysctl error in Client QoS List Update msg (ignored)", fail},
        {144, count(1) + e12(2, "a5"), {kline({{2, "a5"}})}, req({{3, "zz"}}), nullptr, rewrite},
        {145, count(2) + e14(0x114, 2, "new1", "a1") + e14(0x115, 8, "np", "p1"),
         {kline({{2, "a1", 0}, {2, "new1", 0}}), kline({{8, "p1", 0}, {8, "np", 0}})},
         req({{2, "a1"}}) + req({{8, "p1"}})},
        {145, count(1) + e12(2, "a1"), {}, {}, "Rename msg: id=0x0112 len=32 (ignored)."},
        {146, count(3) + e12(2, "a6") + e12(4, "m1") + e12(8, "p1", 0x113), {}, {}},
        {146, count(2) + e12(2, "a7") + e12(2, "a8"), {}, {},
         "Error applying contents of Client QoS List Delete message for type='ACL ipv4' name='a7'",
         db_fail},
        // A count above the entries carried adds no empty ones.
        {145, count(60000) + e14(0x114, 2, "new2", "a8") + e12(2, "x") + e12(2, "y"),
         {kline({{2, "a8", 0}, {2, "new2", 0}})}, req({{2, "a8"}}),
         "Rename msg: id=0x0112 len=32 (ignored)."},
        // clang-format on
    };
    for (const auto& r : rows) {
        if (r.kernel_does == fail)
            map_platform_fail_nth(map_platform_op::sysctl_write, 1);
        if (r.kernel_does == db_fail)
            lsqlquery_fail_nth_write(1);
        if (r.kernel_does == rewrite)
            sb.write("/sysctl/3.25.50.61", std::string(zz.begin(), zz.end()));
        const bytes m = msg(r.type, r.body);
        const std::string out = captured(MAP_TRACE_CLTQOS, [&] {
            EXPECT_EQ(map_ssl_pkt_handler(&cb, m.data(), static_cast<int>(m.size())), 0);
        });
        check(r.k, r.tls, out, r.text);
        std::filesystem::remove(sb.path("/sysctl/3.25.50.61"));
    }
    // The failed delete stops at its first entry: a7 and a8 are kept.
    EXPECT_EQ(std::tuple(held("acl", "a6"), held("qos-mac-acl", "m1"), held("acl", "m1"),
                         held("policy-map", "p1"), held("acl", "a7"), held("acl", "a8")),
              std::tuple(false, false, true, false, true, true));
}

// hostapd's request (type 34): only what the database lacks, OUT policies never.
TEST_F(Cltqos, AuthDefinitionRequest) {
    const std::string n32(32, 'n');
    const struct {
        uint32_t managed;
        uint8_t type[4];
        std::string name[4];  // down and up access list, down and up policy
        bytes tls;
        const char* text = nullptr;
    } rows[] = {
        {1, {1, 2, 1, 2}, {"a0", "mx", "pin", "pout"}, req({{8, "pin"}, {4, "mx"}})},
        {1, {3, 3, 0, 1}, {n32, n32, "p", "p1"}, req({{3, n32.substr(0, 31)}})},
        {1, {1, 0, 2, 0}, {"9z", "", "p", ""}, req({{1, "9z"}})},
        {1, {0, 1, 2, 1}, {"x", "", "p", ""}, {}},
        {0, {1, 1, 1, 1}, {"q", "r", "s", "t"}, {}, "auth_def_req_msg not in managed mode"},
    };
    for (const auto& r : rows) {
        cb.managed_mode = r.managed;
        bytes d = {34};
        for (int i = 0; i < 4; ++i)
            d = d + wr().u8(r.type[i]).text(r.name[i], 32).b;
        const std::string out =
            captured(MAP_TRACE_CLTQOS, [&] { process_received_msg(d.data(), d.size()); });
        check({}, r.tls, out, r.text);
    }
}

// Every VAP of both radios from the database, in requests of at most 8.
TEST_F(Cltqos, VapDefaults) {
    ents want;
    for (int v = 0; v < 3; ++v)
        for (int r = 0; r < 2 && !(v == 2 && r == 1); ++r) {
            const std::string vap = "vap" + std::to_string(v), radio = "wlan" + std::to_string(r);
            const std::string d = std::to_string(v) + "d" + std::to_string(r), u = "u" + d;
            pv* q = lsqlquery_new_pv_solo("radio", radio.c_str());
            pv* l = lsqlquery_new_pv_solo("def-acltype-down", "ipv4");
            lsqlquery_new_pv("def-acl-down", d.c_str(),
                             lsqlquery_new_pv("def-acl-up", u.c_str(),
                                              lsqlquery_new_pv("def-acltype-up", "ipv6", l)));
            ASSERT_EQ(lsqlquery_set_pv("vap", vap.c_str(), l, q), 0);
            lsqlquery_destroy_pv(l), lsqlquery_destroy_pv(q);
            want.push_back({1, d}), want.push_back({3, u});
        }
    const ents first8(want.begin(), want.begin() + 8), rest(want.begin() + 8, want.end());
    int rc = 0;
    const std::string out =
        captured(MAP_TRACE_CLTQOS, [&] { rc = map_cltqos_vap_default_def_req(&cb); });
    check({}, req(first8) + req(rest), out, "VAP config 'get' failed for vap2-wlan1 (skipping)");
    EXPECT_EQ(rc, -1);
    EXPECT_TRUE(contains(out, "vap1-wlan0: ACL ip4-num '1d0'")) << out;
}

// The definition request and the list builder alone.
TEST_F(Cltqos, RequestAndListBuilder) {
    const ents eight = {{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"},
                        {8, "e"}, {1, "f"}, {2, "g"}, {8, "h"}};
    const std::string x34(34, 'x');
    ents nine = eight;
    nine.push_back({2, "i"});
    const struct {
        int state;
        bytes list;
        bytes tls;
        int rc;
        const char* text = nullptr;
    } sends[] = {
        {4, sc(eight), req(eight), 0},
        {4, sc(nine), {}, -1, "Too many list entries (9) for Client QoS Def Request message"},
        {4, sc({{2, "a", 0}, {8, "b", 0}}), {}, 0},
        {4, sc({{5, "x"}, {4, "m"}}), req({{4, "m"}}), 0,
         "Unrecognized element in Client QoS Def Request msg: type=<rsvd5> name='x' (ignored)."},
        {3, sc(eight), {}, -1, "Invalid mapd mode for map_cltqos_send_def_req_pkt function"},
        {4, bytes{3, 0, 0, 0} + e12(2, "a"), {}, -1, "Invalid sc_id_list parameter"},  // 1 of 3
    };
    for (const auto& s : sends) {
        rec->state = s.state;
        int rc = 0;
        const std::string out = captured(
            0, [&] { rc = map_cltqos_send_def_req_pkt(rec, s.list.data(), s.list.size()); });
        check({}, s.tls, out, s.text);
        EXPECT_EQ(rc, s.rc);
    }
    const struct {
        uint32_t cap;
        int flag;
        uint8_t id;
        const char* name;
        int rc;
        ents after;
    } adds[] = {
        {2, 1, 2, "a", -1, {{2, "a"}, {3, "b", 0}}},              // full
        {3, 2, 2, "z", -1, {{2, "a"}, {3, "b", 0}}},              // flag 2
        {3, 1, 5, "z", 0, {{2, "a"}, {3, "b", 0}}},               // id type 5
        {3, 1, 2, "", 0, {{2, "a"}, {3, "b", 0}}},                // no name
        {3, 1, 2, "a", 0, {{2, "a"}, {3, "b", 0}}},               // requested already
        {3, 0, 3, "b", 0, {{2, "a"}, {3, "b", 0}, {3, "b", 0}}},  // not requested: listed again
        {3, 1, 8, x34.c_str(), 0, {{2, "a"}, {3, "b", 0}, {8, x34.substr(0, 31)}}},  // cut
    };
    for (const auto& a : adds) {  // on a list of two, room for three
        bytes list = sc({{2, "a"}, {3, "b", 0}});
        list.resize(4 + 36 * 3);
        EXPECT_EQ(map_cltqos_sysctl_list_id_add(list.data(), a.cap, a.flag, a.id, a.name), a.rc);
        list.resize(4 + 36 * a.after.size());
        EXPECT_EQ(list, sc(a.after)) << +a.id << a.name;
    }
}
