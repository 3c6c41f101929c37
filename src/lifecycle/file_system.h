// The few file operations that a run's transaction needs inside an installation's folder. The
// transaction engine decides everything and acts only through this interface: on Windows the folder
// object implements it (by handles, never through a link); the tests implement it in memory, where
// it can crash or fail at any chosen operation.
//
// Names are relative to the folder ("." is the folder itself), as the record checks them. What the
// engine relies on:
// - Rename and Remove, MakeFolder and RemoveFolder are durable once they return.
// - Data written to a file is durable only once Flush returns; after a power loss unflushed data
//   may be missing or zero-filled, even in a file that was renamed since.
// - The identity of a file stays with it when it is renamed and is never given to another file
//   while it exists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/sha256.h"

enum class TFsStatus : uint8_t {
    Ok,
    NotFound,  // the item (or the folder it would be in) is not there
    Exists,    // the name is taken
    DiskFull,  // the drive has no room for what is written
    Denied,    // access denied, or a link where a file or folder was expected
    InUse,     // held open by another program
    NotEmpty,  // a folder that still holds items
    Failed,    // any other failure
};

enum class TItemKind : uint8_t { Missing, File, Directory };

struct TItemInfo {
    TItemKind Kind = TItemKind::Missing;
    int64_t Size = 0;
    uint64_t Id = 0;  // the file system's identity of the item
};

// A file open for writing, made by CreateNew or OpenToAppend. Closed when destroyed.
class TFsFile {
  public:
    virtual ~TFsFile() = default;
    virtual TFsStatus Write(std::string_view data) = 0;
    // Makes everything written so far durable.
    virtual TFsStatus Flush() = 0;
    // The identity of the open file (see TItemInfo::Id).
    virtual TFsStatus Identify(uint64_t& id) = 0;
    // Puts the open file itself at the name to, where nothing may be, in one step (as Rename does
    // without replace, durable once it returns).
    virtual TFsStatus MoveTo(std::string_view to) = 0;
};

class TFileSystem {
  public:
    virtual ~TFileSystem() = default;

    // Creates the file name, which must not exist, empty, and opens it for writing.
    virtual TFsStatus CreateNew(std::string_view name, std::unique_ptr<TFsFile>& file) = 0;
    // Opens the existing file name for appending after its first length bytes; what follows them
    // is cut off.
    virtual TFsStatus OpenToAppend(std::string_view name,
                                   uint64_t length,
                                   std::unique_ptr<TFsFile>& file) = 0;
    // Puts the file from in the place of to in one step (replace: a file there is replaced).
    virtual TFsStatus Rename(std::string_view from, std::string_view to, bool replace) = 0;
    // Deletes the file name.
    virtual TFsStatus Remove(std::string_view name) = 0;
    // Makes the folder name (its parent must exist).
    virtual TFsStatus MakeFolder(std::string_view name) = 0;
    // Removes the folder name when it is empty ("." the folder itself).
    virtual TFsStatus RemoveFolder(std::string_view name) = 0;
    // The names of the items in the folder name ("." the folder itself), without "." and "..".
    virtual TFsStatus List(std::string_view name, std::vector<std::string>& names) = 0;
    // What is at name: Missing (with Ok) when nothing is.
    virtual TFsStatus Identify(std::string_view name, TItemInfo& info) = 0;
    // The size and SHA-256 of the file name's contents.
    virtual TFsStatus Measure(std::string_view name, int64_t& size, Sha256Digest& digest) = 0;
    // The whole contents of the file name, when it holds at most limit bytes (else Failed).
    virtual TFsStatus Read(std::string_view name, size_t limit, std::string& contents) = 0;
};
