// The container layout: header records field by field, the byte sum, the end of the entries.
#include "archive/format.h"

#include <gtest/gtest.h>

#include "archive/archive_reader.h"
#include "test_util.h"

// Shown by a failed comparison as year-month-day hour:minute:second.
void PrintTo(const DosDateTime& t, std::ostream* os) {
    *os << t.year << '-' << t.month << '-' << t.day << ' ' << t.hour << ':' << t.minute << ':' << t.second;
}

namespace {

TEST(ArchiveHeader, EmbeddedArchiveLayout) {
    TArchiveHeader header = InitArchiveHeader(cmLZH, 0);
    header.TotalSize = 770907;
    uint8_t bytes[kArchiveHeaderSize];
    EncodeArchiveHeader(header, bytes);
    const Bytes expected = {'Z',  'O',  'R', 'V', 0x1A, 'L', 'Z', 'H', 0x5B, 0xC3, 0x0B,
                            0x00, 0x01, 0,   0,   0,    0,   0,   0,   0,    0};
    EXPECT_EQ(Bytes(bytes, bytes + kArchiveHeaderSize), expected);

    const TArchiveHeader decoded = DecodeArchiveHeader(expected.data());
    EXPECT_TRUE(HasArchiveSignature(decoded));
    EXPECT_EQ(MethodIdentifier(decoded), "LZH");
    EXPECT_EQ(decoded.TotalSize, 770907);
    EXPECT_EQ(decoded.ArchiveType, caMulti);
    EXPECT_EQ(decoded.LockFlag, 0u);
    EXPECT_EQ(InitArchiveHeader(cmLZH, 5).LockFlag, 1u);
    EXPECT_EQ(InitArchiveHeader(cmLZH, -5).LockFlag, 0u);
}

TEST(FileHeader, FirstEntryOfEmbeddedArchive) {
    TFileHeader header;
    header.NameLength = 11;
    header.FileDate = PackDosDateTime({1997, 12, 7, 14, 37, 20});
    header.Attributes = 0x0020;
    header.FullSize = 713728;
    header.CompressedSize = 341156;
    header.Method = cmLZH;
    header.Checksum = 0x049DFDB5;
    header.LockFlag = 0;
    EXPECT_EQ(header.FileDate, 0x238774AAu);

    uint8_t bytes[kFileHeaderSize];
    EncodeFileHeader(header, bytes);
    const Bytes expected = {0x0B, 0x00, 0xAA, 0x74, 0x87, 0x23, 0x20, 0x00, 0x00, 0xE4, 0x0A, 0x00, 0xA4,
                            0x34, 0x05, 0x00, 0x02, 0xB5, 0xFD, 0x9D, 0x04, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(bytes, bytes + kFileHeaderSize), expected);

    // Every field comes back, the attributes and the lock flag included.
    EXPECT_TRUE(DecodeFileHeader(expected.data()) == header);
    header.LockFlag = 7;
    header.Attributes = 0x0021;
    EncodeFileHeader(header, bytes);
    EXPECT_TRUE(DecodeFileHeader(bytes) == header);
}

TEST(DosDate, PackAndUnpack) {
    EXPECT_EQ(PackDosDateTime({1997, 12, 7, 14, 37, 20}), 0x238774AAu);
    EXPECT_EQ(PackDosDateTime({1997, 12, 7, 14, 37, 21}), 0x238774AAu);  // seconds halved
    EXPECT_EQ(UnpackDosDateTime(0x238774AA), (DosDateTime{1997, 12, 7, 14, 37, 20}));
    EXPECT_EQ(PackDosDateTime({1970, 1, 1, 0, 0, 0}), 0x00210000u);  // 1980-01-01: the earliest
    EXPECT_EQ(UnpackDosDateTime(PackDosDateTime({2200, 1, 1, 0, 0, 0})),
              (DosDateTime{2107, 12, 31, 23, 59, 58}));
}

TEST(FileHeader, SignedFieldsKeepTheirSign) {
    Bytes bytes(kFileHeaderSize, 0xFF);
    const TFileHeader header = DecodeFileHeader(bytes.data());
    EXPECT_EQ(header.NameLength, -1);
    EXPECT_EQ(header.FullSize, -1);
    EXPECT_EQ(header.CompressedSize, -1);
    EXPECT_EQ(header.LockFlag, -1);
    EXPECT_EQ(header.Checksum, 0xFFFFFFFFu);
    EXPECT_EQ(header.Attributes, 0xFFFF);
}

TEST(ByteSum, Values) {
    const Bytes abc = {'a', 'b', 'c'};
    EXPECT_EQ(ByteSum(abc.data(), abc.size()), 294u);
    EXPECT_EQ(ByteSum(nullptr, 0), 0u);
    const Bytes high(16843010, 0xFF);  // 255 * 16843010 = 2^32 + 254
    EXPECT_EQ(ByteSum(high.data(), high.size()), 254u);
    EXPECT_EQ(ByteSum(abc.data(), abc.size(), 0xFFFFFFFFu), 293u);
}

TEST(ByteSum, EveryLengthAndAlignmentAsAByteAtATime) {
    // The sum goes a block of bytes at a time: every length around the block size and every start
    // within a block must give the plain sum, tail included.
    Bytes data(160);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 151 + 77);
    }
    for (size_t from = 0; from < 32; ++from) {
        uint32_t expected = 7;
        for (size_t length = 0; from + length <= data.size(); ++length) {
            ASSERT_EQ(ByteSum(data.data() + from, length, 7), expected) << from << "+" << length;
            if (from + length < data.size()) {
                expected += data[from + length];
            }
        }
    }
}

TEST(MethodNames, NumbersAndIdentifiers) {
    EXPECT_STREQ(MethodName(cmNone), "NON");
    EXPECT_STREQ(MethodName(cmRLE), "RLE");
    EXPECT_STREQ(MethodName(cmLZH), "LZH");
    EXPECT_STREQ(MethodName(cmCustom), "CUS");
    EXPECT_STREQ(MethodName(4), "");
    EXPECT_EQ(MethodFromName("LZH"), cmLZH);
    EXPECT_EQ(MethodFromName("lzh"), -1);
}

// An archive whose entries have the given name lengths and data sizes (data bytes all 0).
Bytes ArchiveBytes(const std::vector<std::pair<std::string, int32_t>>& entries) {
    TArchiveHeader header = InitArchiveHeader(cmLZH, 0);
    Bytes archive(kArchiveHeaderSize);
    EncodeArchiveHeader(header, archive.data());
    for (const auto& [name, size] : entries) {
        TFileHeader file;
        file.NameLength = static_cast<int16_t>(name.size());
        file.CompressedSize = size;
        file.Method = cmLZH;
        uint8_t bytes[kFileHeaderSize];
        EncodeFileHeader(file, bytes);
        archive.insert(archive.end(), bytes, bytes + kFileHeaderSize);
        archive.insert(archive.end(), name.begin(), name.end());
        archive.resize(archive.size() + static_cast<size_t>(size));
    }
    return archive;
}

TEST(EntryWalk, EmbeddedArchiveOffsets) {
    const Bytes archive = ArchiveBytes({{"Tandrel.exe", 341156},
                                        {"Tandrel.hlp", 33092},
                                        {"readme.txt", 1822},
                                        {"sites.ini", 935},
                                        {"whatsnew.txt", 1639}});
    EXPECT_EQ(archive.size(), 378843u);
    TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
    const auto entries = ListEntries(stream);
    ASSERT_EQ(entries.size(), 5u);
    const int64_t offsets[] = {21, 341213, 374341, 376198, 377167};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(entries[i].headerPos, offsets[i]) << i;
    }
    EXPECT_EQ(entries[0].name, "Tandrel.exe");
    EXPECT_EQ(entries[0].dataPos, 57);
    EXPECT_EQ(entries[4].name, "whatsnew.txt");
}

TEST(EntryWalk, HeaderOnlyAndEmptyEntries) {
    Bytes archive = ArchiveBytes({});
    TCustomMemoryStream empty(archive.data(), static_cast<int64_t>(archive.size()));
    EXPECT_TRUE(ListEntries(empty).empty());

    archive = ArchiveBytes({{"a", 0}, {"", 0}, {"c", 3}});
    TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
    const auto entries = ListEntries(stream);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].headerPos, 21 + 25 + 1);  // right after the first entry's name
    EXPECT_EQ(entries[1].name, "");
    EXPECT_EQ(entries[2].headerPos, 21 + 25 + 1 + 25);
}

// The walk ends at a short header, a short name, a negative NameLength or a negative
// CompressedSize; the entries before stay listed.
TEST(EntryWalk, EndsWhereTheEntriesEnd) {
    const Bytes good = ArchiveBytes({{"one", 4}});
    struct Case {
        const char* what;
        Bytes tail;
    };
    Bytes negativeName(kFileHeaderSize, 0);
    negativeName[0] = 0x00;
    negativeName[1] = 0x80;  // NameLength -32768
    Bytes negativeSize(kFileHeaderSize, 0);
    negativeSize[12] = negativeSize[13] = negativeSize[14] = negativeSize[15] = 0xFF;  // -1
    Bytes shortName(kFileHeaderSize, 0);
    shortName[0] = 10;
    shortName.push_back('x');
    const Case cases[] = {{"short header", Bytes(24, 0)},
                          {"negative NameLength", negativeName},
                          {"negative CompressedSize", negativeSize},
                          {"short name", shortName}};
    for (const auto& c : cases) {
        Bytes archive = Concat({good, c.tail});
        TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
        EXPECT_EQ(ListEntries(stream).size(), 1u) << c.what;
    }
}

TEST(ArchiveHeaderCheck, Failures) {
    Bytes archive = ArchiveBytes({});
    {
        TCustomMemoryStream stream(archive.data(), 20);
        EXPECT_THROW(ReadCheckedArchiveHeader(stream), EInvalidHeader);
    }
    struct Case {
        size_t offset;
        uint8_t value;
        const char* message;
    };
    const Case cases[] = {{4, 0x1B, msg::kInvalidHeader},
                          {0, 'z', msg::kInvalidHeader},
                          {12, 2, msg::kInvalidArchiveType},
                          {5, 'l', msg::kUnrecognizedMethod}};
    for (const auto& c : cases) {
        Bytes damaged = archive;
        damaged[c.offset] = c.value;
        TCustomMemoryStream stream(damaged.data(), static_cast<int64_t>(damaged.size()));
        try {
            ReadCheckedArchiveHeader(stream);
            ADD_FAILURE() << "no exception for offset " << c.offset;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST(Checksum, LockedAndUnlocked) {
    TFileHeader header;
    header.Checksum = 294;
    EXPECT_TRUE(ChecksumMatches(header, 294, 0));
    EXPECT_FALSE(ChecksumMatches(header, 295, 0));
    header.LockFlag = 1;
    header.Checksum = 294 + 1000;
    EXPECT_TRUE(ChecksumMatches(header, 294, 1000));
    EXPECT_FALSE(ChecksumMatches(header, 294, 999));
    header.Checksum = 294 - 7;  // a negative key
    EXPECT_TRUE(ChecksumMatches(header, 294, -7));
    header.Checksum = 294;
    EXPECT_FALSE(ChecksumMatches(header, 294, 0));  // locked needs a key, even one that adds 0
    header.Checksum = 5;                            // wraps modulo 2^32
    EXPECT_TRUE(ChecksumMatches(header, 0xFFFFFFFFu, 6));
}

}  // namespace
