// Plain-text form of the configuration database, read by "dmanctl load" and
// written by "dmanctl dump".  One property (or one row) per line:
//
//   # a comment: a line whose first non-blank character is '#'
//   system country = US                     the single instance of a class
//   radio/wlan0 mode = a-n                  instance "wlan0"
//   vap/vap0@wlan0 ssid = guest             VAP "vap0" of radio "wlan0"
//   tx-queue/wlan0@queue=data0 aifs = 1     the row whose "queue" is "data0"
//   basic-rate/wlan0 + rate = 24            a new row of a multi-row class
//   acl/guests + acl-type = ipv4; rule-count = 0   several properties at once
//
// A value runs to ';' or to the end of the line, blanks around it dropped.
// A value that is empty, has blanks at an end, begins with '"', or holds ';'
// or control characters is written in double quotes with the escapes \",
// \\, \n, \r, \t and \xHH.  A name holding anything but letters, digits and
// -_.:,~!*()[]{}<>|^$&'? is written with %HH escapes.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "dman/dman_store.hpp"

// Longest line read; a longer one is an error.
inline constexpr size_t DMAN_TEXT_LINE_MAX = 65536;
// Most lines one file may hold.
inline constexpr size_t DMAN_TEXT_LINES_MAX = 100000;

// "CLASS[/INSTANCE][@QUALIFIER]", unescaped.
struct dman_text_address {
    std::string cls;
    bool has_instance = false;
    std::string instance;
    bool has_qualifier = false;
    std::string qual_name;  // "radio" for the short form "@wlan0"
    std::string qual_value;
};

struct dman_text_line {
    bool blank = true;    // empty or a comment
    bool insert = false;  // "+": the nodes form a new row
    dman_text_address address;
    std::vector<dman_cell> nodes;
};

int dman_text_parse_address(std::string_view text, dman_text_address& out, std::string& error);
int dman_text_parse_line(std::string_view line, dman_text_line& out, std::string& error);

// Writes one parsed line to the database.  An address without an instance
// names every instance of the class when `all_instances` (the command line),
// else the single instance (files).
int dman_text_apply(const dman_text_line& line, bool all_instances, std::string& error);

// Reads a whole file and writes it in one transaction: all or nothing.  With
// `replace`, the running configuration is emptied first.  Errors name the line.
int dman_text_load(FILE* in, bool replace, std::string& error);

// One row as the text shows it: its address, and whether it is written as a
// new row ("+").
struct dman_text_row {
    std::string address;
    bool insert = false;
    std::string qualifier;  // the property the address qualifies by, if any
    const dman_row* row = nullptr;
};
// The addresses that recreate `rows` (as loaded, in creation order).
std::vector<dman_text_row> dman_text_rows(const std::vector<dman_row>& rows);
// The lines (without newlines) that recreate `rows`.
std::vector<std::string> dman_text_lines(const std::vector<dman_row>& rows);
// Writes the lines of a class (null: everything).
int dman_text_dump(FILE* out, const char* cls, dman_copy copy, std::string& error);

std::string dman_text_escape_name(std::string_view name);
std::string dman_text_quote_value(std::string_view value);
