#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "archive/bit_io.h"
#include "archive/codec_io.h"
#include "archive/lzh.h"
#include "archive/lzh_coding.h"
#include "archive/lzh_model.h"
#include "archive/match_finder.h"

namespace {

struct EncoderState {
    MatchFinder finder;
    HuffmanModel model;
};

}  // namespace

// The setup program links this encoder (through RunCodec). Its steps stay written out here rather
// than through the helpers of match_finder.h that the threaded encoder uses, so that the setup
// program's code does not change with them.
void LZHEncode(CodecIo& io) {
    auto state = std::make_unique<EncoderState>();
    MatchFinder& finder = state->finder;
    HuffmanModel& model = state->model;
    uint8_t* const window = finder.window.data();
    model.Init();
    finder.InitTrees();
    std::fill_n(window, kStartPosition, kFillByte);
    std::fill(window + kStartPosition, window + finder.window.size(), kUnfilledByte);

    int s = 0;  // the oldest position, next to be overwritten; always kLookAhead ahead of r
    int r = kStartPosition;
    int len = 0;  // bytes of look-ahead
    while (len < kLookAhead) {
        const uint8_t b = io.ReadByte();
        if (io.EndOfInput()) {
            break;
        }
        window[r + len] = b;
        ++len;
    }
    if (len == 0) {
        return;
    }
    // The strings that begin in the fill and reach into the data.
    for (int k = 1; k <= kLookAhead; ++k) {
        finder.AddNode(r - k);
    }
    finder.AddNode(r);

    BitWriter bits(io);
    while (len > 0) {
        if (finder.matchLength > len) {
            finder.matchLength = len;
        }
        if (finder.matchLength <= kThreshold) {
            finder.matchLength = 1;
            EncodeSymbol(model, bits, window[r]);
        } else {
            EncodeSymbol(model, bits, finder.matchLength + 253);
            EncodeOffset(bits, finder.matchOffset);
        }
        const int last = finder.matchLength;
        int i = 0;
        for (; i < last; ++i) {
            const uint8_t b = io.ReadByte();
            if (io.EndOfInput()) {
                break;
            }
            finder.RemoveNode(s);
            window[s] = b;
            if (s < kLookAhead - 1) {
                window[s + kWindowSize] = b;
            }
            s = (s + 1) & kWindowMask;
            r = (r + 1) & kWindowMask;
            finder.AddNode(r);
        }
        // Past the end of input the look-ahead shrinks.
        for (; i < last; ++i) {
            finder.RemoveNode(s);
            s = (s + 1) & kWindowMask;
            r = (r + 1) & kWindowMask;
            --len;
            if (len > 0) {
                finder.AddNode(r);
            }
        }
    }
    bits.Flush();
}
