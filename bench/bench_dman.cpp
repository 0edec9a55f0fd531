// Costs of configuration database writes on a temporary sandbox root: one
// property, a 30-property radio row (what one radio apply writes), the
// six-port transaction, and one qualified VAP read, over a database holding
// two radios and their 32 VAPs.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"

namespace {

// A sandbox root for the life of one benchmark; nothing runs without it, so
// the host's own files are never touched.
struct bench_root {
    std::string dir;
    bool ok = false;

    bench_root() {
        char tmpl[] = "/tmp/mapd-bench-XXXXXX";
        ok = mkdtemp(tmpl) != nullptr && map_platform_set_root(tmpl) == 0;
        dir = tmpl;
        ok = ok && seed();
    }
    ~bench_root() {
        lsqlquery_close();
        map_platform_set_root(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    static bool seed() {
        for (const char* radio : {"wlan0", "wlan1"}) {
            pv* row = radio_row(0);
            bool ok = lsqlquery_set_pv("radio", radio, row, nullptr) == 0;
            lsqlquery_destroy_pv(row);
            for (int v = 0; ok && v < 16; ++v) {
                std::string vap = "vap" + std::to_string(v);
                pv q{const_cast<char*>("radio"), const_cast<char*>(radio), nullptr, nullptr};
                pv* list = lsqlquery_new_pv("status", "down", nullptr);
                pv* tail = list;
                for (const char* p : {"vlan-id", "redirect-mode", "redirect-url", "qos-mode",
                                      "def-bwmax-down", "def-bwmax-up", "def-acl-down"}) {
                    tail = lsqlquery_new_pv(p, "0", tail);
                }
                ok = lsqlquery_set_pv("vap", vap.c_str(), list, &q) == 0;
                lsqlquery_destroy_pv(list);
            }
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    // Thirty radio properties (the radio apply's own), valued after `round`.
    static pv* radio_row(long round) {
        static constexpr const char* kNames[30] = {
            "mode", "channel-policy", "sentry-mode", "channel-hopping", "scan-leave-time",
            "scan-duration", "passive-scan-band", "rate-limit-enable", "rate-limit",
            "rate-limit-burst", "beacon-interval", "fragmentation-threshold", "rts-threshold",
            "limit-channels", "tx-power", "wme", "load-balance-no-association-utilization",
            "data-snooping", "n-bandwidth", "n-primary-channel", "protection",
            "short-guard-interval-supported", "stbc-mode", "rrm-mode", "wme-apsd", "wme-noack",
            "fixed-multicast-rate", "station-isolation", "dtim-period", "max-stations"};
        pv* head = nullptr;
        pv* tail = nullptr;
        for (int i = 0; i < 30; ++i) {
            std::string value = std::to_string(round + i);
            tail = lsqlquery_new_pv(kNames[i], value.c_str(), tail);
            head = head != nullptr ? head : tail;
        }
        return head;
    }
};

void BM_SetOneProperty(benchmark::State& state) {
    bench_root root;
    if (!root.ok) {
        state.SkipWithError("no sandbox root");
        return;
    }
    long i = 0;
    for (auto _ : state) {
        std::string value = std::to_string(++i % 100);
        pv node{const_cast<char*>("tx-power"), value.data(), nullptr, nullptr};
        if (lsqlquery_set_pv("radio", "wlan0", &node, nullptr) != 0) {
            state.SkipWithError("write failed");
            break;
        }
    }
}
BENCHMARK(BM_SetOneProperty);

void BM_SetThirtyProperties(benchmark::State& state) {
    bench_root root;
    if (!root.ok) {
        state.SkipWithError("no sandbox root");
        return;
    }
    long i = 0;
    for (auto _ : state) {
        pv* row = bench_root::radio_row(++i);
        int rc = lsqlquery_set_pv("radio", "wlan1", row, nullptr);
        lsqlquery_destroy_pv(row);
        if (rc != 0) {
            state.SkipWithError("write failed");
            break;
        }
    }
}
BENCHMARK(BM_SetThirtyProperties);

void BM_SixItemTransaction(benchmark::State& state) {
    bench_root root;
    if (!root.ok) {
        state.SkipWithError("no sandbox root");
        return;
    }
    const char* names[] = {"ip-base-port", "ip-tnl-udp-port",    "ip-udp-port",
                           "ip-ssl-port",  "ip-capwap-src-port", "ip-capwap-dst-port"};
    long i = 0;
    for (auto _ : state) {
        lsqlquery_transaction_info* first = nullptr;
        long base = 50000 + (++i % 1000);
        for (int k = 0; k < 6; ++k) {
            std::string value = std::to_string(base + k);
            auto* item =
                lsqlquery_transaction_info_new(LSQLQUERY_OP_SET, "managed-ap", nullptr,
                                               lsqlquery_new_pv_solo(names[k], value.c_str()), 0);
            if (first == nullptr) {
                first = item;
            } else {
                lsqlquery_transaction_info_add(first, item);
            }
        }
        char* error = nullptr;
        int rc = lsqlquery_write_pv_multi(first, &error);
        free(error);
        lsqlquery_transaction_info_delete(first);
        if (rc != 0) {
            state.SkipWithError("transaction failed");
            break;
        }
    }
}
BENCHMARK(BM_SixItemTransaction);

void BM_GetQualifiedVap(benchmark::State& state) {
    bench_root root;
    if (!root.ok) {
        state.SkipWithError("no sandbox root");
        return;
    }
    for (auto _ : state) {
        pv* v = lsqlquery_get_pv_q1("vap", "vap7", "qos-mode", "radio", "wlan1");
        benchmark::DoNotOptimize(v);
        lsqlquery_destroy_pv(v);
    }
}
BENCHMARK(BM_GetQualifiedVap);

}  // namespace

BENCHMARK_MAIN();
