#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/bit_io.h"
#include "archive/codec_io.h"
#include "archive/lzh.h"
#include "archive/lzh_coding.h"
#include "archive/lzh_model.h"

namespace {

using namespace lzh;

struct DecoderState {
    std::array<uint8_t, kWindowSize> window;
    HuffmanModel model;
};

// Copies a match of length bytes from `from` to `to` in the window, and to out, with the result of
// a byte-by-byte copy in order. Neither range wraps. A source before the destination and closer
// than length (back offset below length - 1) repeats the bytes being written; a source after it
// (a back offset near the window size) is read before it is overwritten.
inline void CopyMatch(uint8_t* to, const uint8_t* from, uint8_t* out, int length, unsigned offset) {
    if (offset == 0) {
        std::memset(out, *from, static_cast<size_t>(length));
        std::memset(to, *from, static_cast<size_t>(length));
    } else if (offset + 1 >= static_cast<unsigned>(length)) {
        std::memcpy(out, from, static_cast<size_t>(length));
        std::memmove(to, from, static_cast<size_t>(length));
    } else {
        for (int k = 0; k < length; ++k) {
            out[k] = to[k] = from[k];
        }
    }
}

}  // namespace

void LZHDecode(CodecIo& io, int32_t destSize) {
    if (destSize <= 0) {
        return;
    }
    auto state = std::make_unique<DecoderState>();
    uint8_t* const window = state->window.data();
    HuffmanModel& model = state->model;
    model.Init();
    std::fill_n(window, kStartPosition, kFillByte);
    std::fill(window + kStartPosition, window + kWindowSize, kUnfilledByte);
    BitReader bits(io);

    unsigned r = kStartPosition;
    int64_t produced = 0;  // may pass destSize by up to 59, which must not wrap
    while (produced < destSize) {
        const int symbol = DecodeSymbol(model, bits);
        if (symbol < 256) {
            const auto b = static_cast<uint8_t>(symbol);
            io.WriteByte(b);
            window[r] = b;
            r = (r + 1) & kWindowMask;
            ++produced;
        } else {
            const unsigned offset = DecodeOffset(bits);
            const int length = symbol - 256 + kThreshold + 1;
            const unsigned from = (r - offset - 1) & kWindowMask;
            uint8_t* out = io.OutputSpan(length);
            if (out != nullptr && from + length <= kWindowSize && r + length <= kWindowSize) {
                // Neither range wraps and the output buffer has room.
                CopyMatch(window + r, window + from, out, length, offset);
                io.CommitOutput(length);
                r = (r + length) & kWindowMask;
            } else {
                // Byte by byte, so that a source overlapping the bytes being written repeats them.
                unsigned source = from;
                for (int k = 0; k < length; ++k) {
                    const uint8_t b = window[source];
                    io.WriteByte(b);
                    window[r] = b;
                    r = (r + 1) & kWindowMask;
                    source = (source + 1) & kWindowMask;
                }
            }
            produced += length;
        }
    }
}
