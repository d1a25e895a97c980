#include "kelpo32/tree/builder.h"

#include "kelpo32/walk/walk.h"
#include "runtime/rtl.h"
#include "runtime/utf8name.h"

#include <algorithm>
#include <deque>

namespace kelpo32::tree {

namespace {

// Records dropped in the middle of the tree (a top-N's evictions) are
// reclaimed once they outnumber the live ones by this much.
constexpr DirIndex DeadSlack = 1024;

} // namespace

void TreeBuilder::Begin() {
    tree_ = DirTree{};
    depth_ = 0;
    root_ = NoDir;
    deep_ = 0;
    below_ = 0;
    seq_.clear();
    met_ = 0;
    largest_ = {};
}

void TreeBuilder::DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) {
    if (static_cast<std::size_t>(dir.Level) != depth_) runtime::RaiseRangeError();
    if (frames_.size() <= depth_) frames_.emplace_back();
    Frame& f = frames_[depth_];
    f.Dir = NoDir;
    f.Files = runtime::CheckedAdd<std::int64_t>(listing.FileCount, listing.UnwalkedFiles);
    f.Dirs = runtime::CheckedRange<std::int32_t>(listing.UnwalkedDirs);
    f.Other = 0;
    if (browse_) {
        if (listing.OtherFileBytes < 0)
            tree_.SetOtherKindUnknown();
        else
            f.Other = listing.OtherFileBytes;
    }
    f.Picker.Reset();
    if (dir.Level > 0) ++below_;
    // A directory that is not listed only carries its numbers up.
    if (dir.Level < sel_.Levels) {
        name_.clear();
        if (dir.Level > 0) runtime::AppendUtf8Name(name_, dir.Name, dir.Native);
        DirIndex i = tree_.Add(name_);
        if (i == NoDir) throw walk::OutOfRecords();
        DirRecord& r = tree_.At(i);
        r.OwnFiles = listing.FileCount;
        r.OwnBytes = listing.FileBytes;
        r.Subdirs = listing.ChildCount;
        if (listing.Problem != walk::DirProblem::None)
            tree_.SetTrouble(i, listing.Problem, listing.Reason, listing.Partial);
        if (browse_) {
            BrowseCells& cells = tree_.Browse()[i];
            cells.Identity = dir.Identity;
            cells.OtherOwnBytes = f.Other;
        }
        if (cap_ > 0) {
            seq_.resize(static_cast<std::size_t>(i) + 1);
            seq_.back() = met_;
        }
        f.Dir = i;
    }
    met_ = runtime::CheckedAdd<std::int64_t>(met_, 1);
    ++depth_;
}

void TreeBuilder::DirDone(const walk::WalkDir& dir, const walk::WalkListing& /*listing*/,
                          std::int64_t total) {
    if (depth_ == 0 || static_cast<std::size_t>(dir.Level) + 1 != depth_)
        runtime::RaiseRangeError();
    --depth_;
    Frame& f = frames_[depth_];
    if (depth_ > 0) {
        Frame& parent = frames_[depth_ - 1];
        parent.Files = runtime::CheckedAdd(parent.Files, f.Files);
        parent.Other = runtime::CheckedAdd(parent.Other, f.Other);
        parent.Dirs = runtime::CheckedAdd(parent.Dirs, runtime::CheckedAdd(f.Dirs, 1));
    }
    if (f.Dir == NoDir) {
        ++deep_;
        return;
    }
    Finish(f, total);
    // Below the cut, the whole subtree (the tail of the records) goes.
    if (cap_ > 0 && !MakesTheCut(f.Dir)) {
        tree_.TruncateTo(f.Dir);
        seq_.resize(static_cast<std::size_t>(f.Dir));
        return;
    }
    if (depth_ == 0) {
        root_ = f.Dir;
        if (cap_ > 0) DropBelowCut();
        if (tree_.Dead() > 0) Compact();
        return;
    }
    DirIndex dropped = frames_[depth_ - 1].Picker.Offer(tree_, sel_, f.Dir, dir.Level);
    if (dropped == f.Dir) {
        tree_.TruncateTo(f.Dir);
        if (cap_ > 0) seq_.resize(static_cast<std::size_t>(f.Dir));
    } else if (dropped != NoDir) {
        tree_.Kill(dropped);
    }
    if (cap_ > 0) {
        if (static_cast<std::size_t>(tree_.Size()) >= 2 * (cap_ + depth_) + 64) DropBelowCut();
    } else if (tree_.Dead() > tree_.Size() - tree_.Dead() + DeadSlack) {
        Compact();
    }
}

// The numbers of a finished directory, and its kept subdirectories linked in
// the selection's order with the "more" line last.
void TreeBuilder::Finish(Frame& f, std::int64_t total) {
    DirRecord& r = tree_.At(f.Dir);
    r.TotalBytes = total;
    r.SetTotalFiles(f.Files);
    r.TotalDirs = f.Dirs;
    if (browse_) tree_.Browse()[f.Dir].OtherTotalBytes = f.Other;
    DirIndex last = NoDir;
    for (DirIndex k : f.Picker.Ordered(tree_, sel_))
        last = tree_.Append(f.Dir, last, k);
    if (f.Picker.MoreCount() == 0) return;
    DirIndex more = tree_.AddMore(f.Picker.MoreCount());
    if (more == NoDir) throw walk::OutOfRecords();
    DirRecord& m = tree_.At(more);
    m.TotalBytes = f.Picker.More().Bytes;
    m.SetTotalFiles(f.Picker.More().Files);
    m.TotalDirs = runtime::CheckedRange<std::int32_t>(f.Picker.More().Dirs);
    tree_.Append(f.Dir, last, more);
    if (cap_ > 0) seq_.resize(static_cast<std::size_t>(tree_.Size()), met_);
}

bool TreeBuilder::MakesTheCut(DirIndex dir) {
    Key key{tree_.At(dir).TotalBytes, -seq_[static_cast<std::size_t>(dir)]};
    if (largest_.size() < cap_) {
        largest_.push(key);
        return true;
    }
    if (!(largest_.top() < key)) return false;
    // The smallest of those kept so far can no longer be shown; it goes at
    // the next DropBelowCut.
    largest_.pop();
    largest_.push(key);
    return true;
}

// Drops the finished directories smaller than the smallest of the cap
// largest. What goes is closed downwards (a directory's descendants are
// smaller), what stays upwards.
void TreeBuilder::DropBelowCut() {
    if (largest_.size() < cap_) return;
    Key least = largest_.top();
    std::vector<DirIndex> open;
    for (std::size_t k = 0; k < depth_; ++k)
        if (frames_[k].Dir != NoDir) open.push_back(frames_[k].Dir);
    for (DirIndex i = 0; i < tree_.Size(); ++i) {
        if (!tree_.IsLive(i) || tree_.IsMore(i) || std::ranges::binary_search(open, i)) continue;
        if (Key{tree_.At(i).TotalBytes, -seq_[static_cast<std::size_t>(i)]} < least) tree_.Kill(i);
    }
    Compact();
}

void TreeBuilder::Compact() {
    std::vector<DirIndex> remap;
    tree_.Compact(remap);
    for (std::size_t k = 0; k < depth_; ++k) {
        Frame& f = frames_[k];
        if (f.Dir != NoDir) f.Dir = remap[static_cast<std::size_t>(f.Dir)];
        f.Picker.Remap(remap);
    }
    if (root_ != NoDir) root_ = remap[static_cast<std::size_t>(root_)];
    if (cap_ == 0) return;
    for (std::size_t i = 0; i < remap.size(); ++i)
        if (remap[i] != NoDir) seq_[static_cast<std::size_t>(remap[i])] = seq_[i];
    seq_.resize(static_cast<std::size_t>(tree_.Size()));
}

std::int64_t TreeBuilder::Records() const {
    std::int64_t n = 0;
    for (DirIndex i = 0; i < tree_.Size(); ++i)
        n += tree_.IsLive(i) && !tree_.IsMore(i) ? 1 : 0;
    return n;
}

std::vector<char> LargestOfTree(const DirTree& tree, DirIndex root, std::int32_t levels,
                                std::size_t cap) {
    std::vector<char> keep(static_cast<std::size_t>(tree.Size()), 0);
    if (root == NoDir || cap == 0) return keep;
    // The directories above the depth limit in the walk's order (a chain's
    // "more" records stand for none), each told with its place in it.
    auto visit = [&](auto told) {
        std::deque<DirIndex> open; // 4 bytes a level
        auto sub = [&](DirIndex c) {
            while (c != NoDir && tree.IsMore(c))
                c = tree.At(c).Next;
            return c;
        };
        std::int64_t seq = 0;
        told(root, seq++);
        open.push_back(root);
        DirIndex next = levels > 1 ? sub(tree.At(root).First) : NoDir;
        while (!open.empty()) {
            if (next != NoDir) {
                told(next, seq++);
                open.push_back(next);
                next = static_cast<std::int64_t>(open.size()) < levels ? sub(tree.At(next).First)
                                                                       : NoDir;
                continue;
            }
            DirIndex done = open.back();
            open.pop_back();
            if (!open.empty()) next = sub(tree.At(done).Next);
        }
    };
    // The least key of the `cap` largest, as the builder's cut keeps them.
    using Key = std::pair<std::int64_t, std::int64_t>; // bytes, minus the walk position
    std::priority_queue<Key, std::vector<Key>, std::greater<>> largest;
    visit([&](DirIndex d, std::int64_t seq) {
        Key key{tree.At(d).TotalBytes, -seq};
        if (largest.size() < cap) {
            largest.push(key);
        } else if (largest.top() < key) {
            largest.pop();
            largest.push(key);
        }
    });
    const Key least = largest.top();
    visit([&](DirIndex d, std::int64_t seq) {
        keep[static_cast<std::size_t>(d)] =
            static_cast<char>(!(Key{tree.At(d).TotalBytes, -seq} < least));
    });
    return keep;
}

} // namespace kelpo32::tree
