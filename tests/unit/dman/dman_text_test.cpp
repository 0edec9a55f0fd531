// The plain-text configuration format: parsing, quoting, loading (all or
// nothing) and dumping so that a dump loads back to the same database.
#include <cstdio>

#include "dman/dman_text.hpp"
#include "unit/dman/dman_test_util.hpp"

namespace {

using namespace dman_test;

// A parsed line in one text: "+ class/instance@qname=qvalue {p=v}{p=v}".
std::string describe(const dman_text_line& l) {
    const dman_text_address& a = l.address;
    std::string out = (l.insert ? "+ " : "") + a.cls + (a.has_instance ? "/" + a.instance : "") +
                      (a.has_qualifier ? "@" + a.qual_name + "=" + a.qual_value : "") + " ";
    for (const auto& n : l.nodes) {
        out += "{" + n.property + "=" + n.value + "}";
    }
    return l.blank ? "blank" : out;
}

TEST(DmanText, ParsesEachKindOfLine) {
    const std::string kLongest(LSQLQUERY_NAME_MAX, 'p');
    const std::string cases[][2] = {
        // the line; its description, or "error: <part of the message>"
        {"", "blank"},
        {"  # radio/wlan0 mode = a", "blank"},
        {"radio/wlan0 mode=a-n\r", "radio/wlan0 {mode=a-n}"},
        {"radio/wlan0 description =  IEEE 802.11a  ", "radio/wlan0 {description=IEEE 802.11a}"},
        {"vap/vap0@wlan0 ssid = guest", "vap/vap0@radio=wlan0 {ssid=guest}"},
        {"acl/a%20b + acl-type = ipv4; rule-count = 0", "+ acl/a b {acl-type=ipv4}{rule-count=0}"},
        {"system pass = #not a comment", "system {pass=#not a comment}"},
        {"system pass =", "system {pass=}"},
        {R"(system pass = "a;b\"c\\d\te" ; x = "")", "system {pass=a;b\"c\\d\te}{x=}"},
        {R"(system pass = "\x01\n")", "system {pass=\x01\n}"},
        {"system +x = 1", "system {+x=1}"},
        {"radio/wlan0 mode", "error: '=' expected"},
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
        {"system p = " + std::string(LSQLQUERY_VALUE_MAX + 1, 'v'), "error: longer than"},
        {"system " + kLongest + "=1", "system {" + kLongest + "=1}"},
        {"system " + std::string(LSQLQUERY_NAME_MAX + 1, 'p') + " = 1", "error: longer than"},
    };
    for (const auto& [text, want] : cases) {
        dman_text_line line;
        std::string error;
        int rc = dman_text_parse_line(text, line, error);
        if (want.rfind("error: ", 0) == 0) {
            EXPECT_EQ(rc, -1) << text;
            EXPECT_NE(error.find(want.substr(7)), npos) << text << " -> " << error;
        } else {
            EXPECT_EQ(rc == 0 ? describe(line) : error, want) << text;
        }
    }
}

TEST(DmanText, AwkwardNamesAndValuesSurviveFormatAndParse) {
    const char* names[] = {"a b", "x/y", "p@q", "100%", "k=v", "semi;", "#c", "+", "q\"", "tab\t"};
    const char* values[] = {"",          " lead",       "trail ",    "\"quoted",    "a;b",
                            "tab\there", "line\nbreak", "\x7f",      "caf\xc3\xa9", "#hash",
                            "=eq",       "back\\slash", "plain text"};
    std::vector<dman_row> rows;
    for (size_t i = 0; i < std::size(values); ++i) {
        std::string n = names[i % std::size(names)];
        rows.push_back({int64_t(i), n, n + "\xc3\xa9" + std::to_string(i), {{n, values[i]}}});
    }
    std::vector<std::string> lines = dman_text_lines(rows);
    ASSERT_EQ(lines.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        dman_text_line line;
        std::string error;
        EXPECT_EQ(dman_text_parse_line(lines[i], line, error), 0) << lines[i] << ": " << error;
        EXPECT_EQ(lines[i].find_first_of("\t\n\r"), npos) << lines[i];
        const dman_row& r = rows[i];
        EXPECT_EQ(describe(line), r.cls + "/" + r.instance + " {" + r.cells[0].property + "=" +
                                      r.cells[0].value + "}")
            << lines[i];
    }
}

// Loads `text` as a file.
int load_text(std::string text, bool replace, std::string& error) {
    FILE* f = fmemopen(text.data(), text.size(), "r");
    int rc = dman_text_load(f, replace, error);
    fclose(f);
    return rc;
}

// As a dump writes it: rows told apart by a property are qualified by it (a
// lone VAP row too; a row of its qualifier alone writes it), others are "+".
const char* const kSample =
    "system country = US\n"
    "radio/wlan0 mode = a-n\n"
    "radio/wlan1 mode = bg-n\n"
    "vap/vap0@wlan0 redirect-url = guest\n"
    "vap/vap0@wlan1 redirect-url = \"semi;colon\"\n"
    "vap/vap0@wlan1 status = up\n"
    "vap/vap9@wlan1 status = down\n"
    "basic-rate/wlan0 + rate = 24\n"
    "basic-rate/wlan0 + rate = 12\n"
    "tx-queue/wlan0@queue=data0 aifs = 1\n"
    "tx-queue/wlan0@queue=data1 queue = data1\n"
    "acl/x + acl-type = ipv4; rule-count = 0\n"
    "acl/x + acl-type = ipv4; rule-count = 0\n";

TEST_F(Dman, LoadWritesTheFileAndDumpLoadsBackTheSame) {
    std::string error;
    ASSERT_EQ(load_text(std::string("# sample\n") + kSample, true, error), 0) << error;
    EXPECT_EQ(get("vap", "vap0", "redirect-url", "wlan1"), "semi;colon");
    EXPECT_EQ(grid("basic-rate", "wlan0"), "rate=24|rate=12");
    EXPECT_EQ(dump(), kSample);
    // Loading the dump replaces the configuration with the same one.
    ASSERT_EQ(set("radio", "wlan0", "mode", "a"), 0);
    ASSERT_EQ(set("ntp", nullptr, "status", "up"), 0);
    ASSERT_EQ(load_text(kSample, true, error), 0) << error;
    EXPECT_EQ(dump(), kSample);
    // Merging adds to what is there.
    ASSERT_EQ(load_text("ntp status = down\nbasic-rate/wlan0 + rate = 6\n", false, error), 0);
    EXPECT_EQ(get("ntp", nullptr, "status"), "down");
    EXPECT_EQ(get("radio", "wlan0", "mode"), "a-n");
    EXPECT_EQ(grid("basic-rate", "wlan0"), "rate=24|rate=12|rate=6");
}

TEST_F(Dman, ALoadThatFailsAnywhereWritesNothing) {
    std::string error;
    ASSERT_EQ(load_text(kSample, true, error), 0) << error;
    const std::string ntp = "ntp status = down\n";
    const std::string cases[][2] = {
        {ntp + "radio/wlan0 mode\n", "line 2: '=' expected"},
        {ntp + "ntp speed = 1\n", "line 2: unknown property \"speed\" of class \"ntp\""},
        // From a file, no instance is the single instance, which a radio is not.
        {ntp + "radio status = up\n", "line 2: no instance given for class \"radio\""},
        {ntp, "database write failed"},
        {"ntp x = " + std::string(DMAN_TEXT_LINE_MAX, 'x') + "\n", "line 1: longer than"},
        {std::string("ntp x = a\0b\n", 12), "line 1: NUL"},
    };
    for (const auto& [text, message] : cases) {
        lsqlquery_fail_nth_write(text == ntp ? 1 : 0);
        EXPECT_EQ(load_text(text, true, error), -1) << message;
        EXPECT_NE(error.find(message), npos) << message << ": " << error;
        EXPECT_EQ(dump(), kSample) << message;
    }
}

}  // namespace
