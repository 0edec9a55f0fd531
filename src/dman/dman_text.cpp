#include "dman/dman_text.hpp"

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "dman/lsqlquery.hpp"

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool name_char_safe(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && strchr("-_.:,~!*()[]{}<>|^$&'?", c) != nullptr);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Two hex digits at s[i], s[i + 1]; -1 when they are not.
int hex_byte(std::string_view s, size_t i) {
    if (s.size() - i < 2) {
        return -1;
    }
    int hi = hex_digit(s[i]);
    int lo = hex_digit(s[i + 1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

void append_hex(std::string& out, char prefix_char, unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    out += prefix_char;
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (is_blank(s.back()) || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

// Undoes %HH escapes of a name; a raw separator is refused.
bool unescape_name(std::string_view in, const char* what, std::string& out, std::string& error) {
    out.clear();
    if (in.empty()) {
        error = std::string(what) + " name expected";
        return false;
    }
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '%') {
            int b = hex_byte(in, i + 1);
            if (b < 0) {
                error = std::string("bad %-escape in ") + what + " name";
                return false;
            }
            out += static_cast<char>(b);
            i += 2;
        } else if (strchr("/@=;\"", c) != nullptr || is_blank(c)) {
            error = std::string("unexpected '") + c + "' in " + what + " name";
            return false;
        } else {
            out += c;
        }
    }
    if (out.size() > LSQLQUERY_NAME_MAX) {
        error = std::string(what) + " name longer than " + std::to_string(LSQLQUERY_NAME_MAX);
        return false;
    }
    return true;
}

// A double-quoted value starting at s[i] == '"'; i ends after the closing quote.
bool parse_quoted(std::string_view s, size_t& i, std::string& out, std::string& error) {
    out.clear();
    for (++i; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= s.size()) {
            break;
        }
        switch (s[i]) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                int b = hex_byte(s, i + 1);
                if (b <= 0) {
                    error = "bad \\x escape in value";
                    return false;
                }
                out += static_cast<char>(b);
                i += 2;
                break;
            }
            default:
                error = std::string("unknown escape \\") + s[i] + " in value";
                return false;
        }
    }
    error = "value without closing quote";
    return false;
}

size_t skip_blanks(std::string_view s, size_t i) {
    while (i < s.size() && is_blank(s[i])) {
        ++i;
    }
    return i;
}

std::string format_address(const std::string& cls, const std::string& instance,
                           const std::string* qual_name, const std::string* qual_value) {
    std::string a = dman_text_escape_name(cls);
    if (!instance.empty()) {
        a += '/' + dman_text_escape_name(instance);
    }
    if (qual_name != nullptr) {
        a += '@';
        if (*qual_name != "radio") {
            a += dman_text_escape_name(*qual_name) + '=';
        }
        a += dman_text_escape_name(*qual_value);
    }
    return a;
}

// The property that tells apart the rows of one instance: each row holds it
// with a value of its own.  "radio" is preferred, then the first property of
// the first row that qualifies.  Null when there is none.
const std::string* distinguishing_property(const std::vector<const dman_row*>& rows) {
    static const std::string kRadio = "radio";
    std::vector<const std::string*> candidates{&kRadio};
    for (const auto& c : rows.front()->cells) {
        candidates.push_back(&c.property);
    }
    for (const std::string* p : candidates) {
        std::set<std::string_view> values;
        bool ok = true;
        for (const dman_row* r : rows) {
            const std::string* v = r->find(p->c_str());
            ok = v != nullptr && values.insert(*v).second;
            if (!ok) {
                break;
            }
        }
        if (ok) {
            return p;
        }
    }
    return nullptr;
}

// Reads one line of at most DMAN_TEXT_LINE_MAX characters; false at the end
// of the file.  `too_long` is set when the line had to be cut.
bool read_line(FILE* in, std::string& line, bool& too_long, bool& has_nul) {
    line.clear();
    too_long = false;
    has_nul = false;
    int c;
    bool any = false;
    while ((c = getc(in)) != EOF) {
        any = true;
        if (c == '\n') {
            return true;
        }
        if (c == '\0') {
            has_nul = true;
        }
        if (line.size() < DMAN_TEXT_LINE_MAX) {
            line += static_cast<char>(c);
        } else {
            too_long = true;
        }
    }
    return any;
}

}  // namespace

std::string dman_text_escape_name(std::string_view name) {
    std::string out;
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (name_char_safe(c)) {
            out += ch;
        } else {
            append_hex(out, '%', c);
        }
    }
    return out;
}

std::string dman_text_quote_value(std::string_view value) {
    bool plain = !value.empty() && !is_blank(value.front()) && !is_blank(value.back()) &&
                 value.front() != '"';
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        plain = plain && ch != ';' && c >= 0x20 && c != 0x7f;
    }
    if (plain) {
        return std::string(value);
    }
    std::string out = "\"";
    for (char ch : value) {
        auto c = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    out += '\\';
                    append_hex(out, 'x', c);
                } else {
                    out += ch;
                }
        }
    }
    return out + '"';
}

int dman_text_parse_address(std::string_view text, dman_text_address& out, std::string& error) {
    out = dman_text_address{};
    std::string_view left = text;
    size_t at = text.find('@');
    if (at != std::string_view::npos) {
        left = text.substr(0, at);
        std::string_view qual = text.substr(at + 1);
        size_t eq = qual.find('=');
        out.has_qualifier = true;
        if (eq == std::string_view::npos) {
            out.qual_name = "radio";
            if (!unescape_name(qual, "qualifier", out.qual_value, error)) {
                return -1;
            }
        } else if (!unescape_name(qual.substr(0, eq), "qualifier", out.qual_name, error) ||
                   !unescape_name(qual.substr(eq + 1), "qualifier value", out.qual_value, error)) {
            return -1;
        }
    }
    size_t slash = left.find('/');
    if (!unescape_name(left.substr(0, slash), "class", out.cls, error)) {
        return -1;
    }
    if (slash != std::string_view::npos) {
        out.has_instance = true;
        if (!unescape_name(left.substr(slash + 1), "instance", out.instance, error)) {
            return -1;
        }
    }
    return 0;
}

int dman_text_parse_line(std::string_view line, dman_text_line& out, std::string& error) {
    out = dman_text_line{};
    std::string_view s = trim(line);
    if (s.empty() || s.front() == '#') {
        return 0;
    }
    out.blank = false;
    size_t i = 0;
    while (i < s.size() && !is_blank(s[i])) {
        ++i;
    }
    if (dman_text_parse_address(s.substr(0, i), out.address, error) != 0) {
        return -1;
    }
    i = skip_blanks(s, i);
    if (i < s.size() && s[i] == '+' && (i + 1 == s.size() || is_blank(s[i + 1]))) {
        out.insert = true;
        i = skip_blanks(s, i + 1);
    }
    for (;;) {
        size_t start = i;
        while (i < s.size() && !is_blank(s[i]) && s[i] != '=' && s[i] != ';') {
            ++i;
        }
        dman_cell node;
        if (!unescape_name(s.substr(start, i - start), "property", node.property, error)) {
            return -1;
        }
        i = skip_blanks(s, i);
        if (i >= s.size() || s[i] != '=') {
            error = "'=' expected after " + node.property;
            return -1;
        }
        i = skip_blanks(s, i + 1);
        if (i < s.size() && s[i] == '"') {
            if (!parse_quoted(s, i, node.value, error)) {
                return -1;
            }
            i = skip_blanks(s, i);
        } else {
            size_t end = s.find(';', i);
            if (end == std::string_view::npos) {
                end = s.size();
            }
            node.value = std::string(trim(s.substr(i, end - i)));
            i = end;
        }
        if (node.value.size() > LSQLQUERY_VALUE_MAX) {
            error =
                "value of " + node.property + " longer than " + std::to_string(LSQLQUERY_VALUE_MAX);
            return -1;
        }
        out.nodes.push_back(std::move(node));
        if (i >= s.size()) {
            return 0;
        }
        if (s[i] != ';') {
            error = "unexpected text after the value of " + out.nodes.back().property;
            return -1;
        }
        i = skip_blanks(s, i + 1);
    }
}

int dman_text_apply(const dman_text_line& line, bool all_instances, std::string& error) {
    if (line.blank) {
        return 0;
    }
    const dman_text_address& a = line.address;
    const char* instance = a.has_instance ? a.instance.c_str() : all_instances ? nullptr : "";
    pv qualifier{const_cast<char*>(a.qual_name.c_str()), const_cast<char*>(a.qual_value.c_str()),
                 nullptr, nullptr};
    // A new row of a qualified address holds the qualifier too.
    pv* head = nullptr;
    pv* tail = nullptr;
    if (line.insert && a.has_qualifier) {
        head = tail = lsqlquery_new_pv_solo(a.qual_name.c_str(), a.qual_value.c_str());
        if (head == nullptr) {
            error = "out of memory";
            return -1;
        }
    }
    for (const auto& n : line.nodes) {
        pv* node = lsqlquery_new_pv(n.property.c_str(), n.value.c_str(), tail);
        if (node == nullptr) {
            lsqlquery_destroy_pv(head);
            error = "out of memory";
            return -1;
        }
        if (head == nullptr) {
            head = node;
        }
        tail = node;
    }
    char* text = nullptr;
    int rc = line.insert ? lsqlquery_insert_pv_with_error(a.cls.c_str(), instance, head, &text)
                         : lsqlquery_set_pv_with_error(a.cls.c_str(), instance, head,
                                                       a.has_qualifier ? &qualifier : nullptr,
                                                       &text);
    if (rc != 0) {
        error = text != nullptr ? text : "cannot write";
    }
    free(text);
    lsqlquery_destroy_pv(head);
    return rc == 0 ? 0 : -1;
}

int dman_text_load(FILE* in, bool replace, std::string& error) {
    // Everything is parsed before anything is written, so that a bad line
    // changes nothing.
    std::vector<std::pair<size_t, dman_text_line>> lines;
    std::string text;
    bool too_long = false;
    bool has_nul = false;
    size_t number = 0;
    while (read_line(in, text, too_long, has_nul)) {
        ++number;
        if (number > DMAN_TEXT_LINES_MAX) {
            error = "more than " + std::to_string(DMAN_TEXT_LINES_MAX) + " lines";
            return -1;
        }
        dman_text_line line;
        if (too_long) {
            error = "longer than " + std::to_string(DMAN_TEXT_LINE_MAX) + " characters";
        } else if (has_nul) {
            error = "NUL character";
        }
        if (too_long || has_nul || dman_text_parse_line(text, line, error) != 0) {
            error = "line " + std::to_string(number) + ": " + error;
            return -1;
        }
        if (!line.blank) {
            lines.emplace_back(number, std::move(line));
        }
    }
    if (ferror(in)) {
        error = "read error";
        return -1;
    }
    if (dman_store_begin(error) != 0) {
        return -1;
    }
    if (replace && dman_store_clear(error) != 0) {
        dman_store_rollback();
        return -1;
    }
    for (const auto& [n, line] : lines) {
        if (dman_text_apply(line, false, error) != 0) {
            error = "line " + std::to_string(n) + ": " + error;
            dman_store_rollback();
            return -1;
        }
    }
    return dman_store_commit(error);
}

std::vector<dman_text_row> dman_text_rows(const std::vector<dman_row>& rows) {
    std::map<std::pair<std::string_view, std::string_view>, std::vector<const dman_row*>> groups;
    for (const auto& r : rows) {
        groups[{r.cls, r.instance}].push_back(&r);
    }
    std::map<const dman_row*, dman_text_row> forms;
    static const std::string kRadio = "radio";
    for (const auto& [key, members] : groups) {
        // Rows told apart by a property are written qualified by it when they
        // hold more than that property; one-property rows (a list of rates)
        // and rows nothing tells apart are written as new rows.  A lone VAP
        // row still names its radio.
        bool wide = false;
        for (const dman_row* r : members) {
            wide = wide || r->cells.size() > 1;
        }
        const std::string* qual = nullptr;
        if (members.size() > 1 && wide) {
            qual = distinguishing_property(members);
        } else if (members.size() == 1 && wide && members.front()->find("radio") != nullptr) {
            qual = &kRadio;
        }
        for (const dman_row* r : members) {
            dman_text_row f;
            f.row = r;
            f.insert = members.size() > 1 && qual == nullptr;
            if (qual != nullptr) {
                f.qualifier = *qual;
            }
            f.address =
                format_address(r->cls, r->instance, qual, qual ? r->find(qual->c_str()) : nullptr);
            forms[r] = std::move(f);
        }
    }
    std::vector<dman_text_row> out;
    out.reserve(rows.size());
    for (const auto& r : rows) {
        out.push_back(std::move(forms[&r]));
    }
    return out;
}

std::vector<std::string> dman_text_lines(const std::vector<dman_row>& rows) {
    std::vector<std::string> out;
    for (const auto& f : dman_text_rows(rows)) {
        if (f.insert) {
            std::string line = f.address + " +";
            const char* sep = " ";
            for (const auto& c : f.row->cells) {
                line += sep + dman_text_escape_name(c.property) + " = " +
                        dman_text_quote_value(c.value);
                sep = "; ";
            }
            out.push_back(std::move(line));
            continue;
        }
        // A qualified row repeats its qualifier in the address; the property
        // itself is written only when it is the row's only one.
        for (const auto& c : f.row->cells) {
            if (c.property != f.qualifier || f.row->cells.size() == 1) {
                out.push_back(f.address + ' ' + dman_text_escape_name(c.property) + " = " +
                              dman_text_quote_value(c.value));
            }
        }
    }
    return out;
}

int dman_text_dump(FILE* out, const char* cls, dman_copy copy, std::string& error) {
    std::vector<dman_row> rows;
    if (dman_store_load(cls, nullptr, copy, rows, error) != 0) {
        return -1;
    }
    for (const auto& line : dman_text_lines(rows)) {
        if (line.size() > DMAN_TEXT_LINE_MAX) {
            // Cannot be read back: refuse rather than write a broken file.
            error = "a row too long for one line: " + line.substr(0, 40);
            return -1;
        }
        if (fputs(line.c_str(), out) == EOF || fputc('\n', out) == EOF) {
            error = "write error";
            return -1;
        }
    }
    return 0;
}
