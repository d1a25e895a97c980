#include "kelpo32/tree/select.h"

#include "runtime/rtl.h"

#include <algorithm>
#include <deque>
#include <utility>

namespace kelpo32::tree {

namespace {

// The subtree and every directory in it, as a directory of its parent.
Counts AsChild(const DirRecord& d) {
    return {d.TotalFiles(), d.TotalBytes, runtime::CheckedAdd<std::int64_t>(d.TotalDirs, 1)};
}

std::int64_t Change(const DirTree& tree, DirIndex i) {
    return tree.At(i).TotalBytes - (*tree.ComparedIfAny())[i].OldBytes;
}

// The size of a change whatever its sign, of the most negative too.
std::uint64_t Magnitude(std::int64_t change) {
    return change < 0 ? 0 - static_cast<std::uint64_t>(change) : static_cast<std::uint64_t>(change);
}

bool ChangedEnough(std::int64_t change, std::int64_t min) {
    return change < 0 ? change <= -min : change >= min;
}

// Whether a directory's subtree changed at all: its bytes, its files, or it
// is in one scan only.
bool ChangedAtAll(const DirTree& tree, DirIndex i) {
    const CompareCells& c = (*tree.ComparedIfAny())[i];
    return c.State != Mark::Both || tree.At(i).TotalBytes != c.OldBytes ||
           tree.At(i).TotalFiles() != c.OldFiles;
}

// Which subtrees changed by the minimum (0: at all) or hold one that did
// (the root always): one pass from the leaves up.
std::vector<char> ChangedSubtrees(const DirTree& tree, DirIndex root, std::int64_t min) {
    std::vector<char> changed(static_cast<std::size_t>(tree.Size()), 0);
    std::vector<DirIndex> order{root};
    for (std::size_t i = 0; i < order.size(); ++i)
        for (DirIndex c = tree.At(order[i]).First; c != NoDir; c = tree.At(c).Next)
            order.push_back(c);
    // Children come after their parent in `order`: from its end, each
    // subtree's answer is known before its parent's.
    for (std::size_t i = order.size(); i-- > 0;) {
        DirIndex d = order[i];
        bool keep = d == root || ChangedItself(tree, d, min);
        for (DirIndex c = tree.At(d).First; c != NoDir && !keep; c = tree.At(c).Next)
            keep = changed[static_cast<std::size_t>(c)] != 0;
        changed[static_cast<std::size_t>(d)] = static_cast<char>(keep);
    }
    return changed;
}

} // namespace

bool ChangedItself(const DirTree& tree, DirIndex i, std::int64_t minChange) {
    return minChange > 0 ? ChangedEnough(Change(tree, i), minChange) : ChangedAtAll(tree, i);
}

std::int32_t ShareTenths(std::int64_t part, std::int64_t whole) {
    if (whole <= 0 || part <= 0) return 0;
    // In floating point: part * 1000 would overflow near the 64-bit limit.
    long double share = static_cast<long double>(part) * 1000.0L / static_cast<long double>(whole);
    return static_cast<std::int32_t>(std::min<long double>(share + 0.5L, 1000.0L));
}

bool Larger(const DirTree& tree, DirIndex a, DirIndex b) {
    std::int64_t x = tree.At(a).TotalBytes;
    std::int64_t y = tree.At(b).TotalBytes;
    if (x != y) return x > y;
    std::string_view m = tree.Name(a);
    std::string_view n = tree.Name(b);
    if (m != n) return m < n;
    return a < b;
}

DirIndex ChildPicker::Offer(const DirTree& tree, const Selection& sel, DirIndex child,
                            std::int32_t level, const std::vector<char>* changed) {
    if (level >= sel.Levels) return child;
    if (changed != nullptr && (*changed)[static_cast<std::size_t>(child)] == 0) return child;
    if (tree.At(child).TotalBytes < sel.MinSize) return child;
    std::vector<DirIndex>& kept = Store();
    kept.push_back(child);
    if (sel.Top <= 0) return NoDir;
    auto larger = [&](DirIndex a, DirIndex b) { return Larger(tree, a, b); };
    auto first = kept.begin() + static_cast<std::ptrdiff_t>(begin_);
    std::push_heap(first, kept.end(), larger);
    if (kept.size() - begin_ <= static_cast<std::size_t>(sel.Top)) return NoDir;
    std::pop_heap(first, kept.end(), larger);
    DirIndex smallest = kept.back();
    kept.pop_back();
    moreCount_ = runtime::CheckedAdd<std::int32_t>(moreCount_, 1);
    Counts c = AsChild(tree.At(smallest));
    more_ = {runtime::CheckedAdd(more_.Files, c.Files), runtime::CheckedAdd(more_.Bytes, c.Bytes),
             runtime::CheckedAdd(more_.Dirs, c.Dirs)};
    return smallest;
}

std::span<const DirIndex> ChildPicker::Ordered(const DirTree& tree, const Selection& sel) {
    auto name = [&](DirIndex a, DirIndex b) {
        std::string_view m = tree.Name(a);
        std::string_view n = tree.Name(b);
        return m != n ? m < n : a < b;
    };
    std::span<DirIndex> c = std::span<DirIndex>(Store()).subspan(begin_);
    if (sel.AsLinked) return c;
    switch (sel.Sort) {
    case SortKey::Size:
        std::sort(c.begin(), c.end(), [&](DirIndex a, DirIndex b) { return Larger(tree, a, b); });
        break;
    case SortKey::Files:
        std::sort(c.begin(), c.end(), [&](DirIndex a, DirIndex b) {
            std::int64_t x = tree.At(a).TotalFiles();
            std::int64_t y = tree.At(b).TotalFiles();
            return x != y ? x > y : name(a, b);
        });
        break;
    case SortKey::Name:
        std::sort(c.begin(), c.end(), name);
        break;
    case SortKey::Change:
        // The largest change first, growth or shrink; a tree that was not
        // compared keeps its order.
        if (tree.ComparedIfAny() != nullptr) {
            std::sort(c.begin(), c.end(), [&](DirIndex a, DirIndex b) {
                std::uint64_t x = Magnitude(Change(tree, a));
                std::uint64_t y = Magnitude(Change(tree, b));
                return x != y ? x > y : name(a, b);
            });
            break;
        }
        [[fallthrough]];
    case SortKey::Growth:
        // The fastest growth first; a rate not known after every known one.
        if (const Column<GrowthCells>* g = tree.GrowthIfAny();
            g != nullptr && sel.Sort == SortKey::Growth) {
            std::sort(c.begin(), c.end(), [&](DirIndex a, DirIndex b) {
                const GrowthCells& x = (*g)[a];
                const GrowthCells& y = (*g)[b];
                if (x.RateKnown != y.RateKnown) return x.RateKnown;
                if (x.RateKnown && x.Rate != y.Rate) return x.Rate > y.Rate;
                return name(a, b);
            });
            break;
        }
        [[fallthrough]];
    case SortKey::None:
        std::sort(c.begin(), c.end());
        break;
    }
    return c;
}

void ChildPicker::AddMore(const DirRecord& more) {
    moreCount_ = runtime::CheckedAdd(moreCount_, more.Subdirs);
    more_ = {runtime::CheckedAdd(more_.Files, more.TotalFiles()),
             runtime::CheckedAdd(more_.Bytes, more.TotalBytes),
             runtime::CheckedAdd<std::int64_t>(more_.Dirs, more.TotalDirs)};
}

void ChildPicker::Remap(const std::vector<DirIndex>& remap) {
    std::vector<DirIndex>& kept = Store();
    for (auto k = kept.begin() + static_cast<std::ptrdiff_t>(begin_); k != kept.end(); ++k)
        *k = remap[static_cast<std::size_t>(*k)];
    kept.erase(std::remove(kept.begin() + static_cast<std::ptrdiff_t>(begin_), kept.end(), NoDir),
               kept.end());
}

void ListTree(const DirTree& tree, DirIndex root, const Selection& sel, ListVisitor& visitor,
              const std::vector<char>* keep) {
    if (root == NoDir) return;
    std::vector<char> changed;
    if (keep == nullptr && (sel.MinChange > 0 || sel.ChangedOnly) &&
        tree.ComparedIfAny() != nullptr)
        changed = ChangedSubtrees(tree, root, sel.MinChange);
    const std::vector<char>* filter = keep != nullptr ? keep : changed.empty() ? nullptr : &changed;
    // The listed subdirectories of every open directory, in their order, one
    // directory's after another's, each told one marked (~index): a level
    // costs where its own begin, and a chain a million deep 8 bytes a level.
    std::vector<DirIndex> kids;
    std::deque<std::uint32_t> begins;
    // The "more" line of an open directory that has one.
    struct MoreLine {
        std::size_t Level;
        std::int32_t Count;
        Counts More;
    };
    std::vector<MoreLine> mores;
    // Of the open directory at `level`, whose subdirectories end at `end`:
    // how many of them were told.
    auto told = [&](std::size_t level, std::size_t end) {
        auto first = kids.begin() + static_cast<std::ptrdiff_t>(begins[level]);
        auto it = std::partition_point(first, kids.begin() + static_cast<std::ptrdiff_t>(end),
                                       [](DirIndex k) { return k < 0; });
        return static_cast<std::size_t>(it - first);
    };
    // The open directory at `level` (the one its parent told last).
    auto dirAt = [&](std::size_t level) {
        if (level == 0) return root;
        return ~kids[begins[level - 1] + told(level - 1, begins[level]) - 1];
    };
    auto enter = [&](Listed line) {
        begins.push_back(runtime::CheckedRange<std::uint32_t>(kids.size()));
        ChildPicker picker(kids);
        std::int32_t below = runtime::CheckedAdd(line.Depth, 1);
        for (DirIndex c = tree.At(line.Dir).First; c != NoDir; c = tree.At(c).Next)
            if (tree.IsMore(c))
                picker.AddMore(tree.At(c));
            else
                picker.Offer(tree, sel, c, below, filter);
        std::span<const DirIndex> ordered = picker.Ordered(tree, sel);
        line.Children = runtime::CheckedAdd(runtime::CheckedRange<std::int32_t>(ordered.size()),
                                            picker.MoreCount() > 0 ? 1 : 0);
        if (picker.MoreCount() > 0)
            mores.push_back(
                {static_cast<std::size_t>(line.Depth), picker.MoreCount(), picker.More()});
        line.Kids = std::span<const DirIndex>(kids).subspan(begins.back());
        visitor.Line(line);
    };
    Listed first;
    first.Dir = root;
    enter(first);
    while (!begins.empty()) {
        const std::size_t level = begins.size() - 1;
        const std::size_t count = kids.size() - begins[level];
        const bool more = !mores.empty() && mores.back().Level == level;
        const auto children = static_cast<std::int32_t>(count + (more ? 1 : 0));
        const std::size_t at = told(level, kids.size());
        const DirIndex dir = dirAt(level);
        if (at < count) {
            DirIndex& kid = kids[begins[level] + at];
            Listed line;
            line.Dir = kid;
            line.Depth = static_cast<std::int32_t>(level) + 1;
            line.Id = static_cast<std::int32_t>(at + 1);
            line.Siblings = children;
            line.Parent = dir;
            kid = ~kid;
            enter(line);
            continue;
        }
        kids.resize(begins[level]);
        begins.pop_back();
        if (!more) continue;
        Listed line;
        line.Depth = static_cast<std::int32_t>(level) + 1;
        line.Id = children;
        line.Siblings = children;
        line.Parent = dir;
        line.MoreCount = mores.back().Count;
        line.More = mores.back().More;
        mores.pop_back();
        visitor.Line(line);
    }
}

} // namespace kelpo32::tree
