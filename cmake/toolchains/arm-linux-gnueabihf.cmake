# 32-bit ARM, hard float, little-endian: Debian's cross compiler
# (g++-arm-linux-gnueabihf).  Test programs run under qemu-user, so ctest and
# the test discovery work on the build host (package qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(MAPD_CROSS_TRIPLE arm-linux-gnueabihf)

set(MAPD_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
