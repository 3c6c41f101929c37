// Forms: top-level windows, read from stored layouts.
//
// A window class derives from TForm; its constructor registers its event handlers by name, reads
// its layout resource, looks up its controls and finally runs OnCreate:
//
//     TfrmCopy::TfrmCopy(TComponent* owner) : TForm(owner) {
//         AddHandler("btnCopyCancelClick", TNotifyEvent([this](TObject* s) { btnCopyCancelClick(s); }));
//         ReadLayout("FRMCOPY");               // RCDATA resource holding the text layout
//         Gauge1 = FindField<TGauge>("Gauge1"); // EReadError when missing or of another class
//         DoCreate();                          // OnCreate
//     }
//
// Close: a modal form ends its modal loop with ModalResult 2 (mrCancel); the application's main
// form terminates the application; any other form hides. OnCloseQuery may refuse the close first.
#pragma once

#include <windows.h>

#include <any>
#include <map>
#include <string>
#include <string_view>

#include "framework/controls.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"

enum class TFormBorderStyle : uint8_t { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

using TBorderIcons = uint8_t;
inline constexpr TBorderIcons biSystemMenu = 1;
inline constexpr TBorderIcons biMinimize = 2;
inline constexpr TBorderIcons biMaximize = 4;

enum class TWindowState : uint8_t { wsNormal, wsMinimized, wsMaximized };
enum class TPosition : uint8_t { poDesigned, poDefault, poScreenCenter };
enum class TFormStyle : uint8_t { fsNormal, fsStayOnTop };

class TButton;

class TForm : public TCustomControl {
  public:
    // An empty, hidden form: "MS Sans Serif" 8 pt, clBtnFace, sizeable, all border icons.
    explicit TForm(TComponent* owner);
    ~TForm() override;
    const char* ClassName() const override { return "TForm"; }

    TFormBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(TFormBorderStyle style);
    TBorderIcons BorderIcons() const { return borderIcons_; }
    void SetBorderIcons(TBorderIcons icons);
    TWindowState WindowState() const { return windowState_; }
    void SetWindowState(TWindowState state);
    TPosition Position() const { return position_; }
    void SetPosition(TPosition position) { position_ = position; }
    TFormStyle FormStyle() const { return formStyle_; }
    void SetFormStyle(TFormStyle style);
    // Sets the outer size so that the client area has this size (with the current border).
    void SetClientWidth(int width);
    void SetClientHeight(int height);
    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int context) { helpContext_ = context; }

    // Modal loop: runs until ModalResult is not 0 (a button, Close, application termination).
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }
    bool Modal() const { return modal_; }
    // Shows the form modally and returns its ModalResult; the caller frees the form afterwards.
    // EInvalidOperation for a form that is already visible.
    int ShowModal();
    void Close();
    // Runs OnCloseQuery; true when the close may go on.
    bool CloseQuery();

    // The buttons that Enter and Esc press: the focused button for Enter, otherwise the visible,
    // enabled button marked Default (Cancel for Esc). Returns true when one was pressed.
    bool DialogKey(WPARAM virtualKey);
    // A letter typed while a button has the focus: the visible, enabled button whose caption has no
    // mnemonic of its own and starts with that letter is pressed ("c" answers Cancel), unless a
    // button's mnemonic is that letter (the dialog manager presses that one). True when one was.
    bool DialogChar(WPARAM character);
    // Puts the focus on ActiveControl when it can take it, else on the first control in tab order
    // that can.
    void SelectFirst();
    // The control that takes the focus when the form is shown (nullptr: the first in tab order).
    TWinControl* ActiveControl() const { return activeControl_; }
    void SetActiveControl(TWinControl* control) { activeControl_ = control; }

    TNotifyEvent OnCreate;
    TCloseQueryEvent OnCloseQuery;
    TNotifyEvent OnShow;

    // Published: those of TWinControl and ClientWidth, ClientHeight, BorderStyle, BorderIcons,
    // WindowState, Position, FormStyle, PixelsPerInch, TextHeight, OldCreateOrder, OnCreate,
    // OnCloseQuery, OnShow.
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;
    void Loaded() override;
    RECT ClientRect() const override;
    void ControlShownOrHidden() override { FocusRepair(); }
    void ModalResultChosen(int result) override { SetModalResult(result); }

  protected:
    // Registers an event handler for the layout by name (the value is the event's std::function).
    void AddHandler(std::string name, std::any handler) {
        handlers_.handlers[std::move(name)] = std::move(handler);
    }
    // Reads the layout held in RCDATA resource name of this program, or the layout text itself.
    void ReadLayout(const std::string& resourceName);
    void ReadLayoutText(std::string_view text);
    // The component of this form read from the layout under name, as a T.
    template <typename T>
    T* FindField(std::string_view name) const {
        T* field = dynamic_cast<T*>(FindComponent(name));
        if (field == nullptr) {
            throw EReadError(Format("Component %.*s of %s not found or of another class",
                                    static_cast<int>(name.size()), name.data(), ClassName()));
        }
        return field;
    }
    // Runs OnCreate; window classes call it at the end of their constructor.
    void DoCreate();

    TForm* AsForm() const override { return const_cast<TForm*>(this); }
    void CreateParams(TCreateParams& params) override;
    void CreateWnd() override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void VisibleChanged() override;
    void TextChanged() override;

  private:
    class Handlers : public TReaderContext {
      public:
        const std::any* FindMethod(std::string_view name) const override;
        std::map<std::string, std::any, std::less<>> handlers;
    };
    DWORD WindowStyle() const;
    DWORD WindowExStyle() const;
    void ApplyClientSize();
    void PlaceForShow();
    void FocusRepair();
    bool SelectFirstIn(TWinControl& container);
    bool SelectActiveControl();
    TButton* FindRoleButton(TWinControl& container, bool wantDefault) const;

    Handlers handlers_;
    TFormBorderStyle borderStyle_ = TFormBorderStyle::bsSizeable;
    TBorderIcons borderIcons_ = biSystemMenu | biMinimize | biMaximize;
    TWindowState windowState_ = TWindowState::wsNormal;
    TPosition position_ = TPosition::poDesigned;
    TFormStyle formStyle_ = TFormStyle::fsNormal;
    int clientWidth_ = -1;  // asked-for client size, applied again when the border changes
    int clientHeight_ = -1;
    int helpContext_ = 0;
    int modalResult_ = 0;
    bool modal_ = false;
    HWND lastFocus_ = nullptr;  // the control that had the focus when the form was deactivated
    TWinControl* activeControl_ = nullptr;
};
