// Stand-ins for the AP's three local daemons, hostapd (UDP 57773), mapqosd
// (58585) and the TSPEC application (55263), on 127.0.0.1.  Each logs every
// datagram it receives, decoded, and can send events to mapd.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class standin_kind { hostapd, mapqosd, tspec };

struct standins {
    int fd[3] = {-1, -1, -1};
    // Peers played by another program: no stand-in, their ports stay free.
    bool external[3] = {false, false, false};
    std::function<void(const std::string&)> print;
    // Every datagram received, in order: which stand-in and the bytes.
    std::vector<std::pair<standin_kind, std::vector<uint8_t>>> received;
    bool keep = false;  // keep what was received (tests)
};

// Opens the stand-ins not marked external.
int standins_open(standins& s, std::string& error);
// "hostapd,tspec" into `external`; 0, or -1 with `error` naming the word.
int standins_external_parse(const std::string& list, bool external[3], std::string& error);
void standins_close(standins& s);
// Serves what has arrived within `timeout_ms`; returns the number of datagrams.
int standins_poll(standins& s, int timeout_ms);
// Sends `msg` from a stand-in's socket to mapd's local port (57774); -1 when
// it failed or that peer is external.
int standins_send(standins& s, standin_kind from, const std::vector<uint8_t>& msg);
const char* standin_name(standin_kind k);
// One readable line for a local message mapd sent to a peer, field by field
// (twin_local_decode).
std::string standin_decode(standin_kind k, const uint8_t* msg, size_t len);
