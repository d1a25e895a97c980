#include "kelpo32/tree/totals.h"

#include "runtime/rtl.h"

#include <algorithm>

namespace kelpo32::tree {

namespace {

TotalsCounts Add(const TotalsCounts& a, const TotalsCounts& b) {
    return {runtime::CheckedAdd(a.Files, b.Files), runtime::CheckedAdd(a.Bytes, b.Bytes),
            runtime::CheckedAdd(a.Dirs, b.Dirs)};
}

// The subtree and every listed directory in it, as a directory of its parent.
TotalsCounts AsChild(const TotalsDir& dir) {
    TotalsCounts c = dir.Total;
    c.Dirs = runtime::CheckedAdd<std::int64_t>(c.Dirs, 1);
    return c;
}

// The order of the largest: bytes, then name, then the walk's order.
bool Larger(const TotalsDir& a, const TotalsDir& b) {
    if (a.Total.Bytes != b.Total.Bytes) return a.Total.Bytes > b.Total.Bytes;
    if (a.Name != b.Name) return a.Name < b.Name;
    return a.Id < b.Id;
}

std::int64_t CountRecords(const TotalsDir& dir) {
    std::int64_t n = 1;
    for (const TotalsDir& c : dir.Children)
        n = runtime::CheckedAdd(n, CountRecords(c));
    return n;
}

} // namespace

std::int32_t ShareTenths(std::int64_t part, std::int64_t whole) {
    if (whole <= 0 || part <= 0) return 0;
    // In floating point: part * 1000 would overflow near the 64-bit limit.
    long double share = static_cast<long double>(part) * 1000.0L / static_cast<long double>(whole);
    return static_cast<std::int32_t>(std::min<long double>(share + 0.5L, 1000.0L));
}

void TotalsTree::Begin() {
    open_.clear();
    root_ = TotalsDir{};
    startPath_.clear();
    done_ = false;
    records_ = 0;
    peak_ = 0;
}

void TotalsTree::DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) {
    if (static_cast<std::size_t>(dir.Level) != open_.size()) runtime::RaiseRangeError();
    TotalsDir d;
    // A directory that is not listed only carries its numbers up.
    if (dir.Level < selection_.MaxDepth) {
        d.Name = dir.Name;
        d.Native = dir.Native;
        d.FileCount = listing.FileCount;
        d.FileBytes = listing.FileBytes;
        d.ChildCount = listing.ChildCount;
        d.Problem = listing.Problem;
        d.Partial = listing.Partial;
        if (listing.Problem != walk::DirProblem::None)
            d.Reason = std::make_unique<std::string>(listing.Reason);
        records_ = runtime::CheckedAdd<std::int64_t>(records_, 1);
        peak_ = std::max(peak_, records_);
    }
    if (dir.Level == 0) startPath_ = dir.Path;
    d.Id = dir.Id;
    d.Total.Files = listing.FileCount;
    open_.push_back(std::move(d));
}

void TotalsTree::DirDone(const walk::WalkDir& dir, const walk::WalkListing& /*listing*/,
                         std::int64_t total) {
    if (open_.empty() || static_cast<std::size_t>(dir.Level) + 1 != open_.size())
        runtime::RaiseRangeError();
    TotalsDir d = std::move(open_.back());
    open_.pop_back();
    d.Total.Bytes = total;
    if (open_.empty()) {
        Order(d);
        root_ = std::move(d);
        done_ = true;
        return;
    }
    TotalsDir& parent = open_.back();
    TotalsCounts below = AsChild(d);
    parent.Total.Files = runtime::CheckedAdd(parent.Total.Files, below.Files);
    parent.Total.Dirs = runtime::CheckedAdd(parent.Total.Dirs, below.Dirs);
    if (dir.Level >= selection_.MaxDepth) return;
    if (d.Total.Bytes < selection_.MinSize) {
        Drop(d);
        return;
    }
    Order(d);
    Adopt(parent, std::move(d));
}

// Keeps the child; with a top-N the parent's children are a heap whose
// front is the smallest kept, which goes to the "more" line when one more
// than N are kept.
void TotalsTree::Adopt(TotalsDir& parent, TotalsDir child) {
    parent.Children.push_back(std::move(child));
    if (selection_.Top <= 0) return;
    std::push_heap(parent.Children.begin(), parent.Children.end(), Larger);
    if (parent.Children.size() <= static_cast<std::size_t>(selection_.Top)) return;
    std::pop_heap(parent.Children.begin(), parent.Children.end(), Larger);
    TotalsDir& smallest = parent.Children.back();
    parent.MoreCount = runtime::CheckedAdd<std::int32_t>(parent.MoreCount, 1);
    parent.More = Add(parent.More, AsChild(smallest));
    Drop(smallest);
    parent.Children.pop_back();
}

void TotalsTree::Drop(const TotalsDir& dir) {
    records_ = runtime::CheckedSub(records_, CountRecords(dir));
}

// The listed children in the order of the sort key; names in byte order
// break ties, then the walk's order.
void TotalsTree::Order(TotalsDir& dir) const {
    auto& c = dir.Children;
    auto byName = [](const TotalsDir& a, const TotalsDir& b) {
        return a.Name != b.Name ? a.Name < b.Name : a.Id < b.Id;
    };
    switch (selection_.Sort) {
    case SortKey::Size:
        std::sort(c.begin(), c.end(), Larger);
        break;
    case SortKey::Files:
        std::sort(c.begin(), c.end(), [&](const TotalsDir& a, const TotalsDir& b) {
            return a.Total.Files != b.Total.Files ? a.Total.Files > b.Total.Files : byName(a, b);
        });
        break;
    case SortKey::Name:
        std::sort(c.begin(), c.end(), byName);
        break;
    case SortKey::None:
    case SortKey::Change:
        std::sort(c.begin(), c.end(),
                  [](const TotalsDir& a, const TotalsDir& b) { return a.Id < b.Id; });
        break;
    }
    c.shrink_to_fit();
}

} // namespace kelpo32::tree
