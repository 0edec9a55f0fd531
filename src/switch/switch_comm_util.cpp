#include "switch/switch_comm_util.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/map_log.hpp"

namespace {

struct type_name {
    uint16_t code;
    const char* name;
};

constexpr type_name kTypeNames[] = {
    {1, "SWITCH_DISCOVER"},
    {2, "SWITCH_KEEPALIVE"},
    {3, "SWITCH_RELINK"},
    {4, "SWITCH_CONFIG"},
    {5, "SWITCH_CONFIG_STATUS"},
    {6, "SWITCH_STATUS_INT"},
    {7, "SWITCH_STATS"},
    {8, "SWITCH_CLEAR_STATS"},
    {9, "SWITCH_SCAN_REPORT_INT"},
    {10, "SWITCH_AP_RFSCAN_REPORT"},
    {11, "SWITCH_AP_PROBE_REQ"},
    {12, "SWITCH_AP_ASSOC_CMD"},
    {13, "SWITCH_AP_DISASSOC_REQ"},
    {14, "SWITCH_AP_AUTHEN_FAIL"},
    {15, "SWITCH_AP_AUTH_REQ"},
    {16, "SWITCH_AP_AUTH_SUCCEED"},
    {21, "SWITCH_AP_IDENTIFICATION"},
    {22, "SWITCH_NEW_ARP"},
    {23, "SWITCH_CLIENT_MAC_AUTH"},
    {24, "SWITCH_CLIENT_PRE_AUTH"},
    {25, "SWITCH_KEEPALIVE_ACK"},
    {26, "SWITCH_DISASSOCIATE_CLIENT"},
    {27, "SWITCH_DEBUG_LOGIN"},
    {28, "SWITCH_UPDATE_CODE"},
    {30, "SWITCH_AP_RESET"},
    {31, "SWITCH_AP_SUPPORTED_CHANNELS"},
    {32, "SWITCH_CHANGE_CHANNEL"},
    {33, "SWITCH_CHANGE_POWER"},
    {34, "SWITCH_START_AUTHENTICATION"},
    {36, "MAP_SWITCH_CLIENT_PRE_AUTH_ANS"},
    {38, "SWITCH_CLIENT_PMK"},
    {39, "MAP_SWITCH_CLIENT_AUTH"},
    {70, "MAP_SWITCH_AP_WIDS_CONFIG_MSG_ID"},
    {71, "SWITCH_AP_IMAGE_UPGRADE"},
    {98, "MAP_SWITCH_RADIUS_PROXY_CMD"},
    {104, "SWITCH_TSPEC_ADMISSION_REQ"},
    {105, "SWITCH_TSPEC_ADMISSION_REPLY"},
    {106, "SWITCH_TSPEC_DELETION"},
    {112, "MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID"},
    {113, "MAP_SWITCH_DL2TUNNEL_CONFIG_MSG_ID"},
    {114, "MAP_SWITCH_DL2TUNNEL_SETUP_MSG_ID"},
    {116, "MAP_SWITCH_CLIENT_THREAT_DEAUTH_MSG"},
    {128, "MAP_SWITCH_CL2TUNNEL_CONFIG_MSG_ID"},
    {144, "CLTQOS_LIST_UPDATE"},
    {145, "CLTQOS_LIST_RENAME"},
    {146, "CLTQOS_LIST_DELETE"},
    {147, "CLTQOS_DEF_REQ"},
    {148, "CLTQOS_ACL_DEF_REPLY"},
    {149, "CLTQOS_POLICY_DEF_REPLY"},
    {150, "CLTQOS_MODE_UPDATE"},
    {257, "DHCP_SWITCH_IP"},
    {258, "DMAN_CONFIG"},
    {259, "DEBUG_MSG"},
    {260, "DEBUG_SET_TRACE"},
    {261, "MAP_DEBUG_CLIENT_ASSOC_DUMP"},
    {262, "DEBUG_CS_DUMP"},
    {263, "DEBUG_DONT_DISABLE_SSH_SESSION"},
    {266, "MAP_CS_POST_CONF_STATUS_NOTIFY_MSG_ID"},
    {515, "AP_PROVISION_REPLY_MSG"},
    {4358, "MAP_CONFIG_STATS_IE_CP_CLIENT_AUTH_REQ"},
};

constexpr size_t kTypeTextSize = 64;

const char* direction_word(int direction) {
    switch (direction) {
        case MAP_PKT_TXED: return "TXED";
        case MAP_PKT_RXED: return "RXED";
        default: return "UNKNOWN";
    }
}

const char* transport_word(int transport) {
    switch (transport) {
        case MAP_PKT_UDP: return "UDP";
        case MAP_PKT_TCP: return "TCP";
        case MAP_PKT_L2: return "L2";
        default: return "UNKNOWN";
    }
}

// The type of the message at `msg`; a message too short to hold its type
// field has no known type.
uint16_t msg_type(const uint8_t* msg, int len) { return len >= 2 ? map_extract_short(msg) : 0; }

}  // namespace

void map_switch_util_buffer_fill_elem(uint8_t* dest, uint16_t type, uint16_t length) {
    memcpy(dest, &type, 2);
    memcpy(dest + 2, &length, 2);
}

void map_switch_comm_util_extract_element(const uint8_t* src, map_switch_elem_hdr* out) {
    out->type = map_extract_short(src);
    out->length = map_extract_short(src + 2);
}

uint16_t map_extract_short(const uint8_t* src) {
    return static_cast<uint16_t>((src[0] << 8) | src[1]);
}

uint32_t map_extract_integer(const uint8_t* src) {
    return (uint32_t{src[0]} << 24) | (uint32_t{src[1]} << 16) | (uint32_t{src[2]} << 8) | src[3];
}

const char* map_pkt_type_name(uint16_t type) {
    for (const auto& t : kTypeNames) {
        if (t.code == type) return t.name;
    }
    return "UNKNOWN";
}

char* pkt_type_to_string(const uint8_t* msg, int len) {
    if (msg == nullptr || len <= 0) {
        return nullptr;
    }
    auto* text = static_cast<char*>(calloc(1, kTypeTextSize));
    if (text == nullptr) {
        return nullptr;
    }
    strncpy(text, map_pkt_type_name(msg_type(msg, len)), kTypeTextSize - 1);
    return text;
}

size_t map_pkt_hex_format(char* out, size_t out_len, const uint8_t* msg, int len, int direction,
                          int transport) {
    if (out == nullptr || out_len == 0) {
        return 0;
    }
    out[0] = '\0';
    if (msg == nullptr || len <= 0) {
        return 0;
    }
    int head = snprintf(out, out_len, "%s %s %s:\n", direction_word(direction),
                        transport_word(transport), map_pkt_type_name(msg_type(msg, len)));
    // The heading must leave room for the final newline and the terminator.
    if (head < 0 || static_cast<size_t>(head) + 2 > out_len) {
        out[out_len - 1] = '\0';
        return strlen(out);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    size_t pos = static_cast<size_t>(head);
    // Each byte takes at most 4 characters (newline, two digits, blank); the
    // final newline and the terminator need 2 more.  The text is cut at the
    // last whole byte that fits.
    for (int i = 0; i < len; ++i) {
        size_t need = (i > 0 && i % 13 == 0) ? 4 : 3;
        if (pos + need + 2 > out_len) break;
        if (i > 0 && i % 13 == 0) out[pos++] = '\n';
        out[pos++] = kHex[msg[i] >> 4];
        out[pos++] = kHex[msg[i] & 0xF];
        out[pos++] = ' ';
    }
    out[pos++] = '\n';
    out[pos] = '\0';
    return pos;
}

void map_pkt_hex_print(uint32_t level, const uint8_t* msg, int len, int direction, int transport) {
    if (msg == nullptr || len <= 0 || !map_trace_enabled(level)) {
        return;
    }
    static char text[MAP_TRACE_BUF_SIZE];
    map_pkt_hex_format(text, sizeof text, msg, len, direction, transport);
    map_print_debug_trace(level, "%s", text);
}
