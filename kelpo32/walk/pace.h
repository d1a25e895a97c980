// How many threads list at once when the count is not fixed. The walk starts
// with one per processor. A listing that waits on the disk (its wall time far
// beyond its thread's processor time) adds a thread, so that more reads are in
// flight; a run of quick listings lets an extra thread idle again, so that a
// tree in the cache is listed by as many threads as there are processors.
// Past a few reads per processor a thread only lengthens the disk's queue and
// contends for the processors: the threads added stop at PerProcessor times
// the processors, and at the cap.
#pragma once

#include <cstdint>

namespace kelpo32::walk {

class ThreadPace {
  public:
    // Time a listing must spend off the processor to count as waiting.
    static constexpr std::int64_t MinWaitNanos = 250'000;
    // Quick listings in a row after which one extra thread idles.
    static constexpr std::int32_t QuickRun = 32;
    static constexpr std::int32_t PerProcessor = 4;

    // `start` threads list at first, as many as there are processors.
    ThreadPace(std::int32_t start, std::int32_t cap) noexcept;

    // A listing took `wall` nanoseconds, `cpu` of them on its thread's
    // processor (below 0: not known). Returns the threads wanted now.
    std::int32_t Listed(std::int64_t wall, std::int64_t cpu) noexcept;
    std::int32_t Wanted() const noexcept { return wanted_; }
    std::int32_t Ceiling() const noexcept { return ceiling_; }

  private:
    std::int32_t floor_;
    std::int32_t ceiling_;
    std::int32_t wanted_;
    std::int32_t quick_ = 0; // quick listings in a row
};

// Measures one thread's listings for a ThreadPace. The processor clock costs
// a system call, the wall clock does not: the processor time is read only
// around the listings that follow a slow one closely. A quick listing needs
// no processor time to be judged.
class ListingTimer {
  public:
    // Listings after a slow one whose processor time is read.
    static constexpr std::int32_t AfterSlow = 16;

    struct Clock {
        std::int64_t (*Wall)();
        std::int64_t (*Cpu)(); // this thread's processor time
    };
    explicit ListingTimer(Clock clock) noexcept : clock_(clock) {}

    void Begin() noexcept;
    // Ends the listing: its wall time, and its processor time or -1 when it
    // was not read.
    void End(std::int64_t& wall, std::int64_t& cpu) noexcept;

  private:
    Clock clock_;
    std::int64_t wall0_ = 0;
    std::int64_t cpu0_ = 0;
    bool haveCpu_ = false;
    std::int32_t measure_ = 0; // listings still to measure
};

} // namespace kelpo32::walk
