# Installation on Linux (the program, its desktop entry, icons and AppStream
# metadata) and the Debian package built from the same rules by CPack.
# Windows has neither, so there is nothing to do there.
if(TAMBERLODE_PLATFORM STREQUAL win32)
  return()
endif()

include(GNUInstallDirs)

# One name for the desktop file, the AppStream component and what the running
# program reports to the desktop (toolkit/window_qt.cpp), so they find each other.
set(TAMBERLODE_APP_ID org.example.Tamberlode)

install(TARGETS tamberlode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped program also loses the compilers' notes, as Debian's own
# packages do (dh_strip).
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tamberlode\"
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()")

# The manual page and the Debian changelog, compressed as Debian wants them:
# at most, and without a name or time stamp.
set(docs_dir ${PROJECT_BINARY_DIR}/package)
set(compressed_docs)
foreach(doc tamberlode.1 changelog)
  add_custom_command(OUTPUT ${docs_dir}/${doc}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${docs_dir}
    COMMAND sh -c "gzip -9n <\"$1\" >\"$2\"" sh ${PROJECT_SOURCE_DIR}/data/${doc} ${docs_dir}/${doc}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/data/${doc}
    VERBATIM)
  list(APPEND compressed_docs ${docs_dir}/${doc}.gz)
endforeach()
add_custom_target(tamberlode_docs ALL DEPENDS ${compressed_docs})
install(FILES ${docs_dir}/tamberlode.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${docs_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tamberlode)

# What the package holds and nothing else: `make package` builds this target,
# not the tests, benchmarks and tools.
add_custom_target(shipped)
add_dependencies(shipped tamberlode tamberlode_docs)
install(FILES ${PROJECT_SOURCE_DIR}/data/${TAMBERLODE_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/${TAMBERLODE_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The icon from 16 to 256 px: the pixel designs the window icon is made of,
# scaled by whole factors for the sizes above 32 (identity/icon/README.md).
foreach(size 16 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/identity/icon/tamberlode-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tamberlode.png)
endforeach()
# Debian expects the licence as the package's copyright file.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tamberlode RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tamberlode)
set(CPACK_PACKAGE_VENDOR "the Tamberlode developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show the free space on each drive")
# Debian wants the lines of the long description under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION "Tamberlode shows how many megabytes are free on each of the\n\
drives A: to I:, which stand for the mounted volumes.")
set(CPACK_PACKAGE_HOMEPAGE_URL https://example.org/tamberlode)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the Tamberlode developers <tamberlode@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; the fonts are loaded by name at run
# time, so nothing links them and they are listed here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, fonts-comic-neue")
# Qt's Wayland platform is a plugin, loaded only on a Wayland desktop; without
# it the program runs through XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
include(CPack)
