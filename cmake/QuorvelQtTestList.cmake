# Run after a Qt Test executable is built: writes the names of its test functions into a file
# that ctest reads (see QuorvelQtTestInclude.cmake.in).
execute_process(
  COMMAND bash ${RUNNER} ${EXE} -functions
  OUTPUT_VARIABLE _out ERROR_VARIABLE _err RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "${EXE} -functions failed (${_rc}):\n${_out}${_err}")
endif()
string(REGEX MATCHALL "[^\n]+" _lines "${_out}")
set(_functions "")
foreach(_line IN LISTS _lines)
  if(_line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)\\(\\)$")
    list(APPEND _functions ${CMAKE_MATCH_1})
  endif()
endforeach()
if(NOT _functions)
  message(FATAL_ERROR "${EXE} lists no test function")
endif()
file(WRITE ${OUT}.new "set(quorvel_qtest_functions \"${_functions}\")\n")
file(RENAME ${OUT}.new ${OUT})
