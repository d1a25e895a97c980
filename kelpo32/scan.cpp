#include "kelpo32/scan.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/report.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace kelpo32 {

namespace {

constexpr std::int32_t DefaultThreadLimit = 16;

// The trace of the walk in logfile.txt.
void TraceDirStart(const WalkDir& dir) {
    LogFile.Write("Level: ");
    LogFile.WriteInt(dir.Level);
    LogFile.Write("  {");
    LogFile.Write(dir.Path);
    LogFile.Write("} {");
    LogFile.Write(dir.Name);
    LogFile.Write("}");
    LogFile.WriteLn();
    LogFile.Flush();
}

void TraceEntry(const WalkDir& dir, const WalkEntry& entry) {
    if (entry.Kind == EntryKind::Directory) {
        LogFile.Write("DIR: ");
        LogFile.Write(entry.Name);
        LogFile.WriteLn();
        return;
    }
    if (entry.Kind == EntryKind::Skipped) LogFile.Write("LFNATTR: ");
    for (std::int32_t l = 0; l < dir.Level; ++l)
        LogFile.Write("  ");
    LogFile.Write(entry.Name);
    LogFile.WriteLn();
    LogFile.Flush();
}

void DirStart(const WalkDir& dir) {
    Level = dir.Level;
    if (LogEnabled) TraceDirStart(dir);
}

// Nothing is lost in silence: a directory that could not be read for a
// reason other than the tree's own gets one line on standard error.
void ReadFailed(const WalkDir& dir, std::string_view reason) {
    std::string line = "kelpo32: cannot read ";
    line += dir.Path;
    line += dir.Name;
    line += ": ";
    line += reason;
    line += "\n";
    runtime::WriteStdErr(line);
}

void DirListed(const WalkDir& dir, const WalkListing& listing) {
    Level = dir.Level;
    ReportDirListed(dir, listing);
}

void DirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total) {
    Level = dir.Level;
    ReportDirDone(dir, listing, total);
}

[[noreturn]] void OutOfRecords() {
    auto& out = runtime::StdOut();
    out.Write("Could not alocate record!");
    out.WriteLn();
    out.Flush();
    crt32_pipe::WaitKey();
    if (LogEnabled && LogFile.IsOpen()) LogFile.Close();
    runtime::Halt(1);
}

} // namespace

std::int32_t WalkThreads() {
    const char* text = std::getenv("KELPO32_THREADS");
    if (text != nullptr) {
        std::string_view s(text);
        std::int32_t n = 0;
        auto res = std::from_chars(s.data(), s.data() + s.size(), n);
        if (res.ec == std::errc() && res.ptr == s.data() + s.size() && n >= 1 &&
            n <= MaxWalkThreads)
            return n;
    }
    return std::clamp<std::int32_t>(runtime::OnlineProcessors(), 1, DefaultThreadLimit);
}

void ScanDir(const std::string& startDir, std::int64_t& total) {
    WalkEvents events;
    events.DirStart = DirStart;
    events.Entry = TraceEntry;
    events.ReadFailed = ReadFailed;
    events.DirListed = DirListed;
    events.DirDone = DirDone;
    events.OutOfRecords = OutOfRecords;
    WalkOptions options;
    options.EntryNames = LogEnabled;
    options.OneFileSystem = OneFileSystem;
    options.Threads = WalkThreads();
    StartReport();
    total = WalkTree(startDir, startDir == StartDir ? StartNative : std::string(), options, events);
    Level = 0;
}

} // namespace kelpo32
