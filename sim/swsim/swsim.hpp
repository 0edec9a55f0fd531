// swsim: plays the wireless switch towards one managed AP on loopback.
//
// The library side: UDP discovery, a TLS server (anonymous Diffie-Hellman or
// certificates), the link messages (identification, authentication,
// keepalive, relink), and a decoder that prints every message readably.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "swsim/client_msg.hpp"
#include "swsim/roam_msg.hpp"

struct swsim_options {
    std::string ip = "127.0.0.2";  // the switch's own address
    std::string ap_ip = "127.0.0.1";
    uint16_t udp_port = 57776;
    uint16_t tls_port = 57777;
    std::string pass_phrase;  // expected from the AP; empty accepts any
    // Certificate mode: the switch's certificate and key, and the CA that
    // signed the AP's certificate (empty: the AP is not verified).
    std::string cert_file;
    std::string key_file;
    std::string ca_file;
    // Each statistics report of the AP is appended here as a CSV row.
    std::string stats_csv;
};

// What the AP said about itself in its identification message.
struct swsim_ident {
    bool valid = false;
    uint8_t device_type = 0;
    uint16_t protocol_version = 0;
    uint32_t ip = 0;
    uint8_t prefix = 0;
    uint8_t mac[6] = {};
    uint8_t num_radios = 0;
    int32_t hw_type = 0;
    std::string serial;
    std::string part_number;
    std::string fw_version;
    uint8_t discovery_reason = 0;
    std::string certificate;
    std::vector<uint16_t> element_order;
};

struct swsim {
    swsim_options opt;
    int udp_fd = -1;
    int listen_fd = -1;
    int conn_fd = -1;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    swsim_ident ident;
    // How association requests (96) are answered as they arrive (by default
    // not at all).
    swsim_assoc_policy assoc{swsim_assoc_mode::none};
    // What was heard of each client, and how TSPEC admission requests (104)
    // are answered (by default not at all).
    swsim_roam roam;
    // Receives each line of the readable account (default: standard output).
    std::function<void(const std::string&)> print;
};

int swsim_open(swsim& s, const swsim_options& opt, std::string& error);
void swsim_close(swsim& s);

// UDP: a discover message from the switch to the AP; the next datagram from
// the AP (0, 1 on time-out, -1 on error).  A statistics datagram is printed
// element by element and, with `stats_csv`, a report is appended there.
int swsim_send_discover(swsim& s);
int swsim_udp_recv(swsim& s, std::vector<uint8_t>& msg, int timeout_ms);

// TLS: accepts the AP's connection and completes the handshake.
int swsim_accept(swsim& s, int timeout_ms);
// One message (one TLS record) from the AP; 0, -1 on error, -2 when closed,
// 1 on time-out.  An association request is answered under `assoc` before
// this returns.
int swsim_recv(swsim& s, std::vector<uint8_t>& msg, int timeout_ms);
int swsim_send(swsim& s, const std::vector<uint8_t>& msg);
// Drops the TLS connection without a goodbye.
void swsim_drop(swsim& s);
// Closes the TLS connection in order (close_notify, then the socket).
void swsim_shutdown(swsim& s);

std::vector<uint8_t> swsim_msg_auth_req();
std::vector<uint8_t> swsim_msg_auth_succeed();
std::vector<uint8_t> swsim_msg_keepalive(uint32_t interval);
std::vector<uint8_t> swsim_msg_relink(uint32_t ip);
// A discover message as a switch sends it: device type, element 5, vendor 1,
// the protocol version, the switch MAC, its IP element, element 274.
std::vector<uint8_t> swsim_msg_discover(uint32_t switch_ip, uint16_t version = 2,
                                        uint8_t device_type = 1);

// Reads an identification message into `id`; 0 or -1.
int swsim_parse_ident(const std::vector<uint8_t>& msg, swsim_ident& id);
// The pass phrase of an authentication message (its 64-byte field, cut at
// the first NUL); -1 when the message is not one.
int swsim_parse_auth(const std::vector<uint8_t>& msg, std::string& pass_phrase, uint8_t mac[6]);
// Answers an association request under `s.assoc` (the AP MAC from the
// identification, else the request's); 1 when an answer went out, 0 when the
// policy sends none or `msg` is no association request, -1 on a send error.
int swsim_answer_assoc(swsim& s, const std::vector<uint8_t>& msg);
// Takes in a roaming message of the AP (swsim_roam_note) and answers an
// admission request under `s.roam.tspec`; 1 when an answer went out, 0 when
// none is due, -1 on a send error.
int swsim_answer_roam(swsim& s, const std::vector<uint8_t>& msg);
// One readable line describing a message (client messages field by field).
std::string swsim_decode(const std::vector<uint8_t>& msg);

// Runs the link from a discover message to an established AP: discover,
// accept, identification, authentication request, authentication, success.
// 0, or -1 with `error` saying which step failed.
int swsim_establish(swsim& s, int step_timeout_ms, std::string& error);
