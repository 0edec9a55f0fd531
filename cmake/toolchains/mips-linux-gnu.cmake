# 32-bit MIPS, big-endian (o32): Debian's cross compiler
# (g++-mips-linux-gnu).  Test programs run under qemu-user, so ctest and
# the test discovery work on the build host (package qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(MAPD_CROSS_TRIPLE mips-linux-gnu)

set(MAPD_CROSS_QEMU qemu-mips)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
