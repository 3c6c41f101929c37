// Decoding ahead on worker threads against the expansion on the taking thread: every entry of
// generated archives, taken through the pipeline with 1, 2 and 3 workers, tiny and default buffer
// limits and a slow taker, must give the same bytes, byte sums, progress percentages and failures;
// the workers must stay within their buffers, never starve the entry the taker waits for, and stop
// wherever the taker leaves them.
#include "archive/decode_ahead.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
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

// Where reads of one range wait until another range has been read (by any stream sharing the
// gate), at most a few seconds: it makes a worker run ahead on a later entry.
struct ReadGate {
    int64_t waitFrom = -1, waitTo = -1;  // reads touching this range wait
    int64_t openFrom = -1, openTo = -1;  // until one touches this one
    std::atomic<bool> open = false;
};

// A memory stream whose reads fail (EReadError) once they touch [badFrom, badTo), as a damaged
// medium would; reads count in position and read, which another thread may watch.
class MediumStream : public TStream {
  public:
    explicit MediumStream(const Bytes& bytes,
                          int64_t badFrom = -1,
                          int64_t badTo = -1,
                          ReadGate* gate = nullptr)
        : bytes_(bytes), badFrom_(badFrom), badTo_(badTo), gate_(gate) {}
    int32_t Read(void* buffer, int32_t count) override {
        const int64_t at = position_;
        const auto n = static_cast<int32_t>(
            std::max<int64_t>(0, std::min<int64_t>(count, static_cast<int64_t>(bytes_.size()) - at)));
        if (n > 0 && at < badTo_ && at + n > badFrom_) {
            throw EReadError(msg::kReadError);
        }
        if (gate_ != nullptr && n > 0) {
            if (at < gate_->openTo && at + n > gate_->openFrom) {
                gate_->open = true;
            }
            for (int i = 0; i < 5000 && !gate_->open && at < gate_->waitTo && at + n > gate_->waitFrom; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        if (n > 0) {
            std::memcpy(buffer, bytes_.data() + at, static_cast<size_t>(n));
        }
        position_ = at + n;
        read_ += n;
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
    int64_t BytesRead() const { return read_; }

  private:
    const Bytes& bytes_;
    int64_t badFrom_;
    int64_t badTo_;
    ReadGate* gate_;
    std::atomic<int64_t> position_ = 0;
    std::atomic<int64_t> read_ = 0;
};

// Each worker's own stream over the archive.
DecodeAhead::ArchiveOpener Medium(const Bytes& archive, int64_t badFrom = -1, int64_t badTo = -1) {
    return [&archive, badFrom, badTo] { return std::make_unique<MediumStream>(archive, badFrom, badTo); };
}

DecodeAhead::Limits With(DecodeAhead::Limits limits, int workers) {
    limits.workers = workers;
    return limits;
}

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
            for (const auto& [workers, slow] :
                 {std::pair{1, false}, {1, true}, {2, false}, {2, true}, {3, true}}) {
                SCOPED_TRACE(testing::Message() << "method " << int(method) << ", chunks of "
                                                << limits.chunkSize << " x" << limits.chunks << ", "
                                                << workers << " workers" << (slow ? ", slow taker" : ""));
                DecodeAhead ahead(Medium(archive), With(limits, workers));
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
            for (int workers = 1; workers <= 3 && limits.chunkSize >= 64; ++workers) {
                // (the tiny buffers are tried on the smaller archive above)
                SCOPED_TRACE(testing::Message() << "method " << int(method) << ", chunks of "
                                                << limits.chunkSize << ", " << workers << " workers");
                MediumStream here(archive, badFrom, badFrom + 1);
                DecodeAhead ahead(Medium(archive, badFrom, badFrom + 1), With(limits, workers));
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
}

// The taker may leave entries out (a kept file); an entry that is not there, or not under that
// header, is refused without dropping the ones after it.
TEST(DecodeAhead, EntriesLeftOutAndEntriesNotThere) {
    const auto items = SampleItems();
    const Bytes archive = WriteArchive(items, cmLZH);
    MediumStream here(archive);
    const auto entries = ListEntries(here);
    for (int workers = 1; workers <= 3; ++workers) {
        SCOPED_TRACE(testing::Message() << workers << " workers");
        DecodeAhead ahead(Medium(archive), {4096, 2, workers});
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
}

// Stored data lets the workers' reading be watched: together they never run further ahead of
// what the taker has written than their buffers, one block of the copy each and the headers hold,
// whatever the entries' sizes.
TEST(DecodeAhead, TheWorkersStayWithinTheirBuffers) {
    std::vector<Item> items;
    for (uint32_t i = 0; i < 4; ++i) {
        items.push_back({"big" + std::to_string(i), RandomBytes((1 << 20) + i * 4099, 7 + i)});
    }
    const Bytes archive = WriteArchive(items, cmNone);
    MediumStream here(archive);
    const auto entries = ListEntries(here);
    const DecodeAhead::Limits limits{1000, 4};
    for (int workers = 1; workers <= 3; ++workers) {
        SCOPED_TRACE(testing::Message() << workers << " workers");
        std::vector<const MediumStream*> streams;
        DecodeAhead ahead(
            [&] {
                auto stream = std::make_unique<MediumStream>(archive);
                streams.push_back(stream.get());
                return stream;
            },
            With(limits, workers));
        class Watching : public CollectingStream {
          public:
            explicit Watching(const std::vector<const MediumStream*>& streams) : streams_(streams) {}
            int32_t Write(const void* buffer, int32_t count) override {
                int64_t read = 0;
                for (const MediumStream* stream : streams_) {
                    read += stream->BytesRead();
                }
                most = std::max(most, read - written);
                written += count;
                return CollectingStream::Write(buffer, count);
            }
            int64_t most = 0;
            int64_t written = 0;

          private:
            const std::vector<const MediumStream*>& streams_;
        } sink(streams);
        for (size_t i = 0; i < entries.size(); ++i) {
            sink.bytes.clear();
            uint32_t checksum = 0;
            ASSERT_TRUE(ahead.TakeEntry(entries[i].dataPos, entries[i].header, sink, nullptr, checksum));
            EXPECT_EQ(sink.bytes, items[i].data);
        }
        const int64_t headers = entries[0].dataPos * static_cast<int64_t>(entries.size());
        EXPECT_LE(sink.most, workers * 64 * 1024 + 4 * 1000 + headers);
    }
}

// The taker waits for an entry while another worker has run ahead on the next one (its reads held
// until the later entry has been read): with a single buffer, or two, the worker ahead must leave
// the last one to the entry the taker waits for, or the run would never end.
TEST(DecodeAhead, AWorkerAheadNeverStarvesTheEntryTakenNext) {
    const std::vector<Item> items = {{"first", TextBytes(20000, 1)}, {"second", VariedBytes(20000, 2)}};
    const Bytes archive = WriteArchive(items, cmLZH);
    MediumStream here(archive);
    const auto entries = ListEntries(here);
    ReadGate gate;
    gate.waitFrom = entries[0].dataPos;
    gate.waitTo = entries[0].NextHeaderPos();
    gate.openFrom = entries[1].dataPos;
    gate.openTo = entries[1].NextHeaderPos();
    for (const DecodeAhead::Limits limits :
         {DecodeAhead::Limits{3, 1, 2}, {5, 2, 2}, {7, 2, 3}, {4096, 3, 2}}) {
        SCOPED_TRACE(testing::Message() << "chunks of " << limits.chunkSize << " x" << limits.chunks << ", "
                                        << limits.workers << " workers");
        gate.open = false;
        // A starved entry hangs the run: a watchdog ends the test program instead.
        std::promise<void> done;
        std::thread watchdog([finished = done.get_future()] {
            if (finished.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
                std::fputs("DecodeAhead: the entry taken next starved\n", stderr);
                std::_Exit(1);
            }
        });
        {
            DecodeAhead ahead([&] { return std::make_unique<MediumStream>(archive, -1, -1, &gate); }, limits);
            for (size_t i = 0; i < entries.size(); ++i) {
                const auto taken = TakeAhead(ahead, entries[i], false);
                EXPECT_TRUE(taken.has_value() && *taken == ExpandHere(here, entries[i])) << "entry " << i;
            }
        }
        EXPECT_TRUE(gate.open);
        done.set_value();
        watchdog.join();
    }
}

TEST(DecodeAhead, OneWorkerForEachProcessorButTheTakersUpToThree) {
    const std::pair<int, int> cases[] = {{-1, 1}, {0, 1}, {1, 1}, {2, 1}, {3, 2}, {4, 3}, {5, 3}, {64, 3}};
    for (const auto& [processors, workers] : cases) {
        EXPECT_EQ(DecodeAhead::WorkersFor(processors), workers) << processors << " processors";
    }
}

// A taker that stops anywhere (its output full, its progress handler throwing, or simply going)
// stops the worker: the destructor returns, nothing leaks, and a failed write says so.
TEST(DecodeAhead, StopsWhereverTheTakerLeaves) {
    for (const auto& base : kLimits) {
        const Bytes archive = WriteArchive(ItemsFor(base), cmLZH);
        MediumStream here(archive);
        const auto entries = ListEntries(here);
        for (size_t leave = 0; leave <= entries.size(); ++leave) {
            const auto limits = With(base, 1 + static_cast<int>(leave % 3));
            DecodeAhead ahead(Medium(archive), limits);
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
