# The committed icon and notice pictures, and the configured version resource.
add_executable(artwork_tests icon_test.cpp pictures_test.cpp version_rc_test.cpp)
target_link_libraries(artwork_tests PRIVATE tamberlode_iconkit GTest::gtest_main
                                            tamberlode_warnings)
target_compile_definitions(artwork_tests PRIVATE
  TAMBERLODE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  TAMBERLODE_VERSION_RC="${PROJECT_BINARY_DIR}/generated/app/version.rc"  # app/resources.cmake
)
gtest_discover_tests(artwork_tests)
