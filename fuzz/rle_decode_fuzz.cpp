// Any bytes as an RLE stream: the decoder writes at most 255 bytes per input byte, takes every
// input byte, and its checksum is the byte sum of what it wrote.
#include <cstddef>
#include <cstdint>

#include "codec_driver.h"
#include "format.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 20)) {
        return 0;
    }
    TCustomMemoryStream source(data, static_cast<int64_t>(size));
    TMemoryStream dest;
    uint32_t checksum = 0;
    RunCodec(nullptr, dest, source, static_cast<int32_t>(size), 0, cmRLE, checksum, true);
    const auto& out = dest.Bytes();
    FUZZ_CHECK(out.size() <= size * 255);
    FUZZ_CHECK(source.Position() == static_cast<int64_t>(size));
    FUZZ_CHECK(checksum == ByteSum(out.data(), out.size()));
    return 0;
}
