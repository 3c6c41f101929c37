#include "widgets/directory_list_box.h"

#include <algorithm>

#include "framework/exceptions.h"
#include "framework/file_stream.h"
#include "framework/scoped_flag.h"
#include "framework/sysutils.h"
#include "widgets/drive_rows.h"
#include "widgets/picker_drawing.h"

namespace {

std::string CurrentProcessDirectory() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetCurrentDirectoryA(sizeof buffer, buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

bool SamePath(const std::string& a, const std::string& b, bool caseSensitive) {
    if (caseSensitive) {
        return a == b;
    }
    return ApplyTextCase(a, tcUpperCase) == ApplyTextCase(b, tcUpperCase);
}

// Enters a directory and keeps it as its drive's current directory (the "=X:" environment entry
// that relative "X:" paths are resolved against), as the runtime's own change of directory does.
void EnterDirectory(const std::string& path) {
    if (!::SetCurrentDirectoryA(path.c_str())) {
        const DWORD code = ::GetLastError();
        throw EInOutError(SystemErrorText(code), code);
    }
    const std::string now = CurrentProcessDirectory();
    if (now.size() >= 2 && now[1] == ':') {
        const char name[] = {'=', UpperCaseAscii(now[0]), ':', '\0'};
        ::SetEnvironmentVariableA(name, now.c_str());
    }
}

}  // namespace

std::string ResolveDirectoryPath(const std::string& path) {
    char buffer[MAX_PATH + 1] = {};
    char* filePart = nullptr;
    const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, &filePart);
    if (length == 0 || length >= sizeof buffer) {
        return path;  // left to SetCurrentDirectory to refuse
    }
    std::string full(buffer, length);
    const size_t lastSlash = full.find_last_of('\\');
    if (lastSlash == std::string::npos || lastSlash + 1 >= full.size()) {
        return full;
    }
    const std::string last = full.substr(lastSlash + 1);
    if (FileExists(full) || last.find_first_of("*?") != std::string::npos) {
        // The folder of a file or pattern; keep the "\" of a root.
        full.erase(lastSlash == 2 && full[1] == ':' ? lastSlash + 1 : lastSlash);
    }
    return full;
}

TDirectoryListBox::TDirectoryListBox(TComponent* owner) : TCustomListBox(owner) {
    SetWidth(145);
    for (FolderPicture picture : {FolderPicture::Open, FolderPicture::Closed, FolderPicture::Current}) {
        TBitmap& bitmap = pictures_[static_cast<size_t>(picture)];
        bitmap.SetSize(16, 16);  // a folder bitmap starts at 16 x 16; the resource sets its own size
        bitmap.LoadFromResourceName(nullptr, FolderPictureResource(picture));
    }
    directory_ = CurrentProcessDirectory();
    UpdateItemHeight();
}

TDirectoryListBox::~TDirectoryListBox() {
    SetDriveLink(nullptr);
}

void TDirectoryListBox::SetDriveLink(DriveLink* link) {
    if (driveLink_ != nullptr && driveLink_ != link) {
        driveLink_->DirListUnlinked();
    }
    driveLink_ = link;
}

const TBitmap& TDirectoryListBox::Picture(FolderPicture picture) const {
    return pictures_[static_cast<size_t>(picture)];
}

void TDirectoryListBox::UpdateItemHeight() {
    SetItemHeight(std::max(FontCharacterHeight(Font()), Picture(FolderPicture::Open).Height() + 1));
}

void TDirectoryListBox::BuildRows() {
    BeginUpdate();
    Items().Clear();
    caseRules_ = ReadVolumeCaseRules(directory_);
    rows_ = BuildDirectoryRows(directory_, ReadSubdirectories(directory_));
    for (const DirectoryRow& row : rows_) {
        Items().AddObject(row.text, const_cast<TBitmap*>(&Picture(row.picture)));
    }
    EndUpdate();
}

void TDirectoryListBox::CreateWnd() {
    UpdateItemHeight();
    TCustomListBox::CreateWnd();
    BuildRows();
    // At a root this is the first subdirectory, deeper down the current folder's row.
    const int row = BackslashCount(directory_);
    SetItemIndex(row < Items().Count() ? row : -1);
}

void TDirectoryListBox::FontChanged() {
    TCustomListBox::FontChanged();
    UpdateItemHeight();
}

void TDirectoryListBox::MoveTo(const std::string& resolved) {
    EnterDirectory(resolved);
    directory_ = CurrentProcessDirectory();
    BuildRows();
    SetItemIndex(static_cast<int>(PathRowTexts(directory_).size()) - 1);
    Change();
}

void TDirectoryListBox::SetCurrentDirectory(const std::string& path) {
    if (path.empty() || SamePath(path, directory_, caseRules_.caseSensitive)) {
        return;
    }
    const std::string resolved = ResolveDirectoryPath(path);
    const char drive = resolved.size() >= 2 && resolved[1] == ':' ? resolved[0] : 0;
    if (drive != 0 && LowerCaseAscii(drive) != LowerCaseAscii(DriveLetter()) && driveLink_ != nullptr) {
        // The combo box shows the new drive; its notice back to this list is not acted on, since
        // the move below goes there anyway.
        const ScopedFlag switching(switchingDrive_);
        driveLink_->SelectDrive(drive);
    }
    MoveTo(resolved);
}

void TDirectoryListBox::SetDriveLetter(char letter) {
    if (letter != 0 && LowerCaseAscii(letter) != LowerCaseAscii(DriveLetter())) {
        SetCurrentDirectory(std::string(1, letter) + ":");
    }
}

void TDirectoryListBox::DriveChanged(char letter) {
    if (letter == 0 || switchingDrive_ || LowerCaseAscii(letter) == LowerCaseAscii(DriveLetter())) {
        return;
    }
    MoveTo(ResolveDirectoryPath(std::string(1, letter) + ":"));
}

void TDirectoryListBox::OpenSelected() {
    const int index = ItemIndex();
    if (index < 0 || index >= static_cast<int>(rows_.size())) {
        return;
    }
    SetCurrentDirectory(OpenedRowPath(directory_, index, rows_[static_cast<size_t>(index)].text));
}

void TDirectoryListBox::DblClick() {
    TCustomListBox::DblClick();
    OpenSelected();
}

void TDirectoryListBox::KeyPress(char& key) {
    TCustomListBox::KeyPress(key);
    if (key == '\r') {
        OpenSelected();
    }
}

bool TDirectoryListBox::WantsKey(WPARAM virtualKey) const {
    return virtualKey == VK_RETURN || TCustomListBox::WantsKey(virtualKey);
}

void TDirectoryListBox::DrawItem(int index, const RECT& rect, TOwnerDrawState /*state*/) {
    TCanvas& canvas = *Canvas();
    canvas.FillRect(rect);
    if (index < 0 || index >= static_cast<int>(rows_.size())) {
        return;
    }
    const DirectoryRow& row = rows_[static_cast<size_t>(index)];
    const TBitmap& picture = Picture(row.picture);
    DrawPictureTransparent(canvas, rect.left + row.indent, (rect.top + rect.bottom - picture.Height()) / 2,
                           picture);
    canvas.Brush.SetStyle(TBrushStyle::bsClear);
    canvas.TextOut(rect.left + picture.Width() + row.indent + 4, rect.top,
                   KeepsCase() ? row.text : ApplyTextCase(row.text, tcLowerCase));
}

bool TDirectoryListBox::SetProperty(std::string_view name,
                                    const TPropValue& value,
                                    const TReaderContext& context) {
    // The rows are the control's own.
    return IsPublished(name, {"Name",       "Left",     "Top",        "Width",     "Height",      "Caption",
                              "Text",       "Visible",  "Enabled",    "Color",     "ParentColor", "Font.",
                              "ParentFont", "Align",    "Tag",        "OnClick",   "TabOrder",    "TabStop",
                              "ItemHeight", "OnChange", "OnDblClick", "OnKeyPress"}) &&
           TCustomListBox::SetProperty(name, value, context);
}
