// Heap allocations of the daemon's main loop, counted by interposing malloc
// in this test program.  It binds the daemon's fixed ports.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "core/managed_ap.hpp"
#include "dman/lsqlquery.hpp"
#include "dman/map_dman_lsql_init.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "support/sandbox.hpp"
#include "twin/ap_root.hpp"

static std::atomic<unsigned long> g_allocs{0};

// The sanitizers bring their own allocator; there nothing is counted.
#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

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
#endif

// An idle pass of the main loop allocates nothing: the daemon starts on a
// twin root, settles for a pass, then runs idle passes (no message arrives;
// the timer pass runs each second) while every allocation is counted.
TEST(LoopAllocs, IdlePassesAllocateNothing) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator cannot be counted here";
#endif
    mapd_test::sandbox sb;
    ap_root_options opt;
    opt.factory_config = MAPD_FACTORY_CONFIG;
    std::string error;
    ASSERT_EQ(ap_root_build(sb.root, opt, error), 0) << error;
    map_control_block* cb = nullptr;
    ASSERT_EQ(map_init_component(&cb), 0);
    map_dman_lsql_init();
    ASSERT_EQ(map_trace_log_init(), 0);
    ASSERT_EQ(map_init_sub_components(cb), 0);
    map_main_loop_passes(cb, 1);  // the first pass settles lazily made state
    const unsigned long before = g_allocs.load();
    map_main_loop_passes(cb, 3);
    EXPECT_EQ(g_allocs.load() - before, 0u) << "heap allocations in 3 idle passes";
    map_deinit_sub_components(cb);
    map_deinit_component(cb);
    lsqlquery_close();
}
