// The selection: which directories of a tree are listed and in what order
// (the sort key, the minimum size, the top-N per directory with its "... and
// M more", the depth limit, the comparison's minimum change). One picker
// judges a directory's subdirectories: the tree builder hands it each one as
// the walk completes it, and ListTree hands it those of a tree that is
// already whole (a saved scan, a comparison, the browser's).
#pragma once

#include "kelpo32/tree/dir_tree.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kelpo32::tree {

inline constexpr std::int32_t AllLevels = 2147483647;

// How siblings are ordered: as listed, or by size (largest first), files,
// name, change or growth (the fastest first).
enum class SortKey : std::uint8_t { None, Size, Files, Name, Change, Growth };

struct Selection {
    SortKey Sort = SortKey::None;
    std::int64_t MinSize = 0;        // a subtree with fewer bytes is not listed
    std::int32_t Top = 0;            // listed subdirectories per directory, the largest; 0: all
    std::int32_t Levels = AllLevels; // directories at this level or deeper are not listed
    // Compared trees: a subtree whose bytes changed by less, holding no
    // subtree that changed by as much, is not listed.
    std::int64_t MinChange = 0;
    // Compared trees without a minimum change: a subtree that did not change
    // at all (bytes, files, in both scans) is not listed.
    bool ChangedOnly = false;
    // The tree was selected as it was built: its chains are listed as they
    // stand, every other field left at its default.
    bool AsLinked = false;
};

// The numbers of a subtree, or of several.
struct Counts {
    std::int64_t Files = 0;
    std::int64_t Bytes = 0;
    std::int64_t Dirs = 0; // directories, at every level
};

// The share of `part` in `whole` in tenths of a percent, rounded to the
// nearest; 0 when the whole is empty.
std::int32_t ShareTenths(std::int64_t part, std::int64_t whole);

// The order of the largest: bytes, then name, then the earlier sibling.
bool Larger(const DirTree& tree, DirIndex a, DirIndex b);

// Judges one directory's subdirectories as they are offered, in the order
// of their chain.
class ChildPicker {
  public:
    ChildPicker() = default;
    // Keeps the subdirectories at the end of `into`, from where it ends now
    // (a stack that the open directories of a listing share), not in a
    // vector of its own.
    explicit ChildPicker(std::vector<DirIndex>& into) : into_(&into), begin_(into.size()) {}

    // Forgets the last directory's.
    void Reset() {
        Store().resize(begin_);
        moreCount_ = 0;
        more_ = Counts{};
    }
    // Offers a finished subdirectory at `level`. What the selection rules
    // out (the child itself, or with a top-N the smallest kept so far) is
    // returned to be dropped, its numbers in the parent's "more" when it
    // passed the minimum; NoDir when nothing is.
    DirIndex Offer(const DirTree& tree, const Selection& sel, DirIndex child, std::int32_t level,
                   const std::vector<char>* changed = nullptr);
    // The kept subdirectories in the order of the sort key; names in byte
    // order break ties, then the chain's order.
    std::span<const DirIndex> Ordered(const DirTree& tree, const Selection& sel);
    // The kept ones as they stand (ordered once Ordered was called).
    std::span<const DirIndex> Kept() const {
        const std::vector<DirIndex>& kept = into_ != nullptr ? *into_ : own_;
        return std::span<const DirIndex>(kept).subspan(begin_);
    }
    // Adds a "more" record's directories (a tree read back) to the line.
    void AddMore(const DirRecord& more);
    std::int32_t MoreCount() const { return moreCount_; }
    const Counts& More() const { return more_; }
    // Renumbers the kept ones after the tree was compacted.
    void Remap(const std::vector<DirIndex>& remap);

  private:
    std::vector<DirIndex>& Store() { return into_ != nullptr ? *into_ : own_; }

    // The kept ones, from begin_ on (with a top-N a heap, the smallest at
    // its front): in own_, or at the end of the stack it was handed.
    std::vector<DirIndex> own_;
    std::vector<DirIndex>* into_ = nullptr;
    std::size_t begin_ = 0;
    std::int32_t moreCount_ = 0;
    Counts more_;
};

// One listed line of a whole tree: a directory, or the "... and M more" of
// its parent (Dir is NoDir).
struct Listed {
    DirIndex Dir = NoDir;
    std::int32_t Depth = 0;
    std::int32_t Id = 0;       // among its listed siblings, from 1; 0 at the root
    std::int32_t Siblings = 0; // listed siblings, itself and a "more" line included
    std::int32_t Children = 0; // its listed subdirectories, a "more" line included
    DirIndex Parent = NoDir;
    // A directory's listed subdirectories in their order; valid while the
    // line is told. A "more" record is the "more" line.
    std::span<const DirIndex> Kids;
    std::int32_t MoreCount = 0; // a "more" line: how many, and their numbers
    Counts More;
};

// What is told each listed line, parents before their children.
class ListVisitor {
  public:
    ListVisitor() = default;
    ListVisitor(const ListVisitor&) = delete;
    ListVisitor& operator=(const ListVisitor&) = delete;
    virtual ~ListVisitor() = default;
    virtual void Line(const Listed& line) = 0;
};

// Whether a compared directory's own numbers list it as changed: its bytes
// by at least `minChange`, or with 0 at all (its bytes, its files, or it is
// in one scan only).
bool ChangedItself(const DirTree& tree, DirIndex i, std::int64_t minChange);

// Lists the tree below `root` as the selection says. A tree a builder
// already selected lists whole with the empty selection. `keep`: one byte
// per record, a directory with 0 is not listed (closed upwards, as
// LargestOfTree gives it).
void ListTree(const DirTree& tree, DirIndex root, const Selection& sel, ListVisitor& visitor,
              const std::vector<char>* keep = nullptr);

} // namespace kelpo32::tree
