// The scan: composes the consumers of a run (the trace with /L, the status
// line, the unread summary and the output the chosen form makes) and hands
// them the events of the run's source: the walk, or a saved scan.
#pragma once

#include "kelpo32/app/run_options.h"
#include "kelpo32/output/fields.h"
#include "kelpo32/tree/builder.h"
#include "kelpo32/walk/walk.h"

#include <cstdint>
#include <memory>

namespace kelpo32 {

namespace saved {
struct SavedScan;
}
namespace report {
class UnreadSummary;
}

// Where a run's directories come from: the walk of the start directory, or
// a saved scan read in its place. Either hands the run's consumers the same
// events, and a layout of a whole tree the tree it reads (Feed).
class RunSource {
  public:
    RunSource(const output::RunStart& start, const walk::WalkOptions& walk,
              const saved::SavedScan* saved)
        : start_(start), walk_(walk), saved_(saved) {}

    // The consumer that hands `layout` the run's tree once it is had.
    std::unique_ptr<walk::WalkConsumer> Feed(std::unique_ptr<tree::TreeReader> layout) const;
    // Hands `consumer` the events; returns the total of bytes.
    std::int64_t Run(walk::WalkConsumer& consumer) const;

  private:
    const output::RunStart& start_;
    const walk::WalkOptions& walk_;
    const saved::SavedScan* saved_;
};

// The saved scans a run reads: `From` in place of the walk, `Old` to compare
// with; either may be none.
struct SavedInput {
    const saved::SavedScan* From = nullptr;
    const saved::SavedScan* Old = nullptr;
};

// Walks the start directory (or replays `saved.From`) with the run's
// consumers and returns its total of bytes; `unread` is kept for the summary
// after the report.
std::int64_t ScanDir(const output::RunStart& start, const Options& options,
                     report::UnreadSummary& unread, SavedInput saved = {});

// The walk's settings that the options ask for, for the scan and the
// browser alike; `exclude` holds the patterns of --exclude and must outlive
// the walk. The threads that list directories: KELPO32_THREADS fixes their
// number when it holds a number from 1 to 64; else the walk starts with one
// per online processor and adds more, up to 64, while listings wait on the
// disk.
walk::WalkOptions WalkSettings(const Options& options, const runtime::NamePatterns& exclude);

} // namespace kelpo32
