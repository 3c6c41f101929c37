#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "archive/codec_driver.h"
#include "archive/format.h"
#include "archive/lzh.h"
#include "archive/lzh_parallel.h"
#include "archive/match_finder.h"
#include "framework/exceptions.h"

// How the work is split.
//
// After the first look-ahead, the serial encoder goes through one step per window position:
// remove the oldest node, store the byte just read (none once the input has ended), move on, and
// insert the new position (unless the look-ahead is empty). The steps never depend on the coding:
// while the input lasts there is one read per step, and once a read has reported the end, the
// steps only remove and insert. What the coding decides is only which insertions' matches become
// symbols, and, after the end of input, when the next read is tried (one per symbol).
//
// So the calling thread writes the steps into a ring as it reads, and each finder thread replays
// all of them on its own copy of the window, performing the tree operations only for the trees it
// owns and recording the match of each insertion it performs. The calling thread codes from the
// records in position order. Once a read has reported the end of input, it adds the next steps
// only as the coding reaches them, trying a read at each symbol's first step as the serial encoder
// does; a read that delivers a byte again (a cancel that the progress handler takes back) simply
// continues the log.

namespace {

using namespace lzh;

// A step is the byte stored by it, or one of these.
constexpr uint16_t kDryStep = 256;   // no byte (the input has ended); the new position is inserted
constexpr uint16_t kLastStep = 257;  // no byte, and the look-ahead is now empty: no insertion

constexpr int64_t kRingSize = int64_t{1} << 18;  // steps between the reader and the coder
constexpr int64_t kRingMask = kRingSize - 1;
constexpr int64_t kReadChunk = int64_t{1} << 15;    // steps read ahead at a time
constexpr int64_t kSampleSteps = int64_t{1} << 17;  // steps read before the trees are shared out
constexpr int64_t kBatch = int64_t{1} << 12;        // steps a finder handles between reports

// A record: the match of a step's insertion and the byte at the inserted position (the literal).
// Each finder keeps a record for every step, 0 for the steps whose insertion another finder made,
// so that no two threads write to the same cache line.
uint32_t PackRecord(int length, int offset, uint8_t literal) {
    return static_cast<uint32_t>(length) | static_cast<uint32_t>(offset) << 6 |
           static_cast<uint32_t>(literal) << 18 | 0x80000000u;
}
int RecordLength(uint32_t record) {
    return static_cast<int>(record & 63);
}
int RecordOffset(uint32_t record) {
    return static_cast<int>((record >> 6) & kWindowMask);
}
uint8_t RecordLiteral(uint32_t record) {
    return static_cast<uint8_t>(record >> 18);
}

// What the calling thread and the finders share. Step k and its records live at index k & kRingMask
// of their rings; step 0 is the first look-ahead. A finder reads steps up to `produced` and writes
// its records up to its `done`; the calling thread reads records up to the smallest `done`.
struct Shared {
    explicit Shared(int finders)
        : steps(new uint16_t[kRingSize]),
          records(new uint32_t[static_cast<size_t>(finders * kRingSize)]),
          done(static_cast<size_t>(finders)) {}

    std::unique_ptr<uint16_t[]> steps;
    std::unique_ptr<uint32_t[]> records;  // finder i's ring at i * kRingSize
    std::array<uint8_t, kLookAhead> first{};
    int firstLength = 0;
    std::array<uint8_t, kTreeCount> owner{};  // the finder of each tree

    struct alignas(64) Counter {
        std::atomic<int64_t> value{-1};
    };
    std::atomic<int64_t> produced{-1};
    std::vector<Counter> done;
    std::atomic<bool> stop{false};

    std::mutex mutex;
    std::condition_variable stepsReady;    // finders wait here for steps
    std::condition_variable recordsReady;  // the calling thread waits here for records
    std::atomic<int> findersWaiting{0};
    std::atomic<bool> coderWaiting{false};

    int64_t SmallestDone() const {
        int64_t smallest = std::numeric_limits<int64_t>::max();
        for (const Counter& c : done) {
            smallest = std::min(smallest, c.value.load());
        }
        return smallest;
    }
};

// One finder thread: replays every step on its own window and trees. Aligned so that no two
// finders' data share a cache line.
class alignas(64) Finder {
  public:
    Finder(Shared& shared, int me)
        : shared_(shared), me_(static_cast<uint8_t>(me)), records_(shared.records.get() + me * kRingSize) {}

    void Run() noexcept {
        finder_.Init();
        int64_t done = -1;
        for (;;) {
            const int64_t available = WaitForSteps(done);
            if (available <= done) {
                return;  // stopped
            }
            int64_t k = done + 1;
            if (k == 0) {
                Start();
                ++k;
            }
            const int64_t end = std::min(available, done + kBatch);
            Replay(k, end);
            done = end;
            shared_.done[me_].value.store(done);
            if (shared_.coderWaiting.load()) {
                std::lock_guard<std::mutex> lock(shared_.mutex);
                shared_.recordsReady.notify_one();
            }
        }
    }

  private:
    bool Owns(int r) const { return shared_.owner[MatchFinder::TreeOf(&finder_.window[r])] == me_; }

    // Inserts r when its tree is this finder's, and keeps the record of step k.
    void Insert(int64_t k, int r) {
        uint32_t record = 0;
        if (Owns(r)) {
            finder_.AddNode(r);
            record = PackRecord(finder_.matchLength, finder_.matchOffset, finder_.window[r]);
        }
        records_[k & kRingMask] = record;
    }

    // The first look-ahead, the strings that begin in the fill and reach into it, then its own.
    void Start() {
        std::copy_n(shared_.first.begin(), shared_.firstLength, finder_.window.begin() + kStartPosition);
        for (int k = 1; k <= kLookAhead; ++k) {
            if (Owns(kStartPosition - k)) {
                finder_.AddNode(kStartPosition - k);
            }
        }
        Insert(0, kStartPosition);
    }

    // Steps from to end. The positions live in locals: the window's byte stores could otherwise
    // alias them.
    void Replay(int64_t from, int64_t end) {
        const uint16_t* const steps = shared_.steps.get();
        int s = s_;
        int r = r_;
        for (int64_t k = from; k <= end; ++k) {
            const uint16_t step = steps[k & kRingMask];
            finder_.RemoveNode(s);  // does nothing unless s is in one of this finder's trees
            if (step < kDryStep) {
                finder_.Put(s, static_cast<uint8_t>(step));
            }
            s = (s + 1) & kWindowMask;
            r = (r + 1) & kWindowMask;
            if (step != kLastStep) {
                Insert(k, r);
            }
        }
        s_ = s;
        r_ = r;
    }

    // The last step available once there are steps after `done`, or `done` when stopped.
    int64_t WaitForSteps(int64_t done) {
        int64_t available = shared_.produced.load();
        if (available > done || shared_.stop.load()) {
            return shared_.stop.load() ? done : available;
        }
        std::unique_lock<std::mutex> lock(shared_.mutex);
        shared_.findersWaiting.fetch_add(1);
        while ((available = shared_.produced.load()) <= done && !shared_.stop.load()) {
            shared_.stepsReady.wait(lock);
        }
        shared_.findersWaiting.fetch_sub(1);
        return shared_.stop.load() ? done : available;
    }

    Shared& shared_;
    uint8_t me_;
    uint32_t* records_;
    MatchFinder finder_;
    int s_ = 0;               // the position that the next step removes and overwrites
    int r_ = kStartPosition;  // the position inserted by the last step
};

// The finder threads, stopped and joined on every way out.
class FinderThreads {
  public:
    FinderThreads(Shared& shared, int count) : shared_(shared) {
        for (int i = 0; i < count; ++i) {
            finders_.push_back(std::make_unique<Finder>(shared, i));
        }
        try {
            for (auto& finder : finders_) {
                threads_.emplace_back([f = finder.get()] { f->Run(); });
            }
        } catch (...) {
            Stop();
            throw;
        }
    }
    FinderThreads(const FinderThreads&) = delete;
    FinderThreads& operator=(const FinderThreads&) = delete;
    ~FinderThreads() { Stop(); }

  private:
    void Stop() {
        shared_.stop.store(true);
        {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            shared_.stepsReady.notify_all();
        }
        for (std::thread& t : threads_) {
            t.join();
        }
        threads_.clear();
    }

    Shared& shared_;
    std::vector<std::unique_ptr<Finder>> finders_;
    std::vector<std::thread> threads_;
};

// Gives each tree to a finder so that the finders get about as much work each, judged by the
// strings of the data read so far: the busiest trees first, each to the finder with the least. An
// insertion inside a run of one byte value counts for little: it finds its 60-byte match at once.
void AssignTrees(Shared& shared, int finders, int64_t produced) {
    std::vector<uint8_t> bytes(shared.first.begin(), shared.first.begin() + shared.firstLength);
    for (int64_t k = 1; k <= produced && shared.steps[k] < kDryStep; ++k) {
        bytes.push_back(static_cast<uint8_t>(shared.steps[k]));
    }
    std::vector<int64_t> weight(kTreeCount, 1);
    for (size_t i = 0; i + 2 < bytes.size(); ++i) {
        const bool run = bytes[i] == bytes[i + 1] && bytes[i] == bytes[i + 2];
        weight[static_cast<size_t>(MatchFinder::TreeOf(&bytes[i]))] += run ? kTreeCount / 8 : kTreeCount;
    }
    std::vector<int> order(kTreeCount);
    for (int t = 0; t < kTreeCount; ++t) {
        order[static_cast<size_t>(t)] = t;
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return weight[static_cast<size_t>(a)] > weight[static_cast<size_t>(b)];
    });
    std::vector<int64_t> load(static_cast<size_t>(finders), 0);
    for (int t : order) {
        const auto least = static_cast<size_t>(std::min_element(load.begin(), load.end()) - load.begin());
        shared.owner[static_cast<size_t>(t)] = static_cast<uint8_t>(least);
        load[least] += weight[static_cast<size_t>(t)];
    }
}

// The calling thread: reads the input into the step log, codes from the records.
class Coder {
  public:
    Coder(CodecIo& io, Shared& shared, int finders) : io_(io), shared_(shared), finders_(finders) {}

    void Run(HuffmanModel& model) {
        len_ = shared_.firstLength;
        // A first look-ahead cut short ended with a read that reported the end.
        reading_ = len_ == kLookAhead;
        // The trees are shared out by the first kSampleSteps steps.
        while (reading_ && produced_ < kSampleSteps) {
            ReadAhead(0);
        }
        AssignTrees(shared_, finders_, produced_);
        Publish();

        int len = shared_.firstLength;  // the look-ahead at step t
        int64_t t = 0;                  // the step whose insertion gives the next symbol
        BitWriter bits(io_);
        while (len > 0) {
            if (reading_ && produced_ - t < kRingSize / 2) {
                ReadAhead(t);
                Publish();
            }
            const uint32_t record = RecordAt(t);
            const int last = EncodeNextSymbol(model, bits, RecordLength(record), RecordOffset(record),
                                              RecordLiteral(record), len);
            const int64_t target = t + last;
            if (produced_ < target) {
                // Past the end of input: the symbol's first step tries a read, the others do not,
                // unless a read has delivered again.
                while (produced_ < target) {
                    AddStep(reading_ || produced_ == t);
                }
                Publish();
            }
            for (int64_t k = std::max(t + 1, firstDry_); k <= target; ++k) {
                if (shared_.steps[k & kRingMask] >= kDryStep) {
                    --len;
                }
            }
            t = target;
        }
        bits.Flush();
    }

  private:
    // Appends the next step: the byte of a read, when `read` and it delivers, else a step without.
    void AddStep(bool read) {
        uint16_t step;
        const uint8_t b = read ? io_.ReadByte() : 0;
        if (read && !io_.EndOfInput()) {
            step = b;
            reading_ = true;
        } else {
            reading_ = false;
            --len_;
            step = len_ > 0 ? kDryStep : kLastStep;
            firstDry_ = std::min(firstDry_, produced_ + 1);
        }
        ++produced_;
        shared_.steps[produced_ & kRingMask] = step;
    }

    // Reads up to kReadChunk more steps while the input lasts and the ring has room: a step's slot
    // is free once the coder has passed its previous occupant and every finder has handled it.
    void ReadAhead(int64_t t) {
        const int64_t limit = std::min({produced_ + kReadChunk, std::min(t - 1, minDone_) + kRingSize});
        uint16_t* const steps = shared_.steps.get();
        while (produced_ < limit) {
            const uint8_t b = io_.ReadByte();
            if (io_.EndOfInput()) {
                // The step of this read stores nothing; the log goes on as the coding reaches it.
                reading_ = false;
                --len_;
                ++produced_;
                steps[produced_ & kRingMask] = len_ > 0 ? kDryStep : kLastStep;
                firstDry_ = produced_;
                return;
            }
            ++produced_;
            steps[produced_ & kRingMask] = b;
        }
    }

    void Publish() {
        shared_.produced.store(produced_);
        if (shared_.findersWaiting.load() > 0) {
            std::lock_guard<std::mutex> lock(shared_.mutex);
            shared_.stepsReady.notify_all();
        }
    }

    // The record of step t, once every finder has handled it; reads ahead while waiting.
    uint32_t RecordAt(int64_t t) {
        while (minDone_ < t) {
            minDone_ = shared_.SmallestDone();
            if (minDone_ >= t) {
                break;
            }
            if (reading_ && produced_ < std::min(t - 1, minDone_) + kRingSize) {
                ReadAhead(t);
                Publish();
                continue;
            }
            std::unique_lock<std::mutex> lock(shared_.mutex);
            shared_.coderWaiting.store(true);
            while ((minDone_ = shared_.SmallestDone()) < t) {
                shared_.recordsReady.wait(lock);
            }
            shared_.coderWaiting.store(false);
        }
        uint32_t record = 0;
        for (int i = 0; i < finders_; ++i) {
            record |= shared_.records[static_cast<size_t>(i * kRingSize + (t & kRingMask))];
        }
        return record;
    }

    CodecIo& io_;
    Shared& shared_;
    int finders_;
    int64_t produced_ = 0;  // the last step in the log
    bool reading_ = false;  // the next step reads: no read has reported the end since the last byte
    int len_ = 0;           // the look-ahead after step produced_
    int64_t firstDry_ = std::numeric_limits<int64_t>::max();  // the first step without a byte
    int64_t minDone_ = -1;                                    // every finder has handled the steps up to here
};

// As LZHEncode, with `finders` threads (2 up to kMaxFinders) searching for matches while the
// calling thread reads and codes.
void LZHEncodeParallel(CodecIo& io, int finders) {
    finders = std::min(finders, kMaxFinders);
    auto shared = std::make_unique<Shared>(finders);
    auto model = std::make_unique<HuffmanModel>();
    model->Init();
    std::unique_ptr<FinderThreads> threads;
    try {
        threads = std::make_unique<FinderThreads>(*shared, finders);
    } catch (const std::system_error&) {
        // No threads to be had: nothing has been read yet, so the serial encoder does it all.
        LZHEncode(io);
        return;
    }
    shared->firstLength = ReadLookAhead(io, shared->first.data());
    if (shared->firstLength == 0) {
        return;
    }
    Coder(io, *shared, finders).Run(*model);
}

}  // namespace

void RunLZHEncode(const TShowProgressEvent& progress,
                  TStream& dest,
                  TStream& source,
                  int32_t sourceSize,
                  uint32_t& checksum,
                  int finders) {
    if (finders <= 1) {
        RunCodec(progress, dest, source, sourceSize, sourceSize, cmLZH, checksum, false);
        return;
    }
    checksum = 0;
    try {
        CodecIo io(progress, dest, source, sourceSize);
        LZHEncodeParallel(io, finders);
        checksum = io.ReadSum();
        io.FinishOutput();
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(msg::kOutOfMemory);
    }
}
