// The regulatory table: valid modes, default channels and the country change,
// each test with its own sandbox root, table file and database.
#include "store/map_reg_domain.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "store/map_dman_lsql.hpp"
#include "store_test_util.hpp"

using config_test::captured;
using config_test::db_get;
using config_test::db_set;
using config_test::make_radios;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A country line: code, domains A, B and C, name.
std::string country(const std::string& code, const std::string& a, const std::string& b,
                    const std::string& c, const std::string& name = "Somewhere") {
    return code + "\t" + a + "\t" + b + " " + c + "\t#\t" + name + "\n";
}

// A table whose countries each show one rule:
//   US   every mode bit from a different domain, and the order rules of the
//        default channel (40 MHz lines before 11A, a 0 channel, two turbo lines);
//        listed twice, the first line wins;
//   XX   three domains that all have every band, with channels that tell which
//        domain answered;
//   PF   domain names matched on their beginning for channels, whole for modes;
//   NA   no 11A band at all;
//   N4   only 40 MHz bands, which carry channels but no mode bits.
const std::string kDomains = R"([regulatory domains]
# domain band range chan power first last
US_T    TURBO   5GHZ   42  17  42 160
US_T    PRIMEG  2GHZ    6  17   6   6
us_bg   11B     2GHZ   11  20   1  11
US_BG   11G40U  2GHZ    5  20   5  11
US_BG   11G     2GHZ    6  20   1  11
US_BG   11G40L  2GHZ    1  20   1   7

US_A    11A40L  5GHZ   36  17  36  48
US_A    11A     LOW     0   0   0   0
US_A    11A     HIGH  149  23 149 165
US_A    11A40U  5GHZ  153  23 149 165
US_A    11A     5GHZ   36  17  36  48
DA 11A x 52 0 0 0
DA 11G x 2 0 0 0
DA 11A40L x 60 0 0 0
DA 11A40U x 64 0 0 0
DA 11G40L x 3 0 0 0
DA TURBO x 50 0 0 0
DB 11A x 100 0 0 0
DB 11B x 1 0 0 0
DB 11G x 7 0 0 0
DB 11A40L x 108 0 0 0
DB 11A40U x 112 0 0 0
DB 11G40U x 8 0 0 0
DB TURBO x 160 0 0 0
DC 11A x 149 0 0 0
DC 11G x 11 0 0 0
DC 11A40L x 157 0 0 0
DC 11A40U x 161 0 0 0
DC 11G40L x 9 0 0 0
DC TURBO x 165 0 0 0
PFA_OUT 11A OUT 100 0 0 0
PFA_OUT 11G OUT 11 0 0 0
pfa 11A IN 36 0 0 0
NA_BG 11B 2GHZ 1 20 1 13
NA_BG 11G 2GHZ 6 20 1 13
N40 11A40L 5GHZ 36 0 0 0
N40 11G40U 2GHZ 5 0 0 0
)";

const std::string kTable =
    "# test table\n[country codes]\n# code\tA\tB C\t#\tname\n" +
    country("US", "US_T", "US_BG", "US_A") + country("us", "DA", "DB", "DC", "Duplicate") +
    country("XX", "DA", "DB", "DC") + country("PF", "PFA", "PFA", "PFA") +
    country("NA", "NONE", "NA_BG", "NONE") + country("N4", "N40", "N40", "N40") + "\n" + kDomains;

class RegDomain : public config_test::db_test {
protected:
    void table(const std::string& text) { sb.write(MAP_REG_DOMAINS_FILE, text); }
};

}  // namespace

TEST_F(RegDomain, ValidModesOrTheBitsOfAllThreeDomains) {
    table(kTable);
    struct row {
        const char* country;
        int modes;
    };
    const row rows[] = {
        {"US", 15},    // TURBO from A, 11B and 11G from B, 11A from C
        {"us", 15},    // case is ignored
        {"uS", 15},    //
        {"USA", 15},   // only the first two characters count
        {"XX", 15},    // three domains with every band
        {"PF", 1},     // "PFA_OUT" is not "PFA": its 11G adds nothing
        {"NA", 6},     // no 11A band
        {"N4", 0},     // 40 MHz bands carry no mode bit
        {"ZZ", 0},     // not listed
        {"U", 0},      // too short to be a code
        {"", 0},       //
        {nullptr, 0},  //
    };
    for (const auto& r : rows) {
        EXPECT_EQ(map_get_valid_radio_modes(r.country), r.modes)
            << (r.country ? r.country : "null");
    }
}

TEST_F(RegDomain, FirstLineOfACountryListedTwiceWins) {
    // The second "US" line points at domains with a turbo channel of 50; the
    // first one's domain A answers with 42.
    table(kTable);
    EXPECT_EQ(map_get_default_radio_channel("us", 8, 1, 0), 42);
    EXPECT_EQ(map_get_default_radio_channel("US", 2, 1, 0), 6);
}

TEST_F(RegDomain, MissingFileOrSectionGivesZero) {
    std::string out = captured(0, [] {
        EXPECT_EQ(map_get_valid_radio_modes("US"), 0);
        EXPECT_EQ(map_get_default_radio_channel("US", 1, 1, 0), 0);
    });
    EXPECT_TRUE(contains(out, "Error in opening the reg domain file")) << out;

    // Section names are whole lines, exactly.
    const std::string domains = "[regulatory domains]\nD 11A x 36 0 0 0\n";
    const std::string bad_headers[] = {
        "[Country Codes]\n" + country("US", "D", "D", "D") + domains,
        "[country codes] \n" + country("US", "D", "D", "D") + domains,
        "[country codes]\n" + country("US", "D", "D", "D") + "[regulatory domains ]\n" +
            "D 11A x 36 0 0 0\n",
        // A "[" line ends the country section.
        "[country codes]\n[other]\n" + country("US", "D", "D", "D") + domains,
    };
    for (const auto& text : bad_headers) {
        table(text);
        EXPECT_EQ(map_get_valid_radio_modes("US"), 0) << text;
        EXPECT_EQ(map_get_default_radio_channel("US", 1, 1, 0), 0) << text;
    }
    // Either order of the two sections works.
    table(domains + "[country codes]\n" + country("US", "D", "D", "D"));
    EXPECT_EQ(map_get_valid_radio_modes("US"), 1);
    EXPECT_EQ(map_get_default_radio_channel("US", 1, 1, 0), 36);
}

TEST_F(RegDomain, MalformedDomainLineEndsTheScan) {
    const std::string head = "[country codes]\n" + country("US", "DA", "DB", "DC") +
                             "[regulatory domains]\n" + "DC 11A x 36 0 0 0\n";
    struct row {
        const char* line;  // goes after the 11A line of DC
        int modes;
        int channel_mode_2;  // the 11G line of DB comes after the bad line
    };
    const row rows[] = {
        {"DB 11G x 6 0 0\n", -1, 0},          // six fields, even in a domain nobody asked for
        {"DB 11G x six 0 0 0\n", -1, 0},      // not a number
        {"XY 11G\n", -1, 0},                  //
        {"   \t\n", 7, 6},                    // blank lines are skipped
        {"# DB 11G x 1 0 0 0\n", 7, 6},       // so are comments
        {"DB 11G x 6 0 0 0 extra\n", 7, 6},   // words after the seventh are ignored
        {"[end]\nDB 11B x 1 0 0 0\n", 1, 0},  // "[" ends the section
    };
    for (const auto& r : rows) {
        table(head + r.line + "DB 11G x 6 0 0 0\nDB 11B x 1 0 0 0\n");
        EXPECT_EQ(map_get_valid_radio_modes("US"), r.modes) << r.line;
        EXPECT_EQ(map_get_default_radio_channel("US", 2, 1, 0), r.channel_mode_2) << r.line;
        // The match comes before the bad line, so the channel is found.
        EXPECT_EQ(map_get_default_radio_channel("US", 1, 1, 0), 36) << r.line;
    }
}

TEST_F(RegDomain, DefaultChannelByModeBandwidthAndUpper) {
    table(kTable);
    struct row {
        const char* country;
        int mode;
        int bandwidth;
        int upper;
        int channel;
        const char* why;
    };
    const row rows[] = {
        // Ordering rules, on US.
        {"US", 1, 1, 0, 149, "a 0 in 11A goes on searching; 11A40L is no 11A"},
        {"US", 1, 2, 1, 149, "mode 1 takes 11A at 40 MHz too"},
        {"US", 2, 1, 0, 6, "11G, not 11B or 11G40U"},
        {"US", 2, 2, 1, 6, "bandwidth does not matter for mode 2"},
        {"US", 3, 1, 0, 149, "3 at 20 MHz takes 11A"},
        {"US", 3, 2, 0, 36, "3 at 40 MHz lower: 11A40L"},
        {"US", 3, 2, 1, 153, "3 at 40 MHz upper skips the 11A lines before 11A40U"},
        {"US", 5, 1, 1, 149, "5 at 20 MHz takes 11A"},
        {"US", 5, 2, 0, 36, "5 at 40 MHz lower"},
        {"US", 5, 2, 1, 153, "5 at 40 MHz upper"},
        {"US", 4, 1, 0, 5, "mode 4 at 20 MHz takes the first 11G40L or 11G40U line"},
        {"US", 4, 2, 0, 5, "mode 4 at 40 MHz lower, still the first of either"},
        {"US", 4, 2, 1, 5, "mode 4 at 40 MHz upper"},
        {"US", 6, 1, 1, 5, "mode 6 like mode 4"},
        {"US", 8, 1, 0, 42, "the first turbo line of domain A"},
        {"US", 7, 1, 0, 0, "mode 7 has no band"},
        {"US", 9, 1, 0, 0, "mode 9 has no band"},
        {"US", 0, 1, 0, 0, "mode 0 has no band"},
        // Which domain answers, on XX: A = DA, B = DB, C = DC.
        {"XX", 1, 1, 0, 149, "11A of C"},
        {"XX", 2, 1, 0, 7, "11G of B"},
        {"XX", 3, 2, 0, 157, "11A40L of C"},
        {"XX", 5, 2, 1, 161, "11A40U of C"},
        {"XX", 4, 1, 0, 8, "11G40U of B"},
        {"XX", 6, 2, 0, 8, "11G40U of B"},
        {"XX", 8, 1, 0, 50, "turbo of A"},
        // Domain names are matched on their beginning, ignoring case.
        {"PF", 1, 1, 0, 100, "PFA_OUT begins with PFA"},
        {"PF", 2, 1, 0, 11, "PFA_OUT begins with PFA"},
        // Bands the domain lacks.
        {"NA", 1, 1, 0, 0, "no 11A"},
        {"NA", 3, 2, 1, 0, "no 11A40U"},
        {"NA", 4, 1, 0, 0, "no 11G40L or 11G40U"},
        {"NA", 2, 1, 0, 6, "11G"},
        {"N4", 1, 1, 0, 0, "only 40 MHz lines"},
        {"N4", 3, 2, 0, 36, "11A40L"},
        {"N4", 4, 1, 0, 5, "11G40U"},
        {"ZZ", 1, 1, 0, 0, "no such country"},
        {nullptr, 1, 1, 0, 0, "no country"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(map_get_default_radio_channel(r.country, r.mode, r.bandwidth, r.upper), r.channel)
            << (r.country ? r.country : "null") << " mode " << r.mode << " bandwidth "
            << r.bandwidth << " upper " << r.upper << ": " << r.why;
    }
}

TEST_F(RegDomain, ZeroChannelEndsTheSearchOutside11A) {
    table("[country codes]\n" + country("US", "D", "D", "D") + "[regulatory domains]\n" +
          "D 11G x 0 0 0 0\nD 11G x 6 0 0 0\nD 11A x 0 0 0 0\nD 11A x 44 0 0 0\n");
    EXPECT_EQ(map_get_default_radio_channel("US", 2, 1, 0), 0);
    EXPECT_EQ(map_get_default_radio_channel("US", 1, 1, 0), 44);
}

TEST_F(RegDomain, OverLongLinesAreDroppedWhole) {
    // 255 characters is the longest line; the tail of a longer one must not
    // become a line of its own.
    std::string fits = "GB\tDG\tDG DG\t#\t";
    fits += std::string(255 - fits.size(), 'n');
    std::string too_long = "FR\tDG\tDG DG\t#\t";
    too_long += std::string(256 - too_long.size(), 'n');
    const std::string tail_as_line =
        std::string(255, 'x') + country("QQ", "DG", "DG", "DG");  // QQ starts at 256
    std::string long_domain = "DG 11A x 44 0 0 0 ";               // a good line, but too long
    long_domain += std::string(300 - long_domain.size(), 'z');
    table("[country codes]\n" + fits + "\n" + too_long + "\n" + tail_as_line +
          std::string(300, '#') + "\n" + country("US", "DG", "DG", "DG") +
          "[regulatory domains]\n" + long_domain + "\n" + std::string(300, 'q') + "\n" +
          "DG 11A x 36 0 0 0\n" + "DG 11G x 6 0 0 0\n");
    std::string out = captured(0, [] {
        EXPECT_EQ(map_get_valid_radio_modes("GB"), 5);
        EXPECT_EQ(map_get_valid_radio_modes("US"), 5);
        EXPECT_EQ(map_get_valid_radio_modes("FR"), 0);
        EXPECT_EQ(map_get_valid_radio_modes("QQ"), 0);
        EXPECT_EQ(map_get_default_radio_channel("GB", 1, 1, 0), 36);
        EXPECT_EQ(map_get_default_radio_channel("US", 2, 1, 0), 6);
    });
    EXPECT_TRUE(contains(out, "Line longer than 255 characters")) << out;
}

TEST_F(RegDomain, OversizedWordsAndGarbageNeverOverrun) {
    // Words longer than the 32-character fields, binary bytes, a file without a
    // final newline: all refused or cut, under the sanitizers without a report.
    const std::string long_word(120, 'W');
    struct row {
        std::string text;
        int modes;
    };
    const std::vector<row> rows = {
        // A domain name of 120 characters on the country line: the pieces
        // name no domain that exists.
        {"[country codes]\n" + country("US", long_word, long_word, long_word) +
             "[regulatory domains]\nD 11A x 36 0 0 0\n",
         0},
        // The same on a domain line: it no longer has seven fields.
        {"[country codes]\n" + country("US", "D", "D", "D") + "[regulatory domains]\n" + long_word +
             " 11A x 36 0 0 0\n",
         -1},
        // A country line with the code alone.
        {"[country codes]\nUS\n[regulatory domains]\nD 11A x 36 0 0 0\n", 0},
        // Bytes that are not text, and a NUL inside a line.
        {"[country codes]\n" + country("US", "D", "D", "D") + "[regulatory domains]\n" +
             std::string("D 11A\0 x 36 0 0 0\n", 18) + "\xff\xfe\x01\n",
         -1},
        // No newline at the end of the last line.
        {"[country codes]\n" + country("US", "D", "D", "D") +
             "[regulatory domains]\nD 11G x 6 0 0 0",
         4},
    };
    for (const auto& r : rows) {
        table(r.text);
        EXPECT_EQ(map_get_valid_radio_modes("US"), r.modes) << r.text;
        int channel = map_get_default_radio_channel("US", 2, 1, 0);
        EXPECT_EQ(channel, r.modes == 4 ? 6 : 0) << r.text;
    }
}

TEST_F(RegDomain, CountryChangePutsTheRadiosBack) {
    table(kTable);
    make_radios(2);
    struct row {
        const char* wlan0;
        const char* wlan1;
    };
    const row rows[] = {{"up", "up"}, {"up", "down"}, {"down", "up"}, {"down", "down"}};
    const char* codes[] = {"US", "na", "XX", "US"};
    int i = 0;
    for (const auto& r : rows) {
        ASSERT_TRUE(db_set("radio", "wlan0", "status", r.wlan0));
        ASSERT_TRUE(db_set("radio", "wlan1", "status", r.wlan1));
        char* error = nullptr;
        int rc = 0;
        std::string out =
            captured(MAP_TRACE_CONFIG, [&] { rc = map_reg_country_code_set(codes[i], &error); });
        EXPECT_EQ(rc, 0) << codes[i];
        EXPECT_EQ(error, nullptr);
        free(error);
        EXPECT_EQ(db_get("system", nullptr, "country"), codes[i]);
        EXPECT_EQ(db_get("radio", "wlan0", "status"), r.wlan0);
        EXPECT_EQ(db_get("radio", "wlan1", "status"), r.wlan1);
        EXPECT_TRUE(contains(out, std::string("Successful in setting country code to ") + codes[i]))
            << out;
        ++i;
    }
}

TEST_F(RegDomain, CountryChangeOnOneRadioCreatesNoSecond) {
    table(kTable);
    make_radios(1);
    ASSERT_TRUE(db_set("radio", "wlan0", "status", "up"));
    char* error = nullptr;
    EXPECT_EQ(map_reg_country_code_set("US", &error), 0);
    free(error);
    EXPECT_EQ(db_get("radio", "wlan0", "status"), "up");
    EXPECT_EQ(map_dman_lsql_get_num_radios(), 1);
    EXPECT_EQ(map_dman_lsql_is_radio_instance_exist("wlan1"), -1);
}

TEST_F(RegDomain, RefusedCountryLeavesTheRadiosDown) {
    struct row {
        const char* why;
        std::string table;  // "" = no file
        const char* country;
        unsigned failing_write;  // 0 = none
        const char* error;
    };
    const std::string six_fields = kTable + "US_A 11A x 36 0 0\n";
    const row rows[] = {
        {"unknown country", kTable, "ZZ", 0, "Invalid country code"},
        {"no table", "", "US", 0, "Invalid country code"},
        {"malformed domain line", six_fields, "US", 0, "Invalid country code"},
        {"no mode at all", kTable, "N4", 0, "Invalid country code"},
        {"country write fails", kTable, "US", 2, "Error in the setting of Country Code"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        if (r.table.empty()) {
            std::remove(sb.path(MAP_REG_DOMAINS_FILE).c_str());
        } else {
            table(r.table);
        }
        make_radios(2);
        ASSERT_TRUE(db_set("radio", "wlan0", "status", "up"));
        ASSERT_TRUE(db_set("radio", "wlan1", "status", "up"));
        ASSERT_TRUE(db_set("system", nullptr, "country", "DE"));
        lsqlquery_fail_nth_write(r.failing_write);
        char* error = nullptr;
        int rc = 0;
        std::string out = captured(0, [&] { rc = map_reg_country_code_set(r.country, &error); });
        lsqlquery_fail_nth_write(0);
        EXPECT_EQ(rc, -1);
        ASSERT_NE(error, nullptr);
        EXPECT_STREQ(error, r.error);
        EXPECT_LE(strlen(error), static_cast<size_t>(MAP_REG_ERROR_LEN));
        free(error);
        EXPECT_TRUE(contains(out, r.error)) << out;
        EXPECT_EQ(db_get("system", nullptr, "country"), "DE");
        EXPECT_EQ(db_get("radio", "wlan0", "status"), "down");
        EXPECT_EQ(db_get("radio", "wlan1", "status"), "down");
    }
}

TEST_F(RegDomain, FailingRadioDownWriteChangesNothing) {
    table(kTable);
    make_radios(2);
    ASSERT_TRUE(db_set("radio", "wlan0", "status", "up"));
    lsqlquery_fail_nth_write(1);
    char* error = nullptr;
    EXPECT_EQ(map_reg_country_code_set("US", &error), -1);
    free(error);
    lsqlquery_fail_nth_write(0);
    EXPECT_EQ(db_get("system", nullptr, "country"), "<absent>");
    EXPECT_EQ(db_get("radio", "wlan0", "status"), "up");
    // A null error slot is accepted.
    EXPECT_EQ(map_reg_country_code_set("ZZ", nullptr), -1);
    EXPECT_EQ(db_get("radio", "wlan0", "status"), "down");
}

TEST_F(RegDomain, TwinTableServesItsCountries) {
    const std::string text = mapd_test::read_file(MAPD_TWIN_REG_DOMAINS);
    ASSERT_NE(text, "<missing>");
    table(text);
    size_t longest = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        longest = std::max(longest, end - start);
        start = end + 1;
    }
    EXPECT_LT(longest, 255u);

    const char* codes[] = {"US", "CA", "MX", "BR", "GB", "DE", "FR", "ES", "IT",
                           "NL", "JP", "KR", "AU", "NZ", "IN", "CN", "ID"};
    int with_11a = 0;
    int with_all = 0;
    int without_11a = 0;
    for (const char* code : codes) {
        SCOPED_TRACE(code);
        int modes = map_get_valid_radio_modes(code);
        ASSERT_GT(modes, 0);
        EXPECT_EQ(modes & (MAP_REG_MODE_11B | MAP_REG_MODE_11G),
                  MAP_REG_MODE_11B | MAP_REG_MODE_11G);
        with_all += modes == 15 ? 1 : 0;
        // 2.4 GHz channels for modes 2, 4 and 6, lower and upper.
        for (int mode : {2, 4, 6}) {
            for (int upper : {0, 1}) {
                int channel = map_get_default_radio_channel(code, mode, 2, upper);
                EXPECT_GE(channel, 1) << "mode " << mode;
                EXPECT_LE(channel, 13) << "mode " << mode;
            }
        }
        // 5 GHz channels for modes 1, 3 and 5 where the country has 11A.
        for (int mode : {1, 3, 5}) {
            for (int bandwidth : {1, 2}) {
                for (int upper : {0, 1}) {
                    int channel = map_get_default_radio_channel(code, mode, bandwidth, upper);
                    if ((modes & MAP_REG_MODE_11A) != 0) {
                        EXPECT_GE(channel, 36) << "mode " << mode;
                        EXPECT_LE(channel, 165) << "mode " << mode;
                        EXPECT_TRUE(channel % 4 == 0 || channel % 4 == 1) << channel;
                    } else {
                        EXPECT_EQ(channel, 0) << "mode " << mode;
                    }
                }
            }
        }
        if ((modes & MAP_REG_MODE_11A) != 0) {
            ++with_11a;
        } else {
            ++without_11a;
        }
        // Turbo channels only where domain A has a turbo band.
        int turbo = map_get_default_radio_channel(code, 8, 1, 0);
        EXPECT_EQ(turbo != 0, (modes & MAP_REG_MODE_TURBO) != 0) << turbo;
    }
    EXPECT_GE(with_11a, 10);
    EXPECT_GE(without_11a, 1);
    EXPECT_GE(with_all, 1);
    // A few channels a reader of the table would expect.
    EXPECT_EQ(map_get_default_radio_channel("US", 1, 1, 0), 36);
    EXPECT_EQ(map_get_default_radio_channel("US", 3, 2, 1), 40);
    EXPECT_EQ(map_get_default_radio_channel("de", 2, 1, 0), 6);
    EXPECT_EQ(map_get_default_radio_channel("CN", 1, 1, 0), 149);
    EXPECT_EQ(map_get_valid_radio_modes("ID") & MAP_REG_MODE_11A, 0);
}
