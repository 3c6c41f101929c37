# Warnings for the project's own targets (not for third-party code).
function(tandrel_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Werror)
endfunction()

# A Windows-side target: the project's warnings, and the shared precompiled headers
# (cmake/precompiled.cmake; its sources are compiled as if each began by including them).
function(tandrel_windows_target target)
    tandrel_warnings(${target})
    target_precompile_headers(${target} REUSE_FROM tandrel_headers)
endfunction()

# The codec files are also checked for narrowing conversions.
function(tandrel_codec_warnings target)
    tandrel_warnings(${target})
    target_compile_options(${target} PRIVATE -Wconversion -Wno-sign-conversion)
endfunction()

# A Windows test executable: GoogleTest, run by ctest through the Wine runner (one ctest entry
# per executable, since every Wine start costs about two seconds).
function(tandrel_wine_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    tandrel_warnings(${name})
    target_precompile_headers(${name} REUSE_FROM tandrel_test_headers)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest gtest_main)
    add_test(NAME ${name} COMMAND ${name})
    # A program that dies under Wine (a stack overflow, say) may still end with exit code 0: only
    # the test framework's own summary of a complete run counts as passing.
    set_tests_properties(${name} PROPERTIES TIMEOUT 300
                         PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ test"
                         FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
endfunction()

# A native test executable (GoogleTest from the system).
function(tandrel_native_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    tandrel_warnings(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    add_test(NAME ${name} COMMAND ${name})
    # A fault that makes a codec loop fails the test instead of holding up the run.
    set_tests_properties(${name} PROPERTIES TIMEOUT 120)
endfunction()

# Gives a Windows program its application manifest and its version information, both made from the
# project's one version (project() in the top CMakeLists.txt) by resources/program.manifest.in and
# resources/version.rc.in, and a test of its imported libraries (scripts/check-imports.sh). Every
# program we ship calls it.
#     tandrel_program_resources(target DESCRIPTION text ORIGINAL_NAME file.exe
#                               EXECUTION_LEVEL asInvoker|highestAvailable [DPI_AWARE] [UTF8])
# UTF8: the process's code page is UTF-8 where Windows supports it (10 1903 and later), so that
# names in any script pass through its narrow functions unchanged.
function(tandrel_program_resources target)
    cmake_parse_arguments(ARG "DPI_AWARE;UTF8" "DESCRIPTION;ORIGINAL_NAME;EXECUTION_LEVEL" "" ${ARGN})
    set(TANDREL_FILE_DESCRIPTION ${ARG_DESCRIPTION})
    set(TANDREL_ORIGINAL_NAME ${ARG_ORIGINAL_NAME})
    get_filename_component(TANDREL_INTERNAL_NAME ${ARG_ORIGINAL_NAME} NAME_WE)
    string(REPLACE "-" "." TANDREL_ASSEMBLY_NAME ${TANDREL_INTERNAL_NAME})
    set(TANDREL_EXECUTION_LEVEL ${ARG_EXECUTION_LEVEL})
    set(TANDREL_VERSION_QUAD ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0)
    if(ARG_DPI_AWARE)
        set(TANDREL_DPI_AWARE true)
    else()
        set(TANDREL_DPI_AWARE false)
    endif()
    if(ARG_UTF8)
        set(TANDREL_ACTIVE_CODE_PAGE
            "\n      <activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8</activeCodePage>")
    else()
        set(TANDREL_ACTIVE_CODE_PAGE "")
    endif()
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
    set(TANDREL_MANIFEST_FILE ${dir}/${target}.manifest)
    configure_file(${CMAKE_SOURCE_DIR}/resources/program.manifest.in ${TANDREL_MANIFEST_FILE} @ONLY)
    configure_file(${CMAKE_SOURCE_DIR}/resources/version.rc.in ${dir}/version.rc @ONLY)
    set_source_files_properties(${dir}/version.rc PROPERTIES OBJECT_DEPENDS ${TANDREL_MANIFEST_FILE})
    target_sources(${target} PRIVATE ${dir}/version.rc)
    # A terminate handler without the runtime's demangler (src/framework/terminate_handler.cpp).
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src/framework/terminate_handler.cpp)
    # Every program we ship imports only libraries that the system always takes from its own
    # folder: the test reads the built executable's import table.
    if(TANDREL_TESTS)
        add_test(NAME imports_${target}
                 COMMAND ${CMAKE_COMMAND} -E env OBJDUMP=${CMAKE_OBJDUMP}
                         bash ${CMAKE_SOURCE_DIR}/scripts/check-imports.sh $<TARGET_FILE:${target}>)
        set_tests_properties(imports_${target} PROPERTIES TIMEOUT 30)
    endif()
endfunction()

# The C++ runtime's support code for the programs that link the framework (the setup and the
# uninstaller) in lighter forms: the library's reports of a misuse (an index out of range, a length
# beyond the largest) without the runtime's string and formatting code (src/framework/
# library_errors.cpp), and static locals and thread_local variables without the POSIX thread
# library (src/framework/runtime_threads.cpp).
function(tandrel_light_runtime target)
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src/framework/library_errors.cpp
                                     ${CMAKE_SOURCE_DIR}/src/framework/runtime_threads.cpp)
endfunction()

# Links target with only the functions of our code that can be reached: the GNU linker keeps every
# function of a linked object through its unwind data, so --gc-sections alone drops none
# (cmake/link_reachable_code.py). Without Python the program is linked as it is.
function(tandrel_link_reachable_code target)
    find_package(Python3 COMPONENTS Interpreter)
    if(Python3_Interpreter_FOUND)
        set_target_properties(${target} PROPERTIES CXX_LINKER_LAUNCHER
            "${Python3_EXECUTABLE};${CMAKE_SOURCE_DIR}/cmake/link_reachable_code.py;${CMAKE_BINARY_DIR}")
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/link_reachable_code.py)
    endif()
endfunction()

# Links target against import libraries of user32, gdi32, ole32, oleaut32 and shell32 whose functions
# load the library at their first call instead of at the program's start. A library imported the
# ordinary way is loaded, with everything it imports, before the program's first statement can
# restrict where libraries come from; loaded at first use, it and its imports come from the system
# folder only. This matters under Wine, whose user32 imports version.dll, a library that the system
# does not always take from its own folder: a copy beside the program would be loaded at start-up.
# It also spares a run that makes no window and calls no shell function the start-up of these
# libraries (user32's and gdi32's, fonts included, come with shell32). The libraries are made once
# (target delay_loaded_libraries), named as the ordinary ones (libuser32.a) in a folder of their own
# that comes first in the target's library search.
function(tandrel_delay_load_system_libraries target)
    set(dir ${CMAKE_BINARY_DIR}/delay-load)
    set(libraries)
    foreach(dll IN ITEMS user32 gdi32 ole32 oleaut32 shell32)
        list(APPEND libraries ${dir}/lib${dll}.a)
    endforeach()
    if(NOT TARGET delay_loaded_libraries)
        foreach(dll IN ITEMS user32 gdi32 ole32 oleaut32 shell32)
            execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${dll}.a
                            OUTPUT_VARIABLE import_library OUTPUT_STRIP_TRAILING_WHITESPACE)
            add_custom_command(OUTPUT ${dir}/lib${dll}.a
                COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL} -DDLL=${dll}
                        -DIMPORT_LIB=${import_library} -DDEF=${dir}/${dll}.def -DOUT=${dir}/lib${dll}.a
                        -P ${CMAKE_SOURCE_DIR}/cmake/make_delay_library.cmake
                DEPENDS ${CMAKE_SOURCE_DIR}/cmake/make_delay_library.cmake
                COMMENT "Delay-loaded import library of ${dll}")
        endforeach()
        add_custom_target(delay_loaded_libraries DEPENDS ${libraries})
    endif()
    add_dependencies(${target} delay_loaded_libraries)
    # Named relative to the folder the link runs in (the target's build folder, with Makefiles): the
    # linker orders the import sections of its input files by their names as given, so an absolute
    # name would put these libraries before or after the system's ones depending on where the build
    # folder is, and programs built in two folders would differ.
    file(RELATIVE_PATH relative_dir ${CMAKE_CURRENT_BINARY_DIR} ${dir})
    target_link_options(${target} PRIVATE -L${relative_dir})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libraries})
endfunction()

# Ships target without its debugging information, stripped where it is built: the symbols and
# debugging sections go into <file>.debug beside it, which the program names (with its checksum)
# in a .gnu_debuglink section, so that a debugger finds them. Both files are the same byte for byte from
# the same sources in any build folder: objcopy stamps the PE header with SOURCE_DATE_EPOCH, here 0
# like the link (--no-insert-timestamp), and the symbols that hold paths go with the stripping;
# objcopy fills in the PE checksum. With SIGN_AS, the program is then signed when the build has a
# signing identity (cmake/signing.cmake), SIGN_AS being the description that its signature shows.
#     tandrel_ship_stripped(target [SIGN_AS description])
function(tandrel_ship_stripped target)
    cmake_parse_arguments(ARG "" "SIGN_AS" "" ${ARGN})
    set(sign)
    if(ARG_SIGN_AS)
        tandrel_sign_command(sign $<TARGET_FILE_NAME:${target}> "${ARG_SIGN_AS}")
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${TANDREL_SIGNING_STAMP})
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}>
                $<TARGET_FILE_NAME:${target}>.debug
        COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
                $<TARGET_FILE_NAME:${target}>
        ${sign}
        WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
        COMMENT "Stripping ${target}, its symbols kept beside it"
        VERBATIM)
endfunction()
