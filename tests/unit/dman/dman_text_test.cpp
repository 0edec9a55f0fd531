// The plain-text configuration format: parsing, quoting, loading (all or
// nothing) and dumping so that a dump loads back to the same database.
#include <cstdio>
#include <string>
#include <vector>

#include "dman/dman_store.hpp"
#include "dman/dman_text.hpp"
#include "dman/lsqlquery.hpp"
#include "unit/dman/dman_test_util.hpp"

namespace {

using dman_test::Dman;
using dman_test::get;
using dman_test::kAbsent;
using dman_test::set;
using dman_test::take_grid;

// A parsed line in one text: "+ class/instance@qname=qvalue {p=v}{p=v}".
std::string describe(const dman_text_line& l) {
    if (l.blank) {
        return "blank";
    }
    const dman_text_address& a = l.address;
    std::string out = std::string(l.insert ? "+ " : "") + a.cls;
    if (a.has_instance) {
        out += "/" + a.instance;
    }
    if (a.has_qualifier) {
        out += "@" + a.qual_name + "=" + a.qual_value;
    }
    out += " ";
    for (const auto& n : l.nodes) {
        out += "{" + n.property + "=" + n.value + "}";
    }
    return out;
}

TEST(DmanText, ParsesEachKindOfLine) {
    struct {
        std::string line;
        const char* want;  // the description, or "error: <part of the message>"
    } cases[] = {
        {"", "blank"},
        {"   \t ", "blank"},
        {"  # radio/wlan0 mode = a", "blank"},
        {"system country = US", "system {country=US}"},
        {"radio/wlan0 mode=a-n\r", "radio/wlan0 {mode=a-n}"},
        {"radio/wlan0 description =  IEEE 802.11a  ", "radio/wlan0 {description=IEEE 802.11a}"},
        {"vap/vap0@wlan0 ssid = guest", "vap/vap0@radio=wlan0 {ssid=guest}"},
        {"tx-queue/wlan0@queue=data0 aifs = 1", "tx-queue/wlan0@queue=data0 {aifs=1}"},
        {"basic-rate/wlan0 + rate = 24", "+ basic-rate/wlan0 {rate=24}"},
        {"acl/a%20b + acl-type = ipv4; rule-count = 0", "+ acl/a b {acl-type=ipv4}{rule-count=0}"},
        {"system pass = #not a comment", "system {pass=#not a comment}"},
        {"system pass = a=b", "system {pass=a=b}"},
        {"system pass =", "system {pass=}"},
        {R"(system pass = "a;b\"c\\d\te" ; x = "")", "system {pass=a;b\"c\\d\te}{x=}"},
        {R"(system pass = "\x01\n")", "system {pass=\x01\n}"},
        {"system +x = 1", "system {+x=1}"},
        {"radio/wlan0 mode", "error: '=' expected"},
        {"radio/wlan0", "error: property name expected"},
        {"radio/ mode = a", "error: instance name expected"},
        {"/wlan0 mode = a", "error: class name expected"},
        {"radio/wlan0@ mode = a", "error: qualifier name expected"},
        {"radio/wlan0/x mode = a", "error: unexpected '/'"},
        {"x%2 p = v", "error: bad %-escape"},
        {"x%zz p = v", "error: bad %-escape"},
        {"system p = \"abc", "error: without closing quote"},
        {"system p = \"a\\q\"", "error: unknown escape"},
        {"system p = \"\\x00\"", "error: bad \\x escape"},
        {"system p = \"x\" junk", "error: unexpected text"},
        {"system p = 1;", "error: property name expected"},
        {"system p = 1; = 2", "error: property name expected"},
        {"system p = " + std::string(LSQLQUERY_VALUE_MAX + 1, 'v'), "error: longer than"},
        {"system " + std::string(LSQLQUERY_NAME_MAX + 1, 'p') + " = 1", "error: longer than"},
    };
    for (const auto& c : cases) {
        dman_text_line line;
        std::string error;
        int rc = dman_text_parse_line(c.line, line, error);
        std::string got = rc == 0 ? describe(line) : "error: " + error;
        std::string want = c.want;
        if (want.rfind("error: ", 0) == 0) {
            EXPECT_NE(got.find(want.substr(7)), std::string::npos) << c.line << " -> " << got;
            EXPECT_EQ(rc, -1) << c.line;
        } else {
            EXPECT_EQ(got, want) << c.line;
        }
    }
}

TEST(DmanText, AwkwardNamesAndValuesSurviveFormatAndParse) {
    const std::vector<std::string> values = {
        "",     " lead",       "trail ", "\"quoted", "a;b",         "tab\there", "line\nbreak",
        "\x7f", "caf\xc3\xa9", "#hash",  "=eq",      "back\\slash", "plain text"};
    const std::vector<std::string> names = {"a b", "x/y", "p@q", "100%",  "k=v",     "semi;",
                                            "#c",  "+",   "q\"", "tab\t", "\xc3\xa9"};
    std::vector<dman_row> rows;
    int64_t id = 1;
    for (const auto& v : values) {
        rows.push_back({id, "cls", "inst" + std::to_string(id), {{"p", v}}});
        ++id;
    }
    for (const auto& n : names) {
        rows.push_back({id++, n, n, {{n, "v"}}});
    }
    std::vector<std::string> lines = dman_text_lines(rows);
    ASSERT_EQ(lines.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        dman_text_line line;
        std::string error;
        ASSERT_EQ(dman_text_parse_line(lines[i], line, error), 0) << lines[i] << ": " << error;
        EXPECT_FALSE(line.insert);
        EXPECT_EQ(line.address.cls, rows[i].cls) << lines[i];
        EXPECT_EQ(line.address.instance, rows[i].instance) << lines[i];
        ASSERT_EQ(line.nodes.size(), 1u) << lines[i];
        EXPECT_EQ(line.nodes[0].property, rows[i].cells[0].property) << lines[i];
        EXPECT_EQ(line.nodes[0].value, rows[i].cells[0].value) << lines[i];
    }
    for (const auto& l : lines) {
        EXPECT_EQ(l.find_first_of("\t\n\r"), std::string::npos) << l;
    }
}

TEST(DmanText, RowsAreWrittenInTheFormThatRecreatesThem) {
    std::vector<dman_row> rows = {
        {1, "system", "", {{"country", "US"}, {"band-plan", "FCC"}}},
        {2, "vap", "vap0", {{"radio", "wlan0"}, {"ssid", "a"}}},
        {3, "vap", "vap0", {{"ssid", "b"}, {"radio", "wlan1"}}},
        {4, "vap", "vap9", {{"radio", "wlan1"}, {"ssid", "lone"}}},
        {5, "basic-rate", "wlan0", {{"rate", "24"}}},
        {6, "basic-rate", "wlan0", {{"rate", "12"}}},
        {7, "tx-queue", "wlan0", {{"queue", "data0"}, {"aifs", "1"}}},
        {8, "tx-queue", "wlan0", {{"queue", "data1"}}},
        {9, "acl", "x", {{"t", "ipv4"}, {"n", "0"}}},
        {10, "acl", "x", {{"t", "ipv4"}, {"n", "0"}}},
    };
    std::string got;
    for (const auto& l : dman_text_lines(rows)) {
        got += l + "\n";
    }
    EXPECT_EQ(got,
              "system country = US\n"
              "system band-plan = FCC\n"
              "vap/vap0@wlan0 ssid = a\n"
              "vap/vap0@wlan1 ssid = b\n"
              "vap/vap9@wlan1 ssid = lone\n"
              "basic-rate/wlan0 + rate = 24\n"
              "basic-rate/wlan0 + rate = 12\n"
              "tx-queue/wlan0@queue=data0 aifs = 1\n"
              "tx-queue/wlan0@queue=data1 queue = data1\n"
              "acl/x + t = ipv4; n = 0\n"
              "acl/x + t = ipv4; n = 0\n");
}

// Loads `text` through a temporary file.
int load_text(const std::string& text, bool replace, std::string& error) {
    FILE* f = tmpfile();
    if (f == nullptr) {
        return -2;
    }
    fwrite(text.data(), 1, text.size(), f);
    rewind(f);
    int rc = dman_text_load(f, replace, error);
    fclose(f);
    return rc;
}

std::string dump_all() {
    std::vector<dman_row> rows;
    std::string error;
    EXPECT_EQ(dman_store_load(nullptr, nullptr, dman_copy::running, rows, error), 0) << error;
    std::string out;
    for (const auto& l : dman_text_lines(rows)) {
        out += l + "\n";
    }
    return out;
}

const char* const kSample =
    "# sample\n"
    "system country = US\n"
    "radio/wlan0 mode = a-n\n"
    "radio/wlan1 mode = bg-n\n"
    "vap/vap0@wlan0 ssid = guest\n"
    "vap/vap0@wlan1 ssid = \"semi;colon\"\n"
    "vap/vap0@wlan1 status = up\n"
    "basic-rate/wlan0 + rate = 24\n"
    "basic-rate/wlan0 + rate = 12\n"
    "tx-queue/wlan0@queue=data0 aifs = 1\n"
    "tx-queue/wlan0@queue=data2 aifs = 3\n"
    "acl/x + t = ipv4; n = 0\n"
    "acl/x + t = ipv4; n = 0\n";

TEST_F(Dman, LoadWritesTheFileAndDumpLoadsBackTheSame) {
    std::string error;
    ASSERT_EQ(load_text(kSample, true, error), 0) << error;
    EXPECT_EQ(get("vap", "vap0", "ssid", "wlan1"), "semi;colon");
    EXPECT_EQ(take_grid(lsqlquery_get_grid("basic-rate", "wlan0", nullptr, nullptr, 0)),
              "rate=24|rate=12");
    std::string first = dump_all();
    EXPECT_EQ("# sample\n" + first, kSample);

    // Loading the dump replaces the configuration with the same one.
    ASSERT_EQ(set("radio", "wlan0", "mode", "a"), 0);
    ASSERT_EQ(set("ntp", nullptr, "status", "up"), 0);
    ASSERT_EQ(load_text(first, true, error), 0) << error;
    EXPECT_EQ(dump_all(), first);

    // Merging adds to what is there.
    ASSERT_EQ(load_text("ntp status = down\nbasic-rate/wlan0 + rate = 6\n", false, error), 0);
    EXPECT_EQ(get("ntp", nullptr, "status"), "down");
    EXPECT_EQ(get("radio", "wlan0", "mode"), "a-n");
    EXPECT_EQ(take_grid(lsqlquery_get_grid("basic-rate", "wlan0", nullptr, nullptr, 0)),
              "rate=24|rate=12|rate=6");
}

TEST_F(Dman, ALoadThatFailsAnywhereWritesNothing) {
    std::string error;
    ASSERT_EQ(load_text(kSample, true, error), 0) << error;
    const std::string before = dump_all();
    struct {
        const char* name;
        std::string text;
        unsigned fail_write;
        const char* error;
    } cases[] = {
        {"syntax error", "ntp status = down\nradio/wlan0 mode\n", 0, "line 2: '=' expected"},
        {"refused by the database", "ntp status = down\nntp a%01b = 1\n", 0, "line 2:"},
        {"write fails", "ntp status = down\n", 1, "database write failed"},
        {"line too long", "ntp x = " + std::string(DMAN_TEXT_LINE_MAX, 'x') + "\n", 0,
         "line 1: longer than"},
        {"NUL in a line", std::string("ntp x = a\0b\n", 12), 0, "line 1: NUL"},
    };
    for (const auto& c : cases) {
        lsqlquery_fail_nth_write(c.fail_write);
        error.clear();
        EXPECT_EQ(load_text(c.text, true, error), -1) << c.name;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
        lsqlquery_fail_nth_write(0);
        EXPECT_EQ(dump_all(), before) << c.name;
        EXPECT_EQ(get("ntp", nullptr, "status"), kAbsent) << c.name;
    }
}

TEST_F(Dman, ApplyingALineFollowsItsAddress) {
    std::string error;
    ASSERT_EQ(load_text("radio/wlan0 mode = a\nradio/wlan1 mode = bg\n", true, error), 0);
    struct {
        const char* line;
        bool all_instances;
    } steps[] = {
        {"radio status = down", true},                     // every radio
        {"radio status = up", false},                      // the single instance, a new one
        {"tx-queue/wlan0@queue=data3 + aifs = 7", false},  // a new row holding the qualifier
    };
    for (const auto& s : steps) {
        dman_text_line line;
        ASSERT_EQ(dman_text_parse_line(s.line, line, error), 0) << s.line;
        ASSERT_EQ(dman_text_apply(line, s.all_instances, error), 0) << s.line << ": " << error;
    }
    EXPECT_EQ(take_grid(lsqlquery_get_grid("radio", nullptr, nullptr, nullptr, 0)),
              "mode=a,status=down|mode=bg,status=down|status=up");
    EXPECT_EQ(take_grid(lsqlquery_get_grid("tx-queue", "wlan0", nullptr, nullptr, 0)),
              "queue=data3,aifs=7");
}

}  // namespace
