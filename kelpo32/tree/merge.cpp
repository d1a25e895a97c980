#include "kelpo32/tree/merge.h"

#include "runtime/rtl.h"

#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelpo32::tree {

namespace {

// The older scan's subtree at `at`, gone now: its names and older numbers.
DirIndex AddGone(DirTree& now, const DirTree& old, DirIndex at) {
    auto copy = [&](DirIndex source) {
        DirIndex i = now.Add(old.Name(source));
        if (i == NoDir) runtime::RaiseRangeError();
        now.Compared()[i] = {old.At(source).TotalBytes, old.At(source).TotalFiles(), Mark::Gone};
        return i;
    };
    DirIndex top = copy(at);
    std::vector<std::pair<DirIndex, DirIndex>> todo{{at, top}};
    while (!todo.empty()) {
        auto [source, into] = todo.back();
        todo.pop_back();
        DirIndex last = NoDir;
        for (DirIndex c = old.At(source).First; c != NoDir; c = old.At(c).Next) {
            if (old.IsMore(c)) continue;
            last = now.Append(into, last, copy(c));
            todo.emplace_back(c, last);
        }
    }
    return top;
}

} // namespace

void MergeOlder(DirTree& now, DirIndex nowRoot, const DirTree& old, DirIndex oldRoot) {
    Column<CompareCells>& cells = now.Compared();
    if (nowRoot == NoDir) return;
    std::vector<std::pair<DirIndex, DirIndex>> todo{{nowRoot, oldRoot}};
    while (!todo.empty()) {
        auto [n, o] = todo.back();
        todo.pop_back();
        if (o == NoDir) continue; // new, and so is everything below it
        cells[n] = {old.At(o).TotalBytes, old.At(o).TotalFiles(), Mark::Both};
        // A map of its own per directory: clearing a wide one's buckets each
        // time would cost its width for every later directory.
        std::unordered_map<std::string_view, DirIndex> older;
        std::int64_t listed = 0;
        for (DirIndex c = old.At(o).First; c != NoDir; c = old.At(c).Next) {
            listed += old.IsMore(c) ? old.At(c).Subdirs : 1;
            if (!old.IsMore(c)) older.emplace(old.Name(c), c);
        }
        // The older scan left some of its subdirectories out (a depth limit,
        // a minimum size): one it does not have may be one of those, so it
        // is not listed as new; its numbers stay in its parent's.
        const bool unknown = listed < old.At(o).Subdirs;
        DirIndex last = NoDir;
        for (DirIndex* link = &now.At(n).First; *link != NoDir;) {
            DirIndex c = *link;
            auto it = now.IsMore(c) ? older.end() : older.find(now.Name(c));
            if (it == older.end() && unknown && !now.IsMore(c)) {
                *link = now.At(c).Next;
                continue;
            }
            last = c;
            link = &now.At(c).Next;
            if (it == older.end()) continue;
            todo.emplace_back(c, it->second);
            older.erase(it);
        }
        // What is left of the older subdirectories is gone, in their order.
        for (DirIndex c = old.At(o).First; c != NoDir; c = old.At(c).Next)
            if (!old.IsMore(c) && older.count(old.Name(c)) != 0)
                last = now.Append(n, last, AddGone(now, old, c));
    }
}

} // namespace kelpo32::tree
