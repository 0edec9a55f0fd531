// Binary sysctl tables of the AP's kernel modules.
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace

int map_platform_sysctl_file(const int* name, int nlen, char* out, size_t out_len) {
    if (!name_ok(name, nlen)) {
        return -1;
    }
    char ap_path[16 * kMaxName + 16] = "/sysctl/";
    size_t pos = strlen(ap_path);
    for (int i = 0; i < nlen; ++i) {
        int n = snprintf(ap_path + pos, sizeof ap_path - pos, i == 0 ? "%d" : ".%d", name[i]);
        if (n < 0 || static_cast<size_t>(n) >= sizeof ap_path - pos) {
            return -1;
        }
        pos += static_cast<size_t>(n);
    }
    return map_platform_path(ap_path, out, out_len);
}

int map_platform_sysctl_write(const int* name, int nlen, const void* value, size_t len) {
    if (!name_ok(name, nlen) || (value == nullptr && len != 0)) {
        errno = EINVAL;
        return -1;
    }
    if (map_platform_detail::fail_now(map_platform_op::sysctl_write)) {
        errno = EIO;
        return -1;
    }
    if (!map_platform_is_sandbox()) {
        return kernel_sysctl(name, nlen, nullptr, nullptr, value, len);
    }
    char dir[MAP_PLATFORM_PATH_MAX];
    char file[MAP_PLATFORM_PATH_MAX];
    char tmp[MAP_PLATFORM_PATH_MAX + 8];
    if (map_platform_path("/sysctl", dir, sizeof dir) != 0 ||
        map_platform_sysctl_file(name, nlen, file, sizeof file) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    mkdir(dir, 0755);
    // The entry holds the last value written: write aside, then rename over it.
    snprintf(tmp, sizeof tmp, "%s.new", file);
    int fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -1;
    }
    const auto* p = static_cast<const uint8_t*>(value);
    size_t done = 0;
    while (done < len) {
        ssize_t w = write(fd, p + done, len - done);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            close(fd);
            unlink(tmp);
            return -1;
        }
        done += static_cast<size_t>(w);
    }
    close(fd);
    return rename(tmp, file) == 0 ? 0 : -1;
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
