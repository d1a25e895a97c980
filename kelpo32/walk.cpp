#include "kelpo32/walk.h"

#include "runtime/dirsearch.h"
#include "runtime/rtl.h"

#include <functional>
#include <new>
#include <unordered_set>

namespace kelpo32 {

namespace {

constexpr std::uint32_t LongNameAttr = 15; // read-only, hidden, system and volume label

Dir_Rec* AllocateDirRec() {
    return new (std::nothrow) Dir_Rec;
}

struct IdentityHash {
    std::size_t operator()(const rtl::DirIdentity& id) const {
        return std::hash<std::uint64_t>()(id.File * 0x9E3779B97F4A7C15ull ^ id.Volume);
    }
};

// The subdirectory list of one directory; frees what is left when the walk
// ends early.
struct DirList {
    Dir_Rec* First = nullptr;
    Dir_Rec* Last = nullptr;
    DirList() = default;
    DirList(const DirList&) = delete;
    DirList& operator=(const DirList&) = delete;
    ~DirList() {
        while (First != nullptr) {
            Dir_Rec* next = First->Next;
            delete First;
            First = next;
        }
    }
};

// The state of one walk.
struct Walker {
    const WalkOptions& Options;
    const WalkEvents& Events;
    // The path of the directory being listed, shared by every level: a level
    // appends its name and a separator and takes them off again.
    std::string WalkPath;
    // The directories on the path from the start directory to the one being
    // listed; a subdirectory that is one of them is not entered again.
    std::unordered_set<rtl::DirIdentity, IdentityHash> OpenPath;
    rtl::SearchRec Search;

    void Enter(const std::string& name) {
        WalkPath += name;
        if (!WalkPath.empty() && WalkPath.back() != rtl::PathSeparator())
            WalkPath += rtl::PathSeparator();
    }

    void Append(DirList& list, WalkListing& listing, const std::string& name) {
        Dir_Rec* rec = nullptr;
        try {
            rec = NewDirRec();
            if (rec != nullptr) rec->Name = name;
        } catch (const std::bad_alloc&) {
            delete rec;
            rec = nullptr;
        }
        if (rec == nullptr) Events.OutOfRecords();
        listing.ChildCount = rtl::CheckedAdd<std::int32_t>(listing.ChildCount, 1);
        rec->Id = listing.ChildCount;
        rec->Prev = list.Last;
        if (list.Last != nullptr)
            list.Last->Next = rec;
        else
            list.First = rec;
        list.Last = rec;
    }

    std::int64_t Walk(const WalkDir& dir) {
        Events.DirStart(dir);
        WalkListing listing;
        DirList list;
        const std::size_t pathLength = WalkPath.size();
        Enter(dir.Name);
        bool entered = false;
        if (rtl::FindOpen(WalkPath, Search)) {
            // Closed on every way out, an ended run included.
            struct SearchCloser {
                rtl::SearchRec& Rec;
                ~SearchCloser() { rtl::FindClose(Rec); }
            } closer{Search};
            if (OpenPath.count(Search.Dir) == 0) {
                entered = true;
                while (rtl::FindNextEntry(Search)) {
                    const std::string& entry = Search.Name;
                    if (entry == "." || entry == "..") continue;
                    EntryKind kind = EntryKind::File;
                    if ((Search.Attr & rtl::AttrDirectory) != 0) {
                        kind = EntryKind::Directory;
                        Append(list, listing, entry);
                    } else if (Search.Attr == LongNameAttr) {
                        kind = EntryKind::Skipped;
                    } else {
                        listing.FileBytes = rtl::CheckedAdd<std::int64_t>(
                            listing.FileBytes, rtl::CheckedRange<std::int64_t>(Search.Size));
                        listing.FileCount = rtl::CheckedAdd<std::int32_t>(listing.FileCount, 1);
                    }
                    if (Options.EntryNames) Events.Entry(dir, kind, entry);
                }
            }
        }
        WalkPath.resize(pathLength);
        Events.DirListed(dir, listing);
        Enter(dir.Name);
        // Taken off the open path on every way out.
        struct Leave {
            decltype(OpenPath)& Set;
            rtl::DirIdentity Id;
            bool Entered;
            ~Leave() {
                if (Entered) Set.erase(Id);
            }
        } leave{OpenPath, Search.Dir, entered && OpenPath.insert(Search.Dir).second};
        std::int64_t childBytes = 0;
        std::int32_t level = rtl::CheckedAdd<std::int32_t>(dir.Level, 1);
        while (list.First != nullptr) {
            Dir_Rec* rec = list.First;
            std::int64_t sub =
                Walk(WalkDir{WalkPath, rec->Name, level, rec->Id, listing.ChildCount});
            list.First = rec->Next;
            delete rec;
            childBytes = rtl::CheckedAdd<std::int64_t>(childBytes, sub);
        }
        WalkPath.resize(pathLength);
        std::int64_t total = rtl::CheckedAdd<std::int64_t>(childBytes, listing.FileBytes);
        Events.DirDone(dir, listing, total);
        return total;
    }
};

} // namespace

Dir_Rec* (*NewDirRec)() = AllocateDirRec;

std::string AddBackslash(const std::string& s) {
    if (s.empty() || s.back() == rtl::PathSeparator()) return s;
    return s + rtl::PathSeparator();
}

std::int64_t WalkTree(const std::string& startDir, const WalkOptions& options,
                      const WalkEvents& events) {
    Walker walker{options, events, startDir, {}, {}};
    const std::string noName;
    return walker.Walk(WalkDir{startDir, noName, 0, 0, 0});
}

} // namespace kelpo32
