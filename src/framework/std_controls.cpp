#include "framework/std_controls.h"

#include <oleacc.h>

#include <algorithm>

#include "framework/accessible.h"
#include "framework/exceptions.h"
#include "framework/layout.h"
#include "framework/published.h"
#include "framework/store_if_changed.h"
#include "framework/sysutils.h"

namespace {

constexpr std::string_view kAlignmentNames[] = {"taLeftJustify", "taRightJustify", "taCenter"};
constexpr std::string_view kBevelCutNames[] = {"bvNone", "bvLowered", "bvRaised"};

// Picture.Data: the bytes of a .bmp file.
void LoadPicture(TImage& image, const TPropValue& value, const TReaderContext&) {
    image.Picture().LoadFromBytes(value.AsBinary());
    image.PictureChanged();
}

// Items.Strings: the rows, replacing those there were.
void LoadItems(TListControl& list, const TPropValue& value, const TReaderContext&) {
    const std::vector<std::string>& lines = value.AsStrings();  // a wrong kind leaves the rows
    TListItems& items = list.Items();
    items.Clear();
    for (const std::string& line : lines) {
        items.Add(line);
    }
}

// The DrawText flag that places text as the alignment asks.
UINT AlignmentFlag(TAlignment alignment) {
    switch (alignment) {
        case TAlignment::taRightJustify:
            return DT_RIGHT;
        case TAlignment::taCenter:
            return DT_CENTER;
        case TAlignment::taLeftJustify:
            break;
    }
    return DT_LEFT;
}

}  // namespace

// =============================================================================================
// TLabel

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner) {
    SetBounds(0, 0, 65, 17);
}

void TLabel::SetTransparent(bool transparent) {
    if (StoreIfChanged(transparent_, transparent)) {
        Invalidate();
    }
}

void TLabel::SetWordWrap(bool wordWrap) {
    if (StoreIfChanged(wordWrap_, wordWrap)) {
        AdjustBounds();
        Invalidate();
    }
}

void TLabel::SetAutoSize(bool autoSize) {
    if (StoreIfChanged(autoSize_, autoSize)) {
        AdjustBounds();
    }
}

void TLabel::SetAlignment(TAlignment alignment) {
    if (StoreIfChanged(alignment_, alignment)) {
        Invalidate();
    }
}

void TLabel::Loaded() {
    TGraphicControl::Loaded();
    AdjustBounds();
}

void TLabel::TextChanged() {
    AdjustBounds();
    Invalidate();
    // A screen reader reads a text that changes while the window is shown ("Extracting: ...").
    NotifyAccessibleChange(*this, EVENT_OBJECT_NAMECHANGE);
}

long TLabel::AccessibleRole() const {
    return CoveredByLabelAbove() ? 0 : ROLE_SYSTEM_STATICTEXT;
}

bool TLabel::CoveredByLabelAbove() const {
    const TWinControl* parent = Parent();
    if (parent == nullptr) {
        return false;
    }
    const RECT bounds = BoundsRect();
    bool above = false;  // the controls after this one in painting order lie above it
    for (int i = 0; i < parent->ControlCount(); ++i) {
        const auto* label = dynamic_cast<const TLabel*>(parent->Controls(i));
        if (label == this) {
            above = true;
        } else if (above && label != nullptr && label->Visible() && !label->Transparent()) {
            const RECT cover = label->BoundsRect();
            if (cover.left <= bounds.left && cover.top <= bounds.top && cover.right >= bounds.right &&
                cover.bottom >= bounds.bottom) {
                return true;
            }
        }
    }
    return false;
}

void TLabel::FontChanged() {
    AdjustBounds();
    Invalidate();
}

UINT TLabel::DrawTextFlags() const {
    return DT_EXPANDTABS | (wordWrap_ ? DT_WORDBREAK : 0) | AlignmentFlag(alignment_);
}

void TLabel::AdjustBounds() {
    if (!autoSize_ || Loading()) {
        return;
    }
    WindowDc screen(nullptr);
    TCanvas canvas(screen.get());
    canvas.Font = Font();
    // An empty text is measured as one blank, so that an empty label keeps a line's height.
    std::string text = Text();
    if (text.empty()) {
        text.assign(1, ' ');
    }
    RECT rect{0, 0, wordWrap_ ? Width() : 0, 0};
    canvas.DrawText(text, rect, (DrawTextFlags() & ~static_cast<UINT>(DT_CENTER | DT_RIGHT)) | DT_CALCRECT);
    int left = Left();
    if (!wordWrap_ && alignment_ == TAlignment::taRightJustify) {
        left += Width() - rect.right;
    }
    SetBounds(left, Top(), rect.right, rect.bottom);
}

void TLabel::Paint() {
    TCanvas& canvas = *Canvas();
    RECT rect = ClientRect();
    if (!transparent_) {
        canvas.Brush.SetColor(Color());
        canvas.FillRect(rect);
    }
    canvas.Brush.SetStyle(TBrushStyle::bsClear);
    if (!Enabled()) {
        canvas.Font.SetColor(clGrayText);
    } else if (HighContrastOn()) {
        // Every label lies on a button-face background then (the gradient paints one too).
        canvas.Font.SetColor(clBtnText);
    }
    canvas.DrawText(Text(), rect, DrawTextFlags());
}

constexpr TPublishedProperty<TLabel> kLabelProperties[] = {
    {"Transparent", Setter<&TLabel::SetTransparent, ReadBoolean>},
    {"WordWrap", Setter<&TLabel::SetWordWrap, ReadBoolean>},
    {"AutoSize", Setter<&TLabel::SetAutoSize, ReadBoolean>},
    {"Alignment", Setter<&TLabel::SetAlignment, ReadEnum<TAlignment, kAlignmentNames>>},
};

bool TLabel::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    return SetPublished(*this, kLabelProperties, name, value, context) ||
           TGraphicControl::SetProperty(name, value, context);
}

// =============================================================================================
// TImage

TImage::TImage(TComponent* owner) : TGraphicControl(owner) {
    SetBounds(0, 0, 105, 105);
}

void TImage::Paint() {
    Canvas()->Draw(0, 0, picture_);
}

constexpr TPublishedProperty<TImage> kImageProperties[] = {
    {"Picture.Data", LoadPicture},
};

bool TImage::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    return SetPublished(*this, kImageProperties, name, value, context) ||
           TGraphicControl::SetProperty(name, value, context);
}

// =============================================================================================
// TPanel

TPanel::TPanel(TComponent* owner) : TCustomControl(owner) {
    SetBounds(0, 0, 185, 41);
}

template <typename T>
void TPanel::Store(T& field, T value) {
    field = value;
    Invalidate();
}

void TPanel::SetBevelOuter(TBevelCut cut) {
    Store(bevelOuter_, cut);
}

void TPanel::SetBevelInner(TBevelCut cut) {
    Store(bevelInner_, cut);
}

void TPanel::SetBevelWidth(int width) {
    Store(bevelWidth_, width);
}

void TPanel::SetAlignment(TAlignment alignment) {
    Store(alignment_, alignment);
}

long TPanel::AccessibleRole() const {
    return ROLE_SYSTEM_PANE;
}

void TPanel::Paint() {
    TCanvas& canvas = *Canvas();
    RECT rect = ClientRect();
    const auto bevel = [&](TBevelCut cut) {
        if (cut == TBevelCut::bvNone) {
            return;
        }
        const bool raised = cut == TBevelCut::bvRaised;
        canvas.Frame3D(rect, raised ? clBtnHighlight : clBtnShadow, raised ? clBtnShadow : clBtnHighlight,
                       bevelWidth_);
    };
    bevel(bevelOuter_);
    bevel(bevelInner_);
    canvas.Brush.SetStyle(TBrushStyle::bsClear);
    canvas.DrawText(Text(), rect, DT_SINGLELINE | DT_VCENTER | DT_EXPANDTABS | AlignmentFlag(alignment_));
}

constexpr TPublishedProperty<TPanel> kPanelProperties[] = {
    {"BevelOuter", Setter<&TPanel::SetBevelOuter, ReadEnum<TBevelCut, kBevelCutNames>>},
    {"BevelInner", Setter<&TPanel::SetBevelInner, ReadEnum<TBevelCut, kBevelCutNames>>},
    {"BevelWidth", Setter<&TPanel::SetBevelWidth, ReadInteger>},
    {"Alignment", Setter<&TPanel::SetAlignment, ReadEnum<TAlignment, kAlignmentNames>>},
};

bool TPanel::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    return SetPublished(*this, kPanelProperties, name, value, context) ||
           TCustomControl::SetProperty(name, value, context);
}

// =============================================================================================
// TButton

TButton::TButton(TComponent* owner) : TWinControl(owner) {
    SetBounds(0, 0, 75, 25);
    SetTabStop(true);
}

void TButton::SetDefault(bool isDefault) {
    default_ = isDefault;
    if (HandleAllocated()) {
        ::SendMessageA(Handle(), BM_SETSTYLE, default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    }
}

void TButton::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.className = "BUTTON";
    params.exStyle = 0;
    params.style |= default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
}

void TButton::CommandNotify(WORD code) {
    if (code == BN_CLICKED) {
        Click();
    }
}

void TButton::Click() {
    if (TWinControl* form = ParentFormWindow(); form != nullptr && modalResult_ != mrNone) {
        form->ModalResultChosen(modalResult_);
    }
    TWinControl::Click();
}

constexpr TPublishedProperty<TButton> kButtonProperties[] = {
    {"Default", Setter<&TButton::SetDefault, ReadBoolean>},
    {"Cancel", Setter<&TButton::SetCancel, ReadBoolean>},
    {"ModalResult", Setter<&TButton::SetModalResult, ReadInteger>},
};

bool TButton::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    return SetPublished(*this, kButtonProperties, name, value, context) ||
           TWinControl::SetProperty(name, value, context);
}

// =============================================================================================
// TEdit

TEdit::TEdit(TComponent* owner) : TWinControl(owner) {
    SetBounds(0, 0, 121, 24);
    SetTabStop(true);
    SetColor(clWindow);
}

void TEdit::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.className = "EDIT";
    params.exStyle = WS_EX_CLIENTEDGE;
    params.style |= ES_AUTOHSCROLL;
}

void TEdit::CommandNotify(WORD code) {
    if (code == EN_CHANGE && OnChange) {
        OnChange(this);
    }
}

HBRUSH TEdit::ControlColorBrush(HDC dc) {
    return TWinControl::ControlColorBrush(dc);
}

constexpr TPublishedProperty<TEdit> kEditProperties[] = {
    {"OnChange", Event<&TEdit::OnChange>},
};

bool TEdit::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    return SetPublished(*this, kEditProperties, name, value, context) ||
           TWinControl::SetProperty(name, value, context);
}

// =============================================================================================
// TListItems

int TListItems::AddObject(std::string text, TObject* object) {
    rows_.push_back(Row{std::move(text), object});
    const int index = Count() - 1;
    if (owner_ != nullptr) {
        owner_->RowAdded(index);
    }
    return index;
}

void TListItems::Delete(int index) {
    static_cast<void>(rows_.at(static_cast<size_t>(index)));  // std::out_of_range for a bad index
    rows_.erase(rows_.begin() + index);
    if (owner_ != nullptr) {
        owner_->RowDeleted(index);
    }
}

void TListItems::Clear() {
    rows_.clear();
    if (owner_ != nullptr) {
        owner_->RowsCleared();
    }
}

int TListItems::IndexOf(std::string_view text) const {
    for (int i = 0; i < Count(); ++i) {
        if (SameTextAscii(rows_[static_cast<size_t>(i)].text, text)) {
            return i;
        }
    }
    return -1;
}

// =============================================================================================
// TListControl

TListControl::TListControl(TComponent* owner) : TWinControl(owner) {
    items_.owner_ = this;
    SetTabStop(true);
    SetColor(clWindow);
}

int TListControl::ItemIndex() const {
    if (HandleAllocated()) {
        const LRESULT index =
            ::SendMessageA(const_cast<TListControl*>(this)->Handle(), ListMessages().getCurSel, 0, 0);
        return index < 0 ? -1 : static_cast<int>(index);
    }
    return itemIndex_;
}

void TListControl::SetItemIndex(int index) {
    itemIndex_ = index < 0 || index >= items_.Count() ? -1 : index;
    if (HandleAllocated()) {
        ::SendMessageA(Handle(), ListMessages().setCurSel, static_cast<WPARAM>(itemIndex_), 0);
    }
}

void TListControl::SetItemHeight(int height) {
    if (height <= 0) {
        return;
    }
    itemHeight_ = height;
    if (HandleAllocated()) {
        ::SendMessageA(Handle(), ListMessages().setItemHeight, 0, height);
        Invalidate();
    }
}

void TListControl::BeginUpdate() {
    if (updateCount_++ == 0 && HandleAllocated()) {
        ::SendMessageA(Handle(), WM_SETREDRAW, FALSE, 0);
    }
}

void TListControl::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0 && HandleAllocated()) {
        ::SendMessageA(Handle(), WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(Handle(), nullptr, TRUE);
    }
}

void TListControl::Change() {
    if (OnChange) {
        OnChange(this);
    }
}

void TListControl::DblClick() {
    if (OnDblClick) {
        OnDblClick(this);
    }
}

void TListControl::KeyPress(char& key) {
    if (OnKeyPress) {
        OnKeyPress(this, key);
    }
}

void TListControl::RowAdded(int index) {
    if (HandleAllocated()) {
        ::SendMessageA(Handle(), ListMessages().addString, 0,
                       reinterpret_cast<LPARAM>(items_.Strings(index).c_str()));
    }
}

void TListControl::RowDeleted(int index) {
    if (itemIndex_ >= items_.Count()) {
        itemIndex_ = -1;
    }
    if (HandleAllocated()) {
        ::SendMessageA(Handle(), ListMessages().deleteString, static_cast<WPARAM>(index), 0);
    }
}

void TListControl::RowsCleared() {
    itemIndex_ = -1;
    if (HandleAllocated()) {
        ::SendMessageA(Handle(), ListMessages().resetContent, 0, 0);
    }
}

void TListControl::CreateWnd() {
    TWinControl::CreateWnd();
    HWND hwnd = Handle();
    ::SendMessageA(hwnd, ListMessages().setItemHeight, 0, itemHeight_);
    for (int i = 0; i < items_.Count(); ++i) {
        ::SendMessageA(hwnd, ListMessages().addString, 0,
                       reinterpret_cast<LPARAM>(items_.Strings(i).c_str()));
    }
    if (itemIndex_ >= 0) {
        ::SendMessageA(hwnd, ListMessages().setCurSel, static_cast<WPARAM>(itemIndex_), 0);
    }
    if (updateCount_ > 0) {
        ::SendMessageA(hwnd, WM_SETREDRAW, FALSE, 0);
    }
}

void TListControl::DrawItem(int index, const RECT& rect, TOwnerDrawState) {
    Canvas()->FillRect(rect);
    Canvas()->Brush.SetStyle(TBrushStyle::bsClear);
    Canvas()->TextOut(rect.left + 2, rect.top, items_.Strings(index));
}

void TListControl::DrawItemNotify(DRAWITEMSTRUCT& draw) {
    TOwnerDrawState state = 0;
    if ((draw.itemState & ODS_SELECTED) != 0) {
        state |= odSelected;
    }
    if ((draw.itemState & ODS_FOCUS) != 0) {
        state |= odFocused;
    }
    if ((draw.itemState & ODS_DISABLED) != 0) {
        state |= odDisabled;
    }
    if ((draw.itemState & ODS_COMBOBOXEDIT) != 0) {
        state |= odComboBoxEdit;
    }
    TCanvas canvas(draw.hDC);
    canvas.Font = Font();
    if ((state & odSelected) != 0) {
        canvas.Brush.SetColor(clHighlight);
        canvas.Font.SetColor(clHighlightText);
    } else {
        canvas.Brush.SetColor(Color());
    }
    const TCanvasInUse inUse(canvas_, canvas);
    const int index = static_cast<int>(draw.itemID);
    if (draw.itemID != static_cast<UINT>(-1) && index < items_.Count()) {
        DrawItem(index, draw.rcItem, state);
    } else {
        canvas.FillRect(draw.rcItem);
    }
    if ((state & odFocused) != 0) {
        canvas.DrawFocusRect(draw.rcItem);
    }
}

void TListControl::MeasureItemNotify(MEASUREITEMSTRUCT& measure) {
    measure.itemHeight = static_cast<UINT>(itemHeight_);
}

LRESULT TListControl::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CHAR) {
        char key = static_cast<char>(wParam);
        KeyPress(key);
        if (key == 0) {
            return 0;
        }
        wParam = static_cast<unsigned char>(key);
    }
    return TWinControl::WndProc(message, wParam, lParam);
}

void TListControl::FontChanged() {
    TWinControl::FontChanged();
}

constexpr TPublishedProperty<TListControl> kListControlProperties[] = {
    {"ItemHeight", Setter<&TListControl::SetItemHeight, ReadInteger>},
    {"Items.Strings", LoadItems},
    {"OnChange", Event<&TListControl::OnChange>},
    {"OnDblClick", Event<&TListControl::OnDblClick>},
    {"OnKeyPress", Event<&TListControl::OnKeyPress>},
};

bool TListControl::SetProperty(std::string_view name,
                               const TPropValue& value,
                               const TReaderContext& context) {
    return SetPublished(*this, kListControlProperties, name, value, context) ||
           TWinControl::SetProperty(name, value, context);
}

// =============================================================================================
// TCustomListBox

TCustomListBox::TCustomListBox(TComponent* owner) : TListControl(owner) {
    SetBounds(0, 0, 121, 97);
}

void TCustomListBox::CreateParams(TCreateParams& params) {
    TListControl::CreateParams(params);
    params.className = "LISTBOX";
    params.exStyle = WS_EX_CLIENTEDGE;
    params.style |= LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL;
}

void TCustomListBox::CommandNotify(WORD code) {
    if (code == LBN_SELCHANGE) {
        Click();
    } else if (code == LBN_DBLCLK) {
        DblClick();
    }
}

const TListControl::Messages& TCustomListBox::ListMessages() const {
    static const Messages kMessages{
        LB_ADDSTRING, LB_DELETESTRING, LB_RESETCONTENT,  LB_SETITEMDATA,
        LB_GETCURSEL, LB_SETCURSEL,    LB_SETITEMHEIGHT, static_cast<UINT>(LB_ERR)};
    return kMessages;
}

// =============================================================================================
// TCustomComboBox

TCustomComboBox::TCustomComboBox(TComponent* owner) : TListControl(owner) {
    SetBounds(0, 0, 145, 22);
}

void TCustomComboBox::CreateParams(TCreateParams& params) {
    TListControl::CreateParams(params);
    params.className = "COMBOBOX";
    params.exStyle = 0;
    params.style |= CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL;
}

int TCustomComboBox::WindowHeight() const {
    return Height() + dropDownCount_ * ItemHeight() + 2;
}

bool TCustomComboBox::DroppedDown() const {
    return HandleAllocated() &&
           ::SendMessageA(const_cast<TCustomComboBox*>(this)->Handle(), CB_GETDROPPEDSTATE, 0, 0) != 0;
}

bool TCustomComboBox::WantsKey(WPARAM virtualKey) const {
    return (virtualKey == VK_RETURN || virtualKey == VK_ESCAPE) && DroppedDown();
}

void TCustomComboBox::CommandNotify(WORD code) {
    if (code == CBN_SELCHANGE) {
        Click();
        Change();
    }
}

const TListControl::Messages& TCustomComboBox::ListMessages() const {
    static const Messages kMessages{
        CB_ADDSTRING, CB_DELETESTRING, CB_RESETCONTENT,  CB_SETITEMDATA,
        CB_GETCURSEL, CB_SETCURSEL,    CB_SETITEMHEIGHT, static_cast<UINT>(CB_ERR)};
    return kMessages;
}

// =============================================================================================

namespace {

constexpr TComponentClass kStandardClasses[] = {
    ComponentClass<TLabel>("TLabel"), ComponentClass<TImage>("TImage"), ComponentClass<TPanel>("TPanel"),
    ComponentClass<TButton>("TButton"), ComponentClass<TEdit>("TEdit")};

}  // namespace

void RegisterStandardClasses() {
    RegisterComponentClassesOnce<kStandardClasses>();
}
