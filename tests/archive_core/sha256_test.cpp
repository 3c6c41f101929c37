// SHA-256 against the published test vectors, fed whole and in pieces of every awkward size, and
// against the system's sha256sum on the product's files.
#include "archive/sha256.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "archive/sha256_blocks.h"

namespace {

std::string HexOf(std::string_view message) {
    return DigestToHex(Sha256Of(message.data(), message.size()));
}

struct Vector {
    std::string message;
    const char* digest;
};

// FIPS 180-4 examples and the NIST byte-oriented vectors around the padding boundary.
const Vector kVectors[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrs"
     "t"
     "nopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
};

TEST(Sha256, PublishedVectorsWholeAndInPieces) {
    for (const Vector& vector : kVectors) {
        SCOPED_TRACE(vector.message.substr(0, 60));
        EXPECT_EQ(HexOf(vector.message), vector.digest);
        for (size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 127u, 4096u}) {
            Sha256 sha;
            for (size_t at = 0; at < vector.message.size(); at += piece) {
                sha.Update(vector.message.data() + at, std::min(piece, vector.message.size() - at));
            }
            EXPECT_EQ(DigestToHex(sha.Final()), vector.digest) << "pieces of " << piece;
        }
    }
}

TEST(Sha256, HexRoundTripAndRefusals) {
    const Sha256Digest digest = Sha256Of("abc", 3);
    Sha256Digest back{};
    ASSERT_TRUE(DigestFromHex(DigestToHex(digest), back));
    EXPECT_EQ(back, digest);
    std::string upper = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    ASSERT_TRUE(DigestFromHex(upper, back));
    EXPECT_EQ(back, digest);
    EXPECT_FALSE(DigestFromHex(upper.substr(1), back));
    EXPECT_FALSE(DigestFromHex(upper + "0", back));
    upper[10] = 'g';
    EXPECT_FALSE(DigestFromHex(upper, back));
}

// The processor's SHA instructions against the portable block function, which the vectors above
// hold: random states and data, every block count from 1 to 40 and a few large ones, and message
// words chosen to reach the edge cases of the additions (all ones, all zeros).
TEST(Sha256Blocks, ProcessorInstructionsMatchThePortableCode) {
    const sha256::BlockFunction accelerated = sha256::AcceleratedBlocks();
    if (accelerated == nullptr) {
        GTEST_SKIP() << "this processor has no SHA instructions";
    }
    std::mt19937 rng(20261209);
    std::vector<uint8_t> data(64 * 1000);
    for (int round = 0; round < 60; ++round) {
        const size_t blocks = round < 40 ? static_cast<size_t>(round + 1) : 1 + rng() % 1000;
        const int kind = round % 3;
        for (auto& byte : data) {
            byte = kind == 0 ? static_cast<uint8_t>(rng()) : kind == 1 ? 0xFF : 0x00;
        }
        std::array<uint32_t, 8> portable;
        for (auto& word : portable) {
            word = static_cast<uint32_t>(rng());
        }
        std::array<uint32_t, 8> fast = portable;
        sha256::PortableBlocks(portable, data.data(), blocks);
        accelerated(fast, data.data(), blocks);
        ASSERT_EQ(fast, portable) << "round " << round << ", " << blocks << " blocks";
    }
    // Unaligned data, one block at a time: the same as all blocks at once.
    std::array<uint32_t, 8> whole{1, 2, 3, 4, 5, 6, 7, 8};
    std::array<uint32_t, 8> oneByOne = whole;
    sha256::PortableBlocks(whole, data.data() + 3, 10);
    for (int k = 0; k < 10; ++k) {
        accelerated(oneByOne, data.data() + 3 + 64 * k, 1);
    }
    EXPECT_EQ(oneByOne, whole);
}

// Every message length from 0 to 1100 (each padding case many times over), whole and split at
// a varying point: the digest through Sha256 against the portable blocks padded by hand.
TEST(Sha256Blocks, DigestsOfEveryLengthMatchThePortableCode) {
    std::mt19937 rng(7);
    std::vector<uint8_t> message(1100);
    for (auto& byte : message) {
        byte = static_cast<uint8_t>(rng());
    }
    for (size_t length = 0; length <= message.size(); ++length) {
        std::vector<uint8_t> padded(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(length));
        padded.push_back(0x80);
        while (padded.size() % 64 != 56) {
            padded.push_back(0);
        }
        for (int i = 7; i >= 0; --i) {
            padded.push_back(static_cast<uint8_t>((uint64_t{length} * 8) >> (8 * i)));
        }
        std::array<uint32_t, 8> state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
        sha256::PortableBlocks(state, padded.data(), padded.size() / 64);
        Sha256Digest expected;
        for (int i = 0; i < 32; ++i) {
            expected[i] = static_cast<uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
        }
        ASSERT_EQ(Sha256Of(message.data(), length), expected) << "length " << length;
        const size_t split = length == 0 ? 0 : (length * 7919) % length;
        Sha256 pieces;
        pieces.Update(message.data(), split);
        pieces.Update(message.data() + split, length - split);
        ASSERT_EQ(pieces.Final(), expected) << "length " << length << " split at " << split;
    }
}

// The same digest as the system's own tool, on every file of the product.
TEST(Sha256, AgreesWithSha256sumOnThePayload) {
    int files = 0;
    for (const auto& item : std::filesystem::directory_iterator(TANDREL_PAYLOAD_DIR)) {
        if (!item.is_regular_file()) {
            continue;
        }
        std::ifstream in(item.path(), std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string command = "sha256sum '" + item.path().string() + "'";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[65] = {};
        const size_t got = std::fread(line, 1, 64, pipe);
        ::pclose(pipe);
        ASSERT_EQ(got, 64u) << command;
        EXPECT_EQ(DigestToHex(Sha256Of(bytes.data(), bytes.size())), std::string(line, 64)) << item.path();
        ++files;
    }
    EXPECT_GE(files, 4);
}

}  // namespace
