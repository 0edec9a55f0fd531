// swsim: plays the wireless switch on 127.0.0.2 and prints a timestamped
// account of the session with the AP; "swsim provision" sends one AP
// provisioning command over UDP and prints the reply.
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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
#include "wire/map_provision_msg.hpp"

namespace {

volatile int g_stop = 0;
void on_signal(int) { g_stop = 1; }

void usage(FILE* to) {
    fprintf(to,
            "usage: swsim [options]\n"
            "       swsim provision --switch IP [provisioning options]\n"
            "       swsim --help | -h\n"
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
            "  client (see sim/swsim/roam_msg.hpp).\n"
            "  Scenario steps for radio, WIDS and RRM commands: rf-scan SECONDS (9), channel\n"
            "  RADIO CHANNEL (32), power RADIO LEVEL (33), wids on|off INTERVAL ATTACK-INTERVAL\n"
            "  [BSSID/CHANNEL ...] (70), rrm-neighbors VAP-MAC=NBR-MAC/INFO,... (528) and\n"
            "  chan-load CLIENT-MAC CHANNEL DURATION (529), each with an optional last AP-MAC;\n"
            "  provision WORDS sends the provisioning command (514) over TLS (see\n"
            "  sim/swsim/scenario.hpp).\n"
            "  Client QoS: definition requests (147) are printed entry by entry and answered\n"
            "  with the requested ACLs (148) and policies (149) unless --cltqos-answer off or\n"
            "  the step \"cltqos-answer off\"; steps acl-update TYPE:NAME,... (144),\n"
            "  acl-rename TYPE:OLD>NEW,... (145), acl-delete TYPE:NAME,... (146), qos-mode\n"
            "  GLOBAL RADIO:MODES... (150) and qos-mode-old GLOBAL (150, element 0x0122); TYPE\n"
            "  is ip4num, ipv4, ipv6, mac, policy or a number (see sim/swsim/scenario.hpp).\n"
            "  --cltqos-answer on|off  whether definition requests are answered (default on)\n"
            "  Firmware: scenario steps update-code SERVER FILE [MODE] (28: the AP fetches FILE\n"
            "  from the TFTP server SERVER, transfer mode 1 unless given), image-upgrade FILE\n"
            "  [CHUNK-BYTES] (71: streams FILE, default chunks of 8184 bytes) and reset\n"
            "  [upgrade] (30: reboot, with upgrade installing the downloaded image first),\n"
            "  each with an optional last AP-MAC.  Each code download status of the AP (29)\n"
            "  is printed with its MAC and status (1 image in place, 2 failed), with\n"
            "  \"MALFORMED: ...\" when it is not the 19-byte layout; \"expect 29 S\" waits for\n"
            "  one (see sim/swsim/update_msg.hpp and sim/swsim/scenarios/update.txt).\n"
            "  Provisioning form: swsim provision sends one AP provisioning command (514) over\n"
            "  UDP to the AP (--ap, port 57776) and prints the reply (515) that the AP sends to\n"
            "  the provisioned switch address at port 57776, field by field:\n"
            "    --switch IP         the switch address to provision (IPv4 or IPv6); the reply\n"
            "                        is awaited there unless --ip names another local address\n"
            "    --primary IP        the primary switch (default: the switch)\n"
            "    --backup IP         the backup switch (default 0.0.0.0)\n"
            "    --mutual 0|1        mutual certificate authentication (default 0)\n"
            "    --reprovision 0|1   re-provision while unmanaged (default 0)\n"
            "    --cert F            the primary switch certificate (PEM) the AP is to trust\n"
            "    --backup-cert F     the backup switch certificate\n"
            "    --ap-mac MAC        the AP's MAC (without it the command carries none)\n"
            "    --ap ADDR           the AP's IPv4 address (default 127.0.0.1)\n"
            "    --ip ADDR           the local IPv4 address the reply is awaited at\n"
            "    --wait S            how long to wait for the reply (default 5)\n"
            "    --port P            the UDP port of both ends (default 57776)\n"
            "  It exits 0 when a reply with status 1 came, 1 otherwise.  To serve an AP\n"
            "  provisioned with --mutual 1, run swsim with --cert and --key of the provisioned\n"
            "  certificate and --ca the AP's own certificate (its identification carries it).\n"
            "  Bad usage: one line on standard error, exit status 2.\n");
}

double now_s() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// swsim provision: one provisioning command over UDP from the switch's
// address, then every datagram printed until the reply or --wait seconds.
int provision(int argc, char** argv) {
    static const char* const kWords[][2] = {
        {"--switch", "switch"},           {"--primary", "primary"},         {"--backup", "backup"},
        {"--mutual", "mutual"},           {"--reprovision", "reprovision"}, {"--cert", "cert"},
        {"--backup-cert", "backup-cert"}, {"--ap-mac", "ap-mac"},
    };
    std::vector<std::string> words;
    std::string ap_ip = "127.0.0.1", own_ip, switch_ip;
    double wait = 5;
    long port = 57776;
    for (int i = 2; i < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "swsim provision: %s needs a value\n", a.c_str());
            return 2;
        }
        const std::string v = argv[i + 1];
        size_t before = words.size();
        for (const auto& w : kWords) {
            if (a == w[0]) words.push_back(std::string(w[1]) + "=" + v);
        }
        if (a == "--switch") switch_ip = v;
        if (a == "--ap") ap_ip = v;
        else if (a == "--ip") own_ip = v;
        else if (a == "--wait") wait = strtod(v.c_str(), nullptr);
        else if (a == "--port") port = strtol(v.c_str(), nullptr, 10);
        else if (words.size() == before) {
            fprintf(stderr, "swsim provision: unknown argument %s (swsim --help)\n", a.c_str());
            return 2;
        }
    }
    swsim_provision p;
    std::string error;
    std::vector<uint8_t> msg;
    if (switch_ip.empty()) {
        error = "--switch is needed";
    } else if (port < 1 || port > 65535) {
        error = "--port takes 1 to 65535";
    } else if (swsim_provision_parse(words, p, error) == 0) {
        msg = swsim_provision_build(p, 0, nullptr, error);
    }
    // The reply goes to the provisioned switch address: listen there.
    if (own_ip.empty() && p.cmd.switch_addr.is_ipv6 == 0) own_ip = switch_ip;
    sockaddr_in own{}, ap{};
    own.sin_family = ap.sin_family = AF_INET;
    own.sin_port = ap.sin_port = htons(static_cast<uint16_t>(port));
    if (!msg.empty() && (inet_pton(AF_INET, own_ip.c_str(), &own.sin_addr) != 1 ||
                         inet_pton(AF_INET, ap_ip.c_str(), &ap.sin_addr) != 1)) {
        error = "--ip and --ap take IPv4 addresses (--ip is needed with an IPv6 switch)";
        msg.clear();
    }
    if (msg.empty()) {
        fprintf(stderr, "swsim provision: %s\n", error.c_str());
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof own) != 0 ||
        sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&ap), sizeof ap) !=
            static_cast<ssize_t>(msg.size())) {
        fprintf(stderr, "swsim provision: %s:%ld to %s:%ld: %s\n", own_ip.c_str(), port,
                ap_ip.c_str(), port, strerror(errno));
        close(fd);
        return 1;
    }
    const double start = now_s();
    printf("[%8.3f] UDP  -> %zu bytes to %s: provisioning command (514)\n", 0.0, msg.size(),
           ap_ip.c_str());
    int rc = 1;
    for (;;) {
        const double left = wait - (now_s() - start);
        pollfd pf{fd, POLLIN, 0};
        if (left <= 0 || poll(&pf, 1, static_cast<int>(left * 1000) + 1) <= 0) break;
        uint8_t buf[9000];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 4) continue;
        printf("[%8.3f] UDP  <- %s\n", now_s() - start,
               swsim_decode(std::vector<uint8_t>(buf, buf + n)).c_str());
        if (wire_load_be16(buf) != MAP_PROVISION_REPLY_TYPE) continue;
        map_provision_reply reply;
        const bool applied =
            map_provision_reply_decode(buf, static_cast<size_t>(n), reply) == 0 && reply.status_ok == 1;
        rc = applied ? 0 : 1;
        break;
    }
    fflush(stdout);
    close(fd);
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "provision") == 0) return provision(argc, argv);
    swsim_options opt;
    long keepalive = 20;
    double duration = 0;
    std::string scenario_file;
    long stats = -1;
    std::vector<std::string> assoc_words = {"accept"};
    std::string tspec_word = "admit";
    std::string cltqos_word = "on";
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
        else if (a == "--cltqos-answer") cltqos_word = next();
        else if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else {
            fprintf(stderr, "swsim: unknown argument %s (swsim --help)\n", a.c_str());
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
    bool cltqos_answer = true;
    if (swsim_qos_answer_parse(cltqos_word, cltqos_answer, assoc_error) != 0) {
        fprintf(stderr, "swsim: --cltqos-answer: %s\n", assoc_error.c_str());
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
    sw.roam.cltqos_answer = cltqos_answer;
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
