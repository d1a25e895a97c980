// The files of a saved scan that holds them (an ncdu export), kept for the
// browser only: a record of 32 bytes and the name per file, each file linked
// to the next of its directory, in blocks that never move. A tree gets one
// when a view asks (DirTree::Files), so every other run pays nothing.
#pragma once

#include "kelpo32/tree/dir_tree.h"
#include "runtime/dirsearch.h"

#include <cstdint>
#include <string_view>

namespace kelpo32::tree {

using FileIndex = std::int32_t;
inline constexpr FileIndex NoFile = -1;

struct FileCells {
    std::uint64_t Size = 0;      // apparent
    std::uint64_t DiskBytes = 0; // on disk
    std::uint32_t Name = 0;      // in the store's names
    FileIndex Next = NoFile;     // the next file of its directory
    std::uint32_t Links = 1;     // 1 for a file of one link
    runtime::EntryType Type = runtime::EntryType::Regular;
};

class FileStore {
  public:
    // Adds a file of `dir` after the others; false when the store is full.
    bool Add(DirIndex dir, std::string_view name, FileCells cells);
    // The first file of `dir` (NoFile: none), the next from there, its name.
    FileIndex First(DirIndex dir) const;
    const FileCells& At(FileIndex f) const { return files_[f]; }
    std::string_view Name(FileIndex f) const { return names_.At(files_[f].Name); }
    std::size_t Bytes() const { return dirs_.Bytes() + files_.Bytes() + names_.Bytes(); }

  private:
    struct Chain {
        FileIndex First = NoFile;
        FileIndex Last = NoFile;
    };
    Column<Chain> dirs_;
    std::size_t dirCount_ = 0; // directories the column holds
    Column<FileCells> files_;
    FileIndex count_ = 0;
    NameArena names_;
};

} // namespace kelpo32::tree
