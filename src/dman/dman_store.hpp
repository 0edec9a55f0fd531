// Storage of the configuration database, below the lsqlquery_* API.
//
// One SQLite file at DMAN_DB_PATH (through the platform door, so a sandbox
// root has its own), in WAL mode with a 5 second busy timeout so that the
// daemon and its forked children never fail on each other's locks.  Each
// process opens its own connection on first use; a child of fork() and a
// change of sandbox root get a fresh one.
//
// Schema (PRAGMA user_version 1), the same for the running configuration and
// its saved startup copy:
//
//   CREATE TABLE running (
//     seq      INTEGER PRIMARY KEY,  -- order in which properties were added
//     row      INTEGER NOT NULL,     -- one row of properties of an instance
//     class    TEXT NOT NULL,
//     instance TEXT NOT NULL,        -- '' for a single-instance class
//     property TEXT NOT NULL,
//     value    TEXT NOT NULL,
//     UNIQUE (row, property));
//   CREATE TABLE startup (...same columns...);
//
// A row's cells all carry the same class and instance.  A VAP row carries
// its radio as the property "radio", which is how "vap0" of "wlan0" and "vap0"
// of "wlan1" are told apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* DMAN_DB_PATH = "/etc/dman/dman.db";
// Exists once the database is ready for the daemon.
inline constexpr const char* DMAN_PID_PATH = "/var/run/dman.pid";

struct dman_cell {
    std::string property;
    std::string value;
};

struct dman_row {
    int64_t id = 0;
    std::string cls;
    std::string instance;
    std::vector<dman_cell> cells;  // in the order they were added

    // The value of `property`, or null.
    const std::string* find(const char* property) const;
};

// Which copy of the configuration a read looks at.
enum class dman_copy { running, startup };

// Opens this process's connection (creating the file, its folder and the
// schema when missing); 0, or -1 with a reason.
int dman_store_open(std::string& error);

// Opens as above and writes the pid file that tells the daemon the database
// is ready.
int dman_store_create(std::string& error);

// A transaction over several writes: calls made in between (lsqlquery_*
// included) join it, and only the outermost end commits or rolls back.  A
// failed inner part makes the outermost commit roll back.
int dman_store_begin(std::string& error);
int dman_store_commit(std::string& error);
void dman_store_rollback();

// Rows of a class (null: every class) and instance (null: every instance), in
// creation order.  Cells that cannot be valid (bad names, over-long values)
// are logged and left out.
int dman_store_load(const char* cls, const char* instance, dman_copy copy,
                    std::vector<dman_row>& out, std::string& error);

// The following need an open transaction.
// A fresh row id, or -1.
int64_t dman_store_new_row(std::string& error);
// Sets one property of a row (added, or its value replaced in place).
int dman_store_put(int64_t row, const char* cls, const char* instance, const char* property,
                   const char* value, std::string& error);
int dman_store_delete_row(int64_t row, std::string& error);
// Empties the running configuration.
int dman_store_clear(std::string& error);
// Replaces the startup copy with the running configuration.
int dman_store_save_startup(std::string& error);

// Closes this process's connection; 0 or -1.
int dman_store_close();
// Makes the nth next commit fail (tests); 0 clears.
void dman_store_fail_nth_commit(unsigned nth);

// Write transactions this process has committed (figures and tests).
unsigned long dman_store_commit_count();
