# The toolkit layer and the windows, on the real Qt backend (offscreen).
if(NOT TAMBERLODE_PLATFORM STREQUAL win32)
  add_executable(toolkit_tests qt_main.cpp toolkit_test.cpp)
  target_link_libraries(toolkit_tests PRIVATE tamberlode_toolkit Qt6::Test GTest::gtest
                                              tamberlode_warnings)
  gtest_discover_tests(toolkit_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                       DISCOVERY_TIMEOUT 30)

  add_executable(window_tests qt_main.cpp report_window_test.cpp notice_window_test.cpp
                              about_window_test.cpp)
  target_sources(window_tests PRIVATE access_window_test.cpp)
  target_link_libraries(window_tests PRIVATE tamberlode_windows Qt6::Test GTest::gtest
                                             tamberlode_warnings)
  target_compile_definitions(window_tests PRIVATE
    TAMBERLODE_SANITIZED=$<BOOL:${TAMBERLODE_SANITIZE}>)
  gtest_discover_tests(window_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                       DISCOVERY_TIMEOUT 30)
endif()

if(NOT TAMBERLODE_PLATFORM STREQUAL win32)
  add_test(NAME Program.EndsPlainlyWithoutADisplay
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/no_display_test.sh $<TARGET_FILE:tamberlode>)
endif()
