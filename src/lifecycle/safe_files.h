// The file operations that an elevated uninstaller does inside an installation's folder. Every
// path is built from the folder and a name checked by IsSafeRelativeName; no link (reparse point:
// symbolic link, junction, mount point) is followed, neither the item itself nor any folder
// between the root and it; a folder is only removed when empty, never with its contents.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/sha256.h"
#include "framework/exceptions.h"
#include "framework/unique_handle.h"
#include "lifecycle/installation_lock.h"

// A name that is not inside the folder, or a path through a link: the message names it and why.
TANDREL_DECLARE_EXCEPTION(EUnsafePath, Exception);

// Whether the item at path is a reparse point; a missing item is not.
bool IsReparsePoint(const std::string& path);

// What the checks ask of an open item: its attributes (a link shows its own), size and identity
// (the file system's number of it). Read without the volume's serial number, which
// GetFileInformationByHandle asks for too, and which costs a round trip to the mount manager under
// Wine for each call. False when they cannot be read.
struct TItemFacts {
    uint32_t Attributes = 0;
    int64_t Size = 0;
    uint64_t Id = 0;
};
bool ReadItemFacts(HANDLE item, TItemFacts& facts);

// The size and the SHA-256 of the contents of an open file, read from its start. False when it
// cannot be read.
bool ReadSizeAndDigest(HANDLE file, int64_t& size, Sha256Digest& digest);

// How the contents of an open file compare with a size and a digest (a record's).
enum class TContents { Same, Changed, Unreadable };

// A file whose size differs is Changed without a byte of it read; one of that size is read from its
// start and hashed (Unreadable when that fails), read in blocks of buffer's size (empty: 64 KB on
// the stack). A larger buffer held for many files spares calls and allocations.
TContents CompareContents(HANDLE file, int64_t size, const Sha256Digest& digest, std::span<char> buffer = {});

// One item of a folder as its listing gives it.
struct TFolderItem {
    std::string Name;  // in the ANSI code page
    uint32_t Attributes = 0;
    int64_t FileId = 0;  // the file system's number of the item
};

// The items of the open folder (without "." and ".."), read through its handle (opened with
// FILE_LIST_DIRECTORY): no path is looked up again, and a folder held open without delete sharing
// can be listed. False when it cannot be read whole.
bool ListFolderItems(HANDLE folder, std::vector<TFolderItem>& items);

// How opening a file for its removal went.
// Elsewhere: what was opened is not the item that the held folder lists under that name (the path
// led somewhere else, as a folder swapped for a link meanwhile would); it was let go of.
enum class TOpenForRemoval { Opened, Missing, InUse, Failed, Elsewhere };

// One file held open for its removal: for reading and deleting, shared with nobody, so that while
// it is held no program can open it or start from it. Closing it without Remove leaves the file
// as it was.
class TRemovableFile {
  public:
    TRemovableFile() = default;
    TRemovableFile(const TRemovableFile&) = delete;
    TRemovableFile& operator=(const TRemovableFile&) = delete;
    ~TRemovableFile() { Close(); }

    // Opens path without following a link at its end. InUse when another process holds it open
    // (or has it mapped as its running program's image, which shows at CanRemove).
    TOpenForRemoval Open(const std::string& path);
    bool IsOpen() const { return static_cast<bool>(handle_); }
    const std::string& Path() const { return path_; }
    // The last system error code of Open, CanRemove or Remove.
    uint32_t LastError() const { return lastError_; }

    // How its contents compare with size and digest (CompareContents), read through the handle;
    // Unreadable when nothing is open.
    TContents Compare(int64_t size, const Sha256Digest& digest, std::span<char> buffer = {});
    // The whole contents, read through the handle (at most limit bytes). False when it cannot be
    // read or is larger.
    bool ReadAll(std::string& contents, size_t limit);
    // The file system's number of the open file; -1 when it cannot be read.
    int64_t FileId() const;
    // Whether the system would delete it: marks it for deletion and takes that back at once. Fails
    // for the image of a running program.
    bool CanRemove();
    // Deletes it (a read-only attribute is cleared first) and closes it. True when it is gone.
    bool Remove();
    // Lets go of the file, as it was (a read-only attribute cleared by Open is put back).
    void Close();

  private:
    bool SetDeletion(bool remove);
    bool SetReadOnly(uint32_t attributes, bool readOnly);

    UniqueFileHandle handle_;
    std::string path_;
    uint32_t lastError_ = 0;
    uint32_t restoreAttributes_ = 0;  // the attributes to put back, when Open cleared read-only
};

// An installation's folder, the root of every name, held open for as long as the object lives.
// Every folder between the root and a name it touches is opened once, never through a link, and
// held without delete sharing: while it is held nobody can rename, remove or replace it, so a path
// checked once keeps naming the same folders until the end of the run. Names are relative to the
// root and checked by IsSafeRelativeName; "." is the root itself. Files are opened without
// following a link at their end, checked and acted on through that same handle. The paths that the
// object builds are for the system calls and for messages only.
class TSafeFolder {
  public:
    // root: an absolute path, a trailing backslash optional. Raises EUnsafePath when the root is a
    // link, is missing or is not a folder.
    explicit TSafeFolder(const std::string& root);
    TSafeFolder(const TSafeFolder&) = delete;
    TSafeFolder& operator=(const TSafeFolder&) = delete;
    TSafeFolder(TSafeFolder&&) = default;
    ~TSafeFolder();
    const std::string& Root() const { return root_; }
    // The root's handle (for its access list).
    HANDLE RootHandle() const;
    // Keeps the installation's lock with the root, so that it lasts as long as the root is held:
    // the root's removal lets go of both, and only then can the folder go. Raises EUnsafePath when
    // the lock is not held or is not of this very folder.
    void KeepLock(TInstallationLock lock);

    // The full path of name ("." is the root). Holds every folder between the root and the item;
    // raises EUnsafePath when name is not a safe relative name, or when one of those folders or the
    // item itself is a link, or a folder of the chain is no folder.
    std::string PathOf(std::string_view name);

    // The full path of name for an item to be made there, which must not exist (a creation that
    // finds anything there, a link included, fails without following it): PathOf's checks of the
    // folders between the root and it, not of the item itself.
    std::string NewItemPath(std::string_view name);

    // Holds the folder name and those above it. False when it (or one above it) is missing; raises
    // as PathOf does when one is a link or a file.
    bool HoldFolder(std::string_view name);

    // Makes the folder name (its parents must exist) with the given access list (nullptr: the
    // system's default) and holds it. True when this call made it, false when it was there.
    // Raises EInOutError "Cannot create folder <path> (<reason>)" when it cannot be made.
    bool MakeFolder(std::string_view name, SECURITY_ATTRIBUTES* security);

    // A new file name, which must not exist yet, open for reading, writing and deleting, shared for
    // reading only. Raises EFCreateError "Cannot create file <path>" (with the reason).
    UniqueFileHandle CreateNewFile(std::string_view name);

    // Puts the open file in the place of name in one step: a file there is replaced when replace
    // is set. The file must be in a held folder of this object. Returns the system error (0: done).
    uint32_t RenameOpenFile(HANDLE file, std::string_view name, bool replace);

    // Moves the file from to the name to (both inside), opening from without following a link.
    // Returns the system error (0: done; ERROR_FILE_NOT_FOUND when from is not there).
    uint32_t MoveFile(std::string_view from, std::string_view to, bool replace);

    // Whether the item name exists (a file or a folder; a link counts).
    bool Exists(std::string_view name);

    // Opens the file name for its removal (see TRemovableFile); PathOf's checks first, and after
    // the opening, that the file opened is the one its held folder lists under that name
    // (Elsewhere when it is not).
    TOpenForRemoval OpenForRemoval(std::string_view name, TRemovableFile& file);

    // Deletes the file name (opened for removal, see TRemovableFile); PathOf's checks first. True
    // when it is gone (also when it was not there).
    bool RemoveFile(std::string_view name);

    // Moves the file name out of the folder to target, a full path on the same drive: a running
    // program's file cannot be deleted, but it can be renamed. PathOf's checks first. True when moved.
    bool MoveOut(std::string_view name, const std::string& target);

    // Has the file name deleted at the next restart; PathOf's checks first. True when scheduled.
    bool RemoveAtRestart(std::string_view name);

    // Removes the folder name ("." the root) when it is empty, through the handle that holds it; it
    // is let go of then. True when it is gone (also when it was not there).
    bool RemoveEmptyFolder(std::string_view name);

    // The names of what folder name ("." the root) holds, without "." and ".."; empty when it
    // cannot be listed. Links are listed like anything else, never entered.
    std::vector<std::string> List(std::string_view name);

  private:
    struct Held;
    // The held folder name (as the key, lower case), opening it when it is not held yet; nullptr
    // when it is missing (missingOk) .
    Held* Hold(const std::string& name, bool missingOk);
    // Whether the held folder lists an item name with the file number id: from the listing read
    // last through its handle, read again when that one does not show it.
    static bool Lists(Held& folder, const std::string& name, int64_t id);

    std::string root_;  // without a trailing backslash
    std::vector<std::unique_ptr<Held>> held_;
    std::optional<TInstallationLock> lock_;
};
