#include "framework/stream.h"

#include <algorithm>
#include <cstring>

#include "framework/exceptions.h"

namespace {

// New position of a seek, or EStreamError when it would lie before the start.
int64_t SeekTarget(int64_t position, int64_t size, int64_t offset, SeekOrigin origin) {
    int64_t base = 0;
    switch (origin) {
        case SeekOrigin::Beginning:
            base = 0;
            break;
        case SeekOrigin::Current:
            base = position;
            break;
        case SeekOrigin::End:
            base = size;
            break;
    }
    if (offset < 0 ? base < -offset : false) {
        throw EStreamError("Invalid stream position");
    }
    return base + offset;
}

// Bytes that can be read at position from a stream of size, at most count.
int32_t Available(int64_t position, int64_t size, int32_t count) {
    if (count <= 0 || position >= size) {
        return 0;
    }
    return static_cast<int32_t>(std::min<int64_t>(count, size - position));
}

}  // namespace

int64_t TStream::Size() {
    const int64_t here = Seek(0, SeekOrigin::Current);
    const int64_t size = Seek(0, SeekOrigin::End);
    Seek(here, SeekOrigin::Beginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int32_t count) {
    if (count > 0 && Read(buffer, count) != count) {
        throw EReadError(msg::kReadError);
    }
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
    if (count > 0 && Write(buffer, count) != count) {
        throw EWriteError(msg::kWriteError);
    }
}

void TStream::CopyFrom(TStream& source, int64_t count) {
    constexpr int32_t kChunk = 64 * 1024;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(count, 0), kChunk)));
    while (count > 0) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(count, kChunk));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        count -= n;
    }
}

int32_t TCustomMemoryStream::Read(void* buffer, int32_t count) {
    const int32_t n = Available(position_, size_, count);
    if (n > 0) {
        std::memcpy(buffer, memory_ + position_, static_cast<size_t>(n));
        position_ += n;
    }
    return n;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
    position_ = SeekTarget(position_, size_, offset, origin);
    return position_;
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
    const int32_t n = Available(position_, Size(), count);
    if (n > 0) {
        std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
        position_ += n;
    }
    return n;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) {
        return 0;
    }
    const auto end = static_cast<size_t>(position_) + static_cast<size_t>(count);
    if (end > bytes_.size()) {
        bytes_.resize(end);
    }
    std::memcpy(bytes_.data() + position_, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
    position_ = SeekTarget(position_, Size(), offset, origin);
    return position_;
}
