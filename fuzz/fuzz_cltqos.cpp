// The switch's client QoS messages as read from the TLS channel, fed to the
// TLS dispatcher of an established AP: the list update, rename and delete,
// and the mode update (its writes to the modes are kept between inputs).
// The AP has no TLS session, so every definition request is built in full and
// its send then fails (reported); the kernel list operation runs against the
// sandbox's emulated module.  Every input starts from the same definitions in
// the database (a delete of an earlier input is undone).
#include <cstdint>
#include <cstdlib>

#include "core/managed_ap.hpp"
#include "core/map_handler.hpp"
#include "fuzz_ap.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"

namespace {

bool is_target(uint16_t type) {
    switch (type) {
        case CLTQOS_LIST_UPDATE:
        case CLTQOS_LIST_RENAME:
        case CLTQOS_LIST_DELETE:
        case CLTQOS_MODE_UPDATE:
            return true;
        default:
            return false;
    }
}

void seed_definitions() {
    fuzz_ap::db_set("acl", "a1", "rule-count", "1");
    fuzz_ap::db_set("acl", "a1", "acl-type", "ipv4");
    fuzz_ap::db_set("qos-mac-acl", "m1", "rule-count", "1");
    fuzz_ap::db_set("qos-mac-acl", "m1", "acl-type", "mac");
    fuzz_ap::db_set("policy-map", "p1", "rule-count", "1");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char root[] = "/tmp/mapd-fuzz-cltqos-XXXXXX";
    static map_control_block* cb = fuzz_ap::make(root, {});
    if (size < 4 || !is_target(static_cast<uint16_t>(data[0] << 8 | data[1]))) return 0;
    fuzz_ap::established(cb->switch_comm);
    seed_definitions();
    if (map_ssl_pkt_handler(cb, data, static_cast<int>(size)) != 0) abort();
    return 0;
}
