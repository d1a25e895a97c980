// The walk's descriptor cache. A directory's handle is kept after its listing
// while children still need it to be opened, up to a cap; beyond the cap a
// level is reopened, when needed, from its nearest held ancestor and checked
// to be the directory that was listed. The cap and the number of listing
// threads come from the descriptors actually free when the walk starts.
#pragma once

#include "kelpo32/walk/walk_state.h"

#include <cstdint>
#include <vector>

namespace kelpo32::walk {

struct DescriptorPlan {
    std::int32_t Threads = 1; // listing threads, the consumer included
    std::int64_t HeldCap = 1; // handles kept for children
};

// Shares `free` descriptors between the listing threads (each needs a few at
// a time) and the held handles; never more threads than asked for.
DescriptorPlan PlanDescriptors(std::int64_t free, std::int32_t threads, std::int64_t maxHeld);

class HandleCache {
  public:
    HandleCache(WalkState& walk, std::int64_t cap);

    // Opens `node` relative to its parent, reopening the levels above it whose
    // handles were given up. A resource fault leaves the parent's count of
    // children to open as it was, so the open may be tried again. Levels
    // reopened on the way are kept for their other children unless `keep` is
    // false (too few descriptors: then three are enough). Without the lock.
    runtime::DirResult Open(Dir_Rec* node, DirFd& handle, runtime::DirIdentity& id,
                            bool keep = true);

    // The rest is under the walk's lock.

    // A listed directory keeps its handle if children still need it and
    // there is room, made by giving up the shallowest idle one if need be.
    void Listed(Dir_Rec* node) noexcept;
    // Closes the handle of a listed directory nobody needs any more.
    void Drop(Dir_Rec* node) noexcept;
    // Gives up every idle held handle (opening failed for lack of descriptors).
    void DropIdle() noexcept;
    // The subtree of `node` is done: its handle goes.
    void Forget(Dir_Rec* node) noexcept;

  private:
    WalkState& walk_;
    std::int64_t cap_;
    std::vector<Dir_Rec*> held_; // never above cap_: room reserved at the start

    bool Keep(Dir_Rec* node) noexcept;
    void Unhold(Dir_Rec* node) noexcept;
    // `verify`: the identity must be the system's own, not the listed inode.
    runtime::DirResult OpenChild(const runtime::DirHandle& from, const Dir_Rec* node, bool verify,
                                 DirFd& handle, runtime::DirIdentity& id);
    void Release(Dir_Rec* user) noexcept;
};

} // namespace kelpo32::walk
