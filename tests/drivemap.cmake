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

  # FUSE volumes that hang or answer late, made by a small python3-fusepy
  # filesystem; a private mount namespace of its own again.
  add_executable(stuck_volume_tests stuck_volumes_test.cpp)
  target_link_libraries(stuck_volume_tests PRIVATE tamberlode_platform GTest::gtest_main
                                                   tamberlode_warnings)
  target_compile_definitions(stuck_volume_tests PRIVATE
    TAMBERLODE_STUCKFS="${CMAKE_CURRENT_SOURCE_DIR}/faults/stuckfs.py")
  gtest_discover_tests(stuck_volume_tests PROPERTIES TIMEOUT 60)

  # The same faults under the whole program on Xvfb: Start, Refresh, Exit.
  add_test(NAME Program.HungVolumesNeitherFreezeTheWindowNorHoldTheProcess
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/faults/hung_window_test.sh $<TARGET_FILE:tamberlode>
                   ${CMAKE_CURRENT_SOURCE_DIR}/faults/stuckfs.py)
  set_tests_properties(Program.HungVolumesNeitherFreezeTheWindowNorHoldTheProcess
                       PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 90)
endif()
