// Heap allocations per idle pass of the daemon's main loop, counted by
// interposing malloc in this process, which runs the daemon's start-up and
// then a number of loop passes with nothing arriving.
// It binds the daemon's fixed ports: run it alone (scripts/figures).
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/managed_ap.hpp"
#include "log/map_log.hpp"
#include "dman/lsqlquery.hpp"
#include "dman/map_dman_lsql_init.hpp"
#include "platform/platform.hpp"
#include "twin/ap_root.hpp"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

static std::atomic<unsigned long> g_allocs{0};

extern "C" void* malloc(size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t a, size_t b) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(a, b);
}
extern "C" void* realloc(void* p, size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}

int main(int argc, char** argv) {
    const char* factory = argc > 1 ? argv[1] : "packaging/factory-config.txt";
    unsigned passes = argc > 2 ? static_cast<unsigned>(atoi(argv[2])) : 5;
    char tmpl[] = "/tmp/mapd-allocs-XXXXXX";
    std::string root = mkdtemp(tmpl);
    ap_root_options opt;
    opt.factory_config = factory;
    std::string error;
    if (ap_root_build(root, opt, error) != 0) {
        fprintf(stderr, "loop_allocs: %s\n", error.c_str());
        return 1;
    }
    map_platform_set_root(root.c_str());
    map_control_block* cb = nullptr;
    map_init_component(&cb);
    map_dman_lsql_init();
    map_trace_log_init();
    if (map_init_sub_components(cb) != 0) {
        fprintf(stderr, "loop_allocs: start-up failed\n");
        return 1;
    }
    map_main_loop_passes(cb, 1);  // the first pass settles lazily made state
    unsigned long before = g_allocs.load();
    map_main_loop_passes(cb, passes);
    unsigned long after = g_allocs.load();
    printf("heap allocations per idle main-loop pass: %.2f (%lu over %u passes)\n",
           static_cast<double>(after - before) / passes, after - before, passes);
    map_deinit_sub_components(cb);
    map_deinit_component(cb);
    lsqlquery_close();
    std::filesystem::remove_all(root);
    return 0;
}
