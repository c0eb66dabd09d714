# Cross-build for 32-bit Windows (x86) with the posix-thread mingw-w64 compilers: the deliverables a
# 32-bit video application loads (ZarvexDevice.ax) or that go with it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ZARVEX_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${ZARVEX_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZARVEX_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZARVEX_TRIPLE}-windres)

# SSE2 for the intrinsics the frame code uses (every x86 CPU Windows still runs on has it). And the
# stack realigned on entry: 32-bit Windows calls our callbacks and COM methods with a stack aligned
# to 4 bytes only, where GCC assumes 16 for its SSE spills.
set(CMAKE_C_FLAGS_INIT "-msse2 -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mstackrealign")

set(CMAKE_FIND_ROOT_PATH /usr/${ZARVEX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
