#include "archive/archive_reader.h"

int32_t SummingStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) {
        return 0;
    }
    sum_ = ByteSum(static_cast<const uint8_t*>(buffer), static_cast<size_t>(count), sum_);
    size_ += count;
    return count;
}

int32_t DigestingStream::Write(const void* buffer, int32_t count) {
    if (count <= 0 || finished_) {
        return 0;
    }
    const int32_t taken = target_.Write(buffer, count);
    if (taken > 0) {
        sha_.Update(buffer, static_cast<size_t>(taken));
        size_ += taken;
    }
    return taken;
}

Sha256Digest DigestingStream::Digest() {
    if (!finished_) {
        finished_ = true;
        digest_ = sha_.Final();
    }
    return digest_;
}

bool ReadNextEntry(TStream& archive, ArchiveEntry& entry) {
    entry.headerPos = archive.Position();
    uint8_t bytes[kFileHeaderSize];
    if (archive.Read(bytes, kFileHeaderSize) != kFileHeaderSize) {
        return false;
    }
    entry.header = DecodeFileHeader(bytes);
    const int16_t nameLength = entry.header.NameLength;
    if (nameLength < 0) {
        return false;
    }
    entry.name.assign(static_cast<size_t>(nameLength), '\0');
    if (archive.Read(entry.name.data(), nameLength) != nameLength) {
        return false;
    }
    entry.dataPos = archive.Position();
    return entry.header.CompressedSize >= 0;
}

uint8_t MethodFromID(const std::string& id, bool customExpander, const MethodRecognizer& recognize) {
    const int named = MethodFromName(id);
    if (named == cmRLE || named == cmLZH) {
        return static_cast<uint8_t>(named);
    }
    if (customExpander) {
        // Custom coding needs an expander; any other identifier also needs someone to recognise it.
        bool recognized = named == cmCustom;
        if (!recognized && recognize) {
            recognize(id, recognized);
        }
        if (recognized) {
            return cmCustom;
        }
    }
    if (named != cmNone) {
        throw EUnrecognizedCompressionMethod(msg::kUnrecognizedMethod);
    }
    return cmNone;
}

TArchiveHeader ReadArchiveHeader(TStream& archive, bool customExpander, const MethodRecognizer& recognize) {
    archive.SetPosition(0);
    uint8_t bytes[kArchiveHeaderSize];
    if (archive.Read(bytes, kArchiveHeaderSize) != kArchiveHeaderSize) {
        throw EInvalidHeader(msg::kInvalidHeader);
    }
    const TArchiveHeader header = DecodeArchiveHeader(bytes);
    CheckArchiveContainer(header);
    MethodFromID(MethodIdentifier(header), customExpander, recognize);
    return header;
}

TArchiveHeader ReadCheckedArchiveHeader(TStream& archive) {
    return ReadArchiveHeader(archive, true, nullptr);
}

std::vector<ArchiveEntry> ListEntries(TStream& archive) {
    std::vector<ArchiveEntry> entries;
    archive.SetPosition(kArchiveHeaderSize);
    ArchiveEntry entry;
    while (ReadNextEntry(archive, entry)) {
        entries.push_back(entry);
        // Each entry moves the walk forward by at least its 25-byte header.
        archive.SetPosition(entry.NextHeaderPos());
    }
    return entries;
}

uint32_t ExpandEntryData(TStream& output,
                         TStream& archive,
                         const TFileHeader& header,
                         const TShowProgressEvent& progress) {
    uint32_t checksum = 0;
    if (header.Method == cmNone) {
        output.CopyFrom(archive, header.CompressedSize);
    } else {
        RunCodec(progress, output, archive, header.CompressedSize, header.FullSize, header.Method, checksum,
                 true);
    }
    return checksum;
}

EntryTestResult TestEntry(TStream& archive, const ArchiveEntry& entry, int32_t key) {
    using Status = EntryTestResult::Status;
    EntryTestResult result;
    const TFileHeader& header = entry.header;
    if (header.Method > cmLZH) {
        result.status = Status::Unsupported;
        return result;
    }
    if (NeedsKey(header, key)) {
        result.status = Status::KeyRequired;
        return result;
    }
    archive.SetPosition(entry.dataPos);
    SummingStream sink;
    ExpandEntryData(sink, archive, header, nullptr);
    result.checksum = sink.Sum();
    result.expandedSize = sink.Size();
    result.consumed = archive.Position() - entry.dataPos;
    if (!ChecksumMatches(header, result.checksum, key)) {
        result.status = header.LockFlag > 0 ? Status::WrongKey : Status::BadChecksum;
    } else if (result.expandedSize != header.FullSize) {
        result.status = Status::SizeMismatch;
    } else if (result.consumed != header.CompressedSize) {
        result.status = Status::DataMismatch;
    }
    return result;
}

const char* EntryStatusText(EntryTestResult::Status status) {
    switch (status) {
        case EntryTestResult::Status::Ok:
            return "OK";
        case EntryTestResult::Status::BadChecksum:
            return msg::kBadChecksum;
        case EntryTestResult::Status::KeyRequired:
        case EntryTestResult::Status::WrongKey:
            return msg::kInvalidKey;
        case EntryTestResult::Status::SizeMismatch:
            return "Expanded size differs from the entry's FullSize";
        case EntryTestResult::Status::DataMismatch:
            return "Coded data does not end where the entry's CompressedSize says";
        case EntryTestResult::Status::Unsupported:
            return "Custom method: cannot be expanded here";
    }
    return "";
}
