// Message dialogs: a small fixed window built at run time with a stock icon, the message wrapped
// to half the screen width and one row of buttons; it returns the code of the button pressed. A run
// of characters without a blank that is wider than that (a long path) is broken at its backslashes,
// so that the dialog stays inside the screen; a message without one is shown as it is.
//
//     if (ShowMessageDialog("Create it?", mkConfirmation, mbYesNo, 0) == mrYes) ...
//     ShowPlainMessage("Tandrel Setup Complete.");
//
// Closing the dialog without a button (close box, Alt+F4, application termination) returns 2
// (mrCancel); Esc presses the cancel button. The default button (see DefaultButtonOf) has the focus
// when the dialog opens, so Enter presses it. The dialog is freed on every way out.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/forms.h"

enum TMessageKind : uint8_t { mkWarning, mkError, mkInformation, mkConfirmation, mkCustom };

// The nine buttons, in the order in which they appear; a set holds bit (1 << button).
enum TDialogButton : uint8_t { dbYes, dbNo, dbOK, dbCancel, dbAbort, dbRetry, dbIgnore, dbAll, dbHelp };
inline constexpr int kDialogButtonCount = 9;
using TDialogButtons = uint16_t;

constexpr TDialogButtons ButtonBit(TDialogButton button) {
    return static_cast<TDialogButtons>(1u << button);
}
constexpr bool HasButton(TDialogButtons buttons, TDialogButton button) {
    return (buttons & ButtonBit(button)) != 0;
}
inline constexpr TDialogButtons mbYesNo = ButtonBit(dbYes) | ButtonBit(dbNo);
inline constexpr TDialogButtons mbYesNoCancel = mbYesNo | ButtonBit(dbCancel);
inline constexpr TDialogButtons mbOK = ButtonBit(dbOK);
inline constexpr TDialogButtons mbOKCancel = ButtonBit(dbOK) | ButtonBit(dbCancel);
inline constexpr TDialogButtons mbAbortRetryIgnore =
    ButtonBit(dbAbort) | ButtonBit(dbRetry) | ButtonBit(dbIgnore);

// What each button is: component name, caption (with its "&" accelerator) and result code.
struct TDialogButtonInfo {
    const char* name;
    const char* caption;
    int result;
};
const TDialogButtonInfo& DialogButtonInfo(TDialogButton button);
// The window caption of a kind ("Warning", ...); mkCustom has none of its own (the application's
// title stands there).
const char* MessageKindCaption(TMessageKind kind);

// ---- The layout arithmetic, apart from any window ----------------------------------------------

// x × y / z rounded to the nearest integer without overflow, as the platform's MulDiv.
int DialogMulDiv(int x, int y, int z);

// Enter presses OK if present, otherwise Yes, otherwise Retry; Esc presses Cancel if present,
// otherwise No, otherwise OK. Empty when the set holds none of them.
std::optional<TDialogButton> DefaultButtonOf(TDialogButtons buttons);
std::optional<TDialogButton> CancelButtonOf(TDialogButtons buttons);

struct TDialogButtonPlace {
    TDialogButton button;
    RECT bounds;
};

struct TDialogLayout {
    // The layout constants converted from dialog units.
    int horzMargin = 0, vertMargin = 0, horzSpacing = 0, vertSpacing = 0;
    int buttonWidth = 0, buttonHeight = 0, buttonSpacing = 0;
    int blockWidth = 0, blockHeight = 0;  // icon and text
    int groupWidth = 0;                   // the button row
    int clientWidth = 0, clientHeight = 0;
    bool hasIcon = false;
    RECT iconBounds{};
    RECT messageBounds{};
    std::vector<TDialogButtonPlace> buttons;  // in bit order, left to right
};

// The dialog's layout from the font's average character width and height, the measured text
// size (DrawText with DT_CALCRECT | DT_WORDBREAK at half the screen width) and the button set.
TDialogLayout ComputeDialogLayout(int averageWidth,
                                  int averageHeight,
                                  SIZE text,
                                  bool hasIcon,
                                  TDialogButtons buttons);
// The top-left corner that centres a window of the given outer size on the screen.
POINT CentredWindowPosition(int screenWidth, int screenHeight, int windowWidth, int windowHeight);

// ---- The dialog --------------------------------------------------------------------------------

// The dialog window: fixed dialog border, the default font of a new form; children "Image" (when
// the kind has an icon), "Message" and one button per member of the set, named as the table says.
class TMessageForm : public TForm {
  public:
    explicit TMessageForm(TComponent* owner);
    const char* ClassName() const override { return "TMessageForm"; }

    // The figures that the dialog was built from (for tests and for the record).
    const TDialogLayout& Layout() const { return layout_; }
    int AverageCharWidth() const { return averageWidth_; }
    int AverageCharHeight() const { return averageHeight_; }

    // A dialog to assistive technology, as a system message box is: a screen reader reads its
    // message when it opens.
    long AccessibleRole() const override;

  private:
    friend std::unique_ptr<TMessageForm> BuildMessageDialog(const std::string&, TMessageKind, TDialogButtons);
    TDialogLayout layout_;
    int averageWidth_ = 0;
    int averageHeight_ = 0;
};

// Builds the dialog, centred on the screen and not shown; the caller owns it.
std::unique_ptr<TMessageForm> BuildMessageDialog(const std::string& text,
                                                 TMessageKind kind,
                                                 TDialogButtons buttons);
// Builds, runs modally and frees the dialog; returns the result code of the button pressed.
int ShowMessageDialog(const std::string& text, TMessageKind kind, TDialogButtons buttons, int helpContext);
// As ShowMessageDialog; a left or top of 0 or more replaces the centred coordinate.
int ShowMessageDialogPos(const std::string& text,
                         TMessageKind kind,
                         TDialogButtons buttons,
                         int helpContext,
                         int left,
                         int top);
// One OK button under the application's title; the result is discarded.
void ShowPlainMessage(const std::string& text);
