#include "kelpo32/walk/handles.h"

#include <algorithm>

namespace kelpo32::walk {

namespace {

// Handles each listing thread may have open at once: the level it borrows, a
// level reopened on the way, the directory it opens and the search's own.
constexpr std::int64_t PerThread = 4;

// Not the directory the listing named (renamed or replaced meanwhile)?
bool Replaced(const Dir_Rec* node, const runtime::DirIdentity& id, const runtime::DirHandle& h) {
    if (node->ListedInode == 0 || id.File == 0 || h.MountRoot || !h.ListedInodes) return false;
    // A directory of another device is a mount the listing cannot see.
    if (id.Volume != node->Parent->Identity.Volume) return false;
    return id.File != node->ListedInode;
}

bool Known(const runtime::DirIdentity& id) {
    return !(id == runtime::DirIdentity{});
}

} // namespace

DescriptorPlan PlanDescriptors(std::int64_t free, std::int32_t threads, std::int64_t maxHeld) {
    // The start directory and one to spare for the program's own files.
    std::int64_t spare = free - 2;
    DescriptorPlan plan;
    plan.Threads = static_cast<std::int32_t>(
        std::clamp<std::int64_t>(threads, 1, std::max<std::int64_t>(1, spare / (2 * PerThread))));
    plan.HeldCap = std::clamp<std::int64_t>(spare - PerThread * plan.Threads, 1, maxHeld);
    return plan;
}

HandleCache::HandleCache(WalkState& walk, std::int64_t cap) : walk_(walk), cap_(cap) {
    held_.reserve(static_cast<std::size_t>(cap_));
}

runtime::DirResult HandleCache::OpenChild(const runtime::DirHandle& from, const Dir_Rec* node,
                                          bool verify, DirFd& handle, runtime::DirIdentity& id) {
    runtime::DirHandle h;
    runtime::DirResult result =
        walk_.Source.OpenAt(from, node->NativeName(), verify ? 0 : node->ListedInode, h, id);
    if (result.Fault == runtime::DirFault::None) handle = DirFd(walk_.Source, std::move(h));
    return result;
}

void HandleCache::Release(Dir_Rec* user) noexcept {
    runtime::Locked held(walk_.L());
    --user->Users;
    Drop(user);
}

runtime::DirResult HandleCache::Open(Dir_Rec* node, DirFd& handle, runtime::DirIdentity& id,
                                     bool keep) {
    Dir_Rec* parent = node->Parent;
    Dir_Rec* user = parent; // the level whose handle is borrowed
    std::vector<Dir_Rec*> chain;
    {
        runtime::Locked held(walk_.L());
        while (!user->Handle.IsOpen() && user != walk_.Root)
            user = user->Parent;
        for (Dir_Rec* n = parent; n != user; n = n->Parent)
            chain.push_back(n);
        ++user->Users; // its handle stays open, unchanged, while Users > 0
    }
    runtime::DirResult result;
    try {
        const runtime::DirHandle* from = &user->Handle.Get();
        if (!from->IsOpen()) result = walk_.Root->Fault; // the start directory is not open
        DirFd passing; // a level reopened only to reach the next one
        for (auto it = chain.rbegin();
             it != chain.rend() && result.Fault == runtime::DirFault::None; ++it) {
            Dir_Rec* n = *it;
            DirFd h;
            runtime::DirIdentity again;
            // Compared with the identity it had: that must be the system's.
            result = OpenChild(*from, n, true, h, again);
            if (result.Fault != runtime::DirFault::None) break;
            if (Known(n->Identity) && !(again == n->Identity)) {
                result = runtime::DirResult{runtime::DirFault::Unreadable, 0};
                break;
            }
            // Kept while the level still has children to open.
            runtime::Locked held(walk_.L());
            if (keep && !n->Handle.IsOpen() && n->ChildrenToOpen > (n == parent ? 1 : 0) &&
                Keep(n)) {
                n->Handle = std::move(h);
                ++n->Users;
                --user->Users;
                Drop(user);
                user = n;
                from = &n->Handle.Get();
                passing.Close();
            } else {
                passing = std::move(h);
                from = &passing.Get();
            }
        }
        if (result.Fault == runtime::DirFault::None) {
            result = OpenChild(*from, node, false, handle, id);
            if (result.Fault == runtime::DirFault::None && Replaced(node, id, handle.Get())) {
                handle.Close();
                result = runtime::DirResult{runtime::DirFault::Unreadable, 0};
            }
        }
    } catch (...) {
        Release(user);
        throw;
    }
    runtime::Locked held(walk_.L());
    --user->Users;
    Drop(user);
    // Opened or not there: either way it needs its parent no more. For lack
    // of descriptors it is tried again.
    if (result.Fault != runtime::DirFault::Resource && !node->LeftParent) {
        node->LeftParent = true;
        --parent->ChildrenToOpen;
        Drop(parent);
    }
    return result;
}

void HandleCache::Listed(Dir_Rec* node) noexcept {
    if (node == walk_.Root) return;
    if (node->ChildrenToOpen > 0 && node->Handle.IsOpen()) Keep(node);
    Drop(node);
}

bool HandleCache::Keep(Dir_Rec* node) noexcept {
    if (node->Held) return true;
    if (static_cast<std::int64_t>(held_.size()) >= cap_) {
        Dir_Rec* victim = nullptr;
        for (Dir_Rec* h : held_)
            if (h->Users == 0 && (victim == nullptr || h->Depth < victim->Depth)) victim = h;
        if (victim == nullptr || victim->Depth >= node->Depth) return false;
        Unhold(victim);
        victim->Handle.Close();
    }
    held_.push_back(node); // within the room reserved: never allocates
    node->Held = true;
    return true;
}

void HandleCache::Unhold(Dir_Rec* node) noexcept {
    if (!node->Held) return;
    auto it = std::find(held_.begin(), held_.end(), node);
    if (it != held_.end()) {
        *it = held_.back();
        held_.pop_back();
    }
    node->Held = false;
}

void HandleCache::Drop(Dir_Rec* node) noexcept {
    if (node == walk_.Root || node->Users > 0 || node->State != Stage::Listed) return;
    if (node->ChildrenToOpen > 0 && node->Held) return;
    Unhold(node);
    node->Handle.Close();
}

void HandleCache::DropIdle() noexcept {
    for (std::size_t i = 0; i < held_.size();) {
        Dir_Rec* v = held_[i];
        if (v->Users == 0) {
            Unhold(v);
            v->Handle.Close();
        } else {
            ++i;
        }
    }
}

void HandleCache::Forget(Dir_Rec* node) noexcept {
    Unhold(node);
    if (node != walk_.Root) node->Handle.Close();
}

} // namespace kelpo32::walk
