# Platform pieces of the frame: the free-space query of Module1 and the
# description of each drive letter. Linux builds its drive map from the
# kernel's mount table with libmount.
if(TAMBERLODE_PLATFORM STREQUAL "win32")
  add_library(tamberlode_platform STATIC module1_win32.cpp drives_win32.cpp)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBMOUNT REQUIRED IMPORTED_TARGET mount)
  find_package(Threads REQUIRED)
  add_library(tamberlode_platform STATIC module1_posix.cpp drives_posix.cpp drivemap_posix.cpp
                                         child_calls_posix.cpp)
  target_link_libraries(tamberlode_platform PUBLIC PkgConfig::LIBMOUNT Threads::Threads)
endif()
target_link_libraries(tamberlode_platform PUBLIC tamberlode_core PRIVATE tamberlode_warnings)

add_executable(survey_cli survey_cli.cpp)
target_link_libraries(survey_cli PRIVATE tamberlode_platform tamberlode_warnings)
