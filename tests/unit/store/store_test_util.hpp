// Shared pieces of the configuration accessor tests: a fixture with its own
// sandbox root (and so its own database), and direct database reads and
// writes through the client library.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/map_dman_lsql.hpp"
#include "log/map_log.hpp"
#include "dman/lsqlquery.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"

namespace config_test {

using mapd_test::db_column;
using mapd_test::db_get;
using mapd_test::db_set;

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
