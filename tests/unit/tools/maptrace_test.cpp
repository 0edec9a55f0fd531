// maptrace as a person runs it: started on a sandbox root, it prints the
// daemon's trace datagrams with timestamps.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "log/map_log.hpp"
#include "support/sandbox.hpp"

extern char** environ;

namespace {

struct child {
    pid_t pid = -1;
    int out = -1;
};

child spawn_maptrace(const std::vector<std::string>& args) {
    int pipefd[2];
    if (pipe(pipefd) != 0) return {};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipefd[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, pipefd[0]);
    std::vector<char*> argv;
    std::string bin = MAPTRACE_BIN;
    argv.push_back(bin.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    child c;
    if (posix_spawn(&c.pid, bin.c_str(), &fa, nullptr, argv.data(), environ) != 0) c.pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(pipefd[1]);
    c.out = pipefd[0];
    return c;
}

std::string read_all(int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

bool wait_for(const mapd_test::sandbox& sb, const std::string& ap_path) {
    for (int i = 0; i < 200; ++i) {
        if (sb.exists(ap_path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

TEST(Maptrace, PrintsEachTraceWithATimestamp) {
    mapd_test::sandbox sb;
    mapd_test::make_dirs(sb.path("/tmp"));
    child c = spawn_maptrace({"--root", sb.root, "--count", "2"});
    ASSERT_GT(c.pid, 0);
    ASSERT_TRUE(wait_for(sb, MAP_TRACE_SOCKET_PATH));

    ASSERT_EQ(map_trace_log_init(), 0);
    map_global_debug_trace = 0x1;
    testing::internal::CaptureStdout();
    map_print_debug_trace(0x1, "Received UDP Message");
    map_print_debug_trace(0x2, "not enabled");
    map_print_debug_trace(0, "Provisioning disc t/o ok\n");
    testing::internal::GetCapturedStdout();
    map_global_debug_trace = 0;
    map_trace_log_deinit();

    std::string out = read_all(c.out);
    int status = 0;
    ASSERT_EQ(waitpid(c.pid, &status, 0), c.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::regex want(
        "\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] Received UDP Message\n"
        "\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] Provisioning disc t/o ok\n");
    EXPECT_TRUE(std::regex_match(out, want)) << out;
    EXPECT_FALSE(sb.exists(MAP_TRACE_SOCKET_PATH)) << "the socket is removed on exit";
}

TEST(Maptrace, StopsCleanlyOnInterrupt) {
    mapd_test::sandbox sb;
    mapd_test::make_dirs(sb.path("/tmp"));
    child c = spawn_maptrace({"--root", sb.root});
    ASSERT_GT(c.pid, 0);
    ASSERT_TRUE(wait_for(sb, MAP_TRACE_SOCKET_PATH));
    kill(c.pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(c.pid, &status, 0), c.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    read_all(c.out);
}

TEST(Maptrace, BadArgumentsFailWithAMessage) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--count", "0"},
                                          std::vector<std::string>{"--root", "/nonexistent/x"},
                                          std::vector<std::string>{"--frobnicate"}}) {
        child c = spawn_maptrace(args);
        ASSERT_GT(c.pid, 0);
        read_all(c.out);
        int status = 0;
        ASSERT_EQ(waitpid(c.pid, &status, 0), c.pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args[0];
    }
}
