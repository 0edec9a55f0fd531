// maptrace: watches the daemon's traces.
//
// Binds the trace socket path ("/tmp/map_debug_trace", under a sandbox root
// when one is given) and prints every trace datagram with a timestamp until
// Ctrl-C, SIGTERM, or --count datagrams.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "log/map_log.hpp"
#include "platform/platform.hpp"

namespace {

volatile sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

void usage(FILE* to) {
    fprintf(to,
            "usage: maptrace [--root DIR] [--count N]\n"
            "  Prints the daemon's trace datagrams as they arrive, each with a timestamp.\n"
            "  --root DIR   listen on the trace socket of the sandbox root DIR\n"
            "  --count N    exit after N datagrams\n"
            "  --help, -h   this text\n"
            "Exit status: 0 stopped, 1 cannot listen, 2 bad usage.\n");
}

// "[2026-12-06 10:15:02.123] text" with the text's own trailing newlines
// folded into one.
void print_trace(const char* text, size_t len) {
    struct timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    char stamp[40];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) {
        --len;
    }
    printf("[%s.%03ld] %.*s\n", stamp, ts.tv_nsec / 1000000, static_cast<int>(len), text);
    fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    long count = -1;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--root") == 0 && i + 1 < argc) {
            if (map_platform_set_root(argv[++i]) != 0) {
                fprintf(stderr, "maptrace: %s is not a usable sandbox root\n", argv[i]);
                return 2;
            }
        } else if (strcmp(argv[i], "--count") == 0 && i + 1 < argc) {
            char* end = nullptr;
            count = strtol(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || count <= 0) {
                fprintf(stderr, "maptrace: --count needs a positive number\n");
                return 2;
            }
        } else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return 0;
        } else {
            const bool known = strcmp(argv[i], "--root") == 0 || strcmp(argv[i], "--count") == 0;
            fprintf(stderr, "maptrace: %s %s (maptrace --help)\n",
                    known ? "a value is needed after" : "unknown argument", argv[i]);
            return 2;
        }
    }

    struct sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    char path[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(MAP_TRACE_SOCKET_PATH, path, sizeof path) != 0 ||
        strlen(path) >= sizeof addr.sun_path) {
        fprintf(stderr, "maptrace: trace socket path is too long for a socket address\n");
        return 1;
    }
    memcpy(addr.sun_path, path, strlen(path));

    // Handlers first: a Ctrl-C as soon as the socket exists still removes it.
    struct sigaction sa{};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fprintf(stderr, "maptrace: socket: %s\n", strerror(errno));
        return 1;
    }
    unlink(path);  // a socket left by an earlier listener
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
        fprintf(stderr, "maptrace: cannot listen on %s: %s\n", path, strerror(errno));
        close(fd);
        return 1;
    }

    fprintf(stderr, "maptrace: listening on %s\n", path);
    static char buf[MAP_TRACE_BUF_SIZE + 1];
    long seen = 0;
    while (!g_stop && (count < 0 || seen < count)) {
        struct pollfd pfd{fd, POLLIN, 0};
        int r = poll(&pfd, 1, 500);
        if (r < 0 && errno != EINTR) {
            fprintf(stderr, "maptrace: poll: %s\n", strerror(errno));
            break;
        }
        if (r <= 0) {
            continue;
        }
        ssize_t n = recv(fd, buf, MAP_TRACE_BUF_SIZE, 0);
        if (n < 0) {
            continue;
        }
        print_trace(buf, static_cast<size_t>(n));
        ++seen;
    }
    close(fd);
    unlink(path);
    return 0;
}
