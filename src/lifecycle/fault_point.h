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

// And they may wait where a run has checked a path inside an installation and is about to open the
// item by it, so that the world can change right there: what is the kind of item opened.
extern TFaultHook OpenHook;

inline void OpenPoint(const char* what) {
    if (OpenHook != nullptr) {
        OpenHook(what);
    }
}

// And where the clean-up of the temporary folder has listed an item and is about to open it by its
// path, which is what: the item's path (or a folder on the way) may be swapped right there.
extern TFaultHook ListedHook;

inline void ListedPoint(const char* what) {
    if (ListedHook != nullptr) {
        ListedHook(what);
    }
}
