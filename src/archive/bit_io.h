// Bit reader and writer of the LZH stream, over a codec run's byte reader and writer. Bits go most
// significant first: the first bit written is bit 7 of the first byte.
#pragma once

#include <cstdint>

#include "archive/codec_io.h"

namespace lzh {

// Holds up to 16 bits, left-aligned in bits 15..0. A read takes one byte from the run's reader
// whenever 8 or fewer bits are held, so bytes are pulled at the same moments whatever the read
// sizes. A byte whose read reports the end of input counts as eight zero bits.
class BitReader {
  public:
    explicit BitReader(CodecIo& io) : io_(io) {}

    int ReadBit() {
        Fill();
        const int bit = static_cast<int>(buffer_ >> 15);
        buffer_ = (buffer_ << 1) & 0xFFFF;
        --count_;
        return bit;
    }

    // n is 1 to 8.
    unsigned ReadBits(int n) {
        Fill();
        const unsigned value = buffer_ >> (16 - n);
        buffer_ = (buffer_ << n) & 0xFFFF;
        count_ -= n;
        return value;
    }

  private:
    void Fill() {
        if (count_ <= 8) {
            unsigned byte = io_.ReadByte();
            if (io_.EndOfInput()) {
                byte = 0;
            }
            buffer_ |= byte << (8 - count_);
            count_ += 8;
        }
    }

    CodecIo& io_;
    unsigned buffer_ = 0;
    int count_ = 0;
};

// Collects bits in a 16-bit buffer and writes each byte as soon as it is complete.
class BitWriter {
  public:
    explicit BitWriter(CodecIo& io) : io_(io) {}

    // Appends the top n bits (1 to 16) of the 16-bit code; its other bits are zero.
    void PutBits(int n, unsigned code) {
        buffer_ |= code >> count_;
        count_ += n;
        if (count_ >= 8) {
            io_.WriteByte(static_cast<uint8_t>(buffer_ >> 8));
            count_ -= 8;
            if (count_ >= 8) {
                io_.WriteByte(static_cast<uint8_t>(buffer_));
                count_ -= 8;
                buffer_ = (code << (n - count_)) & 0xFFFF;
            } else {
                buffer_ = (buffer_ << 8) & 0xFFFF;
            }
        }
    }

    // Writes the last partial byte, padded with zero bits.
    void Flush() {
        if (count_ > 0) {
            io_.WriteByte(static_cast<uint8_t>(buffer_ >> 8));
            count_ = 0;
            buffer_ = 0;
        }
    }

  private:
    CodecIo& io_;
    unsigned buffer_ = 0;
    int count_ = 0;
};

}  // namespace lzh
