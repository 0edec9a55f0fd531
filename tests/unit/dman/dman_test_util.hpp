// Small helpers shared by the configuration database tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "dman/dman_text.hpp"
#include "dman/lsqlquery.hpp"
#include "support/sandbox.hpp"

namespace dman_test {

inline constexpr const char* kAbsent = "<absent>";
inline constexpr auto npos = std::string::npos;

// Takes a list: its rows as "name=value,name=value|name=value", then frees it.
inline std::string take_grid(pv* grid) {
    std::string out;
    for (pv* row = grid; row != nullptr; row = row->peer) {
        out += row != grid ? "|" : "";
        for (pv* n = row; n != nullptr; n = n->next) {
            out += std::string(n != row ? "," : "") + n->name + '=' +
                   (n->value != nullptr ? n->value : "<null>");
        }
    }
    lsqlquery_destroy_pv(grid);
    return grid == nullptr ? kAbsent : out;
}

inline std::string grid(const char* cls, const char* instance, pv* qualifier = nullptr) {
    return take_grid(lsqlquery_get_grid(cls, instance, nullptr, qualifier, 0));
}

inline pv node(const char* name, const char* value, pv* next = nullptr) {
    return pv{const_cast<char*>(name), const_cast<char*>(value), nullptr, next};
}

// The value of a property, or kAbsent.
inline std::string get(const char* cls, const char* instance, const char* property,
                       const char* radio = nullptr) {
    pv* v = radio != nullptr ? lsqlquery_get_pv_q1(cls, instance, property, "radio", radio)
                             : lsqlquery_get_pv(cls, instance, property);
    std::string out = v != nullptr && v->value != nullptr ? v->value : kAbsent;
    lsqlquery_destroy_pv(v);
    return out;
}

// Writes one property, qualified when `qual_name` is given.
inline int set(const char* cls, const char* instance, const char* property, const char* value,
               const char* qual_name = nullptr, const char* qual_value = nullptr) {
    pv n = node(property, value), q = node(qual_name, qual_value);
    return lsqlquery_set_pv(cls, instance, &n, qual_name != nullptr ? &q : nullptr);
}

// Takes the error text of a write: "" after a success, else the text.
inline std::string error_of(int rc, char* error) {
    std::string out = rc == 0 ? "" : error != nullptr ? error : "<no text>";
    free(error);
    return out;
}

// A list of rows "a=1,b=2|c=3" made by the library; a node without '=' has
// no value (a wanted property).
inline pv* make_rows(const std::string& text) {
    pv *first = nullptr, *row = nullptr, *tail = nullptr;
    for (size_t pos = 0, end = 0; end != npos; pos = end + 1) {
        end = text.find_first_of(",|", pos);
        std::string n = text.substr(pos, end == npos ? end : end - pos);
        size_t eq = n.find('=');
        std::string name = n.substr(0, eq), value = eq == npos ? "" : n.substr(eq + 1);
        const char* v = eq == npos ? nullptr : value.c_str();
        tail = tail != nullptr ? lsqlquery_new_pv(name.c_str(), v, tail)
                               : (row = lsqlquery_new_pv_with_peer(name.c_str(), v, nullptr, row));
        first = first != nullptr ? first : row;
        tail = end != npos && text[end] == '|' ? nullptr : tail;
    }
    return first;
}

// The whole running (or startup) configuration in the text form.
inline std::string dump(dman_copy which = dman_copy::running) {
    std::vector<dman_row> rows;
    std::string error, out;
    EXPECT_EQ(dman_store_load(nullptr, nullptr, which, rows, error), 0) << error;
    for (const auto& line : dman_text_lines(rows)) {
        out += line + "\n";
    }
    return out;
}

// Each test on a root of its own, leaving no connection or armed failure.
struct Dman : testing::Test {
    mapd_test::sandbox sb;

    void TearDown() override {
        lsqlquery_fail_nth_write(0);
        lsqlquery_close();
    }
};

}  // namespace dman_test
