// Local messages as the twin's stand-ins see them: the records hostapd sends
// for client events, built at their byte offsets, and a reader that turns any
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

// One line for a datagram between mapd and a peer: "<record> (<n> bytes):"
// and each field with its value; a length the record does not have shows as
// "<n> bytes, WRONG LENGTH: expected <m>" and only the fields inside the
// datagram are read.  `from_peer`: the peer sent it (types 6 and 7 from
// hostapd carry a switch message instead of the request).
std::string twin_local_decode(standin_kind peer, bool from_peer, const uint8_t* msg, size_t len);

// `apsim client DIR ACTION MAC [options]`, parsed:
//   add MAC --vap IF | remove MAC
//   assoc MAC --vap IF [--ssid S]
//   disassoc MAC [--vap IF]          (default: the VAP the client is on)
//   authfail MAC --vap IF --status N [--ssid S]
//   probe MAC --vap IF [--ssid S] [--rssi N] [--channel N]
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
};
int twin_client_cmd_parse(const std::vector<std::string>& args, twin_client_cmd& c,
                          std::string& error);
// The radio of a VAP interface ("wlan0" 0, "wlan1vap3" 1), -1 for other names.
int twin_vap_radio(const std::string& ifname);
