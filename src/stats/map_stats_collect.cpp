// Collection of the statistics records and the client statistics table.
#include "stats/map_stats.hpp"
