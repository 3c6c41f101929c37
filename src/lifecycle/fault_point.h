// The points where a run changes an installation. The programs we ship leave the hook empty; the
// test builds of the setup and the uninstaller set it to stop the process at a chosen point, so
// that an interruption at every step can be tried deterministically.
#pragma once

using TFaultHook = void (*)(const char* what);
extern TFaultHook FaultHook;

inline void FaultPoint(const char* what) {
    if (FaultHook != nullptr) {
        FaultHook(what);
    }
}

// The test builds of the setup may also change a file that a run has just written, before the run
// checks it (a new file once expanded, open for reading and writing), so that what the checks
// catch can be tried: file is its handle.
using TWrittenHook = void (*)(void* file);
extern TWrittenHook WrittenHook;

inline void WrittenPoint(void* file) {
    if (WrittenHook != nullptr) {
        WrittenHook(file);
    }
}
