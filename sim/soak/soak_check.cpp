#include "soak/soak_check.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

long long file_size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

}  // namespace

bool soak_sample_read(pid_t pid, const std::string& db_path, soak_sample& out) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::error_code ec;
    long fds = 0;
    for (std::filesystem::directory_iterator it(proc + "/fd", ec), end; !ec && it != end;
         it.increment(ec)) {
        ++fds;
    }
    if (ec)
        return false;
    out.fds = fds;
    out.rss_kb = out.private_dirty_kb = -1;
    std::ifstream f(proc + "/smaps_rollup");
    for (std::string line; std::getline(f, line);) {
        long kb = 0;
        if (sscanf(line.c_str(), "Rss: %ld kB", &kb) == 1)
            out.rss_kb = kb;
        if (sscanf(line.c_str(), "Private_Dirty: %ld kB", &kb) == 1)
            out.private_dirty_kb = kb;
    }
    out.db_bytes = file_size(db_path);
    out.wal_bytes = file_size(db_path + "-wal");
    return out.rss_kb >= 0 && out.private_dirty_kb >= 0 && out.db_bytes > 0;
}

std::vector<std::string> soak_growth(const std::vector<soak_sample>& samples, int warmup_hours,
                                     long bound_kb) {
    std::vector<std::string> out;
    if (warmup_hours < 0 || samples.size() <= static_cast<size_t>(warmup_hours))
        return out;
    const soak_sample& base = samples[static_cast<size_t>(warmup_hours)];
    struct curve {
        const char* name;
        long long (*value)(const soak_sample&);
        long long bound;  // the largest growth allowed, in the curve's unit
        const char* unit;
    };
    const curve curves[] = {
        {"fds", [](const soak_sample& s) -> long long { return s.fds; }, 0, ""},
        {"rss_kb", [](const soak_sample& s) -> long long { return s.rss_kb; }, bound_kb - 1, " kB"},
        {"private_dirty_kb", [](const soak_sample& s) -> long long { return s.private_dirty_kb; },
         bound_kb - 1, " kB"},
        {"db_bytes", [](const soak_sample& s) -> long long { return s.db_bytes; },
         bound_kb * 1024 - 1, " B"},
    };
    for (const curve& c : curves) {
        const soak_sample* top = &base;
        for (size_t i = static_cast<size_t>(warmup_hours) + 1; i < samples.size(); ++i) {
            if (c.value(samples[i]) > c.value(*top))
                top = &samples[i];
        }
        const long long grew = c.value(*top) - c.value(base);
        if (grew > c.bound) {
            out.push_back(std::string(c.name) + " grew " + std::to_string(grew) + c.unit + ": " +
                          std::to_string(c.value(base)) + " at hour " + std::to_string(base.hour) +
                          ", " + std::to_string(c.value(*top)) + " at hour " +
                          std::to_string(top->hour));
        }
    }
    return out;
}

std::string soak_csv_header() {
    return "hour,real_seconds,fds,rss_kb,private_dirty_kb,db_bytes,wal_bytes";
}

std::string soak_csv_row(const soak_sample& s) {
    char row[160];
    snprintf(row, sizeof row, "%d,%.1f,%ld,%ld,%ld,%lld,%lld", s.hour, s.real_seconds, s.fds,
             s.rss_kb, s.private_dirty_kb, s.db_bytes, s.wal_bytes);
    return row;
}
