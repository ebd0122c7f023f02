# The browser side: the extension's own logic and its linter (node, from scripts/setup's npm
# packages), and the extension end to end in a real headless Firefox against the programs of this
# build under Wine.

add_test(NAME extension.logic COMMAND node --test ${CMAKE_SOURCE_DIR}/tests/extension/)
add_test(NAME extension.lint
         COMMAND ${CMAKE_SOURCE_DIR}/node_modules/.bin/web-ext lint --warnings-as-errors
                 --source-dir ${CMAKE_SOURCE_DIR}/extension --output text)
set_tests_properties(extension.logic extension.lint PROPERTIES LABELS extension)

# Runs qelm-host.exe for Firefox as Firefox for Windows runs a native-messaging host.
add_executable(nm_launcher ${CMAKE_CURRENT_LIST_DIR}/nm_launcher_win.cpp
                           ${CMAKE_SOURCE_DIR}/tests/support/firefox_launch_win.cpp)
target_include_directories(nm_launcher PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_options(nm_launcher PRIVATE ${QELM_STATIC_LINK} -municode)
qelm_warnings(nm_launcher)

add_test(NAME firefox.extension COMMAND ${CMAKE_CURRENT_LIST_DIR}/run)
set_tests_properties(firefox.extension PROPERTIES FIXTURES_REQUIRED "wine_prefix;packages"
                     LABELS firefox TIMEOUT 1200
                     ENVIRONMENT "QELM_MSI=${QELM_MSI};QELM_MSI_NEXT=${QELM_MSI_NEXT}")

# The release files, so that packaging cannot rot: what each holds, and a second installer of a
# higher version for the upgrade scenario.
add_test(NAME package COMMAND ${CMAKE_SOURCE_DIR}/tests/package/check)
set_tests_properties(package PROPERTIES LABELS package FIXTURES_SETUP packages)
