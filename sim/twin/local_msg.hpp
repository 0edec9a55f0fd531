// Local messages as the twin's stand-ins see them: the records hostapd sends
// for client events and the TSPEC application for traffic streams, built at
// their byte offsets, and a reader that turns any
// datagram mapd sends to hostapd, the TSPEC application or mapqosd into one
// readable line, field by field.  Written apart from the daemon's own record
// code, so that the twin checks the daemon instead of repeating it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "twin/standins.hpp"

// hostapd's client events (host byte order, as on the AP).  Texts are cut to
// their fields: 32 bytes for the probe request and authentication failure,
// 33 for the association request.
std::vector<uint8_t> twin_msg_probe_req(const uint8_t vap[6], const uint8_t client[6], uint8_t radio,
                                        const std::string& ssid, uint8_t rssi, uint8_t channel);
std::vector<uint8_t> twin_msg_assoc_req(const uint8_t ap[6], const uint8_t vap[6],
                                        const uint8_t client[6], uint8_t radio,
                                        const std::string& ssid);
std::vector<uint8_t> twin_msg_disassoc_req(const uint8_t vap[6], const uint8_t client[6],
                                           uint8_t radio);
std::vector<uint8_t> twin_msg_authen_fail(const uint8_t vap[6], const uint8_t client[6],
                                          const std::string& ssid, uint8_t status);

// hostapd's roaming events and the TSPEC application's messages.
// A client authentication as hostapd reports it.  Numbers in host order; the
// home AP's IPv4 address (host order) goes into the last 4 of its 16 bytes.
struct twin_client_auth {
    uint8_t vap[6] = {}, client[6] = {};
    uint8_t radio = 0, vap_index = 0;
    std::string ssid, user;  // cut to 32 bytes
    uint16_t vlan = 0;       // 0: none assigned, mapd fills in the VAP's
    uint16_t tx_rate = 540;  // 100 kbit/s units
    uint8_t channel = 0, dot11n = 1, stbc = 1;
    uint32_t flags = 0x4;  // 0x80: the RRM capabilities are valid
    uint8_t pmk[32] = {};
    uint32_t reauth = 3600;
    uint8_t home_flag = 1, home_mac[6] = {};
    uint32_t home_ip = 0;
    // Client QoS, index 0 down, 1 up.
    uint8_t bw_flag[2] = {};
    uint32_t bw_rate[2] = {};
    uint8_t acl_type[2] = {}, policy_type[2] = {};
    std::string acl[2], policy[2];  // cut to 32 bytes
    uint8_t rrm[5] = {};
};
std::vector<uint8_t> twin_msg_client_auth(const twin_client_auth& a);
// Type 12 (71 bytes): client, SSID, PMK.
std::vector<uint8_t> twin_msg_pmk(const uint8_t client[6], const std::string& ssid,
                                  const uint8_t pmk[32]);
// Type 10 or 13 (48 + data bytes): client, SSID, BSSID, data (at most 1600
// bytes are taken).
std::vector<uint8_t> twin_msg_pre_auth(uint8_t type, const uint8_t client[6],
                                       const std::string& ssid, const uint8_t bssid[6],
                                       const std::vector<uint8_t>& data);
// Type 24 (85 bytes): the result of a pre-authentication (0 success).
std::vector<uint8_t> twin_msg_preauth_notify(const uint8_t ap[6], const uint8_t vap[6],
                                             const uint8_t client[6], uint8_t radio,
                                             const std::string& ssid, const std::string& user,
                                             uint8_t status);
// Type 25 (3056 bytes): the RADIUS packet (at most 3000 bytes) and its length.
std::vector<uint8_t> twin_msg_radius(const uint8_t ap[6], const uint8_t vap[6],
                                     const uint8_t client[6], uint8_t radio,
                                     const std::string& ssid, const std::vector<uint8_t>& packet);
// Type 39 (18 bytes): a client's channel load report.
std::vector<uint8_t> twin_msg_chan_load_rep(const uint8_t ap[6], const uint8_t client[6],
                                            uint8_t channel, uint16_t duration, uint8_t mode,
                                            uint8_t load);
// A TSPEC request of the TSPEC application (type 35, 120 bytes).  The
// defaults are a voice stream with a distinct value in every field.
struct twin_tspec {
    uint8_t cmd = 1;  // 1 admission, 3 deletion, 7 the third kind
    uint8_t ap[6] = {}, vap[6] = {}, client[6] = {};
    uint8_t radio = 0;
    std::string ssid;
    uint8_t ac = 3;
    uint8_t rsvd1 = 0, ts_info[3] = {0x61, 0x34, 0x01};
    uint16_t nom_msdu = 208, max_msdu = 240;
    // min_srv_interval, max_srv_interval, inactivity, suspension, service
    // start, min/mean/peak data rate, max burst, delay bound, min PHY rate
    uint32_t f[11] = {10000, 20000, 3000000, 4000000, 5, 64000, 80000, 96000, 1500, 50000, 6000000};
    uint16_t surplus_bw = 8192, medium_time = 31;
    uint32_t wlan_util = 40;
    uint16_t prev_medium_time = 12;
    uint8_t prev_ac = 2, admitted = 0;
};
std::vector<uint8_t> twin_msg_tspec(const twin_tspec& t);
// Type 40 (984 bytes): admission counters; the counter at byte offset o
// (4, 8, ..., 980) holds 1000 * ac + o / 4.
std::vector<uint8_t> twin_msg_tspec_status(uint8_t cmd, uint8_t ac);
// The twin's PMK of a client: byte i is the MAC's last byte plus i.
void twin_client_pmk(const uint8_t client[6], uint8_t pmk[32]);
// `n` bytes counting up from `first` (wrapping).
std::vector<uint8_t> twin_pattern(size_t n, uint8_t first);
// A RADIUS packet of `n` bytes: code, identifier, length (big-endian) when
// `n` is at least 4, the rest counting up from 0x40.
std::vector<uint8_t> twin_radius_packet(size_t n, uint8_t code, uint8_t id);

// One line for a datagram between mapd and a peer: "<record> (<n> bytes):"
// and each field with its value; a length the record does not have shows as
// "<n> bytes, WRONG LENGTH: expected <m>" and only the fields inside the
// datagram are read.  `from_peer`: the peer sent it (types 6 and 7 from
// hostapd carry a switch message instead of the request).
std::string twin_local_decode(standin_kind peer, bool from_peer, const uint8_t* msg, size_t len);

// The value of one field of a datagram as the line above shows it ("datalen",
// "pmk", "admitted", ...) of a hostapd or TSPEC record; "" when the record
// has no such field, the datagram does not reach it, or the peer is mapqosd.
std::string twin_local_field(standin_kind peer, const uint8_t* msg, size_t len,
                             const std::string& label);

// `apsim client DIR ACTION MAC [options]`, parsed:
//   add MAC --vap IF | remove MAC
//   assoc MAC --vap IF [--ssid S]
//   disassoc MAC [--vap IF]          (default: the VAP the client is on)
//   authfail MAC --vap IF --status N [--ssid S]
//   probe MAC --vap IF [--ssid S] [--rssi N] [--channel N]
//   auth MAC --vap IF [--ssid S] [--user U] [--vlan N] [--rrm] [--bw N] [--channel N]
//   pmk MAC --vap IF [--ssid S]
//   preauth | preauth-ans MAC --vap IF --bytes N [--ssid S]     (N at most 1600)
//   preauth-notify MAC --vap IF --status N [--ssid S] [--user U]
//   radius MAC --vap IF --bytes N [--ssid S]                    (N at most 3000)
//   chanload MAC --channel N --load N
// and `apsim tspec DIR ACTION ...`:
//   request MAC --vap IF [--ac N] [--cmd N] [--ssid S]
//   status [--ac N] [--cmd N]
struct twin_client_cmd {
    std::string action;
    std::string mac_text;
    uint8_t mac[6] = {};
    std::string vap;  // empty when not given
    std::string ssid;
    bool ssid_given = false;
    uint8_t status = 0;
    uint8_t rssi = 40;
    uint8_t channel = 0;  // 0: the radio's usual one (36 on wlan0, 6 on wlan1)
    std::string user;
    uint16_t vlan = 0;
    bool rrm = false;
    uint16_t bytes = 0;
    uint32_t bw = 0;  // 0: no client bandwidth
    uint8_t load = 0;
    uint8_t ac = 3;
    uint8_t cmd = 1;
};
int twin_client_cmd_parse(const std::vector<std::string>& args, twin_client_cmd& c,
                          std::string& error);
int twin_tspec_cmd_parse(const std::vector<std::string>& args, twin_client_cmd& c,
                         std::string& error);
// The datagram hostapd sends for a client event of the command line (every
// action but add and remove), as apsim's help describes it: the VAP MAC, the
// AP's MAC (eth0: the AP MAC of the records, the home AP of an
// authentication) and `c.ssid` as given; the radio, VAP index and usual
// channel from `c.vap`.
std::vector<uint8_t> twin_client_event(const twin_client_cmd& c, const uint8_t vap_mac[6],
                                       const uint8_t ap_mac[6]);
// The TSPEC application's datagram for `apsim tspec` (request or status).
std::vector<uint8_t> twin_tspec_event(const twin_client_cmd& c, const uint8_t vap_mac[6],
                                      const uint8_t ap_mac[6]);
// The radio of a VAP interface ("wlan0" 0, "wlan1vap3" 1), -1 for other names.
int twin_vap_radio(const std::string& ifname);
// The VAP's index within its radio ("wlan0" 0, "wlan1vap3" 3), -1 for other names.
int twin_vap_index(const std::string& ifname);
