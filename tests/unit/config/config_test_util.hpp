// Shared pieces of the configuration accessor tests: a fixture with its own
// sandbox root (and so its own database), and direct database reads and
// writes through the client library.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/map_dman_lsql.hpp"
#include "core/map_log.hpp"
#include "dman/lsqlquery.hpp"
#include "support/sandbox.hpp"

namespace config_test {

// Every test gets a fresh root; the connection is dropped before the root goes.
class db_test : public ::testing::Test {
protected:
    mapd_test::sandbox sb;

    void SetUp() override { map_global_debug_trace = 0; }
    void TearDown() override {
        lsqlquery_fail_nth_write(0);
        lsqlquery_close();
        map_global_debug_trace = 0;
        map_global_dont_disable_ssh_session = 0;
    }
};

// A property's value, or "<absent>".
inline std::string db_get(const char* cls, const char* instance, const char* property) {
    pv* list = lsqlquery_get_pv(cls, instance, property);
    std::string value = list != nullptr && list->value != nullptr ? list->value : "<absent>";
    lsqlquery_destroy_pv(list);
    return value;
}

// Writes one property; true on success.
inline bool db_set(const char* cls, const char* instance, const char* property, const char* value) {
    pv* node = lsqlquery_new_pv_solo(property, value);
    int rc = lsqlquery_set_pv(cls, instance, node, nullptr);
    lsqlquery_destroy_pv(node);
    return rc == 0;
}

// The value of `property` in every row of (cls, instance), in row order.
inline std::vector<std::string> db_column(const char* cls, const char* instance,
                                          const char* property) {
    std::vector<std::string> values;
    pv* grid = lsqlquery_get_grid(cls, instance, nullptr, nullptr, 0);
    for (const pv* row = grid; row != nullptr; row = row->peer) {
        for (const pv* node = row; node != nullptr; node = node->next) {
            if (node->name != nullptr && std::string(node->name) == property) {
                values.emplace_back(node->value != nullptr ? node->value : "");
            }
        }
    }
    lsqlquery_destroy_pv(grid);
    return values;
}

// Creates the radio instances "wlan0" .. "wlan<count-1>".
inline void make_radios(int count) {
    for (int i = 0; i < count; ++i) {
        std::string name = "wlan" + std::to_string(i);
        ASSERT_TRUE(db_set("radio", name.c_str(), "status", "down"));
    }
}

// Runs `fn` with the given trace mask and returns what reached standard output.
template <typename Fn>
std::string captured(uint32_t mask, Fn fn) {
    map_global_debug_trace = mask;
    testing::internal::CaptureStdout();
    fn();
    std::string out = testing::internal::GetCapturedStdout();
    map_global_debug_trace = 0;
    return out;
}

}  // namespace config_test
