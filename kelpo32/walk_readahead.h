// The read-ahead: worker threads list the directories that come next in walk
// order (the earliest queued first) while the consumer reads, until a budget
// of unread parts is full. A worker that runs out of descriptors before a
// directory is open hands it back to the consumer. Any exception on a worker
// is kept with the directory it was listing (or with the walk) and raised by
// the consumer where it belongs.
#pragma once

#include "kelpo32/walk_lister.h"
#include "kelpo32/walk_state.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kelpo32 {

class ReadAhead {
  public:
    explicit ReadAhead(WalkState& walk) : walk_(walk), helper_(walk.Source) {}
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    ~ReadAhead() { Stop(); }

    // Starts up to `workers` threads listing through `listing`.
    void Start(Listing& listing, std::int32_t workers);
    // Ends the workers and waits for every one.
    void Stop() noexcept;

    // Under the walk's lock from here on.

    // Queues the children from `first` on; whether any was queued.
    bool Enqueue(Dir_Rec* first);
    // A part joins the unread ones: its cost is counted in the budget.
    void Charge(Part& part, const Dir_Rec* firstChild) noexcept;
    // The consumer read the part: its cost leaves the budget.
    void Discharge(const Part& part) noexcept;
    // The consumer takes `node` now: off the queue. Returns the lister to
    // use when the consumer began listing it while it waited, else nullptr;
    // `self` says whether the consumer lists it.
    Lister* Claim(Dir_Rec* node, bool& self);
    // The consumer waits for its directory: lists a part of the earliest
    // queued one meanwhile, if there is one and room in the budget. Whether it
    // did.
    bool Help();

    // The lister a worker left `node`'s listing in when it ran short of
    // memory, for the consumer to go on with; nullptr when there is none.
    Lister* Handed(const Dir_Rec* node) const noexcept;
    // The consumer is done with `node`: its handed lister goes.
    void Finished(const Dir_Rec* node) noexcept;

    // Without the lock: a worker could not open `node` for lack of
    // descriptors; it waits for the consumer again.
    void HandBack(Dir_Rec* node) noexcept;

  private:
    struct HandedListing {
        const Dir_Rec* Node;
        std::unique_ptr<Lister> State;
    };

    WalkState& walk_;
    Listing* listing_ = nullptr;
    std::vector<runtime::Thread*> threads_;
    // At most one per worker: a worker that hands a listing over ends.
    std::vector<HandedListing> handed_;
    std::int32_t running_ = 0;   // workers that have not ended
    Lister helper_;              // the consumer's, for a directory it lists while it waits
    Dir_Rec* helping_ = nullptr; // that directory, until its listing is complete

    static void WorkerMain(void* self);
    void Work();
    void Fail(Dir_Rec* node, const std::exception_ptr& error) noexcept;
    // A worker's listing ended: its cost leaves the budget. Under the lock.
    void Unreserve() noexcept;
    Dir_Rec* Pop();
    // A worker ran short of memory with `node`: back to the consumer, with
    // the lister when the listing had begun. Under the lock.
    void HandOver(Dir_Rec* node, std::unique_ptr<Lister> lister) noexcept;
    // A worker ends. Under the lock.
    void Leave() noexcept;
};

} // namespace kelpo32
