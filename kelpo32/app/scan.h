// The scan: composes the consumers of a run (the trace with /L, the status
// line, the unread summary and the output the chosen form makes) and hands
// them the walk's events, or a saved scan's.
#pragma once

#include "kelpo32/run_options.h"
#include "kelpo32/walk/walk.h"

#include <cstdint>
#include <string>

namespace kelpo32 {

namespace saved {
struct SavedScan;
}
namespace report {
class UnreadSummary;
}

// The saved scans a run reads: `From` in place of the walk (a layout may
// list its tree as it stands, and the comparison merges the older scan into
// it), `Old` to compare with; either may be none.
struct SavedInput {
    saved::SavedScan* From = nullptr;
    const saved::SavedScan* Old = nullptr;
};

// Walks the start directory (or replays `saved.From`) with the run's
// consumers and returns its total of bytes; `unread` is kept for the summary
// after the report.
std::int64_t ScanDir(const std::string& startDir, const Options& options,
                     report::UnreadSummary& unread, SavedInput saved = {});

// The threads that list directories: KELPO32_THREADS fixes their number when
// it holds a number from 1 to MaxWalkThreads; else the walk starts with one
// per online processor and adds more, up to MaxWalkThreads, while listings
// wait on the disk.
inline constexpr std::int32_t MaxWalkThreads = 64;
void WalkThreads(walk::WalkOptions& options);

} // namespace kelpo32
