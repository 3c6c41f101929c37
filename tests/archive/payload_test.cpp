// The archive that the build packs and embeds: loaded as the setup loads it (resource "data" of the
// program's own module, here the test program, which compiles the same payload.rc), listed,
// expanded the way the extraction loop does it, and compared with the payload files byte for byte.
#include <windows.h>

#include <cstring>
#include <gtest/gtest.h>

#include "archive/compress.h"
#include "archive_test_support.h"
#include "framework/string_list.h"

using namespace archive_test;

namespace {

const std::vector<std::string> kEntries = {"Tandrel.exe", "Tandrel.hlp", "readme.txt", "sites.ini",
                                           "whatsnew.txt"};

// Where the build keeps each payload file (paths given by the build, in Z: form).
std::string SourceOf(const std::string& entry) {
    return entry == "Tandrel.exe" ? std::string(TANDREL_EXE) : std::string(PAYLOAD_DIR) + "/" + entry;
}

void ExpectTheFiveEntries(TStream& archive) {
    TCompress compress(nullptr);
    TStringList list;
    compress.ListArchiveFiles(archive, list);
    ASSERT_EQ(list.Lines(), kEntries);
    int64_t expected = 21;
    int32_t total = 0;
    for (int i = 0; i < list.Count(); ++i) {
        const auto* info = dynamic_cast<const TCompressedFileInfo*>(list.Objects(i));
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->HeaderPos, expected) << list[i];
        EXPECT_EQ(info->Method, cmLZH) << list[i];
        EXPECT_EQ(static_cast<uint32_t>(info->FileDate), kSampleDate) << list[i];  // SOURCE_DATE_EPOCH
        EXPECT_EQ(info->Attributes, 0x20) << list[i];
        EXPECT_FALSE(info->Locked);
        const Bytes source = ReadFileBytes(SourceOf(list[i]));
        EXPECT_EQ(info->FullSize, static_cast<int32_t>(source.size())) << list[i];
        EXPECT_EQ(info->Checksum, ByteSum(source.data(), source.size())) << list[i];
        expected += 25 + static_cast<int64_t>(list[i].size()) + info->CompressedSize;
        total += info->FullSize;
    }
    EXPECT_EQ(expected, archive.Size());  // the last entry's data ends the archive
    uint8_t header[21];
    archive.SetPosition(0);
    archive.ReadBuffer(header, 21);
    EXPECT_EQ(DecodeArchiveHeader(header).TotalSize, total);
    EXPECT_EQ(MethodIdentifier(DecodeArchiveHeader(header)), "LZH");
}

TEST(EmbeddedPayload, ListsTheFiveEntriesInOrder) {
    TCompress compress(nullptr);
    auto archive = compress.LoadArchiveResource("data", "");
    ExpectTheFiveEntries(*archive);
}

TEST(EmbeddedPayload, ExpandsEntryByEntryIntoThePayloadsBytes) {
    TempFolder temp;
    TCompress compress(nullptr);
    compress.MakeDirectories = true;
    compress.ExceptionOnFileError = false;
    compress.Key = 0;
    auto archive = compress.LoadArchiveResource("DATA", "");
    compress.SetTargetPath(temp.Path() + "Tandrel");

    // As the extraction loop: one selection per entry, the gauge at the end of each entry.
    TStringList entries;
    compress.ListArchiveFiles(*archive, entries);
    int currentFile = 0;
    int gauge = 0;
    std::vector<int> gaugeAtEnd;
    compress.OnShowProgress = [&](int32_t& percentage) {
        gauge = ((currentFile - 1) * 100 + percentage) / entries.Count();
    };
    for (int i = 0; i < entries.Count(); ++i) {
        ++currentFile;
        TStringList selection;
        selection.Add(entries[i]);
        compress.ExpandArchiveFiles(*archive, &selection);
        EXPECT_EQ(selection.Lines(), std::vector<std::string>{temp.Path() + "Tandrel\\" + entries[i]});
        gaugeAtEnd.push_back(gauge);
    }
    EXPECT_EQ(gaugeAtEnd, (std::vector<int>{20, 40, 60, 80, 100}));
    for (const std::string& entry : kEntries) {
        const std::string written = temp.Path() + "Tandrel\\" + entry;
        EXPECT_EQ(ReadFileBytes(written), ReadFileBytes(SourceOf(entry))) << entry;
        EXPECT_EQ(LocalDosTime(written), kSampleDate) << entry;
    }
}

TEST(EmbeddedPayload, TheSetupProgramCarriesTheSameArchive) {
#ifdef SETUP_EXE
    TCompress compress(nullptr);
    auto fromSetup = compress.LoadArchiveResource("data", SETUP_EXE);
    ExpectTheFiveEntries(*fromSetup);
    auto own = compress.LoadArchiveResource("data", "");
    ASSERT_EQ(fromSetup->Size(), own->Size());
    EXPECT_EQ(
        0, std::memcmp(dynamic_cast<TCustomMemoryStream&>(*fromSetup).Memory(),
                       dynamic_cast<TCustomMemoryStream&>(*own).Memory(), static_cast<size_t>(own->Size())));
#else
    GTEST_SKIP() << "this build has no setup program target";
#endif
}

}  // namespace
