#include "kelpo32/scan.h"

#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/exports.h"
#include "kelpo32/progress.h"
#include "kelpo32/report.h"
#include "kelpo32/state.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>
#include <vector>

namespace kelpo32 {

namespace {

// The export that takes the report's place, or none.
const Export* Chosen = nullptr;

const Export* ChosenExport() {
    switch (Format) {
    case OutputFormat::Json:
        return &JsonLinesExport();
    case OutputFormat::Tsv:
        return &TsvExport();
    case OutputFormat::Ncdu:
        return &NcduExport();
    case OutputFormat::Text:
    case OutputFormat::Windows:
        break;
    }
    return nullptr;
}

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
    ProgressDir(dir);
    if (Chosen != nullptr && Chosen->Events.DirStart != nullptr) Chosen->Events.DirStart(dir);
}

void Entry(const WalkDir& dir, const WalkEntry& entry) {
    if (LogEnabled) TraceEntry(dir, entry);
    if (Chosen != nullptr && Chosen->Events.Entry != nullptr) Chosen->Events.Entry(dir, entry);
}

// The directories shown empty because they could not be read: all counted,
// the first UnreadShown named, for the summary after the report.
constexpr std::size_t UnreadShown = 20;
std::uint64_t UnreadCount = 0;
std::vector<std::string> UnreadLines;

void NoteUnread(const WalkDir& dir, const WalkListing& listing) {
    // Not entered on purpose (a loop is named: it is shown empty too).
    if (listing.Problem == DirProblem::None || listing.Problem == DirProblem::OtherFileSystem)
        return;
    UnreadCount = runtime::CheckedAdd<std::uint64_t>(UnreadCount, 1);
    if (UnreadLines.size() >= UnreadShown) return;
    std::string line = "  ";
    // A name's control characters could drive the terminal or split the
    // summary's lines: each is shown as "?".
    for (std::string_view part : {std::string_view(dir.Path), std::string_view(dir.Name)})
        for (char c : part)
            line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    line += ": ";
    line += listing.Reason;
    line += "\n";
    UnreadLines.push_back(std::move(line));
}

void DirListed(const WalkDir& dir, const WalkListing& listing) {
    Level = dir.Level;
    NoteUnread(dir, listing);
    ProgressListed(dir, listing);
    if (Chosen != nullptr)
        Chosen->Events.DirListed(dir, listing);
    else
        ReportDirListed(dir, listing);
}

void DirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total) {
    Level = dir.Level;
    if (Chosen != nullptr)
        Chosen->Events.DirDone(dir, listing, total);
    else
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

// The log and a report redirected into a file may lie in the tree: the walk
// counts them with what was written to them so far (the bytes a file held
// before the run included).
std::uint64_t StdOutBefore = 0;

std::uint64_t LogWritten() {
    return LogFile.Written();
}

std::uint64_t StdOutWritten() {
    return StdOutBefore + runtime::StdOut().Written();
}

void NoteOwnFiles(WalkOptions& options) {
    runtime::FileIdentity id;
    if (LogEnabled && runtime::RegularFileIdentity(LogFile.Handle(), id))
        options.OwnFiles[0] = OwnFile{id.Device, id.Inode, LogWritten};
    if (runtime::RegularFileIdentity(runtime::StdOut().Handle(), id)) {
        std::uint64_t written = runtime::StdOut().Written();
        StdOutBefore = id.Size > written ? id.Size - written : 0;
        options.OwnFiles[1] = OwnFile{id.Device, id.Inode, StdOutWritten};
    }
}

} // namespace

void WalkThreads(WalkOptions& options) {
    const char* text = std::getenv("KELPO32_THREADS");
    if (text != nullptr) {
        std::string_view s(text);
        std::int32_t n = 0;
        auto res = std::from_chars(s.data(), s.data() + s.size(), n);
        if (res.ec == std::errc() && res.ptr == s.data() + s.size() && n >= 1 &&
            n <= MaxWalkThreads) {
            options.Threads = n;
            options.MaxThreads = n;
            return;
        }
    }
    // One per processor; more while a tree read for the first time keeps
    // them waiting on the disk, so that more reads are in flight.
    options.Threads = std::clamp<std::int32_t>(runtime::OnlineProcessors(), 1, MaxWalkThreads);
    options.MaxThreads = MaxWalkThreads;
}

void ScanDir(const std::string& startDir, std::int64_t& total) {
    WalkEvents events;
    events.DirStart = DirStart;
    events.Entry = Entry;
    events.DirListed = DirListed;
    events.DirDone = DirDone;
    events.OutOfRecords = OutOfRecords;
    WalkOptions options;
    Chosen = ChosenExport();
    options.EntryNames = LogEnabled || (Chosen != nullptr && Chosen->Events.Entry != nullptr);
    options.OneFileSystem = OneFileSystem;
    options.DirectorySizes = Format == OutputFormat::Ncdu;
    options.DiskUsage = DiskUsage;
    NoteOwnFiles(options);
    WalkThreads(options);
    UnreadCount = 0;
    UnreadLines.clear();
    if (Chosen != nullptr) {
        crt32_pipe::PresentUtf8();
        Chosen->Begin(ExportStartPath());
    } else
        StartReport();
    ProgressStart();
    total = WalkTree(startDir, startDir == StartDir ? StartNative : std::string(), options, events);
    ProgressEnd();
    if (Chosen != nullptr && Chosen->End != nullptr) Chosen->End();
    Level = 0;
}

void WriteUnreadSummary() {
    if (UnreadCount == 0) return;
    // The report goes first, so the summary never lands between its lines.
    runtime::StdOut().Flush();
    char count[24];
    auto end = std::to_chars(count, count + sizeof count, UnreadCount).ptr;
    std::string text = "kelpo32: ";
    text.append(count, end);
    text += UnreadCount == 1 ? " directory" : " directories";
    text += " could not be read:\n";
    for (const std::string& line : UnreadLines)
        text += line;
    if (UnreadCount > UnreadLines.size()) {
        end = std::to_chars(count, count + sizeof count, UnreadCount - UnreadLines.size()).ptr;
        text += "  ... and ";
        text.append(count, end);
        text += " more\n";
    }
    runtime::WriteStdErr(text);
}

} // namespace kelpo32
