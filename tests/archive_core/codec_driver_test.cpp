// The codec driver: progress calls, cancel, checksums, stream errors, and where the source stands.
#include "archive/codec_driver.h"

#include <gtest/gtest.h>
#include <limits>

#include "archive/format.h"
#include "framework/exceptions.h"
#include "test_util.h"

namespace {

std::vector<int32_t> ProgressCalls(size_t sourceSize, uint8_t method, bool expand) {
    const Bytes input = expand ? Bytes(sourceSize, 'x') : TextBytes(sourceSize, 1);
    std::vector<int32_t> calls;
    RunOn(input, method, expand, 100, [&](int32_t& percentage) { calls.push_back(percentage); });
    return calls;
}

TEST(Progress, OneCallPerBlock) {
    for (uint8_t method : {cmRLE, cmLZH}) {
        for (bool expand : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "method " << int(method) << " expand " << expand);
            EXPECT_EQ(ProgressCalls(0, method, expand), std::vector<int32_t>{});
            if (!(expand && method == cmLZH)) {  // the LZH decoder stops after its 100 bytes
                EXPECT_EQ(ProgressCalls(1, method, expand), std::vector<int32_t>{100});
                EXPECT_EQ(ProgressCalls(8192, method, expand), std::vector<int32_t>{100});
                EXPECT_EQ(ProgressCalls(20000, method, expand), (std::vector<int32_t>{40, 81, 100}));
            }
        }
    }
}

// A source of many blocks that never runs out, with a budget near the largest signed 32-bit size:
// the percentage must follow bytesRead * 100 / sourceSize without 32-bit overflow.
class EndlessSource : public TStream {
  public:
    int32_t Read(void* buffer, int32_t count) override {
        std::memset(buffer, 'a', static_cast<size_t>(count));
        return count;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t Seek(int64_t, SeekOrigin) override { return 0; }
};

TEST(Progress, LargeSourceSizes) {
    const int32_t sourceSize = std::numeric_limits<int32_t>::max();
    EndlessSource source;
    TMemoryStream dest;
    int64_t bytesRead = 0;
    int calls = 0;
    uint32_t checksum = 0;
    // Stops after about 40 MB, well past the 21 MB where a 32-bit product overflows.
    RunCodec(
        [&](int32_t& percentage) {
            bytesRead += CodecBufferSize;
            ++calls;
            ASSERT_EQ(percentage, bytesRead * 100 / sourceSize) << "at " << bytesRead;
            if (bytesRead >= 40 * 1000 * 1000) {
                EXPECT_EQ(percentage, 1);
                percentage = -1;
            }
        },
        dest, source, sourceSize, 0, cmRLE, checksum, false);
    EXPECT_EQ(calls, 4883);
}

TEST(Progress, ShortSourceNeverReaches100) {
    // 10000 bytes promised, 9000 delivered: 8192 of 10000, then 808 more, then nothing.
    const Bytes input = TextBytes(9000, 2);
    std::vector<int32_t> calls;
    const auto result = RunOn(
        input, cmRLE, false, 0, [&](int32_t& p) { calls.push_back(p); }, 10000);
    EXPECT_EQ(calls, (std::vector<int32_t>{81, 90}));
    EXPECT_EQ(result.checksum, ByteSum(input.data(), input.size()));
}

TEST(Cancel, AtTheFirstCallCodesNothing) {
    for (uint8_t method : {cmRLE, cmLZH}) {
        const Bytes input = TextBytes(20000, 3);
        int calls = 0;
        const auto cancel = [&](int32_t& p) {
            ++calls;
            p = -1;
        };
        const auto encoded = RunOn(input, method, false, 0, cancel);
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(encoded.output.empty()) << int(method);
        EXPECT_EQ(encoded.checksum, 0u);
    }
    const auto decoded = RunOn(Bytes(100, 'a'), cmRLE, true, 0, [](int32_t& p) { p = -1; });
    EXPECT_TRUE(decoded.output.empty());
    EXPECT_EQ(decoded.checksum, 0u);
}

TEST(Cancel, MidwayEndsTheInputAndTheRunFinishes) {
    const Bytes input = Concat({TextBytes(10000, 4), RandomBytes(20000, 4)});
    int calls = 0;
    const auto cancelSecond = [&](int32_t& p) {
        if (++calls == 2) {
            p = -1;
        }
    };
    // The encoders code what they took before the cancel: the first block.
    const Bytes firstBlock(input.begin(), input.begin() + CodecBufferSize);
    for (uint8_t method : {cmRLE, cmLZH}) {
        calls = 0;
        const auto result = RunOn(input, method, false, 0, cancelSecond);
        EXPECT_EQ(calls, 2);
        EXPECT_EQ(Decode(result.output, method, CodecBufferSize), firstBlock) << int(method);
        if (method == cmRLE) {
            EXPECT_EQ(result.checksum, ByteSum(firstBlock.data(), firstBlock.size()));
        } else {
            // While the LZH encoder codes its look-ahead, each symbol tries one more read; those
            // reads hand out bytes of the loaded block that count in the sum but are not coded.
            uint32_t sum = ByteSum(firstBlock.data(), firstBlock.size());
            size_t extra = 0;
            while (sum != result.checksum && extra < 60) {
                sum += input[CodecBufferSize + extra++];
            }
            EXPECT_EQ(sum, result.checksum);
            EXPECT_GT(extra, 0u);
        }
    }
    // The LZH decoder takes the rest as zero bits and still writes destSize bytes; the damage shows
    // in the byte sum.
    const Bytes coded = Encode(input, cmLZH);
    calls = 0;
    const auto expanded = RunOn(coded, cmLZH, true, 30000, cancelSecond);
    ASSERT_GE(coded.size(), 2u * CodecBufferSize);
    EXPECT_GE(expanded.output.size(), 30000u);
    EXPECT_NE(expanded.checksum, ByteSum(input.data(), input.size()));
}

TEST(Checksum, BothDirectionsSumTheUncompressedBytes) {
    const Bytes input = Concat({TextBytes(50000, 5), Bytes(3000, 0xFF), RandomBytes(10000, 5)});
    const uint32_t sum = ByteSum(input.data(), input.size());
    for (uint8_t method : {cmRLE, cmLZH}) {
        const auto encoded = RunOn(input, method, false);
        EXPECT_EQ(encoded.checksum, sum);
        const auto decoded = RunOn(encoded.output, method, true, static_cast<int32_t>(input.size()));
        EXPECT_EQ(decoded.checksum, sum);
        EXPECT_EQ(decoded.output, input);
    }
}

TEST(Methods, OthersCodeNothing) {
    for (uint8_t method : {uint8_t{0}, uint8_t{3}, uint8_t{200}}) {
        for (bool expand : {false, true}) {
            TMemoryStream source(Bytes(100, 'a'));
            TMemoryStream dest;
            uint32_t checksum = 77;
            int calls = 0;
            RunCodec([&](int32_t&) { ++calls; }, dest, source, 100, 100, method, checksum, expand);
            EXPECT_EQ(checksum, 0u);
            EXPECT_EQ(dest.Size(), 0);
            EXPECT_EQ(source.Position(), 0);
            EXPECT_EQ(calls, 0);
        }
    }
}

// The run takes exactly sourceSize bytes, so the next entry's header follows.
TEST(Source, StandsJustAfterTheEntryData) {
    const Bytes input = TextBytes(20000, 6);
    for (uint8_t method : {cmRLE, cmLZH}) {
        const Bytes coded = Encode(input, method);
        const Bytes withNext = Concat({coded, Bytes(30000, 0xAB)});
        const auto result = RunOn(withNext, method, true, static_cast<int32_t>(input.size()), nullptr,
                                  static_cast<int32_t>(coded.size()));
        EXPECT_EQ(result.consumed, static_cast<int64_t>(coded.size())) << int(method);
        EXPECT_EQ(result.output, input);
    }
}

TEST(Source, OneByteAtATimeGivesTheSameResult) {
    const Bytes input = VariedBytes(70000, 7);
    for (uint8_t method : {cmRLE, cmLZH}) {
        for (bool expand : {false, true}) {
            const Bytes data = expand ? Encode(input, method) : input;
            const auto whole = RunOn(data, method, expand, static_cast<int32_t>(input.size()));
            ChunkedStream source(data, 1);
            TMemoryStream dest;
            uint32_t checksum = 0;
            RunCodec(nullptr, dest, source, static_cast<int32_t>(data.size()),
                     static_cast<int32_t>(input.size()), method, checksum, expand);
            EXPECT_EQ(dest.Bytes(), whole.output) << int(method) << expand;
            EXPECT_EQ(checksum, whole.checksum);
        }
    }
}

TEST(Dest, ShortWriteRaisesWriteError) {
    const Bytes input = TextBytes(40000, 8);
    // Full at a block write in the middle, and at the final write of the rest.
    for (int64_t capacity : {int64_t{10000}, int64_t{40000 - 1}}) {
        Bytes memory(static_cast<size_t>(capacity));
        FixedStream dest(memory.data(), capacity);
        TCustomMemoryStream source(input.data(), static_cast<int64_t>(input.size()));
        uint32_t checksum = 0;
        try {
            RunCodec(nullptr, dest, source, 40000, 0, cmRLE, checksum, false);
            // RLE of this text is about as long as the text; it must not fit either capacity.
            ADD_FAILURE() << "no write error at capacity " << capacity;
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.Message(), "Stream write error");
        }
    }
    // The same through the LZH decoder.
    const Bytes coded = Encode(input, cmLZH);
    Bytes memory(20000);
    FixedStream dest(memory.data(), 20000);
    TCustomMemoryStream source(coded.data(), static_cast<int64_t>(coded.size()));
    uint32_t checksum = 0;
    EXPECT_THROW(
        RunCodec(nullptr, dest, source, static_cast<int32_t>(coded.size()), 40000, cmLZH, checksum, true),
        EWriteError);
}

TEST(Dest, ShortRunsReachDest) {
    for (uint8_t method : {cmRLE, cmLZH}) {
        const auto result = RunOn(Bytes{'z'}, method, false);
        EXPECT_FALSE(result.output.empty());
        EXPECT_EQ(Decode(result.output, method, 1), Bytes{'z'});
    }
}

}  // namespace
