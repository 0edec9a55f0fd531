// Element types and value lengths of the statistics messages: shared by the
// element writers and the report that puts the elements together.
#pragma once

#include <cstddef>
#include <cstdint>

#include "switch/switch_msg.hpp"

namespace map_stats_elems {

// Element types of the statistics messages.
inline constexpr uint16_t kElemInterval = 0x2101;
inline constexpr uint16_t kElemApMac = 0x2102;
inline constexpr uint16_t kElemGlobal = 0x2103;
inline constexpr uint16_t kElemRadio = 0x2104;
inline constexpr uint16_t kElemVap = 0x2105;
inline constexpr uint16_t kElemClient = 0x2106;
inline constexpr uint16_t kElemGlobal2 = 0x2107;
inline constexpr uint16_t kElemClientName = 0x210B;
inline constexpr uint16_t kElemClient2 = 0x2110;
inline constexpr uint16_t kElemClientTs = 0x2111;
inline constexpr uint16_t kElemTsSummary = 0x2113;
inline constexpr uint16_t kElemApTs = 0x2114;
inline constexpr uint16_t kElemRadioTs = 0x2115;
inline constexpr uint16_t kElemVapTs = 0x2116;
inline constexpr uint16_t kElemGlobalTsStatus = 0x2117;
inline constexpr uint16_t kElemRadioTsStatus = 0x2118;
inline constexpr uint16_t kElemVapTsStatus = 0x2119;

// Value lengths of the elements.
inline constexpr uint16_t kGlobalLen = 260;
inline constexpr uint16_t kGlobal2Len = 12;
inline constexpr uint16_t kTsSummaryLen = 32;
inline constexpr uint16_t kTsCountersLen = 66;
inline constexpr uint16_t kGlobalTsStatusLen = 24;
inline constexpr uint16_t kRadioLen = 139;
inline constexpr uint16_t kTsStatusLen = 54;
inline constexpr uint16_t kVapLen = 74;
inline constexpr uint16_t kClientLen = 108;
inline constexpr uint16_t kClientNameLen = 21;
inline constexpr uint16_t kClientNameBytes = 15;
inline constexpr uint16_t kClient2Len = 14;
inline constexpr uint16_t kClientTsLen = 46;

inline constexpr size_t kHdr = MAP_ELEM_HDR_LEN;

}  // namespace map_stats_elems
