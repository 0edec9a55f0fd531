// The failure sweep on the twin: for each operation of the platform door, the
// link, a configuration, a statistics period and a client association run
// once with the N-th next call of that operation failing, for N = 1, 2, ...
// until the armed failure no longer fires.  After each run the roads must
// come back on their own (a retry of the road that broke), the daemon must be
// running and answer its debug dump, a failure that fired must have left its
// line in the log, the daemon may hold no more descriptors than after the
// same run without a failure, and it must end cleanly on SIGTERM (under ASan
// with an empty leak check).
//
// `make test` fails a few chosen calls of each operation (about a minute);
// MAPD_SWEEP=full visits every point of every operation and prints one line
// per operation with the points visited and survived.  MAPD_SWEEP_OPS=a,b
// limits the operations (names as map_platform_op_name gives them).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/managed_ap.hpp"
#include "e2e/twin_fixture.hpp"
#include "platform/platform.hpp"
#include "swsim/client_msg.hpp"
#include "swsim/config_msg.hpp"
#include "swsim/stats_msg.hpp"
#include "swsim/swsim.hpp"
#include "twin/local_msg.hpp"
#include "twin/standins.hpp"
#include "wire/wire.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using namespace mapd_e2e;

namespace {

const uint8_t kVap[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x51};
const uint8_t kClient[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};

// The daemon's SIGTERM: the leak check of a quiet daemon (what is no longer
// reachable from its globals and stack is lost), then exit.
void on_term(int) {
#if defined(__SANITIZE_ADDRESS__)
    _exit(__lsan_do_recoverable_leak_check() != 0 ? 23 : 0);
#else
    _exit(0);
#endif
}

// ap_daemon_start with the SIGTERM above.
bool start(twin& t) {
    fflush(nullptr);
    t.pid = fork();
    if (t.pid == 0) {
        int fd = open(t.log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        close_range(3, ~0U, 0);
        signal(SIGTERM, on_term);
        signal(SIGINT, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);  // as the init system starts it
        if (map_platform_set_root(t.root.c_str()) != 0) _exit(120);
        _exit(map_daemon_init() == 0 ? 0 : 1);
    }
    return t.pid > 0 && t.wait_log("Created the MAP Switch Comm Control Block", 10000) &&
           eventually([&] { return !t.dump(" Managed AP Parameters -", 200).empty(); }, 20000);
}

// SIGTERM; the exit status (-1 when it had to be killed).
int stop(twin& t) {
    kill(t.pid, SIGTERM);
    int status = 0;
    const bool ended = eventually([&] { return waitpid(t.pid, &status, WNOHANG) == t.pid; }, 15000);
    if (!ended) {
        kill(t.pid, SIGKILL);
        waitpid(t.pid, &status, 0);
    }
    t.pid = -1;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

size_t fd_count(pid_t pid) {
    std::error_code ec;
    return static_cast<size_t>(std::distance(
        std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec), {}));
}

// The roads, each retried once when a failure broke it; "" or what did not
// come back.
std::string roads(twin& t, swsim& sw, standins& st) {
    std::string error;
    std::vector<uint8_t> m;
    auto link = [&] {
        swsim_drop(sw);
        t.advance(21);  // the AP follows the same switch again after 20 s
        // Managed once the keepalive that follows the authentication is taken.
        const size_t mark = t.log_size();
        return swsim_establish(sw, 12000, error) == 0 &&
               swsim_send(sw, swsim_msg_keepalive(600)) == 0 &&
               t.wait_log("Processed the Keepalive message Successful", 3000, mark);
    };
    auto config = [&] {
        // Any status: a failed apply answers with its failure status.
        return swsim_config_build({"radio 1 power=14", "vap 1 0"}, m, error) == 0 &&
               swsim_send(sw, m) == 0 &&
               eventually([&] { return swsim_recv(sw, m, 100) == 0 && m.size() >= 2 &&
                                       wire_load_be16(m.data()) == 5; }, 5000);
    };
    auto stats = [&] {
        const size_t mark = t.log_size();
        if (swsim_send(sw, swsim_msg_stats_interval(sw.ident.mac, 10)) != 0 ||
            !t.wait_log("Successfully set the Stats interval at 10", 3000, mark))
            return false;
        t.advance(10);
        return eventually([&] { return swsim_udp_recv(sw, m, 100) == 0 && m.size() > 2 &&
                                       wire_load_be16(m.data()) == 7; }, 4000);
    };
    auto relay = [&] {
        if (standins_send(st, standin_kind::hostapd,
                          twin_msg_assoc_req(sw.ident.mac, kVap, kClient, 1, "corp")) != 0)
            return false;
        swsim_client_msg c;
        if (!eventually([&] { return swsim_recv(sw, m, 100) == 0 && swsim_client_parse(m, c) == 0 &&
                                     c.type == SWSIM_CLIENT_ASSOC_REQ; }, 4000))
            return false;
        swsim_assoc_policy p;
        p.vlan = 100;
        if (swsim_send(sw, swsim_assoc_answer(p, c, sw.ident.mac)) != 0) return false;
        return eventually([&] {
            standins_poll(st, 50);
            for (auto& [k, d] : st.received)
                if (k == standin_kind::hostapd && !d.empty() && d[0] == 18) return true;
            return false;
        }, 4000);
    };
    const std::pair<const char*, std::function<bool()>> steps[] = {
        {"link", link}, {"configuration", config}, {"statistics", stats}, {"relay", relay}};
    for (const auto& [name, run] : steps) {
        st.received.clear();
        // A broken link is set up again before the road is tried again, twice
        // at most: a clock that cannot be read counts as 0, so the timers see
        // the whole uptime pass twice (wrapped, then from 0) and the keepalive
        // may drop the link on both passes.
        bool back = run();
        for (int again = 0; !back && again < 2; ++again)
            back = (std::string(name) == "link" || link()) && run();
        if (!back) return std::string(name) + " did not come back (" + error + ")";
    }
    return "";
}

// What a failure of each operation leaves in the log: one of these, where
// every call site has a line to write.  Opens, sysctl and shell commands
// have none in general: many files the roads read are optional (one that
// cannot be read is taken as absent), and some writes and commands are
// fire-and-forget.
struct op_row {
    map_platform_op op;
    std::vector<std::string> lines;
    std::vector<unsigned> quick;  // the calls failed by `make test`
};

const op_row kOps[] = {
    {map_platform_op::tls_send, {"Sending data by SSL connection with switch"}, {1}},
    {map_platform_op::udp_send, {"Error in sending", "Could not send post configuration"}, {1}},
    {map_platform_op::local_send, {"Error sending data to"}, {1}},
    {map_platform_op::socket,
     {"Unable to create the", "Unable to open the layer-2", "Could not send post configuration"},
     {1}},
    // Most opens are the main loop's clock: these fall while the link is up.
    {map_platform_op::open, {}, {4, 8, 12}},
    {map_platform_op::alloc, {"Unable to allocate", "Error allocating"}, {1}},
    {map_platform_op::sysctl_write, {}, {1}},
    {map_platform_op::sysctl_read, {}, {1}},
    {map_platform_op::system, {}, {1}},
    {map_platform_op::fork, {"Error: Forking child process"}, {1}},
};

struct point {
    bool fired = false;
    std::string problem;  // "" when the daemon came through
    size_t fds = 0;
};

// One run of the roads with the `nth` next call of `op` failing (0: none).
point run(const op_row& row, unsigned nth, size_t baseline_fds) {
    point p;
    twin t;
    swsim sw;
    standins st;
    st.keep = true;
    sw.print = [](const std::string&) {};
    std::string error;
    if (standins_open(st, error) != 0 || swsim_open(sw, swsim_options{}, error) != 0) {
        p.problem = error;
        return p;
    }
    t.write("/var/run/hostapd.pid", std::to_string(getpid()) + "\n");
    const std::string fail = t.root + "/sandbox/fail";
    auto done = [&](std::string problem) {
        p.problem = problem;
        if (t.pid > 0) {
            const int rc = stop(t);
            if (p.problem.empty() && rc != 0)
                p.problem = "no clean end on SIGTERM (" + std::to_string(rc) + "): " + t.log_text();
        }
        swsim_close(sw);
        standins_close(st);
        return p;
    };
    if (!start(t)) return done("the daemon did not start");
    t.set_trace(0x1);  // the statistics interval's line
    map_platform_set_root(t.root.c_str());
    const int armed = map_platform_fail_file_arm(row.op, nth);
    map_platform_set_root(nullptr);
    if (armed != 0) return done("cannot arm " + fail);
    const size_t mark = t.log_size();
    std::string problem = roads(t, sw, st);
    int status = 0;
    if (waitpid(t.pid, &status, WNOHANG) == t.pid) {
        problem = "the daemon ended, wait status " + std::to_string(status) + "; " + problem;
        t.pid = -1;
    }
    // Disarmed in one step: a count still there never fired.
    p.fired = nth != 0 && rename(fail.c_str(), (fail + ".left").c_str()) != 0;
    const std::string log = t.log_from(mark);
    if (problem.empty() && t.dump(" Managed AP Parameters -").empty())
        problem = "no debug dump";
    if (problem.empty() && p.fired && !row.lines.empty()) {
        bool said = false;
        for (const auto& l : row.lines) said = said || log.find(l) != std::string::npos;
        if (!said) problem = "no line for the failure";
    }
    p.fds = fd_count(t.pid);
    if (problem.empty() && baseline_fds != 0 &&
        !eventually([&] { return fd_count(t.pid) <= baseline_fds; }, 3000))
        problem = std::to_string(fd_count(t.pid)) + " descriptors, " +
                  std::to_string(baseline_fds) + " without the failure";
    if (!problem.empty()) problem += "\n" + log;
    return done(problem);
}

}  // namespace

TEST(FailureSweep, TheRoadsSurviveEveryFailurePoint) {
    if (!enter_private_network()) GTEST_SKIP() << "needs a private network namespace (root)";
    signal(SIGPIPE, SIG_IGN);  // the switch writing to a link the AP dropped
    const char* sweep = getenv("MAPD_SWEEP");
    const bool full = sweep != nullptr && std::string(sweep) == "full";
    const char* ops = getenv("MAPD_SWEEP_OPS");
    const point base = run(kOps[0], 0, 0);
    ASSERT_EQ(base.problem, "") << "the roads without a failure";
    for (const auto& row : kOps) {
        const std::string name = map_platform_op_name(row.op);
        if (ops != nullptr && ("," + std::string(ops) + ",").find("," + name + ",") == std::string::npos)
            continue;
        unsigned visited = 0, survived = 0;
        for (unsigned i = 0, nth = 1; full || i < row.quick.size(); ++i, ++nth) {
            nth = full ? nth : row.quick[i];
            const point p = run(row, nth, base.fds);
            if (!p.fired) {  // no failure point left
                EXPECT_EQ(p.problem, "") << name << " armed at call " << nth << ", never fired";
                EXPECT_TRUE(full) << name << " has no call " << nth;
                break;
            }
            ++visited;
            survived += p.problem.empty();
            EXPECT_EQ(p.problem, "") << name << " failing at call " << nth;
        }
        if (full)
            printf("sweep: %-12s failure points visited %u, survived %u\n", name.c_str(), visited,
                   survived);
    }
}
