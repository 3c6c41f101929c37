// Any bytes through an encoder and back: the first byte picks RLE (even) or LZH (odd), the rest
// is the data. Decoding gives back the data, and both directions report its byte sum. LZH coding
// with three match-finding threads gives the same bytes as the serial encoder: checked for one
// input in kThreadedShare, picked by the data's byte sum, since starting the threads costs about
// fifty serial runs under the sanitizers (the packer's own tests compare the two on every input they have).
#include <cstddef>
#include <cstdint>

#include "archive/codec_driver.h"
#include "archive/format.h"
#include "archive/lzh_parallel.h"
#include "fuzz_util.h"

namespace {
// Enough for the encoder to go round its window several times.
constexpr size_t kMaxInput = 16 * 1024;
constexpr uint32_t kThreadedShare = 256;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > kMaxInput + 1) {
        return 0;
    }
    const uint8_t method = (data[0] & 1) ? cmLZH : cmRLE;
    const uint8_t* plain = data + 1;
    const auto plainSize = static_cast<int32_t>(size - 1);
    const uint32_t sum = ByteSum(plain, static_cast<size_t>(plainSize));

    TCustomMemoryStream source(plain, plainSize);
    TMemoryStream coded;
    uint32_t encodeSum = 0;
    RunCodec(nullptr, coded, source, plainSize, plainSize, method, encodeSum, false);
    FUZZ_CHECK(encodeSum == sum);
    if (method == cmLZH && sum % kThreadedShare == 0) {
        TCustomMemoryStream again(plain, plainSize);
        TMemoryStream threaded;
        uint32_t threadedSum = 0;
        RunLZHEncode(nullptr, threaded, again, plainSize, threadedSum, 3);
        FUZZ_CHECK(threadedSum == sum);
        FUZZ_CHECK(threaded.Bytes() == coded.Bytes());
    }

    const auto codedSize = static_cast<int32_t>(coded.Size());
    coded.SetPosition(0);
    TMemoryStream decoded;
    uint32_t decodeSum = 0;
    RunCodec(nullptr, decoded, coded, codedSize, plainSize, method, decodeSum, true);
    FUZZ_CHECK(decodeSum == sum);
    FUZZ_CHECK(coded.Position() == codedSize);
    const auto& out = decoded.Bytes();
    FUZZ_CHECK(out.size() == static_cast<size_t>(plainSize));
    for (int32_t i = 0; i < plainSize; ++i) {
        FUZZ_CHECK(out[static_cast<size_t>(i)] == plain[i]);
    }
    return 0;
}
