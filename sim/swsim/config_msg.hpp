// Configuration messages as the switch builds them: one SWITCH_CONFIG message
// holding a start element, radio, VAP, QoS, country, MTU and captive-portal
// elements, and a stop element, written from a few readable lines; and the
// tunnel messages of the switch (112, 113, 114, 128).
//
//   radio ID [admin=1] [mode=N] [channel=N] [power=N] [max-stations=N]
//            [supported=1,2,5.5,...] [basic=1,2,...] [wme=1]
//   vap RADIO ID [admin=1] [ssid=TEXT] [security=plain-text|static-wep|dot1x|
//            wpa-personal|wpa-enterprise] [key=TEXT] [vlan=N] [auth=open|shared|both]
//            [hide=1] [tunnel=N subnet=A.B.C.D mask=A.B.C.D]   (bytes 41, 42-45, 46-49)
//   vapqos RADIO ID [mode=1] [bw-down=N] [bw-up=N] [acl-down=TYPE:NAME] [acl-up=TYPE:NAME]
//            [policy-down=in|out:NAME] [policy-up=in|out:NAME]
//                                      0x2015; ACL TYPE none, ipv4, mac or ipv6
//   qos RADIO
//   country CC
//   mtu N                              0x200a, 16-bit
// Captive portal (RADIO and VAP are the ids of the VAP's radio and the VAP):
//   portal RADIO VAP [ip=A.B.C.D] [mac=MAC] [prefix=N] [type=N]
//                                      0x1100: address type (1 unless given), the
//                                      16 address bytes (12 zero, then the IPv4),
//                                      interface MAC, prefix length
//   portal-off RADIO VAP               0x1101
//   portal-block RADIO VAP             0x1104
//   portal-unblock RADIO VAP           0x1105
//   portal-auth-port RADIO VAP PORT    0x1107: radio, VAP, 16-bit port
//   portal-secure-port 1|2 RADIO VAP PORT   0x1109 (first) or 0x110a (second),
//                                      framed as 0x1107
//   portal-client auth MAC UP DOWN     0x1103: MAC, up and down rates (32-bit)
//   portal-client unauth MAC           0x1102
//   portal-client deauth MAC           0x1108
// Portal elements need no open sequence, and a start element clears the
// portal state: a block of portal lines alone is sent without start and stop.
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
// The VAP client QoS element value (139 bytes).
std::vector<uint8_t> swsim_vap_qos_value(const std::vector<std::string>& words, std::string& error);

// 113: element 0x5040, the four limits as 32-bit big-endian values.
std::vector<uint8_t> swsim_msg_dl2_config(uint32_t max_clients, uint32_t idle, uint32_t age,
                                          uint32_t mcast);
// 114: home AP MAC (0x5041), client MAC (19), associated AP MAC (33), its
// address (257: 12 zero bytes, then the IPv4, host order here, in network
// order), VLAN (0x500C, 16-bit).
std::vector<uint8_t> swsim_msg_dl2_setup(const uint8_t home[6], const uint8_t client[6],
                                         const uint8_t assoc[6], uint32_t assoc_ip, uint16_t vlan);
// 112: home AP MAC (0x5041), client MAC (19).
std::vector<uint8_t> swsim_msg_dl2_term(const uint8_t home[6], const uint8_t client[6]);
// 128: element 0x2020 with the VLAN IDs, 16-bit big-endian; no element for
// an empty list.
std::vector<uint8_t> swsim_msg_cl2_vlans(const std::vector<uint16_t>& vlans);

// A tunnel step of a scenario:
//   dl2-config MAX IDLE AGE MCAST
//   dl2-setup HOME-MAC CLIENT-MAC ASSOC-MAC ASSOC-IP VLAN
//   dl2-term HOME-MAC CLIENT-MAC
//   cl2-vlans 10,20,30 | -        (up to 512 IDs, beyond what the AP takes)
// 0 with its message, 1 when `verb` is not a tunnel step, -1 with `error` set.
int swsim_tunnel_step_build(const std::string& verb, const std::vector<std::string>& args,
                            std::vector<uint8_t>& msg, std::string& error);
// One readable line for 112, 113, 114 and 128: "<name> (<type>), <n> bytes:"
// and the fields; empty for other types.
std::string swsim_tunnel_decode(const std::vector<uint8_t>& msg);
