// Small helpers shared by the configuration database tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "dman/lsqlquery.hpp"
#include "support/sandbox.hpp"

namespace dman_test {

inline constexpr const char* kAbsent = "<absent>";

// Takes a list: its rows as "name=value,name=value|name=value", then frees it.
inline std::string take_grid(pv* grid) {
    std::string out;
    for (pv* row = grid; row != nullptr; row = row->peer) {
        if (row != grid) {
            out += '|';
        }
        for (pv* n = row; n != nullptr; n = n->next) {
            if (n != row) {
                out += ',';
            }
            out += std::string(n->name) + '=' + (n->value != nullptr ? n->value : "<null>");
        }
    }
    lsqlquery_destroy_pv(grid);
    return grid == nullptr ? kAbsent : out;
}

// The value of one property, or kAbsent.
inline std::string get(const char* cls, const char* instance, const char* property,
                       const char* radio = nullptr) {
    pv* v = radio != nullptr ? lsqlquery_get_pv_q1(cls, instance, property, "radio", radio)
                             : lsqlquery_get_pv(cls, instance, property);
    std::string out = v != nullptr && v->value != nullptr ? v->value : kAbsent;
    lsqlquery_destroy_pv(v);
    return out;
}

// Writes one property, qualified by a node of the caller's own storage when
// `qual_name` is given.
inline int set(const char* cls, const char* instance, const char* property, const char* value,
               const char* qual_name = nullptr, const char* qual_value = nullptr) {
    pv node{const_cast<char*>(property), const_cast<char*>(value), nullptr, nullptr};
    pv qual{const_cast<char*>(qual_name), const_cast<char*>(qual_value), nullptr, nullptr};
    return lsqlquery_set_pv(cls, instance, &node, qual_name != nullptr ? &qual : nullptr);
}

// A list of rows "a=1,b=2|c=3" built with the library's own constructors.
inline pv* make_rows(const std::string& text) {
    pv* first = nullptr;
    pv* row_head = nullptr;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t bar = text.find('|', pos);
        std::string row =
            text.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos);
        pv* tail = nullptr;
        size_t p = 0;
        while (p <= row.size()) {
            size_t comma = row.find(',', p);
            std::string node =
                row.substr(p, comma == std::string::npos ? std::string::npos : comma - p);
            size_t eq = node.find('=');
            std::string name = node.substr(0, eq);
            std::string value = eq == std::string::npos ? "" : node.substr(eq + 1);
            pv* n = tail == nullptr
                        ? lsqlquery_new_pv_with_peer(name.c_str(), value.c_str(), nullptr, row_head)
                        : lsqlquery_new_pv(name.c_str(), value.c_str(), tail);
            if (tail == nullptr) {
                row_head = n;
                if (first == nullptr) {
                    first = n;
                }
            }
            tail = n;
            if (comma == std::string::npos) {
                break;
            }
            p = comma + 1;
        }
        if (bar == std::string::npos) {
            break;
        }
        pos = bar + 1;
    }
    return first;
}

// Every test runs on a root of its own and leaves no connection or armed
// failure behind.
struct Dman : testing::Test {
    mapd_test::sandbox sb;

    void TearDown() override {
        lsqlquery_fail_nth_write(0);
        lsqlquery_close();
    }
};

}  // namespace dman_test
