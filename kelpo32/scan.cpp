#include "kelpo32/scan.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/report.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"

#include <algorithm>
#include <new>
#include <vector>

namespace kelpo32 {

namespace {

constexpr std::uint32_t LongNameAttr = 15; // read-only, hidden, system and volume label

Dir_Rec* AllocateDirRec() {
    return new (std::nothrow) Dir_Rec;
}

// The directories on the path from the start directory to the one being
// scanned; a subdirectory that is one of them is not entered again.
std::vector<rtl::DirIdentity> OpenPath;

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

void AppendDirRec(DirList& list, std::int32_t& childCount, const std::string& name) {
    Dir_Rec* rec = nullptr;
    try {
        rec = NewDirRec();
        if (rec != nullptr) rec->Name = name;
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
             std::int32_t siblingCount, std::int64_t& total) {
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
    const std::string dirPath = AddBackslash(path + name);
    bool entered = false;
    if (rtl::FindOpen(dirPath, SearchRec)) {
        // Closed on every way out, an ended run included: an open search keeps
        // the directory busy on some systems.
        struct SearchCloser {
            ~SearchCloser() { rtl::FindClose(SearchRec); }
        } closer;
        // A directory met again on its own path (a loop through a mount) is
        // reported like one that cannot be read.
        if (std::find(OpenPath.begin(), OpenPath.end(), SearchRec.Dir) == OpenPath.end()) {
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
                    AppendDirRec(list, childCount, entry);
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
        rtl::FindClose(SearchRec);
    }
    if (Level < MaxDepth) {
        PrintDirLine(path, name, Level, siblingCount, id, childCount, fileCount, fileBytes);
        DepthNoticeShown = false;
    } else {
        if (!DepthNoticeShown && !TreeOnly) PrintDepthNotice(Level);
        DepthNoticeShown = true;
    }
    struct PathEntry {
        bool Pushed;
        ~PathEntry() {
            if (Pushed) OpenPath.pop_back();
        }
    } pathEntry{entered};
    if (entered) OpenPath.push_back(SearchRec.Dir);
    Level = rtl::CheckedAdd<std::int32_t>(Level, 1);
    while (list.First != nullptr) {
        Dir_Rec* rec = list.First;
        std::int64_t subTotal = 0;
        ScanDir(dirPath, rec->Name, rec->Id, childCount, subTotal);
        list.First = rec->Next;
        delete rec;
        AllocCount = rtl::CheckedSub<std::int32_t>(AllocCount, 1);
        childBytes = rtl::CheckedAdd<std::int64_t>(childBytes, subTotal);
    }
    Level = rtl::CheckedSub<std::int32_t>(Level, 1);
    total = rtl::CheckedAdd<std::int64_t>(childBytes, fileBytes);
    if (Level < MaxDepth && childCount > 0 && !TreeOnly && Level < DrawDepth)
        PrintTotalLine(name, Level, total);
}

} // namespace kelpo32
