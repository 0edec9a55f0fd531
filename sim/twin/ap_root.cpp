#include "twin/ap_root.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <linux/close_range.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "core/managed_ap.hpp"
#include "dman/dman_text.hpp"
#include "dman/lsqlquery.hpp"
#include "platform/platform.hpp"

namespace {

namespace fs = std::filesystem;

bool write_file(const fs::path& p, const std::string& content, mode_t mode = 0644) {
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    FILE* f = fopen(p.c_str(), "w");
    if (f == nullptr) return false;
    bool ok = fwrite(content.data(), 1, content.size(), f) == content.size();
    ok = fclose(f) == 0 && ok;
    return ok && chmod(p.c_str(), mode) == 0;
}

// Stand-ins for the AP image's shell tools.  Each records its call under the
// root's tmp/ so that tests and people can see what the daemon asked for; the
// ones that would act on processes or the machine only record.
struct tool {
    const char* path;
    const char* body;
};
constexpr tool kTools[] = {
    {"usr/sbin/wl", "echo \"wl $*\" >> tmp/wl.log\n"},
    {"sbin/init", "echo \"init $*\" >> sandbox/init.log\n"},
    {"bin/kill", "echo \"kill $*\" >> tmp/kill.log\n"},
    // Lists init and the twin's running stand-ins (the pid files apsim keeps).
    {"bin/ps",
     "echo '  PID USER       VSZ STAT COMMAND'\necho '    1 root      1000 S    init'\n"
     "for f in var/run/*.pid; do\n"
     "  [ -f \"$f\" ] || continue\n"
     "  n=$(basename \"$f\" .pid); p=$(cat \"$f\")\n"
     "  [ \"$n\" = dman ] && continue\n"
     "  printf '%5s root      1000 S    %s\\n' \"$p\" \"$n\"\n"
     "done\n"},
    // "apicli hostapd-all PING": answers while the hostapd stand-in runs.
    {"usr/sbin/apicli",
     "echo \"apicli $*\" >> tmp/apicli.log\n"
     "[ -f var/run/hostapd.pid ] && [ -d \"/proc/$(cat var/run/hostapd.pid)\" ] && exit 0\n"
     "exit 1\n"},
    {"usr/bin/xargs", "while read -r arg; do \"$@\" \"$arg\"; done\n"},
};

// Hardware as the AP's drivers show it: one Atheros and one Broadcom radio
// on a board whose CPU line names a BCM4716 (hardware type 9).
constexpr const char* kPciDevices =
    "0000\t168c0013\t10\t\t0c000000\n"
    "0008\t14e44320\t11\t\t0c010000\n";
constexpr const char* kCpuinfo =
    "system type\t\t: Broadcom BCM4716 chip rev 1\n"
    "processor\t\t: 0\n"
    "cpu model\t\t: MIPS 74K V4.0\n";

}  // namespace

int ap_root_clock_set(const std::string& root, double seconds) {
    char text[64];
    snprintf(text, sizeof text, "%.2f %.2f\n", seconds, seconds / 2);
    fs::path p = fs::path(root) / "proc/uptime";
    fs::path tmp = fs::path(root) / "proc/uptime.new";
    if (!write_file(tmp, text)) return -1;
    return rename(tmp.c_str(), p.c_str());
}

double ap_root_clock_get(const std::string& root) {
    FILE* f = fopen((fs::path(root) / "proc/uptime").c_str(), "r");
    if (f == nullptr) return 0;
    double up = 0;
    if (fscanf(f, "%lf", &up) != 1) up = 0;
    fclose(f);
    return up;
}

int ap_root_build(const std::string& root_text, const ap_root_options& opts, std::string& error) {
    const fs::path root(root_text);
    std::error_code ec;
    for (const char* d : {"etc", "tmp", "var/run", "dev", "sandbox", "sbin", "usr/sbin", "bin",
                          "usr/bin", "proc/net", "proc/bus/pci"}) {
        fs::create_directories(root / d, ec);
    }
    bool ok = write_file(root / "etc/board", "QX_WAP_2R\n") &&
              write_file(root / "etc/version", "2.1.0.12\n") &&
              write_file(root / "tmp/bss-max", std::to_string(opts.bss_max) + "\n") &&
              write_file(root / "proc/bus/pci/devices", kPciDevices) &&
              write_file(root / "proc/cpuinfo", kCpuinfo) &&
              write_file(root / "dev/console", "");
    // Interface addresses: eth0 has the base MAC; the VAP interfaces count up
    // from it as the daemon numbers its VAPs (radio 1's VAPs first, then
    // radio 2's), so a VAP's MAC names the same VAP on both sides.
    uint64_t base = 0;
    unsigned b[6] = {};
    if (sscanf(opts.base_mac.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4],
               &b[5]) != 6) {
        error = "not a MAC address: " + opts.base_mac;
        return -1;
    }
    for (unsigned x : b) base = (base << 8) | (x & 0xFF);
    auto mac_at = [&](uint64_t n) {
        uint64_t v = (base + n) & 0xFFFFFFFFFFFFull;
        char text[20];
        snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x\n", unsigned(v >> 40 & 0xFF),
                 unsigned(v >> 32 & 0xFF), unsigned(v >> 24 & 0xFF), unsigned(v >> 16 & 0xFF),
                 unsigned(v >> 8 & 0xFF), unsigned(v & 0xFF));
        return std::string(text);
    };
    ok = ok && write_file(root / "sys/class/net/eth0/address", mac_at(0));
    for (int r = 0; r < 2; ++r) {
        for (int v = 0; v < opts.bss_max; ++v) {
            std::string ifname = "wlan" + std::to_string(r) + (v ? "vap" + std::to_string(v) : "");
            ok = ok && write_file(root / "sys/class/net" / ifname / "address",
                                  mac_at(static_cast<uint64_t>(r * opts.bss_max + v)));
        }
    }
    for (const auto& t : kTools) {
        ok = ok && write_file(root / t.path, std::string("#!/bin/sh\n") + t.body, 0755);
    }
    ok = ok && ap_root_write_counters(root_text, 0, opts.bss_max) == 0;
    if (ok && !opts.reg_domains.empty()) {
        fs::copy_file(opts.reg_domains, root / "etc/reg_domains.conf",
                      fs::copy_options::overwrite_existing, ec);
        ok = !ec;
    }
    if (!ok) {
        error = "cannot write the files of " + root_text;
        return -1;
    }
    if (opts.manual_clock) {
        ap_root_clock_set(root_text, opts.start_uptime);
    } else {
        fs::remove(root / "proc/uptime", ec);
        fs::create_symlink("/proc/uptime", root / "proc/uptime", ec);
    }

    // The configuration database, loaded from the factory file.
    std::string saved_root = map_platform_root();
    if (map_platform_set_root(root_text.c_str()) != 0) {
        error = "not a usable sandbox root: " + root_text;
        return -1;
    }
    lsqlquery_close();
    int rc = 0;
    if (!opts.factory_config.empty()) {
        FILE* in = fopen(opts.factory_config.c_str(), "r");
        if (in == nullptr) {
            error = "cannot read " + opts.factory_config;
            rc = -1;
        } else {
            rc = dman_text_load(in, true, error);
            fclose(in);
        }
    }
    if (rc == 0) {
        // The unit's own identity, which the AP's boot environment would give:
        // set over the factory file's empty serial number and base MAC.
        pv serial{const_cast<char*>("serial-number"), const_cast<char*>("TW0000000001"), nullptr,
                  nullptr};
        pv node{const_cast<char*>("base-mac"), const_cast<char*>(opts.base_mac.c_str()), nullptr,
                &serial};
        rc = lsqlquery_set_pv("system", nullptr, &node, nullptr);
        if (rc != 0) error = "cannot set the serial number and base MAC";
    }
    lsqlquery_close();
    map_platform_set_root(saved_root.empty() ? nullptr : saved_root.c_str());
    if (rc != 0) {
        return -1;
    }
    if (!write_file(root / "var/run/dman.pid", std::to_string(getpid()) + "\n")) {
        error = "cannot write the pid file";
        return -1;
    }
    return 0;
}

int ap_root_hwaddr(const std::string& root, const std::string& ifname, uint8_t mac[6],
                   std::string& error) {
    const fs::path p = fs::path(root) / "sys/class/net" / ifname / "address";
    FILE* f = fopen(p.c_str(), "r");
    unsigned b[6];
    int n = f ? fscanf(f, "%2x:%2x:%2x:%2x:%2x:%2x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) : 0;
    if (f) fclose(f);
    if (n != 6) {
        error = "no hardware address for " + ifname + " in " + p.string();
        return -1;
    }
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i]);
    return 0;
}

std::string ap_root_vap_ssid(const std::string& root, const std::string& ifname) {
    std::string saved_root = map_platform_root();
    if (map_platform_set_root(root.c_str()) != 0) return "";
    lsqlquery_close();
    std::string ssid;
    if (pv* v = lsqlquery_get_pv("interface", ifname.c_str(), "ssid")) {
        if (v->value) ssid = v->value;
        lsqlquery_destroy_pv(v);
    }
    lsqlquery_close();
    map_platform_set_root(saved_root.empty() ? nullptr : saved_root.c_str());
    return ssid;
}

pid_t ap_daemon_start(const std::string& root, const std::string& log_path) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    int fd = log_path.empty() ? -1 : open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    // The daemon starts like a fresh process: nothing of the parent's (a
    // simulator's listening socket, say) stays open in it.
    close_range(3, ~0U, 0);
    // A fresh process image would reset these; the child of a test must too.
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    lsqlquery_close();
    if (map_platform_set_root(root.c_str()) != 0) {
        _exit(120);
    }
    _exit(map_daemon_init() == 0 ? 0 : 1);
}

int ap_daemon_stop(pid_t pid, int grace_ms) {
    if (pid <= 0) return -1;
    kill(pid, SIGTERM);
    int status = 0;
    for (int waited = 0; waited < grace_ms; waited += 10) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
}
