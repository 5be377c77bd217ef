# One ctest test per GoogleTest suite of a test program, named after the
# suite and running the program with --gtest_filter=<suite>.*
#
# A ctest test is a start of the whole program; with one test per case,
# some six hundred starts cost the suite seconds of processor time, while a
# suite's cases run in one process. Which case failed still shows: ctest
# --output-on-failure prints the program's own report.
#
#   add_gtest_suites(TARGET TIMEOUT seconds)
#
# The suites are listed (the program's --gtest_list_tests) when ctest starts
# and only again once the program has been rebuilt.
set(GTEST_SUITES_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")

function(add_gtest_suites target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "TIMEOUT" "")
  if(NOT arg_TIMEOUT)
    message(FATAL_ERROR "add_gtest_suites(${target}) needs a TIMEOUT")
  endif()
  set(listed "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake")
  set(include "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites_include.cmake")
  file(GENERATE OUTPUT "${include}" CONTENT
"set(program [==[$<TARGET_FILE:${target}>]==])
set(listed [==[${listed}]==])
if(NOT EXISTS \"\${listed}\" OR \"\${program}\" IS_NEWER_THAN \"\${listed}\")
  set(working_directory [==[${CMAKE_CURRENT_BINARY_DIR}]==])
  set(timeout ${arg_TIMEOUT})
  include([==[${GTEST_SUITES_SCRIPT}]==])
  list_gtest_suites()
endif()
include(\"\${listed}\")
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${include}")
endfunction()

# At ctest time: writes `listed`, the add_test and set_tests_properties calls
# of each suite `program` lists. Two ctest runs may start at once: one lists
# while the other waits for the lock, and the list is written under another
# name and renamed, so that no run reads half of it.
function(list_gtest_suites)
  file(LOCK "${listed}.lock" GUARD FUNCTION TIMEOUT 600)
  if(EXISTS "${listed}" AND NOT "${program}" IS_NEWER_THAN "${listed}")
    return()
  endif()
  execute_process(COMMAND "${program}" --gtest_list_tests
                  WORKING_DIRECTORY "${working_directory}"
                  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${program} --gtest_list_tests failed (${status}): ${errors}")
  endif()
  # A parameterised case's line ends with a comment that may hold anything.
  string(REGEX REPLACE "  #[^\n]*" "" listing "${listing}")
  string(REPLACE "\n" ";" lines "${listing}")
  set(text "")
  foreach(line IN LISTS lines)
    # A suite's line stands at the start and ends with a dot; its cases
    # follow indented.
    if(line MATCHES "^([^ ]+)\\.$")
      set(suite "${CMAKE_MATCH_1}")
      string(APPEND text
        "add_test([==[${suite}]==] [==[${program}]==] [==[--gtest_filter=${suite}.*]==])\n"
        "set_tests_properties([==[${suite}]==] PROPERTIES WORKING_DIRECTORY [==[${working_directory}]==]"
        " TIMEOUT ${timeout})\n")
    endif()
  endforeach()
  if(text STREQUAL "")
    message(FATAL_ERROR "${program} lists no test suite")
  endif()
  file(WRITE "${listed}.new" "${text}")
  file(RENAME "${listed}.new" "${listed}")
endfunction()
