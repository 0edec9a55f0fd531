// Binary sysctl tables of the AP's kernel modules, and the sandbox's emulated
// tables with their write journal and refusal hook.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/platform.hpp"
#include "platform/platform_internal.hpp"

namespace {

// Longest name vector the kernel's binary sysctl accepted (CTL_MAXNAME).
constexpr int kMaxName = 10;

#ifdef SYS__sysctl
// The kernel's argument block of the removed binary sysctl call.
struct kernel_sysctl_args {
    int* name;
    int nlen;
    void* oldval;
    size_t* oldlenp;
    void* newval;
    size_t newlen;
    unsigned long unused[4];
};
#endif

int kernel_sysctl(const int* name, int nlen, void* oldval, size_t* oldlen, const void* newval,
                  size_t newlen) {
#ifdef SYS__sysctl
    kernel_sysctl_args args{};
    int copy[kMaxName];
    memcpy(copy, name, sizeof(int) * static_cast<size_t>(nlen));
    args.name = copy;
    args.nlen = nlen;
    args.oldval = oldval;
    args.oldlenp = oldlen;
    args.newval = const_cast<void*>(newval);
    args.newlen = newlen;
    long rc = syscall(SYS__sysctl, &args);
    if (rc != 0 && errno == ENOSYS) {
        MAP_PLATFORM_REPORT("this kernel has no binary sysctl call");
    }
    return rc == 0 ? 0 : -1;
#else
    (void)name, (void)nlen, (void)oldval, (void)oldlen, (void)newval, (void)newlen;
    MAP_PLATFORM_REPORT("this platform has no binary sysctl call");
    errno = ENOSYS;
    return -1;
#endif
}

bool name_ok(const int* name, int nlen) { return name != nullptr && nlen > 0 && nlen <= kMaxName; }

constexpr const char* kJournal = "/sandbox/sysctl.log";
constexpr const char* kRefuse = "/sandbox/sysctl-refuse";

// The name vector as "3.21.28.11"; false when it does not fit.
bool dotted(const int* name, int nlen, char* out, size_t cap) {
    size_t pos = 0;
    for (int i = 0; i < nlen; ++i) {
        int n = snprintf(out + pos, cap - pos, i == 0 ? "%d" : ".%d", name[i]);
        if (n < 0 || static_cast<size_t>(n) >= cap - pos) {
            return false;
        }
        pos += static_cast<size_t>(n);
    }
    return true;
}

// The reverse, for the entries' file names; false for any other name.
bool undotted(const char* text, std::vector<int>& v) {
    v.clear();
    for (const char* p = text;; ++p) {
        bool neg = *p == '-';
        p += neg ? 1 : 0;
        if (!isdigit(static_cast<unsigned char>(*p))) {
            return false;
        }
        long long x = 0;
        for (; isdigit(static_cast<unsigned char>(*p)) && x <= INT_MAX; ++p) {
            x = x * 10 + (*p - '0');
        }
        if (x > INT_MAX || v.size() == kMaxName) {
            return false;
        }
        v.push_back(static_cast<int>(neg ? -x : x));
        if (*p == '\0') {
            return true;
        }
        if (*p != '.') {
            return false;
        }
    }
}

// Values are shown in lower-case hex, two digits a byte.
constexpr char kDigits[] = "0123456789abcdef";

void append_hex(std::string& s, const void* value, size_t len) {
    const auto* p = static_cast<const uint8_t*>(value);
    for (size_t i = 0; i < len; ++i) {
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 15];
    }
}

bool write_all(int fd, const void* data, size_t len) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < len) {
        ssize_t w = write(fd, p + done, len - done);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return false;
        }
        done += static_cast<size_t>(w);
    }
    return true;
}

bool read_all(int fd, std::string& out) {
    char buf[65536];
    for (;;) {
        ssize_t r = read(fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            return r == 0;
        }
        out.append(buf, static_cast<size_t>(r));
    }
}

// Replaces a host file whole (written aside, then renamed over it), so that a
// reader in another process never sees half of it.
int replace_file(const char* path, const void* data, size_t len) {
    char tmp[MAP_PLATFORM_PATH_MAX + 8];
    snprintf(tmp, sizeof tmp, "%s.new", path);
    int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -1;
    }
    bool ok = write_all(fd, data, len);
    close(fd);
    if (!ok || rename(tmp, path) != 0) {
        unlink(tmp);
        return -1;
    }
    return 0;
}

// Creates the root's "/sandbox" folder for the journal and the refusal file.
void sandbox_dir() {
    char dir[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path("/sandbox", dir, sizeof dir) == 0) {
        mkdir(dir, 0755);
    }
}

// Appends one line to the journal; rotates it once it has passed its bound.
// The line is formed in a fixed buffer (one write for any usual value, no
// heap on the daemon's paths).  A journal that cannot be written costs the
// write nothing.
void journal(const char* name_text, const void* value, size_t len, bool written) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(kJournal, path, sizeof path) != 0) {
        return;
    }
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ENOENT) {
        sandbox_dir();
        fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }
    if (fd < 0) {
        return;
    }
    char line[4096];
    int head = snprintf(line, sizeof line, "%s%s", name_text, written ? " = " : " refused");
    size_t pos = static_cast<size_t>(head);
    bool ok = true;
    const auto* p = static_cast<const uint8_t*>(value);
    for (size_t i = 0; ok && i < (written ? len : 0); ++i) {
        if (pos + 2 > sizeof line) {
            ok = write_all(fd, line, pos);
            pos = 0;
        }
        line[pos++] = kDigits[p[i] >> 4];
        line[pos++] = kDigits[p[i] & 15];
    }
    if (pos == sizeof line) {
        ok = ok && write_all(fd, line, pos);
        pos = 0;
    }
    line[pos++] = '\n';
    bool full = false;
    struct stat st {};
    if (ok && write_all(fd, line, pos) && fstat(fd, &st) == 0) {
        full = static_cast<size_t>(st.st_size) > MAP_PLATFORM_SYSCTL_JOURNAL_MAX;
    }
    close(fd);
    if (full) {
        char old[MAP_PLATFORM_PATH_MAX + 4];
        snprintf(old, sizeof old, "%s.1", path);
        rename(path, old);
    }
}

// The refusal file: true when this write is the one to refuse.  Absent (the
// usual case), it costs one failed open.
bool refuse_file_fires() {
    char path[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path(kRefuse, path, sizeof path) != 0) {
        return false;
    }
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buf[24] = {};
    ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    char* end = nullptr;
    errno = 0;
    unsigned long left =
        n > 0 && isdigit(static_cast<unsigned char>(buf[0])) ? strtoul(buf, &end, 10) : 0;
    while (end != nullptr && isspace(static_cast<unsigned char>(*end))) {
        ++end;
    }
    if (left == 0 || errno != 0 || left > UINT_MAX || end == nullptr || *end != '\0') {
        MAP_PLATFORM_REPORT("%s holds no count of writes; removed", path);
        unlink(path);
        return false;
    }
    if (left == 1) {
        unlink(path);
        return true;
    }
    char text[24];
    int len = snprintf(text, sizeof text, "%lu\n", left - 1);
    replace_file(path, text, static_cast<size_t>(len));
    return false;
}

// Stores the value in the entry's file.
int sandbox_store(const int* name, int nlen, const void* value, size_t len) {
    char dir[MAP_PLATFORM_PATH_MAX];
    char file[MAP_PLATFORM_PATH_MAX];
    if (map_platform_path("/sysctl", dir, sizeof dir) != 0 ||
        map_platform_sysctl_file(name, nlen, file, sizeof file) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    mkdir(dir, 0755);
    // The entry holds the last value written: write aside, then rename over it.
    return replace_file(file, value, len);
}

}  // namespace

int map_platform_sysctl_file(const int* name, int nlen, char* out, size_t out_len) {
    char ap_path[16 * kMaxName + 16] = "/sysctl/";
    if (!name_ok(name, nlen) || !dotted(name, nlen, ap_path + 8, sizeof ap_path - 8)) {
        return -1;
    }
    return map_platform_path(ap_path, out, out_len);
}

int map_platform_sysctl_write(const int* name, int nlen, const void* value, size_t len) {
    if (!name_ok(name, nlen) || (value == nullptr && len != 0)) {
        errno = EINVAL;
        return -1;
    }
    bool refused = map_platform_detail::fail_now(map_platform_op::sysctl_write);
    if (!map_platform_is_sandbox()) {
        if (refused) {
            errno = EIO;
            return -1;
        }
        return kernel_sysctl(name, nlen, nullptr, nullptr, value, len);
    }
    // Every sandbox write counts the refusal file down, refused or not.
    refused = refuse_file_fires() || refused;
    char text[16 * kMaxName];
    dotted(name, nlen, text, sizeof text);
    if (refused) {
        journal(text, nullptr, 0, false);
        errno = EIO;
        return -1;
    }
    int rc = sandbox_store(name, nlen, value, len);
    int saved = errno;
    journal(text, value, len, rc == 0);
    errno = saved;
    return rc;
}

int map_platform_sysctl_read(const int* name, int nlen, void* out, size_t* len) {
    if (!name_ok(name, nlen) || out == nullptr || len == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (map_platform_detail::fail_now(map_platform_op::sysctl_read)) {
        errno = EIO;
        return -1;
    }
    if (!map_platform_is_sandbox()) {
        return kernel_sysctl(name, nlen, out, len, nullptr, 0);
    }
    char file[MAP_PLATFORM_PATH_MAX];
    if (map_platform_sysctl_file(name, nlen, file, sizeof file) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    size_t cap = *len;
    size_t done = 0;
    auto* p = static_cast<uint8_t*>(out);
    while (done < cap) {
        ssize_t r = read(fd, p + done, cap - done);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            close(fd);
            return -1;
        }
        if (r == 0) {
            break;
        }
        done += static_cast<size_t>(r);
    }
    close(fd);
    *len = done;
    return 0;
}

int map_platform_sysctl_inout(const int* name, int nlen, void* buf, size_t* len) {
    if (!name_ok(name, nlen) || len == nullptr || (buf == nullptr && *len != 0)) {
        errno = EINVAL;
        return -1;
    }
    bool refused = map_platform_detail::fail_now(map_platform_op::sysctl_write);
    if (!map_platform_is_sandbox()) {
        if (refused) {
            errno = EIO;
            return -1;
        }
        return kernel_sysctl(name, nlen, buf, len, nullptr, 0);
    }
    refused = refuse_file_fires() || refused;
    char text[16 * kMaxName];
    dotted(name, nlen, text, sizeof text);
    journal(text, buf, *len, !refused);
    if (refused) {
        errno = EIO;
        return -1;
    }
    // The emulated module: the entry's file, when there is one, is what the
    // module writes back into the buffer.
    char file[MAP_PLATFORM_PATH_MAX];
    if (map_platform_sysctl_file(name, nlen, file, sizeof file) != 0) {
        return 0;
    }
    int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    std::string bytes;
    const bool ok = read_all(fd, bytes);
    close(fd);
    if (ok && buf != nullptr) {
        memcpy(buf, bytes.data(), std::min(bytes.size(), *len));
    }
    return 0;
}

int map_platform_sysctl_refuse_arm(unsigned nth) {
    char path[MAP_PLATFORM_PATH_MAX];
    if (!map_platform_is_sandbox() || map_platform_path(kRefuse, path, sizeof path) != 0) {
        return -1;
    }
    if (nth == 0) {
        return unlink(path) == 0 || errno == ENOENT ? 0 : -1;
    }
    sandbox_dir();
    char text[24];
    int len = snprintf(text, sizeof text, "%u\n", nth);
    return replace_file(path, text, static_cast<size_t>(len));
}

int map_platform_sysctl_list(std::vector<std::string>& lines) {
    lines.clear();
    char dir[MAP_PLATFORM_PATH_MAX];
    if (!map_platform_is_sandbox() || map_platform_path("/sysctl", dir, sizeof dir) != 0) {
        return -1;
    }
    DIR* d = opendir(dir);
    if (d == nullptr) {
        return 0;  // nothing written yet
    }
    std::vector<std::pair<std::vector<int>, std::string>> entries;
    std::vector<int> v;
    while (const dirent* e = readdir(d)) {
        if (!undotted(e->d_name, v)) {
            continue;  // "." and "..", and a value being written aside
        }
        std::string file = std::string(dir) + "/" + e->d_name;
        std::string value;
        int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || !read_all(fd, value)) {
            value.clear();
        }
        if (fd >= 0) {
            close(fd);
        }
        std::string line = std::string(e->d_name) + " = ";
        append_hex(line, value.data(), value.size());
        entries.emplace_back(v, std::move(line));
    }
    closedir(d);
    std::sort(entries.begin(), entries.end());
    for (auto& e : entries) {
        lines.push_back(std::move(e.second));
    }
    return 0;
}

map_platform_journal_reader::~map_platform_journal_reader() {
    if (fd >= 0) {
        close(fd);
    }
}

namespace {

// Reads what the journal gained and hands out its complete lines.
void journal_drain(map_platform_journal_reader& r, std::vector<std::string>& lines) {
    read_all(r.fd, r.partial);
    size_t start = 0;
    for (size_t nl; (nl = r.partial.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(r.partial.substr(start, nl - start));
    }
    r.partial.erase(0, start);
}

bool journal_stat(struct stat& st) {
    char path[MAP_PLATFORM_PATH_MAX];
    return map_platform_is_sandbox() && map_platform_path(kJournal, path, sizeof path) == 0 &&
           stat(path, &st) == 0;
}

void journal_open(map_platform_journal_reader& r) {
    char path[MAP_PLATFORM_PATH_MAX];
    struct stat st {};
    if (r.fd >= 0) {
        close(r.fd);
    }
    r.fd = -1;
    r.partial.clear();
    if (!map_platform_is_sandbox() || map_platform_path(kJournal, path, sizeof path) != 0) {
        return;
    }
    r.fd = open(path, O_RDONLY | O_CLOEXEC);
    if (r.fd >= 0 && fstat(r.fd, &st) == 0) {
        r.dev = st.st_dev;
        r.ino = st.st_ino;
    }
}

}  // namespace

void map_platform_sysctl_journal_follow(map_platform_journal_reader& r) {
    journal_open(r);
    if (r.fd >= 0) {
        lseek(r.fd, 0, SEEK_END);
    }
}

void map_platform_sysctl_journal_poll(map_platform_journal_reader& r,
                                      std::vector<std::string>& lines) {
    struct stat st {};
    const bool moved = journal_stat(st) && !(r.fd >= 0 && st.st_dev == r.dev && st.st_ino == r.ino);
    if (r.fd >= 0) {
        journal_drain(r, lines);
    }
    if (!moved) {
        return;
    }
    // Rotated (or newly made): the writer renamed the old journal after its
    // last line, so that was read above; the new one is read from its start.
    journal_open(r);
    if (r.fd >= 0) {
        journal_drain(r, lines);
    }
}
