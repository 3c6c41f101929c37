#include "framework/forms.h"

#include <vector>

#include "framework/application.h"
#include "framework/layout.h"
#include "framework/published.h"
#include "framework/std_controls.h"

TForm::TForm(TComponent* owner) : TCustomControl(owner) {
    SetVisible(false);
    SetBounds(0, 0, 320, 240);
}

TForm::~TForm() {
    DestroyComponents();
    if (Application->mainForm_ == this) {
        Application->mainForm_ = nullptr;
    }
    DestroyWnd();
}

const std::any* TForm::Handlers::FindMethod(std::string_view name) const {
    const auto found = handlers.find(name);
    return found == handlers.end() ? nullptr : &found->second;
}

DWORD TForm::WindowStyle() const {
    DWORD style = WS_CLIPCHILDREN;
    bool caption = true;
    switch (borderStyle_) {
        case TFormBorderStyle::bsNone:
            style |= WS_POPUP;
            caption = false;
            break;
        case TFormBorderStyle::bsSingle:
        case TFormBorderStyle::bsToolWindow:
            style |= WS_CAPTION | WS_BORDER;
            break;
        case TFormBorderStyle::bsSizeable:
        case TFormBorderStyle::bsSizeToolWin:
            style |= WS_CAPTION | WS_THICKFRAME;
            break;
        case TFormBorderStyle::bsDialog:
            style |= WS_POPUP | WS_CAPTION;
            break;
    }
    if (caption && (borderIcons_ & biSystemMenu) != 0) {
        style |= WS_SYSMENU;
        const bool dialog = borderStyle_ == TFormBorderStyle::bsDialog ||
                            borderStyle_ == TFormBorderStyle::bsToolWindow ||
                            borderStyle_ == TFormBorderStyle::bsSizeToolWin;
        if (!dialog && (borderIcons_ & biMinimize) != 0) {
            style |= WS_MINIMIZEBOX;
        }
        if (!dialog && (borderIcons_ & biMaximize) != 0) {
            style |= WS_MAXIMIZEBOX;
        }
    }
    return style;
}

DWORD TForm::WindowExStyle() const {
    DWORD exStyle = WS_EX_CONTROLPARENT;
    if (borderStyle_ == TFormBorderStyle::bsDialog) {
        exStyle |= WS_EX_DLGMODALFRAME;
    }
    if (borderStyle_ == TFormBorderStyle::bsToolWindow || borderStyle_ == TFormBorderStyle::bsSizeToolWin) {
        exStyle |= WS_EX_TOOLWINDOW;
    }
    if (formStyle_ == TFormStyle::fsStayOnTop) {
        exStyle |= WS_EX_TOPMOST;
    }
    return exStyle;
}

RECT TForm::ClientRect() const {
    if (HandleAllocated()) {
        return TCustomControl::ClientRect();
    }
    RECT frame{0, 0, 0, 0};
    ::AdjustWindowRectEx(&frame, WindowStyle(), FALSE, WindowExStyle());
    return RECT{0, 0, Width() - (frame.right - frame.left), Height() - (frame.bottom - frame.top)};
}

void TForm::ApplyClientSize() {
    if (clientWidth_ < 0 && clientHeight_ < 0) {
        return;
    }
    RECT frame{0, 0, 0, 0};
    ::AdjustWindowRectEx(&frame, WindowStyle(), FALSE, WindowExStyle());
    const int width = clientWidth_ >= 0 ? clientWidth_ + frame.right - frame.left : Width();
    const int height = clientHeight_ >= 0 ? clientHeight_ + frame.bottom - frame.top : Height();
    SetBounds(Left(), Top(), width, height);
}

void TForm::SetClientWidth(int width) {
    clientWidth_ = width;
    ApplyClientSize();
}

void TForm::SetClientHeight(int height) {
    clientHeight_ = height;
    ApplyClientSize();
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
    borderStyle_ = style;
    if (HandleAllocated()) {
        ::SetWindowLongPtrA(Handle(), GWL_STYLE,
                            static_cast<LONG_PTR>(WindowStyle() | (Visible() ? WS_VISIBLE : 0)));
        ::SetWindowLongPtrA(Handle(), GWL_EXSTYLE, static_cast<LONG_PTR>(WindowExStyle()));
        ::SetWindowPos(Handle(), nullptr, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }
    ApplyClientSize();
}

void TForm::SetBorderIcons(TBorderIcons icons) {
    borderIcons_ = icons;
    SetBorderStyle(borderStyle_);
}

void TForm::SetWindowState(TWindowState state) {
    windowState_ = state;
    if (HandleAllocated() && Visible()) {
        ::ShowWindow(Handle(), state == TWindowState::wsMaximized   ? SW_SHOWMAXIMIZED
                               : state == TWindowState::wsMinimized ? SW_SHOWMINIMIZED
                                                                    : SW_SHOWNORMAL);
    }
}

void TForm::SetFormStyle(TFormStyle style) {
    formStyle_ = style;
    if (HandleAllocated()) {
        ::SetWindowPos(Handle(), style == TFormStyle::fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void TForm::CreateParams(TCreateParams& params) {
    TCustomControl::CreateParams(params);
    params.className = "TandrelForm";
    params.style = WindowStyle();  // shown by VisibleChanged once placed
    params.exStyle = WindowExStyle();
    if (!Enabled()) {
        params.style |= WS_DISABLED;
    }
    params.parent = nullptr;
    if (TForm* main = Application->MainForm(); main != nullptr && main != this && main->HandleAllocated()) {
        params.parent = main->Handle();  // owned by the main window: stays above it
    }
}

void TForm::CreateWnd() {
    TCustomControl::CreateWnd();
}

void TForm::PlaceForShow() {
    if (position_ == TPosition::poScreenCenter) {
        SetBounds(ScreenWidth() / 2 - Width() / 2, ScreenHeight() / 2 - Height() / 2, Width(), Height());
    }
}

void TForm::VisibleChanged() {
    if (Visible()) {
        PlaceForShow();
        HWND hwnd = Handle();
        int command = SW_SHOWNORMAL;
        if (windowState_ == TWindowState::wsMaximized) {
            command = SW_SHOWMAXIMIZED;
        } else if (windowState_ == TWindowState::wsMinimized) {
            command = SW_SHOWMINIMIZED;
        }
        ::ShowWindow(hwnd, command);
        if (formStyle_ == TFormStyle::fsStayOnTop) {
            ::SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
        ::UpdateWindow(hwnd);
        FocusRepair();
        if (OnShow) {
            OnShow(this);
        }
    } else if (HandleAllocated()) {
        ::ShowWindow(Handle(), SW_HIDE);
    }
}

void TForm::TextChanged() {
    if (HandleAllocated()) {
        ::SetWindowTextA(Handle(), TControl::Text().c_str());
    }
}

bool TForm::SelectFirstIn(TWinControl& container) {
    for (TWinControl* child : container.tabList_) {
        if (!child->Visible() || !child->Enabled()) {
            continue;
        }
        if (child->TabStop() && child->CanFocus()) {
            child->SetFocus();
            return true;
        }
        if (SelectFirstIn(*child)) {
            return true;
        }
    }
    return false;
}

void TForm::SelectFirst() {
    if (!HandleAllocated()) {
        return;
    }
    if (!SelectActiveControl() && !SelectFirstIn(*this)) {
        ::SetFocus(Handle());  // nothing to focus: the form itself takes the keys
    }
}

bool TForm::SelectActiveControl() {
    if (activeControl_ == nullptr || !activeControl_->Showing() || !activeControl_->Enabled() ||
        !activeControl_->CanFocus()) {
        return false;
    }
    activeControl_->SetFocus();
    return true;
}

void TForm::FocusRepair() {
    if (!HandleAllocated() || !Visible() || ::GetActiveWindow() != Handle()) {
        return;
    }
    HWND focus = ::GetFocus();
    if (focus != nullptr && focus != Handle() && ::IsChild(Handle(), focus) && ::IsWindowVisible(focus) &&
        ::IsWindowEnabled(focus)) {
        return;
    }
    SelectFirst();
}

TButton* TForm::FindRoleButton(TWinControl& container, bool wantDefault) const {
    for (TWinControl* child : container.tabList_) {
        if (!child->Visible() || !child->Enabled()) {
            continue;
        }
        if (auto* button = dynamic_cast<TButton*>(child)) {
            if (wantDefault ? button->Default() : button->Cancel()) {
                return button;
            }
        } else if (TButton* inner = FindRoleButton(*child, wantDefault)) {
            return inner;
        }
    }
    return nullptr;
}

bool TForm::DialogKey(WPARAM virtualKey) {
    TButton* target = nullptr;
    if (virtualKey == VK_RETURN) {
        auto* focused = dynamic_cast<TButton*>(TWinControl::FromHandle(::GetFocus()));
        target = focused != nullptr && focused->ParentForm() == this ? focused : FindRoleButton(*this, true);
    } else if (virtualKey == VK_ESCAPE) {
        target = FindRoleButton(*this, false);
    }
    if (target == nullptr) {
        return false;
    }
    target->Click();
    return true;
}

namespace {

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool TForm::DialogChar(WPARAM character) {
    // Only a button's letters: an edit box or a list takes its own.
    if (character > 0x7F || character == 0 ||
        dynamic_cast<TButton*>(TWinControl::FromHandle(::GetFocus())) == nullptr) {
        return false;
    }
    const char letter = AsciiLower(static_cast<char>(character));
    // The visible, enabled buttons, in tab order, those inside panels included.
    std::vector<TButton*> buttons;
    const auto collect = [&buttons](const auto& self, TWinControl& container) -> void {
        for (TWinControl* child : container.tabList_) {
            if (!child->Visible() || !child->Enabled()) {
                continue;
            }
            if (auto* button = dynamic_cast<TButton*>(child)) {
                buttons.push_back(button);
            } else {
                self(self, *child);
            }
        }
    };
    collect(collect, *this);
    TButton* target = nullptr;
    for (TButton* button : buttons) {
        const std::string caption = button->Caption();
        const size_t mnemonic = caption.find('&');
        if (mnemonic != std::string::npos) {
            if (mnemonic + 1 < caption.size() && AsciiLower(caption[mnemonic + 1]) == letter) {
                return false;  // the dialog manager's own
            }
        } else if (target == nullptr && !caption.empty() && AsciiLower(caption.front()) == letter) {
            target = button;
        }
    }
    if (target == nullptr) {
        return false;
    }
    target->Click();
    return true;
}

bool TForm::CloseQuery() {
    bool canClose = true;
    if (OnCloseQuery) {
        OnCloseQuery(this, canClose);
    }
    return canClose;
}

void TForm::Close() {
    if (modal_) {
        if (CloseQuery()) {
            modalResult_ = mrCancel;
        }
        return;
    }
    if (!CloseQuery()) {
        return;
    }
    if (Application->MainForm() == this) {
        Application->Terminate();
    } else {
        Hide();
    }
}

namespace {

struct DisabledWindows {
    HWND keep;
    std::vector<HWND> windows;
};

BOOL CALLBACK DisableOne(HWND hwnd, LPARAM data) {
    auto* state = reinterpret_cast<DisabledWindows*>(data);
    if (hwnd != state->keep && ::IsWindowVisible(hwnd) && ::IsWindowEnabled(hwnd)) {
        ::EnableWindow(hwnd, FALSE);
        state->windows.push_back(hwnd);
    }
    return TRUE;
}

}  // namespace

int TForm::ShowModal() {
    if (Visible() || modal_) {
        throw EInvalidOperation("Cannot make a visible window modal");
    }
    HWND previous = ::GetActiveWindow();
    HWND hwnd = Handle();
    if (previous != nullptr && previous != hwnd) {
        ::SetWindowLongPtrA(hwnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(previous));
    }
    DisabledWindows disabled{hwnd, {}};
    ::EnumThreadWindows(::GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(&disabled));

    // Undoes the modal state on every way out, exceptions included: the other windows are enabled
    // again before this one hides, so that activation returns to the window that was active.
    struct ModalState {
        TForm& form;
        DisabledWindows& disabled;
        HWND previous;
        ~ModalState() {
            for (HWND window : disabled.windows) {
                if (::IsWindow(window)) {
                    ::EnableWindow(window, TRUE);
                }
            }
            form.modal_ = false;
            try {
                form.Hide();
            } catch (...) {
                // hiding cannot be allowed to end the program from a destructor
            }
            if (previous != nullptr && ::IsWindow(previous)) {
                ::SetActiveWindow(previous);
            }
        }
    } state{*this, disabled, previous};

    modal_ = true;
    modalResult_ = mrNone;
    Show();
    ::SetActiveWindow(hwnd);
    FocusRepair();
    while (modalResult_ == mrNone) {
        // Once the application is ending, no answer is waited for: a window made modal then
        // closes at once, without waiting for a message that may never come.
        if (Application->Terminated()) {
            modalResult_ = mrCancel;
            break;
        }
        Application->HandleMessage();
        if (Application->Terminated()) {
            modalResult_ = mrCancel;
        }
    }
    return modalResult_;
}

LRESULT TForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            Close();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = ::GetFocus();
                if (focus != nullptr && ::IsChild(Handle(), focus)) {
                    lastFocus_ = focus;
                }
            }
            break;
        case WM_SETFOCUS:
            if (lastFocus_ != nullptr && ::IsWindow(lastFocus_) && ::IsChild(Handle(), lastFocus_) &&
                ::IsWindowVisible(lastFocus_) && ::IsWindowEnabled(lastFocus_)) {
                ::SetFocus(lastFocus_);
            } else if (!SelectActiveControl()) {
                SelectFirstIn(*this);
            }
            return 0;
        case WM_WINDOWPOSCHANGED: {
            RECT window{};
            ::GetWindowRect(Handle(), &window);
            if (!::IsIconic(Handle())) {
                UpdateBoundsFromWindow(window.left, window.top, window.right - window.left,
                                       window.bottom - window.top);
            }
            break;
        }
        default:
            break;
    }
    return TCustomControl::WndProc(message, wParam, lParam);
}

void TForm::ReadLayout(const std::string& resourceName) {
    HMODULE module = ::GetModuleHandleA(nullptr);
    HRSRC resource = ::FindResourceA(module, resourceName.c_str(), MAKEINTRESOURCEA(10));  // RT_RCDATA
    HGLOBAL loaded = resource != nullptr ? ::LoadResource(module, resource) : nullptr;
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (data == nullptr) {
        throw EResNotFound(Format(msg::kResNotFound, resourceName.c_str()));
    }
    ReadLayoutText(std::string_view(static_cast<const char*>(data), ::SizeofResource(module, resource)));
}

void TForm::ReadLayoutText(std::string_view text) {
    RegisterStandardClasses();
    ReadLayoutInto(*this, ParseLayout(text), handlers_, ScreenPixelsPerInch());
}

void TForm::Loaded() {
    TCustomControl::Loaded();
    ApplyClientSize();
}

void TForm::DoCreate() {
    if (OnCreate) {
        OnCreate(this);
    }
}

namespace {

constexpr std::string_view kBorderStyleNames[] = {"bsNone",   "bsSingle",     "bsSizeable",
                                                  "bsDialog", "bsToolWindow", "bsSizeToolWin"};
// In the order of the biXxx bits.
constexpr std::string_view kBorderIconNames[] = {"biSystemMenu", "biMinimize", "biMaximize"};
constexpr std::string_view kWindowStateNames[] = {"wsNormal", "wsMinimized", "wsMaximized"};
constexpr std::string_view kPositionNames[] = {"poDesigned", "poDefault", "poScreenCenter"};
constexpr std::string_view kFormStyleNames[] = {"fsNormal", "fsStayOnTop"};

constexpr TPublishedProperty<TForm> kFormProperties[] = {
    {"ClientWidth", Setter<&TForm::SetClientWidth, ReadInteger>},
    {"ClientHeight", Setter<&TForm::SetClientHeight, ReadInteger>},
    {"BorderStyle", Setter<&TForm::SetBorderStyle, ReadEnum<TFormBorderStyle, kBorderStyleNames>>},
    {"BorderIcons", Setter<&TForm::SetBorderIcons, ReadSet<TBorderIcons, kBorderIconNames>>},
    {"WindowState", Setter<&TForm::SetWindowState, ReadEnum<TWindowState, kWindowStateNames>>},
    {"Position", Setter<&TForm::SetPosition, ReadEnum<TPosition, kPositionNames>>},
    {"FormStyle", Setter<&TForm::SetFormStyle, ReadEnum<TFormStyle, kFormStyleNames>>},
    {"HelpContext", Setter<&TForm::SetHelpContext, ReadInteger>},
    // Figures of the design screen: the reader scales from 120 pixels per inch already.
    {"PixelsPerInch", Ignored<ReadInteger>},
    {"TextHeight", Ignored<ReadInteger>},
    {"OldCreateOrder", Ignored<ReadBoolean>},
    {"OnCreate", Event<&TForm::OnCreate>},
    {"OnCloseQuery", Event<&TForm::OnCloseQuery>},
    {"OnShow", Event<&TForm::OnShow>},
};

}  // namespace

bool TForm::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    return SetPublished(*this, kFormProperties, name, value, context) ||
           TCustomControl::SetProperty(name, value, context);
}
