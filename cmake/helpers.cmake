# Warnings for the project's own targets (not for third-party code).
function(tandrel_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Werror)
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
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest gtest_main)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
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
