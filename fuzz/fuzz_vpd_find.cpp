// Arbitrary bytes as a VPD area: every item of the AP looked up with its type
// and field size, and once more into a field sized by the first byte.  Area
// and fields are exact-size heap copies, so the sanitizers see any read past
// the area or write past a field; a text found must end within its field.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/map_vpd.hpp"

namespace {

struct item {
    const char* key;
    int type;
    size_t limit;
};

constexpr item kItems[] = {
    {"band_plan", MAP_VPD_TYPE_TEXT, 32},     {"country_code", MAP_VPD_TYPE_TEXT, 16},
    {"user_config_country", MAP_VPD_TYPE_INT, 4}, {"base_ap_mac", MAP_VPD_TYPE_MAC, 6},
    {"serial_number", MAP_VPD_TYPE_TEXT, 256}, {"hardware_version", MAP_VPD_TYPE_TEXT, 16},
    {"product_id", MAP_VPD_TYPE_TEXT, 32},
};

void look_up(const uint8_t* area, size_t size, const item& it, size_t limit) {
    std::unique_ptr<char[]> out(new char[limit + 1]);
    out[limit] = 'X';  // one guard byte past the field
    const int rc = map_vpd_find(area, size, it.key, it.type, limit, out.get());
    if (rc != 0 && rc != -1) abort();
    if (out[limit] != 'X') abort();
    if (rc == 0 && it.type == MAP_VPD_TYPE_TEXT && memchr(out.get(), '\0', limit) == nullptr) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> area(new uint8_t[size > 0 ? size : 1]);
    if (size > 0) memcpy(area.get(), data, size);
    for (const item& it : kItems) {
        look_up(area.get(), size, it, it.limit);
        if (size > 0) look_up(area.get(), size, it, data[0] % (it.limit + 1));
    }
    return 0;
}
