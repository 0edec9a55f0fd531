// Configuration messages as the switch builds them: one SWITCH_CONFIG message
// holding a start element, radio, VAP, QoS, country and MTU elements, and a
// stop element, written from a few readable lines.
//
//   radio ID [admin=1] [mode=N] [channel=N] [power=N] [max-stations=N]
//            [supported=1,2,5.5,...] [basic=1,2,...] [wme=1]
//   vap RADIO ID [admin=1] [ssid=TEXT] [security=plain-text|static-wep|dot1x|
//            wpa-personal|wpa-enterprise] [key=TEXT] [vlan=N] [auth=open|shared|both]
//   qos RADIO
//   country CC
//   mtu N
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Builds the message from the lines; 0, or -1 with `error` naming the line.
int swsim_config_build(const std::vector<std::string>& lines, std::vector<uint8_t>& msg,
                       std::string& error);
// The radio (146 bytes) and VAP (279 bytes) element values.
std::vector<uint8_t> swsim_radio_value(const std::vector<std::string>& words, std::string& error);
std::vector<uint8_t> swsim_vap_value(const std::vector<std::string>& words, std::string& error);
