// The switch's image upgrade messages as read from the TLS channel, fed to
// the TLS dispatcher of an established AP: the element walk that starts,
// grows, validates and installs "/tmp/upgrade.tar".  The root's validation
// tool takes an image holding "GOOD"; its mv takes a file already named as
// the target, like the AP's.  Every input starts with no image file, no
// stream in progress and no reset pending.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/map_handler.hpp"
#include "fuzz_ap.hpp"
#include "switch/switch_msg.hpp"
#include "update/map_reset.hpp"
#include "update/map_update.hpp"

namespace {

void tool(const char* ap_path, const char* body) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(ap_path, path, sizeof path) != 0)
        abort();
    std::string dir(path);
    dir.resize(dir.rfind('/'));
    std::filesystem::create_directories(dir);
    FILE* f = fopen(path, "w");
    if (f == nullptr)
        abort();
    fprintf(f, "#!/bin/sh\n%s\n", body);
    fclose(f);
    chmod(path, 0755);
}

map_control_block* make_ap() {
    static char root[] = "/tmp/mapd-fuzz-image-upgrade-XXXXXX";
    map_control_block* cb = fuzz_ap::make(root, {});
    tool("/usr/sbin/flash-validate", "grep -q GOOD \"$1\"");
    tool("/bin/mv", "[ \"$1\" = \"$2\" ] || exec /bin/mv \"$@\"");
    for (const char* dir : {"/dev", "/tmp"})
        std::filesystem::create_directories(root + std::string(dir));
    return cb;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static map_control_block* cb = make_ap();
    if (size < 4 || (data[0] << 8 | data[1]) != SWITCH_AP_IMAGE_UPGRADE)
        return 0;
    map_update_link_lost();
    map_platform_unlink(MAP_UPGRADE_FILE);
    map_reset_clear();
    fuzz_ap::established(cb->switch_comm);
    if (map_ssl_pkt_handler(cb, data, static_cast<int>(size)) != 0)
        abort();
    return 0;
}
