#include "log/map_log.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.hpp"

uint32_t map_global_debug_trace = 0;

namespace {

int g_trace_fd = 0;
struct sockaddr_un g_trace_addr{};
bool g_trace_addr_ok = false;

// Writes all of `iov` to standard output; errors are ignored (logging never
// fails its caller).  write() is safe from the watchdog's signal handler.
void write_stdout(struct iovec* iov, int count) {
    while (count > 0) {
        ssize_t w = writev(STDOUT_FILENO, iov, count);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return;
        }
        auto left = static_cast<size_t>(w);
        while (count > 0 && left >= iov->iov_len) {
            left -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<char*>(iov->iov_base) + left;
            iov->iov_len -= left;
        }
    }
}

// Formats into `buf`; over-long text is cut at the buffer, never overflowed.
size_t format_into(char* buf, size_t size, const char* format, va_list ap) {
    int n = vsnprintf(buf, size, format, ap);
    if (n < 0) {
        buf[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

void print_line(const char* kind, const char* file, unsigned line, const char* function,
                const char* format, va_list ap) {
    char msg[MAP_LOG_BUF_SIZE] = {};
    size_t len = format_into(msg, sizeof msg, format, ap);
    char head[512];
    int h = snprintf(head, sizeof head, "%s: %s:%u:%s - ", kind, file ? file : "(null)", line,
                     function ? function : "(null)");
    size_t hlen = h < 0 ? 0 : (static_cast<size_t>(h) < sizeof head ? static_cast<size_t>(h)
                                                                      : sizeof head - 1);
    char nl[] = "\n";
    struct iovec iov[3] = {{head, hlen}, {msg, len}, {nl, 1}};
    write_stdout(iov, 3);
}

}  // namespace

void map_print_error(const char* file, unsigned line, const char* function, const char* format,
                     ...) {
    va_list ap;
    va_start(ap, format);
    print_line("Error", file, line, function, format, ap);
    va_end(ap);
}

void map_print_info(const char* file, unsigned line, const char* function, const char* format,
                    ...) {
    va_list ap;
    va_start(ap, format);
    print_line("INFO", file, line, function, format, ap);
    va_end(ap);
}

void map_print_debug_trace(uint32_t mask, const char* format, ...) {
    if ((map_global_debug_trace & mask) != mask) {
        return;
    }
    char msg[MAP_TRACE_BUF_SIZE] = {};
    va_list ap;
    va_start(ap, format);
    size_t len = format_into(msg, sizeof msg, format, ap);
    va_end(ap);
    char nl[] = "\n";
    struct iovec iov[2] = {{msg, len}, {nl, 1}};
    write_stdout(iov, 2);
    map_trace_log_send(msg);
}

int map_trace_log_init() {
    static constexpr char map_log_module[] = "map_log";
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd == 0) {
        // Descriptor 0 means "no trace socket": move it off standard input.
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
        close(fd);
        fd = moved;
    }
    if (fd < 0) {
        g_trace_fd = 0;
        MAP_ERROR("Unable to create the trace log socket");
        return -1;
    }
    // The destination is fixed for the life of the socket; resolving it once
    // keeps the trace path free of work.  A sandbox path too long for an
    // AF_UNIX address leaves traces on standard output only.
    memset(&g_trace_addr, 0, sizeof g_trace_addr);
    g_trace_addr.sun_family = AF_UNIX;
    char path[MAP_PLATFORM_PATH_MAX];
    g_trace_addr_ok = map_platform_path(MAP_TRACE_SOCKET_PATH, path, sizeof path) == 0 &&
                      strlen(path) < sizeof g_trace_addr.sun_path;
    if (g_trace_addr_ok) {
        memcpy(g_trace_addr.sun_path, path, strlen(path));
    } else {
        MAP_INFO("Trace socket path under %s is too long; traces go to standard output only",
                 map_platform_root());
    }
    g_trace_fd = fd;
    return 0;
}

int map_trace_log_deinit() {
    if (g_trace_fd > 0) {
        close(g_trace_fd);
    }
    g_trace_fd = 0;
    return 0;
}

int map_trace_log_send(const char* text) {
    if (g_trace_fd <= 0 || text == nullptr || !g_trace_addr_ok) {
        return 0;
    }
    // Never block the daemon on a listener that does not read: a full queue
    // drops the datagram like a missing listener does.
    return static_cast<int>(sendto(g_trace_fd, text, strlen(text), MSG_DONTWAIT,
                                   reinterpret_cast<const struct sockaddr*>(&g_trace_addr),
                                   sizeof g_trace_addr));
}

int map_trace_log_fd() { return g_trace_fd; }
