// The one door between mapd and the AP's operating system.
//
// Everything the AP image provides goes through here: absolute AP paths, shell
// tools, binary sysctl tables of the kernel modules, interface hardware
// addresses, the reboot signal to process 1, alarm() and fork().
//
// Two backends, chosen at run time:
//  - production (no root set): the real thing;
//  - sandbox root (map_platform_set_root): AP paths live under the root, shell
//    commands run with the root as working directory and its tool folders first
//    on PATH, sysctl tables are files under "<root>/sysctl", hardware addresses
//    come from "<root>/sys/class/net/<if>/address", and a reboot is recorded in
//    "<root>/sandbox/reboot.log", never sent.
//
// The production binary never sets a root; the twin and the tests do, before
// the daemon starts.
#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Longest mapped path the door produces (root + AP path + terminator).
inline constexpr size_t MAP_PLATFORM_PATH_MAX = 512;

// ---- backend selection -------------------------------------------------------

// Selects the sandbox backend with `root` as the AP's "/"; null or "" selects
// production.  The root must be an absolute, existing directory.  Returns 0 or -1.
int map_platform_set_root(const char* root);
// The sandbox root, or "" in production.
const char* map_platform_root();
bool map_platform_is_sandbox();

// ---- paths -------------------------------------------------------------------

// Maps an absolute AP path ("/etc/board") to the path to open.  Writes a
// terminated text into `out`; returns 0, or -1 when `ap_path` is not absolute
// or the result does not fit.  Never allocates.
[[nodiscard]] int map_platform_path(const char* ap_path, char* out, size_t out_len);
FILE* map_platform_fopen(const char* ap_path, const char* mode);
int map_platform_open(const char* ap_path, int flags, mode_t mode = 0);
int map_platform_stat(const char* ap_path, struct stat* st);
int map_platform_access(const char* ap_path, int mode);
int map_platform_unlink(const char* ap_path);
int map_platform_rename(const char* ap_from, const char* ap_to);
int map_platform_chmod(const char* ap_path, mode_t mode);

// ---- shell commands ----------------------------------------------------------

// Runs a command line of the AP image, like system(): returns the wait status,
// or -1 when the command could not be started or was refused.  In the sandbox
// the AP paths inside the text are mapped under the root, and a command that
// would reach the host's copy of a tool acting on processes or on the machine
// (ps, kill, xargs, init, reboot, halt, ...) is refused with a log line.
int map_platform_system(const char* command);

// The command line the sandbox backend would run for `command` (mapping and
// tool substitution applied) into `out`; 0, or -1 when refused or too long.
// Production copies the text unchanged.  For tests and the debug tools.
int map_platform_shell_text(const char* command, char* out, size_t out_len);

// ---- binary sysctl -----------------------------------------------------------

// Writes `len` bytes as the new value of the table entry named by the integer
// vector `name` (`nlen` elements).  0 or -1 (errno set).  Production uses the
// sysctl system call where the kernel still has it, else fails with ENOSYS.
[[nodiscard]] int map_platform_sysctl_write(const int* name, int nlen, const void* value, size_t len);
// Reads the current value into `out` (at most *len bytes); *len receives the
// number of bytes read.  0 or -1.
[[nodiscard]] int map_platform_sysctl_read(const int* name, int nlen, void* out, size_t* len);
// Hands `buf` (*len bytes) to the table entry as the old-value buffer, with no
// new value: the kernel module may rewrite the buffer in place.  0 or -1
// (errno set).  The sandbox journals the bytes handed over like a write and
// is refused like one (the refusal file, the sysctl_write failure); it leaves
// the buffer unchanged unless the entry's file exists, whose bytes then
// rewrite the buffer up to *len.
[[nodiscard]] int map_platform_sysctl_inout(const int* name, int nlen, void* buf, size_t* len);
// The file behind a table entry in the sandbox: "<root>/sysctl/3.21.1.4".
int map_platform_sysctl_file(const int* name, int nlen, char* out, size_t out_len);

// ---- the sandbox's emulated kernel (twin and tests) ---------------------------
//
// Journal: every sandbox sysctl write appends one line to
// "<root>/sandbox/sysctl.log", in the order of the writes:
//   "3.21.28.11 = 0a000001"   written (dotted name vector, value in lower-case hex)
//   "3.21.28.11 refused"      refused or failed; the entry keeps its value
// When the journal passes MAP_PLATFORM_SYSCTL_JOURNAL_MAX bytes it becomes
// "sysctl.log.1" (replacing the previous one) and a new journal starts.
//
// Refusal from outside the daemon: a file "<root>/sandbox/sysctl-refuse"
// holding a decimal N >= 1 makes the N-th next sandbox write fail with EIO.
// Each write writes the count left back (N - 1); the file goes when it fires.
// Anything else in the file is dropped with a report.
inline constexpr size_t MAP_PLATFORM_SYSCTL_JOURNAL_MAX = 1024 * 1024;

// Arms the refusal file of the current sandbox root for the `nth` next write
// (0 removes it).  0, or -1 in production or when it cannot be written.
int map_platform_sysctl_refuse_arm(unsigned nth);
// Every entry of the current sandbox root as "<dotted name> = <hex>", sorted by
// name vector (numerically: 3.21.28.9 before 3.21.28.11).  0, or -1 in production.
int map_platform_sysctl_list(std::vector<std::string>& lines);

// Follows the journal of the current sandbox root across rotations.
struct map_platform_journal_reader {
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string partial;  // a line not yet ended
    map_platform_journal_reader() = default;
    map_platform_journal_reader(const map_platform_journal_reader&) = delete;
    map_platform_journal_reader& operator=(const map_platform_journal_reader&) = delete;
    ~map_platform_journal_reader();
};
// Starts at the journal's current end (a journal that appears later is read
// from its start).
void map_platform_sysctl_journal_follow(map_platform_journal_reader& r);
// Appends the lines (without newline) written since the last call, those of a
// journal rotated meanwhile first.  Two rotations between calls lose the lines
// of the journal in between: poll at a bounded interval.
void map_platform_sysctl_journal_poll(map_platform_journal_reader& r,
                                      std::vector<std::string>& lines);

// ---- interfaces --------------------------------------------------------------

// Hardware (MAC) address of an interface.  0 or -1.
int map_platform_get_hwaddr(const char* ifname, uint8_t mac[6]);

// ---- TLS session secrets (the twin only) -------------------------------------

// The AP never writes its TLS secrets anywhere.  A sandbox root may name a key
// log file (an absolute host path, first line of "<root>/sandbox/tls-keylog",
// written by `apsim run --keylog FILE`) so that a capture of the twin's TLS
// channel can be decrypted.  Returns 0 with the path in `out`, or -1: always
// in production, and in a sandbox without that file.
int map_platform_tls_keylog_path(char* out, size_t out_len);
// Appends one line of the NSS key log format to that file; does nothing in
// production.  0 written, -1 not.
int map_platform_tls_keylog_write(const char* line);

// ---- processes and signals ---------------------------------------------------

// Sends `sig` to process 1 (the AP's init), which reboots the AP.  The sandbox
// appends "signal <sig> to process 1" to "<root>/sandbox/reboot.log" instead.
// Returns what kill() returned (0 in the sandbox when recorded).
int map_platform_signal_init(int sig);
// Number of reboot signals recorded in the sandbox so far (0 in production).
int map_platform_reboot_count();

// alarm() for the watchdog; the last value asked for is kept for tests.
unsigned map_platform_alarm(unsigned seconds);
unsigned map_platform_alarm_last();
unsigned map_platform_alarm_calls();

// fork() for the daemon's children.
[[nodiscard]] pid_t map_platform_fork();

// ---- failure injection (tests) -----------------------------------------------
//
// Each operation below can be made to fail as the real one fails, so that the
// daemon's own error paths run: a failed socket() or open returns -1 (null
// for fopen) with EMFILE, a failed datagram send -1 with ENOBUFS, a failed TLS
// write looks to OpenSSL like a write on a broken pipe, a failed allocation
// yields null.  Production pays one predicted branch on a flag that stays
// false: nothing is armed and no root is set.
//
// Allocation: only the daemon's nothrow allocations that have an error path
// go through the door (lists sized by a switch message, the control block,
// the connection record).  Everything else allocates through the standard
// library, whose failure throws and ends the daemon, which the init system
// restarts; failing those here would test nothing of the daemon's.
//
// From outside the daemon (sandbox only): a file "<root>/sandbox/fail"
// holding "<op> <N>" (op as named by map_platform_op_name, N >= 1) makes the
// N-th next call of that operation fail, counted from the loop's next look
// for the file (map_platform_fail_file_poll).  Each call of it writes the
// count left back; the file goes when it fires.  Anything else in the file is
// dropped with a report.  Production never reads it.

enum class map_platform_op : int {
    sysctl_write = 0,
    sysctl_read,
    system,
    fork,
    tls_send,    // SSL_write to the switch
    udp_send,    // datagrams to the switch
    local_send,  // datagrams to the local daemons (hostapd, mapqosd, ...)
    socket,
    open,        // map_platform_open and map_platform_fopen
    alloc,
    count_,
};

// "sysctl_write", "tls_send", ...; null for an out-of-range value.
const char* map_platform_op_name(map_platform_op op);

// Makes the `nth` next call of `op` fail (1 = the very next one); 0 clears.
// A failed sysctl sets errno to EIO, a failed fork EAGAIN, both return -1; a failed system()
// returns -1 without running anything.
void map_platform_fail_nth(map_platform_op op, unsigned nth);
// Clears every armed failure.
void map_platform_fail_clear();

namespace map_platform_detail {
// True while a failure may be armed (a count set, or a sandbox root).
extern bool g_fail_watch;
// The slow path: counts the call down and says whether it fails.
bool fail_fires(map_platform_op op);
}  // namespace map_platform_detail

// True when this call of `op` is to fail.
inline bool map_platform_fails(map_platform_op op) {
    return __builtin_expect(map_platform_detail::g_fail_watch, false) &&
           map_platform_detail::fail_fires(op);
}

// Arms "<root>/sandbox/fail" for the `nth` next call of `op` (0 removes it).
// 0, or -1 in production or when it cannot be written.
int map_platform_fail_file_arm(map_platform_op op, unsigned nth);
// Looks whether the fail file is there: the daemon's loop calls it once a
// pass, and only calls made after a look that found the file count down.
// Nothing in production.
void map_platform_fail_file_poll();

// socket() and sendto() through the door (`op`: udp_send or local_send).
inline int map_platform_socket(int domain, int type, int protocol) {
    if (map_platform_fails(map_platform_op::socket)) {
        errno = EMFILE;
        return -1;
    }
    return ::socket(domain, type, protocol);
}

inline ssize_t map_platform_sendto(map_platform_op op, int fd, const void* buf, size_t len,
                                   const struct sockaddr* to, socklen_t to_len) {
    if (map_platform_fails(op)) {
        errno = ENOBUFS;
        return -1;
    }
    return ::sendto(fd, buf, len, 0, to, to_len);
}
