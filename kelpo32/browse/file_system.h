// The file system behind the browser: the directory on screen held open, its
// listing, and the changes the user asks for (a deletion, a rescan). The view
// asks this interface only, so it runs in the tests against a directory in
// memory; DiskFileSystem is the one on disk, SavedFileSystem a saved scan's.
#pragma once

#include "kelpo32/tree/dir_tree.h"
#include "runtime/dirsearch.h"
#include "runtime/remove.h"

#include <memory>
#include <string>
#include <vector>

namespace kelpo32::browse {

class LinkedFiles;

// What a deletion did, and what it could not do.
struct Removal {
    runtime::RemoveReport Report;
    // The failure in words ("permission denied"), with the path below the
    // directory on screen where it happened; empty when nothing failed.
    std::string Failure;
};

// A walk of one directory done by the browser itself: its tree, where it
// counted the files of several links, and the identity the directory had
// when the browser opened it.
struct Rescanned {
    Rescanned();
    ~Rescanned();
    Rescanned(Rescanned&&) noexcept;
    Rescanned& operator=(Rescanned&&) noexcept;
    tree::DirTree Tree;
    tree::DirIndex Root = tree::NoDir;
    std::unique_ptr<LinkedFiles> Links; // nullptr: not recorded
    runtime::DirIdentity Identity;
};

class FileSystem {
  public:
    FileSystem() = default;
    FileSystem(const FileSystem&) = delete;
    FileSystem& operator=(const FileSystem&) = delete;
    virtual ~FileSystem() = default;

    // Why deletion and rescans are off (a saved scan, a start directory
    // that is not held); empty when they are on.
    virtual std::string Locked() const = 0;
    // The tree's record of the directory about to be listed: a file system
    // that lists from the tree itself needs it; the one on disk does not.
    virtual void Showing(tree::DirIndex /*dir*/) {}
    // Every entry of the directory now on screen; false with the reason
    // when it cannot be listed (what was read is kept).
    virtual bool List(std::vector<runtime::DirEntry>& entries, std::string& why) = 0;
    // Goes into the subdirectory listed as `entry`, which must still be the
    // directory the scan recorded as `identity` (zero: not known). Without
    // an entry (a directory the tree holds but the listing does not), or
    // when it cannot be opened or is not that directory, it goes in all the
    // same, with nothing to list there: `why` then says why. False, with
    // `why`, when the step is refused and nothing changed (the program is
    // out of descriptors).
    virtual bool Enter(const runtime::DirEntry* entry, const runtime::DirIdentity& identity,
                       std::string& why) = 0;
    // Back to the parent of the directory on screen.
    virtual void Leave() = 0;
    // Deletes the entry `entry` of the directory on screen and everything
    // below it; a directory only while it has `identity`, which must be
    // known. `control` reports progress and may stop it.
    virtual Removal Remove(const runtime::DirEntry& entry, const runtime::DirIdentity& identity,
                           bool directory, const runtime::RemoveControl& control) = 0;
    // Walks the directory on screen again (or, with `entry`, that
    // subdirectory of it, which must have `identity` where that is known);
    // false with the reason.
    virtual bool Rescan(const runtime::DirEntry* entry, const runtime::DirIdentity& identity,
                        Rescanned& into, std::string& why) = 0;
};

} // namespace kelpo32::browse
