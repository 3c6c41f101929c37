// Reads archives: the archive header with its method identifier, the walk over the entries, and
// the expansion of one entry's data. The archive component and tcompress both read through these.
// An archive damaged in any way never makes them read outside the stream, loop, or allocate more
// than its own size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/codec_driver.h"
#include "archive/format.h"
#include "archive/sha256.h"
#include "framework/stream.h"

// One entry as the walk finds it: its file header, its name and where it stands in the stream.
struct ArchiveEntry {
    TFileHeader header;
    std::string name;
    int64_t headerPos = 0;  // stream offset of the entry's file header
    int64_t dataPos = 0;    // stream offset of its data

    // Where the next entry's header begins: right after this entry's data, whatever a decoder
    // made of that data.
    int64_t NextHeaderPos() const { return dataPos + header.CompressedSize; }
};

// Reads the next entry's file header and name from the archive's current position and leaves the
// stream at the entry's data. Returns false, with the stream standing wherever the attempt left
// it, when the entries end: fewer than 25 bytes left for a header, a negative NameLength, fewer
// than NameLength bytes left for the name, or a negative CompressedSize (seeking over such data
// would walk backwards over the same headers forever).
bool ReadNextEntry(TStream& archive, ArchiveEntry& entry);

// Asked about an archive method identifier that the reader does not know; recognized comes in
// false.
using MethodRecognizer = std::function<void(const std::string& CompressID, bool& recognized)>;

// The method number of an archive's method identifier, compared exactly: "RLE" 1, "LZH" 2. When
// the reader can expand custom entries (customExpander), "CUS" gives 3, and so does any other
// identifier that recognize (if given) accepts. "NON" gives 0 unless recognize took it as custom.
// Any other identifier raises EUnrecognizedCompressionMethod.
uint8_t MethodFromID(const std::string& id, bool customExpander, const MethodRecognizer& recognize);

// Reads the archive header from offset 0 and checks it: EInvalidHeader for a stream shorter than
// the header or without the signature, EInvalidHeaderArchiveType when ArchiveType is not caMulti,
// and the errors of MethodFromID for its identifier. Leaves the stream at the first entry.
TArchiveHeader ReadArchiveHeader(TStream& archive, bool customExpander, const MethodRecognizer& recognize);

// ReadArchiveHeader as a reader that lists and tests entries sees it: "CUS" archives are read,
// their custom entries cannot be expanded.
TArchiveHeader ReadCheckedArchiveHeader(TStream& archive);

// Every entry after the archive header, in archive order, up to the end of the entries.
std::vector<ArchiveEntry> ListEntries(TStream& archive);

// Expands the data of an entry of method 0 (stored: copied unchanged), 1 or 2 (through the codec
// driver, raising progress) from the archive's position into output, and returns the byte sum that
// the codec driver computed (0 for stored data, which is not summed). Stored data that runs past
// the end of the stream raises EReadError; an output that takes fewer bytes raises EWriteError.
uint32_t ExpandEntryData(TStream& output,
                         TStream& archive,
                         const TFileHeader& header,
                         const TShowProgressEvent& progress);

// Takes every byte written to it and keeps only their count and their byte sum: the output of an
// expansion that is checked, not kept.
class SummingStream : public TStream {
  public:
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t, SeekOrigin) override { return size_; }
    int64_t Size() override { return size_; }
    uint32_t Sum() const { return sum_; }

  private:
    int64_t size_ = 0;
    uint32_t sum_ = 0;
};

// Passes every byte written to it on to target and keeps the count and the SHA-256 of the bytes
// that target took: a file is written and measured in one pass, never read back. Its position is
// that count.
class DigestingStream : public TStream {
  public:
    explicit DigestingStream(TStream& target) : target_(target) {}
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t, SeekOrigin) override { return size_; }
    int64_t Size() override { return size_; }
    // The digest of every byte taken; the stream takes nothing more once it is asked.
    Sha256Digest Digest();

  private:
    TStream& target_;
    Sha256 sha_;
    Sha256Digest digest_{};
    int64_t size_ = 0;
    bool finished_ = false;
};

// What testing one entry found.
struct EntryTestResult {
    enum class Status { Ok, BadChecksum, KeyRequired, WrongKey, SizeMismatch, DataMismatch, Unsupported };
    Status status = Status::Ok;
    uint32_t checksum = 0;  // byte sum of the expanded data
    int64_t expandedSize = 0;
    int64_t consumed = 0;  // bytes of coded data the codec took
};

// Expands the entry's data in memory, discarding the bytes, and checks its byte sum (also for
// stored entries), its expanded size, that the codec took exactly CompressedSize bytes and, for a
// locked entry, the key. Stored data that runs past the end of the stream raises EReadError.
// Custom entries are Unsupported.
EntryTestResult TestEntry(TStream& archive, const ArchiveEntry& entry, int32_t key);

const char* EntryStatusText(EntryTestResult::Status status);
