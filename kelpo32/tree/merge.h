// The comparison on the tree: the older scan's tree matched into a copy of
// the run's by the path below each start directory, neither tree changed.
// Each directory of the run gets the older numbers of its match ("both") or
// none ("new"); each directory only in the older scan is added below its
// parent, after the run's, with zero numbers now ("gone"). Where the older
// scan left subdirectories out (a depth limit, a minimum size), a directory
// it does not have is left out of its parent's chain: whether it is new is
// not known, and its numbers stay in its parent's.
#pragma once

#include "kelpo32/tree/dir_tree.h"

namespace kelpo32::tree {

// Fills `merged`, an empty tree, with the run's tree `now` below `nowRoot`
// (the browser's column and its other size kind as `now` has them) matched
// with `old` below `oldRoot`, and the compared column; returns its root.
DirIndex MergeOlder(const DirTree& now, DirIndex nowRoot, const DirTree& old, DirIndex oldRoot,
                    DirTree& merged);

} // namespace kelpo32::tree
