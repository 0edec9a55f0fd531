// Pieces shared by the relays between the local daemons and the switch: the
// sender's refusal checks, sending a built message, the copy of a datagram
// into its record and the common local handler.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/managed_ap.hpp"
#include "local/mmsg_print.hpp"
#include "switch/switch_comm.hpp"
#include "wire/wire.hpp"

namespace mmsg_relay {

// Why a sender refuses before building anything, or null: the switch
// connection record must be there, established when `needs_established`, and
// the local record must be there.
inline const char* refusal(const map_switch_comm* rec, const void* msg, bool needs_established,
                           const char* invalid_text) {
    if (rec == nullptr) {
        return "Incorrect context parameter.";
    }
    if (needs_established && rec->state != MAP_SWITCH_COMM_ESTABLISHED) {
        return "Invalid mapd mode.";
    }
    if (msg == nullptr) {
        return invalid_text;
    }
    return nullptr;
}

// Finishes a built message and sends it (over TLS when `over_tls`); 0 or -1.
inline int send_built(map_switch_comm* rec, wire_msg& m, int over_tls) {
    const size_t len = wire_msg_finish(m);
    if (len == 0) {
        return -1;
    }
    return map_switch_comm_data_send(rec, m.w.data, static_cast<int>(len), over_tls);
}

inline map_cs* component(const map_switch_comm* rec) {
    return rec->cb != nullptr ? rec->cb->cs : nullptr;
}

// A datagram copied into a zeroed record of its type (never more than the
// datagram holds, nor more than the record takes), and traced in hex.
template <typename T>
T record_of(const uint8_t* msg, size_t length) {
    T rec{};
    if (msg != nullptr) {
        memcpy(&rec, msg, std::min(length, sizeof rec));
    }
    hex_ver_pkt_print(reinterpret_cast<const uint8_t*>(&rec), sizeof rec);
    return rec;
}

// The common local handler: the record, the switch connection record, the sender.
template <typename T, int (*Send)(map_switch_comm*, const T*)>
int relay(const uint8_t* msg, size_t length) {
    const T rec = record_of<T>(msg, length);
    map_switch_comm* sc = get_switch_context();
    if (sc == nullptr) {
        return -1;
    }
    return Send(sc, &rec);
}

}  // namespace mmsg_relay
