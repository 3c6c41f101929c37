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

// The serial encoder, which the setup program links (through RunCodec): one step per window
// position, each removing the oldest node, storing the byte read and inserting the new position.
void LZHEncode(CodecIo& io) {
    auto state = std::make_unique<EncoderState>();
    MatchFinder& finder = state->finder;
    HuffmanModel& model = state->model;
    model.Init();
    finder.Init();
    const uint8_t* const window = finder.window.data();

    int s = 0;  // the oldest position, next to be overwritten; always kLookAhead ahead of r
    int r = kStartPosition;
    int len = ReadLookAhead(io, finder.window.data() + r);  // bytes of look-ahead
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
        const int last =
            EncodeNextSymbol(model, bits, finder.matchLength, finder.matchOffset, window[r], len);
        int i = 0;
        for (; i < last; ++i) {
            const uint8_t b = io.ReadByte();
            if (io.EndOfInput()) {
                break;
            }
            finder.RemoveNode(s);
            finder.Put(s, b);
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
