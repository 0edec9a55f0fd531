// Client messages between the switch and a managed AP, as swsim builds and
// reads them: the AP's client events (probe request over UDP; association
// request, disassociation, authentication failure, client address, tunnel
// termination over TLS; the roaming messages too) and the switch's client
// commands (association reply, disassociate, resend client information, new
// ARP, threat deauthentication; roam_msg.hpp builds the roaming answers).
//
// The association policy says how swsim answers an association request:
//   accept    reply 97 with the request's VAP, client, radio and SSID, the
//             client status, PMK, re-authentication interval and age
//   tunnel    the same with status bit 0x20 and the home AP element (another
//             AP is the client's home: flag 0, its MAC and IPv4 address)
//   refuse    no reply: a disassociate command (26) for the client instead,
//             so that hostapd drops it
//   none      no answer at all (a test answers by hand)
// Words after the mode: vlan=N (adds element 0x500C), status=N (ORed into
// the client status), home=MAC, home-ip=A.B.C.D, reauth=S, age=S.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Message types of the relay that have no name constant of their own.
inline constexpr uint16_t SWSIM_CLIENT_ASSOC_REQ = 96;
inline constexpr uint16_t SWSIM_CLIENT_ASSOC_REPLY = 97;
inline constexpr uint16_t SWSIM_RESEND_CLIENT_INFO = 40;
inline constexpr uint16_t SWSIM_CLIENT_CONN = 4358;
inline constexpr uint16_t SWSIM_DL2TUNNEL_TERM = 112;
inline constexpr uint16_t SWSIM_THREAT_DEAUTH = 116;

// Client QoS of a client authentication or association reply, per
// direction (index 0 down, 1 up); names cut at their NUL (31 bytes at most).
struct swsim_client_qos {
    uint8_t bw_flag[2] = {};
    uint32_t bw_rate[2] = {};
    uint8_t acl_type[2] = {}, policy_type[2] = {};
    std::string acl[2], policy[2];
};

// A TSPEC body (element 0x5071, big-endian on the wire), in host order.
struct swsim_tspec_body {
    uint8_t rsvd1 = 0, ts_info[3] = {};
    uint16_t nom_msdu = 0, max_msdu = 0;
    // min_srv_interval, max_srv_interval, inactivity, suspension, service
    // start, min/mean/peak data rate, max burst, delay bound, min PHY rate
    uint32_t f[11] = {};
    uint16_t surplus_bw = 0, medium_time = 0;
};

// A client message read element by element.  Fields the message does not
// carry stay zero.
struct swsim_client_msg {
    uint16_t type = 0;
    uint16_t length = 0;   // the header's length field
    // Empty when the elements come in the order and with the lengths the
    // message type has, and the length field is the message's size;
    // otherwise what is wrong, readably.
    std::string problems;
    std::vector<uint16_t> elems;  // element codes in the order received
    uint8_t ap_mac[6] = {}, vap_mac[6] = {}, client_mac[6] = {};
    uint8_t home_ap_mac[6] = {}, fake_bssid[6] = {};
    uint8_t radio = 0, rssi = 0, channel = 0, auth_status = 0;
    uint8_t addr_type = 0, vap_id = 0, home_ap = 0;
    std::string ssid;
    uint8_t client_addr[16] = {};  // client address message
    uint32_t ipv4 = 0;             // new ARP, or the client address's IPv4 (host order)
    uint16_t vlan = 0;
    uint32_t status = 0;
    uint8_t pmk[32] = {};
    uint32_t reauth = 0, age = 0;
    uint32_t home_ip = 0;  // host order
    // Client authentication (39): PMK and re-authentication interval above.
    std::string user;
    uint16_t tx_rate = 0;
    uint8_t dot11n = 0, stbc = 0;
    uint32_t flags = 0;
    swsim_client_qos qos_eff;   // 0x5059..0x5061: what the AP made of them
    swsim_client_qos qos_auth;  // 0x5062..0x5064 (also an association reply's)
    uint8_t rrm[5] = {};
    // Pre-authentication (24, 36, 115) and RADIUS (98).
    uint8_t bssid[6] = {};
    uint8_t preauth_status = 0;
    std::vector<uint8_t> data;  // pre-authentication data or the RADIUS packet
    // TSPEC (104 to 107).
    uint8_t ac = 0;
    swsim_tspec_body tspec;
    uint32_t wlan_util = 0;
    uint16_t prev_medium_time = 0;
    uint8_t prev_ac = 0, admitted = 0;
    // Channel load report (530); its channel above.
    uint16_t duration = 0;
    uint8_t report_mode = 0, load = 0;
    bool has(uint16_t code) const;
};

// Reads a client message; 0, or -1 when `msg` is not one of the relay's
// messages (type 11 only with the probe request's first element).  The
// roaming messages are client messages too: client authentication (39, with
// the RRM element exactly when client flag 0x80 is set), PMK (38),
// pre-authentication (24, 36) and its result (115), RADIUS (98), TSPEC
// (104 to 107) and the channel load report (530).
int swsim_client_parse(const std::vector<uint8_t>& msg, swsim_client_msg& out);
// One readable line: "<name> (<type>), <n> bytes: field value ..." and, for a
// malformed message, "; MALFORMED: ...".  Empty when not a client message.
std::string swsim_client_decode(const std::vector<uint8_t>& msg);

enum class swsim_assoc_mode { none, accept, refuse };

// A policy made without words accepts; the switch simulator's own starts as
// none (see swsim.hpp), so a program using the library answers only when it
// sets one.
struct swsim_assoc_policy {
    swsim_assoc_mode mode = swsim_assoc_mode::accept;
    bool tunnel = false;
    uint16_t vlan = 0;  // 0: no VLAN element
    uint32_t status = 0;
    uint8_t home_mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4e, 0x00};
    uint32_t home_ip = 0x7F000003;  // 127.0.0.3
    uint8_t pmk[32] = {};           // bytes 1..32 unless set
    uint32_t reauth = 3600, age = 0;
    swsim_assoc_policy();
    explicit swsim_assoc_policy(swsim_assoc_mode m) : swsim_assoc_policy() { mode = m; }
};

// Parses the words of a policy ("tunnel", "vlan=100", ...); 0, or -1 with
// `error` set.
int swsim_assoc_policy_parse(const std::vector<std::string>& words, swsim_assoc_policy& p,
                             std::string& error);
// The words of an option value joined by commas ("tunnel,vlan=100").
std::vector<std::string> swsim_split_commas(const std::string& text);
// "accept", "tunnel vlan 100", "refuse", "none".
std::string swsim_assoc_policy_text(const swsim_assoc_policy& p);

// The switch's answer to an association request under `p`: a reply (97), a
// disassociate command (26), or nothing.  `ap_mac` is the AP's MAC as the
// switch knows it.
std::vector<uint8_t> swsim_assoc_answer(const swsim_assoc_policy& p, const swsim_client_msg& req,
                                        const uint8_t ap_mac[6]);

// Reply 97: AP MAC, VAP MAC, client MAC, radio, SSID, [VLAN], [home AP],
// client status, PMK with the intervals.
std::vector<uint8_t> swsim_msg_assoc_reply(const uint8_t ap_mac[6], const uint8_t vap_mac[6],
                                           const uint8_t client_mac[6], uint8_t radio,
                                           const std::string& ssid, const swsim_assoc_policy& p);
// 26 and 40: AP MAC, client MAC (20 element bytes).
std::vector<uint8_t> swsim_msg_disassociate(const uint8_t ap_mac[6], const uint8_t client_mac[6]);
std::vector<uint8_t> swsim_msg_resend_client(const uint8_t ap_mac[6], const uint8_t client_mac[6]);
// 22: client MAC, IPv4 (host order), VAP MAC (28 element bytes).
std::vector<uint8_t> swsim_msg_new_arp(const uint8_t client_mac[6], uint32_t ip,
                                       const uint8_t vap_mac[6]);
// 116: radio (from 1), AP MAC, fake BSSID, channel, client MAC.
std::vector<uint8_t> swsim_msg_threat_deauth(const uint8_t ap_mac[6], uint8_t radio,
                                             uint8_t channel, const uint8_t client_mac[6],
                                             const uint8_t bssid[6]);

// A client command of a scenario, parsed:
//   disassociate MAC [AP-MAC]
//   resend MAC [AP-MAC]
//   new-arp MAC IPV4 VAP-MAC
//   threat-deauth RADIO CHANNEL MAC BSSID [AP-MAC]
// Without AP-MAC the command names the AP the switch talks to.
struct swsim_client_cmd {
    uint16_t type = 0;
    uint8_t client[6] = {}, vap[6] = {}, bssid[6] = {}, ap[6] = {};
    bool ap_given = false;
    uint32_t ip = 0;
    uint8_t radio = 0, channel = 0;
};
// 0, 1 when `verb` is not a client command, -1 with `error` set.
int swsim_client_cmd_parse(const std::string& verb, const std::vector<std::string>& args,
                           swsim_client_cmd& cmd, std::string& error);
std::vector<uint8_t> swsim_client_cmd_build(const swsim_client_cmd& cmd, const uint8_t own_ap[6]);

// "aa:bb:cc:dd:ee:ff" (either case) to bytes.
bool swsim_mac_parse(const std::string& text, uint8_t mac[6]);
std::string swsim_mac_text(const uint8_t mac[6]);
