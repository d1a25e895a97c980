#include "kelpo32/subtree.h"

#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/utf8name.h"

#include <string>
#include <vector>

namespace kelpo32 {

namespace {

struct OpenDir {
    std::size_t PathLength; // of the parent's path, restored when it is left
    SubtreeTotals Totals;
};

std::vector<OpenDir> Open;
std::string Path;
std::string StartPath;
std::size_t CutTo = 0; // the path of the directory left last goes at the next call

} // namespace

void SubtreeStart(std::string_view start) {
    Open.clear();
    Path.clear();
    StartPath = start;
    CutTo = 0;
}

void SubtreeEnter(const WalkDir& dir, const WalkListing& listing) {
    Path.resize(CutTo);
    Open.push_back({Path.size(), {listing.FileCount, 0}});
    if (dir.Level == 0) {
        Path = StartPath;
    } else {
        if (!Path.empty() && Path.back() != runtime::PathSeparator())
            Path += runtime::PathSeparator();
        runtime::AppendUtf8Name(Path, dir.Name, dir.Native);
    }
    CutTo = Path.size();
}

SubtreeTotals SubtreeLeave() {
    if (Open.empty()) runtime::RaiseRangeError();
    OpenDir done = Open.back();
    Open.pop_back();
    if (!Open.empty()) {
        SubtreeTotals& parent = Open.back().Totals;
        parent.TotalFiles = runtime::CheckedAdd(parent.TotalFiles, done.Totals.TotalFiles);
        parent.TotalDirs = runtime::CheckedAdd<std::int64_t>(
            parent.TotalDirs, runtime::CheckedAdd<std::int64_t>(done.Totals.TotalDirs, 1));
    }
    Path.resize(CutTo);
    CutTo = done.PathLength;
    return done.Totals;
}

std::string_view SubtreePath() {
    return Path;
}

} // namespace kelpo32
