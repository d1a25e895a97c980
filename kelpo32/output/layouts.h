// The layouts that hand a form's writer its rows: the walk's plain order
// (each directory when its subtree is done), the layout of totals (the
// selected tree, parents first, once the walk is done) and the comparison
// with an older scan (both trees matched, then selected).
#pragma once

#include "kelpo32/output/dir_row.h"
#include "kelpo32/output/fields.h"
#include "kelpo32/output/subtree.h"
#include "kelpo32/tree/builder.h"
#include "kelpo32/walk/consumer.h"

#include <memory>
#include <string>
#include <vector>

namespace kelpo32::saved {
struct SavedScan;
}

namespace kelpo32::output {

// The tree below `root` as rows, listed as `sel` says: parents before their
// children, each directory's path built from its ancestors' names below
// `startPath`; with `keep`, only the directories it keeps (tree::ListTree).
void WriteTreeRows(const tree::DirTree& tree, tree::DirIndex root, const tree::Selection& sel,
                   const std::string& startPath, RowWriter& writer,
                   const std::vector<char>* keep = nullptr);

// The walk's order: a row per directory of the `levels` listed when its
// subtree is done (children before their parent, the start directory last).
// From the walk's events it counts each open directory's subtree; a saved
// scan's tree, which holds those counts, it reads in that order whole, with
// only the open path and a few bytes a level.
class PlainLayout final : public tree::TreeReader, public walk::WalkConsumer {
  public:
    // `poll`: asked at each row of a tree read whole whether the run stops
    // (it ends the run if so), as the walk's events ask at each directory.
    PlainLayout(std::int32_t levels, const RunStart& start, std::unique_ptr<RowWriter> writer,
                void (*poll)() = nullptr)
        : open_(start.Path), start_(start.Path), levels_(levels), writer_(std::move(writer)),
          poll_(poll) {}

    tree::Selection Building() const override { return {}; }
    walk::WalkConsumer* Events() override { return this; }
    void Read(const tree::DirTree& tree, tree::DirIndex root, bool built) override;

    void Begin() override { writer_->Begin(); }
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        open_.Enter(dir, listing);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override;
    void End() override { writer_->End(); }

  private:
    SubtreeStack open_;
    std::string start_;
    std::int32_t levels_;
    std::unique_ptr<RowWriter> writer_;
    void (*poll_)();
    DirRow row_;
};

// The layout of totals: the tree `sel` lists, written parents first once it
// is had. A builder keeps only what `sel` lists as the walk goes; a saved
// scan's tree is listed by it whole.
class TotalsLayout final : public tree::TreeReader {
  public:
    TotalsLayout(const tree::Selection& sel, const RunStart& start,
                 std::unique_ptr<RowWriter> writer)
        : sel_(sel), startPath_(start.Path), writer_(std::move(writer)) {}

    tree::Selection Building() const override { return sel_; }
    void Read(const tree::DirTree& tree, tree::DirIndex root, bool built) override;

  private:
    tree::Selection sel_;
    std::string startPath_;
    std::unique_ptr<RowWriter> writer_;
};

// The comparison with a saved scan (--compare): the run's tree and the older
// scan's matched by the path below each start directory into a tree of their
// own, each directory's subtree now, its change, and "new" or "gone" where it
// is in one scan only; listed by `sel`, by the largest change unless it asks
// for another order. With its ChangedOnly only the directories whose subtree
// changed are listed, with their parents, and the writer is told how many
// were left out.
class ComparisonLayout final : public tree::TreeReader {
  public:
    ComparisonLayout(const saved::SavedScan& old, const tree::Selection& sel, const RunStart& start,
                     std::unique_ptr<RowWriter> writer);

    // Every directory: the older scan is matched into the whole tree.
    tree::Selection Building() const override { return {}; }
    void Read(const tree::DirTree& tree, tree::DirIndex root, bool built) override;

  private:
    const saved::SavedScan& old_;
    tree::Selection sel_;
    std::string startPath_;
    std::unique_ptr<RowWriter> writer_;
};

} // namespace kelpo32::output
