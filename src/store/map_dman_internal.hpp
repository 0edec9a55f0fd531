// Small helpers shared by the accessor files: owners of the lists and error
// texts the database library hands out, and one-property reads and writes.
#pragma once

#include <cstdlib>
#include <memory>

#include "dman/lsqlquery.hpp"

namespace map_dman_detail {

struct pv_free {
    void operator()(pv* list) const { lsqlquery_destroy_pv(list); }
};
// Owns a list obtained from the library.
using pv_ptr = std::unique_ptr<pv, pv_free>;

struct text_free {
    void operator()(char* text) const { std::free(text); }
};
// Owns an error text left by the library.
using text_ptr = std::unique_ptr<char, text_free>;

// Writes one property; 0 or -1.
int set_one(const char* cls, const char* instance, const char* property, const char* value);
// The same through the error-text variant; the text, if any, lands in *error.
int set_one_with_error(const char* cls, const char* instance, const char* property,
                       const char* value, text_ptr* error);
// The value node of one property, or null when absent (a node without a value
// counts as absent).
pv_ptr get_one(const char* cls, const char* instance, const char* property);

// "" for a null text, so that it can go into a log line.
inline const char* or_empty(const char* text) {
    return text != nullptr ? text : "";
}

}  // namespace map_dman_detail
