// Shell commands of the AP image.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/platform.hpp"
#include "platform/platform_internal.hpp"

namespace {

constexpr size_t kCommandMax = 8192;

// Tools that act on other processes or on the machine itself.  In a sandbox
// they must come from the root's own tool folders; a bare name is replaced by
// the root's copy so that neither a shell builtin (kill) nor the host's copy
// can run.
constexpr std::string_view kGuardedTools[] = {
    "ps",     "kill",    "killall", "killall5", "pkill",    "xargs",     "init",   "telinit",
    "reboot", "halt",    "poweroff", "shutdown", "systemctl", "busybox", "nsenter", "sudo",
};

// Devices that stay the host's: they carry no AP state.
constexpr std::string_view kHostDevices[] = {
    "/dev/null", "/dev/zero", "/dev/random", "/dev/urandom", "/dev/stdin", "/dev/stdout",
    "/dev/stderr", "/dev/tty",
};

constexpr const char* kToolDirs[] = {"/sbin", "/usr/sbin", "/bin", "/usr/bin"};

bool is_delim(char c) {
    return c == '\0' || c == ' ' || c == '\t' || c == '\n' || c == ';' || c == '|' || c == '&' ||
           c == '<' || c == '>' || c == '(' || c == ')' || c == '`' || c == '\'' || c == '"';
}

// Characters after which a new word (or an AP path) may start.
bool starts_word_after(char prev) {
    return prev == '\0' || prev == ' ' || prev == '\t' || prev == '\n' || prev == ';' ||
           prev == '|' || prev == '&' || prev == '<' || prev == '>' || prev == '(' ||
           prev == '`' || prev == '=' || prev == '"' || prev == '\'';
}

bool is_host_device(std::string_view path) {
    for (auto d : kHostDevices) {
        if (path == d) return true;
    }
    return path.starts_with("/dev/fd/");
}

bool is_guarded(std::string_view word) {
    for (auto t : kGuardedTools) {
        if (word == t) return true;
    }
    return false;
}

// The root's own copy of `tool` in its tool folders, written to `out`.
bool find_root_tool(std::string_view tool, char* out, size_t out_len) {
    for (const char* dir : kToolDirs) {
        char ap_path[128];
        int n = snprintf(ap_path, sizeof ap_path, "%s/%.*s", dir, static_cast<int>(tool.size()),
                         tool.data());
        if (n < 0 || static_cast<size_t>(n) >= sizeof ap_path) {
            continue;
        }
        if (map_platform_path(ap_path, out, out_len) == 0 && access(out, X_OK) == 0) {
            return true;
        }
    }
    return false;
}

struct out_text {
    char* buf;
    size_t cap;
    size_t len;
    bool ok;
};

void put(out_text& o, std::string_view s) {
    if (!o.ok || s.size() >= o.cap - o.len) {
        o.ok = false;
        return;
    }
    memcpy(o.buf + o.len, s.data(), s.size());
    o.len += s.size();
    o.buf[o.len] = '\0';
}

// Rewrites a command for the sandbox: AP paths go under the root (not inside
// single quotes, which hold awk/sed programs), guarded tools become the root's
// copy.  Returns 0, or -1 when refused or too long.
int sandbox_rewrite(const char* command, char* out, size_t out_len) {
    const std::string_view root = map_platform_root();
    out_text o{out, out_len, 0, out_len > 0};
    if (o.ok) out[0] = '\0';
    char quote = '\0';
    char prev = '\0';
    size_t i = 0;
    const size_t n = strlen(command);
    while (i < n) {
        char c = command[i];
        bool word_start = starts_word_after(prev) && !is_delim(c);
        if (word_start) {
            size_t j = i;
            while (j < n && !is_delim(command[j])) ++j;
            std::string_view word(command + i, j - i);
            if (c == '/' && quote != '\'') {
                bool already = word.size() > root.size() && word.starts_with(root) &&
                               word[root.size()] == '/';
                if (!is_host_device(word) && !already) {
                    put(o, root);
                }
                put(o, word);
            } else if (is_guarded(word)) {
                char tool[MAP_PLATFORM_PATH_MAX];
                if (!find_root_tool(word, tool, sizeof tool)) {
                    MAP_PLATFORM_REPORT("refusing \"%s\": the sandbox root has no %.*s of its own",
                                        command, static_cast<int>(word.size()), word.data());
                    return -1;
                }
                put(o, tool);
            } else {
                put(o, word);
            }
            prev = command[j - 1];
            i = j;
            continue;
        }
        if (c == '\'' || c == '"') {
            if (quote == '\0') {
                quote = c;
            } else if (quote == c) {
                quote = '\0';
            }
        }
        put(o, std::string_view(&command[i], 1));
        prev = c;
        ++i;
    }
    if (!o.ok) {
        MAP_PLATFORM_REPORT("command too long for the sandbox: %.80s", command);
        return -1;
    }
    return 0;
}

int sandbox_system(const char* mapped) {
    char path_env[MAP_PLATFORM_PATH_MAX * 4 + 64];
    const char* root = map_platform_root();
    snprintf(path_env, sizeof path_env,
             "PATH=%s/sbin:%s/usr/sbin:%s/bin:%s/usr/bin:/usr/sbin:/usr/bin:/sbin:/bin", root, root,
             root, root);
    char root_env[MAP_PLATFORM_PATH_MAX + 16];
    snprintf(root_env, sizeof root_env, "MAPD_ROOT=%s", root);

    // Like system(): the caller's SIGCHLD handler must not reap this child.
    sigset_t block, saved;
    sigemptyset(&block);
    sigaddset(&block, SIGCHLD);
    sigprocmask(SIG_BLOCK, &block, &saved);
    pid_t pid = fork();
    if (pid < 0) {
        sigprocmask(SIG_SETMASK, &saved, nullptr);
        return -1;
    }
    if (pid == 0) {
        sigprocmask(SIG_SETMASK, &saved, nullptr);
        if (chdir(root) != 0) {
            _exit(127);
        }
        putenv(path_env);
        putenv(root_env);
        execl("/bin/sh", "sh", "-c", mapped, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    return r < 0 ? -1 : status;
}

}  // namespace

int map_platform_shell_text(const char* command, char* out, size_t out_len) {
    if (command == nullptr || out == nullptr || out_len == 0) {
        return -1;
    }
    if (!map_platform_is_sandbox()) {
        size_t len = strlen(command);
        if (len >= out_len) return -1;
        memcpy(out, command, len + 1);
        return 0;
    }
    return sandbox_rewrite(command, out, out_len);
}

int map_platform_system(const char* command) {
    if (command == nullptr) {
        return -1;
    }
    if (map_platform_detail::fail_now(map_platform_op::system)) {
        return -1;
    }
    if (!map_platform_is_sandbox()) {
        return system(command);
    }
    char mapped[kCommandMax];
    if (sandbox_rewrite(command, mapped, sizeof mapped) != 0) {
        return -1;
    }
    return sandbox_system(mapped);
}
