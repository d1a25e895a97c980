// The scan: composes the consumers of a run (the trace with /L, the status
// line, the unread summary and the output the chosen form makes) and hands
// them the events of the run's source: the walk, or a saved scan.
#pragma once

#include "kelpo32/app/run_options.h"
#include "kelpo32/output/fields.h"
#include "kelpo32/walk/walk.h"

#include <cstdint>

namespace kelpo32 {

namespace saved {
struct SavedScan;
}
namespace report {
class UnreadSummary;
}

// The saved scans a run reads: `From` in place of the walk, `Old` to compare
// with; either may be none.
struct SavedInput {
    const saved::SavedScan* From = nullptr;
    const saved::SavedScan* Old = nullptr;
};

// What a run adds to its consumers: one more that the events go to (the
// history's recording), and whether the chosen form writes nothing as the
// walk goes (it writes a growth after it).
struct RunExtra {
    walk::WalkConsumer* Also = nullptr;
    bool NoForm = false;
};

// Walks the start directory (or replays `saved.From`) with the run's
// consumers and returns its total of bytes; `unread` is kept for the summary
// after the report.
std::int64_t ScanDir(const output::RunStart& start, const Options& options,
                     report::UnreadSummary& unread, SavedInput saved = {}, RunExtra extra = {});

// The walk's settings that the options ask for, for the scan and the
// browser alike; `exclude` holds the patterns of --exclude and must outlive
// the walk. The threads that list directories: KELPO32_THREADS fixes their
// number when it holds a number from 1 to 64; else the walk starts with one
// per online processor and adds more, up to 64, while listings wait on the
// disk.
walk::WalkOptions WalkSettings(const Options& options, const runtime::NamePatterns& exclude);

} // namespace kelpo32
