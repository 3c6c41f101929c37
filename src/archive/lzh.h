// Method 2 in both directions (the stream is described in lzh_model.h).
#pragma once

#include <cstdint>

class CodecIo;

// Expands an LZH stream read through io until destSize bytes are written; destSize <= 0 reads and
// writes nothing. The stream is not checked: input that runs out or is cancelled reads as zero
// bits, and a damaged stream still ends, after destSize bytes or at most 59 more when its last
// match crosses destSize. Damage shows in the byte sum. Never reads or writes outside its window.
void LZHDecode(CodecIo& io, int32_t destSize);

// Compresses everything read through io up to the first read that reports the end of input.
// Empty input writes nothing. The output is fully determined by the input.
void LZHEncode(CodecIo& io);
