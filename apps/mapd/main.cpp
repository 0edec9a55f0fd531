// mapd: the managed-access-point daemon.  Started by the AP's init scripts
// with no arguments; reads no environment.
#include "core/managed_ap.hpp"

int main() { return map_daemon_init(); }
