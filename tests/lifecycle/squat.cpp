// Another account's squatter, for the tests:
//     squat.exe STOP_FILE NAME...
// creates and holds a mutex of each NAME (with its Global\ or Local\ prefix) until STOP_FILE exists
// (two minutes at most), then prints how many it holds.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "framework/unique_handle.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: squat.exe STOP_FILE NAME...\n");
        return 2;
    }
    std::vector<UniqueKernelHandle> held;
    for (int index = 2; index < argc; ++index) {
        UniqueKernelHandle mutex(::CreateMutexA(nullptr, TRUE, argv[index]));
        if (mutex) {
            held.push_back(std::move(mutex));
        }
    }
    std::printf("holding %zu\n", held.size());
    std::fflush(stdout);
    for (int tick = 0; tick < 1200 && ::GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES; ++tick) {
        ::Sleep(100);
    }
    return 0;
}
