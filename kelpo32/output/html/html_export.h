// The HTML page: one self-contained file on standard output with a treemap
// and a table of the directories, written when the walk is done. The rows of
// a layout become the page's directories (HtmlRows); the page's own layout,
// HtmlExport, keeps only the directories it can still show; WriteHtmlPage
// turns any selection of them into the page.
#pragma once

#include "kelpo32/output/dir_row.h"
#include "kelpo32/tree/builder.h"
#include "kelpo32/walk/consumer.h"
#include "runtime/textout.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelpo32::output::html {

// One directory on the page.
struct HtmlDir {
    std::int32_t Parent = -1; // index of its parent among the page's directories; -1: the start
    std::int32_t Depth = 0;   // 0 at the start directory
    std::string Name;         // as the exports write it; for the start directory its path
    std::int64_t Files = 0;   // directly in it
    std::int64_t Bytes = 0;
    std::int64_t TotalFiles = 0; // in its whole subtree
    std::int64_t TotalBytes = 0;
    // Directories below it that the page does not show; their numbers are in
    // its totals.
    std::int64_t Folded = 0;
    std::string Problem; // why it was not read or not entered; empty when it was
    // With a comparison: the change of its subtree's bytes since the older
    // scan, and "new" or "gone" where it is in one scan only.
    std::int64_t Change = 0;
    std::string State;
    // With a growth: its rate in bytes per day (Rated), and the chart of its
    // sizes in the window's scans.
    bool Rated = false;
    std::int64_t Rate = 0;
    std::string Chart;
};

// What the page's header says about the run.
struct HtmlRun {
    std::string StartPath;
    std::string ScanTime; // UTC, as HtmlTimeStamp gives it
    char Separator = '/';
    std::vector<std::string> Options; // the options that shaped the numbers, as typed
    std::int64_t TotalDirs = 0;       // directories below the start, shown or not
    std::int64_t FoldedSmall = 0;     // not shown for the cap on the page's size
    std::int64_t FoldedDeep = 0;      // not shown for the depth limit
    std::int32_t DepthLimit = 0;      // the deepest level listed (/V); 0: none
    std::size_t Cap = 0;              // the most directories the page shows
    std::int64_t Unread = 0;          // directories that could not be read
    std::vector<std::pair<std::string, std::string>> UnreadNamed; // the first ones: path, reason
    // A comparison with an older scan of this start directory: the page
    // colours each directory by its change.
    bool Compare = false;
    std::string OldStart;
    // A growth over a history (a comparison with the window's first scan):
    // what the page says of it, and the window's sizes of each directory.
    bool Growth = false;
    std::string Forecast;
    GrowthHead Head;
};

// The most directories a page shows unless told otherwise: a page of them
// stays a few megabytes and is laid out in a moment.
inline constexpr std::size_t HtmlDefaultCap = 20000;
// Unread directories named in the header; the rest are counted.
inline constexpr std::size_t HtmlUnreadNamed = 100;

// Writes the page for `dirs`: in walk order, the start directory first and
// every parent before its children. The seam for any selection of the
// directories: each HtmlDir's Folded says what its totals hold beyond the
// directories shown.
void WriteHtmlPage(runtime::TextOut& out, const HtmlRun& run, const std::vector<HtmlDir>& dirs);

// "2026-12-09T05:30:49Z".
std::string HtmlTimeStamp(std::chrono::system_clock::time_point when);

// The page as a form's writer of rows: each row becomes one of the page's
// directories (a "more" row is folded into its parent), and the page is
// written at the end. A comparison's rows give the page the change and mark
// of each directory.
class HtmlRows final : public RowWriter {
  public:
    HtmlRows(runtime::TextOut& out, HtmlRun run) : out_(out), run_(std::move(run)) {}
    void Row(const DirRow& row) override;
    void Growth(const GrowthHead& head) override;
    void End() override;
    std::vector<HtmlDir>& Dirs() { return dirs_; }
    HtmlRun& Run() { return run_; }

  private:
    runtime::TextOut& out_;
    HtmlRun run_;
    std::vector<HtmlDir> dirs_;
    std::vector<std::int32_t> atLevel_; // the page index of the last row at each level
    std::int64_t below_ = 0;            // directories below the start, shown or not
};

// The page's own layout: the tree its selection keeps, written as rows and
// then as the page once the tree is had. Without a minimum size or a top-N,
// the directories above the depth limit are capped at the `cap` largest by
// subtree bytes (ties: the one met first), each with its ancestors, which
// have at least its bytes and come first. From the walk a builder keeps
// only those as it goes (a finished subtree that cannot make the cut goes at
// once, so memory stays near the cap); a saved scan's tree is read in place,
// with no second tree. The header's unread directories are all of the
// run's events, which it takes as well.
class HtmlExport final : public tree::TreeReader, public walk::WalkConsumer {
  public:
    // The cap largest; `levels` listed (0 to levels - 1).
    HtmlExport(runtime::TextOut& out, HtmlRun run, std::int32_t levels,
               std::size_t cap = HtmlDefaultCap);
    // What `sel` lists (a minimum size, a top-N, the depth limit), in its order.
    HtmlExport(runtime::TextOut& out, HtmlRun run, const tree::Selection& sel);

    tree::Selection Building() const override { return sel_; }
    std::size_t Cap() const override { return cap_; }
    walk::WalkConsumer* Events() override { return this; }
    void Read(const tree::DirTree& tree, tree::DirIndex root, bool built) override;

    void Begin() override;
    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override;

    // The page's directories once it is written, in its order.
    const std::vector<HtmlDir>& Dirs() { return rows_.Dirs(); }
    const HtmlRun& RunInfo() { return rows_.Run(); }

  private:
    void NoteUnread(const std::string& reason);

    tree::Selection sel_;
    std::size_t cap_; // 0: what the selection lists, uncapped
    HtmlRows rows_;
    std::string path_;                // of the directory listed last, for the unread ones
    std::vector<std::uint32_t> ends_; // of each open level's path
    std::int64_t below_ = 0;          // directories below the start, listed or not
    std::int64_t deep_ = 0;           // of those, below the depth limit
};

} // namespace kelpo32::output::html
