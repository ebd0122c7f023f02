# The release's version has one home: the "version" of the extension's manifest, the one file
# that Firefox, web-ext and the extension's tests read as it stands. Everything built here takes
# it from there: the companion's version record and manifest, and the host's hello.
# scripts/package names the release files and the installer's version after it.
set(qelm_manifest_file ${CMAKE_SOURCE_DIR}/extension/manifest.json)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${qelm_manifest_file})
file(READ ${qelm_manifest_file} qelm_manifest_text)
string(JSON QELM_VERSION GET "${qelm_manifest_text}" version)
if(NOT QELM_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "extension/manifest.json: the version '${QELM_VERSION}' is not four "
                        "numbers, which the companion's version record needs")
endif()
