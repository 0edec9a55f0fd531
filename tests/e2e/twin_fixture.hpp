// End-to-end fixture: an AP twin root with the daemon running in a child
// process, a switch-side peer on 127.0.0.2, and helpers to move the AP's clock
// and read its log.
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mapd_e2e {

// A switch-side UDP peer bound to <ip>:57776 with SO_REUSEADDR.
struct udp_peer {
    int fd = -1;
    explicit udp_peer(const char* ip = "127.0.0.2", uint16_t port = 57776);
    ~udp_peer();
    udp_peer(const udp_peer&) = delete;
    udp_peer& operator=(const udp_peer&) = delete;
    // The next datagram within `ms`, or an empty vector.
    std::vector<uint8_t> recv(int ms, sockaddr_in* from = nullptr);
    // Every datagram that arrives within `ms`.
    std::vector<std::vector<uint8_t>> drain(int ms);
    bool send_to(const std::vector<uint8_t>& msg, const char* ip = "127.0.0.1",
                 uint16_t port = 57776);
};


struct twin {
    std::string root;
    std::string log;
    pid_t pid = -1;
    double clock = 1000;

    twin();
    ~twin();
    twin(const twin&) = delete;
    twin& operator=(const twin&) = delete;

    // Writes one property into the twin's database before the daemon starts.
    void set(const char* cls, const char* instance, const char* prop, const char* value);
    void write(const std::string& ap_path, const std::string& content);
    std::string read(const std::string& ap_path) const;
    // Starts the daemon and waits until its start-up is done.
    bool start();
    void stop();
    // Moves the AP's uptime forward by `seconds`.
    void advance(double seconds);
    // Waits until the daemon's log holds `text` (at or after byte `from`).
    bool wait_log(const std::string& text, int ms, size_t from = 0) const;
    std::string log_text() const;
    // How often `text` occurs in the log.
    size_t log_count(const std::string& text) const;
    // Sets the daemon's trace mask with the local DEBUG_SET_TRACE command.
    void set_trace(uint32_t mask);
    // Asks for the debug dump of the switch link (259) and returns the number
    // after `label` in it (" Keepalive Timeout Interval: "), or -1 when no
    // dump came within `ms`.
    long dump_number(const char* label, int ms = 3000);
    // Waits until the dump shows `n` after `label`: the timer pass has seen
    // the clock, and every datagram sent before was handled.
    bool dump_shows(const char* label, long n, int ms = 4000);
    // Waits until a debug dump holds `text` (" Status        : MAP_SWITCH_COMM_LISTEN_MODE").
    bool dump_has(const char* text, int ms = 4000);
};

// Sends a layer-2 poll (EtherType 0x88E8, the discover message at offset 20)
// on the loopback interface from `switch_ip`; false when this process may not
// send raw frames.
bool send_l2_poll(uint32_t switch_ip);

// Waits up to `ms` for `cond`.
bool eventually(const std::function<bool()>& cond, int ms);

}  // namespace mapd_e2e
