// Client QoS on the twin: a configuration with VAP defaults tells mapqosd
// each VAP's settings and asks the switch for their definitions, whose
// replies reach mapqosd; a list update goes through the kernel module to a
// definition request; a mode update and a delete change the database; and the
// link going away clears it all and tells mapqosd again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/twin_fixture.hpp"
#include "swsim/roam_msg.hpp"
#include "swsim/swsim.hpp"
#include "twin/standins.hpp"
#include "wire/wire.hpp"

using namespace mapd_e2e;

namespace {

using bytes = std::vector<uint8_t>;

// An id type and a name in a 32-byte field.
bytes id_name(uint8_t id, const std::string& name) {
    bytes b(33, 0);
    b[0] = id;
    std::copy(name.begin(), name.end(), b.begin() + 1);
    return b;
}

// An identifier-list entry as the kernel sees it: id type, requested, two
// zero bytes, 32-byte name; in hex.
std::string kernel_entry(uint8_t id, uint8_t requested, const std::string& name) {
    std::string hex;
    char b[3];
    bytes e(36, 0);
    e[0] = id, e[1] = requested;
    std::copy(name.begin(), name.end(), e.begin() + 4);
    for (uint8_t x : e) snprintf(b, sizeof b, "%02x", x), hex += b;
    return hex;
}

// The kernel module's list operations in the write journal.
std::vector<std::string> kernel_lists(const twin& t) {
    std::vector<std::string> out;
    std::ifstream in(t.root + "/sandbox/sysctl.log");
    for (std::string l; std::getline(in, l);) {
        if (l.rfind("3.25.50.61 = ", 0) == 0) out.push_back(l.substr(13));
    }
    return out;
}

// `prop` of VAP 0 of radio wlan0.
std::string vap0_wlan0(const twin& t, const char* prop) {
    const auto radios = t.column("vap", "vap0", "radio");
    const auto values = t.column("vap", "vap0", prop);
    for (size_t i = 0; i < radios.size() && i < values.size(); ++i) {
        if (radios[i] == "wlan0") return values[i];
    }
    return "<absent>";
}

}  // namespace

TEST(Cltqos, DefaultsListsModesAndTheLinkGoingAway) {
    twin t;
    // Left over from an earlier managed period: gone once the AP is managed.
    t.set("acl", "stale", "acl-type", "ipv4");
    t.set("policy-map", "stale-p", "rule-count", "1");
    swsim sw;
    standins st;
    ASSERT_EQ(managed_twin_up(t, sw, st), "");
    t.set_trace(0x1);  // the return to stand-alone mode
    std::string error;
    EXPECT_TRUE(eventually([&] { return t.column("acl", "stale", "acl-type").empty(); }, 5000));
    EXPECT_TRUE(eventually([&] { return t.column("policy-map", "stale-p", "rule-count").empty(); },
                           5000));

    // Messages from the AP until `type` arrives (within 5 s); each definition
    // request is answered by swsim.
    auto next_of = [&](uint16_t type) {
        bytes m;
        for (int i = 0; i < 50; ++i) {
            if (swsim_recv(sw, m, 100) == 0 && m.size() >= 2 && wire_load_be16(m.data()) == type)
                return m;
        }
        return bytes{};
    };
    auto of_type = [](const std::vector<bytes>& ms, uint16_t type) {
        std::vector<bytes> out;
        for (const auto& m : ms)
            if (m.size() >= 2 && wire_load_be16(m.data()) == type) out.push_back(m);
        return out;
    };
    // What mapqosd received since the last look, once it holds `want`
    // messages of `type` (or after `ms`).
    auto to_mapqosd = [&](uint16_t type, size_t want, int ms) {
        std::vector<bytes> got;
        eventually(
            [&] {
                standins_poll(st, 50);
                for (auto& [kind, m] : st.received)
                    if (kind == standin_kind::mapqosd) got.push_back(m);
                st.received.clear();
                return of_type(got, type).size() >= want;
            },
            ms);
        return got;
    };

    // A configuration with client QoS defaults on VAP 0 of radio 1.
    const bytes success = {0x00, 0x05, 0x00, 0x09, 0x20, 0x10, 0x00, 0x01, 0x01};
    ASSERT_EQ(config_status(sw,
                            {"radio 1 mode=3 channel=36", "vap 1 0 ssid=corp",
                             "vapqos 1 0 mode=1 acl-down=ipv4:guest-acl acl-up=mac:macs "
                             "policy-down=in:pin policy-up=out:pout"},
                            error),
              success)
        << error << t.log_text();
    EXPECT_EQ(vap0_wlan0(t, "qos-mode"), "up");
    EXPECT_EQ(vap0_wlan0(t, "def-acl-down"), "guest-acl");

    // After the status: the VAP defaults are asked for.  The database keeps
    // no policy type, so only the access lists are requested.
    const bytes req = next_of(147);
    swsim_qos_msg q;
    ASSERT_EQ(swsim_qos_parse(req, q), 0) << t.log_text();
    EXPECT_EQ(q.problems, "");
    ASSERT_EQ(q.entries.size(), 2u) << swsim_qos_decode(req);
    EXPECT_EQ(std::tuple(q.entries[0].id_type, q.entries[0].name, q.entries[1].id_type,
                         q.entries[1].name),
              std::tuple(uint8_t{2}, std::string("guest-acl"), uint8_t{4}, std::string("macs")));

    // mapqosd: one 138-byte message for every VAP of both radios, and the
    // switch's reply to the request, forwarded whole.
    auto got = to_mapqosd(148, 1, 5000);
    const auto vap_msgs = of_type(got, 304);
    ASSERT_GE(vap_msgs.size(), 2u);
    EXPECT_EQ(vap_msgs.size() % 2, 0u) << "both radios";
    EXPECT_TRUE(std::all_of(vap_msgs.begin(), vap_msgs.end(),
                            [](const bytes& m) { return m.size() == 138; }));
    bytes vap0 = {0x01, 0x30, 0x00, 0x8a, 1, 0};
    for (const auto& part : {id_name(2, "guest-acl"), id_name(4, "macs"), id_name(8, "pin"),
                             id_name(0, "pout")})
        vap0.insert(vap0.end(), part.begin(), part.end());
    EXPECT_EQ(vap_msgs[0], vap0) << "radio 1 VAP 0: an OUT policy has id type 0";
    bytes empty_vap1 = {0x01, 0x30, 0x00, 0x8a, 1, 1};
    empty_vap1.resize(138, 0);
    EXPECT_EQ(vap_msgs[1], empty_vap1) << "a VAP without client QoS";
    const auto replies = of_type(got, 148);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], swsim_qos_answer(true, req)[0]) << "forwarded as the switch sent it";

    // A list update: the definition the AP holds is asked for again, the other
    // only told to the kernel module.
    t.set("acl", "corp-in", "acl-type", "ipv4");
    t.set("acl", "corp-in", "rule-count", "3");
    const size_t lists_before = kernel_lists(t).size();
    ASSERT_EQ(swsim_send(sw, swsim_msg_qos_list(144, {{0, 2, "corp-in", ""}, {0, 2, "other", ""}})),
              0);
    const bytes req2 = next_of(147);
    ASSERT_EQ(swsim_qos_parse(req2, q), 0) << t.log_text();
    ASSERT_EQ(q.entries.size(), 1u) << swsim_qos_decode(req2);
    EXPECT_EQ(q.entries[0].name, "corp-in");
    EXPECT_EQ(req2.size(), 46u);
    const auto lists = kernel_lists(t);
    ASSERT_EQ(lists.size(), lists_before + 1);
    EXPECT_EQ(lists.back(), "02000000" + kernel_entry(2, 1, "corp-in") + kernel_entry(2, 0, "other"))
        << "count in host order, then the entries";

    // A mode update: client QoS on globally, off on every VAP of radio 1.
    const uint8_t ap[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
    swsim_qos_radio r1;
    r1.global = 1, r1.radio = 1;
    ASSERT_EQ(swsim_send(sw, swsim_msg_qos_mode(ap, {r1})), 0);
    EXPECT_TRUE(eventually([&] { return vap0_wlan0(t, "qos-mode") == "down"; }, 3000))
        << t.log_text();
    EXPECT_EQ(t.get("client-qos", nullptr, "mode"), "up");

    // A delete takes the definition out of the database.
    ASSERT_EQ(swsim_send(sw, swsim_msg_qos_list(146, {{0, 2, "corp-in", ""}})), 0);
    EXPECT_TRUE(eventually([&] { return t.column("acl", "corp-in", "acl-type").empty(); }, 3000))
        << t.log_text();

    // The link goes: the definitions go, every VAP's client QoS settings are
    // cleared, and mapqosd hears of each VAP again.
    t.set("qos-mac-acl", "macs", "acl-type", "mac");
    to_mapqosd(0, 0, 0);
    swsim_drop(sw);
    ASSERT_TRUE(t.wait_log("AP is transistioned to standalone mode", 5000));
    got = of_type(to_mapqosd(304, vap_msgs.size(), 5000), 304);
    ASSERT_EQ(got.size(), vap_msgs.size());
    EXPECT_EQ(got[0], vap0) << "the VAP records outlive the link";
    EXPECT_EQ(t.column("qos-mac-acl", "macs", "acl-type"), std::vector<std::string>{});
    EXPECT_EQ(vap0_wlan0(t, "def-acl-down"), "");
    EXPECT_EQ(vap0_wlan0(t, "def-acltype-down"), "none");
    swsim_close(sw);
    standins_close(st);
}
