// Decoding ahead: worker threads expand an archive's entries into a bounded set of buffers, while
// the thread that started them takes each entry's bytes in turn and writes them where they go.
// What is taken is what an expansion on the taking thread would have given (ExpandEntryData): the
// same bytes, byte sum, progress percentages and failures, whatever the number of workers. Only
// who computes the bytes, and when, differs.
//
// The workers walk the archive's entries from the first (as ListEntries does), each over a stream
// of its own, and share them out in archive order: a worker takes the next entry of method 0, 1 or
// 2 when it is free and expands it from start to end. The entries' chunks are taken in archive
// order, each entry's in the order they were made. The workers share at most Limits::chunks
// buffers of Limits::chunkSize bytes, whatever the entries' sizes: with all of them full they wait
// for the taker. The last free buffer is kept for the first entry still being expanded, the one
// the taker waits for: a worker that runs ahead on a later entry can never starve it. An entry
// whose expansion fails on a worker fails when it is taken, with the same exception, after the
// bytes the expansion had written before it. The destructor stops every worker wherever it is and
// waits for each to end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "archive/codec_progress.h"
#include "archive/format.h"
#include "archive/worker_thread.h"
#include "framework/stream.h"

struct ArchiveEntry;

// The buffers, shared by the workers: chunks of chunkSize bytes each. By default 8 MB in all,
// enough for the workers to go on decoding while the taker journals and moves a group of files.
struct DecodeAheadLimits {
    size_t chunkSize = 256 * 1024;
    int chunks = 32;  // at least 1
    int workers = 0;  // at least 1; 0: as many as DecodeAhead::WorkersFor(ProcessorCount()) gives
};

class DecodeAhead {
  public:
    using Limits = DecodeAheadLimits;
    // Opens the archive once more, for one worker's own reading.
    using ArchiveOpener = std::function<std::unique_ptr<TStream>()>;

    // The workers for a machine of that many processors: one for each but the taking thread's, at
    // least 1 and at most 3. On two processors a second worker was measured to cost about a tenth
    // more processor time for no steady gain in time: the taking thread keeps the second busy.
    static int WorkersFor(int processors);

    // Opens the archive once for each worker (what open raises goes out before any worker starts)
    // and starts them. When no thread can be started, nothing is decoded ahead: TakeEntry always
    // returns false; when fewer can, those started share the entries.
    explicit DecodeAhead(const ArchiveOpener& open, Limits limits = {});
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
        int64_t entry = 0;  // the entry's number among those the workers took, from 0
        int64_t dataPos = 0;
        TFileHeader header;
        std::vector<uint8_t> bytes;
        std::vector<int32_t> percentages;
        bool last = false;
        uint32_t checksum = 0;
        std::exception_ptr failure;
    };
    struct Worker {
        std::unique_ptr<TStream> archive;  // read by this worker alone
        int64_t entry = -1;                // under the monitor: the number of the entry it expands, or -1
        WorkerThread thread;
    };
    class Sink;
    struct Stopped {};  // thrown on a worker to leave an expansion when the taker stops it

    // Stops every worker wherever it is and waits for each to end.
    void StopWorkers() noexcept;
    void Run(Worker& worker) noexcept;
    // The worker's side: the next entry to expand, its number set in worker.entry, or false when
    // the walk has ended (or must end: Stopped).
    bool ClaimEntry(Worker& worker, ArchiveEntry& entry);
    // A free chunk for the worker's entry (waiting while none may be taken), or Stopped.
    Chunk* Acquire(const Worker& worker);
    // Sends the chunk to the taker; last: the worker is done with its entry.
    void Publish(Worker& worker, Chunk* chunk);
    // Under the monitor: the lowest number of the entries being expanded, -1 when none is.
    int64_t FirstInProgress() const;
    // The taker's side: the next chunk of its next entry (waiting for one), or nullptr when none is
    // to come. An entry whose worker ended within it sends no more: with passUnfinished the taker
    // goes on to the next entry once it has the chunks sent, without it nullptr comes.
    Chunk* Front(bool passUnfinished);
    // Hands the chunk back to the workers; with it the taker is done with its entry when it was
    // the entry's last.
    void Recycle(Chunk* chunk);

    Limits limits_;
    std::vector<std::unique_ptr<Chunk>> pool_;
    Monitor monitor_;
    // Under the monitor: the chunks sent, in the order they were sent, the free ones, the walk's
    // next header, the count of entries taken by the workers and of the workers running, and
    // whether the walk has ended or the workers are to stop.
    std::vector<Chunk*> ready_;
    std::vector<Chunk*> free_;
    int64_t nextHeader_ = kArchiveHeaderSize;
    int64_t claimed_ = 0;
    int running_ = 0;
    bool walkEnded_ = false;
    bool stopping_ = false;
    bool started_ = false;
    // The taker's: the number of the entry it takes or drops next, and the data position of the
    // last entry taken.
    int64_t next_ = 0;
    int64_t lastTaken_ = -1;
    std::vector<std::unique_ptr<Worker>> workers_;  // last: joined before anything above goes
};
