#include "kelpo32/output/layouts.h"

#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/tree/merge.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"

namespace kelpo32::output {

namespace {

// Turns the listed lines of a tree into rows, keeping each open level's path.
class TreeRows final : public tree::ListVisitor {
  public:
    TreeRows(const tree::DirTree& tree, const std::string& start, RowWriter& writer, bool measure)
        : tree_(tree), start_(start), writer_(writer), compared_(tree.ComparedIfAny()),
          growth_(tree.GrowthIfAny()), measure_(measure) {}

    void Line(const tree::Listed& line) override {
        DirRow& r = row_;
        r = DirRow{};
        if (measure_) {
            // The numbers alone: what a writer measures the widths of.
            r.Depth = line.Depth;
            if (line.Dir == tree::NoDir) {
                r.More = line.MoreCount;
                r.TotalFiles = line.More.Files;
                r.TotalBytes = line.More.Bytes;
            } else {
                const tree::DirRecord& d = tree_.At(line.Dir);
                if (tree_.IsMore(line.Dir)) r.More = d.Subdirs;
                r.TotalFiles = d.TotalFiles();
                r.TotalBytes = d.TotalBytes;
            }
            writer_.Measure(r);
            return;
        }
        auto depth = static_cast<std::size_t>(line.Depth);
        r.Depth = line.Depth;
        r.Id = line.Id;
        r.Siblings = line.Siblings;
        std::int64_t parentBytes =
            line.Parent == tree::NoDir ? 0 : tree_.At(line.Parent).TotalBytes;
        if (line.Dir == tree::NoDir) {
            // "... and M more": the parent's path, the sums of those left out.
            path_.resize(ends_[depth - 1]);
            r.Path = path_;
            r.More = line.MoreCount;
            r.TotalFiles = line.More.Files;
            r.TotalBytes = line.More.Bytes;
            r.TotalDirs = line.More.Dirs;
            r.ShareTenths = tree::ShareTenths(r.TotalBytes, parentBytes);
            writer_.Row(r);
            return;
        }
        const tree::DirRecord& d = tree_.At(line.Dir);
        if (depth == 0) {
            path_ = start_;
        } else {
            path_.resize(ends_[depth - 1]);
            if (!path_.empty() && path_.back() != runtime::PathSeparator())
                path_ += runtime::PathSeparator();
            path_ += tree_.Name(line.Dir);
            r.Name = tree_.Name(line.Dir);
        }
        ends_.resize(depth + 1);
        ends_[depth] = path_.size();
        r.Path = path_;
        r.Children = line.Children;
        r.Files = d.OwnFiles;
        r.Bytes = d.OwnBytes;
        r.Subdirs = d.Subdirs;
        r.TotalFiles = d.TotalFiles();
        r.TotalBytes = d.TotalBytes;
        r.TotalDirs = d.TotalDirs;
        r.ShareTenths = depth == 0 ? 1000 : tree::ShareTenths(d.TotalBytes, parentBytes);
        const tree::DirTrouble& trouble = tree_.Trouble(line.Dir);
        r.Problem = trouble.Problem;
        r.Reason = trouble.Reason;
        r.Partial = trouble.Partial;
        r.Folded = Folded(line);
        if (growth_ != nullptr) {
            const tree::GrowthCells& g = (*growth_)[line.Dir];
            r.Growth = true;
            r.Rate = g.Rate;
            r.RateKnown = g.RateKnown;
            r.Changes = g.Changes;
            r.Series = g.Series;
            if (compared_ != nullptr) {
                r.OldBytes = (*compared_)[line.Dir].OldBytes;
                r.State = (*compared_)[line.Dir].State;
            }
        } else if (compared_ != nullptr) {
            const tree::CompareCells& c = (*compared_)[line.Dir];
            r.Compared = true;
            r.OldBytes = c.OldBytes;
            r.OldFiles = c.OldFiles;
            r.State = c.State;
        }
        writer_.Row(r);
    }

  private:
    // What has no row of its own below the directory: of a compared tree its
    // subdirectories (gone ones aside) not listed; else every directory
    // below it but those listed and theirs.
    std::int64_t Folded(const tree::Listed& line) const {
        std::int64_t listed = 0;
        if (compared_ != nullptr) {
            std::int64_t all = 0;
            for (tree::DirIndex c = tree_.At(line.Dir).First; c != tree::NoDir;
                 c = tree_.At(c).Next)
                if ((*compared_)[c].State != tree::Mark::Gone) ++all;
            return std::max<std::int64_t>(0, all - static_cast<std::int64_t>(line.Kids->size()));
        }
        for (tree::DirIndex k : *line.Kids)
            listed = runtime::CheckedAdd<std::int64_t>(
                listed, runtime::CheckedAdd<std::int64_t>(tree_.At(k).TotalDirs, 1));
        return tree_.At(line.Dir).TotalDirs - listed;
    }

    const tree::DirTree& tree_;
    const std::string& start_;
    RowWriter& writer_;
    const tree::Column<tree::CompareCells>* compared_;
    const tree::Column<tree::GrowthCells>* growth_;
    bool measure_; // the rows go to Measure, not Row
    std::string path_;
    std::vector<std::size_t> ends_; // of each open level's path
    DirRow row_;
};

} // namespace

void WriteTreeRows(const tree::DirTree& tree, tree::DirIndex root, const tree::Selection& sel,
                   const std::string& startPath, RowWriter& writer) {
    if (writer.Measures()) {
        TreeRows measured(tree, startPath, writer, true);
        tree::ListTree(tree, root, sel, measured);
    }
    TreeRows rows(tree, startPath, writer, false);
    tree::ListTree(tree, root, sel, rows);
}

void PlainLayout::DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                          std::int64_t total) {
    SubtreeTotals totals = open_.Leave();
    // Only the levels the report lists; the totals count all.
    if (dir.Level >= levels_) return;
    DirRow& r = row_;
    r.Path = open_.Path();
    r.Name = dir.Level == 0 ? std::string_view()
                            : r.Path.substr(r.Path.rfind(runtime::PathSeparator()) + 1);
    r.Depth = dir.Level;
    r.Id = dir.Id;
    r.Siblings = dir.SiblingCount;
    r.Files = listing.FileCount;
    r.Bytes = listing.FileBytes;
    r.Subdirs = listing.ChildCount;
    r.TotalFiles = totals.TotalFiles;
    r.TotalBytes = total;
    r.TotalDirs = totals.TotalDirs;
    r.Problem = listing.Problem;
    r.Reason = listing.Reason;
    r.Partial = listing.Partial;
    writer_->Row(r);
}

void TotalsLayout::Read(const tree::DirTree& tree, tree::DirIndex root, bool built) {
    writer_->Begin();
    WriteTreeRows(tree, root, built ? tree::Selection{.AsLinked = true} : sel_, startPath_,
                  *writer_);
    writer_->End();
}

ComparisonLayout::ComparisonLayout(const saved::SavedScan& old, const tree::Selection& sel,
                                   const RunStart& start, std::unique_ptr<RowWriter> writer)
    : old_(old), sel_(sel), startPath_(start.Path), writer_(std::move(writer)) {
    if (sel_.Sort == tree::SortKey::None) sel_.Sort = tree::SortKey::Change;
}

void ComparisonLayout::Read(const tree::DirTree& tree, tree::DirIndex root, bool /*built*/) {
    if (old_.Start != startPath_) {
        runtime::TextSink sink = runtime::StdErrSink();
        runtime::WriteStdErr("kelpo32: the saved scan is of '" +
                             runtime::SafeText(old_.Start, sink) + "', this one of '" +
                             runtime::SafeText(startPath_, sink) +
                             "': directories are compared by their paths below each\n");
    }
    tree::DirTree compared;
    tree::DirIndex top = tree::MergeOlder(tree, root, old_.Tree, old_.Root, compared);
    writer_->Begin();
    WriteTreeRows(compared, top, sel_, startPath_, *writer_);
    std::int64_t unchanged = tree::UnchangedLeftOut(compared, top, sel_);
    if (unchanged > 0) writer_->Unchanged(unchanged);
    writer_->End();
}

} // namespace kelpo32::output
