#include "kelpo32/browse/edits.h"

#include "runtime/rtl.h"

#include <algorithm>

namespace kelpo32::browse {

namespace {

// Adds `bytes` of the other size kind to `dir` and everything above it.
void AddOther(tree::DirTree& tree, tree::DirIndex dir, std::int64_t bytes) {
    tree::Column<tree::BrowseCells>& cells = tree.Browse();
    const tree::Column<tree::DirIndex>& parents = tree.Parents(dir);
    for (tree::DirIndex a = dir; a != tree::NoDir; a = parents[a])
        cells[a].OtherTotalBytes = std::max<std::int64_t>(0, cells[a].OtherTotalBytes + bytes);
}

} // namespace

void DropFile(tree::DirTree& tree, tree::DirIndex dir, std::int64_t bytes, std::int64_t other,
              std::int64_t files) {
    tree::DirRecord& own = tree.At(dir);
    own.OwnBytes = std::max<std::int64_t>(0, own.OwnBytes - bytes);
    own.OwnFiles = std::max<std::int32_t>(0, own.OwnFiles - static_cast<std::int32_t>(files));
    tree::BrowseCells& cell = tree.Browse()[dir];
    cell.OtherOwnBytes = std::max<std::int64_t>(0, cell.OtherOwnBytes - other);
    const tree::Column<tree::DirIndex>& parents = tree.Parents(dir);
    for (tree::DirIndex a = dir; a != tree::NoDir; a = parents[a]) {
        tree::DirRecord& r = tree.At(a);
        r.TotalBytes = std::max<std::int64_t>(0, r.TotalBytes - bytes);
        r.SetTotalFiles(std::max<std::int64_t>(0, r.TotalFiles() - files));
    }
    AddOther(tree, dir, -other);
}

// The tree's own edits correct the totals above, of both size kinds.
void DropDir(tree::DirTree& tree, tree::DirIndex dir) {
    if (tree.Parents(dir)[dir] == tree::NoDir) runtime::RaiseRangeError();
    tree.Remove(dir);
}

void SwapDir(tree::DirTree& tree, tree::DirIndex dir, tree::DirTree& from,
             tree::DirIndex fromRoot) {
    if (tree.Parents(dir)[dir] == tree::NoDir) runtime::RaiseRangeError();
    tree.Replace(dir, from, fromRoot);
}

} // namespace kelpo32::browse
