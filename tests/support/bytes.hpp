// Test support: switch message bytes written in wire order, and the standard
// output of a call captured with a trace mask set.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "log/map_log.hpp"

namespace mapd_test {

using bytes = std::vector<uint8_t>;

// Appends values in wire order: big-endian numbers, texts NUL-padded to
// their width.
struct wr {
    bytes b;
    wr& u8(uint32_t v) {
        b.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    wr& be16(uint32_t v) { return u8(v >> 8).u8(v); }
    wr& be32(uint32_t v) { return be16(v >> 16).be16(v); }
    wr& text(const std::string& s, size_t width) {
        for (size_t i = 0; i < width; ++i)
            u8(i < s.size() ? s[i] : 0);
        return *this;
    }
};

// Byte by byte: g++ 12 misreads a small vector insert as out of bounds.
inline bytes operator+(bytes a, const bytes& b) {
    for (uint8_t x : b)
        a.push_back(x);
    return a;
}
// One message element: the header (code, then `len`, by default the value's
// size) and the value.
inline bytes elem(uint16_t code, const bytes& value, int len = -1) {
    return wr().be16(code).be16(len >= 0 ? len : static_cast<int>(value.size())).b + value;
}

// Runs `fn` with the given trace mask and returns what reached standard output.
template <typename Fn>
std::string captured(uint32_t mask, Fn fn) {
    map_global_debug_trace = mask;
    testing::internal::CaptureStdout();
    fn();
    std::string out = testing::internal::GetCapturedStdout();
    map_global_debug_trace = 0;
    return out;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace mapd_test
