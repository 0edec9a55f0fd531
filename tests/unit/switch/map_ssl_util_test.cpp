#include "switch/map_ssl_util.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "log/map_log.hpp"
#include "stats/map_proc.hpp"
#include "support/sandbox.hpp"

using testing::HasSubstr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

template <auto Free>
struct free_with {
    template <class T>
    void operator()(T* p) const {
        Free(p);
    }
};
using x509_ptr = std::unique_ptr<X509, free_with<X509_free>>;
using pkey_ptr = std::unique_ptr<EVP_PKEY, free_with<EVP_PKEY_free>>;
using bio_ptr = std::unique_ptr<BIO, free_with<BIO_free>>;

x509_ptr read_cert(const std::string& host_path) {
    bio_ptr f(BIO_new_file(host_path.c_str(), "r"));
    return x509_ptr(f ? PEM_read_bio_X509(f.get(), nullptr, nullptr, nullptr) : nullptr);
}

pkey_ptr read_key(const std::string& host_path) {
    bio_ptr f(BIO_new_file(host_path.c_str(), "r"));
    return pkey_ptr(f ? PEM_read_bio_PrivateKey(f.get(), nullptr, nullptr, nullptr) : nullptr);
}

// A new 768-bit key stored in the older "RSA PRIVATE KEY" PEM form, encrypted
// when a pass phrase is given.
pkey_ptr stored_key(const std::string& host_path, const char* pass = nullptr) {
    pkey_ptr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{768}));
    bio_ptr f(BIO_new_file(host_path.c_str(), "w"));
    EXPECT_EQ(1, PEM_write_bio_PrivateKey_traditional(
                     f.get(), key.get(), pass ? EVP_aes_128_cbc() : nullptr,
                     reinterpret_cast<const unsigned char*>(pass), pass ? int(strlen(pass)) : 0,
                     nullptr, nullptr));
    return key;
}

// "/CN=.../C=US/..." with the entries in order.
std::string name_text(const X509_NAME* name) {
    char buf[512];
    return X509_NAME_oneline(name, buf, sizeof buf);
}

// The extensions as OpenSSL prints them, in order.
std::string extensions_text(const X509* cert) {
    bio_ptr bio(BIO_new(BIO_s_mem()));
    X509V3_extensions_print(bio.get(), nullptr, X509_get0_extensions(cert), 0, 0);
    char* data = nullptr;
    long len = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(len));
}

long validity_seconds(const X509* cert) {
    int days = 0, secs = 0;
    ASN1_TIME_diff(&days, &secs, X509_get0_notBefore(cert), X509_get0_notAfter(cert));
    return days * 86400L + secs;
}

mode_t mode_of(const std::string& host_path) {
    struct stat st {};
    return stat(host_path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class SslUtil : public testing::Test {
protected:
    void SetUp() override {
        umask(022);
        sb.write("/sys/class/net/eth0/address", "00:1a:2b:3c:4d:5e\n");
        mapd_test::make_dirs(sb.path("/etc"));
        map_proc_mac_cache_clear();
    }
    void TearDown() override { map_global_debug_trace = 0; }

    // mapSSLCertificateGenerate with standard output captured into `out`.
    int generate(std::string& out, int bits, const char* cn = nullptr, const char* ou = nullptr,
                 const char* l = nullptr, const char* st = nullptr, const char* c = nullptr,
                 int days = 0) {
        CaptureStdout();
        int rc = mapSSLCertificateGenerate(bits, cn, ou, l, st, c, days);
        out = GetCapturedStdout();
        return rc;
    }

    mapd_test::sandbox sb;
    const std::string cert_path = sb.path(MAP_SSL_SERVER_CERT_FILE);
    const std::string key_path = sb.path(MAP_SSL_SERVER_KEY_FILE);
};

// The start-up check finds a file usable when it opens read-write and is not
// empty.  With a key present and the certificate empty, both are made anew: a
// self-issued version 3 certificate, valid from now for one day.
TEST_F(SslUtil, StartUpWithAnEmptyCertificateMakesBothAnew) {
    char path[MAP_SSL_PATH_LEN];
    EXPECT_EQ(-1, mapSSLServerKeyFileGet(path)) << "missing";
    pkey_ptr old_key = stored_key(key_path);
    chmod(key_path.c_str(), 0644);
    sb.write(MAP_SSL_SERVER_CERT_FILE, "");
    EXPECT_EQ(-1, mapSSLServerCertFileGet(path)) << "empty";
    ASSERT_EQ(0, mapSSLServerKeyFileGet(path));
    EXPECT_STREQ(path, "/etc/zorkey2.pem");

    std::string out;
    time_t before = time(nullptr) - 1;
    ASSERT_EQ(0, generate(out, 1024));
    time_t after = time(nullptr) + 1;
    EXPECT_THAT(out, HasSubstr(":mapSSLServerCredentialsCreate - MAP_SSL: creating server RSA "
                               "key pair...\nINFO: map_ssl_util:"));
    EXPECT_EQ(0u, ERR_peek_error()) << "no stale OpenSSL errors are left";
    EXPECT_EQ(0, mapSSLServerCertFileGet(path));

    x509_ptr cert = read_cert(cert_path);
    pkey_ptr key = read_key(key_path);  // unencrypted
    ASSERT_TRUE(cert && key);
    EXPECT_NE(1, EVP_PKEY_eq(key.get(), old_key.get())) << "a new key was made";
    EXPECT_EQ(X509_VERSION_3, X509_get_version(cert.get()));
    EXPECT_EQ(86400, validity_seconds(cert.get()));
    EXPECT_EQ(1, X509_cmp_time(X509_get0_notBefore(cert.get()), &before)) << "starts now";
    EXPECT_EQ(-1, X509_cmp_time(X509_get0_notBefore(cert.get()), &after));
    EXPECT_EQ(V_ASN1_INTEGER, ASN1_STRING_type(X509_get0_serialNumber(cert.get())))
        << "the serial is not negative";
    EXPECT_EQ("/CN=00:1A:2B:3C:4D:5E/C=US/CN=00:1A:2B:3C:4D:5E",
              name_text(X509_get_subject_name(cert.get())));
    EXPECT_EQ(0,
              X509_NAME_cmp(X509_get_subject_name(cert.get()), X509_get_issuer_name(cert.get())));

    EXPECT_THAT(
        extensions_text(cert.get()),
        testing::MatchesRegex("X509v3 Basic Constraints: critical\n    CA:TRUE\n"
                              "X509v3 Key Usage: critical\n    Certificate Sign, CRL Sign\n"
                              "X509v3 Subject Key Identifier: \n    ([0-9A-F]{2}:){19}[0-9A-F]{2}\n"
                              "Netscape Cert Type: \n    SSL CA\n"
                              "Netscape Comment: \n    example comment extension\n"));

    EXPECT_EQ(NID_sha1WithRSAEncryption, X509_get_signature_nid(cert.get()));
    EXPECT_EQ(1, X509_verify(cert.get(), key.get())) << "signed with its own key";
    EXPECT_EQ(1024, EVP_PKEY_get_bits(key.get()));
    BIGNUM* e = nullptr;
    ASSERT_EQ(1, EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_E, &e));
    EXPECT_EQ(65537u, BN_get_word(e));
    BN_free(e);
    EXPECT_EQ(0600u, mode_of(key_path)) << "the rewritten key is narrowed to its owner";
    EXPECT_EQ(0644u, mode_of(cert_path));
}

TEST_F(SslUtil, ArgumentChecks) {
    const std::string s64(64, 'a'), s65(65, 'a');
    const char *a64 = s64.c_str(), *a65 = s65.c_str(), *no = nullptr;
    const struct {
        int bits;
        const char *cn, *ou, *l, *st, *c;
        int days;
        const char* result;  // the error, or the subject of an accepted row
    } rows[] = {
        {1024, "", no, no, no, no, 0, "commonName length 0 invalid"},
        {1024, a65, no, no, no, no, 0, "commonName length 65 invalid"},
        {1024, no, a65, no, no, no, 0, "orgUnit length 65 invalid"},
        {1024, no, no, a65, no, no, 0, "location length 65 invalid"},
        {1024, no, no, no, a65, no, 0, "state length 65 invalid"},
        {1024, no, no, no, no, "USA", 0, "country length 3 invalid"},
        {1024, no, no, no, no, "U", 0, "country length 1 invalid"},
        {1024, no, no, no, no, no, 2, "days 2 invalid"},
        {1024, no, no, no, no, no, -1, "days -1 invalid"},
        {511, no, no, no, no, no, 0, "keyLength 511 invalid"},
        {1025, no, no, no, no, no, 0, "keyLength 1025 invalid"},
        {0, no, no, no, no, no, 0, "keyLength 0, no keyFile"},
        // The first check that fails is the one reported.
        {2048, no, no, no, no, "USA", 2, "country length 3 invalid"},
        // Accepted: the given fields come first, in order; days 1 is one day like days 0.
        {512, "ap-one", "Radio", "Lab", "CA", "DE", 1,
         "/CN=ap-one/OU=Radio/L=Lab/ST=CA/C=DE/C=US/CN=00:1A:2B:3C:4D:5E"},
        {512, a64, a64, a64, a64, "US", 0, nullptr},
    };
    for (const auto& r : rows) {
        std::string out;
        int rc = generate(out, r.bits, r.cn, r.ou, r.l, r.st, r.c, r.days);
        const bool refused = r.result != nullptr && r.result[0] != '/';
        SCOPED_TRACE(r.result ? r.result : "accepted");
        EXPECT_EQ(rc, refused ? -1 : 0) << out;
        if (refused) {
            EXPECT_THAT(out, testing::MatchesRegex("Error: map_ssl_util:[0-9]+:"
                                                   "mapSSLCertificateGenerate - " +
                                                   std::string(r.result) + "\n"));
            EXPECT_FALSE(sb.exists(MAP_SSL_SERVER_CERT_FILE));
            continue;
        }
        x509_ptr cert = read_cert(cert_path);
        pkey_ptr key = read_key(key_path);
        ASSERT_TRUE(cert && key);
        EXPECT_EQ(512, EVP_PKEY_get_bits(key.get()));
        EXPECT_EQ(86400, validity_seconds(cert.get()));
        if (r.result != nullptr) {
            EXPECT_EQ(r.result, name_text(X509_get_subject_name(cert.get())));
            EXPECT_EQ(r.result, name_text(X509_get_issuer_name(cert.get())));
        }
        unlink(cert_path.c_str());
    }
}

// Key bits 0 reuse the stored key, and refuse one that cannot be read.
TEST_F(SslUtil, KeyLengthZeroReusesOnlyAReadableStoredKey) {
    pkey_ptr stored = stored_key(key_path);
    const std::string key_text = sb.read(MAP_SSL_SERVER_KEY_FILE);
    map_global_debug_trace = MAP_TRACE_PROVISION;
    std::string out;
    ASSERT_EQ(0, generate(out, 0)) << out;
    EXPECT_THAT(out, HasSubstr("keyFile /etc/zorkey2.pem exists\n\n"));
    EXPECT_THAT(out, HasSubstr("read PrivateKey from keyFile /etc/zorkey2.pem\n\n"));
    EXPECT_EQ(out.find("creating server RSA key pair"), std::string::npos);
    x509_ptr cert = read_cert(cert_path);
    ASSERT_TRUE(cert);
    EXPECT_EQ(1, X509_verify(cert.get(), stored.get()));
    EXPECT_EQ(key_text, sb.read(MAP_SSL_SERVER_KEY_FILE)) << "the key file is not written back";
    unlink(cert_path.c_str());

    const struct {
        const char* content;  // "<protected>": a key with a pass phrase
        const char* error;
    } rows[] = {
        {"", "opensslFileOpen - OPENSSL: File /etc/zorkey2.pem size = 0\n"},
        {"not a key\n",
         "opensslServerKeyRead - OPENSSL_SSL: Error loading private key from keyFile\n"},
        {"<protected>",
         "opensslPemPassPhrasePrompt - OPENSSL: The Server SSL PEM file should not "
         "be pass phrase protected\n"},
    };
    for (const auto& r : rows) {
        if (r.content[0] == '<') {
            stored_key(key_path, "secret");
        } else {
            sb.write(MAP_SSL_SERVER_KEY_FILE, r.content);
        }
        EVP_PKEY* key = nullptr;
        CaptureStdout();
        EXPECT_EQ(-1, opensslServerKeyRead(MAP_SSL_SERVER_KEY_FILE, &key));
        EXPECT_THAT(GetCapturedStdout(), HasSubstr(r.error));
        EXPECT_EQ(nullptr, key);
        EXPECT_EQ(0u, ERR_peek_error()) << "no stale OpenSSL errors are left";
    }
    // Reusing the protected key fails the whole generation, reported at each level.
    EXPECT_EQ(-1, generate(out, 0));
    EXPECT_THAT(out, HasSubstr("- MAP_SSL: Error loading private key from keyFile\n"));
    EXPECT_THAT(out, HasSubstr("\nfailed to read RSA key file\n\n"));
    EXPECT_THAT(out, HasSubstr(":mapSSLServerCredentialsCreate - MAP_SSL: "
                               "mapSSLServerCredentialsCreate, failed to read RSA key file\n"));
    EXPECT_THAT(out,
                HasSubstr(":mapSSLCertificateGenerate - mapSSLServerCredentialsCreate failed\n"));
    EXPECT_FALSE(sb.exists(MAP_SSL_SERVER_CERT_FILE));
}

TEST_F(SslUtil, WriteFailuresAreReportedAndKeepEarlierFiles) {
    // A directory where the key should go: nothing is written; the step's
    // trace follows the trace mask, its error line does not.
    mapd_test::make_dirs(key_path);
    std::string out;
    for (uint32_t mask : {0u, MAP_TRACE_PROVISION}) {
        map_global_debug_trace = mask;
        EXPECT_EQ(-1, generate(out, 512));
        EXPECT_THAT(out,
                    HasSubstr(":mapSSLServerCredentialsCreate - MAP_SSL: "
                              "mapSSLServerCredentialsCreate, failed to write RSA key file\n"));
        EXPECT_EQ(mask != 0, out.find("\nfailed to write RSA key file\n\n") != std::string::npos);
        EXPECT_FALSE(sb.exists(MAP_SSL_SERVER_CERT_FILE));
    }
    rmdir(key_path.c_str());

    // A directory where the certificate should go: the key is already written.
    mapd_test::make_dirs(cert_path);
    EXPECT_EQ(-1, generate(out, 512));
    EXPECT_THAT(out, HasSubstr("\nfailed to write server certificate\n\n"));
    EXPECT_THAT(out, HasSubstr(":mapSSLServerCredentialsCreate - MAP_SSL: mapSSLServerCredentials"
                               "Create, failed to write server certificate file\n"));
    EXPECT_THAT(out, HasSubstr("- mapSSLServerCredentialsCreate failed\n"));
    EXPECT_TRUE(read_key(key_path)) << "a failure leaves the files already written";
    EXPECT_EQ(0u, ERR_peek_error());
}

}  // namespace
