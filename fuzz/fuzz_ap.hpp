// Shared by the fuzz targets that feed switch messages to an AP: a sandbox
// root of their own (removed at exit) with a few database values, and a
// control block with its switch connection record and config/status
// component, made once per process.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "commands/map_cs.hpp"
#include "core/managed_ap.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"
#include "switch/switch_comm.hpp"

namespace fuzz_ap {

struct db_value {
    const char *cls, *instance, *property, *value;
};

inline void db_set(const char* cls, const char* instance, const char* property, const char* value) {
    pv* node = lsqlquery_new_pv_solo(property, value);
    if (lsqlquery_set_pv(cls, instance, node, nullptr) != 0) abort();
    lsqlquery_destroy_pv(node);
}

// Makes the root from `root_template` ("/tmp/...-XXXXXX", changed in place),
// stores `values` (the base MAC is always set) and returns a managed-mode
// control block with two VAPs per radio.
inline map_control_block* make(char* root_template, std::initializer_list<db_value> values) {
    if (mkdtemp(root_template) == nullptr) abort();
    static std::string root = root_template;
    atexit([] { std::filesystem::remove_all(root); });
    map_platform_set_root(root_template);
    db_set("system", nullptr, "base-mac", "00:1a:2b:3c:4d:50");
    for (const db_value& v : values) db_set(v.cls, v.instance, v.property, v.value);
    auto* c = new map_control_block{};
    c->managed_mode = 1;
    c->switch_comm = new map_switch_comm{};
    c->switch_comm->cb = c;
    c->switch_comm->ap.max_bss = 2;
    if (map_cs_init(c) != 0) abort();
    return c;
}

// Every descriptor of the record closed (-1) and the link established.
inline void established(map_switch_comm* rec) {
    rec->tcp_fd = rec->udp_fd = rec->l2_fd = rec->ssl_rfd = rec->mapd_fd = rec->mapqosd_fd = -1;
    rec->state = MAP_SWITCH_COMM_ESTABLISHED;
}

}  // namespace fuzz_ap
