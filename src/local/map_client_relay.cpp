// hostapd's client events relayed to the switch: probe requests, association
// requests, disassociations, authentication failures, client addresses and
// terminations of a client's distributed tunnel.  Each event becomes one
// switch message at once, built in a zeroed buffer on the stack.
#include "local/map_client_relay.hpp"

#include <algorithm>
#include <cstring>

#include "core/managed_ap.hpp"
#include "local/mmsg_print.hpp"
#include "local/relay_common.hpp"
#include "log/map_log.hpp"
#include "stats/map_stats.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"
#include "tunnel/map_dl2tunnel.hpp"
#include "tunnel/map_tunnel.hpp"
#include "wire/wire.hpp"

using namespace mmsg_relay;

namespace {

static constexpr char map_log_module[] = "switch_module";

// Element codes of the messages built here.  The client connection message
// gives the 0x5001 to 0x5005 codes meanings of its own (see its sender).
constexpr uint16_t kElemClientMac = 0x0013;  // tunnel termination
constexpr uint16_t kElemApMac = 0x0021;
constexpr uint16_t kElemVapMac = 0x5001;
constexpr uint16_t kElemStaMac = 0x5002;
constexpr uint16_t kElemRadio = 0x5003;
constexpr uint16_t kElemSsid = 0x5004;
constexpr uint16_t kElemRssi = 0x5005;
constexpr uint16_t kElemChannel = 0x5006;
constexpr uint16_t kElemAuthenStatus = 0x5010;
constexpr uint16_t kElemHomeApMac = 0x5041;

constexpr size_t kHdr = 4;
constexpr size_t elem_size(size_t value_len) {
    return 4 + value_len;
}
constexpr size_t kMac = MMSG_MAC_LEN;

// The largest message of each sender (SSID elements at their longest).
constexpr size_t kProbeMax =
    kHdr + elem_size(kMac) * 2 + elem_size(1) + elem_size(32) + elem_size(1) * 2;
constexpr size_t kAssocReqMax = kHdr + elem_size(kMac) * 3 + elem_size(1) + elem_size(33);
constexpr size_t kDisassocLen = kHdr + elem_size(kMac) * 2 + elem_size(1);
constexpr size_t kAuthenFailMax = kHdr + elem_size(kMac) * 2 + elem_size(32) + elem_size(1);
constexpr size_t kClientConnLen =
    kHdr + elem_size(kMac) + elem_size(1) + elem_size(16) + elem_size(1) * 2;
constexpr size_t kTermLen = kHdr + elem_size(kMac) * 2;
static_assert(kDisassocLen == 29 && kClientConnLen == 49 && kTermLen == 24);

// The SSID text of a fixed field: up to its first NUL, at most `bound` bytes.
uint16_t ssid_len(const char* field, size_t bound) {
    return static_cast<uint16_t>(strnlen(field, bound));
}

}  // namespace

// ---- senders ---------------------------------------------------------------------

int map_send_probe_req_pkt(map_switch_comm* rec, const probe_reqmsg_s* msg) {
    // No link state check: the send itself refuses before the TLS channel is up.
    if (const char* why = refusal(rec, msg, false, "Invalid probe request message.")) {
        MAP_ERROR("%s", why);
        return -1;
    }
    uint8_t buf[kProbeMax];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_AP_PROBE_REQ);
    wire_msg_add(m, kElemVapMac, msg->vap_macaddr, kMac);
    wire_msg_add(m, kElemStaMac, msg->client_macaddr, kMac);
    wire_msg_add_u8(m, kElemRadio, msg->radio_if);
    wire_msg_add(m, kElemSsid, msg->ss_id, ssid_len(msg->ss_id, sizeof msg->ss_id));
    wire_msg_add_u8(m, kElemRssi, msg->rssi);
    wire_msg_add_u8(m, kElemChannel, msg->channel);
    if (send_built(rec, m, 0) != 0) {
        MAP_ERROR("Error sending probe_req packet to switch.");
        return -1;
    }
    return 0;
}

int map_send_assoc_req_pkt(map_switch_comm* rec, const assoc_req_msg_s* msg) {
    if (const char* why = refusal(rec, msg, true, "Invalid assoc_req message.")) {
        MAP_ERROR("%s", why);
        return -1;
    }
    uint8_t buf[kAssocReqMax];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_CLIENT_ASSOC_REQ);
    wire_msg_add(m, kElemApMac, msg->ap_macaddr, kMac);
    wire_msg_add(m, kElemVapMac, msg->vap_macaddr, kMac);
    wire_msg_add(m, kElemStaMac, msg->client_macaddr, kMac);
    wire_msg_add_u8(m, kElemRadio, msg->radio_if);
    wire_msg_add(m, kElemSsid, msg->ssid, ssid_len(msg->ssid, sizeof msg->ssid));
    if (send_built(rec, m, 1) != 0) {
        MAP_ERROR("Error sending assoc_cmd packet to switch.");
        return -1;
    }
    return 0;
}

int map_send_disassoc_req_pkt(map_switch_comm* rec, const disassoc_reqmsg_s* msg) {
    if (const char* why = refusal(rec, msg, true, "Invalid disassoc_req message.")) {
        MAP_ERROR("%s", why);
        return -1;
    }
    // The client's distributed tunnel goes first; the home AP is not known here.
    map_dl2tunnel_term_record term{};
    memcpy(term.client_mac, msg->client_macaddr, kMac);
    map_dl2tunnel_terminate(&term);

    uint8_t buf[kDisassocLen];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_AP_DISASSOC_REQ);
    wire_msg_add(m, kElemVapMac, msg->vap_macaddr, kMac);
    wire_msg_add(m, kElemStaMac, msg->client_macaddr, kMac);
    wire_msg_add_u8(m, kElemRadio, msg->radio_if);
    if (send_built(rec, m, 1) != 0) {
        MAP_ERROR("Error sending disassoc_req packet to switch.");
        return -1;
    }
    return 0;
}

int map_send_authen_fail_pkt(map_switch_comm* rec, const authen_failmsg_s* msg) {
    if (const char* why = refusal(rec, msg, true, "Invalid authen_fail message.")) {
        MAP_ERROR("%s", why);
        return -1;
    }
    uint8_t buf[kAuthenFailMax];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, SWITCH_AP_AUTHEN_FAIL);
    wire_msg_add(m, kElemVapMac, msg->vap_macaddr, kMac);
    wire_msg_add(m, kElemStaMac, msg->client_macaddr, kMac);
    wire_msg_add(m, kElemSsid, msg->ss_id, ssid_len(msg->ss_id, sizeof msg->ss_id));
    wire_msg_add_u8(m, kElemAuthenStatus, msg->authen_status);
    if (send_built(rec, m, 1) != 0) {
        MAP_ERROR("Error sending authe_fail packet to switch.");
        return -1;
    }
    return 0;
}

int map_send_client_conn_pkt(map_switch_comm* rec, const mclient_conn_msg_s* msg) {
    if (const char* why = refusal(rec, msg, true, "Invalid client conn message.")) {
        MAP_ERROR("%s", why);
        return -1;
    }
    // The address element: an IPv6-sized field with the IPv4 address in its
    // last four bytes, address type 1.
    constexpr uint8_t kAddrTypeIpv4 = 1;
    uint8_t addr[16] = {};
    wire_store_be32(addr + 12, msg->client_ip);

    uint8_t buf[kClientConnLen];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, MAP_CONFIG_STATS_IE_CP_CLIENT_AUTH_REQ);
    wire_msg_add(m, 0x5001, msg->client_macaddr, kMac);
    wire_msg_add_u8(m, 0x5002, kAddrTypeIpv4);
    wire_msg_add(m, 0x5003, addr, sizeof addr);
    wire_msg_add_u8(m, 0x5004, msg->radio_if);
    wire_msg_add_u8(m, 0x5005, msg->vap_id);
    if (send_built(rec, m, 1) != 0) {
        MAP_ERROR("Error sending client_conn_data packet to switch.");
        return -1;
    }
    return 0;
}

int map_send_dl2tunnel_term_pkt(map_switch_comm* rec, const dl2tunnel_term_msg_s* msg) {
    if (const char* why =
            refusal(rec, msg, true, "Invalid Distributed L2 Tunnel Terminate message.")) {
        MAP_ERROR("%s", why);
        return -1;
    }
    uint8_t buf[kTermLen];
    wire_msg m;
    wire_msg_begin(m, buf, sizeof buf, MAP_SWITCH_DL2TUNNEL_TERM_MSG_ID);
    wire_msg_add(m, kElemHomeApMac, msg->home_ap_mac, kMac);
    wire_msg_add(m, kElemClientMac, msg->client_mac, kMac);
    if (send_built(rec, m, 1) != 0) {
        MAP_ERROR("Error sending dist l2 tunnel term packet to switch.");
        return -1;
    }
    return 0;
}

// ---- local handlers ----------------------------------------------------------------

int process_probe_req_msg(const uint8_t* msg, size_t length) {
    return relay<probe_reqmsg_s, map_send_probe_req_pkt>(msg, length);
}

int process_assoc_req_msg(const uint8_t* msg, size_t length) {
    return relay<assoc_req_msg_s, map_send_assoc_req_pkt>(msg, length);
}

int process_client_conn_msg(const uint8_t* msg, size_t length) {
    return relay<mclient_conn_msg_s, map_send_client_conn_pkt>(msg, length);
}

int process_dl2tunnel_term_msg(const uint8_t* msg, size_t length) {
    return relay<dl2tunnel_term_msg_s, map_send_dl2tunnel_term_pkt>(msg, length);
}

// The client table forgets the client whether or not the switch was told.
int process_disassoc_req_msg(const uint8_t* msg, size_t length) {
    const auto rec = record_of<disassoc_reqmsg_s>(msg, length);
    map_switch_comm* sc = get_switch_context();
    if (sc == nullptr) {
        return -1;
    }
    const int result = map_send_disassoc_req_pkt(sc, &rec);
    if (map_cs* cs = component(sc)) {
        map_cs_process_disassoc_cmd(cs, rec.client_macaddr);
    }
    return result;
}

// The VAP's failure counters count the failure whether or not the switch was told.
int process_authen_fail_msg(const uint8_t* msg, size_t length) {
    const auto rec = record_of<authen_failmsg_s>(msg, length);
    map_switch_comm* sc = get_switch_context();
    if (sc == nullptr) {
        return -1;
    }
    const int result = map_send_authen_fail_pkt(sc, &rec);
    if (map_cs* cs = component(sc)) {
        map_cs_process_authen_fail_cmd(cs, rec.client_macaddr, rec.vap_macaddr, rec.authen_status);
    }
    return result;
}
