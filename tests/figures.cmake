# Figures wider than the design's result boxes, on the real Qt backend
# (offscreen), with screenshots for review.
if(NOT TAMBERLODE_PLATFORM STREQUAL win32)
  add_executable(figure_tests qt_main.cpp wide_figures_test.cpp)
  target_link_libraries(figure_tests PRIVATE tamberlode_windows Qt6::Test GTest::gtest
                                             tamberlode_warnings)
  gtest_discover_tests(figure_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                       DISCOVERY_TIMEOUT 30)
endif()
