// A directory source for the walk's unit tests: a tree held in memory that
// fails where a test tells it to, counts what the walk opens and never lets
// more directories be open at once than its descriptor limit.
#pragma once

#include "kelpo32/walk/source.h"
#include "runtime/threads.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kelpo32::testing {

// Allocations the current thread is to fail from now on (test_alloc.cpp).
extern thread_local int FailAllocations;
// Allocations let through before those fail.
extern thread_local int PassAllocations;

// A stale handle's code (not every platform's headers name ESTALE).
inline constexpr int StaleHandle = 116;

// What goes wrong, and where.
struct SourceFault {
    enum class At : std::uint8_t {
        Open,     // opening the directory Path (Every: only each Every-th time)
        Read,     // reading Path's entries, after After of them
        Replaced, // Path is replaced by another directory once its parent lists it
        Moved,    // Path is replaced by another directory whenever it is closed
        Starved,  // the thread that finishes listing Path fails its next 3 allocations
        Stat,     // the entry Path cannot be examined (Result says why)
        Squeezed, // after Path's entry After, the reading thread lets Pass allocations
                  // through and fails the next one
    };
    At Where = At::Open;
    std::string Path; // "*": every directory but the start
    runtime::DirResult Result{};
    bool Throw = false;       // throws std::bad_alloc instead
    bool WorkersOnly = false; // only on other threads than the one that made the source
    std::size_t After = 0;
    std::uint32_t Every = 1;
    int Pass = 0;
};

class MemorySource final : public walk::DirSource {
  public:
    MemorySource();
    // "a/b/" is a directory, "a/f=10" a file of 10 bytes; parents are made.
    void Add(const std::string& entry);
    struct Node {
        std::string Path;
        std::string Name;
        bool Dir = false;
        std::uint64_t Size = 0;
        std::int64_t Disk = -1; // bytes on disk (a sparse file: fewer); -1: Size in 4 KiB blocks
        runtime::DirIdentity Id;
        bool Unidentified = false; // no identity the system can tell
        std::uint32_t Links = 1;
        Node* Target = nullptr; // a directory link: what opening it opens
        std::vector<Node*> Children;
        std::uint64_t DiskBytes() const {
            return Disk >= 0 ? static_cast<std::uint64_t>(Disk) : (Size + 4095) / 4096 * 4096;
        }
    };
    // An entry added before; tests change its identity (a mount of another
    // directory, another device, none) and read the tree from it.
    Node& At(const std::string& path) { return *nodes_.at(path); }
    // The file `path` is another link to the file `other`.
    void Link(const std::string& path, const std::string& other);
    // The directory `path` is a link to the directory `target`, as a Windows
    // reparse point is: its parent's listing marks it a link and gives its own
    // inode, opening it opens the target (another identity than listed).
    void LinkDir(const std::string& path, const std::string& target);
    void Inject(const SourceFault& fault) {
        faults_.push_back(fault);
        hits_.push_back(0);
    }
    std::int64_t Limit = 1 << 20; // directories open at once, beyond: EMFILE
    // The listing gives other inode numbers than an open, and the handles say
    // so (a FUSE mount without inode numbers of its own).
    bool ForeignInodes = false;
    // As the system's search on most file systems: an open given the inode
    // the listing gave takes it for the identity, and the directory's first
    // read checks it.
    bool IdentityFromListing = false;
    // Each listing waits this long before its first entry, off the processor,
    // as on a disk that has to read the directory.
    std::int64_t ReadDelayMicros = 0;
    // How many threads have started listings since the last reset.
    std::size_t Listers(bool reset = false);

    struct Counts {
        std::uint64_t Opens = 0; // successful opens
        std::int64_t Now = 0;    // directories open now
        std::int64_t Peak = 0;   // most open at once since the last reset
    };
    Counts Count(bool resetPeak = false);

    runtime::DirResult OpenPath(const std::string& path, const std::string& native,
                                runtime::DirHandle& dir, runtime::DirIdentity& id) override;
    runtime::DirResult OpenAt(const runtime::DirHandle& parent, const std::string& name,
                              std::uint64_t listed, runtime::DirHandle& dir,
                              runtime::DirIdentity& id) override;
    void Close(runtime::DirHandle& dir) noexcept override;
    runtime::DirResult StartReading(const runtime::DirHandle& dir,
                                    runtime::DirReader& reader) override;
    bool ReadEntry(const runtime::DirHandle& dir, runtime::DirReader& reader,
                   runtime::DirEntry& entry, runtime::DirResult& result) override;
    void StopReading(runtime::DirReader& reader) noexcept override;
    std::int64_t FreeDescriptors() override;
    std::string FaultText(int code) override;
    std::string UnreadableText(int code) override;

  private:
    std::unique_ptr<runtime::Lock, void (*)(runtime::Lock*)> lock_{
        runtime::NewLock(runtime::LockUse::Threads), runtime::FreeLock};
    std::map<std::string, std::unique_ptr<Node>> nodes_;
    std::vector<SourceFault> faults_;
    std::vector<std::uint32_t> hits_;     // how often each fault's place was reached
    std::map<std::intptr_t, Node*> open_; // by handle number
    std::set<std::thread::id> listers_;
    std::intptr_t nextFd_ = 0;
    std::uint64_t nextInode_ = 100;
    Counts counts_;

    Node* Make(const std::string& path, bool dir);
    // The fault for this place, counting the visit; nullptr when none applies.
    const SourceFault* Hit(SourceFault::At at, const std::string& path, std::size_t after = 0);
    runtime::DirResult Open(Node* node, runtime::DirHandle& dir, runtime::DirIdentity& id);
    Node* NodeOf(const runtime::DirHandle& dir) const;
};

} // namespace kelpo32::testing
