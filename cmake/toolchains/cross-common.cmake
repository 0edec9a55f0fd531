# What both cross toolchains share; the including file sets MAPD_CROSS_TRIPLE
# (Debian's cross compiler prefix) and MAPD_CROSS_QEMU (the qemu-user program).
set(CMAKE_C_COMPILER ${MAPD_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${MAPD_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${MAPD_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static programs: qemu needs no target loader or libraries to run them (the
# -L sysroot is there for anything linked dynamically).
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR ${MAPD_CROSS_QEMU};-L;/usr/${MAPD_CROSS_TRIPLE})
