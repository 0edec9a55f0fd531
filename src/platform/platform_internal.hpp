// Shared between the platform door's source files; not part of its interface.
#pragma once

#include "platform/platform.hpp"

namespace map_platform_detail {

// True when the armed failure of `op` fires on this call.
bool fail_now(map_platform_op op);

// The platform door sits below the daemon's logging, so it writes its own
// lines in the daemon's error layout: "Error: platform:<line>:<function> - ...".
void report(unsigned line, const char* function, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace map_platform_detail

#define MAP_PLATFORM_REPORT(...) map_platform_detail::report(__LINE__, __func__, __VA_ARGS__)
