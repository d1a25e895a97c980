// The files of several links already counted, by device and inode, so that
// each counts once, where it is met first. Per device a table of inode
// numbers in shards of their own (open addressing, 8 bytes a slot, no
// allocation per file), each grown by a quarter when it fills: millions of
// linked files cost tens of megabytes, and growing never holds a second copy
// of more than one shard. A set made with values keeps 4 bytes more per file
// (the ncdu reader's: the directory where the file counts).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelpo32::walk {

class LinkSet {
  public:
    explicit LinkSet(bool values = false) : values_(values) {}

    // True the first time the file is met. `inode` is never 0 (the listing
    // did not tell: such a file is never remembered).
    bool Insert(std::uint64_t device, std::uint64_t inode);
    // The same for a set made with values: a file met first takes `value`;
    // either way its value is returned, to read or change until the next call.
    std::int32_t& Keep(std::uint64_t device, std::uint64_t inode, std::int32_t value, bool& first);

    // What its tables take, in bytes.
    std::size_t Bytes() const;

  private:
    static constexpr unsigned ShardBits = 6;
    // Inodes (0: a free slot) and, in a set with values, their values beside.
    struct Shard {
        std::vector<std::uint64_t> Inodes;
        std::vector<std::int32_t> Values;
        std::size_t Used = 0;
    };
    struct Table {
        std::uint64_t Device = 0;
        std::array<Shard, std::size_t{1} << ShardBits> Shards;
    };

    // The slot of `inode` in its shard, made room for: free or its own.
    std::size_t Slot(std::uint64_t device, std::uint64_t inode, Shard*& shard);
    void Grow(Shard& shard) const;

    std::vector<Table> tables_;
    std::size_t last_ = 0; // the table used last: most files are on one device
    bool values_;
};

} // namespace kelpo32::walk
