# Fuzz targets over the fake platform. Every native build replays each target's stored corpus as
# a test labelled fuzz, so that inputs found once keep being checked with any compiler; with
# QELM_FUZZ (clang only) the same targets are also linked with libFuzzer to search for new ones.

option(QELM_FUZZ "Also build the libFuzzer executables <target>_fuzzer (clang only)" OFF)

if(QELM_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "QELM_FUZZ needs clang for -fsanitize=fuzzer; use the fuzz preset")
    endif()
endif()

set(QELM_FUZZ_TARGETS blacklist commands host registry texts)

foreach(target IN LISTS QELM_FUZZ_TARGETS)
    set(source ${PROJECT_SOURCE_DIR}/tests/fuzz/${target}_fuzz.cpp)

    add_executable(${target}_replay ${source} ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
    target_link_libraries(${target}_replay PRIVATE qelm_host_core qelmctl_core qelm_core qelm_fake)
    qelm_warnings(${target}_replay)
    add_test(NAME fuzz_replay_${target}
             COMMAND ${target}_replay ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${target})
    set_tests_properties(fuzz_replay_${target} PROPERTIES LABELS fuzz)

    if(QELM_FUZZ)
        add_executable(${target}_fuzzer ${source})
        target_link_libraries(${target}_fuzzer PRIVATE qelm_host_core qelmctl_core qelm_core qelm_fake)
        target_link_options(${target}_fuzzer PRIVATE -fsanitize=fuzzer)
        qelm_warnings(${target}_fuzzer)
    endif()
endforeach()
