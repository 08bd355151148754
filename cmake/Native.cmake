# Host build of the platform-free code, for the unit tests, benchmarks and fuzzers.
option(QD_SANITIZE "Build with AddressSanitizer and UBSan" ON)

add_compile_options(-Wall -Wextra)
if(QD_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

qd_add_layers(PORTABLE)
target_sources(qd_rtl PRIVATE ${QD_ENGLISH_TEXTS})

find_package(GTest REQUIRED)
include(GoogleTest)
add_executable(unit_tests ${QD_UNIT_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE qd_app GTest::gtest GTest::gtest_main)
# The language files and CLDR's plural rules (Debian's unicode-cldr-core) are
# read where they lie.
target_compile_definitions(unit_tests PRIVATE QD_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
gtest_discover_tests(unit_tests TEST_PREFIX "native." DISCOVERY_TIMEOUT 60
                     PROPERTIES TIMEOUT 120)

find_package(benchmark QUIET)
if(benchmark_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/tests/bench)
  file(GLOB _bench_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/bench/*_bench.cpp)
  if(_bench_sources)
    add_executable(benchmarks ${_bench_sources})
    target_link_libraries(benchmarks PRIVATE qd_progress benchmark::benchmark benchmark::benchmark_main)
  endif()
endif()

# libFuzzer targets, built with clang beside the g++ tree and run briefly as
# tests. For a longer run:
#   build/native/fuzz/<Name>_fuzz -max_total_time=600 <scratch dir> tests/fuzz/corpus/<corpus>
find_program(QD_CLANGXX NAMES clang++ clang++-14)
option(QD_FUZZ "Build the libFuzzer targets and run each briefly as a test" ON)
set(QD_FUZZ_SECONDS 8 CACHE STRING "Seconds each fuzz target runs under ctest")
if(QD_FUZZ AND QD_CLANGXX)
  set(_fuzz_targets
    "ContentDisposition:content_disposition"
    "Format:format"
    "ContentLength:content_length"
    "ContentRange:content_range"
    "RetryAfter:retry_after"
    "FormatByteSize:byte_size")
  set(_fuzz_flags -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
                  ${QD_INCLUDE_FLAGS})
  qd_direct_objects(_fuzz_portable ${CMAKE_BINARY_DIR}/fuzz/portable
    COMPILER ${QD_CLANGXX} FLAGS ${_fuzz_flags} SOURCES ${QD_PORTABLE_PATHS} ${QD_ENGLISH_TEXTS})
  set(_fuzz_outputs)
  foreach(entry ${_fuzz_targets})
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 name)
    list(GET entry 1 corpus)
    set(exe ${CMAKE_BINARY_DIR}/fuzz/${name}_fuzz)
    qd_direct_executable(${exe} COMPILER ${QD_CLANGXX} FLAGS ${_fuzz_flags}
      SOURCES ${CMAKE_SOURCE_DIR}/tests/fuzz/${name}_fuzz.cpp OBJECTS ${_fuzz_portable})
    list(APPEND _fuzz_outputs ${exe})
    # New inputs go to a scratch folder; the committed seeds stay as they are.
    set(work ${CMAKE_BINARY_DIR}/fuzz/${name}_work)
    add_test(NAME fuzz.${name}
      COMMAND sh -c "mkdir -p '${work}' && exec '${exe}' -max_total_time=${QD_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 '${work}' '${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${corpus}'")
    set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 120)
  endforeach()
  add_custom_target(fuzzers ALL DEPENDS ${_fuzz_outputs})
endif()
