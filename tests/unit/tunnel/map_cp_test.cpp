// The captive portal's kernel tables as the sandbox journals them: each
// entry's items, their order and values, refused writes, and the clearing.
#include "tunnel/map_cp.hpp"
#include "unit/commands/cs_test_util.hpp"
#include "unit/tunnel/tunnel_test_util.hpp"

namespace {

using namespace cs_test;
using namespace tunnel_test;

// The journal of an entry's writes: item and value, in order.
lines entry(const std::string& prefix, std::vector<std::pair<int, std::string>> items) {
    lines w;
    for (const auto& [item, value] : items)
        w.push_back(wrote(prefix + std::to_string(item), value));
    return w;
}

using Cp = cs_fixture;

}  // namespace

// Each entry's items in write order with their values (the records' fields
// carry their item numbers).  A refused k-th write ends the entry and fails it.
TEST_F(Cp, EntriesWriteTheirItemsInOrderAndStopAtTheRefusedOne) {
    static const map_cp_ap_record ap{1, {6, 6, 6, 6, 6, 6}, 3, 4, 5, 2, 7, 8};
    static const map_cp_vap_record vap{1, 19, 2, 3, 5, 4, {6, 66}, {7, 7, 7, 7, 7, 7}, 8};
    static const map_cp_sta_record sta{11, 17, {12, 12, 12, 12, 12, 12}, 14, 15, 16};
    // clang-format off
    const std::pair<lines, int (*)()> rows[] = {
        {entry("3.22.1.", {{2, h({2})}, {4, h({4})}, {5, h({5})}, {3, h({3})},
                           {6, std::string(6, 6)}, {7, h({7})}, {8, h({8})}, {1, h({1})}}),
         [] { return map_cp_ap_update(&ap); }},
        {entry("3.22.2.20.", {{9, h({19})}, {2, h({2})}, {3, h({3})}, {4, h({4})}, {5, h({5})},
                              {6, h({6, 66})}, {7, std::string(6, 7)}, {8, h({8})}, {1, h({1})}}),
         [] { return map_cp_vap_update(&vap); }},
        {entry("3.22.3.", {{17, h({17})}, {12, std::string(6, 12)}, {14, h({14})}, {15, h({15})},
                           {16, h({16})}, {11, h({11})}}),
         [] { return map_cp_sta(&sta); }},
    };
    // clang-format on
    for (const auto& [want, write] : rows)
        for (size_t k = 0; k <= want.size(); ++k) {
            map_platform_fail_nth(map_platform_op::sysctl_write, unsigned(k));
            EXPECT_EQ(write(), k == 0 ? 0 : -1) << want[0] << " refused at " << k;
            EXPECT_EQ(journal(sb), refused_at(want, k));
        }
}

// Clearing writes a cleared entry (its identifier, update 1) for VAPs 0-3 of
// both radios, and goes on past a refused entry (write 10: VAP 1's first).
TEST_F(Cp, ClearingWritesEveryVapOfBothRadiosAndGoesOnAfterARefusal) {
    for (unsigned refused : {0, 10}) {
        map_platform_fail_nth(map_platform_op::sysctl_write, refused);
        map_cp_vap_delete(cs);
        lines want;
        for (uint32_t id : {0, 1, 2, 3, 16, 17, 18, 19}) {
            // clang-format off
            const lines e = refused_at(
                entry("3.22.2." + std::to_string(id + 1) + ".",
                      {{9, h({id})}, {2, h({0})}, {3, h({0})}, {4, h({0})}, {5, h({0})},
                       {6, h({0, 0})}, {7, std::string(6, '\0')}, {8, h({0})}, {1, h({1})}}),
                refused != 0 && id == 1);
            // clang-format on
            want.insert(want.end(), e.begin(), e.end());
        }
        EXPECT_EQ(journal(sb), want) << refused;
    }
}
