// The LZH codec held against the plain coder of lzh_plain.h, which is written from the coding rules
// and shares no code with it: which tree a string is searched in, the model's rebuild, and every
// code word of the offset code, in both directions.
#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <set>

#include "archive/format.h"
#include "archive/lzh_model.h"
#include "lzh_plain.h"
#include "test_util.h"

namespace {

// Bytes that never repeat three in a row: the encoder codes them as literals only, so that the
// strings set into them alone decide the matches. They lie at 0x80 and above, apart from the
// letters of those strings.
Bytes Filler(size_t size) {
    Bytes bytes;
    for (size_t i = 0; bytes.size() < size; ++i) {
        bytes.push_back(static_cast<uint8_t>(0x80 | ((i >> 6) & 63)));
        bytes.push_back(static_cast<uint8_t>(0xC0 | (i & 63)));
    }
    bytes.resize(size);
    return bytes;
}

void Put(Bytes& bytes, size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// The trees by first byte and the low 4 bits of x alone, without the fold.
int UnfoldedTree(uint8_t b0, uint8_t b1, uint8_t b2) {
    return b0 + 256 * ((b1 ^ b2) & 15);
}

// The match of the token that codes the string at input offset `at`.
lzh_plain::Token TokenAt(const std::vector<lzh_plain::Token>& tokens, size_t at) {
    size_t position = 0;
    for (const lzh_plain::Token& t : tokens) {
        if (position == at) {
            return t;
        }
        position += t.length != 0 ? static_cast<size_t>(t.length) : 1;
    }
    return {};
}

// Strings starting "A" whose second and third bytes XOR to 0x00, 0x10 or 0x11: the folded hash puts
// 0x00 and 0x11 into one tree and 0x10 into another, the low 4 bits alone would pair 0x00 with 0x10.
//
// In order: F (offset 0) and G (50) of the tested x, then "ABBp" (100) and "ABBz" (200), x = 0. At
// 4036 F slides out of the window. Where F shares the tree of the "ABB" strings, it had them in its
// left subtree and G to its right, so the largest of its left subtree, "ABBz", takes its place at
// the top of the tree. At 4100 "ABBm" is searched: both "ABB" strings match 3 bytes, and "ABBz", the
// nearer, is on the search path only when it stands at the top: the match is then at back offset
// 4100 - 200 - 1 = 3899, else the one on the path, at 3999.
struct TreeCase {
    std::string f;
    std::string g;
    int offset;  // of the match that codes "ABBm"
    int unfoldedOffset;
};

void PrintTo(const TreeCase& c, std::ostream* os) {
    *os << c.f << " and " << c.g;
}

class EncoderTrees : public ::testing::TestWithParam<TreeCase> {};

TEST_P(EncoderTrees, StringsMeetInTheTreeOfTheirFoldedHash) {
    const TreeCase& c = GetParam();
    Bytes input = Filler(4300);
    Put(input, 0, c.f);
    Put(input, 50, c.g);
    Put(input, 100, "ABBp");
    Put(input, 200, "ABBz");
    Put(input, 4100, "ABBm");

    const lzh_plain::Encoded plain = lzh_plain::Encode(input);
    EXPECT_EQ(TokenAt(plain.tokens, 4100), (lzh_plain::Token{0, 3, c.offset}));
    // Without the fold the strings would meet other strings: the input tells the two apart.
    const lzh_plain::Encoded unfolded = lzh_plain::Encode(input, UnfoldedTree);
    EXPECT_EQ(TokenAt(unfolded.tokens, 4100), (lzh_plain::Token{0, 3, c.unfoldedOffset}));
    ASSERT_NE(plain.bytes, unfolded.bytes);

    EXPECT_EQ(Encode(input, cmLZH), plain.bytes);
    EXPECT_EQ(Decode(plain.bytes, cmLZH, static_cast<int32_t>(input.size())), input);
}

INSTANTIATE_TEST_SUITE_P(XorOfSecondAndThirdByte,
                         EncoderTrees,
                         ::testing::Values(TreeCase{"ASB", "ATE", 3899, 3999},    // x = 0x11
                                           TreeCase{"ARB", "ATD", 3999, 3899}));  // x = 0x10

// Whole streams: the encoder codes every input of 119 bytes or more as the plain coder does.
TEST(EncoderTrees, WholeStreamsAsThePlainCoder) {
    const std::vector<std::pair<const char*, Bytes>> inputs = {
        {"text", TextBytes(40000, 3)},
        {"varied", VariedBytes(60000, 4)},
        {"four letters whose XORs the fold pairs",
         [] {
             std::mt19937 rng(17);
             Bytes bytes(9000);
             for (uint8_t& b : bytes) {
                 b = "APQ@"[rng() % 4];
             }
             return bytes;
         }()},
        {"119 bytes", TextBytes(119, 5)},
    };
    for (const auto& [what, input] : inputs) {
        const lzh_plain::Encoded plain = lzh_plain::Encode(input);
        EXPECT_EQ(Encode(input, cmLZH), plain.bytes) << what;
        EXPECT_EQ(Decode(plain.bytes, cmLZH, static_cast<int32_t>(input.size())), input) << what;
    }
}

// ---------------------------------------------------------------------------------------------
// The model's rebuild

TEST(HuffmanRebuild, AsThePlainRebuild) {
    const uint32_t seed = 7;
    std::mt19937 rng(seed);
    lzh::HuffmanModel model;
    lzh_plain::Model plain;
    model.Init();
    plain.Init();
    ASSERT_TRUE(plain.SameAs(model));
    // A few frequent symbols and a spread of rare ones: odd and even counts at every rebuild.
    int rebuilds = 0;
    for (int n = 0; n < 250000; ++n) {
        const int s =
            rng() % 3 == 0 ? static_cast<int>(rng() % lzh_plain::kSymbols) : static_cast<int>(rng() % 20);
        const bool rebuilding = plain.freq[lzh_plain::kRoot] == lzh_plain::kLimit;
        model.Update(s);
        plain.Update(s);
        if (rebuilding || n % 5000 == 0) {
            ASSERT_TRUE(plain.SameAs(model)) << "after update " << n << ", seed " << seed;
        }
        rebuilds += rebuilding;
    }
    EXPECT_GE(rebuilds, 6);

    // Rebuilds forced between those, from counts that the limit never leaves.
    for (int k = 0; k < 40; ++k) {
        for (int n = static_cast<int>(rng() % 500); n > 0; --n) {
            const int s = static_cast<int>(rng() % lzh_plain::kSymbols);
            model.Update(s);
            plain.Update(s);
        }
        model.Rebuild();
        plain.Rebuild();
        ASSERT_TRUE(plain.SameAs(model)) << "forced rebuild " << k << ", seed " << seed;
    }
}

// ---------------------------------------------------------------------------------------------
// The offset code

// 4096 bytes of little redundancy to fill the window, so that a match copies bytes that tell its
// offset.
Bytes WindowFill() {
    return RandomBytes(lzh_plain::kWindow, 29);
}

// Every code word read by the decoder: after the window is filled with literals, one match of 8 at
// an offset of every upper part u, with lower bits that vary with u. The expected bytes follow from
// copying out of a plain window.
TEST(OffsetCode, TheDecoderReadsEveryCodeWord) {
    const Bytes fill = WindowFill();
    std::vector<lzh_plain::Token> tokens;
    Bytes window(lzh_plain::kWindow, lzh_plain::kFill);
    Bytes expected;
    int r = lzh_plain::kStart;
    auto put = [&](uint8_t b) {
        expected.push_back(b);
        window[static_cast<size_t>(r)] = b;
        r = (r + 1) % lzh_plain::kWindow;
    };
    for (uint8_t b : fill) {
        tokens.push_back({b, 0, 0});
        put(b);
    }
    for (int u = 0; u < 64; ++u) {
        for (int lower : {(u * 37) % 64, 63 - u}) {
            const int offset = u * 64 + lower;
            tokens.push_back({0, 8, offset});
            const int from = r - offset - 1;
            for (int k = 0; k < 8; ++k) {
                put(window[static_cast<size_t>((from + k + lzh_plain::kWindow) % lzh_plain::kWindow)]);
            }
        }
    }
    EXPECT_EQ(Decode(lzh_plain::CodeTokens(tokens), cmLZH, static_cast<int32_t>(expected.size())), expected);
}

// Every code word written by the encoder: copies of 10 bytes from distances of every upper part.
// The plain coder, which writes the code words from the table, gives the expected bytes.
TEST(OffsetCode, TheEncoderWritesEveryCodeWord) {
    Bytes input = WindowFill();
    const Bytes more = RandomBytes(64 * 20, 31);
    std::set<int> uppers;
    for (int u = 0; u < 64; ++u) {
        // A string leaves the trees 4036 positions after it entered them: 4035 is the farthest
        // offset that the encoder finds.
        const auto distance = static_cast<size_t>(std::min(u * 64 + 10 + u % 7 * 8, 4035) + 1);
        input.insert(input.end(), more.begin() + u * 20, more.begin() + u * 20 + 10);
        for (int k = 0; k < 10; ++k) {
            input.push_back(input[input.size() - distance]);
        }
    }
    const lzh_plain::Encoded plain = lzh_plain::Encode(input);
    for (const lzh_plain::Token& t : plain.tokens) {
        if (t.length != 0) {
            uppers.insert(t.offset >> 6);
        }
    }
    ASSERT_EQ(uppers.size(), 64u) << "the input does not reach every code word";
    EXPECT_EQ(Encode(input, cmLZH), plain.bytes);
}

}  // namespace
