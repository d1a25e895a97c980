#include "kelpo32/options.h"

#include "CmdLin/CmdLin.h"
#include "crt32_pipe/crt32_pipe.h"
#include "kelpo32/forms.h"
#include "kelpo32/output/sizes.h"
#include "kelpo32/report/paging.h"
#include "kelpo32/run_options.h"
#include "kelpo32/state.h"
#include "runtime/curdir.h"
#include "runtime/dirsearch.h"
#include "runtime/rtl.h"
#include "runtime/sysio.h"
#include "runtime/textsafe.h"
#include "runtime/utf8name.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
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

// An argument as a message shows it: control characters as "?", so that no
// argument can drive the terminal.
std::string Shown(std::string_view text) {
    return runtime::SafeText(text, runtime::StdErrSink());
}

// The form "--format=NAME" chooses, by the table of output forms.
const OutputForm& ChooseForm(std::string_view value) {
    if (const OutputForm* form = FindForm(value)) return *form;
    std::string valid;
    for (const OutputForm& f : OutputForms())
        valid.append(valid.empty() ? "" : ", ").append(f.Name);
    if (!CmdLin::PosixConventions()) {
        WriteLine("Invalid --format value '" + Shown(value) + "'; valid: " + valid + ".");
        runtime::Halt(1);
    }
    runtime::WriteStdErr("kelpo32: invalid argument '" + Shown(value) +
                         "' for '--format'\nValid arguments are: " + valid +
                         "\nTry 'kelpo32 --help' for more information.\n");
    runtime::Halt(2);
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

// The help that "--help" prints on POSIX: the usage, every switch and long
// option, the environment and the exit codes.
constexpr const char* UsageLines[] = {
    "Usage: kelpo32 [SWITCH]... [DIRECTORY]",
    "Print the directory tree below DIRECTORY (default: the current directory):",
    "one line per directory with its file count and bytes, a total per subtree.",
    "",
    "Switches (\"/\" or \"-\" and a letter, in any case):",
    "  /T          only the tree, without counts and sizes",
    "  /N          no pause after each page",
    "  /L          write a trace of the walk to logfile.txt",
    "  /132        widen the report on a terminal to 132 columns",
    "  /Wnnn       fit redirected output to nnn columns (default 200)",
    "  /Vnn        list nn levels below DIRECTORY at most",
    "  /J          JSON Lines, one object per directory (as --format=json)",
    "  /H, /?      the short help of the Windows program",
    "An argument that starts with \"/\" is a switch only in these forms.",
    "",
    "Long options:",
    "  --format=FORM      the output: text (default), windows, json, tsv, ncdu,",
    "                     html (a page with a treemap and a table)",
    "  --disk-usage       count the space files take on disk, each file with",
    "                     several links once",
    "  --apparent-size    count the files' sizes (the default)",
    "  --one-file-system  do not enter directories on other file systems",
    "  --no-progress      no progress line on standard error",
    "  --follow-links     accepted for the Windows build's sake: symbolic links",
    "                     are never followed here (each counts as a file)",
    "  --sort=KEY, --top=N, --min-size=SIZE, --human-readable, --si, --totals,",
    "  --largest-files=N, --exclude=PATTERN, --exclude-from=FILE: see kelpo32(1)",
    "  --from=FILE        read a saved scan (JSON Lines or an ncdu export; \"-\":",
    "                     standard input) instead of walking DIRECTORY",
    "  --compare=OLD      each directory beside the saved scan OLD: its bytes",
    "                     now, their change and its files' change",
    "  --min-change=SIZE  with --compare: only directories changed by SIZE",
    "                     and their parents; --sort=change: largest growth first",
    "  --version          print the version and exit",
    "  --help             print this help and exit",
    "  --                 end of switches: what follows is the directory",
    "",
    "Environment:",
    "  KELPO32_THREADS    how many threads read directories (1 to 64)",
    "  NO_COLOR           when set and not empty: no colours",
    "  TERM               \"dumb\": no colours and no control sequences",
    "  LC_ALL, LC_CTYPE, LANG  the character set of the output",
    "",
    "Exit status: 0 done (also when stopped with Esc or Ctrl+C), 1 a directory",
    "that cannot be entered or an error, 2 a mistake on the command line.",
    "",
    "See kelpo32(1).",
};

// The help that "--help" prints on Windows: the same in the Windows forms.
constexpr const char* WindowsUsageLines[] = {
    "Usage: kelpo32 [switches] [directory]",
    "Prints the directory tree below the directory (default: the current one):",
    "one line per directory with its file count and bytes, a total per subtree.",
    "",
    "Switches (\"/\" or \"-\" and a letter, in any case):",
    "  /T          only the tree, without counts and sizes",
    "  /N          no wait per page",
    "  /L          write a trace of the walk to logfile.txt",
    "  /132        put the console in 132 column mode",
    "  /Wnnn       set the output width to nnn columns (only when redirected)",
    "  /Vnn        list nn levels below the directory at most",
    "  /J          JSON Lines, one object per directory (as --format=json)",
    "  /H, /?      the short help",
    "",
    "Long options:",
    "  --format=FORM      the output: text (default), windows (the same here),",
    "                     json, tsv, ncdu",
    "  --disk-usage       count the space files take on disk (compressed and",
    "                     sparse files by what they take, files whose data is",
    "                     not on the disk as 0), each file with several links once",
    "  --apparent-size    count the files' sizes (the default)",
    "  --one-file-system  do not enter directories on other volumes",
    "  --follow-links     enter junctions, directory symbolic links and mount",
    "                     points (by default listed with 0 files, not entered)",
    "  --no-progress      no progress line",
    "  --version          print the version and exit",
    "  --help             print this help and exit",
    "",
    "Environment:",
    "  KELPO32_THREADS    how many threads read directories (1 to 64)",
    "",
    "Exit code: 0 done (also when stopped with Esc or Ctrl+C), 1 a directory that",
    "cannot be entered, an unknown option or an error.",
};

// The program's long options: the one table the command line is read
// against (name, whether it takes a value). Every option may be given more
// than once; each use is kept in order.
constexpr CmdLin::LongOptionSpec KnownLongOptions[] = {
    {"help", false},
    {"version", false},
    {"one-file-system", false},
    {"format", true},
    {"disk-usage", false},
    {"apparent-size", false},
    {"no-progress", false},
    {"follow-links", false},
    {"totals", false},
    {"sort", true},
    {"min-size", true},
    {"top", true},
    {"human-readable", false},
    {"si", false},
    {"largest-files", true},
    {"exclude", true},
    {"exclude-from", true},
    {"from", true},
    {"compare", true},
    {"min-change", true},
};

// The switch letters the program knows (lower case); "1" stands for "/132".
constexpr std::string_view KnownSwitchLetters = "tnl1wvh?j";

// A mistake on the command line. On POSIX: what is wrong on standard error,
// exit code 2; on Windows: its own words on standard output, exit code 1.
[[noreturn]] void UsageError(std::string_view text, bool tryHelp,
                             std::string_view windowsText = {}) {
    if (!CmdLin::PosixConventions() && !windowsText.empty()) {
        WriteLine(windowsText);
        runtime::Halt(1);
    }
    std::string message = "kelpo32: " + std::string(text) + "\n";
    if (tryHelp) message += "Try 'kelpo32 --help' for more information.\n";
    runtime::WriteStdErr(message);
    runtime::Halt(2);
}

// A switch as typed up to its letter, the whole of a letter of several bytes.
std::string SwitchShown(std::string_view arg) {
    std::size_t end = 2;
    while (end < arg.size() && (static_cast<unsigned char>(arg[end]) & 0xC0) == 0x80)
        ++end;
    return Shown(arg.substr(0, end));
}

[[noreturn]] void LongOptionMistake(const CmdLin::LongOptionProblem& p) {
    std::string name = "--" + std::string(p.Name);
    switch (p.Fault) {
    case CmdLin::LongOptionFault::Ambiguous: {
        std::string posix = "option '" + Shown(p.Typed) + "' is ambiguous; possibilities:";
        std::string windows = "Ambiguous option " + Shown(p.Typed) + ":";
        for (std::string_view candidate : p.Candidates) {
            posix.append(" '--").append(candidate).append("'");
            windows.append(" --").append(candidate);
        }
        UsageError(posix, true, windows + ".");
    }
    case CmdLin::LongOptionFault::MissingValue:
        UsageError("option '" + name + "' requires an argument", true,
                   "Option " + name + " needs a value.");
    case CmdLin::LongOptionFault::UnwantedValue:
        UsageError("option '" + name + "' doesn't allow an argument", true,
                   "Option " + name + " takes no value.");
    case CmdLin::LongOptionFault::Unknown:
    case CmdLin::LongOptionFault::None:
        break;
    }
    UsageError("unknown option '" + Shown(p.Typed) + "'", true,
               "Unknown option " + Shown(p.Typed) + ".");
}

// A value an option cannot take: on POSIX what is wrong and the valid forms
// on standard error, exit code 2; on Windows the same on standard output,
// exit code 1.
[[noreturn]] void BadValue(std::string_view option, std::string_view value,
                           std::string_view valid) {
    std::string what =
        "invalid argument '" + Shown(value) + "' for '--" + std::string(option) + "'";
    if (!CmdLin::PosixConventions()) {
        WriteLine("Invalid --" + std::string(option) + " parameter '" + Shown(value) + "'. " +
                  std::string(valid) + ".");
        runtime::Halt(1);
    }
    UsageError(what + "\n" + std::string(valid), true);
}

constexpr std::string_view SizeForms =
    "Valid arguments are: a number with an optional K, M, G, T, P (powers of 1024) or KB, MB, "
    "GB, TB, PB (powers of 1000)";
constexpr std::string_view CountForms = "Valid arguments are: a whole number from 1 to 2147483647";

struct SortName {
    std::string_view Name;
    SortKey Value;
};
constexpr SortName SortNames[] = {{"change", SortKey::Change},
                                  {"size", SortKey::Size},
                                  {"files", SortKey::Files},
                                  {"name", SortKey::Name},
                                  {"none", SortKey::None}};

std::int32_t CountValue(std::string_view option, std::string_view value) {
    std::int32_t n = 0;
    auto res = std::from_chars(value.data(), value.data() + value.size(), n);
    if (res.ec != std::errc() || res.ptr != value.data() + value.size() || n < 1)
        BadValue(option, value, CountForms);
    return n;
}

// Reads one pattern a line; a CR before the line end and empty lines go.
void ReadPatterns(std::string_view file, std::vector<std::string>& patterns) {
    std::string name(file);
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) {
        std::string reason = std::strerror(errno);
        if (!CmdLin::PosixConventions()) {
            WriteLine("Cannot read --exclude-from file '" + name + "': " + reason + ".");
            runtime::Halt(1);
        }
        UsageError("cannot read '" + name + "' for '--exclude-from': " + reason, true);
    }
    std::string line;
    auto take = [&] {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) patterns.push_back(line);
        line.clear();
    };
    for (int c; (c = std::fgetc(f)) != EOF;) {
        if (c == '\n')
            take();
        else
            line += static_cast<char>(c);
    }
    take();
    std::fclose(f);
}

// The options of the layout of totals, of the largest files and of the
// exclusions, in the order given (a later --sort wins).
void ReadTotalsOption(std::string_view name, std::string_view value, Options& o) {
    if (name == "totals") {
        o.Totals = true;
    } else if (name == "sort") {
        auto it = std::find_if(std::begin(SortNames), std::end(SortNames),
                               [&](const SortName& s) { return s.Name == value; });
        if (it == std::end(SortNames))
            BadValue(name, value, "Valid arguments are: change, size, files, name, none");
        o.Sort = it->Value;
        o.Totals = true;
    } else if (name == "min-size") {
        if (!output::ParseSize(value, o.MinSize)) BadValue(name, value, SizeForms);
        o.Totals = true;
    } else if (name == "top") {
        o.Top = CountValue(name, value);
        o.Totals = true;
    } else if (name == "human-readable") {
        o.Units = SizeUnits::Binary;
        o.Totals = true;
    } else if (name == "si") {
        o.Units = SizeUnits::Si;
        o.Totals = true;
    } else if (name == "from" || name == "compare") {
        if (value.empty())
            BadValue(name, value, "Valid arguments are: a file, or - (standard input)");
        (name == "from" ? o.From : o.Compare) = value;
    } else if (name == "min-change") {
        if (!output::ParseSize(value, o.MinChange)) BadValue(name, value, SizeForms);
    } else if (name == "largest-files") {
        o.LargestFiles = CountValue(name, value);
    } else if (name == "exclude") {
        o.Excludes.emplace_back(value);
    } else if (name == "exclude-from") {
        ReadPatterns(value, o.Excludes);
    }
}

// A start directory that cannot be entered: the Windows program's words on
// standard output, or on POSIX the directory and the system's reason on
// standard error.
[[noreturn]] void CannotEnter(const std::string& typed, const std::string& reason,
                              const OutputForm& form) {
    report::AbortIfKeyPending();
    if (CmdLin::PosixConventions())
        runtime::WriteStdErr("kelpo32: cannot enter '" + Shown(typed) + "': " + reason + "\n");
    else if (!form.Report)
        runtime::WriteStdErr("No such directory -- please try again.\r\n"); // not into the export
    else
        WriteLine("No such directory -- please try again.");
    runtime::Halt(1);
}

} // namespace

void WriteHelp() {
    runtime::StdOut().WriteLn();
    WriteLine(HelpTitle);
    for (const char* line : HelpLines)
        WriteLine(line);
}

void WriteUsage() {
    if (CmdLin::PosixConventions())
        for (const char* line : UsageLines)
            WriteLine(line);
    else
        for (const char* line : WindowsUsageLines)
            WriteLine(line);
}

void SetSavedStart(std::string_view start) {
    StartDir.clear();
    StartNative.clear();
    if (start == ".") return;
    runtime::NameFromUtf8(start, StartDir, StartNative);
    StartDir = UpperCasePath(StartDir);
}

Options CheckLongOptions() {
    Options parsed;
    parsed.Form = &DefaultForm();
    CmdLin::UseLongOptions(KnownLongOptions);
    if (auto problem = CmdLin::FirstLongOptionProblem();
        problem.Fault != CmdLin::LongOptionFault::None)
        LongOptionMistake(problem);
    // The Windows program passes over letters it does not know; on POSIX a
    // mistyped switch (du's "-x", "-d 1") must not report something else.
    if (CmdLin::PosixConventions())
        if (std::int32_t i = CmdLin::FirstSwitchNotIn(KnownSwitchLetters); i != 0)
            UsageError("unknown switch '" + SwitchShown(CmdLin::ArgText(i)) + "'", true);
    for (const CmdLin::LongOptionUse& use : CmdLin::LongOptionUses()) {
        if (use.Name == "follow-links") {
            parsed.FollowLinks = true;
            // A symbolic link is a file of its own here: say so rather than
            // let the user take the report for one that followed them.
            if (CmdLin::PosixConventions())
                runtime::WriteStdErr("kelpo32: --follow-links has no effect here: symbolic "
                                     "links are never followed\n");
        }
        ReadTotalsOption(use.Name, use.Value, parsed);
        if (use.Name == "no-progress") parsed.NoProgress = true;
        // The last of --disk-usage and --apparent-size counts.
        if (use.Name == "disk-usage") parsed.DiskUsage = true;
        if (use.Name == "apparent-size") parsed.DiskUsage = false;
        if (use.Name == "format") parsed.Form = &ChooseForm(use.Value);
    }
    // A form's switch chooses it too ("/J" is "--format=json" on both builds).
    for (const OutputForm& form : OutputForms())
        if (form.Switch != 0 && CmdLin::HasSwitch(form.Switch)) parsed.Form = &form;
    const Options& saved = parsed;
    if (!saved.From.empty() && CmdLin::PositionalCount() >= 1)
        UsageError("'--from' reads a saved scan: no directory is walked, '" +
                       Shown(CmdLin::PositionalParam(1)) + "' is one too many",
                   true);
    if (saved.From == "-" && saved.Compare == "-")
        UsageError("'--from' and '--compare' cannot both read standard input", true);
    if ((!saved.From.empty() || !saved.Compare.empty()) && !saved.Form->FromSaved)
        UsageError("'--format=" + std::string(saved.Form->Name) +
                       "' needs every file, which a saved scan does not keep",
                   true);
    // Every later line is written in the chosen form.
    if (saved.Form->Bytes != FormBytes::Console) crt32_pipe::UseTextOutput();
    // A bad width is a mistake on the command line: nothing goes to standard output.
    if (CmdLin::PosixConventions() && CmdLin::HasSwitch('W') && CmdLin::SwitchValue('W') == 0)
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

void Set132Columns() {
    crt32_pipe::SetBufferSize(132, crt32_pipe::BufferExtent().Y);
    ScreenWidth = crt32_pipe::WindowExtent().X;
}

void ParseOptions(Options& options) {
    TreeOnly = CmdLin::HasSwitch('T');
    NoWait = CmdLin::HasSwitch('N');
    LogEnabled = CmdLin::HasSwitch('L');
    options.OneFileSystem = CmdLin::HasLongOption("one-file-system");
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
    if (CmdLin::HasSwitch('H') || CmdLin::HasSwitch('?')) {
        WriteHelp();
        runtime::Halt(0);
    }
    std::string startedIn;
    std::string startedInNative;
    if (int code = runtime::GetCurrentDir(startedIn, startedInNative); code != 0)
        runtime::RaiseIoError(code, "cannot tell the current directory");
    if (CmdLin::PosixConventions())
        for (std::int32_t n = 2; n <= CmdLin::PositionalCount(); ++n)
            runtime::WriteStdErr("kelpo32: only one directory is reported; '" +
                                 Shown(CmdLin::PositionalParam(n)) + "' is ignored\n");
    if (CmdLin::PositionalCount() >= 1) {
        StartDir = UpperCasePath(CmdLin::PositionalParam(1));
        // The directory itself is named by the argument as typed: the text
        // only shows it.
        StartNative = CmdLin::PositionalNative(1);
        if (std::string reason; runtime::EnterDir(StartDir, StartNative, reason) != 0)
            CannotEnter(CmdLin::PositionalParam(1), reason, *options.Form);
        if (int code = runtime::ChangeDir(startedIn, startedInNative); code != 0)
            runtime::RaiseIoError(code, "cannot return to '" + Shown(startedIn) + "'");
        StartDir = TrimSeparator(StartDir);
    }
}

} // namespace kelpo32
