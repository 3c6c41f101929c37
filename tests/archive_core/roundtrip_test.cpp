// Round trips of both codecs over sizes and kinds of data; the encoders are deterministic.
#include <gtest/gtest.h>

#include "archive/format.h"
#include "test_util.h"

namespace {

enum class Kind { Text, Random, Zeros, Varied };

Bytes MakeData(Kind kind, size_t size, uint32_t seed) {
    switch (kind) {
        case Kind::Text:
            return TextBytes(size, seed);
        case Kind::Random:
            return RandomBytes(size, seed);
        case Kind::Zeros:
            return Bytes(size, 0);
        case Kind::Varied:
            return VariedBytes(size, seed);
    }
    return {};
}

struct RoundTrip {
    uint8_t method;
    Kind kind;
    size_t size;
};

void PrintTo(const RoundTrip& r, std::ostream* os) {
    *os << MethodName(r.method) << " kind " << static_cast<int>(r.kind) << " size " << r.size;
}

class RoundTrips : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTrips, DecodeGivesBackTheInput) {
    const RoundTrip& p = GetParam();
    const uint32_t seed = static_cast<uint32_t>(p.size * 31 + static_cast<int>(p.kind));
    const Bytes input = MakeData(p.kind, p.size, seed);
    const auto encoded = RunOn(input, p.method, false);
    const auto size = static_cast<int32_t>(input.size());
    const auto decoded = RunOn(encoded.output, p.method, true, size);
    ASSERT_EQ(decoded.output, input) << "seed " << seed;
    EXPECT_EQ(decoded.consumed, static_cast<int64_t>(encoded.output.size()));
    EXPECT_EQ(encoded.checksum, ByteSum(input.data(), input.size()));
    EXPECT_EQ(decoded.checksum, encoded.checksum);
    EXPECT_EQ(Encode(input, p.method), encoded.output) << "encoding is not deterministic";
}

std::vector<RoundTrip> AllRoundTrips() {
    std::vector<RoundTrip> all;
    for (uint8_t method : {cmRLE, cmLZH}) {
        for (Kind kind : {Kind::Text, Kind::Random, Kind::Zeros, Kind::Varied}) {
            for (size_t size : {0, 1, 2, 59, 60, 61, 118, 119, 120, 4095, 4096, 4097, 8192, 8193, 65536}) {
                all.push_back({method, kind, size});
            }
        }
        // Long enough for many Huffman rebuilds (one per 32 K symbols or so).
        all.push_back({method, Kind::Varied, 3 * 1024 * 1024 + 17});
        all.push_back({method, Kind::Text, 1024 * 1024});
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrips, ::testing::ValuesIn(AllRoundTrips()));

// Every byte value next to runs and the marker, which the RLE escape rules single out.
TEST(RoundTrip, MarkerAndRunEdges) {
    Bytes input;
    for (int v = 0; v < 256; ++v) {
        for (int n : {1, 2, 3, 4, 254, 255, 256, 257, 511}) {
            input.insert(input.end(), static_cast<size_t>(n), static_cast<uint8_t>(v));
            input.push_back(0x94);
        }
    }
    for (uint8_t method : {cmRLE, cmLZH}) {
        const Bytes coded = Encode(input, method);
        EXPECT_EQ(Decode(coded, method, static_cast<int32_t>(input.size())), input) << int(method);
    }
}

// Repeated 60-byte strings make nodes replace earlier ones; nearby repeats at many distances.
TEST(RoundTrip, RepeatsAtManyDistances) {
    std::mt19937 rng(5);
    Bytes input = RandomBytes(3000, 5);
    while (input.size() < 400000) {
        const size_t distance = 1 + rng() % 4200;
        const size_t length = 1 + rng() % 130;
        if (distance > input.size()) {
            continue;
        }
        for (size_t k = 0; k < length; ++k) {
            input.push_back(input[input.size() - distance]);
        }
        if (rng() % 3 == 0) {
            input.push_back(static_cast<uint8_t>(rng()));
        }
    }
    const Bytes coded = Encode(input, cmLZH);
    EXPECT_LT(coded.size(), input.size() / 2);
    EXPECT_EQ(Decode(coded, cmLZH, static_cast<int32_t>(input.size())), input);
}

}  // namespace
