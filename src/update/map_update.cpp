// Firmware update: the code download child and the relay of its status to the
// switch, and the image streamed over the TLS channel.
#include "update/map_update.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "commands/map_cs_radio_cmds.hpp"
#include "core/managed_ap.hpp"
#include "log/map_log.hpp"
#include "platform/platform.hpp"
#include "stats/map_proc.hpp"
#include "switch/switch_comm.hpp"
#include "switch/switch_msg.hpp"
#include "update/map_reset.hpp"
#include "wire/wire.hpp"

namespace {

static constexpr char map_log_module[] = "map_update";

// The streamed image is appended as it comes, with no size announced: past
// this size the stream is refused and the file deleted, so that a runaway
// sender cannot fill the AP's RAM-backed /tmp.
constexpr off_t kImageMax = 64 * 1024 * 1024;

// The child retries a status datagram that could not be sent, but a bounded
// number of times (kStatusTries, kStatusPauseMs apart): a child must never
// spin forever when the daemon's port is gone.
constexpr int kStatusTries = 50;
constexpr long kStatusPauseMs = 100;

// A streamed image is being received: set by its first start or chunk
// element, cleared by its end element or an error.  A link lost meanwhile
// deletes the partial file (map_update_link_lost).
bool g_streaming = false;

// Runs a command line; its exit status, or -1 when it could not run or was
// ended by a signal.
int run_tool(const char* command) {
    const int st = map_platform_system(command);
    if (st == -1 || !WIFEXITED(st)) {
        return -1;
    }
    return WEXITSTATUS(st);
}

// Deletes the image file; true when it is gone (or was never there).
bool remove_image() {
    return map_platform_unlink(MAP_UPGRADE_FILE) == 0 || errno == ENOENT;
}

void drop_image() {
    g_streaming = false;
    (void)remove_image();
}

// The file name goes into shell command lines as it is: it is taken only when
// made of the characters of ordinary file names and not starting with '-' (a
// tool option), so that the switch cannot have the AP run anything else.  Its
// last component must name a file of its own in /tmp.
bool file_name_usable(const char* name, const char* base) {
    if (name[0] == '\0' || name[0] == '-' || base[0] == '\0' || strcmp(base, ".") == 0 ||
        strcmp(base, "..") == 0 || strchr(base, '/') != nullptr) {
        return false;
    }
    for (const char* p = name; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              strchr("._-+/,:@%=~", c) != nullptr)) {
            return false;
        }
    }
    return true;
}

// Sends one datagram to the daemon's own UDP port on 127.0.0.1, retrying a
// failed send (bounded, see kStatusTries).  0 or -1.  The shared
// map_udp_send_msg sends once and reports the count; the download status is
// worth the retries.
int send_to_daemon(const uint8_t* msg, size_t length) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        MAP_ERROR("Error in sending the debug msg");
        return -1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(map_switch_comm_ip_udp_port_get());
    if (inet_aton("127.0.0.1", &to.sin_addr) == 0) {
        MAP_ERROR("ERROR:inet_aton()");
        close(fd);
        return -1;
    }
    int result = -1;
    for (int tries = 0; tries < kStatusTries; ++tries) {
        if (sendto(fd, msg, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
            static_cast<ssize_t>(length)) {
            result = 0;
            break;
        }
        MAP_ERROR("error sending code download status completion msg to parent mapd process.");
        const timespec pause{0, kStatusPauseMs * 1000000L};
        nanosleep(&pause, nullptr);
    }
    close(fd);
    return result;
}

[[noreturn]] void download_child(const map_download_request* req, const char* local_path,
                                 const char* server) {
    uint8_t status = MAP_DOWNLOAD_STATUS_FAILED;
    if (copy_tftp(local_path, req->file_name, server) != 0) {
        MAP_ERROR("Error: TFTP code download failed");
    } else {
        MAP_INFO("Firmware file download successful");
        if (validate_firmware_file(local_path) != 0) {
            MAP_ERROR("Error: File validation failed");
        } else {
            MAP_INFO("Validation of firmware file successful");
            if (rename_firmware_file(local_path) != 0) {
                MAP_ERROR("Error: File rename failed");
            } else {
                status = MAP_DOWNLOAD_STATUS_OK;
            }
        }
    }
    sendCodeDownloadStatus(status);
    _exit(0);
}

// ---- image upgrade elements ------------------------------------------------------

bool image_start() {
    struct stat st {};
    if (map_platform_stat(MAP_UPGRADE_FILE, &st) == 0 &&
        map_platform_unlink(MAP_UPGRADE_FILE) != 0) {
        MAP_TRACE(MAP_TRACE_CODE_DOWNLOAD, "Failed to delete existing image upgrade file.\n");
        g_streaming = false;
        return false;
    }
    g_streaming = true;
    return true;
}

bool image_chunk(const wire_elem& e) {
    const int fd =
        map_platform_open(MAP_UPGRADE_FILE, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        MAP_TRACE(MAP_TRACE_CODE_DOWNLOAD, "Failed to open image file for appending.\n");
        drop_image();
        return false;
    }
    g_streaming = true;
    struct stat st {};
    if (!e.complete) {
        MAP_ERROR("Image chunk of %u bytes cut short at %zu bytes", e.len, e.value.size());
    } else if (fstat(fd, &st) != 0 || st.st_size + static_cast<off_t>(e.len) > kImageMax) {
        MAP_ERROR("Image file would pass %lld bytes; image upgrade refused",
                  static_cast<long long>(kImageMax));
    } else if (write(fd, e.value.data(), e.value.size()) != static_cast<ssize_t>(e.value.size())) {
        MAP_TRACE(MAP_TRACE_CODE_DOWNLOAD, "Failed to write to image file.\n");
    } else {
        close(fd);
        return true;
    }
    close(fd);
    drop_image();
    return false;
}

int image_end() {
    g_streaming = false;
    MAP_INFO("Received image upgrade message successfully.");
    if (validate_firmware_file(MAP_UPGRADE_FILE) != 0) {
        MAP_INFO("Image file validation failed.");
        if (!remove_image()) {
            MAP_ERROR("Failed to delete invalid image file.");
        }
        MAP_ERROR("Rebooting without image upgrade.");
        reboot();
        return -1;
    }
    MAP_INFO("Image upgrade file validation successful.");
    // The file already has its final name; the rename step is kept so that
    // both ways of getting an image end alike.
    if (rename_firmware_file(MAP_UPGRADE_FILE) != 0) {
        MAP_ERROR("Failed to rename image upgrade file.");
        return -1;
    }
    return 0;
}

}  // namespace

// ---- code download ---------------------------------------------------------------------

int map_process_update_code_pkt(map_switch_comm* rec, const uint8_t* data, int length) {
    if (rec == nullptr) {
        MAP_ERROR("Error: Incorrect input parameter");
        return -1;
    }
    map_download_request req{};
    size_t name_len = 0;
    wire_reader r = wire_reader_make(data, length > 0 ? static_cast<size_t>(length) : 0);
    wire_elem e;
    while (wire_remaining(r) >= 4 && wire_elem_next(r, e)) {
        if (e.type == MAP_UPDATE_ELEM_AP_MAC) {
            if (!map_cs_elem_is_own_mac(e, MAP_TRACE_CODE_DOWNLOAD)) {
                return -1;
            }
        } else if (e.type == MAP_UPDATE_ELEM_SERVER) {
            uint8_t value[MAP_SWITCH_ADDR_LEN];
            map_switch_addr addr;
            // Only an IPv4 address is taken; another family is passed over.
            if (wire_elem_fixed(e, value, sizeof value)) {
                map_switch_addr_decode(value, addr);
                if (addr.is_ipv6 == 0) {
                    req.server = map_switch_addr_ipv4(addr);
                }
            }
        } else if (e.type == MAP_UPDATE_ELEM_MODE) {
            (void)wire_elem_fixed(e, &req.mode, 1);
        } else if (e.type == MAP_UPDATE_ELEM_FILE) {
            // A name longer than the request holds is not cut (a cut name
            // would fetch another file): it is remembered and refused below.
            name_len = e.value.size();
            const size_t n = name_len <= MAP_UPDATE_FILE_NAME_MAX ? name_len : 0;
            memcpy(req.file_name, e.value.data(), n);
            req.file_name[n] = '\0';
        }
    }
    if (req.mode == MAP_UPDATE_MODE_TFTP && name_len > MAP_UPDATE_FILE_NAME_MAX) {
        MAP_ERROR("Error: Remote file name of %zu bytes is longer than %zu; download refused",
                  name_len, MAP_UPDATE_FILE_NAME_MAX);
        mapHandleDownloadStatus(MAP_DOWNLOAD_STATUS_FAILED);
        return -1;
    }
    return mapDownloadCode(&req);
}

int mapDownloadCode(const map_download_request* req) {
    if (req == nullptr) {
        return -1;
    }
    char name[MAP_UPDATE_FILE_NAME_MAX + 1];
    snprintf(name, sizeof name, "%s", req->file_name);
    char base[MAP_UPDATE_FILE_NAME_MAX + 1];
    getFileName(name, base, sizeof base);
    char server[INET_ADDRSTRLEN];
    const in_addr addr{htonl(req->server)};
    inet_ntop(AF_INET, &addr, server, sizeof server);
    if (req->mode != MAP_UPDATE_MODE_TFTP) {
        return 0;
    }
    if (!file_name_usable(name, base)) {
        MAP_ERROR("Error: Remote file name \"%s\" refused", name);
        mapHandleDownloadStatus(MAP_DOWNLOAD_STATUS_FAILED);
        return -1;
    }
    char local_path[sizeof "/tmp/" + MAP_UPDATE_FILE_NAME_MAX];
    snprintf(local_path, sizeof local_path, "/tmp/%s", base);
    signal(SIGCHLD, mapd_service_sig_child);
    const pid_t pid = map_platform_fork();
    if (pid < 0) {
        MAP_ERROR("Error: Forking child process for tftp file download failed");
        mapHandleDownloadStatus(MAP_DOWNLOAD_STATUS_FAILED);
        return -1;
    }
    if (pid == 0) {
        download_child(req, local_path, server);
    }
    return 0;
}

int copy_tftp(const char* local_path, const char* remote_file, const char* server) {
    char cmd[640];
    snprintf(cmd, sizeof cmd, "/usr/bin/tftp %s %s %s %s %s %s >/dev/console 2>&1", "-l",
             local_path, "-r", remote_file, "-g", server);
    return run_tool(cmd);
}

int validate_firmware_file(const char* path) {
    char cmd[320];
    snprintf(cmd, sizeof cmd, "/usr/sbin/flash-validate %s >/dev/console 2>&1", path);
    return run_tool(cmd);
}

int rename_firmware_file(const char* path) {
    char cmd[320];
    snprintf(cmd, sizeof cmd, "mv %s /tmp/upgrade.tar >/dev/console 2>&1", path);
    return run_tool(cmd);
}

void getFileName(const char* path, char* out, size_t out_len) {
    if (out == nullptr || out_len == 0) {
        return;
    }
    // basename(): trailing slashes do not count; a path of slashes is "/".
    size_t end = path != nullptr ? strlen(path) : 0;
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    size_t start = end;
    while (start > 0 && path[start - 1] != '/') {
        --start;
    }
    if (start == end && end > 0) {
        start = end - 1;  // the root itself
    }
    snprintf(out, out_len, "%.*s", static_cast<int>(end - start),
             path != nullptr ? path + start : "");
}

void map_code_download_status_build(uint8_t status, uint8_t out[MAP_CODE_DOWNLOAD_STATUS_LEN]) {
    uint8_t mac[6] = {};
    map_proc_get_mac_addr(mac, nullptr);
    wire_msg m;
    wire_msg_begin(m, out, MAP_CODE_DOWNLOAD_STATUS_LEN, SWITCH_CODE_DOWNLOAD_STATUS);
    wire_msg_add(m, MAP_UPDATE_ELEM_AP_MAC, mac, sizeof mac);
    wire_msg_add_u8(m, MAP_UPDATE_ELEM_STATUS, status);
    (void)wire_msg_finish(m);
}

void sendCodeDownloadStatus(uint8_t status) {
    uint8_t msg[MAP_CODE_DOWNLOAD_STATUS_LEN];
    map_code_download_status_build(status, msg);
    if (send_to_daemon(msg, sizeof msg) == 0) {
        MAP_INFO("Download Status Message sent to parent MAPD process");
    } else {
        MAP_ERROR("Error: Could not send Download Status Message to parent MAPD process");
    }
}

void mapHandleCodeDownloadStatus(map_switch_comm*, const uint8_t* data, int length) {
    wire_reader r = wire_reader_make(data, length > 0 ? static_cast<size_t>(length) : 0);
    wire_elem e;
    while (wire_remaining(r) >= 4 && wire_elem_next(r, e)) {
        uint8_t status = 0;
        if (e.type == MAP_UPDATE_ELEM_STATUS && wire_elem_fixed(e, &status, 1)) {
            MAP_INFO("Code download status =%d, received from child process", status);
            MAP_TRACE(MAP_TRACE_CODE_DOWNLOAD,
                      "Code download status =%d, received from child process", status);
            mapHandleDownloadStatus(status);
        }
    }
}

void mapHandleDownloadStatus(uint8_t status) {
    if (mapSendDownloadStatusMsg(status) != 0) {
        MAP_ERROR("Error: Could not send Download Status Message to WS");
        MAP_TRACE(MAP_TRACE_CODE_DOWNLOAD, "Could not send Code download status =%d msg to WS.",
                  status);
        return;
    }
    MAP_INFO("Download Status =%d,Message sent to WS", status);
    MAP_TRACE(MAP_TRACE_CODE_DOWNLOAD, "Code download status =%d msg sent to WS.", status);
}

int mapSendDownloadStatusMsg(uint8_t status) {
    uint8_t msg[MAP_CODE_DOWNLOAD_STATUS_LEN];
    map_code_download_status_build(status, msg);
    return map_switch_comm_data_send(get_switch_context(), msg, sizeof msg, 1) == 0 ? 0 : -1;
}

bool map_update_status_source_ok(const sockaddr_in* from) {
    if (from != nullptr && from->sin_family == AF_INET &&
        from->sin_addr.s_addr == htonl(INADDR_LOOPBACK)) {
        return true;
    }
    char text[INET_ADDRSTRLEN] = "unknown";
    if (from != nullptr && from->sin_family == AF_INET) {
        inet_ntop(AF_INET, &from->sin_addr, text, sizeof text);
    }
    MAP_ERROR("Code download status from %s dropped: only this AP's download child sends it", text);
    return false;
}

// ---- image upgrade over TLS -------------------------------------------------------------

int map_process_auto_update_msg(map_switch_comm* rec, const uint8_t* data, int length) {
    if (rec == nullptr) {
        MAP_ERROR("Error: Incorrect input parameter");
        return -1;
    }
    bool ended = false;
    wire_reader r = wire_reader_make(data, length > 0 ? static_cast<size_t>(length) : 0);
    wire_elem e;
    // Every element, a start or end element or an unknown one with a value
    // too, is passed over by its length.
    while (wire_remaining(r) >= 4 && wire_elem_next(r, e)) {
        ended = false;
        if (e.type == MAP_IMAGE_ELEM_END) {
            if (image_end() != 0) {
                return -1;
            }
            ended = true;
            continue;
        }
        if (e.type == MAP_IMAGE_ELEM_START) {
            if (!image_start()) {
                return -1;
            }
        } else if (e.type == MAP_IMAGE_ELEM_CHUNK) {
            if (!image_chunk(e)) {
                return -1;
            }
        } else {
            MAP_INFO("Unknown element ID:%d.", e.type);
        }
        if (rec->state < MAP_SWITCH_COMM_SSL_ESTABLISH_MODE) {
            MAP_ERROR("AP is in %d state to accept messages from Switch.", rec->state);
            g_streaming = false;
            if (!remove_image()) {
                MAP_ERROR("Failed to delete image file after AP-Switch TLS disconnect.");
            }
            return -1;
        }
    }
    if (ended) {
        const map_reset_request reset{MAP_RESET_TYPE_UPGRADE, 0};
        mapAPReset(&reset);
    }
    return 0;
}

void map_update_link_lost() {
    if (!g_streaming) {
        return;  // a finished download at the same path stays
    }
    g_streaming = false;
    MAP_INFO("Link to the switch lost during an image upgrade: partial image deleted");
    if (!remove_image()) {
        MAP_ERROR("Failed to delete image file after AP-Switch TLS disconnect.");
    }
}
