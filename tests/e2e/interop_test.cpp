// The AP against a TLS peer nobody here wrote: `openssl s_server`, anonymous
// Diffie-Hellman over TLS 1.0 and TLS 1.2, and certificate mode with a
// certificate from `openssl req`, an expired one, and one from an untrusted CA;
// and the field engineer's road: provisioning over UDP into certificate mode,
// the reboot, and mutual authentication with the switch.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/twin_fixture.hpp"
#include "support/sandbox.hpp"
#include "swsim/swsim.hpp"
#include "wire/map_provision_msg.hpp"
#include "wire/wire.hpp"

extern char** environ;
using namespace mapd_e2e;

namespace {

// `openssl s_server` in the background, its standard input and output on a
// socket pair: what it prints arrives on `out`, and its input stays open
// (s_server ends when it reads end-of-file).
struct s_server {
    pid_t pid = -1;
    int out = -1;
    explicit s_server(std::vector<std::string> args) {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, sv[1], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&fa, sv[1], STDOUT_FILENO);
        args.insert(args.begin(), {"openssl", "s_server", "-accept", "127.0.0.2:57777", "-quiet"});
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid, "openssl", &fa, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(sv[1]);
        out = sv[0];
        // Ready once 127.0.0.2:57777 is in the kernel's list of listeners.
        eventually(
            [] {
                return mapd_test::read_file("/proc/net/tcp")
                           .find(" 0200007F:E1B1 00000000:0000 0A ") != std::string::npos;
            },
            5000);
    }
    ~s_server() {
        if (pid > 0)
            kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
        close(out);
    }
    // The first message the server printed, as long as its header says, or
    // what came of it within `ms`.
    std::vector<uint8_t> read_message(int ms) {
        std::vector<uint8_t> got;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while ((got.size() < 4 || got.size() < wire_load_be16(got.data() + 2)) &&
               std::chrono::steady_clock::now() < end) {
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            uint8_t buf[4096];
            ssize_t n = read(out, buf, sizeof buf);
            if (n <= 0)
                break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
};

// An expired self-signed certificate (three days ago to yesterday) and its
// key, written to <dir>/expired.crt and .key: `openssl req` makes none.
void make_expired(const std::string& dir) {
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 42);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3 * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert), -86400);
    X509_set_pubkey(cert, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("expired"), -1, -1, 0);
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    X509_sign(cert, key, EVP_sha256());
    FILE* f = fopen((dir + "/expired.crt").c_str(), "w");
    PEM_write_X509(f, cert);
    fclose(f);
    f = fopen((dir + "/expired.key").c_str(), "w");
    PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    fclose(f);
    X509_free(cert);
    EVP_PKEY_free(key);
}

// Checks an identification message element by element: order and lengths.
void check_identification(const std::vector<uint8_t>& m, const std::string& cert) {
    ASSERT_GE(m.size(), 4u);
    EXPECT_EQ(wire_load_be16(m.data()), 21);
    EXPECT_EQ(wire_load_be16(m.data() + 2), m.size()) << "the length covers the whole message";
    EXPECT_LE(m.size(), 1266u);
    const int cert_len = static_cast<int>(cert.size());
    const std::pair<int, int> elems[] = {{1, 1},   {4, 2},         {256, 18}, {33, 6},   {34, 2},
                                         {35, 1},  {37, 2},        {38, 4},   {39, 32},  {40, 32},
                                         {41, 32}, {42, 1},        {272, 17}, {273, 17}, {274, 1},
                                         {275, 1}, {276, cert_len}};
    wire_reader r = wire_reader_make(m.data() + 4, m.size() - 4);
    wire_elem e;
    size_t i = 0;
    for (; wire_elem_next(r, e); ++i) {
        ASSERT_LT(i, std::size(elems));
        EXPECT_EQ((std::pair<int, int>(e.type, e.len)), elems[i]) << "element " << i;
        EXPECT_TRUE(e.complete);
    }
    EXPECT_EQ(i, std::size(elems));
    EXPECT_EQ(std::string(m.end() - static_cast<long>(cert.size()), m.end()), cert);
}

struct Interop : testing::Test {
    twin t;
    udp_peer peer{"127.0.0.2"};
    void SetUp() override {
        if (system("openssl version >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "the openssl command-line tool is not installed";
        }
    }
    // One handshake with s_server run with `args`, once the AP is back in
    // discovery (the previous server is gone) and 20 s on, so that the same
    // switch is followed again.  Accepted: the identification arrives whole.
    // Refused: the TLS failure notification, and nothing over TLS.
    void attempt(const std::string& what, std::vector<std::string> args, bool accepted) {
        ASSERT_TRUE(t.dump_has(" Status        : MAP_SWITCH_COMM_LISTEN_MODE")) << what;
        t.advance(20);
        s_server srv(std::move(args));
        ASSERT_GT(srv.pid, 0);
        const size_t mark = t.log_text().size();
        peer.send_to(swsim_msg_discover(0x7F000002));
        if (accepted) {
            auto m = srv.read_message(8000);
            ASSERT_GE(m.size(), 4u) << what << "\n" << t.log_text().substr(mark);
            check_identification(m, t.read("/etc/zorcert2.pem"));
            return;
        }
        // A provisioned AP also sends its discover messages to the switch:
        // the notification is the first datagram of its type.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(12);
        std::vector<uint8_t> udp;
        while (std::chrono::steady_clock::now() < end &&
               (udp.size() < 2 || wire_load_be16(udp.data()) != 11)) {
            udp = peer.recv(500);
        }
        ASSERT_EQ(udp.size(), 105u) << what << "\n" << t.log_text().substr(mark);
        EXPECT_EQ(wire_load_be16(udp.data()), 11) << "the TLS failure notification";
        EXPECT_TRUE(srv.read_message(200).empty()) << "nothing reached the untrusted switch";
        EXPECT_TRUE(t.wait_log("Unable to SSL connect to switch: 127.0.0.2", 2000, mark));
    }
    // <root>/<name>.crt and .key by `openssl req`, self-signed or signed as
    // `more` says, with a key of `key` ("-newkey" argument); 0 when made.
    int req(const std::string& name, const std::string& more, const std::string& key = "rsa:2048") {
        const std::string& dir = t.root;
        return system(("openssl req -x509 -newkey " + key + " -nodes -days 2 -subj /CN=" + name +
                       " -keyout " + dir + "/" + name + ".key -out " + dir + "/" + name + ".crt " +
                       more + " >/dev/null 2>&1")
                          .c_str());
    }
};

}  // namespace

TEST_F(Interop, AnonymousDiffieHellmanOverTls10And12) {
    ASSERT_TRUE(t.start()) << t.log_text();
    for (const char* version : {"-tls1", "-tls1_2"}) {
        attempt(version, {"-nocert", "-cipher", "ADH:@SECLEVEL=0", version}, true);
    }
}

// Certificate mode: the AP rebuilds its certificate context from the files
// before each attempt; an expired switch certificate is accepted, one from a
// CA the AP does not trust is refused.
TEST_F(Interop, CertificateMode) {
    const std::string& dir = t.root;
    ASSERT_EQ(req("req", ""), 0);
    ASSERT_EQ(req("rogue-ca", "") | req("trusted-ca", ""), 0);
    ASSERT_EQ(req("untrusted", "-CA " + dir + "/rogue-ca.crt -CAkey " + dir + "/rogue-ca.key"), 0);
    make_expired(dir);
    t.set("map-ap-provisioning", nullptr, "data-valid", "on");
    t.set("map-ap-provisioning", nullptr, "mutual-auth", "on");
    t.write("/etc/switch_certs.pem", t.read("/req.crt"));
    ASSERT_TRUE(t.start()) << t.log_text();
    const struct {
        std::string name;
        const char* trusted;  // what the AP trusts
        bool accepted;
    } rows[] = {{"req", "/req.crt", true},
                {"expired", "/expired.crt", true},
                {"untrusted", "/trusted-ca.crt", false}};
    for (const auto& r : rows) {
        t.write("/etc/switch_certs.pem", t.read(r.trusted));
        attempt(r.name,
                {"-cert", dir + "/" + r.name + ".crt", "-key", dir + "/" + r.name + ".key",
                 "-cipher", "ALL:@SECLEVEL=0"},
                r.accepted);
    }
}

// The field engineer's road.  A provisioning tool on the switch's address
// provisions the twin over UDP: the switch, the CA to trust and mutual
// authentication.  The AP answers with its own certificate, reboots 60 s later
// and boots into certificate mode: it joins the switch simulator and
// `openssl s_server -Verify 1` (both checking the AP's certificate) when their
// certificates come from that CA, and refuses one from another CA with the
// failure notification.
TEST_F(Interop, ProvisionedOverUdpIntoMutualAuthentication) {
    const std::string& dir = t.root;
    // A CA certificate travels in a 1,024-byte element: an EC key keeps it small.
    const std::string ec = "ec -pkeyopt ec_paramgen_curve:prime256v1";
    ASSERT_EQ(req("trusted-ca", "", ec) | req("rogue-ca", "", ec), 0);
    ASSERT_EQ(req("switch", "-CA " + dir + "/trusted-ca.crt -CAkey " + dir + "/trusted-ca.key") |
                  req("untrusted", "-CA " + dir + "/rogue-ca.crt -CAkey " + dir + "/rogue-ca.key"),
              0);
    ASSERT_TRUE(t.start()) << t.log_text();
    map_provision_cmd cmd;
    const uint8_t switch_ip[4] = {127, 0, 0, 2};
    memcpy(cmd.switch_addr.addr + 12, switch_ip, 4);
    cmd.primary = cmd.switch_addr;
    const uint8_t ap_mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x50};
    memcpy(cmd.ap_mac, ap_mac, 6);
    cmd.mutual_auth = 1;
    cmd.primary_cert = t.read("/trusted-ca.crt");
    ASSERT_TRUE(peer.send_to(map_provision_cmd_build(cmd)));
    const auto msg = peer.recv(5000);
    map_provision_reply reply;
    ASSERT_EQ(map_provision_reply_decode(msg.data(), msg.size(), reply), 0) << t.log_text();
    EXPECT_EQ(reply.status_ok, 1);
    EXPECT_EQ(reply.mutual_auth, 1);
    EXPECT_EQ(memcmp(reply.ap_mac, ap_mac, 6), 0);
    EXPECT_EQ(memcmp(reply.primary.addr + 12, switch_ip, 4), 0);
    EXPECT_EQ(reply.ap_cert, t.read("/etc/zorcert2.pem")) << "the AP's own certificate";
    EXPECT_EQ(t.read("/etc/mutauth.cfg").substr(0, 1), "1");
    EXPECT_EQ(t.read("/etc/switch_certs.pem").rfind(cmd.primary_cert, 0), 0u);
    EXPECT_EQ(t.get("map-ap-provisioning", nullptr, "mutual-auth"), "on");

    // The reboot follows 60 s of the AP's clock later; the twin then boots it.
    t.advance(61);
    ASSERT_TRUE(eventually(
        [&] { return t.read("/sandbox/init.log").find("init -r") != std::string::npos; }, 4000))
        << t.log_text();
    t.stop();
    ASSERT_TRUE(t.start()) << t.log_text();

    {
        swsim sw;
        sw.print = [](const std::string&) {};
        swsim_options opt;
        opt.cert_file = dir + "/switch.crt";
        opt.key_file = dir + "/switch.key";
        opt.ca_file = dir + "/etc/zorcert2.pem";  // the AP's certificate is its own CA
        std::string error;
        ASSERT_EQ(swsim_open(sw, opt, error), 0) << error;
        ASSERT_EQ(swsim_establish(sw, 12000, error), 0) << error << "\n" << t.log_text();
        EXPECT_TRUE(sw.ident.valid);
        swsim_close(sw);
    }
    const std::vector<std::string> verify_ap = {"-Verify", "1", "-CAfile",
                                                dir + "/etc/zorcert2.pem", "-cipher",
                                                "ALL:@SECLEVEL=0"};
    for (const auto& [name, accepted] : {std::pair{"switch", true}, std::pair{"untrusted", false}}) {
        std::vector<std::string> args = {"-cert", dir + "/" + name + ".crt", "-key",
                                         dir + "/" + name + ".key"};
        args.insert(args.end(), verify_ap.begin(), verify_ap.end());
        attempt(name, args, accepted);
    }
}
