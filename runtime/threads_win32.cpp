#include "runtime/threads.h"

#include "runtime/win32_support.h"

#include <new>

namespace runtime {

struct Lock {
    SRWLOCK Srw = SRWLOCK_INIT;
    bool OneThread = false;
};

struct Signal {
    CONDITION_VARIABLE Cond = CONDITION_VARIABLE_INIT;
};

struct Thread {
    HANDLE Handle = nullptr;
    void (*Fn)(void*) = nullptr;
    void* Arg = nullptr;
};

namespace {
DWORD WINAPI ThreadMain(LPVOID arg) {
    auto* t = static_cast<Thread*>(arg);
    t->Fn(t->Arg);
    return 0;
}
} // namespace

Lock* NewLock(LockUse use) {
    auto* lock = new (std::nothrow) Lock;
    if (lock != nullptr) lock->OneThread = use == LockUse::OneThread;
    return lock;
}

Signal* NewSignal() {
    return new (std::nothrow) Signal;
}

Thread* StartThread(void (*fn)(void*), void* arg) {
    auto* t = new (std::nothrow) Thread;
    if (t == nullptr) return nullptr;
    t->Fn = fn;
    t->Arg = arg;
    t->Handle = ::CreateThread(nullptr, 0, ThreadMain, t, 0, nullptr);
    if (t->Handle == nullptr) {
        delete t;
        return nullptr;
    }
    return t;
}

void ShareHeaps() {
    // The process heap is one already.
}

void FreeLock(Lock* lock) {
    delete lock;
}

void FreeSignal(Signal* signal) {
    delete signal;
}

void JoinThread(Thread* thread) {
    if (thread == nullptr) return;
    ::WaitForSingleObject(thread->Handle, INFINITE);
    ::CloseHandle(thread->Handle);
    delete thread;
}

void Acquire(Lock* lock) {
    if (!lock->OneThread) ::AcquireSRWLockExclusive(&lock->Srw);
}

void Release(Lock* lock) {
    if (!lock->OneThread) ::ReleaseSRWLockExclusive(&lock->Srw);
}

void Wait(Signal* signal, Lock* lock) {
    if (!lock->OneThread) ::SleepConditionVariableSRW(&signal->Cond, &lock->Srw, INFINITE, 0);
}

void WakeAll(Signal* signal) {
    ::WakeAllConditionVariable(&signal->Cond);
}

std::int64_t WallNanos() noexcept {
    static const std::int64_t frequency = [] {
        LARGE_INTEGER f{};
        ::QueryPerformanceFrequency(&f);
        return f.QuadPart > 0 ? f.QuadPart : 1;
    }();
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    // Seconds and the rest apart, so that the product cannot overflow.
    return now.QuadPart / frequency * 1'000'000'000 +
           now.QuadPart % frequency * 1'000'000'000 / frequency;
}

std::int64_t ThreadCpuNanos() noexcept {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user) == 0) return 0;
    auto ticks = [](const FILETIME& t) {
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                         t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 100; // 100-nanosecond units
}

} // namespace runtime
