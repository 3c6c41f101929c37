// The rows of the directory list: the path of the directory shown, one row per ancestor, then its
// subdirectories. Pure functions over paths, and the two file-system reads the list makes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

// The picture of a directory row.
enum class FolderPicture { Open, Closed, Current };

// The bitmap resource name of a picture: "OPENFOLDER", "CLOSEDFOLDER" or "CURRENTFOLDER".
const char* FolderPictureResource(FolderPicture picture);

struct DirectoryRow {
    std::string text;
    FolderPicture picture = FolderPicture::Closed;
    int indent = 0;  // pixels from the row's left edge to the picture
};

// The drive part of a path: "c:" for "c:\a", "\\server\share" for "\\server\share\a"; empty
// when the path has neither form.
std::string PathDrive(std::string_view path);

int BackslashCount(std::string_view path);

// The texts of the path rows: the drive with "\" ("c:\", "\\server\share\"), then each further
// component ("a", "b" for "c:\a\b").
std::vector<std::string> PathRowTexts(std::string_view directory);

// Whether a search entry is listed as a subdirectory: a directory that is neither hidden, system
// nor a volume label, other than "." and "..".
bool IsListedSubdirectory(std::string_view name, DWORD attributes);

// Orders names ignoring ASCII case; names equal but for case keep a stable byte order.
bool LessIgnoringCase(std::string_view a, std::string_view b);

// The listed subdirectories of a directory, sorted ignoring case; none when it cannot be searched.
std::vector<std::string> ReadSubdirectories(const std::string& directory);

// All rows for a directory and its (sorted) subdirectories. Path rows are open folders indented
// by row x 4 + 2, the last being the current folder; subdirectories are closed folders indented by
// (number of "\" in the directory) x 4 + 6.
std::vector<DirectoryRow> BuildDirectoryRows(const std::string& directory,
                                             const std::vector<std::string>& subdirectories);

// The directory that opening a row leads to: row 0 the drive's root, an ancestor row that
// ancestor, the current row the directory itself, a subdirectory row the directory joined with
// the row's name by one "\".
std::string OpenedRowPath(const std::string& directory, int row, const std::string& rowText);

// The root of the volume that holds a directory ("c:\", "\\server\share\").
std::string VolumeRoot(std::string_view directory);

// Whether names on a volume keep their case: the volume reports case-sensitive or case-preserved
// names. caseSensitive alone says names that differ in case differ.
struct VolumeCaseRules {
    bool caseSensitive = false;
    bool casePreserving = false;
};
VolumeCaseRules ReadVolumeCaseRules(const std::string& directory);
