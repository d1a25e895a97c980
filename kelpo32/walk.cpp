// The walk has two sides. The consumer side runs on the caller's thread: it
// takes the directories in the order of a one-thread depth-first walk and
// hands their listings to the events. The listing side opens a directory
// relative to its parent's open directory and reads its entries in parts.
// With one thread the consumer lists each directory itself when it gets
// there. With N, N - 1 worker threads list the directories that come next
// (earliest in walk order first) until a budget of unread parts is full; the
// consumer reads what they have listed, lists a directory itself when no
// worker has taken it, and lists the next one in the queue rather than wait.
// Either way a directory's parts reach the events in the same order, so the
// report does not depend on the number of threads.
#include "kelpo32/walk.h"

#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/threads.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelpo32 {

namespace {

constexpr std::uint32_t LongNameAttr = 15; // read-only, hidden, system and volume label
constexpr std::size_t PartEntries = 1024;
constexpr std::size_t PartBytes = std::size_t{32} * 1024;
// Unread parts the read-ahead may hold before it waits for the consumer.
constexpr std::size_t ReadAheadBudget = std::size_t{4} << 20;
// Open directories kept for children still to be opened; above this a level
// is reopened from its nearest open ancestor when it is needed.
constexpr std::int64_t MaxHeldHandles = 256;

// A part of a directory's listing.
struct Part {
    Part* Next = nullptr;
    std::string Records; // with entry names: kind, 4-byte length and name of each entry
    std::int32_t FileCount = 0;
    std::int64_t FileBytes = 0;
    std::int32_t Children = 0;
    std::size_t Cost = 0;
};

enum class Stage : std::uint8_t { Waiting, Listing, Listed };

} // namespace

// A directory of the walk, from the listing that names it until its subtree
// is done. Name, Native, Id, Parent and Depth never change; the rest is
// guarded by the walk's lock.
struct Dir_Rec {
    std::string Name;
    std::string Native;
    std::int32_t Id = 0;
    Dir_Rec* Next = nullptr; // the sibling found after it
    Dir_Rec* Parent = nullptr;
    std::int32_t Depth = 0;

    Stage State = Stage::Waiting;
    bool Queued = false; // waits in the read-ahead queue
    Part* FirstPart = nullptr;
    Part* LastPart = nullptr;
    Dir_Rec* FirstChild = nullptr;
    Dir_Rec* LastChild = nullptr;
    std::int32_t ChildrenToOpen = 0; // children not opened yet: they need Handle
    runtime::DirHandle Handle;
    bool Held = false;      // Handle kept after the listing, for the children
    std::int32_t Users = 0; // threads opening a child through Handle right now
    runtime::DirIdentity Identity;
    bool Registered = false; // Identity counted among the live directories
    runtime::DirResult Fault;
    std::exception_ptr Error;
    bool OutOfRecords = false;

    const std::string& NativeName() const { return Native.empty() ? Name : Native; }
};

namespace {

Dir_Rec* AllocateDirRec() {
    return new (std::nothrow) Dir_Rec;
}

struct IdentityHash {
    std::size_t operator()(const runtime::DirIdentity& id) const {
        return std::hash<std::uint64_t>()(id.File * 0x9E3779B97F4A7C15ull ^ id.Volume);
    }
};

// Walk order of two directories neither of which has been listed: up to the
// nearest common ancestor, then by position among its children.
struct WalkOrder {
    bool operator()(const Dir_Rec* a, const Dir_Rec* b) const {
        if (a == b) return false;
        const Dir_Rec* x = a;
        const Dir_Rec* y = b;
        while (x->Depth > y->Depth)
            x = x->Parent;
        while (y->Depth > x->Depth)
            y = y->Parent;
        if (x == y) return a->Depth < b->Depth; // an ancestor comes first
        while (x->Parent != y->Parent) {
            x = x->Parent;
            y = y->Parent;
        }
        return x->Id < y->Id;
    }
};

// What one listing thread keeps from directory to directory.
struct Lister {
    runtime::DirReader Reader;
    runtime::DirEntry Entry;
    runtime::DirHandle Handle; // of the directory being listed
    std::int32_t Children = 0;
    bool Started = false;
    bool Reading = false;
};

void AppendRecord(std::string& records, EntryKind kind, const std::string& name) {
    auto length = runtime::CheckedRange<std::uint32_t>(name.size());
    char head[5];
    head[0] = static_cast<char>(kind);
    std::memcpy(head + 1, &length, 4);
    records.append(head, 5);
    records.append(name);
}

class Walker {
  public:
    Walker(const WalkOptions& options, const WalkEvents& events)
        : options_(options), events_(events) {
        // Descriptors: the standard ones, the log and the start directory
        // aside, each listing thread needs up to four at a time; the held
        // ones take what is left.
        std::int64_t spare = runtime::OpenFileLimit() - 6;
        std::int64_t threads =
            std::clamp<std::int64_t>(options.Threads, 1, std::max<std::int64_t>(1, spare / 8));
        workers_ = static_cast<std::int32_t>(threads - 1);
        heldCap_ = std::clamp<std::int64_t>(spare - 4 * threads, 1, MaxHeldHandles);
    }
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    ~Walker() {
        if (lock_ != nullptr) {
            {
                runtime::Locked held(lock_);
                stopping_ = true;
                stopNow_.store(true, std::memory_order_relaxed);
                WakeWorkers();
                runtime::WakeAll(ready_);
            }
            for (runtime::Thread* t : threads_)
                runtime::JoinThread(t);
        }
        Abandon(consumer_);
        Abandon(helper_);
        for (Dir_Rec* d : done_) {
            runtime::CloseDir(d->Handle);
            delete d;
        }
        FreeTree(root_);
        runtime::FreeSignal(ready_);
        runtime::FreeSignal(work_);
        runtime::FreeLock(lock_);
    }

    std::int64_t Run(const std::string& startDir, const std::string& startNative) {
        lock_ = runtime::NewLock();
        work_ = runtime::NewSignal();
        ready_ = runtime::NewSignal();
        if (lock_ == nullptr || work_ == nullptr || ready_ == nullptr) throw std::bad_alloc();
        root_ = new Dir_Rec;
        root_->Fault = runtime::OpenDirPath(startDir, startNative, root_->Handle, root_->Identity);
        rootVolume_ = root_->Identity.Volume;
        if (workers_ > 0) {
            // The consumer lists too: it takes each directory no worker has.
            for (std::int32_t i = 0; i < workers_; ++i) {
                runtime::Thread* t = runtime::StartThread(WorkerMain, this);
                if (t == nullptr) break; // fewer helpers; the consumer lists the rest
                threads_.push_back(t);
            }
        }
        walkPath_ = startDir;
        const std::string noName;
        return Consume(root_, WalkDir{startDir, noName, noName, 0, 0, 0});
    }

  private:
    const WalkOptions& options_;
    const WalkEvents& events_;
    runtime::Lock* lock_ = nullptr;
    runtime::Signal* work_ = nullptr;  // workers wait here for directories and budget
    runtime::Signal* ready_ = nullptr; // the consumer waits here for parts
    std::vector<runtime::Thread*> threads_;
    std::int32_t workers_ = 0;
    Dir_Rec* root_ = nullptr;
    std::uint64_t rootVolume_ = 0;
    Lister consumer_;
    Lister helper_;              // the consumer's, for a directory it lists while it waits
    Dir_Rec* helping_ = nullptr; // that directory, until its listing is complete

    // Guarded by lock_.
    bool stopping_ = false;
    // Read without the lock between entries, so a worker in a slow directory
    // lets the run end at once.
    std::atomic<bool> stopNow_{false};
    std::int32_t waitingWorkers_ = 0;
    bool consumerWaits_ = false;
    Dir_Rec* target_ = nullptr; // the directory the consumer reads now
    std::set<Dir_Rec*, WalkOrder> queue_;
    std::size_t buffered_ = 0; // cost of the parts not read yet
    std::set<std::pair<std::int32_t, Dir_Rec*>> held_;
    std::int64_t heldCap_ = MaxHeldHandles;
    // Directories listed whose subtrees are not done; a directory met again
    // on its own path (a loop through a mount) is not entered.
    std::unordered_map<runtime::DirIdentity, std::int32_t, IdentityHash> live_;

    // The consumer's side alone: the path of the directory being read, shared
    // by every level, and the directories done but not yet released.
    std::string walkPath_;
    std::vector<Dir_Rec*> done_;

    // Wake-ups cost a system call each: only for threads that wait.
    void WakeWorkers() {
        if (waitingWorkers_ > 0) runtime::WakeAll(work_);
    }
    void WakeConsumer(const Dir_Rec* node) {
        if (consumerWaits_ && node == target_) runtime::WakeAll(ready_);
    }

    // ---- consumer side ----

    void EnterPath(const std::string& name) {
        walkPath_ += name;
        if (!walkPath_.empty() && walkPath_.back() != runtime::PathSeparator())
            walkPath_ += runtime::PathSeparator();
    }

    std::int64_t Consume(Dir_Rec* node, const WalkDir& dir) {
        events_.DirStart(dir);
        WalkListing listing;
        const std::size_t pathLength = walkPath_.size();
        ReadListing(node, dir, listing);
        Settle(node, listing);
        events_.DirListed(dir, listing);
        EnterPath(dir.Name);
        std::int32_t level = runtime::CheckedAdd<std::int32_t>(dir.Level, 1);
        std::int64_t childBytes = 0;
        for (;;) {
            // Once listed, only the consumer changes the list of children.
            Dir_Rec* child = node->FirstChild;
            if (child == nullptr) break;
            std::int64_t sub = Consume(child, WalkDir{walkPath_, child->Name, child->Native, level,
                                                      child->Id, listing.ChildCount});
            node->FirstChild = child->Next;
            if (node->FirstChild == nullptr) node->LastChild = nullptr;
            // Released with the next directory, under the same lock.
            done_.push_back(child);
            childBytes = runtime::CheckedAdd<std::int64_t>(childBytes, sub);
        }
        walkPath_.resize(pathLength);
        std::int64_t total = runtime::CheckedAdd<std::int64_t>(childBytes, listing.FileBytes);
        events_.DirDone(dir, listing, total);
        return total;
    }

    // Hands the parts of `node` to the events as they come, listing the
    // directory here when no worker has taken it.
    void ReadListing(Dir_Rec* node, const WalkDir& dir, WalkListing& listing) {
        bool self = false;
        Lister* lister = &consumer_;
        {
            runtime::Locked held(lock_);
            for (Dir_Rec* d : done_)
                Release(d);
            target_ = node;
            if (node == helping_) {
                // Begun while waiting for another directory: go on with it.
                self = true;
                lister = &helper_;
                helping_ = nullptr;
            } else if (node->State == Stage::Waiting) {
                self = true;
                node->State = Stage::Listing;
                if (node->Queued) queue_.erase(node);
                node->Queued = false;
            }
            // A worker held back by the budget may be listing it.
            if (buffered_ >= ReadAheadBudget) WakeWorkers();
        }
        for (Dir_Rec* d : done_)
            delete d;
        done_.clear();
        bool more = true;
        for (;;) {
            if (self && more) more = ListPart(node, *lister, true);
            Part* part = nullptr;
            {
                runtime::Locked held(lock_);
                if (!self) {
                    while (node->FirstPart == nullptr && node->State == Stage::Listing) {
                        // Rather than wait, list what comes next in the queue.
                        if (buffered_ < ReadAheadBudget &&
                            (helping_ != nullptr || !queue_.empty())) {
                            Help();
                            continue;
                        }
                        consumerWaits_ = true;
                        runtime::Wait(ready_, lock_);
                        consumerWaits_ = false;
                    }
                    // Handed back by a worker that ran out of descriptors.
                    if (node->FirstPart == nullptr && node->State == Stage::Waiting) {
                        node->State = Stage::Listing;
                        self = true;
                        continue;
                    }
                }
                part = node->FirstPart;
                if (part != nullptr) {
                    node->FirstPart = part->Next;
                    if (node->FirstPart == nullptr) node->LastPart = nullptr;
                    bool wasFull = buffered_ >= ReadAheadBudget;
                    buffered_ -= part->Cost;
                    if (wasFull && buffered_ < ReadAheadBudget) WakeWorkers();
                } else if (node->State == Stage::Listed) {
                    target_ = nullptr;
                    break;
                }
            }
            if (part != nullptr) {
                std::unique_ptr<Part> owned(part);
                TakePart(*owned, dir, listing);
            }
        }
    }

    void TakePart(const Part& part, const WalkDir& dir, WalkListing& listing) {
        if (options_.EntryNames) {
            std::size_t pos = 0;
            while (pos < part.Records.size()) {
                auto kind = static_cast<EntryKind>(part.Records[pos]);
                std::uint32_t length = 0;
                std::memcpy(&length, part.Records.data() + pos + 1, 4);
                events_.Entry(dir, kind, std::string_view(part.Records).substr(pos + 5, length));
                pos += 5 + length;
            }
        }
        listing.FileCount = runtime::CheckedAdd<std::int32_t>(listing.FileCount, part.FileCount);
        listing.FileBytes = runtime::CheckedAdd<std::int64_t>(listing.FileBytes, part.FileBytes);
        listing.ChildCount = runtime::CheckedAdd<std::int32_t>(listing.ChildCount, part.Children);
    }

    // Lists one part of the earliest queued directory while the consumer's
    // own is listed elsewhere. Called and returns under the lock.
    void Help() {
        if (helping_ == nullptr) {
            helping_ = *queue_.begin();
            queue_.erase(queue_.begin());
            helping_->Queued = false;
            helping_->State = Stage::Listing;
        }
        Dir_Rec* node = helping_;
        runtime::Release(lock_);
        bool more = ListPart(node, helper_, false);
        runtime::Acquire(lock_);
        if (!more) helping_ = nullptr;
    }

    // What the listing ended with, raised or reported where it belongs. The
    // directory is listed: nothing changes these fields any more.
    void Settle(const Dir_Rec* node, WalkListing& listing) {
        if (node->Error) std::rethrow_exception(node->Error);
        if (node->OutOfRecords) events_.OutOfRecords();
        const runtime::DirResult& fault = node->Fault;
        if (fault.Fault == runtime::DirFault::Resource) runtime::RaiseIoError(fault.Code);
        if (fault.Fault == runtime::DirFault::Unexpected) {
            listing.Problem = DirProblem::Unexpected;
            listing.Reason = runtime::FaultText(fault.Code);
        } else if (fault.Fault == runtime::DirFault::Unreadable && fault.Code != 0) {
            // Code 0: not entered on purpose (a loop, another file system).
            listing.Problem = DirProblem::Unreadable;
            listing.Reason = runtime::FaultText(fault.Code);
        }
        // Reasons are written in running text: "permission denied".
        if (!listing.Reason.empty() && listing.Reason[0] >= 'A' && listing.Reason[0] <= 'Z')
            listing.Reason[0] = static_cast<char>(listing.Reason[0] - 'A' + 'a');
    }

    // A directory whose subtree is done: off the live set, its handle closed.
    // Under the lock.
    void Release(Dir_Rec* node) {
        if (node->Registered) {
            auto it = live_.find(node->Identity);
            if (it != live_.end() && --it->second == 0) live_.erase(it);
        }
        if (node->Held) held_.erase({node->Depth, node});
        node->Held = false;
        runtime::CloseDir(node->Handle);
    }

    // ---- listing side ----

    static void WorkerMain(void* self) { static_cast<Walker*>(self)->Work(); }

    void Work() {
        Lister lister;
        runtime::Locked held(lock_);
        for (;;) {
            while (!stopping_ && (queue_.empty() || buffered_ >= ReadAheadBudget)) {
                ++waitingWorkers_;
                runtime::Wait(work_, lock_);
                --waitingWorkers_;
            }
            if (stopping_) break;
            Dir_Rec* node = *queue_.begin();
            queue_.erase(queue_.begin());
            node->Queued = false;
            node->State = Stage::Listing;
            runtime::Release(lock_);
            bool more = true;
            while (more) {
                more = ListPart(node, lister, false);
                if (!more) break;
                runtime::Acquire(lock_);
                while (!stopping_ && buffered_ >= ReadAheadBudget && target_ != node) {
                    ++waitingWorkers_;
                    runtime::Wait(work_, lock_);
                    --waitingWorkers_;
                }
                bool stop = stopping_;
                runtime::Release(lock_);
                if (stop) {
                    // The walk is ending: the node is freed with the tree.
                    Abandon(lister);
                    break;
                }
            }
            runtime::Acquire(lock_);
        }
    }

    void Abandon(Lister& lister) {
        if (lister.Reading) runtime::StopReading(lister.Reader);
        lister.Reading = false;
        lister.Started = false;
    }

    // Opens `node` relative to its parent, reopening the levels above it
    // whose handles were given up, and admits it. Without the lock.
    runtime::DirResult OpenNode(Dir_Rec* node, Lister& lister) {
        runtime::DirHandle handle;
        runtime::DirIdentity id;
        Dir_Rec* parent = node->Parent;
        Dir_Rec* user = parent; // the level whose handle is borrowed
        runtime::DirHandle from;
        {
            runtime::Locked held(lock_);
            while (!user->Handle.IsOpen() && user != root_)
                user = user->Parent;
            ++user->Users;
            from = user->Handle;
        }
        runtime::DirResult result;
        if (!from.IsOpen()) result = root_->Fault; // the start directory could not be opened
        std::vector<Dir_Rec*> chain;
        for (Dir_Rec* n = parent; n != user; n = n->Parent)
            chain.push_back(n);
        bool temporary = false; // `from` is this call's to close
        for (auto it = chain.rbegin();
             it != chain.rend() && result.Fault == runtime::DirFault::None; ++it) {
            Dir_Rec* n = *it;
            runtime::DirHandle h;
            runtime::DirIdentity again;
            result = runtime::OpenDirAt(from, n->NativeName(), h, again);
            if (temporary) runtime::CloseDir(from);
            temporary = false;
            if (result.Fault != runtime::DirFault::None) break;
            // Renamed or replaced meanwhile: not the directory that was listed.
            if (!(again == n->Identity)) {
                runtime::CloseDir(h);
                result = runtime::DirResult{runtime::DirFault::Unreadable, 0};
                break;
            }
            from = h;
            temporary = true;
            // Kept while the level still has children to open.
            runtime::Locked held(lock_);
            if (!n->Handle.IsOpen() && n->ChildrenToOpen > (n == parent ? 1 : 0) && Keep(n)) {
                n->Handle = h;
                ++n->Users;
                --user->Users;
                Drop(user);
                user = n;
                temporary = false;
            }
        }
        if (result.Fault == runtime::DirFault::None)
            result = runtime::OpenDirAt(from, node->NativeName(), handle, id);
        if (temporary) runtime::CloseDir(from);
        runtime::Locked held(lock_);
        --user->Users;
        Drop(user);
        --parent->ChildrenToOpen;
        Drop(parent);
        if (result.Fault == runtime::DirFault::Resource) return result;
        return Admit(node, lister, result, std::move(handle), id);
    }

    // Whether `node` may keep its handle: room among the held ones, made by
    // giving up the shallowest idle one when needed. Under the lock.
    bool Keep(Dir_Rec* node) {
        if (static_cast<std::int64_t>(held_.size()) >= heldCap_) {
            auto victim = std::find_if(held_.begin(), held_.end(),
                                       [](const auto& h) { return h.second->Users == 0; });
            if (victim == held_.end() || victim->first >= node->Depth) return false;
            Dir_Rec* v = victim->second;
            held_.erase(victim);
            v->Held = false;
            runtime::CloseDir(v->Handle);
        }
        held_.insert({node->Depth, node});
        node->Held = true;
        return true;
    }

    // Closes the handle of a listed directory nobody needs any more. Under the lock.
    void Drop(Dir_Rec* node) {
        if (node == root_ || node->Users > 0 || node->State != Stage::Listed) return;
        if (node->ChildrenToOpen > 0 && node->Held) return;
        if (node->Held) held_.erase({node->Depth, node});
        node->Held = false;
        runtime::CloseDir(node->Handle);
    }

    // Opening failed for lack of descriptors: give up every idle held handle.
    // Under the lock.
    void DropIdleHandles() {
        for (auto it = held_.begin(); it != held_.end();) {
            Dir_Rec* v = it->second;
            if (v->Users == 0) {
                it = held_.erase(it);
                v->Held = false;
                runtime::CloseDir(v->Handle);
            } else {
                ++it;
            }
        }
    }

    // Opens the directory and checks that it may be entered. Without the lock.
    runtime::DirResult Start(Dir_Rec* node, Lister& lister, bool consumer) {
        if (node == root_) {
            runtime::Locked held(lock_);
            return Admit(node, lister, root_->Fault, root_->Handle, root_->Identity);
        }
        runtime::DirResult result = OpenNode(node, lister);
        if (result.Fault == runtime::DirFault::Resource && consumer) {
            {
                runtime::Locked held(lock_);
                DropIdleHandles();
            }
            result = OpenNode(node, lister);
        }
        return result;
    }

    // Whether the directory just opened may be entered: not on another file
    // system with OneFileSystem, not one of its own ancestors. Under the lock.
    runtime::DirResult Admit(Dir_Rec* node, Lister& lister, runtime::DirResult result,
                             runtime::DirHandle handle, const runtime::DirIdentity& id) {
        if (result.Fault != runtime::DirFault::None) return result;
        bool enter = !(options_.OneFileSystem && id.Volume != rootVolume_);
        if (enter && live_.count(id) != 0)
            for (Dir_Rec* a = node->Parent; a != nullptr && enter; a = a->Parent)
                enter = !(a->Identity == id);
        node->Identity = id;
        if (!enter) {
            if (node != root_) runtime::CloseDir(handle);
            return runtime::DirResult{runtime::DirFault::Unreadable, 0};
        }
        ++live_[id];
        node->Registered = true;
        node->Handle = handle;
        lister.Handle = std::move(handle);
        return result;
    }

    // Lists the next part of `node` and hands it over; false once the listing
    // is complete. Any error is kept with the directory for the consumer.
    bool ListPart(Dir_Rec* node, Lister& lister, bool consumer) {
        std::unique_ptr<Part> part;
        std::vector<Dir_Rec*> children;
        bool more = false;
        runtime::DirResult fault;
        std::exception_ptr error;
        bool outOfRecords = false;
        try {
            part = std::make_unique<Part>();
            if (!lister.Started) {
                lister.Started = true;
                lister.Children = 0;
                fault = Start(node, lister, consumer);
                if (fault.Fault == runtime::DirFault::Resource && !consumer) {
                    // Perhaps only the other workers' descriptors: the consumer
                    // tries again when it gets there.
                    runtime::Locked held(lock_);
                    node->State = Stage::Waiting;
                    lister.Started = false;
                    WakeConsumer(node);
                    return false;
                }
                if (fault.Fault == runtime::DirFault::None) {
                    fault = runtime::StartReading(lister.Handle, lister.Reader);
                    lister.Reading = fault.Fault == runtime::DirFault::None;
                }
            }
            std::size_t entries = 0;
            while (lister.Reading && entries < PartEntries && part->Records.size() < PartBytes &&
                   !(!consumer && stopNow_.load(std::memory_order_relaxed))) {
                runtime::DirEntry& e = lister.Entry;
                if (!runtime::ReadEntry(lister.Handle, lister.Reader, e, fault)) {
                    runtime::StopReading(lister.Reader);
                    lister.Reading = false;
                    break;
                }
                ++entries;
                EntryKind kind = EntryKind::File;
                if ((e.Attr & runtime::AttrDirectory) != 0)
                    kind = EntryKind::Directory;
                else if (e.Attr == LongNameAttr)
                    kind = EntryKind::Skipped;
                if (options_.EntryNames) AppendRecord(part->Records, kind, e.Name);
                if (kind == EntryKind::Directory) {
                    Dir_Rec* child = nullptr;
                    try {
                        child = NewDirRec();
                        if (child != nullptr) {
                            child->Name = e.Name;
                            child->Native = e.Native;
                        }
                    } catch (const std::bad_alloc&) {
                        delete child;
                        child = nullptr;
                    }
                    if (child == nullptr) {
                        outOfRecords = true;
                        runtime::StopReading(lister.Reader);
                        lister.Reading = false;
                        break;
                    }
                    children.push_back(child);
                    part->Children = runtime::CheckedAdd<std::int32_t>(part->Children, 1);
                    lister.Children = runtime::CheckedAdd<std::int32_t>(lister.Children, 1);
                    child->Id = lister.Children;
                    child->Parent = node;
                    child->Depth = runtime::CheckedAdd<std::int32_t>(node->Depth, 1);
                } else if (kind == EntryKind::File) {
                    part->FileBytes = runtime::CheckedAdd<std::int64_t>(
                        part->FileBytes, runtime::CheckedRange<std::int64_t>(e.Size));
                    part->FileCount = runtime::CheckedAdd<std::int32_t>(part->FileCount, 1);
                }
            }
            more = lister.Reading;
        } catch (...) {
            error = std::current_exception();
            if (lister.Reading) runtime::StopReading(lister.Reader);
            lister.Reading = false;
            more = false;
        }
        if (part == nullptr) {
            // Not even room for a part: the error alone goes to the consumer.
            more = false;
        }
        Publish(node, part.release(), children, more, fault, error, outOfRecords);
        if (!more) lister.Started = false;
        return more;
    }

    // Under the lock: the part joins the directory's listing, its children
    // the read-ahead queue; the directory is complete when nothing more comes.
    void Publish(Dir_Rec* node, Part* part, const std::vector<Dir_Rec*>& children, bool more,
                 runtime::DirResult fault, const std::exception_ptr& error, bool outOfRecords) {
        runtime::Locked held(lock_);
        for (Dir_Rec* child : children) {
            if (node->LastChild != nullptr)
                node->LastChild->Next = child;
            else
                node->FirstChild = child;
            node->LastChild = child;
            ++node->ChildrenToOpen;
        }
        bool queued = false;
        if (!threads_.empty() && !stopping_) {
            try {
                for (Dir_Rec* child : children) {
                    queue_.insert(child);
                    child->Queued = true;
                    queued = true;
                }
            } catch (const std::bad_alloc&) {
                // Left to the consumer, which lists what was not queued.
            }
        }
        if (part != nullptr) {
            part->Cost =
                sizeof(Part) + part->Records.capacity() + children.size() * (sizeof(Dir_Rec) + 16);
            for (Dir_Rec* child : children)
                part->Cost += child->Name.capacity() + child->Native.capacity();
            buffered_ += part->Cost;
            if (node->LastPart != nullptr)
                node->LastPart->Next = part;
            else
                node->FirstPart = part;
            node->LastPart = part;
        }
        if (!more) {
            if (fault.Fault != runtime::DirFault::None &&
                node->Fault.Fault == runtime::DirFault::None)
                node->Fault = fault;
            if (error && !node->Error) node->Error = error;
            node->OutOfRecords = node->OutOfRecords || outOfRecords;
            node->State = Stage::Listed;
            if (node != root_) {
                if (node->ChildrenToOpen > 0 && node->Handle.IsOpen() && !node->Held)
                    node->Held = Keep(node);
                Drop(node);
            }
        }
        if (queued) WakeWorkers();
        WakeConsumer(node);
    }

    // Frees the directories left when the walk ends early.
    void FreeTree(Dir_Rec* top) {
        std::vector<Dir_Rec*> stack;
        if (top != nullptr) stack.push_back(top);
        while (!stack.empty()) {
            Dir_Rec* n = stack.back();
            stack.pop_back();
            for (Dir_Rec* c = n->FirstChild; c != nullptr; c = c->Next)
                stack.push_back(c);
            while (n->FirstPart != nullptr) {
                Part* p = n->FirstPart;
                n->FirstPart = p->Next;
                delete p;
            }
            runtime::CloseDir(n->Handle);
            delete n;
        }
    }
};

} // namespace

Dir_Rec* (*NewDirRec)() = AllocateDirRec;

std::int64_t WalkTree(const std::string& startDir, const std::string& startNative,
                      const WalkOptions& options, const WalkEvents& events) {
    Walker walker(options, events);
    return walker.Run(startDir, startNative);
}

} // namespace kelpo32
