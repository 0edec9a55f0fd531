#include "dman/dman_store.hpp"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log/map_log.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"

static constexpr char map_log_module[] = "dman";

namespace {

// Busy timeout: how long a write waits for another process's transaction.
constexpr int kBusyTimeoutMs = 5000;
constexpr int kSchemaVersion = 1;
// Bound on the cells one load returns; a larger class is refused.
constexpr size_t kMaxLoadCells = 200000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS running ("
    " seq INTEGER PRIMARY KEY, row INTEGER NOT NULL, class TEXT NOT NULL,"
    " instance TEXT NOT NULL, property TEXT NOT NULL, value TEXT NOT NULL,"
    " UNIQUE (row, property));"
    "CREATE INDEX IF NOT EXISTS running_by_class ON running (class, instance, row);"
    "CREATE TABLE IF NOT EXISTS startup ("
    " seq INTEGER PRIMARY KEY, row INTEGER NOT NULL, class TEXT NOT NULL,"
    " instance TEXT NOT NULL, property TEXT NOT NULL, value TEXT NOT NULL,"
    " UNIQUE (row, property));"
    "PRAGMA user_version = 1;";

enum stmt_id : int {
    kBegin,
    kCommit,
    kRollback,
    kLoadAll,
    kLoadClass,
    kLoadInstance,
    kLoadAllStartup,
    kLoadClassStartup,
    kLoadInstanceStartup,
    kPut,
    kNewRow,
    kDeleteRow,
    kClear,
    kStartupClear,
    kStartupCopy,
    kStmtCount,
};

#define DMAN_LOAD_COLUMNS "SELECT row, class, instance, property, value FROM "
constexpr const char* kSql[kStmtCount] = {
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    DMAN_LOAD_COLUMNS "running ORDER BY row, seq",
    DMAN_LOAD_COLUMNS "running WHERE class = ?1 ORDER BY row, seq",
    DMAN_LOAD_COLUMNS "running WHERE class = ?1 AND instance = ?2 ORDER BY row, seq",
    DMAN_LOAD_COLUMNS "startup ORDER BY row, seq",
    DMAN_LOAD_COLUMNS "startup WHERE class = ?1 ORDER BY row, seq",
    DMAN_LOAD_COLUMNS "startup WHERE class = ?1 AND instance = ?2 ORDER BY row, seq",
    ("INSERT INTO running (row, class, instance, property, value) VALUES (?1, ?2, ?3, ?4, ?5)"
     " ON CONFLICT (row, property) DO UPDATE SET value = excluded.value"),
    "SELECT COALESCE(MAX(row), 0) + 1 FROM running",
    "DELETE FROM running WHERE row = ?1",
    "DELETE FROM running",
    "DELETE FROM startup",
    "INSERT INTO startup SELECT * FROM running",
};
#undef DMAN_LOAD_COLUMNS

struct connection {
    sqlite3* db = nullptr;
    pid_t pid = 0;
    char path[MAP_PLATFORM_PATH_MAX] = "";
    sqlite3_stmt* stmt[kStmtCount] = {};
    int depth = 0;        // nesting of dman_store_begin
    bool failed = false;  // an inner part rolled back: the outermost end must too
};

connection g_conn;
// The parent's connection as a child of fork() found it: never used, but
// kept referenced (volatile: a store nothing reads must still happen).
sqlite3* volatile g_inherited = nullptr;
unsigned g_fail_commit_in = 0;
unsigned long g_commits = 0;  // committed write transactions of this process

// Resets a statement when the scope that used it ends.
struct stmt_use {
    sqlite3_stmt* s;
    ~stmt_use() {
        if (s != nullptr) {
            sqlite3_reset(s);
            sqlite3_clear_bindings(s);
        }
    }
};

void set_error(std::string& error, const char* what) {
    error = what;
    if (g_conn.db != nullptr) {
        MAP_ERROR("%s: %s", what, sqlite3_errmsg(g_conn.db));
    } else {
        MAP_ERROR("%s", what);
    }
}

int close_conn() {
    for (auto& s : g_conn.stmt) {
        sqlite3_finalize(s);
        s = nullptr;
    }
    int rc = 0;
    if (g_conn.db != nullptr && sqlite3_close_v2(g_conn.db) != SQLITE_OK) {
        MAP_ERROR("closing the configuration database: %s", sqlite3_errmsg(g_conn.db));
        rc = -1;
    }
    g_conn = connection{};
    return rc;
}

// Creates every missing folder above the file at host path `path`.
void make_parent_dirs(const char* path) {
    char dir[MAP_PLATFORM_PATH_MAX];
    snprintf(dir, sizeof dir, "%s", path);
    for (char* p = dir + 1; *p != '\0'; ++p) {
        if (*p == '/') {
            *p = '\0';
            if (mkdir(dir, 0755) != 0 && errno != EEXIST) {
                MAP_ERROR("cannot create folder %s: %s", dir, strerror(errno));
                return;
            }
            *p = '/';
        }
    }
}

int exec(const char* sql) {
    return sqlite3_exec(g_conn.db, sql, nullptr, nullptr, nullptr);
}

int schema_version() {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(g_conn.db, "PRAGMA user_version", -1, &s, nullptr) != SQLITE_OK) {
        return -1;
    }
    int v = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
    sqlite3_finalize(s);
    return v;
}

int open_conn(const char* path, std::string& error) {
    make_parent_dirs(path);
    int rc =
        sqlite3_open_v2(path, &g_conn.db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        set_error(error, "cannot open the configuration database");
        close_conn();
        return -1;
    }
    snprintf(g_conn.path, sizeof g_conn.path, "%s", path);
    g_conn.pid = getpid();
    sqlite3_busy_timeout(g_conn.db, kBusyTimeoutMs);
    // NORMAL is safe against corruption in WAL mode; a power cut may lose the
    // last write, never the file.
    if (exec("PRAGMA journal_mode = WAL") != SQLITE_OK ||
        exec("PRAGMA synchronous = NORMAL") != SQLITE_OK) {
        set_error(error, "configuration database unusable");
        close_conn();
        return -1;
    }
    int version = schema_version();
    if (version == 0) {
        if (exec("BEGIN IMMEDIATE") != SQLITE_OK) {
            set_error(error, "configuration database busy");
            close_conn();
            return -1;
        }
        if (exec(kSchema) != SQLITE_OK || exec("COMMIT") != SQLITE_OK) {
            set_error(error, "cannot create the configuration database");
            exec("ROLLBACK");
            close_conn();
            return -1;
        }
        version = kSchemaVersion;
    }
    if (version != kSchemaVersion) {
        MAP_ERROR("configuration database %s has schema version %d, not %d", path, version,
                  kSchemaVersion);
        error = "unknown configuration database version";
        close_conn();
        return -1;
    }
    return 0;
}

// The connection of this process for the current root, opened when needed.
bool conn(std::string& error) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(DMAN_DB_PATH, path, sizeof path) != 0) {
        error = "configuration database path too long";
        MAP_ERROR("%s", error.c_str());
        return false;
    }
    if (g_conn.db != nullptr && g_conn.pid != getpid()) {
        // A child of fork(): the parent's connection must be neither used nor
        // closed here (closing could disturb the parent's locks), so it is
        // set aside (still referenced: not a leak) and the child opens its own.
        g_inherited = g_conn.db;
        g_conn = connection{};
    }
    if (g_conn.db != nullptr && strcmp(g_conn.path, path) != 0) {
        close_conn();
    }
    if (g_conn.db == nullptr && open_conn(path, error) != 0) {
        return false;
    }
    return true;
}

sqlite3_stmt* stmt(stmt_id id, std::string& error) {
    if (!conn(error)) {
        return nullptr;
    }
    if (g_conn.stmt[id] == nullptr &&
        sqlite3_prepare_v3(g_conn.db, kSql[id], -1, SQLITE_PREPARE_PERSISTENT, &g_conn.stmt[id],
                           nullptr) != SQLITE_OK) {
        set_error(error, "configuration database query failed");
        return nullptr;
    }
    return g_conn.stmt[id];
}

// Runs a statement that returns no rows.
int run(stmt_id id, std::string& error, const char* what) {
    sqlite3_stmt* s = stmt(id, error);
    if (s == nullptr) {
        return -1;
    }
    stmt_use use{s};
    if (sqlite3_step(s) != SQLITE_DONE) {
        set_error(error, what);
        return -1;
    }
    return 0;
}

bool in_transaction(std::string& error) {
    if (g_conn.depth == 0 || g_conn.db == nullptr || g_conn.pid != getpid()) {
        error = "no open transaction";
        MAP_ERROR("%s", error.c_str());
        return false;
    }
    return true;
}

// A text column as a string; false for SQL NULL or a text that no valid cell
// can hold.
bool column_text(sqlite3_stmt* s, int col, size_t max, bool may_be_empty, std::string& out) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, col));
    if (t == nullptr) {
        return false;
    }
    auto n = static_cast<size_t>(sqlite3_column_bytes(s, col));
    if (n > max || (n == 0 && !may_be_empty) || strlen(t) != n) {
        return false;
    }
    out.assign(t, n);
    return true;
}

bool name_chars_ok(const std::string& s) {
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7f) {
            return false;
        }
    }
    return true;
}

}  // namespace

const std::string* dman_row::find(const char* property) const {
    for (const auto& c : cells) {
        if (c.property == property) {
            return &c.value;
        }
    }
    return nullptr;
}

int dman_store_open(std::string& error) {
    return conn(error) ? 0 : -1;
}

int dman_store_create(std::string& error) {
    if (!conn(error)) {
        return -1;
    }
    char path[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(DMAN_PID_PATH, path, sizeof path) != 0) {
        error = "pid file path too long";
        return -1;
    }
    make_parent_dirs(path);
    FILE* f = map_platform_fopen(DMAN_PID_PATH, "w");
    if (f == nullptr) {
        error = std::string("cannot write ") + DMAN_PID_PATH + ": " + strerror(errno);
        MAP_ERROR("%s", error.c_str());
        return -1;
    }
    fprintf(f, "%d\n", static_cast<int>(getpid()));
    if (fclose(f) != 0) {
        error = std::string("cannot write ") + DMAN_PID_PATH;
        return -1;
    }
    return 0;
}

int dman_store_begin(std::string& error) {
    if (!conn(error)) {
        return -1;
    }
    if (g_conn.depth > 0) {
        ++g_conn.depth;
        return 0;
    }
    if (run(kBegin, error, "configuration database busy") != 0) {
        return -1;
    }
    g_conn.depth = 1;
    g_conn.failed = false;
    return 0;
}

int dman_store_commit(std::string& error) {
    if (!in_transaction(error)) {
        return -1;
    }
    if (--g_conn.depth > 0) {
        return 0;
    }
    std::string ignored;
    if (g_conn.failed) {
        run(kRollback, ignored, "rollback failed");
        error = "transaction rolled back";
        return -1;
    }
    if (g_fail_commit_in != 0 && --g_fail_commit_in == 0) {
        MAP_ERROR("configuration database write failed (injected)");
        run(kRollback, ignored, "rollback failed");
        error = "database write failed";
        return -1;
    }
    if (run(kCommit, error, "database write failed") != 0) {
        run(kRollback, ignored, "rollback failed");
        return -1;
    }
    ++g_commits;
    return 0;
}

unsigned long dman_store_commit_count() { return g_commits; }

void dman_store_rollback() {
    if (g_conn.depth == 0 || g_conn.db == nullptr || g_conn.pid != getpid()) {
        return;
    }
    if (--g_conn.depth > 0) {
        g_conn.failed = true;
        return;
    }
    std::string ignored;
    run(kRollback, ignored, "rollback failed");
}

int dman_store_load(const char* cls, const char* instance, dman_copy copy,
                    std::vector<dman_row>& out, std::string& error) {
    out.clear();
    int base = copy == dman_copy::running ? kLoadAll : kLoadAllStartup;
    int id = cls == nullptr ? base : instance == nullptr ? base + 1 : base + 2;
    sqlite3_stmt* s = stmt(static_cast<stmt_id>(id), error);
    if (s == nullptr) {
        return -1;
    }
    stmt_use use{s};
    if (cls != nullptr) {
        sqlite3_bind_text(s, 1, cls, -1, SQLITE_STATIC);
    }
    if (cls != nullptr && instance != nullptr) {
        sqlite3_bind_text(s, 2, instance, -1, SQLITE_STATIC);
    }
    size_t cells = 0;
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        if (++cells > kMaxLoadCells) {
            error = "configuration class too large";
            MAP_ERROR("%s (over %zu properties)", error.c_str(), kMaxLoadCells);
            out.clear();
            return -1;
        }
        int64_t row = sqlite3_column_int64(s, 0);
        dman_row r;
        dman_cell c;
        if (!column_text(s, 1, LSQLQUERY_NAME_MAX, false, r.cls) ||
            !column_text(s, 2, LSQLQUERY_NAME_MAX, true, r.instance) ||
            !column_text(s, 3, LSQLQUERY_NAME_MAX, false, c.property) ||
            !column_text(s, 4, LSQLQUERY_VALUE_MAX, true, c.value) || !name_chars_ok(r.cls) ||
            !name_chars_ok(r.instance) || !name_chars_ok(c.property)) {
            MAP_ERROR("dropping a bad cell of row %lld of the configuration database",
                      static_cast<long long>(row));
            continue;
        }
        if (out.empty() || out.back().id != row) {
            r.id = row;
            out.push_back(std::move(r));
        } else if (out.back().cls != r.cls || out.back().instance != r.instance) {
            MAP_ERROR("dropping a cell of row %lld filed under another instance",
                      static_cast<long long>(row));
            continue;
        }
        out.back().cells.push_back(std::move(c));
    }
    if (rc != SQLITE_DONE) {
        set_error(error, "configuration database read failed");
        out.clear();
        return -1;
    }
    return 0;
}

int64_t dman_store_new_row(std::string& error) {
    if (!in_transaction(error)) {
        return -1;
    }
    sqlite3_stmt* s = stmt(kNewRow, error);
    if (s == nullptr) {
        return -1;
    }
    stmt_use use{s};
    if (sqlite3_step(s) != SQLITE_ROW) {
        set_error(error, "configuration database read failed");
        return -1;
    }
    return sqlite3_column_int64(s, 0);
}

int dman_store_put(int64_t row, const char* cls, const char* instance, const char* property,
                   const char* value, std::string& error) {
    if (!in_transaction(error)) {
        return -1;
    }
    sqlite3_stmt* s = stmt(kPut, error);
    if (s == nullptr) {
        return -1;
    }
    stmt_use use{s};
    sqlite3_bind_int64(s, 1, row);
    sqlite3_bind_text(s, 2, cls, -1, SQLITE_STATIC);
    sqlite3_bind_text(s, 3, instance, -1, SQLITE_STATIC);
    sqlite3_bind_text(s, 4, property, -1, SQLITE_STATIC);
    sqlite3_bind_text(s, 5, value, -1, SQLITE_STATIC);
    if (sqlite3_step(s) != SQLITE_DONE) {
        set_error(error, "database write failed");
        return -1;
    }
    return 0;
}

int dman_store_delete_row(int64_t row, std::string& error) {
    if (!in_transaction(error)) {
        return -1;
    }
    sqlite3_stmt* s = stmt(kDeleteRow, error);
    if (s == nullptr) {
        return -1;
    }
    stmt_use use{s};
    sqlite3_bind_int64(s, 1, row);
    if (sqlite3_step(s) != SQLITE_DONE) {
        set_error(error, "database write failed");
        return -1;
    }
    return 0;
}

int dman_store_clear(std::string& error) {
    if (!in_transaction(error)) {
        return -1;
    }
    return run(kClear, error, "database write failed");
}

int dman_store_save_startup(std::string& error) {
    if (!in_transaction(error)) {
        return -1;
    }
    if (run(kStartupClear, error, "saving the configuration failed") != 0) {
        return -1;
    }
    return run(kStartupCopy, error, "saving the configuration failed");
}

int dman_store_close() {
    if (g_conn.db != nullptr && g_conn.pid != getpid()) {
        g_inherited = g_conn.db;  // the parent's, left alone (see conn())
        g_conn = connection{};
        return 0;
    }
    if (g_conn.db == nullptr) {
        return 0;
    }
    if (g_conn.depth > 0) {
        std::string ignored;
        run(kRollback, ignored, "rollback failed");
    }
    return close_conn();
}

void dman_store_fail_nth_commit(unsigned nth) {
    g_fail_commit_in = nth;
}
