// The attacker of the uninstaller's copy of itself, for the tests. Two modes:
//     exchange.exe --race UNINSTALLER IMPOSTOR DELAY_MS [SWITCH]...
// starts UNINSTALLER with the switches, waits DELAY_MS, then keeps trying to put IMPOSTOR (a copy
// of this program) in its place, by replacing it or by renaming it away first, until that works or
// the uninstaller ends. Prints "exchanged after N ms" or "not exchanged", then "exit CODE", and
// ends with the uninstaller's exit code.
//     exchange.exe [anything else]
// is the impostor: it appends its command line to C:\impostor-ran.txt and ends with 0, as a
// program that took the uninstaller's place would do its work and report success.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/unique_handle.h"

namespace {

int Impostor() {
    const UniqueFileHandle marker(::CreateFileA("C:\\impostor-ran.txt", FILE_APPEND_DATA, FILE_SHARE_READ,
                                                nullptr, OPEN_ALWAYS, 0, nullptr));
    if (marker) {
        const std::string line = std::string(::GetCommandLineA()) + "\r\n";
        DWORD written = 0;
        ::WriteFile(marker.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    return 0;
}

// One attempt at putting impostor where uninstaller is: over it, or after moving it aside.
bool Exchange(const std::string& uninstaller, const std::string& impostor) {
    if (::MoveFileExA(impostor.c_str(), uninstaller.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return true;
    }
    const std::string aside = uninstaller + ".genuine";
    if (!::MoveFileExA(uninstaller.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return false;
    }
    if (::MoveFileExA(impostor.c_str(), uninstaller.c_str(), 0)) {
        return true;
    }
    ::MoveFileExA(aside.c_str(), uninstaller.c_str(), 0);
    return false;
}

int Race(int argc, char** argv) {
    const std::string uninstaller = argv[2];
    const std::string impostor = argv[3];
    const DWORD delay = static_cast<DWORD>(std::atoi(argv[4]));
    std::string commandLine = "\"" + uninstaller + "\"";
    for (int i = 5; i < argc; ++i) {
        commandLine += std::string(" \"") + argv[i] + "\"";
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(uninstaller.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process)) {
        std::printf("cannot start %s (error %lu)\n", uninstaller.c_str(), ::GetLastError());
        return 99;
    }
    const UniqueKernelHandle processHandle(process.hProcess);
    const UniqueKernelHandle threadHandle(process.hThread);
    const ULONGLONG start = ::GetTickCount64();
    ::Sleep(delay);
    bool exchanged = false;
    while (!exchanged && ::WaitForSingleObject(processHandle.get(), 0) == WAIT_TIMEOUT) {
        exchanged = Exchange(uninstaller, impostor);
        if (!exchanged) {
            ::Sleep(1);
        }
    }
    if (exchanged) {
        std::printf("exchanged after %llu ms\n", static_cast<unsigned long long>(::GetTickCount64() - start));
    } else {
        std::printf("not exchanged\n");
    }
    ::WaitForSingleObject(processHandle.get(), 120000);
    DWORD exitCode = 99;
    ::GetExitCodeProcess(processHandle.get(), &exitCode);
    std::printf("exit %lu\n", exitCode);
    return static_cast<int>(exitCode);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::strcmp(argv[1], "--race") == 0) {
        return Race(argc, argv);
    }
    return Impostor();
}
