# 64-bit Windows: the same code, built so that 64-bit-only Wine can run it.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TAMBERLODE_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
