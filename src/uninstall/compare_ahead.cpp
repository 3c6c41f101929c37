#include "uninstall/compare_ahead.h"

namespace {

// What is compared on the calling thread before the second one starts: a removal of a few small
// files does not pay for a thread's start.
constexpr int64_t kComparedBeforeThread = 1024 * 1024;
// Blocks of 256 KB: a few reads for a file of an installation, into one buffer for all of them.
constexpr size_t kBlockSize = 256 * 1024;

}  // namespace

TCompareAhead::~TCompareAhead() {
    {
        MonitorLock lock(monitor_);
        stopping_ = true;
    }
    monitor_.WakeAll();
    worker_.Join();
}

void TCompareAhead::Start(TRemovableFile& file, int64_t size, const Sha256Digest& digest) {
    if (!buffer_) {
        // Not zeroed: every byte hashed was read into it first.
        buffer_ = std::make_unique_for_overwrite<char[]>(kBlockSize);
    }
    if (!started_ && comparedHere_ < kComparedBeforeThread) {
        comparedHere_ += size;
        result_ = file.Compare(size, digest, {buffer_.get(), kBlockSize});
        return;
    }
    if (!started_) {
        started_ = worker_.Start([this] { Run(); });
        if (!started_) {
            comparedHere_ = 0;  // tried again after another megabyte here
            result_ = file.Compare(size, digest, {buffer_.get(), kBlockSize});
            return;
        }
    }
    {
        MonitorLock lock(monitor_);
        file_ = &file;
        size_ = size;
        digest_ = digest;
    }
    monitor_.WakeAll();
}

TContents TCompareAhead::Wait() {
    MonitorLock lock(monitor_);
    while (file_ != nullptr) {
        lock.Wait();
    }
    return result_;
}

void TCompareAhead::Run() noexcept {
    MonitorLock lock(monitor_);
    for (;;) {
        while (file_ == nullptr && !stopping_) {
            lock.Wait();
        }
        if (file_ == nullptr) {
            return;
        }
        TRemovableFile& file = *file_;
        const int64_t size = size_;
        const Sha256Digest digest = digest_;
        monitor_.Unlock();
        const TContents result = file.Compare(size, digest, {buffer_.get(), kBlockSize});
        monitor_.Lock();
        result_ = result;
        file_ = nullptr;
        monitor_.WakeAll();
    }
}
