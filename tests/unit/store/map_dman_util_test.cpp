// Property descriptor helpers: field to text for every value type code, text
// to field, the prefix rule and the grid read into a record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store_test_util.hpp"

using config_test::db_set;
using bytes = std::vector<uint8_t>;

namespace {

template <typename T>
bytes bytes_of(T value) {
    bytes out(sizeof value);
    memcpy(out.data(), &value, sizeof value);
    return out;
}

// `text` in a zeroed field of `size` bytes, or `times` copies of it.
bytes text_field(const std::string& text, size_t size) {
    bytes out(size, 0);
    memcpy(out.data(), text.data(), std::min(text.size(), size));
    return out;
}
std::string repeat(const std::string& text, size_t times) {
    std::string out;
    while (times-- > 0)
        out += text;
    return out;
}

const bytes kV6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0xfe, 0x80, 0x00, 0x01};

// The text the writer makes for `field` as code `type`; "<no node>" for none.
std::string populate(uint32_t type, const bytes& field) {
    map_dman_prop_desc desc{"prop", type, 0, static_cast<uint32_t>(field.size())};
    pv* node = map_dman_util_populate_value(&desc, type, field.data());
    if (node == nullptr)
        return "<no node>";
    EXPECT_STREQ(node->name, "prop");
    std::string text = node->value;
    lsqlquery_destroy_pv(node);
    return text;
}

}  // namespace

TEST(ConfigValueWriter, EveryTypeCode) {
    // clang-format off
    const struct { uint32_t type; bytes field; std::string expected; } rows[] = {
        {0, text_field("abc", 8), "abc"}, {0, text_field("abcdefgh", 8), "abcdefgh"},  // no terminator
        {0, text_field(repeat("x", 399), 400), repeat("x", 255)},  // cut at the text buffer
        {1, bytes_of<uint16_t>(0xFFFF), "-1"}, {1, bytes_of<uint16_t>(57775), "-7761"},
        {2, bytes_of<int32_t>(-5), "-5"}, {3, bytes_of<uint32_t>(4000000000u), "4000000000"},
        {4, bytes_of<long>(-123456789012L), "-123456789012"}, {5, bytes_of<float>(100.0f), "100"},
        {6, bytes_of<uint32_t>(0xC0A8010Au), "192.168.1.10"}, {9, bytes_of<uint32_t>(1), ""},
        {7, {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0xfe}, "00:1a:2b:3c:4d:fe"},
        {8, bytes_of<int64_t>(-9000000000LL), "-9000000000"},
        {10, {1}, "up"}, {10, {0}, "down"}, {10, {2}, "down"}, {11, {1}, "yes"}, {11, {0}, "no"},
        {12, {1}, "on"}, {12, {0}, "off"}, {13, {1}, "<no node>"}, {14, {0, 0, 0, 0}, "none"},
        {14, {36, 40, 0, 0}, "36 40 "}, {14, {1, 6, 11}, "1 6 11 "},  // a full field has no terminator
        {14, bytes(64, 200), repeat("200 ", 63) + "200"},  // cut at 255 characters
        {15, {1}, "left-right"}, {15, {2}, "left-middle"}, {15, {0}, "middle-right"},
        {16, kV6, "2001:0db8:0000:0000:0000:0000:fe80:0001"},
        {17, {9}, "IPV6"}, {17, {0}, "IPV4"}, {18, {1, 0, 0, 0}, "<no node>"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(populate(r.type, r.field), r.expected) << "type code " << r.type;
    }
    // No field, or a text descriptor that does not know its field size.
    map_dman_prop_desc unsized{"prop", 0, 0, 0};
    EXPECT_EQ(map_dman_util_populate_value(&unsized, 2, nullptr), nullptr);
    EXPECT_EQ(map_dman_util_populate_value(&unsized, 0, "abc"), nullptr);
}

TEST(ConfigValueReader, EveryTypeCode) {
    constexpr uint8_t kGuard = 0xAA;
    const bytes none;  // nothing stored: the field keeps its guard bytes
    const struct { uint32_t type; const char* text; size_t size; bytes expected; } rows[] = {
        {0, "hello", 8, text_field("hello", 6)}, {0, "", 8, none},
        {0, "  word rest", 8, text_field("word", 5)},     // one word, like "%s"
        {0, "abcdefghij", 8, text_field("abcdefg", 8)},  // cut to the field
        // An unsigned port text and its signed form give the same 16 bits.
        {1, "57775", 2, bytes_of<uint16_t>(57775)}, {1, "-7761", 2, bytes_of<uint16_t>(57775)},
        {1, "-1", 2, bytes_of<uint16_t>(0xFFFF)}, {1, "70000", 2, none}, {1, "abc", 2, none},
        {2, "-42", 4, bytes_of<int32_t>(-42)}, {2, " +7", 4, bytes_of<int32_t>(7)},
        {2, "12abc", 4, bytes_of<int32_t>(12)}, {2, "99999999999", 4, none},
        {2, "5", 2, none}, {7, "00:1a:2b:3c:4d:5e", 4, none},  // fields too small for the code
        {3, "4000000000", 4, bytes_of<uint32_t>(4000000000u)}, {3, "-1", 4, none},
        {4, "-123456789012", sizeof(long), bytes_of<long>(-123456789012L)},
        {6, "10.1.2.3", 4, bytes_of<uint32_t>(0x0A010203u)}, {6, "10.1.2", 4, none},
        {7, "00:1A:2b:3c:4d:5e", 6, {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}},
        {7, "0:1:2:3:4:5", 6, {0, 1, 2, 3, 4, 5}}, {7, "00:1a:2b", 6, none},
        {8, "-9000000000", 8, bytes_of<int64_t>(-9000000000LL)},
        {9, "Yes", 4, bytes_of<uint32_t>(1)}, {9, "up", 4, bytes_of<uint32_t>(1)},
        {9, "yes", 4, bytes_of<uint32_t>(0)}, {9, "Up", 4, bytes_of<uint32_t>(0)},
        {10, "Up", 4, bytes_of<uint32_t>(1)}, {10, "upper", 4, bytes_of<uint32_t>(1)},
        {10, "UP", 4, bytes_of<uint32_t>(0)}, {10, "down", 4, bytes_of<uint32_t>(0)},
        {10, "up", 1, {1}},  // an 8-bit flag field gets one byte, never four
        {16, "2001:db8::fe80:1", 16, kV6}, {16, "not-an-address", 16, none},
        // Codes the reader does not handle.
        {5, "1.5", 4, none}, {11, "yes", 1, none}, {12, "on", 1, none}, {13, "1", 4, none},
        {14, "36 40", 8, none}, {15, "left-right", 1, none}, {17, "IPV6", 1, none}, {18, "1", 4, none},
    };
    for (const auto& r : rows) {
        bytes buf(r.size + 8, kGuard);
        int rc = map_dman_util_extract_value(r.type, r.text, buf.data(), r.size);
        bytes want = r.expected;
        want.resize(buf.size(), kGuard);
        EXPECT_EQ(buf, want) << "type " << r.type << " text \"" << r.text << "\"";
        EXPECT_EQ(rc, r.expected.empty() ? -1 : 0) << "type " << r.type << " " << r.text;
    }
    int32_t value = 5;
    EXPECT_EQ(map_dman_util_extract_value(2, nullptr, &value, sizeof value), -1);
    EXPECT_EQ(value, 5);
    // The hexadecimal text of IPv6 addresses is ours; both directions agree on it.
    for (const bytes& field : {kV6, bytes(16, 0xff), bytes(16, 0)}) {
        bytes back(16, 0xAA);
        EXPECT_EQ(map_dman_util_extract_value(16, populate(16, field).c_str(), back.data(), 16), 0);
        EXPECT_EQ(back, field);
    }
}

TEST(ConfigValueWriter, FillListFollowsTheTableAndSkipsNoNodeCodes) {
    struct sample { char name[16]; uint8_t flag; uint16_t port; } s{"wlan0", 1, 57776};
    const map_dman_prop_desc table[] = {
        MAP_DMAN_DESC("name", MAP_DMAN_VT_TEXT, sample, name),
        MAP_DMAN_DESC("none", MAP_DMAN_VT_NONE, sample, flag),
        MAP_DMAN_DESC("flag", MAP_DMAN_VT_ON_OFF, sample, flag),
        MAP_DMAN_DESC("port", MAP_DMAN_VT_INT16, sample, port)};
    pv* list = map_dman_util_fill_pv_list(table, &s, 4);
    std::string got;
    for (const pv* n = list; n != nullptr; n = n->next) {
        got += std::string(n->name) + "=" + n->value + (n->peer != nullptr ? " peer!" : ";");
    }
    lsqlquery_destroy_pv(list);
    EXPECT_EQ(got, "name=wlan0;flag=on;port=-7760;");
    EXPECT_EQ(map_dman_util_fill_pv_list(table + 1, &s, 1), nullptr);
}

TEST(ConfigDescriptor, FirstDescriptorWhoseNameIsAPrefixWins) {
    const struct { const char* node; const char* expected; } rows[] = {
        {"ip-base-port", "ip-base-port"}, {"dhcp-ip-base-port", "dhcp-ip-base-port"},
        {"modeX", "mode"}, {"mode", "mode"}, {"mod", nullptr}, {"base-port", nullptr}, {"", nullptr},
    };
    for (const auto& r : rows) {
        const map_dman_prop_desc* d =
            map_dman_util_find_desc(map_managed_ap_desc_table, map_managed_ap_desc_count, r.node);
        EXPECT_STREQ(d != nullptr ? d->name : nullptr, r.expected) << r.node;
    }
    // The name must begin the node's name, not lie inside it; the first match wins.
    const map_dman_prop_desc ports[] = {{"ip-base-port", 1, 0, 2}, {"dhcp-ip-base-port", 1, 2, 2}};
    EXPECT_EQ(map_dman_util_find_desc(ports, 2, "dhcp-ip-base-port"), &ports[1]);
    const map_dman_prop_desc modes[] = {{"mode", 0, 0, 8}, {"mode-x", 0, 8, 8}};
    EXPECT_EQ(map_dman_util_find_desc(modes, 2, "mode-x"), &modes[0]);
}

using ConfigGridRead = config_test::db_test;

TEST_F(ConfigGridRead, FillsTheZeroedRecordWithinItsSize) {
    map_managed_ap_params p;
    memset(&p, 0x5A, sizeof p);
    EXPECT_EQ(map_dman_lsql_get_managed_ap_params(&p), -1);
    EXPECT_EQ(p.watchdog, 0x5A5A5A5A) << "no grid: untouched";

    const std::string address(300, 'h');
    const std::string phrase(100, 'p');
    const char* props[][2] = {{"mode", "up"}, {"switch-address-1", "10.0.0.1"},
        {"switch-address-2", address.c_str()}, {"pass-phrase", phrase.c_str()},
        {"managed-mode-watchdog", "abc"}, {"dhcp-ip-base-port", "57775"}, {"ip-ssl-port", "-7761"},
        {"ap-state", "up"}};  // the last is no field of the record
    // clang-format on
    for (const auto& prop : props)
        ASSERT_TRUE(db_set("managed-ap", nullptr, prop[0], prop[1]));
    // A record declared shorter than the table: "ip-ssl-port" lies beyond it.
    ASSERT_EQ(map_dman_util_get_grid("managed-ap", nullptr, map_managed_ap_desc_table,
                                     map_managed_ap_desc_count, &p,
                                     offsetof(map_managed_ap_params, ip_ssl_port), nullptr, 0),
              0);
    EXPECT_EQ(p.ip_ssl_port, 0x5A5A);

    memset(&p, 0x5A, sizeof p);
    ASSERT_EQ(map_dman_lsql_get_managed_ap_params(&p), 0);
    EXPECT_STREQ(p.mode, "up");
    EXPECT_STREQ(p.switch_address[0], "10.0.0.1");
    EXPECT_EQ(std::string(p.switch_address[1]), address.substr(0, 255));
    EXPECT_STREQ(p.switch_address[3], "");
    EXPECT_EQ(std::string(p.pass_phrase), phrase.substr(0, 63));
    EXPECT_EQ(p.watchdog, 0) << "a bad number leaves the zeroed field";
    EXPECT_EQ(p.dhcp_ip_base_port, 57775);
    EXPECT_EQ(p.ip_base_port, 0) << "dhcp-ip-base-port must not land in ip-base-port";
    EXPECT_EQ(p.ip_ssl_port, 57775);
    EXPECT_EQ(p.ip_capwap_dst_port, 0);
}
