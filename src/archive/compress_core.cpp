#include "archive/compress_core.h"

#include <vector>

#include "framework/published.h"
#include "framework/sysutils.h"

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

std::unique_ptr<TCompressedFileInfo> FileInfo(const ArchiveEntry& entry) {
    auto info = std::make_unique<TCompressedFileInfo>();
    info->FileDate = static_cast<int32_t>(entry.header.FileDate);
    info->Attributes = entry.header.Attributes;
    info->FullSize = entry.header.FullSize;
    info->CompressedSize = entry.header.CompressedSize;
    info->Method = entry.header.Method;
    info->Checksum = entry.header.Checksum;
    info->HeaderPos = static_cast<int32_t>(entry.headerPos);
    info->Locked = entry.header.LockFlag > 0;
    return info;
}

}  // namespace

constexpr TPublishedProperty<TCompressCore> kCompressProperties[] = {
    {"OnCompress", Event<&TCompressCore::OnCompress>},
    {"OnExpand", Event<&TCompressCore::OnExpand>},
    {"OnCheckFile", Event<&TCompressCore::OnCheckFile>},
    {"OnRecognize", Event<&TCompressCore::OnRecognize>},
    {"OnShowProgress", Event<&TCompressCore::OnShowProgress>},
    {"TargetPath", Setter<&TCompressCore::SetTargetPath, ReadString>},
    {"MakeDirectories", Stored<&TCompressCore::MakeDirectories, ReadBoolean>},
    {"ExceptionOnFileError", Stored<&TCompressCore::ExceptionOnFileError, ReadBoolean>},
    {"Key", Stored<&TCompressCore::Key, ReadInteger>},
};

bool TCompressCore::SetProperty(std::string_view name,
                                const TPropValue& value,
                                const TReaderContext& context) {
    return SetPublished(*this, kCompressProperties, name, value, context) ||
           TComponent::SetProperty(name, value, context);
}

void TCompressCore::SetTargetPath(const std::string& value) {
    targetPath_ = AddTrailingBackslash(value);
}

TArchiveHeader TCompressCore::ReadArchiveHeader(TStream& archive) {
    archive.SetPosition(0);
    if (archive.Size() < kArchiveHeaderSize) {
        // Too short to be an archive: an empty one, validated no further.
        return InitArchiveHeader(cmNone, Key);
    }
    // Custom entries are expanded by OnExpand: without it, no identifier means custom coding.
    return ::ReadArchiveHeader(archive, static_cast<bool>(OnExpand), OnRecognize);
}

void TCompressCore::ListArchiveFiles(TStream& archive, TStringList& list) {
    if (archive.Size() < kArchiveHeaderSize + kFileHeaderSize) {
        return;
    }
    ReadArchiveHeader(archive);
    ArchiveEntry entry;
    while (ReadNextEntry(archive, entry)) {
        list.AddObject(entry.name, FileInfo(entry));
        archive.SetPosition(entry.NextHeaderPos());
    }
}

void TCompressCore::ExpandArchiveFiles(TStream& archive, TStringList* selection) {
    std::vector<std::string> written;
    const TArchiveHeader header = ReadArchiveHeader(archive);
    const std::string methodId = MethodIdentifier(header);
    int32_t total = 0;
    ArchiveEntry entry;
    while (ReadNextEntry(archive, entry)) {
        const TFileHeader& file = entry.header;
        if (PastTheLastEntry(header, total, file)) {
            break;
        }
        if (selection != nullptr && selection->IndexOf(entry.name) < 0) {
            archive.SetPosition(entry.NextHeaderPos());
            total = WrappingAdd(total, file.FullSize);
            continue;
        }
        std::string path = OutputPath(targetPath_, entry.name);
        if (OnCheckFile) {
            OnCheckFile(path, TCProcessMode::Expand);
            if (path.empty()) {
                archive.SetPosition(entry.NextHeaderPos());
                continue;
            }
            if (path == "*") {
                break;
            }
        }
        if (!ExpandEntryToFile(archive, entry, path, methodId, nullptr)) {
            archive.SetPosition(entry.NextHeaderPos());
            continue;
        }
        written.push_back(path);
        archive.SetPosition(entry.NextHeaderPos());
        total = WrappingAdd(total, file.FullSize);
    }
    if (selection != nullptr) {
        selection->Clear();
        for (std::string& path : written) {
            selection->Add(std::move(path));
        }
    }
}

bool TCompressCore::ExpandEntryToFile(TStream& archive,
                                      const ArchiveEntry& entry,
                                      const std::string& path,
                                      const std::string& methodId,
                                      TExpandedFile* measured) {
    if (CheckSpaceOfEach && FreeSpaceFor(path) < entry.header.FullSize) {
        throw EInsufficientDiskSpace(msg::kInsufficientDiskSpace + path);
    }
    if (MakeDirectories) {
        ForceTargetDirs(ExtractFilePath(path));
    }
    std::unique_ptr<TOutputFile> output;
    try {
        output = OpenOutputFile(path);
    } catch (const EFCreateError&) {
        if (ExceptionOnFileError) {
            throw;
        }
        return false;
    }
    try {
        if (measured != nullptr) {
            DigestingStream digesting(output->Stream());
            ExpandFileData(digesting, archive, entry.header, methodId, OnShowProgress, DecodedAhead);
            measured->Size = digesting.Size();
            measured->Digest = digesting.Digest();
            if (measured->Size != entry.header.FullSize) {
                throw EBadChecksum(msg::kBadChecksum);
            }
        } else {
            ExpandFileData(output->Stream(), archive, entry.header, methodId, OnShowProgress, DecodedAhead);
        }
        output->SetFileDate(entry.header.FileDate);
    } catch (const EInvalidKey&) {
        // A locked entry is not left behind without its key.
        output.reset();
        DeleteOutputFile(path);
        throw;
    } catch (...) {
        // Other failures leave what was written, with its attributes.
        output.reset();
        SetAttributes(path, entry.header.Attributes);
        throw;
    }
    output.reset();
    SetAttributes(path, entry.header.Attributes);
    return true;
}

TCompressCore::TExpandedFile TCompressCore::ExpandListedEntry(TStream& archive,
                                                              const std::string& name,
                                                              const TCompressedFileInfo& info) {
    const std::string methodId = MethodIdentifier(ReadArchiveHeader(archive));
    TExpandedFile expanded;
    ArchiveEntry entry;
    archive.SetPosition(info.HeaderPos);
    if (info.HeaderPos < kArchiveHeaderSize || !ReadNextEntry(archive, entry) || entry.name != name) {
        throw EInvalidHeader(msg::kInvalidHeader);
    }
    std::string path = OutputPath(targetPath_, entry.name);
    if (OnCheckFile) {
        OnCheckFile(path, TCProcessMode::Expand);
        if (path.empty() || path == "*") {
            return expanded;
        }
    }
    if (ExpandEntryToFile(archive, entry, path, methodId, &expanded)) {
        expanded.Path = path;
    }
    return expanded;
}

void TCompressCore::TestArchiveFiles(TStream& archive, const TStringList* selection) {
    const TArchiveHeader header = ReadArchiveHeader(archive);
    const std::string methodId = MethodIdentifier(header);
    int32_t total = 0;
    ArchiveEntry entry;
    while (ReadNextEntry(archive, entry) && !PastTheLastEntry(header, total, entry.header)) {
        if (selection == nullptr || selection->IndexOf(entry.name) >= 0) {
            SummingStream output;
            ExpandFileData(output, archive, entry.header, methodId, nullptr);
            if (output.Size() != entry.header.FullSize) {
                throw EBadChecksum(msg::kBadChecksum);
            }
        }
        archive.SetPosition(entry.NextHeaderPos());
        total = WrappingAdd(total, entry.header.FullSize);
    }
}

void TCompressCore::CheckListedEntries(TStream& archive,
                                       const TStringList& listed,
                                       const std::function<void(const std::string& name)>& onEntry,
                                       bool decode) {
    for (int index = 0; index < listed.Count(); ++index) {
        if (listed.IndexOf(listed[index]) != index) {
            throw EInvalidHeader(msg::kInvalidHeader);
        }
    }
    const TArchiveHeader header = ReadArchiveHeader(archive);
    const std::string methodId = MethodIdentifier(header);
    int32_t total = 0;
    int reached = 0;
    ArchiveEntry entry;
    while (ReadNextEntry(archive, entry) && !PastTheLastEntry(header, total, entry.header)) {
        if (reached >= listed.Count() || entry.name != listed[reached]) {
            throw EInvalidHeader(msg::kInvalidHeader);
        }
        if (onEntry) {
            onEntry(entry.name);
        }
        if (decode) {
            SummingStream output;
            ExpandFileData(output, archive, entry.header, methodId, nullptr);
            if (output.Size() != entry.header.FullSize) {
                throw EBadChecksum(msg::kBadChecksum);
            }
        }
        ++reached;
        archive.SetPosition(entry.NextHeaderPos());
        total = WrappingAdd(total, entry.header.FullSize);
    }
    if (reached != listed.Count()) {
        throw EInvalidHeader(msg::kInvalidHeader);
    }
}

void TCompressCore::ExpandFileData(TStream& output,
                                   TStream& archive,
                                   const TFileHeader& entry,
                                   const std::string& methodId,
                                   const TShowProgressEvent& progress,
                                   DecodeAhead* ahead) {
    if (NeedsKey(entry, Key)) {
        throw EInvalidKey(msg::kInvalidKey);
    }
    uint32_t checksum = 0;
    if (entry.Method == cmCustom) {
        if (OnExpand) {
            int32_t sum = 0;
            OnExpand(output, archive, entry.CompressedSize, entry.FullSize, methodId, sum);
            checksum = static_cast<uint32_t>(sum);
        }
    } else if (entry.Method <= cmLZH) {
        if (ahead == nullptr || !ahead->TakeEntry(archive.Position(), entry, output, progress, checksum)) {
            checksum = ExpandEntryData(output, archive, entry, progress);
        }
    }  // other methods are no coding of this system: nothing is read or written
    // Stored entries are taken as they are.
    if (entry.Method != cmNone) {
        CheckEntryChecksum(entry, checksum, Key);
    }
}
