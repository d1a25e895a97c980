// The layout of totals: one small record per directory that can still be
// listed, built from the walk's events, and the selection that decides which
// directories are listed and in what order. A directory's record is made when
// it is listed and judged when its subtree is done: one that the depth limit,
// the minimum size or its parent's top-N rules out goes at once (its numbers
// stay in every total above it), so memory follows the directories that may
// still be shown, not the tree.
//
// Use: feed a TotalsTree the walk's events, then read Root() and its
// Children, already in the order they are to be listed. The text layout
// (report::PrintTotals in report/), the line exports and other views walk the same records.
#pragma once

#include "kelpo32/run_options.h"
#include "kelpo32/walk/consumer.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelpo32::tree {

// Which directories are listed and in what order.
struct TotalsSelection {
    SortKey Sort = SortKey::None;
    std::int64_t MinSize = 0;           // a subtree with fewer bytes is not listed
    std::int32_t Top = 0;               // listed subdirectories per directory, the largest; 0: all
    std::int32_t MaxDepth = 2147483647; // directories at this level or deeper are not listed
};

// The numbers of a subtree, or of several.
struct TotalsCounts {
    std::int64_t Files = 0;
    std::int64_t Bytes = 0;
    std::int64_t Dirs = 0; // directories below, not counting itself
};

// One listed directory.
struct TotalsDir {
    std::string Name;    // as the walk gave it; empty for the start directory
    std::string Native;  // the platform's own form, or empty
    std::int32_t Id = 0; // its place among its siblings in the walk, from 1
    // Its own listing.
    std::int32_t FileCount = 0;
    std::int64_t FileBytes = 0;
    std::int32_t ChildCount = 0;
    walk::DirProblem Problem = walk::DirProblem::None;
    std::unique_ptr<std::string> Reason; // set when Problem is not None
    bool Partial = false;                // read only in part: the counts are what was read
    // Everything below it, itself included.
    TotalsCounts Total;
    // The listed subdirectories, in the order they are listed.
    std::vector<TotalsDir> Children;
    // Subdirectories that passed the minimum size but not the top-N: how many
    // and their combined numbers (each counted as a directory in Dirs).
    std::int32_t MoreCount = 0;
    TotalsCounts More;
};

// The share of `part` in `whole` in tenths of a percent, rounded to the
// nearest; 0 when the whole is empty.
std::int32_t ShareTenths(std::int64_t part, std::int64_t whole);

class TotalsTree final : public walk::WalkConsumer {
  public:
    explicit TotalsTree(const TotalsSelection& selection) : selection_(selection) {}

    void Begin() override;
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override;
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override;

    // The start directory, once its subtree is done; nullptr before.
    const TotalsDir* Root() const { return done_ ? &root_ : nullptr; }
    // The start directory's path as the walk gave it.
    const std::string& StartPath() const { return startPath_; }
    // Records held now and at most at once (the open directories' included).
    std::int64_t Records() const { return records_; }
    std::int64_t PeakRecords() const { return peak_; }

  private:
    TotalsSelection selection_;
    std::vector<TotalsDir> open_; // the directories whose subtrees are not done, outermost first
    TotalsDir root_;
    std::string startPath_;
    bool done_ = false;
    std::int64_t records_ = 0;
    std::int64_t peak_ = 0;

    void Adopt(TotalsDir& parent, TotalsDir child);
    void Drop(const TotalsDir& dir);
    void Order(TotalsDir& dir) const;
};

} // namespace kelpo32::tree
