# The programs the soak and the benchmarks run beside the companion under Wine.
add_executable(bench_probe tests/bench/probe_win.cpp)
target_include_directories(bench_probe PRIVATE src)
target_link_libraries(bench_probe PRIVATE psapi user32)
target_link_options(bench_probe PRIVATE ${QELM_STATIC_LINK} -municode)
qelm_warnings(bench_probe)
