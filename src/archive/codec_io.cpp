#include "archive/codec_io.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "archive/format.h"
#include "framework/exceptions.h"

CodecIo::CodecIo(const TShowProgressEvent& progress, TStream& dest, TStream& source, int32_t sourceSize)
    : progress_(progress),
      dest_(dest),
      source_(source),
      buffers_(new uint8_t[2 * CodecBufferSize]),
      inBuffer_(buffers_.get()),
      outBuffer_(buffers_.get() + CodecBufferSize),
      readPos_(inBuffer_),
      readEnd_(inBuffer_),
      writePos_(outBuffer_),
      writeEnd_(outBuffer_ + CodecBufferSize),
      bytesLeft_(sourceSize) {}

uint8_t CodecIo::Refill() {
    readSum_ = ByteSum(inBuffer_, static_cast<size_t>(readPos_ - inBuffer_), readSum_);
    readPos_ = readEnd_ = inBuffer_;
    endOfInput_ = true;
    // A negative budget, like an empty one, lets nothing be read.
    if (bytesLeft_ <= 0) {
        return 0;
    }
    if (blockSize_ > bytesLeft_) {
        blockSize_ = bytesLeft_;
    }
    int32_t n = source_.Read(inBuffer_, blockSize_);
    if (n <= 0) {
        return 0;
    }
    if (n > blockSize_) {  // a stream that claims more than it was asked for
        n = blockSize_;
    }
    bytesLeft_ -= n;
    readEnd_ = inBuffer_ + n;
    if (progress_) {
        bytesRead_ += n;
        // In 64 bits: the product overflows 32 bits beyond about 21 MB read.
        int32_t percentage = static_cast<int32_t>(static_cast<int64_t>(bytesRead_) * 100 /
                                                  (static_cast<int64_t>(bytesRead_) + bytesLeft_));
        progress_(percentage);
        if (percentage < 0) {
            return 0;
        }
    }
    std::this_thread::yield();
    endOfInput_ = false;
    return *readPos_++;
}

void CodecIo::WriteFullBuffer() {
    std::this_thread::yield();
    writtenSum_ = ByteSum(outBuffer_, CodecBufferSize, writtenSum_);
    if (dest_.Write(outBuffer_, CodecBufferSize) != CodecBufferSize) {
        throw EWriteError(msg::kWriteError);
    }
    writePos_ = outBuffer_;
}

void CodecIo::WriteBytes(const uint8_t* data, size_t size) {
    while (size > 0) {
        if (writePos_ == writeEnd_) {
            WriteFullBuffer();
        }
        const size_t n = std::min(size, static_cast<size_t>(writeEnd_ - writePos_));
        std::memcpy(writePos_, data, n);
        writePos_ += n;
        data += n;
        size -= n;
    }
}

void CodecIo::FinishOutput() {
    const auto n = static_cast<int32_t>(writePos_ - outBuffer_);
    if (n > 0) {
        writtenSum_ = ByteSum(outBuffer_, static_cast<size_t>(n), writtenSum_);
        writePos_ = outBuffer_;
        if (dest_.Write(outBuffer_, n) != n) {
            throw EWriteError(msg::kWriteError);
        }
    }
}

uint32_t CodecIo::ReadSum() const {
    return ByteSum(inBuffer_, static_cast<size_t>(readPos_ - inBuffer_), readSum_);
}

uint32_t CodecIo::WrittenSum() const {
    return ByteSum(outBuffer_, static_cast<size_t>(writePos_ - outBuffer_), writtenSum_);
}
