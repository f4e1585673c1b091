# The installed tree (every build) and the Debian package (dev build as root).
if(WIN32)
  return()
endif()

add_test(NAME install.tree
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh tree
          ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} ${PROJECT_VERSION} ${TAMBERLODE_SANITIZE})
set_tests_properties(install.tree PROPERTIES TIMEOUT 120)

# Builds its own release tree (nothing else should run meanwhile) and installs
# the package into a throwaway root, never into this system.
add_test(NAME install.deb
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install_test.sh deb
          ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} ${PROJECT_VERSION} ${TAMBERLODE_SANITIZE})
set_tests_properties(install.deb PROPERTIES RUN_SERIAL ON SKIP_RETURN_CODE 77 TIMEOUT 300)
