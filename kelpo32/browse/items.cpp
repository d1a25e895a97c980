#include "kelpo32/browse/items.h"

#include "kelpo32/browse/linked.h"
#include "runtime/utf8name.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

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
    items.reserve(listing.size() + static_cast<std::size_t>(tree.At(dir).Subdirs));
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
        item.Folder = true;
        item.Bytes = settings.OtherKind ? cells[c].OtherTotalBytes : r.TotalBytes;
        item.Files = r.TotalFiles();
        item.Why = FlagOf(tree.Trouble(c));
        if (compared != nullptr) {
            const tree::CompareCells& old = (*compared)[c];
            item.State = old.State;
            item.Change = r.TotalBytes - old.OldBytes;
            if (old.State == tree::Mark::Gone) item.Bytes = old.OldBytes;
        }
        if (auto it = dirs.find(item.Name); it != dirs.end()) {
            item.Entry = it->second;
            dirs.erase(it);
        }
        items.push_back(std::move(item));
    }
    // What is listed and not in the tree was made since the scan.
    for (const auto& [name, k] : dirs) {
        Item item;
        item.Name = name;
        item.Entry = k;
        item.Folder = true;
        item.Why = Flag::New;
        item.Counted = false;
        items.push_back(std::move(item));
    }
    bool disk = settings.DiskUsage != settings.OtherKind;
    // Files changed since the scan began are new only when the count of
    // files (every name, as the walk counts them) differs from the scan's: a
    // clock that differs from the file system's then marks nothing in a
    // directory left as it was.
    std::int64_t files = 0;
    std::vector<std::size_t> changed;
    std::unordered_set<std::uint64_t> linkSeen; // inodes of links counted here, met
    for (std::size_t k = 0; k < listing.size(); ++k) {
        const runtime::DirEntry& e = listing[k];
        if (IsDirectory(e)) continue;
        Item item;
        item.Name = EntryName(e);
        item.Entry = static_cast<std::int32_t>(k);
        item.Bytes = FileBytes(e, disk);
        if (e.Type == runtime::EntryType::Other) item.Why = Flag::Other;
        if (e.Links > 1 && e.Type != runtime::EntryType::Other) item.Why = Flag::HardLink;
        if (e.Links > 1 && !settings.CountLinks && settings.Links != nullptr) {
            // Counted where the walk met it first: at one link of this
            // directory, or at one elsewhere.
            const LinkedFiles::File* f = settings.Links->Find(e.Device, e.Inode);
            if (f != nullptr)
                item.Counted = f->Dirs.front() == dir && linkSeen.insert(e.Inode).second;
        }
        ++files;
        if (item.Counted && settings.ScanStart > 0 && e.Changed >= settings.ScanStart)
            changed.push_back(items.size());
        items.push_back(std::move(item));
    }
    if (files != tree.At(dir).OwnFiles) {
        for (std::size_t k : changed) {
            items[k].Why = Flag::New;
            items[k].Counted = false;
        }
    }
    SortItems(items, settings);
    return items;
}

namespace {

// The first eight bytes of a name as one number in byte order: most names
// differ there, so most comparisons of names are one comparison of numbers.
std::uint64_t Prefix(std::string_view name) {
    std::uint64_t p = 0;
    for (std::size_t k = 0; k < 8; ++k)
        p = (p << 8) | (k < name.size() ? static_cast<unsigned char>(name[k]) : 0U);
    return p;
}

} // namespace

void SortItems(std::vector<Item>& items, const ItemSettings& settings) {
    // The key and the name's first bytes beside each item's place are
    // sorted, then the items are moved into that order in place: a
    // directory of 100,000 entries is ordered in milliseconds.
    struct Keyed {
        std::int64_t Key;
        std::uint64_t Prefix;
        std::string_view Name;
        std::uint32_t At;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(items.size());
    for (std::size_t k = 0; k < items.size(); ++k) {
        const Item& item = items[k];
        std::int64_t key = 0;
        switch (settings.Sort) {
        case Order::Size:
            key = item.Bytes;
            break;
        case Order::Files:
            key = item.Files;
            break;
        case Order::Change:
            // Grown or shrunk: the size of the change orders.
            key = item.Change < 0 ? -std::max(item.Change, -INT64_MAX) : item.Change;
            break;
        case Order::Growth:
            // A rate not known after every known one.
            key = item.Growth != nullptr && item.Growth->RateKnown
                      ? static_cast<std::int64_t>(item.Growth->Rate)
                      : std::numeric_limits<std::int64_t>::min();
            break;
        case Order::Name:
            break;
        }
        keyed.push_back({key, Prefix(item.Name), item.Name, static_cast<std::uint32_t>(k)});
    }
    // Largest first; names in byte order break ties (and are the name order).
    auto before = [](const Keyed& a, const Keyed& b) {
        if (a.Key != b.Key) return a.Key > b.Key;
        if (a.Prefix != b.Prefix) return a.Prefix < b.Prefix;
        return a.Name < b.Name;
    };
    if (settings.Reverse)
        std::sort(keyed.begin(), keyed.end(),
                  [&](const Keyed& a, const Keyed& b) { return before(b, a); });
    else
        std::sort(keyed.begin(), keyed.end(), before);
    // Each cycle of the permutation moved round once.
    std::vector<std::uint32_t> from(items.size());
    for (std::size_t k = 0; k < keyed.size(); ++k)
        from[k] = keyed[k].At;
    for (std::size_t start = 0; start < from.size(); ++start) {
        if (from[start] == start) continue;
        Item held = std::move(items[start]);
        std::size_t k = start;
        while (from[k] != start) {
            std::size_t next = from[k];
            items[k] = std::move(items[next]);
            from[k] = static_cast<std::uint32_t>(k);
            k = next;
        }
        items[k] = std::move(held);
        from[k] = static_cast<std::uint32_t>(k);
    }
}

} // namespace kelpo32::browse
