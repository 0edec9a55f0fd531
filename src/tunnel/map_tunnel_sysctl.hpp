// Shared by the tunnel and portal modules: binary sysctl access to a table
// entry whose name vector starts 3 (the network branch), then the module's
// number, its table and the item (or the VAP slot and the item).
#pragma once

#include <cstddef>
#include <initializer_list>

#include "platform/platform.hpp"

// The full name vector {3, parts...}; n is 0 when the parts do not fit.
struct map_tunnel_name {
    int vec[8];
    int n;
};

inline map_tunnel_name map_tunnel_name_of(std::initializer_list<int> parts) {
    map_tunnel_name name{{3}, 1};
    if (parts.size() >= sizeof name.vec / sizeof name.vec[0]) {
        name.n = 0;
        return name;
    }
    for (int v : parts) {
        name.vec[name.n++] = v;
    }
    return name;
}

// Writes `len` bytes as the value of the entry {3, parts...}; 0 or -1.
[[nodiscard]] inline int map_tunnel_sysctl_write(std::initializer_list<int> parts, const void* value,
                                                 size_t len) {
    const map_tunnel_name name = map_tunnel_name_of(parts);
    return name.n == 0 ? -1 : map_platform_sysctl_write(name.vec, name.n, value, len);
}

// Reads the entry {3, parts...} into `out` (at most *len bytes); 0 or -1.
[[nodiscard]] inline int map_tunnel_sysctl_read(std::initializer_list<int> parts, void* out,
                                                size_t* len) {
    const map_tunnel_name name = map_tunnel_name_of(parts);
    return name.n == 0 ? -1 : map_platform_sysctl_read(name.vec, name.n, out, len);
}
