// The LZH encoder with its match finding spread over threads, for the packer.
//
// The output is the serial encoder's, byte for byte, for any thread count: the match trees are
// split among the threads, each thread replays the input and performs the finder's operations on
// its own trees only, and the coder reads the matches that they record in position order. Reads,
// progress events, cancels and writes all stay on the calling thread, in the serial encoder's
// order.
#pragma once

#include <cstdint>

#include "archive/codec_progress.h"
#include "framework/stream.h"

// Finder threads beyond this many bring nothing: each of them replays every step.
inline constexpr int kMaxFinders = 16;

// One compressing run of method 2 as RunCodec does it (same reads, progress, cancel, writes and
// byte sum), with `finders` match-finding threads; finders <= 1 is RunCodec itself.
void RunLZHEncode(const TShowProgressEvent& progress,
                  TStream& dest,
                  TStream& source,
                  int32_t sourceSize,
                  uint32_t& checksum,
                  int finders);
