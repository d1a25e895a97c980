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

void DropDir(tree::DirTree& tree, tree::DirIndex dir) {
    tree::DirIndex parent = tree.Parents(dir)[dir];
    if (parent == tree::NoDir) runtime::RaiseRangeError();
    std::int64_t other = tree.Browse()[dir].OtherTotalBytes;
    tree.Remove(dir);
    AddOther(tree, parent, -other);
}

void SwapDir(tree::DirTree& tree, tree::DirIndex dir, tree::DirTree& from,
             tree::DirIndex fromRoot) {
    tree::DirIndex parent = tree.Parents(dir)[dir];
    if (parent == tree::NoDir) runtime::RaiseRangeError();
    std::int64_t before = tree.Browse()[dir].OtherTotalBytes;
    tree.Replace(dir, from, fromRoot);
    std::int64_t after = from.Browse()[fromRoot].OtherTotalBytes;
    AddOther(tree, parent, after - before);
}

} // namespace kelpo32::browse
