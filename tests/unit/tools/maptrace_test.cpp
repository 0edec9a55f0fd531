// maptrace as a person runs it: started on a sandbox root, it prints the
// daemon's trace datagrams with timestamps.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "log/map_log.hpp"
#include "support/sandbox.hpp"

extern char** environ;

namespace {

// True once `done()` holds, polled every 10 ms for at most 5 s.
template <class F>
bool within_5s(F done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Runs maptrace with `args` (its output into the sandbox file "/out") and
// `act(pid)`; its exit code, or -1 when it has not exited 5 s later (it is
// then stopped).
template <class F>
int maptrace(const mapd_test::sandbox& sb, std::vector<const char*> args, F act) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, sb.path("/out").c_str(), O_WRONLY | O_CREAT, 0644);
    args.insert(args.begin(), MAPTRACE_BIN);
    args.push_back(nullptr);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, MAPTRACE_BIN, &fa, nullptr,
                              const_cast<char* const*>(args.data()), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (spawned != 0) {
        return -2;
    }
    act(pid);
    int status = 0;
    if (!within_5s([&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(Maptrace, PrintsEachTraceWithATimestampUntilCountOrInterrupt) {
    mapd_test::sandbox sb;
    auto send_traces = [&](pid_t) {
        ASSERT_TRUE(within_5s([&] { return sb.exists(MAP_TRACE_SOCKET_PATH); }));
        ASSERT_EQ(map_trace_log_init(), 0);
        map_trace_log_send("Received UDP Message");
        map_trace_log_send("Provisioning disc t/o ok\n");
        map_trace_log_deinit();
    };
    EXPECT_EQ(maptrace(sb, {"--root", sb.root.c_str(), "--count", "2"}, send_traces), 0);
    const std::string stamp = "\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ";
    EXPECT_TRUE(std::regex_match(sb.read("/out"), std::regex(stamp + "Received UDP Message\n" +
                                                             stamp + "Provisioning disc t/o ok\n")))
        << sb.read("/out");
    EXPECT_FALSE(sb.exists(MAP_TRACE_SOCKET_PATH)) << "the socket is removed on exit";

    // Ctrl-C stops it cleanly too; bad arguments are refused.
    auto interrupt = [&](pid_t pid) {
        ASSERT_TRUE(within_5s([&] { return sb.exists(MAP_TRACE_SOCKET_PATH); }));
        kill(pid, SIGINT);
    };
    EXPECT_EQ(maptrace(sb, {"--root", sb.root.c_str()}, interrupt), 0);
    for (std::vector<const char*> args : {std::vector<const char*>{"--count", "0"},
                                          {"--root", "/nonexistent/x"},
                                          {"--frobnicate"}}) {
        EXPECT_EQ(maptrace(sb, args, [](pid_t) {}), 2) << args[0];
    }
}
