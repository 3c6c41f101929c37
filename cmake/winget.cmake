# The winget manifest of the setup: a multi-file manifest (version, installer and default-locale
# files, manifest version 1.10.0) that the build writes beside the setup, made from
# resources/winget/*.yaml.in with the product's constants of the top CMakeLists.txt. The
# installer's address is a placeholder until the vendor gives the real one:
if(NOT WIN32)
    return()
endif()
set(TANDREL_INSTALLER_URL "https://example.invalid/tandrel/${PROJECT_VERSION}/tandrel-setup.exe" CACHE STRING
    "The address from which package managers download tandrel-setup.exe (winget manifest)")

# Writes the manifest of target's program into dir after each link, once the program is finished
# (call it after the program's last POST_BUILD step): the installer file carries the SHA-256 of the
# program as built, signed when the build signs.
function(tandrel_winget_manifest target dir)
    set(templates ${CMAKE_SOURCE_DIR}/resources/winget)
    set(base ${dir}/${TANDREL_PACKAGE_IDENTIFIER})
    configure_file(${templates}/version.yaml.in ${base}.yaml @ONLY)
    configure_file(${templates}/locale.en-US.yaml.in ${base}.locale.en-US.yaml @ONLY)
    # The digest is filled in after the link; the rest now.
    set(INSTALLER_SHA256 "@INSTALLER_SHA256@")
    configure_file(${templates}/installer.yaml.in ${CMAKE_CURRENT_BINARY_DIR}/${target}-installer.yaml.in @ONLY)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}>
                -DTEMPLATE=${CMAKE_CURRENT_BINARY_DIR}/${target}-installer.yaml.in
                -DOUTPUT=${base}.installer.yaml -P ${CMAKE_SOURCE_DIR}/cmake/write_winget_installer.cmake
        COMMENT "Writing the winget manifest of ${target}"
        VERBATIM)
endfunction()

# The schemas that the tests validate the manifest against (JSON Schema draft 7).
set(TANDREL_WINGET_SCHEMAS ${CMAKE_SOURCE_DIR}/third_party/winget-schema-1.10.0 CACHE PATH
    "The winget manifest schemas 1.10.0, for the tests")
