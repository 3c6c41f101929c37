#include "lifecycle/stale_removals.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/fault_point.h"
#include "lifecycle/removal_plan.h"
#include "lifecycle/safe_files.h"

namespace {

// How long a folder with nothing in it is left to the run that has just made it.
constexpr uint64_t kEmptyFolderGrace = 60ull * 10'000'000ull;  // in 100-nanosecond units

uint64_t AsInteger(const FILETIME& time) {
    return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

bool IsPlainFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool IsPlainFile(DWORD attributes) {
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool MarkForDeletion(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Opens an entry for deletion without following a link and without sharing: while the handle is
// held nobody else opens, renames or deletes it. Null when it cannot be opened that way (in use).
UniqueFileHandle OpenForDeletion(const std::string& path, bool folder, DWORD share) {
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    const DWORD access = DELETE | FILE_READ_ATTRIBUTES | (folder ? FILE_LIST_DIRECTORY : 0);
    return UniqueFileHandle(
        ::CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
}

bool IsKnownName(const std::string& name) {
    return SameTextAscii(name, kRemovalCopyName) || SameTextAscii(name, kParkedOriginalName);
}

// Lists the folder through its handle (a listing by path would have to open it again) into items,
// when it holds no more than a removal's two files, each a plain file; false for anything else.
bool ListThrough(HANDLE folder, std::vector<TFolderItem>& items) {
    if (!ListFolderItems(folder, items) || items.size() > 2) {
        return false;
    }
    return std::all_of(items.begin(), items.end(), [](const TFolderItem& item) {
        return IsKnownName(item.Name) && IsPlainFile(item.Attributes);
    });
}

int64_t FileIdOf(const BY_HANDLE_FILE_INFORMATION& information) {
    return static_cast<int64_t>((static_cast<uint64_t>(information.nFileIndexHigh) << 32) |
                                information.nFileIndexLow);
}

// Opens the item that a held folder listed, by its path, and checks that what was opened is that
// item (its number as listed): a folder on the way swapped meanwhile would lead elsewhere. Null
// when it cannot be opened so, or is another item or not of its kind.
UniqueFileHandle OpenListed(const std::string& path,
                            const TFolderItem& listed,
                            bool folder,
                            DWORD share,
                            BY_HANDLE_FILE_INFORMATION& information) {
    // From here on the path may lead elsewhere (a folder on the way swapped for a link): only the
    // check of what was opened can tell.
    ListedPoint(path.c_str());
    UniqueFileHandle item = OpenForDeletion(path, folder, share);
    if (!item || !::GetFileInformationByHandle(item.get(), &information) ||
        FileIdOf(information) != listed.FileId ||
        !(folder ? IsPlainFolder(information.dwFileAttributes) : IsPlainFile(information.dwFileAttributes))) {
        return UniqueFileHandle();
    }
    return item;
}

// Removes one removal folder when it holds nothing but what a removal leaves and none of it is in
// use; otherwise leaves it as it is (or, when one of its files went and the other is in use, with
// that file only: the next run finds it again). listed: the folder as the held temporary folder
// lists it.
bool RemoveStaleFolder(const std::string& path, const TFolderItem& listed) {
    // Shared for reading and writing only: the folder cannot be renamed or replaced meanwhile. A
    // run that still uses its folder holds it without sharing its deletion, so this open fails.
    BY_HANDLE_FILE_INFORMATION folderInformation{};
    const UniqueFileHandle folder =
        OpenListed(path, listed, true, FILE_SHARE_READ | FILE_SHARE_WRITE, folderInformation);
    if (!folder) {
        return false;
    }
    std::vector<TFolderItem> names;
    if (!ListThrough(folder.get(), names)) {
        return false;
    }
    if (names.empty()) {
        FILETIME now{};
        ::GetSystemTimeAsFileTime(&now);
        if (AsInteger(now) - AsInteger(folderInformation.ftCreationTime) < kEmptyFolderGrace) {
            return false;
        }
    }
    // Every file is opened (and checked through its handle) before the first is marked, so that a
    // folder whose removal is still running loses nothing but what is already free.
    std::vector<UniqueFileHandle> files;
    for (const TFolderItem& name : names) {
        BY_HANDLE_FILE_INFORMATION information{};
        UniqueFileHandle file =
            OpenListed(AddTrailingBackslash(path) + name.Name, name, false, 0, information);
        if (!file) {
            return false;
        }
        files.push_back(std::move(file));
    }
    for (const UniqueFileHandle& file : files) {
        // A program still running from its file (the waiting uninstaller) cannot be deleted.
        if (!MarkForDeletion(file.get())) {
            return false;
        }
    }
    files.clear();  // the files go as their handles close
    // Fails when anything has come in meanwhile: a folder is never removed with its contents.
    return MarkForDeletion(folder.get());
}

}  // namespace

unsigned RemoveStaleRemovalFoldersIn(const std::string& temporary, const std::string& ownFolder) {
    // The temporary folder is held while its folders are looked at, and listed through its handle:
    // each folder listed is then opened by its path and checked to be the one listed.
    const UniqueFileHandle held(::CreateFileA(temporary.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::vector<TFolderItem> items;
    if (!held || !ListFolderItems(held.get(), items)) {
        return 0;
    }
    const std::string prefix = kRemovalFolderPrefix;
    unsigned removed = 0;
    for (const TFolderItem& item : items) {
        // A link is never followed, whatever its name; the same is checked again through the handle.
        if (!IsPlainFolder(item.Attributes) || !SameTextAscii(item.Name.substr(0, prefix.size()), prefix)) {
            continue;
        }
        const std::string folder = AddTrailingBackslash(temporary) + item.Name;
        if (!ownFolder.empty() && SameFolder(folder, WithoutTrailingBackslash(ownFolder))) {
            continue;
        }
        if (RemoveStaleFolder(folder, item)) {
            ++removed;
        }
    }
    return removed;
}

unsigned RemoveStaleRemovalFolders(const std::string& ownFolder) {
    char path[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof path, path);
    if (length == 0 || length >= sizeof path) {
        return 0;
    }
    return RemoveStaleRemovalFoldersIn(WithoutTrailingBackslash(path), ownFolder);
}
