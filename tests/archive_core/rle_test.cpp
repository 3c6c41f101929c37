// The RLE codec: the coding rules on their worked examples, and the decoder on odd streams.
#include <gtest/gtest.h>

#include "archive/format.h"
#include "test_util.h"

namespace {

Bytes Repeat(uint8_t value, size_t count) {
    return Bytes(count, value);
}

struct RleCase {
    const char* what;
    Bytes plain;
    Bytes coded;
};

class RleExamples : public ::testing::TestWithParam<RleCase> {};

TEST_P(RleExamples, EncodeAndDecode) {
    const RleCase& c = GetParam();
    EXPECT_EQ(Encode(c.plain, cmRLE), c.coded);
    EXPECT_EQ(Decode(c.coded, cmRLE, 0), c.plain);
}

INSTANTIATE_TEST_SUITE_P(
    Worked,
    RleExamples,
    ::testing::Values(RleCase{"run of four", {0x41, 0x41, 0x41, 0x41, 0x42}, {0x41, 0x94, 0x04, 0x42}},
                      RleCase{"run of two stays literal", {0x41, 0x41, 0x42}, {0x41, 0x41, 0x42}},
                      RleCase{"marker escaped", {0x94, 0x94}, {0x94, 0x00, 0x94, 0x00}},
                      RleCase{"zeros at the start", {0, 0, 0}, {0x00, 0x94, 0x03}},
                      RleCase{"300 bytes", Repeat(0x58, 300), {0x58, 0x94, 0xFF, 0x58, 0x94, 0x2D}},
                      RleCase{"256 bytes", Repeat(0x58, 256), {0x58, 0x94, 0xFF, 0x58}},
                      RleCase{"257 bytes", Repeat(0x58, 257), {0x58, 0x94, 0xFF, 0x58, 0x58}},
                      RleCase{"empty", {}, {}},
                      RleCase{"run ends at a marker",
                              {7, 7, 7, 0x94, 0x94, 0x94, 7},
                              {7, 0x94, 3, 0x94, 0, 0x94, 0, 0x94, 0, 7}},
                      RleCase{"run after a cut run and a literal",
                              Concat({Repeat(1, 255), {2, 2, 2, 2}}),
                              {1, 0x94, 0xFF, 2, 0x94, 4}}));

TEST(RleDecode, OddStreams) {
    // A marker at the very end stands for itself.
    EXPECT_EQ(Decode({0x41, 0x94}, cmRLE, 0), (Bytes{0x41, 0x94}));
    // A count before any byte repeats the start value 0.
    EXPECT_EQ(Decode({0x94, 0x05}, cmRLE, 0), Bytes(4, 0));
    // After a marker token the previous byte is the marker itself.
    EXPECT_EQ(Decode({0x94, 0x01, 0x94, 0x03}, cmRLE, 0), (Bytes{0x94, 0x94}));
    EXPECT_EQ(Decode({0x41, 0x94, 0x03, 0x94, 0x03}, cmRLE, 0), (Bytes{0x41, 0x41, 0x41, 0x94, 0x94}));
    // A count of 1 adds nothing.
    EXPECT_EQ(Decode({0x41, 0x94, 0x01, 0x42}, cmRLE, 0), (Bytes{0x41, 0x42}));
}

TEST(RleDecode, ReadsEverySourceByte) {
    const Bytes coded = {0x41, 0x94, 0xFF, 0x94};
    const auto result = RunOn(coded, cmRLE, true);
    EXPECT_EQ(result.consumed, 4);
    EXPECT_EQ(result.output.size(), 256u);
    EXPECT_EQ(result.checksum, 255u * 0x41 + 0x94);
}

}  // namespace
