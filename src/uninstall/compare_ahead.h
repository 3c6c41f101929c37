// The comparison of a removal's files with their record on a second thread: while one file is read
// and hashed there, the removal opens and checks the next. One comparison at a time, and the caller
// decides on each result in its own order, so that what is decided and in which order stays as it
// would be on one thread; only the time changes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "framework/unique_handle.h"
#include "lifecycle/safe_files.h"

class TCompareAhead {
  public:
    // Waits for the comparison under way, then lets the thread end. (Neither copied nor moved: the
    // thread holds this object's address.)
    ~TCompareAhead();

    // Starts comparing file with size and digest (TRemovableFile::Compare), once the comparison
    // before has been waited for. The caller leaves file alone, and open, until Wait returns. Until a
    // megabyte has been compared the comparison is made at once on the calling thread: a removal of a few
    // small files does not pay for a thread's start. So is it when the thread cannot be started.
    void Start(TRemovableFile& file, int64_t size, const Sha256Digest& digest);

    // The result of the comparison started last.
    TContents Wait();

  private:
    static DWORD WINAPI Run(void* self);

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    UniqueKernelHandle thread_;
    // One for every comparison, here or on the thread (never both at once), allocated by the
    // caller: the thread raises nothing.
    std::unique_ptr<char[]> buffer_;
    TRemovableFile* file_ = nullptr;  // the comparison handed to the thread, until it is done
    int64_t size_ = 0;
    Sha256Digest digest_{};
    TContents result_ = TContents::Unreadable;
    bool stopping_ = false;
    int64_t comparedHere_ = 0;  // the bytes compared on the calling thread
};
