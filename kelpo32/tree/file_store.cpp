#include "kelpo32/tree/file_store.h"

#include <limits>

namespace kelpo32::tree {

static_assert(sizeof(FileCells) == 32, "a file's record stays at 32 bytes");

bool FileStore::Add(DirIndex dir, std::string_view name, FileCells cells) {
    if (dir < 0 || count_ == std::numeric_limits<FileIndex>::max()) return false;
    std::uint32_t address = names_.Add(name);
    if (address == NameArena::Full) return false;
    auto d = static_cast<std::size_t>(dir);
    if (d >= dirCount_) {
        dirs_.Grow(d + 1);
        dirCount_ = d + 1;
    }
    FileIndex f = count_;
    files_.Grow(static_cast<std::size_t>(f) + 1);
    cells.Name = address;
    cells.Next = NoFile;
    files_[f] = cells;
    ++count_;
    Chain& chain = dirs_[dir];
    if (chain.Last == NoFile)
        chain.First = f;
    else
        files_[chain.Last].Next = f;
    chain.Last = f;
    return true;
}

FileIndex FileStore::First(DirIndex dir) const {
    if (dir < 0 || static_cast<std::size_t>(dir) >= dirCount_) return NoFile;
    return dirs_[dir].First;
}

} // namespace kelpo32::tree
