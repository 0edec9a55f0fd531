// The captive portal's kernel tables as the sandbox keeps them: each entry's
// items, their order and values, refused writes, and the VAP passes.
#include <filesystem>
#include <functional>
#include <set>

#include "tunnel/map_cp.hpp"
#include "unit/commands/cs_test_util.hpp"

namespace {

using namespace cs_test;

std::string u32(uint32_t v) {
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}
std::string mac(uint8_t b) {
    return std::string(6, static_cast<char>(b));
}

struct Cp : cs_fixture {
    void SetUp() override {
        cs_fixture::SetUp();
        ASSERT_TRUE(db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50"));
        ap_cp_created = 0;
    }
    std::string kernel(const std::string& name) const { return sb.read("/sysctl/" + name); }
    void wipe() { std::filesystem::remove_all(sb.path("/sysctl")); }
};

}  // namespace

// Each entry's items in write order with their values (the records' fields
// carry their item numbers).  A refused k-th write leaves exactly the items
// before it and fails the entry; with no refusal all are written.
TEST_F(Cp, EntriesWriteTheirItemsInOrderAndStopAtTheRefusedOne) {
    const map_cp_ap_record ap{1, {6, 6, 6, 6, 6, 6}, 3, 4, 5, 2, 7, 8};
    const map_cp_vap_record vap{1, 19, 2, 3, 5, 4, {6, 66}, {7, 7, 7, 7, 7, 7}, 8};
    const map_cp_sta_record sta{11, 17, {12, 12, 12, 12, 12, 12}, 14, 15, 16};
    // clang-format off
    const struct {
        std::string prefix, ok;
        std::vector<std::pair<int, std::string>> items;
        std::function<int()> write;
        std::vector<std::string> errors;  // traced for a refusal at each item
    } rows[] = {
        {"3.22.1.", "cp ap config data sent OK\n\r",
         {{2, u32(2)}, {4, u32(4)}, {5, u32(5)}, {3, u32(3)}, {6, mac(6)}, {7, u32(7)}, {8, u32(8)},
          {1, u32(1)}},
         [&] { return map_cp_ap_update(&ap); }, {}},
        {"3.22.2.20.", "vap config data sent OK\n\r",
         {{9, u32(19)}, {2, u32(2)}, {3, u32(3)}, {4, u32(4)}, {5, u32(5)}, {6, u32(6) + u32(66)},
          {7, mac(7)}, {8, u32(8)}, {1, u32(1)}},
         [&] { return map_cp_vap_update(&vap); }, {}},
        {"3.22.3.", "sta config data sent OK\n\r",
         {{17, u32(17)}, {12, mac(12)}, {14, u32(14)}, {15, u32(15)}, {16, u32(16)}, {11, u32(11)}},
         [&] { return map_cp_sta(&sta); },
         {"map_cp_set_sta_authed", "sta_mac_addr", "map_cp_set_sta_vap_id", "map_cp_set_sta_up_rate",
          "map_cp_set_sta_down_rate", "map_cp_set_sta_update"}},
    };
    // clang-format on
    for (const auto& r : rows) {
        const size_t n = r.items.size();
        for (size_t k = 1; k <= n + 1; ++k) {
            wipe();
            map_platform_fail_nth(map_platform_op::sysctl_write, k <= n ? k : 0);
            int rc = 0;
            const std::string out = captured(MAP_TRACE_PORTAL, [&] { rc = r.write(); });
            EXPECT_EQ(rc == 0, k > n) << r.prefix << k;
            for (size_t j = 0; j < n; ++j) {
                const auto& [item, value] = r.items[j];
                EXPECT_EQ(kernel(r.prefix + std::to_string(item)), j + 1 < k ? value : "<missing>")
                    << r.prefix << item << " refusal at " << k;
            }
            const std::string text = k > n              ? r.ok
                                     : r.errors.empty() ? "sysctl error"
                                                        : r.errors[k - 1] + " error\n\r";
            EXPECT_TRUE(contains(out, text)) << out;
        }
    }
}

// Clearing writes a cleared entry (update 1, its identifier) for VAPs 0-3 of
// both radios, and goes on past a refused entry.
TEST_F(Cp, ClearingWritesEveryVapOfBothRadiosAndGoesOnAfterARefusal) {
    for (unsigned refused : {0, 10}) {  // write 10: VAP 1's first item
        wipe();
        map_platform_fail_nth(map_platform_op::sysctl_write, refused);
        const std::string out = captured(MAP_TRACE_PORTAL, [&] { map_cp_vap_delete(cs); });
        std::set<std::string> entries, want;
        for (const auto& e : std::filesystem::directory_iterator(sb.path("/sysctl"))) {
            const std::string n = e.path().filename();
            entries.insert(n.substr(0, n.rfind('.')));
        }
        for (uint32_t id : {0, 1, 2, 3, 16, 17, 18, 19}) {
            const std::string e = "3.22.2." + std::to_string(id + 1);
            if (refused == 0 || id != 1) {
                want.insert(e);
                EXPECT_EQ(kernel(e + ".9") + kernel(e + ".1") + kernel(e + ".2") + kernel(e + ".7"),
                          u32(id) + u32(1) + u32(0) + mac(0));
            }
        }
        EXPECT_EQ(entries, want);
        EXPECT_EQ(contains(out, "map_cp_vap_update error\n\r"), refused != 0);
    }
}
