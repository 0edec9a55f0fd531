// Roaming messages of the switch towards a managed AP, as swsim builds them:
// PMKs (38), pre-authentication frames (24) and answers (36), RADIUS packets
// (98), TSPEC admission replies (105) and deletions (106); what the switch
// has heard of each client, so that a scenario step names only the client;
// and the RF-scan reports (10) and supported-channel lists (31) that hostapd
// builds itself and the AP forwards, listed element by element.  The AP's
// roaming messages are read by swsim_client_parse (client_msg.hpp).  A
// section of its own at the end builds the switch's radio, WIDS, RRM and
// provisioning commands, and another the client QoS list changes, mode
// updates and definition replies.
//
// The TSPEC policy says how swsim answers an admission request (104):
//   admit    reply 105 with the request's stream and the admitted flag 1
//   refuse   the same with the admitted flag 0
//   none     no answer (a test answers by hand)
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "swsim/client_msg.hpp"
#include "wire/map_provision_msg.hpp"

// 38: client (0xF100), SSID (0xF101, the 32-byte field; left out when
// `with_ssid` is false), PMK (0xF104).
std::vector<uint8_t> swsim_msg_pmk(const uint8_t client[6], const std::string& ssid,
                                   const uint8_t pmk[32], bool with_ssid = true);
// 24 or 36: client, SSID (32), BSSID (0xF102), data (0xF103).
std::vector<uint8_t> swsim_msg_pre_auth(uint16_t type, const uint8_t client[6],
                                        const std::string& ssid, const uint8_t bssid[6],
                                        std::span<const uint8_t> data);
// 98: AP, VAP and client MAC, radio, SSID (32), the RADIUS packet (0x5020).
std::vector<uint8_t> swsim_msg_radius(const uint8_t ap[6], const uint8_t vap[6],
                                      const uint8_t client[6], uint8_t radio,
                                      const std::string& ssid, std::span<const uint8_t> packet);
// 105: the stream of a request (AP, VAP, client, radio, SSID, access
// category, body, WLAN use) and the admitted flag (0x5072).
std::vector<uint8_t> swsim_msg_tspec_reply(const swsim_client_msg& req, bool admitted);
// 106: the same stream without the flag, the WLAN use sent as 0.
std::vector<uint8_t> swsim_msg_tspec_delete(const swsim_client_msg& req);

// `n` bytes counting up from `first` (wrapping).
std::vector<uint8_t> swsim_pattern(size_t n, uint8_t first);
// A RADIUS packet of `n` bytes: code, identifier and length (big-endian)
// when `n` is at least 4, the rest counting up from 0x80.
std::vector<uint8_t> swsim_radius_packet(size_t n, uint8_t code, uint8_t id);

enum class swsim_tspec_mode { none, admit, refuse };
// "admit", "refuse", "none"; 0, or -1 with `error` set.
int swsim_tspec_mode_parse(const std::string& word, swsim_tspec_mode& mode, std::string& error);
const char* swsim_tspec_mode_text(swsim_tspec_mode mode);
// The answer to `req` under `mode`: 105 for an admission request (104),
// nothing for anything else or under none.
std::vector<uint8_t> swsim_tspec_answer(swsim_tspec_mode mode, const swsim_client_msg& req);

// What the switch has heard of a client from the AP: its VAP, radio and SSID
// (association request, authentication, pre-authentication, RADIUS, TSPEC),
// its PMK (authentication, PMK), the BSSID of its pre-authentication, the
// identifier of its last RADIUS packet, and its last TSPEC request (104 or
// 107) per access category (a deletion, 106, from the AP drops it).
struct swsim_roam_client {
    uint8_t mac[6] = {}, vap[6] = {}, bssid[6] = {};
    uint8_t radio = 0;
    std::string ssid;
    uint8_t pmk[32] = {};
    bool has_pmk = false, has_bssid = false;
    uint8_t radius_id = 0;
    std::vector<swsim_client_msg> tspecs;
};
struct swsim_roam {
    swsim_tspec_mode tspec = swsim_tspec_mode::none;
    // Whether client QoS definition requests (147) are answered (148, 149).
    bool cltqos_answer = true;
    std::vector<swsim_roam_client> clients;
};
// Takes in what a message from the AP says of its client.
void swsim_roam_note(swsim_roam& r, const swsim_client_msg& m);
// The client of `mac`; null when nothing was heard of it.
const swsim_roam_client* swsim_roam_find(const swsim_roam& r, const uint8_t mac[6]);

// A roaming step of a scenario, parsed:
//   pmk MAC [SSID|-]        38 with the client's PMK (the default 01..20 when none
//                           was heard) and SSID ("-": no SSID element)
//   preauth MAC BYTES       24 with BYTES data bytes counting up from 0x80
//   preauth-ans MAC BYTES   the same as 36
//   radius MAC BYTES        98 with an Access-Accept (code 2) of BYTES bytes
//                           answering the client's last identifier
//   tspec-delete MAC [AC]   106 for the client's last TSPEC request (of AC)
// Values the step does not give come from what was heard of the client (VAP
// zero, radio 0, SSID "" and BSSID zero when nothing was).  BYTES may exceed
// what the AP takes (1600 for pre-authentication, 3000 for RADIUS; at most
// 8000), to try its refusal.
struct swsim_roam_cmd {
    uint16_t type = 0;
    uint8_t client[6] = {};
    size_t bytes = 0;
    bool ssid_given = false, no_ssid = false;
    std::string ssid;
    int ac = -1;  // -1: the latest request
};
// 0, 1 when `verb` is not a roaming step, -1 with `error` set.
int swsim_roam_cmd_parse(const std::string& verb, const std::vector<std::string>& args,
                         swsim_roam_cmd& cmd, std::string& error);
// The message of a step; empty with `error` set when a deletion names a
// stream never requested.
std::vector<uint8_t> swsim_roam_cmd_build(const swsim_roam_cmd& cmd, const swsim_roam& r,
                                          const uint8_t own_ap[6], std::string& error);

// One readable line for an RF-scan report (10) or supported-channel list
// (31): "<name> (<type>), <n> bytes: elements 0x0001(4) ..." with
// "; MALFORMED: ..." when the length field or an element does not fit.
// Empty for other types.
std::string swsim_radio_report_decode(const std::vector<uint8_t>& msg);

// ---- radio, WIDS, RRM and provisioning commands ---------------------------------
// The switch's commands that tune a managed AP's radios and its intrusion
// detection and radio measurement, as swsim builds them (big-endian values):
//   9    AP MAC (0x0021), RF scan interval (0x3101, 16-bit seconds)
//   32   AP MAC, radio id (0x3101, 1 byte), channel (0x3104, 32-bit)
//   33   AP MAC, radio id (0x3101), power level (0x3105, 1 byte)
//   70   AP MAC, wired network detection on/off (0x7001, 1 byte), its interval
//        (0x7002, 16-bit), AP attack interval (0x7003, 16-bit), BSSID attack
//        list count (0x7004, 16-bit), the list (0x7005: 7 bytes an entry, BSSID
//        then channel)
//   528  AP MAC, then per VAP its MAC (0x5001) and per neighbour its MAC
//        (0x3022) and 7-byte information (0x5053)
//   529  AP MAC, client MAC (0x0013), channel (0x0043, 1 byte), measurement
//        duration (0x504F, 16-bit TUs)
struct swsim_wids_entry {
    uint8_t bssid[6] = {};
    uint8_t channel = 0;
};
struct swsim_rrm_nbr {
    uint8_t mac[6] = {};
    uint8_t info[7] = {};
};
struct swsim_rrm_vap {
    uint8_t mac[6] = {};
    std::vector<swsim_rrm_nbr> nbrs;
};
std::vector<uint8_t> swsim_msg_rf_scan(const uint8_t ap[6], uint16_t seconds);
std::vector<uint8_t> swsim_msg_channel(const uint8_t ap[6], uint8_t radio, uint32_t channel);
std::vector<uint8_t> swsim_msg_power(const uint8_t ap[6], uint8_t radio, uint8_t level);
std::vector<uint8_t> swsim_msg_wids(const uint8_t ap[6], bool on, uint16_t interval,
                                    uint16_t attack_interval,
                                    const std::vector<swsim_wids_entry>& list);
std::vector<uint8_t> swsim_msg_rrm_neighbors(const uint8_t ap[6],
                                             const std::vector<swsim_rrm_vap>& vaps);
std::vector<uint8_t> swsim_msg_chan_load_req(const uint8_t ap[6], const uint8_t client[6],
                                             uint8_t channel, uint16_t duration);

// A command step of a scenario, parsed (a trailing AP-MAC names another AP
// than the one the switch talks to, to try the AP's refusal):
//   rf-scan SECONDS [AP-MAC]                          0 to 65535
//   channel RADIO CHANNEL [AP-MAC]                    radio 0 to 255, channel 32-bit
//   power RADIO LEVEL [AP-MAC]                        both 0 to 255
//   wids on|off INTERVAL ATTACK-INTERVAL [BSSID/CHANNEL ...] [AP-MAC]
//                                                     intervals 0 to 65535, up to
//                                                     32 entries, channel 0 to 255
//   rrm-neighbors VAP-MAC=[NBR-MAC/INFO,...] ... [AP-MAC]
//                                                     INFO: 14 hex digits (7 bytes);
//                                                     up to 64 VAPs of up to 8
//                                                     neighbours ("VAP-MAC=": none)
//   chan-load CLIENT-MAC CHANNEL DURATION [AP-MAC]    channel 0 to 255, duration
//                                                     0 to 65535
// Radio ids, channels, counts and list sizes the AP refuses (radio 0 or 3,
// channel 0, more than 16 BSSIDs or 3 neighbours) are sent as given.
struct swsim_radio_cmd {
    uint16_t type = 0;
    uint8_t ap[6] = {};
    bool ap_given = false;
    uint8_t radio = 0, level = 0;
    uint32_t channel = 0;
    uint16_t seconds = 0, attack_interval = 0, duration = 0;
    bool wids_on = false;
    std::vector<swsim_wids_entry> bssids;
    std::vector<swsim_rrm_vap> vaps;
    uint8_t client[6] = {};
};
// 0, 1 when `verb` is not a command step, -1 with `error` set.
int swsim_radio_cmd_parse(const std::string& verb, const std::vector<std::string>& args,
                          swsim_radio_cmd& cmd, std::string& error);
// The message of a step; `own_ap` unless the step named another AP.
std::vector<uint8_t> swsim_radio_cmd_build(const swsim_radio_cmd& cmd, const uint8_t own_ap[6]);

// The provisioning command (514) of a scenario step or of the provisioning
// tool, from words:
//   switch=IP primary=IP backup=IP mutual=0|1 reprovision=0|1 cert=FILE
//   backup-cert=FILE ap-mac=MAC
// IP is IPv4 or IPv6.  Left out: the switch is the switch's own address, the
// primary switch the switch, the backup 0.0.0.0, both flags 0, no certificate
// elements, and the AP MAC the one the switch talks to (none when it knows
// none).  A certificate file is read when the words are; it may exceed what
// the AP takes (1024 bytes), to try its refusal.
struct swsim_provision {
    map_provision_cmd cmd;
    bool switch_given = false, primary_given = false, ap_given = false;
};
int swsim_provision_parse(const std::vector<std::string>& words, swsim_provision& p,
                          std::string& error);
// The message; `own_ip` in host order, `own_ap` null when no AP MAC is known.
// Empty with `error` set when the certificates do not fit one message.
std::vector<uint8_t> swsim_provision_build(const swsim_provision& p, uint32_t own_ip,
                                           const uint8_t* own_ap, std::string& error);

// ---- client QoS: list changes, modes and definition replies ------------------------
// The switch's client QoS messages towards a managed AP, as swsim builds them
// (big-endian values, names in 31-byte fields NUL-padded and cut to 31):
//   144, 146  list update, list delete: entry count (0x0111, 16-bit), then per
//             entry 0x0112 (an ACL) or 0x0113 (id type 8, a policy) of 32
//             bytes: id type (1), name (31)
//   145       list rename: the count, then per entry 0x0114 (an ACL) or 0x0115
//             (a policy) of 63 bytes: id type (1), new name (31), old name (31)
//   148, 149  definition replies (ACLs, policies): see swsim_qos_answer
//   150       mode update: AP MAC (0x0021), then per radio 0x0120 of 18 bytes:
//             global mode (1), radio number (1, from 1), modes of VAPs 0 to 15
//             (16); the older form carries the global mode alone in 0x0122 (1)
// Id types: 1 ACL ip4-num, 2 ACL ipv4, 3 ACL ipv6, 4 ACL mac, 8 Policy in
// (0 none, 5 to 7 reserved).  Any id type may be sent, to try the AP's refusal.
struct swsim_qos_entry {
    uint16_t code = 0;  // the element that carries it
    uint8_t id_type = 0;
    std::string name, old_name;  // old_name: renames only
};
struct swsim_qos_radio {
    uint8_t global = 0, radio = 0;
    uint8_t vap_modes[16] = {};
};
// "ACL ipv4", "Policy in", "<rsvd5>", "none"; "<unknown N>" above 8.
std::string swsim_qos_id_type_name(uint8_t id_type);
// 144, 145, 146, 148 or 149 with these entries (each in the element its
// type and id type call for; `code` is not read) and the count field `count`
// (-1: the number of entries).
std::vector<uint8_t> swsim_msg_qos_list(uint16_t type, const std::vector<swsim_qos_entry>& entries,
                                        int count = -1);
// 150: the AP MAC, one 0x0120 per radio, and with `old_global` >= 0 the
// older 0x0122 after them (alone, or beside radios to try the AP's refusal).
std::vector<uint8_t> swsim_msg_qos_mode(const uint8_t ap[6], const std::vector<swsim_qos_radio>& radios,
                                        int old_global = -1);

// A client QoS message (144 to 150) read element by element.
struct swsim_qos_msg {
    uint16_t type = 0;
    int count = -1;  // -1: no count element
    std::vector<swsim_qos_entry> entries;
    bool has_ap = false;
    uint8_t ap[6] = {};
    int old_global = -1;  // -1: no 0x0122
    std::vector<swsim_qos_radio> radios;
    std::string problems;  // empty when well formed
};
// 0, or -1 when `msg` is no client QoS message.  Faults go into `problems`:
// a wrong length field, a count element missing or not first, a count other
// than the entries, an element of the wrong length, cut short or not of this
// type, stray bytes, and in a definition request (147) more than 8 entries or
// an id type its element does not carry (0x0112: 1 to 4, 0x0113: 8).
int swsim_qos_parse(const std::vector<uint8_t>& msg, swsim_qos_msg& m);
// One readable line: "CLTQOS_DEF_REQ (147), 82 bytes: count 2 acl 2 (ACL
// ipv4) "acl-a" policy 8 (Policy in) "pol"", with "; MALFORMED: ..." for a
// faulty message.  Empty for other types.
std::string swsim_qos_decode(const std::vector<uint8_t>& msg);
// The answers to a definition request (147) when `on`: a 148 with its ACL
// entries and a 149 with its policy entries, each left out when it would be
// empty.  The AP hands them to mapqosd without reading them, so any well
// framed message of the type naming the definitions serves: swsim echoes the
// requested entries under their own count instead of inventing rule content.
// Nothing for other messages or when off.
std::vector<std::vector<uint8_t>> swsim_qos_answer(bool on, const std::vector<uint8_t>& msg);
struct swsim;
// Sends the answers above under `s.roam.cltqos_answer` (swsim.cpp); 1 when
// some went out, 0 when none is due, -1 on a send error.
int swsim_answer_cltqos(swsim& s, const std::vector<uint8_t>& msg);
// "on" or "off"; 0, or -1 with `error` set.
int swsim_qos_answer_parse(const std::string& word, bool& on, std::string& error);

// A client QoS step of a scenario, parsed (entries as words or joined by
// commas, TYPE an id type number 0 to 255 or ip4num, ipv4, ipv6, mac,
// policy; names of more than 31 bytes are cut; up to 100 entries):
//   acl-update TYPE:NAME,... [count=N]        144
//   acl-rename TYPE:OLD>NEW,... [count=N]     145
//   acl-delete TYPE:NAME,... [count=N]        146
//   qos-mode GLOBAL RADIO:MODES ...           150, one 0x0120 per radio
//   qos-mode-old GLOBAL [RADIO:MODES ...]     150 with 0x0122 (after any radios)
// count=N (0 to 65535) sends another count than the entries'.  GLOBAL and
// RADIO 0 to 255 (the AP takes radios 1 and 2); MODES: 16 hex digits, the
// mode byte of VAP 0 to 15 ("1100000000000000": VAPs 0 and 1 up).
struct swsim_qos_cmd {
    uint16_t type = 0;
    std::vector<swsim_qos_entry> entries;
    int count = -1;
    std::vector<swsim_qos_radio> radios;
    int old_global = -1;
};
// 0, 1 when `verb` is not a client QoS step, -1 with `error` set.
int swsim_qos_cmd_parse(const std::string& verb, const std::vector<std::string>& args,
                        swsim_qos_cmd& cmd, std::string& error);
std::vector<uint8_t> swsim_qos_cmd_build(const swsim_qos_cmd& cmd, const uint8_t own_ap[6]);
