#include "framework/application.h"

#include "framework/controls.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"

namespace {

TApplication theApplication;

// The program's file name without folder and extension: the title until the program sets one.
std::string ModuleTitle() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = ExtractFileName(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// The control that a message's window belongs to: the window itself or one of its parents
// (the edit box inside a combo box, say).
TWinControl* ControlOfWindow(HWND hwnd) {
    for (; hwnd != nullptr; hwnd = ::GetParent(hwnd)) {
        if (TWinControl* control = TWinControl::FromHandle(hwnd)) {
            return control;
        }
    }
    return nullptr;
}

}  // namespace

TApplication* const Application = &theApplication;

TApplication::TApplication() : TComponent(nullptr), title_(ModuleTitle()) {
    SetExceptionHook([](const std::exception& error) { Application->HandleException(error); });
}

TApplication::~TApplication() = default;

void TApplication::Initialize() {
    // Layouts are scaled by the program itself: the system must not stretch its windows.
    ::SetProcessDPIAware();
}

void TApplication::Run() {
    if (mainForm_ != nullptr && !terminated_) {
        mainForm_->Show();
    }
    while (!terminated_) {
        HandleMessage();
    }
}

void TApplication::HandleMessage() {
    MSG message{};
    const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
        terminated_ = true;
        return;
    }
    Dispatch(message);
}

void TApplication::ProcessMessages() {
    MSG message{};
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            terminated_ = true;
            break;
        }
        Dispatch(message);
    }
}

void TApplication::Dispatch(MSG& message) {
    try {
        if (!PreTranslate(message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    } catch (const std::exception& error) {
        HandleException(error);
    }
}

bool TApplication::PreTranslate(MSG& message) {
    if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST) {
        return false;
    }
    TWinControl* control = ControlOfWindow(message.hwnd);
    if (control == nullptr) {
        return false;
    }
    TForm* form = control->ParentForm();
    if (form == nullptr) {
        return false;
    }
    if (message.message == WM_KEYDOWN && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE) &&
        !control->WantsKey(message.wParam) && form->DialogKey(message.wParam)) {
        return true;
    }
    if (message.message == WM_CHAR && form->DialogChar(message.wParam)) {
        return true;
    }
    // Tab and arrow moves between controls, and mnemonics ("&No": N) of the form's buttons.
    return ::IsDialogMessageA(form->Handle(), &message) != FALSE;
}

void TApplication::Terminate() {
    terminated_ = true;
    ::PostQuitMessage(0);
}

void TApplication::CancelTermination() {
    MSG message{};
    while (::PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    terminated_ = false;
}

std::string TApplication::ExceptionText(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
        return std::string(msg::kOutOfMemory) + ".";
    }
    return std::string(error.what()) + ".";
}

namespace {

// The longest run of characters without a blank that a message box shows within half the screen's
// width, in the average character of its font; 0 when it cannot be measured. The box breaks lines
// at blanks only, so a longer run (a long path) would make it wider than the screen.
size_t MessageRunLimit() {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        return 0;
    }
    const UniqueFont font(::CreateFontIndirectA(&metrics.lfMessageFont));
    const WindowDc dc(nullptr);
    if (!font || dc.get() == nullptr) {
        return 0;
    }
    const SelectGuard selected(dc.get(), font.get());
    TEXTMETRICA text{};
    if (!::GetTextMetricsA(dc.get(), &text) || text.tmAveCharWidth <= 0) {
        return 0;
    }
    return static_cast<size_t>(::GetSystemMetrics(SM_CXSCREEN) / 2 / text.tmAveCharWidth);
}

}  // namespace

std::string MessageBoxText(const std::string& text) {
    return BreakLongRuns(text, MessageRunLimit());
}

void TApplication::HandleException(const std::exception& error) {
    if (OnException) {
        OnException(error);
        return;
    }
    const std::string text = MessageBoxText(ExceptionText(error));
    ::MessageBoxA(::GetActiveWindow(), text.c_str(), title_.c_str(), MB_ICONSTOP | MB_OK);
}

void TApplication::HelpContext(int) {}
