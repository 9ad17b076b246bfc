# Shared helpers for the project's targets.

find_package(GTest QUIET)
include(GoogleTest)

# kx_add_gtest(NAME SOURCES src... LIBS lib...)
# A GoogleTest executable whose cases are discovered when CTest runs.
function(kx_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "KXQ_REGISTRY=${CMAKE_BINARY_DIR}/test-registry.xml")
endfunction()

# kx_add_bench(NAME SOURCES src... LIBS lib...)
function(kx_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()

# kx_add_fuzzer(NAME SOURCES src... LIBS lib... CORPUS dir)
# A libFuzzer target; CTest replays its corpus (each input once).
function(kx_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  if(ARG_CORPUS)
    add_test(NAME ${name}.corpus COMMAND ${name} -runs=0 ${ARG_CORPUS})
    set_tests_properties(${name}.corpus PROPERTIES
      ENVIRONMENT "KXQ_REGISTRY=${CMAKE_BINARY_DIR}/test-registry.xml")
  endif()
endfunction()
