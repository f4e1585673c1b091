# Shared part of the mingw-w64 cross toolchains; the including file sets
# TAMBERLODE_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

# Debian's posix-threads variant: std::thread and friends work (the network
# drives' questions run on threads, drives/remote_win32.cpp).
set(CMAKE_C_COMPILER ${TAMBERLODE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMBERLODE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMBERLODE_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${TAMBERLODE_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TAMBERLODE_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TAMBERLODE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The executables carry libgcc, libstdc++ and winpthread inside: only
# system DLLs are imported, so the program runs from a bare folder.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# No mingw GoogleTest exists to be found: GTestConfig.cmake beside this file
# builds Debian's googletest sources with the same compiler.
set(GTest_DIR ${CMAKE_CURRENT_LIST_DIR}/gtest CACHE PATH "GoogleTest built from source")
# Test executables cannot run at build time; scripts/wine-tests.sh runs them
# under Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# Release builds are optimised for size: nothing in the program is bound by
# the processor, and -Os keeps the 32-bit Tamberlode.exe within 512 KiB
# (-O3 makes it some 120 KiB larger). Takes effect in a fresh build folder.
set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "Release flags: optimised for size")
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "Release flags: optimised for size")
