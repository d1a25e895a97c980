// The read-ahead: worker threads list the directories that come next in walk
// order (the earliest queued first) while the consumer reads, until a budget
// of unread parts is full. A worker that runs out of descriptors before a
// directory is open hands it back to the consumer. Any exception on a worker
// is kept with the directory it was listing (or with the walk) and raised by
// the consumer where it belongs.
#pragma once

#include "kelpo32/walk/lister.h"
#include "kelpo32/walk/pace.h"
#include "kelpo32/walk/walk_state.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kelpo32::walk {

class ReadAhead {
  public:
    explicit ReadAhead(WalkState& walk) : walk_(walk), helper_(walk.Source) {}
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    ~ReadAhead() { Stop(); }

    // Starts the workers listing through `listing`: `threads` listing
    // threads in all, the consumer included. With `cap` above `threads` the
    // count adapts (ThreadPace): workers are added, up to `cap` threads in
    // all, while listings wait on the disk, and idle again when they do not.
    void Start(Listing& listing, std::int32_t threads, std::int32_t cap);
    // Ends the workers and waits for every one.
    void Stop() noexcept;
    // Whether listings are timed for the pace. Set before any thread lists.
    bool Paced() const { return pace_.has_value(); }

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

    // A part of a listing ended, timed (see ThreadPace::Listed): the pace
    // may add a worker or let one idle.
    void Timed(std::int64_t wall, std::int64_t cpu) noexcept;

    // Without the lock: a worker could not open `node` for lack of
    // descriptors; it waits for the consumer again.
    void HandBack(Dir_Rec* node) noexcept;

  private:
    struct Worker {
        ReadAhead* Owner;
        std::int32_t Index; // from 0, in the order started
    };
    struct HandedListing {
        const Dir_Rec* Node;
        std::unique_ptr<Lister> State;
    };

    WalkState& walk_;
    Listing* listing_ = nullptr;
    // Room for the cap reserved at the start: adding a worker never moves them.
    std::vector<Worker> workers_;
    std::vector<runtime::Thread*> threads_;
    // At most one per worker: a worker that hands a listing over ends.
    std::vector<HandedListing> handed_;
    std::int32_t running_ = 0;   // workers started that have not ended
    Lister helper_;              // the consumer's, for a directory it lists while it waits
    Dir_Rec* helping_ = nullptr; // that directory, until its listing is complete
    std::optional<ThreadPace> pace_;
    // Under the lock: the workers from active_ on idle, waiting on idle_.
    std::int32_t active_ = 0;
    bool cannotStart_ = false; // the system refused a thread: no more are tried
    std::unique_ptr<runtime::Signal, SignalFree> idle_;

    static void WorkerMain(void* worker);
    void Work(std::int32_t index);
    // Starts workers up to `count`; fewer when the system has no room. Under
    // the lock.
    void StartWorkers(std::int32_t count) noexcept;
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

} // namespace kelpo32::walk
