# The Windows build: qelm.exe, the fixture browser and the scenario tests that run them under
# Wine. Everything links statically, so nothing beyond the system's DLLs is needed.
enable_language(RC)
add_compile_definitions(UNICODE _UNICODE)

set(QELM_STATIC_LINK -static -s)

add_library(qelm_platform_win STATIC
    src/platform/desktop_win.cpp
    src/platform/files_win.cpp
    src/platform/heap_win.cpp
    src/platform/input_win.cpp
    src/platform/process_list_win.cpp
    src/platform/processes_win.cpp
    src/platform/registry_win.cpp
    src/platform/shell_win.cpp
    src/platform/threads_win.cpp
)
target_include_directories(qelm_platform_win PUBLIC src)
target_link_libraries(qelm_platform_win PUBLIC psapi advapi32 ole32 user32 ntdll)
qelm_warnings(qelm_platform_win)

add_executable(qelm WIN32
    src/app/controller_dlg_win.cpp
    src/app/layered_dialog_win.cpp
    src/app/recovery_app_win.cpp
    res/qelm.rc
)
target_link_libraries(qelm PRIVATE qelm_core qelm_platform_win comctl32 ole32 shell32 gdi32)
# The version record and the manifest carry the release's version (cmake/version.cmake). The
# resource compiler gets them from a header: windres loses the quotes of a definition's text.
set(QELM_GENERATED ${CMAKE_BINARY_DIR}/generated)
configure_file(res/qelm.exe.manifest ${QELM_GENERATED}/qelm.exe.manifest @ONLY)
string(REPLACE "." ", " QELM_VERSION_FIELDS ${QELM_VERSION})
file(CONFIGURE OUTPUT ${QELM_GENERATED}/qelm_version.h @ONLY CONTENT [[
#define QELM_VERSION "@QELM_VERSION@"
#define QELM_VERSION_FIELDS @QELM_VERSION_FIELDS@
#define QELM_EXE_MANIFEST "@QELM_GENERATED@/qelm.exe.manifest"
]])
target_include_directories(qelm PRIVATE ${QELM_GENERATED})
set_source_files_properties(res/qelm.rc PROPERTIES
    OBJECT_DEPENDS "${QELM_GENERATED}/qelm_version.h;${QELM_GENERATED}/qelm.exe.manifest")
target_link_options(qelm PRIVATE ${QELM_STATIC_LINK} -municode)
qelm_warnings(qelm)

add_executable(qelmctl tools/qelmctl/main_win.cpp)
target_link_libraries(qelmctl PRIVATE qelmctl_core qelm_core qelm_platform_win)
target_link_options(qelmctl PRIVATE ${QELM_STATIC_LINK} -municode)
qelm_warnings(qelmctl)

# nlohmann/json is header-only; Debian keeps it among the Linux headers, so the Windows build
# is shown only its folder.
set(QELM_JSON_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${QELM_JSON_INCLUDE})
file(CREATE_LINK /usr/include/nlohmann ${QELM_JSON_INCLUDE}/nlohmann SYMBOLIC)
target_include_directories(qelmctl_core SYSTEM PUBLIC ${QELM_JSON_INCLUDE})

add_executable(qelm-host tools/qelm-host/main_win.cpp)
target_link_libraries(qelm-host PRIVATE qelm_host_core qelmctl_core qelm_core qelm_platform_win)
target_link_options(qelm-host PRIVATE ${QELM_STATIC_LINK} -municode)
qelm_warnings(qelm-host)

add_executable(fixture_browser WIN32 tests/scenario/fixture_browser_win.cpp)
target_link_libraries(fixture_browser PRIVATE shell32)
target_link_options(fixture_browser PRIVATE ${QELM_STATIC_LINK} -municode)
qelm_warnings(fixture_browser)

include(${CMAKE_SOURCE_DIR}/tests/scenario/scenarios.cmake)
# The scenarios ask the host for the version it was built with.
target_compile_definitions(qelm_scenarios PRIVATE QELM_VERSION="${QELM_VERSION}")
include(${CMAKE_SOURCE_DIR}/tests/firefox/firefox.cmake)
include(${CMAKE_SOURCE_DIR}/tests/bench/bench.cmake)
