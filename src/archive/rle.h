// Method 1: run-length coding with the escape byte 0x94.
//
// A coded stream is a sequence of tokens:
//   b (any value but 0x94)   the byte b
//   0x94 0x00                the byte 0x94
//   0x94 n (n = 1 to 255)    n - 1 more copies of the byte of the preceding token (0 before the
//                            first token, 0x94 after a marker token)
// The encoder writes a run of 3 to 255 equal bytes (not 0x94) as the byte, 0x94 and the count,
// right after the literal; a run of two stays two literals; longer runs are cut at 255.
#pragma once

#include <cstdint>

class CodecIo;

inline constexpr uint8_t RunMarker = 0x94;

// Both read through io until the first read that reports the end of input. The decoder writes at
// most 254 bytes per input byte, so its output is bounded by its input.
void RLEEncode(CodecIo& io);
void RLEDecode(CodecIo& io);
