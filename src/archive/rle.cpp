#include "archive/rle.h"

#include "archive/codec_io.h"

namespace {

// A run of n bytes b whose first byte is already written: n of 1 or 2 adds n - 1 literals; 0 (the
// escaped marker) and 3 to 255 become the marker and n.
void WriteRun(CodecIo& io, int n, uint8_t b) {
    if (n == 1 || n == 2) {
        for (int i = 1; i < n; ++i) {
            io.WriteByte(b);
        }
    } else {
        io.WriteByte(RunMarker);
        io.WriteByte(static_cast<uint8_t>(n));
    }
}

}  // namespace

void RLEEncode(CodecIo& io) {
    uint8_t previous = 0;
    bool inRun = false;
    int count = 0;
    bool first = true;
    for (;;) {
        const uint8_t a = io.ReadByte();
        if (io.EndOfInput()) {
            break;
        }
        if (inRun) {
            if (a == previous && count < 255) {
                ++count;
            } else {
                WriteRun(io, count, previous);
                previous = a;
                if (a == RunMarker) {
                    WriteRun(io, 0, RunMarker);
                } else {
                    io.WriteByte(a);
                }
                inRun = false;
            }
        } else {
            if (a == RunMarker) {
                WriteRun(io, 0, a);
            } else if (a != previous || first) {
                io.WriteByte(a);
            } else {
                // a repeats the literal just written.
                count = 2;
                inRun = true;
            }
            previous = a;
        }
        first = false;
    }
    if (inRun) {
        WriteRun(io, count, previous);
    }
}

void RLEDecode(CodecIo& io) {
    uint8_t previous = 0;
    for (;;) {
        const uint8_t a = io.ReadByte();
        if (io.EndOfInput()) {
            break;
        }
        if (a == RunMarker) {
            // A read at the end of input gives 0: a marker at the very end stands for itself.
            const uint8_t n = io.ReadByte();
            if (n == 0) {
                io.WriteByte(RunMarker);
            } else {
                for (int i = 1; i < n; ++i) {
                    io.WriteByte(previous);
                }
            }
        } else {
            io.WriteByte(a);
        }
        previous = a;
    }
}
