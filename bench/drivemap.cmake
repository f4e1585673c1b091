# The Linux free-space query against its floor, raw statvfs calls.
if(NOT TAMBERLODE_PLATFORM STREQUAL "win32")
  add_executable(drivemap_bench drivemap_bench.cpp)
  target_link_libraries(drivemap_bench PRIVATE tamberlode_platform benchmark::benchmark_main
                                               tamberlode_warnings)
endif()
