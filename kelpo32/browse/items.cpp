#include "kelpo32/browse/items.h"

#include "runtime/utf8name.h"

#include <algorithm>
#include <unordered_map>

namespace kelpo32::browse {

std::int64_t FileBytes(const runtime::DirEntry& entry, bool diskUsage) {
    std::uint64_t bytes = diskUsage ? entry.DiskBytes : entry.Size;
    constexpr auto Most = static_cast<std::uint64_t>(INT64_MAX);
    return static_cast<std::int64_t>(std::min(bytes, Most));
}

std::string EntryName(const runtime::DirEntry& entry) {
    std::string name;
    runtime::AppendUtf8Name(name, entry.Name, entry.Native);
    return name;
}

namespace {

Flag FlagOf(const tree::DirTrouble& t) {
    switch (t.Problem) {
    case walk::DirProblem::None:
        return t.Partial ? Flag::Partial : Flag::None;
    case walk::DirProblem::Unreadable:
    case walk::DirProblem::Unexpected:
        return t.Partial ? Flag::Partial : Flag::Unreadable;
    case walk::DirProblem::Cycle:
    case walk::DirProblem::OtherFileSystem:
    case walk::DirProblem::Link:
        return Flag::NotEntered;
    }
    return Flag::None;
}

bool IsDirectory(const runtime::DirEntry& e) {
    return e.Type == runtime::EntryType::Directory;
}

} // namespace

std::vector<Item> CollectItems(tree::DirTree& tree, tree::DirIndex dir,
                               std::span<const runtime::DirEntry> listing,
                               const ItemSettings& settings) {
    std::vector<Item> items;
    std::unordered_map<std::string, std::int32_t> dirs; // listed directories by name
    for (std::size_t k = 0; k < listing.size(); ++k)
        if (IsDirectory(listing[k]))
            dirs.emplace(EntryName(listing[k]), static_cast<std::int32_t>(k));
    const tree::Column<tree::CompareCells>* compared =
        settings.Compared ? tree.ComparedIfAny() : nullptr;
    const tree::Column<tree::BrowseCells>& cells = tree.Browse();
    for (tree::DirIndex c = tree.At(dir).First; c != tree::NoDir; c = tree.At(c).Next) {
        if (tree.IsMore(c) || !tree.IsLive(c)) continue;
        const tree::DirRecord& r = tree.At(c);
        Item item;
        item.Name = std::string(tree.Name(c));
        item.Dir = c;
        item.Bytes = settings.OtherKind ? cells[c].OtherTotalBytes : r.TotalBytes;
        item.Files = r.TotalFiles();
        item.Why = FlagOf(tree.Trouble(c));
        if (compared != nullptr) {
            const tree::CompareCells& old = (*compared)[c];
            item.State = old.State;
            item.Change = r.TotalBytes - old.OldBytes;
            if (old.State == tree::Mark::Gone) item.Bytes = old.OldBytes;
        }
        if (auto it = dirs.find(item.Name); it != dirs.end()) item.Entry = it->second;
        items.push_back(std::move(item));
    }
    bool disk = settings.DiskUsage != settings.OtherKind;
    for (std::size_t k = 0; k < listing.size(); ++k) {
        const runtime::DirEntry& e = listing[k];
        if (IsDirectory(e)) continue;
        Item item;
        item.Name = EntryName(e);
        item.Entry = static_cast<std::int32_t>(k);
        item.Bytes = FileBytes(e, disk);
        if (e.Type == runtime::EntryType::Other)
            item.Why = Flag::Other;
        else if (e.Links > 1)
            item.Why = Flag::HardLink;
        items.push_back(std::move(item));
    }
    SortItems(items, settings);
    return items;
}

void SortItems(std::vector<Item>& items, const ItemSettings& settings) {
    auto key = [&](const Item& a, const Item& b) -> int {
        auto cmp = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
        switch (settings.Sort) {
        case Order::Size:
            return cmp(b.Bytes, a.Bytes);
        case Order::Files:
            return cmp(b.Files, a.Files);
        case Order::Change:
            return cmp(b.Change, a.Change);
        case Order::Name:
            return 0;
        }
        return 0;
    };
    bool reverse = settings.Reverse;
    std::stable_sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
        int k = key(a, b);
        if (k == 0) k = a.Name < b.Name ? -1 : (b.Name < a.Name ? 1 : 0);
        return reverse ? k > 0 : k < 0;
    });
}

} // namespace kelpo32::browse
