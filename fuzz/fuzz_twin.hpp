// The deep fuzz targets' fresh state: every input starts from the twin's
// factory root with its database as the factory made it, the daemon's own
// switch connection record reset, a new control block and config/status
// component, and (for the TLS channel) a switch end that reads and checks
// what the AP sends.
#pragma once

#include <fcntl.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "core/map_vpd.hpp"
#include "dman/dman_store.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "stats/map_stats.hpp"
#include "store/map_dman_lsql.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"
#include "tunnel/map_cp.hpp"
#include "tunnel/map_tunnel.hpp"
#include "twin/ap_root.hpp"
#include "update/map_reset.hpp"
#include "update/map_update.hpp"
#include "fuzz_fresh.hpp"

namespace fuzz_twin {

// VAPs per radio: fewer than the twin's default, as each VAP costs a few
// dozen sysctl table writes per configuration sequence.
inline constexpr uint8_t kBssMax = 4;

// The twin's factory root, built once per process on a memory file system
// (the sandbox's emulated sysctl tables are files made and renamed per
// write: on a disk they cost more than the daemon's code), removed at exit.
// The database file as the factory made it (after the start-up identity
// step) is kept in memory.
struct twin_root {
    std::string root;
    std::string db_path;
    std::string db_image;
    unsigned long commits = ~0ul;  // commit count when the database was put back
};

inline twin_root& twin(const char* tag) {
    static twin_root t = [tag] {
        twin_root r;
        const char* shm = "/dev/shm";
        std::string dir = access(shm, W_OK) == 0 ? shm : "/tmp";
        std::string tmpl = dir + "/mapd-fuzz-" + tag + "-XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) abort();
        r.root = tmpl;
        ap_root_options opts;
        opts.factory_config = MAPD_FACTORY_CONFIG;
        opts.bss_max = kBssMax;
        std::string error;
        if (ap_root_build(r.root, opts, error) != 0) {
            fprintf(stderr, "fuzz: %s\n", error.c_str());
            abort();
        }
        if (map_platform_set_root(r.root.c_str()) != 0) abort();
        // The identity the daemon reads from the board at start-up.
        map_vpd_init();
        if (lsqlquery_close() != 0) abort();
        char path[MAP_PLATFORM_PATH_MAX];
        if (map_platform_path(DMAN_DB_PATH, path, sizeof path) != 0) abort();
        r.db_path = path;
        std::ifstream in(r.db_path, std::ios::binary);
        r.db_image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (r.db_image.empty()) abort();
        return r;
    }();
    static bool cleanup = [] {
        atexit([] {
            lsqlquery_close();
            std::filesystem::remove_all(t.root);
        });
        return true;
    }();
    (void)cleanup;
    return t;
}

// Puts the root back as the factory left it: the database file (only when
// something was committed since: a read changes nothing), no sysctl tables;
// and the daemon's process-wide state back to start-up values.
inline void restore(twin_root& t) {
    if (lsqlquery_commit_count() != t.commits) {
        if (lsqlquery_close() != 0) abort();
        for (const char* suffix : {"-wal", "-shm"}) unlink((t.db_path + suffix).c_str());
        const int fd = open(t.db_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0 || write(fd, t.db_image.data(), t.db_image.size()) !=
                          static_cast<ssize_t>(t.db_image.size())) {
            abort();
        }
        close(fd);
        t.commits = lsqlquery_commit_count();
    }
    std::error_code ec;
    std::filesystem::remove_all(t.root + "/sysctl", ec);
    map_platform_fail_clear();
    ap_tunnel_created = 0;
    ap_cp_created = 0;
    map_global_dont_disable_ssh_session = 0;
    map_reset_clear();
    map_update_link_lost();
    map_switch_comm_provisioning_discovery_reset();
}

// The twin's root made current, and the daemon's own switch connection
// record, made once per process without a socket.
inline map_switch_comm* daemon_record(twin_root& t) {
    static map_switch_comm* rec = [&t] {
        restore(t);
        uint8_t mac[6];
        map_lsql_base_ap_mac_get(mac);  // the database connection opened first
        map_control_block none{};
        map_switch_comm* r = fuzz_fresh::daemon_record(&none);
        r->cb = nullptr;
        return r;
    }();
    return rec;
}

// The client associated with every input's AP (see cb_new).
inline constexpr uint8_t kClient[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x09};

// A new control block on the daemon's own switch connection record (the one
// the handlers find), the record reset to `state` with no descriptor and no
// TLS, and a new config/status component with one client (kClient)
// associated and authenticated on the first VAP of radio 1, as hostapd would
// have reported it, so that commands naming a client find one.
inline map_control_block* cb_new(map_switch_comm* rec, int state, uint32_t managed) {
    auto* cb = new map_control_block{};
    cb->admin_mode = 1;
    cb->managed_mode = managed;
    rec->ssl.reset();
    *rec = map_switch_comm{};
    rec->cb = cb;
    rec->tcp_fd = rec->udp_fd = rec->l2_fd = rec->ssl_rfd = rec->mapd_fd = rec->mapqosd_fd = -1;
    rec->state = state;
    rec->switch_ip = 0x0A000101;  // 10.0.1.1
    rec->ap.max_bss = kBssMax;
    rec->keepalive_interval = 30;
    cb->switch_comm = rec;
    if (map_cs_init(cb) != 0) abort();
    map_cs_process_assoc_cmd(cb->cs, 1, kClient, cb->cs->vaps[0].vap_mac[0].b, 1);
    return cb;
}

// Frees what cb_new made; the record stays (the daemon's, for the next input).
// A layer-2 socket that a relink opened again is closed.
inline void cb_free(map_control_block* cb) {
    map_switch_comm* rec = cb->switch_comm;
    map_switch_comm_l2_discovery_disable(rec);
    for (int fd : {rec->tcp_fd, rec->udp_fd, rec->l2_fd}) {
        if (fd >= 0) close(fd);
    }
    rec->tcp_fd = rec->udp_fd = rec->l2_fd = -1;
    rec->ssl.reset();
    rec->cb = nullptr;
    map_cs_deinit(cb->cs);
    delete cb;
}

// The switch's end of a TLS session with the AP over an in-memory BIO pair,
// made when first needed and kept from one input to the next while the AP
// keeps it whole (the handshake costs more than most inputs).
struct tls_link {
    SSL_CTX* ap_ctx = nullptr;
    SSL_CTX* sw_ctx = nullptr;
    SSL* ap = nullptr;
    SSL* sw = nullptr;
};

inline bool tls_link_open(tls_link& l) {
    if (l.ap_ctx == nullptr) {
        l.ap_ctx = SSL_CTX_new(TLS_client_method());
        l.sw_ctx = SSL_CTX_new(TLS_server_method());
        for (SSL_CTX* c : {l.ap_ctx, l.sw_ctx}) {
            SSL_CTX_set_security_level(c, 0);
            SSL_CTX_set_cipher_list(c, "ADH:AECDH:@SECLEVEL=0");
            SSL_CTX_set_max_proto_version(c, TLS1_2_VERSION);
        }
        SSL_CTX_set_dh_auto(l.sw_ctx, 1);
    }
    if (l.ap != nullptr) return true;
    l.ap = SSL_new(l.ap_ctx);
    l.sw = SSL_new(l.sw_ctx);
    BIO *x = nullptr, *y = nullptr;
    if (BIO_new_bio_pair(&x, 0, &y, 0) != 1) abort();
    SSL_set_bio(l.ap, x, x);
    SSL_set_bio(l.sw, y, y);
    SSL_set_connect_state(l.ap);
    SSL_set_accept_state(l.sw);
    for (int i = 0; i < 10 && !(SSL_is_init_finished(l.ap) && SSL_is_init_finished(l.sw)); ++i) {
        SSL_do_handshake(l.ap);
        SSL_do_handshake(l.sw);
    }
    return SSL_is_init_finished(l.ap) && SSL_is_init_finished(l.sw);
}

inline void tls_link_drop(tls_link& l) {
    SSL_free(l.ap);
    SSL_free(l.sw);
    l.ap = l.sw = nullptr;
}

// Lends the AP's end to `rec` as its TLS session.
inline void tls_link_lend(tls_link& l, map_switch_comm* rec) {
    if (!tls_link_open(l)) abort();
    rec->ssl.reset(l.ap);
}

// Takes the AP's end back from `rec` and reads what the AP sent: whole
// messages one after the other, each header counting its whole message.  A
// session the AP closed (and freed), or left with a message half written,
// is not used again.
inline void tls_link_take_back(tls_link& l, map_switch_comm* rec) {
    if (rec->ssl.get() != l.ap) {
        l.ap = nullptr;  // closed by the AP, freed with its record's pointer
        SSL_free(l.sw);
        l.sw = nullptr;
        return;
    }
    const bool whole = !map_switch_comm_tls_write_pending(rec);
    (void)rec->ssl.release();
    std::string sent;
    char buf[16384];
    for (int n; (n = SSL_read(l.sw, buf, sizeof buf)) > 0;) sent.append(buf, static_cast<size_t>(n));
    for (size_t at = 0; whole && at < sent.size();) {
        const size_t len = sent.size() - at < MAP_MSG_HDR_LEN
                               ? 0
                               : (static_cast<uint8_t>(sent[at + 2]) << 8) |
                                     static_cast<uint8_t>(sent[at + 3]);
        if (len < MAP_MSG_HDR_LEN || len > sent.size() - at) {
            fprintf(stderr, "fuzz: the AP sent a message cut short or mis-counted at %zu of %zu\n",
                    at, sent.size());
            abort();
        }
        at += len;
    }
    if (!whole) tls_link_drop(l);
}

}  // namespace fuzz_twin
