#include "compress.h"

#include <vector>

#include "file_stream.h"
#include "layout.h"
#include "sysutils.h"

namespace {

// The entry's output path: a name that begins with "\" is taken as it is (rooted on the current
// drive), any other name is placed under the target folder.
std::string OutputPath(const std::string& targetPath, const std::string& name) {
    return !name.empty() && name[0] == '\\' ? name : targetPath + name;
}

// Signed 32-bit sums wrap as the archive's integers do.
int32_t WrappingAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// The entries end where their sizes add up to TotalSize, whatever bytes follow. Empty files at the
// end add nothing, so they are still taken: stopping before them would lose them without a word.
bool PastTheLastEntry(const TArchiveHeader& header, int32_t total, const TFileHeader& entry) {
    return total >= header.TotalSize && entry.FullSize != 0;
}

// Takes every byte written and keeps only their count.
class TCountingStream : public TStream {
  public:
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t count) override {
        if (count > 0) {
            written_ += count;
        }
        return count > 0 ? count : 0;
    }
    int64_t Seek(int64_t, SeekOrigin) override { return written_; }
    int64_t Written() const { return written_; }

  private:
    int64_t written_ = 0;
};

}  // namespace

void RegisterArchiveClasses() {
    static const bool registered = [] {
        RegisterComponentClass<TCompress>("TCompress");
        return true;
    }();
    static_cast<void>(registered);
}

bool TCompress::SetProperty(std::string_view name, const TPropValue& value, const TReaderContext& context) {
    if (SameTextAscii(name, "OnCompress")) {
        OnCompress = context.Method<TCompressEvent>(value.AsIdent());
    } else if (SameTextAscii(name, "OnExpand")) {
        OnExpand = context.Method<TExpandEvent>(value.AsIdent());
    } else if (SameTextAscii(name, "OnCheckFile")) {
        OnCheckFile = context.Method<TFilenameCheckEvent>(value.AsIdent());
    } else if (SameTextAscii(name, "OnRecognize")) {
        OnRecognize = context.Method<TRecognizeEvent>(value.AsIdent());
    } else if (SameTextAscii(name, "OnShowProgress")) {
        OnShowProgress = context.Method<TShowProgressEvent>(value.AsIdent());
    } else if (SameTextAscii(name, "TargetPath")) {
        SetTargetPath(value.AsString());
    } else if (SameTextAscii(name, "MakeDirectories")) {
        MakeDirectories = value.AsBoolean();
    } else if (SameTextAscii(name, "ExceptionOnFileError")) {
        ExceptionOnFileError = value.AsBoolean();
    } else if (SameTextAscii(name, "Key")) {
        Key = value.AsInteger();
    } else {
        return TComponent::SetProperty(name, value, context);
    }
    return true;
}

void TCompress::SetTargetPath(const std::string& value) {
    targetPath_ = value;
    if (!value.empty() && value.back() != '\\') {
        targetPath_ += '\\';
    }
}

TCompress::ArchiveInfo TCompress::ReadArchiveHeader(TStream& archive) {
    archive.SetPosition(0);
    ArchiveInfo info;
    if (archive.Size() < kArchiveHeaderSize) {
        // Too short to be an archive: an empty one, validated no further.
        info.header = InitArchiveHeader(cmNone, Key);
        info.methodId = MethodIdentifier(info.header);
        return info;
    }
    uint8_t bytes[kArchiveHeaderSize];
    archive.ReadBuffer(bytes, kArchiveHeaderSize);
    info.header = DecodeArchiveHeader(bytes);
    CheckArchiveContainer(info.header);
    info.methodId = MethodIdentifier(info.header);
    MethodFromID(info.methodId);
    return info;
}

uint8_t TCompress::MethodFromID(const std::string& id) {
    uint8_t method = cmNone;
    if (id == "RLE") {
        method = cmRLE;
    } else if (id == "LZH") {
        method = cmLZH;
    } else if (OnExpand) {
        // Custom coding needs the application's expander; another identifier also needs the
        // application to recognise it.
        bool recognized = id == "CUS";
        if (!recognized && OnRecognize) {
            OnRecognize(id, recognized);
        }
        if (recognized) {
            method = cmCustom;
        }
    }
    if (method == cmNone && id != "NON") {
        throw EUnrecognizedCompressionMethod(msg::kUnrecognizedMethod);
    }
    return method;
}

void TCompress::ListArchiveFiles(TStream& archive, TStringList& list) {
    if (archive.Size() < kArchiveHeaderSize + kFileHeaderSize) {
        return;
    }
    ReadArchiveHeader(archive);
    TFileHeader entry;
    std::string name;
    while (ReadEntryHeader(archive, entry, name)) {
        auto info = std::make_unique<TCompressedFileInfo>();
        info->FileDate = static_cast<int32_t>(entry.FileDate);
        info->Attributes = entry.Attributes;
        info->FullSize = entry.FullSize;
        info->CompressedSize = entry.CompressedSize;
        info->Method = entry.Method;
        info->Checksum = entry.Checksum;
        info->HeaderPos = static_cast<int32_t>(archive.Position() - kFileHeaderSize - entry.NameLength);
        info->Locked = entry.LockFlag > 0;
        list.AddObject(name, std::move(info));
        archive.Seek(entry.CompressedSize, SeekOrigin::Current);
    }
}

void TCompress::ExpandArchiveFiles(TStream& archive, TStringList* selection) {
    std::vector<std::string> written;
    const ArchiveInfo info = ReadArchiveHeader(archive);
    int32_t total = 0;
    TFileHeader entry;
    std::string name;
    while (ReadEntryHeader(archive, entry, name)) {
        if (PastTheLastEntry(info.header, total, entry)) {
            break;
        }
        // Every entry's data ends where the format says, whatever a decoder made of it.
        const int64_t nextEntry = archive.Position() + entry.CompressedSize;
        if (selection != nullptr && selection->IndexOf(name) < 0) {
            archive.SetPosition(nextEntry);
            total = WrappingAdd(total, entry.FullSize);
            continue;
        }
        std::string path = OutputPath(targetPath_, name);
        if (OnCheckFile) {
            OnCheckFile(path, TCProcessMode::Expand);
            if (path.empty()) {
                archive.SetPosition(nextEntry);
                continue;
            }
            if (path == "*") {
                break;
            }
        }
        if (FreeSpaceFor(path) < entry.FullSize) {
            throw EInsufficientDiskSpace(msg::kInsufficientDiskSpace + path);
        }
        if (MakeDirectories) {
            ForceTargetDirs(ExtractFilePath(path));
        }
        std::unique_ptr<TFileStream> output;
        try {
            output = CreateOutputFile(path);
        } catch (const EFCreateError&) {
            if (ExceptionOnFileError) {
                throw;
            }
            archive.SetPosition(nextEntry);
            continue;
        }
        try {
            ExpandFileData(*output, archive, entry, info.methodId, OnShowProgress);
            SetFileDate(*output, entry.FileDate);
        } catch (const EInvalidKey&) {
            // A locked entry is not left behind without its key.
            output.reset();
            DeleteOutputFile(path);
            throw;
        } catch (...) {
            // Other failures leave what was written, with its attributes.
            output.reset();
            SetAttributes(path, entry.Attributes);
            throw;
        }
        output.reset();
        SetAttributes(path, entry.Attributes);
        written.push_back(path);
        archive.SetPosition(nextEntry);
        total = WrappingAdd(total, entry.FullSize);
    }
    if (selection != nullptr) {
        selection->Clear();
        for (std::string& path : written) {
            selection->Add(std::move(path));
        }
    }
}

void TCompress::TestArchiveFiles(TStream& archive, const TStringList* selection) {
    const ArchiveInfo info = ReadArchiveHeader(archive);
    int32_t total = 0;
    TFileHeader entry;
    std::string name;
    while (ReadEntryHeader(archive, entry, name) && !PastTheLastEntry(info.header, total, entry)) {
        const int64_t nextEntry = archive.Position() + entry.CompressedSize;
        if (selection == nullptr || selection->IndexOf(name) >= 0) {
            TCountingStream output;
            ExpandFileData(output, archive, entry, info.methodId, nullptr);
            if (output.Written() != entry.FullSize) {
                throw EBadChecksum(msg::kBadChecksum);
            }
        }
        archive.SetPosition(nextEntry);
        total = WrappingAdd(total, entry.FullSize);
    }
}

void TCompress::ExpandFileData(TStream& output,
                               TStream& archive,
                               const TFileHeader& entry,
                               const std::string& methodId,
                               const TShowProgressEvent& progress) {
    const bool locked = entry.LockFlag > 0;
    if (locked && Key == 0) {
        throw EInvalidKey(msg::kInvalidKey);
    }
    uint32_t checksum = 0;
    switch (entry.Method) {
        case cmNone:
            if (entry.CompressedSize > 0) {
                output.CopyFrom(archive, entry.CompressedSize);
            }
            break;
        case cmRLE:
        case cmLZH:
            RunCodec(progress, output, archive, entry.CompressedSize, entry.FullSize, entry.Method, checksum,
                     true);
            break;
        case cmCustom:
            if (OnExpand) {
                int32_t sum = 0;
                OnExpand(output, archive, entry.CompressedSize, entry.FullSize, methodId, sum);
                checksum = static_cast<uint32_t>(sum);
            }
            break;
        default:  // no coding of this system: nothing is read or written
            break;
    }
    // Stored entries are taken as they are. A locked entry's checksum holds the byte sum plus the key.
    if (entry.Method != cmNone && checksum != entry.Checksum) {
        if (!locked) {
            throw EBadChecksum(msg::kBadChecksum);
        }
        if (checksum + static_cast<uint32_t>(Key) != entry.Checksum) {
            throw EInvalidKey(msg::kInvalidKey);
        }
    }
}
