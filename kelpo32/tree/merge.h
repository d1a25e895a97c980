// The comparison on the tree: the older scan's tree matched into a copy of
// the run's by the path below each start directory, neither tree changed.
// Each directory of the run gets the older numbers of its match ("both") or
// none ("new"); each directory only in the older scan is added below its
// parent, after the run's, with zero numbers now ("gone"). Where the older
// scan left subdirectories out (a depth limit, a minimum size) or folded
// them into a "more" record (a top-N), a directory it does not have is left
// out of its parent's chain: whether it is new is not known, and its numbers
// stay in its parent's. Each directory's two chains are matched in one pass
// in the order of their names.
#pragma once

#include "kelpo32/tree/dir_tree.h"
#include "kelpo32/tree/select.h"

#include <cstdint>

namespace kelpo32::tree {

// Fills `merged`, an empty tree, with the run's tree `now` below `nowRoot`
// (the browser's column and its other size kind as `now` has them) matched
// with `old` below `oldRoot`, and the compared column; returns its root.
// With `listed`, a selection that lists changed directories only (its
// ChangedOnly, by its MinChange if it has one), a subtree it cannot list
// goes as soon as it is matched, so the compared tree holds what may be
// listed; `unchanged` then counts the directories above the depth limit left
// out as unchanged.
DirIndex MergeOlder(const DirTree& now, DirIndex nowRoot, const DirTree& old, DirIndex oldRoot,
                    DirTree& merged, const Selection* listed = nullptr,
                    std::int64_t* unchanged = nullptr);

} // namespace kelpo32::tree
