# Platform pieces of the frame: the free-space query of Module1.
add_library(tamberlode_platform STATIC module1_${TAMBERLODE_PLATFORM}.cpp)
target_link_libraries(tamberlode_platform PUBLIC tamberlode_core PRIVATE tamberlode_warnings)

add_executable(survey_cli survey_cli.cpp)
target_link_libraries(survey_cli PRIVATE tamberlode_platform tamberlode_warnings)
