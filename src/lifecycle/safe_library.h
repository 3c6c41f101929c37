// Safe library loading for programs that may run elevated from a folder that others can write to
// (a Downloads folder): libraries come from the system folder only, never from the program's own
// folder or the current one.
#pragma once

#include <windows.h>

#include <string>

// Restricts the process's library search to the system folder. The first statement of every
// program's entry point: libraries that the system loads later on the program's behalf (and every
// LoadLibrary without a path) are then found in the system folder only. Uses
// SetDefaultDllDirectories where the system has it, else removes the current folder from the
// search with SetDllDirectoryA("").
void SetSafeLibrarySearchOrder();

// Loads a library by its file name (e.g. "mpr.dll") from the system folder only: with
// LOAD_LIBRARY_SEARCH_SYSTEM32 where the system has it, else by its full system-folder path.
// Returns nullptr when it is not there.
HMODULE LoadSystemLibrary(const char* fileName);

// The system folder (e.g. C:\windows\system32), without a trailing backslash; empty when the
// system does not say.
std::string SystemFolder();
