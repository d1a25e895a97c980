#include "kelpo32/walk/pace.h"

#include <algorithm>

namespace kelpo32::walk {

ThreadPace::ThreadPace(std::int32_t start, std::int32_t cap) noexcept
    : floor_(std::max<std::int32_t>(1, start)),
      ceiling_(std::clamp(floor_ * PerProcessor, floor_, std::max(floor_, cap))), wanted_(floor_) {}

std::int32_t ThreadPace::Listed(std::int64_t wall, std::int64_t cpu) noexcept {
    if (cpu < 0 && wall >= MinWaitNanos) return wanted_; // slow, but for want of what?
    // With more threads than processors (floor_) a thread also waits for a
    // processor: only a wait beyond its share of them is the disk's.
    if (cpu >= 0 && wall - cpu >= MinWaitNanos && wall / 2 / wanted_ * floor_ > cpu) {
        quick_ = 0;
        wanted_ = std::min(ceiling_, wanted_ + 1);
    } else if (++quick_ >= QuickRun) {
        quick_ = 0;
        wanted_ = std::max(floor_, wanted_ - 1);
    }
    return wanted_;
}

void ListingTimer::Begin() noexcept {
    wall0_ = clock_.Wall();
    haveCpu_ = measure_ > 0;
    if (haveCpu_) cpu0_ = clock_.Cpu();
}

void ListingTimer::End(std::int64_t& wall, std::int64_t& cpu) noexcept {
    wall = clock_.Wall() - wall0_;
    bool slow = wall >= ThreadPace::MinWaitNanos;
    cpu = slow && haveCpu_ ? clock_.Cpu() - cpu0_ : -1;
    if (slow)
        measure_ = AfterSlow;
    else if (measure_ > 0)
        --measure_;
}

} // namespace kelpo32::walk
