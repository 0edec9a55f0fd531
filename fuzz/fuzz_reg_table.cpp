// Arbitrary bytes as the regulatory table "/etc/reg_domains.conf" of a
// sandbox root, read by every reader of the table: the valid radio modes of a
// few countries, the default channel of every radio mode, bandwidth and side,
// and the country change with its radios (two of them, one up) held down.
// Every input starts from a new database holding the two radios.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_ap.hpp"
#include "fuzz_fresh.hpp"
#include "store/map_reg_domain.hpp"

namespace {

// Countries of the seed tables, one in lower case, and one that no table
// lists.
constexpr const char* kCountries[] = {"US", "jp", "GB", "XX"};

void store_radios() {
    fuzz_ap::db_set("radio", "wlan0", "status", "up");
    fuzz_ap::db_set("radio", "wlan1", "status", "down");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static map_control_block* cb = [] {
        static char root[] = "/dev/shm/mapd-fuzz-reg-table-XXXXXX";
        return fuzz_ap::make(root, {});
    }();
    (void)cb;
    fuzz_fresh::db_drop();
    store_radios();
    fuzz_fresh::put_file(MAP_REG_DOMAINS_FILE, data, size);
    for (const char* country : kCountries) {
        const int modes = map_get_valid_radio_modes(country);
        if (modes < -1 || modes > 0xF) abort();
        for (int mode = 1; mode <= 8; ++mode) {
            for (int bandwidth : {MAP_REG_BANDWIDTH_20, MAP_REG_BANDWIDTH_40}) {
                for (int upper = 0; upper <= 1; ++upper) {
                    map_get_default_radio_channel(country, mode, bandwidth, upper);
                }
            }
        }
        char* error = nullptr;
        const int rc = map_reg_country_code_set(country, &error);
        if (error != nullptr && strlen(error) > MAP_REG_ERROR_LEN) abort();
        if (rc == 0 && error != nullptr) abort();
        free(error);
    }
    return 0;
}
