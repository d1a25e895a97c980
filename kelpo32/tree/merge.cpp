#include "kelpo32/tree/merge.h"

#include "runtime/rtl.h"

#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelpo32::tree {

namespace {

// The older scan's subtree at `at`, gone now: its names and older numbers.
DirIndex AddGone(DirTree& into, const DirTree& old, DirIndex at) {
    auto copy = [&](DirIndex source) {
        DirIndex i = into.Add(old.Name(source));
        if (i == NoDir) runtime::RaiseRangeError();
        into.Compared()[i] = {old.At(source).TotalBytes, old.At(source).TotalFiles(), Mark::Gone};
        return i;
    };
    DirIndex top = copy(at);
    std::vector<std::pair<DirIndex, DirIndex>> todo{{at, top}};
    while (!todo.empty()) {
        auto [source, parent] = todo.back();
        todo.pop_back();
        DirIndex last = NoDir;
        for (DirIndex c = old.At(source).First; c != NoDir; c = old.At(c).Next) {
            if (old.IsMore(c)) continue;
            last = into.Append(parent, last, copy(c));
            todo.emplace_back(c, last);
        }
    }
    return top;
}

} // namespace

DirIndex MergeOlder(const DirTree& now, DirIndex nowRoot, const DirTree& old, DirIndex oldRoot,
                    DirTree& merged) {
    if (now.BrowseIfAny() != nullptr) merged.Browse();
    if (!now.OtherKindKnown()) merged.SetOtherKindUnknown();
    Column<CompareCells>& cells = merged.Compared();
    if (nowRoot == NoDir) return NoDir;
    const DirIndex root = merged.AddCopy(now, nowRoot);
    // A directory of the run, its copy, and its match in the older scan
    // (NoDir: it is new, and so is everything below it).
    struct Match {
        DirIndex Now;
        DirIndex Copy;
        DirIndex Old;
    };
    std::vector<Match> todo{{nowRoot, root, oldRoot}};
    while (!todo.empty()) {
        auto [n, m, o] = todo.back();
        todo.pop_back();
        DirIndex last = NoDir;
        if (o == NoDir) {
            for (DirIndex c = now.At(n).First; c != NoDir; c = now.At(c).Next) {
                last = merged.Append(m, last, merged.AddCopy(now, c));
                todo.push_back({c, last, NoDir});
            }
            continue;
        }
        cells[m] = {old.At(o).TotalBytes, old.At(o).TotalFiles(), Mark::Both};
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
        for (DirIndex c = now.At(n).First; c != NoDir; c = now.At(c).Next) {
            auto it = now.IsMore(c) ? older.end() : older.find(now.Name(c));
            if (it == older.end() && unknown && !now.IsMore(c)) continue;
            last = merged.Append(m, last, merged.AddCopy(now, c));
            DirIndex match = NoDir;
            if (it != older.end()) {
                match = it->second;
                older.erase(it);
            }
            todo.push_back({c, last, match});
        }
        // What is left of the older subdirectories is gone, in their order.
        for (DirIndex c = old.At(o).First; c != NoDir; c = old.At(c).Next)
            if (!old.IsMore(c) && older.count(old.Name(c)) != 0)
                last = merged.Append(m, last, AddGone(merged, old, c));
    }
    return root;
}

} // namespace kelpo32::tree
