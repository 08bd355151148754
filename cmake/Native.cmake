# Host build of the platform-free code, for the unit tests, benchmarks and fuzzers.
option(QD_SANITIZE "Build with AddressSanitizer and UBSan" ON)

add_compile_options(-Wall -Wextra)
if(QD_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(qd_portable STATIC ${QD_PORTABLE_SOURCES})
target_include_directories(qd_portable PUBLIC ${QD_INCLUDE_DIRS})

find_package(GTest REQUIRED)
include(GoogleTest)
add_executable(unit_tests ${QD_UNIT_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE qd_portable GTest::gtest GTest::gtest_main)
gtest_discover_tests(unit_tests TEST_PREFIX "native." DISCOVERY_TIMEOUT 60
                     PROPERTIES TIMEOUT 120)

find_package(benchmark QUIET)
if(benchmark_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/tests/bench)
  file(GLOB _bench_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/bench/*_bench.cpp)
  if(_bench_sources)
    add_executable(benchmarks ${_bench_sources})
    target_link_libraries(benchmarks PRIVATE qd_portable benchmark::benchmark benchmark::benchmark_main)
  endif()
endif()
