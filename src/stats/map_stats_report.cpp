// Statistics reports to the switch.
#include "stats/map_stats.hpp"
