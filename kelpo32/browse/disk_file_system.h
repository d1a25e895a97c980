// The file system behind the browser, on disk: the directories from the start
// down to the one on screen held open, each opened from its parent by the
// name the listing gave and checked against the identity the walk
// recorded; deletions through the removal service; rescans by the walk.
#pragma once

#include "kelpo32/browse/file_system.h"
#include "kelpo32/walk/walk.h"

#include <string>
#include <vector>

namespace kelpo32::browse {

class DiskFileSystem final : public FileSystem {
  public:
    // The start directory by its path (`native`: the same as typed, or
    // empty); `walk`: how a rescan walks.
    DiskFileSystem(std::string start, std::string native, const walk::WalkOptions& walk);
    ~DiskFileSystem() override;
    DiskFileSystem(const DiskFileSystem&) = delete;
    DiskFileSystem& operator=(const DiskFileSystem&) = delete;

    bool List(std::vector<runtime::DirEntry>& entries, std::string& why) override;
    void Enter(const runtime::DirEntry* entry, const runtime::DirIdentity& identity,
               std::string& why) override;
    void Leave() override;
    bool Changeable() const override { return true; }
    Removal Remove(const runtime::DirEntry& entry, const runtime::DirIdentity& identity,
                   bool directory) override;
    bool Rescan(const runtime::DirEntry* entry, tree::DirTree& into, tree::DirIndex& root,
                std::string& why) override;

  private:
    struct Level {
        runtime::DirHandle Dir; // not open: the directory could not be opened
        std::string Path;       // its path as the walk takes it
        std::string Native;     // and in the platform's own form, or empty
        std::string Why;        // why it is not open
    };
    static std::string Below(const Level& at, const runtime::DirEntry& entry, bool native);

    std::vector<Level> levels_;
    std::uint64_t volume_ = 0; // the start directory's device or volume
    walk::WalkOptions walk_;
};

} // namespace kelpo32::browse
