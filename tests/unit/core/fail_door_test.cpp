// The failure door: each operation fails as the real one does, on the N-th
// call armed from inside (map_platform_fail_nth) or from outside the daemon
// (the sandbox's fail file), and only on that call.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "cltqos/map_cltqos.hpp"
#include "core/managed_ap.hpp"
#include "platform/platform.hpp"
#include "support/sandbox.hpp"
#include "switch/switch_comm.hpp"

namespace {

// One call: 0 when it worked, else the errno it left (-1: null, no errno).
int send_one(map_platform_op op) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{AF_INET, htons(9), {htonl(INADDR_LOOPBACK)}, {}};
    ssize_t n = map_platform_sendto(op, fd, "x", 1, reinterpret_cast<sockaddr*>(&to), sizeof to);
    int err = errno;
    close(fd);
    return n == 1 ? 0 : err;
}
int done(int fd) { return fd >= 0 ? close(fd) : errno; }

const struct {
    map_platform_op op;
    int err;
    int (*call)();
} kRows[] = {
    {map_platform_op::socket, EMFILE, [] { return done(map_platform_socket(AF_INET, SOCK_DGRAM, 0)); }},
    {map_platform_op::udp_send, ENOBUFS, [] { return send_one(map_platform_op::udp_send); }},
    {map_platform_op::local_send, ENOBUFS, [] { return send_one(map_platform_op::local_send); }},
    {map_platform_op::open, EMFILE, [] { return done(map_platform_open("/f", O_RDONLY | O_CREAT, 0644)); }},
    {map_platform_op::open, EMFILE,
     [] { FILE* f = map_platform_fopen("/f", "a"); return f != nullptr ? fclose(f) : errno; }},
    {map_platform_op::alloc, -1, [] { return map_cltqos_sc_make(4) ? 0 : -1; }},
};

}  // namespace

TEST(FailDoor, FailsTheNthCallOnceFromTheFileOrFromInside) {
    {
        mapd_test::sandbox sb;
        for (const auto& row : kRows) {
            const std::string name = map_platform_op_name(row.op);
            ASSERT_EQ(map_platform_fail_file_arm(row.op, 2), 0);
            EXPECT_EQ((&row == &kRows[0] ? kRows[1] : kRows[0]).call(), 0) << "another op: " << name;
            EXPECT_EQ(row.call(), 0) << name;
            EXPECT_EQ(sb.read("/sandbox/fail"), name + " 1\n");
            EXPECT_EQ(row.call(), row.err) << name;
            EXPECT_FALSE(sb.exists("/sandbox/fail")) << name;
            EXPECT_EQ(row.call(), 0) << name << ": once";
        }
        // Written from outside: counted only from the loop's next look.
        sb.write("/sandbox/fail", "socket 1\n");
        EXPECT_EQ(kRows[0].call(), 0) << "before the look";
        map_platform_fail_file_poll();
        EXPECT_EQ(kRows[0].call(), EMFILE) << "after the look";
        for (const char* bad : {"open", "open 0\n", "nosuch 1\n", "open 1 2\n"}) {
            sb.write("/sandbox/fail", bad);
            map_platform_fail_file_poll();
            EXPECT_EQ(kRows[0].call(), 0) << bad;
            EXPECT_FALSE(sb.exists("/sandbox/fail")) << bad << ": dropped";
        }
    }
    for (const auto& row : kRows) {  // production: no root, no file
        if (row.op == map_platform_op::open) continue;
        map_platform_fail_nth(row.op, 1);
        EXPECT_EQ(row.call(), row.err) << map_platform_op_name(row.op);
        EXPECT_EQ(row.call(), 0) << map_platform_op_name(row.op);
    }
}
