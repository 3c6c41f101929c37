// A form to put widgets on in tests, and a form that reads a layout text.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "framework/application.h"
#include "framework/forms.h"
#include "framework/std_controls.h"
#include "widgets/widget_classes.h"

// Prepares the framework once per test run: window classes and the classes of layouts.
inline void PrepareFramework() {
    static const bool ready = [] {
        Application->Initialize();
        RegisterStandardClasses();
        RegisterWidgetClasses();
        return true;
    }();
    (void)ready;
}

// A plain form of 400 x 300 at the desktop's top left; hidden until Show().
class HostForm : public TForm {
  public:
    HostForm() : TForm((PrepareFramework(), nullptr)) { SetBounds(0, 0, 400, 300); }

    // A new control of class T, owned by the form and lying on it.
    template <typename T>
    T* Add() {
        auto* control = new T(this);
        control->SetParent(this);
        return control;
    }
};

// A form read from a layout text, with named handlers registered before reading.
class LayoutForm : public TForm {
  public:
    LayoutForm() : TForm((PrepareFramework(), nullptr)) {}
    void Handler(std::string name, TNotifyEvent handler) { AddHandler(std::move(name), std::move(handler)); }
    void Read(std::string_view text) { ReadLayoutText(text); }
};

// Sends a control's own notification through its parent window, as the system does when the user
// acts on it (WM_COMMAND with the control's id and the code).
inline void Notify(HWND control, WORD code) {
    ::SendMessageA(::GetParent(control), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(control), code),
                   reinterpret_cast<LPARAM>(control));
}

// Has the parent of an owner-drawn list or combo box draw one row into dc at rect.
inline void DrawRow(HWND control, UINT type, int index, HDC dc, const RECT& rect) {
    DRAWITEMSTRUCT draw{};
    draw.CtlType = type;
    draw.CtlID = static_cast<UINT>(::GetDlgCtrlID(control));
    draw.itemID = static_cast<UINT>(index);
    draw.itemAction = ODA_DRAWENTIRE;
    draw.hwndItem = control;
    draw.hDC = dc;
    draw.rcItem = rect;
    ::SendMessageA(::GetParent(control), WM_DRAWITEM, draw.CtlID, reinterpret_cast<LPARAM>(&draw));
}
