#include "runtime/threads.h"

#include <csignal>
#include <cstddef>
#include <initializer_list>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <new>
#include <pthread.h>
#include <time.h>

namespace runtime {

struct Lock {
    pthread_mutex_t Mutex = PTHREAD_MUTEX_INITIALIZER;
    bool OneThread = false;
};

struct Signal {
    pthread_cond_t Cond = PTHREAD_COND_INITIALIZER;
};

struct Thread {
    pthread_t Id{};
    void (*Fn)(void*) = nullptr;
    void* Arg = nullptr;
};

namespace {
// A listing thread's frames are small; the sanitizers' own take more.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t ThreadStackSize = std::size_t{4} << 20;
#else
constexpr std::size_t ThreadStackSize = std::size_t{256} << 10;
#endif

void* ThreadMain(void* arg) {
    auto* t = static_cast<Thread*>(arg);
    t->Fn(t->Arg);
    return nullptr;
}
} // namespace

Lock* NewLock(LockUse use) {
    auto* lock = new (std::nothrow) Lock;
    if (lock != nullptr) lock->OneThread = use == LockUse::OneThread;
#ifdef PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP
    // Held for a few instructions at a time: a short spin costs less than
    // going to sleep in the kernel.
    if (lock != nullptr) {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
        pthread_mutex_init(&lock->Mutex, &attr);
        pthread_mutexattr_destroy(&attr);
    }
#endif
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
    // The new thread starts with the signals from outside blocked, so the
    // main thread alone handles them (the terminal's mode, the stop
    // sequence); a fault of its own still reaches the crash handler.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigdelset(&all, sig);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    // A listing thread never recurses: a small stack lets many of them run
    // where the process's address space is limited.
    pthread_attr_t attr;
    bool sized = pthread_attr_init(&attr) == 0;
    if (sized) sized = pthread_attr_setstacksize(&attr, ThreadStackSize) == 0;
    int rc = pthread_create(&t->Id, sized ? &attr : nullptr, ThreadMain, t);
    pthread_attr_destroy(&attr);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (rc != 0) {
        delete t;
        return nullptr;
    }
    return t;
}

void ShareHeaps() {
#ifdef __GLIBC__
    // Otherwise up to eight arenas per processor, each keeping its own peak.
    ::mallopt(M_ARENA_MAX, 2);
#endif
}

void FreeLock(Lock* lock) {
    if (lock == nullptr) return;
    pthread_mutex_destroy(&lock->Mutex);
    delete lock;
}

void FreeSignal(Signal* signal) {
    if (signal == nullptr) return;
    pthread_cond_destroy(&signal->Cond);
    delete signal;
}

void JoinThread(Thread* thread) {
    if (thread == nullptr) return;
    pthread_join(thread->Id, nullptr);
    delete thread;
}

void Acquire(Lock* lock) {
    if (!lock->OneThread) pthread_mutex_lock(&lock->Mutex);
}

void Release(Lock* lock) {
    if (!lock->OneThread) pthread_mutex_unlock(&lock->Mutex);
}

void Wait(Signal* signal, Lock* lock) {
    if (!lock->OneThread) pthread_cond_wait(&signal->Cond, &lock->Mutex);
}

void WakeAll(Signal* signal) {
    pthread_cond_broadcast(&signal->Cond);
}

namespace {
std::int64_t Nanos(clockid_t clock) noexcept {
    timespec t{};
    if (::clock_gettime(clock, &t) != 0) return 0;
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}
} // namespace

std::int64_t WallNanos() noexcept {
    return Nanos(CLOCK_MONOTONIC);
}

std::int64_t ThreadCpuNanos() noexcept {
    return Nanos(CLOCK_THREAD_CPUTIME_ID);
}

} // namespace runtime
