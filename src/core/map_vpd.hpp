// The AP's identity and boot state, brought into the configuration database
// once at start-up: the board kind, whether the last boot failed (and then
// the switch to the backup image), the versions of the running and the
// alternate image, and the vital product data (VPD) written at manufacture.
//
// RedBoot boards keep the VPD as records in a flash partition; every other
// board keeps it as boot-environment variables read with the AP's `bootenv`
// tool, each through a work file under /tmp.
#pragma once

#include <cstddef>
#include <cstdint>

// Value types of a VPD record.
inline constexpr int MAP_VPD_TYPE_INT = 1;   // 32-bit integer, 4 bytes in the AP's byte order
inline constexpr int MAP_VPD_TYPE_TEXT = 3;  // zero-terminated text
inline constexpr int MAP_VPD_TYPE_MAC = 6;   // 6 bytes

// Bytes of the VPD area read from the start of a RedBoot VPD partition.
inline constexpr size_t MAP_VPD_AREA_SIZE = 4095;

// Looks `key` up in the VPD area (`size` bytes).  A record is: type byte,
// key length byte (with the key's zero), 2 unused bytes, the key with its
// zero, the value.  The scan looks at key positions from 4 up to, not
// including, the last 4 bytes; the first record of that key and type wins.
// Its value goes to `out` (`limit` bytes): a text with its zero (longer than
// `limit`, or running to the end of the area: logged, -1), 6 bytes of a MAC,
// 4 bytes of an integer.  0 when found and copied, -1 otherwise.  Never
// reads outside the area nor writes more than `limit` bytes.
int map_vpd_find(const uint8_t* area, size_t size, const char* key, int type, size_t limit,
                 void* out);

// Stores the first line of "/etc/version" as the AP version; without the
// file "0.0.0.00", also written to "/tmp/bootver.txt".
void map_set_system_version();

// Brings board, boot status, image versions and (while no serial number is
// stored) the VPD into the configuration database, and saves it when anything
// was written.  Whatever it finds, start-up goes on.
void map_vpd_init();
