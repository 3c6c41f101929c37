// Controls: windowless graphic controls painted by their parent, and windowed controls (child
// windows) with their message handling.
//
// Painting order. A windowed parent paints, into one off-screen bitmap per paint, its background,
// its own Paint and then each visible graphic child in the order of its Controls list (the order
// of the layout), each with the device context's origin moved to the child's top left and clipped
// to its rectangle; the finished picture reaches the screen in one copy, so nothing flickers. A
// transparent control simply paints no background and shows what lies under it. Windowed children
// lie above every graphic control (the parent clips them out).
//
// Window handles are made when first needed (Handle(), showing a form); a parent's window is made
// before its children's. CreateWnd makes the window and then the windows of the children; classes
// that must act once their window exists override it and call the base first.
//
// Exceptions never cross the system's window procedure: an exception that leaves a message handler
// (an event, a paint) goes to the exception hook, which the application object sets to its general
// handler, and the message counts as handled.
//
// Controls know forms only as far as this file declares them: a control finds its form through
// AsForm and asks it what it needs through the form's overrides of TWinControl's virtual methods
// (ControlShownOrHidden, ModalResultChosen), so nothing here includes forms.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "framework/component.h"
#include "framework/events.h"
#include "framework/graphics.h"

class TWinControl;
class TForm;

// The answer to WM_GETOBJECT (wParam, lParam) of control's window, or 0 to leave the message to
// the window's default handling; systemClass: the window is of a system class (edit, list box,
// combo box) with a standard object of its own. The objects are those of framework/accessible.h,
// which defines this.
LRESULT AnswerAccessibleObject(TWinControl& control, bool systemClass, WPARAM wParam, LPARAM lParam);

// Receives an exception that left a message handler; anything not derived from std::exception
// arrives as Exception("Unknown error"). The application object installs its general handler when
// it is made; without a hook such an exception ends the program (std::terminate). Returns the hook
// installed before.
using TExceptionHook = void (*)(const std::exception& error);
TExceptionHook SetExceptionHook(TExceptionHook hook);

// Result codes of modal windows and message dialogs.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;
inline constexpr int mrAbort = 3;
inline constexpr int mrRetry = 4;
inline constexpr int mrIgnore = 5;
inline constexpr int mrYes = 6;
inline constexpr int mrNo = 7;
inline constexpr int mrAll = 8;

enum class TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };

// Control style flags.
using TControlStyle = uint32_t;
inline constexpr TControlStyle csOpaque = 1;      // repaints synchronously through the parent's DC
inline constexpr TControlStyle csFramed = 2;      // draws its own frame
inline constexpr TControlStyle csSetCaption = 4;  // the component name becomes the caption when read

class TControl : public TComponent {
  public:
    explicit TControl(TComponent* owner);
    ~TControl() override;
    const char* ClassName() const override { return "TControl"; }

    TWinControl* Parent() const { return parent_; }
    virtual void SetParent(TWinControl* parent);
    void SetParentComponent(TComponent* parent) override;
    // The form that this control lies on (itself for a form); nullptr when not on one.
    TForm* ParentForm() const;
    // The same form as a window, to ask it what TWinControl's form methods offer.
    TWinControl* ParentFormWindow() const;

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int left) { SetBounds(left, top_, width_, height_); }
    void SetTop(int top) { SetBounds(left_, top, width_, height_); }
    void SetWidth(int width) { SetBounds(left_, top_, width, height_); }
    void SetHeight(int height) { SetBounds(left_, top_, width_, height); }
    virtual void SetBounds(int left, int top, int width, int height);
    RECT BoundsRect() const { return RECT{left_, top_, left_ + width_, top_ + height_}; }
    virtual RECT ClientRect() const { return RECT{0, 0, width_, height_}; }
    int ClientWidth() const { return ClientRect().right; }
    int ClientHeight() const { return ClientRect().bottom; }

    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Visible, and every parent up to a top-level window visible too.
    bool Showing() const;
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool enabled);

    // Caption and Text are one value (a label's caption, an edit box's text, a form's title).
    virtual std::string Text() const { return text_; }
    void SetText(std::string_view text);
    std::string Caption() const { return Text(); }
    void SetCaption(std::string_view caption) { SetText(caption); }

    TColor Color() const { return color_; }
    void SetColor(TColor color);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool parentColor);

    // Changing the font through this reference turns ParentFont off, as setting it in a layout does.
    TFont& Font() { return font_; }
    const TFont& Font() const { return font_; }
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool parentFont);

    TAlign Align() const { return align_; }
    void SetAlign(TAlign align);
    TControlStyle ControlStyle() const { return controlStyle_; }
    void SetControlStyle(TControlStyle style) { controlStyle_ = style; }
    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }

    TNotifyEvent OnClick;
    // Fires OnClick. Windowed controls call it when clicked; derived classes add to it.
    virtual void Click();

    // What assistive technology reads of the control (framework/accessible.h): its role (a
    // ROLE_SYSTEM_* value of the accessibility layer; 0 for decoration, passed over), its name and
    // its value.
    virtual long AccessibleRole() const { return 0; }
    virtual std::string AccessibleName() const { return Text(); }
    virtual std::string AccessibleValue() const { return {}; }

    // Asks for a repaint of the control's area at the next paint.
    virtual void Invalidate();
    // Repaints now: an opaque graphic control paints itself through its parent's device context;
    // others invalidate and update the parent. Nothing happens while the control is not showing.
    virtual void Repaint();
    void Refresh() { Repaint(); }

    // Published: Name, Left, Top, Width, Height, Caption, Text, Visible, Enabled, Color,
    // ParentColor, Font.Name/Height/Size/Style/Color/Charset, ParentFont, Align, Tag, OnClick.
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

  protected:
    // A form answers itself (TForm overrides this); every other control nullptr.
    virtual TForm* AsForm() const { return nullptr; }

    // Hooks for derived classes, called after the value has changed.
    virtual void TextChanged() { Invalidate(); }
    virtual void FontChanged() { Invalidate(); }
    virtual void ColorChanged() { Invalidate(); }
    virtual void VisibleChanged();
    virtual void EnabledChanged() { Invalidate(); }
    virtual void BoundsChanged(const RECT& previous);

    // The parent's font or colour changed (passed on to children that follow their parent).
    void ParentFontChanged();
    void ParentColorChanged();

    TControlStyle controlStyle_ = 0;

    // Takes bounds that the window system has already applied (a top-level window moved or
    // resized by the user or maximised), without moving the window again.
    void UpdateBoundsFromWindow(int left, int top, int width, int height) {
        left_ = left;
        top_ = top;
        width_ = width;
        height_ = height;
    }

  private:
    friend class TWinControl;
    void FontPropertyChanged();
    // Calls changed on each child whose follows flag (parentColor_ or parentFont_) is set.
    void NotifyFollowingChildren(bool TControl::*follows, void (TControl::*changed)());

    TWinControl* parent_ = nullptr;
    int left_ = 0;
    int top_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool visible_ = true;
    bool enabled_ = true;
    std::string text_;
    TColor color_ = clBtnFace;
    bool parentColor_ = false;
    TFont font_;
    bool parentFont_ = true;
    bool updatingFont_ = false;
    TAlign align_ = TAlign::alNone;
    int tag_ = 0;
};

// A control without a window: its parent paints it (see the top of this file).
class TGraphicControl : public TControl {
  public:
    explicit TGraphicControl(TComponent* owner);
    const char* ClassName() const override { return "TGraphicControl"; }

    // The canvas to paint on; valid only while Paint runs. Coordinates are the control's own.
    TCanvas* Canvas() { return canvas_; }

    void Invalidate() override;
    void Repaint() override;

    // Paints the control on dc, whose origin is the control's top left (called by the parent).
    void PaintOn(HDC dc);

  protected:
    virtual void Paint() {}

  private:
    TCanvas* canvas_ = nullptr;
};

// What CreateWnd passes to CreateWindowEx. A control of a system class (BUTTON, EDIT, LISTBOX,
// COMBOBOX) is subclassed so that its messages reach WndProc too.
struct TCreateParams {
    std::string className;
    DWORD style = 0;
    DWORD exStyle = 0;
    POINT position{};  // in the parent's client area
    SIZE size{};
    HWND parent = nullptr;
};

class TWinControl : public TControl {
  public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;
    const char* ClassName() const override { return "TWinControl"; }

    // The window; made (with the parent's) when it does not exist yet.
    HWND Handle();
    bool HandleAllocated() const { return handle_ != nullptr; }
    void HandleNeeded() { Handle(); }
    // The control whose window hwnd is (nullptr for windows that are not ours).
    static TWinControl* FromHandle(HWND hwnd);

    // The controls that lie on this one, in painting order.
    int ControlCount() const { return static_cast<int>(controls_.size()); }
    TControl* Controls(int index) const { return controls_.at(static_cast<size_t>(index)); }

    int TabOrder() const;
    void SetTabOrder(int order);
    bool TabStop() const { return tabStop_; }
    void SetTabStop(bool tabStop) { tabStop_ = tabStop; }
    bool CanFocus() const;
    void SetFocus();
    bool Focused() const;

    // Whether the control handles the key itself (Enter, Esc, Tab) instead of the form's default
    // and cancel buttons and the focus moves. A list that opens its row on Enter answers true.
    virtual bool WantsKey(WPARAM virtualKey) const;

    void SetBounds(int left, int top, int width, int height) override;
    RECT ClientRect() const override;
    void Invalidate() override;
    void Repaint() override;

    void SetEnabled(bool enabled) override;
    std::string Text() const override;
    // A window of the framework's own class is a client area to assistive technology.
    long AccessibleRole() const override;
    // A control without a caption of its own (an edit box, a list), named for assistive technology
    // after the label above it.
    virtual bool NamedByLabel() const { return false; }

    // Published: those of TControl and TabOrder, TabStop.
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

    // What the controls on a form ask of it, on their ParentFormWindow(). TForm overrides these;
    // other windows are never asked.
    // A control on the form was shown or hidden: the focus moves off a control that cannot take it.
    virtual void ControlShownOrHidden() {}
    // A button on the form with a modal result other than mrNone was clicked: the form's modal
    // loop ends with that result.
    virtual void ModalResultChosen(int /*result*/) {}

  protected:
    virtual void CreateParams(TCreateParams& params);
    // The height of the window for the control's Height (a combo box adds its drop-down list).
    virtual int WindowHeight() const { return Height(); }
    // Makes the window (hidden when the control is), then the windows of the children, then sets
    // the children's z-order by tab order.
    virtual void CreateWnd();
    virtual void DestroyWnd();
    // A message for this window. Unhandled messages go to DefaultHandler.
    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam);

    // Notifications of a child window reflected to its control: WM_COMMAND's code, owner drawing.
    virtual void CommandNotify(WORD /*code*/) {}
    virtual void DrawItemNotify(DRAWITEMSTRUCT& /*draw*/) {}
    virtual void MeasureItemNotify(MEASUREITEMSTRUCT& /*measure*/) {}

    // Paints the background and the graphic children on dc (our own window classes only).
    virtual void PaintWindow(HDC dc);
    // This control's own picture between the background and the graphic children.
    virtual void PaintSelf(HDC /*dc*/) {}
    // The brush for WM_CTLCOLOR* of a system-class control; nullptr for the system's default.
    virtual HBRUSH ControlColorBrush(HDC dc);
    void UpdateFont();

    void TextChanged() override;
    void FontChanged() override;
    void ColorChanged() override;
    void VisibleChanged() override;
    void BoundsChanged(const RECT& previous) override;

    void AlignControls();
    UINT ControlId() const { return controlId_; }
    bool IsSystemClass() const { return originalProc_ != nullptr; }

  private:
    friend class TControl;
    friend class TForm;
    friend LRESULT CALLBACK TandrelWindowProc(HWND, UINT, WPARAM, LPARAM);
    friend LRESULT CALLBACK TandrelSubclassProc(HWND, UINT, WPARAM, LPARAM);

    void InsertControl(TControl* control);
    void RemoveControl(TControl* control);
    void ApplyTabOrder();
    void PaintMessage();
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    TWinControl* ChildById(UINT id) const;

    HWND handle_ = nullptr;
    WNDPROC originalProc_ = nullptr;
    UINT controlId_ = 0;
    std::vector<TControl*> controls_;
    std::vector<TWinControl*> tabList_;
    bool tabStop_ = false;
    UniqueBrush colorBrush_;
    bool creating_ = false;
};

// A windowed control of our own window class that paints itself (panels, forms).
class TCustomControl : public TWinControl {
  public:
    explicit TCustomControl(TComponent* owner);
    const char* ClassName() const override { return "TCustomControl"; }

    // The canvas to paint on; valid only while Paint runs.
    TCanvas* Canvas() { return canvas_; }

  protected:
    virtual void Paint() {}
    void PaintSelf(HDC dc) override;

  private:
    TCanvas* canvas_ = nullptr;
};
