// The files the AP's identity is read from at start-up, from arbitrary bytes:
// the board name, the work files the boot-environment tool writes (boot
// failure, image versions, band plan, country, MAC, serial number, hardware
// version, product id), "/etc/version" and the VPD partition of a RedBoot
// board.  The input's parts are separated by the byte 0xFE, in that order;
// the first byte is a flag set: bit 0 a factory reset is pending, bit 1
// there is no "/etc/version".  The root's boot-environment tool prints the
// part named by its last argument, so every work file read holds the bytes
// given (long lines, no newline, binary).  Every input starts from a new
// database holding the two radios; the regulatory table lists "US" and "GB".
#include <cstdint>
#include <filesystem>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/map_vpd.hpp"
#include "fuzz_ap.hpp"
#include "fuzz_fresh.hpp"
#include "store/map_reg_domain.hpp"

namespace {

constexpr uint8_t kSeparator = 0xFE;

// The parts in input order: the boot-environment variable (its work file's
// source, under "/fuzz/"), or an AP file.
constexpr const char* kParts[] = {
    "/etc/board",
    "/fuzz/bootfailed",
    "/fuzz/bootver",
    "/fuzz/altbootver",
    "/fuzz/band_plan",
    "/fuzz/country_code",
    "/fuzz/user_config_country_code",
    "/fuzz/ethaddr",
    "/fuzz/serial#",
    "/fuzz/hardware_version",
    "/fuzz/product_id",
    "/etc/version",
    "/dev/mtd3",  // the VPD partition of the first RedBoot board
};

void make_root() {
    static char root[] = "/dev/shm/mapd-fuzz-vpd-work-XXXXXX";
    static map_control_block* cb = fuzz_ap::make(root, {});  // the root; lives with the process
    (void)cb;
    fuzz_fresh::put_text("/tmp/.keep", "");  // the AP's /tmp, where the work files go
    fuzz_fresh::put_text("/usr/bin/bootenv",
                         "#!/bin/sh\n"
                         "for v; do :; done\n"
                         "[ -f \"fuzz/$v\" ] && exec cat \"fuzz/$v\"\n"
                         "exit 1\n");
    char path[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path("/usr/bin/bootenv", path, sizeof path) != 0) abort();
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    fuzz_fresh::put_text(MAP_REG_DOMAINS_FILE,
                         "[country codes]\n"
                         "US\tAMER_T\tAMER_BG AMER_A\t#\tUnited States\n"
                         "GB\tETSI_T\tETSI_BG ETSI_A\t#\tUnited Kingdom\n"
                         "[regulatory domains]\n"
                         "AMER_BG 11G 2GHZ 6 20 1 11\n"
                         "AMER_A 11A 5GHZ 36 17 36 165\n"
                         "ETSI_BG 11G 2GHZ 6 20 1 13\n");
}

}  // namespace

// Each input runs some fifteen shell commands: a small quarantine of freed
// memory keeps the process small, so that each fork is quick.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=8"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool made = (make_root(), true);
    (void)made;
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    std::vector<std::string> parts(std::size(kParts));
    size_t part = 0;
    for (size_t i = 1; i < size && part < parts.size(); ++i) {
        if (data[i] == kSeparator) {
            ++part;
        } else {
            parts[part].push_back(static_cast<char>(data[i]));
        }
    }
    for (size_t i = 0; i < parts.size(); ++i) {
        fuzz_fresh::put_text(kParts[i], parts[i]);
    }
    if (flags & 2) fuzz_fresh::remove_file("/etc/version");
    if (flags & 1) {
        fuzz_fresh::put_text("/tmp/factory-reset", "");
    } else {
        fuzz_fresh::remove_file("/tmp/factory-reset");
    }
    // A RedBoot board reads its whole partition: the part is its start.
    parts.back().resize(MAP_VPD_AREA_SIZE);
    fuzz_fresh::put_text("/dev/mtd3", parts.back());
    fuzz_fresh::db_drop();
    fuzz_ap::db_set("radio", "wlan0", "status", "up");
    fuzz_ap::db_set("radio", "wlan1", "status", "up");
    map_vpd_init();
    return 0;
}
