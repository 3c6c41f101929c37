// The worker thread and its monitor on the system's threads, slim locks and condition variables:
// the programs built with them link no POSIX thread library (see src/framework/runtime_threads.cpp).
#include <windows.h>

#include "archive/worker_thread.h"
#include "framework/unique_handle.h"

int ProcessorCount() noexcept {
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

struct Monitor::State {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
};

Monitor::Monitor() : state_(std::make_unique<State>()) {}
Monitor::~Monitor() = default;

void Monitor::Lock() noexcept {
    ::AcquireSRWLockExclusive(&state_->lock);
}

void Monitor::Unlock() noexcept {
    ::ReleaseSRWLockExclusive(&state_->lock);
}

void Monitor::Wait() noexcept {
    ::SleepConditionVariableSRW(&state_->changed, &state_->lock, INFINITE, 0);
}

void Monitor::WakeAll() noexcept {
    ::WakeAllConditionVariable(&state_->changed);
}

struct WorkerThread::State {
    std::function<void()> run;
    UniqueKernelHandle thread;

    static DWORD WINAPI Main(void* self) {
        static_cast<State*>(self)->run();
        return 0;
    }
};

WorkerThread::WorkerThread() : state_(std::make_unique<State>()) {}

WorkerThread::~WorkerThread() {
    Join();
}

bool WorkerThread::Start(std::function<void()> run) {
    if (state_->thread) {
        return false;
    }
    state_->run = std::move(run);
    state_->thread.reset(::CreateThread(nullptr, 0, &State::Main, state_.get(), 0, nullptr));
    if (!state_->thread) {
        state_->run = nullptr;
        return false;
    }
    return true;
}

void WorkerThread::Join() noexcept {
    if (state_->thread) {
        ::WaitForSingleObject(state_->thread.get(), INFINITE);
        state_->thread.reset();
    }
}
