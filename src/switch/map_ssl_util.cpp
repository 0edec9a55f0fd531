#include "switch/map_ssl_util.hpp"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "stats/map_proc.hpp"

namespace {

static constexpr char map_log_module[] = "map_ssl_util";

// ---- RAII holders ----------------------------------------------------------------

template <auto Free>
struct free_with {
    template <class T>
    void operator()(T* p) const {
        Free(p);
    }
};
using pkey_ptr = std::unique_ptr<EVP_PKEY, free_with<EVP_PKEY_free>>;
using pkey_ctx_ptr = std::unique_ptr<EVP_PKEY_CTX, free_with<EVP_PKEY_CTX_free>>;
using bignum_ptr = std::unique_ptr<BIGNUM, free_with<BN_free>>;
using x509_ptr = std::unique_ptr<X509, free_with<X509_free>>;
using name_ptr = std::unique_ptr<X509_NAME, free_with<X509_NAME_free>>;
using asn1_int_ptr = std::unique_ptr<ASN1_INTEGER, free_with<ASN1_INTEGER_free>>;
using ext_ptr = std::unique_ptr<X509_EXTENSION, free_with<X509_EXTENSION_free>>;
using file_ptr = std::unique_ptr<FILE, free_with<fclose>>;

// ---- certificate content -----------------------------------------------------------

constexpr int kRsaExponent = 65537;
constexpr size_t kNameFieldMax = 64;
// "XX:XX:XX:XX:XX:XX" and its terminator.
constexpr size_t kMacTextLen = 18;

struct ext_text {
    int nid;
    const char* value;
};
constexpr ext_text kExtensions[] = {
    {NID_basic_constraints, "critical,CA:TRUE"},
    {NID_key_usage, "critical,keyCertSign,cRLSign"},
    {NID_subject_key_identifier, "hash"},
    {NID_netscape_cert_type, "sslCA"},
    {NID_netscape_comment, "example comment extension"},
};

// The steps of the credentials creation that can fail, with their trace and
// error texts.
enum cred_step : int {
    CRED_OK,
    CRED_KEY_GENERATION,
    CRED_KEY_READ,
    CRED_SUBJECT_NAME,
    CRED_SUBJECT_SET,
    CRED_ISSUER_NAME,
    CRED_ISSUER_SET,
    CRED_VERSION,
    CRED_SERIAL_ALLOC,
    CRED_SERIAL_SET,
    CRED_PUBLIC_KEY,
    CRED_VALIDITY,
    CRED_SIGNATURE,
    CRED_KEY_WRITE,
    CRED_CERT_WRITE,
};
struct step_text {
    const char* trace;
    const char* error;
};
constexpr step_text kStepText[] = {
    {"", ""},
    {"RSA key generation failed\n", "RSA key generation failed"},
    {"failed to read RSA key file\n", "failed to read RSA key file"},
    {"failed to create subject name\n", "failed to create subject name"},
    {"failed to assign certificate subject\n", "failed to assign certificate subject"},
    {"failed to create issuer name\n", "failed to create issuer name"},
    {"failed to assign certificate issuer\n", "failed to assign certificate issuer"},
    {"failed to set X509 version\n", "failed to set X509 version"},
    {"failed to allocate serial number\n", "failed to allocate serial number"},
    {"failed to assign serial number\n", "failed to assign serial number"},
    {"failed to assign certificate public key\n", "failed to assign certificate public key"},
    {"failed to set certificate valid days\n", "failed to set certificate valid days"},
    {"failed to sign certificate\n", "failed to sign certificate"},
    {"failed to write RSA key file\n", "failed to write RSA key file"},
    {"failed to write server certificate\n", "failed to write server certificate file"},
};
static_assert(sizeof kStepText / sizeof kStepText[0] == CRED_CERT_WRITE + 1);

// The name fields a caller may give, in certificate order.
struct name_fields {
    const char* org_unit;
    const char* location;
    const char* state;
    const char* country;
};

int text_len(const char* s) {
    size_t n = strlen(s);
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

bool name_add(X509_NAME* name, const char* field, const char* value) {
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>(value), -1, -1,
                                      0) == 1;
}

// CN, OU, L, ST and C, each only when given.
name_ptr name_build(const char* common_name, const name_fields& f) {
    name_ptr name(X509_NAME_new());
    if (!name) {
        return nullptr;
    }
    const struct {
        const char* field;
        const char* value;
    } entries[] = {
        {"CN", common_name}, {"OU", f.org_unit}, {"L", f.location},
        {"ST", f.state},     {"C", f.country},
    };
    for (const auto& e : entries) {
        if (e.value != nullptr && !name_add(name.get(), e.field, e.value)) {
            return nullptr;
        }
    }
    return name;
}

void ap_mac_text(char (&out)[kMacTextLen]) {
    // An AP whose MAC cannot be found gets 00:00:00:00:00:00 in its name; the
    // lookup has already logged why.
    uint8_t mac[6] = {};
    map_proc_get_mac_addr(mac, nullptr);
    snprintf(out, sizeof out, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
             mac[4], mac[5]);
}

pkey_ptr rsa_key_generate(int bits) {
    pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    bignum_ptr e(BN_new());
    EVP_PKEY* key = nullptr;
    if (!ctx || !e || BN_set_word(e.get(), kRsaExponent) != 1 ||
        EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) <= 0 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e.get()) <= 0 ||
        EVP_PKEY_generate(ctx.get(), &key) <= 0) {
        return nullptr;
    }
    return pkey_ptr(key);
}

bool key_check(EVP_PKEY* key) {
    pkey_ctx_ptr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    return ctx && EVP_PKEY_check(ctx.get()) == 1;
}

// Makes sure `path` exists before it is written over: created with `mode`
// when missing or empty.
bool file_prepare(const char* path, mode_t mode) {
    uint32_t size = 0;
    if (mapFileSizeGet(path, &size) == 0 && size > 0) {
        return true;
    }
    int fd = -1;
    if (mapFileCreate(path, &fd, mode) != 0) {
        return false;
    }
    osapiFsClose(fd);
    return true;
}

// Builds and signs the certificate of `key` and writes the files (the key
// file only with `write_key`); the step that failed, or CRED_OK.
cred_step credentials_build(EVP_PKEY* key, bool write_key, const char* common_name,
                            const name_fields& fields, int days) {
    name_ptr subject = name_build(common_name, fields);
    if (!subject) {
        return CRED_SUBJECT_NAME;
    }
    x509_ptr cert(X509_new());
    if (!cert || X509_set_subject_name(cert.get(), subject.get()) != 1) {
        return CRED_SUBJECT_SET;
    }
    name_ptr issuer = name_build("self-signed", fields);
    if (!issuer) {
        return CRED_ISSUER_NAME;
    }
    if (X509_set_issuer_name(cert.get(), issuer.get()) != 1) {
        return CRED_ISSUER_SET;
    }
    if (X509_set_version(cert.get(), X509_VERSION_3) != 1) {
        return CRED_VERSION;
    }
    // The serial comes from rand(): a non-negative pseudo-random integer is
    // enough, as every AP's certificate is issued by its own MAC-named self.
    asn1_int_ptr serial(ASN1_INTEGER_new());
    if (!serial) {
        return CRED_SERIAL_ALLOC;
    }
    if (ASN1_INTEGER_set(serial.get(), rand()) != 1 ||
        X509_set_serialNumber(cert.get(), serial.get()) != 1) {
        return CRED_SERIAL_SET;
    }
    if (X509_set_pubkey(cert.get(), key) != 1) {
        return CRED_PUBLIC_KEY;
    }
    // One clock reading for both ends keeps the period exactly `days` days.
    time_t now = time(nullptr);
    if (X509_time_adj_ex(X509_getm_notBefore(cert.get()), 0, 0, &now) == nullptr ||
        X509_time_adj_ex(X509_getm_notAfter(cert.get()), days, 0, &now) == nullptr) {
        return CRED_VALIDITY;
    }

    // Whatever was given, the name ends with the AP's country and MAC and the
    // certificate is its own issuer.
    char mac[kMacTextLen];
    ap_mac_text(mac);
    if (!name_add(subject.get(), "C", "US") || !name_add(subject.get(), "CN", mac)) {
        return CRED_SUBJECT_NAME;
    }
    if (X509_set_subject_name(cert.get(), subject.get()) != 1) {
        return CRED_SUBJECT_SET;
    }
    if (X509_set_issuer_name(cert.get(), subject.get()) != 1) {
        return CRED_ISSUER_SET;
    }

    for (const auto& ext : kExtensions) {
        map_ssl_add_ext(cert.get(), ext.nid, ext.value);
    }
    if (X509_sign(cert.get(), key, EVP_sha1()) <= 0) {
        return CRED_SIGNATURE;
    }

    // File permissions are ours to choose: the private key is readable by its
    // owner only, the certificate by everyone.
    if (write_key && (!file_prepare(MAP_SSL_SERVER_KEY_FILE, 0600) ||
                      opensslServerKeyWrite(MAP_SSL_SERVER_KEY_FILE, key) != 0)) {
        return CRED_KEY_WRITE;
    }
    if (!file_prepare(MAP_SSL_SERVER_CERT_FILE, 0644) ||
        opensslServerCertWrite(MAP_SSL_SERVER_CERT_FILE, cert.get()) != 0) {
        return CRED_CERT_WRITE;
    }
    return CRED_OK;
}

// Copies `file` into the caller's path buffer; 0 when it is usable.
int server_file_get(const char* file, char* path_out) {
    if (path_out == nullptr) {
        return -1;
    }
    snprintf(path_out, MAP_SSL_PATH_LEN, "%s", file);
    uint32_t size = 0;
    return mapFileSizeGet(file, &size) == 0 && size > 0 ? 0 : -1;
}

// An existing AP file opened for writing from its start; with `owner_only`
// its permissions are narrowed to the owner first.
FILE* stream_for_write(const char* path, bool owner_only) {
    int fd = map_platform_open(path, O_WRONLY | O_TRUNC);
    if (fd < 0) {
        return nullptr;
    }
    if (owner_only && fchmod(fd, 0600) != 0) {
        close(fd);
        return nullptr;
    }
    FILE* fp = fdopen(fd, "w");
    if (fp == nullptr) {
        close(fd);
    }
    return fp;
}

}  // namespace

int mapSSLServerCertFileGet(char* path_out) {
    return server_file_get(MAP_SSL_SERVER_CERT_FILE, path_out);
}

int mapSSLServerKeyFileGet(char* path_out) {
    return server_file_get(MAP_SSL_SERVER_KEY_FILE, path_out);
}

int mapSSLCertificateGenerate(int key_bits, const char* common_name, const char* org_unit,
                              const char* location, const char* state, const char* country,
                              int days) {
    const struct {
        const char* value;
        size_t min;
        size_t max;
        const char* what;
    } fields[] = {
        {common_name, 1, kNameFieldMax, "commonName"},
        {org_unit, 1, kNameFieldMax, "orgUnit"},
        {location, 1, kNameFieldMax, "location"},
        {state, 1, kNameFieldMax, "state"},
        {country, 2, 2, "country"},
    };
    for (const auto& f : fields) {
        if (f.value == nullptr) {
            continue;
        }
        size_t len = strlen(f.value);
        if (len < f.min || len > f.max) {
            MAP_ERROR("%s length %d invalid", f.what, text_len(f.value));
            return -1;
        }
    }
    if (days != 0 && days != 1) {
        MAP_ERROR("days %d invalid", days);
        return -1;
    }
    if (key_bits != 0 && (key_bits < 512 || key_bits > 1024)) {
        MAP_ERROR("keyLength %d invalid", key_bits);
        return -1;
    }
    char key_path[MAP_SSL_PATH_LEN];
    if (key_bits == 0 && mapSSLServerKeyFileGet(key_path) != 0) {
        MAP_ERROR("keyLength 0, no keyFile");
        return -1;
    }

    char mac[kMacTextLen];
    if (common_name == nullptr) {
        ap_mac_text(mac);
        common_name = mac;
    }
    if (mapSSLServerCredentialsCreate(key_bits, common_name, org_unit, location, state, country,
                                      days == 0 ? 1 : days) != 0) {
        MAP_ERROR("mapSSLServerCredentialsCreate failed");
        return -1;
    }
    return 0;
}

int mapSSLServerCredentialsCreate(int key_bits, const char* common_name, const char* org_unit,
                                  const char* location, const char* state, const char* country,
                                  int days) {
    pkey_ptr key;
    cred_step s = CRED_OK;
    if (key_bits != 0) {
        MAP_INFO("MAP_SSL: creating server RSA key pair...");
        key = rsa_key_generate(key_bits);
        if (key) {
            MAP_INFO("MAP_SSL: verifying RSA key pair...");
        }
        // The generated key already is a generic EVP_PKEY: there is no separate
        // wrapping step that could fail, only generation and the check.
        if (!key || !key_check(key.get())) {
            s = CRED_KEY_GENERATION;
        }
    } else {
        MAP_TRACE(MAP_TRACE_PROVISION, "keyFile %s exists\n", MAP_SSL_SERVER_KEY_FILE);
        EVP_PKEY* stored = nullptr;
        if (opensslServerKeyRead(MAP_SSL_SERVER_KEY_FILE, &stored) == 0) {
            key.reset(stored);
            MAP_TRACE(MAP_TRACE_PROVISION, "read PrivateKey from keyFile %s\n",
                      MAP_SSL_SERVER_KEY_FILE);
        } else {
            MAP_ERROR("MAP_SSL: Error loading private key from keyFile");
            s = CRED_KEY_READ;
        }
    }
    if (s == CRED_OK) {
        s = credentials_build(key.get(), key_bits != 0, common_name,
                              {org_unit, location, state, country}, days);
    }
    if (s == CRED_OK) {
        return 0;
    }
    // Leave no stale OpenSSL errors behind for the TLS channel to trip over.
    ERR_clear_error();
    MAP_TRACE(MAP_TRACE_PROVISION, "%s", kStepText[s].trace);
    MAP_ERROR("MAP_SSL: mapSSLServerCredentialsCreate, %s", kStepText[s].error);
    return -1;
}

int map_ssl_add_ext(X509* certificate, int nid, const char* value) {
    if (certificate == nullptr || value == nullptr) {
        return 0;
    }
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, certificate, certificate, nullptr, nullptr, 0);
    ext_ptr ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    if (!ext || X509_add_ext(certificate, ext.get(), -1) != 1) {
        ERR_clear_error();
        return 0;
    }
    return 1;
}

// ---- file helpers ------------------------------------------------------------------

int mapFileSizeGet(const char* path, uint32_t* size_out) {
    if (size_out == nullptr) {
        return -1;
    }
    int fd = osapiFsOpen(path);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    int rc = fstat(fd, &st);
    osapiFsClose(fd);
    if (rc != 0) {
        return -1;
    }
    *size_out = st.st_size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(st.st_size);
    return 0;
}

int mapFileCreate(const char* path, int* fd_out, mode_t mode) {
    if (path == nullptr || fd_out == nullptr) {
        return -1;
    }
    int fd = map_platform_open(path, O_RDWR | O_CREAT | O_TRUNC, mode);
    if (fd < 0) {
        return -1;
    }
    *fd_out = fd;
    return 0;
}

int osapiFsOpen(const char* path) {
    if (path == nullptr) {
        return -1;
    }
    return map_platform_open(path, O_RDWR);
}

int osapiFsClose(int fd) {
    if (fd < 0) {
        return -1;
    }
    return close(fd) == 0 ? 0 : -1;
}

int osapiFsFileSizeGet(const char* path, uint32_t* size_out) {
    struct stat st {};
    if (path == nullptr || size_out == nullptr || map_platform_stat(path, &st) != 0) {
        return -1;
    }
    *size_out = st.st_size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(st.st_size);
    return 0;
}

FILE* opensslFileOpen(const char* path) {
    if (path == nullptr) {
        return nullptr;
    }
    uint32_t size = 0;
    if (osapiFsFileSizeGet(path, &size) != 0 || size == 0) {
        MAP_ERROR("OPENSSL: File %s size = %d", path, size > INT_MAX ? INT_MAX : int(size));
        return nullptr;
    }
    int fd = map_platform_open(path, O_RDONLY);
    if (fd < 0) {
        MAP_ERROR("OPENSSL: Could not open %s", path);
        return nullptr;
    }
    FILE* fp = fdopen(fd, "r");
    if (fp == nullptr) {
        close(fd);
        MAP_ERROR("OPENSSL: Could not get file pointer for %s", path);
    }
    return fp;
}

int opensslServerKeyRead(const char* path, EVP_PKEY** key_out) {
    if (key_out == nullptr) {
        return -1;
    }
    file_ptr fp(opensslFileOpen(path));
    if (!fp) {
        return -1;
    }
    EVP_PKEY* key = PEM_read_PrivateKey(fp.get(), nullptr, opensslPemPassPhrasePrompt, nullptr);
    if (key == nullptr) {
        ERR_clear_error();
        MAP_ERROR("OPENSSL_SSL: Error loading private key from keyFile");
        return -1;
    }
    *key_out = key;
    return 0;
}

int opensslServerKeyWrite(const char* path, EVP_PKEY* key) {
    if (path == nullptr || key == nullptr) {
        return -1;
    }
    FILE* fp = stream_for_write(path, true);
    if (fp == nullptr) {
        return -1;
    }
    int written = PEM_write_PrivateKey(fp, key, nullptr, nullptr, 0, nullptr, nullptr);
    int closed = fclose(fp);
    if (written != 1 || closed != 0) {
        ERR_clear_error();
        return -1;
    }
    return 0;
}

int opensslServerCertWrite(const char* path, X509* certificate) {
    if (path == nullptr || certificate == nullptr) {
        return -1;
    }
    FILE* fp = stream_for_write(path, false);
    if (fp == nullptr) {
        return -1;
    }
    int written = PEM_write_X509(fp, certificate);
    int closed = fclose(fp);
    if (written != 1 || closed != 0) {
        ERR_clear_error();
        return -1;
    }
    return 0;
}

int opensslPemPassPhrasePrompt(char* buf, int size, int /*rwflag*/, void* /*userdata*/) {
    MAP_ERROR("OPENSSL: The Server SSL PEM file should not be pass phrase protected");
    if (buf != nullptr && size > 0) {
        buf[0] = '\0';
    }
    return 0;
}
