// What the C++ runtime asks of a thread library: the guard of a function's static local, which one
// thread initialises while any other that reaches it waits, each thread's own copy of a
// thread_local variable (the runtime's bookkeeping of the exceptions in flight is one), and
// std::this_thread::yield (which the codecs call between buffers). This
// toolchain's runtime takes them from the POSIX thread library, about 25 KB in every program; these
// use the system's slim locks and thread-local storage instead. Linked into the setup and the
// uninstaller, as an object of its own, so that the runtime's are never pulled in (cmake:
// tandrel_light_runtime); tests/framework/light_runtime tests them.
#include <windows.h>

#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

SRWLOCK lock = SRWLOCK_INIT;
CONDITION_VARIABLE guardsChanged = CONDITION_VARIABLE_INIT;

// A guard's first byte is set once its object is initialised (the compiled code tests it before it
// calls in); the second while a thread initialises it.
unsigned char* GuardBytes(int64_t* guard) {
    return reinterpret_cast<unsigned char*>(guard);
}

// What the compiler emits for each thread_local variable: its size, alignment and initial bytes
// (none: zeros), and the index that its first access gives it (0 until then).
struct ThreadLocalObject {
    size_t size;
    size_t align;
    uintptr_t index;
    const void* initial;
};

// Each thread's values: the number of places, then the places, each the thread's copy of the
// variable of that index or nullptr. They stay until the program ends, as the programs' threads
// do: freed when a thread ends, they could go before the destructors of its thread_local objects
// run, which the system calls later in the thread's end.
DWORD valuesSlot = TLS_OUT_OF_INDEXES;
uintptr_t indicesGiven = 0;

}  // namespace

extern "C" int __cxa_guard_acquire(int64_t* guard) {
    unsigned char* const bytes = GuardBytes(guard);
    if (__atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE) != 0) {
        return 0;
    }
    AcquireSRWLockExclusive(&lock);
    for (;;) {
        if (__atomic_load_n(&bytes[0], __ATOMIC_RELAXED) != 0) {
            ReleaseSRWLockExclusive(&lock);
            return 0;
        }
        if (bytes[1] == 0) {
            bytes[1] = 1;
            ReleaseSRWLockExclusive(&lock);
            return 1;
        }
        SleepConditionVariableSRW(&guardsChanged, &lock, INFINITE, 0);
    }
}

extern "C" void __cxa_guard_release(int64_t* guard) {
    unsigned char* const bytes = GuardBytes(guard);
    AcquireSRWLockExclusive(&lock);
    __atomic_store_n(&bytes[0], 1, __ATOMIC_RELEASE);
    bytes[1] = 0;
    ReleaseSRWLockExclusive(&lock);
    WakeAllConditionVariable(&guardsChanged);
}

// The initialiser threw: the next thread to reach the object initialises it.
extern "C" void __cxa_guard_abort(int64_t* guard) {
    AcquireSRWLockExclusive(&lock);
    GuardBytes(guard)[1] = 0;
    ReleaseSRWLockExclusive(&lock);
    WakeAllConditionVariable(&guardsChanged);
}

namespace {

// The system's thread-local storage sets the thread's last error on every read; the runtime reads
// its bookkeeping of exceptions through here on every throw and catch, and a handler that asks
// why a call failed (a full drive, say) must still see that call's error.
class LastErrorKept {
  public:
    LastErrorKept() : error_(GetLastError()) {}
    ~LastErrorKept() { SetLastError(error_); }
    LastErrorKept(const LastErrorKept&) = delete;
    LastErrorKept& operator=(const LastErrorKept&) = delete;

  private:
    DWORD error_;
};

}  // namespace

extern "C" void* __emutls_get_address(ThreadLocalObject* object) {
    const LastErrorKept kept;
    uintptr_t index = __atomic_load_n(&object->index, __ATOMIC_ACQUIRE);
    if (index == 0) {
        AcquireSRWLockExclusive(&lock);
        if (valuesSlot == TLS_OUT_OF_INDEXES) {
            valuesSlot = TlsAlloc();
        }
        index = object->index;
        if (index == 0 && valuesSlot != TLS_OUT_OF_INDEXES) {
            index = ++indicesGiven;
            __atomic_store_n(&object->index, index, __ATOMIC_RELEASE);
        }
        ReleaseSRWLockExclusive(&lock);
        if (index == 0) {
            std::abort();  // no thread-local storage left: as the runtime's own does without memory
        }
    }
    auto** values = static_cast<void**>(TlsGetValue(valuesSlot));
    const uintptr_t count = values == nullptr ? 0 : reinterpret_cast<uintptr_t>(values[0]);
    if (index > count) {
        const uintptr_t grown = index + 16;
        auto** const more = static_cast<void**>(std::realloc(values, (grown + 1) * sizeof(void*)));
        if (more == nullptr) {
            std::abort();
        }
        std::memset(more + count + 1, 0, (grown - count) * sizeof(void*));
        more[0] = reinterpret_cast<void*>(grown);
        values = more;
        if (!TlsSetValue(valuesSlot, values)) {
            std::abort();
        }
    }
    void*& value = values[index];
    if (value == nullptr) {
        value = _aligned_malloc(object->size, object->align < sizeof(void*) ? sizeof(void*) : object->align);
        if (value == nullptr) {
            std::abort();
        }
        if (object->initial != nullptr) {
            std::memcpy(value, object->initial, object->size);
        } else {
            std::memset(value, 0, object->size);
        }
    }
    return value;
}

// The rest of the processor's time slice to any other thread ready to run, as the thread library's
// own does.
extern "C" int sched_yield() {
    Sleep(0);
    return 0;
}
