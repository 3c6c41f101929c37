#include <algorithm>
#include <memory>

#include "bit_io.h"
#include "codec_io.h"
#include "lzh.h"
#include "lzh_coding.h"
#include "lzh_model.h"

namespace {

using namespace lzh;

struct DecoderState {
    std::array<uint8_t, kWindowSize> window;
    HuffmanModel model;
};

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
            // Byte by byte, so that a source overlapping the bytes being written repeats them.
            unsigned from = (r - offset - 1) & kWindowMask;
            for (int k = 0; k < length; ++k) {
                const uint8_t b = window[from];
                io.WriteByte(b);
                window[r] = b;
                r = (r + 1) & kWindowMask;
                from = (from + 1) & kWindowMask;
            }
            produced += length;
        }
    }
}
