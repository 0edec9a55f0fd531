// Client QoS bandwidth: a rate rounded down to a step the rate limiter has.
#pragma once

#include <cstdint>

// The limiter's step, in the rates' unit.
inline constexpr uint32_t MAP_CLTQOS_BW_STEP = 64000;

// 0 stays 0; any other rate goes down to a multiple of the step,
// and never below one step.
uint32_t map_cltqos_bw_round_down(uint32_t rate);
