#include "widgets/drive_combo_box.h"

#include <algorithm>

#include "framework/published.h"
#include "framework/sysutils.h"
#include "widgets/picker_drawing.h"

namespace {

char LetterInCase(char c, TTextCase textCase) {
    return textCase == tcUpperCase ? UpperCaseAscii(c) : LowerCaseAscii(c);
}

constexpr std::string_view kTextCaseNames[] = {"tcLowerCase", "tcUpperCase"};

}  // namespace

TDriveComboBox::TDriveComboBox(TComponent* owner) : TCustomComboBox(owner) {
    for (DrivePicture picture : {DrivePicture::Floppy, DrivePicture::Hard, DrivePicture::Network,
                                 DrivePicture::CdRom, DrivePicture::Ram}) {
        Picture(picture)->LoadFromResourceName(nullptr, DrivePictureResource(picture));
    }
    char current[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryA(sizeof current, current);
    drive_ = current[0] == '\\' ? 0 : current[0];
    UpdateItemHeight();
}

TDriveComboBox::~TDriveComboBox() {
    SetDirList(nullptr);
}

TBitmap* TDriveComboBox::Picture(DrivePicture picture) {
    return picture == DrivePicture::None ? nullptr : &pictures_[static_cast<size_t>(picture) - 1];
}

void TDriveComboBox::BuildRows() {
    BeginUpdate();
    Items().Clear();
    for (const DriveRow& row : ReadDriveRows(textCase_)) {
        Items().AddObject(row.text, Picture(row.picture));
    }
    EndUpdate();
}

void TDriveComboBox::UpdateItemHeight() {
    SetItemHeight(std::max(FontCharacterHeight(Font()), Picture(DrivePicture::Floppy)->Height()));
}

void TDriveComboBox::CreateWnd() {
    UpdateItemHeight();
    TCustomComboBox::CreateWnd();
    BuildRows();
    SetSelectedDrive(drive_);  // nothing is selected after the rebuild: this fires OnChange once
}

void TDriveComboBox::FontChanged() {
    TCustomComboBox::FontChanged();
    UpdateItemHeight();
}

void TDriveComboBox::SetSelectedDrive(char letter) {
    if (ItemIndex() >= 0 && LowerCaseAscii(letter) == LowerCaseAscii(drive_)) {
        return;
    }
    int row = -1;
    if (letter != 0) {
        drive_ = LetterInCase(letter, textCase_);
        for (int i = 0; i < Items().Count(); ++i) {
            const std::string& text = Items()[i];
            if (text.size() >= 2 && LowerCaseAscii(text[0]) == LowerCaseAscii(letter) && text[1] == ':') {
                row = i;
                break;
            }
        }
    } else {
        drive_ = 0;
    }
    SetItemIndex(row);
    if (dirList_ != nullptr) {
        dirList_->DriveChanged(drive_);
    }
    TCustomComboBox::Change();
}

void TDriveComboBox::SetTextCase(TTextCase textCase) {
    textCase_ = textCase;
    drive_ = LetterInCase(drive_, textCase_);
    if (HandleAllocated()) {
        BuildRows();
        SetSelectedDrive(drive_);
    }
}

void TDriveComboBox::SetDirList(TDirectoryListBox* dirList) {
    if (dirList_ == dirList) {
        return;
    }
    if (dirList_ != nullptr) {
        dirList_->SetDriveLink(nullptr);  // tells this combo box back, which forgets the list
    }
    dirList_ = dirList;
    if (dirList_ != nullptr) {
        dirList_->SetDriveLink(this);  // a combo box that the list followed before forgets it
    }
}

void TDriveComboBox::Click() {
    TCustomComboBox::Click();  // OnClick, while SelectedDrive still holds the previous drive
    const int index = ItemIndex();
    if (index >= 0 && !Items()[index].empty()) {
        SetSelectedDrive(Items()[index][0]);
    }
}

void TDriveComboBox::DrawItem(int index, const RECT& rect, TOwnerDrawState /*state*/) {
    TCanvas& canvas = *Canvas();
    canvas.FillRect(rect);
    const auto* picture = dynamic_cast<const TBitmap*>(Items().Objects(index));
    int textLeft = rect.left + 16 + 6;
    if (picture != nullptr && !picture->Empty()) {
        DrawPictureTransparent(canvas, rect.left + 2, (rect.top + rect.bottom - picture->Height()) / 2,
                               *picture);
        textLeft = rect.left + picture->Width() + 6;
    }
    RECT textRect{textLeft, rect.top, rect.right, rect.bottom};
    canvas.Brush.SetStyle(TBrushStyle::bsClear);
    canvas.DrawText(Items()[index], textRect, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

constexpr TPublishedProperty<TDriveComboBox> kDriveComboBoxProperties[] = {
    {"TextCase", Setter<&TDriveComboBox::SetTextCase, ReadEnum<TTextCase, kTextCaseNames>>},
};

bool TDriveComboBox::SetProperty(std::string_view name,
                                 const TPropValue& value,
                                 const TReaderContext& context) {
    // The rows and their height are the control's own.
    return SetPublished(*this, kDriveComboBoxProperties, name, value, context) ||
           (IsPublished(name, {"Name",       "Left",       "Top",       "Width",   "Height",      "Caption",
                               "Text",       "Visible",    "Enabled",   "Color",   "ParentColor", "Font.",
                               "ParentFont", "Align",      "Tag",       "OnClick", "TabOrder",    "TabStop",
                               "OnChange",   "OnDblClick", "OnKeyPress"}) &&
            TCustomComboBox::SetProperty(name, value, context));
}
