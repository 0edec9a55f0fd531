// Shared pieces of the configuration accessor tests: a fixture with its own
// sandbox root (and so its own database), radio instances and captured output.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "log/map_log.hpp"
#include "store/map_dman_lsql.hpp"
#include "support/db.hpp"
#include "support/sandbox.hpp"

namespace config_test {

using namespace mapd_test;  // db_get, db_set, db_column, read_file

// Every test gets a fresh root; the connection is dropped before the root goes.
class db_test : public ::testing::Test {
protected:
    mapd_test::sandbox sb;

    void TearDown() override {
        lsqlquery_fail_nth_write(0);
        lsqlquery_close();
        map_global_dont_disable_ssh_session = 0;
    }
};

// Creates the radio instances "wlan0" .. "wlan<count-1>", each "down".
inline void make_radios(int count) {
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(db_set("radio", ("wlan" + std::to_string(i)).c_str(), "status", "down"));
    }
}

// Runs `fn` with the trace mask `mask` and returns what reached standard output.
template <typename Fn>
std::string captured(uint32_t mask, Fn fn) {
    map_global_debug_trace = mask;
    testing::internal::CaptureStdout();
    fn();
    map_global_debug_trace = 0;
    return testing::internal::GetCapturedStdout();
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace config_test
