// The codec driver: one run of a codec over one archive entry's data, from a source stream into a
// destination stream, with buffered byte I/O, the byte sum of the uncompressed data and progress.
#pragma once

#include <cstdint>

#include "archive/codec_progress.h"
#include "framework/stream.h"

// Runs method 1 (RLE) or 2 (LZH) over source into dest, expanding or compressing. progress is
// copied at the start (may be empty). sourceSize caps the bytes taken from source; destSize is the
// expanded size that the LZH decoder produces. On return dest holds every output byte and checksum
// holds the 32-bit wrapping byte sum of the uncompressed data. Any other method codes nothing and
// leaves checksum 0. A short dest raises EWriteError "Stream write error"; a short source is a plain
// end of input. Never reads or writes outside its buffers, whatever the input.
void RunCodec(const TShowProgressEvent& progress,
              TStream& dest,
              TStream& source,
              int32_t sourceSize,
              int32_t destSize,
              uint8_t method,
              uint32_t& checksum,
              bool expand);
