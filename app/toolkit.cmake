# The toolkit layer: the platform-independent half and the backend CMake
# picks for this platform, with the program's embedded pictures.
include(${PROJECT_SOURCE_DIR}/cmake/Embed.cmake)
tamberlode_embed(${CMAKE_CURRENT_BINARY_DIR}/resources.cpp
  IconPng16 ${PROJECT_SOURCE_DIR}/app/icon/tamberlode-16.png
  IconPng32 ${PROJECT_SOURCE_DIR}/app/icon/tamberlode-32.png
  IconIco ${PROJECT_SOURCE_DIR}/app/icon/tamberlode.ico
  BannerBmp ${PROJECT_SOURCE_DIR}/notice/pictures/banner.bmp
  CreditBmp ${PROJECT_SOURCE_DIR}/notice/pictures/credit.bmp
  EmailBmp ${PROJECT_SOURCE_DIR}/notice/pictures/email.bmp)

if(TAMBERLODE_PLATFORM STREQUAL win32)
  set(toolkit_backend toolkit_win32.cpp)
else()
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  set(toolkit_backend toolkit_qt.cpp)
endif()

add_library(tamberlode_toolkit STATIC toolkit.cpp ${toolkit_backend}
                                      ${CMAKE_CURRENT_BINARY_DIR}/resources.cpp)
target_link_libraries(tamberlode_toolkit PUBLIC tamberlode_core PRIVATE tamberlode_warnings)
if(TAMBERLODE_PLATFORM STREQUAL win32)
  target_link_libraries(tamberlode_toolkit PUBLIC user32 gdi32 oleacc oleaut32 ole32)
else()
  target_link_libraries(tamberlode_toolkit PUBLIC Qt6::Widgets)
endif()
