# find_package(GTest) for the mingw cross builds: Debian's googletest source
# package, built once per build tree with the cross compiler.
set(TAMBERLODE_GTEST_SOURCE /usr/src/googletest CACHE PATH "googletest sources")
if(NOT TARGET gtest)
  if(NOT EXISTS ${TAMBERLODE_GTEST_SOURCE}/CMakeLists.txt)
    set(GTest_FOUND FALSE)
    set(GTest_NOT_FOUND_MESSAGE "no googletest sources in ${TAMBERLODE_GTEST_SOURCE} (apt-get install googletest)")
    return()
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${TAMBERLODE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(target gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${target})  # newer googletest defines these itself
      add_library(GTest::${target} ALIAS ${target})
    endif()
  endforeach()
endif()
set(GTest_FOUND TRUE)
