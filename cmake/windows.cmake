# The Windows build: qelm.exe, the fixture browser and the scenario tests that run them under
# Wine. Everything links statically, so nothing beyond the system's DLLs is needed.
enable_language(RC)
add_compile_definitions(UNICODE _UNICODE)

set(QELM_STATIC_LINK -static -s)

add_library(qelm_platform_win STATIC
    src/platform/desktop_win.cpp
    src/platform/heap_win.cpp
    src/platform/input_win.cpp
    src/platform/processes_win.cpp
    src/platform/registry_win.cpp
    src/platform/shell_win.cpp
    src/platform/threads_win.cpp
)
target_include_directories(qelm_platform_win PUBLIC src)
target_link_libraries(qelm_platform_win PUBLIC psapi advapi32 ole32 user32)
qelm_warnings(qelm_platform_win)

add_executable(qelm WIN32
    src/app/controller_dlg_win.cpp
    src/app/layered_dialog_win.cpp
    src/app/recovery_app_win.cpp
    res/qelm.rc
)
target_link_libraries(qelm PRIVATE qelm_core qelm_platform_win comctl32 ole32 shell32 gdi32)
target_link_options(qelm PRIVATE ${QELM_STATIC_LINK} -municode)
qelm_warnings(qelm)

add_executable(qelmctl tools/qelmctl/main_win.cpp)
target_link_libraries(qelmctl PRIVATE qelmctl_core qelm_core qelm_platform_win)
target_link_options(qelmctl PRIVATE ${QELM_STATIC_LINK} -municode)
qelm_warnings(qelmctl)

add_executable(fixture_browser WIN32 tests/scenario/fixture_browser_win.cpp)
target_link_libraries(fixture_browser PRIVATE shell32)
target_link_options(fixture_browser PRIVATE ${QELM_STATIC_LINK} -municode)
qelm_warnings(fixture_browser)

include(${CMAKE_SOURCE_DIR}/tests/scenario/scenarios.cmake)
include(${CMAKE_SOURCE_DIR}/tests/bench/bench.cmake)
