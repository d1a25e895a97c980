// What the walk hands on, and to whom: the directories, entries and listings
// it reaches, and the consumer that receives them, a small type that owns its
// state and gets the walk's events on the thread that runs the walk, in the
// order of a one-thread depth-first walk. The scan composes a list of them
// for a run (trace, status line, unread summary, the chosen output) and hands
// it to the walk; a saved scan read back replays the same events.
#pragma once

#include "runtime/dirsearch.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelpo32::walk {

enum class EntryKind : std::uint8_t {
    File,
    Directory,
    Skipped, // a long-name alias entry: neither counted nor walked
};

// A directory as the walk reaches it.
struct WalkDir {
    const std::string& Path;   // the path in front of Name: the start directory, or a parent's
                               // path and a separator
    const std::string& Name;   // empty for the start directory
    const std::string& Native; // the name in the platform's own form; empty when it is Name
    std::int32_t Level;        // 0 at the start directory
    std::int32_t Id;           // position among its siblings, from 1; 0 at the start directory
    std::int32_t SiblingCount;
    // Device or volume and inode or file id of the directory that was opened;
    // zero when it could not be opened or the system cannot tell.
    runtime::DirIdentity Identity{};
};

// One entry of a directory's listing ("." and ".." left out).
struct WalkEntry {
    EntryKind Kind;
    std::string_view Name;
    std::uint64_t Size;
    std::uint64_t DiskBytes; // space taken on disk
    std::uint64_t Device;    // zero when unknown
    std::uint64_t Inode;     // zero when unknown
    std::uint32_t Links;     // 0: the listing gives the inode but not the count
    runtime::EntryType Type;
    // Its own metadata could not be read: it is what the listing says (a
    // directory, or a file of size 0).
    bool Unexamined = false;
    // Another link of a file the walk met before: its bytes count there, in
    // no total here (not with WalkOptions::CountLinks).
    bool Repeat = false;
};

// An entry that could not be examined, and why.
struct UnexaminedEntry {
    std::string Name;
    std::string Reason;
};
// How many of them a listing names; the rest are only counted.
inline constexpr std::size_t NamedUnexamined = 20;

// Why a directory has no entries, or fewer than it holds.
enum class DirProblem : std::uint8_t {
    None,
    Unreadable,      // no permission, gone, not a directory, or replaced meanwhile
    Cycle,           // one of its own ancestors, met again through a mount
    OtherFileSystem, // not entered: another device with WalkOptions::OneFileSystem
    Unexpected,      // any other failure of the file system
    Link,            // a link to another directory, not entered without WalkOptions::FollowLinks
};

// What a directory's listing holds once it is read.
struct WalkListing {
    std::int32_t FileCount = 0;
    std::int64_t FileBytes = 0;
    // The same files' bytes by the other size kind (on disk when FileBytes
    // is the apparent size, else the apparent size), counted by the same
    // rule; -1 when not known: no consumer asked for it (NeedsBothKinds), or
    // a saved scan that holds one kind only.
    std::int64_t OtherFileBytes = -1;
    std::int32_t ChildCount = 0;
    DirProblem Problem = DirProblem::None;
    // Short English for the problem: "permission denied", "no such file or
    // directory", "not a directory", "cycle", "other file system", "link",
    // else the system's text.
    std::string Reason;
    // The listing failed after some entries: what was read is kept, and the
    // directory holds more than the counts say.
    bool Partial = false;
    // Entries that could not be examined: all counted, the first
    // NamedUnexamined named.
    std::int32_t UnexaminedCount = 0;
    std::vector<UnexaminedEntry> Unexamined;
    // Files and directories below it that no event stands for: a saved
    // scan cut at a depth, a size or a top-N keeps its subtrees' numbers
    // without their directories. The walk leaves them 0.
    std::int64_t UnwalkedFiles = 0;
    std::int64_t UnwalkedDirs = 0;

    // Whether the directory could not be read, or only in part (one not
    // entered on purpose, another file system or a link, is not; a loop is
    // named, as it is shown empty too).
    bool CouldNotRead() const {
        return Problem != DirProblem::None && Problem != DirProblem::OtherFileSystem &&
               Problem != DirProblem::Link;
    }
};

class WalkConsumer {
  public:
    WalkConsumer() = default;
    WalkConsumer(const WalkConsumer&) = delete;
    WalkConsumer& operator=(const WalkConsumer&) = delete;
    virtual ~WalkConsumer() = default;

    // Before the first event.
    virtual void Begin() {}
    // A directory is reached (opened, or found unreadable), before its entries.
    virtual void DirStart(const WalkDir& /*dir*/) {}
    // Each entry of the directory in search order; only when some consumer
    // of the run asks for entries (NeedsEntries).
    virtual void Entry(const WalkDir& /*dir*/, const WalkEntry& /*entry*/) {}
    // The listing is complete; its subdirectories follow.
    virtual void DirListed(const WalkDir& /*dir*/, const WalkListing& /*listing*/) {}
    // The whole subtree is done; `total` holds every byte below the directory.
    virtual void DirDone(const WalkDir& /*dir*/, const WalkListing& /*listing*/,
                         std::int64_t /*total*/) {}
    // After the last event of a walk that ran to its end.
    virtual void End() {}

    // What this consumer needs the walk to deliver.
    virtual bool NeedsEntries() const { return false; }
    // With entries: it needs only the files of at least this many bytes
    // (counted as the walk counts them), a bound it raises as it goes; the
    // walk may leave every other entry out. nullptr: it needs them all.
    virtual const std::atomic<std::uint64_t>* EntryFloor() const { return nullptr; }
    // With entries and a floor: the files of several links are delivered
    // too, whatever their size (where the listing tells a count above one).
    virtual bool NeedsLinkedEntries() const { return false; }
    // It needs each listing's bytes by both size kinds (OtherFileBytes);
    // the walk sums the other kind only when some consumer asks.
    virtual bool NeedsBothKinds() const { return false; }
    // It writes nothing until the walk is done (a sorted layout): the status
    // line is shown meanwhile, on a terminal too.
    virtual bool HoldsOutput() const { return false; }
};

// Several consumers fed the same events, in the order they were added.
class ConsumerList final : public WalkConsumer {
  public:
    // What a consumer needs is known when it is added (a list's, once its
    // own are).
    void Add(WalkConsumer& consumer) {
        consumers_.push_back(&consumer);
        if (consumer.NeedsEntries()) entries_.push_back(&consumer);
        linked_ = linked_ || consumer.NeedsLinkedEntries();
        bothKinds_ = bothKinds_ || consumer.NeedsBothKinds();
    }
    // Adds a consumer the list owns from now on.
    void Own(std::unique_ptr<WalkConsumer> consumer) {
        owned_.push_back(std::move(consumer));
        Add(*owned_.back());
    }

    void Begin() override {
        for (WalkConsumer* c : consumers_)
            c->Begin();
    }
    void DirStart(const WalkDir& dir) override {
        for (WalkConsumer* c : consumers_)
            c->DirStart(dir);
    }
    void Entry(const WalkDir& dir, const WalkEntry& entry) override {
        for (WalkConsumer* c : entries_)
            c->Entry(dir, entry);
    }
    void DirListed(const WalkDir& dir, const WalkListing& listing) override {
        for (WalkConsumer* c : consumers_)
            c->DirListed(dir, listing);
    }
    void DirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total) override {
        for (WalkConsumer* c : consumers_)
            c->DirDone(dir, listing, total);
    }
    void End() override {
        for (WalkConsumer* c : consumers_)
            c->End();
    }
    bool NeedsEntries() const override { return !entries_.empty(); }
    // A bound holds only when the one consumer that needs entries sets it.
    const std::atomic<std::uint64_t>* EntryFloor() const override {
        return entries_.size() == 1 ? entries_.front()->EntryFloor() : nullptr;
    }
    bool NeedsLinkedEntries() const override { return linked_; }
    bool NeedsBothKinds() const override { return bothKinds_; }
    bool HoldsOutput() const override {
        for (const WalkConsumer* c : consumers_)
            if (c->HoldsOutput()) return true;
        return false;
    }

  private:
    std::vector<WalkConsumer*> consumers_;
    std::vector<WalkConsumer*> entries_; // those that need each entry
    std::vector<std::unique_ptr<WalkConsumer>> owned_;
    bool bothKinds_ = false;
    bool linked_ = false;
};

} // namespace kelpo32::walk
