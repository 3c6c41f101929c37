// Bit reader and writer of the LZH stream, over a codec run's byte reader and writer. Bits go most
// significant first: the first bit written is bit 7 of the first byte.
#pragma once

#include <cstdint>
#include <cstring>

#include "archive/codec_io.h"

namespace lzh {

// Reads bits as a reader with a 16-bit buffer would, which takes one byte from the run's reader
// whenever it holds 8 or fewer bits at a read: bytes that need a refill of the run's reader (the
// only pulls anybody can observe: progress, cancelling, the source's position) are pulled at those
// same moments, whatever the read sizes. Bytes already loaded in the run's reader are taken ahead,
// up to 64 bits at a time, so that a symbol's bits are read without a check per bit.
//
// Why the moments agree: both readers hold the bits of whole bytes minus those read, so the bits
// they hold differ by a multiple of 8, and this one never holds fewer. The small reader needs a byte
// that this one does not hold only when both hold the same bits, 8 or fewer: that is when this one
// pulls. (It holds 8 bits more than the small reader with 8 or fewer only if the small one held
// none, which happens only before the first read.)
//
// A byte whose read reports the end of input counts as eight zero bits.
class BitReader {
  public:
    explicit BitReader(CodecIo& io) : io_(io) {}

    // True when the next symbol and offset can be read with PeekBit, SkipBit and ReadBits without
    // pulling: at least 57 bits are held, more than a code of the model (well below 30 bits: its
    // counts stay below 2^15, and a code of length n needs a count of the n-th Fibonacci number)
    // and an offset's 14 bits take, so the small reader would pull nothing that needs a refill.
    bool Prepare() {
        if (io_.LoadedBytes() < 8) {
            return false;
        }
        if (const int n = (64 - held_) >> 3; n > 0) {
            uint64_t word;
            std::memcpy(&word, io_.TakeLoaded(static_cast<size_t>(n)), sizeof word);
            word = __builtin_bswap64(word) >> held_;
            const int kept = held_ + 8 * n;
            bits_ |= kept == 64 ? word : word & ~(~uint64_t{0} >> kept);
            held_ = kept;
        }
        return true;
    }

    // The next bit or n bits (1 to 32), without taking them, and taking them; only after Prepare
    // returned true, and no more than it guarantees.
    unsigned PeekBit() const { return static_cast<unsigned>(bits_ >> 63); }
    unsigned PeekBits(int n) const { return static_cast<unsigned>(bits_ >> (64 - n)); }
    void SkipBit() { SkipBits(1); }
    void SkipBits(int n) {
        bits_ <<= n;
        held_ -= n;
    }

    // n is 1 to 8.
    unsigned ReadBits(int n) {
        if (held_ <= 8) {
            unsigned byte = io_.ReadByte();
            if (io_.EndOfInput()) {
                byte = 0;
            }
            bits_ |= static_cast<uint64_t>(byte) << (56 - held_);
            held_ += 8;
        }
        const auto value = static_cast<unsigned>(bits_ >> (64 - n));
        bits_ <<= n;
        held_ -= n;
        return value;
    }

  private:
    CodecIo& io_;
    uint64_t bits_ = 0;  // left-aligned; the bits below the held ones are zero
    int held_ = 0;
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
