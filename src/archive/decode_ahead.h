// Decoding ahead: a worker thread expands an archive's entries one after the other into a bounded
// set of buffers, while the thread that started it takes each entry's bytes in turn and writes
// them where they go. What is taken is what an expansion on the taking thread would have given
// (ExpandEntryData): the same bytes, byte sum, progress percentages and failures. Only who
// computes the bytes, and when, differs.
//
// The worker walks the archive's entries from the first (as ListEntries does, over a stream of its
// own) and expands those of method 0, 1 and 2. It holds at most Limits::chunks buffers of
// Limits::chunkSize bytes, whatever the entries' sizes: with all of them full it waits for the
// taker. An entry whose expansion fails on the worker fails when it is taken, with the same
// exception, after the bytes the expansion had written before it. The destructor stops the worker
// wherever it is and waits for it to end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "archive/codec_progress.h"
#include "archive/format.h"
#include "archive/worker_thread.h"
#include "framework/stream.h"

// The worker's buffers: chunks of chunkSize bytes each. By default 8 MB in all, enough for the
// worker to go on decoding while the taker journals and moves a group of files.
struct DecodeAheadLimits {
    size_t chunkSize = 256 * 1024;
    int chunks = 32;  // at least 1
};

class DecodeAhead {
  public:
    using Limits = DecodeAheadLimits;

    // Starts the worker on archive, which it alone reads from then on. When no thread can be
    // started, nothing is decoded ahead: TakeEntry always returns false.
    explicit DecodeAhead(std::unique_ptr<TStream> archive, Limits limits = {});
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // When one of the entries still to come has its data at dataPos under header: drops those
    // before it, writes its expanded bytes to output, raises progress (may be empty) with each
    // percentage that the expansion raised, in order (a value that a handler leaves below 0
    // cancels nothing here), and returns true with checksum set to the expansion's byte sum.
    // Raises what the expansion raised, after writing the bytes it had written before, and
    // EWriteError "Stream write error" when output takes fewer bytes than it is given. Returns
    // false when no entry still to come stands at dataPos under that header (those before dataPos
    // are dropped all the same). Entries are taken once, in archive order: one at the position of
    // the last entry taken, or before it, is not found (nor what is left of it when taking it
    // failed).
    bool TakeEntry(int64_t dataPos,
                   const TFileHeader& header,
                   TStream& output,
                   const TShowProgressEvent& progress,
                   uint32_t& checksum);

  private:
    // Part of one entry's expanded bytes, with the percentages raised while they were made; the
    // entry's last chunk also carries its byte sum or its failure.
    struct Chunk {
        int64_t dataPos = 0;
        TFileHeader header;
        std::vector<uint8_t> bytes;
        std::vector<int32_t> percentages;
        bool last = false;
        uint32_t checksum = 0;
        std::exception_ptr failure;
    };
    class Sink;
    struct Stopped {};  // thrown on the worker to leave an expansion when the taker stops it

    void Run() noexcept;
    // The worker's side: a free chunk for the entry, or Stopped.
    Chunk* Acquire(int64_t dataPos, const TFileHeader& header);
    void Publish(Chunk* chunk);
    // The taker's side: the first chunk ready (waiting for one), or nullptr when the worker has
    // ended and every chunk is taken.
    Chunk* Front();
    // Takes the first chunk out of the queue and hands it back to the worker.
    void Recycle();

    std::unique_ptr<TStream> archive_;
    Limits limits_;
    std::vector<std::unique_ptr<Chunk>> pool_;
    Monitor monitor_;
    // Under the monitor: the chunks ready, in order (a ring over ready_ from head_), the free ones,
    // and whether the worker is to stop or has ended.
    std::vector<Chunk*> ready_;
    size_t head_ = 0;
    size_t count_ = 0;
    std::vector<Chunk*> free_;
    bool stopping_ = false;
    bool ended_ = false;
    bool started_ = false;
    int64_t lastTaken_ = -1;  // the taker's: the data position of the last entry taken
    WorkerThread worker_;     // last: joined before anything above goes
};
