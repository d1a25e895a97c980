#include "kelpo32/scan.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/report.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"

#include <algorithm>
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

// The directories on the path from the start directory to the one being
// scanned; a subdirectory that is one of them is not entered again.
std::unordered_set<rtl::DirIdentity, IdentityHash> OpenPath;

// The path of the directory being scanned, shared by every level: a level
// appends its name and a separator for its search and its subdirectories and
// takes them off again, so a deep tree costs no copy of its path per level.
std::string WalkPath;
// The same path in the platform's own form, built from the names the searches
// returned (on Windows the absolute UTF-16 path; empty on POSIX). The program
// never looks into it.
std::string WalkNative;

// The file system of the start directory, for OneFileSystem.
std::uint64_t StartVolume = 0;

// Whether the directory just opened lies on another file system than the start.
bool OtherFileSystem() {
    if (Level == 0) StartVolume = SearchRec.Dir.Volume;
    return OneFileSystem && SearchRec.Dir.Volume != StartVolume;
}

void EnterWalkPath(const std::string& name, const std::string& native) {
    WalkPath += name;
    if (!WalkPath.empty() && WalkPath.back() != rtl::PathSeparator())
        WalkPath += rtl::PathSeparator();
    rtl::AppendNative(WalkNative, native);
}

// The subdirectory list of one ScanDir call; frees what is left when the
// call ends early.
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

[[noreturn]] void AllocationFailed() {
    auto& out = rtl::StdOut();
    out.Write("Could not alocate record!");
    out.WriteLn();
    out.Flush();
    crt32_pipe::WaitKey();
    if (LogEnabled && LogFile.IsOpen()) LogFile.Close();
    rtl::Halt(1);
}

void AppendDirRec(DirList& list, std::int32_t& childCount, const std::string& name,
                  const std::string& native) {
    Dir_Rec* rec = nullptr;
    try {
        rec = NewDirRec();
        if (rec != nullptr) {
            rec->Name = name;
            rec->Native = native;
        }
    } catch (const std::bad_alloc&) {
        delete rec;
        rec = nullptr;
    }
    if (rec == nullptr) AllocationFailed();
    AllocCount = rtl::CheckedAdd<std::int32_t>(AllocCount, 1);
    AllocPeak = std::max(AllocPeak, AllocCount);
    childCount = rtl::CheckedAdd<std::int32_t>(childCount, 1);
    rec->Id = childCount;
    rec->Prev = list.Last;
    if (list.Last != nullptr)
        list.Last->Next = rec;
    else
        list.First = rec;
    list.Last = rec;
}

void TraceEntry(const std::string& name) {
    for (std::int32_t l = 0; l < Level; ++l)
        LogFile.Write("  ");
    LogFile.Write(name);
    LogFile.WriteLn();
    LogFile.Flush();
}

} // namespace

Dir_Rec* (*NewDirRec)() = AllocateDirRec;

std::string AddBackslash(const std::string& s) {
    if (s.empty() || s.back() == rtl::PathSeparator()) return s;
    return s + rtl::PathSeparator();
}

void ScanDir(const std::string& path, const std::string& name, std::int32_t id,
             std::int32_t siblingCount, std::int64_t& total, const std::string& native) {
    if (LogEnabled) {
        LogFile.Write("Level: ");
        LogFile.WriteInt(Level);
        LogFile.Write("  {");
        LogFile.Write(path);
        LogFile.Write("} {");
        LogFile.Write(name);
        LogFile.Write("}");
        LogFile.WriteLn();
        LogFile.Flush();
    }
    std::int32_t fileCount = 0;
    std::int64_t fileBytes = 0;
    std::int32_t childCount = 0;
    std::int64_t childBytes = 0;
    DirList list;
    // Below the start directory `path` is the shared WalkPath itself.
    if (&path != &WalkPath) {
        WalkPath = path;
        WalkNative = rtl::NativeDirPath(path, &path == &StartDir ? StartNative : std::string());
    }
    const std::size_t pathLength = WalkPath.size();
    const std::size_t nativeLength = WalkNative.size();
    EnterWalkPath(name, native);
    bool entered = false;
    if (rtl::FindOpen(WalkPath, SearchRec, WalkNative)) {
        // Closed on every way out, an ended run included: an open search keeps
        // the directory busy on some systems.
        struct SearchCloser {
            ~SearchCloser() { rtl::FindClose(SearchRec); }
        } closer;
        // A directory met again on its own path (a loop through a mount) is
        // reported like one that cannot be read.
        if (OpenPath.count(SearchRec.Dir) == 0 && !OtherFileSystem()) {
            entered = true;
            while (rtl::FindNextEntry(SearchRec)) {
                const std::string& entry = SearchRec.Name;
                if (entry == "." || entry == "..") continue;
                if ((SearchRec.Attr & rtl::AttrDirectory) != 0) {
                    if (LogEnabled) {
                        LogFile.Write("DIR: ");
                        LogFile.Write(entry);
                        LogFile.WriteLn();
                    }
                    AppendDirRec(list, childCount, entry, SearchRec.Native);
                    continue;
                }
                if (SearchRec.Attr == LongNameAttr) {
                    if (LogEnabled) LogFile.Write("LFNATTR: ");
                } else {
                    fileBytes = rtl::CheckedAdd<std::int64_t>(
                        fileBytes, rtl::CheckedRange<std::int64_t>(SearchRec.Size));
                    fileCount = rtl::CheckedAdd<std::int32_t>(fileCount, 1);
                }
                if (LogEnabled) TraceEntry(entry);
            }
        }
    }
    WalkPath.resize(pathLength);
    WalkNative.resize(nativeLength);
    // A console shows the name from its native form.
    rtl::StdOut().NoteName(name, native);
    if (Level < MaxDepth) {
        PrintDirLine(path, name, Level, siblingCount, id, childCount, fileCount, fileBytes);
        DepthNoticeShown = false;
    } else {
        if (!DepthNoticeShown && !TreeOnly) PrintDepthNotice(Level);
        DepthNoticeShown = true;
    }
    // Taken off the open path and the walk path on every way out.
    struct Leave {
        rtl::DirIdentity Id;
        bool Entered;
        std::size_t PathLength;
        std::size_t NativeLength;
        ~Leave() {
            if (Entered) OpenPath.erase(Id);
            if (WalkPath.size() > PathLength) WalkPath.resize(PathLength);
            if (WalkNative.size() > NativeLength) WalkNative.resize(NativeLength);
        }
    } leave{SearchRec.Dir, entered && OpenPath.insert(SearchRec.Dir).second, pathLength,
            nativeLength};
    EnterWalkPath(name, native);
    Level = rtl::CheckedAdd<std::int32_t>(Level, 1);
    while (list.First != nullptr) {
        Dir_Rec* rec = list.First;
        std::int64_t subTotal = 0;
        ScanDir(WalkPath, rec->Name, rec->Id, childCount, subTotal, rec->Native);
        list.First = rec->Next;
        delete rec;
        AllocCount = rtl::CheckedSub<std::int32_t>(AllocCount, 1);
        childBytes = rtl::CheckedAdd<std::int64_t>(childBytes, subTotal);
    }
    Level = rtl::CheckedSub<std::int32_t>(Level, 1);
    WalkPath.resize(pathLength);
    WalkNative.resize(nativeLength);
    total = rtl::CheckedAdd<std::int64_t>(childBytes, fileBytes);
    if (Level < MaxDepth && childCount > 0 && !TreeOnly && Level < DrawDepth) {
        rtl::StdOut().NoteName(name, native);
        PrintTotalLine(name, Level, total);
    }
}

} // namespace kelpo32
