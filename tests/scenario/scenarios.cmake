# Scenario tests: the real qelm.exe under Wine, driven as the add-on drives it. Each scenario
# runs in its own copy of a template prefix made once per build.

file(GLOB QELM_SCENARIO_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_scenarios_win.cpp)
add_executable(qelm_scenarios ${QELM_SCENARIO_SOURCES} ${CMAKE_CURRENT_LIST_DIR}/harness_win.cpp
                              ${CMAKE_SOURCE_DIR}/tests/support/firefox_launch_win.cpp)
target_include_directories(qelm_scenarios PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(qelm_scenarios PRIVATE GTest::gtest_main advapi32 user32 shell32 msi)
target_link_options(qelm_scenarios PRIVATE -static)
add_dependencies(qelm_scenarios qelm qelm-host qelmctl fixture_browser)
qelm_warnings(qelm_scenarios)

set(QELM_WINE_TEMPLATE ${CMAKE_BINARY_DIR}/wine-template)
add_test(NAME wine_prefix_template
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/make-wine-prefix ${QELM_WINE_TEMPLATE})
set_tests_properties(wine_prefix_template PROPERTIES FIXTURES_SETUP wine_prefix LABELS wine)

# The packages as the installer's scenarios see them, under Wine's drive Z:.
file(READ ${CMAKE_SOURCE_DIR}/extension/manifest.json QELM_EXTENSION_MANIFEST)
string(JSON QELM_VERSION GET "${QELM_EXTENSION_MANIFEST}" version)
function(qelm_wine_path variable path)
    string(REPLACE "/" "\\" windows "Z:${path}")
    set(${variable} "${windows}" PARENT_SCOPE)
endfunction()
qelm_wine_path(QELM_MSI ${CMAKE_SOURCE_DIR}/dist/qelm-${QELM_VERSION}-x64.msi)
qelm_wine_path(QELM_MSI_NEXT ${CMAKE_BINARY_DIR}/packages/qelm-next-x64.msi)
qelm_wine_path(QELM_MSI_PREVIOUS ${CMAKE_BINARY_DIR}/packages/qelm-previous-x64.msi)

# One test per scenario, each in a fresh prefix; the names come from the sources themselves.
foreach(source ${QELM_SCENARIO_SOURCES})
    file(STRINGS ${source} declarations REGEX "^TEST(_F)?\\(")
    foreach(declaration ${declarations})
        string(REGEX REPLACE "^TEST(_F)?\\(([A-Za-z0-9_]+), *([A-Za-z0-9_]+)\\).*" "\\2.\\3"
               name "${declaration}")
        add_test(NAME ${name}
                 COMMAND ${CMAKE_CURRENT_LIST_DIR}/run-scenario ${QELM_WINE_TEMPLATE}
                         $<TARGET_FILE:qelm_scenarios> --gtest_filter=${name})
        # Suites named Slow... wait for minute-long timers.
        set(labels wine)
        if(name MATCHES "^Slow")
            list(APPEND labels slow)
        endif()
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix LABELS "${labels}"
                                                TIMEOUT 180)
        # The installer's scenarios install the packages of tests/package/check; the previous
        # release's may be missing, and the scenario that needs it then says it is skipped.
        if(name MATCHES "^Installer\\.")
            set_tests_properties(
                ${name} PROPERTIES FIXTURES_REQUIRED "wine_prefix;packages"
                SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
                ENVIRONMENT
                "QELM_MSI=${QELM_MSI};QELM_MSI_NEXT=${QELM_MSI_NEXT};QELM_MSI_PREVIOUS=${QELM_MSI_PREVIOUS}")
        endif()
    endforeach()
endforeach()

# The main job itself, so that it cannot rot.
add_test(NAME demo COMMAND ${CMAKE_SOURCE_DIR}/scripts/run --prebuilt)
set_tests_properties(demo PROPERTIES FIXTURES_REQUIRED wine_prefix LABELS demo TIMEOUT 300)
