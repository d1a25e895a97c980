#include "kelpo32/walk/lister.h"

#include "kelpo32/walk/readahead.h"
#include "runtime/rtl.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace kelpo32::walk {

namespace {

constexpr std::uint32_t LongNameAttr = 15; // read-only, hidden, system and volume label

// Appends the entry's record whole or not at all: the room for the head and
// the name is made first, so neither append can fail.
void AppendRecord(std::string& records, EntryKind kind, const runtime::DirEntry& e) {
    RecordHead head{e.Size,  e.DiskBytes, e.Device,
                    e.Inode, e.Links,     runtime::CheckedRange<std::uint32_t>(e.Name.size()),
                    kind,    e.Type,      e.Unexamined.Fault != runtime::DirFault::None};
    char bytes[sizeof head];
    std::memcpy(bytes, &head, sizeof head);
    records.reserve(runtime::CheckedAdd(records.size(), sizeof head + e.Name.size()));
    records.append(bytes, sizeof head);
    records.append(e.Name);
}

EntryKind KindOf(const runtime::DirEntry& e) {
    if ((e.Attr & runtime::AttrDirectory) != 0) return EntryKind::Directory;
    if (e.Attr == LongNameAttr) return EntryKind::Skipped;
    return EntryKind::File;
}

// Which of the program's own files the entry is, or -1.
std::int32_t OwnFileIndex(const WalkOptions& options, const runtime::DirEntry& e) {
    for (std::size_t i = 0; i < options.OwnFiles.size(); ++i) {
        const OwnFile& own = options.OwnFiles[i];
        if (own.Inode != 0 && own.Inode == e.Inode && own.Device == e.Device)
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

} // namespace

void Lister::Abandon() noexcept {
    if (reading_) source_.StopReading(reader_);
    reading_ = false;
    pending_ = false;
    handBack_ = false;
    node_ = nullptr;
}

void Lister::Release() noexcept {
    Abandon();
    std::vector<char>().swap(reader_.Buffer);
}

// How a listing ends, kept with the directory when it is complete.
struct Listing::Outcome {
    runtime::DirResult Fault;
    DirProblem Problem = DirProblem::None;
    std::exception_ptr Error;
    bool OutOfRecords = false;
    bool Partial = false;
    // How long the part took, for the read-ahead's pace.
    bool Timed = false;
    std::int64_t Wall = 0;
    std::int64_t Cpu = -1;
};

bool Listing::ListPart(Dir_Rec* node, Lister& lister, bool consumer, bool worker) {
    std::unique_ptr<Part> part;
    std::vector<std::unique_ptr<Dir_Rec>> children;
    bool more = false;
    Outcome out;
    const bool paced = readAhead_.Paced();
    if (paced) lister.timer_.Begin();
    try {
        part = std::make_unique<Part>();
        if (lister.node_ != node) {
            lister.Abandon();
            lister.node_ = node;
            lister.children_ = 0;
            lister.read_ = 0;
            if (walk_.Options.Exclude != nullptr && walk_.Options.Exclude->HasPaths())
                PathOf(node, lister);
            runtime::DirResult opened = Start(node, consumer, out);
            if (opened.Fault == runtime::DirFault::Resource && !consumer) {
                // Perhaps only the other workers' descriptors: the consumer
                // tries again when it gets there.
                lister.node_ = nullptr;
                readAhead_.HandBack(node);
                return false;
            }
            out.Fault = opened;
            if (out.Fault.Fault == runtime::DirFault::None && out.Problem == DirProblem::None) {
                lister.reader_.StatDirectories = walk_.Options.DirectorySizes;
                lister.reader_.MeasureSelf = walk_.Options.DiskUsage || walk_.Options.BothKinds;
                out.Fault = walk_.Source.StartReading(node->Handle.Get(), lister.reader_);
                lister.reading_ = out.Fault.Fault == runtime::DirFault::None;
                if (lister.reading_) CountSelf(*part, lister.reader_.SelfDiskBytes);
            }
        }
        // Listing: the handle does not change until the directory is Listed.
        const runtime::DirHandle& handle = node->Handle.Get();
        std::size_t entries = 0;
        while (lister.reading_ && entries < walk_.Limits.PartEntries &&
               part->Records.size() < walk_.Limits.PartBytes &&
               !(!consumer && walk_.StopNow.load(std::memory_order_relaxed))) {
            runtime::DirEntry& e = lister.entry_;
            // An entry read but not taken (an allocation failed) is taken now.
            if (!lister.pending_) {
                if (!walk_.Source.ReadEntry(handle, lister.reader_, e, out.Fault)) {
                    // A listing that fails after some entries keeps them.
                    out.Partial = out.Fault.Fault != runtime::DirFault::None && lister.read_ > 0;
                    lister.Abandon();
                    break;
                }
                ++lister.read_;
                lister.pending_ = true;
            }
            // Judged again when an allocation failed on the way: the same answer.
            if (Excluded(lister)) {
                lister.pending_ = false;
                continue;
            }
            if (!Take(node, lister, *part, children, worker)) {
                out.OutOfRecords = true;
                lister.Abandon();
                break;
            }
            lister.pending_ = false;
            ++entries;
        }
        more = lister.reading_;
    } catch (const std::bad_alloc&) {
        if (worker) {
            Retreat(node, lister);
            // What was taken whole goes to the consumer, which goes on
            // with this listing where it stopped.
            Publish(node, std::move(part), children, true, out);
            return false;
        }
        out.Error = std::current_exception();
        more = false;
    } catch (...) {
        out.Error = std::current_exception();
        more = false;
    }
    if (!more) lister.Abandon();
    if (paced) lister.timer_.End(out.Wall, out.Cpu);
    out.Timed = paced;
    Publish(node, std::move(part), children, more, out);
    return more;
}

// The space a directory takes itself counts in its own bytes on disk, as
// du counts it; its apparent size counts in no kind.
void Listing::CountSelf(Part& part, std::uint64_t diskBytes) const {
    auto bytes = runtime::CheckedRange<std::int64_t>(diskBytes);
    if (walk_.Options.DiskUsage)
        part.FileBytes = runtime::CheckedAdd<std::int64_t>(part.FileBytes, bytes);
    else if (walk_.Options.BothKinds)
        part.OtherBytes = runtime::CheckedAdd<std::int64_t>(part.OtherBytes, bytes);
}

bool Listing::Take(Dir_Rec* node, Lister& lister, Part& part,
                   std::vector<std::unique_ptr<Dir_Rec>>& children, bool worker) {
    const runtime::DirEntry& e = lister.entry_;
    EntryKind kind = KindOf(e);
    const WalkOptions& options = walk_.Options;
    // Each allocation first, each undone if a later one fails: the entry is
    // taken whole or not at all.
    const std::size_t mark = part.Records.size();
    const std::size_t record = part.RecordCount;
    std::uint64_t bytes = options.DiskUsage ? e.DiskBytes : e.Size;
    std::uint64_t other = options.DiskUsage ? e.Size : e.DiskBytes;
    std::int32_t own = kind == EntryKind::File ? OwnFileIndex(options, e) : -1;
    // Several links, or a count the listing does not tell: counted once by
    // the inode, where the walk meets it first.
    bool late = kind == EntryKind::File &&
                (own >= 0 || (!options.CountLinks && e.Links != 1 && e.Inode != 0));
    // A consumer with a floor needs only the files that reach it. One of the
    // program's own files has its bytes only when the walk counts it; a
    // linked file counts with its listed bytes or not at all.
    bool deliver =
        options.EntryNames &&
        (options.EntryFloor == nullptr || own >= 0 ||
         (late && options.LinkedEntries && e.Links > 1) ||
         (kind == EntryKind::File && bytes >= options.EntryFloor->load(std::memory_order_relaxed)));
    if (deliver) {
        AppendRecord(part.Records, kind, e);
        ++part.RecordCount;
    }
    bool named = false;
    try {
        std::unique_ptr<Dir_Rec> child;
        if (kind == EntryKind::Directory) {
            try {
                child.reset(NewDirRec());
                if (child != nullptr) {
                    child->Name = e.Name;
                    child->Native = e.Native;
                }
            } catch (const std::bad_alloc&) {
                child.reset();
            }
            if (child == nullptr) {
                // A worker hands the directory back; the consumer's own
                // failure is the walk's end.
                if (worker) throw std::bad_alloc();
                return false;
            }
            // Room for it, grown by doubling: the push below must not allocate.
            if (children.size() == children.capacity())
                children.reserve(std::max<std::size_t>(4, 2 * children.size()));
        }
        bool unexamined = e.Unexamined.Fault != runtime::DirFault::None;
        // A directory that cannot be examined speaks for itself when it is
        // opened; only other entries are named.
        if (unexamined && kind != EntryKind::Directory &&
            part.Unexamined.size() < NamedUnexamined) {
            part.Unexamined.emplace_back(e.Name, e.Unexamined);
            named = true;
        }
        if (late)
            part.Late.push_back(LateFile{record, own, e.Device, e.Inode, bytes, other, deliver});
        // Nothing below allocates.
        if (unexamined && kind != EntryKind::Directory)
            part.UnexaminedCount = runtime::CheckedAdd<std::int32_t>(part.UnexaminedCount, 1);
        if (child != nullptr) {
            lister.children_ = runtime::CheckedAdd<std::int32_t>(lister.children_, 1);
            child->Id = lister.children_;
            child->Parent = node;
            child->Depth = runtime::CheckedAdd<std::int32_t>(node->Depth, 1);
            child->ListedInode = e.Inode;
            child->LinkNotFollowed = e.Link && !options.FollowLinks;
            children.push_back(std::move(child));
            part.Children = runtime::CheckedAdd<std::int32_t>(part.Children, 1);
        } else if (kind == EntryKind::File) {
            if (!late) {
                part.FileBytes = runtime::CheckedAdd<std::int64_t>(
                    part.FileBytes, runtime::CheckedRange<std::int64_t>(bytes));
                if (options.BothKinds)
                    part.OtherBytes = runtime::CheckedAdd<std::int64_t>(
                        part.OtherBytes, runtime::CheckedRange<std::int64_t>(other));
            }
            part.FileCount = runtime::CheckedAdd<std::int32_t>(part.FileCount, 1);
        }
    } catch (const std::bad_alloc&) {
        if (named) part.Unexamined.pop_back();
        part.Records.resize(mark);
        part.RecordCount = record;
        throw;
    }
    return true;
}

// A worker's allocation failed: a listing under way goes on with this lister
// on the consumer; one not begun is undone, to be opened again there.
void Listing::Retreat(Dir_Rec* node, Lister& lister) noexcept {
    lister.handBack_ = true;
    lister.pending_ = lister.pending_ && lister.reading_;
    if (lister.reading_ || lister.node_ != node) return;
    lister.node_ = nullptr;
    runtime::Locked held(walk_.L());
    if (node->Registered) {
        auto it = walk_.Live.find(node->Identity);
        if (it != walk_.Live.end() && --it->second == 0) walk_.Live.erase(it);
        node->Registered = false;
    }
    if (node != walk_.Root) node->Handle.Close();
}

runtime::DirResult Listing::Start(Dir_Rec* node, bool consumer, Outcome& out) {
    if (node == walk_.Root) {
        runtime::Locked held(walk_.L());
        if (node->Fault.Fault == runtime::DirFault::None &&
            !(node->Identity == runtime::DirIdentity{})) {
            // Opened by the walk itself; it stays the start directory's.
            ++walk_.Live[node->Identity];
            node->Registered = true;
        }
        return node->Fault;
    }
    if (node->LinkNotFollowed) {
        out.Problem = DirProblem::Link;
        return runtime::DirResult{};
    }
    DirFd handle;
    runtime::DirIdentity id;
    runtime::DirResult result = handles_.Open(node, handle, id);
    if (result.Fault == runtime::DirFault::Resource && consumer) {
        {
            runtime::Locked held(walk_.L());
            handles_.DropIdle();
        }
        // Nothing kept on the way: the start directory, the level being
        // passed and the directory itself are all it takes.
        result = handles_.Open(node, handle, id, false);
    }
    if (result.Fault == runtime::DirFault::None) Admit(node, std::move(handle), id, out);
    return result;
}

void Listing::Admit(Dir_Rec* node, DirFd handle, const runtime::DirIdentity& id, Outcome& out) {
    runtime::Locked held(walk_.L());
    node->Identity = id;
    if (walk_.Options.OneFileSystem && id.Volume != 0 && id.Volume != walk_.RootVolume) {
        out.Problem = DirProblem::OtherFileSystem;
        return;
    }
    bool known = !(id == runtime::DirIdentity{});
    if (known && walk_.Live.count(id) != 0)
        for (const Dir_Rec* a = node->Parent; a != nullptr; a = a->Parent)
            if (a->Identity == id) {
                out.Problem = DirProblem::Cycle;
                return;
            }
    if (known) {
        ++walk_.Live[id];
        node->Registered = true;
    }
    node->Handle = std::move(handle);
}

void Listing::Publish(Dir_Rec* node, std::unique_ptr<Part> part,
                      std::vector<std::unique_ptr<Dir_Rec>>& children, bool more,
                      Outcome& out) noexcept {
    runtime::Locked held(walk_.L());
    Dir_Rec* first = nullptr;
    for (auto& owned : children) {
        Dir_Rec* child = owned.release();
        if (first == nullptr) first = child;
        if (node->LastChild != nullptr)
            node->LastChild->Next = child;
        else
            node->FirstChild = child;
        node->LastChild = child;
        // A link that is not followed is never opened: it needs no handle.
        if (child->LinkNotFollowed)
            child->LeftParent = true;
        else
            ++node->ChildrenToOpen;
    }
    bool queued = false;
    if (walk_.Workers && !walk_.Stopping) {
        try {
            queued = readAhead_.Enqueue(first);
        } catch (const std::bad_alloc&) {
            // Left to the consumer, which lists what was not queued.
        }
    }
    if (part != nullptr) {
        readAhead_.Charge(*part, first);
        if (node->LastPart != nullptr) {
            node->LastPart->Next = std::move(part);
            node->LastPart = node->LastPart->Next.get();
        } else {
            node->FirstPart = std::move(part);
            node->LastPart = node->FirstPart.get();
        }
    }
    if (!more) {
        if (node->Fault.Fault == runtime::DirFault::None) node->Fault = out.Fault;
        if (node->Problem == DirProblem::None) node->Problem = out.Problem;
        if (out.Error && !node->Error) node->Error = out.Error;
        node->OutOfRecords = node->OutOfRecords || out.OutOfRecords;
        node->Partial = node->Partial || out.Partial;
        node->State = Stage::Listed;
        handles_.Listed(node);
    }
    if (out.Timed) readAhead_.Timed(out.Wall, out.Cpu);
    if (queued) walk_.WakeWorkers();
    walk_.WakeConsumer(node);
}

} // namespace kelpo32::walk
