// A helper of the unattended tests: another program that holds a file open or keeps a program
// running while the setup runs, until the test lets go.
//     hold FILE STOPFILE           opens FILE for reading, shared with nobody
//     hold --run PROGRAM STOPFILE  starts PROGRAM and waits until it is ready for input
// Then prints "holding" and waits until STOPFILE exists (at most two minutes); a started program is
// ended. Exit code 0; 1 when the file cannot be opened or the program started; 2 on a wrong command
// line.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "framework/unique_handle.h"

namespace {

void WaitForStopFile(const char* stopFile) {
    for (int waited = 0; waited < 120000 && ::GetFileAttributesA(stopFile) == INVALID_FILE_ATTRIBUTES;
         waited += 50) {
        ::Sleep(50);
    }
}

void SayHolding() {
    std::printf("holding\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3) {
        const UniqueFileHandle file(
            ::CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file) {
            std::fprintf(stderr, "hold: cannot open %s (error %lu)\n", argv[1], ::GetLastError());
            return 1;
        }
        SayHolding();
        WaitForStopFile(argv[2]);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "--run") == 0) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!::CreateProcessA(argv[2], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &started)) {
            std::fprintf(stderr, "hold: cannot start %s (error %lu)\n", argv[2], ::GetLastError());
            return 1;
        }
        const UniqueKernelHandle process(started.hProcess);
        const UniqueKernelHandle thread(started.hThread);
        ::WaitForInputIdle(process.get(), 30000);
        SayHolding();
        WaitForStopFile(argv[3]);
        ::TerminateProcess(process.get(), 0);
        ::WaitForSingleObject(process.get(), 10000);
        return 0;
    }
    std::fprintf(stderr, "usage: hold FILE STOPFILE | hold --run PROGRAM STOPFILE\n");
    return 2;
}
