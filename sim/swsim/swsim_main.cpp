// swsim: plays the wireless switch on 127.0.0.2 and prints a timestamped
// account of the session with the AP.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "swsim/scenario.hpp"
#include "swsim/stats_msg.hpp"
#include "swsim/swsim.hpp"

namespace {

volatile int g_stop = 0;
void on_signal(int) { g_stop = 1; }

void usage(FILE* to) {
    fprintf(to,
            "usage: swsim [options]\n"
            "  Plays the wireless switch towards a managed AP and prints what happens.\n"
            "  --ip ADDR          the switch's address (default 127.0.0.2)\n"
            "  --ap ADDR          the AP's address (default 127.0.0.1)\n"
            "  --pass-phrase TEXT the pass phrase the AP must present (default: any)\n"
            "  --keepalive S      keepalive interval in seconds (default 20)\n"
            "  --duration S       stop after S seconds (default: until Ctrl-C)\n"
            "  --scenario FILE    run the steps of FILE (see sim/swsim/scenarios/), then go on\n"
            "                     with keepalives until --duration\n"
            "  --cert F --key F   certificate mode: the switch's certificate and key\n"
            "  --ca F             the CA that signed the AP's certificate\n"
            "  --stats S          without a scenario: the statistics interval the switch sets\n"
            "                     on each link (S seconds; the scenario step is \"stats S\")\n"
            "  --stats-csv FILE   append one CSV row per statistics report of the AP (time,\n"
            "                     uptime, the AP's sums, each radio's and VAP's counters); every\n"
            "                     report is printed element by element in any case\n"
            "  --assoc POLICY     how client association requests (96) are answered, until a\n"
            "                     scenario step \"assoc ...\" changes it (words joined by commas):\n"
            "                       accept   reply 97: AP, VAP and client MAC, radio, SSID, client\n"
            "                                status, PMK with re-authentication interval and age\n"
            "                       tunnel   the same with status bit 0x20 and the home AP\n"
            "                                element 0x5042 (another AP is the client's home)\n"
            "                       refuse   no reply; the switch sends a disassociate command\n"
            "                                (26) for the client, so hostapd drops it\n"
            "                       none     no answer\n"
            "                     then vlan=N (element 0x500C), status=N (ORed in), home=MAC,\n"
            "                     home-ip=IPV4, reauth=S, age=S; e.g. --assoc tunnel,vlan=100\n"
            "                     (default accept)\n"
            "  --tspec POLICY     how TSPEC admission requests (104) are answered, until a\n"
            "                     scenario step \"tspec ...\" changes it: admit (reply 105 with\n"
            "                     the request's stream and the admitted flag 1), refuse (the\n"
            "                     same, flag 0) or none (default admit)\n"
            "  Client messages from the AP (probe requests over UDP; association requests,\n"
            "  disassociations, authentication failures, client addresses and tunnel\n"
            "  terminations over TLS) are printed field by field, one line each, with\n"
            "  \"MALFORMED: ...\" when their elements are out of order or of the wrong length.\n"
            "  Scenario steps for client commands: disassociate MAC [AP-MAC], resend MAC\n"
            "  [AP-MAC], new-arp MAC IPV4 VAP-MAC, threat-deauth RADIO CHANNEL MAC BSSID\n"
            "  [AP-MAC], and assoc POLICY-WORDS (see sim/swsim/scenario.hpp).\n"
            "  Roaming messages from the AP are printed field by field the same way: client\n"
            "  authentications (39, 507 bytes, 516 with the RRM element), PMKs (38),\n"
            "  pre-authentication frames and answers (24, 36) and results (115), RADIUS\n"
            "  packets (98), TSPEC requests (104, 106, 107) and channel load reports (530);\n"
            "  RF-scan reports (10, over UDP) and supported-channel lists (31) element by\n"
            "  element.  Scenario steps that answer them: tspec admit|refuse|none,\n"
            "  tspec-delete MAC [AC] (106), pmk MAC [SSID|-] (38 with the PMK heard for the\n"
            "  client), preauth MAC BYTES (24), preauth-ans MAC BYTES (36) and radius MAC\n"
            "  BYTES (98); VAP, radio, SSID and BSSID come from what the AP said of the\n"
            "  client (see sim/swsim/roam_msg.hpp).\n");
}

double now_s() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
    swsim_options opt;
    long keepalive = 20;
    double duration = 0;
    std::string scenario_file;
    long stats = -1;
    std::vector<std::string> assoc_words = {"accept"};
    std::string tspec_word = "admit";
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "swsim: %s needs a value\n", a.c_str());
                exit(2);
            }
            return argv[++i];
        };
        if (a == "--ip") opt.ip = next();
        else if (a == "--ap") opt.ap_ip = next();
        else if (a == "--pass-phrase") opt.pass_phrase = next();
        else if (a == "--keepalive") keepalive = strtol(next(), nullptr, 10);
        else if (a == "--duration") duration = strtod(next(), nullptr);
        else if (a == "--scenario") scenario_file = next();
        else if (a == "--cert") opt.cert_file = next();
        else if (a == "--key") opt.key_file = next();
        else if (a == "--ca") opt.ca_file = next();
        else if (a == "--stats") stats = strtol(next(), nullptr, 10);
        else if (a == "--stats-csv") opt.stats_csv = next();
        else if (a == "--assoc") assoc_words = swsim_split_commas(next());
        else if (a == "--tspec") tspec_word = next();
        else if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else {
            fprintf(stderr, "swsim: unknown argument %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (keepalive <= 0 || keepalive > 3600) {
        fprintf(stderr, "swsim: --keepalive must be 1 to 3600 seconds\n");
        return 2;
    }
    if (stats > 65535) {
        fprintf(stderr, "swsim: --stats must be 0 to 65535 seconds\n");
        return 2;
    }
    swsim_assoc_policy assoc;
    std::string assoc_error;
    if (swsim_assoc_policy_parse(assoc_words, assoc, assoc_error) != 0) {
        fprintf(stderr, "swsim: --assoc: %s\n", assoc_error.c_str());
        return 2;
    }
    swsim_tspec_mode tspec;
    if (swsim_tspec_mode_parse(tspec_word, tspec, assoc_error) != 0) {
        fprintf(stderr, "swsim: --tspec: %s\n", assoc_error.c_str());
        return 2;
    }
    swsim_scenario scenario;
    std::string sc_error;
    if (!scenario_file.empty() && swsim_scenario_load(scenario_file, scenario, sc_error) != 0) {
        fprintf(stderr, "swsim: %s\n", sc_error.c_str());
        return 2;
    }
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);

    const double start = now_s();
    swsim sw;
    sw.assoc = assoc;
    sw.roam.tspec = tspec;
    sw.print = [&](const std::string& line) {
        printf("[%8.3f] %s\n", now_s() - start, line.c_str());
        fflush(stdout);
    };
    std::string error;
    if (swsim_open(sw, opt, error) != 0) {
        fprintf(stderr, "swsim: %s\n", error.c_str());
        return 1;
    }
    int sessions = 0;
    if (!scenario_file.empty()) {
        int interval = static_cast<int>(keepalive);
        int failed = swsim_scenario_run(sw, scenario, interval);
        sessions += sw.ssl ? 1 : 0;
        sw.print("scenario " + scenario_file + ": " + std::to_string(scenario.steps.size() - failed) +
                 " of " + std::to_string(scenario.steps.size()) + " steps ok");
        if (failed > 0) {
            swsim_close(sw);
            return 1;
        }
        if (duration > now_s() - start) {
            swsim_serve(sw, duration - (now_s() - start), interval, &g_stop);
        }
        sw.print("done");
        swsim_close(sw);
        return 0;
    }
    while (!g_stop && (duration <= 0 || now_s() - start < duration)) {
        if (swsim_establish(sw, 5000, error) != 0) {
            sw.print("no AP yet: " + error);
            continue;
        }
        ++sessions;
        if (stats >= 0) {
            swsim_send(sw, swsim_msg_stats_interval(sw.ident.mac, static_cast<uint16_t>(stats)));
        }
        swsim_serve(sw, duration > 0 ? duration - (now_s() - start) : 1e9,
                    static_cast<int>(keepalive), &g_stop);
    }
    sw.print("done: " + std::to_string(sessions) + " session(s)");
    swsim_close(sw);
    return sessions > 0 ? 0 : 1;
}
