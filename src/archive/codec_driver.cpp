#include "archive/codec_driver.h"

#include <new>

#include "archive/codec_io.h"
#include "archive/format.h"
#include "archive/lzh.h"
#include "archive/rle.h"
#include "framework/exceptions.h"

void RunCodec(const TShowProgressEvent& progress,
              TStream& dest,
              TStream& source,
              int32_t sourceSize,
              int32_t destSize,
              uint8_t method,
              uint32_t& checksum,
              bool expand) {
    checksum = 0;
    if (method != cmRLE && method != cmLZH) {
        return;
    }
    try {
        CodecIo io(progress, dest, source, sourceSize);
        if (expand) {
            if (method == cmRLE) {
                RLEDecode(io);
            } else {
                LZHDecode(io, destSize);
            }
            checksum = io.WrittenSum();
        } else {
            if (method == cmRLE) {
                RLEEncode(io);
            } else {
                LZHEncode(io);
            }
            checksum = io.ReadSum();
        }
        io.FinishOutput();
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(msg::kOutOfMemory);
    }
}
