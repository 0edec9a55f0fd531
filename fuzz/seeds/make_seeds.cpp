// Writes seed inputs for the TLS dispatch and configuration walk targets from
// swsim scenarios: every message a scenario step sends over TLS, built by the
// switch simulator's own builders, becomes a TLS seed (its first byte the
// connection state, established), and the elements of every configuration
// message a configuration-walk seed.  The link's own messages (authentication
// request and success, keepalive, relink) are added in each state that takes
// them.  Code download and image upgrade steps are skipped (their targets
// are their own).
//
//   fuzz_make_seeds OUT-DIR SCENARIO...    writes OUT-DIR/tls_dispatch/NAME
//                                          and OUT-DIR/config_walk/NAME
//
// The corpora are these seeds minimised by the fuzz targets themselves:
//   build/bin/fuzz_make_seeds /tmp/seeds sim/swsim/scenarios/*.txt fuzz/seeds/extra.txt
//   build-fuzz/fuzz/fuzz_tls_dispatch -merge=1 fuzz/corpus/tls_dispatch /tmp/seeds/tls_dispatch
// (the same for config_walk, into an emptied folder).
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "swsim/client_msg.hpp"
#include "swsim/config_msg.hpp"
#include "swsim/roam_msg.hpp"
#include "swsim/scenario.hpp"
#include "swsim/stats_msg.hpp"
#include "swsim/swsim.hpp"
#include "swsim/update_msg.hpp"
#include "switch/switch_msg.hpp"
#include "wire/wire.hpp"

namespace {

using msg_t = std::vector<uint8_t>;
namespace fs = std::filesystem;

// The twin's base MAC, the AP's own; the switch at 10.0.1.1.
constexpr uint8_t kAp[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
constexpr uint32_t kSwitch = 0x0A000101;
// The first byte of a TLS seed (see fuzz_tls_dispatch.cpp).
constexpr uint8_t kTlsUp = 0, kAuthenticating = 1, kEstablished = 2, kStandAlone = 8;

void put(const fs::path& file, uint8_t first, bool with_first, const uint8_t* data, size_t n) {
    std::ofstream out(file, std::ios::binary);
    if (with_first) out.put(static_cast<char>(first));
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
}

struct writer {
    fs::path out;
    int n = 0;
    void tls(const std::string& name, const msg_t& m, uint8_t mode = kEstablished) {
        put(out / "tls_dispatch" / (name + "-" + std::to_string(++n)), mode, true, m.data(), m.size());
        if (m.size() > MAP_MSG_HDR_LEN && wire_load_be16(m.data()) == SWITCH_CONFIG) {
            put(out / "config_walk" / (name + "-" + std::to_string(n)), 0, false,
                m.data() + MAP_MSG_HDR_LEN, m.size() - MAP_MSG_HDR_LEN);
        }
    }
};

// The message a step sends, as the scenario runner builds it; empty for
// steps that send nothing over TLS.
msg_t step_message(const swsim_step& st, swsim_roam& roam) {
    const auto& a = st.args;
    std::string error;
    msg_t msg;
    if (st.verb == "config") {
        return swsim_config_build(a, msg, error) == 0 ? msg : msg_t{};
    }
    if (st.verb == "keepalive") return swsim_msg_keepalive(static_cast<uint32_t>(std::stoul(a[0])));
    if (st.verb == "stats") return swsim_msg_stats_interval(kAp, static_cast<uint16_t>(std::stoul(a[0])));
    if (st.verb == "relink") {
        in_addr ip{};
        return inet_pton(AF_INET, a[0].c_str(), &ip) == 1 ? swsim_msg_relink(ntohl(ip.s_addr)) : msg;
    }
    if (st.verb == "send") {
        for (const auto& h : a) msg.push_back(static_cast<uint8_t>(std::stoul(h, nullptr, 16)));
        return msg;
    }
    if (st.verb == "debug-login") {
        uint8_t buf[64];
        wire_msg m;
        wire_msg_begin(m, buf, sizeof buf, SWITCH_DEBUG_LOGIN);
        wire_msg_add_u8(m, 0x4001, static_cast<uint8_t>(std::stoul(a[0])));
        char pw[32] = {};
        if (a.size() > 1) a[1].copy(pw, sizeof pw);
        wire_msg_add(m, 0x4002, pw, sizeof pw);
        const size_t len = wire_msg_finish(m);
        return msg_t(buf, buf + len);
    }
    if (st.verb == "reset") {
        return swsim_msg_reset(kAp, !a.empty() && a[0] == "upgrade" ? 1 : 0);
    }
    if (st.verb == "provision") {
        swsim_provision p;
        return swsim_provision_parse(a, p, error) == 0 ? swsim_provision_build(p, kSwitch, kAp, error)
                                                      : msg;
    }
    swsim_radio_cmd radio;
    if (swsim_radio_cmd_parse(st.verb, a, radio, error) == 0) return swsim_radio_cmd_build(radio, kAp);
    swsim_qos_cmd qos;
    if (swsim_qos_cmd_parse(st.verb, a, qos, error) == 0) return swsim_qos_cmd_build(qos, kAp);
    if (swsim_tunnel_step_build(st.verb, a, msg, error) == 0) return msg;
    swsim_client_cmd client;
    if (swsim_client_cmd_parse(st.verb, a, client, error) == 0) return swsim_client_cmd_build(client, kAp);
    swsim_roam_cmd rc;
    if (swsim_roam_cmd_parse(st.verb, a, rc, error) == 0) return swsim_roam_cmd_build(rc, roam, kAp, error);
    return msg;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: fuzz_make_seeds OUT-DIR SCENARIO...\n");
        return 2;
    }
    writer w{argv[1]};
    fs::create_directories(w.out / "tls_dispatch");
    fs::create_directories(w.out / "config_walk");
    // The link's own messages in the states that take them.
    for (uint8_t mode : {kTlsUp, kAuthenticating}) {
        w.tls("auth-req", swsim_msg_auth_req(), mode);
        w.tls("auth-ok", swsim_msg_auth_succeed(), mode | kStandAlone);
        w.tls("keepalive", swsim_msg_keepalive(30), mode);
    }
    w.tls("relink", swsim_msg_relink(0x0A000102));
    // A TSPEC stream of a client on the first VAP: its admission reply and
    // its deletion (the AP relays both to its TSPEC application).
    swsim_client_msg req;
    memcpy(req.ap_mac, kAp, 6);
    memcpy(req.vap_mac, kAp, 6);
    req.client_mac[0] = 0x02, req.client_mac[5] = 0x09;
    req.radio = 1;
    req.ssid = "corp";
    w.tls("tspec-reply", swsim_msg_tspec_reply(req, true));
    w.tls("tspec-delete", swsim_msg_tspec_delete(req));
    w.tls("keepalive-no-tls", swsim_msg_keepalive(30), kEstablished | 4);
    for (int i = 2; i < argc; ++i) {
        swsim_scenario sc;
        std::string error;
        if (swsim_scenario_load(argv[i], sc, error) != 0) {
            fprintf(stderr, "fuzz_make_seeds: %s\n", error.c_str());
            return 1;
        }
        swsim_roam roam;
        const std::string name = fs::path(argv[i]).stem();
        for (const auto& st : sc.steps) {
            msg_t m = step_message(st, roam);
            if (m.size() < MAP_MSG_HDR_LEN) continue;
            const uint16_t type = wire_load_be16(m.data());
            if (type == SWITCH_UPDATE_CODE || type == SWITCH_AP_IMAGE_UPGRADE) continue;
            w.tls(name + "-" + st.verb, m);
        }
    }
    printf("fuzz_make_seeds: %d messages\n", w.n);
    return 0;
}
