#include "archive_reader.h"

#include <algorithm>

namespace {

// Takes every byte and keeps only their count.
class CountingStream : public TStream {
  public:
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t count) override {
        if (count <= 0) {
            return 0;
        }
        size_ += count;
        return count;
    }
    int64_t Seek(int64_t, SeekOrigin) override { return size_; }
    int64_t Size() override { return size_; }

  private:
    int64_t size_ = 0;
};

}  // namespace

TArchiveHeader ReadCheckedArchiveHeader(TStream& archive) {
    archive.SetPosition(0);
    uint8_t bytes[kArchiveHeaderSize];
    if (archive.Read(bytes, kArchiveHeaderSize) != kArchiveHeaderSize) {
        throw EInvalidHeader(msg::kInvalidHeader);
    }
    const TArchiveHeader header = DecodeArchiveHeader(bytes);
    CheckArchiveContainer(header);
    if (MethodFromName(MethodIdentifier(header)) < 0) {
        throw EUnrecognizedCompressionMethod(msg::kUnrecognizedMethod);
    }
    return header;
}

std::vector<ArchiveEntry> ListEntries(TStream& archive) {
    std::vector<ArchiveEntry> entries;
    archive.SetPosition(kArchiveHeaderSize);
    ArchiveEntry entry;
    for (;;) {
        entry.headerPos = archive.Position();
        if (!ReadEntryHeader(archive, entry.header, entry.name)) {
            break;
        }
        entry.dataPos = archive.Position();
        entries.push_back(entry);
        // Each entry moves the walk forward by at least its 25-byte header.
        archive.SetPosition(entry.dataPos + entry.header.CompressedSize);
    }
    return entries;
}

EntryTestResult TestEntry(TStream& archive, const ArchiveEntry& entry, int32_t key) {
    using Status = EntryTestResult::Status;
    EntryTestResult result;
    const TFileHeader& header = entry.header;
    if (header.Method > cmLZH) {
        result.status = Status::Unsupported;
        return result;
    }
    if (header.LockFlag > 0 && key == 0) {
        result.status = Status::KeyRequired;
        return result;
    }
    archive.SetPosition(entry.dataPos);
    CountingStream sink;
    if (header.Method == cmNone) {
        std::vector<uint8_t> buffer(static_cast<size_t>(std::min(header.CompressedSize, 1 << 16)));
        for (int32_t left = header.CompressedSize; left > 0;) {
            const int32_t n = std::min(left, static_cast<int32_t>(buffer.size()));
            archive.ReadBuffer(buffer.data(), n);
            result.checksum = ByteSum(buffer.data(), static_cast<size_t>(n), result.checksum);
            left -= n;
        }
        result.expandedSize = header.CompressedSize;
    } else {
        RunCodec(nullptr, sink, archive, header.CompressedSize, header.FullSize, header.Method,
                 result.checksum, true);
        result.expandedSize = sink.Size();
    }
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
