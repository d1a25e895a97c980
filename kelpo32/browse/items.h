// The entries of the directory on screen: its subdirectories, from the tree,
// and its other entries, from the directory's listing; each with the numbers
// a row shows, in the order the user chose.
#pragma once

#include "kelpo32/tree/dir_tree.h"
#include "runtime/dirsearch.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelpo32::browse {

// How the entries are ordered; a key chosen again reverses it.
enum class Order : std::uint8_t { Size, Name, Files, Change, Growth };

// Why an entry's numbers are not the whole of it, or not the scan's.
enum class Flag : std::uint8_t {
    None,
    Unreadable, // could not be read
    Partial,    // read only in part
    NotEntered, // a link, another file system or a cycle: not entered
    HardLink,   // a file of several links
    Other,      // not a file or directory: a link, FIFO, device
    New,        // made since the scan: in no total
};

class LinkedFiles;

struct Item {
    std::string Name; // UTF-8 as the tree and the exports hold it
    // A subdirectory's record; NoDir for a file, or a directory made since
    // the scan.
    tree::DirIndex Dir = tree::NoDir;
    std::int32_t Entry = -1;             // its entry in the listing; -1 when it has none
    std::int64_t Bytes = 0;              // of the size kind shown
    std::int64_t Files = -1;             // files below a directory; -1 for a file
    std::int64_t Change = 0;             // bytes since the older scan (compared trees)
    tree::Mark State = tree::Mark::Both; // compared trees: new, gone or in both
    Flag Why = Flag::None;
    bool Folder = false; // a directory
    // Its bytes are in the totals; not those of a link counted at another
    // link, or of an entry made since the scan.
    bool Counted = true;
    // Over a history (--history): its rate in bytes per day, where known,
    // and its growth's cells for the chart.
    const tree::GrowthCells* Growth = nullptr;
    bool Directory() const { return Folder; }
};

// What the rows show and how they are ordered.
struct ItemSettings {
    bool DiskUsage = false; // the run counted bytes on disk (else apparent sizes)
    bool OtherKind = false; // the size kind the run did not count (the tree's Browse column)
    bool Compared = false;  // the tree has the older scan's numbers
    Order Sort = Order::Size;
    bool Reverse = false;    // the key's other direction
    bool CountLinks = false; // every link of a file of several counts
    // Where the walk counted each file of several links; nullptr: not known.
    const LinkedFiles* Links = nullptr;
    // When the scan began, in nanoseconds since 1970 (0: not known): an
    // entry changed since, in a directory whose count of files changed, is
    // one the scan did not count.
    std::int64_t ScanStart = 0;
};

// The items of directory `dir`: its subdirectories as the tree holds them,
// the entries of `listing` that are not directories, and the listed
// directories the tree does not hold (made since the scan). A subdirectory
// is matched to its listed entry by name (Item::Entry).
std::vector<Item> CollectItems(tree::DirTree& tree, tree::DirIndex dir,
                               std::span<const runtime::DirEntry> listing,
                               const ItemSettings& settings);

// Orders the items as the settings say: size, files and the size of the
// change (grown or shrunk) largest first, names in byte order; ties by name.
void SortItems(std::vector<Item>& items, const ItemSettings& settings);

// A file's bytes of the size kind shown: disk usage or apparent size.
std::int64_t FileBytes(const runtime::DirEntry& entry, bool diskUsage);

// The UTF-8 name of a listed entry, as the tree names directories.
std::string EntryName(const runtime::DirEntry& entry);

} // namespace kelpo32::browse
