// Arbitrary bytes as one of the AP's certificate files in a sandbox root,
// the others holding a valid key pair and certificate made once at start.
// The first byte chooses the file: the switch certificate store, the AP
// certificate or the AP key.  Every reader of those files runs on each
// input: the switch store's splitter into the provisioning parameters, the
// mutual authentication set-up (certificate, key and store through the TLS
// library), the key reader, the file checks, and the identification message
// that carries the AP certificate (on a record with no TLS session, so it is
// built and then refused).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "config/map_config.hpp"
#include "fuzz_ap.hpp"
#include "fuzz_fresh.hpp"
#include "switch/map_ssl_util.hpp"
#include "switch/switch_comm.hpp"

namespace {

struct valid_files {
    std::string cert, key, store;
};

std::string read_ap_file(const char* ap_path) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(ap_path, path, sizeof path) != 0) abort();
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

valid_files make_files() {
    // The AP's own generator makes the pair; the switch store holds the
    // certificate twice (a primary and a backup switch).
    fuzz_fresh::put_text(MAP_SSL_SERVER_CERT_FILE, "");
    fuzz_fresh::put_text(MAP_SSL_SERVER_KEY_FILE, "");
    if (mapSSLServerCredentialsCreate(1024, "fuzz", nullptr, nullptr, nullptr, nullptr, 1) != 0)
        abort();
    valid_files v{read_ap_file(MAP_SSL_SERVER_CERT_FILE), read_ap_file(MAP_SSL_SERVER_KEY_FILE), ""};
    if (v.cert.empty() || v.key.empty()) abort();
    v.store = v.cert + v.cert;
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static map_control_block* cb = [] {
        static char root[] = "/dev/shm/mapd-fuzz-certs-XXXXXX";
        return fuzz_ap::make(root, {});
    }();
    static const valid_files valid = make_files();
    if (size < 1) return 0;
    const char* paths[] = {MAP_SWITCH_CERTS_FILE, MAP_SSL_SERVER_CERT_FILE, MAP_SSL_SERVER_KEY_FILE};
    const std::string* contents[] = {&valid.store, &valid.cert, &valid.key};
    const unsigned chosen = data[0] % 3;
    for (unsigned i = 0; i < 3; ++i) {
        if (i == chosen) {
            fuzz_fresh::put_file(paths[i], data + 1, size - 1);
        } else {
            fuzz_fresh::put_text(paths[i], *contents[i]);
        }
    }

    auto params = std::make_unique<map_ap_provision_params>();
    if (map_get_ap_provision_sw_certificates(params.get()) == 0) {
        if (memchr(params->primary_cert, '\0', sizeof params->primary_cert) == nullptr ||
            memchr(params->backup_cert, '\0', sizeof params->backup_cert) == nullptr)
            abort();
    }
    ssl_ctx_ptr ctx;
    (void)map_ap_mutual_auth_init(&ctx);
    EVP_PKEY* key = nullptr;
    if (opensslServerKeyRead(MAP_SSL_SERVER_KEY_FILE, &key) == 0) EVP_PKEY_free(key);
    auto path = std::make_unique<char[]>(MAP_SSL_PATH_LEN);
    (void)mapSSLServerCertFileGet(path.get());
    (void)mapSSLServerKeyFileGet(path.get());
    for (const char* p : paths) {
        uint32_t bytes = 0;
        (void)osapiFsFileSizeGet(p, &bytes);
        (void)mapFileSizeGet(p, &bytes);
    }

    map_switch_comm* rec = cb->switch_comm;
    fuzz_fresh::record_reset(rec, cb, MAP_SWITCH_COMM_SSL_ESTABLISH_MODE);
    rec->ap.hw_type = 1;
    if (map_switch_comm_send_ap_identification_pkt(rec, params.get()) == 0) abort();
    return 0;
}
