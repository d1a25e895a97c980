#include "kelpo32/scan.h"

#include "CmdLin/CmdLin.h"
#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/export_html.h"
#include "kelpo32/exports.h"
#include "kelpo32/largest.h"
#include "kelpo32/options.h"
#include "kelpo32/paging.h"
#include "kelpo32/progress.h"
#include "kelpo32/report.h"
#include "kelpo32/saved_scan.h"
#include "kelpo32/state.h"
#include "kelpo32/totals.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace kelpo32 {

namespace {

// The export that takes the report's place, or none.
const Export* Chosen = nullptr;
// The consumer that takes the place of both (the comparison), or none.
WalkConsumer* Output = nullptr;

// The run's consumers of the layout of totals and of the largest files, or
// none; the layout takes the place of the report's or the export's lines.
TotalsTree* Tree = nullptr;
LargestFiles* Largest = nullptr;

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
    case OutputFormat::Html: // a consumer object, made by ScanDir
        break;
    }
    return nullptr;
}

// The chosen output when it is a consumer object (the HTML page), for the
// length of a scan; the events below hand it the walk's.
WalkConsumer* ChosenConsumer = nullptr;

struct ConsumerInUse {
    explicit ConsumerInUse(WalkConsumer* c) { ChosenConsumer = c; }
    ConsumerInUse(const ConsumerInUse&) = delete;
    ConsumerInUse& operator=(const ConsumerInUse&) = delete;
    ~ConsumerInUse() { ChosenConsumer = nullptr; }
};

// What the page's header says of this run.
HtmlRun PageRun() {
    HtmlRun run;
    run.StartPath = ExportStartPath();
    run.ScanTime = HtmlTimeStamp(std::chrono::system_clock::now());
    run.Separator = runtime::PathSeparator();
    if (DiskUsage) run.Options.emplace_back("--disk-usage");
    if (OneFileSystem) run.Options.emplace_back("--one-file-system");
    if (MaxDepth != NoDepthLimit) {
        run.DepthLimit = MaxDepth - 1;
        run.Options.push_back("/V" + std::to_string(run.DepthLimit));
    }
    const Options& values = ParsedOptions();
    if (values.MinSize > 0) run.Options.push_back("--min-size=" + std::to_string(values.MinSize));
    if (values.Top > 0) run.Options.push_back("--top=" + std::to_string(values.Top));
    for (const std::string& pattern : values.Excludes)
        run.Options.push_back("--exclude=" + pattern);
    return run;
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
    if (Output != nullptr)
        Output->DirStart(dir);
    else if (Chosen != nullptr && Chosen->Events.DirStart != nullptr)
        Chosen->Events.DirStart(dir);
    if (ChosenConsumer != nullptr) ChosenConsumer->DirStart(dir);
}

void Entry(const WalkDir& dir, const WalkEntry& entry) {
    if (LogEnabled) TraceEntry(dir, entry);
    if (Largest != nullptr) Largest->Entry(dir, entry);
    if (Output != nullptr)
        Output->Entry(dir, entry);
    else if (Chosen != nullptr && Chosen->Events.Entry != nullptr)
        Chosen->Events.Entry(dir, entry);
}

// The directories shown empty or read only in part, and the entries that
// could not be examined: all counted, the first UnreadShown named, for the
// summary after the report.
constexpr std::size_t UnreadShown = 20;
std::uint64_t UnreadCount = 0;
std::uint64_t UnexaminedCount = 0;
std::vector<std::string> UnreadLines;

// A name's control characters could drive the terminal or split the
// summary's lines: each is shown as "?".
// A name as standard error may show it: no control character, and on a
// terminal no byte it cannot show, can drive the terminal or split a line.
void AppendShown(std::string& line, std::string_view text) {
    runtime::AppendSafeText(line, text, runtime::StdErrSink());
}

void NoteLine(const WalkDir& dir, std::string_view entry, std::string_view what,
              std::string_view reason) {
    if (UnreadLines.size() >= UnreadShown) return;
    std::string line = "  ";
    AppendShown(line, dir.Path);
    AppendShown(line, dir.Name);
    if (!entry.empty()) {
        if (!line.ends_with(runtime::PathSeparator()) && line.size() > 2)
            line += runtime::PathSeparator();
        AppendShown(line, entry);
    }
    line += ": ";
    line += what;
    line += reason;
    line += "\n";
    UnreadLines.push_back(std::move(line));
}

void NoteUnread(const WalkDir& dir, const WalkListing& listing) {
    for (const UnexaminedEntry& e : listing.Unexamined)
        NoteLine(dir, e.Name, "cannot examine: ", e.Reason);
    UnexaminedCount = runtime::CheckedAdd<std::uint64_t>(
        UnexaminedCount, static_cast<std::uint64_t>(listing.UnexaminedCount));
    // Not entered on purpose (a loop is named: it is shown empty too).
    if (listing.Problem == DirProblem::None || listing.Problem == DirProblem::OtherFileSystem ||
        listing.Problem == DirProblem::Link)
        return;
    UnreadCount = runtime::CheckedAdd<std::uint64_t>(UnreadCount, 1);
    NoteLine(dir, {}, listing.Partial ? "read only in part: " : "", listing.Reason);
}

void DirListed(const WalkDir& dir, const WalkListing& listing) {
    Level = dir.Level;
    NoteUnread(dir, listing);
    ProgressListed(dir, listing);
    if (Output != nullptr) {
        Output->DirListed(dir, listing);
    } else if (Tree != nullptr) {
        Tree->DirListed(dir, listing);
    } else if (Chosen != nullptr) {
        // An export has no counted lines: it looks for a stop here.
        StopExportIfAsked();
        Chosen->Events.DirListed(dir, listing);
    } else if (ChosenConsumer != nullptr) {
        StopExportIfAsked();
        ChosenConsumer->DirListed(dir, listing);
    } else {
        ReportDirListed(dir, listing);
    }
}

void DirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total) {
    Level = dir.Level;
    if (Output != nullptr)
        Output->DirDone(dir, listing, total);
    else if (Tree != nullptr)
        Tree->DirDone(dir, listing, total);
    else if (Chosen != nullptr)
        Chosen->Events.DirDone(dir, listing, total);
    else if (ChosenConsumer != nullptr)
        ChosenConsumer->DirDone(dir, listing, total);
    else
        ReportDirDone(dir, listing, total);
}

[[noreturn]] void OutOfRecords() {
    auto& out = runtime::StdOut();
    // On POSIX every message goes to standard error, and on both builds none
    // enters an export: it ends with its last whole record.
    if (CmdLin::PosixConventions()) {
        out.Flush();
        runtime::WriteStdErr("kelpo32: Could not alocate record!\n");
    } else if (Chosen != nullptr) {
        out.Flush();
        runtime::WriteStdErr("Could not alocate record!\r\n");
    } else {
        out.Write("Could not alocate record!");
        out.WriteLn();
        out.Flush();
    }
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

// Until the walk calls consumers itself: the scan's event functions as the
// consumer a saved scan is replayed into.
class ScanEvents final : public WalkConsumer {
  public:
    explicit ScanEvents(bool entries) : entries_(entries) {}
    void DirStart(const WalkDir& dir) override { kelpo32::DirStart(dir); }
    void Entry(const WalkDir& dir, const WalkEntry& entry) override { kelpo32::Entry(dir, entry); }
    void DirListed(const WalkDir& dir, const WalkListing& listing) override {
        kelpo32::DirListed(dir, listing);
    }
    void DirDone(const WalkDir& dir, const WalkListing& listing, std::int64_t total) override {
        kelpo32::DirDone(dir, listing, total);
    }
    bool NeedsEntries() const override { return entries_; }

  private:
    bool entries_;
};

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

void ScanDir(const std::string& startDir, std::int64_t& total, const SavedScan* saved,
             WalkConsumer* output) {
    WalkEvents events;
    events.DirStart = DirStart;
    events.Entry = Entry;
    events.DirListed = DirListed;
    events.DirDone = DirDone;
    events.OutOfRecords = OutOfRecords;
    WalkOptions options;
    Output = output;
    Chosen = output != nullptr ? nullptr : ChosenExport();
    const Options& values = ParsedOptions();
    std::optional<HtmlExport> page;
    if (Format == OutputFormat::Html && output == nullptr)
        page.emplace(runtime::StdOut(), PageRun(), MaxDepth);
    // The page follows a minimum size or a top-N; without them it keeps its
    // own cap of the largest directories.
    std::optional<TotalsTree> pageSelection;
    ConsumerList pageParts;
    if (page) {
        pageParts.Add(*page);
        if (values.MinSize > 0 || values.Top > 0) {
            pageSelection.emplace(
                TotalsSelection{SortKey::Size, values.MinSize, values.Top, MaxDepth});
            page->ShowSelection(&*pageSelection);
            pageParts.Add(*pageSelection);
        }
    }
    ConsumerInUse inUse(page ? &pageParts : nullptr);
    // The ncdu export is the whole tree: only the exclusions apply to it.
    std::optional<TotalsTree> tree;
    if (values.Totals && Format != OutputFormat::Ncdu && Format != OutputFormat::Html &&
        output == nullptr)
        tree.emplace(TotalsSelection{values.Sort, values.MinSize, values.Top, MaxDepth});
    Tree = tree ? &*tree : nullptr;
    std::optional<LargestFiles> largest;
    if (values.LargestFiles > 0 && Chosen == nullptr && !page && output == nullptr)
        largest.emplace(values.LargestFiles, DiskUsage);
    Largest = largest ? &*largest : nullptr;
    runtime::NamePatterns exclude(values.Excludes);
    if (!exclude.Empty()) options.Exclude = &exclude;
    options.EntryNames = LogEnabled || Largest != nullptr ||
                         (Chosen != nullptr && Chosen->Events.Entry != nullptr) ||
                         (output != nullptr && output->NeedsEntries());
    options.OneFileSystem = OneFileSystem;
    options.DirectorySizes = Format == OutputFormat::Ncdu;
    options.DiskUsage = DiskUsage;
    options.FollowLinks = ParsedOptions().FollowLinks;
    NoteOwnFiles(options);
    WalkThreads(options);
    UnreadCount = 0;
    UnexaminedCount = 0;
    UnreadLines.clear();
    if (output != nullptr) {
        output->Begin();
    } else if (Chosen != nullptr || page) {
        crt32_pipe::PresentUtf8();
        if (Chosen != nullptr) Chosen->Begin(ExportStartPath());
    } else {
        StartReport();
    }
    if (Tree != nullptr) Tree->Begin();
    if (pageSelection) pageSelection->Begin();
    // A layout of totals waits for the whole walk: the status line shows it
    // going on, on a terminal too.
    ProgressStart(Tree != nullptr || output != nullptr);
    if (saved != nullptr) {
        ScanEvents replay(options.EntryNames);
        total = ReplaySavedScan(*saved, startDir, replay);
    } else {
        total =
            WalkTree(startDir, startDir == StartDir ? StartNative : std::string(), options, events);
    }
    ProgressEnd();
    if (output != nullptr) output->End();
    if (Tree != nullptr && Chosen != nullptr)
        WriteTotalsRows(*Tree, Format == OutputFormat::Json);
    else if (Tree != nullptr)
        PrintTotals(*Tree, values.Units);
    if (Chosen != nullptr && Chosen->End != nullptr) Chosen->End();
    if (page) page->End();
    if (Largest != nullptr) Largest->Print(values.Units);
    Output = nullptr;
    Tree = nullptr;
    Largest = nullptr;
    Level = 0;
}

void WriteUnreadSummary() {
    if (UnreadCount == 0 && UnexaminedCount == 0) return;
    // The report goes first, so the summary never lands between its lines.
    runtime::StdOut().Flush();
    auto append = [](std::string& text, std::uint64_t n) {
        char count[24];
        text.append(count, std::to_chars(count, count + sizeof count, n).ptr);
    };
    std::string text = "kelpo32: ";
    if (UnreadCount > 0) {
        append(text, UnreadCount);
        text +=
            UnreadCount == 1 ? " directory could not be read" : " directories could not be read";
    }
    if (UnexaminedCount > 0) {
        if (UnreadCount > 0) text += ", ";
        append(text, UnexaminedCount);
        text += UnexaminedCount == 1 ? " entry could not be examined"
                                     : " entries could not be examined";
    }
    text += ":\n";
    for (const std::string& line : UnreadLines)
        text += line;
    std::uint64_t named = UnreadLines.size();
    std::uint64_t all = runtime::CheckedAdd(UnreadCount, UnexaminedCount);
    if (all > named) {
        text += "  ... and ";
        append(text, all - named);
        text += " more\n";
    }
    runtime::WriteStdErr(text);
}

} // namespace kelpo32
