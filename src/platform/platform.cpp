#include "platform/platform.hpp"

#include <fcntl.h>
#include <net/if.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>

#include "platform/platform_internal.hpp"

namespace {

// The sandbox root without a trailing slash; empty in production.
char g_root[MAP_PLATFORM_PATH_MAX / 2] = "";
size_t g_root_len = 0;

std::array<unsigned, static_cast<size_t>(map_platform_op::count_)> g_fail_in{};

unsigned g_alarm_last = 0;
unsigned g_alarm_calls = 0;

}  // namespace

namespace map_platform_detail {

bool fail_now(map_platform_op op) { return map_platform_fails(op); }

void report(unsigned line, const char* function, const char* format, ...) {
    char msg[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(msg, sizeof msg, format, ap);
    va_end(ap);
    char out[1200];
    int n = snprintf(out, sizeof out, "Error: platform:%u:%s - %s\n", line, function, msg);
    if (n > 0) {
        size_t len = static_cast<size_t>(n) < sizeof out ? static_cast<size_t>(n) : sizeof out - 1;
        ssize_t w = write(STDOUT_FILENO, out, len);
        (void)w;
    }
}

}  // namespace map_platform_detail

int map_platform_set_root(const char* root) {
    if (root == nullptr || root[0] == '\0') {
        g_root[0] = '\0';
        g_root_len = 0;
        map_platform_detail::g_fail_watch = false;
        for (unsigned n : g_fail_in) {
            map_platform_detail::g_fail_watch = map_platform_detail::g_fail_watch || n != 0;
        }
        return 0;
    }
    size_t len = strlen(root);
    while (len > 1 && root[len - 1] == '/') {
        --len;
    }
    if (root[0] != '/' || len >= sizeof g_root || (len == 1 && root[0] == '/')) {
        MAP_PLATFORM_REPORT("sandbox root must be an absolute directory other than /: %s", root);
        return -1;
    }
    char copy[sizeof g_root];
    memcpy(copy, root, len);
    copy[len] = '\0';
    struct stat st{};
    if (stat(copy, &st) != 0 || !S_ISDIR(st.st_mode)) {
        MAP_PLATFORM_REPORT("sandbox root %s is not a directory", copy);
        return -1;
    }
    memcpy(g_root, copy, len + 1);
    g_root_len = len;
    map_platform_detail::g_fail_watch = true;
    return 0;
}

const char* map_platform_root() { return g_root; }

bool map_platform_is_sandbox() { return g_root_len != 0; }

int map_platform_path(const char* ap_path, char* out, size_t out_len) {
    if (ap_path == nullptr || out == nullptr || out_len == 0 || ap_path[0] != '/') {
        return -1;
    }
    size_t plen = strlen(ap_path);
    if (g_root_len + plen + 1 > out_len) {
        return -1;
    }
    memcpy(out, g_root, g_root_len);
    memcpy(out + g_root_len, ap_path, plen + 1);
    return 0;
}

FILE* map_platform_fopen(const char* ap_path, const char* mode) {
    char p[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(ap_path, p, sizeof p) != 0) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    if (map_platform_fails(map_platform_op::open)) {
        errno = EMFILE;
        return nullptr;
    }
    return fopen(p, mode);
}

int map_platform_open(const char* ap_path, int flags, mode_t mode) {
    char p[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(ap_path, p, sizeof p) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    if (map_platform_fails(map_platform_op::open)) {
        errno = EMFILE;
        return -1;
    }
    return open(p, flags | O_CLOEXEC, mode);
}

int map_platform_stat(const char* ap_path, struct stat* st) {
    char p[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(ap_path, p, sizeof p) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return stat(p, st);
}

int map_platform_access(const char* ap_path, int mode) {
    char p[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(ap_path, p, sizeof p) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return access(p, mode);
}

int map_platform_unlink(const char* ap_path) {
    char p[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(ap_path, p, sizeof p) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return unlink(p);
}

int map_platform_rename(const char* ap_from, const char* ap_to) {
    char a[MAP_PLATFORM_PATH_MAX];
    char b[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(ap_from, a, sizeof a) != 0 || map_platform_path(ap_to, b, sizeof b) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return rename(a, b);
}

int map_platform_chmod(const char* ap_path, mode_t mode) {
    char p[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(ap_path, p, sizeof p) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return chmod(p, mode);
}

// ---- interfaces ----------------------------------------------------------------

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "aa:bb:cc:dd:ee:ff" as the kernel writes it under /sys/class/net.
int parse_mac_text(const char* text, uint8_t mac[6]) {
    for (int i = 0; i < 6; ++i) {
        int hi = hex_digit(text[i * 3]);
        int lo = hi < 0 ? -1 : hex_digit(text[i * 3 + 1]);
        if (hi < 0 || lo < 0) {
            return -1;
        }
        char sep = text[i * 3 + 2];
        if (i < 5 ? sep != ':' : (sep != '\0' && sep != '\n')) {
            return -1;
        }
        mac[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return 0;
}

}  // namespace

int map_platform_tls_keylog_path(char* out, size_t out_len) {
    if (!map_platform_is_sandbox() || out == nullptr || out_len == 0) return -1;
    out[0] = '\0';
    char conf[MAP_PLATFORM_PATH_MAX];
    if (snprintf(conf, sizeof conf, "%s/sandbox/tls-keylog", g_root) >= static_cast<int>(sizeof conf)) {
        return -1;
    }
    int fd = open(conf, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    ssize_t n = read(fd, out, out_len - 1);
    close(fd);
    if (n <= 0) {
        out[0] = '\0';
        return -1;
    }
    out[n] = '\0';
    out[strcspn(out, "\r\n")] = '\0';
    // Only an absolute path: a relative one would land wherever the daemon runs.
    if (out[0] != '/') {
        out[0] = '\0';
        return -1;
    }
    return 0;
}

int map_platform_tls_keylog_write(const char* line) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (line == nullptr || map_platform_tls_keylog_path(path, sizeof path) != 0) return -1;
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    // One write per line: lines of two daemons sharing a file stay whole.
    char buf[512];
    int len = snprintf(buf, sizeof buf, "%s\n", line);
    int rc = (len > 0 && len < static_cast<int>(sizeof buf) && write(fd, buf, static_cast<size_t>(len)) == len) ? 0 : -1;
    close(fd);
    return rc;
}

int map_platform_get_hwaddr(const char* ifname, uint8_t mac[6]) {
    if (ifname == nullptr || mac == nullptr || ifname[0] == '\0' || strlen(ifname) >= IFNAMSIZ ||
        strchr(ifname, '/') != nullptr) {
        return -1;
    }
    if (map_platform_is_sandbox()) {
        char ap_path[64];
        snprintf(ap_path, sizeof ap_path, "/sys/class/net/%s/address", ifname);
        // open/read, not stdio: the statistics read this on every report,
        // which must not allocate.
        int fd = map_platform_open(ap_path, O_RDONLY);
        if (fd < 0) {
            return -1;
        }
        char text[32] = {};
        ssize_t n = read(fd, text, sizeof text - 1);
        close(fd);
        if (n < 0) {
            return -1;
        }
        return parse_mac_text(text, mac);
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    struct ifreq ifr{};
    memcpy(ifr.ifr_name, ifname, strlen(ifname));
    int rc = ioctl(fd, SIOCGIFHWADDR, &ifr);
    close(fd);
    if (rc != 0) {
        return -1;
    }
    memcpy(mac, ifr.ifr_hwaddr.sa_data, 6);
    return 0;
}

// ---- processes and signals -------------------------------------------------------

namespace {

int sandbox_reboot_log(char* out, size_t out_len) {
    return map_platform_path("/sandbox/reboot.log", out, out_len);
}

}  // namespace

int map_platform_signal_init(int sig) {
    if (!map_platform_is_sandbox()) {
        return kill(1, sig);
    }
    char dir[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path("/sandbox", dir, sizeof dir) != 0) {
        return -1;
    }
    mkdir(dir, 0755);
    FILE* f = map_platform_fopen("/sandbox/reboot.log", "a");
    if (f == nullptr) {
        MAP_PLATFORM_REPORT("cannot record the reboot signal under %s", dir);
        return -1;
    }
    fprintf(f, "signal %d to process 1\n", sig);
    fclose(f);
    return 0;
}

int map_platform_reboot_count() {
    char p[MAP_PLATFORM_PATH_MAX];
    if (!map_platform_is_sandbox() || sandbox_reboot_log(p, sizeof p) != 0) {
        return 0;
    }
    FILE* f = fopen(p, "r");
    if (f == nullptr) {
        return 0;
    }
    int lines = 0;
    for (int c = fgetc(f); c != EOF; c = fgetc(f)) {
        lines += c == '\n';
    }
    fclose(f);
    return lines;
}

unsigned map_platform_alarm(unsigned seconds) {
    g_alarm_last = seconds;
    ++g_alarm_calls;
    return alarm(seconds);
}

unsigned map_platform_alarm_last() { return g_alarm_last; }

unsigned map_platform_alarm_calls() { return g_alarm_calls; }

pid_t map_platform_fork() {
    if (map_platform_detail::fail_now(map_platform_op::fork)) {
        errno = EAGAIN;
        return -1;
    }
    return fork();
}

// ---- failure injection ------------------------------------------------------------

namespace {

constexpr const char* kOpNames[] = {"sysctl_write", "sysctl_read", "system",    "fork",
                                    "tls_send",     "udp_send",    "local_send", "socket",
                                    "open",         "alloc"};
static_assert(sizeof kOpNames / sizeof kOpNames[0] == static_cast<size_t>(map_platform_op::count_));

constexpr const char* kFailFile = "/sandbox/fail";

// Replaces the file's content in one step (a reader sees the old or the new).
void fail_file_write(const char* path, const char* text) {
    char tmp[MAP_PLATFORM_PATH_MAX + 8];
    snprintf(tmp, sizeof tmp, "%s.new", path);
    int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    ssize_t w = write(fd, text, strlen(text));
    close(fd);
    if (w == static_cast<ssize_t>(strlen(text))) {
        rename(tmp, path);
    } else {
        unlink(tmp);
    }
}

// Whether the fail file was there when last looked for (map_platform_fail_file_poll
// once a loop pass, or an arm in this process): while it is not, a guarded
// call costs nothing more, so the twin's file reads and sends keep their speed.
bool g_fail_file_seen = false;

// The fail file of the sandbox: true when this call of `op` is the one to
// fail.  It allocates nothing, since allocation is one of the operations it
// fails.
bool fail_file_fires(map_platform_op op) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (!g_fail_file_seen || map_platform_path(kFailFile, path, sizeof path) != 0) {
        return false;
    }
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        g_fail_file_seen = false;
        return false;
    }
    char buf[48] = {};
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    char name[24] = {};
    unsigned long left = 0;
    char extra = 0;
    int idx = -1;
    if (n > 0 && sscanf(buf, "%23s %lu %c", name, &left, &extra) == 2 && left >= 1 &&
        left <= UINT_MAX) {
        for (size_t i = 0; i < sizeof kOpNames / sizeof kOpNames[0]; ++i) {
            idx = strcmp(name, kOpNames[i]) == 0 ? static_cast<int>(i) : idx;
        }
    }
    if (idx < 0) {
        MAP_PLATFORM_REPORT("%s holds no operation and count; removed", path);
        unlink(path);
        return false;
    }
    if (idx != static_cast<int>(op)) {
        return false;
    }
    if (left == 1) {
        unlink(path);
        g_fail_file_seen = false;
        return true;
    }
    char text[48];
    snprintf(text, sizeof text, "%s %lu\n", name, left - 1);
    fail_file_write(path, text);
    return false;
}

}  // namespace

namespace map_platform_detail {

bool g_fail_watch = false;

bool fail_fires(map_platform_op op) {
    bool fires = false;
    unsigned& n = g_fail_in[static_cast<size_t>(op)];
    if (n != 0) {
        fires = --n == 0;
    }
    // The file counts every call of its operation down, fired above or not.
    if (map_platform_is_sandbox()) {
        fires = fail_file_fires(op) || fires;
    }
    return fires;
}

}  // namespace map_platform_detail

const char* map_platform_op_name(map_platform_op op) {
    const auto i = static_cast<size_t>(op);
    return i < sizeof kOpNames / sizeof kOpNames[0] ? kOpNames[i] : nullptr;
}

void map_platform_fail_nth(map_platform_op op, unsigned nth) {
    g_fail_in[static_cast<size_t>(op)] = nth;
    map_platform_detail::g_fail_watch = true;
}

void map_platform_fail_clear() {
    g_fail_in.fill(0);
    map_platform_detail::g_fail_watch = map_platform_is_sandbox();
}

int map_platform_fail_file_arm(map_platform_op op, unsigned nth) {
    char path[MAP_PLATFORM_PATH_MAX];
    const char* name = map_platform_op_name(op);
    if (!map_platform_is_sandbox() || name == nullptr ||
        map_platform_path(kFailFile, path, sizeof path) != 0) {
        return -1;
    }
    if (nth == 0) {
        return unlink(path) == 0 || errno == ENOENT ? 0 : -1;
    }
    char dir[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path("/sandbox", dir, sizeof dir) == 0) {
        mkdir(dir, 0755);
    }
    char text[48];
    snprintf(text, sizeof text, "%s %u\n", name, nth);
    fail_file_write(path, text);
    g_fail_file_seen = access(path, R_OK) == 0;
    return g_fail_file_seen ? 0 : -1;
}

void map_platform_fail_file_poll() {
    char path[MAP_PLATFORM_PATH_MAX];
    g_fail_file_seen = map_platform_is_sandbox() &&
                       map_platform_path(kFailFile, path, sizeof path) == 0 &&
                       access(path, F_OK) == 0;
}
