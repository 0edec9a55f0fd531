#include "local/mmsg_print.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "local/mmsg_records.hpp"
#include "log/map_log.hpp"
#include "wire/map_text.hpp"

// Output format of the text printers: a heading "<record name>:" and then one
// line per field, " <field> : <value>".  Numbers are decimal, flag words
// 0x-prefixed hex, byte strings (keys, RADIUS and pre-authentication data)
// contiguous lowercase hex, names and SSIDs as text cut at their field size.
// Elements of arrays carry their index: " aclName[1] : gold".
//
// The hex printers write a heading ending in ":" and then the bytes as
// "%2.2x" separated by blanks, 16 to a line.
//
// A missing record or an unknown type is an error line, whatever the trace
// mask: callers only pass the records they know.
//
// Every printer fills one shared text buffer and hands it to the trace as a
// single "%s" argument (its last newline dropped: the trace adds one).  Nothing
// is built when the message's trace category is off.

namespace {

constexpr char map_log_module[] = "mmsg_print";

constexpr char kInvalidRecord[] = "Invalid buffer, length, or message object.";

// ---- the shared text buffer ----------------------------------------------------

constexpr size_t kTextSize = 20480;
char g_text[kTextSize];
size_t g_len = 0;
uint32_t g_category = MAP_TRACE_LOCAL;

void text_start(uint32_t category) {
    g_category = category;
    g_len = 0;
    g_text[0] = '\0';
}

// Appends formatted text; what does not fit is cut at the end of the buffer,
// which always stays terminated.
void add(const char* format, ...) __attribute__((format(printf, 1, 2)));
void add(const char* format, ...) {
    if (g_len + 1 >= kTextSize)
        return;
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(g_text + g_len, kTextSize - g_len, format, ap);
    va_end(ap);
    if (n < 0) {
        g_text[g_len] = '\0';
        return;
    }
    g_len += static_cast<size_t>(n);
    if (g_len > kTextSize - 1)
        g_len = kTextSize - 1;
}

void emit() {
    if (g_len > 0 && g_text[g_len - 1] == '\n')
        g_text[--g_len] = '\0';
    map_print_debug_trace(g_category, "%s", g_text);
}

// ---- field lines ---------------------------------------------------------------

void num(const char* name, unsigned long value) {
    add(" %s : %lu\n", name, value);
}
void flags(const char* name, unsigned long value) {
    add(" %s : 0x%lx\n", name, value);
}
// mac_to_string's buffer is shared: each address is formatted and copied into
// the text before the next one is asked for.
void mac(const char* name, const uint8_t* m) {
    add(" %s : %s\n", name, mac_to_string(m));
}
void radio(uint8_t r) {
    add(" Radio : wlan%u\n", r);
}
// A name or SSID that fills its field has no NUL: never read beyond the field.
void text(const char* name, const char* s, size_t field) {
    add(" %s : %.*s\n", name, static_cast<int>(strnlen(s, field)), s);
}
void hex(const char* name, const uint8_t* p, size_t n) {
    add(" %s : ", name);
    for (size_t i = 0; i < n && g_len + 3 < kTextSize; ++i)
        add("%2.2x", p[i]);
    add("\n");
}
// An IPv4 address carried in the last 4 bytes of a 16-byte field, host order.
void ipv4_in16(const char* name, const uint8_t* addr16) {
    uint32_t ip;
    memcpy(&ip, addr16 + 12, sizeof ip);
    add(" %s : %s\n", name, ip_addr_to_string(ip));
}
void cltqos_bw(const mmsg_cltqos_bw* bw) {
    for (int d = 0; d < 2; ++d) {
        add(" dot1xValid[%d] : %u\n", d, bw[d].dot1xValid);
        add(" maxRate[%d] : %u\n", d, bw[d].maxRate);
    }
}
void cltqos_names(const char* type_name, const char* name_name, const mmsg_cltqos_name* n) {
    for (int d = 0; d < 2; ++d) {
        add(" %s[%d] : %u\n", type_name, d, n[d].type);
        add(" %s[%d] : %.*s\n", name_name, d,
            static_cast<int>(strnlen(n[d].name, sizeof n[d].name)), n[d].name);
    }
}

// Reads a field of a datagram that may be shorter than the record: the bytes
// past its end read as zero.
template <typename T>
T read_at(const uint8_t* msg, size_t length, size_t offset) {
    uint8_t b[sizeof(T)] = {};
    for (size_t i = 0; i < sizeof(T); ++i)
        if (offset + i < length)
            b[i] = msg[offset + i];
    T v;
    memcpy(&v, b, sizeof v);
    return v;
}
uint16_t read_be16(const uint8_t* msg, size_t length, size_t offset) {
    auto at = [&](size_t i) -> unsigned { return i < length ? msg[i] : 0; };
    return static_cast<uint16_t>(at(offset) << 8 | at(offset + 1));
}

// ---- the kinds of records --------------------------------------------------------

// Trace categories: the client relay's association, authentication,
// disassociation and deauthentication records trace as client association
// (0x400); the PMK (0x20), pre-authentication (0x40), client connection
// (0x1000), distributed (0x2000) and central (0x4000) tunnel, wired-network
// VLAN (0x8), RADIUS (0x10), TSPEC (0x10000) and RRM (0x40000) records under
// their own; everything else (probe requests, RF scan, channels, power, WIDS,
// client QoS requests) as local messages (0x4).

struct mmsg_kind {
    const char* name;
    size_t size;  // fixed size, or the header of a variable record
    uint32_t category;
};

constexpr mmsg_kind kProbeReq{"probe_reqmsg_s", sizeof(probe_reqmsg_s), MAP_TRACE_LOCAL};
constexpr mmsg_kind kDisassocReq{"disassoc_reqmsg_s", sizeof(disassoc_reqmsg_s),
                                 MAP_TRACE_CLIENT_AUTH};
constexpr mmsg_kind kAuthenFail{"authen_failmsg_s", sizeof(authen_failmsg_s),
                                MAP_TRACE_CLIENT_AUTH};
constexpr mmsg_kind kDisassocCmd{"disassoc_cmdmsg_s", sizeof(disassoc_cmdmsg_s),
                                 MAP_TRACE_CLIENT_AUTH};
constexpr mmsg_kind kRfscan{"rfscanreport_cmdmsg_s", sizeof(rfscanreport_cmdmsg_s),
                            MAP_TRACE_LOCAL};
constexpr mmsg_kind kChanSupported{"channelsupported_cmdmsg_s", 1, MAP_TRACE_LOCAL};
constexpr mmsg_kind kPowerChange{"power_change_info_cmdmsg_s", sizeof(power_change_info_cmdmsg_s),
                                 MAP_TRACE_LOCAL};
constexpr mmsg_kind kPreAuthCmd{"mpre_auth_cmdmsg_s", MMSG_PRE_AUTH_HDR_LEN, MAP_TRACE_PREAUTH};
constexpr mmsg_kind kPreAuthAns{"mpre_auth_ansmsg_s", MMSG_PRE_AUTH_HDR_LEN, MAP_TRACE_PREAUTH};
constexpr mmsg_kind kPmk{"mpmk_cmdmsg_s", sizeof(mpmk_cmdmsg_s), MAP_TRACE_PMK};
constexpr mmsg_kind kClientAuth{"mclient_auth_msg_s", sizeof(mclient_auth_msg_s),
                                MAP_TRACE_CLIENT_AUTH};
constexpr mmsg_kind kResend{"resend_client_info_cmdmsg_s", sizeof(resend_client_info_cmdmsg_s),
                            MAP_TRACE_CLIENT_AUTH};
constexpr mmsg_kind kClientConn{"mclient_conn_msg_s", sizeof(mclient_conn_msg_s), MAP_TRACE_PORTAL};
constexpr mmsg_kind kAssocReq{"assoc_req_msg_s", sizeof(assoc_req_msg_s), MAP_TRACE_CLIENT_AUTH};
constexpr mmsg_kind kAssocReply{"assoc_reply_cmdmsg_s", sizeof(assoc_reply_cmdmsg_s),
                                MAP_TRACE_CLIENT_AUTH};
constexpr mmsg_kind kWids{"wids_config_cmdmsg_s", sizeof(wids_config_cmdmsg_t), MAP_TRACE_LOCAL};
constexpr mmsg_kind kDl2Config{"dl2tunnel_config_msg_s", sizeof(dl2tunnel_config_msg_s),
                               MAP_TRACE_DL2TUNNEL};
constexpr mmsg_kind kDl2Setup{"dl2tunnel_setup_msg_s", sizeof(dl2tunnel_setup_msg_s),
                              MAP_TRACE_DL2TUNNEL};
constexpr mmsg_kind kDl2Term{"dl2tunnel_term_msg_s", sizeof(dl2tunnel_term_msg_s),
                             MAP_TRACE_DL2TUNNEL};
constexpr mmsg_kind kWiredVlan{"wired_nw_det_vlan_cmdmsg_s", sizeof(wired_nw_det_vlan_cmdmsg_s),
                               MAP_TRACE_RADIO};
constexpr mmsg_kind kPreauthNotify{"client_preauth_notification_msg_s",
                                   sizeof(client_preauth_notification_msg_s), MAP_TRACE_PREAUTH};
// The RADIUS packet's bytes follow the fields before it (the header).
constexpr mmsg_kind kRadius{"radius_proxy_cmdmsg_s", offsetof(radius_proxy_cmdmsg_s, radius_pkt),
                            MAP_TRACE_PKT};
constexpr mmsg_kind kClientDeauth{"client_deauth_msg_s", sizeof(client_deauth_msg_s),
                                  MAP_TRACE_CLIENT_AUTH};
constexpr mmsg_kind kCl2Config{"cl2tunnel_config_msg_s", sizeof(cl2tunnel_config_msg_s),
                               MAP_TRACE_CL2TUNNEL};
constexpr mmsg_kind kCltqosReq{"cltqos_auth_def_req_msg_s", sizeof(cltqos_auth_def_req_msg_s),
                               MAP_TRACE_LOCAL};
constexpr mmsg_kind kTspec{"tspec_msg_s", sizeof(tspec_msg_s), MAP_TRACE_TSPEC};
constexpr mmsg_kind kTspecStatus{"tspec_status_msg_s", sizeof(tspec_status_msg_s), MAP_TRACE_TSPEC};
constexpr mmsg_kind kTspecDirect{"tspec_direct_msg_s", sizeof(tspec_direct_msg_s), MAP_TRACE_TSPEC};
constexpr mmsg_kind kRrmNbrList{"rrm_nbr_list_msg_s", sizeof(rrm_nbr_list_msg_s), MAP_TRACE_RRM};
constexpr mmsg_kind kRrmLoadReq{"rrm_chan_load_req_msg_s", sizeof(rrm_chan_load_req_msg_s),
                                MAP_TRACE_RRM};
constexpr mmsg_kind kRrmLoadRep{"rrm_chan_load_rep_msg_s", sizeof(rrm_chan_load_rep_msg_s),
                                MAP_TRACE_RRM};

// Copies a datagram into a zeroed record (a shorter one reads as zero-filled)
// and, when the kind's trace category is on, starts its text.  False when
// there is no record or nothing is to be printed.
template <typename R>
bool begin(const uint8_t* msg, size_t length, R& rec, const mmsg_kind& kind) {
    if (msg == nullptr || length == 0) {
        MAP_ERROR("%s", kInvalidRecord);
        return false;
    }
    if (!map_trace_enabled(kind.category))
        return false;
    memset(&rec, 0, sizeof rec);
    memcpy(&rec, msg, length < sizeof rec ? length : sizeof rec);
    text_start(kind.category);
    add("%s:\n", kind.name);
    num("type", rec.type);
    return true;
}

// Types 4 and 6 also go to the TSPEC application, as its TSPEC reply (a
// 120-byte tspec_msg_s) and its direct message (3 bytes).  A printer sees only
// the bytes, so the length decides: those exact lengths are the TSPEC records
// (hostapd's type 4 is 46 bytes, and its type 6 carries a whole switch message
// after the type byte, never just 2 bytes); every other length keeps hostapd's
// meaning.
bool is_tspec_reply(uint8_t type, size_t length) {
    return type == MMSG_TSPEC_REPLY && length == sizeof(tspec_msg_s);
}
bool is_tspec_direct(uint8_t type, size_t length) {
    return type == MMSG_TSPEC_DIRECT && length == sizeof(tspec_direct_msg_s);
}

void power_change_msg_print(const uint8_t* msg, size_t length) {
    power_change_info_cmdmsg_s r;
    if (!begin(msg, length, r, kPowerChange))
        return;
    num("power_level", r.power_level);
    mac("macaddr", r.macaddr);
    emit();
}

struct mmsg_type_row {
    uint8_t type;
    const mmsg_kind* kind;
    void (*print)(const uint8_t*, size_t);
};

constexpr mmsg_type_row kTypes[] = {
    {MMSG_PROBE_REQ, &kProbeReq, probe_req_msg_print},
    {MMSG_DISASSOC_REQ, &kDisassocReq, disassoc_req_msg_print},
    {MMSG_AUTHEN_FAIL, &kAuthenFail, authen_fail_msg_print},
    {MMSG_DISASSOC_CMD, &kDisassocCmd, disassoc_cmd_msg_print},
    {MMSG_RFSCAN_REPORT, &kRfscan, rfscanreport_cmd_msg_print},
    {MMSG_CHANNEL_SUPPORTED, &kChanSupported, channelsupported_cmd_msg_print},
    {MMSG_POWER_CHANGE, &kPowerChange, power_change_msg_print},
    {MMSG_PRE_AUTH_CMD, &kPreAuthCmd, pre_auth_msg_print},
    {MMSG_PMK, &kPmk, pmk_msg_print},
    {MMSG_PRE_AUTH_ANS, &kPreAuthAns, pre_auth_msg_print},
    {MMSG_CLIENT_AUTH, &kClientAuth, client_auth_msg_print},
    {MMSG_RESEND_CLIENT_INFO, &kResend, resend_client_info_cmd_msg_print},
    {MMSG_CLIENT_CONN, &kClientConn, client_conn_msg_print},
    {MMSG_ASSOC_REQ, &kAssocReq, client_assoc_req_msg_print},
    {MMSG_ASSOC_REPLY, &kAssocReply, client_assoc_reply_msg_print},
    {MMSG_WIDS_CONFIG, &kWids, wids_config_msg_print},
    {MMSG_DL2TUNNEL_CONFIG, &kDl2Config, dl2tunnel_config_msg_print},
    {MMSG_DL2TUNNEL_SETUP, &kDl2Setup, dl2tunnel_setup_msg_print},
    {MMSG_DL2TUNNEL_TERM, &kDl2Term, dl2tunnel_term_msg_print},
    {MMSG_WIRED_NW_DET_VLAN, &kWiredVlan, wired_nw_det_vlan_config_msg_print},
    {MMSG_CLIENT_PREAUTH_NOTIFY, &kPreauthNotify, client_preauth_notify_msg_print},
    {MMSG_RADIUS_PROXY, &kRadius, radius_proxy_cmd_msg_print},
    {MMSG_CLIENT_DEAUTH, &kClientDeauth, client_deauth_msg_print},
    {MMSG_CL2TUNNEL_CONFIG, &kCl2Config, cl2tunnel_config_msg_print},
    {MMSG_CLTQOS_AUTH_DEF_REQ, &kCltqosReq, cltqos_auth_def_req_msg_print},
    {MMSG_TSPEC, &kTspec, tspec_msg_print},
    {MMSG_RRM_NBR_LIST, &kRrmNbrList, rrm_nbr_ap_list_print},
    {MMSG_RRM_CHAN_LOAD_REQ, &kRrmLoadReq, rrm_chan_load_req_print},
    {MMSG_RRM_CHAN_LOAD_REP, &kRrmLoadRep, rrm_chan_load_rep_msg_print},
    {MMSG_TSPEC_STATUS, &kTspecStatus, tspec_status_msg_print},
};

// The row of a message; the TSPEC records sharing types 4 and 6 are told
// apart by their length (above).
const mmsg_type_row* row_of(uint8_t type, size_t length) {
    static constexpr mmsg_type_row tspec_reply{MMSG_TSPEC_REPLY, &kTspec, tspec_msg_print};
    static constexpr mmsg_type_row tspec_direct{MMSG_TSPEC_DIRECT, &kTspecDirect,
                                                tspec_direct_msg_print};
    if (is_tspec_reply(type, length))
        return &tspec_reply;
    if (is_tspec_direct(type, length))
        return &tspec_direct;
    for (const auto& r : kTypes)
        if (r.type == type)
            return &r;
    return nullptr;
}

// How many bytes the hex trace shows: the fixed size; the datagram for the
// variable types; the header and `datalen` data bytes for pre-authentication;
// the fields before the RADIUS packet and as many packet bytes as its length
// field says.  The announced lengths are cut at their fields' capacity.
size_t hex_count(const mmsg_type_row& row, const uint8_t* msg, size_t length) {
    switch (row.type) {
        case MMSG_RFSCAN_REPORT:
        case MMSG_CHANNEL_SUPPORTED:
            return length;
        case MMSG_PRE_AUTH_CMD:
        case MMSG_PRE_AUTH_ANS: {
            size_t n = read_at<uint16_t>(msg, length, offsetof(mpre_auth_cmdmsg_s, datalen));
            return MMSG_PRE_AUTH_HDR_LEN +
                   (n < MMSG_PRE_AUTH_DATA_MAX ? n : MMSG_PRE_AUTH_DATA_MAX);
        }
        case MMSG_RADIUS_PROXY: {
            size_t n =
                read_at<uint32_t>(msg, length, offsetof(radius_proxy_cmdmsg_s, radius_pkt_len));
            return row.kind->size + (n < MMSG_RADIUS_PKT_MAX ? n : MMSG_RADIUS_PKT_MAX);
        }
        default:
            return row.kind->size;
    }
}

// `count` bytes in hex, 16 to a line; the bytes past the datagram's end print
// as zero.  Stops at the last whole byte that fits the buffer.
void hex_lines(const uint8_t* msg, size_t length, size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < count; ++i) {
        if (g_len + 4 > kTextSize)
            break;  // separator, two digits, terminator
        if (i > 0)
            g_text[g_len++] = (i % 16 == 0) ? '\n' : ' ';
        uint8_t b = i < length ? msg[i] : 0;
        g_text[g_len++] = kDigits[b >> 4];
        g_text[g_len++] = kDigits[b & 0xF];
    }
    g_text[g_len] = '\0';
}

// The switch message hostapd carries after the type byte of types 6 and 7.
void carried_switch_msg(const uint8_t* msg, size_t length) {
    num("length", length);
    num("switch_msg_type", read_be16(msg, length, 1));
    num("switch_msg_length", read_be16(msg, length, 3));
}

}  // namespace

// ---- hex and dispatch --------------------------------------------------------------

void hex_ver_pkt_print(const uint8_t* msg, size_t length) {
    if (msg == nullptr || length == 0) {
        MAP_ERROR("%s", kInvalidRecord);
        return;
    }
    const mmsg_type_row* row = row_of(msg[0], length);
    if (row == nullptr) {
        MAP_ERROR("Invalid msg type: 0x%x (%d)", msg[0], msg[0]);
        return;
    }
    if (!map_trace_enabled(row->kind->category))
        return;
    text_start(row->kind->category);
    if (row->type == MMSG_WIDS_CONFIG) {
        // The length shown is the datagram's, as the caller passed it.
        add("wids_config_cmdmsg_s [len = %zu]:\n", length);
    } else {
        add("%s:\n", row->kind->name);
    }
    hex_lines(msg, length, hex_count(*row, msg, length));
    emit();
}

void hex_any_pkt_print(const uint8_t* msg, size_t length) {
    if (msg == nullptr || length == 0) {
        MAP_ERROR("%s", kInvalidRecord);
        return;
    }
    if (!map_trace_enabled(MAP_TRACE_LOCAL))
        return;
    text_start(MAP_TRACE_LOCAL);
    add("Type = 0x%x, msg_size = %zu\n", msg[0], length);
    hex_lines(msg, length, length);
    emit();
}

void text_ver_pkt_print(const uint8_t* msg, size_t length) {
    if (msg == nullptr || length == 0) {
        MAP_ERROR("%s", kInvalidRecord);
        return;
    }
    const mmsg_type_row* row = row_of(msg[0], length);
    if (row == nullptr) {
        MAP_ERROR("Invalid msg type.");
        return;
    }
    row->print(msg, length);
}

// ---- the records ------------------------------------------------------------------

void probe_req_msg_print(const uint8_t* msg, size_t length) {
    probe_reqmsg_s r;
    if (!begin(msg, length, r, kProbeReq))
        return;
    mac("vap_macaddr", r.vap_macaddr);
    mac("client_macaddr", r.client_macaddr);
    radio(r.radio_if);
    text("ss_id", r.ss_id, sizeof r.ss_id);
    num("rssi", r.rssi);
    num("channel", r.channel);
    emit();
}

void disassoc_req_msg_print(const uint8_t* msg, size_t length) {
    disassoc_reqmsg_s r;
    if (!begin(msg, length, r, kDisassocReq))
        return;
    mac("vap_macaddr", r.vap_macaddr);
    mac("client_macaddr", r.client_macaddr);
    radio(r.radio_if);
    emit();
}

void authen_fail_msg_print(const uint8_t* msg, size_t length) {
    authen_failmsg_s r;
    if (!begin(msg, length, r, kAuthenFail))
        return;
    mac("vap_macaddr", r.vap_macaddr);
    mac("client_macaddr", r.client_macaddr);
    text("ss_id", r.ss_id, sizeof r.ss_id);
    add(" authen_status : %s\n", auth_status_to_string(r.authen_status));
    emit();
}

void pmk_msg_print(const uint8_t* msg, size_t length) {
    mpmk_cmdmsg_s r;
    if (!begin(msg, length, r, kPmk))
        return;
    mac("client_macaddr", r.client_macaddr);
    text("ss_id", r.ss_id, sizeof r.ss_id);
    hex("pmk", r.pmk, sizeof r.pmk);
    emit();
}

void pre_auth_msg_print(const uint8_t* msg, size_t length) {
    mpre_auth_cmdmsg_s r;
    bool answer = msg != nullptr && length > 0 && msg[0] == MMSG_PRE_AUTH_ANS;
    if (!begin(msg, length, r, answer ? kPreAuthAns : kPreAuthCmd))
        return;
    mac("client_macaddr", r.client_macaddr);
    text("ss_id", r.ss_id, sizeof r.ss_id);
    mac("BSSID", r.BSSID);
    num("datalen", r.datalen);
    size_t n = r.datalen < MMSG_PRE_AUTH_DATA_MAX ? r.datalen : MMSG_PRE_AUTH_DATA_MAX;
    hex("pre_auth_data", r.pre_auth_data, n);
    emit();
}

void disassoc_cmd_msg_print(const uint8_t* msg, size_t length) {
    disassoc_cmdmsg_s r;
    if (!begin(msg, length, r, kDisassocCmd))
        return;
    mac("client_macaddr", r.client_macaddr);
    emit();
}

// mapd's request carries the RF-scan report interval; hostapd's report, of
// any other length, a switch message.
void rfscanreport_cmd_msg_print(const uint8_t* msg, size_t length) {
    rfscanreport_cmdmsg_s r;
    if (!begin(msg, length, r, kRfscan))
        return;
    if (length == sizeof r) {
        num("interval", r.interval);
    } else {
        carried_switch_msg(msg, length);
    }
    emit();
}

// mapd's request is the type byte alone; hostapd's answer carries a switch
// message.
void channelsupported_cmd_msg_print(const uint8_t* msg, size_t length) {
    struct {
        uint8_t type;
    } r;
    if (!begin(msg, length, r, kChanSupported))
        return;
    if (length > 1)
        carried_switch_msg(msg, length);
    emit();
}

void client_auth_msg_print(const uint8_t* msg, size_t length) {
    mclient_auth_msg_s r;
    if (!begin(msg, length, r, kClientAuth))
        return;
    mac("vap_macaddr", r.vap_macaddr);
    mac("client_macaddr", r.client_macaddr);
    radio(r.radio_if);
    text("ssid", r.ssid, sizeof r.ssid);
    text("user_name", r.user_name, sizeof r.user_name);
    num("vlan_id", r.vlan_id);
    num("vap_id", r.vap_id);
    add(" tx_rate : %u (%s)\n", r.tx_rate, rate_to_string(r.tx_rate));
    num("channel", r.channel);
    num("dot11n_capable", r.dot11n_capable);
    num("stbc_capable", r.stbc_capable);
    flags("flags", r.flags);
    hex("pmk", r.pmk, sizeof r.pmk);
    num("reauth_intvl", r.reauth_intvl);
    num("homeap_flag", r.homeap_flag);
    mac("homeap_mac", r.homeap_mac);
    ipv4_in16("home_apip", r.home_apip);
    cltqos_bw(r.bw);
    cltqos_names("aclType", "aclName", r.acl);
    cltqos_names("policyType", "policyName", r.policy);
    hex("rrm_capability", r.rrm_capability, sizeof r.rrm_capability);
    emit();
}

void client_conn_msg_print(const uint8_t* msg, size_t length) {
    mclient_conn_msg_s r;
    if (!begin(msg, length, r, kClientConn))
        return;
    mac("client_macaddr", r.client_macaddr);
    add(" client_ip : %s\n", ip_addr_to_string(r.client_ip));
    radio(r.radio_if);
    num("vap_id", r.vap_id);
    emit();
}

void resend_client_info_cmd_msg_print(const uint8_t* msg, size_t length) {
    resend_client_info_cmdmsg_s r;
    if (!begin(msg, length, r, kResend))
        return;
    mac("client_macaddr", r.client_macaddr);
    emit();
}

void client_assoc_req_msg_print(const uint8_t* msg, size_t length) {
    assoc_req_msg_s r;
    if (!begin(msg, length, r, kAssocReq))
        return;
    mac("ap_macaddr", r.ap_macaddr);
    mac("vap_macaddr", r.vap_macaddr);
    mac("client_macaddr", r.client_macaddr);
    radio(r.radio_if);
    text("ssid", r.ssid, sizeof r.ssid);
    emit();
}

void client_assoc_reply_msg_print(const uint8_t* msg, size_t length) {
    assoc_reply_cmdmsg_s r;
    if (!begin(msg, length, r, kAssocReply))
        return;
    mac("ap_macaddr", r.ap_macaddr);
    mac("vap_macaddr", r.vap_macaddr);
    mac("client_macaddr", r.client_macaddr);
    radio(r.radio_if);
    text("ssid", r.ssid, MMSG_SSID_LEN);  // the field's last 4 bytes are never used
    flags("client_status", r.client_status);
    hex("pmk", r.pmk, sizeof r.pmk);
    num("reaut_interval", r.reaut_interval);
    num("auth_age", r.auth_age);
    num("vlan_id", r.vlan_id);
    num("home_ap", r.home_ap);
    mac("home_apmac", r.home_apmac);
    ipv4_in16("home_apip", r.home_apip);
    cltqos_bw(r.bw);
    cltqos_names("aclType", "aclName", r.acl);
    cltqos_names("policyType", "policyName", r.policy);
    emit();
}

void wids_config_msg_print(const uint8_t* msg, size_t length) {
    wids_config_cmdmsg_t r;
    if (!begin(msg, length, r, kWids))
        return;
    mac("ap_macaddr", r.ap_macaddr);
    num("wired_nw_det", r.wired_nw_det);
    num("wired_nw_det_interval", r.wired_nw_det_interval);
    num("ap_attack_interval", r.ap_attack_interval);
    num("bssid_attack_list_count", r.bssid_attack_list_count);
    // A count above the list's 16 entries shows the 16 there are.
    size_t n = r.bssid_attack_list_count;
    if (n > std::size(r.bssid_attack_list))
        n = std::size(r.bssid_attack_list);
    for (size_t i = 0; i < n; ++i) {
        add(" bssid[%zu] : %s\n", i, mac_to_string(r.bssid_attack_list[i].bssid));
        add(" channel[%zu] : %u\n", i, r.bssid_attack_list[i].channel);
    }
    emit();
}

void dl2tunnel_config_msg_print(const uint8_t* msg, size_t length) {
    dl2tunnel_config_msg_s r;
    if (!begin(msg, length, r, kDl2Config))
        return;
    num("max_clients", r.max_clients);
    num("tunnel_idle_timeout", r.tunnel_idle_timeout);
    num("tunnel_age_timeout", r.tunnel_age_timeout);
    num("mc_replication_limit", r.mc_replication_limit);
    emit();
}

void dl2tunnel_setup_msg_print(const uint8_t* msg, size_t length) {
    dl2tunnel_setup_msg_s r;
    if (!begin(msg, length, r, kDl2Setup))
        return;
    mac("home_ap_mac", r.home_ap_mac);
    mac("client_mac", r.client_mac);
    mac("assoc_ap_mac", r.assoc_ap_mac);
    add(" assoc_ap_ipv6 : %s\n", ipv6_addr_to_string(r.assoc_ap_ipv6));
    num("vlan_id", r.vlan_id);
    emit();
}

void dl2tunnel_term_msg_print(const uint8_t* msg, size_t length) {
    dl2tunnel_term_msg_s r;
    if (!begin(msg, length, r, kDl2Term))
        return;
    mac("home_ap_mac", r.home_ap_mac);
    mac("client_mac", r.client_mac);
    emit();
}

void wired_nw_det_vlan_config_msg_print(const uint8_t* msg, size_t length) {
    wired_nw_det_vlan_cmdmsg_s r;
    if (!begin(msg, length, r, kWiredVlan))
        return;
    num("vlan", r.vlan);
    emit();
}

void client_preauth_notify_msg_print(const uint8_t* msg, size_t length) {
    client_preauth_notification_msg_s r;
    if (!begin(msg, length, r, kPreauthNotify))
        return;
    mac("ap_macaddr", r.ap_macaddr);
    mac("vap_macaddr", r.vap_macaddr);
    mac("client_macaddr", r.client_macaddr);
    radio(r.radio_if);
    text("ssid", r.ssid, sizeof r.ssid);
    text("user_name", r.user_name, sizeof r.user_name);
    add(" status : %s\n", r.status == 0 ? "Success" : "Failed");
    emit();
}

void radius_proxy_cmd_msg_print(const uint8_t* msg, size_t length) {
    radius_proxy_cmdmsg_s r;
    if (!begin(msg, length, r, kRadius))
        return;
    mac("ap_macaddr", r.ap_macaddr);
    mac("vap_macaddr", r.vap_macaddr);
    mac("client_macaddr", r.client_macaddr);
    radio(r.radio_if);
    text("ssid", r.ssid, sizeof r.ssid);
    num("radius_pkt_len", r.radius_pkt_len);
    size_t n = r.radius_pkt_len < MMSG_RADIUS_PKT_MAX ? r.radius_pkt_len : MMSG_RADIUS_PKT_MAX;
    hex("radius_pkt", r.radius_pkt, n);
    emit();
}

void client_deauth_msg_print(const uint8_t* msg, size_t length) {
    client_deauth_msg_s r;
    if (!begin(msg, length, r, kClientDeauth))
        return;
    num("radio", r.radio);
    num("channel", r.channel);
    mac("client_mac", r.client_mac);
    mac("fake_bssid", r.fake_bssid);
    emit();
}

void cl2tunnel_config_msg_print(const uint8_t* msg, size_t length) {
    cl2tunnel_config_msg_s r;
    if (!begin(msg, length, r, kCl2Config))
        return;
    uint16_t count;
    memcpy(&count, r.vlan_count, sizeof count);
    num("vlan_count", count);
    // A count above the list's 64 identifiers shows the 64 there are.
    size_t n = count < sizeof r.vlan_ids / 2 ? count : sizeof r.vlan_ids / 2;
    for (size_t i = 0; i < n; ++i) {
        uint16_t vlan;
        memcpy(&vlan, r.vlan_ids + 2 * i, sizeof vlan);
        add(" vlan_id[%zu] : %u\n", i, vlan);
    }
    emit();
}

void cltqos_auth_def_req_msg_print(const uint8_t* msg, size_t length) {
    cltqos_auth_def_req_msg_s r;
    if (!begin(msg, length, r, kCltqosReq))
        return;
    cltqos_names("aclType", "aclName", r.acl);
    cltqos_names("policyType", "policyName", r.policy);
    emit();
}

void tspec_msg_print(const uint8_t* msg, size_t length) {
    tspec_msg_s r;
    if (!begin(msg, length, r, kTspec))
        return;
    num("cmd_type", r.cmd_type);
    mac("ap_macaddr", r.ap_macaddr);
    mac("vap_macaddr", r.vap_macaddr);
    mac("client_macaddr", r.client_macaddr);
    radio(r.radio_if);
    text("ssid", r.ssid, sizeof r.ssid);
    num("ac_index", r.ac_index);
    num("rsvd1", r.rsvd1);
    hex("ts_info", r.ts_info, sizeof r.ts_info);
    num("nom_msdu_size", r.nom_msdu_size);
    num("max_msdu_size", r.max_msdu_size);
    num("min_srv_interval", r.min_srv_interval);
    num("max_srv_interval", r.max_srv_interval);
    num("inactivity_interval", r.inactivity_interval);
    num("suspension_interval", r.suspension_interval);
    num("srve_start_time", r.srve_start_time);
    num("min_data_rate", r.min_data_rate);
    num("mean_data_rate", r.mean_data_rate);
    num("peak_data_rate", r.peak_data_rate);
    num("max_burst_size", r.max_burst_size);
    num("delay_bound", r.delay_bound);
    num("min_phy_rate", r.min_phy_rate);
    num("surplus_bw", r.surplus_bw);
    num("medium_time", r.medium_time);
    num("wlan_util", r.wlan_util);
    num("prev_medium_time", r.prev_medium_time);
    num("prev_ac_index", r.prev_ac_index);
    num("bAdmitted", r.bAdmitted);
    emit();
}

namespace {
void ts_status(const char* prefix, const mmsg_ts_status& s) {
    add(" %s.ts_oper_status : %u\n", prefix, s.ts_oper_status);
    add(" %s.num_active_ts : %u\n", prefix, s.num_active_ts);
    add(" %s.num_ts_clients : %u\n", prefix, s.num_ts_clients);
    add(" %s.num_roam_ts_clients : %u\n", prefix, s.num_roam_ts_clients);
    add(" %s.medium_time_admitted : %u\n", prefix, s.medium_time_admitted);
    add(" %s.medium_time_unallocated : %u\n", prefix, s.medium_time_unallocated);
    add(" %s.medium_time_roaming_unallocated : %u\n", prefix, s.medium_time_roaming_unallocated);
}
}  // namespace

void tspec_status_msg_print(const uint8_t* msg, size_t length) {
    tspec_status_msg_s r;
    if (!begin(msg, length, r, kTspecStatus))
        return;
    num("cmd_type", r.cmd_type);
    num("ac_index", r.ac_index);
    num("rsvd1", r.rsvd1);
    num("num_active_ts", r.num_active_ts);
    num("num_ts_clients", r.num_ts_clients);
    num("num_roam_ts_clients", r.num_roam_ts_clients);
    num("tspecs_accepted", r.tspecs_accepted);
    num("tspecs_rejected", r.tspecs_rejected);
    num("roam_tspecs_accepted", r.roam_tspecs_accepted);
    num("roam_tspecs_rejected", r.roam_tspecs_rejected);
    char prefix[32];
    for (int radio_i = 0; radio_i < 2; ++radio_i) {
        snprintf(prefix, sizeof prefix, "radio_status[%d]", radio_i);
        ts_status(prefix, r.radio_status[radio_i]);
    }
    for (int radio_i = 0; radio_i < 2; ++radio_i) {
        for (int vap = 0; vap < 16; ++vap) {
            snprintf(prefix, sizeof prefix, "vap_status[%d][%d]", radio_i, vap);
            ts_status(prefix, r.vap_status[radio_i][vap]);
        }
    }
    emit();
}

void tspec_direct_msg_print(const uint8_t* msg, size_t length) {
    tspec_direct_msg_s r;
    if (!begin(msg, length, r, kTspecDirect))
        return;
    num("cmd_type", r.cmd_type);
    num("managed_mode", r.managed_mode);
    emit();
}

// The list: the AP's MAC, then per VAP its MAC and three neighbour slots of 13
// bytes (MAC, channel, PHY type, regulatory class, 4 bytes of BSSID
// information); the last VAP's unfilled slots are left out.  Empty slots (an
// all-zero MAC) are skipped; an all-zero VAP MAC ends the list.
void rrm_nbr_ap_list_print(const uint8_t* msg, size_t length) {
    rrm_nbr_list_msg_s r;
    if (!begin(msg, length, r, kRrmNbrList))
        return;
    static constexpr uint8_t kZeroMac[MMSG_MAC_LEN] = {};
    constexpr size_t kSlot = 13;
    num("used", r.used);
    size_t used = r.used < sizeof r.list ? r.used : sizeof r.list;
    if (used >= MMSG_MAC_LEN)
        mac("ap_mac", r.list);
    size_t pos = MMSG_MAC_LEN;
    int vap = 0;
    while (pos + MMSG_MAC_LEN <= used && memcmp(r.list + pos, kZeroMac, MMSG_MAC_LEN) != 0) {
        add(" vap_mac[%d] : %s\n", vap, mac_to_string(r.list + pos));
        pos += MMSG_MAC_LEN;
        for (int slot = 0; slot < 3 && pos + kSlot <= used; ++slot, pos += kSlot) {
            const uint8_t* n = r.list + pos;
            if (memcmp(n, kZeroMac, MMSG_MAC_LEN) == 0)
                continue;
            add(" nbr_mac[%d][%d] : %s\n", vap, slot, mac_to_string(n));
            add(" nbr_channel[%d][%d] : %u\n", vap, slot, n[6]);
            add(" nbr_phy_type[%d][%d] : %u\n", vap, slot, n[7]);
            add(" nbr_reg_class[%d][%d] : %u\n", vap, slot, n[8]);
            add(" nbr_bssid_info[%d][%d] : %2.2x%2.2x%2.2x%2.2x\n", vap, slot, n[9], n[10], n[11],
                n[12]);
        }
        ++vap;
    }
    emit();
}

void rrm_chan_load_req_print(const uint8_t* msg, size_t length) {
    rrm_chan_load_req_msg_s r;
    if (!begin(msg, length, r, kRrmLoadReq))
        return;
    mac("ap_macaddr", r.ap_macaddr);
    mac("client_macaddr", r.client_macaddr);
    num("channel", r.channel);
    num("duration", r.duration);
    emit();
}

void rrm_chan_load_rep_msg_print(const uint8_t* msg, size_t length) {
    rrm_chan_load_rep_msg_s r;
    if (!begin(msg, length, r, kRrmLoadRep))
        return;
    mac("ap_macaddr", r.ap_macaddr);
    mac("client_macaddr", r.client_macaddr);
    num("channel", r.channel);
    num("duration", r.duration);
    num("report_mode", r.report_mode);
    num("channel_load", r.channel_load);
    emit();
}
