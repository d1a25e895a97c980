// A browsing session: the screen taken, the walk shown while it runs (or a
// saved scan read), the older scan matched in, then the view until the user
// quits; the terminal given back on every way out.
#pragma once

#include "kelpo32/browse/growth_view.h"
#include "kelpo32/output/fields.h"
#include "kelpo32/tree/dir_tree.h"
#include "kelpo32/walk/walk.h"

#include <functional>

namespace kelpo32::saved {
struct SavedScan;
}

namespace kelpo32::browse {

// What a session is set to do.
struct BrowseSettings {
    walk::WalkOptions Walk; // the walk of the scan and of each rescan
    bool ReadOnly = false;  // the browser deletes nothing
    // A size kind was asked for (--disk-usage, --apparent-size); else the
    // browser shows disk usage first.
    bool KindAsked = false;
    // With a history (--history): told the walked tree before the view
    // (which records it), and the source of the growth over a window.
    std::function<void(const tree::DirTree& tree, tree::DirIndex root)> Walked;
    GrowthView::Source Growth;
    std::int64_t Window = 0;
    // What the history said of its files, written once the terminal is back.
    const std::string* Notes = nullptr;
};

// Browses the start directory `start`, or the saved scan `from`; with
// `old`, beside that older scan. Ends the run when the screen cannot be had
// (not a terminal, not in the foreground).
void RunBrowse(const BrowseSettings& settings, const output::RunStart& start,
               saved::SavedScan* from, const saved::SavedScan* old);

} // namespace kelpo32::browse
