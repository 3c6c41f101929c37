// Drives the program's modal windows from the outside, as a user would: a helper thread waits for
// a top-level window of this process with a given caption to appear, then acts on it (presses a
// button, sends a key, closes it) while the test's own thread sits in the real modal loop.
//
// If the window never appears, the helper gives up after a generous limit and posts WM_QUIT to the
// test's thread, so that the modal loop ends (with the termination result) instead of hanging; the
// test then fails on Found(). The limit is a safety net, not a measured time.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace gui {

inline std::string WindowText(HWND hwnd) {
    char text[1024] = {};
    ::GetWindowTextA(hwnd, text, sizeof(text));
    return text;
}

inline std::string ClassOf(HWND hwnd) {
    char name[256] = {};
    ::GetClassNameA(hwnd, name, sizeof(name));
    return name;
}

// The visible top-level window with exactly this caption, of this process or (anyProcess) of any
// process in the same desktop; nullptr when there is none.
inline HWND FindVisibleWindow(const std::string& caption, bool anyProcess) {
    struct Search {
        const std::string* caption;
        bool anyProcess;
        HWND found;
    } search{&caption, anyProcess, nullptr};
    ::EnumWindows(
        [](HWND hwnd, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD process = 0;
            ::GetWindowThreadProcessId(hwnd, &process);
            if ((s->anyProcess || process == ::GetCurrentProcessId()) && ::IsWindowVisible(hwnd) &&
                WindowText(hwnd) == *s->caption) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

inline HWND FindProcessWindow(const std::string& caption) {
    return FindVisibleWindow(caption, false);
}

// Polls condition every 50 ms until it holds or seconds pass; false when they pass first.
template <typename Condition>
bool WaitFor(double seconds, Condition condition) {
    const ULONGLONG limit = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    while (!condition()) {
        if (::GetTickCount64() > limit) {
            return false;
        }
        ::Sleep(50);
    }
    return true;
}

// The children of a window, in z-order.
inline std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    ::EnumChildWindows(
        parent,
        [](HWND hwnd, LPARAM data) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(data)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children;
}

inline HWND ChildWithText(HWND parent, const std::string& text) {
    for (HWND child : Children(parent)) {
        if (WindowText(child) == text) {
            return child;
        }
    }
    return nullptr;
}

// The texts of the static (label) children of a system message box.
inline std::string StaticTexts(HWND box) {
    std::string texts;
    for (HWND child : Children(box)) {
        if (_stricmp(ClassOf(child).c_str(), "Static") == 0 && !WindowText(child).empty()) {
            texts += WindowText(child);
        }
    }
    return texts;
}

// start followed by "\Folder" until it is at least length characters long: a long path.
inline std::string LongPath(std::string start, size_t length) {
    while (start.size() < length) {
        start += "\\Folder";
    }
    return start;
}

// What a box shows of a text with long paths: its longest run of characters without a blank or a
// line break, and the text with the line breaks taken out.
struct BoxLines {
    size_t longestRun = 0;
    std::string joined;
};

inline BoxLines ReadBoxLines(const std::string& shown) {
    BoxLines lines;
    size_t run = 0;
    for (const char c : shown) {
        run = c == ' ' || c == '\n' || c == '\r' ? 0 : run + 1;
        lines.longestRun = run > lines.longestRun ? run : lines.longestRun;
        if (c != '\n' && c != '\r') {
            lines.joined += c;
        }
    }
    return lines;
}

// Presses the button with this caption by sending it a click, as the mouse would.
inline bool PressButton(HWND window, const std::string& caption) {
    HWND button = ChildWithText(window, caption);
    if (button == nullptr) {
        return false;
    }
    ::PostMessageA(button, BM_CLICK, 0, 0);
    return true;
}

// Sends a key press (down and up) to the window that has the keyboard focus in thread.
inline void PressKey(DWORD thread, WPARAM key) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    ::GetGUIThreadInfo(thread, &info);
    HWND target = info.hwndFocus != nullptr ? info.hwndFocus : info.hwndActive;
    ::PostMessageA(target, WM_KEYDOWN, key, 1);
    ::PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

class Driver {
  public:
    // Starts waiting for the window with caption; action runs on the helper thread with it.
    Driver(std::string caption, std::function<void(HWND)> action)
        : caption_(std::move(caption)), action_(std::move(action)), uiThread_(::GetCurrentThreadId()) {
        worker_ = std::thread([this] { Run(); });
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;
    ~Driver() { worker_.join(); }

    // Waits for the helper to finish (call before checking what it saw).
    void Join() {
        if (worker_.joinable()) {
            worker_.join();
        }
        worker_ = std::thread([] {});
    }
    bool Found() const { return found_; }
    DWORD UiThread() const { return uiThread_; }

  private:
    void Run() {
        for (int attempt = 0; attempt < 600; ++attempt) {  // about 30 s
            if (HWND window = FindProcessWindow(caption_)) {
                found_ = true;
                ::Sleep(50);  // let the modal loop finish showing it
                action_(window);
                return;
            }
            ::Sleep(50);
        }
        ::PostThreadMessageA(uiThread_, WM_QUIT, 0, 0);
    }

    std::string caption_;
    std::function<void(HWND)> action_;
    DWORD uiThread_;
    std::atomic<bool> found_{false};
    std::thread worker_;
};

// Runs show, which opens a system message box captioned caption, while a helper thread reads the
// box (its rectangle and its text) and presses OK.
struct SeenBox {
    bool found = false;
    RECT bounds{};
    std::string text;
};

inline SeenBox ShowAndReadBox(const std::string& caption, const std::function<void()>& show) {
    SeenBox seen;
    Driver driver(caption, [&seen](HWND window) {
        ::GetWindowRect(window, &seen.bounds);
        seen.text = StaticTexts(window);
        PressButton(window, "OK");
    });
    show();
    driver.Join();
    seen.found = driver.Found();
    return seen;
}

}  // namespace gui
