// Any bytes as an LZH stream: the first two bytes give the expanded size (their low 14 bits: 0 to 16383), the
// rest is the stream. The decoder writes destSize bytes or at most 59 more, never takes more than the stream,
// and its checksum is the byte sum of what it wrote.
#include <cstddef>
#include <cstdint>

#include "codec_driver.h"
#include "format.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > (1 << 20)) {
        return 0;
    }
    const int32_t destSize = (data[0] | (data[1] << 8)) & 0x3FFF;
    TCustomMemoryStream source(data + 2, static_cast<int64_t>(size - 2));
    TMemoryStream dest;
    uint32_t checksum = 0;
    RunCodec(nullptr, dest, source, static_cast<int32_t>(size - 2), destSize, cmLZH, checksum, true);
    const auto& out = dest.Bytes();
    FUZZ_CHECK(out.size() >= static_cast<size_t>(destSize) &&
               out.size() <= static_cast<size_t>(destSize) + 59);
    FUZZ_CHECK(source.Position() <= static_cast<int64_t>(size - 2));
    FUZZ_CHECK(checksum == ByteSum(out.data(), out.size()));
    return 0;
}
