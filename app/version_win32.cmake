# Windows only: the version resource and the program icon, compiled into
# Tamberlode.exe from the .rc that app/resources.cmake configures.
enable_language(RC)
include(${PROJECT_SOURCE_DIR}/app/resources.cmake)
target_sources(tamberlode PRIVATE ${TAMBERLODE_VERSION_RC})
# The manifest declares the program DPI-aware.
target_sources(tamberlode PRIVATE ${PROJECT_SOURCE_DIR}/app/manifest_win32.rc)
# Release builds carry no symbols (-s); address-space randomisation and
# no-execute data (DEP) stay on, and with them the relocations.
target_link_options(tamberlode PRIVATE $<$<CONFIG:Release>:-s> -Wl,--dynamicbase -Wl,--nxcompat)
# windres reports no dependencies: a changed manifest rebuilds the resource.
set_source_files_properties(${PROJECT_SOURCE_DIR}/app/manifest_win32.rc PROPERTIES
  OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/app/tamberlode.manifest)
