#include "archive/decode_ahead.h"

#include <algorithm>
#include <cstring>

#include "archive/archive_reader.h"
#include "framework/exceptions.h"

// What a worker's expansion writes: appended to the chunk being filled, which goes to the taker
// when it is full or the entry ends. It takes every byte it is given.
class DecodeAhead::Sink : public TStream {
  public:
    Sink(DecodeAhead& owner, Worker& worker, const ArchiveEntry& entry)
        : owner_(owner), worker_(worker), entry_(entry) {}

    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        const auto* from = static_cast<const uint8_t*>(buffer);
        for (int32_t left = std::max(count, 0); left > 0;) {
            Chunk& chunk = Filling();
            const size_t room = owner_.limits_.chunkSize - chunk.bytes.size();
            const size_t n = std::min(room, static_cast<size_t>(left));
            chunk.bytes.insert(chunk.bytes.end(), from, from + n);
            from += n;
            left -= static_cast<int32_t>(n);
            if (chunk.bytes.size() == owner_.limits_.chunkSize) {
                Send();
            }
        }
        return std::max(count, 0);
    }
    int64_t Seek(int64_t, SeekOrigin) override { return 0; }

    void Progress(int32_t percentage) { Filling().percentages.push_back(percentage); }

    // The entry's end: its byte sum or its failure goes with the last chunk.
    void Finish(uint32_t checksum, std::exception_ptr failure) {
        Chunk& chunk = Filling();
        chunk.last = true;
        chunk.checksum = checksum;
        chunk.failure = std::move(failure);
        Send();
    }

  private:
    Chunk& Filling() {
        if (filling_ == nullptr) {
            filling_ = owner_.Acquire(worker_);
            filling_->dataPos = entry_.dataPos;
            filling_->header = entry_.header;
        }
        return *filling_;
    }
    void Send() { owner_.Publish(worker_, std::exchange(filling_, nullptr)); }

    DecodeAhead& owner_;
    Worker& worker_;
    const ArchiveEntry& entry_;
    Chunk* filling_ = nullptr;  // taken from the free ones, not yet sent
};

int DecodeAhead::WorkersFor(int processors) {
    return std::clamp(processors - 1, 1, 3);
}

DecodeAhead::DecodeAhead(const ArchiveOpener& open, Limits limits) : limits_(limits) {
    limits_.chunkSize = std::max<size_t>(limits_.chunkSize, 1);
    limits_.chunks = std::max(limits_.chunks, 1);
    if (limits_.workers <= 0) {
        limits_.workers = WorkersFor(ProcessorCount());
    }
    const auto chunks = static_cast<size_t>(limits_.chunks);
    ready_.reserve(chunks);
    free_.reserve(chunks);
    for (size_t i = 0; i < chunks; ++i) {
        pool_.push_back(std::make_unique<Chunk>());
        free_.push_back(pool_.back().get());
    }
    for (int i = 0; i < limits_.workers; ++i) {
        workers_.push_back(std::make_unique<Worker>());
        workers_.back()->archive = open();
    }
    running_ = limits_.workers;  // the workers that end count themselves out
    try {
        for (const auto& worker : workers_) {
            Worker& w = *worker;
            if (w.thread.Start([this, &w] { Run(w); })) {
                started_ = true;
            } else {
                MonitorLock lock(monitor_);
                if (--running_ == 0) {
                    walkEnded_ = true;
                }
            }
        }
    } catch (...) {
        StopWorkers();
        throw;
    }
}

DecodeAhead::~DecodeAhead() {
    StopWorkers();
}

void DecodeAhead::StopWorkers() noexcept {
    {
        MonitorLock lock(monitor_);
        stopping_ = true;
    }
    monitor_.WakeAll();
    for (const auto& worker : workers_) {
        worker->thread.Join();
    }
}

void DecodeAhead::Run(Worker& worker) noexcept {
    try {
        ArchiveEntry entry;
        while (ClaimEntry(worker, entry)) {
            Sink sink(*this, worker, entry);
            uint32_t checksum = 0;
            std::exception_ptr failure;
            try {
                checksum = ExpandEntryData(sink, *worker.archive, entry.header,
                                           [&sink](int32_t& percentage) { sink.Progress(percentage); });
            } catch (const Stopped&) {
                throw;
            } catch (...) {
                failure = std::current_exception();
            }
            sink.Finish(checksum, std::move(failure));
        }
    } catch (...) {
        // Stopped, or a failure outside any entry's expansion (no memory for a chunk): the worker
        // ends; what it did not send of its entry the taker raises as a lack of memory.
    }
    {
        MonitorLock lock(monitor_);
        worker.entry = -1;
        // With no worker left, no entry is to come after those taken.
        if (--running_ == 0) {
            walkEnded_ = true;
        }
    }
    monitor_.WakeAll();
}

bool DecodeAhead::ClaimEntry(Worker& worker, ArchiveEntry& entry) {
    // The walk goes on under the lock: one header at a time, read from memory or the disk cache,
    // while the entries' data is read and expanded outside it.
    MonitorLock lock(monitor_);
    try {
        for (;;) {
            if (stopping_) {
                throw Stopped{};
            }
            if (walkEnded_) {
                return false;
            }
            worker.archive->SetPosition(nextHeader_);
            if (!ReadNextEntry(*worker.archive, entry)) {
                walkEnded_ = true;
                return false;
            }
            nextHeader_ = entry.NextHeaderPos();
            if (entry.header.Method <= cmLZH) {
                worker.entry = claimed_++;
                return true;
            }
            // Custom coding or none of this system: never taken from here.
        }
    } catch (const Stopped&) {
        throw;
    } catch (...) {
        // The walk failed (a read error, no memory): the entries after those taken are expanded
        // by the taker itself.
        walkEnded_ = true;
        return false;
    }
}

int64_t DecodeAhead::FirstInProgress() const {
    int64_t first = -1;
    for (const auto& worker : workers_) {
        if (worker->entry >= 0 && (first < 0 || worker->entry < first)) {
            first = worker->entry;
        }
    }
    return first;
}

DecodeAhead::Chunk* DecodeAhead::Acquire(const Worker& worker) {
    Chunk* chunk = nullptr;
    {
        MonitorLock lock(monitor_);
        // The last free chunk only goes to the first entry still being expanded: the taker gets to
        // the others after it, so their chunks come back only once it is sent in full.
        while (!stopping_ && (free_.empty() || (free_.size() == 1 && worker.entry != FirstInProgress()))) {
            lock.Wait();
        }
        if (stopping_) {
            throw Stopped{};
        }
        chunk = free_.back();
        free_.pop_back();
        chunk->entry = worker.entry;
    }
    chunk->bytes.clear();
    chunk->bytes.reserve(limits_.chunkSize);
    chunk->percentages.clear();
    chunk->last = false;
    chunk->checksum = 0;
    chunk->failure = nullptr;
    return chunk;
}

void DecodeAhead::Publish(Worker& worker, Chunk* chunk) {
    {
        MonitorLock lock(monitor_);
        ready_.push_back(chunk);
        if (chunk->last) {
            worker.entry = -1;
        }
    }
    monitor_.WakeAll();
}

DecodeAhead::Chunk* DecodeAhead::Front(bool passUnfinished) {
    MonitorLock lock(monitor_);
    for (;;) {
        const auto found =
            std::find_if(ready_.begin(), ready_.end(), [this](const Chunk* c) { return c->entry == next_; });
        if (found != ready_.end()) {
            return *found;
        }
        if (next_ >= claimed_) {
            if (walkEnded_) {
                return nullptr;  // no entry is to come
            }
        } else if (std::none_of(workers_.begin(), workers_.end(),
                                [this](const auto& worker) { return worker->entry == next_; })) {
            // Its worker ended within it: what it sent of it is taken or dropped, the rest never
            // comes.
            if (!passUnfinished) {
                return nullptr;
            }
            ++next_;
            continue;
        }
        lock.Wait();
    }
}

void DecodeAhead::Recycle(Chunk* chunk) {
    {
        MonitorLock lock(monitor_);
        std::erase(ready_, chunk);
        free_.push_back(chunk);
        if (chunk->last) {
            ++next_;
        }
    }
    monitor_.WakeAll();
}

bool DecodeAhead::TakeEntry(int64_t dataPos,
                            const TFileHeader& header,
                            TStream& output,
                            const TShowProgressEvent& progress,
                            uint32_t& checksum) {
    // Each entry is taken once: what is left of one that failed while it was taken goes too.
    if (!started_ || dataPos <= lastTaken_) {
        return false;
    }
    // The entries before it go; the taker meets them in archive order.
    Chunk* chunk = Front(true);
    while (chunk != nullptr && chunk->dataPos < dataPos) {
        Recycle(chunk);
        chunk = Front(true);
    }
    if (chunk == nullptr || chunk->dataPos != dataPos || !(chunk->header == header)) {
        return false;
    }
    lastTaken_ = dataPos;
    for (;;) {
        const bool last = chunk->last;
        {
            // The chunk goes back to the workers however this one ends.
            struct Taken {
                DecodeAhead& owner;
                Chunk* chunk;
                ~Taken() { owner.Recycle(chunk); }
            } taken{*this, chunk};
            const auto size = static_cast<int32_t>(chunk->bytes.size());
            if (size > 0 && output.Write(chunk->bytes.data(), size) != size) {
                throw EWriteError(msg::kWriteError);
            }
            for (int32_t percentage : chunk->percentages) {
                if (progress) {
                    progress(percentage);
                }
            }
            if (last) {
                // Taken out of the chunk: the exception ends its life on this thread.
                const std::exception_ptr failure = std::move(chunk->failure);
                if (failure) {
                    std::rethrow_exception(failure);
                }
                checksum = chunk->checksum;
                return true;
            }
        }
        chunk = Front(false);
        if (chunk == nullptr) {
            // The worker ended within the entry: only a lack of memory stops it there.
            throw EOutOfMemory(msg::kOutOfMemory);
        }
    }
}
