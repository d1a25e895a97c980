// The walk's order and its consumer. The consumer runs on the caller's
// thread: it takes the directories in the order of a one-thread depth-first
// walk and hands their listings to the events. The listing of one directory
// is walk_lister.cpp, the open directories kept for the children are
// walk_handles.cpp, and the worker threads that list ahead are
// walk_readahead.cpp. With one thread the consumer lists each directory
// itself when it gets there; with N, N - 1 workers list what comes next and
// the consumer reads their parts, lists a directory itself when no worker has
// taken it, and lists the next one in the queue rather than wait. Either way
// a directory's parts reach the events in the same order, so the report does
// not depend on the number of threads.
#include "kelpo32/walk/walk.h"

#include "kelpo32/walk/consumer.h"
#include "kelpo32/walk/handles.h"
#include "kelpo32/walk/linkset.h"
#include "kelpo32/walk/lister.h"
#include "kelpo32/walk/readahead.h"
#include "kelpo32/walk/source.h"
#include "kelpo32/walk/walk_state.h"
#include "runtime/rtl.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace kelpo32::walk {

namespace {

Dir_Rec* AllocateDirRec() {
    return new (std::nothrow) Dir_Rec;
}

// Frees a record and everything below it without deep recursion.
void FreeTree(Dir_Rec* top) noexcept {
    std::vector<Dir_Rec*> stack;
    Dir_Rec* n = top;
    while (n != nullptr) {
        for (Dir_Rec* c = n->FirstChild; c != nullptr; c = c->Next)
            try {
                stack.push_back(c);
            } catch (const std::bad_alloc&) {
                // Left for the process's end rather than freed.
            }
        while (n->FirstPart != nullptr)
            n->FirstPart = std::move(n->FirstPart->Next);
        delete n;
        n = nullptr;
        if (!stack.empty()) {
            n = stack.back();
            stack.pop_back();
        }
    }
}

class Walker {
  public:
    Walker(DirSource& source, const WalkLimits& limits, const WalkOptions& options,
           WalkConsumer& consumer)
        : walk_(source, options, limits, consumer),
          plan_(PlanDescriptors(source.FreeDescriptors(),
                                std::max(options.Threads, options.MaxThreads),
                                limits.MaxHeldHandles)),
          handles_(walk_, plan_.HeldCap), readAhead_(walk_), listing_(walk_, handles_, readAhead_),
          consumer_(source) {}
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    ~Walker() {
        readAhead_.Stop();
        consumer_.Abandon();
        for (Dir_Rec* d : done_)
            delete d;
        FreeTree(walk_.Root);
    }

    std::int64_t Run(const std::string& startDir, const std::string& startNative) {
        // With one thread at most, the consumer lists everything itself and
        // nothing is shared: its lock costs nothing.
        walk_.Lock.reset(runtime::NewLock(plan_.Threads > 1 ? runtime::LockUse::Threads
                                                            : runtime::LockUse::OneThread));
        walk_.Work.reset(NewWalkSignal());
        walk_.Ready.reset(NewWalkSignal());
        if (walk_.Lock == nullptr || walk_.Work == nullptr || walk_.Ready == nullptr)
            throw std::bad_alloc();
        walk_.Root = new Dir_Rec;
        walk_.RootPath = startDir;
        runtime::DirHandle h;
        walk_.Root->Fault = walk_.Source.OpenPath(startDir, startNative, h, walk_.Root->Identity);
        if (walk_.Root->Fault.Fault == runtime::DirFault::None)
            walk_.Root->Handle = DirFd(walk_.Source, std::move(h));
        walk_.RootVolume = walk_.Root->Identity.Volume;
        // The consumer lists too: it takes each directory no worker has.
        readAhead_.Start(listing_, std::min(walk_.Options.Threads, plan_.Threads), plan_.Threads);
        walkPath_ = startDir;
        const std::string noName;
        WalkDir dir{startDir, noName, noName, 0, 0, 0};
        return Consume(walk_.Root, dir);
    }

  private:
    WalkState walk_;
    DescriptorPlan plan_;
    HandleCache handles_;
    ReadAhead readAhead_;
    Listing listing_;
    Lister consumer_;
    // The path of the directory being read, shared by every level, and the
    // directories done but not yet released.
    std::string walkPath_;
    std::vector<Dir_Rec*> done_;
    // Files with several links already counted.
    LinkSet links_;

    void EnterPath(const std::string& name) {
        walkPath_ += name;
        if (!walkPath_.empty() && walkPath_.back() != runtime::PathSeparator())
            walkPath_ += runtime::PathSeparator();
    }

    std::int64_t Consume(Dir_Rec* node, WalkDir& dir) {
        WalkListing listing;
        if (walk_.Options.BothKinds) listing.OtherFileBytes = 0;
        const std::size_t pathLength = walkPath_.size();
        ReadListing(node, dir, listing);
        Settle(node, listing);
        walk_.Consumer.DirListed(dir, listing);
        EnterPath(dir.Name);
        std::int32_t level = runtime::CheckedAdd<std::int32_t>(dir.Level, 1);
        std::int64_t childBytes = 0;
        for (;;) {
            // Once listed, only the consumer changes the list of children.
            Dir_Rec* child = node->FirstChild;
            if (child == nullptr) break;
            WalkDir sub{walkPath_, child->Name, child->Native,
                        level,     child->Id,   listing.ChildCount};
            std::int64_t bytes = Consume(child, sub);
            node->FirstChild = child->Next;
            if (node->FirstChild == nullptr) node->LastChild = nullptr;
            // Released with the next directory, under the same lock.
            done_.push_back(child);
            childBytes = runtime::CheckedAdd<std::int64_t>(childBytes, bytes);
        }
        walkPath_.resize(pathLength);
        std::int64_t total = runtime::CheckedAdd<std::int64_t>(childBytes, listing.FileBytes);
        walk_.Consumer.DirDone(dir, listing, total);
        return total;
    }

    // Hands the parts of `node` to the events as they come, listing the
    // directory here when no worker has taken it. DirStart goes first, once
    // the directory is open (or known not to be).
    void ReadListing(Dir_Rec* node, WalkDir& dir, WalkListing& listing) {
        bool self = false;
        Lister* lister = &consumer_;
        {
            runtime::Locked held(walk_.L());
            for (Dir_Rec* d : done_)
                Release(d);
            walk_.Target = node;
            if (Lister* helper = readAhead_.Claim(node, self)) lister = helper;
        }
        for (Dir_Rec* d : done_)
            delete d;
        done_.clear();
        bool started = false;
        bool more = true;
        for (;;) {
            if (self && more) more = listing_.ListPart(node, *lister, true);
            std::unique_ptr<Part> part;
            bool listed = false;
            {
                runtime::Locked held(walk_.L());
                if (walk_.WorkerError) std::rethrow_exception(walk_.WorkerError);
                if (!self) {
                    while (node->FirstPart == nullptr && node->State == Stage::Listing &&
                           !walk_.WorkerError) {
                        // Rather than wait, list what comes next in the queue.
                        if (readAhead_.Help()) continue;
                        walk_.ConsumerWaits = true;
                        runtime::Wait(walk_.Ready.get(), walk_.L());
                        walk_.ConsumerWaits = false;
                    }
                    if (walk_.WorkerError) std::rethrow_exception(walk_.WorkerError);
                    // Handed back by a worker that ran out of descriptors or
                    // memory (then with the listing it had begun).
                    if (node->FirstPart == nullptr && node->State == Stage::Waiting) {
                        node->State = Stage::Listing;
                        self = true;
                        Lister* handed = readAhead_.Handed(node);
                        lister = handed != nullptr ? handed : &consumer_;
                        continue;
                    }
                }
                if (node->FirstPart != nullptr) {
                    part = std::move(node->FirstPart);
                    node->FirstPart = std::move(part->Next);
                    if (node->FirstPart == nullptr) node->LastPart = nullptr;
                    readAhead_.Discharge(*part);
                } else if (node->State == Stage::Listed) {
                    walk_.Target = nullptr;
                    readAhead_.Finished(node);
                    listed = true;
                }
                dir.Identity = node->Identity;
            }
            if (!started) {
                started = true;
                walk_.Consumer.DirStart(dir);
            }
            if (part != nullptr) TakePart(*part, dir, listing);
            if (listed) break;
        }
    }

    void TakePart(const Part& part, const WalkDir& dir, WalkListing& listing) {
        std::size_t late = 0;
        if (walk_.Options.EntryNames) {
            std::size_t pos = 0;
            for (std::size_t index = 0; pos < part.Records.size(); ++index) {
                RecordHead head;
                std::memcpy(&head, part.Records.data() + pos, sizeof head);
                pos += sizeof head;
                WalkEntry entry{
                    head.Kind,      std::string_view(part.Records).substr(pos, head.Length),
                    head.Size,      head.DiskBytes,
                    head.Device,    head.Inode,
                    head.Links,     head.Type,
                    head.Unexamined};
                // The files left out before it, in their order.
                while (late < part.Late.size() && !part.Late[late].Delivered &&
                       part.Late[late].Entry <= index)
                    LateBytes(part.Late[late++], listing);
                // Before its own line: the log holds the lines before it.
                if (late < part.Late.size() && part.Late[late].Entry == index) {
                    const LateFile& file = part.Late[late++];
                    std::uint64_t bytes = 0;
                    entry.Repeat = !LateBytes(file, listing, bytes);
                    if (file.Own >= 0) entry.Size = entry.DiskBytes = bytes;
                }
                walk_.Consumer.Entry(dir, entry);
                pos += head.Length;
            }
        }
        while (late < part.Late.size())
            LateBytes(part.Late[late++], listing);
        listing.FileCount = runtime::CheckedAdd<std::int32_t>(listing.FileCount, part.FileCount);
        listing.FileBytes = runtime::CheckedAdd<std::int64_t>(listing.FileBytes, part.FileBytes);
        if (walk_.Options.BothKinds)
            listing.OtherFileBytes =
                runtime::CheckedAdd<std::int64_t>(listing.OtherFileBytes, part.OtherBytes);
        listing.ChildCount = runtime::CheckedAdd<std::int32_t>(listing.ChildCount, part.Children);
        listing.UnexaminedCount =
            runtime::CheckedAdd<std::int32_t>(listing.UnexaminedCount, part.UnexaminedCount);
        for (const auto& [name, why] : part.Unexamined) {
            if (listing.Unexamined.size() >= NamedUnexamined) break;
            listing.Unexamined.push_back(UnexaminedEntry{name, FaultReason(why)});
        }
    }

    std::string FaultReason(const runtime::DirResult& fault) {
        return fault.Fault == runtime::DirFault::Unreadable
                   ? walk_.Source.UnreadableText(fault.Code)
                   : walk_.Source.FaultText(fault.Code);
    }

    // Counts a file whose bytes are told here, in walk order: one of the
    // program's own files with what was written to it so far, or one with
    // several links where it is met first. Gives its bytes as counted; false
    // for a link of a file met before, which counts nothing.
    bool LateBytes(const LateFile& file, WalkListing& listing, std::uint64_t& bytes) {
        bytes = file.Bytes;
        std::uint64_t other = file.OtherBytes;
        bool first = true;
        if (file.Own >= 0)
            // What was written so far, by either kind: the file is still growing.
            bytes = other = walk_.Options.OwnFiles.at(static_cast<std::size_t>(file.Own)).Bytes();
        else
            first = links_.Insert(file.Device, file.Inode);
        if (!first) bytes = other = 0;
        listing.FileBytes = runtime::CheckedAdd<std::int64_t>(
            listing.FileBytes, runtime::CheckedRange<std::int64_t>(bytes));
        if (walk_.Options.BothKinds)
            listing.OtherFileBytes = runtime::CheckedAdd<std::int64_t>(
                listing.OtherFileBytes, runtime::CheckedRange<std::int64_t>(other));
        return first;
    }
    void LateBytes(const LateFile& file, WalkListing& listing) {
        std::uint64_t bytes = 0;
        LateBytes(file, listing, bytes);
    }

    // What the listing ended with, raised or reported where it belongs. The
    // directory is listed: nothing changes these fields any more.
    void Settle(const Dir_Rec* node, WalkListing& listing) {
        if (node->Error) std::rethrow_exception(node->Error);
        if (node->OutOfRecords) throw OutOfRecords();
        const runtime::DirResult& fault = node->Fault;
        if (fault.Fault == runtime::DirFault::Resource) runtime::RaiseResourceError(fault.Code);
        listing.Problem = node->Problem;
        listing.Partial = node->Partial && fault.Fault != runtime::DirFault::None;
        if (node->Problem == DirProblem::Cycle) {
            listing.Reason = "cycle";
        } else if (node->Problem == DirProblem::OtherFileSystem) {
            listing.Reason = "other file system";
        } else if (node->Problem == DirProblem::Link) {
            listing.Reason = "link";
        } else if (fault.Fault == runtime::DirFault::Unreadable) {
            listing.Problem = DirProblem::Unreadable;
            // Code 0: the directory listed under this name was replaced.
            listing.Reason = fault.Code == 0 ? std::string("replaced during the walk")
                                             : walk_.Source.UnreadableText(fault.Code);
        } else if (fault.Fault == runtime::DirFault::Unexpected) {
            listing.Problem = DirProblem::Unexpected;
            listing.Reason = walk_.Source.FaultText(fault.Code);
        }
    }

    // A directory whose subtree is done: off the live set, its handle closed.
    // Under the lock.
    void Release(Dir_Rec* node) noexcept {
        if (node->Registered) {
            auto it = walk_.Live.find(node->Identity);
            if (it != walk_.Live.end() && --it->second == 0) walk_.Live.erase(it);
        }
        handles_.Forget(node);
    }
};

} // namespace

bool WalkOrder::operator()(const Dir_Rec* a, const Dir_Rec* b) const {
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

Dir_Rec* (*NewDirRec)() = AllocateDirRec;
runtime::Signal* (*NewWalkSignal)() = runtime::NewSignal;

std::int64_t WalkTreeFrom(DirSource& source, const WalkLimits& limits, const std::string& startDir,
                          const std::string& startNative, const WalkOptions& options,
                          WalkConsumer& consumer) {
    WalkOptions own = options;
    own.EntryNames = consumer.NeedsEntries();
    own.EntryFloor = own.EntryNames ? consumer.EntryFloor() : nullptr;
    own.LinkedEntries = own.EntryNames && consumer.NeedsLinkedEntries();
    own.BothKinds = consumer.NeedsBothKinds();
    Walker walker(source, limits, own, consumer);
    consumer.Begin();
    std::int64_t total = walker.Run(startDir, startNative);
    consumer.End();
    return total;
}

std::int64_t WalkTree(const std::string& startDir, const std::string& startNative,
                      const WalkOptions& options, WalkConsumer& consumer) {
    const WalkLimits limits;
    std::unique_ptr<DirSource> source = NewSystemDirSource();
    return WalkTreeFrom(*source, limits, startDir, startNative, options, consumer);
}

} // namespace kelpo32::walk
