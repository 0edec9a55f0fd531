// Diagnostics of mapd: error and information lines on standard output, and
// category-filtered traces on standard output and the trace socket.
#pragma once

#include <cstdint>

// Run-time trace mask; 0 at start, set by the DEBUG_SET_TRACE command.
extern uint32_t map_global_debug_trace;

// Trace categories.
inline constexpr uint32_t MAP_TRACE_ALWAYS = 0x0;
inline constexpr uint32_t MAP_TRACE_SWITCH = 0x1;
inline constexpr uint32_t MAP_TRACE_CONFIG = 0x2;
inline constexpr uint32_t MAP_TRACE_LOCAL = 0x4;
inline constexpr uint32_t MAP_TRACE_RADIO = 0x8;
inline constexpr uint32_t MAP_TRACE_PKT = 0x10;
inline constexpr uint32_t MAP_TRACE_PMK = 0x20;
inline constexpr uint32_t MAP_TRACE_PREAUTH = 0x40;
inline constexpr uint32_t MAP_TRACE_PREAUTH_PKT = 0x100;
inline constexpr uint32_t MAP_TRACE_L2TUNNEL = 0x200;
inline constexpr uint32_t MAP_TRACE_CLIENT_AUTH = 0x400;
inline constexpr uint32_t MAP_TRACE_CODE_DOWNLOAD = 0x800;
inline constexpr uint32_t MAP_TRACE_PORTAL = 0x1000;
inline constexpr uint32_t MAP_TRACE_DL2TUNNEL = 0x2000;
inline constexpr uint32_t MAP_TRACE_CL2TUNNEL = 0x4000;
inline constexpr uint32_t MAP_TRACE_CLTQOS = 0x8000;
inline constexpr uint32_t MAP_TRACE_TSPEC = 0x10000;
inline constexpr uint32_t MAP_TRACE_PROVISION = 0x20000;
inline constexpr uint32_t MAP_TRACE_RRM = 0x40000;

// Work buffer sizes: the formatted message (terminator included) must fit.
inline constexpr unsigned MAP_LOG_BUF_SIZE = 20480;
inline constexpr unsigned MAP_TRACE_BUF_SIZE = 30720;

// The trace socket's destination, an AP path.
inline constexpr const char* MAP_TRACE_SOCKET_PATH = "/tmp/map_debug_trace";

// "Error: <file>:<line>:<function> - <message>\n" on standard output.
void map_print_error(const char* file, unsigned line, const char* function, const char* format,
                     ...) __attribute__((format(printf, 4, 5)));
// "INFO: <file>:<line>:<function> - <message>\n" on standard output.
void map_print_info(const char* file, unsigned line, const char* function, const char* format,
                    ...) __attribute__((format(printf, 4, 5)));
// When every bit of `mask` is set in the trace mask: the message and a newline
// on standard output, and the message alone as one datagram to the trace socket.
void map_print_debug_trace(uint32_t mask, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// True when a trace of `mask` would be written (lets callers skip building
// expensive trace text).
inline bool map_trace_enabled(uint32_t mask) { return (map_global_debug_trace & mask) == mask; }

int map_trace_log_init();
int map_trace_log_deinit();
int map_trace_log_send(const char* text);
// The trace socket descriptor; 0 when there is none.
int map_trace_log_fd();

// Each source file names its module once:
//   static constexpr char map_log_module[] = "switch_comm";
#define MAP_ERROR(...) map_print_error(map_log_module, __LINE__, __func__, __VA_ARGS__)
#define MAP_INFO(...) map_print_info(map_log_module, __LINE__, __func__, __VA_ARGS__)
#define MAP_TRACE(mask, ...) map_print_debug_trace((mask), __VA_ARGS__)
