// The archive component's rules, apart from the file system: its properties and events, the
// listing, and the expansion of all entries or a selection into files under TargetPath. It
// validates the headers, checks the free space, has missing folders made, decodes each entry
// (codec driver, or the application's handler for custom coding), verifies its checksum and key,
// and has the file's last-write time and attributes restored. It writes no archives.
//
// What an expansion does to the file system goes through the virtual operations of the
// "file system" section: TCompress (compress.h) carries them out on Win32, the fuzz target in
// memory. The component keeps no state between calls apart from its properties; the archive
// stream belongs to the caller. Every operation starts again at offset 0 of the stream.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/archive_reader.h"
#include "archive/codec_progress.h"
#include "archive/decode_ahead.h"
#include "archive/format.h"
#include "framework/component.h"
#include "framework/exceptions.h"
#include "framework/stream.h"
#include "framework/string_list.h"

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
using TRecognizeEvent = MethodRecognizer;
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
}  // namespace msg

// One output file of an expansion, open for writing while the object lives.
class TOutputFile {
  public:
    virtual ~TOutputFile() = default;
    virtual TStream& Stream() = 0;
    // Sets the file's last-write time from a DOS date-time (local time).
    virtual void SetFileDate(uint32_t dosDateTime) = 0;
};

class TCompressCore : public TComponent {
  public:
    using TComponent::TComponent;

    // Published: OnCompress, OnExpand, OnCheckFile, OnRecognize, OnShowProgress (handler names),
    // TargetPath, MakeDirectories, ExceptionOnFileError, Key.
    bool SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) override;

    // Stores value, with a "\" added when it is not empty and does not end in one.
    void SetTargetPath(const std::string& value);
    const std::string& TargetPath() const { return targetPath_; }

    // Appends one line per entry to list, in archive order: the entry name with a new
    // TCompressedFileInfo. A stream shorter than an archive header and one file header lists
    // nothing and raises nothing. Raises the header errors of the archive header's check.
    void ListArchiveFiles(TStream& archive, TStringList& list);

    // Expands every entry (selection null) or those whose names are in selection (compared ignoring
    // ASCII case). On return selection holds the full paths of the files written, in order; when an
    // exception leaves the operation, selection is left as it was.
    void ExpandArchiveFiles(TStream& archive, TStringList* selection);

    // Decodes every entry (selection null) or those whose names are in selection, as
    // ExpandArchiveFiles would, but writes nothing anywhere, raises no progress and asks no handler
    // about paths. Each entry is checked as an expansion checks it (checksum and key) and its
    // expanded size against its header, so a damaged archive raises here what its expansion would
    // raise (EBadChecksum for a size that differs) before any file is touched.
    void TestArchiveFiles(TStream& archive, const TStringList* selection);

    // The check pass before an installation: one walk over the archive that makes sure that the
    // entries an expansion reaches are exactly the lines of listed (a ListArchiveFiles list), in its
    // order, and, with decode, decodes and checks every entry as TestArchiveFiles does. Raises
    // EInvalidHeader when they are not (an entry that TotalSize leaves out, so that its expansion
    // would write nothing), and when a name comes twice, ignoring ASCII case (a selection by name
    // would write both into one file). onEntry (may be empty) hears each entry's name before it is
    // decoded.
    void CheckListedEntries(TStream& archive,
                            const TStringList& listed,
                            const std::function<void(const std::string& name)>& onEntry,
                            bool decode = true);

    // What expanding one listed entry wrote: the bytes and their SHA-256.
    struct TExpandedFile {
        std::string Path;  // where it went; empty when OnCheckFile skipped the entry or stopped
        int64_t Size = 0;
        Sha256Digest Digest{};
    };
    // Expands the entry that info describes (a line of ListArchiveFiles over the same archive) as
    // ExpandArchiveFiles expands a selected entry (OnCheckFile, free space, folders, the output file,
    // its checksum and key, date and attributes), reading its header at info's HeaderPos instead of
    // walking the archive from the start, and measures what it writes while it writes it. Raises
    // EBadChecksum when the entry expands to another size than its header's, EInvalidHeader when no
    // entry of name stands at HeaderPos.
    TExpandedFile ExpandListedEntry(TStream& archive,
                                    const std::string& name,
                                    const TCompressedFileInfo& info);

    TCompressEvent OnCompress;
    TExpandEvent OnExpand;
    TRecognizeEvent OnRecognize;
    TFilenameCheckEvent OnCheckFile;
    TShowProgressEvent OnShowProgress;
    bool MakeDirectories = false;
    int32_t Key = 0;
    bool ExceptionOnFileError = false;
    // Whether each expanded entry first asks the file system for room (EInsufficientDiskSpace when
    // its expanded size does not fit). A caller that has counted the room of a whole run before
    // its first file turns it off; a drive that fills later still fails the write.
    bool CheckSpaceOfEach = true;
    // When set (and while it lives), an expansion into a file takes the bytes of entries of method
    // 0, 1 and 2 from here instead of decoding them itself, and decodes those it does not find
    // there. The entries' checks are the same; the progress handler cannot cancel such an entry.
    DecodeAhead* DecodedAhead = nullptr;

  protected:
    // The file system.
    //
    // Bytes available for the file at path: the free space of its drive, plus the size of a file
    // already there (it will be replaced). May raise when an existing file cannot be replaced.
    virtual int64_t FreeSpaceFor(const std::string& path) = 0;
    // Creates the folder dir (a trailing "\" allowed) and every missing folder above it; raises
    // EInOutError when one cannot be made.
    virtual void ForceTargetDirs(std::string dir) = 0;
    // The output file at path: a new file or an existing one truncated, opened exclusively for
    // writing. Raises EFCreateError "Cannot create file <path>".
    virtual std::unique_ptr<TOutputFile> OpenOutputFile(const std::string& path) = 0;
    virtual void SetAttributes(const std::string& path, uint16_t attributes) = 0;
    virtual void DeleteOutputFile(const std::string& path) = 0;

  private:
    // The archive header, or for a stream too short to hold one a fresh header: an empty archive.
    TArchiveHeader ReadArchiveHeader(TStream& archive);
    // Expands entry (its data at the stream's position) into the file at path, measuring what it
    // writes into measured when given. False when the output file cannot be created and
    // ExceptionOnFileError is off (nothing written).
    bool ExpandEntryToFile(TStream& archive,
                           const ArchiveEntry& entry,
                           const std::string& path,
                           const std::string& methodId,
                           TExpandedFile* measured);
    // Decodes one entry's data into output and checks its checksum and key; progress (may be empty)
    // hears of each block read. The bytes are taken from ahead (may be null) when it holds the
    // entry whose data stands at the archive's position.
    void ExpandFileData(TStream& output,
                        TStream& archive,
                        const TFileHeader& entry,
                        const std::string& methodId,
                        const TShowProgressEvent& progress,
                        DecodeAhead* ahead = nullptr);

    std::string targetPath_;
};
