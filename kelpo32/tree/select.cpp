#include "kelpo32/tree/select.h"

#include "runtime/rtl.h"

#include <algorithm>
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
        bool keep =
            d == root || (min > 0 ? ChangedEnough(Change(tree, d), min) : ChangedAtAll(tree, d));
        for (DirIndex c = tree.At(d).First; c != NoDir && !keep; c = tree.At(c).Next)
            keep = changed[static_cast<std::size_t>(c)] != 0;
        changed[static_cast<std::size_t>(d)] = static_cast<char>(keep);
    }
    return changed;
}

} // namespace

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
    kept_.push_back(child);
    if (sel.Top <= 0) return NoDir;
    auto larger = [&](DirIndex a, DirIndex b) { return Larger(tree, a, b); };
    std::push_heap(kept_.begin(), kept_.end(), larger);
    if (kept_.size() <= static_cast<std::size_t>(sel.Top)) return NoDir;
    std::pop_heap(kept_.begin(), kept_.end(), larger);
    DirIndex smallest = kept_.back();
    kept_.pop_back();
    moreCount_ = runtime::CheckedAdd<std::int32_t>(moreCount_, 1);
    Counts c = AsChild(tree.At(smallest));
    more_ = {runtime::CheckedAdd(more_.Files, c.Files), runtime::CheckedAdd(more_.Bytes, c.Bytes),
             runtime::CheckedAdd(more_.Dirs, c.Dirs)};
    return smallest;
}

const std::vector<DirIndex>& ChildPicker::Ordered(const DirTree& tree, const Selection& sel) {
    auto name = [&](DirIndex a, DirIndex b) {
        std::string_view m = tree.Name(a);
        std::string_view n = tree.Name(b);
        return m != n ? m < n : a < b;
    };
    auto& c = kept_;
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
    for (DirIndex& k : kept_)
        k = remap[static_cast<std::size_t>(k)];
    std::erase(kept_, NoDir);
}

std::int64_t UnchangedLeftOut(const DirTree& tree, DirIndex root, const Selection& sel) {
    if (root == NoDir || !sel.ChangedOnly || sel.MinChange > 0 || tree.ComparedIfAny() == nullptr)
        return 0;
    std::vector<char> changed = ChangedSubtrees(tree, root, 0);
    // Below an unchanged directory nothing changed: its subtree is counted
    // down to the depth limit.
    std::int64_t count = 0;
    std::vector<std::pair<DirIndex, std::int32_t>> open{{root, 0}};
    while (!open.empty()) {
        auto [d, level] = open.back();
        open.pop_back();
        std::int32_t below = runtime::CheckedAdd(level, 1);
        if (below >= sel.Levels) continue;
        for (DirIndex c = tree.At(d).First; c != NoDir; c = tree.At(c).Next) {
            if (changed[static_cast<std::size_t>(c)] == 0) ++count;
            open.emplace_back(c, below);
        }
    }
    return count;
}

void ListTree(const DirTree& tree, DirIndex root, const Selection& sel, ListVisitor& visitor) {
    if (root == NoDir) return;
    std::vector<char> changed;
    if ((sel.MinChange > 0 || sel.ChangedOnly) && tree.ComparedIfAny() != nullptr)
        changed = ChangedSubtrees(tree, root, sel.MinChange);
    const std::vector<char>* filter = changed.empty() ? nullptr : &changed;
    // One picker per open level holds the listed subdirectories of the
    // directory there, and how far they have been visited.
    std::vector<ChildPicker> pickers;
    std::vector<std::size_t> next;
    std::vector<Listed> open;
    auto enter = [&](Listed line) {
        auto level = static_cast<std::size_t>(line.Depth);
        if (pickers.size() <= level) {
            pickers.resize(level + 1);
            next.resize(level + 1);
        }
        ChildPicker& picker = pickers[level];
        picker.Reset();
        std::int32_t below = runtime::CheckedAdd(line.Depth, 1);
        for (DirIndex c = tree.At(line.Dir).First; c != NoDir; c = tree.At(c).Next)
            if (tree.IsMore(c))
                picker.AddMore(tree.At(c));
            else
                picker.Offer(tree, sel, c, below, filter);
        const std::vector<DirIndex>& kids = picker.Ordered(tree, sel);
        line.Children = runtime::CheckedAdd(runtime::CheckedRange<std::int32_t>(kids.size()),
                                            picker.MoreCount() > 0 ? 1 : 0);
        next[level] = 0;
        line.Kids = &kids;
        visitor.Line(line);
        line.Kids = nullptr;
        open.push_back(line);
    };
    Listed first;
    first.Dir = root;
    enter(first);
    while (!open.empty()) {
        const Listed top = open.back();
        auto level = static_cast<std::size_t>(top.Depth);
        const ChildPicker& picker = pickers[level];
        const std::vector<DirIndex>& kids = picker.Kept();
        std::size_t at = next[level]++;
        if (at < kids.size()) {
            Listed line;
            line.Dir = kids[at];
            line.Depth = top.Depth + 1;
            line.Id = static_cast<std::int32_t>(at + 1);
            line.Siblings = top.Children;
            line.Parent = top.Dir;
            enter(line);
            continue;
        }
        open.pop_back();
        if (picker.MoreCount() == 0) continue;
        Listed more;
        more.Depth = top.Depth + 1;
        more.Id = top.Children;
        more.Siblings = top.Children;
        more.Parent = top.Dir;
        more.MoreCount = picker.MoreCount();
        more.More = picker.More();
        visitor.Line(more);
    }
}

} // namespace kelpo32::tree
