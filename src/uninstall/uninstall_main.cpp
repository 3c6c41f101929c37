// Program entry of the uninstaller.
#include <windows.h>

#include "lifecycle/safe_library.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    SetSafeLibrarySearchOrder();
    return 1;
}
