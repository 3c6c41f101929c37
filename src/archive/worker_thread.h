// A thread for one function, and the lock with one condition that it shares with the thread that
// started it. The declarations are portable; the Windows build implements them with the system's
// threads and slim locks (worker_thread_win32.cpp), so that the shipped programs need no POSIX
// thread library, and every other build with the standard library's (worker_thread_std.cpp).
#pragma once

#include <functional>
#include <memory>

// The number of processors the system runs this process's threads on; at least 1.
int ProcessorCount() noexcept;

// A lock and one condition that the threads holding it wait for and announce.
// Neither it nor WorkerThread can be copied: each owns its system objects through state_.
class Monitor {
  public:
    Monitor();
    ~Monitor();

    void Lock() noexcept;
    void Unlock() noexcept;
    // With the lock held: lets it go until WakeAll is called (or, rarely, for no reason: callers
    // test what they wait for in a loop), then holds it again.
    void Wait() noexcept;
    // Wakes every thread waiting; may be called with or without the lock.
    void WakeAll() noexcept;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Holds a monitor's lock for its lifetime.
class MonitorLock {
  public:
    explicit MonitorLock(Monitor& monitor) : monitor_(monitor) { monitor_.Lock(); }
    ~MonitorLock() { monitor_.Unlock(); }
    MonitorLock(const MonitorLock&) = delete;
    MonitorLock& operator=(const MonitorLock&) = delete;
    void Wait() { monitor_.Wait(); }

  private:
    Monitor& monitor_;
};

// Runs one function on a thread of its own. The function must not let an exception out.
class WorkerThread {
  public:
    WorkerThread();
    // Waits for the function to end, when one was started and not yet waited for.
    ~WorkerThread();

    // Starts run on a new thread; false when the system cannot start one (nothing runs then).
    bool Start(std::function<void()> run);
    // Waits for the started function to end; does nothing when none runs.
    void Join() noexcept;

  private:
    struct State;
    std::unique_ptr<State> state_;
};
