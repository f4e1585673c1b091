# The System Info button: the registry value reader, the launcher and the
# Linux stand-in registry, on the real Qt backend (offscreen) with real
# launches of small scripts.
if(NOT TAMBERLODE_PLATFORM STREQUAL win32)
  add_executable(sysinfo_tests qt_main.cpp sysinfo_test.cpp)
  target_link_libraries(sysinfo_tests PRIVATE tamberlode_windows Qt6::Test GTest::gtest
                                              tamberlode_warnings)
  gtest_discover_tests(sysinfo_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                       DISCOVERY_TIMEOUT 30)
endif()
