// Per-input fresh state for the fuzz targets that read files or database
// values of a sandbox root: files written from input bytes, the database
// started again from nothing, and the daemon's own switch connection record
// made without a socket.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "dman/dman_store.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"

namespace fuzz_fresh {

// Writes `size` bytes as the AP file `ap_path` (its folders made as needed).
inline void put_file(const char* ap_path, const void* data, size_t size) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(ap_path, path, sizeof path) != 0) abort();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    FILE* f = fopen(path, "wb");
    if (f == nullptr) abort();
    if (size > 0 && fwrite(data, 1, size, f) != size) abort();
    fclose(f);
}

inline void put_text(const char* ap_path, const std::string& text) {
    put_file(ap_path, text.data(), text.size());
}

inline void remove_file(const char* ap_path) { map_platform_unlink(ap_path); }

// The configuration database of the root, gone: the next access creates it
// empty.
inline void db_drop() {
    if (lsqlquery_close() != 0) abort();
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::string path = std::string(DMAN_DB_PATH) + suffix;
        remove_file(path.c_str());
    }
}

// The daemon's own switch connection record (the one every handler finds),
// with no descriptor at all: its set-up is made to fail at its first socket,
// so it binds nothing.
inline map_switch_comm* daemon_record(map_control_block* cb) {
    map_platform_fail_nth(map_platform_op::socket, 1);
    map_switch_comm* unused = nullptr;
    const int rc = map_switch_comm_init(&unused, cb);
    map_platform_fail_clear();
    map_switch_comm* rec = get_switch_context();
    if (rc == 0 || rec == nullptr || rec->udp_fd >= 0 || rec->mapd_fd >= 0) abort();
    return rec;
}

// `rec` as new: no descriptor, no TLS, no address, in `state`.
inline void record_reset(map_switch_comm* rec, map_control_block* cb, int state) {
    const int max_bss = rec->ap.max_bss;
    *rec = map_switch_comm{};
    rec->cb = cb;
    rec->tcp_fd = rec->udp_fd = rec->l2_fd = rec->ssl_rfd = rec->mapd_fd = rec->mapqosd_fd = -1;
    rec->ap.max_bss = max_bss;
    rec->state = state;
}

}  // namespace fuzz_fresh
