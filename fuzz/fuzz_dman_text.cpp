// Lines of a plain-text configuration file as dmanctl loads them: the parser
// alone (nothing is written to a database).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "dman/dman_text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        dman_text_line line;
        std::string error;
        int rc = dman_text_parse_line(text.substr(start, end - start), line, error);
        if (rc != 0 && error.empty()) abort();  // a refused line always says why
        start = end + 1;
    }
    return 0;
}
