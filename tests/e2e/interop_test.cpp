// The AP against a TLS peer nobody here wrote: `openssl s_server`, anonymous
// Diffie-Hellman over TLS 1.0 and TLS 1.2, and certificate mode with a
// certificate from `openssl req`, an expired one, and one from an untrusted CA.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/twin_fixture.hpp"
#include "swsim/swsim.hpp"
#include "wire/wire.hpp"

extern char** environ;
using namespace mapd_e2e;

namespace {

bool have_openssl() { return system("openssl version >/dev/null 2>&1") == 0; }

// `openssl s_server` in the background with its standard output in a pipe.
// Its standard input stays open: s_server ends when it reads end-of-file.
struct s_server {
    pid_t pid = -1;
    int out = -1;
    int in = -1;
    explicit s_server(std::vector<std::string> args) {
        int p[2], q[2];
        if (pipe(p) != 0 || pipe(q) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, p[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&fa, q[0], STDIN_FILENO);
        posix_spawn_file_actions_addclose(&fa, p[0]);
        posix_spawn_file_actions_addclose(&fa, q[1]);
        args.insert(args.begin(), {"openssl", "s_server", "-accept", "127.0.0.2:57777", "-quiet"});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid, "openssl", &fa, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(p[1]);
        close(q[0]);
        out = p[0];
        in = q[1];
        // Ready once 127.0.0.2:57777 is in the kernel's list of listeners.
        mapd_e2e::eventually(
            [] {
                std::ifstream tcp("/proc/net/tcp");
                std::string line;
                while (std::getline(tcp, line)) {
                    if (line.find(" 0200007F:E1B1 00000000:0000 0A ") != std::string::npos) return true;
                }
                return false;
            },
            5000);
    }
    ~s_server() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        if (out >= 0) close(out);
        if (in >= 0) close(in);
    }
    // What the server printed within `ms`, at least `want` bytes if they come.
    std::vector<uint8_t> read_bytes(size_t want, int ms) {
        std::vector<uint8_t> got;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < want && std::chrono::steady_clock::now() < end) {
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            uint8_t buf[4096];
            ssize_t n = read(out, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
};

// A certificate with its key: self-signed, or signed by `ca`; valid from
// `from_s` to `to_s` seconds relative to now.
struct cred {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    ~cred() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
};

void make_cred(cred& c, const char* cn, long from_s, long to_s, const cred* ca) {
    c.key = EVP_RSA_gen(2048);
    c.cert = X509_new();
    X509_set_version(c.cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c.cert), 42);
    X509_gmtime_adj(X509_getm_notBefore(c.cert), from_s);
    X509_gmtime_adj(X509_getm_notAfter(c.cert), to_s);
    X509_set_pubkey(c.cert, c.key);
    X509_NAME* name = X509_get_subject_name(c.cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(c.cert, ca ? X509_get_subject_name(ca->cert) : name);
    X509_sign(c.cert, ca ? ca->key : c.key, EVP_sha256());
}

void write_pem(const cred& c, const std::string& cert_path, const std::string& key_path) {
    FILE* f = fopen(cert_path.c_str(), "w");
    PEM_write_X509(f, c.cert);
    fclose(f);
    if (!key_path.empty()) {
        f = fopen(key_path.c_str(), "w");
        PEM_write_PrivateKey(f, c.key, nullptr, nullptr, 0, nullptr, nullptr);
        fclose(f);
    }
}

struct Interop : testing::Test {
    twin t;
    void SetUp() override {
        if (!have_openssl()) GTEST_SKIP() << "the openssl command-line tool is not installed";
    }
    // Turns certificate mode on and installs `trusted` as the switch certificates.
    void certificate_mode(const std::string& trusted_pem) {
        t.set("map-ap-provisioning", nullptr, "data-valid", "on");
        t.set("map-ap-provisioning", nullptr, "mutual-auth", "on");
        t.write("/etc/switch_certs.pem", trusted_pem);
    }
};

std::string file_text(const std::string& p) {
    FILE* f = fopen(p.c_str(), "r");
    if (!f) return "";
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

// Checks an identification message element by element: order and lengths.
void check_identification(const std::vector<uint8_t>& m, const std::string& cert) {
    ASSERT_GE(m.size(), 4u);
    EXPECT_EQ(wire_load_be16(m.data()), 21);
    EXPECT_EQ(wire_load_be16(m.data() + 2), m.size()) << "the length covers the whole message";
    EXPECT_LE(m.size(), 1266u);
    struct want {
        uint16_t type;
        size_t len;
    };
    const want elems[] = {{1, 1},   {4, 2},   {256, 18}, {33, 6},  {34, 2},  {35, 1},
                          {37, 2},  {38, 4},  {39, 32},  {40, 32}, {41, 32}, {42, 1},
                          {272, 17}, {273, 17}, {274, 1}, {275, 1}, {276, cert.size()}};
    wire_reader r = wire_reader_make(m.data() + 4, m.size() - 4);
    wire_elem e;
    size_t i = 0;
    while (wire_elem_next(r, e)) {
        ASSERT_LT(i, std::size(elems));
        EXPECT_EQ(e.type, elems[i].type) << "element " << i;
        EXPECT_EQ(e.len, elems[i].len) << "element " << i;
        EXPECT_TRUE(e.complete);
        if (e.type == 276) {
            EXPECT_EQ(std::string(e.value.begin(), e.value.end()), cert);
        }
        ++i;
    }
    EXPECT_EQ(i, std::size(elems));
}

}  // namespace

TEST_F(Interop, AnonymousDiffieHellmanOverTls10And12) {
    ASSERT_TRUE(t.start()) << t.log_text();
    udp_peer peer("127.0.0.2");
    const std::string cert = file_text(t.root + "/etc/zorcert2.pem");
    int round = 0;
    for (const char* version : {"-tls1", "-tls1_2"}) {
        s_server srv({"-nocert", "-cipher", "ADH:@SECLEVEL=0", version});
        ASSERT_GT(srv.pid, 0);
        if (round++ > 0) {
            // The previous server is gone: back in discovery, and the same
            // switch may be followed again 20 s later.
            ASSERT_TRUE(t.dump_has(" Status        : MAP_SWITCH_COMM_LISTEN_MODE"));
            t.advance(20);
        }
        peer.send_to(swsim_msg_discover(0x7F000002));
        auto head = srv.read_bytes(4, 8000);
        ASSERT_GE(head.size(), 4u) << version << "\n" << t.log_text();
        size_t total = wire_load_be16(head.data() + 2);
        auto rest = srv.read_bytes(total - head.size(), 3000);
        head.insert(head.end(), rest.begin(), rest.end());
        head.resize(total);
        check_identification(head, cert);
    }
}

// Certificate mode against s_server with three switch certificates: one made
// by `openssl req`, an expired one (accepted), and one from a CA the AP does
// not trust (refused: the TLS failure notification, nothing over TLS).  The
// AP rebuilds its certificate context from the files before each attempt.
TEST_F(Interop, CertificateMode) {
    const std::string key = t.root + "/req.key", crt = t.root + "/req.crt";
    std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -keyout " + key + " -out " + crt +
                      " -days 2 -subj /CN=switch.test >/dev/null 2>&1";
    ASSERT_EQ(system(cmd.c_str()), 0);
    cred expired, ca, other_ca, signed_by_ca;
    make_cred(expired, "expired.switch", -3 * 86400, -86400, nullptr);
    make_cred(ca, "rogue.ca", -60, 86400, nullptr);
    make_cred(other_ca, "trusted.ca", -60, 86400, nullptr);
    make_cred(signed_by_ca, "switch", -60, 86400, &ca);
    write_pem(expired, t.root + "/expired.crt", t.root + "/expired.key");
    write_pem(signed_by_ca, t.root + "/untrusted.crt", t.root + "/untrusted.key");
    write_pem(other_ca, t.root + "/trusted-ca.crt", "");
    certificate_mode(file_text(crt));
    ASSERT_TRUE(t.start()) << t.log_text();
    udp_peer peer("127.0.0.2");
    const struct {
        const char* what;
        std::string cert, key, trusted;
        bool accepted;
    } rows[] = {
        {"openssl req", crt, key, crt, true},
        {"expired", t.root + "/expired.crt", t.root + "/expired.key", t.root + "/expired.crt", true},
        {"untrusted CA", t.root + "/untrusted.crt", t.root + "/untrusted.key",
         t.root + "/trusted-ca.crt", false},
    };
    for (const auto& r : rows) {
        // The previous server is gone: the AP is back in discovery first.
        ASSERT_TRUE(t.dump_has(" Status        : MAP_SWITCH_COMM_LISTEN_MODE")) << r.what;
        t.write("/etc/switch_certs.pem", file_text(r.trusted));
        t.advance(20);  // the same switch may be followed again
        s_server srv({"-cert", r.cert, "-key", r.key, "-cipher", "ALL:@SECLEVEL=0"});
        ASSERT_GT(srv.pid, 0);
        const size_t mark = t.log_text().size();
        peer.send_to(swsim_msg_discover(0x7F000002));
        if (r.accepted) {
            auto got = srv.read_bytes(4, 8000);
            ASSERT_GE(got.size(), 4u) << r.what << "\n" << t.log_text().substr(mark);
            EXPECT_EQ(wire_load_be16(got.data()), 21) << r.what << ": identification after the handshake";
        } else {
            auto udp = peer.recv(12000);
            ASSERT_EQ(udp.size(), 105u) << r.what << "\n" << t.log_text().substr(mark);
            EXPECT_EQ(wire_load_be16(udp.data()), 11) << "the TLS failure notification";
            EXPECT_TRUE(srv.read_bytes(1, 200).empty()) << "nothing reached the untrusted switch";
            EXPECT_TRUE(t.wait_log("Unable to SSL connect to switch: 127.0.0.2", 2000, mark));
        }
    }
}
