# The Linux drive map, its query and its time limit; the real-filesystem test
# runs in a binary of its own because it moves into a new mount namespace.
if(NOT TAMBERLODE_PLATFORM STREQUAL "win32")
  add_executable(drivemap_tests drivemap_test.cpp)
  target_link_libraries(drivemap_tests PRIVATE tamberlode_platform GTest::gtest_main
                                               tamberlode_warnings)
  target_compile_definitions(drivemap_tests PRIVATE
    TAMBERLODE_DRIVEMAP_FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/fixtures/drivemap")
  gtest_discover_tests(drivemap_tests)

  add_executable(drivemap_mount_tests drivemap_mount_test.cpp)
  target_link_libraries(drivemap_mount_tests PRIVATE tamberlode_platform GTest::gtest_main
                                                     tamberlode_warnings)
  gtest_discover_tests(drivemap_mount_tests)
endif()
