#include "kelpo32/tree/merge.h"

#include "kelpo32/tree/select.h"
#include "runtime/rtl.h"

#include <algorithm>
#include <deque>
#include <string_view>
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

// A directory's subdirectories, its "more" records aside, in the byte order
// of their names (of equal ones, the earlier record first).
void ByName(const DirTree& tree, DirIndex parent, std::vector<DirIndex>& kids) {
    kids.clear();
    for (DirIndex c = tree.At(parent).First; c != NoDir; c = tree.At(c).Next)
        if (!tree.IsMore(c)) kids.push_back(c);
    std::sort(kids.begin(), kids.end(), [&](DirIndex a, DirIndex b) {
        std::string_view m = tree.Name(a);
        std::string_view n = tree.Name(b);
        return m != n ? m < n : a < b;
    });
}

// Whether anything in a gone subtree changed by the minimum.
bool ChangedBelow(const DirTree& tree, DirIndex top, std::int64_t minChange) {
    for (DirIndex i = top; i < tree.Size(); ++i)
        if (ChangedItself(tree, i, minChange)) return true;
    return false;
}

} // namespace

DirIndex MergeOlder(const DirTree& now, DirIndex nowRoot, const DirTree& old, DirIndex oldRoot,
                    DirTree& merged, const Selection* listed, std::int64_t* unchanged) {
    if (now.BrowseIfAny() != nullptr) merged.Browse();
    if (!now.OtherKindKnown()) merged.SetOtherKindUnknown();
    Column<CompareCells>& cells = merged.Compared();
    if (nowRoot == NoDir) return NoDir;
    const bool prune = listed != nullptr && listed->ChangedOnly;
    const std::int64_t minChange = prune ? listed->MinChange : 0;
    const bool count = prune && minChange == 0 && unchanged != nullptr;
    // Each directory of the run's match in the older scan, and which of the
    // older scan's were matched: a byte or four per record, where a map per
    // directory cost a few dozen per name.
    std::vector<DirIndex> matchOf(static_cast<std::size_t>(now.Size()), NoDir);
    std::vector<char> taken(static_cast<std::size_t>(old.Size()), 0);
    std::vector<DirIndex> nowKids;
    std::vector<DirIndex> oldKids;
    // An open directory of the run, its match in the older scan (NoDir: it
    // is new, and so is everything below it), the next of its subdirectories
    // to visit, and the chain of the copies of those done that stay. Its own
    // copy is made when it is done, and only if it stays: a chain a million
    // deep holds a million of these, not a copy of itself.
    struct Open {
        DirIndex Now;
        DirIndex Old;
        DirIndex Next;
        DirIndex First = NoDir;
        DirIndex Last = NoDir;
        bool Unknown = false; // the older scan may have left out what it lacks
    };
    std::deque<Open> open;
    auto enter = [&](DirIndex n, DirIndex o) {
        Open d{n, o, now.At(n).First};
        if (o != NoDir) {
            // Both chains in the order of their names, matched in one pass.
            ByName(now, n, nowKids);
            ByName(old, o, oldKids);
            std::size_t j = 0;
            for (DirIndex c : nowKids) {
                std::string_view name = now.Name(c);
                while (j < oldKids.size() && old.Name(oldKids[j]) < name)
                    ++j;
                if (j == oldKids.size()) break;
                if (old.Name(oldKids[j]) != name) continue;
                matchOf[static_cast<std::size_t>(c)] = oldKids[j];
                taken[static_cast<std::size_t>(oldKids[j])] = 1;
                ++j;
            }
            // The older scan left some of its subdirectories out (a depth
            // limit, a minimum size) or folded them into a "more" record (a
            // top-N): one it does not have may be one of those, so it is
            // neither new nor changed, and is not listed; its numbers stay
            // in its parent's.
            std::int64_t held = 0;
            for (DirIndex c = old.At(o).First; c != NoDir; c = old.At(c).Next) {
                held += old.IsMore(c) ? old.At(c).Subdirs : 1;
                d.Unknown = d.Unknown || old.IsMore(c);
            }
            d.Unknown = d.Unknown || held < old.At(o).Subdirs;
        }
        open.push_back(d);
    };
    // Links `copy` at the end of the innermost open directory's chain.
    auto link = [&](DirIndex copy) {
        Open& parent = open.back();
        if (parent.Last == NoDir)
            parent.First = copy;
        else
            merged.At(parent.Last).Next = copy;
        parent.Last = copy;
    };
    // A directory is done: its copy, with the chain of what stays below it,
    // stays where the comparison may list it; else it goes (the tail of the
    // tree: nothing below it stayed).
    auto done = [&](DirIndex n, DirIndex o, DirIndex first) {
        DirIndex copy = merged.AddCopy(now, n);
        merged.At(copy).First = first;
        if (o != NoDir) cells[copy] = {old.At(o).TotalBytes, old.At(o).TotalFiles(), Mark::Both};
        if (open.empty()) return copy;
        if (!prune || first != NoDir || ChangedItself(merged, copy, minChange)) {
            link(copy);
            return copy;
        }
        // Below an unchanged directory nothing changed: its subdirectories
        // went before it, each counted where it is listed.
        if (count && static_cast<std::int64_t>(open.size()) < listed->Levels) ++*unchanged;
        merged.TruncateTo(copy);
        return NoDir;
    };
    enter(nowRoot, oldRoot);
    while (true) {
        Open& top = open.back();
        if (top.Next != NoDir) {
            DirIndex c = top.Next;
            top.Next = now.At(c).Next;
            DirIndex match =
                top.Old == NoDir || now.IsMore(c) ? NoDir : matchOf[static_cast<std::size_t>(c)];
            if (match == NoDir && top.Unknown && !now.IsMore(c)) continue;
            if (now.At(c).First != NoDir || (match != NoDir && old.At(match).First != NoDir))
                enter(c, match);
            else
                done(c, match, NoDir); // nothing below it in either scan
            continue;
        }
        // What is left of the older subdirectories is gone, in their order.
        if (top.Old != NoDir)
            for (DirIndex c = old.At(top.Old).First; c != NoDir; c = old.At(c).Next) {
                if (old.IsMore(c) || taken[static_cast<std::size_t>(c)] != 0) continue;
                DirIndex gone = AddGone(merged, old, c);
                if (prune && minChange > 0 && !ChangedBelow(merged, gone, minChange))
                    merged.TruncateTo(gone);
                else
                    link(gone);
            }
        const Open finished = top;
        open.pop_back();
        DirIndex copy = done(finished.Now, finished.Old, finished.First);
        if (open.empty()) return copy;
    }
}

} // namespace kelpo32::tree
