#include "uninstall/compare_ahead.h"

namespace {

// What is compared on the calling thread before the second one starts: a removal of a few small
// files does not pay for a thread's start.
constexpr int64_t kComparedBeforeThread = 1024 * 1024;
// Blocks of 256 KB: a few reads for a file of an installation, into one buffer for all of them.
constexpr size_t kBlockSize = 256 * 1024;

}  // namespace

TCompareAhead::~TCompareAhead() {
    if (!thread_) {
        return;
    }
    ::AcquireSRWLockExclusive(&lock_);
    stopping_ = true;
    ::ReleaseSRWLockExclusive(&lock_);
    ::WakeAllConditionVariable(&changed_);
    ::WaitForSingleObject(thread_.get(), INFINITE);
}

void TCompareAhead::Start(TRemovableFile& file, int64_t size, const Sha256Digest& digest) {
    if (!buffer_) {
        // Not zeroed: every byte hashed was read into it first.
        buffer_ = std::make_unique_for_overwrite<char[]>(kBlockSize);
    }
    if (!thread_ && comparedHere_ < kComparedBeforeThread) {
        comparedHere_ += size;
        result_ = file.Compare(size, digest, {buffer_.get(), kBlockSize});
        return;
    }
    if (!thread_) {
        thread_.reset(::CreateThread(nullptr, 0, &TCompareAhead::Run, this, 0, nullptr));
        if (!thread_) {
            comparedHere_ = 0;  // tried again after another megabyte here
            result_ = file.Compare(size, digest, {buffer_.get(), kBlockSize});
            return;
        }
    }
    ::AcquireSRWLockExclusive(&lock_);
    file_ = &file;
    size_ = size;
    digest_ = digest;
    ::ReleaseSRWLockExclusive(&lock_);
    ::WakeAllConditionVariable(&changed_);
}

TContents TCompareAhead::Wait() {
    ::AcquireSRWLockExclusive(&lock_);
    while (file_ != nullptr) {
        ::SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    }
    const TContents result = result_;
    ::ReleaseSRWLockExclusive(&lock_);
    return result;
}

DWORD WINAPI TCompareAhead::Run(void* self) {
    auto& ahead = *static_cast<TCompareAhead*>(self);
    ::AcquireSRWLockExclusive(&ahead.lock_);
    for (;;) {
        while (ahead.file_ == nullptr && !ahead.stopping_) {
            ::SleepConditionVariableSRW(&ahead.changed_, &ahead.lock_, INFINITE, 0);
        }
        if (ahead.file_ == nullptr) {
            break;
        }
        TRemovableFile& file = *ahead.file_;
        const int64_t size = ahead.size_;
        const Sha256Digest digest = ahead.digest_;
        ::ReleaseSRWLockExclusive(&ahead.lock_);
        const TContents result = file.Compare(size, digest, {ahead.buffer_.get(), kBlockSize});
        ::AcquireSRWLockExclusive(&ahead.lock_);
        ahead.result_ = result;
        ahead.file_ = nullptr;
        ::WakeAllConditionVariable(&ahead.changed_);
    }
    ::ReleaseSRWLockExclusive(&ahead.lock_);
    return 0;
}
