// The tree of directories every layout, saved scan and view reads: one
// compact record per directory in blocks of records (never moved once
// made), names in an arena of their own, problems as a small index into a
// table of reasons, and optional columns that only the views that need them
// pay for (the comparison's older numbers; the browser's other size kind
// and identity; each directory's parent; a saved scan's files).
//
// Records link to their first subdirectory and their next sibling by index.
// A directory's subdirectories are its chain, in the walk's order unless a
// selection ordered them.
#pragma once

#include "kelpo32/walk/consumer.h"
#include "runtime/dirsearch.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32::tree {

using DirIndex = std::int32_t;
inline constexpr DirIndex NoDir = -1;

// One directory. Kept at 48 bytes: a tree of a million directories fits in
// 64 MiB with their names.
struct DirRecord {
    std::int64_t OwnBytes = 0;   // of the files directly in it
    std::int64_t TotalBytes = 0; // of its whole subtree, its own included
    std::uint32_t Name = 0;      // its entry in the name arena (or a mark: IsMore)
    std::int32_t OwnFiles = 0;   // files directly in it
    std::int32_t Subdirs = 0;    // subdirectories its listing holds (listed or not)
    std::int32_t TotalDirs = 0;  // directories below it, at every level
    DirIndex First = NoDir;      // its first subdirectory in the tree
    DirIndex Next = NoDir;       // its next sibling

    static constexpr std::int64_t MaxFiles = (std::int64_t{1} << 48) - 1;
    // Files of the whole subtree, its own included (up to MaxFiles).
    std::int64_t TotalFiles() const { return static_cast<std::int64_t>(packed_ & FilesMask); }
    void SetTotalFiles(std::int64_t files);
    // Its problem: an index into the tree's table (0: read whole).
    std::uint16_t Trouble() const { return static_cast<std::uint16_t>(packed_ >> 48); }
    void SetTrouble(std::uint16_t index) {
        packed_ = (packed_ & FilesMask) | (static_cast<std::uint64_t>(index) << 48);
    }

  private:
    static constexpr std::uint64_t FilesMask = (std::uint64_t{1} << 48) - 1;
    std::uint64_t packed_ = 0; // files below 2^48, the problem's index above
};

// Why a directory was not read, or not whole: an entry of the tree's table.
struct DirTrouble {
    walk::DirProblem Problem = walk::DirProblem::None;
    bool Partial = false; // read only in part: its numbers are what was read
    std::string Reason;   // short English, as the walk gives it
};

// A directory compared with an older scan (--compare).
enum class Mark : std::uint8_t {
    New,  // only in the run's scan
    Gone, // only in the older scan: its numbers now are zero
    Both,
};
struct CompareCells {
    std::int64_t OldBytes = 0; // the older scan's subtree bytes
    std::int64_t OldFiles = 0; // and files
    Mark State = Mark::New;
};

// A directory's growth over a history of scans (--growth): its rate in
// bytes per day over the window (RateKnown false where fewer than two scans
// tell its size), its change over the last day, week and month (Unknown
// where the history is too short) and its row in the table of its sizes in
// the window's scans (-1: none).
struct GrowthCells {
    static constexpr std::int64_t Unknown = std::numeric_limits<std::int64_t>::min();
    double Rate = 0;
    bool RateKnown = false;
    std::array<std::int64_t, 3> Changes{Unknown, Unknown, Unknown};
    std::int32_t Series = -1;
};

// What the browser needs besides the record. The other size kind is
// meaningful only where the tree's OtherKindKnown() is true; a "more" record
// of a selection has none (0).
struct BrowseCells {
    std::int64_t OtherOwnBytes = 0;   // the other size kind (apparent or on disk)
    std::int64_t OtherTotalBytes = 0; // the same of its subtree
    runtime::DirIdentity Identity;    // device and inode, or volume and file id
};

// Names, each as [length][bytes], in 64 KiB slots addressed by 32 bits; a
// name longer than a slot takes several in one piece.
class NameArena {
  public:
    static constexpr std::uint32_t Full = 0xFFFFFFF0U; // addresses from here on are marks
    // Its address, or Full when the arena's addresses are spent.
    std::uint32_t Add(std::string_view name);
    std::string_view At(std::uint32_t address) const;
    std::uint32_t End() const { return end_; }
    // Forgets every name from `address` on; their room is used again.
    void TruncateTo(std::uint32_t address) { end_ = address; }
    std::size_t Bytes() const { return bytes_; }

  private:
    static constexpr unsigned SlotBits = 16;
    static constexpr std::size_t SlotSize = std::size_t{1} << SlotBits;
    bool Room(std::size_t need);
    std::vector<std::unique_ptr<char[]>> pieces_; // what was allocated
    std::vector<char*> slots_;                    // where each slot is
    std::uint32_t end_ = 0;
    std::size_t bytes_ = 0;
};

// A column of optional cells beside the records, grown with them.
template <typename T> class Column {
  public:
    T& operator[](DirIndex i) { return blocks_[Block(i)][Slot(i)]; }
    const T& operator[](DirIndex i) const { return blocks_[Block(i)][Slot(i)]; }
    void Grow(std::size_t records) {
        while (blocks_.size() * BlockSize < records)
            blocks_.push_back(std::make_unique<T[]>(BlockSize));
    }
    std::size_t Bytes() const { return blocks_.size() * BlockSize * sizeof(T); }

    static constexpr std::size_t BlockSize = 4096;
    static std::size_t Block(DirIndex i) { return static_cast<std::size_t>(i) / BlockSize; }
    static std::size_t Slot(DirIndex i) { return static_cast<std::size_t>(i) % BlockSize; }

  private:
    std::vector<std::unique_ptr<T[]>> blocks_;
};

class FileStore; // file_store.h

class DirTree {
  public:
    DirTree();
    DirTree(DirTree&&) noexcept;
    DirTree& operator=(DirTree&&) noexcept;
    ~DirTree();

    // A new record named `name` (UTF-8; empty for the start directory),
    // linked to nothing; NoDir when the tree can hold no more.
    DirIndex Add(std::string_view name);
    // A record of the "... and M more" line of a selection: `count`
    // directories, their sums in the totals.
    DirIndex AddMore(std::int32_t count);
    DirIndex Size() const { return size_; }
    DirRecord& At(DirIndex i) { return records_[i]; }
    const DirRecord& At(DirIndex i) const { return records_[i]; }
    std::string_view Name(DirIndex i) const;
    bool IsMore(DirIndex i) const { return records_[i].Name == MoreName; }
    bool IsLive(DirIndex i) const { return records_[i].Name != DeadName; }

    // Problems: the table's index of one (the same entry for the same
    // problem, reason and partial), and the entry.
    std::uint16_t TroubleIndex(walk::DirProblem problem, std::string_view reason, bool partial);
    const DirTrouble& Trouble(DirIndex i) const { return troubles_[records_[i].Trouble()]; }
    void SetTrouble(DirIndex i, walk::DirProblem problem, std::string_view reason, bool partial) {
        records_[i].SetTrouble(TroubleIndex(problem, reason, partial));
    }

    // Appends `child` to the chain of `parent` after `last` (NoDir: it is
    // the first); returns the chain's new end.
    DirIndex Append(DirIndex parent, DirIndex last, DirIndex child);

    // The records from `from` on go (a finished subtree at the tail).
    void TruncateTo(DirIndex from);
    // Marks the subtree of `dir` gone; Compact reclaims it.
    void Kill(DirIndex dir);
    DirIndex Dead() const { return dead_; }
    // Moves the live records together, in their order; `remap` is told
    // each record's new index (NoDir: gone). Names are copied afresh.
    void Compact(std::vector<DirIndex>& remap);

    // Optional columns, made on demand.
    Column<CompareCells>& Compared();
    const Column<CompareCells>* ComparedIfAny() const { return compare_.get(); }
    Column<GrowthCells>& Growth();
    const Column<GrowthCells>* GrowthIfAny() const { return growth_.get(); }
    Column<BrowseCells>& Browse();
    Column<BrowseCells>* BrowseIfAny() { return browse_.get(); }
    const Column<BrowseCells>* BrowseIfAny() const { return browse_.get(); }
    // Each record's parent (NoDir at a root), filled from the links.
    const Column<DirIndex>& Parents(DirIndex root);
    // Whether the browse column's other size kind holds numbers: false once
    // a source that keeps one kind only (JSON Lines, or a rescan without the
    // column) fed the tree; its OtherOwnBytes and OtherTotalBytes then mean
    // nothing and the browser cannot switch kinds.
    bool OtherKindKnown() const { return otherKnown_; }
    void SetOtherKindUnknown() { otherKnown_ = false; }
    // The files of a saved scan that holds them, for the browser; made on
    // demand (the readers make it only when the browser asks).
    FileStore& Files();
    const FileStore* FilesIfAny() const { return files_.get(); }

    // The browser's edits, on a tree whose parents are known: `dir`'s
    // subtree goes and its ancestors' totals drop by its numbers; or its
    // subtree becomes `from`'s subtree at `fromRoot` (a rescan of it).
    void Remove(DirIndex dir);
    void Replace(DirIndex dir, const DirTree& from, DirIndex fromRoot);
    // Copies `from`'s subtree at `at` into this tree, named `name`, linked to
    // nothing; its root's index.
    DirIndex CopySubtree(const DirTree& from, DirIndex at, std::string_view name);
    // Copies `from`'s record at `at` alone, linked to nothing: its name (a
    // "more" record stays one), numbers, problem and, where both trees have
    // the browser's column or the compared one, its cells.
    DirIndex AddCopy(const DirTree& from, DirIndex at) {
        return CopyRecord(from, at, from.Name(at));
    }

    // What the tree holds now, in bytes (records, names, columns).
    std::size_t Bytes() const;

    static constexpr std::uint32_t MoreName = 0xFFFFFFFFU;
    static constexpr std::uint32_t DeadName = 0xFFFFFFFEU;

  private:
    void GrowColumns();
    DirIndex CopyRecord(const DirTree& from, DirIndex at, std::string_view name);
    void Unlink(DirIndex dir);

    Column<DirRecord> records_;
    NameArena names_;
    std::vector<DirTrouble> troubles_;
    std::unique_ptr<Column<CompareCells>> compare_;
    std::unique_ptr<Column<BrowseCells>> browse_;
    std::unique_ptr<Column<GrowthCells>> growth_;
    std::unique_ptr<Column<DirIndex>> parents_;
    std::unique_ptr<FileStore> files_;
    DirIndex size_ = 0;
    DirIndex dead_ = 0; // records killed since the last compaction
    bool otherKnown_ = true;
};

} // namespace kelpo32::tree
