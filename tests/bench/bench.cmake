# The programs the soak and the benchmarks run beside the companion under Wine.
add_executable(bench_probe tests/bench/probe_win.cpp)
target_include_directories(bench_probe PRIVATE src)
target_link_libraries(bench_probe PRIVATE psapi user32)
target_link_options(bench_probe PRIVATE ${QELM_STATIC_LINK} -municode)
qelm_warnings(bench_probe)

add_executable(bench_floor WIN32 tests/bench/floor_win.cpp)
target_include_directories(bench_floor PRIVATE src)
target_link_libraries(bench_floor PRIVATE psapi user32 advapi32)
target_link_options(bench_floor PRIVATE ${QELM_STATIC_LINK} -municode)
qelm_warnings(bench_floor)

# The reader of Wine's relay trace on which the bench's same-calls check rests.
find_program(QELM_PYTHON3 python3 REQUIRED)
add_test(NAME bench_relay_calls
         COMMAND ${QELM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/bench/relay_calls_test.py)
set_tests_properties(bench_relay_calls PROPERTIES LABELS bench)
