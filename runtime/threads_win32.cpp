#include "runtime/threads.h"

#include "runtime/win32_support.h"

#include <new>

namespace runtime {

struct Lock {
    SRWLOCK Srw = SRWLOCK_INIT;
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

Lock* NewLock() {
    return new (std::nothrow) Lock;
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
    ::AcquireSRWLockExclusive(&lock->Srw);
}

void Release(Lock* lock) {
    ::ReleaseSRWLockExclusive(&lock->Srw);
}

void Wait(Signal* signal, Lock* lock) {
    ::SleepConditionVariableSRW(&signal->Cond, &lock->Srw, INFINITE, 0);
}

void WakeAll(Signal* signal) {
    ::WakeAllConditionVariable(&signal->Cond);
}

} // namespace runtime
