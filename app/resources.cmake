# The Windows version resource, configured in every build so that its text can
# be tested on any platform; only the Windows build compiles it.
# The version text is major "." minor as two digits: 0.1 gives "0.01".
if(PROJECT_VERSION_MINOR LESS 10)
  set(TAMBERLODE_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(TAMBERLODE_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()
set(TAMBERLODE_ICON_FILE ${PROJECT_SOURCE_DIR}/app/icon/tamberlode.ico)
set(TAMBERLODE_VERSION_RC ${PROJECT_BINARY_DIR}/generated/app/version.rc)
configure_file(${PROJECT_SOURCE_DIR}/app/version.rc.in ${TAMBERLODE_VERSION_RC} @ONLY)
