// The browser's corrections of the tree after a change on disk: every
// total above the change follows it at once, without a rescan, in both
// size kinds.
#pragma once

#include "kelpo32/tree/dir_tree.h"

#include <cstdint>

namespace kelpo32::browse {

// A file of `dir` is gone: `bytes` of the tree's size kind, `other` of the
// other kind, `files` of the count (0 for a file the walk did not count:
// another link of one counted elsewhere).
void DropFile(tree::DirTree& tree, tree::DirIndex dir, std::int64_t bytes, std::int64_t other,
              std::int64_t files);

// The subtree of `dir` is gone (the parents must be known).
void DropDir(tree::DirTree& tree, tree::DirIndex dir);

// The subtree of `dir` becomes `from`'s at `fromRoot` (a rescan of it).
void SwapDir(tree::DirTree& tree, tree::DirIndex dir, tree::DirTree& from, tree::DirIndex fromRoot);

} // namespace kelpo32::browse
