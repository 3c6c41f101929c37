// Any bytes as the setup's archive, read by the archive component's own walk: the listing, then the
// expansion into a small file system in memory, with the options and handlers that the first byte
// picks. Both must end without a crash, a hang or unbounded memory, whatever the bytes say; the
// expansion writes no more than the file system holds, a selection comes back naming only files
// that were written, and one that an exception interrupts comes back as it was given.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "archive/compress_core.h"
#include "archive/sha256.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "fuzz_util.h"

namespace {

// Bytes that one input may have written in all: the expanded size it can ask for.
constexpr int64_t kDiskSize = 16 * 1024;

// What the first byte of an input switches on.
enum Option : uint8_t {
    kMakeDirectories = 1,
    kExceptionOnFileError = 2,
    kSelection = 4,  // select every other listed name
    kExpandHandler = 8,
    kRecognizeHandler = 16,
    kCheckFileHandler = 32,
    kCancelProgress = 64,
    kKey = 128,
};

// An output file: appends to its bytes while the disk has room, then takes nothing more.
class MemoryFile : public TOutputFile, public TStream {
  public:
    MemoryFile(std::vector<uint8_t>& bytes, int64_t& room) : bytes_(bytes), room_(room) {}
    TStream& Stream() override { return *this; }
    void SetFileDate(uint32_t) override {}

    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        const auto n = static_cast<int32_t>(std::min<int64_t>(std::max(count, 0), room_));
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        bytes_.insert(bytes_.end(), bytes, bytes + n);
        room_ -= n;
        return n;
    }
    int64_t Seek(int64_t, SeekOrigin) override { return static_cast<int64_t>(bytes_.size()); }

  private:
    std::vector<uint8_t>& bytes_;
    int64_t& room_;
};

// The component over a file system in memory whose room is never given back, so that no input can
// make it write more than kDiskSize bytes. A folder name with "|" cannot be made, nor a file whose
// name has "?".
class MemoryCompress : public TCompressCore {
  public:
    MemoryCompress() : TCompressCore(nullptr) {}

    std::map<std::string, std::vector<uint8_t>> files;
    int64_t room = kDiskSize;

  protected:
    int64_t FreeSpaceFor(const std::string&) override { return room; }
    void ForceTargetDirs(std::string dir) override {
        if (dir.find('|') != std::string::npos) {
            throw EInOutError("Cannot create folder " + dir, 5);
        }
    }
    std::unique_ptr<TOutputFile> OpenOutputFile(const std::string& path) override {
        if (path.find('?') != std::string::npos) {
            throw EFCreateError(Format(msg::kCreateError, path.c_str()));
        }
        std::vector<uint8_t>& bytes = files[path];
        bytes.clear();
        return std::make_unique<MemoryFile>(bytes, room);
    }
    void SetAttributes(const std::string&, uint16_t) override {}
    void DeleteOutputFile(const std::string& path) override { files.erase(path); }
};

// The custom coding of this target: every byte XOR 0x5A, read in small blocks.
void ExpandCustom(TStream& dest,
                  TStream& source,
                  int32_t sourceSize,
                  int32_t,
                  const std::string&,
                  int32_t& sum) {
    uint8_t block[512];
    uint32_t total = 0;
    for (int32_t left = sourceSize; left > 0;) {
        const int32_t n = std::min<int32_t>(left, sizeof block);
        source.ReadBuffer(block, n);
        for (int32_t i = 0; i < n; ++i) {
            block[i] ^= 0x5A;
        }
        total = ByteSum(block, static_cast<size_t>(n), total);
        dest.WriteBuffer(block, n);
        left -= n;
    }
    sum = static_cast<int32_t>(total);
}

// Names ending in "s" are skipped, in "*" stop the expansion, in "r" are renamed.
void CheckFile(std::string& path, TCProcessMode) {
    if (path.empty()) {
        return;
    }
    switch (path.back()) {
        case 's':
            path.clear();
            break;
        case '*':
            path = "*";
            break;
        case 'r':
            path += "~";
            break;
        default:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint8_t options = data[0];
    TCustomMemoryStream archive(data + 1, static_cast<int64_t>(size - 1));
    MemoryCompress compress;
    compress.SetTargetPath("C:\\Target");
    compress.MakeDirectories = (options & kMakeDirectories) != 0;
    compress.ExceptionOnFileError = (options & kExceptionOnFileError) != 0;
    compress.Key = (options & kKey) != 0 ? 1234 : 0;
    if (options & kExpandHandler) {
        compress.OnExpand = ExpandCustom;
    }
    if (options & kRecognizeHandler) {
        compress.OnRecognize = [](const std::string&, bool& recognized) { recognized = true; };
    }
    if (options & kCheckFileHandler) {
        compress.OnCheckFile = CheckFile;
    }
    if (options & kCancelProgress) {
        compress.OnShowProgress = [](int32_t& percentage) { percentage = -1; };
    }

    TStringList listed;
    try {
        compress.ListArchiveFiles(archive, listed);
    } catch (const Exception&) {
        // Not an archive the component reads: the expansion must still be safe.
    }
    FUZZ_CHECK(static_cast<size_t>(listed.Count()) <= size / kFileHeaderSize);

    TStringList selection;
    if (options & kSelection) {
        for (int i = 0; i < listed.Count(); i += 2) {
            selection.Add(listed[i]);
        }
    }
    const std::vector<std::string> given = selection.Lines();
    // The check before an installation: it writes nothing, and what it passes decodes without a
    // checksum or key error (unless a handler makes the expansion read differently).
    // The check decodes whatever sizes the headers give, so it runs only on archives whose entries
    // all fit the disk, as the expansion's free-space test bounds its own decoding.
    bool small = true;
    for (int i = 0; i < listed.Count(); ++i) {
        const auto* info = dynamic_cast<const TCompressedFileInfo*>(listed.Objects(i));
        small = small && info != nullptr && info->FullSize <= kDiskSize;
    }
    bool passed = false;
    bool checked = false;
    if (small) {
        try {
            compress.TestArchiveFiles(archive, (options & kSelection) != 0 ? &selection : nullptr);
            passed = true;
        } catch (const EOutOfMemory&) {
            FUZZ_CHECK(false && "an archive made the check run out of memory");
        } catch (const Exception&) {
        }
        // The installation's check pass decodes every entry that an expansion reaches, so what it
        // passes, the test of all entries (or of some) passes too.
        try {
            compress.CheckListedEntries(archive, listed, nullptr);
            FUZZ_CHECK(passed);
            checked = true;
        } catch (const EOutOfMemory&) {
            FUZZ_CHECK(false && "an archive made the check pass run out of memory");
        } catch (const Exception&) {
        }
    }
    FUZZ_CHECK(compress.files.empty());
    // A cancel, a skipped path and a skipped output file make the expansion read other entries.
    const bool sameReading =
        (options & (kCancelProgress | kCheckFileHandler)) == 0 && (options & kExceptionOnFileError) != 0;
    try {
        compress.ExpandArchiveFiles(archive, (options & kSelection) != 0 ? &selection : nullptr);
        FUZZ_CHECK(selection.Count() <= listed.Count());
        for (const std::string& path : selection.Lines()) {
            FUZZ_CHECK(compress.files.count(path) == 1);
        }
    } catch (const EOutOfMemory&) {
        FUZZ_CHECK(false && "an archive made the component run out of memory");
    } catch (const EBadChecksum&) {
        FUZZ_CHECK(!(passed && sameReading));
        FUZZ_CHECK(selection.Lines() == given);
    } catch (const EInvalidKey&) {
        FUZZ_CHECK(!(passed && sameReading));
        FUZZ_CHECK(selection.Lines() == given);
    } catch (const Exception&) {
        FUZZ_CHECK(selection.Lines() == given);
    }
    FUZZ_CHECK(compress.room >= 0);
    // Each listed entry expanded from its listed place: a file is what was measured of it, and an
    // archive that the check pass passed expands in full, entry by entry, while the disk has room.
    for (int i = 0; small && i < listed.Count(); ++i) {
        const auto& info = dynamic_cast<const TCompressedFileInfo&>(*listed.Objects(i));
        const bool fits = compress.room >= info.FullSize;
        try {
            const TCompressCore::TExpandedFile expanded =
                compress.ExpandListedEntry(archive, listed[i], info);
            if (!expanded.Path.empty()) {
                const std::vector<uint8_t>& bytes = compress.files[expanded.Path];
                FUZZ_CHECK(expanded.Size == info.FullSize &&
                           bytes.size() == static_cast<size_t>(expanded.Size));
                const void* start = bytes.empty() ? static_cast<const void*>("") : bytes.data();
                FUZZ_CHECK(expanded.Digest == Sha256Of(start, bytes.size()));
            }
        } catch (const EOutOfMemory&) {
            FUZZ_CHECK(false && "an archive made the expansion of a listed entry run out of memory");
        } catch (const EBadChecksum&) {
            FUZZ_CHECK(!(checked && sameReading && fits));
        } catch (const EInvalidKey&) {
            FUZZ_CHECK(!(checked && sameReading && fits));
        } catch (const EInvalidHeader&) {
            FUZZ_CHECK(!checked);
        } catch (const Exception&) {
        }
    }
    FUZZ_CHECK(compress.room >= 0);
    return 0;
}
