// The LZH codec: worked streams in both directions, the Huffman model, the offset code, and damaged
// streams.
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <vector>

#include "archive/codec_io.h"
#include "archive/format.h"
#include "archive/lzh_coding.h"
#include "archive/lzh_model.h"
#include "lzh_plain.h"
#include "test_util.h"

namespace {

using namespace lzh;

struct LzhCase {
    const char* what;
    Bytes plain;
    Bytes coded;
};

Bytes AbcSixTimes() {
    Bytes b;
    for (int i = 0; i < 6; ++i) {
        b.insert(b.end(), {0x61, 0x62, 0x63});
    }
    return b;
}

class LzhWorked : public ::testing::TestWithParam<LzhCase> {};

TEST_P(LzhWorked, EncodeAndDecode) {
    const LzhCase& c = GetParam();
    EXPECT_EQ(Encode(c.plain, cmLZH), c.coded);
    EXPECT_EQ(Decode(c.coded, cmLZH, static_cast<int32_t>(c.plain.size())), c.plain);
}

INSTANTIATE_TEST_SUITE_P(Streams,
                         LzhWorked,
                         ::testing::Values(LzhCase{"one literal", {0x51}, {0xEE, 0x80}},
                                           LzhCase{"literals and a match of 15 at offset 2",
                                                   AbcSixTimes(),
                                                   {0xF6, 0xFB, 0xBD, 0xF3, 0x00, 0x20}},
                                           LzhCase{
                                               "a run of 200",
                                               Bytes(200, 0x41),
                                               {0xE6, 0xF3, 0x40, 0x18, 0x80, 0x0C, 0x20, 0x09, 0xC0, 0x00}},
                                           LzhCase{"empty", {}, {}}));

// Codes symbols (and offsets, for match symbols) with a fresh model into bytes.
struct Token {
    int symbol;
    int offset = 0;
};

Bytes CodeTokens(const std::vector<Token>& tokens) {
    TMemoryStream dest;
    TMemoryStream source;
    {
        CodecIo io(nullptr, dest, source, 0);
        auto model = std::make_unique<HuffmanModel>();
        model->Init();
        BitWriter bits(io);
        for (const Token& t : tokens) {
            EncodeSymbol(*model, bits, t.symbol);
            if (t.symbol >= 256) {
                EncodeOffset(bits, t.offset);
            }
        }
        bits.Flush();
        io.FinishOutput();
    }
    return dest.Bytes();
}

TEST(LzhStream, MatchIntoTheInitialFill) {
    // Sixty spaces: one match of 60 reaching back 60 into the fill (offset 59).
    const Bytes coded = CodeTokens({{60 + 253, 59}});
    EXPECT_EQ(Encode(Bytes(60, ' '), cmLZH), coded);
    EXPECT_EQ(Decode(coded, cmLZH, 60), Bytes(60, ' '));
    // Longer runs of spaces start the same way.
    const Bytes more = Encode(Bytes(500, ' '), cmLZH);
    EXPECT_EQ(Decode(more, cmLZH, 500), Bytes(500, ' '));
}

TEST(LzhStream, OffsetZeroRepeatsTheLastByte) {
    const Bytes coded = CodeTokens({{0x41}, {60 + 253, 0}});
    EXPECT_EQ(Decode(coded, cmLZH, 61), Bytes(61, 0x41));
    // The decoder copies a match whole even past destSize.
    EXPECT_EQ(Decode(coded, cmLZH, 2), Bytes(61, 0x41));
}

// Matches at every offset, and of every length at the offsets that reach into the bytes being
// written (distances 1 to 8, where a copy repeats them) and around them: whatever they copy, the
// decoder must copy the same bytes as a reference window does, across the ends of its output chunks
// at many alignments.
TEST(LzhStream, EveryOffsetAndLengthRoundTrips) {
    std::vector<Token> tokens;
    // A literal 'x', matches of 3 at every offset, then every length at offsets 0 to 69.
    tokens.push_back({'x'});
    for (int offset = 0; offset < kWindowSize; ++offset) {
        tokens.push_back({3 + 253, offset});
    }
    for (int length = 3; length <= kLookAhead; ++length) {
        for (int offset = 0; offset < 70; ++offset) {
            tokens.push_back({length + 253, offset});
            tokens.push_back({static_cast<int>('a' + (length + offset) % 26)});
        }
    }
    const Bytes coded = CodeTokens(tokens);
    Bytes plain;
    Bytes window(kWindowSize, kFillByte);
    std::fill(window.begin() + kStartPosition, window.end(), kUnfilledByte);
    int r = kStartPosition;
    auto put = [&](uint8_t b) {
        plain.push_back(b);
        window[static_cast<size_t>(r)] = b;
        r = (r + 1) & kWindowMask;
    };
    for (const Token& t : tokens) {
        if (t.symbol < 256) {
            put(static_cast<uint8_t>(t.symbol));
            continue;
        }
        const int from = (r - t.offset - 1) & kWindowMask;
        for (int k = 0; k < t.symbol - 253; ++k) {
            put(window[static_cast<size_t>((from + k) & kWindowMask)]);
        }
    }
    ASSERT_GT(plain.size(), 100000u);
    EXPECT_EQ(Decode(coded, cmLZH, static_cast<int32_t>(plain.size())), plain);
}

TEST(OffsetCode, LengthsFollowTheUpperBits) {
    // Code length of the upper 6 bits, by ranges of u.
    for (int u = 0; u < 64; ++u) {
        const int expected = u < 1 ? 3 : u < 4 ? 4 : u < 12 ? 5 : u < 24 ? 6 : u < 48 ? 7 : 8;
        EXPECT_EQ(kOffsetTables.length[u], expected) << u;
        for (int b = 0; b < 256; ++b) {
            const int length = kOffsetTables.length[u];
            if ((b >> (8 - length)) == (kOffsetTables.code[u] >> (8 - length))) {
                EXPECT_EQ(kOffsetTables.upperByByte[b], u);
                EXPECT_EQ(kOffsetTables.lengthByByte[b], length);
            }
        }
    }
}

TEST(HuffmanModel, FreshCodeLengths) {
    HuffmanModel model;
    model.Init();
    for (int s = 0; s < kSymbolCount; ++s) {
        EXPECT_EQ(model.CodeLength(s), s < 116 ? 9 : 8) << s;
    }
}

// The nodes from the root's child down to symbol s's leaf, as the decoder passes them.
std::vector<uint16_t> PathTo(const HuffmanModel& model, int s) {
    std::vector<uint16_t> path;
    for (int k = model.parent[kTreeSize + s]; k != kRootNode; k = model.parent[k]) {
        path.insert(path.begin(), static_cast<uint16_t>(k));
    }
    return path;
}

// Feeds the symbols that pick draws from a generator seeded with seed to a fresh model's Update, to
// another's UpdateAlong (given the path to the symbol's leaf) and to the plain model written from
// the rules, checking after every update that the three trees agree, and that at least five
// rebuilds came between and left the counts in order.
template <typename Pick>
void CheckAgainstThePlainModel(uint32_t seed, int updates, Pick pick) {
    std::mt19937 rng(seed);
    HuffmanModel fast;
    HuffmanModel alongPath;
    lzh_plain::Model reference;
    fast.Init();
    alongPath.Init();
    reference.Init();
    int rebuilds = 0;
    for (int n = 0; n < updates; ++n) {
        const int s = pick(rng);
        if (reference.freq[kRootNode] == kFreqLimit) {
            ++rebuilds;
        }
        fast.Update(s);
        const std::vector<uint16_t> path = PathTo(alongPath, s);
        HuffmanModel::Unwatched none;
        alongPath.UpdateAlong(s, path.data(), static_cast<int>(path.size()), none);
        reference.Update(s);
        ASSERT_TRUE(reference.SameAs(fast)) << "after update " << n << ", seed " << seed;
        ASSERT_TRUE(reference.SameAs(alongPath)) << "along the path, after update " << n << ", seed " << seed;
    }
    EXPECT_GE(rebuilds, 5);
    for (int i = 0; i < kTreeSize; ++i) {
        ASSERT_LE(fast.freq[i], fast.freq[i + 1]) << i;
    }
}

// Incompressible data: nearly every literal equally often, so the counts form long runs of equal
// values that a moving node passes in one go, often further than one word of counts.
TEST(HuffmanModel, UpdateMatchesThePlainModelOnFlatCounts) {
    CheckAgainstThePlainModel(23, 300000, [](std::mt19937& rng) {
        return (rng() % 64 == 0) ? 256 + static_cast<int>(rng() % (kSymbolCount - 256))
                                 : static_cast<int>(rng() % 256);
    });
}

// Mostly a few hot symbols, sometimes any: long stretches of equal counts and deep trees.
TEST(HuffmanModel, UpdateMatchesThePlainModelThroughRebuilds) {
    CheckAgainstThePlainModel(11, 200000, [](std::mt19937& rng) {
        return (rng() % 4 == 0) ? static_cast<int>(rng() % kSymbolCount) : static_cast<int>(rng() % 12) * 7;
    });
}

// The decoder's table of the top code levels relies on this: two nodes that trade subtrees lie at
// most a level apart, so a subtree never moves two or more levels deeper at once (where it would
// still hold places in the table's levels that no fill reaches). Checked at every exchange of long
// streams of skewed, flat and geometric symbols, through rebuilds.
TEST(HuffmanModel, NodesThatTradeSubtreesLieAtMostALevelApart) {
    struct DepthWatcher {
        const HuffmanModel* model;
        int exchanges = 0;
        int farApart = 0;
        int Depth(int n) const {
            int depth = 0;
            for (; n != kRootNode; n = model->parent[n]) {
                ++depth;
            }
            return depth;
        }
        void Rebuilt() {}
        void Exchanged(int x, int l) {
            ++exchanges;
            if (std::abs(Depth(x) - Depth(l)) > 1) {
                ++farApart;
            }
        }
    };
    const std::vector<std::function<int(std::mt19937&)>> pickers = {
        [](std::mt19937& rng) { return static_cast<int>(rng() % kSymbolCount); },
        [](std::mt19937& rng) {
            return (rng() % 4 == 0) ? static_cast<int>(rng() % kSymbolCount)
                                    : static_cast<int>(rng() % 12) * 7;
        },
        [](std::mt19937& rng) {
            int s = 0;
            while (s < kSymbolCount - 1 && rng() % 3 != 0) {
                ++s;
            }
            return s;
        },
    };
    for (size_t k = 0; k < pickers.size(); ++k) {
        std::mt19937 rng(static_cast<uint32_t>(k + 5));
        HuffmanModel model;
        model.Init();
        DepthWatcher watcher{&model};
        for (int n = 0; n < 300000; ++n) {
            model.Update(pickers[k](rng), watcher);
        }
        EXPECT_GT(watcher.exchanges, 1000) << "stream " << k;
        EXPECT_EQ(watcher.farApart, 0) << "stream " << k << ": of " << watcher.exchanges << " exchanges";
    }
}

TEST(HuffmanModel, RebuildsWhenTheRootReachesTheLimit) {
    HuffmanModel model;
    model.Init();
    int n = 0;
    while (model.freq[kRootNode] < kFreqLimit) {
        model.Update(n++ % 3);
    }
    EXPECT_EQ(n, kFreqLimit - kSymbolCount);
    model.Update(0);
    EXPECT_LT(model.freq[kRootNode], kFreqLimit / 2 + kSymbolCount);
}

TEST(LzhStream, CodesLongerThan16Bits) {
    // Counts falling off geometrically over the first symbols make a deep tree. Whenever some
    // symbol's code is longer than 16 bits, that symbol is coded next.
    const uint32_t seed = 1;
    std::mt19937 rng(seed);
    HuffmanModel model;
    model.Init();
    std::vector<Token> tokens;
    int longCodes = 0;
    for (int n = 0; n < 200000; ++n) {
        int s = 1;
        while (s < 40 && rng() % 100 < 55) {
            ++s;
        }
        tokens.push_back({s});
        model.Update(s);
        if (n % 64 == 0) {
            for (int t = 0; t < kSymbolCount; ++t) {
                if (model.CodeLength(t) > 16) {
                    tokens.push_back({t < 256 ? t : 0});
                    model.Update(tokens.back().symbol);
                    longCodes += t < 256;
                    break;
                }
            }
        }
    }
    ASSERT_GE(longCodes, 10) << "seed " << seed;
    Bytes plain;
    for (const Token& t : tokens) {
        plain.push_back(static_cast<uint8_t>(t.symbol));
    }
    EXPECT_EQ(Decode(CodeTokens(tokens), cmLZH, static_cast<int32_t>(plain.size())), plain);
}

TEST(LzhDecode, DestSizeZeroReadsNothing) {
    const auto result = RunOn({0xEE, 0x80}, cmLZH, true, 0);
    EXPECT_TRUE(result.output.empty());
    EXPECT_EQ(result.consumed, 0);
    EXPECT_TRUE(RunOn({0xEE, 0x80}, cmLZH, true, -5).output.empty());
}

TEST(LzhDecode, MissingBytesReadAsZeroBits) {
    EXPECT_EQ(Decode({0xEE}, cmLZH, 1), Decode({0xEE, 0x00}, cmLZH, 1));
    EXPECT_EQ(Decode({}, cmLZH, 100), Decode(Bytes(40, 0), cmLZH, 100));
    // Bytes beyond the source size count as missing too.
    EXPECT_EQ(RunOn({0xEE, 0x80}, cmLZH, true, 1, nullptr, 1).output, Decode({0xEE}, cmLZH, 1));
}

// Damaged streams end after destSize bytes, or at most 59 more, and never write past that: a
// canary after the largest possible output survives.
TEST(LzhDecode, DamagedStreamsEndSafely) {
    const Bytes good = Encode(VariedBytes(30000, 21), cmLZH);
    for (uint32_t seed = 0; seed < 40; ++seed) {
        std::mt19937 rng(seed);
        Bytes damaged;
        switch (seed % 4) {
            case 0:
                damaged = RandomBytes(1 + rng() % 3000, seed);
                break;
            case 1:
                damaged.assign(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(rng() % good.size()));
                break;
            case 2:
                damaged = good;
                for (int k = 0; k < 5; ++k) {
                    damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
                }
                break;
            default:
                damaged = Bytes(1 + rng() % 100, 0xFF);
                break;
        }
        const int32_t destSize = static_cast<int32_t>(1 + rng() % 40000);
        const size_t capacity = static_cast<size_t>(destSize) + 59;
        Bytes memory(capacity + 16, 0xCD);
        FixedStream dest(memory.data(), static_cast<int64_t>(capacity));
        TCustomMemoryStream source(damaged.data(), static_cast<int64_t>(damaged.size()));
        uint32_t checksum = 0;
        ASSERT_NO_THROW(RunCodec(nullptr, dest, source, static_cast<int32_t>(damaged.size()), destSize, cmLZH,
                                 checksum, true))
            << "seed " << seed;
        const int64_t written = dest.Position();
        EXPECT_GE(written, destSize) << "seed " << seed;
        EXPECT_EQ(checksum, ByteSum(memory.data(), static_cast<size_t>(written))) << "seed " << seed;
        EXPECT_EQ(Bytes(memory.end() - 16, memory.end()), Bytes(16, 0xCD)) << "seed " << seed;
    }
}

// The decoder takes input bytes that are already loaded ahead of need, but a refill of its input
// (which the source, the progress handler and a cancel see) comes exactly when a reader holding at
// most 16 bits would need it: a source that hands out one byte per read gives up as many bytes as
// that reader pulls, trailing bytes after the stream included, and one that hands out `chunk`
// bytes per read exactly the chunks that hold them.
// The bytes that a reader holding at most 16 bits pulls to decode the tokens: one byte at each read
// that finds 8 or fewer bits held. A code is read one bit at a time, an offset as 8 bits and then
// the rest of its upper bits' code word.
int64_t PulledBySmallReader(const std::vector<lzh_plain::Token>& tokens) {
    lzh_plain::Model model;
    model.Init();
    int held = 0;
    int64_t pulled = 0;
    auto read = [&](int n) {
        if (held <= 8) {
            held += 8;
            ++pulled;
        }
        held -= n;
    };
    for (const lzh_plain::Token& t : tokens) {
        const int symbol = t.length == 0 ? t.literal : t.length + 253;
        for (size_t bit = model.Code(symbol).size(); bit > 0; --bit) {
            read(1);
        }
        model.Update(symbol);
        if (t.length != 0) {
            read(8);
            read(static_cast<int>(lzh_plain::OffsetBits(t.offset).size()) - 8);
        }
    }
    return pulled;
}

int64_t ConsumedByDecode(const Bytes& coded, const Bytes& input, int32_t chunk) {
    ChunkedStream source(coded, chunk);
    TMemoryStream dest;
    uint32_t checksum = 0;
    RunCodec(nullptr, dest, source, static_cast<int32_t>(coded.size()), static_cast<int32_t>(input.size()),
             cmLZH, checksum, true);
    EXPECT_EQ(dest.Bytes(), input) << "chunk " << chunk;
    return source.Position();
}

TEST(LzhDecode, RefillsComeAtTheSameMomentsForAnyReadSize) {
    // Many short streams, whose ends meet the reader in every state...
    for (uint32_t seed = 0; seed < 400; ++seed) {
        const Bytes input = VariedBytes(40 + seed * 7 % 900, seed);
        const lzh_plain::Encoded plain = lzh_plain::Encode(input);
        const Bytes coded = Concat({plain.bytes, Bytes(40, 0x5A)});
        const int64_t pulled = ConsumedByDecode(coded, input, 1);
        ASSERT_EQ(pulled, PulledBySmallReader(plain.tokens)) << "seed " << seed;
        for (int32_t chunk : {16, 17, 24, 8192}) {
            const int64_t whole = (pulled + chunk - 1) / chunk * chunk;
            ASSERT_EQ(ConsumedByDecode(coded, input, chunk),
                      std::min<int64_t>(whole, static_cast<int64_t>(coded.size())))
                << "seed " << seed << ", chunk " << chunk;
        }
    }
    // ...and long ones, read in chunks of many sizes.
    for (uint32_t seed : {11u, 12u, 13u}) {
        const Bytes input = seed == 13 ? TextBytes(60000, seed) : VariedBytes(50000 + 977 * seed, seed);
        const Bytes coded = Concat({Encode(input, cmLZH), Bytes(300, 0x5A)});
        const int64_t pulled = ConsumedByDecode(coded, input, 1);
        for (int32_t chunk = 2; chunk <= 8192; chunk = chunk < 48 ? chunk + 1 : chunk * 2 + 1) {
            const int64_t whole = (pulled + chunk - 1) / chunk * chunk;
            EXPECT_EQ(ConsumedByDecode(coded, input, chunk),
                      std::min<int64_t>(whole, static_cast<int64_t>(coded.size())))
                << "seed " << seed << ", chunk " << chunk;
        }
    }
}

}  // namespace
