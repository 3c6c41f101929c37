// Waits for the windows of a program under test, for scripts that drive it with real input: they
// press a key only once the window that is to receive it is up, and go on once it has gone, instead
// of guessing how long the program takes on a busy machine.
//     window_wait CAPTION [SECONDS]      a visible top-level window with exactly this caption, of
//                                        any process: brings it to the foreground, prints its
//                                        handle, then "text: " and the texts of its labels (a
//                                        message box's message), exit code 0
//     window_wait --gone HANDLE [SECONDS] that window destroyed or hidden: exit code 0
// Exit code 1 when SECONDS (default 60) pass first, 2 on a wrong command line.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../common/gui_driver.h"

int main(int argc, char** argv) {
    const bool gone = argc >= 2 && std::strcmp(argv[1], "--gone") == 0;
    const int first = gone ? 2 : 1;
    if (argc < first + 1 || argc > first + 2) {
        std::fprintf(stderr, "usage: window_wait CAPTION [SECONDS] | window_wait --gone HANDLE [SECONDS]\n");
        return 2;
    }
    const double seconds = argc == first + 2 ? std::atof(argv[first + 1]) : 60.0;
    if (gone) {
        const HWND window = reinterpret_cast<HWND>(std::strtoull(argv[first], nullptr, 10));
        return gui::WaitFor(seconds, [window] { return !::IsWindow(window) || !::IsWindowVisible(window); })
                   ? 0
                   : 1;
    }
    const std::string caption = argv[first];
    HWND found = nullptr;
    if (!gui::WaitFor(seconds, [&] { return (found = gui::FindVisibleWindow(caption, true)) != nullptr; })) {
        return 1;
    }
    // The key that follows is meant for this window, whatever else came up meanwhile (a viewer
    // that the program started, say).
    ::SetForegroundWindow(found);
    std::printf("%llu\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(found)));
    std::printf("text: %s\n", gui::StaticTexts(found).c_str());
    return 0;
}
