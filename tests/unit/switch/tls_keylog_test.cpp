// The TLS key log: the twin can ask for the session secrets of the switch
// channel so that a capture decrypts; the AP (no sandbox root) never writes
// them, whatever files or environment it finds.
#include <openssl/ssl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.hpp"
#include "support/sandbox.hpp"
#include "support/tls_pair.hpp"
#include "switch/switch_comm.hpp"

namespace {

using mapd_test::read_file;

std::string hex(const unsigned char* p, size_t n) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += d[p[i] >> 4];
        s += d[p[i] & 15];
    }
    return s;
}

// The NSS line the AP's end of `rec` must have written for its session.
std::string expected_line(map_switch_comm* rec) {
    unsigned char random[SSL3_RANDOM_SIZE];
    SSL_get_client_random(rec->ssl.get(), random, sizeof random);
    unsigned char master[SSL_MAX_MASTER_KEY_LENGTH];
    size_t n = SSL_SESSION_get_master_key(SSL_get0_session(rec->ssl.get()), master, sizeof master);
    return "CLIENT_RANDOM " + hex(random, sizeof random) + " " + hex(master, n) + "\n";
}

// A handshake of a fresh switch record with a switch over a BIO pair.
std::unique_ptr<map_switch_comm> handshake(mapd_test::tls_pair& p) {
    auto rec = std::make_unique<map_switch_comm>();
    EXPECT_EQ(map_switch_comm_ssl_ctx_create(rec.get(), nullptr), 0);
    EXPECT_TRUE(mapd_test::tls_pair_open(p, rec.get()));
    return rec;
}

TEST(TlsKeylog, TheTwinThatAsksGetsTheSessionSecrets) {
    mapd_test::sandbox sb;
    const std::string log = sb.root + "/keys.log";
    struct row {
        const char* conf;  // first line of sandbox/tls-keylog; null: no file
        bool written;
    } rows[] = {
        {nullptr, false},
        {"", false},
        {"keys.log", false},  // relative: refused
        {"@", true},          // the absolute path (filled in below)
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.conf ? r.conf : "(no file)");
        std::filesystem::remove(log);
        std::filesystem::remove(sb.path("/sandbox/tls-keylog"));
        if (r.conf != nullptr) {
            sb.write("/sandbox/tls-keylog", (std::string(r.conf) == "@" ? log : r.conf) + "\n");
        }
        mapd_test::tls_pair p;
        auto rec = handshake(p);
        EXPECT_EQ(SSL_CTX_get_keylog_callback(rec->ssl_ctx.get()) != nullptr, r.written);
        EXPECT_EQ(read_file(log), r.written ? expected_line(rec.get()) : "<missing>");
    }
}

TEST(TlsKeylog, TheApNeverWritesSecrets) {
    // Everything a twin would use to ask for them, in the working folder and
    // the environment of a daemon that has no sandbox root.
    mapd_test::sandbox sb;
    const std::string log = sb.root + "/keys.log";
    sb.write("/sandbox/tls-keylog", log + "\n");
    const std::string cwd = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(sb.root.c_str()), 0);
    setenv("SSLKEYLOGFILE", log.c_str(), 1);
    ASSERT_EQ(map_platform_set_root(nullptr), 0);

    mapd_test::tls_pair p;
    auto rec = handshake(p);
    char path[MAP_PLATFORM_PATH_MAX] = "unchanged";
    EXPECT_EQ(map_platform_tls_keylog_path(path, sizeof path), -1);
    EXPECT_EQ(map_platform_tls_keylog_write("CLIENT_RANDOM 00 00"), -1);
    EXPECT_EQ(SSL_CTX_get_keylog_callback(rec->ssl_ctx.get()), nullptr);
    EXPECT_EQ(read_file(log), "<missing>");

    unsetenv("SSLKEYLOGFILE");
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    ASSERT_EQ(map_platform_set_root(sb.root.c_str()), 0);
}

}  // namespace
