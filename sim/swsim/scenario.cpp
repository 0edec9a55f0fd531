#include "swsim/scenario.hpp"

#include "swsim/client_msg.hpp"
#include "swsim/config_msg.hpp"
#include "swsim/roam_msg.hpp"
#include "swsim/stats_msg.hpp"
#include "swsim/update_msg.hpp"

#include <arpa/inet.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "switch/switch_comm_util.hpp"
#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

namespace {

struct verb_rule {
    const char* verb;
    size_t min_args;
    size_t max_args;
};

constexpr verb_rule kVerbs[] = {
    {"establish", 0, 0}, {"keepalive", 1, 1}, {"wait", 1, 1},   {"silence", 1, 1},
    {"expect", 1, 2},    {"send", 1, 4096},   {"debug-login", 1, 2}, {"relink", 1, 1},
    {"close", 0, 0},     {"drop", 0, 0},      {"discover", 0, 0},  {"print", 0, 4096},
    {"config", 0, 100000}, {"stats", 1, 2},
    {"assoc", 1, 8},     {"disassociate", 1, 2}, {"resend", 1, 2}, {"new-arp", 3, 3},
    {"threat-deauth", 4, 5},
    {"tspec", 1, 1},     {"tspec-delete", 1, 2}, {"pmk", 1, 2},  {"preauth", 2, 2},
    {"preauth-ans", 2, 2}, {"radius", 2, 2},
    {"dl2-config", 4, 4}, {"dl2-setup", 5, 5}, {"dl2-term", 2, 2}, {"cl2-vlans", 1, 1},
    {"rf-scan", 1, 2},   {"channel", 2, 3},   {"power", 2, 3},    {"wids", 3, 36},
    {"rrm-neighbors", 1, 65}, {"chan-load", 3, 4}, {"provision", 0, 8},
    {"acl-update", 1, 101}, {"acl-rename", 1, 101}, {"acl-delete", 1, 101},
    {"qos-mode", 1, 9},  {"qos-mode-old", 1, 9}, {"cltqos-answer", 1, 1},
    {"update-code", 2, 4}, {"image-upgrade", 1, 2}, {"reset", 0, 2},
};

// Checks the values of the client and command steps when the scenario is
// read; 0, or -1 with `error` set.  Other steps are checked when they run.
int client_step_check(const swsim_step& st, std::string& error) {
    if (st.verb == "assoc") {
        swsim_assoc_policy p;
        return swsim_assoc_policy_parse(st.args, p, error);
    }
    if (st.verb == "tspec") {
        swsim_tspec_mode m;
        return swsim_tspec_mode_parse(st.args[0], m, error);
    }
    if (st.verb == "provision") {
        swsim_provision p;
        return swsim_provision_parse(st.args, p, error);
    }
    if (st.verb == "cltqos-answer") {
        bool on;
        return swsim_qos_answer_parse(st.args[0], on, error);
    }
    swsim_update_cmd update;
    const int update_step = swsim_update_cmd_parse(st.verb, st.args, update, error);
    if (update_step != 1) return update_step;
    swsim_qos_cmd qos;
    const int qos_step = swsim_qos_cmd_parse(st.verb, st.args, qos, error);
    if (qos_step != 1) return qos_step;
    swsim_radio_cmd radio;
    const int command = swsim_radio_cmd_parse(st.verb, st.args, radio, error);
    if (command != 1) return command;
    std::vector<uint8_t> msg;
    int tunnel = swsim_tunnel_step_build(st.verb, st.args, msg, error);
    if (tunnel != 1) return tunnel;
    swsim_roam_cmd r;
    if (swsim_roam_cmd_parse(st.verb, st.args, r, error) < 0) return -1;
    swsim_client_cmd c;
    return swsim_client_cmd_parse(st.verb, st.args, c, error) < 0 ? -1 : 0;
}

double now_s() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool number(const std::string& t, double& v) {
    char* end = nullptr;
    v = strtod(t.c_str(), &end);
    return end != t.c_str() && *end == '\0' && v >= 0;
}

// A message type given by name or number.
bool message_type(const std::string& t, uint16_t& type) {
    char* end = nullptr;
    unsigned long v = strtoul(t.c_str(), &end, 0);
    if (end != t.c_str() && *end == '\0' && v <= 0xFFFF) {
        type = static_cast<uint16_t>(v);
        return true;
    }
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
        if (t == map_pkt_type_name(static_cast<uint16_t>(c))) {
            type = static_cast<uint16_t>(c);
            return true;
        }
    }
    return false;
}

struct runner {
    swsim& s;
    int interval;
    double next_ka = 0;
    const volatile int* stop = nullptr;

    void say(const std::string& l) {
        if (s.print) s.print(l);
    }
    // Serves the link for `seconds`: keepalives at the interval (when `keep`),
    // and every message read; returns true when a message of `want` arrived.
    bool serve(double seconds, bool keep, int want = -1) {
        double end = now_s() + seconds;
        while (now_s() < end && !(stop && *stop)) {
            if (s.ssl == nullptr) return false;
            if (keep && now_s() >= next_ka) {
                swsim_send(s, swsim_msg_keepalive(static_cast<uint32_t>(interval)));
                next_ka = now_s() + interval;
            }
            double left = end - now_s();
            int ms = static_cast<int>(left * 1000 < 200 ? left * 1000 : 200);
            if (next(ms > 0 ? ms : 1) == want && want >= 0) return true;
        }
        return want < 0;
    }
    // Waits up to `ms` for a TLS message or a datagram from the AP and reads
    // it; its type, or -1 when none came.
    int next(int ms) {
        pollfd p[2] = {{s.conn_fd, POLLIN, 0}, {s.udp_fd, POLLIN, 0}};
        if (SSL_pending(s.ssl) == 0 && poll(p, 2, ms) <= 0) return -1;
        std::vector<uint8_t> m;
        if (p[1].revents & POLLIN) {
            if (swsim_udp_recv(s, m, 0) == 0 && m.size() >= 2) return wire_load_be16(m.data());
            return -1;
        }
        return swsim_recv(s, m, 0) == 0 && m.size() >= 2 ? wire_load_be16(m.data()) : -1;
    }

    bool run(const swsim_step& st) {
        const auto& a = st.args;
        double v = 0;
        if (st.verb == "establish") {
            std::string error;
            if (swsim_establish(s, 12000, error) != 0) {
                say("  failed: " + error);
                return false;
            }
            next_ka = now_s();
            return true;
        }
        if (st.verb == "keepalive") {
            if (!number(a[0], v) || v < 1) return false;
            interval = static_cast<int>(v);
            next_ka = now_s() + interval;
            swsim_send(s, swsim_msg_keepalive(static_cast<uint32_t>(interval)));
            return serve(5, false, SWITCH_KEEPALIVE_ACK);
        }
        if (st.verb == "wait") return number(a[0], v) && serve(v, true) && s.ssl != nullptr;
        if (st.verb == "silence") {
            if (!number(a[0], v)) return false;
            serve(v, false);
            return true;
        }
        if (st.verb == "expect") {
            uint16_t type = 0;
            double secs = 10;
            if (!message_type(a[0], type) || (a.size() > 1 && !number(a[1], secs))) return false;
            return serve(secs, true, type);
        }
        if (st.verb == "send") {
            std::vector<uint8_t> msg;
            for (const auto& h : a) {
                if (h.size() != 2) return false;
                msg.push_back(static_cast<uint8_t>(strtoul(h.c_str(), nullptr, 16)));
            }
            return swsim_send(s, msg) == 0;
        }
        if (st.verb == "debug-login") {
            if (!number(a[0], v) || v > 255) return false;
            uint8_t buf[64];
            wire_msg m;
            wire_msg_begin(m, buf, sizeof buf, SWITCH_DEBUG_LOGIN);
            wire_msg_add_u8(m, 0x4001, static_cast<uint8_t>(v));
            // The 32-byte password field; a full field has no terminator.
            char pw[32] = {};
            if (a.size() > 1) memcpy(pw, a[1].data(), a[1].size() < sizeof pw ? a[1].size() : sizeof pw);
            wire_msg_add(m, 0x4002, pw, sizeof pw);
            size_t len = wire_msg_finish(m);
            return swsim_send(s, std::vector<uint8_t>(buf, buf + len)) == 0;
        }
        if (st.verb == "relink") {
            in_addr ip{};
            if (inet_pton(AF_INET, a[0].c_str(), &ip) != 1) return false;
            return swsim_send(s, swsim_msg_relink(ntohl(ip.s_addr))) == 0;
        }
        if (st.verb == "close") {
            swsim_shutdown(s);
            return true;
        }
        if (st.verb == "drop") {
            swsim_drop(s);
            return true;
        }
        if (st.verb == "config") {
            std::vector<uint8_t> msg;
            std::string error;
            if (swsim_config_build(st.args, msg, error) != 0) {
                say("  failed: " + error);
                return false;
            }
            return swsim_send(s, msg) == 0;
        }
        if (st.verb == "stats") {
            // The interval; the AP's own MAC from its identification, or the
            // one given (another AP's: the AP must refuse it).
            uint8_t mac[6];
            memcpy(mac, s.ident.mac, 6);
            unsigned b[6];
            if (a.size() > 1) {
                if (sscanf(a[1].c_str(), "%2x:%2x:%2x:%2x:%2x:%2x", &b[0], &b[1], &b[2], &b[3],
                           &b[4], &b[5]) != 6) {
                    return false;
                }
                for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i]);
            }
            if (!number(a[0], v) || v > 65535) return false;
            return swsim_send(s, swsim_msg_stats_interval(mac, static_cast<uint16_t>(v))) == 0;
        }
        if (st.verb == "assoc") {
            std::string error;
            if (swsim_assoc_policy_parse(a, s.assoc, error) != 0) return false;
            say("  association requests now: " + swsim_assoc_policy_text(s.assoc));
            return true;
        }
        if (st.verb == "tspec") {
            std::string error;
            if (swsim_tspec_mode_parse(a[0], s.roam.tspec, error) != 0) return false;
            say(std::string("  TSPEC admission requests now: ") + swsim_tspec_mode_text(s.roam.tspec));
            return true;
        }
        if (st.verb == "cltqos-answer") {
            std::string error;
            if (swsim_qos_answer_parse(a[0], s.roam.cltqos_answer, error) != 0) return false;
            say(std::string("  client QoS definition requests now answered: ") + a[0]);
            return true;
        }
        std::string error;
        swsim_radio_cmd radio;
        if (swsim_radio_cmd_parse(st.verb, a, radio, error) == 0) {
            return swsim_send(s, swsim_radio_cmd_build(radio, s.ident.mac)) == 0;
        }
        swsim_update_cmd update;
        if (swsim_update_cmd_parse(st.verb, a, update, error) == 0) {
            std::vector<std::vector<uint8_t>> msgs;
            if (swsim_update_cmd_build(update, s.ident.mac, msgs, error) != 0) {
                say("  failed: " + error);
                return false;
            }
            for (const auto& m : msgs) {
                if (swsim_send(s, m) != 0) return false;
            }
            return true;
        }
        swsim_qos_cmd qos;
        if (swsim_qos_cmd_parse(st.verb, a, qos, error) == 0) {
            return swsim_send(s, swsim_qos_cmd_build(qos, s.ident.mac)) == 0;
        }
        if (st.verb == "provision") {
            // The switch's own address and the AP's MAC unless the step names others.
            swsim_provision p;
            in_addr own{};
            inet_pton(AF_INET, s.opt.ip.c_str(), &own);
            std::vector<uint8_t> msg;
            if (swsim_provision_parse(a, p, error) == 0) {
                msg = swsim_provision_build(p, ntohl(own.s_addr),
                                            s.ident.valid ? s.ident.mac : nullptr, error);
            }
            if (msg.empty()) say("  failed: " + error);
            return !msg.empty() && swsim_send(s, msg) == 0;
        }
        swsim_client_cmd cmd;
        std::vector<uint8_t> msg;
        if (swsim_tunnel_step_build(st.verb, a, msg, error) == 0) {
            say("  " + swsim_tunnel_decode(msg));
            return swsim_send(s, msg) == 0;
        }
        if (swsim_client_cmd_parse(st.verb, a, cmd, error) == 0) {
            return swsim_send(s, swsim_client_cmd_build(cmd, s.ident.mac)) == 0;
        }
        swsim_roam_cmd roam;
        if (swsim_roam_cmd_parse(st.verb, a, roam, error) == 0) {
            auto msg = swsim_roam_cmd_build(roam, s.roam, s.ident.mac, error);
            if (msg.empty()) say("  failed: " + error);
            return !msg.empty() && swsim_send(s, msg) == 0;
        }
        if (st.verb == "discover") return swsim_send_discover(s) == 0;
        if (st.verb == "print") {
            std::string text;
            for (const auto& w : a) text += (text.empty() ? "" : " ") + w;
            say(text);
            return true;
        }
        return false;
    }
};

}  // namespace

int swsim_scenario_parse(const std::string& text, swsim_scenario& sc, std::string& error) {
    sc.steps.clear();
    std::istringstream in(text);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        swsim_step st;
        st.line = n;
        if (!(words >> st.verb)) continue;
        for (std::string w; words >> w;) st.args.push_back(w);
        if (st.verb == "config") {
            // A block: every line up to "end" is one configuration line.
            if (!st.args.empty()) {
                error = "line " + std::to_string(n) + ": config takes its lines below it";
                return -1;
            }
            bool ended = false;
            while (std::getline(in, line)) {
                ++n;
                size_t h = line.find('#');
                if (h != std::string::npos) line.resize(h);
                std::istringstream lw(line);
                std::string first;
                if (!(lw >> first)) continue;
                if (first == "end") {
                    ended = true;
                    break;
                }
                st.args.push_back(line);
            }
            if (!ended) {
                error = "line " + std::to_string(st.line) + ": config block without end";
                return -1;
            }
            sc.steps.push_back(std::move(st));
            continue;
        }
        const verb_rule* rule = nullptr;
        for (const auto& r : kVerbs) {
            if (st.verb == r.verb) rule = &r;
        }
        if (rule == nullptr) {
            error = "line " + std::to_string(n) + ": unknown step \"" + st.verb + "\"";
            return -1;
        }
        if (st.args.size() < rule->min_args || st.args.size() > rule->max_args) {
            error = "line " + std::to_string(n) + ": wrong number of values for " + st.verb;
            return -1;
        }
        std::string why;
        if (client_step_check(st, why) != 0) {
            error = "line " + std::to_string(n) + ": " + why;
            return -1;
        }
        sc.steps.push_back(std::move(st));
    }
    return 0;
}

int swsim_scenario_load(const std::string& path, swsim_scenario& sc, std::string& error) {
    std::ifstream f(path);
    if (!f) {
        error = "cannot read " + path;
        return -1;
    }
    std::stringstream all;
    all << f.rdbuf();
    if (swsim_scenario_parse(all.str(), sc, error) != 0) {
        error = path + ": " + error;
        return -1;
    }
    return 0;
}

bool swsim_serve(swsim& s, double seconds, int interval, const volatile int* stop) {
    runner r{s, interval};
    r.stop = stop;
    r.next_ka = now_s();  // a keepalive now: the interval may have run since the last
    return r.serve(seconds, true) && s.ssl != nullptr;
}

int swsim_scenario_run(swsim& s, const swsim_scenario& sc, int& keepalive_interval) {
    runner r{s, keepalive_interval};
    int failed = 0;
    size_t i = 0;
    for (const auto& st : sc.steps) {
        ++i;
        std::string text = st.verb;
        if (st.verb == "config") {
            text += " (" + std::to_string(st.args.size()) + " lines)";
        } else {
            for (const auto& w : st.args) text += " " + w;
        }
        r.say("step " + std::to_string(i) + "/" + std::to_string(sc.steps.size()) + ": " + text);
        bool ok = r.run(st);
        r.say(std::string("step ") + std::to_string(i) + (ok ? ": ok" : ": FAILED"));
        failed += ok ? 0 : 1;
    }
    keepalive_interval = r.interval;
    return failed;
}
