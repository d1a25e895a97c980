#include "kelpo32/walk/readahead.h"

#include <algorithm>
#include <memory>
#include <new>

namespace kelpo32::walk {

void ReadAhead::Start(Listing& listing, std::int32_t threads, std::int32_t cap) {
    listing_ = &listing;
    threads = std::max<std::int32_t>(1, threads);
    cap = std::max(cap, threads);
    if (cap <= 1) return;
    // Room first, so that a started thread is always recorded to be joined;
    // without it, no helpers: the consumer lists everything.
    try {
        workers_.reserve(static_cast<std::size_t>(cap - 1));
        threads_.reserve(static_cast<std::size_t>(cap - 1));
        handed_.reserve(static_cast<std::size_t>(cap - 1));
    } catch (const std::bad_alloc&) {
        return;
    }
    idle_.reset(NewWalkSignal());
    if (idle_ == nullptr) throw std::bad_alloc();
    if (cap > threads) pace_.emplace(threads, cap);
    runtime::ShareHeaps();
    runtime::Locked held(walk_.L());
    // New children join the queue even while no worker runs yet.
    walk_.Workers = true;
    StartWorkers(threads - 1);
    if (threads_.empty() && !pace_) walk_.Workers = false;
}

void ReadAhead::StartWorkers(std::int32_t count) noexcept {
    while (static_cast<std::int32_t>(threads_.size()) < count && !cannotStart_ &&
           threads_.size() < threads_.capacity()) {
        workers_.push_back(Worker{this, static_cast<std::int32_t>(workers_.size())});
        ++running_;
        runtime::Thread* t = runtime::StartThread(WorkerMain, &workers_.back());
        if (t == nullptr) {
            // No room for one more thread or its stack: fewer helpers; the
            // consumer lists the rest.
            workers_.pop_back();
            Leave();
            cannotStart_ = true;
            break;
        }
        threads_.push_back(t);
    }
    active_ = std::min(count, static_cast<std::int32_t>(threads_.size()));
}

void ReadAhead::Stop() noexcept {
    if (walk_.L() != nullptr) {
        // Workers start workers: once Stopping is set, none is added.
        runtime::Locked held(walk_.L());
        if (!threads_.empty()) {
            walk_.Stopping = true;
            walk_.StopNow.store(true, std::memory_order_relaxed);
            runtime::WakeAll(walk_.Work.get());
            runtime::WakeAll(walk_.Ready.get());
            runtime::WakeAll(idle_.get());
        }
    }
    for (runtime::Thread* t : threads_)
        runtime::JoinThread(t);
    threads_.clear();
    handed_.clear();
    helper_.Abandon();
}

void ReadAhead::Timed(std::int64_t wall, std::int64_t cpu) noexcept {
    if (!pace_ || walk_.Stopping) return;
    std::int32_t wanted = pace_->Listed(wall, cpu);
    std::int32_t before = active_;
    StartWorkers(wanted - 1);
    if (active_ > before) runtime::WakeAll(idle_.get());
}

bool ReadAhead::Enqueue(Dir_Rec* first) {
    bool queued = false;
    for (Dir_Rec* c = first; c != nullptr; c = c->Next) {
        walk_.Queue.insert(c);
        c->Queued = true;
        queued = true;
    }
    return queued;
}

void ReadAhead::Charge(Part& part, const Dir_Rec* firstChild) noexcept {
    // What the part holds: its records and the children it names.
    part.Cost = sizeof(Part) + part.Records.capacity() + part.Late.capacity() * sizeof(LateFile);
    for (const Dir_Rec* c = firstChild; c != nullptr; c = c->Next)
        part.Cost += sizeof(Dir_Rec) + 16 + c->Name.capacity() + c->Native.capacity();
    walk_.Buffered += part.Cost;
}

void ReadAhead::Discharge(const Part& part) noexcept {
    bool wasFull = walk_.BudgetFull();
    walk_.Buffered -= part.Cost;
    if (wasFull && !walk_.BudgetFull()) walk_.WakeWorkers();
}

Lister* ReadAhead::Claim(Dir_Rec* node, bool& self) {
    self = false;
    Lister* lister = nullptr;
    if (node == helping_) {
        // Begun while waiting for another directory: go on with it.
        self = true;
        lister = &helper_;
        helping_ = nullptr;
    } else if (node->State == Stage::Waiting) {
        self = true;
        node->State = Stage::Listing;
        if (node->Queued) walk_.Queue.erase(node);
        node->Queued = false;
        // Begun by a worker that ran short of memory: go on where it stopped.
        lister = Handed(node);
    }
    // A worker held back by the budget may be listing it.
    if (walk_.BudgetFull()) walk_.WakeWorkers();
    return lister;
}

Dir_Rec* ReadAhead::Pop() {
    Dir_Rec* node = *walk_.Queue.begin();
    walk_.Queue.erase(walk_.Queue.begin());
    node->Queued = false;
    node->State = Stage::Listing;
    return node;
}

bool ReadAhead::Help() {
    if (walk_.BudgetFull() || (helping_ == nullptr && walk_.Queue.empty())) return false;
    if (helping_ == nullptr) helping_ = Pop();
    Dir_Rec* helped = helping_;
    bool more = false;
    {
        runtime::Unlocked free(walk_.L());
        more = listing_->ListPart(helped, helper_, false);
    }
    if (!more && helping_ == helped) helping_ = nullptr;
    return true;
}

void ReadAhead::HandBack(Dir_Rec* node) noexcept {
    runtime::Locked held(walk_.L());
    node->State = Stage::Waiting;
    walk_.WakeConsumer(node);
}

Lister* ReadAhead::Handed(const Dir_Rec* node) const noexcept {
    for (const HandedListing& h : handed_)
        if (h.Node == node) return h.State.get();
    return nullptr;
}

void ReadAhead::Finished(const Dir_Rec* node) noexcept {
    for (auto it = handed_.begin(); it != handed_.end(); ++it)
        if (it->Node == node) {
            handed_.erase(it);
            return;
        }
}

void ReadAhead::HandOver(Dir_Rec* node, std::unique_ptr<Lister> lister) noexcept {
    // Within the room reserved at the start: never allocates.
    if (lister->Lists(node)) handed_.push_back(HandedListing{node, std::move(lister)});
    node->State = Stage::Waiting;
    walk_.WakeConsumer(node);
}

void ReadAhead::Leave() noexcept {
    // With no worker left or to come, new children need not join the queue.
    if (--running_ == 0 && !pace_) walk_.Workers = false;
}

void ReadAhead::WorkerMain(void* worker) {
    auto* w = static_cast<Worker*>(worker);
    w->Owner->Work(w->Index);
}

void ReadAhead::Work(std::int32_t index) {
    Dir_Rec* node = nullptr; // the directory being listed
    std::unique_ptr<Lister> lister;
    try {
        lister = std::make_unique<Lister>(walk_.Source);
    } catch (const std::bad_alloc&) {
        // No room for one more listing thread: the others do its share.
        runtime::Locked held(walk_.L());
        Leave();
        return;
    }
    try {
        runtime::Locked held(walk_.L());
        for (;;) {
            // An idle worker waits apart, so that wake-ups for work skip it.
            while (!walk_.Stopping && index >= active_) {
                lister->Release();
                runtime::Wait(idle_.get(), walk_.L());
            }
            while (!walk_.Stopping && index < active_ &&
                   (walk_.Queue.empty() || !walk_.RoomToList())) {
                // A waiting worker holds no read buffer.
                lister->Release();
                ++walk_.WaitingWorkers;
                runtime::Wait(walk_.Work.get(), walk_.L());
                --walk_.WaitingWorkers;
            }
            if (walk_.Stopping) break;
            if (index >= active_) continue;
            node = Pop();
            // Its read buffer and part count from now until the listing ends.
            walk_.Buffered += walk_.Limits.ListingCost;
            for (;;) {
                bool more = false;
                {
                    runtime::Unlocked free(walk_.L());
                    more = listing_->ListPart(node, *lister, false, true);
                }
                if (!more) break;
                // The directory the consumer waits for goes on whatever the budget.
                while (!walk_.Stopping && walk_.BudgetFull() && walk_.Target != node) {
                    ++walk_.WaitingWorkers;
                    runtime::Wait(walk_.Work.get(), walk_.L());
                    --walk_.WaitingWorkers;
                }
                if (walk_.Stopping) break; // the node is freed with the tree
            }
            if (lister->HandingBack()) {
                // Short of memory: the consumer lists it, and this thread
                // ends, giving back what it holds.
                HandOver(node, std::move(lister));
                node = nullptr;
                Unreserve();
                break;
            }
            lister->Abandon();
            node = nullptr;
            Unreserve();
        }
    } catch (...) {
        Fail(node, std::current_exception());
        if (node != nullptr) {
            runtime::Locked held(walk_.L());
            Unreserve();
        }
    }
    runtime::Locked held(walk_.L());
    Leave();
}

void ReadAhead::Unreserve() noexcept {
    bool wasFull = !walk_.RoomToList();
    walk_.Buffered -= walk_.Limits.ListingCost;
    if (wasFull) walk_.WakeWorkers();
}

void ReadAhead::Fail(Dir_Rec* node, const std::exception_ptr& error) noexcept {
    runtime::Locked held(walk_.L());
    if (node != nullptr && node->State != Stage::Listed) {
        if (!node->Error) node->Error = error;
        node->State = Stage::Listed;
        walk_.WakeConsumer(node);
    } else if (!walk_.WorkerError) {
        walk_.WorkerError = error;
        if (walk_.ConsumerWaits) runtime::WakeAll(walk_.Ready.get());
    }
}

} // namespace kelpo32::walk
