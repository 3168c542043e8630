# Helpers shared by every component.

# Warnings on, and as errors, for our own code only.
function(suite_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  # g++ 12 at -O3 reports overlapping copies inside std::string that cannot
  # happen (GCC bug 105329) in any test that joins strings; the Debug builds
  # keep the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13
     AND CMAKE_BUILD_TYPE STREQUAL "Release")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
  endif()
endfunction()

# suite_library(NAME SOURCES... [PUBLIC_LIBS libs...] [INCLUDE dir])
# A static library; its folder's include/ (or the folder) is public.
function(suite_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;INCLUDES" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES} ${A_UNPARSED_ARGUMENTS})
  suite_warnings(${name})
  if(A_INCLUDES)
    target_include_directories(${name} PUBLIC ${A_INCLUDES})
  elseif(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/include")
    target_include_directories(${name} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/include")
  else()
    target_include_directories(${name} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  if(A_LIBS)
    target_link_libraries(${name} PUBLIC ${A_LIBS})
  endif()
endfunction()

# suite_test(NAME LABEL label SOURCES... [LIBS libs...])
# One GoogleTest executable is ONE CTest test: under Wine each process costs
# time, so cases are not split into processes. Under the win32 preset CTest
# runs it through tools/wine-run (the crosscompiling emulator).
function(suite_test name)
  cmake_parse_arguments(A "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES} ${A_UNPARSED_ARGUMENTS})
  suite_warnings(${name})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    SUITE_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    SUITE_TABLES_DIR="${SUITE_TABLES_DIR}"
    SUITE_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1
           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if(NOT A_LABEL)
    set(A_LABEL misc)
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${A_LABEL}" TIMEOUT ${A_TIMEOUT})
endfunction()

# suite_bench(NAME SOURCES... [LIBS libs...]): Google Benchmark, native-bench only.
function(suite_bench name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT SUITE_BENCH)
    return()
  endif()
  add_executable(${name} ${A_SOURCES} ${A_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${A_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# suite_dll_exports(TARGET [PRIVATE] SYMBOLS Name@bytes...)
# Writes the module-definition file of a DLL so that its exported names are
# undecorated on both Windows targets: a stdcall function is Name@bytes on
# i686 only. PRIVATE keeps the names out of the import library, as COM's
# four entry points must be.
function(suite_dll_exports target)
  cmake_parse_arguments(A "PRIVATE" "" "SYMBOLS" ${ARGN})
  get_target_property(out ${target} OUTPUT_NAME)
  if(NOT out)
    set(out ${target})
  endif()
  set(text "LIBRARY ${out}.dll\nEXPORTS\n")
  foreach(sym IN LISTS A_SYMBOLS)
    string(REGEX REPLACE "@[0-9]+$" "" plain "${sym}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT plain STREQUAL sym)
      string(APPEND text "  ${plain} = ${sym}")
    else()
      string(APPEND text "  ${plain}")
    endif()
    if(A_PRIVATE)
      string(APPEND text " PRIVATE")
    endif()
    string(APPEND text "\n")
  endforeach()
  set(def "${CMAKE_CURRENT_BINARY_DIR}/${target}.def")
  file(GENERATE OUTPUT "${def}" CONTENT "${text}")
  target_sources(${target} PRIVATE "${def}")
endfunction()
