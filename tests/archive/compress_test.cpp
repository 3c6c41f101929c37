// The archive component on real files in a private temporary folder: listing, selection, output
// paths, events, restored time stamps and attributes, and every failure with what it leaves behind.
#include "archive/compress.h"

#include <windows.h>

#include <any>
#include <gtest/gtest.h>
#include <map>

#include "archive/sha256.h"
#include "archive_test_support.h"
#include "framework/exceptions.h"
#include "framework/layout.h"
#include "framework/string_list.h"

using namespace archive_test;

namespace {

const TCompressedFileInfo& Info(const TStringList& list, int index) {
    auto* info = dynamic_cast<TCompressedFileInfo*>(list.Objects(index));
    EXPECT_NE(info, nullptr);
    return *info;
}

class CompressTest : public ::testing::Test {
  protected:
    CompressTest() { compress.SetTargetPath(temp.Path()); }

    // Expands archive with a selection of names; returns what the selection came back holding.
    std::vector<std::string> ExpandSelection(const Bytes& archive, std::vector<std::string> names) {
        TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
        for (std::string& name : names) {
            selection.Add(std::move(name));
        }
        compress.ExpandArchiveFiles(stream, &selection);
        return selection.Lines();
    }
    void ExpandAll(const Bytes& archive) {
        TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
        compress.ExpandArchiveFiles(stream, nullptr);
    }
    std::string Out(const std::string& name) const { return temp.Path() + name; }

    TempFolder temp;
    TestCompress compress;
    TStringList selection;
};

// ---------------------------------------------------------------------------------------------
// Listing

TEST_F(CompressTest, ListingGivesEveryEntryInArchiveOrderWithItsHeader) {
    const Bytes readme = TextBytes("Read me first.\r\n");
    const Bytes sites = NoiseBytes(3000, 7);
    const Bytes archive = MakeArchive({
        {.name = "readme.txt", .data = readme, .method = cmNone, .attributes = 0x21},
        {.name = "sub\\sites.ini", .data = sites, .method = cmLZH, .fileDate = 0x21A5A000},
        {.name = "locked.bin", .data = readme, .method = cmRLE, .lockFlag = 1, .key = 9},
    });
    TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
    TStringList list;
    list.Add("kept");  // the listing appends
    compress.ListArchiveFiles(stream, list);
    compress.ListArchiveFiles(stream, list);  // rewinds: the same three again

    ASSERT_EQ(list.Lines(), (std::vector<std::string>{"kept", "readme.txt", "sub\\sites.ini", "locked.bin",
                                                      "readme.txt", "sub\\sites.ini", "locked.bin"}));
    const TCompressedFileInfo& first = Info(list, 1);
    EXPECT_EQ(first.HeaderPos, 21);
    EXPECT_EQ(first.FileDate, static_cast<int32_t>(kSampleDate));
    EXPECT_EQ(first.Attributes, 0x21);
    EXPECT_EQ(first.FullSize, static_cast<int32_t>(readme.size()));
    EXPECT_EQ(first.CompressedSize, static_cast<int32_t>(readme.size()));
    EXPECT_EQ(first.Method, cmNone);
    EXPECT_EQ(first.Checksum, ByteSum(readme.data(), readme.size()));
    EXPECT_FALSE(first.Locked);

    const TCompressedFileInfo& second = Info(list, 2);
    EXPECT_EQ(second.HeaderPos, 21 + 25 + 10 + first.CompressedSize);
    EXPECT_EQ(second.FileDate, 0x21A5A000);
    EXPECT_EQ(second.Method, cmLZH);
    EXPECT_EQ(second.FullSize, 3000);

    const TCompressedFileInfo& third = Info(list, 3);
    EXPECT_EQ(third.HeaderPos, second.HeaderPos + 25 + 13 + second.CompressedSize);
    EXPECT_TRUE(third.Locked);
    EXPECT_EQ(third.Checksum, ByteSum(readme.data(), readme.size()) + 9);
    EXPECT_EQ(third.HeaderPos + 25 + 10 + third.CompressedSize, static_cast<int32_t>(archive.size()));
}

TEST_F(CompressTest, ShortStreamsListNothingAndExpandNothingOrFailByLength) {
    TStringList list;
    const Bytes garbage(45, 'x');
    TCustomMemoryStream under46(garbage.data(), 45);
    compress.ListArchiveFiles(under46, list);  // no archive, no complaint
    EXPECT_EQ(list.Count(), 0);
    EXPECT_THROW(compress.ExpandArchiveFiles(under46, nullptr), EInvalidHeader);  // 21..45 bytes

    TCustomMemoryStream under21(garbage.data(), 20);
    selection.Add("anything");
    compress.ExpandArchiveFiles(under21, &selection);  // an empty archive
    EXPECT_EQ(selection.Count(), 0);

    const Bytes headerOnly = MakeArchive({});
    ASSERT_EQ(headerOnly.size(), 21u);
    TCustomMemoryStream empty(headerOnly.data(), 21);
    compress.ListArchiveFiles(empty, list);
    compress.ExpandArchiveFiles(empty, nullptr);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(FolderEntries(temp.Path()).empty());
}

TEST_F(CompressTest, ListingEndsAtANegativeNameLengthOrATruncatedName) {
    Bytes archive = MakeArchive({{.name = "a.txt", .data = TextBytes("aaa"), .method = cmNone},
                                 {.name = "b.txt", .data = TextBytes("bbb"), .method = cmNone}});
    TStringList list;
    Bytes negative = archive;
    negative[21 + 25 + 5 + 3 + 1] = 0x80;  // second NameLength 0x80xx
    TCustomMemoryStream negativeStream(negative.data(), static_cast<int64_t>(negative.size()));
    compress.ListArchiveFiles(negativeStream, list);
    EXPECT_EQ(list.Lines(), std::vector<std::string>{"a.txt"});

    list.Clear();
    TCustomMemoryStream truncated(archive.data(), static_cast<int64_t>(archive.size()) - 6);
    compress.ListArchiveFiles(truncated, list);
    EXPECT_EQ(list.Lines(), std::vector<std::string>{"a.txt"});
}

// ---------------------------------------------------------------------------------------------
// Archive header checks: nothing listed, nothing written

TEST_F(CompressTest, BadArchiveHeadersAreRefusedBeforeAnythingIsWritten) {
    const std::vector<Entry> entries = {{.name = "a.txt", .data = TextBytes("some text"), .method = cmNone}};
    struct Case {
        const char* what;
        Bytes archive;
        std::function<void()> expectThrow;
    };
    Bytes badSignature = MakeArchive(entries, "NON");
    badSignature[4] = 0x1B;
    Bytes badType = MakeArchive(entries, "NON");
    badType[12] = 2;
    const Bytes unknownMethod = MakeArchive(entries, "ZIP");
    const Bytes lowerCase = MakeArchive(entries, "lzh");
    const Bytes custom = MakeArchive(entries, "CUS");

    auto check = [&](const Bytes& archive, auto exceptionTag, const char* message) {
        using E = decltype(exceptionTag);
        TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
        TStringList list;
        selection.Clear();
        selection.Add("a.txt");
        try {
            compress.ListArchiveFiles(stream, list);
            ADD_FAILURE() << "listing raised nothing";
        } catch (const E& e) {
            EXPECT_EQ(e.Message(), message);
        }
        EXPECT_THROW(compress.ExpandArchiveFiles(stream, &selection), E);
        EXPECT_EQ(list.Count(), 0);
        EXPECT_EQ(selection.Lines(), std::vector<std::string>{"a.txt"});
        EXPECT_TRUE(FolderEntries(temp.Path()).empty());
    };
    check(badSignature, EInvalidHeader(""), "Can't recognize compressed file header");
    check(badType, EInvalidHeaderArchiveType(""), "Archive type must be caMulti");
    check(unknownMethod, EUnrecognizedCompressionMethod(""), "Unrecognized compression method in header");
    check(lowerCase, EUnrecognizedCompressionMethod(""), "Unrecognized compression method in header");
    check(custom, EUnrecognizedCompressionMethod(""), "Unrecognized compression method in header");

    // An unknown identifier needs both handlers, and the recognition handler's consent.
    std::vector<std::string> asked;
    compress.OnRecognize = [&](const std::string& id, bool& recognized) {
        asked.push_back(id);
        recognized = id == "ZIP";
    };
    check(unknownMethod, EUnrecognizedCompressionMethod(""), "Unrecognized compression method in header");
    EXPECT_TRUE(asked.empty());  // not asked without OnExpand
    compress.OnExpand = [](TStream&, TStream&, int32_t, int32_t, const std::string&, int32_t&) {};
    ExpandAll(unknownMethod);
    ExpandAll(custom);
    EXPECT_EQ(asked, std::vector<std::string>{"ZIP"});
    EXPECT_TRUE(::DeleteFileA(Out("a.txt").c_str()));
    check(MakeArchive(entries, "XYZ"), EUnrecognizedCompressionMethod(""),
          "Unrecognized compression method in header");
}

// ---------------------------------------------------------------------------------------------
// Expansion

TEST_F(CompressTest, ExpandsEveryMethodWithTimeStampsAttributesAndFolders) {
    const Bytes stored = TextBytes("stored bytes\r\n");
    const Bytes rle = Bytes(5000, 'A');
    const Bytes lzh = NoiseBytes(40000, 3);
    const Bytes custom = TextBytes("custom coded");
    const Bytes empty;
    const uint32_t summerDate = (uint32_t{(2003 - 1980) << 9 | 7 << 5 | 14} << 16) | (9 << 11 | 30 << 5 | 10);
    const Bytes archive =
        MakeArchive({{.name = "stored.txt", .data = stored, .method = cmNone, .attributes = 0x21},
                     {.name = "deep\\er\\rle.bin",
                      .data = rle,
                      .method = cmRLE,
                      .fileDate = summerDate,
                      .attributes = 0x22},
                     {.name = "lzh.bin", .data = lzh, .method = cmLZH, .attributes = 0x00},
                     {.name = "custom.bin", .data = custom, .method = cmCustom, .attributes = 0x20},
                     {.name = "empty.txt", .data = empty, .method = cmNone, .attributes = 0x20}},
                    "CUS");
    std::vector<int32_t> customSizes;
    std::string customId;
    compress.OnExpand = [&](TStream& dest, TStream& source, int32_t sourceSize, int32_t destSize,
                            const std::string& id, int32_t& checksum) {
        customSizes = {sourceSize, destSize};
        customId = id;
        Bytes coded(static_cast<size_t>(sourceSize));
        source.ReadBuffer(coded.data(), sourceSize);
        const Bytes plain = XorCoded(coded);
        dest.WriteBuffer(plain.data(), static_cast<int32_t>(plain.size()));
        checksum = static_cast<int32_t>(ByteSum(plain.data(), plain.size()));
    };
    compress.MakeDirectories = true;
    ExpandAll(archive);

    EXPECT_EQ(ReadFileBytes(Out("stored.txt")), stored);
    EXPECT_EQ(ReadFileBytes(Out("deep\\er\\rle.bin")), rle);
    EXPECT_EQ(ReadFileBytes(Out("lzh.bin")), lzh);
    EXPECT_EQ(ReadFileBytes(Out("custom.bin")), custom);
    EXPECT_EQ(ReadFileBytes(Out("empty.txt")), empty);
    EXPECT_EQ(customSizes, (std::vector<int32_t>{12, 12}));
    EXPECT_EQ(customId, "CUS");

    EXPECT_EQ(LocalDosTime(Out("stored.txt")), kSampleDate);
    EXPECT_EQ(LocalDosTime(Out("deep\\er\\rle.bin")), summerDate);
    EXPECT_EQ(LocalDosTime(Out("empty.txt")), kSampleDate);
    EXPECT_EQ(DosBits(Out("stored.txt")), 0x01u);
    EXPECT_EQ(DosBits(Out("deep\\er\\rle.bin")), 0x02u);
    EXPECT_EQ(DosBits(Out("lzh.bin")), 0x00u);
    EXPECT_EQ(DosBits(Out("custom.bin")), 0x00u);
}

TEST_F(CompressTest, WithoutMakeDirectoriesAMissingFolderMeansTheOutputCannotBeCreated) {
    const Bytes archive = MakeArchive({{.name = "missing\\a.txt", .data = TextBytes("a"), .method = cmNone},
                                       {.name = "b.txt", .data = TextBytes("b"), .method = cmNone}});
    EXPECT_EQ(ExpandSelection(archive, {"missing\\a.txt", "b.txt"}), std::vector<std::string>{Out("b.txt")});
    EXPECT_FALSE(DirectoryExists(Out("missing")));

    compress.ExceptionOnFileError = true;
    try {
        ExpandAll(archive);
        ADD_FAILURE() << "nothing raised";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + Out("missing\\a.txt"));
    }
}

TEST_F(CompressTest, SelectionPicksNamesIgnoringCaseAndComesBackWithWrittenPaths) {
    const Bytes archive = MakeArchive({{.name = "Tandrel.exe", .data = NoiseBytes(100, 1)},
                                       {.name = "readme.txt", .data = TextBytes("readme")},
                                       {.name = "sites.ini", .data = TextBytes("[site]")}});
    EXPECT_EQ(ExpandSelection(archive, {"SITES.INI", "README.TXT", "other.txt"}),
              (std::vector<std::string>{Out("readme.txt"), Out("sites.ini")}));
    EXPECT_EQ(FolderEntries(temp.Path()), (std::vector<std::string>{"readme.txt", "sites.ini"}));

    compress.SetTargetPath(temp.Path() + "nowhere");  // folder missing, MakeDirectories off
    selection.Clear();
    EXPECT_EQ(ExpandSelection(archive, {"tandrel.EXE"}), std::vector<std::string>{});
}

TEST_F(CompressTest, OnCheckFileRenamesSkipsAndStops) {
    const Bytes archive = MakeArchive({{.name = "one.txt", .data = TextBytes("1")},
                                       {.name = "two.txt", .data = TextBytes("22")},
                                       {.name = "skip.txt", .data = TextBytes("333")},
                                       {.name = "three.txt", .data = TextBytes("4444")},
                                       {.name = "stop.txt", .data = TextBytes("55555")},
                                       {.name = "after.txt", .data = TextBytes("666666")}});
    std::vector<std::string> seen;
    compress.OnCheckFile = [&](std::string& path, TCProcessMode mode) {
        EXPECT_EQ(mode, TCProcessMode::Expand);
        EXPECT_EQ(static_cast<int>(mode), 1);
        seen.push_back(path);
        if (path == Out("two.txt")) {
            path = Out("renamed.txt");
        } else if (path == Out("skip.txt")) {
            path.clear();
        } else if (path == Out("stop.txt")) {
            path = "*";
        }
    };
    const auto written =
        ExpandSelection(archive, {"one.txt", "two.txt", "skip.txt", "three.txt", "stop.txt", "after.txt"});
    EXPECT_EQ(written, (std::vector<std::string>{Out("one.txt"), Out("renamed.txt"), Out("three.txt")}));
    EXPECT_EQ(seen, (std::vector<std::string>{Out("one.txt"), Out("two.txt"), Out("skip.txt"),
                                              Out("three.txt"), Out("stop.txt")}));
    EXPECT_EQ(FolderEntries(temp.Path()), (std::vector<std::string>{"one.txt", "renamed.txt", "three.txt"}));
    EXPECT_EQ(ReadFileBytes(Out("renamed.txt")), TextBytes("22"));
}

TEST_F(CompressTest, TotalSizeEndsTheExpansionAndCountsUnselectedEntries) {
    // TotalSize covers the first two entries: the third is never reached, selected or not.
    const std::vector<Entry> entries = {{.name = "a.txt", .data = TextBytes("aa")},
                                        {.name = "b.txt", .data = TextBytes("bbb")},
                                        {.name = "c.txt", .data = TextBytes("c")}};
    EXPECT_EQ(ExpandSelection(MakeArchive(entries, "LZH", 5), {"b.txt", "c.txt"}),
              std::vector<std::string>{Out("b.txt")});
    EXPECT_FALSE(FileExists(Out("c.txt")));

    // An entry skipped by OnCheckFile does not count: the expansion goes on to c.txt.
    compress.OnCheckFile = [&](std::string& path, TCProcessMode) {
        if (path == Out("a.txt")) {
            path.clear();
        }
    };
    selection.Clear();
    EXPECT_EQ(ExpandSelection(MakeArchive(entries, "LZH", 5), {"a.txt", "c.txt"}),
              std::vector<std::string>{Out("c.txt")});
}

TEST_F(CompressTest, EmptyFilesAfterTheLastSizedEntryAreStillWritten) {
    // They add nothing to TotalSize; stopping before them would lose them silently.
    ExpandAll(MakeArchive({{.name = "a.txt", .data = TextBytes("aa")},
                           {.name = "empty1.txt", .data = {}},
                           {.name = "empty2.txt", .data = {}, .method = cmNone}}));
    EXPECT_EQ(FolderEntries(temp.Path()), (std::vector<std::string>{"a.txt", "empty1.txt", "empty2.txt"}));
    EXPECT_EQ(LocalDosTime(Out("empty2.txt")), kSampleDate);

    // But a sized entry after the total is reached is not expanded.
    ExpandAll(MakeArchive(
        {{.name = "b.txt", .data = TextBytes("b")}, {.name = "c.txt", .data = TextBytes("c")}}, "LZH", 1));
    EXPECT_TRUE(FileExists(Out("b.txt")));
    EXPECT_FALSE(FileExists(Out("c.txt")));
}

TEST_F(CompressTest, RootedNamesIgnoreTheTargetPath) {
    // "\folder\name" is placed on the current drive, whatever TargetPath holds.
    char previous[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryA(temp.Path().c_str()));
    const std::string rooted = temp.Path().substr(2) + "rooted.txt";  // without "C:"
    compress.SetTargetPath(temp.Path() + "elsewhere");
    compress.MakeDirectories = true;
    const auto written = ExpandSelection(MakeArchive({{.name = rooted, .data = TextBytes("rooted")},
                                                      {.name = "plain.txt", .data = TextBytes("p")}}),
                                         {rooted, "plain.txt"});
    ::SetCurrentDirectoryA(previous);
    EXPECT_EQ(written, (std::vector<std::string>{rooted, temp.Path() + "elsewhere\\plain.txt"}));
    EXPECT_EQ(ReadFileBytes(Out("rooted.txt")), TextBytes("rooted"));
    EXPECT_TRUE(FileExists(temp.Path() + "elsewhere\\plain.txt"));
}

TEST_F(CompressTest, StoredEntriesAreNotChecksumTested) {
    ExpandAll(
        MakeArchive({{.name = "s.txt", .data = TextBytes("stored"), .method = cmNone, .checksum = 12345}}));
    EXPECT_EQ(ReadFileBytes(Out("s.txt")), TextBytes("stored"));
    EXPECT_EQ(LocalDosTime(Out("s.txt")), kSampleDate);
}

TEST_F(CompressTest, ProgressCountsPerCodedEntryAndReaches100) {
    const Bytes big = NoiseBytes(20000, 11);  // barely compressible: three blocks of coded input
    const Bytes archive =
        MakeArchive({{.name = "big.bin", .data = big, .method = cmLZH},
                     {.name = "stored.txt", .data = TextBytes("no events"), .method = cmNone},
                     {.name = "small.bin", .data = Bytes(3000, 'z'), .method = cmRLE}});
    TStringList list;
    TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
    compress.ListArchiveFiles(stream, list);
    std::map<std::string, std::vector<int32_t>> events;
    std::string current;
    compress.OnCheckFile = [&](std::string& path, TCProcessMode) { current = path; };
    compress.OnShowProgress = [&](int32_t& percentage) { events[current].push_back(percentage); };
    compress.ExpandArchiveFiles(stream, nullptr);

    const int32_t bigCoded = Info(list, 0).CompressedSize;
    ASSERT_GT(bigCoded, 16384);
    ASSERT_LE(bigCoded, 24576);
    EXPECT_EQ(events[Out("big.bin")],
              (std::vector<int32_t>{8192 * 100 / bigCoded, 16384 * 100 / bigCoded, 100}));
    EXPECT_EQ(events.count(Out("stored.txt")), 0u);
    EXPECT_EQ(events[Out("small.bin")], std::vector<int32_t>{100});
    EXPECT_EQ(ReadFileBytes(Out("big.bin")), big);
}

TEST_F(CompressTest, ACancelFromTheProgressHandlerEndsInABadChecksum) {
    const Bytes big = NoiseBytes(20000, 5);
    compress.OnShowProgress = [](int32_t& percentage) { percentage = -1; };
    EXPECT_THROW(ExpandAll(MakeArchive({{.name = "big.bin", .data = big}})), EBadChecksum);
    EXPECT_TRUE(FileExists(Out("big.bin")));  // left with what was written
}

TEST_F(CompressTest, LockedEntriesNeedTheirKey) {
    const Bytes data = TextBytes("secret data");
    const std::vector<Entry> entries = {
        {.name = "open.txt", .data = TextBytes("open"), .method = cmLZH},
        {.name = "locked.txt", .data = data, .method = cmLZH, .lockFlag = 1, .key = 77},
    };
    const Bytes archive = MakeArchive(entries);
    selection.Add("open.txt");
    selection.Add("locked.txt");
    const std::vector<std::string> asGiven = selection.Lines();
    for (int32_t key : {0, 78}) {
        compress.Key = key;
        TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
        try {
            compress.ExpandArchiveFiles(stream, &selection);
            ADD_FAILURE() << "key " << key << " accepted";
        } catch (const EInvalidKey& e) {
            EXPECT_EQ(e.Message(), "File locked -- valid key required");
        }
        EXPECT_TRUE(FileExists(Out("open.txt")));
        EXPECT_FALSE(FileExists(Out("locked.txt"))) << "key " << key;
        EXPECT_EQ(selection.Lines(), asGiven);
    }
    compress.Key = 77;
    selection.Clear();
    EXPECT_EQ(ExpandSelection(archive, {}), (std::vector<std::string>{}));  // a selection of nothing
    ExpandAll(archive);
    EXPECT_EQ(ReadFileBytes(Out("locked.txt")), data);

    // A negative key is a key; stored entries need one too, though their checksum is not tested.
    compress.Key = -5;
    ExpandAll(MakeArchive({{.name = "neg.txt", .data = data, .lockFlag = 1, .key = -5}}));
    EXPECT_EQ(ReadFileBytes(Out("neg.txt")), data);
    compress.Key = 0;
    EXPECT_THROW(ExpandAll(MakeArchive({{.name = "st.txt", .data = data, .method = cmNone, .lockFlag = 1}})),
                 EInvalidKey);
    EXPECT_FALSE(FileExists(Out("st.txt")));
}

// ---------------------------------------------------------------------------------------------
// Testing without writing

// A test decodes as an expansion does and fails as it would, but writes nothing and raises no
// progress; a selection limits it to the named entries.
TEST_F(CompressTest, TestingDecodesAndChecksWithoutWriting) {
    int progressCalls = 0;
    compress.OnShowProgress = [&progressCalls](int32_t&) { ++progressCalls; };
    const Bytes big = NoiseBytes(30000, 9);
    Bytes damaged = MakeArchive({{.name = "first.txt", .data = TextBytes("first")},
                                 {.name = "big.bin", .data = big, .method = cmRLE}});
    damaged[damaged.size() - 100] ^= 0x10;  // inside the last entry's coded data
    const auto test = [this](const Bytes& archive, const std::vector<std::string>& names) {
        TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
        TStringList chosen;
        for (const std::string& name : names) {
            chosen.Add(name);
        }
        compress.TestArchiveFiles(stream, names.empty() ? nullptr : &chosen);
    };

    EXPECT_NO_THROW(test(MakeArchive({{.name = "a.txt", .data = TextBytes("a")},
                                      {.name = "big.bin", .data = big},
                                      {.name = "s.txt", .data = TextBytes("stored"), .method = cmNone},
                                      {.name = "empty.txt"}}),
                         {}));
    EXPECT_THROW(test(damaged, {}), EBadChecksum);
    EXPECT_THROW(test(damaged, {"BIG.BIN"}), EBadChecksum);
    EXPECT_NO_THROW(test(damaged, {"first.txt"}));
    EXPECT_THROW(test(MakeArchive({{.name = "sum.txt", .data = TextBytes("sum"), .checksum = 1}}), {}),
                 EBadChecksum);
    EXPECT_THROW(test(MakeArchive({{.name = "k.txt", .data = TextBytes("k"), .lockFlag = 1, .key = 3}}), {}),
                 EInvalidKey);
    EXPECT_THROW(test(MakeArchive({{.name = "x.txt"}}, "XYZ"), {}), EUnrecognizedCompressionMethod);
    EXPECT_TRUE(FolderEntries(temp.Path()).empty());
    EXPECT_EQ(progressCalls, 0);
}

// The check pass of an installation: the entries that an expansion reaches must be the listed
// ones, each decoded in full, in one walk; the listing alone does not look at TotalSize.
TEST_F(CompressTest, TheCheckPassAccountsForEveryListedEntry) {
    const std::vector<Entry> entries = {{.name = "a.txt", .data = TextBytes("aa")},
                                        {.name = "sub\\b.txt", .data = NoiseBytes(20000, 3)},
                                        {.name = "c.txt", .data = TextBytes("c"), .method = cmNone},
                                        {.name = "empty.txt"}};
    const auto check = [this](const Bytes& archive, std::vector<std::string>* heard = nullptr) {
        TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
        TStringList listed;
        compress.ListArchiveFiles(stream, listed);
        compress.CheckListedEntries(stream, listed, [heard](const std::string& name) {
            if (heard != nullptr) {
                heard->push_back(name);
            }
        });
    };
    std::vector<std::string> heard;
    EXPECT_NO_THROW(check(MakeArchive(entries), &heard));
    EXPECT_EQ(heard, (std::vector<std::string>{"a.txt", "sub\\b.txt", "c.txt", "empty.txt"}));

    // A TotalSize that ends the entries early (short, 0, negative): the listing names entries that
    // an expansion would never write.
    for (const int32_t total : {20002, 0, -1, INT32_MIN}) {
        SCOPED_TRACE(total);
        EXPECT_THROW(check(MakeArchive(entries, "LZH", total)), EInvalidHeader);
    }
    // A larger one reaches every entry (the sizes never add up to it).
    EXPECT_NO_THROW(check(MakeArchive(entries, "LZH", 1 << 30)));
    // A name twice, in any case: a selection by name would write both into one file.
    EXPECT_THROW(check(MakeArchive(
                     {{.name = "a.txt", .data = TextBytes("1")}, {.name = "A.TXT", .data = TextBytes("2")}})),
                 EInvalidHeader);
    // A list that is not the archive's.
    TStringList other;
    other.Add("a.txt");
    const Bytes archive = MakeArchive(entries);
    TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
    EXPECT_THROW(compress.CheckListedEntries(stream, other, nullptr), EInvalidHeader);
    // Damaged data still fails as its expansion would.
    Bytes damaged = MakeArchive(entries);
    damaged[damaged.size() - 200] ^= 0x10;  // in the middle entry's coded data
    EXPECT_THROW(check(damaged), EBadChecksum);
    EXPECT_TRUE(FolderEntries(temp.Path()).empty());
}

// One listed entry expanded where its header stands, in any order, no walk from the start: the
// same file as the whole expansion writes (bytes, time stamp, attributes, folders), measured as it
// is written. What does not expand to its header's size, or no entry of that name at the listed
// place, fails; a skipping handler writes nothing.
TEST_F(CompressTest, AListedEntryExpandsWhereItStandsMeasuredAsItIsWritten) {
    const std::vector<Entry> entries = {
        {.name = "stored.txt", .data = TextBytes("stored bytes"), .method = cmNone, .attributes = 0x21},
        {.name = "deep\\rle.bin", .data = Bytes(5000, 'A'), .method = cmRLE, .attributes = 0x22},
        {.name = "lzh.bin", .data = NoiseBytes(70000, 5), .method = cmLZH, .attributes = 0x20},
        {.name = "empty.txt", .method = cmNone},
        {.name = "bad.bin", .data = NoiseBytes(3000, 6), .checksum = 7},
        // Last: its coded size ends inside its own data, where no header follows.
        {.name = "short.txt", .data = TextBytes("twelve bytes"), .method = cmNone, .compressedSize = 6},
    };
    const Bytes archive = MakeArchive(entries);
    TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
    TStringList listed;
    compress.ListArchiveFiles(stream, listed);
    ASSERT_EQ(listed.Count(), 6);
    compress.MakeDirectories = true;
    for (const int index : {3, 2, 0, 1}) {
        SCOPED_TRACE(listed[index]);
        const TCompress::TExpandedFile expanded =
            compress.ExpandListedEntry(stream, listed[index], Info(listed, index));
        const Bytes& data = entries[static_cast<size_t>(index)].data;
        EXPECT_EQ(expanded.Path, Out(listed[index]));
        EXPECT_EQ(expanded.Size, static_cast<int64_t>(data.size()));
        EXPECT_EQ(expanded.Digest, Sha256Of(data.data(), data.size()));
        EXPECT_EQ(ReadFileBytes(Out(listed[index])), data);
        EXPECT_EQ(LocalDosTime(Out(listed[index])), kSampleDate);
        EXPECT_EQ(DosBits(Out(listed[index])), entries[static_cast<size_t>(index)].attributes & 0x07u);
    }
    // A stored entry whose data is shorter than its size; a checksum that differs.
    EXPECT_THROW(compress.ExpandListedEntry(stream, "bad.bin", Info(listed, 4)), EBadChecksum);
    EXPECT_THROW(compress.ExpandListedEntry(stream, "short.txt", Info(listed, 5)), EBadChecksum);
    // Another entry's place, a place inside the data or the archive header, past the end.
    TCompressedFileInfo moved = Info(listed, 2);
    for (const int32_t at : {Info(listed, 1).HeaderPos, Info(listed, 2).HeaderPos + 30, 0, 5,
                             static_cast<int32_t>(archive.size()) - 3}) {
        SCOPED_TRACE(at);
        moved.HeaderPos = at;
        EXPECT_THROW(compress.ExpandListedEntry(stream, "lzh.bin", moved), EInvalidHeader);
    }
    // A handler that skips or stops: nothing written, no path.
    for (const char* answer : {"", "*"}) {
        compress.OnCheckFile = [answer](std::string& path, TCProcessMode) { path = answer; };
        ::DeleteFileA(Out("lzh.bin").c_str());
        EXPECT_EQ(compress.ExpandListedEntry(stream, "lzh.bin", Info(listed, 2)).Path, "");
        EXPECT_FALSE(FileExists(Out("lzh.bin")));
    }
}

// ---------------------------------------------------------------------------------------------
// Failures while writing, and what they leave behind

TEST_F(CompressTest, BadChecksumLeavesTheFileWithAttributesButNoTimeStamp) {
    const Bytes data = TextBytes("checked data");
    const Bytes archive = MakeArchive({{.name = "good.txt", .data = TextBytes("good")},
                                       {.name = "bad.txt", .data = data, .attributes = 0x21, .checksum = 1},
                                       {.name = "later.txt", .data = TextBytes("later")}});
    selection.Add("good.txt");
    selection.Add("bad.txt");
    selection.Add("later.txt");
    TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
    try {
        compress.ExpandArchiveFiles(stream, &selection);
        ADD_FAILURE() << "nothing raised";
    } catch (const EBadChecksum& e) {
        EXPECT_EQ(e.Message(), "Bad checksum during expansion -- data may be invalid");
    }
    EXPECT_EQ(selection.Lines(), (std::vector<std::string>{"good.txt", "bad.txt", "later.txt"}));
    EXPECT_EQ(ReadFileBytes(Out("bad.txt")), data);
    EXPECT_EQ(DosBits(Out("bad.txt")), 0x01u);
    EXPECT_NE(LocalDosTime(Out("bad.txt")), kSampleDate);
    EXPECT_EQ(LocalDosTime(Out("good.txt")), kSampleDate);
    EXPECT_FALSE(FileExists(Out("later.txt")));
}

TEST_F(CompressTest, AWriteFailureLeavesThePartlyWrittenFile) {
    const Bytes big = NoiseBytes(30000, 9);
    const Bytes archive = MakeArchive({{.name = "big.bin", .data = big, .attributes = 0x22}});
    compress.writeLimit = 10000;
    try {
        ExpandSelection(archive, {"big.bin"});
        ADD_FAILURE() << "nothing raised";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.Message(), "Stream write error");
    }
    EXPECT_EQ(selection.Lines(), std::vector<std::string>{"big.bin"});
    const Bytes partial = ReadFileBytes(Out("big.bin"));
    EXPECT_EQ(partial.size(), 10000u);
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), big.begin()));
    EXPECT_EQ(DosBits(Out("big.bin")), 0x02u);
    EXPECT_NE(LocalDosTime(Out("big.bin")), kSampleDate);
}

TEST_F(CompressTest, AStoredEntryRunningPastTheEndIsAReadError) {
    const Bytes archive = MakeArchive({{.name = "first.txt", .data = TextBytes("first"), .method = cmNone},
                                       {.name = "cut.txt",
                                        .data = TextBytes("only ten b"),
                                        .method = cmNone,
                                        .attributes = 0x21,
                                        .compressedSize = 100000}});
    try {
        ExpandSelection(archive, {"first.txt", "cut.txt"});
        ADD_FAILURE() << "nothing raised";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), "Stream read error");
    }
    EXPECT_EQ(selection.Count(), 2);
    EXPECT_EQ(ReadFileBytes(Out("first.txt")), TextBytes("first"));
    EXPECT_TRUE(FileExists(Out("cut.txt")));
    EXPECT_EQ(DosBits(Out("cut.txt")), 0x01u);
    EXPECT_NE(LocalDosTime(Out("cut.txt")), kSampleDate);
}

// Off for a run that counted its room beforehand: no entry asks the drive, whatever it would say,
// and a write that does not fit still fails.
TEST_F(CompressTest, WithoutTheSpaceOfEachEntryNoDriveIsAsked) {
    const Bytes archive = MakeArchive({{.name = "small.txt", .data = Bytes(50, 's')},
                                       {.name = "sub\\large.bin", .data = Bytes(5000, 'L')}});
    compress.MakeDirectories = true;
    compress.CheckSpaceOfEach = false;
    compress.fakeDiskFree = 100;
    ExpandAll(archive);
    EXPECT_TRUE(compress.drivesAsked.empty());
    EXPECT_EQ(ReadFileBytes(Out("sub\\large.bin")), Bytes(5000, 'L'));
}

// The entries decoded ahead on the worker thread: the same files, and the same failure for a
// damaged entry, as the expansion that decodes them itself.
TEST_F(CompressTest, EntriesDecodedAheadAreExpandedAsTheyAreWithout) {
    const Bytes text = TextBytes(std::string(200000, 'x') + "Read me first.\r\n");
    const Bytes noise = NoiseBytes(300000, 3);
    const std::vector<Entry> entries = {
        {.name = "stored.txt", .data = text, .method = cmNone},
        {.name = "empty.txt", .data = {}, .method = cmLZH},
        {.name = "sub\\noise.bin", .data = noise, .method = cmLZH},
        {.name = "runs.bin", .data = Bytes(70000, 'r'), .method = cmRLE},
        {.name = "bad.bin", .data = noise, .method = cmLZH, .checksum = 12345},
        {.name = "after.txt", .data = text, .method = cmLZH},
    };
    const Bytes archive = MakeArchive(entries);
    compress.MakeDirectories = true;
    std::vector<int32_t> here;  // the percentages of the expansion that decodes itself
    for (const bool ahead : {false, true}) {
        SCOPED_TRACE(ahead ? "decoded ahead" : "decoded here");
        TempFolder target;
        compress.SetTargetPath(target.Path());
        std::optional<DecodeAhead> decoded;
        if (ahead) {
            decoded.emplace(
                [&archive] {
                    return std::make_unique<TCustomMemoryStream>(archive.data(),
                                                                 static_cast<int64_t>(archive.size()));
                },
                DecodeAhead::Limits{4096, 3, 2});
            compress.DecodedAhead = &*decoded;
        }
        std::vector<int32_t> percentages;
        compress.OnShowProgress = [&percentages](int32_t& p) { percentages.push_back(p); };
        try {
            ExpandAll(archive);
            ADD_FAILURE() << "the damaged entry went unnoticed";
        } catch (const EBadChecksum& e) {
            EXPECT_EQ(e.Message(), msg::kBadChecksum);
        }
        compress.DecodedAhead = nullptr;
        EXPECT_EQ(ReadFileBytes(target.Path() + "stored.txt"), text);
        EXPECT_EQ(ReadFileBytes(target.Path() + "empty.txt"), Bytes{});
        EXPECT_EQ(ReadFileBytes(target.Path() + "sub\\noise.bin"), noise);
        EXPECT_EQ(ReadFileBytes(target.Path() + "runs.bin"), Bytes(70000, 'r'));
        EXPECT_EQ(ReadFileBytes(target.Path() + "bad.bin"), noise);  // what was written stays
        EXPECT_FALSE(FileExists(target.Path() + "after.txt"));
        if (!ahead) {
            here = percentages;
            EXPECT_GT(here.size(), 10u);
        } else {
            EXPECT_EQ(percentages, here);
        }
    }
}

TEST_F(CompressTest, NotEnoughSpaceIsRaisedBeforeTheFileOrItsFolderIsMade) {
    const Bytes archive = MakeArchive({{.name = "small.txt", .data = Bytes(50, 's')},
                                       {.name = "sub\\large.bin", .data = Bytes(5000, 'L')}});
    compress.MakeDirectories = true;
    compress.fakeDiskFree = 100;
    try {
        ExpandSelection(archive, {"small.txt", "sub\\large.bin"});
        ADD_FAILURE() << "nothing raised";
    } catch (const EInsufficientDiskSpace& e) {
        EXPECT_EQ(e.Message(), "Not enough disk space to expand " + Out("sub\\large.bin"));
    }
    EXPECT_EQ(selection.Count(), 2);
    EXPECT_TRUE(FileExists(Out("small.txt")));
    EXPECT_FALSE(DirectoryExists(Out("sub")));
    const int driveOfTemp = (temp.Path()[0] & ~0x20) - 64;
    EXPECT_EQ(compress.drivesAsked, (std::vector<int>{driveOfTemp, driveOfTemp}));

    // The bytes of a file that will be replaced count as free.
    ::CreateDirectoryA(Out("sub").c_str(), nullptr);
    WriteFileBytes(Out("sub\\large.bin"), Bytes(4950, 'o'));
    ExpandAll(archive);
    EXPECT_EQ(ReadFileBytes(Out("sub\\large.bin")), Bytes(5000, 'L'));

    // A failed query (-1) refuses even an empty file.
    compress.fakeDiskFree = -1;
    EXPECT_THROW(ExpandAll(MakeArchive({{.name = "zero.txt", .data = {}}}, "LZH", 1)),
                 EInsufficientDiskSpace);
    EXPECT_FALSE(FileExists(Out("zero.txt")));

    // Drives: a relative or rooted path is measured on the current drive (0).
    compress.fakeDiskFree = 1 << 20;
    compress.drivesAsked.clear();
    compress.SetTargetPath("");
    char previous[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ::SetCurrentDirectoryA(temp.Path().c_str());
    ExpandAll(MakeArchive({{.name = "relative.txt", .data = TextBytes("r")}}));
    ::SetCurrentDirectoryA(previous);
    EXPECT_EQ(compress.drivesAsked, std::vector<int>{0});
    EXPECT_TRUE(FileExists(Out("relative.txt")));
}

TEST_F(CompressTest, TheRealFreeSpaceQueryPassesOrdinaryEntries) {
    ExpandAll(MakeArchive({{.name = "x.txt", .data = Bytes(10000, 'x')}}));
    EXPECT_TRUE(FileExists(Out("x.txt")));
    EXPECT_FALSE(compress.drivesAsked.empty());
}

TEST_F(CompressTest, AFolderThatCannotBeCreatedIsAnIoError) {
    WriteFileBytes(Out("blocker"), TextBytes("a file where a folder should go"));
    const Bytes archive = MakeArchive({{.name = "first.txt", .data = TextBytes("1")},
                                       {.name = "blocker\\inner\\x.txt", .data = TextBytes("x")}});
    compress.MakeDirectories = true;
    EXPECT_THROW(ExpandSelection(archive, {"first.txt", "blocker\\inner\\x.txt"}), EInOutError);
    EXPECT_EQ(selection.Count(), 2);
    EXPECT_TRUE(FileExists(Out("first.txt")));
    EXPECT_EQ(ReadFileBytes(Out("blocker")), TextBytes("a file where a folder should go"));

    // A folder part ending in ":" (a drive letter inside a relative name) is its own parent: it
    // must fail as a folder that cannot be made, not recurse for ever.
    // Windows refuses such a folder name; Wine makes the folder (it allows ":" in names).
    try {
        ExpandAll(MakeArchive({{.name = "D:\\evil.txt", .data = TextBytes("e")}}));
        EXPECT_TRUE(FileExists(Out("D:\\evil.txt")));
    } catch (const EInOutError&) {
        EXPECT_FALSE(FileExists(Out("D:\\evil.txt")));
    }
}

// However deep an entry's folder, making it neither exhausts the stack nor leaves the parents it
// made: a folder path too long for the system is refused before the first folder is made.
TEST_F(CompressTest, ADeepFolderIsRefusedWithNothingMade) {
    compress.MakeDirectories = true;
    for (const int depth : {5000, 12000}) {
        std::string deep;
        for (int level = 0; level < depth; ++level) {
            deep += "a\\";
        }
        EXPECT_THROW(ExpandAll(MakeArchive({{.name = deep + "x.txt", .data = TextBytes("x")}})), EInOutError)
            << depth;
        EXPECT_FALSE(DirectoryExists(Out("a"))) << depth;
    }
    // Just within the limit: every missing folder is made, outermost first.
    std::string nested;
    while (Out(nested).size() + 2 < MAX_PATH - 12) {
        nested += "b\\";
    }
    ExpandAll(MakeArchive({{.name = nested + "y.txt", .data = TextBytes("y")}}));
    EXPECT_TRUE(FileExists(Out(nested + "y.txt")));
}

TEST_F(CompressTest, AReadOnlyExistingFileStopsTheExpansionUntouched) {
    WriteFileBytes(Out("ro.txt"), TextBytes("old"));
    ::SetFileAttributesA(Out("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const Bytes archive = MakeArchive({{.name = "ro.txt", .data = TextBytes("new")}});
    for (bool exceptionOnFileError : {false, true}) {
        compress.ExceptionOnFileError = exceptionOnFileError;
        try {
            ExpandSelection(archive, {"ro.txt"});
            ADD_FAILURE() << "nothing raised";
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.ErrorCode(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
            EXPECT_NE(e.Message().find(Out("ro.txt")), std::string::npos) << e.Message();
        }
        EXPECT_EQ(ReadFileBytes(Out("ro.txt")), TextBytes("old"));
        EXPECT_EQ(DosBits(Out("ro.txt")), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ(selection.Lines(), std::vector<std::string>{"ro.txt"});
        selection.Clear();
    }
}

TEST_F(CompressTest, AFileInUseStopsTheExpansionUntouched) {
    WriteFileBytes(Out("busy.txt"), TextBytes("busy"));
    TFileStream holder(Out("busy.txt"), fmOpenReadWrite | fmShareDenyNone);
    holder.Seek(0, SeekOrigin::End);
    holder.WriteBuffer("!", 1);
    try {
        ExpandAll(MakeArchive({{.name = "busy.txt", .data = TextBytes("new")}}));
        ADD_FAILURE() << "nothing raised";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_EQ(ReadFileBytes(Out("busy.txt")), TextBytes("busy!"));
}

TEST_F(CompressTest, AnOutputThatCannotBeCreatedIsSkippedOrRaisedAsAsked) {
    ::CreateDirectoryA(Out("adir").c_str(), nullptr);  // a folder where the file should go
    const Bytes archive = MakeArchive(
        {{.name = "adir", .data = TextBytes("cannot")}, {.name = "next.txt", .data = TextBytes("next")}});
    EXPECT_EQ(ExpandSelection(archive, {"ADIR", "next.txt"}), std::vector<std::string>{Out("next.txt")});
    EXPECT_TRUE(DirectoryExists(Out("adir")));
    EXPECT_EQ(ReadFileBytes(Out("next.txt")), TextBytes("next"));

    ::DeleteFileA(Out("next.txt").c_str());
    compress.ExceptionOnFileError = true;
    selection.Clear();
    try {
        ExpandSelection(archive, {"adir", "next.txt"});
        ADD_FAILURE() << "nothing raised";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + Out("adir"));
    }
    EXPECT_EQ(selection.Lines(), (std::vector<std::string>{"adir", "next.txt"}));
    EXPECT_FALSE(FileExists(Out("next.txt")));
}

TEST_F(CompressTest, AnExistingFileIsReplaced) {
    WriteFileBytes(Out("r.txt"), Bytes(9000, 'o'));
    ExpandAll(MakeArchive({{.name = "r.txt", .data = TextBytes("short")}}));
    EXPECT_EQ(ReadFileBytes(Out("r.txt")), TextBytes("short"));
}

// ---------------------------------------------------------------------------------------------
// Properties and resources

TEST(CompressProperties, TargetPathGetsOneTrailingBackslash) {
    TCompress compress(nullptr);
    compress.SetTargetPath("C:\\Prog");
    EXPECT_EQ(compress.TargetPath(), "C:\\Prog\\");
    compress.SetTargetPath("C:\\Prog\\");
    EXPECT_EQ(compress.TargetPath(), "C:\\Prog\\");
    compress.SetTargetPath("");
    EXPECT_EQ(compress.TargetPath(), "");
}

TEST(CompressProperties, LayoutSetsPublishedPropertiesByName) {
    struct Context : TReaderContext {
        std::map<std::string, std::any> handlers;
        const std::any* FindMethod(std::string_view name) const override {
            auto it = handlers.find(std::string(name));
            return it == handlers.end() ? nullptr : &it->second;
        }
    } context;
    int calls = 0;
    context.handlers["Compress1ShowProgress"] = TShowProgressEvent([&](int32_t&) { ++calls; });
    auto ident = [](const char* text) {
        TPropValue v;
        v.kind = TPropValue::Kind::Ident;
        v.text = text;
        return v;
    };
    auto integer = [](int64_t n) {
        TPropValue v;
        v.kind = TPropValue::Kind::Integer;
        v.integer = n;
        return v;
    };
    TPropValue path;
    path.kind = TPropValue::Kind::String;
    path.text = "C:\\Prog";

    TCompress compress(nullptr);
    EXPECT_TRUE(compress.SetProperty("Name", ident("Compress1"), context));
    EXPECT_TRUE(compress.SetProperty("MakeDirectories", ident("True"), context));
    EXPECT_TRUE(compress.SetProperty("ExceptionOnFileError", ident("False"), context));
    EXPECT_TRUE(compress.SetProperty("Key", integer(-3), context));
    EXPECT_TRUE(compress.SetProperty("TargetPath", path, context));
    EXPECT_TRUE(compress.SetProperty("OnShowProgress", ident("Compress1ShowProgress"), context));
    EXPECT_FALSE(compress.SetProperty("Caption", ident("x"), context));
    EXPECT_THROW(compress.SetProperty("OnCheckFile", ident("Compress1ShowProgress"), context), EReadError);
    EXPECT_THROW(compress.SetProperty("Key", ident("True"), context), EReadError);

    EXPECT_EQ(compress.Name(), "Compress1");
    EXPECT_TRUE(compress.MakeDirectories);
    EXPECT_FALSE(compress.ExceptionOnFileError);
    EXPECT_EQ(compress.Key, -3);
    EXPECT_EQ(compress.TargetPath(), "C:\\Prog\\");
    int32_t percentage = 50;
    compress.OnShowProgress(percentage);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(compress.OnCheckFile);
    EXPECT_STREQ(compress.ClassName(), "TCompress");
}

TEST(CompressProperties, TheLayoutReaderKnowsTheClass) {
    RegisterArchiveClasses();
    const TComponentFactory* factory = FindClassFactory("TCompress");
    ASSERT_NE(factory, nullptr);
    TComponent owner(nullptr);
    TComponent* made = (*factory)(&owner);  // freed by its owner
    ASSERT_NE(dynamic_cast<TCompress*>(made), nullptr);
    EXPECT_EQ(made->Owner(), &owner);
    EXPECT_EQ(owner.ComponentCount(), 1);
}

TEST(CompressResources, ArchiveResourcesAreFoundByNameIgnoringCaseAndReadInPlace) {
    TCompress compress(nullptr);
    auto stream = compress.LoadArchiveResource("sample", "");
    ASSERT_EQ(stream->Size(), 21);
    auto* memory = dynamic_cast<TCustomMemoryStream*>(stream.get());
    ASSERT_NE(memory, nullptr);
    HRSRC info = ::FindResourceA(nullptr, "SAMPLE", "TCOMPRESS");
    EXPECT_EQ(memory->Memory(), ::LockResource(::LoadResource(nullptr, info)));  // no copy
    TStringList list;
    compress.ExpandArchiveFiles(*stream, &list);  // a header-only archive
    EXPECT_EQ(list.Count(), 0);

    try {
        compress.LoadArchiveResource("missing", "");
        ADD_FAILURE() << "nothing raised";
    } catch (const EResNotFound& e) {
        EXPECT_EQ(e.Message(), "Resource missing not found");
    }

    // A named library: the program's own file, loaded a second time for its resources.
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    auto fromLibrary = compress.LoadArchiveResource("Sample", self);
    EXPECT_EQ(fromLibrary->Size(), 21);
    uint8_t signature[5];
    fromLibrary->ReadBuffer(signature, 5);
    EXPECT_EQ(std::string(signature, signature + 5), std::string("ZORV\x1A"));
    EXPECT_THROW(compress.LoadArchiveResource("missing", self), EResNotFound);

    try {
        compress.LoadArchiveResource("data", "no-such-library.dll");
        ADD_FAILURE() << "nothing raised";
    } catch (const EResNotFound&) {
        ADD_FAILURE() << "the library was not reported";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Could not load no-such-library.dll DLL");
    }
}

}  // namespace
