#include "kelpo32/walk/linkset.h"

namespace kelpo32::walk {

namespace {

constexpr std::size_t FirstSlots = 1024;

// Inode numbers come in runs: a multiplicative hash spreads them, and the
// high bits are the slot.
std::size_t SlotOf(std::uint64_t inode, std::size_t mask) {
    return static_cast<std::size_t>((inode * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

} // namespace

bool LinkSet::Place(std::vector<std::uint64_t>& slots, std::uint64_t inode) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = SlotOf(inode, mask);; i = (i + 1) & mask) {
        if (slots[i] == inode) return false;
        if (slots[i] == 0) {
            slots[i] = inode;
            return true;
        }
    }
}

void LinkSet::Grow(Table& table) {
    // The new table is made before the old one goes: a failed allocation
    // leaves the set as it was.
    std::vector<std::uint64_t> slots(table.Slots.empty() ? FirstSlots : 2 * table.Slots.size());
    for (std::uint64_t inode : table.Slots)
        if (inode != 0) Place(slots, inode);
    table.Slots.swap(slots);
}

bool LinkSet::Insert(std::uint64_t device, std::uint64_t inode) {
    if (last_ >= tables_.size() || tables_[last_].Device != device) {
        last_ = 0;
        while (last_ < tables_.size() && tables_[last_].Device != device)
            ++last_;
        if (last_ == tables_.size()) tables_.push_back(Table{device, {}, 0});
    }
    Table& table = tables_[last_];
    // At most three quarters full, so a probe ends soon.
    if ((table.Used + 1) * 4 > table.Slots.size() * 3) Grow(table);
    if (!Place(table.Slots, inode)) return false;
    ++table.Used;
    return true;
}

} // namespace kelpo32::walk
