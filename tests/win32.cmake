# Windows only: tests of the Win32 backend and of the Windows platform
# pieces, and two helpers of the Wine run (scripts/wine-tests.sh): a window
# lister that reads captions from outside the program, and a stand-in for
# the system-information tool that leaves a marker.
if(TAMBERLODE_PLATFORM STREQUAL win32)
  add_executable(win32_tests
    win32/main_win32.cpp
    win32/toolkit_win32_test.cpp
    win32/free_space_win32_test.cpp
    win32/registry_win32_test.cpp
    win32/fit_win32_test.cpp
    win32/launcher_win32_test.cpp)
  target_link_libraries(win32_tests PRIVATE tamberlode_windows GTest::gtest tamberlode_warnings)
  gtest_discover_tests(win32_tests)

  add_executable(wintext win32/wintext_win32.cpp)
  target_link_libraries(wintext PRIVATE user32 tamberlode_warnings)

  add_executable(marker win32/marker_win32.cpp)
  target_link_libraries(marker PRIVATE tamberlode_warnings)
endif()
