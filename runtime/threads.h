// Threads, a lock and wake-ups for the walk's read-ahead. The POSIX and the
// Win32 implementation live in threads_posix.cpp and threads_win32.cpp.
#pragma once

#include <cstdint>

namespace runtime {

struct Lock;
struct Signal;
struct Thread;

// Who takes a lock: threads that must exclude each other, or only the thread
// that made it (a walk that starts no other thread), for which taking and
// letting go cost nothing and a wait returns at once.
enum class LockUse : std::uint8_t { Threads, OneThread };

// Each returns nullptr when the system has no room for it.
Lock* NewLock(LockUse use);
Signal* NewSignal();
// Starts fn(arg) on a thread of its own; signals to the process are never
// delivered to it.
Thread* StartThread(void (*fn)(void*), void* arg);

// Keeps the threads' memory in a few shared heaps, so that what one thread
// frees serves the others and the process's size stays bounded however many
// threads run. Called before the threads start.
void ShareHeaps();

void FreeLock(Lock* lock);
void FreeSignal(Signal* signal);
// Waits for the thread to end and frees it.
void JoinThread(Thread* thread);

void Acquire(Lock* lock);
void Release(Lock* lock);
// Releases `lock` while it waits for a wake-up (or a spurious one), then
// holds it again.
void Wait(Signal* signal, Lock* lock);
void WakeAll(Signal* signal);

// A steady clock, and the processor time the calling thread has used, in
// nanoseconds from an arbitrary start.
std::int64_t WallNanos() noexcept;
std::int64_t ThreadCpuNanos() noexcept;

// Holds a lock for a scope.
class Locked {
  public:
    explicit Locked(Lock* lock) : lock_(lock) { Acquire(lock_); }
    ~Locked() { Release(lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    Lock* lock_;
};

// Lets a held lock go for a scope and holds it again on leaving, however the
// scope is left.
class Unlocked {
  public:
    explicit Unlocked(Lock* lock) : lock_(lock) { Release(lock_); }
    ~Unlocked() { Acquire(lock_); }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

  private:
    Lock* lock_;
};

} // namespace runtime
