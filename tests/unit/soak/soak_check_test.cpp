// The soak's growth check: hourly series against the bound, one row a case.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "soak/soak_check.hpp"

namespace {

// Hour h of a series: the base figures plus the growth given for that hour.
struct grow {
    long fds = 0, rss_kb = 0, dirty_kb = 0;
    long long db = 0, wal = 0;
};

std::vector<soak_sample> series(const std::vector<grow>& hours) {
    std::vector<soak_sample> out;
    for (size_t h = 0; h < hours.size(); ++h) {
        soak_sample s;
        s.hour = static_cast<int>(h);
        s.fds = 11 + hours[h].fds;
        s.rss_kb = 8900 + hours[h].rss_kb;
        s.private_dirty_kb = 1300 + hours[h].dirty_kb;
        s.db_bytes = 290816 + hours[h].db;
        s.wal_bytes = 400000 + hours[h].wal;
        out.push_back(s);
    }
    return out;
}

}  // namespace

TEST(SoakGrowth, EachCurveAgainstItsBoundFromTheFirstHourOn) {
    const struct {
        const char* what;
        std::vector<grow> hours;
        std::string found;  // the first line, "" when flat
    } rows[] = {
        {"flat", {{}, {}, {}, {}}, ""},
        {"no base yet: the warm-up hour alone", {{.rss_kb = 900}}, ""},
        {"warm-up growth does not count",
         {{}, {.fds = 2, .rss_kb = 500}, {.fds = 2, .rss_kb = 500}},
         ""},
        {"one more descriptor", {{}, {}, {}, {.fds = 1}}, "fds grew 1: 11 at hour 1, 12 at hour 3"},
        {"fewer descriptors is flat", {{}, {.fds = 1}, {}}, ""},
        {"RSS 63 kB up is within the bound", {{}, {}, {.rss_kb = 63}}, ""},
        {"RSS 64 kB up is not",
         {{}, {}, {.rss_kb = 64}},
         "rss_kb grew 64 kB: 8900 at hour 1, 8964 at hour 2"},
        {"the highest sample counts, not the last",
         {{}, {}, {.rss_kb = 100}, {.rss_kb = 10}},
         "rss_kb grew 100 kB: 8900 at hour 1, 9000 at hour 2"},
        {"private dirty memory",
         {{}, {.dirty_kb = -20}, {.dirty_kb = 50}},
         "private_dirty_kb grew 70 kB: 1280 at hour 1, 1350 at hour 2"},
        {"database file by bytes",
         {{}, {}, {.db = 65536}},
         "db_bytes grew 65536 B: 290816 at hour 1, 356352 at hour 2"},
        {"database file 65535 bytes up", {{}, {}, {.db = 65535}}, ""},
        {"its write-ahead log is not held to the bound", {{}, {}, {.wal = 4000000}}, ""},
    };
    for (const auto& r : rows) {
        const auto found = soak_growth(series(r.hours), 1, 64);
        EXPECT_EQ(found.empty() ? "" : found.front(), r.found) << r.what;
        EXPECT_LE(found.size(), 1u) << r.what;
    }
}
