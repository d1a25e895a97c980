// Where the browser meets the file system: the directory on screen held
// open, its listing, and the changes the user asks for (a deletion, a
// rescan). The view asks this interface only, so it runs in the tests
// against a directory in memory; DiskFileSystem is the file system's.
#pragma once

#include "kelpo32/tree/dir_tree.h"
#include "runtime/dirsearch.h"
#include "runtime/remove.h"

#include <memory>
#include <string>
#include <vector>

namespace kelpo32::browse {

// What a deletion did, and what it could not do.
struct Removal {
    runtime::RemoveReport Report;
    // The failure in words ("permission denied"), with the path below the
    // directory on screen where it happened; empty when nothing failed.
    std::string Failure;
};

class FileSystem {
  public:
    FileSystem() = default;
    FileSystem(const FileSystem&) = delete;
    FileSystem& operator=(const FileSystem&) = delete;
    virtual ~FileSystem() = default;

    // Every entry of the directory now on screen; false with the reason
    // when it cannot be listed (what was read is kept).
    virtual bool List(std::vector<runtime::DirEntry>& entries, std::string& why) = 0;
    // Goes into the subdirectory listed as `entry`, which must still be the
    // directory the scan recorded as `identity` (zero: not known). Without
    // an entry (a directory the tree holds but the listing does not), or
    // when it cannot be opened, it goes in all the same, with nothing to
    // list there: `why` then says why.
    virtual void Enter(const runtime::DirEntry* entry, const runtime::DirIdentity& identity,
                       std::string& why) = 0;
    // Back to the parent of the directory on screen.
    virtual void Leave() = 0;
    // Whether deletion and rescans are possible (not over a saved scan).
    virtual bool Changeable() const = 0;
    // Deletes the entry `entry` of the directory on screen and everything
    // below it; `identity` as for Enter, for a directory.
    virtual Removal Remove(const runtime::DirEntry& entry, const runtime::DirIdentity& identity,
                           bool directory) = 0;
    // Walks the directory on screen again (or, with `entry`, that
    // subdirectory of it) into `into`, its root `root`; false with the reason.
    virtual bool Rescan(const runtime::DirEntry* entry, tree::DirTree& into, tree::DirIndex& root,
                        std::string& why) = 0;
};

} // namespace kelpo32::browse
