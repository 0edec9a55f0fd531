// mapd-twin ROOT: the daemon on a twin's sandbox root, as a program of its
// own so that a wrapper (valgrind) can run it; ap_daemon_start execs it when
// MAPD_TWIN_EXEC names the wrapper.  The production mapd takes no arguments.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/managed_ap.hpp"
#include "platform/platform.hpp"

namespace {

// A stopped twin ends through exit, so that a wrapper's end-of-run checks
// (valgrind's leak check and error count) run and set the exit status.
void on_term(int) {
    _exit(0);
}

constexpr const char* kUsage =
    "usage: mapd-twin ROOT   (mapd on the sandbox root ROOT)\n"
    "       mapd-twin --help | -h\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(kUsage, stdout);
        fputs("  Exit status: 0 stopped, 1 the daemon failed, 120 ROOT unusable, 64 usage.\n", stdout);
        return 0;
    }
    if (argc != 2) {
        fputs("mapd-twin: one ROOT is needed (mapd-twin --help)\n", stderr);
        return 64;
    }
    signal(SIGTERM, on_term);
    if (map_platform_set_root(argv[1]) != 0)
        return 120;
    return map_daemon_init() == 0 ? 0 : 1;
}
