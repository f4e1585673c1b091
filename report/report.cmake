target_sources(tamberlode_windows PRIVATE ${CMAKE_CURRENT_LIST_DIR}/form2.cpp)
