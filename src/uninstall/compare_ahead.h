// The comparison of a removal's files with their record on a second thread: while one file is read
// and hashed there, the removal opens and checks the next. One comparison at a time, and the caller
// decides on each result in its own order, so that what is decided and in which order stays as it
// would be on one thread; only the time changes.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/worker_thread.h"
#include "lifecycle/safe_files.h"

class TCompareAhead {
  public:
    TCompareAhead() = default;
    // Waits for the comparison under way, then lets the thread end.
    ~TCompareAhead();
    // Neither copied nor moved: the thread holds this object's address.
    TCompareAhead(const TCompareAhead&) = delete;
    TCompareAhead& operator=(const TCompareAhead&) = delete;

    // Starts comparing file with size and digest (TRemovableFile::Compare), once the comparison
    // before has been waited for. The caller leaves file alone, and open, until Wait returns. Until
    // a megabyte has been compared the comparison is made at once on the calling thread: a removal
    // of a few small files does not pay for a thread's start. So is it when the thread cannot be
    // started.
    void Start(TRemovableFile& file, int64_t size, const Sha256Digest& digest);

    // The result of the comparison started last.
    TContents Wait();

  private:
    void Run() noexcept;

    // One for every comparison, here or on the thread (never both at once), allocated by the
    // caller: the thread raises nothing.
    std::unique_ptr<char[]> buffer_;
    Monitor monitor_;
    // Under the monitor: the comparison handed to the thread until it is done, and its result.
    TRemovableFile* file_ = nullptr;
    int64_t size_ = 0;
    Sha256Digest digest_{};
    TContents result_ = TContents::Unreadable;
    bool stopping_ = false;
    bool started_ = false;
    int64_t comparedHere_ = 0;  // the bytes compared on the calling thread
    WorkerThread worker_;       // last: joined before anything above goes
};
