// Coded streams kept as files: each must expand to its stated size and byte sum and, where the
// plain file is given, to exactly those bytes, and the encoder must give back the coded file.
// golden/MANIFEST lists them; golden/README.md says how each file was made.
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "archive/format.h"
#include "test_util.h"

namespace {

Bytes ReadFile(const std::string& name) {
    return ReadFileBytes(std::string(TANDREL_GOLDEN_DIR) + "/" + name);
}

struct GoldenEntry {
    std::string coded;
    uint8_t method = 0;
    int32_t destSize = 0;
    uint32_t byteSum = 0;
    std::string plain;  // "-" when the stream is damaged and has no plain form
};

std::vector<GoldenEntry> ReadManifest() {
    std::ifstream in(std::string(TANDREL_GOLDEN_DIR) + "/MANIFEST");
    std::vector<GoldenEntry> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        GoldenEntry e;
        std::string method;
        fields >> e.coded >> method >> e.destSize >> e.byteSum >> e.plain;
        e.method = static_cast<uint8_t>(MethodFromName(method));
        entries.push_back(e);
    }
    return entries;
}

TEST(Golden, StreamsExpandAsStated) {
    const auto entries = ReadManifest();
    ASSERT_GE(entries.size(), 8u);
    for (const GoldenEntry& e : entries) {
        SCOPED_TRACE(e.coded);
        const Bytes coded = ReadFile(e.coded);
        const auto result = RunOn(coded, e.method, true, e.destSize);
        EXPECT_EQ(result.checksum, e.byteSum);
        if (e.plain != "-") {
            const Bytes plain = ReadFile(e.plain);
            EXPECT_EQ(result.output, plain);
            EXPECT_EQ(Encode(plain, e.method), coded);
        } else {
            EXPECT_GE(result.output.size(), static_cast<size_t>(std::max(e.destSize, 0)));
        }
    }
}

}  // namespace
