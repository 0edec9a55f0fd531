// Tunnels and the captive portal on the twin: what the switch configures
// reaches the emulated kernel tables (read back from the sandbox's write
// journal, in order), a refused write ends the apply with its status, and the
// link going away takes the tunnels with it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e/twin_fixture.hpp"
#include "swsim/config_msg.hpp"
#include "swsim/swsim.hpp"
#include "twin/standins.hpp"
#include "wire/wire.hpp"

using namespace mapd_e2e;

namespace {

// The sandbox's write journal, one entry a line (none before the first write).
std::vector<std::string> journal(const twin& t) {
    std::vector<std::string> lines;
    std::ifstream in(t.root + "/sandbox/sysctl.log");
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// Index of the first line at or after `from` that starts with `prefix`; -1
// when none does.
long find_line(const std::vector<std::string>& lines, const std::string& prefix, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i) {
        if (lines[i].rfind(prefix, 0) == 0) return static_cast<long>(i);
    }
    return -1;
}

// The items of table {3, 21, 28} (the AP tunnel entry) in journal order,
// from line `from` on.
std::vector<std::string> ap_entry_writes(const std::vector<std::string>& lines, size_t from) {
    std::vector<std::string> out;
    for (size_t i = from; i < lines.size(); ++i) {
        if (lines[i].rfind("3.21.28.", 0) == 0) out.push_back(lines[i].substr(8));
    }
    return out;
}

}  // namespace

TEST(Tunnel, SwitchConfiguresTunnelsAndPortalAndTheLinkTakesThemAway) {
    twin t;
    t.set("management", nullptr, "ip", "192.168.1.10");
    t.set("management", nullptr, "mask", "255.255.255.0");
    t.set("management", nullptr, "vlan-id", "7");
    t.set("ip-route", nullptr, "gateway", "192.168.1.1");
    t.set("untagged-vlan", nullptr, "vlan-id", "9");
    swsim sw;
    standins st;
    ASSERT_EQ(managed_twin_up(t, sw, st), "");
    std::string error;
    auto status_of = [&](const std::vector<std::string>& lines) {
        auto status = config_status(sw, lines, error);
        EXPECT_EQ(error, "");
        return status;
    };
    const std::vector<uint8_t> success = {0x00, 0x05, 0x00, 0x09, 0x20, 0x10, 0x00, 0x01, 0x01};
    const std::vector<std::string> config = {
        "mtu 1400", "radio 1 mode=3 channel=36",
        "vap 1 0 ssid=corp security=plain-text",
        "vap 1 1 ssid=guest security=plain-text tunnel=1 subnet=10.20.0.0 mask=255.255.0.0"};

    // A tunnelled VAP: every VAP writes its entry, and the first one creates
    // the AP entry (in the module's order) once any VAP is tunnelled.
    size_t before = journal(t).size();
    ASSERT_EQ(status_of(config), success) << t.log_text();
    auto lines = journal(t);
    const long vap0 = find_line(lines, "3.21.29.1.48 = 00000000", before);
    const long vap1 = find_line(lines, "3.21.29.2.48 = 01000000", before);
    ASSERT_GE(vap0, 0) << "VAP 0 of radio 1 is slot 1";
    ASSERT_GE(vap1, 0) << "VAP 1 of radio 1 is slot 2";
    EXPECT_EQ(lines[vap1 + 3], "3.21.29.2.45 = 0100000001000000") << "VAP id, tunnel mode";
    const long ap_entry = find_line(lines, "3.21.28.", vap0);
    EXPECT_TRUE(ap_entry > vap0 && ap_entry < vap1) << "created after the first VAP's entry";
    EXPECT_EQ(ap_entry_writes(lines, before),
              (std::vector<std::string>{"11 = 0200007f", "13 = 0a01a8c0", "14 = 00ffffff",
                                        "12 = 0101a8c0", "15 = 001a2b3c4d50", "17 = 07000000",
                                        "18 = 09000000", "19 = 78050000", "16 = 01000000"}))
        << "switch, AP, mask, gateway, MAC, VLANs, MTU 1400, mode 1 last (host order)";
    const long central = find_line(lines, "3.24.1.12 = 001a2b3c4d500700", before);
    EXPECT_GT(central, vap1) << "the central tunnel's AP record comes after the VAPs";

    // The portal on the tunnelled VAP (elements outside a sequence): the VAP's
    // entry, then the portal's AP entry.
    const auto first_pass = lines;
    const size_t first_before = before;
    before = lines.size();
    std::vector<uint8_t> msg;
    ASSERT_EQ(swsim_config_build({"portal 1 1 ip=10.0.0.9 mac=02:00:00:00:00:09 prefix=24"}, msg,
                                 error),
              0)
        << error;
    ASSERT_EQ(swsim_send(sw, msg), 0);
    ASSERT_TRUE(eventually([&] { return find_line(journal(t), "3.22.1.1 = 01000000", before) >= 0; },
                           3000))
        << t.log_text();
    lines = journal(t);
    EXPECT_GE(find_line(lines, "3.22.2.2.5 = 0900000a", before), 0) << "redirect 10.0.0.9";
    EXPECT_GE(find_line(lines, "3.22.2.2.8 = 00ffffff", before), 0) << "prefix 24";

    // The distributed and central tunnels from their own messages; hostapd
    // hears of the distributed tunnel's settings and set-up.
    const uint8_t home[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
    const uint8_t client[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    const uint8_t other[6] = {0x00, 0x1a, 0x2b, 0x99, 0x00, 0x01};
    ASSERT_EQ(swsim_send(sw, swsim_msg_dl2_config(32, 300, 3600, 4)), 0);
    ASSERT_EQ(swsim_send(sw, swsim_msg_dl2_setup(home, client, other, 0x0a000063, 100)), 0);
    ASSERT_EQ(swsim_send(sw, swsim_msg_cl2_vlans({10, 20, 30})), 0);
    ASSERT_TRUE(eventually([&] { return find_line(journal(t), "3.24.1.11 = ", before) >= 0; }, 3000));
    lines = journal(t);
    EXPECT_GE(find_line(lines, "3.24.1.11 = 03000a0014001e000000", before), 0) << "count 3, host order";
    EXPECT_GE(find_line(lines, "3.23.1.13 = 20000000", before), 0) << "32 clients";
    EXPECT_GE(find_line(lines, "3.23.3.34 = 01000000", before), 0) << "enabled";
    EXPECT_GE(find_line(lines,
                        "3.23.3.31 = 001a2b3c4d50021122334455001a2b990001"
                        "000000000000000000000000" "6300000a" "6400",
                        before),
              0)
        << "set-up record: MACs, address in host order, VLAN 100";
    std::vector<std::vector<uint8_t>> to_hostapd;
    ASSERT_TRUE(eventually(
        [&] {
            standins_poll(st, 100);
            to_hostapd.clear();
            for (auto& [who, m] : st.received) {
                if (who == standin_kind::hostapd && !m.empty() && (m[0] == 20 || m[0] == 21))
                    to_hostapd.push_back(m);
            }
            return to_hostapd.size() >= 2;
        },
        3000));
    EXPECT_EQ(to_hostapd[0].size(), 20u);
    EXPECT_EQ(to_hostapd[1].size(), 38u);

    // The same sequence again with a new MTU, and the third write of VAP 0's
    // entry (its subnet mask) refused: the sequence starts from no portal, the
    // pass stops at the refused item and the switch hears why.
    const long first_vap = find_line(first_pass, "3.21.29.1.48", first_before);
    ASSERT_GE(first_vap, 0);
    // A new MTU is written at once to the tunnel that exists: one write more
    // before the VAPs' than the first time.
    t.write("/sandbox/sysctl-refuse", std::to_string(first_vap - first_before + 4) + "\n");
    before = journal(t).size();
    auto again = config;
    again[0] = "mtu 1500";
    auto status = status_of(again);
    ASSERT_EQ(status.size(), 83u) << t.log_text();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(status.data() + 19)),
              "Error in the applying  Tunnel Configuration");
    lines = journal(t);
    EXPECT_EQ(lines[before], "3.22.1.2 = 00000000") << "the portal's AP entry cleared first";
    EXPECT_GE(find_line(lines, "3.22.1.1 = 00000000", before), 0);
    EXPECT_GE(find_line(lines, "3.22.2.2.2 = 00000000", before), 0) << "the VAP's portal off";
    const long refused = find_line(lines, "3.21.29.1.47 refused", before);
    ASSERT_GE(refused, 0) << "the refusal hit the mask of VAP 0";
    const long mtu = find_line(lines, "3.21.28.19 = dc050000", before);
    EXPECT_TRUE(mtu >= 0 && mtu < refused) << "MTU 1500 before the VAPs";
    EXPECT_EQ(find_line(lines, "3.21.29.", refused + 1), -1) << "nothing after the refused item";
    EXPECT_EQ(find_line(lines, "3.24.1.12", refused), -1) << "the apply ended there";

    // The link goes: the AP tunnel is cleared with mode 0 last, the central
    // tunnel's record zeroed and the distributed tunnel disabled.
    before = journal(t).size();
    swsim_drop(sw);
    ASSERT_TRUE(
        eventually([&] { return find_line(journal(t), "3.23.3.34 = 00000000", before) >= 0; }, 8000))
        << t.log_text();
    lines = journal(t);
    const auto zeros = ap_entry_writes(lines, before);
    ASSERT_EQ(zeros.size(), 9u);
    EXPECT_EQ(zeros.back(), "16 = 00000000");
    EXPECT_EQ(zeros[4], "15 = 000000000000");
    EXPECT_GE(find_line(lines, "3.24.1.12 = " + std::string(144, '0'), before), 0);
    standins_close(st);
    swsim_close(sw);
}
