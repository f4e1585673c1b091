# Start-up time and resident memory of the 21-control report window against the
# smallest Qt Widgets programs (an empty window; one line of text), each
# spawned by the driver (Linux, Qt only).
if(NOT TAMBERLODE_PLATFORM STREQUAL "win32")
  find_package(Qt6 REQUIRED COMPONENTS Widgets)

  add_executable(startup_bare startup_bare.cpp startup_probe.cpp)
  target_link_libraries(startup_bare PRIVATE Qt6::Widgets tamberlode_warnings)

  add_executable(startup_label startup_label.cpp startup_probe.cpp)
  target_link_libraries(startup_label PRIVATE Qt6::Widgets tamberlode_warnings)

  add_executable(startup_toolkit startup_toolkit.cpp startup_probe.cpp)
  target_link_libraries(startup_toolkit PRIVATE tamberlode_windows tamberlode_warnings)

  add_executable(startup_bench startup_bench.cpp)
  target_link_libraries(startup_bench PRIVATE benchmark::benchmark tamberlode_warnings)
  target_compile_definitions(startup_bench PRIVATE
    TAMBERLODE_STARTUP_BARE="$<TARGET_FILE:startup_bare>"
    TAMBERLODE_STARTUP_LABEL="$<TARGET_FILE:startup_label>"
    TAMBERLODE_STARTUP_TOOLKIT="$<TARGET_FILE:startup_toolkit>")
  # The programs are spawned, not linked: build them with the driver.
  add_dependencies(startup_bench startup_bare startup_label startup_toolkit)
endif()
