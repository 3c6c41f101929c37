// TCompress: the archive component on the Win32 file system. It opens an archive stored as a
// resource of type "TCOMPRESS", and carries out what the listing and expansion of TCompressCore
// (compress_core.h) ask of the file system: free space, folders, output files, their time stamps
// and attributes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/compress_core.h"
#include "framework/stream.h"
#include "framework/unique_handle.h"

class TFileStream;

namespace msg {
inline constexpr const char kCouldNotLoadLibrary[] = "Could not load %s DLL";
}  // namespace msg

inline constexpr const char kArchiveResourceType[] = "TCOMPRESS";

// Makes TCompress known to the layout reader's class registry (once; later calls do nothing).
void RegisterArchiveClasses();

class TCompress : public TCompressCore {
  public:
    using TCompressCore::TCompressCore;

    const char* ClassName() const override { return "TCompress"; }

    // A read-only stream over the "TCOMPRESS" resource resName of the program's own module (libName
    // empty) or of the library libName, read in place; the library stays loaded while the stream
    // lives. Raises Exception "Could not load <libName> DLL" or EResNotFound.
    std::unique_ptr<TStream> LoadArchiveResource(const std::string& resName, const std::string& libName);

    // When set, opens each output file instead of the component: path is where the expansion
    // writes, the result the file it writes into (it may exist already, made by the caller with a
    // name that did not exist; the component then does not open it to see whether it can be
    // replaced).
    std::function<UniqueFileHandle(const std::string& path)> OnOpenOutput;

  protected:
    // Bytes free on a drive (1 = A:, 2 = B:, ...; 0 = the current drive), or -1 when the system
    // cannot say. Tests substitute a figure of their own.
    virtual int64_t DiskFreeBytes(int drive);
    // The output file at path: a new file or an existing one truncated, opened exclusively for
    // writing. Raises EFCreateError "Cannot create file <path>". Tests substitute a stream that
    // runs out of room.
    virtual std::unique_ptr<TFileStream> CreateOutputFile(const std::string& path);

    // The drive of path (a relative, rooted or network path: the current drive), and the existing
    // file's size. Opening the existing file for writing raises EInOutError when it cannot be
    // replaced (read-only, or in use).
    int64_t FreeSpaceFor(const std::string& path) override;
    void ForceTargetDirs(std::string dir) override;
    std::unique_ptr<TOutputFile> OpenOutputFile(const std::string& path) override;
    void SetAttributes(const std::string& path, uint16_t attributes) override;
    void DeleteOutputFile(const std::string& path) override;
};
