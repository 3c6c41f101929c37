// What every codec run shares with whoever starts it: its progress event and its block size.
#pragma once

#include <cstdint>
#include <functional>

// The archive component's progress event: PercentageDone in, and a handler that leaves it below 0
// cancels the run's input.
using TShowProgressEvent = std::function<void(int32_t& PercentageDone)>;

// The codec driver reads and writes in blocks of this many bytes.
inline constexpr int32_t CodecBufferSize = 8192;
