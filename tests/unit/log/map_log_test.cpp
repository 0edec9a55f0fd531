#include "log/map_log.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/platform.hpp"
#include "support/sandbox.hpp"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

static constexpr char map_log_module[] = "map_log_test";

// A listener bound on the sandbox's trace socket path.
struct trace_listener {
    int fd = -1;
    explicit trace_listener(const mapd_test::sandbox& sb) {
        mapd_test::make_dirs(sb.path("/tmp"));
        fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::string p = sb.path(MAP_TRACE_SOCKET_PATH);
        memcpy(addr.sun_path, p.c_str(), p.size());
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd);
            fd = -1;
        }
    }
    ~trace_listener() {
        if (fd >= 0) close(fd);
    }
    // The next datagram, or "<none>" when nothing is queued.
    std::string next() const {
        char buf[MAP_TRACE_BUF_SIZE + 16];
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        return n < 0 ? "<none>" : std::string(buf, static_cast<size_t>(n));
    }
};

struct LogTest : testing::Test {
    void SetUp() override { map_global_debug_trace = 0; }
    void TearDown() override {
        map_trace_log_deinit();
        map_global_debug_trace = 0;
    }
};

}  // namespace

TEST_F(LogTest, ErrorAndInfoLineLayout) {
    CaptureStdout();
    map_print_error("switch_comm", 42, "map_switch_comm_init", "bad %s %d", "port", 7);
    map_print_info("managed_ap", 7, "map_daemon_init", "Created the MAP Switch Comm Control Block");
    MAP_ERROR("value %u", 3u);
    std::string out = GetCapturedStdout();
    int line = __LINE__ - 2;
    EXPECT_EQ(out,
              "Error: switch_comm:42:map_switch_comm_init - bad port 7\n"
              "INFO: managed_ap:7:map_daemon_init - Created the MAP Switch Comm Control Block\n"
              "Error: map_log_test:" + std::to_string(line) + ":TestBody - value 3\n");
}

TEST_F(LogTest, TraceMaskRule) {
    struct row {
        uint32_t debug_mask;
        uint32_t trace_mask;
        bool printed;
    };
    const row rows[] = {
        {0x0, 0x0, true},   {0x0, 0x1, false},  {0x0, 0x10, false}, {0x3, 0x1, true},
        {0x3, 0x2, true},   {0x3, 0x3, true},   {0x3, 0x5, false},  {0x3, 0x4, false},
        {0x3, 0x0, true},   {0xFFFFFFFF, 0x40000, true}, {0x20000, 0x20000, true},
        {0x10, 0x30, false},
    };
    for (const auto& r : rows) {
        map_global_debug_trace = r.debug_mask;
        CaptureStdout();
        map_print_debug_trace(r.trace_mask, "trace %x", r.trace_mask);
        std::string out = GetCapturedStdout();
        std::string want = r.printed ? "trace " + [&] {
            char b[16];
            snprintf(b, sizeof b, "%x\n", r.trace_mask);
            return std::string(b);
        }() : "";
        EXPECT_EQ(out, want) << "debug mask " << r.debug_mask << " trace mask " << r.trace_mask;
        EXPECT_EQ(map_trace_enabled(r.trace_mask), r.printed);
    }
}

TEST_F(LogTest, TrailingNewlineInATraceGivesAnEmptyLine) {
    CaptureStdout();
    map_print_debug_trace(0, "Provisioning disc t/o ok\n");
    EXPECT_EQ(GetCapturedStdout(), "Provisioning disc t/o ok\n\n");
}

TEST_F(LogTest, OverLongTextIsCutAtTheBuffer) {
    std::string big(50000, 'a');
    CaptureStdout();
    map_print_error("m", 1, "f", "%s", big.c_str());
    std::string err = GetCapturedStdout();
    EXPECT_EQ(err, "Error: m:1:f - " + std::string(MAP_LOG_BUF_SIZE - 1, 'a') + "\n");

    CaptureStdout();
    map_print_debug_trace(0, "%s", big.c_str());
    std::string tr = GetCapturedStdout();
    EXPECT_EQ(tr, std::string(MAP_TRACE_BUF_SIZE - 1, 'a') + "\n");
}

TEST_F(LogTest, TracesReachTheTraceSocketWithoutNewline) {
    mapd_test::sandbox sb;
    trace_listener listener(sb);
    ASSERT_GE(listener.fd, 0);
    ASSERT_EQ(map_trace_log_init(), 0);
    EXPECT_GT(map_trace_log_fd(), 0);

    map_global_debug_trace = 0x3;
    CaptureStdout();
    map_print_debug_trace(0x1, "Received UDP Message");
    map_print_debug_trace(0x5, "filtered out");
    map_print_debug_trace(0, "line\n");
    GetCapturedStdout();
    EXPECT_EQ(listener.next(), "Received UDP Message");
    EXPECT_EQ(listener.next(), "line\n");
    EXPECT_EQ(listener.next(), "<none>");

    // After deinit traces go to standard output only.
    EXPECT_EQ(map_trace_log_deinit(), 0);
    EXPECT_EQ(map_trace_log_fd(), 0);
    CaptureStdout();
    map_print_debug_trace(0, "stdout only");
    EXPECT_EQ(GetCapturedStdout(), "stdout only\n");
    EXPECT_EQ(listener.next(), "<none>");
    EXPECT_EQ(map_trace_log_send("direct"), 0);
}

TEST_F(LogTest, NoListenerLeavesTracesOnStandardOutput) {
    mapd_test::sandbox sb;
    ASSERT_EQ(map_trace_log_init(), 0);
    CaptureStdout();
    for (int i = 0; i < 100; ++i) {
        map_print_debug_trace(0, "trace %d", i);
    }
    std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("trace 0\n"), std::string::npos);
    EXPECT_NE(out.find("trace 99\n"), std::string::npos);
    EXPECT_LT(map_trace_log_send("x"), 0) << "the failed send is reported to the caller only";
}

TEST_F(LogTest, ASilentListenerNeverBlocksTheDaemon) {
    mapd_test::sandbox sb;
    trace_listener listener(sb);  // bound, but never reads
    ASSERT_GE(listener.fd, 0);
    ASSERT_EQ(map_trace_log_init(), 0);
    std::string chunk(8000, 't');
    CaptureStdout();
    for (int i = 0; i < 300; ++i) {
        map_print_debug_trace(0, "%s", chunk.c_str());
    }
    GetCapturedStdout();
    SUCCEED() << "300 traces of 8000 bytes returned with a full socket queue";
    EXPECT_EQ(listener.next().size(), chunk.size());
}
