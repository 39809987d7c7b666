# PDFium comes as one library file without headers or SONAME (see scripts/setup.sh).
# The build always links a copy inside the build tree, so rpaths stay relative.
set(PDFIUM_LIBRARY "" CACHE FILEPATH "PDFium shared library to build against (default: the one scripts/setup.sh unpacks)")

set(_pdfium_local ${CMAKE_BINARY_DIR}/pdfium/libpdfiumlo.so)
set(_pdfium_src ${PDFIUM_LIBRARY})
if(NOT _pdfium_src)
  foreach(_cand ${_pdfium_local} ${CMAKE_SOURCE_DIR}/build/pdfium/libpdfiumlo.so)
    if(EXISTS ${_cand})
      set(_pdfium_src ${_cand})
      break()
    endif()
  endforeach()
endif()
if(NOT _pdfium_src OR NOT EXISTS ${_pdfium_src})
  message(FATAL_ERROR "PDFium library not found: run scripts/setup.sh, or set -DPDFIUM_LIBRARY=/path/to/libpdfium.so")
endif()
if(NOT _pdfium_src STREQUAL _pdfium_local)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/pdfium)
  configure_file(${_pdfium_src} ${_pdfium_local} COPYONLY)
endif()

# Every function our declarations header names must be exported by this library build:
# Debian's security updates may change it, and a missing symbol would only show at run time.
find_program(NM_TOOL NAMES nm REQUIRED)
execute_process(COMMAND ${NM_TOOL} -D --defined-only ${_pdfium_local}
  OUTPUT_VARIABLE _pdfium_nm RESULT_VARIABLE _nm_rc)
if(NOT _nm_rc EQUAL 0)
  message(FATAL_ERROR "cannot read the symbols of ${_pdfium_local}")
endif()
file(STRINGS ${CMAKE_SOURCE_DIR}/core/pdfium_api.h _pdfium_decls REGEX "^QV_PDFIUM_FN ")
set(_pdfium_missing "")
set(_pdfium_count 0)
foreach(_decl IN LISTS _pdfium_decls)
  string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)\\(" _m "${_decl}")
  set(_fn ${CMAKE_MATCH_1})
  math(EXPR _pdfium_count "${_pdfium_count} + 1")
  string(REGEX MATCH " T ${_fn}\n" _found "${_pdfium_nm}")
  if(NOT _found)
    list(APPEND _pdfium_missing ${_fn})
  endif()
endforeach()
if(_pdfium_missing)
  message(FATAL_ERROR "The PDFium library ${_pdfium_src} does not export: ${_pdfium_missing}")
endif()
message(STATUS "PDFium: ${_pdfium_count} declared functions exported by ${_pdfium_src}")

add_library(pdfium SHARED IMPORTED GLOBAL)
set_target_properties(pdfium PROPERTIES
  IMPORTED_LOCATION ${_pdfium_local}
  IMPORTED_NO_SONAME TRUE)
