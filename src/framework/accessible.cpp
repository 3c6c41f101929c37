#include "framework/accessible.h"

#include <windows.h>

#include <oleacc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "framework/controls.h"
#include "lifecycle/safe_library.h"

namespace {

// ---- The accessibility library, loaded at the first request -----------------------------------
//
// Interface identifiers come from __uuidof: MinGW's oleacc import library has no data symbol
// IID_IAccessible (the name links to a thunk's bytes).

struct AccessibilityLibrary {
    decltype(&::LresultFromObject) resultFromObject = nullptr;
    decltype(&::CreateStdAccessibleObject) createStandardObject = nullptr;
    decltype(&::AccessibleObjectFromWindow) objectFromWindow = nullptr;
    bool Loaded() const { return resultFromObject != nullptr && createStandardObject != nullptr; }
};

template <typename Function>
Function LibraryFunction(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

// Stays loaded for the rest of the process: objects handed out may be used until it ends.
const AccessibilityLibrary& Accessibility() {
    static const AccessibilityLibrary library = [] {
        AccessibilityLibrary functions;
        if (const HMODULE oleacc = LoadSystemLibrary("oleacc.dll")) {
            functions.resultFromObject =
                LibraryFunction<decltype(&::LresultFromObject)>(oleacc, "LresultFromObject");
            functions.createStandardObject =
                LibraryFunction<decltype(&::CreateStdAccessibleObject)>(oleacc, "CreateStdAccessibleObject");
            functions.objectFromWindow = LibraryFunction<decltype(&::AccessibleObjectFromWindow)>(
                oleacc, "AccessibleObjectFromWindow");
        }
        return functions;
    }();
    return library;
}

// ---- Text and variants ------------------------------------------------------------------------

// The program's texts are in the ANSI code page; the accessibility layer speaks UTF-16.
std::wstring ToWide(const std::string& text) {
    const int length =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    }
    return wide;
}

// A text answer: S_FALSE and no string when there is nothing to say.
HRESULT WideAnswer(const std::wstring& text, BSTR* out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (text.empty()) {
        return S_FALSE;
    }
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT TextAnswer(const std::string& text, BSTR* out) {
    return WideAnswer(ToWide(text), out);
}

// A label's text as read: the "&" of an accelerator is not spoken ("&&" stands for one "&").
std::string WithoutAccelerator(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
        }
        result += text[i];
    }
    return result;
}

bool ChildIdOf(const VARIANT& child, long& id) {
    if (child.vt != VT_I4) {
        return false;
    }
    id = child.lVal;
    return true;
}

// ---- What a container shows ------------------------------------------------------------------

bool Overlap(const RECT& a, const RECT& b) {
    RECT common;
    return ::IntersectRect(&common, &a, &b) != FALSE;
}

bool IsWindowed(const TControl& control) {
    return dynamic_cast<const TWinControl*>(&control) != nullptr;
}

// A label whose text another label before it in painting order already shows at an overlapping
// place: the drop shadow of a heading, read once.
bool RepeatsLabelUnder(const TWinControl& parent, int index) {
    const TControl& control = *parent.Controls(index);
    for (int i = 0; i < index; ++i) {
        const TControl& under = *parent.Controls(i);
        if (under.Visible() && under.AccessibleRole() == ROLE_SYSTEM_STATICTEXT &&
            under.AccessibleName() == control.AccessibleName() &&
            Overlap(under.BoundsRect(), control.BoundsRect())) {
            return true;
        }
    }
    return false;
}

// The controls of parent that its accessible object shows, in reading order.
std::vector<TControl*> AccessibleChildren(const TWinControl& parent) {
    std::vector<TControl*> children;
    for (int i = 0; i < parent.ControlCount(); ++i) {
        TControl* control = parent.Controls(i);
        if (!control->Visible()) {
            continue;
        }
        if (IsWindowed(*control)) {
            if (static_cast<TWinControl*>(control)->HandleAllocated()) {
                children.push_back(control);
            }
            continue;
        }
        const long role = control->AccessibleRole();
        if (role == 0 || (role == ROLE_SYSTEM_STATICTEXT &&
                          (control->AccessibleName().empty() || RepeatsLabelUnder(parent, i)))) {
            continue;
        }
        children.push_back(control);
    }
    // Top to bottom, then left to right; a group of controls of its own (a panel) after the
    // container's own texts and controls, so that a heading beside a panel is read first.
    const auto key = [](const TControl* control) {
        const bool group = IsWindowed(*control) && control->AccessibleRole() == ROLE_SYSTEM_PANE;
        return std::tuple(group, control->Top(), control->Left());
    };
    std::stable_sort(children.begin(), children.end(),
                     [&](const TControl* a, const TControl* b) { return key(a) < key(b); });
    return children;
}

RECT ScreenRect(HWND window, RECT rect) {
    ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// ---- The objects --------------------------------------------------------------------------------

// IUnknown and IDispatch (without type information, as the system's own objects of this kind) of
// an accessible object that names one window; it holds the window's handle, never the control, so
// that a client that keeps it after the window has gone gets an error, not a dangling pointer.
class AccessibleBase : public IAccessible {
  public:
    explicit AccessibleBase(HWND window) : window_(window) {}
    virtual ~AccessibleBase() = default;
    AccessibleBase(const AccessibleBase&) = delete;
    AccessibleBase& operator=(const AccessibleBase&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

  protected:
    // The control of the window; nullptr once it has gone.
    TWinControl* Control() const { return ::IsWindow(window_) ? TWinControl::FromHandle(window_) : nullptr; }
    HWND Window() const { return window_; }

  private:
    HWND window_;
    std::atomic<ULONG> references_{1};
};

// The system's object of a window (the frame around the client area); parent of a client object.
HRESULT WindowObject(HWND window, IDispatch** out) {
    *out = nullptr;
    const auto objectFromWindow = Accessibility().objectFromWindow;
    if (objectFromWindow == nullptr) {
        return E_FAIL;
    }
    return objectFromWindow(window, static_cast<DWORD>(OBJID_WINDOW), __uuidof(IDispatch),
                            reinterpret_cast<void**>(out));
}

// The client area of a window of the framework's own classes, with its graphic controls as simple
// elements and its child windows as the system's objects of those windows.
class ClientObject final : public AccessibleBase {
  public:
    using AccessibleBase::AccessibleBase;

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (parent == nullptr) {
            return E_POINTER;
        }
        return Control() != nullptr ? WindowObject(Window(), parent) : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        const TWinControl* control = Control();
        *count = control != nullptr ? static_cast<long>(AccessibleChildren(*control).size()) : 0;
        return control != nullptr ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        TControl* control = nullptr;
        if (const HRESULT found = Find(child, control); found != S_OK || control == nullptr) {
            return found != S_OK ? found : E_INVALIDARG;
        }
        if (IsWindowed(*control)) {
            return WindowObject(static_cast<TWinControl*>(control)->Handle(), out);
        }
        return S_FALSE;  // a simple element: asked through this object with its number
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        TControl* control = nullptr;
        if (const HRESULT found = Find(child, control); found != S_OK) {
            return found;
        }
        return TextAnswer(WithoutAccelerator(control->AccessibleName()), name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        TControl* control = nullptr;
        if (const HRESULT found = Find(child, control); found != S_OK) {
            return found;
        }
        return TextAnswer(control->AccessibleValue(), value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT, BSTR* out) override { return TextAnswer({}, out); }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        TControl* control = nullptr;
        const HRESULT found = role != nullptr ? Find(child, control) : E_POINTER;
        return found != S_OK ? found : NumberAnswer(control->AccessibleRole(), role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        TControl* control = nullptr;
        const HRESULT found = state != nullptr ? Find(child, control) : E_POINTER;
        return found != S_OK ? found : NumberAnswer(StateOf(*control), state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT, BSTR* out) override { return TextAnswer({}, out); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (file != nullptr) {
            *file = nullptr;
        }
        if (topic != nullptr) {
            *topic = 0;
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT, BSTR* out) override {
        return TextAnswer({}, out);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (focus == nullptr) {
            return E_POINTER;
        }
        focus->vt = VT_EMPTY;
        const HWND focused = ::GetFocus();
        if (focused == Window()) {
            focus->vt = VT_I4;
            focus->lVal = CHILDID_SELF;
        } else if (focused != nullptr && ::GetParent(focused) == Window()) {
            IDispatch* object = nullptr;
            if (WindowObject(focused, &object) == S_OK) {
                focus->vt = VT_DISPATCH;
                focus->pdispVal = object;
            }
        }
        return focus->vt == VT_EMPTY ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (selection == nullptr) {
            return E_POINTER;
        }
        selection->vt = VT_EMPTY;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT, BSTR* out) override {
        return TextAnswer({}, out);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT) override { return DISP_E_MEMBERNOTFOUND; }
    HRESULT STDMETHODCALLTYPE
    accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
            return E_POINTER;
        }
        TControl* control = nullptr;
        if (const HRESULT found = Find(child, control); found != S_OK) {
            return found;
        }
        RECT rect{};
        if (control == Control()) {
            ::GetClientRect(Window(), &rect);
        } else {
            rect = control->BoundsRect();
        }
        rect = ScreenRect(Window(), rect);
        *left = rect.left;
        *top = rect.top;
        *width = rect.right - rect.left;
        *height = rect.bottom - rect.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        const TWinControl* control = nullptr;
        if (const HRESULT ready = PrepareAnswer(end, control); ready != S_OK) {
            return ready;
        }
        long from = 0;
        if (!ChildIdOf(start, from)) {
            return E_INVALIDARG;
        }
        const long count = static_cast<long>(AccessibleChildren(*control).size());
        long to = 0;
        if (from == CHILDID_SELF && direction == NAVDIR_FIRSTCHILD) {
            to = 1;
        } else if (from == CHILDID_SELF && direction == NAVDIR_LASTCHILD) {
            to = count;
        } else if (from != CHILDID_SELF && (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN)) {
            to = from + 1;
        } else if (from != CHILDID_SELF && (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP)) {
            to = from - 1;
        }
        if (to < 1 || to > count) {
            return S_FALSE;
        }
        *end = ChildAnswer(to);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override {
        const TWinControl* control = nullptr;
        if (const HRESULT ready = PrepareAnswer(hit, control); ready != S_OK) {
            return ready;
        }
        POINT point{x, y};
        ::ScreenToClient(Window(), &point);
        RECT client{};
        ::GetClientRect(Window(), &client);
        if (::PtInRect(&client, point) == FALSE) {
            return S_FALSE;
        }
        const std::vector<TControl*> children = AccessibleChildren(*control);
        // Windowed children lie above the graphic ones; among graphic ones the last painted is on top.
        for (size_t i = children.size(); i-- > 0;) {
            const RECT bounds = children[i]->BoundsRect();
            if (::PtInRect(&bounds, point) != FALSE) {
                *hit = ChildAnswer(static_cast<long>(i + 1));
                return S_OK;
            }
        }
        hit->vt = VT_I4;
        hit->lVal = CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT) override { return DISP_E_MEMBERNOTFOUND; }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  private:
    static HRESULT NumberAnswer(long number, VARIANT* out) {
        out->vt = VT_I4;
        out->lVal = number;
        return S_OK;
    }

    // The window's own state, or a graphic child's (read-only text or progress).
    long StateOf(const TControl& control) const {
        long flags = 0;
        if (!control.Showing()) {
            flags |= STATE_SYSTEM_INVISIBLE;
        }
        if (!control.Enabled()) {
            flags |= STATE_SYSTEM_UNAVAILABLE;
        }
        if (&control != Control()) {
            flags |= STATE_SYSTEM_READONLY;
        } else if (::GetFocus() == Window()) {
            flags |= STATE_SYSTEM_FOCUSED;
        }
        return flags;
    }

    // Empties the variant of an answer and finds the control: E_POINTER without a variant, E_FAIL
    // once the window has gone.
    HRESULT PrepareAnswer(VARIANT* answer, const TWinControl*& control) const {
        if (answer == nullptr) {
            return E_POINTER;
        }
        answer->vt = VT_EMPTY;
        control = Control();
        return control != nullptr ? S_OK : E_FAIL;
    }

    // Child number id as navigation and hit testing answer it: the object of a child window, the
    // number of a simple element.
    VARIANT ChildAnswer(long id) {
        VARIANT answer{};
        answer.vt = VT_I4;
        answer.lVal = id;
        IDispatch* object = nullptr;
        if (get_accChild(answer, &object) == S_OK && object != nullptr) {
            answer.vt = VT_DISPATCH;
            answer.pdispVal = object;
        }
        return answer;
    }

    // The control that child names: the window's own for CHILDID_SELF, else the child of that
    // number. S_OK, E_INVALIDARG for a number out of range, E_FAIL once the window has gone.
    HRESULT Find(const VARIANT& child, TControl*& found) const {
        TWinControl* control = Control();
        if (control == nullptr) {
            return E_FAIL;
        }
        long id = 0;
        if (!ChildIdOf(child, id)) {
            return E_INVALIDARG;
        }
        if (id == CHILDID_SELF) {
            found = control;
            return S_OK;
        }
        const std::vector<TControl*> children = AccessibleChildren(*control);
        if (id < 1 || id > static_cast<long>(children.size())) {
            return E_INVALIDARG;
        }
        found = children[static_cast<size_t>(id - 1)];
        return S_OK;
    }
};

// The messages that read the rows of a list box or a combo box window: their count, a row's text
// (its length first) and the selected row.
struct RowMessages {
    UINT count;
    UINT textLength;
    UINT text;
    UINT selected;
};

// The row messages of window when it is a list box or a combo box (their strings are kept even
// when their owner draws them), else nothing.
std::optional<RowMessages> RowMessagesOf(HWND window) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (::lstrcmpiW(name, L"ListBox") == 0) {
        return RowMessages{LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT, LB_GETCURSEL};
    }
    if (::lstrcmpiW(name, L"ComboBox") == 0) {
        return RowMessages{CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT, CB_GETCURSEL};
    }
    return std::nullopt;
}

// The text of row index (0-based), wide as the window holds it; nothing when there is no such row.
std::optional<std::wstring> RowText(HWND window, const RowMessages& messages, long index) {
    const LRESULT length = ::SendMessageW(window, messages.textLength, static_cast<WPARAM>(index), 0);
    if (length < 0) {
        return std::nullopt;
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied = ::SendMessageW(window, messages.text, static_cast<WPARAM>(index),
                                          reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied < 0 ? 0 : std::min(static_cast<size_t>(copied), text.size() - 1));
    return text;
}

// The system's standard object of an edit box or a list, with the name of the label above it. A
// list box or a combo box also answers for its rows itself, as simple list items with their texts,
// and with the selected row's text as its value, whatever the system's object knows of them.
class LabelledObject final : public AccessibleBase {
  public:
    LabelledObject(HWND window, IAccessible* standard)
        : AccessibleBase(window), standard_(standard), rows_(RowMessagesOf(window)) {}
    ~LabelledObject() override { standard_->Release(); }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        long id = 0;
        if (rows_ && ChildIdOf(child, id) && id != CHILDID_SELF) {
            const std::optional<std::wstring> text = Row(id);
            return text ? WideAnswer(*text, name) : E_INVALIDARG;
        }
        if (ChildIdOf(child, id) && id == CHILDID_SELF) {
            const TWinControl* control = Control();
            if (control == nullptr) {
                return E_FAIL;
            }
            if (const TControl* label = LabelAbove(*control)) {
                return TextAnswer(WithoutAccelerator(label->AccessibleName()), name);
            }
        }
        return standard_->get_accName(child, name);
    }

    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!rows_) {
            return standard_->get_accChildCount(count);
        }
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = RowCount();
        return S_OK;
    }
    // The rows are simple elements: no object of their own.
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        long id = 0;
        if (!rows_ || !ChildIdOf(child, id) || id == CHILDID_SELF) {
            return standard_->get_accChild(child, object);
        }
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        return id >= 1 && id <= RowCount() ? S_FALSE : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        long id = 0;
        if (!rows_ || !ChildIdOf(child, id)) {
            return standard_->get_accValue(child, value);
        }
        if (id != CHILDID_SELF) {
            return Row(id) ? TextAnswer("", value) : E_INVALIDARG;
        }
        const LRESULT selected = ::SendMessageW(Window(), rows_->selected, 0, 0);
        const std::optional<std::wstring> text =
            selected >= 0 ? Row(static_cast<long>(selected) + 1) : std::nullopt;
        return WideAnswer(text.value_or(std::wstring()), value);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (const std::optional<long> id = RowChild(child)) {
            return NumberAnswer(*id, ROLE_SYSTEM_LISTITEM, role);
        }
        return standard_->get_accRole(child, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (const std::optional<long> id = RowChild(child)) {
            const bool selected = ::SendMessageW(Window(), rows_->selected, 0, 0) == *id - 1;
            return NumberAnswer(*id,
                                STATE_SYSTEM_SELECTABLE | STATE_SYSTEM_FOCUSABLE |
                                    (selected ? STATE_SYSTEM_SELECTED | STATE_SYSTEM_FOCUSED : 0),
                                state);
        }
        return standard_->get_accState(child, state);
    }

    // Everything else as the standard object answers it.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** p) override { return standard_->get_accParent(p); }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT v, BSTR* s) override {
        return standard_->get_accDescription(v, s);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT v, BSTR* s) override {
        return standard_->get_accHelp(v, s);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* f, VARIANT v, long* t) override {
        return standard_->get_accHelpTopic(f, v, t);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT v, BSTR* s) override {
        return standard_->get_accKeyboardShortcut(v, s);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* v) override { return standard_->get_accFocus(v); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* v) override { return standard_->get_accSelection(v); }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT v, BSTR* s) override {
        return standard_->get_accDefaultAction(v, s);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long f, VARIANT v) override { return standard_->accSelect(f, v); }
    HRESULT STDMETHODCALLTYPE accLocation(long* l, long* t, long* w, long* h, VARIANT v) override {
        return standard_->accLocation(l, t, w, h, v);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long d, VARIANT s, VARIANT* e) override {
        return standard_->accNavigate(d, s, e);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* v) override {
        return standard_->accHitTest(x, y, v);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT v) override {
        return standard_->accDoDefaultAction(v);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT v, BSTR s) override { return standard_->put_accName(v, s); }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT v, BSTR s) override {
        return standard_->put_accValue(v, s);
    }

  private:
    // The row that child names when the question is about one: nothing for the list itself, or
    // for a window without rows, which the standard object answers.
    std::optional<long> RowChild(const VARIANT& child) const {
        long id = 0;
        if (!rows_ || !ChildIdOf(child, id) || id == CHILDID_SELF) {
            return std::nullopt;
        }
        return id;
    }
    // A number answered for row id.
    HRESULT NumberAnswer(long id, long number, VARIANT* out) const {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (!Row(id)) {
            return E_INVALIDARG;
        }
        out->vt = VT_I4;
        out->lVal = number;
        return S_OK;
    }
    long RowCount() const {
        const LRESULT count = ::SendMessageW(Window(), rows_->count, 0, 0);
        return count > 0 ? static_cast<long>(count) : 0;
    }
    // The text of row id (1 for the first), or nothing when there is no such row.
    std::optional<std::wstring> Row(long id) const {
        if (id < 1 || id > RowCount()) {
            return std::nullopt;
        }
        return RowText(Window(), *rows_, id - 1);
    }

    IAccessible* standard_;
    std::optional<RowMessages> rows_;
};

// Whether the objects handed out by this thread are served from a single-threaded apartment that
// stays for the thread's life: joined at the first request (or counted once more when the thread
// is in one already) and never left. A reader's calls then come through this thread's message loop
// between the program's changes to its controls, and an object kept after its window has gone
// still answers, with an error. Without a reference of its own, an apartment that the input
// method's support joined for the thread's windows goes with the last of them, and the objects
// handed out with it: a reader's later calls fail with an unknown interface, or go unanswered. A
// thread in the multithreaded apartment hands out nothing, since its objects would be called on
// COM's threads; the reader falls back on the system's object of the window.
bool ServesFromOwnApartment() {
    static DWORD joined = 0;  // the windows of these programs all live on one thread
    const DWORD thread = ::GetCurrentThreadId();
    if (joined == thread) {
        return true;
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return false;
    }
    joined = thread;
    return true;
}

// Hands object to the client that sent WM_GETOBJECT; the client's reference is the only one left.
LRESULT HandOver(AccessibleBase* object, WPARAM wParam) {
    const LRESULT result = Accessibility().resultFromObject(__uuidof(IAccessible), wParam, object);
    object->Release();
    return result < 0 ? 0 : result;
}

}  // namespace

LRESULT AnswerAccessibleObject(TWinControl& control, bool systemClass, WPARAM wParam, LPARAM lParam) {
    if (static_cast<LONG>(lParam) != static_cast<LONG>(OBJID_CLIENT) || !control.HandleAllocated()) {
        return 0;
    }
    const AccessibilityLibrary& library = Accessibility();
    if (!library.Loaded() || !ServesFromOwnApartment()) {
        return 0;
    }
    const HWND window = control.Handle();
    if (!systemClass) {
        return HandOver(new ClientObject(window), wParam);
    }
    if (!control.NamedByLabel() || LabelAbove(control) == nullptr) {
        return 0;
    }
    IAccessible* standard = nullptr;
    if (FAILED(library.createStandardObject(window, OBJID_CLIENT, __uuidof(IAccessible),
                                            reinterpret_cast<void**>(&standard))) ||
        standard == nullptr) {
        return 0;
    }
    return HandOver(new LabelledObject(window, standard), wParam);
}

const TControl* LabelAbove(const TControl& control) {
    const TWinControl* parent = control.Parent();
    if (parent == nullptr) {
        return nullptr;
    }
    const TControl* best = nullptr;
    for (int i = 0; i < parent->ControlCount(); ++i) {
        const TControl* label = parent->Controls(i);
        if (label == &control || !label->Visible() || label->AccessibleRole() != ROLE_SYSTEM_STATICTEXT ||
            label->AccessibleName().empty()) {
            continue;
        }
        const bool above = label->Top() + label->Height() <= control.Top();
        const bool overlaps = label->Left() < control.Left() + control.Width() &&
                              control.Left() < label->Left() + label->Width();
        if (above && overlaps && (best == nullptr || label->Top() > best->Top())) {
            best = label;
        }
    }
    return best;
}

long AccessibleChildId(const TControl& control) {
    const TWinControl* parent = control.Parent();
    if (parent == nullptr) {
        return 0;
    }
    const std::vector<TControl*> children = AccessibleChildren(*parent);
    const auto found = std::find(children.begin(), children.end(), &control);
    return found == children.end() ? 0 : static_cast<long>(found - children.begin() + 1);
}

void NotifyAccessibleChange(const TControl& control, DWORD event) {
    TWinControl* parent = control.Parent();
    if (parent == nullptr || !parent->HandleAllocated() || !control.Showing()) {
        return;
    }
    if (const long id = AccessibleChildId(control); id != 0) {
        ::NotifyWinEvent(event, parent->Handle(), OBJID_CLIENT, id);
    }
}

bool HighContrastOn() {
    HIGHCONTRASTA contrast{};
    contrast.cbSize = sizeof(contrast);
    if (::SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) != FALSE &&
        (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0) {
        return true;
    }
    // Wine answers SPI_GETHIGHCONTRAST with "off" whatever the theme; the user's setting that the
    // system keeps (written when the theme is switched on), a number as text, says it too.
    char flags[16] = {};
    DWORD size = sizeof(flags);
    if (::RegGetValueA(HKEY_CURRENT_USER, "Control Panel\\Accessibility\\HighContrast", "Flags",
                       RRF_RT_REG_SZ, nullptr, flags, &size) != ERROR_SUCCESS) {
        return false;
    }
    return (std::strtoul(flags, nullptr, 10) & HCF_HIGHCONTRASTON) != 0;
}
