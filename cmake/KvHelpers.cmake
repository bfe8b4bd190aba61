# Shared build rules: warnings, sanitizers, and the helpers every folder uses
# to declare its library, tests, fuzz targets and benchmarks.

add_library(kv_warnings INTERFACE)
target_compile_options(kv_warnings INTERFACE -Wall -Wextra)
# GCC 12 at -O2/-O3 reports -Wrestrict on std::string appends of literals
# (GCC bug 105651), in code that has no overlapping copy at all.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(kv_warnings INTERFACE -Wno-restrict)
endif()

# Every library of a fuzzing build carries coverage, not only the fuzz targets.
if(KV_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(KV_SANITIZE)
  add_compile_options(-fsanitize=${KV_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${KV_SANITIZE})
endif()

# kv_add_library(NAME SOURCES... [DEPS ...] [PRIVATE_DEPS ...])
function(kv_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE kv_warnings ${ARG_PRIVATE_DEPS})
endfunction()

# kv_add_test(NAME SOURCES... [DEPS ...] [LABELS ...]): one GoogleTest binary
# registered with CTest case by case.
function(kv_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main kv_warnings)
  target_compile_definitions(${name} PRIVATE
    KV_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  include(GoogleTest)
  set(labels unit)
  if(ARG_LABELS)
    set(labels ${ARG_LABELS})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${labels}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# kv_add_fuzzer(NAME SOURCES... [DEPS ...] [CORPUS dir]): with KV_FUZZ a
# libFuzzer binary; otherwise the same entry point driven over the seed corpus
# by a small runner, so every build keeps the target compiling and its seeds
# passing.
function(kv_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} kv_warnings)
  if(KV_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/fuzz/seed_runner.cpp)
    if(KV_BUILD_TESTS AND ARG_CORPUS)
      add_test(NAME fuzz_seeds.${name} COMMAND ${name} ${ARG_CORPUS})
      set_tests_properties(fuzz_seeds.${name} PROPERTIES LABELS "fuzz-seeds")
    endif()
  endif()
endfunction()

# kv_add_bench(NAME SOURCES... [DEPS ...]): a Google Benchmark binary with the
# ctest label "bench", which the test script leaves out.
function(kv_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark kv_warnings)
  target_compile_definitions(${name} PRIVATE
    KV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME bench.${name} COMMAND ${name})
  set_tests_properties(bench.${name} PROPERTIES LABELS "bench")
endfunction()
