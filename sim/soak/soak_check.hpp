// The soak's measurements: what the daemon holds (descriptors, resident and
// private dirty memory) and how large its database is, sampled once per
// simulated hour, and the check that none of it grows.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct soak_sample {
    int hour = 0;
    double real_seconds = 0;  // since the soak started
    long fds = -1;            // entries of /proc/<pid>/fd
    long rss_kb = -1;         // "Rss:" of /proc/<pid>/smaps_rollup
    long private_dirty_kb = -1;
    long long db_bytes = -1;   // the database file
    long long wal_bytes = -1;  // its write-ahead log (0 when there is none)
};

// Reads the daemon's figures and the database's size; false when the
// process is gone or a figure cannot be read.
bool soak_sample_read(pid_t pid, const std::string& db_path, soak_sample& out);

// The growth check.  The first `warmup_hours` samples only warm up; the next
// one is the base.  Every later sample must stay within the bound of the
// base: descriptors not above it at all, RSS, private dirty memory and the
// database file less than `bound_kb` above it.  One line
// per curve that grew past its bound ("rss_kb grew 80 kB: 5120 at hour 1,
// 5200 at hour 7"); none when all are flat or there is no base yet.
std::vector<std::string> soak_growth(const std::vector<soak_sample>& samples, int warmup_hours,
                                     long bound_kb);

// The CSV header and one row.
std::string soak_csv_header();
std::string soak_csv_row(const soak_sample& s);
