# Windows only: the version resource and the program icon, compiled into
# Tamberlode.exe from the .rc that app/resources.cmake configures.
enable_language(RC)
include(${PROJECT_SOURCE_DIR}/app/resources.cmake)
target_sources(tamberlode PRIVATE ${TAMBERLODE_VERSION_RC})
# The manifest declares the program DPI-aware.
target_sources(tamberlode PRIVATE ${PROJECT_SOURCE_DIR}/app/manifest_win32.rc)
