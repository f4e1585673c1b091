# The free-space counters shared by the Linux and Windows queries.
add_executable(counters_tests counters_test.cpp)
target_link_libraries(counters_tests PRIVATE tamberlode_core GTest::gtest_main tamberlode_warnings)
gtest_discover_tests(counters_tests)
