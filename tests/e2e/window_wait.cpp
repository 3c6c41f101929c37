// Waits for the windows of a program under test, for scripts that drive it with real input: they
// press a key only once the window that is to receive it is up, and go on once it has gone, instead
// of guessing how long the program takes on a busy machine.
//     window_wait CAPTION [SECONDS]      a visible top-level window with exactly this caption, of
//                                        any process: brings it to the foreground (five seconds
//                                        at most), prints its handle, then "text: " and the
//                                        texts of its labels (a message box's message), exit 0
//     window_wait --gone HANDLE [SECONDS] that window destroyed or hidden: exit code 0
//     window_wait --edit CAPTION TEXT [SECONDS]
//                                        that window shows an edit box holding exactly TEXT ("*":
//                                        any text, that is, the box is on screen), exit code 0;
//                                        on a timeout it prints what the visible edit boxes held
// Exit code 1 when SECONDS (default 60) pass first, 2 on a wrong command line.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../common/gui_driver.h"

namespace {

// The text of another process's edit box: asked of the control itself, since the caption that the
// system keeps for a window is not what an edit box holds.
std::string EditText(HWND edit) {
    char text[1024] = {};
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutA(edit, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                               SMTO_ABORTIFHUNG, 2000, &copied)) {
        return "(no answer)";
    }
    return text;
}

std::vector<HWND> VisibleEdits(HWND window) {
    std::vector<HWND> edits;
    for (HWND child : gui::Children(window)) {
        if (_stricmp(gui::ClassOf(child).c_str(), "Edit") == 0 && ::IsWindowVisible(child)) {
            edits.push_back(child);
        }
    }
    return edits;
}

int WaitForEdit(const std::string& caption, const std::string& want, double seconds) {
    const bool any = want == "*";
    const bool found = gui::WaitFor(seconds, [&] {
        const HWND window = gui::FindVisibleWindow(caption, true);
        if (window == nullptr) {
            return false;
        }
        for (HWND edit : VisibleEdits(window)) {
            if (any || EditText(edit) == want) {
                return true;
            }
        }
        return false;
    });
    if (found) {
        return 0;
    }
    const HWND window = gui::FindVisibleWindow(caption, true);
    std::printf("edit boxes:");
    for (HWND edit : window != nullptr ? VisibleEdits(window) : std::vector<HWND>{}) {
        std::printf(" [%s]", EditText(edit).c_str());
    }
    std::printf("\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool edit = argc >= 2 && std::strcmp(argv[1], "--edit") == 0;
    const bool gone = argc >= 2 && std::strcmp(argv[1], "--gone") == 0;
    const int first = edit ? 3 : gone ? 2 : 1;
    if (argc < first + 1 || argc > first + 2) {
        std::fprintf(stderr,
                     "usage: window_wait CAPTION [SECONDS] | window_wait --gone HANDLE [SECONDS] |"
                     " window_wait --edit CAPTION TEXT [SECONDS]\n");
        return 2;
    }
    const double seconds = argc == first + 2 ? std::atof(argv[first + 1]) : 60.0;
    if (edit) {
        return WaitForEdit(argv[2], argv[3], seconds);
    }
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
    // that the program started, say). On a busy machine the system may take a moment to make it
    // the foreground window: asked again until it is, for a few seconds at most.
    gui::WaitFor(5.0, [found] {
        ::SetForegroundWindow(found);
        return ::GetForegroundWindow() == found;
    });
    std::printf("%llu\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(found)));
    std::printf("text: %s\n", gui::StaticTexts(found).c_str());
    return 0;
}
