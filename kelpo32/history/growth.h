// Growth over a history of scans: every directory of the newest scan (and
// those gone within the window) matched by path across the scans, with its
// rate per day (least squares over the window), its change over the last
// day, week and month from the nearest kept scans, and the forecast of the
// file system's free space.
#pragma once

#include "kelpo32/output/dir_row.h"
#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/tree/dir_tree.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kelpo32::history {

inline constexpr std::int64_t DaySeconds = 86400;
// The spans of the changes: a day, a week, a month of 30 days.
inline constexpr std::int64_t ChangeSpans[3] = {DaySeconds, 7 * DaySeconds, 30 * DaySeconds};

// One scan of the history: its time and what it holds.
struct KeptScan {
    std::int64_t Time = 0;
    const saved::SavedScan* Scan = nullptr;
};

// The result: a tree of its own with the compared column (OldBytes: the
// bytes at the window's start; new, gone) and the growth column, and the
// head its writer is told first (its spans point into Times and Samples).
struct Growth {
    tree::DirTree Tree;
    tree::DirIndex Root = tree::NoDir;
    std::vector<std::int64_t> Times;   // of the window's scans, oldest first
    std::vector<std::int64_t> Samples; // per directory (its Series) a row of Times.size()
    output::GrowthHead Head;
};

// The scans that make the window at the newest of `times` (oldest first):
// those within `window` of it, and when that leaves fewer than two, the
// nearest older one too; the index of the first.
std::size_t WindowStart(std::span<const std::int64_t> times, std::int64_t window);
// The scan, other than the newest, nearest to `span` before the newest,
// from half of it to twice it older; -1: none is.
std::int64_t ChangeScan(std::span<const std::int64_t> times, std::int64_t span);
// The slope of the least-squares line through (x, y); false with fewer
// than two distinct x.
bool LeastSquares(std::span<const double> x, std::span<const double> y, double& slope);

// Growth over `scans` (oldest first, at least one; the newest is now).
void ComputeGrowth(std::span<const KeptScan> scans, std::int64_t window, Growth& out);

} // namespace kelpo32::history
