#include "lifecycle/safe_library.h"

#include <string>

namespace {

// SetDefaultDllDirectories and LOAD_LIBRARY_SEARCH_SYSTEM32 came with an update of Windows 7; on a
// system without them, kernel32 does not export the function.
using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);

SetDefaultDllDirectoriesProc DefaultDllDirectoriesFunction() {
    // kernel32 is always loaded and is a known library: asking it for a function loads nothing.
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
}

}  // namespace

void SetSafeLibrarySearchOrder() {
    if (const SetDefaultDllDirectoriesProc setDirectories = DefaultDllDirectoriesFunction()) {
        if (setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
            return;
        }
    }
    ::SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const char* fileName) {
    if (DefaultDllDirectoriesFunction() != nullptr) {
        return ::LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    const std::string folder = SystemFolder();
    if (folder.empty()) {
        return nullptr;
    }
    const std::string path = folder + "\\" + fileName;
    // A full path: the loader searches nowhere. Its own dependencies follow the altered search
    // order, which starts in the system folder too.
    return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::string SystemFolder() {
    char folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::string(folder, length);
}
