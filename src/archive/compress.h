// TCompress: the archive component. It opens an archive stored as a resource of type "TCOMPRESS",
// lists the entries of an archive stream and expands all of them, or a selection, into files under
// TargetPath: it validates the headers, checks the free disk space, creates missing folders,
// decodes each entry (codec driver, or the application's handler for custom coding), verifies its
// checksum and key, and restores the file's last-write time and attributes. It writes no archives.
//
// The component keeps no state between calls apart from its properties; the archive stream belongs
// to the caller. Every operation starts again at offset 0 of the stream.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "codec_driver.h"
#include "component.h"
#include "exceptions.h"
#include "format.h"
#include "stream.h"
#include "string_list.h"

class TFileStream;

// What an OnCheckFile handler is asked about; expansion passes Expand (ordinal 1).
enum class TCProcessMode : uint8_t { Compress = 0, Expand = 1 };

// Declared for archive writing, which this program does not do; never raised.
using TCompressEvent = std::function<
    void(TStream& dest, TStream& source, std::string& CompressID, int32_t& Outputsize, int32_t& checksum)>;
// Expands one entry of the custom method: reads exactly Sourcesize bytes from source, writes the
// expanded bytes to dest and sets checksum to their byte sum.
using TExpandEvent = std::function<void(TStream& dest,
                                        TStream& source,
                                        int32_t Sourcesize,
                                        int32_t Destsize,
                                        const std::string& CompressID,
                                        int32_t& checksum)>;
// May accept an archive method identifier that the component does not know (recognized comes in
// false); the entries are then expanded by OnExpand.
using TRecognizeEvent = std::function<void(const std::string& CompressID, bool& recognized)>;
// Sees each output path before anything is done for it: may change it, empty it (the entry is
// skipped) or set it to "*" (the expansion stops there).
using TFilenameCheckEvent = std::function<void(std::string& filepath, TCProcessMode mode)>;

// What the listing attaches to each entry name: the entry's file header and where it stands.
class TCompressedFileInfo : public TObject {
  public:
    int32_t FileDate = 0;
    uint16_t Attributes = 0;
    int32_t FullSize = 0;
    int32_t CompressedSize = 0;
    uint8_t Method = 0;
    uint32_t Checksum = 0;
    int32_t HeaderPos = 0;  // stream offset of the entry's file header
    bool Locked = false;    // the entry's LockFlag > 0
};

TANDREL_DECLARE_EXCEPTION(EInsufficientDiskSpace, Exception);

namespace msg {
inline constexpr const char kInsufficientDiskSpace[] = "Not enough disk space to expand ";
inline constexpr const char kCouldNotLoadLibrary[] = "Could not load %s DLL";
}  // namespace msg

inline constexpr const char kArchiveResourceType[] = "TCOMPRESS";

// Makes TCompress known to the layout reader's class registry (once; later calls do nothing).
void RegisterArchiveClasses();

class TCompress : public TComponent {
  public:
    using TComponent::TComponent;

    const char* ClassName() const override { return "TCompress"; }
    // Published: OnCompress, OnExpand, OnCheckFile, OnRecognize, OnShowProgress (handler names),
    // TargetPath, MakeDirectories, ExceptionOnFileError, Key.
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

    // Stores value, with a "\" added when it is not empty and does not end in one.
    void SetTargetPath(const std::string& value);
    const std::string& TargetPath() const { return targetPath_; }

    // A read-only stream over the "TCOMPRESS" resource resName of the program's own module (libName
    // empty) or of the library libName, read in place; the library stays loaded while the stream
    // lives. Raises Exception "Could not load <libName> DLL" or EResNotFound.
    std::unique_ptr<TStream> LoadArchiveResource(const std::string& resName, const std::string& libName);

    // Appends one line per entry to list, in archive order: the entry name with a new
    // TCompressedFileInfo. A stream shorter than an archive header and one file header lists
    // nothing and raises nothing. Raises the header errors of ReadArchiveHeader.
    void ListArchiveFiles(TStream& archive, TStringList& list);

    // Expands every entry (selection null) or those whose names are in selection (compared ignoring
    // ASCII case). On return selection holds the full paths of the files written, in order; when an
    // exception leaves the operation, selection is left as it was.
    void ExpandArchiveFiles(TStream& archive, TStringList* selection);

    // Decodes every entry (selection null) or those whose names are in selection, as
    // ExpandArchiveFiles would, but writes nothing anywhere, raises no progress and asks no handler
    // about paths. Each
    // entry is checked as an expansion checks it (checksum and key) and its expanded size against
    // its header, so a damaged archive raises here what its expansion would raise (EBadChecksum for
    // a size that differs) before any file is touched.
    void TestArchiveFiles(TStream& archive, const TStringList* selection);

    TCompressEvent OnCompress;
    TExpandEvent OnExpand;
    TRecognizeEvent OnRecognize;
    TFilenameCheckEvent OnCheckFile;
    TShowProgressEvent OnShowProgress;
    bool MakeDirectories = false;
    int32_t Key = 0;
    bool ExceptionOnFileError = false;

  protected:
    // Bytes free on a drive (1 = A:, 2 = B:, ...; 0 = the current drive), or -1 when the system
    // cannot say. Tests substitute a figure of their own.
    virtual int64_t DiskFreeBytes(int drive);
    // The output file at path: a new file or an existing one truncated, opened exclusively for
    // writing. Raises EFCreateError "Cannot create file <path>". Tests substitute a stream that
    // runs out of room.
    virtual std::unique_ptr<TFileStream> CreateOutputFile(const std::string& path);

  private:
    struct ArchiveInfo {
        TArchiveHeader header;
        std::string methodId;
    };

    ArchiveInfo ReadArchiveHeader(TStream& archive);
    uint8_t MethodFromID(const std::string& id);
    // Decodes one entry's data into output and checks its checksum and key; progress (may be empty)
    // hears of each block read.
    void ExpandFileData(TStream& output,
                        TStream& archive,
                        const TFileHeader& entry,
                        const std::string& methodId,
                        const TShowProgressEvent& progress);

    // Platform part (compress_win32.cpp).
    int64_t FreeSpaceFor(const std::string& path);
    void ForceTargetDirs(std::string dir);
    static void SetFileDate(TFileStream& file, uint32_t dosDateTime);
    static void SetAttributes(const std::string& path, uint16_t attributes);
    static void DeleteOutputFile(const std::string& path);

    std::string targetPath_;
};
