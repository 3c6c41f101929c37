#include "framework/controls.h"

#include <oleacc.h>

#include <algorithm>
#include <new>
#include <utility>

#include "framework/exceptions.h"
#include "framework/published.h"
#include "framework/scoped_flag.h"
#include "framework/sysutils.h"

namespace {

constexpr char kControlProp[] = "TandrelControl";
constexpr char kControlClass[] = "TandrelControl";
constexpr char kFormClass[] = "TandrelForm";
UINT nextControlId = 100;
TExceptionHook exceptionHook = nullptr;

void ReportException(const std::exception& error) {
    if (exceptionHook == nullptr) {
        std::terminate();
    }
    exceptionHook(error);
}

// Runs a message handler and hands an exception that leaves it to the exception hook: no exception
// may unwind through the system's window procedure.
template <typename Body>
LRESULT Guarded(Body body) {
    try {
        return body();
    } catch (const std::exception& error) {
        ReportException(error);
    } catch (...) {
        ReportException(Exception("Unknown error"));
    }
    return 0;
}

// Runs paint with slot pointing at a canvas on dc that carries control's font and colour; the slot
// is emptied again when paint returns or throws.
template <typename Paint>
void PaintThroughCanvas(TControl& control, TCanvas*& slot, HDC dc, Paint paint) {
    TCanvas canvas(dc);
    canvas.Font = control.Font();
    canvas.Brush.SetColor(control.Color());
    const TCanvasInUse inUse(slot, canvas);
    paint();
}

// SaveDC / RestoreDC as one owner.
class SavedDc {
  public:
    explicit SavedDc(HDC dc) : dc_(dc), saved_(::SaveDC(dc)) {}
    SavedDc(const SavedDc&) = delete;
    SavedDc& operator=(const SavedDc&) = delete;
    ~SavedDc() { ::RestoreDC(dc_, saved_); }

  private:
    HDC dc_;
    int saved_;
};

bool Intersects(const RECT& a, const RECT& b) {
    RECT common;
    return ::IntersectRect(&common, &a, &b) != FALSE;
}

}  // namespace

TExceptionHook SetExceptionHook(TExceptionHook hook) {
    return std::exchange(exceptionHook, hook);
}

LRESULT CALLBACK TandrelWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TandrelSubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

void RegisterWindowClasses() {
    static bool registered = false;
    if (registered) {
        return;
    }
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = TandrelWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.lpszClassName = kControlClass;
    ::RegisterClassExA(&windowClass);
    // Top-level windows carry the program's icon (resource "MAINICON") when it has one.
    windowClass.lpszClassName = kFormClass;
    windowClass.hIcon = ::LoadIconA(instance, "MAINICON");
    ::RegisterClassExA(&windowClass);
    registered = true;
}

}  // namespace

LRESULT CALLBACK TandrelWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    TWinControl* control = TWinControl::FromHandle(hwnd);
    if (control == nullptr && message == WM_NCCREATE) {
        control = static_cast<TWinControl*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        control->handle_ = hwnd;
        ::SetPropA(hwnd, kControlProp, control);
    }
    if (control == nullptr) {
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return Guarded([&] { return control->Dispatch(message, wParam, lParam); });
}

LRESULT CALLBACK TandrelSubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    TWinControl* control = TWinControl::FromHandle(hwnd);
    if (control == nullptr) {
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return Guarded([&] { return control->Dispatch(message, wParam, lParam); });
}

// =============================================================================================
// TControl

TControl::TControl(TComponent* owner) : TComponent(owner) {
    font_.OnChange = [this] { FontPropertyChanged(); };
}

TControl::~TControl() {
    font_.OnChange = nullptr;
    if (parent_ != nullptr) {
        parent_->RemoveControl(this);
    }
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == parent_) {
        return;
    }
    if (parent_ != nullptr) {
        Invalidate();
        parent_->RemoveControl(this);
    }
    parent_ = parent;
    if (parent_ != nullptr) {
        parent_->InsertControl(this);
        if (parentFont_) {
            ParentFontChanged();
        }
        if (parentColor_) {
            ParentColorChanged();
        }
        if (align_ != TAlign::alNone) {
            parent_->AlignControls();
        }
        Invalidate();
    }
}

void TControl::SetParentComponent(TComponent* parent) {
    auto* control = dynamic_cast<TWinControl*>(parent);
    if (control == nullptr) {
        throw EReadError(
            Format("%s cannot lie on %s", ClassName(), parent ? parent->ClassName() : "nothing"));
    }
    SetParent(control);
}

TWinControl* TControl::ParentFormWindow() const {
    for (const TControl* control = this; control != nullptr; control = control->parent_) {
        if (control->AsForm() != nullptr) {
            return dynamic_cast<TWinControl*>(const_cast<TControl*>(control));
        }
    }
    return nullptr;
}

TForm* TControl::ParentForm() const {
    const TWinControl* window = ParentFormWindow();
    return window != nullptr ? window->AsForm() : nullptr;
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (left == left_ && top == top_ && width == width_ && height == height_) {
        return;
    }
    const RECT previous = BoundsRect();
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    BoundsChanged(previous);
}

void TControl::BoundsChanged(const RECT& previous) {
    if (parent_ != nullptr && parent_->HandleAllocated() && visible_) {
        ::InvalidateRect(parent_->handle_, &previous, FALSE);
        Invalidate();
    }
}

void TControl::SetVisible(bool visible) {
    if (visible == visible_) {
        return;
    }
    visible_ = visible;
    VisibleChanged();
}

void TControl::VisibleChanged() {
    if (parent_ != nullptr && parent_->HandleAllocated()) {
        const RECT bounds = BoundsRect();
        ::InvalidateRect(parent_->handle_, &bounds, FALSE);
    }
}

bool TControl::Showing() const {
    if (!visible_) {
        return false;
    }
    if (parent_ != nullptr) {
        return parent_->Showing();
    }
    const auto* window = dynamic_cast<const TWinControl*>(this);
    return window != nullptr && window->HandleAllocated();
}

void TControl::SetEnabled(bool enabled) {
    if (enabled != enabled_) {
        enabled_ = enabled;
        EnabledChanged();
    }
}

void TControl::SetText(std::string_view text) {
    if (Text() == text && text_ == text) {
        return;
    }
    text_ = std::string(text);
    TextChanged();
}

void TControl::SetColor(TColor color) {
    parentColor_ = false;
    if (color == color_) {
        return;
    }
    color_ = color;
    ColorChanged();
    NotifyFollowingChildren(&TControl::parentColor_, &TControl::ParentColorChanged);
}

void TControl::SetParentColor(bool parentColor) {
    parentColor_ = parentColor;
    if (parentColor_ && parent_ != nullptr) {
        ParentColorChanged();
    }
}

void TControl::ParentColorChanged() {
    if (parent_ != nullptr) {
        SetColor(parent_->color_);
        parentColor_ = true;
    }
}

void TControl::SetParentFont(bool parentFont) {
    parentFont_ = parentFont;
    if (parentFont_ && parent_ != nullptr) {
        ParentFontChanged();
    }
}

void TControl::ParentFontChanged() {
    if (parent_ == nullptr) {
        return;
    }
    const ScopedFlag updating(updatingFont_);  // the parent's font does not turn ParentFont off
    font_ = parent_->font_;
}

void TControl::FontPropertyChanged() {
    if (!updatingFont_) {
        parentFont_ = false;
    }
    FontChanged();
    NotifyFollowingChildren(&TControl::parentFont_, &TControl::ParentFontChanged);
}

void TControl::NotifyFollowingChildren(bool TControl::*follows, void (TControl::*changed)()) {
    if (auto* window = dynamic_cast<TWinControl*>(this)) {
        for (TControl* child : window->controls_) {
            if (child->*follows) {
                (child->*changed)();
            }
        }
    }
}

void TControl::SetAlign(TAlign align) {
    if (align == align_) {
        return;
    }
    align_ = align;
    if (parent_ != nullptr) {
        parent_->AlignControls();
    }
}

void TControl::Click() {
    if (OnClick) {
        OnClick(this);
    }
}

void TControl::Invalidate() {}

void TControl::Repaint() {}

namespace {

constexpr std::string_view kAlignNames[] = {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"};

constexpr TPublishedProperty<TControl> kControlProperties[] = {
    {"Left", Setter<&TControl::SetLeft, ReadInteger>},
    {"Top", Setter<&TControl::SetTop, ReadInteger>},
    {"Width", Setter<&TControl::SetWidth, ReadInteger>},
    {"Height", Setter<&TControl::SetHeight, ReadInteger>},
    {"Caption", Setter<&TControl::SetText, ReadString>},
    {"Text", Setter<&TControl::SetText, ReadString>},
    {"Visible", Setter<&TControl::SetVisible, ReadBoolean>},
    {"Enabled", Setter<&TControl::SetEnabled, ReadBoolean>},
    {"Color", Setter<&TControl::SetColor, ReadColor>},
    {"ParentColor", Setter<&TControl::SetParentColor, ReadBoolean>},
    {"ParentFont", Setter<&TControl::SetParentFont, ReadBoolean>},
    {"Align", Setter<&TControl::SetAlign, ReadEnum<TAlign, kAlignNames>>},
    {"Tag", Setter<&TControl::SetTag, ReadInteger>},
    {"OnClick", Event<&TControl::OnClick>},
};

}  // namespace

bool TControl::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    constexpr std::string_view kFont = "Font.";
    if (name.size() > kFont.size() && SameTextAscii(name.substr(0, kFont.size()), kFont)) {
        return font_.SetProperty(name.substr(kFont.size()), value, context);
    }
    return SetPublished(*this, kControlProperties, name, value, context) ||
           TComponent::SetProperty(name, value, context);
}

// =============================================================================================
// TGraphicControl

TGraphicControl::TGraphicControl(TComponent* owner) : TControl(owner) {
    SetParentColor(true);
}

void TGraphicControl::Invalidate() {
    if (Parent() != nullptr && Parent()->HandleAllocated() && Visible()) {
        const RECT bounds = BoundsRect();
        ::InvalidateRect(Parent()->Handle(), &bounds, FALSE);
    }
}

void TGraphicControl::Repaint() {
    if (!Showing() || !Parent()->HandleAllocated()) {
        return;
    }
    if ((controlStyle_ & csOpaque) != 0) {
        WindowDc dc(Parent()->Handle());
        ::SetViewportOrgEx(dc.get(), Left(), Top(), nullptr);
        ::IntersectClipRect(dc.get(), 0, 0, Width(), Height());
        PaintOn(dc.get());
    } else {
        Invalidate();
        ::UpdateWindow(Parent()->Handle());
    }
}

void TGraphicControl::PaintOn(HDC dc) {
    PaintThroughCanvas(*this, canvas_, dc, [this] { Paint(); });
}

// =============================================================================================
// TWinControl

TWinControl::TWinControl(TComponent* owner) : TControl(owner), controlId_(nextControlId++) {}

TWinControl::~TWinControl() {
    DestroyComponents();
    for (TControl* child : controls_) {
        child->parent_ = nullptr;
    }
    controls_.clear();
    tabList_.clear();
    DestroyWnd();
}

TWinControl* TWinControl::FromHandle(HWND hwnd) {
    return hwnd == nullptr ? nullptr : static_cast<TWinControl*>(::GetPropA(hwnd, kControlProp));
}

HWND TWinControl::Handle() {
    if (handle_ == nullptr) {
        if (Parent() != nullptr && !Parent()->HandleAllocated()) {
            Parent()->Handle();  // makes the windows of its children too
        }
        if (handle_ == nullptr) {
            CreateWnd();
        }
    }
    return handle_;
}

void TWinControl::CreateParams(TCreateParams& params) {
    params.className = kControlClass;
    params.style = WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    params.exStyle = WS_EX_CONTROLPARENT;
    if (Visible()) {
        params.style |= WS_VISIBLE;
    }
    if (!Enabled()) {
        params.style |= WS_DISABLED;
    }
    if (tabStop_) {
        params.style |= WS_TABSTOP;
    }
    params.position = {Left(), Top()};
    params.size = {Width(), WindowHeight()};
    params.parent = Parent() != nullptr ? Parent()->handle_ : nullptr;
}

void TWinControl::CreateWnd() {
    RegisterWindowClasses();
    TCreateParams params;
    CreateParams(params);
    if ((params.style & WS_CHILD) != 0 && params.parent == nullptr) {
        throw EInvalidOperation(Format("Control '%s' has no parent window", Name().c_str()));
    }
    const bool ownClass = params.className == kControlClass || params.className == kFormClass;
    creating_ = true;
    HWND hwnd = ::CreateWindowExA(
        params.exStyle, params.className.c_str(), TControl::Text().c_str(), params.style, params.position.x,
        params.position.y, params.size.cx, params.size.cy, params.parent,
        (params.style & WS_CHILD) != 0 ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(controlId_)) : nullptr,
        ::GetModuleHandleA(nullptr), ownClass ? this : nullptr);
    creating_ = false;
    if (hwnd == nullptr) {
        throw EOutOfMemory(Format("Cannot create window for %s", Name().c_str()));
    }
    if (!ownClass) {
        handle_ = hwnd;
        ::SetPropA(hwnd, kControlProp, this);
        originalProc_ = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TandrelSubclassProc)));
        UpdateFont();
    }
    for (TControl* child : controls_) {
        if (auto* window = dynamic_cast<TWinControl*>(child);
            window != nullptr && !window->HandleAllocated()) {
            window->CreateWnd();
        }
    }
    ApplyTabOrder();
    AlignControls();
}

void TWinControl::DestroyWnd() {
    if (handle_ != nullptr) {
        ::DestroyWindow(handle_);  // WM_NCDESTROY detaches the window from this control
        handle_ = nullptr;
    }
}

LRESULT TWinControl::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCDESTROY) {
        HWND hwnd = handle_;
        WNDPROC original = originalProc_;
        ::RemovePropA(hwnd, kControlProp);
        handle_ = nullptr;
        originalProc_ = nullptr;
        if (original != nullptr) {
            ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
            return ::CallWindowProcA(original, hwnd, message, wParam, lParam);
        }
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return WndProc(message, wParam, lParam);
}

LRESULT TWinControl::DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam) {
    if (originalProc_ != nullptr) {
        return ::CallWindowProcA(originalProc_, handle_, message, wParam, lParam);
    }
    return ::DefWindowProcA(handle_, message, wParam, lParam);
}

TWinControl* TWinControl::ChildById(UINT id) const {
    for (TControl* child : controls_) {
        if (auto* window = dynamic_cast<TWinControl*>(child); window != nullptr && window->controlId_ == id) {
            return window;
        }
    }
    return nullptr;
}

LRESULT TWinControl::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam));
                child != nullptr && child != this) {
                child->CommandNotify(HIWORD(wParam));
                return 0;
            }
            break;
        case WM_DRAWITEM: {
            auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
            if (TWinControl* child = FromHandle(draw->hwndItem); child != nullptr && child != this) {
                child->DrawItemNotify(*draw);
                return TRUE;
            }
            break;
        }
        case WM_MEASUREITEM: {
            auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
            if (TWinControl* child = ChildById(measure->CtlID)) {
                child->MeasureItemNotify(*measure);
                return TRUE;
            }
            break;
        }
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
            if (TWinControl* child = FromHandle(reinterpret_cast<HWND>(lParam));
                child != nullptr && child != this) {
                if (HBRUSH brush = child->ControlColorBrush(reinterpret_cast<HDC>(wParam))) {
                    return reinterpret_cast<LRESULT>(brush);
                }
            }
            break;
        case WM_GETOBJECT:
            if (const LRESULT object = AnswerAccessibleObject(*this, IsSystemClass(), wParam, lParam)) {
                return object;
            }
            break;
        case WM_GETDLGCODE:
            if (IsSystemClass()) {
                LRESULT code = DefaultHandler(message, wParam, lParam);
                const auto* keyMessage = reinterpret_cast<const MSG*>(lParam);
                if (keyMessage != nullptr && keyMessage->message == WM_KEYDOWN &&
                    WantsKey(keyMessage->wParam)) {
                    code |= DLGC_WANTMESSAGE;
                }
                return code;
            }
            break;
        case WM_PAINT:
            if (!IsSystemClass()) {
                PaintMessage();
                return 0;
            }
            break;
        case WM_ERASEBKGND:
            if (!IsSystemClass()) {
                return 1;  // WM_PAINT paints the background off-screen together with everything else
            }
            break;
        case WM_SIZE:
            if (!IsSystemClass()) {
                AlignControls();
            }
            break;
        default:
            break;
    }
    return DefaultHandler(message, wParam, lParam);
}

void TWinControl::PaintMessage() {
    PaintDc paint(handle_);
    const RECT area = paint.Area();
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) {
        return;
    }
    UniqueMemDc memory(::CreateCompatibleDC(paint.get()));
    UniqueBitmap picture(::CreateCompatibleBitmap(paint.get(), width, height));
    if (!memory || !picture) {
        PaintWindow(paint.get());  // no memory for the off-screen copy: paint directly
        return;
    }
    {
        SelectGuard select(memory.get(), picture.get());
        ::SetViewportOrgEx(memory.get(), -area.left, -area.top, nullptr);
        PaintWindow(memory.get());
        ::BitBlt(paint.get(), area.left, area.top, width, height, memory.get(), area.left, area.top, SRCCOPY);
    }
}

void TWinControl::PaintWindow(HDC dc) {
    RECT client{};
    ::GetClientRect(handle_, &client);
    {
        UniqueBrush background(::CreateSolidBrush(ColorToRGB(Color())));
        ::FillRect(dc, &client, background.get());
    }
    {
        SavedDc saved(dc);
        PaintSelf(dc);
    }
    RECT clip{};
    ::GetClipBox(dc, &clip);
    for (TControl* child : controls_) {
        auto* graphic = dynamic_cast<TGraphicControl*>(child);
        if (graphic == nullptr || !graphic->Visible() || !Intersects(graphic->BoundsRect(), clip)) {
            continue;
        }
        SavedDc saved(dc);
        POINT origin{};
        ::GetViewportOrgEx(dc, &origin);
        ::SetViewportOrgEx(dc, origin.x + graphic->Left(), origin.y + graphic->Top(), nullptr);
        ::IntersectClipRect(dc, 0, 0, graphic->Width(), graphic->Height());
        graphic->PaintOn(dc);
    }
}

HBRUSH TWinControl::ControlColorBrush(HDC dc) {
    ::SetBkColor(dc, ColorToRGB(Color()));
    ::SetTextColor(dc, ColorToRGB(Font().Color()));
    if (!colorBrush_) {
        colorBrush_.reset(::CreateSolidBrush(ColorToRGB(Color())));
    }
    return colorBrush_.get();
}

void TWinControl::UpdateFont() {
    if (handle_ != nullptr && IsSystemClass()) {
        ::SendMessageA(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), TRUE);
    }
}

void TWinControl::InsertControl(TControl* control) {
    controls_.push_back(control);
    if (auto* window = dynamic_cast<TWinControl*>(control)) {
        tabList_.push_back(window);
        if (handle_ != nullptr && !window->HandleAllocated()) {
            window->CreateWnd();
            ApplyTabOrder();
        }
    }
}

void TWinControl::RemoveControl(TControl* control) {
    controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
    tabList_.erase(std::remove(tabList_.begin(), tabList_.end(), control), tabList_.end());
}

int TWinControl::TabOrder() const {
    if (Parent() == nullptr) {
        return -1;
    }
    const auto& list = Parent()->tabList_;
    const auto found = std::find(list.begin(), list.end(), this);
    return found == list.end() ? -1 : static_cast<int>(found - list.begin());
}

void TWinControl::SetTabOrder(int order) {
    if (Parent() == nullptr) {
        return;
    }
    auto& list = Parent()->tabList_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    const size_t position = order < 0 ? list.size() : std::min(static_cast<size_t>(order), list.size());
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(position), this);
    Parent()->ApplyTabOrder();
}

void TWinControl::ApplyTabOrder() {
    HWND after = HWND_TOP;
    for (TWinControl* child : tabList_) {
        if (child->handle_ != nullptr) {
            ::SetWindowPos(child->handle_, after, 0, 0, 0, 0,
                           SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
            after = child->handle_;
        }
    }
}

bool TWinControl::CanFocus() const {
    for (const TControl* control = this; control != nullptr; control = control->Parent()) {
        if (!control->Visible() || !control->Enabled()) {
            return false;
        }
    }
    return Showing();
}

void TWinControl::SetFocus() {
    ::SetFocus(Handle());
}

bool TWinControl::Focused() const {
    return handle_ != nullptr && ::GetFocus() == handle_;
}

bool TWinControl::WantsKey(WPARAM) const {
    return false;
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    TControl::SetBounds(left, top, width, height);
}

void TWinControl::BoundsChanged(const RECT&) {
    if (handle_ != nullptr) {
        ::SetWindowPos(handle_, nullptr, Left(), Top(), Width(), WindowHeight(),
                       SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    }
    AlignControls();
}

RECT TWinControl::ClientRect() const {
    if (handle_ != nullptr) {
        RECT client{};
        ::GetClientRect(handle_, &client);
        return client;
    }
    return TControl::ClientRect();
}

void TWinControl::AlignControls() {
    RECT rest = ClientRect();
    for (TControl* child : controls_) {
        switch (child->Align()) {
            case TAlign::alNone:
                break;
            case TAlign::alTop:
                child->SetBounds(rest.left, rest.top, rest.right - rest.left, child->Height());
                rest.top += child->Height();
                break;
            case TAlign::alBottom:
                child->SetBounds(rest.left, rest.bottom - child->Height(), rest.right - rest.left,
                                 child->Height());
                rest.bottom -= child->Height();
                break;
            case TAlign::alLeft:
                child->SetBounds(rest.left, rest.top, child->Width(), rest.bottom - rest.top);
                rest.left += child->Width();
                break;
            case TAlign::alRight:
                child->SetBounds(rest.right - child->Width(), rest.top, child->Width(),
                                 rest.bottom - rest.top);
                rest.right -= child->Width();
                break;
            case TAlign::alClient:
                child->SetBounds(rest.left, rest.top, rest.right - rest.left, rest.bottom - rest.top);
                break;
        }
    }
}

void TWinControl::Invalidate() {
    if (handle_ != nullptr) {
        ::InvalidateRect(handle_, nullptr, FALSE);
    }
}

void TWinControl::Repaint() {
    if (handle_ != nullptr) {
        ::InvalidateRect(handle_, nullptr, FALSE);
        ::UpdateWindow(handle_);
    }
}

void TWinControl::SetEnabled(bool enabled) {
    TControl::SetEnabled(enabled);
    if (handle_ != nullptr) {
        ::EnableWindow(handle_, enabled ? TRUE : FALSE);
    }
}

long TWinControl::AccessibleRole() const {
    return ROLE_SYSTEM_CLIENT;
}

std::string TWinControl::Text() const {
    if (handle_ == nullptr) {
        return TControl::Text();
    }
    const int length = ::GetWindowTextLengthA(handle_);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int got = ::GetWindowTextA(handle_, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
}

void TWinControl::TextChanged() {
    if (handle_ != nullptr) {
        ::SetWindowTextA(handle_, TControl::Text().c_str());
    }
    Invalidate();
}

void TWinControl::FontChanged() {
    UpdateFont();
    Invalidate();
}

void TWinControl::ColorChanged() {
    colorBrush_.reset();
    Invalidate();
}

void TWinControl::VisibleChanged() {
    if (handle_ != nullptr) {
        ::ShowWindow(handle_, Visible() ? SW_SHOWNA : SW_HIDE);
    }
    if (TWinControl* form = ParentFormWindow(); form != nullptr && form != this) {
        form->ControlShownOrHidden();
    }
}

namespace {

constexpr TPublishedProperty<TWinControl> kWinControlProperties[] = {
    {"TabOrder", Setter<&TWinControl::SetTabOrder, ReadInteger>},
    {"TabStop", Setter<&TWinControl::SetTabStop, ReadBoolean>},
};

}  // namespace

bool TWinControl::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    return SetPublished(*this, kWinControlProperties, name, value, context) ||
           TControl::SetProperty(name, value, context);
}

// =============================================================================================
// TCustomControl

TCustomControl::TCustomControl(TComponent* owner) : TWinControl(owner) {}

void TCustomControl::PaintSelf(HDC dc) {
    PaintThroughCanvas(*this, canvas_, dc, [this] { Paint(); });
}
