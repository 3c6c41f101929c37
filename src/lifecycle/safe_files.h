// The file operations that an elevated uninstaller does inside an installation's folder. Every
// path is built from the folder and a name checked by IsSafeRelativeName; no link (reparse point:
// symbolic link, junction, mount point) is followed, neither the item itself nor any folder
// between the root and it; a folder is only removed when empty, never with its contents.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/sha256.h"
#include "framework/exceptions.h"
#include "framework/unique_handle.h"

// A name that is not inside the folder, or a path through a link: the message names it and why.
TANDREL_DECLARE_EXCEPTION(EUnsafePath, Exception);

// Whether the item at path is a reparse point; a missing item is not.
bool IsReparsePoint(const std::string& path);

// The size and the SHA-256 of the contents of an open file, read from its start. False when it
// cannot be read.
bool ReadSizeAndDigest(HANDLE file, int64_t& size, Sha256Digest& digest);

// How opening a file for its removal went.
enum class TOpenForRemoval { Opened, Missing, InUse, Failed };

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

    // The file's size and the SHA-256 of its contents, read through the handle. False when it
    // cannot be read.
    bool Measure(int64_t& size, Sha256Digest& digest);
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

// An installation's folder, the root of every name.
class TSafeFolder {
  public:
    // root: an absolute path, a trailing backslash optional. Raises EUnsafePath when the root itself
    // is a reparse point.
    explicit TSafeFolder(const std::string& root);
    const std::string& Root() const { return root_; }

    // The full path of name ("." is the root). Raises EUnsafePath when name is not a safe relative
    // name, or when a folder between the root and it, or the item itself, is a reparse point.
    std::string PathOf(std::string_view name) const;

    // Opens the file name for its removal (see TRemovableFile); PathOf's checks first.
    TOpenForRemoval OpenForRemoval(std::string_view name, TRemovableFile& file) const;

    // Deletes the file name (opened for removal, see TRemovableFile); PathOf's checks first. True
    // when it is gone (also when it was not there).
    bool RemoveFile(std::string_view name) const;

    // Moves the file name out of the folder to target, a full path on the same drive: a running
    // program's file cannot be deleted, but it can be renamed. PathOf's checks first. True when moved.
    bool MoveOut(std::string_view name, const std::string& target) const;

    // Has the file name deleted at the next restart; PathOf's checks first. True when scheduled.
    bool RemoveAtRestart(std::string_view name) const;

    // Removes the folder name ("." the root) when it is empty and not a link; PathOf's checks first.
    // True when it is gone (also when it was not there).
    bool RemoveEmptyFolder(std::string_view name) const;

    // The names of what folder name ("." the root) holds, without "." and ".."; empty when it
    // cannot be listed. Links are listed like anything else, never entered.
    std::vector<std::string> List(std::string_view name) const;

  private:
    std::string root_;  // without a trailing backslash
};
