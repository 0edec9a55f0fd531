// Regulatory domain: valid modes and default channels from the regulatory
// table, and the country change.
#include "store/map_reg_domain.hpp"

#include <strings.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "store/map_dman_lsql.hpp"
#include "store/map_radio_config.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"

static constexpr char map_log_module[] = "map_reg_domain";

namespace {

constexpr char kCountrySection[] = "[country codes]";
constexpr char kDomainSection[] = "[regulatory domains]";
constexpr char kOpenError[] = "Error in opening the reg domain file";

// Longest line of the table, its newline not counted.
constexpr size_t kLineMax = 255;
// Every word taken from a line is read with a width of 32 characters into a
// buffer of 33.
constexpr size_t kWordLen = 32;
using word = std::array<char, kWordLen + 1>;

constexpr int kDomainCount = 3;  // domains A, B and C of a country
constexpr int kDomainA = 0;
constexpr int kDomainB = 1;
constexpr int kDomainC = 2;

struct file_close {
    void operator()(FILE* f) const { fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_close>;

file_ptr open_table() {
    file_ptr fp(map_platform_fopen(MAP_REG_DOMAINS_FILE, "r"));
    if (!fp) {
        MAP_ERROR("%s", kOpenError);
    }
    return fp;
}

// One line of the table.  `text` holds at most kLineMax characters; a NUL byte
// inside a line simply ends its text.
struct table_line {
    std::array<char, kLineMax + 1> text;
    size_t len;
    bool newline;  // the line ended with a newline (not with the end of file)
};

enum class line_read { ok, too_long, end };

// Reads the next line a character at a time, so nothing past kLineMax is ever
// stored.  A longer line is read to its end and reported as too long, so that
// its tail is not taken for a line of its own.
line_read next_line(FILE* fp, table_line& line) {
    line.len = 0;
    line.newline = false;
    size_t total = 0;
    int c = 0;
    while ((c = getc(fp)) != EOF) {
        if (c == '\n') {
            line.newline = true;
            break;
        }
        if (total < kLineMax) {
            line.text[line.len++] = static_cast<char>(c);
        }
        ++total;
    }
    line.text[line.len] = '\0';
    if (c == EOF && total == 0) {
        return line_read::end;
    }
    return total > kLineMax ? line_read::too_long : line_read::ok;
}

// The next line that holds something: over-long lines are logged and
// dropped, comment lines and blank lines skipped.  False at the end of file.
bool next_content_line(FILE* fp, table_line& line) {
    for (;;) {
        line_read r = next_line(fp, line);
        if (r == line_read::end) {
            return false;
        }
        if (r == line_read::too_long) {
            MAP_ERROR("Line longer than %zu characters in the reg domain file, skipped", kLineMax);
            continue;
        }
        // Lines of nothing but white space count as empty lines too.
        if (line.text[0] == '#' || line.text[strspn(line.text.data(), " \t\r")] == '\0') {
            continue;
        }
        return true;
    }
}

// Moves past the line that is exactly `section` and its newline.
bool find_section(FILE* fp, const char* section) {
    table_line line;
    line_read r;
    while ((r = next_line(fp, line)) != line_read::end) {
        if (r == line_read::ok && line.newline && line.len == strlen(section) &&
            strcmp(line.text.data(), section) == 0) {
            return true;
        }
    }
    return false;
}

// Domains A, B and C of a country.
struct country_domains {
    word domain[kDomainCount];
};

// Looks the country up in "[country codes]": the first line whose first two
// characters equal it, ignoring case.  The line pattern is
// "%s\t%s\t%s%s\t#\t%s"; its unbounded %s are bounded here to the 32
// characters of the word buffers.  A matching line that does not give the code
// and all three domains makes the country unusable (logged, false).
bool find_country(FILE* fp, const char* country, country_domains& out) {
    if (country == nullptr || strnlen(country, 2) < 2) {
        return false;
    }
    if (!find_section(fp, kCountrySection)) {
        MAP_ERROR("No %s section in the reg domain file", kCountrySection);
        return false;
    }
    table_line line;
    while (next_content_line(fp, line)) {
        if (line.text[0] == '[') {
            break;
        }
        if (strncasecmp(line.text.data(), country, 2) != 0) {
            continue;
        }
        word code{};
        word name{};
        out = country_domains{};
        int fields = sscanf(line.text.data(), "%32s\t%32s\t%32s%32s\t#\t%32s", code.data(),
                            out.domain[kDomainA].data(), out.domain[kDomainB].data(),
                            out.domain[kDomainC].data(), name.data());
        // The "#" and the name are commentary; the code and the domains are needed.
        if (fields < 1 + kDomainCount) {
            MAP_ERROR("Malformed line for country %.2s in the reg domain file", country);
            return false;
        }
        return true;
    }
    return false;
}

// One line of "[regulatory domains]".
struct domain_line {
    word domain;
    word band;
    word third;
    int value[4];  // value[0] is the band's default channel
};

// The pattern "%32s %32s %32s %d %d %d %d", all seven fields or false.
bool parse_domain_line(const char* text, domain_line& out) {
    out = domain_line{};
    int fields =
        sscanf(text, "%32s %32s %32s %d %d %d %d", out.domain.data(), out.band.data(),
               out.third.data(), &out.value[0], &out.value[1], &out.value[2], &out.value[3]);
    if (fields != 7) {
        MAP_ERROR("Malformed line in the reg domain file");
        return false;
    }
    return true;
}

bool is_band(const word& band, const char* keyword) {
    return strcmp(band.data(), keyword) == 0;
}

bool is_turbo_band(const word& band) {
    return is_band(band, "TURBO") || is_band(band, "PRIME") || is_band(band, "TURBOG") ||
           is_band(band, "PRIMEG");
}

int band_mode_bit(const word& band) {
    if (is_band(band, "11A")) {
        return MAP_REG_MODE_11A;
    }
    if (is_band(band, "11B")) {
        return MAP_REG_MODE_11B;
    }
    if (is_band(band, "11G")) {
        return MAP_REG_MODE_11G;
    }
    if (is_turbo_band(band)) {
        return MAP_REG_MODE_TURBO;
    }
    return 0;  // the 40 MHz bands carry a default channel only
}

// Whether a line of `band` gives the default channel of `mode`.
bool band_gives_channel(const word& band, int mode, bool forty, bool upper) {
    switch (mode) {
        case 1:
            return is_band(band, "11A");
        case 2:
            return is_band(band, "11G");
        case 3:
        case 5:
            if (forty) {
                return is_band(band, upper ? "11A40U" : "11A40L");
            }
            return is_band(band, "11A");
        case 4:
        case 6:
            return is_band(band, "11G40L") || is_band(band, "11G40U");
        case 8:
            return is_turbo_band(band);
        default:
            return false;
    }
}

}  // namespace

int map_get_valid_radio_modes(const char* country) {
    file_ptr fp = open_table();
    if (!fp) {
        return 0;
    }
    country_domains domains;
    if (!find_country(fp.get(), country, domains)) {
        return 0;
    }
    // The domain section is looked for from the top, so that the two sections
    // may come in either order.
    if (fseek(fp.get(), 0, SEEK_SET) != 0) {
        MAP_ERROR("%s", kOpenError);
        return -1;
    }
    if (!find_section(fp.get(), kDomainSection)) {
        MAP_ERROR("No %s section in the reg domain file", kDomainSection);
        return 0;
    }
    long start = ftell(fp.get());
    if (start < 0) {
        MAP_ERROR("%s", kOpenError);
        return -1;
    }
    int modes = 0;
    for (const word& domain : domains.domain) {
        if (fseek(fp.get(), start, SEEK_SET) != 0) {
            MAP_ERROR("%s", kOpenError);
            return -1;
        }
        table_line line;
        while (next_content_line(fp.get(), line) && line.text[0] != '[') {
            domain_line entry;
            if (!parse_domain_line(line.text.data(), entry)) {
                return -1;
            }
            if (strcasecmp(entry.domain.data(), domain.data()) == 0) {
                modes |= band_mode_bit(entry.band);
            }
        }
    }
    return modes;
}

int map_get_default_radio_channel(const char* country, int mode, int bandwidth, int upper) {
    file_ptr fp = open_table();
    if (!fp) {
        return 0;
    }
    country_domains domains;
    if (!find_country(fp.get(), country, domains)) {
        return 0;
    }
    int which = kDomainA;
    if (mode == 2 || mode == 4 || mode == 6) {
        which = kDomainB;
    } else if (mode == 1 || mode == 3 || mode == 5) {
        which = kDomainC;
    }
    const char* domain = domains.domain[which].data();
    const size_t domain_len = strlen(domain);
    const bool forty = bandwidth == MAP_REG_BANDWIDTH_40;
    // `upper` is taken as a flag: any non-zero value means the secondary
    // channel lies above.
    const bool above = upper != 0;

    if (fseek(fp.get(), 0, SEEK_SET) != 0) {
        MAP_ERROR("%s", kOpenError);
        return 0;
    }
    if (!find_section(fp.get(), kDomainSection)) {
        MAP_ERROR("No %s section in the reg domain file", kDomainSection);
        return 0;
    }
    table_line line;
    while (next_content_line(fp.get(), line) && line.text[0] != '[') {
        domain_line entry;
        if (!parse_domain_line(line.text.data(), entry)) {
            return 0;
        }
        // Domain names are matched on their beginning, ignoring case.
        if (strncasecmp(entry.domain.data(), domain, domain_len) != 0 ||
            !band_gives_channel(entry.band, mode, forty, above)) {
            continue;
        }
        // An 11A line without a channel does not end the search.
        if (entry.value[0] == 0 && is_band(entry.band, "11A")) {
            continue;
        }
        return entry.value[0];
    }
    return 0;
}

int map_reg_country_code_set(const char* country, char** error) {
    static constexpr const char* kRadioNames[MAP_MAX_RADIOS] = {"wlan0", "wlan1"};
    // One record per radio that exists, admin mode 1 when it was up.  A radio
    // the database does not have is left unnamed, so that putting the radios
    // back never creates one.
    std::array<map_radio_config, MAP_MAX_RADIOS> radios{};
    for (int i = 0; i < MAP_MAX_RADIOS; ++i) {
        if (map_dman_lsql_is_radio_instance_exist(kRadioNames[i]) != 0) {
            continue;
        }
        snprintf(radios[i].radio_name, sizeof radios[i].radio_name, "%s", kRadioNames[i]);
        radios[i].admin_mode = map_dman_lsql_get_radio_status(kRadioNames[i]) == 0 ? 1 : 0;
    }

    if (map_dman_lsql_radio_status_set(radios.data(), 0, error) != 0) {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Failed to set the radios down for the country change");
        return -1;
    }

    const auto fail = [error](const char* text) {
        MAP_TRACE(MAP_TRACE_ALWAYS, "%s", text);
        if (error != nullptr) {
            *error = strndup(text, MAP_REG_ERROR_LEN);
        }
        return -1;
    };
    if (map_get_valid_radio_modes(country) < 1) {
        return fail("Invalid country code");
    }
    if (map_lsql_country_code_set(country) != 0) {
        return fail("Error in the setting of Country Code");
    }

    // Each radio goes back "up" if it was up, else "down"; a failure here
    // returns -1 with the library's error text, the country already written.
    if (map_dman_lsql_radio_status_set(radios.data(), 1, error) != 0) {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Failed to restore the radio status after the country change");
        return -1;
    }
    MAP_TRACE(MAP_TRACE_CONFIG, "Successful in setting country code to %s", country);
    return 0;
}
