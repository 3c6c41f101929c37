// Decoding ahead on a second thread against the expansion on the taking thread: every entry of
// generated archives, taken through the pipeline with tiny and default buffer limits and a slow
// taker, must give the same bytes, byte sums, progress percentages and failures; the worker must
// stay within its buffers and stop wherever the taker leaves it.
#include "archive/decode_ahead.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>

#include "../common/expansion_runs.h"
#include "archive/archive_reader.h"
#include "archive/archive_writer.h"
#include "archive/format.h"
#include "test_util.h"

namespace {

// A memory stream whose reads fail (EReadError) once they touch [badFrom, badTo), as a damaged
// medium would; reads count in position, which another thread may watch.
class MediumStream : public TStream {
  public:
    explicit MediumStream(const Bytes& bytes, int64_t badFrom = -1, int64_t badTo = -1)
        : bytes_(bytes), badFrom_(badFrom), badTo_(badTo) {}
    int32_t Read(void* buffer, int32_t count) override {
        const int64_t at = position_;
        const auto n = static_cast<int32_t>(
            std::max<int64_t>(0, std::min<int64_t>(count, static_cast<int64_t>(bytes_.size()) - at)));
        if (n > 0 && at < badTo_ && at + n > badFrom_) {
            throw EReadError(msg::kReadError);
        }
        if (n > 0) {
            std::memcpy(buffer, bytes_.data() + at, static_cast<size_t>(n));
        }
        position_ = at + n;
        return n;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t Seek(int64_t offset, SeekOrigin origin) override {
        position_ = (origin == SeekOrigin::Beginning ? 0
                     : origin == SeekOrigin::Current ? position_.load()
                                                     : Size()) +
                    offset;
        return position_;
    }
    int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
    int64_t Reached() const { return position_; }

  private:
    const Bytes& bytes_;
    int64_t badFrom_;
    int64_t badTo_;
    std::atomic<int64_t> position_ = 0;
};

struct Item {
    std::string name;
    Bytes data;
};

Bytes WriteArchive(const std::vector<Item>& items, uint8_t method) {
    TMemoryStream out;
    ArchiveWriter writer(out, method, 0);
    for (const Item& item : items) {
        writer.Add(item.name, item.data.data(), item.data.size(), 0x238774AA, 0x20);
    }
    writer.Finish();
    return out.Bytes();
}

// Sizes around the buffers' edges: empty, one byte, the codec's block, several of them.
std::vector<Item> SampleItems() {
    std::vector<Item> items;
    const size_t sizes[] = {0, 1, 8191, 8192, 8193, 70000, 0, 300000, 5, 16384 * 3 + 17};
    uint32_t seed = 1;
    for (size_t size : sizes) {
        items.push_back(
            {"file" + std::to_string(seed), seed % 2 ? VariedBytes(size, seed) : TextBytes(size, seed)});
        ++seed;
    }
    return items;
}

// Tiny buffers make every hand-over a wait; they run on a smaller archive.
const DecodeAhead::Limits kLimits[] = {{3, 1}, {7, 2}, {4096, 3}, {65536, 16}, {}};

std::vector<Item> ItemsFor(const DecodeAhead::Limits& limits) {
    std::vector<Item> items = SampleItems();
    if (limits.chunkSize < 64) {
        std::erase_if(items, [](const Item& item) { return item.data.size() > 20000; });
    }
    return items;
}

TEST(DecodeAhead, EveryEntryAsTheTakingThreadExpandsIt) {
    for (uint8_t method : {cmNone, cmRLE, cmLZH}) {
        for (const auto& limits : kLimits) {
            const auto items = ItemsFor(limits);
            const Bytes archive = WriteArchive(items, method);
            MediumStream here(archive);
            const auto entries = ListEntries(here);
            ASSERT_EQ(entries.size(), items.size());
            for (bool slow : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << "method " << int(method) << ", chunks of " << limits.chunkSize << " x"
                             << limits.chunks << (slow ? ", slow taker" : ""));
                DecodeAhead ahead(std::make_unique<MediumStream>(archive), limits);
                for (size_t i = 0; i < entries.size(); ++i) {
                    const ExpansionRun expected = ExpandHere(here, entries[i]);
                    EXPECT_EQ(expected.bytes, items[i].data);
                    const auto taken = TakeAhead(ahead, entries[i], slow);
                    ASSERT_TRUE(taken.has_value()) << "entry " << i;
                    EXPECT_TRUE(*taken == expected) << "entry " << i;
                }
            }
        }
    }
}

// A medium that fails under one entry in the middle: that entry fails when it is taken, with the
// expansion's exception and after the bytes the expansion wrote before it; the others are whole.
TEST(DecodeAhead, AFailingEntryFailsWhenTakenAndTheOthersStayWhole) {
    const auto items = SampleItems();
    for (uint8_t method : {cmNone, cmLZH}) {
        const Bytes archive = WriteArchive(items, method);
        MediumStream plain(archive);
        const auto entries = ListEntries(plain);
        const ArchiveEntry& bad = entries[7];  // 300000 bytes
        const int64_t badFrom = bad.dataPos + bad.header.CompressedSize / 2;
        for (const auto& limits : kLimits) {
            if (limits.chunkSize < 64) {
                continue;  // the tiny buffers are tried on the smaller archive above
            }
            SCOPED_TRACE(testing::Message()
                         << "method " << int(method) << ", chunks of " << limits.chunkSize);
            MediumStream here(archive, badFrom, badFrom + 1);
            DecodeAhead ahead(std::make_unique<MediumStream>(archive, badFrom, badFrom + 1), limits);
            for (size_t i = 0; i < entries.size(); ++i) {
                const ExpansionRun expected = ExpandHere(here, entries[i]);
                EXPECT_EQ(expected.failure.has_value(), i == 7);
                const auto taken = TakeAhead(ahead, entries[i], true);
                ASSERT_TRUE(taken.has_value()) << "entry " << i;
                EXPECT_TRUE(*taken == expected) << "entry " << i;
            }
        }
    }
}

// The taker may leave entries out (a kept file); an entry that is not there, or not under that
// header, is refused without dropping the ones after it.
TEST(DecodeAhead, EntriesLeftOutAndEntriesNotThere) {
    const auto items = SampleItems();
    const Bytes archive = WriteArchive(items, cmLZH);
    MediumStream here(archive);
    const auto entries = ListEntries(here);
    DecodeAhead ahead(std::make_unique<MediumStream>(archive), {4096, 2});
    ArchiveEntry other = entries[3];
    other.header.FullSize += 1;
    EXPECT_FALSE(TakeAhead(ahead, other, false).has_value());
    for (size_t i : {3u, 4u, 7u, 9u}) {
        const auto taken = TakeAhead(ahead, entries[i], false);
        ASSERT_TRUE(taken.has_value()) << "entry " << i;
        EXPECT_TRUE(*taken == ExpandHere(here, entries[i])) << "entry " << i;
        if (i == 3) {
            ArchiveEntry nowhere = entries[3];
            nowhere.dataPos += 1;
            EXPECT_FALSE(TakeAhead(ahead, nowhere, false).has_value());
        }
    }
    // Behind the last one taken, and past the end.
    EXPECT_FALSE(TakeAhead(ahead, entries[5], false).has_value());
    EXPECT_FALSE(TakeAhead(ahead, entries[9], false).has_value());
}

// Stored data lets the worker's reading be watched: it never runs further ahead of what the taker
// has written than its buffers and one block of the copy hold, whatever the entry's size.
TEST(DecodeAhead, TheWorkerStaysWithinItsBuffers) {
    const Bytes data = RandomBytes(3 << 20, 7);
    const Bytes archive = WriteArchive({{"big", data}}, cmNone);
    MediumStream here(archive);
    const auto entries = ListEntries(here);
    const DecodeAhead::Limits limits{1000, 4};
    auto stream = std::make_unique<MediumStream>(archive);
    const MediumStream& worker = *stream;
    DecodeAhead ahead(std::move(stream), limits);
    class Watching : public CollectingStream {
      public:
        Watching(const MediumStream& worker, int64_t start)
            : CollectingStream(true), worker_(worker), start_(start) {}
        int32_t Write(const void* buffer, int32_t count) override {
            const int64_t ahead = worker_.Reached() - start_ - static_cast<int64_t>(bytes.size());
            most = std::max(most, ahead);
            return CollectingStream::Write(buffer, count);
        }
        int64_t most = 0;

      private:
        const MediumStream& worker_;
        int64_t start_;
    } sink(worker, entries[0].dataPos);
    uint32_t checksum = 0;
    ASSERT_TRUE(ahead.TakeEntry(entries[0].dataPos, entries[0].header, sink, nullptr, checksum));
    EXPECT_EQ(sink.bytes, data);
    EXPECT_LE(sink.most, 64 * 1024 + 4 * 1000);
}

// A taker that stops anywhere (its output full, its progress handler throwing, or simply going)
// stops the worker: the destructor returns, nothing leaks, and a failed write says so.
TEST(DecodeAhead, StopsWhereverTheTakerLeaves) {
    for (const auto& limits : kLimits) {
        const Bytes archive = WriteArchive(ItemsFor(limits), cmLZH);
        MediumStream here(archive);
        const auto entries = ListEntries(here);
        for (size_t leave = 0; leave <= entries.size(); ++leave) {
            DecodeAhead ahead(std::make_unique<MediumStream>(archive), limits);
            for (size_t i = 0; i < leave; ++i) {
                ASSERT_TRUE(TakeAhead(ahead, entries[i], false).has_value());
            }
            if (leave < entries.size() && entries[leave].header.FullSize > 100) {
                uint8_t room[100];
                FixedStream full(room, sizeof room);
                uint32_t checksum = 0;
                try {
                    ahead.TakeEntry(entries[leave].dataPos, entries[leave].header, full, nullptr, checksum);
                    ADD_FAILURE() << "a full output went unnoticed, entry " << leave;
                } catch (const EWriteError& e) {
                    EXPECT_EQ(e.Message(), msg::kWriteError);
                }
                // What is left of it is never taken as the entry.
                EXPECT_FALSE(TakeAhead(ahead, entries[leave], false).has_value());
            }
            if (leave + 1 < entries.size() && entries[leave + 1].header.CompressedSize > 0) {
                CollectingStream sink;
                const TShowProgressEvent throwing = [](int32_t&) { throw Exception("stop"); };
                uint32_t checksum = 0;
                EXPECT_THROW(ahead.TakeEntry(entries[leave + 1].dataPos, entries[leave + 1].header, sink,
                                             throwing, checksum),
                             Exception);
            }
        }
    }
}

}  // namespace
