// Firmware update: the switch has the AP fetch an image by TFTP in a child
// process (code download, with its status relayed to the switch), or streams
// the image over the TLS channel (image upgrade).  The image ends up as
// "/tmp/upgrade.tar", installed by an AP reset with upgrade (map_reset.hpp).
#pragma once

#include <cstddef>
#include <cstdint>

struct map_switch_comm;
struct sockaddr_in;

// ---- messages and elements -----------------------------------------------------------

inline constexpr const char* MAP_UPGRADE_FILE = "/tmp/upgrade.tar";
inline constexpr size_t MAP_UPDATE_FILE_NAME_MAX = 128;  // characters, a NUL after them

// Code download status (type 29), from the child to the daemon and from the
// daemon to the switch: header, AP MAC element (33, 6), status element
// (0x4104, 1).  19 bytes, big-endian.
inline constexpr size_t MAP_CODE_DOWNLOAD_STATUS_LEN = 19;
inline constexpr uint16_t MAP_UPDATE_ELEM_AP_MAC = 33;
inline constexpr uint16_t MAP_UPDATE_ELEM_SERVER = 0x101;     // 17: family, 16 address bytes
inline constexpr uint16_t MAP_UPDATE_ELEM_MODE = 0x4101;      // 1: transfer mode
inline constexpr uint16_t MAP_UPDATE_ELEM_FILE = 0x4103;      // the remote file name
inline constexpr uint16_t MAP_UPDATE_ELEM_STATUS = 0x4104;    // 1: download status
inline constexpr uint8_t MAP_UPDATE_MODE_TFTP = 1;
inline constexpr uint8_t MAP_DOWNLOAD_STATUS_OK = 1;      // fetched, validated, in place
inline constexpr uint8_t MAP_DOWNLOAD_STATUS_FAILED = 2;

// Image upgrade elements (type 71).
inline constexpr uint16_t MAP_IMAGE_ELEM_START = 0x2030;
inline constexpr uint16_t MAP_IMAGE_ELEM_CHUNK = 0x2031;
inline constexpr uint16_t MAP_IMAGE_ELEM_END = 0x2032;

// A download request from the elements of SWITCH_UPDATE_CODE.
struct map_download_request {
    uint8_t mode;                                    // 1: TFTP
    uint32_t server;                                 // IPv4, host order; 0 when none was given
    char file_name[MAP_UPDATE_FILE_NAME_MAX + 1];    // NUL-terminated
};

// ---- code download ---------------------------------------------------------------------

// SWITCH_UPDATE_CODE (28): `data` is the message after its header.  0 or -1.
int map_process_update_code_pkt(map_switch_comm* rec, const uint8_t* data, int length);
// Starts the download child for `req` (nothing unless the mode is TFTP).  0 or -1.
int mapDownloadCode(const map_download_request* req);
// The child's three commands; each returns its exit status (0 = success).
int copy_tftp(const char* local_path, const char* remote_file, const char* server);
int validate_firmware_file(const char* path);
int rename_firmware_file(const char* path);
// The last path component of `path` into `out` (`out_len` bytes, cut and
// terminated).
void getFileName(const char* path, char* out, size_t out_len);
// Builds the 19-byte status message with the AP's MAC into `out`.
void map_code_download_status_build(uint8_t status, uint8_t out[MAP_CODE_DOWNLOAD_STATUS_LEN]);
// In the child: sends the status to the daemon's own UDP port.
void sendCodeDownloadStatus(uint8_t status);
// The daemon's handler of a status datagram (type 29); `data` is the message
// after its header.
void mapHandleCodeDownloadStatus(map_switch_comm* rec, const uint8_t* data, int length);
// Sends the status to the switch over TLS.
void mapHandleDownloadStatus(uint8_t status);
int mapSendDownloadStatusMsg(uint8_t status);
// Whether a status datagram from `from` is taken: only the download
// child sends it, from 127.0.0.1.  Any other (or unknown) source is logged.
bool map_update_status_source_ok(const sockaddr_in* from);

// ---- image upgrade over TLS -------------------------------------------------------------

// SWITCH_AP_IMAGE_UPGRADE (71): `data` is the message after its header.  0 or -1.
int map_process_auto_update_msg(map_switch_comm* rec, const uint8_t* data, int length);
// The TLS link is gone: an image being streamed is deleted (a finished
// download at the same path stays).
void map_update_link_lost();
