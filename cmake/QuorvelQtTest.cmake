# Qt Test executables of the desktop layer: one per test_*.cpp of the calling folder, each of
# its test functions a ctest test of its own, run headless through tests/headless.sh.
#
#   quorvel_qtest_dir(PREFIX desktop_ LIBS quorvel_desktop)
#
# Files named support_*.cpp in the same folder are linked into every executable of it. The
# functions are listed after each build (the executable's -functions), so a new function or a
# new file needs no edit here.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Widgets Test)

set(QUORVEL_QTEST_RUNNER ${CMAKE_SOURCE_DIR}/tests/headless.sh)
set(QUORVEL_QTEST_DIR ${CMAKE_CURRENT_LIST_DIR})

function(quorvel_qtest_env out)
  set(_env "QUORVEL_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data" "QUORVEL_BUILD_DIR=${CMAKE_BINARY_DIR}")
  # A narrow suppression file for leaks of Qt or fontconfig, once one shows; none so far.
  if(QUORVEL_SANITIZE AND EXISTS ${CMAKE_SOURCE_DIR}/tests/lsan.supp)
    list(APPEND _env "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
  endif()
  set(${out} "${_env}" PARENT_SCOPE)
endfunction()

function(quorvel_qtest_dir)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "PREFIX;TIMEOUT" "LIBS")
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  file(GLOB _support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support_*.cpp
                                       ${CMAKE_CURRENT_SOURCE_DIR}/support_*.h)
  quorvel_qtest_env(_env)
  set(QTEST_ENV "${_env}")
  foreach(_src IN LISTS _tests)
    get_filename_component(_name ${_src} NAME_WE)
    set(_target ${ARG_PREFIX}${_name})
    add_executable(${_target} ${_src} ${_support})
    # QT_TESTCASE_BUILDDIR would otherwise put this machine's build folder into the binary.
    set_target_properties(${_target} PROPERTIES AUTOMOC ON QT_TESTCASE_BUILDDIR "."
      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_link_libraries(${_target} PRIVATE ${ARG_LIBS} Qt6::Test)
    target_include_directories(${_target} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR})
    quorvel_runtime_paths(${_target})

    set(QTEST_TARGET ${_target})
    set(QTEST_EXE ${CMAKE_BINARY_DIR}/tests/${_target})
    set(QTEST_LIST ${CMAKE_CURRENT_BINARY_DIR}/${_target}_functions.cmake)
    set(QTEST_RUNNER ${QUORVEL_QTEST_RUNNER})
    set(QTEST_WORKDIR ${CMAKE_BINARY_DIR}/tests)
    set(QTEST_TIMEOUT ${ARG_TIMEOUT})
    add_custom_command(TARGET ${_target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DEXE=${QTEST_EXE} -DRUNNER=${QTEST_RUNNER} -DOUT=${QTEST_LIST}
              -P ${QUORVEL_QTEST_DIR}/QuorvelQtTestList.cmake
      BYPRODUCTS ${QTEST_LIST}
      VERBATIM)
    set(_include ${CMAKE_CURRENT_BINARY_DIR}/${_target}_include.cmake)
    configure_file(${QUORVEL_QTEST_DIR}/QuorvelQtTestInclude.cmake.in ${_include} @ONLY)
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_include})
  endforeach()
endfunction()
