// Loopback UDP sockets to the AP's own daemons: hostapd, mapqosd and the TSPEC
// application.  Each local message is one datagram whose first byte is its type.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint16_t MMSG_HOSTAPD_PORT = 57773;
inline constexpr uint16_t MMSG_MAPD_PORT = 57774;
inline constexpr uint16_t MMSG_MAPQOSD_PORT = 58585;
inline constexpr uint16_t MMSG_TSPEC_PORT = 55263;
inline constexpr size_t MMSG_RX_BUF_SIZE = 20480;

int mmsg_handler_init();
int mmsg_handler_mapqosd_init();
void mmsg_handler_close();
void mmsg_handler_mapqosd_close();
int mmsg_socket_get();

// Reads one datagram into the cleared buffer and dispatches it; the count or -1.
int mmsg_handler_receive(int sock, uint8_t* buffer, size_t buffer_length);
// Sends one message; the count sent or -1.
int mmsg_handler_send(const uint8_t* msg, size_t length);
int mmsg_handler_mapqosd_send(const uint8_t* msg, size_t length);
int mmsg_handler_tspec_send(const uint8_t* msg, size_t length);

// Dispatches one received local message by its type byte.
void process_received_msg(const uint8_t* msg, size_t length);

// How a row of the handler table checks the length of a datagram of its type.
enum class mmsg_len_rule : uint8_t {
    exact,     // exactly `len` bytes
    at_least,  // `len` bytes or more
    pre_auth,  // the 48-byte header plus the data length it carries
};

// What a row reports about a datagram whose length it refuses.
enum class mmsg_len_report : uint8_t {
    silent,
    mismatch,  // "<name>: message size mismatch: exp=<len> act=<length>"
    msgsize,   // "Invalid msgsize[<length>]\n"
};

// One row of the handler table: a type, its handler (null: datagrams of the
// type are dropped after the length check), and the accepted length rule.
using mmsg_handler_fn = int (*)(const uint8_t* msg, size_t length);
struct mmsg_handler_row {
    uint8_t type;
    mmsg_handler_fn handler;
    const char* name;  // the handler's name, for the length report
    mmsg_len_rule rule;
    uint16_t len;
    mmsg_len_report report;
    uint32_t trace;  // trace category of the length report
};

// True when the row of msg[0] accepts a datagram of `length` bytes; false for
// a type without a row.
bool mmsg_length_accepted(const uint8_t* msg, size_t length);
