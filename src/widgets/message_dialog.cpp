#include "widgets/message_dialog.h"

#include <oleacc.h>

#include <algorithm>
#include <string_view>

#include "framework/application.h"
#include "framework/std_controls.h"
#include "framework/sysutils.h"

namespace {

constexpr TDialogButtonInfo kButtons[kDialogButtonCount] = {
    {"Yes", "&Yes", mrYes},          {"No", "&No", mrNo},          {"OK", "OK", mrOk},
    {"Cancel", "Cancel", mrCancel},  {"Abort", "&Abort", mrAbort}, {"Retry", "&Retry", mrRetry},
    {"Ignore", "&Ignore", mrIgnore}, {"All", "&All", mrAll},       {"Help", "&Help", mrNone},
};

constexpr const char* kKindCaptions[] = {"Warning", "Error", "Information", "Confirm", ""};

// The stock icon of each kind; mkCustom has none.
LPCSTR KindIcon(TMessageKind kind) {
    switch (kind) {
        case mkWarning:
            return IDI_EXCLAMATION;
        case mkError:
            return IDI_HAND;
        case mkInformation:
            return IDI_ASTERISK;
        case mkConfirmation:
            return IDI_QUESTION;
        case mkCustom:
            break;
    }
    return nullptr;
}

// Layout constants in dialog units.
constexpr int kHorzMargin = 8;
constexpr int kVertMargin = 8;
constexpr int kHorzSpacing = 10;
constexpr int kVertSpacing = 10;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
constexpr int kButtonSpacing = 4;
constexpr int kIconSize = 32;

// The extent of the widest run of text's characters without a blank or a line break.
int WidestRun(const TCanvas& canvas, std::string_view text) {
    int widest = 0;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find_first_of(" \n", start), text.size());
        if (end > start) {
            widest = std::max(widest, canvas.TextWidth(text.substr(start, end - start)));
        }
        start = end + 1;
    }
    return widest;
}

// text as the dialog shows it. Word wrapping breaks lines at blanks only, so a run wider than the
// text's width (a long path) would widen the dialog past the screen: such a text gets line breaks
// at backslashes, with runs ever shorter until every one fits (wide letters need shorter runs than
// the average one). A text whose runs fit comes back unchanged, so every dialog that fitted looks
// as it did.
std::string FitWithinWidth(const TCanvas& canvas, const std::string& text, int width, int averageWidth) {
    int widest = WidestRun(canvas, text);
    if (widest <= width || averageWidth <= 0) {
        return text;
    }
    std::string shown = text;
    for (size_t longest = static_cast<size_t>(width / averageWidth); widest > width && longest > 1;) {
        shown = BreakLongRuns(text, longest);
        widest = WidestRun(canvas, shown);
        if (widest > width) {
            longest =
                std::min(longest - 1, longest * static_cast<size_t>(width) / static_cast<size_t>(widest));
        }
    }
    return shown;
}

}  // namespace

const TDialogButtonInfo& DialogButtonInfo(TDialogButton button) {
    return kButtons[button];
}

const char* MessageKindCaption(TMessageKind kind) {
    return kKindCaptions[kind];
}

int DialogMulDiv(int x, int y, int z) {
    return ::MulDiv(x, y, z);
}

std::optional<TDialogButton> DefaultButtonOf(TDialogButtons buttons) {
    for (TDialogButton candidate : {dbOK, dbYes, dbRetry}) {
        if (HasButton(buttons, candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<TDialogButton> CancelButtonOf(TDialogButtons buttons) {
    for (TDialogButton candidate : {dbCancel, dbNo, dbOK}) {
        if (HasButton(buttons, candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

TDialogLayout ComputeDialogLayout(int averageWidth,
                                  int averageHeight,
                                  SIZE text,
                                  bool hasIcon,
                                  TDialogButtons buttons) {
    TDialogLayout layout;
    const auto horz = [&](int units) { return DialogMulDiv(units, averageWidth, 4); };
    const auto vert = [&](int units) { return DialogMulDiv(units, averageHeight, 8); };
    layout.horzMargin = horz(kHorzMargin);
    layout.vertMargin = vert(kVertMargin);
    layout.horzSpacing = horz(kHorzSpacing);
    layout.vertSpacing = vert(kVertSpacing);
    layout.buttonWidth = horz(kButtonWidth);
    layout.buttonHeight = vert(kButtonHeight);
    layout.buttonSpacing = horz(kButtonSpacing);
    layout.hasIcon = hasIcon;

    layout.blockWidth = text.cx;
    layout.blockHeight = text.cy;
    if (hasIcon) {
        layout.blockWidth = kIconSize + layout.horzSpacing + text.cx;
        layout.blockHeight = std::max<int>(kIconSize, text.cy);
    }

    int count = 0;
    for (int bit = 0; bit < kDialogButtonCount; ++bit) {
        if (HasButton(buttons, static_cast<TDialogButton>(bit))) {
            ++count;
        }
    }
    layout.groupWidth = count > 0 ? count * layout.buttonWidth + (count - 1) * layout.buttonSpacing : 0;

    layout.clientWidth = std::max(layout.blockWidth, layout.groupWidth) + 2 * layout.horzMargin;
    layout.clientHeight =
        layout.blockHeight + layout.buttonHeight + layout.vertSpacing + 2 * layout.vertMargin;

    if (hasIcon) {
        layout.iconBounds = RECT{layout.horzMargin, layout.vertMargin, layout.horzMargin + kIconSize,
                                 layout.vertMargin + kIconSize};
    }
    const int messageLeft = layout.blockWidth - text.cx + layout.horzMargin;
    layout.messageBounds =
        RECT{messageLeft, layout.vertMargin, messageLeft + text.cx, layout.vertMargin + text.cy};

    int x = (layout.clientWidth - layout.groupWidth) / 2;
    const int y = layout.blockHeight + layout.vertMargin + layout.vertSpacing;
    for (int bit = 0; bit < kDialogButtonCount; ++bit) {
        const auto button = static_cast<TDialogButton>(bit);
        if (HasButton(buttons, button)) {
            layout.buttons.push_back(
                TDialogButtonPlace{button, RECT{x, y, x + layout.buttonWidth, y + layout.buttonHeight}});
            x += layout.buttonWidth + layout.buttonSpacing;
        }
    }
    return layout;
}

POINT CentredWindowPosition(int screenWidth, int screenHeight, int windowWidth, int windowHeight) {
    return POINT{screenWidth / 2 - windowWidth / 2, screenHeight / 2 - windowHeight / 2};
}

// =============================================================================================

TMessageForm::TMessageForm(TComponent* owner) : TForm(owner) {
    SetBorderStyle(TFormBorderStyle::bsDialog);
    SetBorderIcons(biSystemMenu);
}

long TMessageForm::AccessibleRole() const {
    return ROLE_SYSTEM_DIALOG;
}

std::unique_ptr<TMessageForm> BuildMessageDialog(const std::string& text,
                                                 TMessageKind kind,
                                                 TDialogButtons buttons) {
    auto form = std::make_unique<TMessageForm>(Application);

    // The font's average character: the extent of the 52 letters A-Z a-z on the form's font.
    WindowDc screen(nullptr);
    TCanvas canvas(screen.get());
    canvas.Font = form->Font();
    const SIZE letters = canvas.TextExtent("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    form->averageWidth_ = letters.cx / 52;
    form->averageHeight_ = letters.cy;

    const std::string shown = FitWithinWidth(canvas, text, ScreenWidth() / 2, form->averageWidth_);
    RECT textRect{0, 0, ScreenWidth() / 2, 0};
    canvas.DrawText(shown, textRect, DT_CALCRECT | DT_WORDBREAK);
    const SIZE textSize{textRect.right - textRect.left, textRect.bottom - textRect.top};

    LPCSTR icon = KindIcon(kind);
    form->layout_ =
        ComputeDialogLayout(form->averageWidth_, form->averageHeight_, textSize, icon != nullptr, buttons);
    const TDialogLayout& layout = form->layout_;

    form->SetClientWidth(layout.clientWidth);
    form->SetClientHeight(layout.clientHeight);
    const POINT centre = CentredWindowPosition(ScreenWidth(), ScreenHeight(), form->Width(), form->Height());
    form->SetBounds(centre.x, centre.y, form->Width(), form->Height());
    form->SetCaption(kind == mkCustom ? Application->Title() : MessageKindCaption(kind));

    if (icon != nullptr) {
        auto* image = new TImage(form.get());
        image->SetName("Image");
        image->SetParent(form.get());
        const RECT& bounds = layout.iconBounds;
        image->SetBounds(bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top);
        TBitmap& picture = image->Picture();
        picture.SetSize(kIconSize, kIconSize);
        picture.Canvas().Brush.SetColor(form->Color());
        picture.Canvas().FillRect(RECT{0, 0, kIconSize, kIconSize});
        ::DrawIconEx(picture.Canvas().Handle(), 0, 0, ::LoadIconA(nullptr, icon), kIconSize, kIconSize, 0,
                     nullptr, DI_NORMAL);
        image->PictureChanged();
    }

    auto* message = new TLabel(form.get());
    message->SetName("Message");
    message->SetParent(form.get());
    message->SetAutoSize(false);
    message->SetWordWrap(true);
    message->SetCaption(shown);
    const RECT& bounds = layout.messageBounds;
    message->SetBounds(bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top);

    const std::optional<TDialogButton> defaultButton = DefaultButtonOf(buttons);
    const std::optional<TDialogButton> cancelButton = CancelButtonOf(buttons);
    for (const TDialogButtonPlace& place : layout.buttons) {
        const TDialogButtonInfo& info = DialogButtonInfo(place.button);
        auto* button = new TButton(form.get());
        button->SetName(info.name);
        button->SetParent(form.get());
        button->SetCaption(info.caption);
        button->SetModalResult(info.result);
        button->SetDefault(defaultButton == place.button);
        if (defaultButton == place.button) {
            form->SetActiveControl(button);
        }
        button->SetCancel(cancelButton == place.button);
        button->SetBounds(place.bounds.left, place.bounds.top, place.bounds.right - place.bounds.left,
                          place.bounds.bottom - place.bounds.top);
        if (place.button == dbHelp) {
            TMessageForm* owner = form.get();
            button->OnClick = [owner](TObject*) { Application->HelpContext(owner->HelpContext()); };
        }
    }
    return form;
}

int ShowMessageDialogPos(const std::string& text,
                         TMessageKind kind,
                         TDialogButtons buttons,
                         int helpContext,
                         int left,
                         int top) {
    std::unique_ptr<TMessageForm> form = BuildMessageDialog(text, kind, buttons);
    form->SetHelpContext(helpContext);
    if (left >= 0) {
        form->SetLeft(left);
    }
    if (top >= 0) {
        form->SetTop(top);
    }
    return form->ShowModal();
}

int ShowMessageDialog(const std::string& text, TMessageKind kind, TDialogButtons buttons, int helpContext) {
    return ShowMessageDialogPos(text, kind, buttons, helpContext, -1, -1);
}

void ShowPlainMessage(const std::string& text) {
    ShowMessageDialogPos(text, mkCustom, mbOK, 0, -1, -1);
}
