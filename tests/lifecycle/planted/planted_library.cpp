// A library planted beside a program, as someone else could leave it in a Downloads folder: when
// it is loaded, it leaves a marker file beside itself (<its path>.loaded) and does nothing else.
// Built as mpr.dll (with the one function the setup once imported) and as version.dll.
#include <windows.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 1] = {};
        const DWORD length = ::GetModuleFileNameA(instance, path, MAX_PATH);
        const std::string marker = std::string(path, length) + ".loaded";
        const HANDLE file = ::CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
        }
    }
    return TRUE;
}

// What a program that imports MPR asks of it: no network drives here.
extern "C" DWORD WINAPI WNetGetConnectionA(LPCSTR, LPSTR, LPDWORD) {
    return ERROR_NOT_CONNECTED;
}
