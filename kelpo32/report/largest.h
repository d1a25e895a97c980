// The largest files of the tree: a consumer that keeps the N largest seen so
// far (memory for N paths only) and writes them after the report, or as the
// whole report, largest first, each with its size and its path.
#pragma once

#include "kelpo32/output/sizes.h"
#include "kelpo32/walk/consumer.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace kelpo32::report {

class LargestFiles final : public walk::WalkConsumer {
  public:
    // `diskUsage`: a file's bytes are the space it takes on disk; `units`:
    // how their sizes are written; `alone`: the list is the whole report.
    LargestFiles(std::int32_t count, bool diskUsage,
                 output::SizeUnits units = output::SizeUnits::Exact, bool alone = false)
        : count_(static_cast<std::size_t>(count > 0 ? count : 0)), diskUsage_(diskUsage),
          units_(units), alone_(alone) {}

    void Entry(const walk::WalkDir& dir, const walk::WalkEntry& entry) override;
    // Writes the list after the report, or as the whole report.
    void End() override { Print(units_); }
    bool NeedsEntries() const override { return true; }
    // Alone, nothing is written until the walk is done.
    bool HoldsOutput() const override { return alone_; }
    // Once N files are kept, a file smaller than the smallest of them cannot
    // enter: the walk need not deliver it.
    const std::atomic<std::uint64_t>* EntryFloor() const override { return &floor_; }

    struct File {
        std::uint64_t Bytes;
        std::string Path; // the walk's path text and the name
    };
    // Largest first; equal sizes in path order.
    std::vector<File> Sorted() const;
    // A blank line and "Largest files:" (after a report), then one line per
    // file: the size right aligned in 14 columns, two blanks, the path.
    void Print(output::SizeUnits units) const;

  private:
    std::size_t count_;
    bool diskUsage_;
    output::SizeUnits units_;
    bool alone_;
    std::vector<File> heap_; // the last in rank at the front
    std::atomic<std::uint64_t> floor_{0};
};

} // namespace kelpo32::report
