#include "cltqos/map_cltqos_bw.hpp"

uint32_t map_cltqos_bw_round_down(uint32_t rate) {
    if (rate == 0) {
        return 0;
    }
    const uint32_t down = rate - rate % MAP_CLTQOS_BW_STEP;
    return down < MAP_CLTQOS_BW_STEP ? MAP_CLTQOS_BW_STEP : down;
}
