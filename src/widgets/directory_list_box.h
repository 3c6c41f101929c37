// The directory list: an owner-drawn list that shows the path of CurrentDirectory, one row per
// ancestor, followed by that directory's subdirectories. Opening a row (double click, Enter)
// moves the list there. The process's current directory follows the list: the list changes it
// and leaves it at the directory shown.
//
// In a layout: "object dir: TDirectoryListBox" with ItemHeight, OnChange, OnClick, OnDblClick,
// OnKeyPress and the windowed-control properties (Align, Left, Top, Width, Height, Caption, Text,
// Tag, Color, Enabled, Font, ParentColor, ParentFont, TabOrder, TabStop, Visible); not
// Items.Strings.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "framework/std_controls.h"
#include "widgets/directory_rows.h"

class TDirectoryListBox : public TCustomListBox {
  public:
    // The drive combo box that follows this list, as the list sees it (TDriveComboBox links itself
    // here from its SetDirList): the list has it show the drive that a move of the list goes to,
    // and tells it when the list goes or is linked to another combo box.
    class DriveLink {
      public:
        virtual void SelectDrive(char letter) = 0;
        virtual void DirListUnlinked() = 0;

      protected:
        ~DriveLink() = default;
    };

    // Shows the process's current directory. Loads the folder pictures from this program's bitmap
    // resources.
    explicit TDirectoryListBox(TComponent* owner);
    ~TDirectoryListBox() override;
    const char* ClassName() const override { return "TDirectoryListBox"; }

    const std::string& CurrentDirectory() const { return directory_; }
    // Moves the list, and the process's current directory, to path (relative paths, a bare "d:"
    // for that drive's current directory, and a path naming a file or pattern for its folder are
    // resolved first), rebuilds the rows and fires OnChange. Nothing happens for an empty path or
    // the directory already shown (compared ignoring case unless the volume is case-sensitive).
    // EInOutError with the system's error code when the directory cannot be entered; the list
    // then stays as it was.
    void SetCurrentDirectory(const std::string& path);

    char DriveLetter() const { return directory_.empty() ? 0 : directory_[0]; }
    // Moves to that drive's current directory, when the letter names another drive.
    void SetDriveLetter(char letter);

    // The drive combo box's notice of a new drive: moves to that drive's current directory.
    void DriveChanged(char letter);
    // Links the list to a drive combo box, or unlinks it (nullptr); one linked before is told.
    void SetDriveLink(DriveLink* link);

    // Opens the selected row, as a double click or Enter does.
    void OpenSelected();

    // The rows as drawn: text, picture and indent.
    const std::vector<DirectoryRow>& Rows() const { return rows_; }
    // Whether texts are drawn as stored (the volume keeps the case of names) or in lower case.
    bool KeepsCase() const { return caseRules_.caseSensitive || caseRules_.casePreserving; }

    bool WantsKey(WPARAM virtualKey) const override;
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

  protected:
    void CreateWnd() override;
    void DblClick() override;
    void KeyPress(char& key) override;
    void DrawItem(int index, const RECT& rect, TOwnerDrawState state) override;
    void FontChanged() override;

  private:
    void MoveTo(const std::string& resolved);
    void BuildRows();
    void UpdateItemHeight();
    const TBitmap& Picture(FolderPicture picture) const;

    std::string directory_;
    std::vector<DirectoryRow> rows_;
    VolumeCaseRules caseRules_;
    DriveLink* driveLink_ = nullptr;
    bool switchingDrive_ = false;
    std::array<TBitmap, 3> pictures_;  // by FolderPicture
};

// Resolves a path for the directory list: relative to the current directory, a bare drive to that
// drive's current directory, and a last component that is an existing file or holds "*" or "?" to
// its folder.
std::string ResolveDirectoryPath(const std::string& path);
