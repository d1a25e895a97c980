// The layouts that hand a form's writer its rows: the walk's plain order
// (each directory when its subtree is done), the layout of totals (the
// selected tree, parents first, once the walk is done) and the comparison
// with an older scan (both trees matched, then selected).
#pragma once

#include "kelpo32/output/dir_row.h"
#include "kelpo32/output/subtree.h"
#include "kelpo32/run_options.h"
#include "kelpo32/tree/builder.h"
#include "kelpo32/walk/consumer.h"

#include <memory>
#include <string>

namespace kelpo32::saved {
struct SavedScan;
}

namespace kelpo32::output {

// The start directory of a run: as the walk is given it (the report's text)
// and its path as the exports write it ("." for the current directory).
struct RunStart {
    std::string Text;
    std::string Path;
};

// The tree below `root` as rows, listed as `sel` says: parents before their
// children, each directory's path built from its ancestors' names below
// `startPath`.
void WriteTreeRows(const tree::DirTree& tree, tree::DirIndex root, const tree::Selection& sel,
                   const std::string& startPath, RowWriter& writer);

// The walk's order: a row per directory above the depth limit when its
// subtree is done (children before their parent, the start directory last).
class PlainLayout final : public walk::WalkConsumer {
  public:
    PlainLayout(const Options& options, const RunStart& start, std::unique_ptr<RowWriter> writer)
        : open_(start.Path), levels_(options.Levels), writer_(std::move(writer)) {}

    void Begin() override { writer_->Begin(); }
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        open_.Enter(dir, listing);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override;
    void End() override { writer_->End(); }

  private:
    SubtreeStack open_;
    std::int32_t levels_;
    std::unique_ptr<RowWriter> writer_;
    DirRow row_;
};

// The layout of totals: the tree the selection keeps as the walk goes,
// written once the walk is done; or, when a saved scan is read in place of
// the walk (`whole`), its tree listed by the same selection.
class TotalsLayout final : public walk::WalkConsumer {
  public:
    TotalsLayout(const Options& options, const RunStart& start, std::unique_ptr<RowWriter> writer,
                 const saved::SavedScan* whole = nullptr);

    void Begin() override {
        if (whole_ == nullptr) builder_.Begin();
    }
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        if (whole_ == nullptr) builder_.DirListed(dir, listing);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override {
        if (whole_ == nullptr) builder_.DirDone(dir, listing, total);
    }
    void End() override;
    bool HoldsOutput() const override { return true; }

  private:
    tree::Selection sel_;
    tree::TreeBuilder builder_;
    const saved::SavedScan* whole_;
    std::string startPath_;
    std::unique_ptr<RowWriter> writer_;
};

// The comparison with a saved scan (--compare): the run's tree and the older
// scan's matched by the path below each start directory, each directory's
// subtree now, its change, and "new" or "gone" where it is in one scan only.
// The run's tree is the walk's, or the tree of the saved scan read in place
// of the walk (`now`), into which the older one is merged. Unless `whole` or
// --all, only the directories whose subtree changed are listed, with their
// parents, and the writer is told how many were left out.
class ComparisonLayout final : public walk::WalkConsumer {
  public:
    ComparisonLayout(const saved::SavedScan& old, const Options& options, const RunStart& start,
                     std::unique_ptr<RowWriter> writer, saved::SavedScan* now = nullptr,
                     bool whole = false);

    void Begin() override {
        if (now_ == nullptr) builder_.Begin();
    }
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override {
        if (now_ == nullptr) builder_.DirListed(dir, listing);
    }
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override {
        if (now_ == nullptr) builder_.DirDone(dir, listing, total);
    }
    void End() override;
    bool HoldsOutput() const override { return true; }

  private:
    const saved::SavedScan& old_;
    saved::SavedScan* now_;
    tree::Selection sel_;
    tree::TreeBuilder builder_{tree::Selection{}};
    std::string startPath_;
    std::unique_ptr<RowWriter> writer_;
};

} // namespace kelpo32::output
