// The comparison on the tree: the older scan's tree matched into the run's
// by the path below each start directory. Each directory of the run gets the
// older numbers of its match ("both") or none ("new"); each directory only
// in the older scan is added below its parent, after the run's, with zero
// numbers now ("gone"). Where the older scan left subdirectories out (a
// depth limit, a minimum size), a directory it does not have is taken out
// of its parent's chain: whether it is new is not known, and its numbers
// stay in its parent's.
#pragma once

#include "kelpo32/tree/dir_tree.h"

namespace kelpo32::tree {

void MergeOlder(DirTree& now, DirIndex nowRoot, const DirTree& old, DirIndex oldRoot);

} // namespace kelpo32::tree
