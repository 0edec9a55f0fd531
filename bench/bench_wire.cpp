// Costs on every message path: building a message, walking its elements, and
// a filtered-out hex trace (the usual case: trace mask 0).
#include <benchmark/benchmark.h>

#include "log/map_log.hpp"
#include "switch/switch_comm_util.hpp"
#include "wire/wire.hpp"

namespace {

size_t build_discover(uint8_t* buf) {
    wire_msg m;
    wire_msg_begin(m, buf, MAP_DISCOVER_MSG_LEN, SWITCH_DISCOVER);
    uint8_t ip[MAP_IP_ELEM_LEN];
    map_ip_elem_encode(0xC0A8010A, 0xFFFFFF00, ip);
    uint8_t mac[6] = {0, 1, 2, 3, 4, 5};
    uint8_t sw[MAP_SWITCH_ADDR_LEN] = {};
    wire_msg_add_u8(m, MAP_ELEM_DEVICE_TYPE, MAP_DEVICE_TYPE_AP);
    wire_msg_add_be16(m, MAP_ELEM_VENDOR_ID, MAP_VENDOR_ID);
    wire_msg_add_be16(m, MAP_ELEM_PROTOCOL_VERSION, MAP_PROTOCOL_VERSION);
    wire_msg_add(m, MAP_ELEM_MAC, mac, 6);
    wire_msg_add(m, MAP_ELEM_IP_ADDR, ip, sizeof ip);
    wire_msg_add(m, MAP_ELEM_PRIMARY_SWITCH, sw, sizeof sw);
    wire_msg_add(m, MAP_ELEM_BACKUP_SWITCH, sw, sizeof sw);
    wire_msg_add_u8(m, MAP_ELEM_MUTUAL_AUTH, 0);
    wire_msg_add_u8(m, MAP_ELEM_REPROVISION_UNMANAGED, 0);
    return wire_msg_finish(m);
}

void BM_BuildDiscover(benchmark::State& state) {
    uint8_t buf[MAP_DISCOVER_MSG_LEN];
    for (auto _ : state) {
        benchmark::DoNotOptimize(build_discover(buf));
    }
}
BENCHMARK(BM_BuildDiscover);

void BM_WalkDiscover(benchmark::State& state) {
    uint8_t buf[MAP_DISCOVER_MSG_LEN];
    size_t len = build_discover(buf);
    for (auto _ : state) {
        wire_reader r = wire_reader_make(buf + 4, len - 4);
        wire_elem e;
        unsigned sum = 0;
        while (wire_elem_next(r, e)) sum += e.type;
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_WalkDiscover);

void BM_HexTraceFilteredOut(benchmark::State& state) {
    uint8_t buf[MAP_DISCOVER_MSG_LEN];
    size_t len = build_discover(buf);
    map_global_debug_trace = 0;
    for (auto _ : state) {
        map_pkt_hex_print(0x10, buf, static_cast<int>(len), 1, 1);
    }
}
BENCHMARK(BM_HexTraceFilteredOut);

void BM_HexTraceFormat(benchmark::State& state) {
    static uint8_t msg[8192];
    static char text[MAP_TRACE_BUF_SIZE];
    int len = static_cast<int>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(map_pkt_hex_format(text, sizeof text, msg, len, 2, 2));
    }
}
BENCHMARK(BM_HexTraceFormat)->Arg(105)->Arg(1266)->Arg(8192);

}  // namespace

BENCHMARK_MAIN();
