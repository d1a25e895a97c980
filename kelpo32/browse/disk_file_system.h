// The file system behind the browser, on disk. It starts at the directory
// the walk opened and held (never opened again by its path), and goes down
// from it by the names the listings gave, each directory checked against the
// identity the walk recorded. It holds a bounded number of levels open; a
// level given up is reached again from the nearest one held, checked again.
// Deletions go through the removal service, rescans walk from the directory
// held.
#pragma once

#include "kelpo32/browse/file_system.h"
#include "kelpo32/walk/walk.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kelpo32::browse {

class DiskFileSystem final : public FileSystem {
  public:
    // Levels held open at most, the start's included.
    static constexpr std::size_t MaxHeld = 64;

    // `start`: the start directory as the walk opened it, with the identity
    // the walk recorded (owned from now on); not open: `locked` says why,
    // and nothing can be changed. `path` and `native`: its path as the walk
    // took it (for the paths of rescans' records); `walk`: how a rescan walks.
    DiskFileSystem(runtime::DirHandle start, const runtime::DirIdentity& identity, std::string path,
                   std::string native, const walk::WalkOptions& walk, std::string locked);
    ~DiskFileSystem() override;
    DiskFileSystem(const DiskFileSystem&) = delete;
    DiskFileSystem& operator=(const DiskFileSystem&) = delete;

    std::string Locked() const override { return locked_; }
    bool List(std::vector<runtime::DirEntry>& entries, std::string& why) override;
    bool Enter(const runtime::DirEntry* entry, const runtime::DirIdentity& identity,
               std::string& why) override;
    void Leave() override;
    Removal Remove(const runtime::DirEntry& entry, const runtime::DirIdentity& identity,
                   bool directory, const runtime::RemoveControl& control) override;
    bool Rescan(const runtime::DirEntry* entry, const runtime::DirIdentity& identity,
                Rescanned& into, std::string& why) override;

    // For the tests: the levels open now.
    std::size_t Held() const;

  private:
    struct Level {
        runtime::DirHandle Dir; // not open: given up (Why empty) or not to be had (Why)
        runtime::DirIdentity Id;
        std::string Name;   // the platform's own name in its parent
        std::string Path;   // its path as the walk takes it
        std::string Native; // and in the platform's own form, or empty
        std::string Why;    // why it is not open, when it cannot be
    };
    static std::string Below(const Level& at, const runtime::DirEntry& entry, bool native);
    // Gives up the shallowest levels held beyond MaxHeld (never the start).
    void Bound();
    // Opens the level `k` again from the nearest level held above it.
    void Reach(std::size_t k);
    bool Walk(const runtime::DirHandle& dir, const runtime::DirIdentity& id,
              const std::string& path, const std::string& native, Rescanned& into,
              std::string& why);

    std::vector<Level> levels_;
    std::uint64_t volume_ = 0; // the start directory's device or volume
    walk::WalkOptions walk_;
    std::string locked_;
};

} // namespace kelpo32::browse
