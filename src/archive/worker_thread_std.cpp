// The worker thread and its monitor on the standard library (every build but the Windows one).
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "archive/worker_thread.h"

int ProcessorCount() noexcept {
    return static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
}

struct Monitor::State {
    std::mutex mutex;
    std::condition_variable changed;
};

Monitor::Monitor() : state_(std::make_unique<State>()) {}
Monitor::~Monitor() = default;

void Monitor::Lock() noexcept {
    state_->mutex.lock();
}

void Monitor::Unlock() noexcept {
    state_->mutex.unlock();
}

void Monitor::Wait() noexcept {
    // The caller holds the lock and keeps it: it is lent to the wait and taken back.
    std::unique_lock<std::mutex> held(state_->mutex, std::adopt_lock);
    state_->changed.wait(held);
    held.release();
}

void Monitor::WakeAll() noexcept {
    state_->changed.notify_all();
}

struct WorkerThread::State {
    std::thread thread;
};

WorkerThread::WorkerThread() : state_(std::make_unique<State>()) {}

WorkerThread::~WorkerThread() {
    Join();
}

bool WorkerThread::Start(std::function<void()> run) {
    if (state_->thread.joinable()) {
        return false;
    }
    try {
        state_->thread = std::thread(std::move(run));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void WorkerThread::Join() noexcept {
    if (state_->thread.joinable()) {
        state_->thread.join();
    }
}
