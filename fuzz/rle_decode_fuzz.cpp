// Any bytes as an RLE stream: the decoder writes at most 255 bytes per input byte, takes every
// input byte, and its checksum is the byte sum of what it wrote.
#include <cstddef>
#include <cstdint>

#include "archive/archive_reader.h"
#include "archive/codec_driver.h"
#include "archive/format.h"
#include "fuzz_util.h"

namespace {
// Each coded byte may expand to 254: this keeps one input's output to about a megabyte.
constexpr size_t kMaxInput = 4096;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) {
        return 0;
    }
    TCustomMemoryStream source(data, static_cast<int64_t>(size));
    SummingStream dest;
    uint32_t checksum = 0;
    RunCodec(nullptr, dest, source, static_cast<int32_t>(size), 0, cmRLE, checksum, true);
    FUZZ_CHECK(dest.Size() <= static_cast<int64_t>(size) * 255);
    FUZZ_CHECK(source.Position() == static_cast<int64_t>(size));
    FUZZ_CHECK(checksum == dest.Sum());
    return 0;
}
