// Any bytes as an LZH stream: the first two bytes give the expanded size (0 to kMaxDestSize), the rest
// is the stream. The decoder writes destSize bytes or at most 59 more, never takes more than the stream,
// and its checksum is the byte sum of what it wrote.
#include <cstddef>
#include <cstdint>

#include "archive/archive_reader.h"
#include "archive/codec_driver.h"
#include "archive/format.h"
#include "fuzz_util.h"

namespace {
// Past several output blocks and the decoder's first 16 KiB (after which it reads codes through its
// table), so that the writer's flushes, a match cut by them and the table are reached; larger sizes
// only cost time, since the decoder makes them from nothing.
constexpr int32_t kMaxDestSize = 5 * CodecBufferSize;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > (1 << 20)) {
        return 0;
    }
    const int32_t destSize = (data[0] | (data[1] << 8)) % (kMaxDestSize + 1);
    TCustomMemoryStream source(data + 2, static_cast<int64_t>(size - 2));
    SummingStream dest;
    uint32_t checksum = 0;
    RunCodec(nullptr, dest, source, static_cast<int32_t>(size - 2), destSize, cmLZH, checksum, true);
    FUZZ_CHECK(dest.Size() >= destSize && dest.Size() <= destSize + 59);
    FUZZ_CHECK(source.Position() <= static_cast<int64_t>(size - 2));
    FUZZ_CHECK(checksum == dest.Sum());
    return 0;
}
