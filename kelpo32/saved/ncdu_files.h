// What the ncdu reader does with the entries of a directory that are not
// directories: counts their bytes into the directory's (a file of several
// links once, where the walk meets it first), keeps a hash of each entry's
// name while its directory is open (two entries of one name are damaged
// input), and, for the browser, the files themselves.
#pragma once

#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/walk/linkset.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32::saved {

// A file as an export describes it.
struct NcduFile {
    std::string_view Name;
    std::int64_t Bytes = 0; // of the size kind counted
    std::int64_t Other = 0; // of the other kind
    std::uint64_t Size = 0; // apparent
    std::uint64_t Disk = 0; // on disk
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0; // 0: not told
    std::uint32_t Links = 1;
    bool NotRegular = false;
};

class NcduFiles {
  public:
    // `keep`: the files are kept in the tree's store, for the browser.
    NcduFiles(SavedScan& scan, bool countLinks, bool keep);

    // A file of `dir`, counted; false (with what) past 8 EiB or a full store.
    bool Add(tree::DirIndex dir, const NcduFile& file, std::string& what);
    // A directory's own blocks (or none) counted in its bytes; false (with
    // what) past 8 EiB.
    bool AddOwn(tree::DirIndex dir, std::int64_t bytes, std::int64_t other, std::string& what);
    // An entry of `dir` that counts nothing (excluded): its name is still one.
    void Name(tree::DirIndex dir, std::string_view name);
    // `dir`'s entries were all read: what is wrong with their names, or empty.
    std::string Closed(tree::DirIndex dir);

  private:
    // Adds to `dir`'s own bytes; false past the largest number.
    bool AddBytes(tree::DirIndex dir, std::int64_t bytes, std::int64_t other);
    void Remove(tree::DirIndex dir, std::int64_t bytes, std::int64_t other);
    // What is wrong with the names of `dir` whose files' hashes are given.
    template <typename It> std::string Shared(tree::DirIndex dir, It begin, It end) const;

    SavedScan& scan_;
    bool countLinks_;
    bool keep_;
    walk::LinkSet links_;           // where each file of several links counts
    std::int64_t counted_ = 0;      // the bytes counted so far: the start's total
    std::int64_t otherCounted_ = 0; // the same by the other kind
    // The hashes of the names of the open directories' files, a run per
    // directory from where its own begin (a directory's runs above close
    // before its own go on).
    struct Run {
        tree::DirIndex Dir;
        std::size_t From;
    };
    std::deque<std::uint64_t> hashes_;
    std::vector<Run> runs_;
    std::vector<std::uint64_t> sorted_; // room for the sort of a run
};

} // namespace kelpo32::saved
