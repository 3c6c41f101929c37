// SHA-256 against the published test vectors, fed whole and in pieces of every awkward size, and
// against the system's sha256sum on the product's files.
#include "archive/sha256.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

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
