#include "archive/decode_ahead.h"

#include <algorithm>
#include <cstring>

#include "archive/archive_reader.h"
#include "framework/exceptions.h"

// What the worker's expansion writes: appended to the chunk being filled, which goes to the taker
// when it is full or the entry ends. It takes every byte it is given.
class DecodeAhead::Sink : public TStream {
  public:
    Sink(DecodeAhead& owner, int64_t dataPos, const TFileHeader& header)
        : owner_(owner), dataPos_(dataPos), header_(header) {}

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
            filling_ = owner_.Acquire(dataPos_, header_);
        }
        return *filling_;
    }
    void Send() {
        owner_.Publish(filling_);
        filling_ = nullptr;
    }

    DecodeAhead& owner_;
    int64_t dataPos_;
    TFileHeader header_;
    Chunk* filling_ = nullptr;  // taken from the free ones, not yet sent
};

DecodeAhead::DecodeAhead(std::unique_ptr<TStream> archive, Limits limits)
    : archive_(std::move(archive)), limits_(limits) {
    limits_.chunkSize = std::max<size_t>(limits_.chunkSize, 1);
    limits_.chunks = std::max(limits_.chunks, 1);
    const auto chunks = static_cast<size_t>(limits_.chunks);
    ready_.assign(chunks, nullptr);
    free_.reserve(chunks);
    for (size_t i = 0; i < chunks; ++i) {
        pool_.push_back(std::make_unique<Chunk>());
        free_.push_back(pool_.back().get());
    }
    started_ = worker_.Start([this] { Run(); });
}

DecodeAhead::~DecodeAhead() {
    {
        MonitorLock lock(monitor_);
        stopping_ = true;
    }
    monitor_.WakeAll();
    worker_.Join();
}

void DecodeAhead::Run() noexcept {
    int64_t position = kArchiveHeaderSize;
    try {
        ArchiveEntry entry;
        for (;;) {
            archive_->SetPosition(position);
            if (!ReadNextEntry(*archive_, entry)) {
                break;
            }
            position = entry.NextHeaderPos();
            if (entry.header.Method > cmLZH) {
                continue;  // custom coding or none of this system: never taken from here
            }
            Sink sink(*this, entry.dataPos, entry.header);
            uint32_t checksum = 0;
            std::exception_ptr failure;
            try {
                checksum = ExpandEntryData(sink, *archive_, entry.header,
                                           [&sink](int32_t& percentage) { sink.Progress(percentage); });
            } catch (const Stopped&) {
                throw;
            } catch (...) {
                failure = std::current_exception();
            }
            sink.Finish(checksum, std::move(failure));
        }
    } catch (...) {
        // Stopped, or a failure outside any entry's expansion (no memory for the walk): the worker
        // ends, and the entries it did not send are expanded by the taker itself.
    }
    {
        MonitorLock lock(monitor_);
        ended_ = true;
    }
    monitor_.WakeAll();
}

DecodeAhead::Chunk* DecodeAhead::Acquire(int64_t dataPos, const TFileHeader& header) {
    Chunk* chunk = nullptr;
    {
        MonitorLock lock(monitor_);
        while (free_.empty() && !stopping_) {
            lock.Wait();
        }
        if (stopping_) {
            throw Stopped{};
        }
        chunk = free_.back();
        free_.pop_back();
    }
    chunk->dataPos = dataPos;
    chunk->header = header;
    chunk->bytes.clear();
    chunk->bytes.reserve(limits_.chunkSize);
    chunk->percentages.clear();
    chunk->last = false;
    chunk->checksum = 0;
    chunk->failure = nullptr;
    return chunk;
}

void DecodeAhead::Publish(Chunk* chunk) {
    {
        MonitorLock lock(monitor_);
        ready_[(head_ + count_) % ready_.size()] = chunk;
        ++count_;
    }
    monitor_.WakeAll();
}

DecodeAhead::Chunk* DecodeAhead::Front() {
    MonitorLock lock(monitor_);
    while (count_ == 0 && !ended_) {
        lock.Wait();
    }
    return count_ == 0 ? nullptr : ready_[head_];
}

void DecodeAhead::Recycle() {
    {
        MonitorLock lock(monitor_);
        free_.push_back(ready_[head_]);
        head_ = (head_ + 1) % ready_.size();
        --count_;
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
    // The entries before it go; the worker sends them in archive order.
    Chunk* chunk = Front();
    while (chunk != nullptr && chunk->dataPos < dataPos) {
        Recycle();
        chunk = Front();
    }
    if (chunk == nullptr || chunk->dataPos != dataPos || !(chunk->header == header)) {
        return false;
    }
    lastTaken_ = dataPos;
    for (;;) {
        const bool last = chunk->last;
        {
            // The chunk goes back to the worker however this one ends.
            struct Taken {
                DecodeAhead& owner;
                ~Taken() { owner.Recycle(); }
            } taken{*this};
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
        chunk = Front();
        if (chunk == nullptr || chunk->dataPos != dataPos) {
            // The worker ended within the entry: only a lack of memory stops it there.
            throw EOutOfMemory(msg::kOutOfMemory);
        }
    }
}
