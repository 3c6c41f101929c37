# Most of the time a Windows object takes to compile goes into the system and library headers
# (windows.h with the usual standard headers: about three of a file's four seconds). The Windows
# targets share them precompiled, once for the programs and once more with GoogleTest for the
# tests. Only Windows-side targets take them: windows.h defines macros (min and max among them) that
# the portable core must never see.
if(NOT WIN32)
    return()
endif()

set(tandrel_common_headers <windows.h> <algorithm> <cstdint> <cstring> <functional> <memory> <optional>
                           <string> <string_view> <vector>)
set(tandrel_headers_source ${CMAKE_CURRENT_LIST_DIR}/precompiled.cpp)

add_library(tandrel_headers STATIC ${tandrel_headers_source})
target_precompile_headers(tandrel_headers PRIVATE ${tandrel_common_headers})
tandrel_warnings(tandrel_headers)

if(TANDREL_TESTS)
    add_library(tandrel_test_headers STATIC ${tandrel_headers_source})
    target_precompile_headers(tandrel_test_headers PRIVATE ${tandrel_common_headers} <gtest/gtest.h>)
    target_link_libraries(tandrel_test_headers PRIVATE gtest)
    tandrel_warnings(tandrel_test_headers)
endif()
