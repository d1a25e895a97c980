// What the parts of the walk share: the record of a directory, the parts of
// its listing, the owning handle of an open directory, and the walk's state
// with the one lock that guards it. See walk.cpp for how the parts fit.
#pragma once

#include "kelpo32/walk/source.h"
#include "kelpo32/walk/walk.h"
#include "runtime/dirsearch.h"
#include "runtime/threads.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelpo32::walk {

// An open directory, closed when its owner lets it go. Move-only: a
// directory is open in exactly one place.
class DirFd {
  public:
    DirFd() = default;
    DirFd(DirSource& source, runtime::DirHandle handle)
        : source_(&source), handle_(std::move(handle)) {}
    DirFd(DirFd&& other) noexcept
        : source_(other.source_), handle_(std::exchange(other.handle_, runtime::DirHandle{})) {}
    DirFd& operator=(DirFd&& other) noexcept {
        if (this != &other) {
            Close();
            source_ = other.source_;
            handle_ = std::exchange(other.handle_, runtime::DirHandle{});
        }
        return *this;
    }
    DirFd(const DirFd&) = delete;
    DirFd& operator=(const DirFd&) = delete;
    ~DirFd() { Close(); }

    bool IsOpen() const { return handle_.IsOpen(); }
    const runtime::DirHandle& Get() const { return handle_; }
    void Close() noexcept {
        if (handle_.IsOpen()) source_->Close(handle_);
        handle_ = runtime::DirHandle{};
    }

  private:
    DirSource* source_ = nullptr;
    runtime::DirHandle handle_;
};

// A file whose bytes only the consumer can tell, at its place in the walk:
// one of the program's own files, or one with several links.
struct LateFile {
    // Its position among the part's records; not delivered, the position of
    // the record delivered next.
    std::size_t Entry;
    std::int32_t Own; // index in WalkOptions::OwnFiles, or -1
    std::uint64_t Device;
    std::uint64_t Inode;
    std::uint64_t Bytes;      // as listed
    std::uint64_t OtherBytes; // by the other size kind (with WalkOptions::BothKinds)
    bool Delivered;           // it has a record (an Entry event)
};

// A part of a directory's listing, in the order of its entries.
struct Part {
    std::unique_ptr<Part> Next;
    // With entry names: a RecordHead and the name of each entry delivered.
    std::string Records;
    std::size_t RecordCount = 0;
    std::vector<LateFile> Late; // their bytes are not in FileBytes
    std::int32_t FileCount = 0;
    std::int64_t FileBytes = 0;
    std::int64_t OtherBytes = 0; // the other size kind's, with WalkOptions::BothKinds
    std::int32_t Children = 0;
    // Entries that could not be examined: counted, the first few named (an
    // allocation only where there are some).
    std::int32_t UnexaminedCount = 0;
    std::vector<std::pair<std::string, runtime::DirResult>> Unexamined;
    std::size_t Cost = 0; // what it takes of the read-ahead's budget
};

// Each entry in Part::Records: this head, then Length bytes of name.
struct RecordHead {
    std::uint64_t Size;
    std::uint64_t DiskBytes;
    std::uint64_t Device;
    std::uint64_t Inode;
    std::uint32_t Links;
    std::uint32_t Length;
    EntryKind Kind;
    runtime::EntryType Type;
    bool Unexamined;
};

enum class Stage : std::uint8_t {
    Waiting, // not taken by any lister yet
    Listing, // a lister reads it; its Handle is open and does not change
    Listed,  // complete: Fault, Problem, Error and OutOfRecords do not change
};

} // namespace kelpo32::walk

// A directory of the walk, from the listing that names it until its subtree
// is done. The first block is set by the listing that names it and never
// changes; the rest is guarded by the walk's lock.
struct kelpo32::walk::Dir_Rec {
    Dir_Rec* Parent = nullptr;
    std::uint64_t ListedInode = 0; // what its parent's listing gave; 0 when unknown
    bool LinkNotFollowed = false;  // a directory link, listed but not entered
    std::string Name;
    std::string Native;
    std::int32_t Id = 0;
    std::int32_t Depth = 0;

    std::unique_ptr<Part> FirstPart;
    Part* LastPart = nullptr;
    Dir_Rec* Next = nullptr; // the sibling found after it
    Dir_Rec* FirstChild = nullptr;
    Dir_Rec* LastChild = nullptr;
    std::exception_ptr Error;
    runtime::DirIdentity Identity;
    DirFd Handle;                    // open while listing, then while held for the children
    std::int32_t ChildrenToOpen = 0; // children whose open still needs this handle
    std::int32_t Users = 0;          // threads opening a child through Handle right now
    runtime::DirResult Fault;
    Stage State = Stage::Waiting;
    bool Queued = false;     // waits in the read-ahead queue
    bool LeftParent = false; // its own open no longer needs Parent's handle
    bool Held = false;       // Handle is among the held ones
    bool Registered = false; // Identity counted among the live directories
    DirProblem Problem = DirProblem::None;
    bool OutOfRecords = false;
    bool Partial = false; // Fault came after some entries were read

    const std::string& NativeName() const { return Native.empty() ? Name : Native; }
};

namespace kelpo32::walk {

// Walk order of two directories neither of which has been listed: up to the
// nearest common ancestor, then by position among its children.
struct WalkOrder {
    bool operator()(const Dir_Rec* a, const Dir_Rec* b) const;
};

struct IdentityHash {
    std::size_t operator()(const runtime::DirIdentity& id) const {
        return std::hash<std::uint64_t>()(id.File * 0x9E3779B97F4A7C15ull ^ id.Volume);
    }
};

struct LockFree {
    void operator()(runtime::Lock* lock) const { runtime::FreeLock(lock); }
};
struct SignalFree {
    void operator()(runtime::Signal* signal) const { runtime::FreeSignal(signal); }
};

// The state every thread of the walk shares.
struct WalkState {
    WalkState(DirSource& source, const WalkOptions& options, const WalkLimits& limits,
              WalkConsumer& consumer)
        : Source(source), Options(options), Limits(limits), Consumer(consumer) {}

    DirSource& Source;
    const WalkOptions& Options;
    const WalkLimits& Limits;
    WalkConsumer& Consumer;
    std::unique_ptr<runtime::Lock, LockFree> Lock;
    std::unique_ptr<runtime::Signal, SignalFree> Work;  // workers wait here for work and budget
    std::unique_ptr<runtime::Signal, SignalFree> Ready; // the consumer waits here for parts
    Dir_Rec* Root = nullptr;
    std::string RootPath; // the start directory's text, as the report writes it
    std::uint64_t RootVolume = 0;
    bool Workers = false; // worker threads run: new children join the queue

    // Guarded by Lock.
    bool Stopping = false;
    std::int32_t WaitingWorkers = 0;
    bool ConsumerWaits = false;
    Dir_Rec* Target = nullptr; // the directory the consumer reads now
    std::set<Dir_Rec*, WalkOrder> Queue;
    std::size_t Buffered = 0; // cost of the parts not read yet
    // Directories listed whose subtrees are not done; a directory met again
    // on its own path (a loop through a mount) is not entered.
    std::unordered_map<runtime::DirIdentity, std::int32_t, IdentityHash> Live;
    // An error of a worker that was not listing any directory: raised by the
    // consumer at its next directory.
    std::exception_ptr WorkerError;

    // Read without the lock between entries, so a worker in a slow directory
    // lets the run end at once.
    std::atomic<bool> StopNow{false};

    runtime::Lock* L() const { return Lock.get(); }
    bool BudgetFull() const { return Buffered >= Limits.ReadAheadBudget; }
    // Whether a worker may take one more directory to list.
    bool RoomToList() const { return Buffered + Limits.ListingCost <= Limits.ReadAheadBudget; }
    // Wake-ups cost a system call each: only for threads that wait.
    void WakeWorkers() const {
        if (WaitingWorkers > 0) runtime::WakeAll(Work.get());
    }
    void WakeConsumer(const Dir_Rec* node) const {
        if (ConsumerWaits && node == Target) runtime::WakeAll(Ready.get());
    }
};

} // namespace kelpo32::walk
