target_sources(tamberlode_windows PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/frmabout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sysinfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_${TAMBERLODE_PLATFORM}.cpp)
