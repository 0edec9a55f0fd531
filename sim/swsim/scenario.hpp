// swsim scenarios: small text files of steps, one per line, run in order.
//
//   # comment
//   establish                   discover the AP and take it to an established link
//   keepalive 5                 keepalive interval 5 s (sends one now, expects the ack)
//   wait 12                     go on for 12 s, sending keepalives at the interval
//   silence 40                  12 s without keepalives
//   expect SWITCH_KEEPALIVE_ACK 5   wait up to 5 s for a message of that type (name or
//                               number), over TLS or UDP: "expect SWITCH_STATS 15"
//   stats 10                    statistics interval 10 s (SWITCH_STATUS_INT with the AP's
//                               MAC from its identification; 0 stops the reports); the
//                               reports arrive as UDP datagrams while the steps go on and
//                               are printed element by element (with --stats-csv, one CSV
//                               row each)
//   stats 10 00:11:22:33:44:55  the same naming another AP (which the AP refuses)
//   send 00 19 00 04            one raw message over TLS (hex)
//   debug-login 1 secret        the debug login message (status, password)
//   relink 127.0.0.3            turn the AP to another switch
//   close | drop                end the TLS connection in order / abruptly
//   discover                    one discover message over UDP
//   print TEXT                  a line in the account
//   assoc tunnel vlan=100       how association requests are answered from now on:
//                               accept | tunnel | refuse | none, then vlan=N status=N
//                               home=MAC home-ip=IP reauth=S age=S (see client_msg.hpp)
//   disassociate MAC [AP-MAC]   disassociate command for a client (the AP's own MAC
//                               unless another is given)
//   resend MAC [AP-MAC]         resend-client-information command
//   new-arp MAC IPV4 VAP-MAC    new ARP: the client's IPv4 address on a VAP
//   threat-deauth RADIO CHANNEL MAC BSSID [AP-MAC]
//                               deauthenticate a client attacked by a fake AP (radio from 1)
//   tspec admit                 how TSPEC admission requests (104) are answered from now
//                               on: admit | refuse (reply 105, admitted flag 1 or 0) | none
//   tspec-delete MAC [AC]       TSPEC deletion (106) of the client's last request (of AC)
//   pmk MAC [SSID|-]            the client's PMK (38) as heard from the AP ("-": no SSID)
//   preauth MAC BYTES           pre-authentication frame (24) of BYTES data bytes;
//   preauth-ans MAC BYTES       the same as an answer (36)
//   radius MAC BYTES            RADIUS packet (98): an Access-Accept of BYTES bytes
//                               (see roam_msg.hpp for what the roaming steps send)
//   dl2-config 32 300 3600 4    distributed tunnel configuration (113): maximum
//                               clients, idle and age time-outs, multicast limit
//   dl2-setup HOME-MAC CLIENT-MAC ASSOC-MAC ASSOC-IP VLAN
//                               distributed tunnel set-up (114) for a client
//   dl2-term HOME-MAC CLIENT-MAC  its termination (112)
//   cl2-vlans 10,20,30          the central tunnel's VLAN list (128); "-": none
//                               (see config_msg.hpp for the layouts; each is
//                               printed decoded as it goes)
//   rf-scan 30                  RF scan interval (9), seconds
//   channel 1 36                channel set (32): radio id, channel
//   power 2 17                  power level set (33): radio id, level
//   wids on 60 120 0e:0e:0e:0e:0e:01/6
//                               WIDS configuration (70): wired network detection
//                               on|off, its interval, the AP attack interval, then
//                               BSSID/CHANNEL entries of the attack list
//   rrm-neighbors 02:00:00:00:01:01=02:00:00:00:02:01/00112233445566,02:...
//                               RRM neighbour list (528): per VAP, its MAC "=" its
//                               neighbours, each MAC "/" 7 bytes of information in
//                               hex, commas between them
//   chan-load 02:00:00:00:00:07 36 50
//                               RRM channel load request (529): client, channel,
//                               duration in TUs
//                               (the six above take a last AP-MAC to name another
//                               AP than the one identified; see roam_msg.hpp)
//   provision primary=127.0.0.2 backup=127.0.0.3 mutual=0
//                               AP provisioning command (514) over TLS: switch=,
//                               primary=, backup= (IPv4 or IPv6), mutual=0|1,
//                               reprovision=0|1, cert=FILE, backup-cert=FILE,
//                               ap-mac=MAC; the reply (515) is printed as it comes
//                               ("expect AP_PROVISION_REPLY_MSG 5")
//   acl-update 2:acl-a,8:pol    client QoS list update (144): entries TYPE:NAME, TYPE
//                               an id type 0 to 255 or ip4num (1), ipv4 (2), ipv6 (3),
//                               mac (4), policy (8); count=N sends another count
//   acl-rename 2:old>new        list rename (145): entries TYPE:OLD>NEW [count=N]
//   acl-delete 4:maclist        list delete (146): entries TYPE:NAME [count=N]
//   qos-mode 1 1:1100000000000000 2:0000000000000000
//                               client QoS mode update (150): the global mode, then per
//                               radio (from 1) the modes of VAPs 0 to 15 in hex
//                               digits; no radio: no mode at all (the AP takes down)
//   qos-mode-old 1              the same in the older form: the global mode alone (any
//                               radios given go beside it, which the AP refuses)
//   cltqos-answer off           whether client QoS definition requests (147) are
//                               answered (148 for ACLs, 149 for policies); on by default
//                               (see roam_msg.hpp for the client QoS layouts)
//   update-code 127.0.0.2 ap.tar [MODE]
//                               code download order (28): the AP fetches the file from
//                               that TFTP server (transfer mode 1 unless given) and
//                               reports its status (29, printed: "expect 29 60")
//   image-upgrade ap.tar [CHUNK-BYTES]
//                               streams the image file (71): start, chunks, end
//   reset [upgrade]             AP reset (30), with upgrade installing the downloaded
//                               image first (the three take a last AP-MAC too; see
//                               update_msg.hpp)
//   config                      one configuration message from the lines below,
//     radio 1 channel=36          up to "end" (see config_msg.hpp for the lines)
//     vap 1 0 ssid=corp security=wpa-personal key=secret-key
//     vap 1 1 ssid=lab tunnel=1 subnet=10.1.0.0 mask=255.255.0.0
//     portal 1 1 ip=10.1.0.1 mac=02:00:00:00:01:01 prefix=24
//   end                         (a block of portal lines alone has no start and
//                               stop elements)
#pragma once

#include <string>
#include <vector>

#include "swsim/swsim.hpp"

struct swsim_step {
    int line = 0;
    std::string verb;
    std::vector<std::string> args;
};

struct swsim_scenario {
    std::vector<swsim_step> steps;
};

// Reads a scenario; 0, or -1 with `error` naming the line.
int swsim_scenario_load(const std::string& path, swsim_scenario& sc, std::string& error);
int swsim_scenario_parse(const std::string& text, swsim_scenario& sc, std::string& error);
// Runs every step; the number of steps that failed (0: all went as expected).
// `keepalive_interval` is the interval in force until a keepalive step sets
// one; the interval the steps leave is written back.
int swsim_scenario_run(swsim& s, const swsim_scenario& sc, int& keepalive_interval);
// Keeps an established link for `seconds`: keepalives at `interval`, every
// message and datagram read and printed.  False when the link ended.
// A non-null `stop` that becomes non-zero ends it early.
bool swsim_serve(swsim& s, double seconds, int interval, const volatile int* stop = nullptr);
