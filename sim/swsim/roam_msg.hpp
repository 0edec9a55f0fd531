// Roaming messages of the switch towards a managed AP, as swsim builds them:
// PMKs (38), pre-authentication frames (24) and answers (36), RADIUS packets
// (98), TSPEC admission replies (105) and deletions (106); what the switch
// has heard of each client, so that a scenario step names only the client;
// and the RF-scan reports (10) and supported-channel lists (31) that hostapd
// builds itself and the AP forwards, listed element by element.  The AP's
// roaming messages are read by swsim_client_parse (client_msg.hpp).  A
// section of its own at the end builds the switch's radio, WIDS, RRM and
// provisioning commands.
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
