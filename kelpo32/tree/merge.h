// The comparison on the tree: the older scan's tree matched into the run's
// by the path below each start directory. Each directory of the run gets the
// older numbers of its match ("both") or none ("new"); each directory only
// in the older scan is added below its parent, after the run's, with zero
// numbers now ("gone").
#pragma once

#include "kelpo32/tree/dir_tree.h"

namespace kelpo32::tree {

void MergeOlder(DirTree& now, DirIndex nowRoot, const DirTree& old, DirIndex oldRoot);

} // namespace kelpo32::tree
