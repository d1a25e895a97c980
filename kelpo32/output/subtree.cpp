#include "kelpo32/output/subtree.h"

#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/utf8name.h"

namespace kelpo32::output {

void SubtreeStack::Enter(const walk::WalkDir& dir, const walk::WalkListing& listing) {
    path_.resize(cutTo_);
    open_.push_back({runtime::CheckedAdd<std::int64_t>(listing.FileCount, listing.UnwalkedFiles),
                     runtime::CheckedRange<std::int32_t>(listing.UnwalkedDirs),
                     runtime::CheckedRange<std::uint32_t>(path_.size())});
    if (dir.Level == 0) {
        path_ = start_;
    } else {
        if (!path_.empty() && path_.back() != runtime::PathSeparator())
            path_ += runtime::PathSeparator();
        runtime::AppendUtf8Name(path_, dir.Name, dir.Native);
    }
    cutTo_ = path_.size();
}

SubtreeTotals SubtreeStack::Leave() {
    if (open_.empty()) runtime::RaiseRangeError();
    OpenDir done = open_.back();
    open_.pop_back();
    if (!open_.empty()) {
        OpenDir& parent = open_.back();
        parent.TotalFiles = runtime::CheckedAdd(parent.TotalFiles, done.TotalFiles);
        parent.TotalDirs =
            runtime::CheckedAdd(parent.TotalDirs, runtime::CheckedAdd(done.TotalDirs, 1));
    }
    path_.resize(cutTo_);
    cutTo_ = done.PathLength;
    return {done.TotalFiles, done.TotalDirs};
}

} // namespace kelpo32::output
