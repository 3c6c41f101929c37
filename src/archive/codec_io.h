// The buffered byte reader and writer of one codec run.
//
// The reader takes source in blocks of CodecBufferSize bytes, never more than sourceSize bytes in
// all. After each refill it raises the progress event with the percentage of sourceSize taken so
// far (a handler that leaves it below 0 cancels: the read reports the end of input) and yields the
// processor. EndOfInput() is set by a refill that finds nothing or is cancelled and cleared only by
// a refill that delivers bytes; reads served from the loaded block leave it unchanged.
//
// The writer collects output in a CodecBufferSize buffer and writes it to dest when full (after a
// yield) and at FinishOutput; a dest that takes fewer bytes raises EWriteError.
//
// The byte sums of what the reader handed out and what the writer took are formed block by block
// rather than byte by byte; the results are the same.
//
// The byte routines are inline because the codecs call them once per byte.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/codec_progress.h"
#include "framework/stream.h"

class CodecIo {
  public:
    CodecIo(const TShowProgressEvent& progress, TStream& dest, TStream& source, int32_t sourceSize);
    CodecIo(const CodecIo&) = delete;
    CodecIo& operator=(const CodecIo&) = delete;

    // The next input byte, or 0 when there is none; EndOfInput() then tells whether this read
    // counts as the end of input.
    uint8_t ReadByte() {
        if (readPos_ != readEnd_) [[likely]] {
            return *readPos_++;
        }
        return Refill();
    }
    bool EndOfInput() const { return endOfInput_; }

    // The input bytes already loaded and not yet handed out, for a reader that takes several at a
    // time: taking them through TakeLoaded is the same as as many ReadByte calls, none of which
    // could refill.
    size_t LoadedBytes() const { return static_cast<size_t>(readEnd_ - readPos_); }
    const uint8_t* TakeLoaded(size_t n) {
        const uint8_t* from = readPos_;
        readPos_ += n;
        return from;
    }

    void WriteByte(uint8_t b) {
        if (writePos_ == writeEnd_) [[unlikely]] {
            WriteFullBuffer();
        }
        *writePos_++ = b;
    }

    // Room for n more output bytes, to be filled and then committed with CommitOutput(n): the
    // buffer's write position, or nullptr when fewer than n bytes are free (then WriteByte is the
    // way). The same as n calls of WriteByte.
    uint8_t* OutputSpan(int n) { return writeEnd_ - writePos_ >= n ? writePos_ : nullptr; }
    void CommitOutput(int n) { writePos_ += n; }

    // The same as size calls of WriteByte.
    void WriteBytes(const uint8_t* data, size_t size);

    // Writes the bytes still held in the output buffer to dest.
    void FinishOutput();

    uint32_t ReadSum() const;     // sum of every byte handed out by ReadByte
    uint32_t WrittenSum() const;  // sum of every byte taken by WriteByte

  private:
    uint8_t Refill();
    void WriteFullBuffer();

    TShowProgressEvent progress_;
    TStream& dest_;
    TStream& source_;
    std::unique_ptr<uint8_t[]> buffers_;  // input block, then output block
    uint8_t* inBuffer_;
    uint8_t* outBuffer_;
    const uint8_t* readPos_;
    const uint8_t* readEnd_;
    uint8_t* writePos_;
    uint8_t* writeEnd_;
    bool endOfInput_ = false;
    int32_t bytesLeft_;
    int32_t blockSize_ = CodecBufferSize;
    int32_t bytesRead_ = 0;
    uint32_t readSum_ = 0;     // of the blocks handed out before the loaded one
    uint32_t writtenSum_ = 0;  // of the blocks already written to dest
};
