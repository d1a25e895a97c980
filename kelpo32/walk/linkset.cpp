#include "kelpo32/walk/linkset.h"

#include <cassert>

namespace kelpo32::walk {

namespace {

constexpr std::size_t FirstSlots = 16;

// Inode numbers come in runs: a multiplicative hash spreads them. Its top
// bits choose the shard, the 32 below them the place in it (scaled to the
// shard's size, which need not be a power of two).
std::uint64_t HashOf(std::uint64_t inode) {
    return inode * 0x9E3779B97F4A7C15ull;
}

std::size_t Start(std::uint64_t hash, std::size_t slots) {
    auto high = static_cast<std::uint32_t>(hash >> 26);
    return static_cast<std::size_t>((std::uint64_t{high} * slots) >> 32);
}

std::size_t Probe(const std::vector<std::uint64_t>& inodes, std::uint64_t inode,
                  std::uint64_t hash) {
    const std::size_t n = inodes.size();
    for (std::size_t i = Start(hash, n);; i = i + 1 == n ? 0 : i + 1)
        if (inodes[i] == inode || inodes[i] == 0) return i;
}

} // namespace

void LinkSet::Grow(Shard& shard) const {
    // The new shard is made before the old one goes: a failed allocation
    // leaves the set as it was.
    std::size_t old = shard.Inodes.size();
    std::size_t size = old == 0 ? FirstSlots : old + old / 4;
    std::vector<std::uint64_t> inodes(size);
    std::vector<std::int32_t> values(values_ ? size : 0);
    for (std::size_t k = 0; k < old; ++k) {
        std::uint64_t inode = shard.Inodes[k];
        if (inode == 0) continue;
        std::size_t at = Probe(inodes, inode, HashOf(inode));
        inodes[at] = inode;
        if (values_) values[at] = shard.Values[k];
    }
    shard.Inodes.swap(inodes);
    shard.Values.swap(values);
}

std::size_t LinkSet::Slot(std::uint64_t device, std::uint64_t inode, Shard*& shard) {
    if (last_ >= tables_.size() || tables_[last_].Device != device) {
        last_ = 0;
        while (last_ < tables_.size() && tables_[last_].Device != device)
            ++last_;
        if (last_ == tables_.size()) {
            tables_.emplace_back();
            tables_.back().Device = device;
        }
    }
    std::uint64_t hash = HashOf(inode);
    shard = &tables_[last_].Shards[static_cast<std::size_t>(hash >> (64 - ShardBits))];
    // At most four fifths full, so a probe ends soon.
    if ((shard->Used + 1) * 5 > shard->Inodes.size() * 4) Grow(*shard);
    return Probe(shard->Inodes, inode, hash);
}

bool LinkSet::Insert(std::uint64_t device, std::uint64_t inode) {
    assert(!values_);
    Shard* shard = nullptr;
    std::size_t at = Slot(device, inode, shard);
    if (shard->Inodes[at] == inode) return false;
    shard->Inodes[at] = inode;
    ++shard->Used;
    return true;
}

std::int32_t& LinkSet::Keep(std::uint64_t device, std::uint64_t inode, std::int32_t value,
                            bool& first) {
    assert(values_);
    Shard* shard = nullptr;
    std::size_t at = Slot(device, inode, shard);
    first = shard->Inodes[at] != inode;
    if (first) {
        shard->Inodes[at] = inode;
        shard->Values[at] = value;
        ++shard->Used;
    }
    return shard->Values[at];
}

std::size_t LinkSet::Bytes() const {
    std::size_t bytes = tables_.capacity() * sizeof(Table);
    for (const Table& t : tables_)
        for (const Shard& s : t.Shards)
            bytes += s.Inodes.capacity() * sizeof(std::uint64_t) +
                     s.Values.capacity() * sizeof(std::int32_t);
    return bytes;
}

} // namespace kelpo32::walk
