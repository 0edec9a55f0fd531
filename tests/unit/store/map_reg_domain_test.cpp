// The regulatory table: valid modes, default channels and the country change,
// each test with its own sandbox root, table file and database.
#include "store/map_reg_domain.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "store_test_util.hpp"

using namespace config_test;

namespace {

// A country line: code, domains A, B and C, name.
std::string country(const std::string& code, const std::string& a, const std::string& b,
                    const std::string& c) {
    return code + "\t" + a + "\t" + b + " " + c + "\t#\tSomewhere\n";
}

// Domain lines: one per band, with its default channel.
std::string domain(const std::string& name,
                   std::initializer_list<std::pair<const char*, int>> bands) {
    std::string out;
    for (const auto& [band, channel] : bands) {
        out += name + " " + band + " x " + std::to_string(channel) + " 0 0 0\n";
    }
    return out;
}

// A table whose countries each show one rule: US every mode bit from another
// domain and the order rules of the default channel, listed twice (the first
// line wins); XX channels that tell which domain answered; PF domain names
// matched on their beginning for channels, whole for modes; NA no 11A band;
// N4 only 40 MHz bands, which carry channels but no mode bits.
const std::string kTable =
    "# test table\n[country codes]\n# code\tA\tB C\t#\tname\n" +
    country("US", "US_T", "US_BG", "US_A") + country("us", "DA", "DB", "DC") +
    country("XX", "DA", "DB", "DC") + country("PF", "PFA", "PFA", "PFA") +
    country("NA", "NONE", "NA_BG", "NONE") + country("N4", "N40", "N40", "N40") + R"(
[regulatory domains]
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
)" + domain("DA", {{"11A", 52}, {"11G", 2}, {"TURBO", 50}}) +
    domain("DB", {{"11B", 1}, {"11G", 7}, {"11A40L", 108}, {"11G40U", 8}, {"TURBO", 160}}) +
    domain("DC", {{"11A", 149}, {"11G", 11}, {"11A40L", 157}, {"11A40U", 161}, {"11G40L", 9}}) +
    domain("PFA_OUT", {{"11A", 100}, {"11G", 11}}) + domain("pfa", {{"11A", 36}}) +
    domain("NA_BG", {{"11B", 1}, {"11G", 6}}) + domain("N40", {{"11A40L", 36}, {"11G40U", 5}});

class RegDomain : public db_test {
protected:
    void table(const std::string& text) { sb.write(MAP_REG_DOMAINS_FILE, text); }
};

}  // namespace

TEST_F(RegDomain, ValidModesOrTheBitsOfAllThreeDomains) {
    table(kTable);
    // clang-format off
    const struct { const char* country; int modes; } rows[] = {
        {"US", 15},   // TURBO from A, 11B and 11G from B, 11A from C
        {"uS", 15},   // case is ignored
        {"USA", 15},  // only the first two characters count
        {"XX", 15},   // bits of all three domains together
        {"PF", 1},    // "PFA_OUT" is not "PFA": its 11G adds nothing
        {"NA", 6},    // no 11A band
        {"N4", 0},    // 40 MHz bands carry no mode bit
        {"ZZ", 0}, {"U", 0}, {nullptr, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(map_get_valid_radio_modes(r.country), r.modes) << (r.country ? r.country : "");
    }
}

TEST_F(RegDomain, DefaultChannelByModeBandwidthAndUpper) {
    table(kTable);
    const struct { const char* country; int mode, bandwidth, upper, channel; const char* why; } rows[] = {
        // Ordering rules, on US.
        {"us", 8, 1, 0, 42, "the first US line wins: turbo of US_T, not DA's 50"},
        {"US", 1, 1, 0, 149, "a 0 in 11A goes on searching; 11A40L is no 11A"},
        {"US", 2, 1, 0, 6, "11G, not 11B or 11G40U"},
        {"US", 3, 1, 0, 149, "3 at 20 MHz takes 11A"},
        {"US", 3, 2, 0, 36, "3 at 40 MHz lower: 11A40L"},
        {"US", 3, 2, 1, 153, "3 at 40 MHz upper skips the 11A lines before 11A40U"},
        {"US", 5, 2, 1, 153, "5 at 40 MHz upper"},
        {"US", 4, 1, 0, 5, "mode 4 at 20 MHz takes the first 11G40L or 11G40U line"},
        {"US", 4, 2, 1, 5, "mode 4 at 40 MHz upper, still the first of either"},
        {"US", 6, 2, 0, 5, "mode 6 like mode 4"},
        {"US", 7, 1, 0, 0, "mode 7 has no band"},
        // Which domain answers, on XX: A = DA, B = DB, C = DC.
        {"XX", 1, 1, 0, 149, "11A of C"}, {"XX", 2, 1, 0, 7, "11G of B"},
        {"XX", 3, 2, 0, 157, "11A40L of C"}, {"XX", 5, 2, 1, 161, "11A40U of C"},
        {"XX", 4, 1, 0, 8, "11G40U of B"}, {"XX", 8, 1, 0, 50, "turbo of A"},
        // Domain names are matched on their beginning, ignoring case.
        {"PF", 1, 1, 0, 100, "PFA_OUT begins with PFA"}, {"PF", 2, 1, 0, 11, "likewise"},
        // Bands the domain lacks.
        {"NA", 1, 1, 0, 0, "no 11A"}, {"N4", 3, 2, 0, 36, "11A40L"}, {"ZZ", 1, 1, 0, 0, "no such country"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(map_get_default_radio_channel(r.country, r.mode, r.bandwidth, r.upper), r.channel)
            << r.country << " mode " << r.mode << "/" << r.bandwidth << "/" << r.upper << ": "
            << r.why;
    }
}

TEST_F(RegDomain, MissingFileGivesZero) {
    std::string out = captured(0, [] {
        EXPECT_EQ(map_get_valid_radio_modes("US"), 0);
        EXPECT_EQ(map_get_default_radio_channel("US", 1, 1, 0), 0);
    });
    EXPECT_TRUE(contains(out, "Error in opening the reg domain file")) << out;
}

// Valid modes and the channels of modes 1 and 2 of "US" in tables with bad
// or unusual lines; none may be read past a word or line buffer.
TEST_F(RegDomain, MalformedOrUnusualTables) {
    const std::string cc = "[country codes]\n";
    const std::string rd = "[regulatory domains]\n";
    const std::string us = country("US", "D", "D", "D");
    const std::string d11a = "D 11A x 36 0 0 0\n";
    const std::string head = cc + country("US", "DA", "DB", "DC") + rd + "DC 11A x 36 0 0 0\n";
    const std::string tail = "DB 11G x 6 0 0 0\nDB 11B x 1 0 0 0\n";
    const std::string word(120, 'W');
    std::string fits = "US\tD\tD D\t#\t";  // 255 characters, the longest line
    fits += std::string(255 - fits.size(), 'n');
    const struct { std::string text; int modes, channel_1, channel_2; } rows[] = {
        // Section names are whole lines, exactly; either order works.
        {"[Country Codes]\n" + us + rd + d11a, 0, 0, 0},
        {cc + "[other]\n" + us + rd + d11a, 0, 0, 0},  // "[" ends the section
        {rd + d11a + cc + us, 1, 36, 0},
        // A bad domain line ends the scan, even in a domain nobody asked for.
        {head + "DB 11G x 6 0 0\n" + tail, -1, 36, 0},
        {head + "DB 11G x six 0 0 0\n" + tail, -1, 36, 0},
        {head + "   \t\n" + tail, 7, 36, 6},                    // blank lines are skipped
        {head + "# DB 11G x 1 0 0 0\n" + tail, 7, 36, 6},       // so are comments
        {head + "DB 11G x 0 0 0 0\n" + tail, 7, 36, 0},         // a 0 outside 11A ends the search
        {head + "[end]\nDB 11B x 1 0 0 0\n" + tail, 1, 36, 0},  // "[" ends the section
        // Words longer than the 32-character fields, binary bytes, no final newline.
        {cc + country("US", word, word, word) + rd + d11a, 0, 0, 0},
        {cc + us + rd + word + " 11A x 36 0 0 0\n", -1, 0, 0},
        {cc + us + rd + std::string("D 11A\0 x 36 0 0 0\n", 18) + "\xff\xfe\x01\n", -1, 0, 0},
        {cc + us + rd + "D 11G x 6 0 0 0", 4, 0, 6},
        // Over-long lines are dropped whole: their tail is no line of its own.
        {cc + fits + "\n" + rd + d11a, 1, 36, 0},
        {cc + fits + "n\n" + rd + d11a, 0, 0, 0},
        {cc + std::string(255, 'x') + us + rd + d11a, 0, 0, 0},
        {cc + us + rd + "D 11G x 6 0 0 0 " + std::string(240, 'z') + "\n" + d11a, 1, 36, 0},
    };
    for (const auto& r : rows) {
        table(r.text);
        EXPECT_EQ(map_get_valid_radio_modes("US"), r.modes) << r.text;
        EXPECT_EQ(map_get_default_radio_channel("US", 1, 1, 0), r.channel_1) << r.text;
        EXPECT_EQ(map_get_default_radio_channel("US", 2, 1, 0), r.channel_2) << r.text;
    }
}

// The country is written with the radios held down; they come back as they
// were when it worked, and stay down when it was refused.
TEST_F(RegDomain, CountryChange) {
    const struct {
        const char* why; std::string table; const char* country; unsigned failing_write;
        const char* wlan0; const char* wlan1; int rc; const char* error; const char* country_after; const char* after;
    } rows[] = {  // the radios' status before, and both afterwards
        {"both up", kTable, "US", 0, "up", "up", 0, nullptr, "US", "up up"},
        {"lower case", kTable, "na", 0, "up", "down", 0, nullptr, "na", "up down"},
        {"second up", kTable, "XX", 0, "down", "up", 0, nullptr, "XX", "down up"},
        {"both down", kTable, "US", 0, "down", "down", 0, nullptr, "US", "down down"},
        {"unknown country", kTable, "ZZ", 0, "up", "up", -1, "Invalid country code", "DE", "down down"},
        {"no table", "", "US", 0, "up", "up", -1, "Invalid country code", "DE", "down down"},
        {"six fields", kTable + "US_A 11A x 36 0 0\n", "US", 0, "up", "up", -1, "Invalid country code", "DE", "down down"},
        {"no mode at all", kTable, "N4", 0, "up", "up", -1, "Invalid country code", "DE", "down down"},
        {"country write fails", kTable, "US", 2, "up", "up", -1, "Error in the setting of Country Code", "DE", "down down"},
        {"radio-down write fails", kTable, "US", 1, "up", "up", -1, nullptr, "DE", "up up"},
    };
    // clang-format on
    make_radios(2);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        std::remove(sb.path(MAP_REG_DOMAINS_FILE).c_str());
        if (!r.table.empty())
            table(r.table);
        ASSERT_TRUE(db_set("radio", "wlan0", "status", r.wlan0));
        ASSERT_TRUE(db_set("radio", "wlan1", "status", r.wlan1));
        ASSERT_TRUE(db_set("system", nullptr, "country", "DE"));
        lsqlquery_fail_nth_write(r.failing_write);
        char* error = nullptr;
        std::string out = captured(MAP_TRACE_CONFIG, [&] {
            EXPECT_EQ(map_reg_country_code_set(r.country, &error), r.rc);
        });
        lsqlquery_fail_nth_write(0);
        if (r.rc == 0) {
            EXPECT_EQ(error, nullptr);
            EXPECT_TRUE(
                contains(out, "Successful in setting country code to " + std::string(r.country)));
        } else if (r.error != nullptr) {
            EXPECT_STREQ(error, r.error);
            EXPECT_TRUE(contains(out, r.error)) << out;
        }
        free(error);
        EXPECT_EQ(db_get("system", nullptr, "country"), r.country_after);
        EXPECT_EQ(db_get("radio", "wlan0", "status") + " " + db_get("radio", "wlan1", "status"),
                  r.after);
    }
    // One radio: the missing second one is not created.
    ASSERT_EQ(lsqlquery_delete_pv("radio", "wlan1", nullptr), 0);
    EXPECT_EQ(map_reg_country_code_set("US", nullptr), 0);
    EXPECT_EQ(map_dman_lsql_get_num_radios(), 1);
}
