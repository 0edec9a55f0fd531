// The AP's identity and boot state at start-up: board kind, boot failure and
// the backup image, image versions and the vital product data.
#include "core/map_vpd.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "store/map_dman_lsql.hpp"
#include "store/map_reg_domain.hpp"

namespace {

// Reading the AP's identity is a step of the daemon's start-up.
constexpr char map_log_module[] = "managed_ap";

enum class board_kind { boot_env, redboot, broadcom };

struct known_board {
    const char* id;  // compared with the start of the board name over its own length
    board_kind kind;
    const char* vpd_partition;  // RedBoot boards only
};

constexpr known_board kBoards[] = {
    {"tovik", board_kind::redboot, "/dev/mtd3"},
    {"ixdpg425", board_kind::redboot, "/dev/mtd5"},
    {"bcm954748eaple", board_kind::broadcom, nullptr},
};

// Field sizes, terminator included.
constexpr size_t kBoardNameLen = 32;
constexpr size_t kVersionLen = 64;      // image versions from the work files
constexpr size_t kVersionFileLen = 32;  // first line of "/etc/version"
constexpr size_t kFlagLen = 16;         // boot-failed value, user-may-configure-country
constexpr size_t kMacTextLen = 32;
constexpr size_t kBandPlanLen = 32;
constexpr size_t kCountryLen = 16;
constexpr size_t kSerialLen = 256;
constexpr size_t kHardwareLen = 16;
constexpr size_t kProductLen = 32;

struct fd_closer {
    int fd;
    ~fd_closer() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

struct board {
    char name[kBoardNameLen + 1];
    const known_board* known;  // null: a boot-environment board
};

// What the VPD gave; an item not read keeps its `has_` flag false.
struct vpd_items {
    bool has_band_plan, has_country, has_config_country, has_mac, has_serial, has_hardware,
        has_product;
    char band_plan[kBandPlanLen];
    char country[kCountryLen];
    int32_t config_country;
    uint8_t mac[6];
    char serial[kSerialLen];
    char hardware[kHardwareLen];
    char product[kProductLen];
};

struct vpd_state {
    board brd;
    bool changed;            // something was written to the configuration database
    bool boot_failed_noted;  // a boot-failed value was read (and no backup switch followed)
};

// The commands are the AP's own tools; their exit status tells nothing that
// the work files do not.
void run(const char* command) {
    (void)map_platform_system(command);
}

// Reads the first line of an AP file into `out` (`size` bytes, at least 1):
// at most size - 1 bytes, cut at the first character of `cut`.  A longer
// line gives its first size - 1 bytes and the rest of the file is left
// unread; a last line without a newline is a line like any other.  -1 when
// the file cannot be opened, 0 when it holds nothing, 1 with a line.
int read_line(const char* path, char* out, size_t size, const char* cut) {
    out[0] = '\0';
    FILE* f = map_platform_fopen(path, "r");
    if (f == nullptr) {
        return -1;
    }
    const bool got = fgets(out, static_cast<int>(size), f) != nullptr;
    fclose(f);
    if (!got) {
        out[0] = '\0';
        return 0;
    }
    out[strcspn(out, cut)] = '\0';
    return 1;
}

// A work file's line: carriage return and line feed end it.
int read_work_line(const char* path, char* out, size_t size) {
    return read_line(path, out, size, "\r\n");
}

board read_board() {
    board b{};
    fd_closer f{map_platform_open("/etc/board", O_RDONLY)};
    if (f.fd < 0) {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Can't open /etc/board file.\n");
        return b;
    }
    ssize_t n;
    do {
        n = read(f.fd, b.name, kBoardNameLen);
    } while (n < 0 && errno == EINTR);
    for (const known_board& k : kBoards) {
        if (strncmp(b.name, k.id, strlen(k.id)) == 0) {
            b.known = &k;
            break;
        }
    }
    return b;
}

bool is_kind(const board& b, board_kind kind) {
    return b.known != nullptr && b.known->kind == kind;
}

void boot_status(vpd_state& st) {
    const bool broadcom = is_kind(st.brd, board_kind::broadcom);
    run("/usr/sbin/nvram config_set bfcount=0");
    run("bootenv -v /dev/mtd8 -d bootfailed > /tmp/bootfail.txt");
    char value[kFlagLen];
    if (read_work_line("/tmp/bootfail.txt", value, sizeof value) != 1) {
        return;
    }
    if (broadcom) {
        run("/usr/sbin/nvram config_set bootstate=0");
        run("/usr/sbin/nvram config_commit");
    }
    st.boot_failed_noted = true;
    if (value[0] != '1') {
        if (map_lsql_last_boot_get() != 0) {
            st.changed |= map_lsql_last_boot_set("success") == 0;
        }
        return;
    }
    // The primary image failed to boot.  The backup is activated once: the
    // stored "failure" keeps the next start with the same report from
    // switching again.
    if (map_lsql_last_boot_get() != 0) {
        return;
    }
    st.changed |= map_lsql_last_boot_set("failure") == 0;
    st.boot_failed_noted = false;
    MAP_TRACE(MAP_TRACE_ALWAYS, "\n primary image was corrupted so move to secondary image \n");
    if (broadcom) {
        // The AP image runs these by relative path.
        run("usr/sbin/nvram unlock");
        run("usr/sbin/nvram config_set bootfailed=0");
        run("usr/sbin/nvram config_commit");
        run("usr/sbin/nvram commit");
        run("usr/sbin/nvram lock");
    } else {
        run("/usr/sbin/activate-backup");
        run("/usr/bin/bootenv -u altbootver");
    }
}

void running_version(vpd_state& st) {
    static constexpr const char* kAttempts[] = {
        "bootenv -v /dev/mtd8 -d bootver > /tmp/bootver.txt",
        "cat /etc/version > /tmp/bootver.txt",
        "bootenv -d bootver > /tmp/bootver.txt",
    };
    char version[kVersionLen];
    int got = 0;
    for (const char* command : kAttempts) {
        run(command);
        got = read_work_line("/tmp/bootver.txt", version, sizeof version);
        if (got == 1 && version[0] != '\0') {
            break;
        }
    }
    // The last attempt's line is stored even when empty; with no line at all
    // the version comes from "/etc/version" or the default.
    if (got == 1) {
        st.changed |= map_lsql_ap_version_set(version) == 0;
    } else {
        map_set_system_version();
        st.changed = true;
    }
}

void alternate_version(vpd_state& st) {
    static constexpr const char* kAttempts[] = {
        "bootenv -v /dev/mtd8 -d altbootver > /tmp/altbootver.txt",
        "bootenv -d altbootver > /tmp/altbootver.txt",
    };
    char version[kVersionLen];
    bool any_line = false;
    for (const char* command : kAttempts) {
        run(command);
        const int got = read_work_line("/tmp/altbootver.txt", version, sizeof version);
        any_line = any_line || got == 1;
        if (got == 1 && version[0] != '\0') {
            break;
        }
    }
    if (!any_line && st.boot_failed_noted) {
        MAP_TRACE(MAP_TRACE_ALWAYS,
                  "\n Last updated Boot Image was not completed fully so did not upgrade to the "
                  "new image \n");
    }
    st.changed |= map_lsql_ap_alt_version_set(version) == 0;
}

// Reads up to `size` bytes; the count read (short at the end of the
// partition), or -1 with errno.
ssize_t read_area(int fd, uint8_t* area, size_t size) {
    size_t total = 0;
    while (total < size) {
        const ssize_t n = read(fd, area + total, size - total);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        total += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(total);
}

void items_from_area(const uint8_t* area, size_t size, vpd_items& it) {
    const auto text = [&](const char* key, char* out, size_t limit) {
        return map_vpd_find(area, size, key, MAP_VPD_TYPE_TEXT, limit, out) == 0;
    };
    it.has_band_plan = text("band_plan", it.band_plan, sizeof it.band_plan);
    it.has_country = text("country_code", it.country, sizeof it.country);
    it.has_config_country = map_vpd_find(area, size, "user_config_country", MAP_VPD_TYPE_INT,
                                         sizeof it.config_country, &it.config_country) == 0;
    it.has_mac =
        map_vpd_find(area, size, "base_ap_mac", MAP_VPD_TYPE_MAC, sizeof it.mac, it.mac) == 0;
    it.has_serial = text("serial_number", it.serial, sizeof it.serial);
    it.has_hardware = text("hardware_version", it.hardware, sizeof it.hardware);
    it.has_product = text("product_id", it.product, sizeof it.product);
}

// Runs a bootenv command and reads its work file.  An empty line counts as
// nothing read: it is what an unset variable gives.
bool env_read(const char* command, const char* work_file, char* out, size_t size) {
    run(command);
    return read_work_line(work_file, out, size) == 1 && out[0] != '\0';
}

void items_from_bootenv(vpd_items& it) {
    it.has_band_plan = env_read("bootenv -d band_plan > /tmp/band_plan.txt", "/tmp/band_plan.txt",
                                it.band_plan, sizeof it.band_plan);
    it.has_country = env_read("bootenv -d country_code > /tmp/country_code.txt",
                              "/tmp/country_code.txt", it.country, sizeof it.country);
    char text[kMacTextLen];
    if (env_read("bootenv -d user_config_country_code > /tmp/configCountry.txt",
                 "/tmp/configCountry.txt", text, kFlagLen)) {
        it.has_config_country = true;
        it.config_country = strncmp(text, "yes", 3) == 0 || text[0] == '1' ? 1 : 0;
    }
    unsigned b[6];
    if (env_read("bootenv -d ethaddr > /tmp/mac.txt", "/tmp/mac.txt", text, sizeof text) &&
        sscanf(text, "%02x:%02x:%02x:%02x:%02x:%02x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) ==
            6) {
        it.has_mac = true;
        for (int i = 0; i < 6; ++i) {
            it.mac[i] = static_cast<uint8_t>(b[i]);
        }
    }
    it.has_serial = env_read("bootenv -d serial# > /tmp/serial.txt", "/tmp/serial.txt", it.serial,
                             sizeof it.serial) ||
                    env_read("bootenv -d serial > /tmp/serial.txt", "/tmp/serial.txt", it.serial,
                             sizeof it.serial);
    it.has_hardware = env_read("bootenv -d hardware_version > /tmp/hardware_version.txt",
                               "/tmp/hardware_version.txt", it.hardware, sizeof it.hardware);
    it.has_product = env_read("bootenv -d product_id > /tmp/product_id.txt", "/tmp/product_id.txt",
                              it.product, sizeof it.product);
}

// Stores the items in their fixed order, each traced.
void apply_items(const vpd_items& it, const char* stored_country, const char* stored_serial,
                 bool& changed) {
    if (it.has_band_plan) {
        changed |= map_lsql_band_plan_set(it.band_plan) == 0;
        MAP_TRACE(MAP_TRACE_ALWAYS, "AP Band Plan: %s - Config Changed: %d", it.band_plan, changed);
    } else {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Could not get AP band plan");
    }

    // A country already stored wins over the VPD's, whether the VPD has none,
    // another one, or the same one in other letter case: the operator's
    // setting stays as it is.
    const char* country =
        stored_country[0] != '\0' ? stored_country : (it.has_country ? it.country : nullptr);
    if (country != nullptr) {
        char* error = nullptr;
        changed |= map_reg_country_code_set(country, &error) == 0;
        free(error);
        MAP_TRACE(MAP_TRACE_ALWAYS, "AP Country Code: %s - Config Changed: %d", country, changed);
    } else {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Could not get AP Country Code");
    }

    if (it.has_config_country) {
        changed |= map_lsql_country_code_is_configurable_set(it.config_country) == 0;
        MAP_TRACE(MAP_TRACE_ALWAYS, "AP User Config Country Code: %d - Config Changed: %d",
                  it.config_country, changed);
    } else {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Could not get AP User Config Country Code");
    }

    if (it.has_mac) {
        uint8_t stored[6];
        if (map_lsql_base_ap_mac_get(stored) != 0 || memcmp(stored, it.mac, sizeof stored) != 0) {
            map_lsql_base_ap_mac_set(it.mac);
            changed = true;
        }
        MAP_TRACE(MAP_TRACE_ALWAYS, "AP MAC: %02x:%02x:%02x:%02x:%02x:%02x - Config Changed: %d",
                  it.mac[0], it.mac[1], it.mac[2], it.mac[3], it.mac[4], it.mac[5], changed);
    } else {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Could not get AP base MAC");
    }

    if (it.has_serial) {
        if (strncmp(stored_serial, it.serial, kSerialLen) != 0) {
            changed |= map_lsql_serial_number_set(it.serial) == 0;
        }
        MAP_TRACE(MAP_TRACE_ALWAYS, "AP Serial number: %s - Config Changed: %d", it.serial,
                  changed);
    } else {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Could not get AP Serial Number");
    }

    const char* hardware = it.has_hardware ? it.hardware : "1";
    changed |= map_lsql_hardware_version_set(hardware) == 0;
    MAP_TRACE(MAP_TRACE_ALWAYS, "AP hardware_version: %s - Config Changed: %d", hardware, changed);

    const char* product = it.has_product ? it.product : "WLAN-KOV";
    changed |= map_lsql_product_id_set(product) == 0;
    MAP_TRACE(MAP_TRACE_ALWAYS, "AP Product ID: %s - Config Changed: %d", product, changed);
}

int copy_value(const uint8_t* value, size_t avail, const char* key, int type, size_t limit,
               void* out) {
    switch (type) {
        case MAP_VPD_TYPE_TEXT: {
            // A text that runs to the end of the area is as good as too long.
            const void* zero = memchr(value, '\0', avail);
            const size_t len =
                zero != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - value) + 1
                                : avail + 1;
            if (zero == nullptr || len > limit) {
                MAP_ERROR("VPD key %s too long, len = %d", key, static_cast<int>(len));
                return -1;
            }
            memcpy(out, value, len);
            return 0;
        }
        case MAP_VPD_TYPE_MAC:
        case MAP_VPD_TYPE_INT: {
            const size_t len = type == MAP_VPD_TYPE_MAC ? 6 : 4;
            if (len > avail || len > limit) {
                return -1;
            }
            memcpy(out, value, len);
            return 0;
        }
        default:
            return -1;
    }
}

}  // namespace

int map_vpd_find(const uint8_t* area, size_t size, const char* key, int type, size_t limit,
                 void* out) {
    if (area == nullptr || key == nullptr || out == nullptr || size <= 8) {
        return -1;
    }
    // The key length byte holds the key with its zero.
    const size_t key_len = strnlen(key, 255);
    if (key_len == 0 || key_len >= 255) {
        return -1;
    }
    for (size_t pos = 4; pos < size - 4; ++pos) {
        const size_t rest = size - pos;
        const uint8_t stored_len = area[pos - 3];
        if (area[pos - 4] != type || stored_len != key_len + 1 || stored_len >= rest) {
            continue;
        }
        // The key with its zero lies inside the area, and at least one byte
        // follows it.
        if (memcmp(area + pos, key, key_len + 1) != 0) {
            continue;
        }
        return copy_value(area + pos + stored_len, rest - stored_len, key, type, limit, out);
    }
    return -1;
}

void map_set_system_version() {
    char version[kVersionFileLen];
    if (read_line("/etc/version", version, sizeof version, "\n") < 0) {
        MAP_INFO("Version file not found. Setting default version");
        map_lsql_ap_version_set("0.0.0.00");
        run("echo '0.0.0.00' > /tmp/bootver.txt");
        return;
    }
    // An empty file gives an empty version: the file is there, so it rules.
    map_lsql_ap_version_set(version);
}

void map_vpd_init() {
    vpd_state st{};
    st.brd = read_board();
    const bool redboot = is_kind(st.brd, board_kind::redboot);
    fd_closer partition{-1};
    if (redboot) {
        partition.fd = map_platform_open(st.brd.known->vpd_partition, O_RDONLY);
        if (partition.fd < 0) {
            MAP_ERROR("Unable to open redboot VPD partition. Error: %d", errno);
            return;
        }
        map_set_system_version();
        st.changed = true;
    } else {
        boot_status(st);
        running_version(st);
        alternate_version(st);
    }

    // A unit that knows its serial number keeps its identity: only boot state
    // and versions are refreshed.  An empty serial number is none.
    char serial[kSerialLen] = "";
    if (map_lsql_serial_number_get(serial, sizeof serial) == 0 && serial[0] != '\0') {
        if (st.changed) {
            map_lsql_ap_config_save();
        }
        return;
    }

    MAP_TRACE(MAP_TRACE_ALWAYS, "VPD information being applied to the configuration");
    char stored_country[4] = "";
    if (map_lsql_country_code_get(stored_country) != 0) {
        stored_country[0] = '\0';
    }
    st.changed |= map_lsql_country_code_is_configurable_set(1) == 0;
    vpd_items it{};
    // What "Done parsing VPD" reports: the bytes of VPD area read, 0 when the
    // VPD came from the boot environment.
    int vpd_bytes = 0;
    if (redboot) {
        uint8_t area[MAP_VPD_AREA_SIZE];
        errno = 0;
        const ssize_t n = read_area(partition.fd, area, sizeof area);
        if (n != static_cast<ssize_t>(sizeof area)) {
            MAP_ERROR("Unable to read VPD partition. Read Return Code: %d, Error: %d",
                      static_cast<int>(n), errno);
            return;
        }
        vpd_bytes = static_cast<int>(n);
        items_from_area(area, sizeof area, it);
    } else {
        items_from_bootenv(it);
    }
    apply_items(it, stored_country, serial, st.changed);

    if (map_platform_access("/tmp/factory-reset", F_OK) == 0) {
        MAP_TRACE(MAP_TRACE_ALWAYS, "Perform board specific changes");
        MAP_INFO("Default Configuration is applied to the running config ");
        if (map_apply_platform_specific_changes(st.brd.name) == 1) {
            st.changed = true;
        }
    }
    if (st.changed) {
        fputs("\n\r\n\rVPD Changed. Saving Configuration.....\n\r\n\r", stdout);
        fflush(stdout);
        map_lsql_ap_config_save();
    }
    MAP_INFO("Done parsing VPD. Size = %d", vpd_bytes);
}
