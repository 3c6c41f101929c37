// Byte streams. A TStream reads and writes at its position; Read and Write report how many bytes
// they moved (a short count is how a stream says it has no more, or no room), while ReadBuffer and
// WriteBuffer insist on the whole count and raise EReadError / EWriteError otherwise.
//
// Sizes of single transfers are signed 32-bit, as in the archive format; positions are 64-bit so
// that no arithmetic on them can wrap. A position may stand anywhere at or after 0 (past the end a
// read delivers nothing); a seek that would go before 0 raises EStreamError.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/object.h"

enum class SeekOrigin { Beginning, Current, End };

// A framework object (its virtual destructor comes from TObject) that cannot be copied.
class TStream : public TObject {
  public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Moves up to count bytes; returns the number moved (0 at the end). count <= 0 moves nothing.
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, SeekOrigin::Beginning); }
    virtual int64_t Size();

    void ReadBuffer(void* buffer, int32_t count);         // EReadError "Stream read error" if short
    void WriteBuffer(const void* buffer, int32_t count);  // EWriteError "Stream write error" if short
    // Copies count bytes from source's position; raises as ReadBuffer/WriteBuffer when either side
    // falls short.
    void CopyFrom(TStream& source, int64_t count);
};

// A read-only stream over memory that someone else owns (a resource, a test's array). Writing
// moves nothing.
class TCustomMemoryStream : public TStream {
  public:
    TCustomMemoryStream(const void* memory, int64_t size)
        : memory_(static_cast<const uint8_t*>(memory)), size_(size) {}

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override { return size_; }
    const uint8_t* Memory() const { return memory_; }

  protected:
    void SetPointer(const uint8_t* memory, int64_t size) {
        memory_ = memory;
        size_ = size;
    }

  private:
    const uint8_t* memory_;
    int64_t size_;
    int64_t position_ = 0;
};

// A growable stream in memory that owns its bytes.
class TMemoryStream : public TStream {
  public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    std::vector<uint8_t> TakeBytes() {
        position_ = 0;
        return std::move(bytes_);
    }
    void Clear() {
        bytes_.clear();
        position_ = 0;
    }

  private:
    std::vector<uint8_t> bytes_;
    int64_t position_ = 0;
};
