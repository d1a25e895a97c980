#include "kelpo32/app/body.h"

#include "CmdLin/CmdLin.h"
#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/app/forms.h"
#include "kelpo32/app/history_run.h"
#include "kelpo32/app/options.h"
#include "kelpo32/app/scan.h"
#include "kelpo32/browse/session.h"
#include "kelpo32/conventions.h"
#include "kelpo32/report/paging.h"
#include "kelpo32/report/report.h"
#include "kelpo32/report/unread.h"
#include "kelpo32/saved/saved_scan.h"
#include "kelpo32/state.h"
#include "runtime/gzip.h"
#include "runtime/namematch.h"
#include "runtime/outfile.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"

#include <algorithm>

namespace kelpo32 {

namespace {

constexpr std::int32_t RedirectedWidth = 200;
constexpr std::int32_t RedirectedPageLines = 2147483646;
constexpr std::size_t LogBufferSize = 4096;

void WriteLine(std::string_view text) {
    runtime::StdOut().Write(text);
    runtime::StdOut().WriteLn();
}

// A saved scan is read whole before anything is written: a damaged one ends
// the run with its message and nothing on standard output.
void LoadOrStop(const std::string& file, const Options& opts, saved::SavedScan& scan) {
    std::string error;
    if (!saved::LoadSavedScan(file, opts.DiskUsage, opts.CountLinks, scan, error, opts.Browse)) {
        runtime::WriteStdErr(error);
        runtime::Halt(1);
    }
}

void OpenLog() {
    LogFile.Create("logfile.txt", LogBufferSize);
    LogFile.Write("Kelpo32 Log:");
    LogFile.WriteLn();
    LogFile.Write(crt32_pipe::IsRedirected() ? "CRTpipe, HConsoleOutput: "
                                             : "No CRTpipe, HConsoleOutput: ");
    LogFile.WriteInt(static_cast<long long>(crt32_pipe::StdOutHandle()));
    LogFile.WriteLn();
    LogFile.Flush();
}

// The run's output goes to a file of its own that takes the place of
// --output's FILE when the run completed. /H's help and the message of a bad
// /W value (where it is not a mistake found first) still go to standard output.
void UseOutputFile(const Options& opts) {
    bool badWidth = CmdLin::HasSwitch('W') && CmdLin::SwitchValue('W') == 0;
    if (opts.Output.empty() || HelpSwitch() || badWidth) return;
    crt32_pipe::OutputToFile(runtime::OpenOutputFile(opts.Output));
    if (opts.Form->TextOutput) crt32_pipe::UseTextOutput();
    if (runtime::GzipName(opts.Output)) runtime::CompressStdOut();
}

} // namespace

std::uint8_t DrawDepthFor(std::int32_t screenWidth) {
    std::int64_t depth = (static_cast<std::int64_t>(screenWidth) - 20) / 3;
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(depth, 0, 255));
}

std::int32_t PageLinesFor(std::int32_t rows) {
    return rows > 80 ? 50 : rows - 1;
}

void SetStartValues() {
    AllocCount = 0;
    AllocPeak = 0;
    report::StartPage();
    StartDir.clear();
    TreeOnly = false;
}

void SetConsoleProfile() {
    crt32_pipe::Extent window = crt32_pipe::WindowExtent();
    if (LogEnabled) {
        LogFile.Write("Screenwidth ");
        LogFile.WriteInt(window.X);
        LogFile.Write(' ');
        LogFile.WriteInt(window.Y);
        LogFile.WriteLn();
        LogFile.Flush();
    }
    ScreenWidth = window.X;
    DrawDepth = DrawDepthFor(ScreenWidth);
    OutputWidth = ScreenWidth;
    std::string widthLine = "screen_width : " + std::to_string(ScreenWidth);
    runtime::StdOut().Write(widthLine);
    runtime::StdOut().WriteLn();
    report::CountStartLine(static_cast<std::int64_t>(widthLine.size()));
    PageLines = PageLinesFor(window.Y);
    report::UseGlyphs(report::ConsoleGlyphs);
    report::UseByteWidths(false);
}

void SetRedirectedProfile(const OutputForm& form) {
    ScreenWidth = RedirectedWidth;
    DrawDepth = DrawDepthFor(ScreenWidth);
    if (!CmdLin::HasSwitch('W')) OutputWidth = RedirectedWidth;
    PageLines = RedirectedPageLines;
    report::UseGlyphs(report::RedirectedGlyphs);
    // The Windows form measures names in bytes, as the Windows program does.
    report::UseByteWidths(form.ByteWidths);
}

void RunBody() {
    auto& out = runtime::StdOut();
    Options opts = CheckLongOptions();
    const OutputForm& form = *opts.Form;
    saved::SavedScan from;
    saved::SavedScan old;
    if (!opts.From.empty()) LoadOrStop(opts.From, opts, from);
    if (!opts.Compare.empty()) LoadOrStop(opts.Compare, opts, old);
    SetStartValues();
    CheckStartFirst(opts);
    if (opts.Browse) {
        // Nothing is written before the screen: no banner, no widths.
        ParseOptions(opts);
        runtime::NamePatterns exclude(opts.Excludes);
        browse::BrowseSettings settings;
        settings.Walk = WalkSettings(opts, exclude);
        settings.ReadOnly = opts.ReadOnly;
        settings.KindAsked = opts.ApparentSize || opts.DiskUsage;
        const output::RunStart start = opts.From.empty() ? TypedStart() : SavedStart(from.Start);
        if (!opts.History.empty()) BrowseHistory(settings, start, opts);
        browse::RunBrowse(settings, start, opts.From.empty() ? nullptr : &from,
                          opts.Compare.empty() ? nullptr : &old);
        return;
    }
    UseOutputFile(opts);
    // An export is its data alone: no banner, no widths, no colour, no pages.
    bool report = form.Paged;
    constexpr std::string_view Banner = "Kelpo32";
    if (report) WriteLine(Banner);
    bool console = report && !crt32_pipe::IsRedirected();
    if (console) report::CountStartLine(static_cast<std::int64_t>(Banner.size()));
    if (console) crt32_pipe::SetForeground(crt32_pipe::ColourLightGrey);
    if (CmdLin::ArgCount() >= 1) ParseOptions(opts);
    if (LogEnabled) OpenLog();
    if (console)
        SetConsoleProfile();
    else
        SetRedirectedProfile(form);
    // The platform's text names the current directory as its tools do.
    const Conventions& conventions = PlatformConventions();
    report::UseDotForCurrentDir(conventions.DotForCurrentDir && form.PlatformNames);
    const output::RunStart start = opts.From.empty() ? TypedStart() : SavedStart(from.Start);
    // The report names the start directory of the scan it lists.
    StartDir = start.Text;
    report::UnreadSummary unread;
    if (!opts.History.empty())
        // --growth without a directory reads the history alone.
        RunHistory(start, opts, unread, !opts.Growth || CmdLin::PositionalCount() >= 1);
    else
        ScanDir(
            start, opts, unread,
            SavedInput{opts.From.empty() ? nullptr : &from, opts.Compare.empty() ? nullptr : &old});
    if (LogEnabled && !report) {
        LogFile.Close();
    } else if (LogEnabled) {
        out.Write("Alloc:");
        out.WriteInt(AllocCount);
        out.Write("   max: ");
        out.WriteInt(AllocPeak);
        out.WriteLn();
        LogFile.Close();
    }
    unread.Write();
    if (console) {
        crt32_pipe::SetForeground(crt32_pipe::ColourLightGrey);
        out.Write(' ');
    }
    if (crt32_pipe::UnderIDE() && console) {
        WriteLine("Press Enter to close window");
        out.Flush();
        runtime::ReadStdInLine();
    }
    // A stop asked for while the last lines were written still stops the run,
    // before its output takes the file's place.
    if (!opts.Output.empty()) {
        report::StopExportIfAsked();
        runtime::OutputComplete();
    }
    // A report with data missing is not a plain success where the platform
    // says so.
    if (unread.Any() && conventions.UnreadExit != 0) runtime::Halt(conventions.UnreadExit);
}

} // namespace kelpo32
