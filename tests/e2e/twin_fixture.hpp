// End-to-end fixture: an AP twin root with the daemon running in a child
// process, UDP and layer-2 peers, and helpers to move the AP's clock, read its
// log and database, and ask it for its debug dump.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/sandbox.hpp"
#include "twin/ap_root.hpp"

struct swsim;
struct standins;

namespace mapd_e2e {

// A UDP peer bound to <ip>:<port> with SO_REUSEADDR: a switch on 57776, or a
// local tool on port 0.
struct udp_peer {
    int fd = -1;
    explicit udp_peer(const char* ip = "127.0.0.2", uint16_t port = 57776);
    ~udp_peer() { close(fd); }
    udp_peer(const udp_peer&) = delete;
    udp_peer& operator=(const udp_peer&) = delete;
    // The next datagram within `ms`, or an empty vector.
    std::vector<uint8_t> recv(int ms);
    bool send_to(const std::vector<uint8_t>& msg, const char* ip = "127.0.0.1",
                 uint16_t port = 57776);
};

struct twin {
    std::string root, log;
    pid_t pid = -1;
    double clock = 1000;

    twin();
    // A twin of another board or identity (the factory configuration and the
    // clock are the fixture's).
    explicit twin(ap_root_options opts);
    ~twin();
    twin(const twin&) = delete;
    twin& operator=(const twin&) = delete;

    // One property of the twin's database ("<absent>" when unset); set before
    // the daemon starts.
    void set(const char* cls, const char* instance, const char* prop, const char* value);
    std::string get(const char* cls, const char* instance, const char* prop) const;
    // `prop` of every row of (cls, instance), in row order.
    std::vector<std::string> column(const char* cls, const char* instance, const char* prop) const;
    void write(const std::string& ap_path, const std::string& content);
    std::string read(const std::string& ap_path) const {
        return mapd_test::read_file(root + ap_path);
    }
    // Starts the daemon and waits until its main loop answers.
    bool start();
    void stop();
    // Moves the AP's uptime forward by `seconds`.
    void advance(double seconds) { ap_root_clock_set(root, clock += seconds); }
    // Waits until the daemon's log holds `text` (at or after byte `from`).
    bool wait_log(const std::string& text, int ms, size_t from = 0) const;
    std::string log_text() const { return mapd_test::read_file(log); }
    // The log from byte `from` on, and its size.
    std::string log_from(size_t from) const;
    size_t log_size() const;
    size_t log_count(const std::string& text) const;
    // Sets the daemon's trace mask with the local DEBUG_SET_TRACE command.
    void set_trace(uint32_t mask);
    // Asks for the debug dump (259): the log from the request on once it holds
    // `label` within `ms`, else "".  Everything sent to the AP before was
    // handled by then.
    std::string dump(const char* label, int ms = 3000);
    // Waits until a dump shows `n` after `label` (" Keepalive Timeout
    // Interval: "): the timer pass has seen the clock.
    bool dump_shows(const char* label, long n, int ms = 4000);
    // Waits until a whole dump holds `text` (" Status        : MAP_SWITCH_COMM_LISTEN_MODE").
    bool dump_has(const char* text, int ms = 4000);
};

// A layer-2 poll frame (EtherType 0x88E8, field 1 at offset 19, the discover
// message of `switch_ip` at offset 20).
std::vector<uint8_t> l2_poll(uint32_t switch_ip);
// Sends a frame on the loopback interface; false when this process may not
// send raw frames.
bool send_l2(const std::vector<uint8_t>& frame);

// Sends the configuration message built from `lines` and returns the
// configuration status message (type 5) that comes back within 20 s, or an
// empty vector (also when the lines do not build: `error` says why).
std::vector<uint8_t> config_status(swsim& sw, const std::vector<std::string>& lines,
                                   std::string& error);

// A managed twin: quiet stand-ins that keep what they receive and a quiet
// switch are opened, hostapd is marked running (ps lists it and apicli
// answers while this process lives), the daemon starts and the switch
// establishes the link.  "" or the step that failed.
std::string managed_twin_up(twin& t, swsim& sw, standins& st);

// Enters a private network namespace of this process (and the children it
// starts from now on): loopback up, and 127.0.9.1/32 on a veth, since some
// servers (in.tftpd) look up the address of a non-loopback interface.  Its
// ports are its own, so a test in it needs no port lock.  false when this
// process may not (not root).
bool enter_private_network();

// Waits up to `ms` for `cond` (stretched by the time scale).
bool eventually(const std::function<bool()>& cond, int ms);
// `ms` times MAPD_E2E_TIME_SCALE (a number from 1 to 100; default 1): the
// fixture's waits stretch when the daemon runs slower than itself, under
// valgrind say (scripts/check-valgrind).
int scaled_ms(int ms);

}  // namespace mapd_e2e
