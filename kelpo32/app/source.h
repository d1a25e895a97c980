// A run's source, which feeds its consumers and its layouts of a whole tree.
#pragma once

#include "kelpo32/output/fields.h"
#include "kelpo32/tree/builder.h"
#include "kelpo32/walk/walk.h"

#include <cstdint>
#include <memory>

namespace kelpo32 {

namespace saved {
struct SavedScan;
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
    // The consumer of a layout in the walk's order: from the walk, the
    // events as they come (its Events()); from a saved scan, the scan's tree
    // read whole at the end, so that nothing is counted twice per level.
    std::unique_ptr<walk::WalkConsumer> Stream(std::unique_ptr<tree::TreeReader> layout) const;
    // Hands `consumer` the events; returns the total of bytes.
    std::int64_t Run(walk::WalkConsumer& consumer) const;

  private:
    const output::RunStart& start_;
    const walk::WalkOptions& walk_;
    const saved::SavedScan* saved_;
};

} // namespace kelpo32
