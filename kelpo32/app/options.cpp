#include "kelpo32/app/options.h"

#include "CmdLin/CmdLin.h"
#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/app/forms.h"
#include "kelpo32/app/long_options.h"
#include "kelpo32/app/run_options.h"
#include "kelpo32/conventions.h"
#include "kelpo32/report/paging.h"
#include "kelpo32/state.h"
#include "runtime/curdir.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/utf8name.h"

#include <algorithm>
#include <string_view>

namespace kelpo32 {

namespace {

constexpr const char* HelpTitle =
    "KELPO V" KELPO32_HELP_VERSION " 2015/09/06  Command Line Parameters:";

constexpr const char* HelpLines[] = {
    "/T    -  Only display Tree.",
    "/132  -  Put screen in 132 column mode.",
    "/Wnnn -  Set output width to nnn columns. (Only when output is redirected)",
    "/H    -  This Help.",
    "/N    -  no wait per page",
    "/L    -  generate log file",
    "/Vnn  -  deepest level to list",
};

void WriteLine(std::string_view text) {
    runtime::StdOut().Write(text);
    runtime::StdOut().WriteLn();
}

// Upper-cases the letters where the file system ignores case.
std::string UpperCasePath(std::string dir) {
    if (runtime::PathsIgnoreCase())
        std::transform(dir.begin(), dir.end(), dir.begin(), [](char c) {
            return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        });
    return dir;
}

// Drops a separator that is the only one and the last character ("C:\" gives
// "C:", "TEMP\" gives "TEMP"). A lone separator stays: it names the root.
std::string TrimSeparator(std::string dir) {
    auto first = dir.find(runtime::PathSeparator());
    if (first != std::string::npos && first + 1 == dir.size() && dir.size() > 1) dir.pop_back();
    return dir;
}

[[noreturn]] void LongOptionMistake(const CmdLin::LongOptionProblem& p) {
    std::string name = "--" + std::string(p.Name);
    switch (p.Fault) {
    case CmdLin::LongOptionFault::Ambiguous: {
        std::string quoted;
        std::string plain;
        for (std::string_view candidate : p.Candidates) {
            quoted.append(" '--").append(candidate).append("'");
            plain.append(" --").append(candidate);
        }
        Mistake(Message::AmbiguousOption, {ShownArg(p.Typed), quoted, plain});
    }
    case CmdLin::LongOptionFault::MissingValue:
        Mistake(Message::MissingValue, {name});
    case CmdLin::LongOptionFault::UnwantedValue:
        Mistake(Message::UnwantedValue, {name});
    case CmdLin::LongOptionFault::Unknown:
    case CmdLin::LongOptionFault::None:
        break;
    }
    Mistake(Message::UnknownOption, {ShownArg(p.Typed)});
}

// Where the platform knows its switch letters, a mistyped one (du's "-a",
// or "-X" for du's "-x") must not report something else.
void CheckSwitchLetters(const Conventions& c) {
    if (c.SwitchLetters.empty()) return;
    CmdLin::ShortOptionProblem inGroup = CmdLin::FirstShortOptionProblem();
    std::int32_t i = CmdLin::FirstSwitchNotIn(c.SwitchLetters);
    if (inGroup.Index != 0 && (i == 0 || inGroup.Index < i))
        UsageError("unknown switch '" +
                   ShownSwitch("-" + CmdLin::ArgText(inGroup.Index).substr(inGroup.Offset)) + "'");
    if (i != 0) UsageError("unknown switch '" + ShownSwitch(CmdLin::ArgText(i)) + "'");
}

// A start directory that cannot be entered: a key typed ahead ends the run
// instead where the platform looks for one first.
[[noreturn]] void CannotEnter(const std::string& typed, const std::string& reason,
                              const OutputForm& form) {
    if (PlatformConventions().CheckFirst)
        crt32_pipe::MessageBeep();
    else
        report::AbortIfKeyPending();
    Tell(Message::CannotEnter, {ShownArg(typed), reason}, form.Paged);
    runtime::Halt(1);
}

// The start directory: the first positional argument, tested by entering it
// and coming back; a later one is named as ignored where the platform says so.
void EnterStartDir(const Options& options) {
    std::string startedIn;
    std::string startedInNative;
    if (int code = runtime::GetCurrentDir(startedIn, startedInNative); code != 0)
        runtime::RaiseIoError(code, "cannot tell the current directory");
    for (std::int32_t n = 2; n <= CmdLin::PositionalCount(); ++n)
        Note(Message::IgnoredArgument, {ShownArg(CmdLin::PositionalParam(n))});
    if (CmdLin::PositionalCount() >= 1) {
        StartDir = UpperCasePath(CmdLin::PositionalParam(1));
        // The directory itself is named by the argument as typed: the text
        // only shows it.
        if (std::string reason;
            runtime::EnterDir(StartDir, CmdLin::PositionalNative(1), reason) != 0)
            CannotEnter(CmdLin::PositionalParam(1), reason, *options.Form);
        if (int code = runtime::ChangeDir(startedIn, startedInNative); code != 0)
            runtime::RaiseIoError(code, "cannot return to '" + ShownArg(startedIn) + "'");
        StartDir = TrimSeparator(StartDir);
    }
}

// The start directory is checked before the output file is made, so that a
// mistyped one leaves the file as it was and is said where the user sees it.
bool StartCheckedFirst(const Options& options) {
    return PlatformConventions().CheckFirst || !options.Output.empty();
}

} // namespace

bool HelpSwitch() {
    return CmdLin::HasSwitch('H') || CmdLin::HasSwitch('?');
}

void WriteHelp() {
    runtime::StdOut().WriteLn();
    WriteLine(HelpTitle);
    for (const char* line : HelpLines)
        WriteLine(line);
}

output::RunStart TypedStart() {
    // StartDir holds the first argument once it was entered.
    if (StartDir.empty()) return output::StartOf({}, {});
    return output::StartOf(StartDir, CmdLin::PositionalNative(1));
}

output::RunStart SavedStart(std::string_view saved) {
    std::string text;
    std::string native;
    if (saved != ".") runtime::NameFromUtf8(saved, text, native);
    return output::StartOf(UpperCasePath(std::move(text)), std::move(native));
}

Options CheckLongOptions() {
    const Conventions& c = PlatformConventions();
    Options parsed;
    parsed.Form = &DefaultForm();
    UseLongOptionTable();
    if (auto problem = CmdLin::FirstLongOptionProblem();
        problem.Fault != CmdLin::LongOptionFault::None)
        LongOptionMistake(problem);
    CheckSwitchLetters(c);
    ReadLongOptions(parsed);
    // A symbolic link may be a file of its own here: say so rather than let
    // the user take the report for one that followed them.
    if (parsed.FollowLinks) Note(Message::LinksNotFollowed, {});
    // A form's switch chooses it too ("/J" is "--format=json" on both builds).
    for (const OutputForm& form : OutputForms())
        if (form.Switch != 0 && CmdLin::HasSwitch(form.Switch)) parsed.Form = &form;
    const Options& saved = parsed;
    if (!saved.From.empty() && CmdLin::PositionalCount() >= 1)
        UsageError("'--from' reads a saved scan: no directory is walked, '" +
                   ShownArg(CmdLin::PositionalParam(1)) + "' is one too many");
    if (saved.From == "-" && saved.Compare == "-")
        UsageError("'--from' and '--compare' cannot both read standard input");
    if ((!saved.From.empty() || !saved.Compare.empty()) && !saved.Form->FromSaved)
        UsageError("'--format=" + std::string(saved.Form->Name) +
                   "' needs every file, which a saved scan does not keep");
    if (!saved.Compare.empty() && !saved.Form->NoComparison.empty())
        UsageError("'--format=" + std::string(saved.Form->Name) +
                   "' has no comparison: " + std::string(saved.Form->NoComparison));
    if (saved.Growth && saved.History.empty())
        UsageError("'--growth' reads the history: it needs '--history=DIR'");
    if (!saved.History.empty() && !saved.From.empty())
        UsageError("'--history' keeps the scans of walks: with '--from' nothing is walked");
    if (saved.Growth && !saved.Compare.empty())
        UsageError("'--growth' compares the scans of the history: it takes no '--compare'");
    if (saved.Growth && !saved.Browse && saved.Form->GrowthRows == nullptr)
        UsageError("'--format=" + std::string(saved.Form->Name) + "' has no growth");
    // The browser is the whole screen: it writes no form into a file or pipe.
    if (saved.Browse && !saved.Output.empty())
        UsageError("'--browse' shows the scan on the screen: it cannot go to '--output'");
    if (saved.Browse && saved.Form != &DefaultForm())
        UsageError("'--browse' shows the scan on the screen: it has no '--format'");
    // Every later line is written in the chosen form.
    if (saved.Form->TextOutput) crt32_pipe::UseTextOutput();
    // A bad width is a mistake on the command line: nothing goes to standard output.
    if (c.CheckFirst && CmdLin::HasSwitch('W') && CmdLin::SwitchValue('W') == 0)
        UsageError("Invalid /W numeric parameter.", false);
    if (CmdLin::HasLongOption("version")) {
        WriteLine("kelpo32 " KELPO32_VERSION);
        runtime::Halt(0);
    }
    if (CmdLin::HasLongOption("help")) {
        WriteUsage();
        runtime::Halt(0);
    }
    return parsed;
}

void CheckStartFirst(const Options& options) {
    // The help of /H wins: the directory is not tested then.
    if (StartCheckedFirst(options) && CmdLin::ArgCount() >= 1 && !HelpSwitch())
        EnterStartDir(options);
}

void Set132Columns() {
    crt32_pipe::SetBufferSize(132, crt32_pipe::BufferExtent().Y);
    ScreenWidth = crt32_pipe::WindowExtent().X;
}

void ParseOptions(Options& options) {
    TreeOnly = CmdLin::HasSwitch('T');
    NoWait = CmdLin::HasSwitch('N');
    LogEnabled = CmdLin::HasSwitch('L');
    bool console = !crt32_pipe::IsRedirected();
    if (CmdLin::HasSwitch('1') && console) {
        Set132Columns();
        OutputWidth = ScreenWidth;
    }
    if (CmdLin::HasSwitch('W')) {
        std::int32_t width = CmdLin::SwitchValue('W');
        if (width == 0) {
            WriteLine("Invalid /W numeric parameter.");
            runtime::Halt(0);
        }
        OutputWidth = width;
        std::int32_t consoleWidth = crt32_pipe::WindowExtent().X;
        if (console && width > consoleWidth) {
            constexpr std::string_view TooWide =
                "Can't exceed screen width unless output is re-directed!";
            WriteLine(TooWide);
            report::CountStartLine(static_cast<std::int64_t>(TooWide.size()));
            OutputWidth = consoleWidth;
        }
    }
    MaxDepth = NoDepthLimit;
    if (CmdLin::HasSwitch('V')) {
        std::int32_t depth = CmdLin::SwitchValue('V');
        // The deepest listable level is the largest one: a value that would
        // need one more means no limit.
        if (depth >= 1 && depth < NoDepthLimit) MaxDepth = depth + 1;
    }
    // --max-depth and -d take the place of /V; 0 lists the start alone.
    if (options.DepthLimit >= 0)
        MaxDepth = options.DepthLimit < NoDepthLimit ? options.DepthLimit + 1 : NoDepthLimit;
    options.Bounded = CmdLin::HasSwitch('V') || LimitedByLongOptions(options);
    // Asked for nothing else, the largest files are the whole report.
    options.LargestFilesAlone = options.LargestFiles > 0 && !options.Totals &&
                                options.Compare.empty() && MaxDepth == NoDepthLimit && !TreeOnly;
    if (HelpSwitch()) {
        WriteHelp();
        runtime::Halt(0);
    }
    if (!StartCheckedFirst(options)) EnterStartDir(options);
}

} // namespace kelpo32
