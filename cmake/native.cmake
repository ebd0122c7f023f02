# The native build: the core over the in-memory fake platform, and its unit tests.

add_library(qelm_fake STATIC
    tests/fake/world.cpp
    tests/fake/desktop_fake.cpp
    tests/fake/files_fake.cpp
    tests/fake/heap_fake.cpp
    tests/fake/input_fake.cpp
    tests/fake/process_list_fake.cpp
    tests/fake/processes_fake.cpp
    tests/fake/registry_fake.cpp
    tests/fake/shell_fake.cpp
    tests/fake/threads_fake.cpp
)
target_include_directories(qelm_fake PUBLIC src tests)
qelm_warnings(qelm_fake)

file(GLOB QELM_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
add_executable(qelm_unit_tests ${QELM_UNIT_TESTS})
target_link_libraries(qelm_unit_tests PRIVATE qelm_host_core qelmctl_core qelm_core qelm_fake GTest::gtest_main)
qelm_warnings(qelm_unit_tests)

include(GoogleTest)
gtest_discover_tests(qelm_unit_tests PROPERTIES LABELS unit)
include(cmake/fuzz.cmake)
