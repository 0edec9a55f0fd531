#include "log/map_log.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/sandbox.hpp"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// A listener bound on the sandbox's trace socket path.
struct trace_listener {
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    explicit trace_listener(const mapd_test::sandbox& sb) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::string p = sb.path(MAP_TRACE_SOCKET_PATH);
        memcpy(addr.sun_path, p.c_str(), p.size());
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    ~trace_listener() { close(fd); }
    // The next queued datagram, or "<none>" (sendto() has queued it on return).
    std::string next() const {
        char buf[MAP_TRACE_BUF_SIZE + 16];
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        return n < 0 ? "<none>" : std::string(buf, static_cast<size_t>(n));
    }
};

struct LogTest : testing::Test {
    void TearDown() override {
        map_trace_log_deinit();
        map_global_debug_trace = 0;
    }
};

}  // namespace

// Over-long text is cut at the work buffer (20480 bytes; 30720 for traces).
TEST_F(LogTest, LineLayoutAndBufferLimits) {
    const std::string big(50000, 'a');
    CaptureStdout();
    map_print_error("switch_comm", 42, "map_switch_comm_init", "bad %s %d", "port", 7);
    map_print_info("managed_ap", 7, "map_daemon_init", "Created the MAP Switch Comm Control Block");
    map_print_error("m", 1, "f", "%s", big.c_str());
    map_print_debug_trace(0, "%s", big.c_str());
    EXPECT_EQ(GetCapturedStdout(),
              "Error: switch_comm:42:map_switch_comm_init - bad port 7\n"
              "INFO: managed_ap:7:map_daemon_init - Created the MAP Switch Comm Control Block\n"
              "Error: m:1:f - " +
                  std::string(20479, 'a') + "\n" + std::string(30719, 'a') + "\n");
}

// A trace passes when every bit of its mask is set in the debug mask.
TEST_F(LogTest, TraceMaskRule) {
    struct row {
        uint32_t debug_mask, trace_mask;
        bool printed;
    };
    const row rows[] = {
        {0x0, 0x0, true},    {0x0, 0x1, false},           {0x3, 0x1, true},  {0x3, 0x2, true},
        {0x3, 0x3, true},    {0x3, 0x5, false},           {0x3, 0x4, false}, {0x3, 0x0, true},
        {0x10, 0x30, false}, {0xFFFFFFFF, 0x40000, true},
    };
    for (const row& r : rows) {
        map_global_debug_trace = r.debug_mask;
        CaptureStdout();
        map_print_debug_trace(r.trace_mask, "trace");
        EXPECT_EQ(GetCapturedStdout(), r.printed ? "trace\n" : "")
            << "debug mask " << r.debug_mask << " trace mask " << r.trace_mask;
        EXPECT_EQ(map_trace_enabled(r.trace_mask), r.printed);
    }
}

// Standard output gets the text and a newline; the socket, when someone
// listens on it, the text as it is.
TEST_F(LogTest, TracesReachStandardOutputAndTheTraceSocket) {
    mapd_test::sandbox sb;
    ASSERT_EQ(map_trace_log_init(), 0);
    CaptureStdout();
    map_print_debug_trace(0, "nobody listens");
    EXPECT_EQ(GetCapturedStdout(), "nobody listens\n");
    EXPECT_LT(map_trace_log_send("x"), 0) << "the failed send is reported to the caller only";

    trace_listener listener(sb);
    map_global_debug_trace = 0x3;
    CaptureStdout();
    map_print_debug_trace(0x1, "Received UDP Message");
    map_print_debug_trace(0x5, "filtered out");
    map_print_debug_trace(0, "Provisioning disc t/o ok\n");
    EXPECT_EQ(GetCapturedStdout(), "Received UDP Message\nProvisioning disc t/o ok\n\n");
    EXPECT_EQ(listener.next(), "Received UDP Message");
    EXPECT_EQ(listener.next(), "Provisioning disc t/o ok\n");
    EXPECT_EQ(listener.next(), "<none>");

    // A listener that does not read never blocks the daemon: 300 traces of
    // 8000 bytes return with the socket queue full.
    const std::string chunk(8000, 't');
    CaptureStdout();
    for (int i = 0; i < 300; ++i) {
        map_print_debug_trace(0, "%s", chunk.c_str());
    }
    GetCapturedStdout();
    EXPECT_EQ(listener.next(), chunk);
    while (listener.next() != "<none>") {
    }

    // After deinit traces go to standard output only.
    EXPECT_EQ(map_trace_log_deinit(), 0);
    EXPECT_EQ(map_trace_log_fd(), 0);
    CaptureStdout();
    map_print_debug_trace(0, "stdout only");
    EXPECT_EQ(GetCapturedStdout(), "stdout only\n");
    EXPECT_EQ(listener.next(), "<none>");
}
