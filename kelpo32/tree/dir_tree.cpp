#include "kelpo32/tree/dir_tree.h"

#include "kelpo32/tree/file_store.h"
#include "runtime/rtl.h"

#include <cstring>
#include <limits>

namespace kelpo32::tree {

static_assert(sizeof(DirRecord) == 48, "a directory's record stays at 48 bytes");

namespace {

// Distinct problems a tree keeps; beyond, the same problem with a reason of
// its own shares one entry.
// The reasons kept (the table's first entry is "no problem").
constexpr std::size_t TroubleLimit = 1000;
constexpr std::string_view SharedReason = "could not be read";

std::size_t LengthBytes(std::size_t n) {
    std::size_t k = 1;
    for (; n >= 0x80; n >>= 7)
        ++k;
    return k;
}

} // namespace

void DirRecord::SetTotalFiles(std::int64_t files) {
    if (files < 0 || static_cast<std::uint64_t>(files) > FilesMask) runtime::RaiseRangeError();
    packed_ = (packed_ & ~FilesMask) | static_cast<std::uint64_t>(files);
}

// Makes room for `need` bytes at the end; false when the addresses are spent.
bool NameArena::Room(std::size_t need) {
    std::size_t used = end_ & (SlotSize - 1);
    std::size_t slot = end_ >> SlotBits;
    if (used != 0 && need <= SlotSize - used) return true;
    if (used != 0) ++slot; // the name starts a slot of its own
    // In 64 bits: a 32-bit size_t would wrap near the last slot.
    std::uint64_t slots = (std::uint64_t{need} + SlotSize - 1) / SlotSize;
    if ((slot + slots) << SlotBits > Full) return false;
    auto span = static_cast<std::size_t>(slots);
    // Slots kept from before serve again when they lie in one piece.
    bool whole = slot + span <= slots_.size();
    for (std::size_t i = 1; whole && i < span; ++i)
        whole = slots_[slot + i] == slots_[slot] + i * SlotSize;
    if (!whole) {
        pieces_.push_back(std::make_unique<char[]>(span * SlotSize));
        bytes_ += span * SlotSize;
        if (slots_.size() < slot + span) slots_.resize(slot + span, nullptr);
        for (std::size_t i = 0; i < span; ++i)
            slots_[slot + i] = pieces_.back().get() + i * SlotSize;
    }
    end_ = static_cast<std::uint32_t>(slot << SlotBits);
    return true;
}

std::uint32_t NameArena::Add(std::string_view name) {
    std::size_t need = LengthBytes(name.size()) + name.size();
    if (need > Full || !Room(need)) return Full;
    std::uint32_t at = end_;
    char* p = slots_[at >> SlotBits] + (at & (SlotSize - 1));
    for (std::size_t n = name.size();; n >>= 7) {
        *p++ = static_cast<char>((n & 0x7F) | (n >= 0x80 ? 0x80 : 0));
        if (n < 0x80) break;
    }
    if (!name.empty()) std::memcpy(p, name.data(), name.size());
    end_ = static_cast<std::uint32_t>(at + need);
    return at;
}

std::string_view NameArena::At(std::uint32_t address) const {
    const char* p = slots_[address >> SlotBits] + (address & (SlotSize - 1));
    std::size_t n = 0;
    for (unsigned shift = 0;; shift += 7) {
        auto c = static_cast<unsigned char>(*p++);
        n |= static_cast<std::size_t>(c & 0x7F) << shift;
        if (c < 0x80) break;
    }
    return {p, n};
}

DirTree::DirTree() {
    troubles_.emplace_back(); // 0: read whole
}

DirTree::DirTree(DirTree&&) noexcept = default;
DirTree& DirTree::operator=(DirTree&&) noexcept = default;
DirTree::~DirTree() = default;

FileStore& DirTree::Files() {
    if (!files_) files_ = std::make_unique<FileStore>();
    return *files_;
}

DirIndex DirTree::Add(std::string_view name) {
    if (size_ >= std::numeric_limits<DirIndex>::max() - 1) return NoDir;
    std::uint32_t address = names_.Add(name);
    if (address == NameArena::Full) return NoDir;
    DirIndex i = size_;
    records_.Grow(static_cast<std::size_t>(i) + 1);
    records_[i] = DirRecord{};
    records_[i].Name = address;
    ++size_;
    GrowColumns();
    return i;
}

DirIndex DirTree::AddMore(std::int32_t count) {
    if (size_ >= std::numeric_limits<DirIndex>::max() - 1) return NoDir;
    DirIndex i = size_;
    records_.Grow(static_cast<std::size_t>(i) + 1);
    records_[i] = DirRecord{};
    records_[i].Name = MoreName;
    records_[i].Subdirs = count;
    ++size_;
    GrowColumns();
    return i;
}

void DirTree::GrowColumns() {
    auto n = static_cast<std::size_t>(size_);
    if (compare_) {
        compare_->Grow(n);
        (*compare_)[size_ - 1] = CompareCells{};
    }
    if (browse_) {
        browse_->Grow(n);
        (*browse_)[size_ - 1] = BrowseCells{};
    }
    if (growth_) {
        growth_->Grow(n);
        (*growth_)[size_ - 1] = GrowthCells{};
    }
    if (parents_) {
        parents_->Grow(n);
        (*parents_)[size_ - 1] = NoDir;
    }
}

std::string_view DirTree::Name(DirIndex i) const {
    std::uint32_t address = records_[i].Name;
    return address >= NameArena::Full ? std::string_view() : names_.At(address);
}

std::uint16_t DirTree::TroubleIndex(walk::DirProblem problem, std::string_view reason,
                                    bool partial) {
    if (problem == walk::DirProblem::None) return 0;
    for (std::size_t i = 1; i < troubles_.size(); ++i)
        if (troubles_[i].Problem == problem && troubles_[i].Partial == partial &&
            troubles_[i].Reason == reason)
            return static_cast<std::uint16_t>(i);
    // A damaged saved scan could give every directory a reason of its own:
    // past the limit they share one, added once if no directory had it.
    if (troubles_.size() > TroubleLimit && reason != SharedReason) {
        for (std::size_t i = 1; i < troubles_.size(); ++i)
            if (troubles_[i].Problem == problem && troubles_[i].Partial == partial &&
                troubles_[i].Reason == SharedReason)
                return static_cast<std::uint16_t>(i);
        reason = SharedReason;
    }
    troubles_.push_back({problem, partial, std::string(reason)});
    return static_cast<std::uint16_t>(troubles_.size() - 1);
}

DirIndex DirTree::Append(DirIndex parent, DirIndex last, DirIndex child) {
    if (last == NoDir)
        records_[parent].First = child;
    else
        records_[last].Next = child;
    records_[child].Next = NoDir;
    if (parents_) (*parents_)[child] = parent;
    return child;
}

void DirTree::TruncateTo(DirIndex from) {
    if (from < 0 || from > size_) runtime::RaiseRangeError();
    if (from == size_) return;
    // The first named record from `from` on marks where their names began.
    for (DirIndex i = from; i < size_; ++i) {
        std::uint32_t name = records_[i].Name;
        if (name == DeadName) dead_ = runtime::CheckedSub(dead_, 1);
    }
    for (DirIndex i = from; i < size_; ++i)
        if (records_[i].Name < NameArena::Full) {
            names_.TruncateTo(records_[i].Name);
            break;
        }
    size_ = from;
}

void DirTree::Kill(DirIndex dir) {
    std::vector<DirIndex> todo{dir};
    while (!todo.empty()) {
        DirIndex d = todo.back();
        todo.pop_back();
        for (DirIndex c = records_[d].First; c != NoDir; c = records_[c].Next)
            todo.push_back(c);
        if (records_[d].Name == DeadName) continue;
        records_[d].Name = DeadName;
        ++dead_;
    }
}

void DirTree::Compact(std::vector<DirIndex>& remap) {
    // Links past dead records first, while every record is still in place.
    auto skip = [&](DirIndex i) {
        while (i != NoDir && records_[i].Name == DeadName)
            i = records_[i].Next;
        return i;
    };
    for (DirIndex i = 0; i < size_; ++i) {
        DirRecord& r = records_[i];
        if (r.Name == DeadName) continue;
        r.First = skip(r.First);
        r.Next = skip(r.Next);
    }
    remap.assign(static_cast<std::size_t>(size_), NoDir);
    NameArena names;
    DirIndex kept = 0;
    for (DirIndex i = 0; i < size_; ++i) {
        if (records_[i].Name == DeadName) continue;
        remap[static_cast<std::size_t>(i)] = kept;
        DirRecord r = records_[i];
        if (r.Name < NameArena::Full) r.Name = names.Add(names_.At(r.Name));
        records_[kept] = r;
        if (compare_) (*compare_)[kept] = (*compare_)[i];
        if (browse_) (*browse_)[kept] = (*browse_)[i];
        if (growth_) (*growth_)[kept] = (*growth_)[i];
        if (parents_) (*parents_)[kept] = (*parents_)[i];
        ++kept;
    }
    auto moved = [&](DirIndex i) {
        return i == NoDir ? NoDir : remap[static_cast<std::size_t>(i)];
    };
    for (DirIndex i = 0; i < kept; ++i) {
        DirRecord& r = records_[i];
        r.First = moved(r.First);
        r.Next = moved(r.Next);
        if (parents_) (*parents_)[i] = moved((*parents_)[i]);
    }
    size_ = kept;
    dead_ = 0;
    names_ = std::move(names);
}

Column<CompareCells>& DirTree::Compared() {
    if (!compare_) {
        compare_ = std::make_unique<Column<CompareCells>>();
        compare_->Grow(static_cast<std::size_t>(size_));
    }
    return *compare_;
}

Column<GrowthCells>& DirTree::Growth() {
    if (!growth_) {
        growth_ = std::make_unique<Column<GrowthCells>>();
        growth_->Grow(static_cast<std::size_t>(size_));
    }
    return *growth_;
}

Column<BrowseCells>& DirTree::Browse() {
    if (!browse_) {
        browse_ = std::make_unique<Column<BrowseCells>>();
        browse_->Grow(static_cast<std::size_t>(size_));
    }
    return *browse_;
}

const Column<DirIndex>& DirTree::Parents(DirIndex root) {
    if (!parents_) {
        parents_ = std::make_unique<Column<DirIndex>>();
        parents_->Grow(static_cast<std::size_t>(size_));
        for (DirIndex i = 0; i < size_; ++i)
            (*parents_)[i] = NoDir;
        std::vector<DirIndex> todo{root};
        while (!todo.empty()) {
            DirIndex d = todo.back();
            todo.pop_back();
            for (DirIndex c = records_[d].First; c != NoDir; c = records_[c].Next) {
                (*parents_)[c] = d;
                todo.push_back(c);
            }
        }
    }
    return *parents_;
}

void DirTree::Unlink(DirIndex dir) {
    DirIndex parent = (*parents_)[dir];
    if (parent == NoDir) runtime::RaiseRangeError();
    DirIndex* link = &records_[parent].First;
    while (*link != dir)
        link = &records_[*link].Next;
    *link = records_[dir].Next;
}

void DirTree::Remove(DirIndex dir) {
    if (!parents_) runtime::RaiseRangeError();
    const DirRecord gone = records_[dir];
    const std::int64_t goneOther = browse_ ? (*browse_)[dir].OtherTotalBytes : 0;
    Unlink(dir);
    DirIndex parent = (*parents_)[dir];
    records_[parent].Subdirs = runtime::CheckedSub(records_[parent].Subdirs, 1);
    for (DirIndex a = parent; a != NoDir; a = (*parents_)[a]) {
        DirRecord& r = records_[a];
        r.TotalBytes = runtime::CheckedSub(r.TotalBytes, gone.TotalBytes);
        if (browse_) {
            std::int64_t& other = (*browse_)[a].OtherTotalBytes;
            other = runtime::CheckedSub(other, goneOther);
        }
        r.SetTotalFiles(runtime::CheckedSub(r.TotalFiles(), gone.TotalFiles()));
        r.TotalDirs = runtime::CheckedSub(r.TotalDirs, runtime::CheckedAdd(gone.TotalDirs, 1));
    }
    Kill(dir);
}

DirIndex DirTree::CopyRecord(const DirTree& from, DirIndex at, std::string_view name) {
    DirIndex copy = from.IsMore(at) ? AddMore(from.At(at).Subdirs) : Add(name);
    if (copy == NoDir) runtime::RaiseRangeError();
    const DirRecord& source = from.At(at);
    DirRecord& r = records_[copy];
    r.OwnBytes = source.OwnBytes;
    r.TotalBytes = source.TotalBytes;
    r.OwnFiles = source.OwnFiles;
    r.Subdirs = source.Subdirs;
    r.TotalDirs = source.TotalDirs;
    r.SetTotalFiles(source.TotalFiles());
    const DirTrouble& t = from.Trouble(at);
    SetTrouble(copy, t.Problem, t.Reason, t.Partial);
    if (browse_ && from.browse_) (*browse_)[copy] = (*from.browse_)[at];
    if (compare_ && from.compare_) (*compare_)[copy] = (*from.compare_)[at];
    return copy;
}

DirIndex DirTree::CopySubtree(const DirTree& from, DirIndex at, std::string_view name) {
    DirIndex top = CopyRecord(from, at, name);
    std::vector<std::pair<DirIndex, DirIndex>> todo{{at, top}};
    while (!todo.empty()) {
        auto [source, copy] = todo.back();
        todo.pop_back();
        DirIndex last = NoDir;
        for (DirIndex c = from.At(source).First; c != NoDir; c = from.At(c).Next) {
            last = Append(copy, last, CopyRecord(from, c, from.Name(c)));
            todo.emplace_back(c, last);
        }
    }
    return top;
}

void DirTree::Replace(DirIndex dir, const DirTree& from, DirIndex fromRoot) {
    if (!parents_ || (*parents_)[dir] == NoDir) runtime::RaiseRangeError();
    DirIndex parent = (*parents_)[dir];
    // The name stays the one its parent lists.
    std::string name(Name(dir));
    DirIndex copy = CopySubtree(from, fromRoot, name);
    const DirRecord old = records_[dir];
    // A rescan that did not sum the other kind leaves it unknown here too.
    const bool other = browse_ && otherKnown_ && from.browse_ && from.otherKnown_;
    if (browse_ && !other) otherKnown_ = false;
    const std::int64_t oldOther = other ? (*browse_)[dir].OtherTotalBytes : 0;
    DirIndex* link = &records_[parent].First;
    while (*link != dir)
        link = &records_[*link].Next;
    *link = copy;
    records_[copy].Next = old.Next;
    (*parents_)[copy] = parent;
    const DirRecord& now = records_[copy];
    for (DirIndex a = parent; a != NoDir; a = (*parents_)[a]) {
        DirRecord& r = records_[a];
        r.TotalBytes =
            runtime::CheckedAdd(runtime::CheckedSub(r.TotalBytes, old.TotalBytes), now.TotalBytes);
        r.SetTotalFiles(runtime::CheckedAdd(runtime::CheckedSub(r.TotalFiles(), old.TotalFiles()),
                                            now.TotalFiles()));
        r.TotalDirs =
            runtime::CheckedAdd(runtime::CheckedSub(r.TotalDirs, old.TotalDirs), now.TotalDirs);
        if (other) {
            std::int64_t& total = (*browse_)[a].OtherTotalBytes;
            total = runtime::CheckedAdd(runtime::CheckedSub(total, oldOther),
                                        (*browse_)[copy].OtherTotalBytes);
        }
    }
    records_[dir].Next = NoDir;
    Kill(dir);
}

std::size_t DirTree::Bytes() const {
    std::size_t n = records_.Bytes() + names_.Bytes();
    if (compare_) n += compare_->Bytes();
    if (browse_) n += browse_->Bytes();
    if (growth_) n += growth_->Bytes();
    if (parents_) n += parents_->Bytes();
    if (files_) n += files_->Bytes();
    return n;
}

} // namespace kelpo32::tree
