# Turns files into byte arrays in a generated C++ source, so both backends can
# draw the same pictures without resource systems of their own.
#
#   tamberlode_embed(<output.cpp> <namespace> <symbol> <file> [<symbol> <file> ...])
#
# defines `std::span<const unsigned char> <namespace>::<symbol>()` for each pair.
function(tamberlode_embed output namespace)
  set(pairs ${ARGN})
  set(files "")
  list(LENGTH pairs count)
  math(EXPR last "${count} - 1")
  foreach(i RANGE 1 ${last} 2)
    list(GET pairs ${i} file)
    list(APPEND files ${file})
  endforeach()
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} "-DPAIRS=${pairs}" -DNAMESPACE=${namespace} -P ${PROJECT_SOURCE_DIR}/cmake/EmbedScript.cmake
    DEPENDS ${files} ${PROJECT_SOURCE_DIR}/cmake/EmbedScript.cmake
    COMMENT "Embedding ${namespace} pictures"
    VERBATIM)
endfunction()
