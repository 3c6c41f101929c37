// Answers the program's questions from a helper thread, one reply per dialog in the order in which
// the dialogs appear, while the test's thread sits in the real modal loops. A dialog is a message
// dialog of the program or a system message box (the general error box). Every dialog answered is
// recorded with its caption and text, so that a test compares the whole conversation at once.
//
// A reply names the button to press; when the dialog has no such button, the test fails (the dialog
// is then closed, so that the run goes on). Every dialog is recorded with the captions of its
// buttons, so that the expected conversation also states which answers each question offered.
//
// A dialog beyond the replies is left alone while the program may still dismiss it by itself (a
// terminating application does); one that stays up is closed after a generous limit and recorded
// all the same, so that a wrong sequence fails instead of hanging. The limit is a safety net, not a
// measured time.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../common/gui_driver.h"
#include "widgets/message_dialog.h"

namespace gui {

struct Reply {
    std::string button;            // caption of the button to press; empty: close the dialog
    std::function<void()> before;  // runs while the dialog is up, before the press
    std::function<void()> after;   // runs right after the press has been posted
};

struct SeenDialog {
    std::string caption;
    std::string text;
    std::vector<std::string> buttons;  // captions, in the order of the dialog's child windows
    bool operator==(const SeenDialog&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const SeenDialog& dialog) {
    out << "[" << dialog.caption << "] " << dialog.text << " {";
    for (const std::string& button : dialog.buttons) {
        out << " " << button;
    }
    return out << " }";
}

inline TMessageForm* MessageFormOf(HWND hwnd) {
    return dynamic_cast<TMessageForm*>(TWinControl::FromHandle(hwnd));
}

// Whether hwnd is one of the program's message dialogs, told from the window alone (its class and
// its dialog frame), so that the helper thread never touches the object behind a dialog that the
// program's thread may be destroying (a terminating application dismisses its dialogs itself).
inline bool IsMessageDialogWindow(HWND hwnd) {
    return ClassOf(hwnd) == "TandrelForm" &&
           (::GetWindowLongPtrA(hwnd, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) != 0;
}

// A visible dialog of this process, or nullptr.
inline HWND FindDialog() {
    HWND found = nullptr;
    ::EnumWindows(
        [](HWND hwnd, LPARAM data) -> BOOL {
            DWORD process = 0;
            ::GetWindowThreadProcessId(hwnd, &process);
            if (process == ::GetCurrentProcessId() && ::IsWindowVisible(hwnd) &&
                (ClassOf(hwnd) == "#32770" || IsMessageDialogWindow(hwnd))) {
                *reinterpret_cast<HWND*>(data) = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The message of a dialog: the "Message" label of a message dialog, the texts of a message box.
inline std::string DialogText(HWND dialog) {
    if (TMessageForm* form = MessageFormOf(dialog)) {
        auto* label = dynamic_cast<TLabel*>(form->FindComponent("Message"));
        return label != nullptr ? label->Caption() : std::string();
    }
    return StaticTexts(dialog);
}

// The captions of a dialog's buttons.
inline std::vector<std::string> ButtonCaptions(HWND dialog) {
    std::vector<std::string> captions;
    for (HWND child : Children(dialog)) {
        if (_stricmp(ClassOf(child).c_str(), "Button") == 0) {
            captions.push_back(WindowText(child));
        }
    }
    return captions;
}

class DialogScript {
  public:
    explicit DialogScript(std::vector<Reply> replies) : replies_(std::move(replies)) {
        worker_ = std::thread([this] { Run(); });
    }
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;
    ~DialogScript() { Finish(); }

    // Call when the program's call has returned: stops the helper; the dialogs answered, in order.
    // A reply whose button was missing fails the test here, on the test's own thread.
    const std::vector<SeenDialog>& Finish() {
        done_ = true;
        if (worker_.joinable()) {
            worker_.join();
        }
        for (const std::string& missing : missingButtons_) {
            ADD_FAILURE() << missing;
        }
        missingButtons_.clear();
        return seen_;
    }

  private:
    static constexpr int kPollMs = 20;
    static constexpr int kLeftUpPolls = 500;  // about 10 s

    bool Gone(HWND dialog) const { return !::IsWindow(dialog) || !::IsWindowVisible(dialog); }

    void WaitUntilGone(HWND dialog) const {
        while (!done_ && !Gone(dialog)) {
            ::Sleep(kPollMs);
        }
    }

    void Run() {
        size_t next = 0;
        while (!done_) {
            HWND dialog = FindDialog();
            if (dialog == nullptr) {
                ::Sleep(kPollMs);
                continue;
            }
            if (next < replies_.size()) {
                ::Sleep(50);  // let the modal loop finish showing it
                const Reply& reply = replies_[next++];
                seen_.push_back({WindowText(dialog), DialogText(dialog), ButtonCaptions(dialog)});
                if (reply.before) {
                    reply.before();
                }
                if (reply.button.empty()) {
                    ::PostMessageA(dialog, WM_CLOSE, 0, 0);  // the close box
                } else if (!PressButton(dialog, reply.button)) {
                    missingButtons_.push_back("no button \"" + reply.button + "\" in " +
                                              ::testing::PrintToString(seen_.back()));
                    ::PostMessageA(dialog, WM_CLOSE, 0, 0);
                }
                if (reply.after) {
                    reply.after();
                }
                WaitUntilGone(dialog);
                continue;
            }
            // Beyond the script: the program's own business unless it stays up.
            int polls = 0;
            while (!done_ && !Gone(dialog) && polls < kLeftUpPolls) {
                ::Sleep(kPollMs);
                ++polls;
            }
            if (!done_ && !Gone(dialog)) {
                seen_.push_back({WindowText(dialog), DialogText(dialog), ButtonCaptions(dialog)});
                ::PostMessageA(dialog, WM_CLOSE, 0, 0);
                WaitUntilGone(dialog);
            }
        }
    }

    std::vector<Reply> replies_;
    std::vector<SeenDialog> seen_;
    std::vector<std::string> missingButtons_;
    std::atomic<bool> done_{false};
    std::thread worker_;
};

}  // namespace gui
