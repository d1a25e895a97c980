// The files of several links the walk has counted, by device and inode, so
// that each counts once, where the walk meets it first. A flat table of
// inode numbers per device (open addressing, 8 bytes a slot, no allocation
// per file): millions of linked files cost tens of megabytes, not hundreds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelpo32::walk {

class LinkSet {
  public:
    // True the first time the file is met. `inode` is never 0 (the listing
    // did not tell: such a file is never remembered).
    bool Insert(std::uint64_t device, std::uint64_t inode);

  private:
    // The inodes of one device; 0 marks a free slot.
    struct Table {
        std::uint64_t Device = 0;
        std::vector<std::uint64_t> Slots; // a power of two in size, or empty
        std::size_t Used = 0;
    };
    std::vector<Table> tables_;
    std::size_t last_ = 0; // the table used last: most files are on one device

    static bool Place(std::vector<std::uint64_t>& slots, std::uint64_t inode);
    static void Grow(Table& table);
};

} // namespace kelpo32::walk
