// The page's directories from rows, and the page's own layout of the walk.
#include "kelpo32/output/html/html_export.h"

#include "kelpo32/output/growth_fields.h"
#include "kelpo32/output/layouts.h"
#include "runtime/rtl.h"
#include "runtime/utf8name.h"

#include <algorithm>
#include <cmath>

namespace kelpo32::output::html {

void HtmlRows::Row(const DirRow& row) {
    // A "more" row's directories are folded into its parent.
    if (row.More > 0) return;
    auto level = static_cast<std::size_t>(row.Depth);
    atLevel_.resize(level + 1);
    atLevel_[level] = runtime::CheckedRange<std::int32_t>(dirs_.size());
    if (level == 0) below_ = row.TotalDirs;
    HtmlDir d;
    d.Parent = level == 0 ? -1 : atLevel_[level - 1];
    d.Depth = row.Depth;
    d.Name = level == 0 ? row.Path : row.Name;
    d.Files = row.Files;
    d.Bytes = row.Bytes;
    d.TotalFiles = row.TotalFiles;
    d.TotalBytes = row.TotalBytes;
    d.Folded = row.Folded;
    if (row.Growth) {
        d.Change = row.TotalBytes - row.OldBytes;
        d.State = row.State == tree::Mark::New    ? "new"
                  : row.State == tree::Mark::Gone ? "gone"
                                                  : "";
        d.Rated = row.RateKnown;
        d.Rate = row.RateKnown ? std::llround(row.Rate) : 0;
        d.Chart = Sparkline(SeriesOf(run_.Head, row.Series), true);
    } else if (row.Compared) {
        d.Change = row.TotalBytes - row.OldBytes;
        d.State = row.State == tree::Mark::New    ? "new"
                  : row.State == tree::Mark::Gone ? "gone"
                                                  : "";
    } else if (row.Problem != walk::DirProblem::None) {
        d.Problem = row.Reason;
    }
    dirs_.push_back(std::move(d));
}

void HtmlRows::Growth(const GrowthHead& head) {
    run_.Head = head;
    run_.Forecast = ForecastText(head, SizeUnits::Exact) + "; " + WindowText(head);
}

void HtmlRows::End() {
    if (run_.Compare) {
        run_.TotalDirs = std::max<std::int64_t>(0, below_);
        run_.Cap = dirs_.size();
    }
    WriteHtmlPage(out_, run_, dirs_);
}

HtmlExport::HtmlExport(runtime::TextOut& out, HtmlRun run, std::int32_t levels, std::size_t cap)
    : sel_{.Levels = levels}, cap_(std::max<std::size_t>(cap, 1)), rows_(out, std::move(run)) {
    rows_.Run().Cap = cap_;
}

HtmlExport::HtmlExport(runtime::TextOut& out, HtmlRun run, const tree::Selection& sel)
    : sel_(sel), cap_(0), rows_(out, std::move(run)) {}

void HtmlExport::Begin() {
    rows_.Dirs().clear();
    below_ = 0;
    deep_ = 0;
}

void HtmlExport::DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) {
    HtmlRun& run = rows_.Run();
    auto level = static_cast<std::size_t>(dir.Level);
    if (dir.Level > 0) ++below_;
    if (dir.Level >= sel_.Levels) ++deep_;
    if (level == 0) {
        path_ = run.StartPath;
    } else {
        path_.resize(ends_.at(level - 1));
        if (!path_.empty() && path_.back() != run.Separator) path_ += run.Separator;
        runtime::AppendUtf8Name(path_, dir.Name, dir.Native);
    }
    ends_.resize(level + 1);
    ends_[level] = runtime::CheckedRange<std::uint32_t>(path_.size());
    // Not entered on purpose is not unread; a loop is named, as it is shown empty.
    if (listing.Problem != walk::DirProblem::None &&
        listing.Problem != walk::DirProblem::OtherFileSystem)
        NoteUnread(listing.Reason);
}

void HtmlExport::NoteUnread(const std::string& reason) {
    HtmlRun& run = rows_.Run();
    run.Unread = runtime::CheckedAdd<std::int64_t>(run.Unread, 1);
    if (run.UnreadNamed.size() < HtmlUnreadNamed) run.UnreadNamed.emplace_back(path_, reason);
}

void HtmlExport::Read(const tree::DirTree& tree, tree::DirIndex root, bool built) {
    HtmlRun& run = rows_.Run();
    rows_.Dirs().clear();
    if (built || cap_ == 0) {
        WriteTreeRows(tree, root, built ? tree::Selection{.AsLinked = true} : sel_, run.StartPath,
                      rows_);
    } else {
        // The cut the builder makes as the walk goes, made on the whole tree.
        std::vector<char> keep = tree::LargestOfTree(tree, root, sel_.Levels, cap_);
        WriteTreeRows(tree, root, tree::Selection{.AsLinked = true}, run.StartPath, rows_, &keep);
    }
    run.TotalDirs = below_;
    auto shown = static_cast<std::int64_t>(rows_.Dirs().size()) - 1;
    if (cap_ > 0) {
        run.FoldedDeep = deep_;
        run.FoldedSmall = run.TotalDirs - shown - run.FoldedDeep;
    } else {
        run.FoldedSmall = run.TotalDirs - shown;
        run.FoldedDeep = 0;
        run.Cap = rows_.Dirs().size();
    }
    rows_.End();
}

} // namespace kelpo32::output::html
