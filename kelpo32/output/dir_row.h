// One row of a layout, as every form's writer gets it: whatever the layout
// (the walk's plain order, the layout of totals, the comparison), it hands
// the form one DirRow per line it lists, and the form's writer turns each
// into its text. A new field of a row is one member here and one line in
// each writer that shows it.
#pragma once

#include "kelpo32/tree/dir_tree.h"
#include "kelpo32/walk/consumer.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace kelpo32::output {

struct DirRow {
    // The directory's path as the exports write it (UTF-8 on Windows, the
    // file system's bytes on POSIX); the start directory's path at depth 0.
    // A "more" row carries its parent's path.
    std::string_view Path;
    std::string_view Name;  // its name, in the same form; empty for the start directory
    std::int32_t Depth = 0; // 0 at the start directory
    // Where it stands among the rows of its parent, for the text's tree
    // glyphs: from 1 (0 at the start), of Siblings rows; and how many rows
    // follow it as its own subdirectories (a "more" row included).
    std::int32_t Id = 0;
    std::int32_t Siblings = 0;
    std::int32_t Children = 0;
    // Its own listing: files, their bytes, and its subdirectories, listed
    // as rows or not.
    std::int64_t Files = 0;
    std::int64_t Bytes = 0;
    std::int32_t Subdirs = 0;
    // Its whole subtree: files and bytes at every level (its own included),
    // directories below it.
    std::int64_t TotalFiles = 0;
    std::int64_t TotalBytes = 0;
    std::int64_t TotalDirs = 0;
    // Its subtree's share of its parent's bytes in tenths of a percent
    // (1000 at the start directory).
    std::int32_t ShareTenths = 0;
    // Why it was not read, or not whole: the problem, its reason, and
    // whether what was read is kept (Partial).
    walk::DirProblem Problem = walk::DirProblem::None;
    std::string_view Reason;
    bool Partial = false;
    // Directories below it that have no row of their own, their numbers in
    // its totals (the comparison counts its own subdirectories alone).
    std::int64_t Folded = 0;
    // A "... and M more" row: M subdirectories of the parent not listed for
    // the top-N, their sums in the totals above; 0 on a directory's row.
    std::int32_t More = 0;
    // A comparison's row: the older scan's subtree bytes and files, and
    // whether the directory is in the run's scan, the older one, or both.
    bool Compared = false;
    std::int64_t OldBytes = 0;
    std::int64_t OldFiles = 0;
    tree::Mark State = tree::Mark::Both;
    // A row of growth over a history (--growth): its rate in bytes per day
    // (RateKnown false where fewer than two scans tell it), its change over
    // the last day, week and month (tree::GrowthCells::Unknown where the
    // history is too short), its row in the table of the window's sizes
    // (GrowthHead::Samples; -1: none); State: new or gone within the window,
    // OldBytes its bytes at the window's start.
    std::array<std::int64_t, 3> Changes{};
    double Rate = 0;
    std::int32_t Series = -1;
    bool Growth = false;
    bool RateKnown = false;
};

// What a layout of growth tells its writer before the first row: the
// window, its scans, the file system's size and free space at the newest
// one, and the forecast at the rate its free space fell over the window.
struct GrowthHead {
    std::int64_t Now = 0;     // the newest scan's time, seconds since 1970 UTC
    std::int64_t Window = 0;  // the window asked for, in seconds
    std::int64_t Span = 0;    // from the window's first scan to the newest
    std::int32_t Scans = 0;   // the scans in the window
    std::int64_t FsSize = -1; // -1: not known
    std::int64_t FsFree = -1; // at the newest scan
    bool RateKnown = false;   // of the free space: two scans of the window tell it
    double FreeRate = 0;      // bytes per day, negative while the disk fills
    std::int64_t FullAt = -1; // when free space runs out at that rate; -1: not filling
    // The times of the window's scans, oldest first, and per row of the
    // table those scans' sizes of a directory (-1: not known).
    std::span<const std::int64_t> Times;
    std::span<const std::int64_t> Samples;
};

// A form's writer of rows; its bytes go to standard output.
class RowWriter {
  public:
    RowWriter() = default;
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;
    virtual ~RowWriter() = default;
    // Before the first row.
    virtual void Begin() {}
    virtual void Row(const DirRow& row) = 0;
    // After the last row.
    virtual void End() {}
    // A writer that lines its columns up over all rows is told each row's
    // numbers (Depth, More, TotalFiles, TotalBytes; nothing else) once
    // before the first row is written.
    virtual bool Measures() const { return false; }
    virtual void Measure(const DirRow& /*row*/) {}
    // A writer that writes its rows in groups (each metric of the metrics
    // form as one) is handed a listed tree's rows once per group, told which
    // before each; asked again after each pass.
    virtual std::int32_t Passes() const { return 1; }
    virtual void Pass(std::int32_t /*pass*/) {}
    // Before End of a comparison that lists changed directories only: how
    // many directories it left out as unchanged.
    virtual void Unchanged(std::int64_t /*count*/) {}
    // Before Begin of a layout of growth.
    virtual void Growth(const GrowthHead& /*head*/) {}
};

} // namespace kelpo32::output
