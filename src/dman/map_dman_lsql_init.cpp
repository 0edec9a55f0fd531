#include "dman/map_dman_lsql_init.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include "log/map_log.hpp"
#include "dman/dman_store.hpp"
#include "platform/platform.hpp"

static constexpr char map_log_module[] = "dman";

int map_dman_lsql_init(void) {
    bool told = false;
    struct stat st {};
    while (map_platform_stat(DMAN_PID_PATH, &st) != 0) {
        if (!told) {
            MAP_INFO("Waiting for the configuration database (%s)", DMAN_PID_PATH);
            told = true;
        }
        struct timespec left {
            1, 0
        };
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
    return 0;
}
