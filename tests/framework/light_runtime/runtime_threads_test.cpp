// Static locals and thread_local variables as the setup and the uninstaller have them
// (src/framework/runtime_threads.cpp, linked into this program as into them), reached by many
// threads at once; and exceptions, whose bookkeeping is thread_local, in flight on many threads.
#include <windows.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kThreads = 8;

// Runs body(thread) on kThreads threads that all start at once.
template <typename Body>
void OnManyThreads(Body body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
                std::this_thread::yield();
            }
            body(t);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

std::atomic<int> initialisations{0};

template <int N>
int SlowlyInitialised() {
    static const int value = [] {
        initialisations.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return N * 3 + 1;
    }();
    return value;
}

template <int... N>
void ReachAll(std::integer_sequence<int, N...>, std::array<int, sizeof...(N)>& seen) {
    ((seen[N] = SlowlyInitialised<N>()), ...);
}

TEST(RuntimeThreads, EveryStaticLocalIsInitialisedOnceWhateverThreadsReachIt) {
    constexpr int kStatics = 12;
    std::array<std::array<int, kStatics>, kThreads> seen{};
    OnManyThreads([&](int t) { ReachAll(std::make_integer_sequence<int, kStatics>(), seen[t]); });
    EXPECT_EQ(initialisations.load(), kStatics);
    for (const auto& values : seen) {
        for (int n = 0; n < kStatics; ++n) {
            EXPECT_EQ(values[n], n * 3 + 1);
        }
    }
}

TEST(RuntimeThreads, AStaticLocalWhoseInitialiserThrowsIsInitialisedByALaterCall) {
    static std::atomic<int> attempts{0};
    std::atomic<int> failures{0};
    const auto reach = [] {
        static const int value = [] {
            if (attempts.fetch_add(1) < 2) {
                throw std::runtime_error("not yet");
            }
            return 5;
        }();
        return value;
    };
    OnManyThreads([&](int) {
        for (;;) {
            try {
                EXPECT_EQ(reach(), 5);
                return;
            } catch (const std::runtime_error&) {
                failures.fetch_add(1);
            }
        }
    });
    EXPECT_EQ(failures.load(), 2);
    EXPECT_EQ(attempts.load(), 3);
}

struct alignas(64) Aligned {
    int64_t value = -1;
};

thread_local int initialised = 7;
thread_local std::array<char, 100> zeros;
thread_local Aligned aligned;
template <int N>
thread_local int64_t numbered = N;

template <int... N>
bool EachNumberedHoldsFirstItsOwnNumberThen(std::integer_sequence<int, N...>, int64_t mark) {
    const bool initial = ((numbered<N> == N) && ...);
    ((numbered<N> = mark * 100 + N), ...);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return initial && ((numbered<N> == mark * 100 + N) && ...);
}

// More variables than one growth of a thread's table, each with its initial value, its alignment,
// and a copy of its own in every thread.
TEST(RuntimeThreads, EachThreadHasItsOwnCopyOfEveryThreadLocalFromItsInitialValue) {
    std::array<bool, kThreads> fine{};
    OnManyThreads([&](int t) {
        bool ok = initialised == 7 && aligned.value == -1 &&
                  reinterpret_cast<uintptr_t>(&aligned) % alignof(Aligned) == 0;
        for (const char c : zeros) {
            ok = ok && c == 0;
        }
        initialised = t;
        aligned.value = t;
        zeros.fill(static_cast<char>(t));
        ok = EachNumberedHoldsFirstItsOwnNumberThen(std::make_integer_sequence<int, 40>(), t) && ok;
        ok = ok && initialised == t && aligned.value == t && zeros[99] == static_cast<char>(t);
        fine[t] = ok;
    });
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_TRUE(fine[t]) << "thread " << t;
    }
    EXPECT_EQ(initialised, 7);
}

struct CountsUncaught {
    int& seen;
    ~CountsUncaught() { seen = std::uncaught_exceptions(); }
};

TEST(RuntimeThreads, ExceptionsInFlightOnManyThreadsAtOnceKeepTheirOwnState) {
    std::array<int, kThreads> caught{};
    OnManyThreads([&](int t) {
        for (int i = 0; i < 2000; ++i) {
            int uncaught = -1;
            try {
                try {
                    CountsUncaught counter{uncaught};
                    throw std::runtime_error(std::to_string(t));
                } catch (const std::exception&) {
                    const std::exception_ptr current = std::current_exception();
                    std::rethrow_exception(current);
                }
            } catch (const std::runtime_error& error) {
                if (uncaught == 1 && std::uncaught_exceptions() == 0 && error.what() == std::to_string(t)) {
                    ++caught[t];
                }
            }
        }
    });
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(caught[t], 2000) << "thread " << t;
    }
}

}  // namespace

// A handler asks the system why the call that it reports failed: throwing and catching must leave
// that error as the call left it.
TEST(RuntimeThreads, ThrowingAndCatchingKeepTheThreadsLastError) {
    ::SetLastError(ERROR_DISK_FULL);
    try {
        throw std::runtime_error("write failed");
    } catch (const std::exception&) {
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    }
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
}
