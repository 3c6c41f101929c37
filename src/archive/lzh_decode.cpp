#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/bit_io.h"
#include "archive/codec_io.h"
#include "archive/lzh.h"
#include "archive/lzh_model.h"

namespace {

using namespace lzh;

// The output is expanded into one straight buffer: the last kWindowSize bytes before the write
// position are the window, so a match's source is just `distance` bytes back and never wraps.
// Before the first byte the window holds what the model starts with, in stream order: the
// positions after the start position (kUnfilledByte), then those before it (kFillByte). Whenever
// kChunkSize bytes have been added they go to the run's writer and the window moves to the front.
constexpr size_t kChunkSize = 16384;
// Room after the chunk for the match that crosses its end, and for the 8-byte stores that may
// write up to 7 bytes past a match's end.
constexpr size_t kSlack = 128;

struct DecoderState {
    HuffmanModel model;
    std::array<uint8_t, kWindowSize + kChunkSize + kSlack> buffer;
};

// The decoder's reading of the two codes. After a Prepare that returned true, the bits of a code
// are taken without a check each.
int ReadSymbol(HuffmanModel& model, BitReader& bits, bool prepared) {
    int k = model.child[kRootNode];
    if (prepared) {
        while (k < kTreeSize) {
            k = model.child[k + bits.PeekBit()];
            bits.SkipBit();
        }
    } else {
        while (k < kTreeSize) {
            k = model.child[k + bits.ReadBits(1)];
        }
    }
    const int symbol = k - kTreeSize;
    model.Update(symbol);
    return symbol;
}

// The first 8 bits hold the upper bits' code word (3 to 8 bits) and the start of the lower 6 bits;
// length - 2 more bits complete them.
unsigned ReadOffset(BitReader& bits) {
    const unsigned first = bits.ReadBits(8);
    const unsigned upper = kOffsetTables.upperByByte[first];
    const int more = kOffsetTables.lengthByByte[first] - 2;
    const unsigned rest = bits.ReadBits(more);
    return (upper << 6) | (((first << more) | rest) & 63);
}

// Copies length bytes (1 to kLookAhead) from distance bytes back, with the result of a copy byte
// by byte in order: a source closer than length repeats the bytes being written. May write up to 7
// bytes past the end.
inline void CopyMatch(uint8_t* to, unsigned distance, int length) {
    const uint8_t* from = to - distance;
    if (distance >= 8) {
        // Each 8-byte load reads only bytes written before it.
        for (int k = 0; k < length; k += 8) {
            std::memcpy(to + k, from + k, 8);
        }
    } else if (distance == 1) {
        const uint64_t pattern = 0x0101010101010101u * *from;
        for (int k = 0; k < length; k += 8) {
            std::memcpy(to + k, &pattern, 8);
        }
    } else {
        for (int k = 0; k < length; ++k) {
            to[k] = from[k];
        }
    }
}

}  // namespace

void LZHDecode(CodecIo& io, int32_t destSize) {
    if (destSize <= 0) {
        return;
    }
    auto state = std::make_unique<DecoderState>();
    HuffmanModel& model = state->model;
    model.Init();
    uint8_t* const buffer = state->buffer.data();
    std::fill_n(buffer, kLookAhead, kUnfilledByte);
    std::fill_n(buffer + kLookAhead, kStartPosition, kFillByte);
    uint8_t* const chunkEnd = buffer + kWindowSize + kChunkSize;
    uint8_t* pos = buffer + kWindowSize;
    BitReader bits(io);

    int64_t produced = 0;  // may pass destSize by up to 59, which must not wrap
    while (produced < destSize) {
        if (pos >= chunkEnd) {
            io.WriteBytes(buffer + kWindowSize, static_cast<size_t>(pos - (buffer + kWindowSize)));
            std::memmove(buffer, pos - kWindowSize, kWindowSize);
            pos = buffer + kWindowSize;
        }
        const int symbol = ReadSymbol(model, bits, bits.Prepare());
        if (symbol < 256) {
            *pos++ = static_cast<uint8_t>(symbol);
            ++produced;
        } else {
            const unsigned distance = ReadOffset(bits) + 1;
            const int length = symbol - 256 + kThreshold + 1;
            CopyMatch(pos, distance, length);
            pos += length;
            produced += length;
        }
    }
    io.WriteBytes(buffer + kWindowSize, static_cast<size_t>(pos - (buffer + kWindowSize)));
}
