# The display lost under the running program: a real X server (Xvfb) killed.
if(NOT TAMBERLODE_PLATFORM STREQUAL win32)
  add_test(NAME Program.EndsPlainlyWhenTheDisplayIsLost
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/lost_display_test.sh $<TARGET_FILE:tamberlode>)
  set_tests_properties(Program.EndsPlainlyWhenTheDisplayIsLost PROPERTIES
                       SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()
