// The HTML page: one self-contained file on standard output with a treemap
// and a table of the directories, written when the walk is done. The walk's
// directories are gathered by HtmlExport, which keeps only those the page can
// still show; WriteHtmlPage turns any selection of them into the page.
#pragma once

#include "kelpo32/tree/totals.h"
#include "kelpo32/walk/consumer.h"
#include "runtime/textout.h"

#include <chrono>
#include <cstdint>
#include <queue>
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

// The directories a layout of totals lists, as the page's records: each
// parent before its children, what it does not list folded into it.
// `startPath` names the start directory.
std::vector<HtmlDir> HtmlDirsOf(const tree::TotalsDir& root, const std::string& startPath);

// "2026-12-09T05:30:49Z".
std::string HtmlTimeStamp(std::chrono::system_clock::time_point when);

// The consumer: gathers the directories and writes the page at the end. Of
// the directories above the depth limit it keeps the `cap` largest by subtree
// bytes (ties: the one met first), each with its ancestors, which have at
// least its bytes and come first; a finished subtree that cannot make that
// cut is folded into its parent at once, so memory stays near the cap.
class HtmlExport final : public walk::WalkConsumer {
  public:
    // `run` holds what the scan knows before the walk; `maxDepth` is the
    // report's depth limit (levels 0 to maxDepth - 1 are listed).
    HtmlExport(runtime::TextOut& out, HtmlRun run, std::int32_t maxDepth,
               std::size_t cap = HtmlDefaultCap);

    void DirListed(const walk::WalkDir& dir, const walk::WalkListing& listing) override;
    void DirDone(const walk::WalkDir& dir, const walk::WalkListing& listing,
                 std::int64_t total) override;
    void End() override;
    // The page shows the directories this layout of totals lists (its
    // minimum size, top-N and depth limit) instead of the page's own cap; the
    // header's unread directories are still all of the walk's. Set before
    // End; the tree must be done by then.
    void ShowSelection(const tree::TotalsTree* tree) { selection_ = tree; }

    // The directories kept so far, in walk order; after End, those shown.
    const std::vector<HtmlDir>& Dirs() const { return dirs_; }
    const HtmlRun& RunInfo() const { return run_; }

  private:
    // Larger subtrees first; of equal ones, the one met first.
    using Key = std::pair<std::int64_t, std::int64_t>; // bytes, minus the walk position
    Key KeyOf(std::size_t index) const;
    void NoteUnread(std::size_t index);
    void FoldTail(std::size_t from, std::int64_t& counter);
    void Compact();

    runtime::TextOut& out_;
    const tree::TotalsTree* selection_ = nullptr;
    HtmlRun run_;
    std::int32_t maxDepth_;
    std::size_t cap_;
    std::vector<HtmlDir> dirs_;
    struct Place {
        std::int64_t Seq = 0; // its position in the walk
        bool Done = false;    // its subtree is done
    };
    std::vector<Place> places_;      // one per kept directory
    std::vector<std::int32_t> open_; // indexes of the directories whose subtrees are open
    std::priority_queue<Key, std::vector<Key>, std::greater<>> largest_; // at most cap_ keys
    std::int64_t met_ = 0;
};

} // namespace kelpo32::output::html
