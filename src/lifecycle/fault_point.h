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
