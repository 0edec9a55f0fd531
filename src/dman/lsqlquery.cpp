// The lsqlquery_* operations over the SQLite store of dman_store.
#include "dman/lsqlquery.hpp"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "log/map_log.hpp"
#include "dman/dman_schema.hpp"
#include "dman/dman_store.hpp"

static constexpr char map_log_module[] = "dman";

namespace {

// Longest list (nodes of a row, rows, transaction items) walked; anything
// longer is taken for a broken, circular list.
constexpr size_t kMaxListLength = 4096;
// Names quoted in error texts are cut so that a text stays short: it travels
// to the switch in the configuration status.
constexpr int kErrorNameChars = 32;

bool name_ok(const char* s, bool may_be_empty) {
    if (s == nullptr) {
        return false;
    }
    size_t n = strnlen(s, LSQLQUERY_NAME_MAX + 1);
    if (n > LSQLQUERY_NAME_MAX || (n == 0 && !may_be_empty)) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7f) {
            return false;
        }
    }
    return true;
}

std::string quoted(const char* s) {
    std::string out = "'";
    if (s != nullptr) {
        out.append(s, strnlen(s, kErrorNameChars));
    }
    return out + "'";
}

bool address_ok(const char* cls, const char* instance, std::string& error) {
    if (!name_ok(cls, false)) {
        error = "bad class name";
        return false;
    }
    if (instance != nullptr && !name_ok(instance, true)) {
        error = "bad instance name for " + quoted(cls);
        return false;
    }
    return true;
}

// Checks a list of nodes linked by next: a row to write, a qualifier, a
// selection (values needed), or a list of wanted properties (names only).
bool nodes_ok(const pv* list, bool values_needed, std::string& error) {
    size_t count = 0;
    for (const pv* n = list; n != nullptr; n = n->next) {
        if (++count > kMaxListLength) {
            error = "property list too long";
            return false;
        }
        if (!name_ok(n->name, false)) {
            error = "bad property name";
            return false;
        }
        if (values_needed && n->value == nullptr) {
            error = "no value for " + quoted(n->name);
            return false;
        }
        if (n->value != nullptr &&
            strnlen(n->value, LSQLQUERY_VALUE_MAX + 1) > LSQLQUERY_VALUE_MAX) {
            error = "value too long for " + quoted(n->name);
            return false;
        }
    }
    return true;
}

bool row_matches(const dman_row& r, const pv* list) {
    for (const pv* n = list; n != nullptr; n = n->next) {
        const std::string* v = r.find(n->name);
        if (v == nullptr || *v != n->value) {
            return false;
        }
    }
    return true;
}

// The rows of an instance (null: every instance) that hold every pair of the
// qualifier.
int load_rows(const char* cls, const char* instance, const pv* qualifier,
              std::vector<dman_row>& rows, std::string& error) {
    if (dman_store_load(cls, instance, dman_copy::running, rows, error) != 0) {
        return -1;
    }
    if (qualifier != nullptr) {
        std::erase_if(rows, [qualifier](const dman_row& r) { return !row_matches(r, qualifier); });
    }
    return 0;
}

// "config" "startup" = "running" is the request to save the configuration.
bool is_save_request(const char* cls, const pv* n) {
    return strcmp(cls, "config") == 0 && strcmp(n->name, "startup") == 0 &&
           strcmp(n->value, "running") == 0;
}

// Every property of a checked list (linked by next) is one the class holds.
bool properties_known(const dman_schema_class& c, const pv* list, std::string& error) {
    for (const pv* n = list; n != nullptr; n = n->next) {
        if (!dman_schema_property_ok(c, n->name, error)) {
            return false;
        }
    }
    return true;
}

bool set_args_ok(const char* cls, const char* instance, const pv* list, const pv* qualifier,
                 std::string& error) {
    if (!address_ok(cls, instance, error) || !nodes_ok(list, true, error) ||
        !nodes_ok(qualifier, true, error)) {
        return false;
    }
    if (list == nullptr) {
        error = "no properties to write";
        return false;
    }
    const dman_schema_class* c = dman_schema_class_of(cls, error);
    return c != nullptr && dman_schema_instance_ok(*c, instance, error) &&
           properties_known(*c, list, error) && properties_known(*c, qualifier, error);
}

// Writes one row of properties to the matching rows (creating one holding
// the qualifier when none matches).  Needs an open transaction.
int set_in_transaction(const char* cls, const char* instance, const pv* list, const pv* qualifier,
                       std::string& error) {
    if (!set_args_ok(cls, instance, list, qualifier, error)) {
        return -1;
    }
    bool save = false;
    bool data = false;
    for (const pv* n = list; n != nullptr; n = n->next) {
        (is_save_request(cls, n) ? save : data) = true;
    }
    if (data) {
        std::vector<dman_row> rows;
        if (load_rows(cls, instance, qualifier, rows, error) != 0) {
            return -1;
        }
        // Without an instance a write reaches every instance: a new row only
        // for the single instance of a class that has one; a class of
        // instances that has none has none to reach.
        std::string ignored;
        const dman_schema_class* c = dman_schema_class_of(cls, ignored);
        bool none_to_reach =
            instance == nullptr && c != nullptr && !dman_schema_instance_ok(*c, "", ignored);
        if (rows.empty() && !none_to_reach) {
            dman_row r;
            r.instance = instance != nullptr ? instance : "";
            r.id = dman_store_new_row(error);
            if (r.id < 0) {
                return -1;
            }
            for (const pv* q = qualifier; q != nullptr; q = q->next) {
                if (dman_store_put(r.id, cls, r.instance.c_str(), q->name, q->value, error) != 0) {
                    return -1;
                }
            }
            rows.push_back(std::move(r));
        }
        for (const auto& r : rows) {
            for (const pv* n = list; n != nullptr; n = n->next) {
                if (!is_save_request(cls, n) &&
                    dman_store_put(r.id, cls, r.instance.c_str(), n->name, n->value, error) != 0) {
                    return -1;
                }
            }
        }
    }
    if (save && dman_store_save_startup(error) != 0) {
        return -1;
    }
    return 0;
}

// Runs `body` as one transaction of its own (or as part of an open one).
template <typename Body>
int transaction(std::string& error, Body body) {
    if (dman_store_begin(error) != 0) {
        return -1;
    }
    if (body() != 0) {
        dman_store_rollback();
        return -1;
    }
    return dman_store_commit(error);
}

// Logs a failed operation and hands its text to the caller when asked.
int report_error(const char* op, const char* cls, const std::string& error, char** out) {
    MAP_ERROR("%s %s: %s", op, quoted(cls).c_str(), error.c_str());
    if (out != nullptr) {
        *out = strdup(error.c_str());
    }
    return -1;
}

// A row under construction, its nodes linked by next.
struct row_builder {
    pv* head = nullptr;
    pv* tail = nullptr;

    bool add(const char* name, const char* value) {
        pv* n = lsqlquery_new_pv(name, value, tail);
        if (n == nullptr) {
            return false;
        }
        if (head == nullptr) {
            head = n;
        }
        tail = n;
        return true;
    }
};

// A list of rows linked by peer.
struct grid_builder {
    pv* first = nullptr;
    pv* last = nullptr;

    void add(pv* row) {
        if (first == nullptr) {
            first = row;
        } else {
            last->peer = row;
        }
        last = row;
    }
};

}  // namespace

// ---- nodes ---------------------------------------------------------------------

pv* lsqlquery_new_pv_solo(const char* name, const char* value) {
    if (name == nullptr) {
        MAP_ERROR("a property node needs a name");
        return nullptr;
    }
    auto* n = static_cast<pv*>(calloc(1, sizeof(pv)));
    if (n == nullptr) {
        return nullptr;
    }
    n->name = strdup(name);
    n->value = value != nullptr ? strdup(value) : nullptr;
    if (n->name == nullptr || (value != nullptr && n->value == nullptr)) {
        free(n->name);
        free(n->value);
        free(n);
        return nullptr;
    }
    return n;
}

pv* lsqlquery_new_pv(const char* name, const char* value, pv* tail) {
    pv* n = lsqlquery_new_pv_solo(name, value);
    if (n != nullptr && tail != nullptr) {
        n->next = tail->next;
        tail->next = n;
    }
    return n;
}

pv* lsqlquery_new_pv_with_peer(const char* name, const char* value, pv* /*unused*/, pv* tail) {
    pv* n = lsqlquery_new_pv_solo(name, value);
    if (n != nullptr && tail != nullptr) {
        n->peer = tail->peer;
        tail->peer = n;
    }
    return n;
}

void lsqlquery_destroy_pv(pv* list) {
    while (list != nullptr) {
        pv* next_row = list->peer;
        pv* n = list;
        while (n != nullptr) {
            pv* next = n->next;
            free(n->name);
            free(n->value);
            free(n);
            n = next;
        }
        list = next_row;
    }
}

// ---- reads ---------------------------------------------------------------------

namespace {

pv* get_value(const char* cls, const char* instance, const char* property, const pv* qualifier) {
    std::string error;
    if (!address_ok(cls, instance, error) || !nodes_ok(qualifier, true, error)) {
        report_error("read of", cls, error, nullptr);
        return nullptr;
    }
    if (!name_ok(property, false)) {
        report_error("read of", cls, "bad property name", nullptr);
        return nullptr;
    }
    std::vector<dman_row> rows;
    if (load_rows(cls, instance, qualifier, rows, error) != 0) {
        report_error("read of", cls, error, nullptr);
        return nullptr;
    }
    for (const auto& r : rows) {
        if (const std::string* v = r.find(property)) {
            return lsqlquery_new_pv_solo(property, v->c_str());
        }
    }
    return nullptr;
}

}  // namespace

pv* lsqlquery_get_pv(const char* cls, const char* instance, const char* property) {
    return get_value(cls, instance, property, nullptr);
}

pv* lsqlquery_get_pv_q1(const char* cls, const char* instance, const char* property,
                        const char* parent_cls, const char* parent_instance) {
    if (parent_cls == nullptr || parent_instance == nullptr) {
        report_error("qualified read of", cls, "no qualifier", nullptr);
        return nullptr;
    }
    pv qualifier{const_cast<char*>(parent_cls), const_cast<char*>(parent_instance), nullptr,
                 nullptr};
    return get_value(cls, instance, property, &qualifier);
}

pv* lsqlquery_get_grid(const char* cls, const char* instance, pv* wanted, pv* qualifier, int flag) {
    std::string error;
    if (!address_ok(cls, instance, error) || !nodes_ok(wanted, false, error) ||
        !nodes_ok(qualifier, true, error)) {
        report_error("grid read of", cls, error, nullptr);
        return nullptr;
    }
    std::vector<dman_row> rows;
    if (load_rows(cls, instance, qualifier, rows, error) != 0) {
        report_error("grid read of", cls, error, nullptr);
        return nullptr;
    }
    // Flag 1 without an instance heads each row with its instance name; with
    // no wanted list either, the rows are the instances themselves.
    bool named = flag == 1 && instance == nullptr;
    bool instances_only = named && wanted == nullptr;
    grid_builder grid;
    std::vector<const std::string*> seen;
    for (const auto& r : rows) {
        if (instances_only) {
            bool dup = false;
            for (const std::string* s : seen) {
                dup = dup || *s == r.instance;
            }
            if (dup) {
                continue;
            }
            seen.push_back(&r.instance);
        }
        row_builder row;
        bool ok = !named || row.add("instance", r.instance.c_str());
        bool any = instances_only;
        if (wanted != nullptr) {
            for (const pv* w = wanted; ok && w != nullptr; w = w->next) {
                if (const std::string* v = r.find(w->name)) {
                    ok = row.add(w->name, v->c_str());
                    any = true;
                }
            }
        } else if (!instances_only) {
            for (const auto& c : r.cells) {
                ok = ok && row.add(c.property.c_str(), c.value.c_str());
            }
            any = !r.cells.empty();
        }
        if (!ok) {
            lsqlquery_destroy_pv(row.head);
            lsqlquery_destroy_pv(grid.first);
            report_error("grid read of", cls, "out of memory", nullptr);
            return nullptr;
        }
        if (!any) {
            lsqlquery_destroy_pv(row.head);
            continue;
        }
        grid.add(row.head);
    }
    return grid.first;
}

// ---- writes --------------------------------------------------------------------

int lsqlquery_set_pv(const char* cls, const char* instance, pv* list, pv* qualifier) {
    return lsqlquery_set_pv_with_error(cls, instance, list, qualifier, nullptr);
}

int lsqlquery_set_pv_with_error(const char* cls, const char* instance, pv* list, pv* qualifier,
                                char** error) {
    if (error != nullptr) {
        *error = nullptr;
    }
    std::string text;
    if (!set_args_ok(cls, instance, list, qualifier, text)) {
        return report_error("write of", cls, text, error);
    }
    int rc =
        transaction(text, [&] { return set_in_transaction(cls, instance, list, qualifier, text); });
    return rc == 0 ? 0 : report_error("write of", cls, text, error);
}

int lsqlquery_insert_pv(const char* cls, const char* instance, pv* rows) {
    return lsqlquery_insert_pv_with_error(cls, instance, rows, nullptr);
}

int lsqlquery_insert_pv_with_error(const char* cls, const char* instance, pv* rows,
                                   char** error_out) {
    if (error_out != nullptr) {
        *error_out = nullptr;
    }
    std::string error;
    if (!address_ok(cls, instance, error)) {
        return report_error("insert into", cls, error, error_out);
    }
    if (rows == nullptr) {
        return report_error("insert into", cls, "no properties to insert", error_out);
    }
    const char* inst = instance != nullptr ? instance : "";
    const dman_schema_class* c = dman_schema_class_of(cls, error);
    if (c == nullptr || !dman_schema_instance_ok(*c, inst, error)) {
        return report_error("insert into", cls, error, error_out);
    }
    size_t count = 0;
    for (const pv* r = rows; r != nullptr; r = r->peer) {
        if (++count > kMaxListLength) {
            return report_error("insert into", cls, "too many rows", error_out);
        }
        if (!nodes_ok(r, true, error) || !properties_known(*c, r, error)) {
            return report_error("insert into", cls, error, error_out);
        }
    }
    int rc = transaction(error, [&] {
        for (const pv* r = rows; r != nullptr; r = r->peer) {
            int64_t id = dman_store_new_row(error);
            if (id < 0) {
                return -1;
            }
            for (const pv* n = r; n != nullptr; n = n->next) {
                if (dman_store_put(id, cls, inst, n->name, n->value, error) != 0) {
                    return -1;
                }
            }
        }
        return 0;
    });
    return rc == 0 ? 0 : report_error("insert into", cls, error, error_out);
}

int lsqlquery_delete_pv(const char* cls, const char* instance, pv* list) {
    std::string error;
    if (!address_ok(cls, instance, error) || !nodes_ok(list, true, error)) {
        return report_error("delete from", cls, error, nullptr);
    }
    int rc = transaction(error, [&] {
        std::vector<dman_row> rows;
        if (load_rows(cls, instance, list, rows, error) != 0) {
            return -1;
        }
        for (const auto& r : rows) {
            if (dman_store_delete_row(r.id, error) != 0) {
                return -1;
            }
        }
        return 0;
    });
    return rc == 0 ? 0 : report_error("delete from", cls, error, nullptr);
}

// ---- transactions --------------------------------------------------------------

struct lsqlquery_transaction_info {
    int op;
    char* cls;
    char* instance;  // null: the single instance, or every instance
    pv* list;
    lsqlquery_transaction_info* next;
};

lsqlquery_transaction_info* lsqlquery_transaction_info_new(int op, const char* cls,
                                                           const char* instance, pv* list,
                                                           int /*flags*/) {
    std::string error;
    if (op != LSQLQUERY_OP_SET) {
        error = "unknown transaction operation " + std::to_string(op);
    } else if (list == nullptr) {
        error = "no properties to write";
    } else {
        address_ok(cls, instance, error);
    }
    if (!error.empty()) {
        report_error("transaction item for", cls, error, nullptr);
        lsqlquery_destroy_pv(list);
        return nullptr;
    }
    auto* item =
        static_cast<lsqlquery_transaction_info*>(calloc(1, sizeof(lsqlquery_transaction_info)));
    if (item != nullptr) {
        item->op = op;
        item->cls = strdup(cls);
        item->instance = instance != nullptr ? strdup(instance) : nullptr;
        item->list = list;
    }
    if (item == nullptr || item->cls == nullptr || (instance != nullptr && !item->instance)) {
        report_error("transaction item for", cls, "out of memory", nullptr);
        lsqlquery_transaction_info_delete(item);
        if (item == nullptr) {
            lsqlquery_destroy_pv(list);
        }
        return nullptr;
    }
    return item;
}

int lsqlquery_transaction_info_add(lsqlquery_transaction_info* first,
                                   lsqlquery_transaction_info* item) {
    if (first == nullptr || item == nullptr) {
        return -1;
    }
    size_t count = 0;
    lsqlquery_transaction_info* last = first;
    for (;;) {
        // Chaining an item twice would make the chain circular.
        if (last == item || ++count > kMaxListLength) {
            MAP_ERROR("transaction item already chained, or chain too long");
            return -1;
        }
        if (last->next == nullptr) {
            break;
        }
        last = last->next;
    }
    last->next = item;
    return 0;
}

int lsqlquery_write_pv_multi(lsqlquery_transaction_info* first, char** error) {
    std::string text;
    if (error != nullptr) {
        *error = nullptr;
    }
    if (first == nullptr) {
        return report_error("transaction", nullptr, "empty transaction", error);
    }
    const char* failed_cls = first->cls;
    int rc = transaction(text, [&] {
        size_t count = 0;
        for (const auto* it = first; it != nullptr; it = it->next) {
            if (++count > kMaxListLength) {
                text = "transaction too long";
                return -1;
            }
            failed_cls = it->cls;
            if (set_in_transaction(it->cls, it->instance, it->list, nullptr, text) != 0) {
                return -1;
            }
        }
        return 0;
    });
    return rc == 0 ? 0 : report_error("transaction on", failed_cls, text, error);
}

void lsqlquery_transaction_info_delete(lsqlquery_transaction_info* first) {
    size_t count = 0;
    while (first != nullptr && ++count <= kMaxListLength) {
        lsqlquery_transaction_info* next = first->next;
        free(first->cls);
        free(first->instance);
        lsqlquery_destroy_pv(first->list);
        free(first);
        first = next;
    }
}

// ---- connection and test hooks -------------------------------------------------

int lsqlquery_close(void) {
    return dman_store_close();
}

void lsqlquery_fail_nth_write(unsigned nth) {
    dman_store_fail_nth_commit(nth);
}

unsigned long lsqlquery_commit_count(void) { return dman_store_commit_count(); }
