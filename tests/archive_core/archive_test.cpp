// Writing archives and reading them back: listing, testing entries, locked entries, damage.
#include <gtest/gtest.h>

#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "archive/format.h"
#include "test_util.h"

namespace {

struct Item {
    std::string name;
    Bytes data;
};

std::vector<Item> SampleItems() {
    return {{"Tandrel.exe", VariedBytes(70000, 1)},
            {"readme.txt", TextBytes(3663, 2)},
            {"empty.dat", {}},
            {"sub\\sites.ini", TextBytes(2006, 3)}};
}

Bytes WriteArchive(const std::vector<Item>& items, uint8_t method, int32_t key) {
    TMemoryStream out;
    ArchiveWriter writer(out, method, key);
    uint32_t date = 0x238774AA;
    for (const Item& item : items) {
        writer.Add(item.name, item.data.data(), item.data.size(), date++, 0x20);
    }
    writer.Finish();
    EXPECT_EQ(out.Position(), out.Size());
    return out.Bytes();
}

TEST(ArchiveWriter, WritesWhatTheReaderLists) {
    const auto items = SampleItems();
    for (uint8_t method : {cmNone, cmRLE, cmLZH}) {
        Bytes archive = WriteArchive(items, method, 0);
        TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
        const TArchiveHeader header = ReadCheckedArchiveHeader(stream);
        EXPECT_EQ(MethodIdentifier(header), MethodName(method));
        EXPECT_EQ(header.LockFlag, 0u);
        int32_t total = 0;
        const auto entries = ListEntries(stream);
        ASSERT_EQ(entries.size(), items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            const TFileHeader& h = entries[i].header;
            EXPECT_EQ(entries[i].name, items[i].name);
            EXPECT_EQ(h.FullSize, static_cast<int32_t>(items[i].data.size()));
            EXPECT_EQ(h.Method, method);
            EXPECT_EQ(h.Checksum, ByteSum(items[i].data.data(), items[i].data.size()));
            EXPECT_EQ(h.FileDate, 0x238774AAu + i);
            EXPECT_EQ(h.Attributes, 0x20);
            EXPECT_EQ(h.LockFlag, 0);
            total += h.FullSize;
            const auto result = TestEntry(stream, entries[i], 0);
            EXPECT_EQ(result.status, EntryTestResult::Status::Ok) << EntryStatusText(result.status);
        }
        EXPECT_EQ(header.TotalSize, total);
        // The last entry's data ends the archive.
        const auto& last = entries.back();
        EXPECT_EQ(last.dataPos + last.header.CompressedSize, static_cast<int64_t>(archive.size()));
    }
}

TEST(ArchiveWriter, SameInputSameArchive) {
    EXPECT_EQ(WriteArchive(SampleItems(), cmLZH, 0), WriteArchive(SampleItems(), cmLZH, 0));
}

TEST(ArchiveWriter, RefusesWhatTheFormatCannotHold) {
    TMemoryStream out;
    EXPECT_THROW(ArchiveWriter(out, cmCustom, 0), Exception);
    ArchiveWriter writer(out, cmNone, 0);
    const std::string longName(32768, 'n');
    EXPECT_THROW(writer.Add(longName, nullptr, 0, 0, 0x20), Exception);
    EXPECT_NO_THROW(writer.Add(longName.substr(1), nullptr, 0, 0, 0x20));
}

TEST(LockedEntries, NeedTheirKey) {
    using Status = EntryTestResult::Status;
    const auto items = SampleItems();
    for (uint8_t method : {cmNone, cmLZH}) {
        Bytes archive = WriteArchive(items, method, 1234);
        TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
        EXPECT_EQ(ReadCheckedArchiveHeader(stream).LockFlag, 1u);
        for (const auto& entry : ListEntries(stream)) {
            EXPECT_EQ(entry.header.LockFlag, 1);
            EXPECT_EQ(TestEntry(stream, entry, 0).status, Status::KeyRequired);
            EXPECT_EQ(TestEntry(stream, entry, 1233).status, Status::WrongKey);
            EXPECT_EQ(TestEntry(stream, entry, 1234).status, Status::Ok);
        }
    }
    // A locked entry's coded data is the same as unlocked.
    const Bytes locked = WriteArchive(items, cmLZH, 99);
    const Bytes open = WriteArchive(items, cmLZH, 0);
    ASSERT_EQ(locked.size(), open.size());
    TCustomMemoryStream a(locked.data(), static_cast<int64_t>(locked.size()));
    TCustomMemoryStream b(open.data(), static_cast<int64_t>(open.size()));
    const auto la = ListEntries(a);
    const auto lb = ListEntries(b);
    for (size_t i = 0; i < la.size(); ++i) {
        EXPECT_EQ(
            Bytes(locked.begin() + la[i].dataPos,
                  locked.begin() + la[i].dataPos + la[i].header.CompressedSize),
            Bytes(open.begin() + lb[i].dataPos, open.begin() + lb[i].dataPos + lb[i].header.CompressedSize));
    }
}

TEST(TestEntry, FindsDamage) {
    using Status = EntryTestResult::Status;
    Bytes archive = WriteArchive({{"a.txt", TextBytes(20000, 9)}}, cmLZH, 0);
    TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
    const ArchiveEntry entry = ListEntries(stream).at(0);
    {
        Bytes damaged = archive;
        damaged[static_cast<size_t>(entry.dataPos) + 100] ^= 0x10;
        TCustomMemoryStream s(damaged.data(), static_cast<int64_t>(damaged.size()));
        EXPECT_EQ(TestEntry(s, entry, 0).status, Status::BadChecksum);
    }
    {
        ArchiveEntry wrongSize = entry;
        wrongSize.header.FullSize -= 1000;  // the decoder stops early: the byte sum differs
        EXPECT_EQ(TestEntry(stream, wrongSize, 0).status, Status::BadChecksum);
    }
    {
        ArchiveEntry longer = entry;  // coded data said to run on: the codec does not take it all
        Bytes extended = Concat({archive, Bytes(9000, 0)});
        longer.header.CompressedSize += 9000;
        TCustomMemoryStream s(extended.data(), static_cast<int64_t>(extended.size()));
        EXPECT_EQ(TestEntry(s, longer, 0).status, Status::DataMismatch);
    }
    {
        ArchiveEntry custom = entry;
        custom.header.Method = cmCustom;
        EXPECT_EQ(TestEntry(stream, custom, 0).status, Status::Unsupported);
    }
}

TEST(TestEntry, StoredDataPastTheEndRaisesReadError) {
    Bytes archive = WriteArchive({{"a.txt", TextBytes(500, 9)}}, cmNone, 0);
    archive.resize(archive.size() - 1);
    TCustomMemoryStream stream(archive.data(), static_cast<int64_t>(archive.size()));
    const auto entries = ListEntries(stream);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_THROW(TestEntry(stream, entries[0], 0), EReadError);
}

}  // namespace
