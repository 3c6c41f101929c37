// Message dialogs: the layout arithmetic by hand-worked figures, the built dialog against figures
// recomputed from the measured font, button order and roles, and the result codes through the
// real modal loop (a helper thread finds the dialog and presses its buttons or keys).
#include "widgets/message_dialog.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "../common/gui_driver.h"
#include "framework/application.h"
#include "framework/std_controls.h"

namespace {

TEST(MessageDialogRoles, DefaultAndCancelButtonsForSeveralSets) {
    struct Row {
        TDialogButtons buttons;
        std::optional<TDialogButton> defaultButton;
        std::optional<TDialogButton> cancelButton;
    };
    const Row rows[] = {
        {mbYesNo, dbYes, dbNo},
        {mbOK, dbOK, dbOK},
        {mbYesNoCancel, dbYes, dbCancel},
        {mbOKCancel, dbOK, dbCancel},
        {mbAbortRetryIgnore, dbRetry, std::nullopt},
        {ButtonBit(dbRetry) | ButtonBit(dbCancel), dbRetry, dbCancel},
        {ButtonBit(dbNo), std::nullopt, dbNo},
        {ButtonBit(dbHelp) | ButtonBit(dbAll), std::nullopt, std::nullopt},
        {ButtonBit(dbYes) | ButtonBit(dbOK) | ButtonBit(dbNo), dbOK, dbNo},
        {0, std::nullopt, std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(DefaultButtonOf(row.buttons), row.defaultButton) << row.buttons;
        EXPECT_EQ(CancelButtonOf(row.buttons), row.cancelButton) << row.buttons;
    }
}

// Figures worked by hand from the rules, for an average character of 7 x 16 pixels:
// margins 14 / 16, spacing 18 (17.5 rounded) / 20, buttons 88 (87.5 rounded) x 28, gap 7.
TEST(MessageDialogLayout, FiguresWorkedByHand) {
    TDialogLayout with = ComputeDialogLayout(7, 16, SIZE{300, 32}, true, mbYesNo);
    EXPECT_EQ(with.horzMargin, 14);
    EXPECT_EQ(with.vertMargin, 16);
    EXPECT_EQ(with.horzSpacing, 18);
    EXPECT_EQ(with.vertSpacing, 20);
    EXPECT_EQ(with.buttonWidth, 88);
    EXPECT_EQ(with.buttonHeight, 28);
    EXPECT_EQ(with.buttonSpacing, 7);
    EXPECT_EQ(with.blockWidth, 350);  // 32 + 18 + 300
    EXPECT_EQ(with.blockHeight, 32);
    EXPECT_EQ(with.groupWidth, 183);
    EXPECT_EQ(with.clientWidth, 378);
    EXPECT_EQ(with.clientHeight, 112);  // 32 + 28 + 20 + 2 * 16
    EXPECT_EQ(with.iconBounds.left, 14);
    EXPECT_EQ(with.iconBounds.top, 16);
    EXPECT_EQ(with.iconBounds.right, 46);
    EXPECT_EQ(with.iconBounds.bottom, 48);
    EXPECT_EQ(with.messageBounds.left, 64);
    EXPECT_EQ(with.messageBounds.top, 16);
    EXPECT_EQ(with.messageBounds.right, 364);
    EXPECT_EQ(with.messageBounds.bottom, 48);
    ASSERT_EQ(with.buttons.size(), 2u);
    EXPECT_EQ(with.buttons[0].button, dbYes);
    EXPECT_EQ(with.buttons[0].bounds.left, 97);  // (378 - 183) div 2
    EXPECT_EQ(with.buttons[0].bounds.top, 68);   // 32 + 16 + 20
    EXPECT_EQ(with.buttons[0].bounds.right, 185);
    EXPECT_EQ(with.buttons[0].bounds.bottom, 96);
    EXPECT_EQ(with.buttons[1].button, dbNo);
    EXPECT_EQ(with.buttons[1].bounds.left, 192);

    // A short text without an icon, under a wider row of buttons: the label stays at the margin.
    TDialogLayout narrow = ComputeDialogLayout(7, 16, SIZE{50, 16}, false, mbAbortRetryIgnore);
    EXPECT_EQ(narrow.blockWidth, 50);
    EXPECT_EQ(narrow.blockHeight, 16);
    EXPECT_EQ(narrow.groupWidth, 278);  // 3 * 88 + 2 * 7
    EXPECT_EQ(narrow.clientWidth, 306);
    EXPECT_EQ(narrow.clientHeight, 96);
    EXPECT_EQ(narrow.messageBounds.left, 14);
    EXPECT_EQ(narrow.buttons.front().bounds.left, 14);

    // An empty text with an icon keeps the icon's 32 pixels; no buttons make no row.
    TDialogLayout empty = ComputeDialogLayout(7, 16, SIZE{0, 0}, true, 0);
    EXPECT_EQ(empty.blockHeight, 32);
    EXPECT_EQ(empty.groupWidth, 0);
    EXPECT_TRUE(empty.buttons.empty());
    EXPECT_EQ(empty.clientWidth, 32 + 18 + 28);

    const POINT centre = CentredWindowPosition(1024, 768, 401, 151);
    EXPECT_EQ(centre.x, 312);  // 512 - 200
    EXPECT_EQ(centre.y, 309);  // 384 - 75
    EXPECT_EQ(DialogMulDiv(50, 7, 4), 88);
    EXPECT_EQ(DialogMulDiv(-10, 7, 4), -18);  // half away from zero, as the platform rounds
}

// The font measurement done again from scratch, to check the dialog against.
struct Measured {
    int averageWidth;
    int averageHeight;
    SIZE text;
};

// The font of a new form, which the dialog is built with.
UniqueFont DialogFont(HDC screen) {
    const int ppi = ::GetDeviceCaps(screen, LOGPIXELSY);
    return UniqueFont(::CreateFontA(-::MulDiv(8, ppi, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                    0, 0, "MS Sans Serif"));
}

Measured Measure(const std::string& text) {
    WindowDc screen(nullptr);
    const UniqueFont font = DialogFont(screen.get());
    SelectGuard select(screen.get(), font.get());
    SIZE letters{};
    ::GetTextExtentPoint32A(screen.get(), "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52,
                            &letters);
    RECT rect{0, 0, ::GetSystemMetrics(SM_CXSCREEN) / 2, 0};
    ::DrawTextA(screen.get(), text.c_str(), static_cast<int>(text.size()), &rect, DT_CALCRECT | DT_WORDBREAK);
    return Measured{letters.cx / 52, letters.cy, SIZE{rect.right - rect.left, rect.bottom - rect.top}};
}

// The extent of the widest run without a blank or a line break: a run wider than the text's width
// is not broken by word wrapping (some renderers break at backslashes too; the dialog must not rely
// on it).
int WidestRun(const std::string& text) {
    WindowDc screen(nullptr);
    const UniqueFont font = DialogFont(screen.get());
    SelectGuard select(screen.get(), font.get());
    int widest = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(" \n", start);
        end = end == std::string::npos ? text.size() : end;
        SIZE size{};
        ::GetTextExtentPoint32A(screen.get(), text.data() + start, static_cast<int>(end - start), &size);
        widest = std::max<int>(widest, size.cx);
        start = end + 1;
    }
    return widest;
}

void ExpectBounds(const TControl* control, const RECT& bounds) {
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->Left(), bounds.left) << control->Name();
    EXPECT_EQ(control->Top(), bounds.top) << control->Name();
    EXPECT_EQ(control->Width(), bounds.right - bounds.left) << control->Name();
    EXPECT_EQ(control->Height(), bounds.bottom - bounds.top) << control->Name();
}

std::string WithoutLineBreaks(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    return text;
}

void ExpectWithinScreen(const TMessageForm& form, const std::string& text) {
    EXPECT_GE(form.Left(), 0) << text;
    EXPECT_GE(form.Top(), 0) << text;
    EXPECT_LE(form.Left() + form.Width(), ::GetSystemMetrics(SM_CXSCREEN)) << text;
    EXPECT_LE(form.Top() + form.Height(), ::GetSystemMetrics(SM_CYSCREEN)) << text;
}

// Checks a built dialog against the layout recomputed from the measured font.
void ExpectBuiltAsComputed(const std::string& text, TMessageKind kind, TDialogButtons buttons) {
    const Measured measured = Measure(text);
    const bool icon = kind != mkCustom;
    const TDialogLayout expected =
        ComputeDialogLayout(measured.averageWidth, measured.averageHeight, measured.text, icon, buttons);
    std::unique_ptr<TMessageForm> form = BuildMessageDialog(text, kind, buttons);
    EXPECT_EQ(form->AverageCharWidth(), measured.averageWidth);
    EXPECT_EQ(form->AverageCharHeight(), measured.averageHeight);
    EXPECT_EQ(form->ClientWidth(), expected.clientWidth);
    EXPECT_EQ(form->ClientHeight(), expected.clientHeight);
    EXPECT_EQ(form->Left(), ::GetSystemMetrics(SM_CXSCREEN) / 2 - form->Width() / 2);
    EXPECT_EQ(form->Top(), ::GetSystemMetrics(SM_CYSCREEN) / 2 - form->Height() / 2);
    EXPECT_EQ(form->BorderStyle(), TFormBorderStyle::bsDialog);
    EXPECT_EQ(form->Font().Name(), "MS Sans Serif");
    EXPECT_EQ(form->Font().Height(), -13);  // 8 points at 120 pixels per inch

    auto* message = dynamic_cast<TLabel*>(form->FindComponent("Message"));
    ExpectBounds(message, expected.messageBounds);
    EXPECT_TRUE(message->WordWrap());
    EXPECT_EQ(message->Caption(), text);
    auto* image = dynamic_cast<TImage*>(form->FindComponent("Image"));
    if (icon) {
        ExpectBounds(image, expected.iconBounds);
        EXPECT_EQ(image->Picture().Width(), 32);
    } else {
        EXPECT_EQ(image, nullptr);
        EXPECT_EQ(message->Left(), expected.horzMargin);
    }
    for (const TDialogButtonPlace& place : expected.buttons) {
        ExpectBounds(dynamic_cast<TButton*>(form->FindComponent(DialogButtonInfo(place.button).name)),
                     place.bounds);
    }
    // Independent of the layout function: the dialog-unit conversions of the button size.
    if (!expected.buttons.empty()) {
        const auto* first =
            dynamic_cast<TButton*>(form->FindComponent(DialogButtonInfo(expected.buttons[0].button).name));
        EXPECT_EQ(first->Width(), ::MulDiv(50, measured.averageWidth, 4));
        EXPECT_EQ(first->Height(), ::MulDiv(14, measured.averageHeight, 8));
    }
}

TEST(MessageDialogBuild, FiguresRecomputedFromTheMeasuredFont) {
    ExpectBuiltAsComputed("Unable to access a:\\", mkError, mbOK);
    ExpectBuiltAsComputed("The directory C:\\x does not exist. Create it?", mkConfirmation, mbYesNo);
    ExpectBuiltAsComputed("Tandrel Setup Complete.", mkCustom, mbOK);
    ExpectBuiltAsComputed("", mkWarning, mbYesNoCancel);
}

TEST(MessageDialogBuild, LongTextWrapsAtHalfTheScreenAndALongWordIsBrokenWithinIt) {
    const int half = ::GetSystemMetrics(SM_CXSCREEN) / 2;
    std::string longText;
    for (int i = 0; i < 40; ++i) {
        longText += "words that wrap ";
    }
    const Measured wrapped = Measure(longText);
    EXPECT_LE(wrapped.text.cx, half);
    EXPECT_GE(wrapped.text.cy, 4 * wrapped.averageHeight);  // several lines
    ExpectBuiltAsComputed(longText, mkInformation, mbYesNo);

    // One word wider than half the screen, of letters wider than the average one: broken into
    // lines that fit, nothing lost.
    const std::string word(150, 'W');
    EXPECT_GT(Measure(word).text.cx, half);
    std::unique_ptr<TMessageForm> form = BuildMessageDialog(word, mkWarning, mbOK);
    const std::string shown = dynamic_cast<TLabel*>(form->FindComponent("Message"))->Caption();
    EXPECT_EQ(WithoutLineBreaks(shown), word);
    EXPECT_GT(std::count(shown.begin(), shown.end(), '\n'), 1);
    EXPECT_LE(WidestRun(shown), half);
    EXPECT_LE(Measure(shown).text.cx, half);
    ExpectWithinScreen(*form, word);

    std::unique_ptr<TMessageForm> empty = BuildMessageDialog("", mkError, mbOK);
    EXPECT_GE(empty->Layout().blockHeight, 32);
}

// Every length of destination in the creation question, up to past the longest folder a run
// accepts: a text that fits is shown as it is, in the dialog it always had; a longer one is broken
// after backslashes only, and the dialog lies inside the screen.
TEST(MessageDialogBuild, EveryLengthOfPathKeepsTheDialogInsideTheScreen) {
    const int half = ::GetSystemMetrics(SM_CXSCREEN) / 2;
    std::string path = "C:\\Program Files";
    int broken = 0;
    for (int level = 0; path.size() < 280; ++level) {
        path += level % 9 == 0 ? '\\' : static_cast<char>('a' + level % 26);  // one longer each time
        const std::string text = "The directory " + path + " does not exist. Create it?";
        SCOPED_TRACE(text);
        if (WidestRun(text) <= half) {
            ExpectBuiltAsComputed(text, mkConfirmation, mbYesNo);
            continue;
        }
        ++broken;
        std::unique_ptr<TMessageForm> form = BuildMessageDialog(text, mkConfirmation, mbYesNo);
        const std::string shown = dynamic_cast<TLabel*>(form->FindComponent("Message"))->Caption();
        EXPECT_EQ(WithoutLineBreaks(shown), text);
        for (size_t at = shown.find('\n'); at != std::string::npos; at = shown.find('\n', at + 1)) {
            ASSERT_GT(at, 0u);
            EXPECT_EQ(shown[at - 1], '\\') << shown;
        }
        EXPECT_LE(WidestRun(shown), half);
        EXPECT_LE(Measure(shown).text.cx, half);
        ExpectWithinScreen(*form, text);
    }
    EXPECT_GT(broken, 100);  // the long ones were tried
}

TEST(MessageDialogBuild, ButtonsInBitOrderWithNamesCaptionsResultsAndRoles) {
    std::unique_ptr<TMessageForm> form = BuildMessageDialog("All of them", mkConfirmation, 0x1FF);
    struct Expected {
        const char* name;
        const char* caption;
        int result;
    };
    const Expected all[] = {{"Yes", "&Yes", 6},       {"No", "&No", 7},       {"OK", "OK", 1},
                            {"Cancel", "Cancel", 2},  {"Abort", "&Abort", 3}, {"Retry", "&Retry", 4},
                            {"Ignore", "&Ignore", 5}, {"All", "&All", 8},     {"Help", "&Help", 0}};
    std::vector<TButton*> buttons;
    for (int i = 0; i < form->ComponentCount(); ++i) {
        if (auto* button = dynamic_cast<TButton*>(form->Components(i))) {
            buttons.push_back(button);
        }
    }
    ASSERT_EQ(buttons.size(), 9u);
    for (size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(buttons[i]->Name(), all[i].name);
        EXPECT_EQ(buttons[i]->Caption(), all[i].caption);
        EXPECT_EQ(buttons[i]->ModalResult(), all[i].result);
        EXPECT_EQ(buttons[i]->Default(), std::string(all[i].name) == "OK");
        EXPECT_EQ(buttons[i]->Cancel(), std::string(all[i].name) == "Cancel");
        if (i > 0) {
            EXPECT_GT(buttons[i]->Left(), buttons[i - 1]->Left());
        }
    }
    EXPECT_EQ(form->Caption(), "Confirm");

    // Given as {No, Yes}: still Yes, then No, from left to right.
    std::unique_ptr<TMessageForm> swapped =
        BuildMessageDialog("Order", mkWarning, ButtonBit(dbNo) | ButtonBit(dbYes));
    auto* yes = dynamic_cast<TButton*>(swapped->FindComponent("Yes"));
    auto* no = dynamic_cast<TButton*>(swapped->FindComponent("No"));
    ASSERT_NE(yes, nullptr);
    ASSERT_NE(no, nullptr);
    EXPECT_LT(yes->Left(), no->Left());
    EXPECT_TRUE(yes->Default());
    EXPECT_TRUE(no->Cancel());
    EXPECT_EQ(swapped->Caption(), "Warning");
    EXPECT_EQ(BuildMessageDialog("x", mkError, mbOK)->Caption(), "Error");
    EXPECT_EQ(BuildMessageDialog("x", mkInformation, mbOK)->Caption(), "Information");
}

// Runs a dialog while the helper acts on the window with caption; returns the result and checks
// that the dialog was found and freed.
int RunDialog(const std::string& caption,
              const std::function<void(HWND, DWORD)>& action,
              const std::function<int()>& show) {
    const int before = Application->ComponentCount();
    DWORD ui = ::GetCurrentThreadId();
    gui::Driver driver(caption, [&](HWND window) { action(window, ui); });
    const int result = show();
    driver.Join();
    EXPECT_TRUE(driver.Found()) << caption;
    EXPECT_EQ(Application->ComponentCount(), before) << "the dialog was not freed";
    return result;
}

int YesNoQuestion() {
    return ShowMessageDialog("Do you want to keep the existing file? ", mkConfirmation, mbYesNo, 0);
}

int RetryCancel() {
    return ShowMessageDialog("Cannot remove C:\\x: it is in use.", mkWarning,
                             ButtonBit(dbRetry) | ButtonBit(dbCancel), 0);
}

TEST(MessageDialogRun, ResultCodesOfButtonsKeysAndClosing) {
    const auto okOnly = [] { return ShowMessageDialog("Unable to access a:\\", mkError, mbOK, 0); };
    struct Case {
        const char* what;
        const char* caption;
        std::function<void(HWND, DWORD)> action;
        std::function<int()> show;
        int expected;
    };
    const Case cases[] = {
        {"Yes", "Confirm", [](HWND w, DWORD) { gui::PressButton(w, "&Yes"); }, YesNoQuestion, mrYes},
        {"No", "Confirm", [](HWND w, DWORD) { gui::PressButton(w, "&No"); }, YesNoQuestion, mrNo},
        {"close box", "Confirm", [](HWND w, DWORD) { ::PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0); },
         YesNoQuestion, mrCancel},
        {"Esc", "Confirm", [](HWND, DWORD ui) { gui::PressKey(ui, VK_ESCAPE); }, YesNoQuestion, mrNo},
        {"Enter", "Confirm", [](HWND, DWORD ui) { gui::PressKey(ui, VK_RETURN); }, YesNoQuestion, mrYes},
        {"N", "Confirm", [](HWND, DWORD ui) { gui::PressKey(ui, 'N'); }, YesNoQuestion, mrNo},
        // A button without a mnemonic of its own answers to its first letter, as a mnemonic would.
        {"C", "Warning", [](HWND, DWORD ui) { gui::PressKey(ui, 'C'); }, RetryCancel, mrCancel},
        {"R", "Warning", [](HWND, DWORD ui) { gui::PressKey(ui, 'R'); }, RetryCancel, mrRetry},
        {"O on OK", "Error", [](HWND, DWORD ui) { gui::PressKey(ui, 'O'); }, okOnly, mrOk},
        // A letter that no button starts with leaves the dialog up.
        {"C then N", "Confirm",
         [](HWND, DWORD ui) {
             gui::PressKey(ui, 'C');
             gui::PressKey(ui, 'X');
             gui::PressKey(ui, 'N');
         },
         YesNoQuestion, mrNo},
        {"Esc on OK", "Error", [](HWND, DWORD ui) { gui::PressKey(ui, VK_ESCAPE); }, okOnly, mrOk},
        {"Enter on OK", "Error", [](HWND, DWORD ui) { gui::PressKey(ui, VK_RETURN); }, okOnly, mrOk},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RunDialog(c.caption, c.action, c.show), c.expected) << c.what;
    }

    // Help does not close the dialog; OK then does.
    const auto withHelp = [] {
        return ShowMessageDialog("Help?", mkInformation, mbOK | ButtonBit(dbHelp), 5);
    };
    EXPECT_EQ(RunDialog(
                  "Information",
                  [](HWND w, DWORD) {
                      gui::PressButton(w, "&Help");
                      ::Sleep(100);
                      gui::PressButton(w, "OK");
                  },
                  withHelp),
              mrOk);

    // Application termination while the dialog is up.
    EXPECT_EQ(RunDialog(
                  "Warning", [](HWND, DWORD ui) { ::PostThreadMessageA(ui, WM_QUIT, 0, 0); },
                  [] { return ShowMessageDialog("Quit?", mkWarning, mbYesNo, 0); }),
              mrCancel);
    EXPECT_TRUE(Application->Terminated());
    Application->CancelTermination();
}

TEST(MessageDialogRun, PositionAndPlainMessage) {
    RECT placed{};
    const auto capture = [&](HWND w, DWORD) {
        ::GetWindowRect(w, &placed);
        gui::PressButton(w, "OK");
    };
    RunDialog("Information", capture,
              [] { return ShowMessageDialogPos("Here", mkInformation, mbOK, 0, 10, 20); });
    EXPECT_EQ(placed.left, 10);
    EXPECT_EQ(placed.top, 20);
    std::unique_ptr<TMessageForm> reference = BuildMessageDialog("Here", mkInformation, mbOK);
    RunDialog("Information", capture,
              [] { return ShowMessageDialogPos("Here", mkInformation, mbOK, 0, -1, 30); });
    EXPECT_EQ(placed.left, reference->Left());  // negative: the centred coordinate stays
    EXPECT_EQ(placed.top, 30);

    const std::string saved = Application->Title();
    Application->SetTitle("Setup");
    std::string labelText;
    RunDialog(
        "Setup",
        [&](HWND w, DWORD) {
            // The label is painted by the dialog, not a window: read it from the dialog object
            // while the dialog's thread waits in its modal loop.
            if (auto* form = dynamic_cast<TForm*>(TWinControl::FromHandle(w))) {
                if (auto* label = dynamic_cast<TLabel*>(form->FindComponent("Message"))) {
                    labelText = label->Caption();
                }
            }
            gui::PressButton(w, "OK");
        },
        [] {
            ShowPlainMessage("Tandrel Setup Complete.");
            return 0;
        });
    EXPECT_EQ(labelText, "Tandrel Setup Complete.");
    Application->SetTitle(saved);
}

}  // namespace
