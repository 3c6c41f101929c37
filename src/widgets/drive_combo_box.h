// The drive combo box: an owner-drawn drop-down list of the machine's drives, each row a picture
// and a text ("c: [system]"). SelectedDrive is the selected row's letter.
//
// Events: a user's selection fires OnClick first, while SelectedDrive still holds the previous
// drive, and then OnChange if the drive differs. Creating the window fires OnChange once.
//
// In a layout: "object drive: TDriveComboBox" with TextCase (tcLowerCase, tcUpperCase), OnChange,
// OnClick, OnDblClick, OnKeyPress and the windowed-control properties (Left, Top, Width, Height,
// Caption, Text, Align, Tag, Color, Enabled, Font, ParentColor, ParentFont, TabOrder, TabStop,
// Visible); not ItemHeight and Items.Strings.
#pragma once

#include <array>
#include <string_view>
#include <vector>

#include "framework/std_controls.h"
#include "widgets/directory_list_box.h"
#include "widgets/drive_rows.h"

class TDriveComboBox : public TCustomComboBox, private TDirectoryListBox::DriveLink {
  public:
    // SelectedDrive starts as the first character of the process's current directory (0 for a
    // network path). Loads the drive pictures from this program's bitmap resources.
    explicit TDriveComboBox(TComponent* owner);
    ~TDriveComboBox() override;
    const char* ClassName() const override { return "TDriveComboBox"; }

    char SelectedDrive() const { return drive_; }
    // Selects the drive's row (none when the letter has no row, or for 0), tells a linked
    // directory list and fires OnChange; nothing when a row is selected and the letter is the
    // selected drive's, in either case.
    void SetSelectedDrive(char letter);

    TTextCase TextCase() const { return textCase_; }
    void SetTextCase(TTextCase textCase);

    // An optional directory list that follows the selected drive.
    TDirectoryListBox* DirList() const { return dirList_; }
    void SetDirList(TDirectoryListBox* dirList);

    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

  protected:
    void CreateWnd() override;
    void Click() override;
    // OnChange fires from SetSelectedDrive, and only when the drive changes.
    void Change() override {}
    void DrawItem(int index, const RECT& rect, TOwnerDrawState state) override;
    void FontChanged() override;

  private:
    void SelectDrive(char letter) override { SetSelectedDrive(letter); }
    void DirListUnlinked() override { dirList_ = nullptr; }
    void BuildRows();
    void UpdateItemHeight();
    TBitmap* Picture(DrivePicture picture);

    char drive_ = 0;
    TTextCase textCase_ = tcLowerCase;
    TDirectoryListBox* dirList_ = nullptr;
    std::array<TBitmap, 5> pictures_;  // by DrivePicture, from Floppy on
};
