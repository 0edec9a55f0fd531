// The switch's end of an established TLS channel to a switch connection
// record, over an in-memory BIO pair (no socket): what the record sends over
// TLS is read here.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "support/bytes.hpp"
#include "switch/switch_comm.hpp"

namespace mapd_test {

struct tls_pair {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL* sw = nullptr;
    tls_pair() = default;
    tls_pair(const tls_pair&) = delete;
    tls_pair& operator=(const tls_pair&) = delete;
    ~tls_pair() {
        SSL_free(sw);
        SSL_CTX_free(ctx);
    }
};

// Creates the switch connection record of `cb`, waiting up to two minutes
// for the daemon's fixed UDP port, which other test programs share; true
// when it was had.
inline bool switch_comm_init_wait(map_switch_comm** rec, map_control_block* cb) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (map_switch_comm_init(rec, cb) != 0) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

// Gives `rec` a TLS session whose far end is `p.sw` and marks the link
// established; false when the handshake did not finish.
inline bool tls_pair_open(tls_pair& p, map_switch_comm* rec) {
    SSL_CTX_set_cipher_list(p.ctx, "ADH:AECDH:@SECLEVEL=0");
    SSL_CTX_set_dh_auto(p.ctx, 1);
    SSL* ap = SSL_new(rec->ssl_ctx.get());
    rec->ssl.reset(ap);
    p.sw = SSL_new(p.ctx);
    BIO *x = nullptr, *y = nullptr;
    if (BIO_new_bio_pair(&x, 0, &y, 0) != 1)
        return false;
    SSL_set_bio(ap, x, x);
    SSL_set_bio(p.sw, y, y);
    SSL_set_connect_state(ap);
    SSL_set_accept_state(p.sw);
    for (int i = 0; i < 10 && !(SSL_is_init_finished(ap) && SSL_is_init_finished(p.sw)); ++i) {
        SSL_do_handshake(ap);
        SSL_do_handshake(p.sw);
    }
    rec->state = MAP_SWITCH_COMM_ESTABLISHED;
    return SSL_is_init_finished(ap) && SSL_is_init_finished(p.sw);
}

// Everything the record has sent over TLS since the last read.
inline bytes tls_pair_read(tls_pair& p) {
    bytes out;
    uint8_t b[4096];
    for (int n; (n = SSL_read(p.sw, b, sizeof b)) > 0;)
        out = out + bytes(b, b + n);
    return out;
}

}  // namespace mapd_test
