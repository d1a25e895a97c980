// The report as the consumer of the walk: which line each directory gets.
#include "kelpo32/report/report.h"

#include "kelpo32/state.h"
#include "runtime/rtl.h"
#include "runtime/textout.h"

#include <algorithm>

namespace kelpo32::report {

namespace {

// True from the first directory at or past MaxDepth after a written directory
// line until the next written one: one depth notice per such run.
bool DepthNoticeShown = false;

} // namespace

void ReportLines::Begin() {
    DepthNoticeShown = false;
}

void ReportLines::DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) {
    // The subdirectories wait in records until their subtrees are done.
    AllocCount = runtime::CheckedAdd<std::int32_t>(AllocCount, listing.ChildCount);
    AllocPeak = std::max(AllocPeak, AllocCount);
    if (dir.Level < MaxDepth) {
        // A console shows the name from its native form.
        runtime::StdOut().NoteName(dir.Name, dir.Native);
        PrintDirLine({.Path = dir.Path,
                      .Name = dir.Name,
                      .Level = dir.Level,
                      .SiblingCount = dir.SiblingCount,
                      .Id = dir.Id,
                      .ChildCount = listing.ChildCount,
                      .FileCount = listing.FileCount,
                      .FileBytes = listing.FileBytes});
        DepthNoticeShown = false;
    } else {
        if (!DepthNoticeShown && !TreeOnly) PrintDepthNotice(dir.Level);
        DepthNoticeShown = true;
    }
}

void ReportLines::DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                          std::int64_t total) {
    if (dir.Level < MaxDepth && listing.ChildCount > 0 && !TreeOnly && dir.Level < DrawDepth) {
        runtime::StdOut().NoteName(dir.Name, dir.Native);
        PrintTotalLine(dir.Name, dir.Level, total);
    }
    // Its own record goes once its subtree is done.
    if (dir.Level > 0) AllocCount = runtime::CheckedSub<std::int32_t>(AllocCount, 1);
}

} // namespace kelpo32::report
