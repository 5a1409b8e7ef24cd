# Per-target defaults: C++20, warnings, include root at src/.
function(zv_target_defaults target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(ZV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# zv_library(name SOURCES ... DEPS ...): a module library whose public include root is src/.
function(zv_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  zv_target_defaults(${name})
endfunction()

# zv_program(name SOURCES ... DEPS ...): an executable placed in the build root.
function(zv_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  zv_target_defaults(${name})
endfunction()

# zv_test(name SOURCES ... DEPS ...): a GoogleTest executable registered with ctest.
function(zv_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    ZV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" ZV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  zv_target_defaults(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR} PROPERTIES TIMEOUT 300)
endfunction()

# zv_bench(name SOURCES ... DEPS ...): a Google Benchmark executable (built by `make bench`).
function(zv_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT benchmark_FOUND)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench
                                           EXCLUDE_FROM_ALL TRUE)
  zv_target_defaults(${name})
  set_property(GLOBAL APPEND PROPERTY ZV_BENCHMARKS ${name})
endfunction()

# Adds every directory below `dir` that holds a CMakeLists.txt, in path order. Such
# directories are leaves: tests/agent/schemas has one, tests/agent does not.
function(zv_add_subdirs dir)
  file(GLOB_RECURSE lists RELATIVE ${dir} ${dir}/*/CMakeLists.txt)
  list(SORT lists)
  foreach(list_file ${lists})
    get_filename_component(child ${list_file} DIRECTORY)
    add_subdirectory(${dir}/${child})
  endforeach()
endfunction()

# zv_glob_library(name DEPS ...): a module library from every *.cpp in the current directory
# (not recursive), so several files can be added without touching this list.
function(zv_glob_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  zv_library(${name} SOURCES ${sources} DEPS ${ARG_DEPS})
endfunction()

# zv_test_dir(prefix DEPS ...): one test executable `<prefix>_<file>` per *_test.cpp here.
function(zv_test_dir prefix)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(test_file ${tests})
    get_filename_component(stem ${test_file} NAME_WE)
    zv_test(${prefix}_${stem} SOURCES ${test_file} DEPS ${ARG_DEPS})
  endforeach()
endfunction()
