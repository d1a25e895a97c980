// The listing of one directory: opens it (through the descriptor cache),
// checks that it may be entered, reads its entries in parts and hands each
// part, with the children it names, to the directory's record. Any thread
// lists: the consumer and the read-ahead's workers each with a Lister of
// their own.
#pragma once

#include "kelpo32/walk/handles.h"
#include "kelpo32/walk/pace.h"
#include "kelpo32/walk/walk_state.h"
#include "runtime/threads.h"

#include <cstdint>
#include <string>

namespace kelpo32::walk {

class ReadAhead;

// What one listing thread keeps from directory to directory.
class Lister {
  public:
    explicit Lister(DirSource& source) : source_(source) {}
    Lister(const Lister&) = delete;
    Lister& operator=(const Lister&) = delete;
    ~Lister() { Abandon(); }

    // Stops reading whatever directory it was in the middle of.
    void Abandon() noexcept;
    // Abandon, and give the read buffer back to the system.
    void Release() noexcept;
    // A worker's allocation failed while it listed: the directory goes back
    // to the consumer, with this lister when the listing had begun.
    bool HandingBack() const { return handBack_; }
    // Whether it is in the middle of listing `node`.
    bool Lists(const Dir_Rec* node) const { return node_ == node && reading_; }

  private:
    friend class Listing;
    DirSource& source_;
    runtime::DirReader reader_;
    runtime::DirEntry entry_;
    ListingTimer timer_{{runtime::WallNanos, runtime::ThreadCpuNanos}};
    const Dir_Rec* node_ = nullptr; // the directory started and not finished
    std::int32_t children_ = 0;
    std::uint64_t read_ = 0; // entries of node_ read so far
    bool reading_ = false;
    bool pending_ = false; // entry_ is read but not taken yet
    bool handBack_ = false;
    // With patterns of paths: the path of node_ as the report writes it, with
    // a separator after it, and where the part below the start begins.
    std::string path_;
    std::size_t below_ = 0;
};

// The listing side of the walk: what every listing thread shares.
class Listing {
  public:
    Listing(WalkState& walk, HandleCache& handles, ReadAhead& readAhead)
        : walk_(walk), handles_(handles), readAhead_(readAhead) {}

    // Lists the next part of `node` and hands it over; false once the listing
    // is complete, or (not `consumer`) when descriptors ran out before it was
    // opened: it is then Waiting again for the consumer to list. Any error is
    // kept with the directory for the consumer; a `worker` whose allocation
    // fails hands the directory back instead (Lister::HandingBack). Without
    // the lock.
    bool ListPart(Dir_Rec* node, Lister& lister, bool consumer, bool worker = false);

  private:
    WalkState& walk_;
    HandleCache& handles_;
    ReadAhead& readAhead_;

    struct Outcome;
    runtime::DirResult Start(Dir_Rec* node, bool consumer, Outcome& out);
    void Admit(Dir_Rec* node, DirFd handle, const runtime::DirIdentity& id, Outcome& out);
    // Takes the entry just read into the part; false when its record could
    // not be allocated (on the consumer). Whole or not at all.
    bool Take(Dir_Rec* node, Lister& lister, Part& part,
              std::vector<std::unique_ptr<Dir_Rec>>& children, bool worker);
    void Retreat(Dir_Rec* node, Lister& lister) noexcept;
    void CountSelf(Part& part, std::uint64_t diskBytes) const;
    // Whether the entry just read is excluded by a pattern.
    bool Excluded(Lister& lister) const;
    void PathOf(const Dir_Rec* node, Lister& lister) const;
    void Publish(Dir_Rec* node, std::unique_ptr<Part> part,
                 std::vector<std::unique_ptr<Dir_Rec>>& children, bool more, Outcome& out) noexcept;
};

} // namespace kelpo32::walk
