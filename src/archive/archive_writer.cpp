#include "archive/archive_writer.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "archive/codec_driver.h"
#include "archive/lzh_parallel.h"
#include "framework/exceptions.h"

namespace {
constexpr int64_t kMaxSize = std::numeric_limits<int32_t>::max();
constexpr int32_t kCopyBlock = 64 * 1024;
}  // namespace

void CheckEntryFits(const std::string& name, int64_t size, int64_t totalBefore) {
    if (name.size() > static_cast<size_t>(std::numeric_limits<int16_t>::max())) {
        throw Exception("Entry name longer than 32767 bytes: " + name.substr(0, 64) + "...");
    }
    if (size < 0 || size > kMaxSize || totalBefore + size > kMaxSize) {
        throw Exception("Archive would exceed 2147483647 bytes of expanded data at " + name);
    }
}

ArchiveWriter::ArchiveWriter(TStream& out, uint8_t method, int32_t key, int finders)
    : out_(out),
      headerPos_(out.Position()),
      header_(InitArchiveHeader(method, key)),
      method_(method),
      key_(key),
      finders_(std::max(finders, 1)) {
    if (method != cmNone && method != cmRLE && method != cmLZH) {
        throw Exception("Cannot write entries of method " + std::to_string(method));
    }
    uint8_t bytes[kArchiveHeaderSize];
    EncodeArchiveHeader(header_, bytes);
    out_.WriteBuffer(bytes, kArchiveHeaderSize);
}

uint32_t ArchiveWriter::WriteData(TStream& source, int32_t size) {
    uint32_t sum = 0;
    if (method_ == cmNone) {
        std::vector<uint8_t> buffer(static_cast<size_t>(std::min(size, kCopyBlock)));
        for (int32_t left = size; left > 0;) {
            const int32_t n = source.Read(buffer.data(), std::min(left, kCopyBlock));
            if (n <= 0) {
                break;  // the caller finds the shortfall
            }
            sum = ByteSum(buffer.data(), static_cast<size_t>(n), sum);
            out_.WriteBuffer(buffer.data(), n);
            left -= n;
        }
    } else if (method_ == cmLZH) {
        RunLZHEncode(nullptr, out_, source, size, sum, size >= kParallelMinimum ? finders_ : 1);
    } else {
        RunCodec(nullptr, out_, source, size, size, method_, sum, false);
    }
    return sum;
}

void ArchiveWriter::Add(const std::string& name,
                        TStream& source,
                        int64_t size,
                        uint32_t fileDate,
                        uint16_t attributes) {
    CheckEntryFits(name, size, totalSize_);
    TFileHeader header;
    header.NameLength = static_cast<int16_t>(name.size());
    header.FileDate = fileDate;
    header.Attributes = attributes;
    header.FullSize = static_cast<int32_t>(size);
    header.Method = method_;
    header.LockFlag = key_ > 0 ? 1 : 0;
    uint8_t bytes[kFileHeaderSize];
    const int64_t entryPos = out_.Position();
    EncodeFileHeader(header, bytes);  // CompressedSize and Checksum follow once the data is out
    out_.WriteBuffer(bytes, kFileHeaderSize);
    out_.WriteBuffer(name.data(), header.NameLength);

    const int64_t dataPos = out_.Position();
    const int64_t sourcePos = source.Position();
    const uint32_t sum = WriteData(source, header.FullSize);
    const int64_t taken = source.Position() - sourcePos;
    if (taken != size) {
        throw Exception("Read " + std::to_string(taken) + " of " + std::to_string(size) + " bytes of " +
                        name);
    }
    const int64_t end = out_.Position();
    if (end - dataPos > kMaxSize) {
        throw Exception("Coded data over 2147483647 bytes: " + name);
    }
    header.CompressedSize = static_cast<int32_t>(end - dataPos);
    header.Checksum = key_ > 0 ? sum + static_cast<uint32_t>(key_) : sum;
    EncodeFileHeader(header, bytes);
    out_.SetPosition(entryPos);
    out_.WriteBuffer(bytes, kFileHeaderSize);
    out_.SetPosition(end);
    totalSize_ += header.FullSize;
}

void ArchiveWriter::Add(const std::string& name,
                        const uint8_t* data,
                        size_t size,
                        uint32_t fileDate,
                        uint16_t attributes) {
    CheckEntryFits(name, size > static_cast<size_t>(kMaxSize) ? kMaxSize + 1 : static_cast<int64_t>(size),
                   totalSize_);
    TCustomMemoryStream source(data, static_cast<int64_t>(size));
    Add(name, source, static_cast<int64_t>(size), fileDate, attributes);
}

void ArchiveWriter::Finish() {
    const int64_t end = out_.Position();
    header_.TotalSize = totalSize_;
    uint8_t bytes[kArchiveHeaderSize];
    EncodeArchiveHeader(header_, bytes);
    out_.SetPosition(headerPos_);
    out_.WriteBuffer(bytes, kArchiveHeaderSize);
    out_.SetPosition(end);
}
