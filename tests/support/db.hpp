// Test support: direct reads and writes of the configuration database of the
// current sandbox root, through the client library.
#pragma once

#include <string>
#include <vector>

#include "dman/lsqlquery.hpp"

namespace mapd_test {

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

}  // namespace mapd_test
