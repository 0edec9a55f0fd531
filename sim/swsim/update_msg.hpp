// Firmware messages between the switch and a managed AP, as swsim builds and
// reads them (big-endian values):
//   28  code download order: AP MAC (33), TFTP server (0x101, 17 bytes: the
//       IPv6 flag, then 16 address bytes with an IPv4 address in the last
//       4), transfer mode (0x4101, 1 byte: 1 TFTP), remote file name (0x4103,
//       its bytes, no terminator)
//   29  code download status from the AP, 19 bytes: AP MAC (33), status
//       (0x4104, 1 byte: 1 image fetched, validated and in place, 2 failed)
//   30  reset: reset type (0x4110, 1 byte: 1 install the downloaded image
//       first, 0 reboot only), a 16-bit value (0x4111, sent as 0), AP MAC (33)
//   71  streamed image: a message with the start element (0x2030, no value),
//       the image in chunk elements (0x2031, one per message), a message with
//       the end element (0x2032, no value)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The largest chunk that keeps a message of one chunk element within the
// AP's 8192-byte receive buffer (4-byte message and element headers).
inline constexpr size_t SWSIM_IMAGE_CHUNK_DEFAULT = 8192 - 8;
// A chunk element is as long as a message can be.
inline constexpr size_t SWSIM_IMAGE_CHUNK_MAX = 65535 - 8;

// 28 with the server given as its 16 address bytes (`ipv6` sets the flag).
std::vector<uint8_t> swsim_msg_update_code(const uint8_t ap[6], const uint8_t server[16], bool ipv6,
                                           uint8_t mode, const std::string& file);
std::vector<uint8_t> swsim_msg_code_status(const uint8_t ap[6], uint8_t status);
std::vector<uint8_t> swsim_msg_reset(const uint8_t ap[6], uint8_t reset_type);
// The messages of one streamed image: start, ceil(size / chunk) chunks, end.
std::vector<std::vector<uint8_t>> swsim_msgs_image_upgrade(const std::vector<uint8_t>& image,
                                                           size_t chunk);

// A firmware step of a scenario, parsed (a last AP-MAC names another AP than
// the one the switch talks to, to try the AP's refusal):
//   update-code SERVER FILE [MODE] [AP-MAC]   28; SERVER IPv4 (or IPv6, which
//                                             the AP skips), MODE 0 to 255
//                                             (default 1), FILE up to 4000
//                                             bytes (the AP takes 128)
//   image-upgrade FILE [CHUNK-BYTES]          71; FILE is read when the step
//                                             runs; chunks of 1 to 65527 bytes
//                                             (default 8184: more than that
//                                             overruns the AP's buffer)
//   reset [upgrade] [AP-MAC]                  30, type 1 with upgrade, else 0
struct swsim_update_cmd {
    uint16_t type = 0;
    uint8_t server[16] = {};
    bool ipv6 = false;
    uint8_t mode = 1;
    std::string file;
    size_t chunk = SWSIM_IMAGE_CHUNK_DEFAULT;
    uint8_t reset_type = 0;
    uint8_t ap[6] = {};
    bool ap_given = false;
};
// 0, 1 when `verb` is not a firmware step, -1 with `error` set.
int swsim_update_cmd_parse(const std::string& verb, const std::vector<std::string>& args,
                           swsim_update_cmd& cmd, std::string& error);
// The messages of a step, `own_ap` unless the step named another AP; 0, or
// -1 with `error` set when the image file cannot be read.
int swsim_update_cmd_build(const swsim_update_cmd& cmd, const uint8_t own_ap[6],
                           std::vector<std::vector<uint8_t>>& msgs, std::string& error);

// One readable line for 28, 29, 30 and 71, element by element:
//   "code download status (29), 19 bytes: ap 00:1a:2b:3c:4d:50 status 2 (failed)"
// with "; MALFORMED: ..." for a wrong length field, an unknown element, one
// of the wrong length or cut short, and stray bytes; a status (29) must also
// be 19 bytes with the MAC first, one status of 1 or 2 after it.  Empty for
// other types.
std::string swsim_update_decode(const std::vector<uint8_t>& msg);
