// A path in the temporary folder that is this test process's own: the folder, stem, then the
// process's number.
#pragma once

#include <windows.h>

#include <string>

inline std::string TemporaryName(const std::string& stem) {
    char temp[MAX_PATH] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH, temp);
    return std::string(temp, length < MAX_PATH ? length : 0) + stem + std::to_string(::GetCurrentProcessId());
}
