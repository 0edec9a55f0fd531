// Property descriptor helpers: field to text for every value type code,
// text to field, the prefix rule and the grid read into a record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "store/map_dman_lsql.hpp"
#include "store_test_util.hpp"

using config_test::db_set;
using config_test::db_test;

namespace {

template <typename T>
std::vector<uint8_t> bytes_of(T value) {
    std::vector<uint8_t> out(sizeof value);
    memcpy(out.data(), &value, sizeof value);
    return out;
}

std::vector<uint8_t> text_field(const char* text, size_t size) {
    std::vector<uint8_t> out(size, 0);
    memcpy(out.data(), text, std::min(strlen(text), size));
    return out;
}

const uint8_t kV6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0xfe, 0x80, 0x00, 0x01};

// The text the writer makes for `field` as code `type`; "<no node>" for none.
std::string populate(uint32_t type, const std::vector<uint8_t>& field) {
    map_dman_prop_desc desc{"prop", type, 0, static_cast<uint32_t>(field.size())};
    pv* node = map_dman_util_populate_value(&desc, type, field.data());
    if (node == nullptr) {
        return "<no node>";
    }
    EXPECT_STREQ(node->name, "prop");
    std::string text = node->value;
    lsqlquery_destroy_pv(node);
    return text;
}

}  // namespace

TEST(ConfigValueWriter, EveryTypeCode) {
    struct row {
        uint32_t type;
        std::vector<uint8_t> field;
        std::string expected;
    };
    const std::vector<row> rows = {
        {0, text_field("abc", 8), "abc"},
        {0, text_field("abcdefgh", 8), "abcdefgh"},  // no terminator: stops at the field end
        {1, bytes_of<uint16_t>(57775), "57775"},
        {1, bytes_of<uint16_t>(7), "7"},
        {2, bytes_of<int32_t>(-5), "-5"},
        {3, bytes_of<uint32_t>(4000000000u), "4000000000"},
        {4, bytes_of<long>(-123456789012L), "-123456789012"},
        {5, bytes_of<float>(1.5f), "1.5"},
        {5, bytes_of<float>(100.0f), "100"},
        {6, bytes_of<uint32_t>(0xC0A8010Au), "192.168.1.10"},
        {7, {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0xfe}, "00:1a:2b:3c:4d:fe"},
        {8, bytes_of<int64_t>(-9000000000LL), "-9000000000"},
        {9, bytes_of<uint32_t>(1), ""},
        {10, {1}, "up"},
        {10, {0}, "down"},
        {10, {2}, "down"},
        {11, {1}, "yes"},
        {11, {0}, "no"},
        {12, {1}, "on"},
        {12, {0}, "off"},
        {13, {1}, "<no node>"},
        {14, {0, 0, 0, 0}, "none"},
        {14, {36, 40, 0, 0}, "36 40 "},
        {14, {1, 6, 11}, "1 6 11 "},  // full field without terminator
        {15, {1}, "left-right"},
        {15, {2}, "left-middle"},
        {15, {0}, "middle-right"},
        {15, {3}, "middle-right"},
        {16, std::vector<uint8_t>(kV6, kV6 + 16), "2001:0db8:0000:0000:0000:0000:fe80:0001"},
        {17, {1}, "IPV6"},
        {17, {9}, "IPV6"},
        {17, {0}, "IPV4"},
        {18, {1, 0, 0, 0}, "<no node>"},
        {200, {1, 0, 0, 0}, "<no node>"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(populate(r.type, r.field), r.expected) << "type code " << r.type;
    }
}

TEST(ConfigValueWriter, TextIsCutAtTheValueBuffer) {
    // 64 channels of "200 " would make 256 characters: the text keeps 255.
    std::vector<uint8_t> channels(64, 200);
    std::string text = populate(14, channels);
    EXPECT_EQ(text.size(), MAP_DMAN_VALUE_LEN - 1);
    EXPECT_EQ(text.substr(0, 8), "200 200 ");

    std::vector<uint8_t> long_text(400, 'x');
    long_text.back() = 0;
    EXPECT_EQ(populate(0, long_text).size(), MAP_DMAN_VALUE_LEN - 1);
}

TEST(ConfigValueWriter, MissingFieldDescriptorOrSizeMakesNoNode) {
    map_dman_prop_desc desc{"prop", 2, 0, 4};
    EXPECT_EQ(map_dman_util_populate_value(&desc, 2, nullptr), nullptr);
    int32_t value = 3;
    EXPECT_EQ(map_dman_util_populate_value(nullptr, 2, &value), nullptr);
    // A text or byte-list descriptor that does not know its field size.
    map_dman_prop_desc unsized{"prop", 0, 0, 0};
    char text[8] = "abc";
    EXPECT_EQ(map_dman_util_populate_value(&unsized, 0, text), nullptr);
    EXPECT_EQ(map_dman_util_populate_value(&unsized, 14, text), nullptr);
}

namespace {

constexpr uint8_t kUntouched = 0xAA;

// Extracts into a field of `size` bytes followed by guard bytes; returns the
// field and checks the guard.
std::vector<uint8_t> extract(uint32_t type, const char* text, size_t size, int* rc) {
    std::vector<uint8_t> buf(size + 8, kUntouched);
    *rc = map_dman_util_extract_value(type, text, buf.data(), size);
    for (size_t i = size; i < buf.size(); ++i) {
        EXPECT_EQ(buf[i], kUntouched) << "written past the field, type " << type;
    }
    buf.resize(size);
    return buf;
}

std::vector<uint8_t> untouched(size_t size) {
    return std::vector<uint8_t>(size, kUntouched);
}

std::vector<uint8_t> text_then_untouched(const char* text, size_t size) {
    std::vector<uint8_t> out = untouched(size);
    memcpy(out.data(), text, strlen(text) + 1);
    return out;
}

}  // namespace

TEST(ConfigValueReader, EveryTypeCode) {
    struct row {
        uint32_t type;
        const char* text;
        size_t size;
        std::vector<uint8_t> expected;  // the whole field afterwards
    };
    const std::vector<row> rows = {
        {0, "hello", 8, text_then_untouched("hello", 8)},
        {0, "  word rest", 8, text_then_untouched("word", 8)},    // one word, like "%s"
        {0, "abcdefghij", 8, text_then_untouched("abcdefg", 8)},  // cut to the field
        {0, "", 8, untouched(8)},
        {0, "   ", 8, untouched(8)},
        {1, "57775", 2, bytes_of<uint16_t>(57775)},
        {1, "-1", 2, bytes_of<int16_t>(-1)},
        {1, "70000", 2, untouched(2)},
        {1, "abc", 2, untouched(2)},
        {2, "-42", 4, bytes_of<int32_t>(-42)},
        {2, " +7", 4, bytes_of<int32_t>(7)},
        {2, "12abc", 4, bytes_of<int32_t>(12)},
        {2, "99999999999", 4, untouched(4)},
        {2, "", 4, untouched(4)},
        {3, "4000000000", 4, bytes_of<uint32_t>(4000000000u)},
        {3, "-1", 4, untouched(4)},
        {4, "-123456789012", sizeof(long), bytes_of<long>(-123456789012L)},
        {5, "1.5", 4, untouched(4)},
        {6, "10.1.2.3", 4, bytes_of<uint32_t>(0x0A010203u)},
        {6, "10.1.2", 4, untouched(4)},
        {6, "", 4, untouched(4)},
        {7, "00:1A:2b:3c:4d:5e", 6, {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}},
        {7, "0:1:2:3:4:5", 6, {0, 1, 2, 3, 4, 5}},
        {7, "00:1a:2b", 6, untouched(6)},
        {7, "zz:1a:2b:3c:4d:5e", 6, untouched(6)},
        {8, "-9000000000", 8, bytes_of<int64_t>(-9000000000LL)},
        {9, "Yes", 4, bytes_of<uint32_t>(1)},
        {9, "up", 4, bytes_of<uint32_t>(1)},
        {9, "yes", 4, bytes_of<uint32_t>(0)},
        {9, "Up", 4, bytes_of<uint32_t>(0)},
        {10, "Up", 4, bytes_of<uint32_t>(1)},
        {10, "up", 4, bytes_of<uint32_t>(1)},
        {10, "upper", 4, bytes_of<uint32_t>(1)},
        {10, "UP", 4, bytes_of<uint32_t>(0)},
        {10, "down", 4, bytes_of<uint32_t>(0)},
        {10, "up", 1, {1}},  // an 8-bit flag field gets one byte, never four
        {11, "yes", 1, untouched(1)},
        {12, "on", 1, untouched(1)},
        {13, "1", 4, untouched(4)},
        {14, "36 40", 8, untouched(8)},
        {15, "left-right", 1, untouched(1)},
        {16, "2001:db8::fe80:1", 16, std::vector<uint8_t>(kV6, kV6 + 16)},
        {16, "not-an-address", 16, untouched(16)},
        {17, "IPV6", 1, untouched(1)},
        {18, "1", 4, untouched(4)},
        // Fields too small for the code are refused.
        {2, "5", 2, untouched(2)},
        {7, "00:1a:2b:3c:4d:5e", 4, untouched(4)},
    };
    for (const auto& r : rows) {
        int rc = 0;
        std::vector<uint8_t> got = extract(r.type, r.text, r.size, &rc);
        EXPECT_EQ(got, r.expected) << "type " << r.type << " text \"" << r.text << "\"";
        EXPECT_EQ(rc, got == untouched(r.size) ? -1 : 0) << "type " << r.type << " " << r.text;
    }
    int32_t value = 5;
    EXPECT_EQ(map_dman_util_extract_value(2, nullptr, &value, sizeof value), -1);
    EXPECT_EQ(value, 5);
}

TEST(ConfigValueReader, WriterAndReaderAgree) {
    struct row {
        uint32_t type;
        std::vector<uint8_t> field;
    };
    const std::vector<row> rows = {
        {0, text_field("IEEE", 8)},
        {1, bytes_of<uint16_t>(65535)},
        {2, bytes_of<int32_t>(-2147483647 - 1)},
        {3, bytes_of<uint32_t>(0xFFFFFFFFu)},
        {6, bytes_of<uint32_t>(0xFFFFFF00u)},
        {7, {0xff, 0xee, 0x00, 0x01, 0x80, 0x7f}},
        {8, bytes_of<int64_t>(0x7FFFFFFFFFFFFFFFLL)},
        {16, std::vector<uint8_t>(kV6, kV6 + 16)},
        {16, std::vector<uint8_t>(16, 0xff)},
    };
    for (const auto& r : rows) {
        std::string text = populate(r.type, r.field);
        std::vector<uint8_t> back(r.field.size(), 0);
        ASSERT_EQ(map_dman_util_extract_value(r.type, text.c_str(), back.data(), back.size()), 0)
            << "type " << r.type << " text " << text;
        EXPECT_EQ(back, r.field) << "type " << r.type << " text " << text;
    }
}

namespace {

struct sample {
    char name[16];
    uint8_t flag;
    int32_t count;
    uint8_t channels[8];
    uint16_t port;
};

const map_dman_prop_desc kSampleTable[] = {
    MAP_DMAN_DESC("name", MAP_DMAN_VT_TEXT, sample, name),
    MAP_DMAN_DESC("none", MAP_DMAN_VT_NONE, sample, flag),
    MAP_DMAN_DESC("flag", MAP_DMAN_VT_ON_OFF, sample, flag),
    MAP_DMAN_DESC("count", MAP_DMAN_VT_INT32, sample, count),
    MAP_DMAN_DESC("channels", MAP_DMAN_VT_BYTE_LIST, sample, channels),
    MAP_DMAN_DESC("port", MAP_DMAN_VT_INT16, sample, port),
};

}  // namespace

TEST(ConfigValueWriter, FillListFollowsTheTableAndSkipsNoNodeCodes) {
    sample s{"wlan0", 1, -3, {36, 40}, 57776};
    pv* list = map_dman_util_fill_pv_list(kSampleTable, &s, 6);
    std::vector<std::string> got;
    for (const pv* n = list; n != nullptr; n = n->next) {
        got.push_back(std::string(n->name) + "=" + n->value);
        EXPECT_EQ(n->peer, nullptr);
    }
    lsqlquery_destroy_pv(list);
    EXPECT_EQ(got, (std::vector<std::string>{"name=wlan0", "flag=on", "count=-3", "channels=36 40 ",
                                             "port=57776"}));
    EXPECT_EQ(map_dman_util_fill_pv_list(kSampleTable, &s, 0), nullptr);
    EXPECT_EQ(map_dman_util_fill_pv_list(kSampleTable + 1, &s, 1), nullptr);
}

TEST(ConfigDescriptor, FirstDescriptorWhoseNameIsAPrefixWins) {
    const map_dman_prop_desc* t = map_managed_ap_desc_table;
    const uint32_t n = map_managed_ap_desc_count;
    struct row {
        const char* node;
        const char* expected;  // null: no descriptor
    };
    const row rows[] = {
        {"ip-base-port", "ip-base-port"},
        {"dhcp-ip-base-port", "dhcp-ip-base-port"},
        {"cfg-ip-base-port", "cfg-ip-base-port"},
        {"modeX", "mode"},
        {"mode", "mode"},
        {"mod", nullptr},
        {"base-port", nullptr},
        {"switch-address-3", "switch-address-3"},
        {"", nullptr},
    };
    for (const auto& r : rows) {
        const map_dman_prop_desc* d = map_dman_util_find_desc(t, n, r.node);
        if (r.expected == nullptr) {
            EXPECT_EQ(d, nullptr) << r.node;
        } else {
            ASSERT_NE(d, nullptr) << r.node;
            EXPECT_STREQ(d->name, r.expected) << r.node;
        }
    }
    const map_dman_prop_desc ordered[] = {{"mode", 0, 0, 8}, {"mode-x", 0, 8, 8}};
    EXPECT_EQ(map_dman_util_find_desc(ordered, 2, "mode-x"), &ordered[0]);
    EXPECT_EQ(map_dman_util_find_desc(ordered, 2, nullptr), nullptr);
    // A name found inside the node's name, not at its start, does not match.
    const map_dman_prop_desc ports[] = {{"ip-base-port", 1, 0, 2}, {"dhcp-ip-base-port", 1, 2, 2}};
    EXPECT_EQ(map_dman_util_find_desc(ports, 2, "dhcp-ip-base-port"), &ports[1]);
}

using ConfigGridRead = db_test;

TEST_F(ConfigGridRead, FillsTheRecordAndCutsOverLongText) {
    const std::string long_address(300, 'h');
    const std::string long_phrase(100, 'p');
    ASSERT_TRUE(db_set("managed-ap", nullptr, "mode", "up"));
    ASSERT_TRUE(db_set("managed-ap", nullptr, "switch-address-1", "10.0.0.1"));
    ASSERT_TRUE(db_set("managed-ap", nullptr, "switch-address-2", long_address.c_str()));
    ASSERT_TRUE(db_set("managed-ap", nullptr, "switch-address-3", ""));
    ASSERT_TRUE(db_set("managed-ap", nullptr, "pass-phrase", long_phrase.c_str()));
    ASSERT_TRUE(db_set("managed-ap", nullptr, "managed-mode-watchdog", "abc"));
    ASSERT_TRUE(db_set("managed-ap", nullptr, "dhcp-ip-base-port", "57775"));
    ASSERT_TRUE(db_set("managed-ap", nullptr, "ip-ssl-port", "57777"));
    ASSERT_TRUE(db_set("managed-ap", nullptr, "ap-state", "up"));  // not in the table

    map_managed_ap_params p;
    memset(&p, 0x5A, sizeof p);
    ASSERT_EQ(map_dman_lsql_get_managed_ap_params(&p), 0);
    EXPECT_STREQ(p.mode, "up");
    EXPECT_STREQ(p.switch_address[0], "10.0.0.1");
    EXPECT_EQ(std::string(p.switch_address[1]), long_address.substr(0, 255));
    EXPECT_STREQ(p.switch_address[2], "");
    EXPECT_STREQ(p.switch_address[3], "");
    EXPECT_EQ(std::string(p.pass_phrase), long_phrase.substr(0, 63));
    EXPECT_EQ(p.watchdog, 0) << "bad number leaves the zeroed field";
    EXPECT_EQ(p.dhcp_ip_base_port, 57775);
    EXPECT_EQ(p.ip_base_port, 0) << "dhcp-ip-base-port must not land in ip-base-port";
    EXPECT_EQ(p.ip_ssl_port, 57777);
    EXPECT_EQ(p.ip_capwap_dst_port, 0);
}

TEST_F(ConfigGridRead, NoGridLeavesTheRecordUntouched) {
    map_managed_ap_params p;
    memset(&p, 0x5A, sizeof p);
    EXPECT_EQ(map_dman_lsql_get_managed_ap_params(&p), -1);
    EXPECT_EQ(p.watchdog, 0x5A5A5A5A);
    EXPECT_EQ(map_dman_lsql_get_managed_ap_params(nullptr), -1);
}

TEST_F(ConfigGridRead, FieldsOutsideTheRecordAreNotWritten) {
    ASSERT_TRUE(db_set("sample", nullptr, "name", "wlan1"));
    ASSERT_TRUE(db_set("sample", nullptr, "port", "8080"));
    // The record is declared shorter than the table says: "port" lies beyond.
    std::vector<uint8_t> buf(sizeof(sample) + 8, kUntouched);
    ASSERT_EQ(map_dman_util_get_grid("sample", nullptr, kSampleTable, 6, buf.data(),
                                     offsetof(sample, port), nullptr, 0),
              0);
    EXPECT_STREQ(reinterpret_cast<const char*>(buf.data()), "wlan1");
    EXPECT_EQ(buf[offsetof(sample, port)], kUntouched);
}
