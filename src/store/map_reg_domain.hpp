// Regulatory domain: the AP's regulatory table "/etc/reg_domains.conf" tells
// which radio modes a country allows and the default channel of a mode, and
// guards the country change written to the configuration database.
//
// The table is a text file of lines of at most 255 characters in two sections,
// each introduced by a line that is exactly the section name:
//
//   [country codes]
//   US<TAB>FCC<TAB>FCC_B FCC_C<TAB>#<TAB>United States
//   ...
//   [regulatory domains]
//   FCC 11A 5GHZ 36 17 0 0
//   ...
//
// A country line names three regulatory domains A, B and C; a domain line
// gives a domain, a band keyword, a third word and four integers, the first
// of which is the band's default channel.  Lines beginning with "#" are
// comments.
#pragma once

// The table, an AP path (opened through the platform door).
inline constexpr const char* MAP_REG_DOMAINS_FILE = "/etc/reg_domains.conf";

// Mode bits of map_get_valid_radio_modes, by band keyword.
inline constexpr int MAP_REG_MODE_11A = 0x1;    // "11A"
inline constexpr int MAP_REG_MODE_11B = 0x2;    // "11B"
inline constexpr int MAP_REG_MODE_11G = 0x4;    // "11G"
inline constexpr int MAP_REG_MODE_TURBO = 0x8;  // "TURBO", "PRIME", "TURBOG", "PRIMEG"

// Bandwidth argument of map_get_default_radio_channel.
inline constexpr int MAP_REG_BANDWIDTH_20 = 1;
inline constexpr int MAP_REG_BANDWIDTH_40 = 2;

// Longest error text handed back by map_reg_country_code_set.
inline constexpr int MAP_REG_ERROR_LEN = 64;

// The mode bits the country's three domains allow, OR-ed together.  0 when the
// file cannot be opened or the country is not listed; -1 when a domain line is
// malformed or the file position cannot be kept.  The country is matched on
// its first two characters, ignoring case.
int map_get_valid_radio_modes(const char* country);

// Writes `country` to the configuration database with the radios held down,
// then puts "wlan0" and "wlan1" back to the status they had.  0, or -1 with a
// heap-allocated error text (at most MAP_REG_ERROR_LEN characters, freed by
// the receiver with free()) in *error; after a refused country or a failed
// write the radios stay down.
int map_reg_country_code_set(const char* country, char** error);

// The country's default channel for radio mode number `mode` (1 "a", 2 "bg",
// 3 "a-n", 4 "bg-n", 5 "n-only-a", 6 "n-only-g"; 8 the turbo bands),
// `bandwidth` MAP_REG_BANDWIDTH_20 or _40, `upper` non-zero when the 40 MHz
// secondary channel lies above.  0 when there is none.
int map_get_default_radio_channel(const char* country, int mode, int bandwidth, int upper);
