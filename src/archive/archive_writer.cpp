#include "archive_writer.h"

#include <limits>

#include "codec_driver.h"
#include "exceptions.h"

namespace {
constexpr int64_t kMaxSize = std::numeric_limits<int32_t>::max();
}

ArchiveWriter::ArchiveWriter(TStream& out, uint8_t method, int32_t key)
    : out_(out),
      headerPos_(out.Position()),
      header_(InitArchiveHeader(method, key)),
      method_(method),
      key_(key) {
    if (method != cmNone && method != cmRLE && method != cmLZH) {
        throw Exception("Cannot write entries of method " + std::to_string(method));
    }
    uint8_t bytes[kArchiveHeaderSize];
    EncodeArchiveHeader(header_, bytes);
    out_.WriteBuffer(bytes, kArchiveHeaderSize);
}

void ArchiveWriter::Add(const std::string& name,
                        const uint8_t* data,
                        size_t size,
                        uint32_t fileDate,
                        uint16_t attributes) {
    if (name.size() > static_cast<size_t>(std::numeric_limits<int16_t>::max())) {
        throw Exception("Entry name longer than 32767 bytes: " + name.substr(0, 64) + "...");
    }
    if (size > static_cast<uint64_t>(kMaxSize) || totalSize_ + static_cast<int64_t>(size) > kMaxSize) {
        throw Exception("Archive would exceed 2147483647 bytes of expanded data at " + name);
    }
    const auto fullSize = static_cast<int32_t>(size);

    TMemoryStream coded;
    uint32_t sum = 0;
    const uint8_t* stored = data;
    int64_t storedSize = fullSize;
    if (method_ == cmNone) {
        sum = ByteSum(data, size);
    } else {
        TCustomMemoryStream source(data, fullSize);
        RunCodec(nullptr, coded, source, fullSize, fullSize, method_, sum, false);
        stored = coded.Bytes().data();
        storedSize = static_cast<int64_t>(coded.Bytes().size());
        if (storedSize > kMaxSize) {
            throw Exception("Coded data over 2147483647 bytes: " + name);
        }
    }

    TFileHeader header;
    header.NameLength = static_cast<int16_t>(name.size());
    header.FileDate = fileDate;
    header.Attributes = attributes;
    header.FullSize = fullSize;
    header.CompressedSize = static_cast<int32_t>(storedSize);
    header.Method = method_;
    header.Checksum = key_ > 0 ? sum + static_cast<uint32_t>(key_) : sum;
    header.LockFlag = key_ > 0 ? 1 : 0;
    uint8_t bytes[kFileHeaderSize];
    EncodeFileHeader(header, bytes);
    out_.WriteBuffer(bytes, kFileHeaderSize);
    out_.WriteBuffer(name.data(), header.NameLength);
    out_.WriteBuffer(stored, header.CompressedSize);
    totalSize_ += fullSize;
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
