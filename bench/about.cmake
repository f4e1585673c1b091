# Heap in use while the About box is opened and closed over and over (Linux,
# Qt only); run it under valgrind --tool=massif for where the bytes go.
if(NOT TAMBERLODE_PLATFORM STREQUAL "win32")
  add_executable(about_heap_bench about_heap_bench.cpp)
  target_link_libraries(about_heap_bench PRIVATE tamberlode_windows benchmark::benchmark
                                                 tamberlode_warnings)
endif()
