# 32-bit Windows, the program's home platform: i686-w64-mingw32.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TAMBERLODE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
