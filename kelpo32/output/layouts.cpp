#include "kelpo32/output/layouts.h"

#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/tree/merge.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"

#include <deque>

namespace kelpo32::output {

namespace {

// A directory's numbers and problem as its record holds them.
void RecordInto(DirRow& r, const tree::DirTree& tree, tree::DirIndex dir) {
    const tree::DirRecord& d = tree.At(dir);
    r.Files = d.OwnFiles;
    r.Bytes = d.OwnBytes;
    r.Subdirs = d.Subdirs;
    r.TotalFiles = d.TotalFiles();
    r.TotalBytes = d.TotalBytes;
    r.TotalDirs = d.TotalDirs;
    const tree::DirTrouble& trouble = tree.Trouble(dir);
    r.Problem = trouble.Problem;
    r.Reason = trouble.Reason;
    r.Partial = trouble.Partial;
}

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
            ToParentOf(depth);
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
            ToParentOf(depth);
            if (!path_.empty() && path_.back() != runtime::PathSeparator())
                path_ += runtime::PathSeparator();
            path_ += tree_.Name(line.Dir);
            r.Name = tree_.Name(line.Dir);
        }
        pathDepth_ = depth;
        r.Path = path_;
        r.Children = line.Children;
        RecordInto(r, tree_, line.Dir);
        r.ShareTenths = depth == 0 ? 1000 : tree::ShareTenths(d.TotalBytes, parentBytes);
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
    // Cuts the path back to the parent of a line at `depth`: the start
    // directory's, or one name per level (a name holds no separator).
    void ToParentOf(std::size_t depth) {
        if (depth == 1) {
            path_ = start_;
        } else {
            for (; pathDepth_ >= depth; --pathDepth_)
                path_.resize(path_.rfind(runtime::PathSeparator()));
        }
        pathDepth_ = depth - 1;
    }

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
            return std::max<std::int64_t>(0, all - static_cast<std::int64_t>(line.Kids.size()));
        }
        for (tree::DirIndex k : line.Kids)
            listed = runtime::CheckedAdd<std::int64_t>(
                listed, runtime::CheckedAdd<std::int64_t>(tree_.At(k).TotalDirs, 1));
        return tree_.At(line.Dir).TotalDirs - listed;
    }

    const tree::DirTree& tree_;
    const std::string& start_;
    RowWriter& writer_;
    const tree::Column<tree::CompareCells>* compared_;
    const tree::Column<tree::GrowthCells>* growth_;
    bool measure_;              // the rows go to Measure, not Row
    std::string path_;          // of the directory told last, or of its parent
    std::size_t pathDepth_ = 0; // the level `path_` is of
    DirRow row_;
};

} // namespace

void WriteTreeRows(const tree::DirTree& tree, tree::DirIndex root, const tree::Selection& sel,
                   const std::string& startPath, RowWriter& writer, const std::vector<char>* keep) {
    if (writer.Measures()) {
        TreeRows measured(tree, startPath, writer, true);
        tree::ListTree(tree, root, sel, measured, keep);
    }
    for (std::int32_t pass = 0; pass < writer.Passes(); ++pass) {
        writer.Pass(pass);
        TreeRows rows(tree, startPath, writer, false);
        tree::ListTree(tree, root, sel, rows, keep);
    }
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

void PlainLayout::Read(const tree::DirTree& tree, tree::DirIndex root, bool /*built*/) {
    writer_->Begin();
    if (root == tree::NoDir) {
        writer_->End();
        return;
    }
    // The open directories, each with its id among its siblings ("more"
    // records stand for none), and the path of the innermost.
    struct Open {
        tree::DirIndex Dir;
        std::int32_t Id;
    };
    std::deque<Open> open;
    std::string path = start_;
    const char sep = runtime::PathSeparator();
    auto sub = [&](tree::DirIndex c) {
        while (c != tree::NoDir && tree.IsMore(c))
            c = tree.At(c).Next;
        return c;
    };
    auto enter = [&](tree::DirIndex d, std::int32_t id) {
        if (!open.empty()) {
            if (!path.empty() && path.back() != sep) path += sep;
            path += tree.Name(d);
        }
        open.push_back({d, id});
    };
    enter(root, 0);
    // The next directory to enter, and its id.
    tree::DirIndex next = sub(tree.At(root).First);
    std::int32_t nextId = 1;
    while (!open.empty()) {
        if (next != tree::NoDir) {
            enter(next, nextId);
            next = sub(tree.At(next).First);
            nextId = 1;
            continue;
        }
        const Open done = open.back();
        open.pop_back();
        if (poll_ != nullptr) poll_();
        const auto level = static_cast<std::int32_t>(open.size());
        if (level < levels_) {
            DirRow& r = row_;
            r = DirRow{};
            r.Path = path;
            r.Name = level == 0 ? std::string_view() : tree.Name(done.Dir);
            r.Depth = level;
            r.Id = done.Id;
            r.Siblings = level == 0 ? 0 : tree.At(open.back().Dir).Subdirs;
            RecordInto(r, tree, done.Dir);
            writer_->Row(r);
        }
        if (open.empty()) break;
        // Back to the parent's path (a name holds no separator).
        path.resize(open.size() == 1 ? start_.size() : path.rfind(sep));
        next = sub(tree.At(done.Dir).Next);
        nextId = done.Id + 1;
    }
    writer_->End();
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
    // The compared tree keeps only what the selection may list.
    tree::DirTree compared;
    std::int64_t unchanged = 0;
    tree::DirIndex top =
        tree::MergeOlder(tree, root, old_.Tree, old_.Root, compared, &sel_, &unchanged);
    writer_->Begin();
    WriteTreeRows(compared, top, sel_, startPath_, *writer_);
    if (unchanged > 0) writer_->Unchanged(unchanged);
    writer_->End();
}

} // namespace kelpo32::output
